#pragma once
// The fixture of every test that runs the program's windows: a temporary
// directory in place of the executable's, a clock the test sets, message
// boxes, file and font dialogs answered from a script, a scripted serial line, and
// the program-wide records put back to the state of a fresh start.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <vector>

#include "app/platform_seams.h"
#include "support/analyzer_replies.h"
#include "support/fake_serial.h"

class TForm1;

struct RecordedMessage {
  seams::MsgIcon icon;
  QString title;
  QString text;
  bool timer1Enabled = false;  // the poll timer's state while the box was open
};

class KorvexFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Path of a file in the program's directory.
  QString InDir(const QString& name) const;
  // Writes valid default settings files, so that start-up shows no box.
  void WriteDefaultSettings(const QString& portName = QStringLiteral("COM2"));
  // Creates the five windows as the program's entry does (runs FormCreate).
  TForm1* StartProgram();
  // Default settings files, then the program; start-up shows no box.
  void StartWithDefaults();

  // Clock.
  void SetNow(const QDateTime& now) { now_ = now; }
  void Advance(int seconds) { now_ = now_.addSecs(seconds); }
  QDateTime Now() const { return now_; }

  // Bytes that arrive from the analyzer before the next tick.
  void Arrive(const Frame& bytes);
  // One tick of the poll cycle.
  void Tick();
  // Arrive, then tick.
  void TickWith(const Frame& reply);

  // Messages shown since the last call (or since SetUp).
  std::vector<RecordedMessage> TakeMessages();

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
};
