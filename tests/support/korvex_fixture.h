#pragma once
// The fixture of every test that runs the program: a temporary directory in
// place of the executable's, a clock the test sets, message boxes, file and
// font dialogs answered from a script, no system printers, a scripted serial
// line, the records put back to the state of a fresh start, and the program's
// session and main window as the entry creates them.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/poll_cycle.h"
#include "app/main_window.h"
#include "app/session.h"
#include "data/results_log.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "platform/timer.h"
#include "storage/settings_records.h"
#include "support/analyzer_replies.h"
#include "support/fake_serial.h"
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

class KorvexFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Path of a file in the program's directory.
  QString inDir(const QString& name) const;
  // Writes valid default settings files, so that start-up shows no box.
  void writeDefaultSettings(const QString& portName = QStringLiteral("COM2"));
  // Creates the session and the main window as the program's entry does.
  MainWindow* startProgram();
  // Default settings files, then the program; start-up shows no box.
  void startWithDefaults();
  // Closes the program as exit does after the close query.
  void stopProgram();

  Session& session() const { return *session_; }
  // The results database's events of one kind, oldest first.
  QVector<StoredEvent> events(EventKind kind) const;
  // The emissions alarm lamp as it is lit (an emissions::Lamp value).
  int lamp() const;
  MainWindow& window() const { return *window_; }
  PollCycle& poll() const { return session_->pollCycle(); }
  ResultsLog& results() const { return session_->results(); }
  Timer* pollTimer() const { return session_->pollTimer(); }
  // A control of the main window (or of `in`) by its name.
  template <class T = QWidget>
  T* find(const char* name, const QObject* in = nullptr) const {
    T* found = (in ? in : static_cast<const QObject*>(window_.get()))->findChild<T*>(QLatin1String(name));
    if (!found) ADD_FAILURE() << "no control " << name;
    return found;
  }
  TrendChart* chart() const { return find<TrendChart>("Chart1"); }

  // The results table as the grid it is drawn as: row 0 the headings, rows
  // 1.. the results (one empty row when there are none).
  QString cell(int column, int gridRow) const;
  int gridRows() const;

  // Clock.
  void setNow(const QDateTime& now) { now_ = now; }
  void advance(int seconds) { now_ = now_.addSecs(seconds); }
  QDateTime now() const { return now_; }

  // Bytes that arrive from the analyzer before the next tick.
  void arrive(const Frame& bytes);
  // One tick of the poll cycle.
  void tick();
  // Arrive, then tick.
  void tickWith(const Frame& reply);
  // A result taken at the fixture's clock (plus `seconds`), handed over as
  // the poll cycle hands it: committed to the database, then shown.
  void addResult(const Measurement& m, int seconds = 0);

  // Messages shown since the last call (or since SetUp).
  std::vector<RecordedMessage> takeMessages();

  QTemporaryDir dir_;
  QString exePath_;
  QDateTime now_;
  std::vector<RecordedMessage> messages_;
  std::deque<seams::MsgResult> answers_;  // when empty: OK, and Yes to a question
  int beeps_ = 0;
  std::function<QString(const seams::FileDialogRequest&)> fileDialog_;  // empty: cancel
  std::vector<seams::FileDialogRequest> fileDialogs_;
  // Answers the font dialog; empty: cancel.
  std::function<std::optional<QFont>(const seams::FontDialogRequest&)> fontDialog_;
  std::vector<seams::FontDialogRequest> fontDialogs_;
  std::function<int(QDialog*)> modal_;  // empty: rejected at once
  FakeSerialLine serial_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<MainWindow> window_;
};
