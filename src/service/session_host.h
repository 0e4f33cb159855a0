#pragma once
// The one start-up path of the program, for the window and the service
// alike: the settings read (what is wrong with them told as notices), then
// the measuring session started with them, in a thread of its own or in the
// caller's. Afterwards the host is the front's way to the session: the
// operator's commands and changed settings go to it as queued calls
// carrying values, and the session's signals (connect to session()) come
// back queued. Reads for the window that may take long — a range of days'
// history, an emission report — go to a ResultReader of their own.
//
//   SessionHost host({SessionHost::Threading::OwnThread});
//   connect(host.session(), &Session::resultRecorded, ...);
//   host.start();
//   host.requestMode(ModeRequest::Continuous);
//   ...
//   host.stop();   // the analyzer stopped, publishing off, the database closed
//
// The audit trail is kept by an AuditKeeper in a thread of its own, fed with
// the session's events and the settings written; the accounts (who is
// logged in, who may do what) are the caller's, and their entries go to the
// keeper in order.

#include <QDate>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "acquisition/poll_cycle.h"
#include "emissions/emission_report.h"
#include "service/audit_keeper.h"
#include "service/notice_board.h"
#include "service/result_reader.h"
#include "service/session.h"
#include "service/settings.h"
#include "storage/access_control.h"

class QThread;

class SessionHost : public QObject {
  Q_OBJECT
 public:
  enum class Threading {
    OwnThread,     // the session in a thread of its own: the window program
    CallerThread,  // in the caller's thread: the service, and tests that drive it tick by tick
  };
  struct Options {
    Threading threading = Threading::OwnThread;
    QString port;                       // for this run instead of the settings' port
    ModeRequest mode = ModeRequest::None;
    bool modeGiven = false;             // else: none for the window, the service settings' for the service
    bool modeFromServiceSettings = false;
    int pollIntervalMs = 1000;
    QString runAs = QStringLiteral(u"окно");  // the start's audit entry: "окно" or "служба"
    // The audit trail's keeper and the daily logs' writer: in threads of
    // their own, so that their commits, seals and files never delay a poll;
    // tests keep them in theirs.
    Threading helperThreading = Threading::OwnThread;
  };

  explicit SessionHost(Options options, QObject* parent = nullptr);
  // Stops the session (if not yet) and ends its thread.
  ~SessionHost() override;

  // Reads the settings, tells what is wrong with them, and starts the
  // session with them. The session's start (the database's check, the port)
  // runs in the session's thread: the caller does not wait for it.
  void start();
  // Publishing stopped, the stop command to the analyzer, the database
  // finished; waits for the session to have done it. Idempotent.
  void stop();

  Settings& settings() { return settings_; }
  // Who is at the program; its entries go to the audit trail.
  AccessControl& access() { return access_; }
  // The audit trail's keeper, to connect to. It lives in its own thread:
  // call it only through postAudit(). A further analyzer's (index 1..) keeps
  // the seals of its own database's days, in a chain in that database.
  AuditKeeper* audit(int analyzer = 0) const {
    return analyzer == 0 ? audit_ : analyzer <= int(analyzerAudits_.size()) ? analyzerAudits_[analyzer - 1] : nullptr;
  }
  // Runs `call` in the keeper's thread, after everything posted before.
  void postAudit(std::function<void(AuditKeeper&)> call);
  // Waits until the session and then the keeper have done everything
  // queued to them so far (what the session recorded has reached the trail).
  void flushAudit();
  // The results database the session opened (empty: none).
  QString databasePath() const { return databasePath_; }
  NoticeBoard& notices() { return notices_; }
  // Reads the history for the window, and the reports: a reader each, so
  // that one does not cancel the other.
  ResultReader& historyReader() { return *historyReader_; }
  ResultReader& reportReader() { return *reportReader_; }
  // The session, to connect to. It lives in its own thread with OwnThread:
  // call it only through the host's commands.
  Session* session() const { return session_; }
  const PollWatch& pollWatch() const { return session_->pollWatch(); }
  const Options& options() const { return options_; }
  bool isStarted() const { return started_; }

  // The analyzers of the line (1 until start() found further ones); the
  // commands below take an analyzer's index (0: the first, the program's own).
  int analyzerCount() const { return analyzerCount_; }

  // ---- the operator's commands, queued to the session
  void requestMode(ModeRequest mode, int analyzer = 0);
  void acknowledgeAlarms(int analyzer = 0);
  // The switches, logged with whoever is logged in.
  void setMaintenance(bool on, int analyzer = 0);
  // Substitute values for a past span of an analyzer, entered by the user logged in.
  void enterSubstitutes(const emissions::SubstituteEntry& entry, int analyzer = 0);
  void setTestGas(bool on, int analyzer = 0);
  void setPlantOperating(bool operating, int analyzer = 0);
  void resetStatistics(int analyzer = 0);
  void restartLogDay();
  void reopenPort();

  // The analyzer's day's results again (resultsRestored), for a window
  // switched to it.
  void showToday(int analyzer);
  // Whose averages the reports' stored averages are (an analyzer's index).
  void setReportAnalyzer(int analyzer) { reportAnalyzer_ = analyzer; }

  // ---- reads in the reader's thread
  // The emission report of the local days from..to with the settings in
  // force; reportReady when done (its averages of what is over are then
  // stored by the session). A report asked for meanwhile replaces it.
  void computeReport(const QDate& from, const QDate& to);

 signals:
  // In start(), before the sessions start: the further analyzers of the line
  // are made (session()->analyzer(1..)), to connect to.
  void analyzersAdded();
  void reportReady(const emissions::EmissionReport& report);
  void reportFailed(const QString& why);

 private:
  // Runs `call` in the session's thread.
  void post(std::function<void(Session&)> call);
  // The same with the analyzer of that index.
  void postTo(int analyzer, std::function<void(Session&)> call);
  void addAnalyzers(const QVector<LineAnalyzer>& others);
  void tellStartUp(NoticeTopic topic, NoticeLevel level, const QString& title, const QString& text, bool beep);

  // Feeds the keeper of `s`'s database; `whose` heads its notices.
  void connectKeeper(Session* s, AuditKeeper* k, const QString& whose);
  // The keeper hears of `s`'s results: once a round with several analyzers.
  void connectKeeperResults(Session* s, AuditKeeper* k);

  Options options_;
  Settings settings_;
  NoticeBoard notices_;
  AccessControl access_;
  std::unique_ptr<QThread> thread_;
  std::unique_ptr<QThread> auditThread_;
  AuditKeeper* audit_ = nullptr;  // lives in auditThread_
  std::vector<AuditKeeper*> analyzerAudits_;  // the further analyzers', in auditThread_ too
  QString movedTo_;               // the damaged database was moved there at opening
  QString databasePath_;
  Session* session_ = nullptr;
  std::unique_ptr<ResultReader> historyReader_;
  std::unique_ptr<ResultReader> reportReader_;
  qint64 reportCutoffUtcMs_ = 0;
  emissions::AlarmLimits reportLimits_;
  QVector<Notice> startUpNotices_;  // told before the session had its event log
  int analyzerCount_ = 1;
  int reportAnalyzer_ = 0;
  bool started_ = false;
  bool stopped_ = false;
};
