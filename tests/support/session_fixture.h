#pragma once
// The fixture of every test that runs the measuring session without a
// window: a temporary directory in place of the executable's, a clock the
// test sets, a scripted serial line, and the session started through its
// host in the test's own thread, so that each tick is the test's. The
// notices the session gives are recorded, and the results it reports kept
// in a table as the window keeps it (restored at start, appended, cleared at
// a new day).

#include <gtest/gtest.h>

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/poll_cycle.h"
#include "core/notice.h"
#include "data/result_store.h"
#include "data/results_log.h"
#include "platform/seams.h"
#include "platform/timer.h"
#include "service/session_host.h"
#include "support/analyzer_replies.h"
#include "support/fake_serial.h"

class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Path of a file in the program's directory.
  QString inDir(const QString& name) const;
  // Writes valid default settings files, so that start-up gives no notice.
  void writeDefaultSettings(const QString& portName = QStringLiteral("COM2"));
  // The host with `hostOptions_` (the session and the audit keeper in this
  // thread), the session started.
  void startSession();
  // Default settings files, then the session; no notice.
  void startSessionWithDefaults();
  // Ends the program: the window (if any), then the session.
  virtual void stopProgram();

  SessionHost& host() const { return *host_; }
  Settings& settings() const { return host_->settings(); }
  // The settings records as the program last read or wrote them.
  const ProgramSettings& programRecord() const { return host_->settings().files().programRecord(); }
  const DeviceRecord& deviceRecord() const { return host_->settings().files().deviceRecord(); }
  Session& session() const { return *host_->session(); }
  PollCycle& poll() const { return session().pollCycle(); }
  Timer* pollTimer() const { return session().pollTimer(); }
  // Settings changed as their dialogs change them: the settings written and
  // the session (or the window) told.
  void changeMeasuring(const std::function<void(MeasuringSettings&)>& change);
  void changeView(const std::function<void(ViewSettings&)>& change);
  void changePrint(const std::function<void(PrintSettings&)>& change);
  // The results database's events of one kind, oldest first.
  QVector<StoredEvent> events(EventKind kind) const;
  // Notices given since the last call (or since SetUp).
  std::vector<Notice> takeNotices();
  // The emissions alarm lamp (an emissions::Lamp value).
  virtual int lamp() const;

  // The results as the table shows them.
  virtual const ResultsLog& results() const { return table_; }
  // The table as the grid it is drawn as: row 0 the headings, rows 1.. the
  // results (one empty row when there are none).
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
  // the poll cycle hands it: committed to the database, then reported.
  void addResult(const Measurement& m, int seconds = 0);

  QTemporaryDir dir_;
  QString exePath_;
  QDateTime now_;
  FakeSerialLine serial_;
  SessionHost::Options hostOptions_;  // threading: this thread
  std::unique_ptr<SessionHost> host_;
  std::vector<Notice> notices_;
  ResultsLog table_;

  // The notices, and the table unless the window keeps it, follow the
  // session from its start.
  void follow(bool table = true);
};
