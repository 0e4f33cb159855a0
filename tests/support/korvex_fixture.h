#pragma once
// The fixture of every test that runs the program with its window: the
// session's fixture (temporary directory, clock, scripted serial line, the
// session in the test's thread), and besides it message boxes, file and font
// dialogs answered from a script, no system printers, and the main window as
// the entry creates it.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "platform/seams.h"
#include "support/session_fixture.h"
#include "ui/widget_seams.h"
#include "view/trend_chart.h"

class QPrinter;

// A printer as Qt makes one on a machine without printers: PDF output without
// a file. The fixture's printer seam hands these to the program, and reports
// no printer installed, whatever the machine has.
std::unique_ptr<QPrinter> printerWithoutSystemPrinters();
// Puts `printer` back into that state (an empty file name alone would switch
// it to the system's default printer where there is one).
void setNoPrinter(QPrinter& printer);

struct RecordedMessage {
  seams::MsgIcon icon;
  QString title;
  QString text;
  bool pollTimerOn = false;  // the poll timer's state while the box was open
};

class KorvexFixture : public SessionFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the session's host and the main window as the program's entry does.
  MainWindow* startProgram();
  // Default settings files, then the program; start-up shows nothing.
  void startWithDefaults();
  // Closes the program as exit does after the close query.
  void stopProgram() override;

  int lamp() const override;
  MainWindow& window() const { return *window_; }
  const ResultsLog& results() const override { return window_->results(); }
  ResultsLog& results() { return window_->results(); }
  // A control of the main window (or of `in`) by its name.
  template <class T = QWidget>
  T* find(const char* name, const QObject* in = nullptr) const {
    T* found = (in ? in : static_cast<const QObject*>(window_.get()))->findChild<T*>(QLatin1String(name));
    if (!found) ADD_FAILURE() << "no control " << name;
    return found;
  }
  TrendChart* chart() const { return find<TrendChart>("Chart1"); }

  // Messages shown since the last call (or since SetUp).
  std::vector<RecordedMessage> takeMessages();

  // Accounts made before the program starts: an administrator "admin"
  // ("Admin-pass-1"), an operator "Петров" ("Operator-pass-2") and, when
  // asked, an engineer "Иванов" ("Engineer-pass-3").
  void writeAccounts(bool withEngineer = false);
  // The history dialog answered with the range from..to, and the history
  // read in the background until it is shown.
  void showHistory(const QDate& from, const QDate& to);

  std::vector<RecordedMessage> messages_;
  std::deque<seams::MsgResult> answers_;  // when empty: OK, and Yes to a question
  int beeps_ = 0;
  std::function<QString(const seams::FileDialogRequest&)> fileDialog_;  // empty: cancel
  std::vector<seams::FileDialogRequest> fileDialogs_;
  // Answers the font dialog; empty: cancel.
  std::function<std::optional<QFont>(const seams::FontDialogRequest&)> fontDialog_;
  std::vector<seams::FontDialogRequest> fontDialogs_;
  std::function<int(QDialog*)> modal_;  // empty: rejected at once
  std::unique_ptr<MainWindow> window_;
};
