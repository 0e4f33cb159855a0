#pragma once
// The audit trail of one run, without widgets: it opens the trail beside the
// session's results database, checks its newest entries, records the start
// and the stop, a database moved aside, settings files changed outside the
// program or written by it, alarm acknowledgements, daily logs written and
// the accounts' logins; it seals every day before today (at start and a few
// minutes after each midnight) and seals again a day the program itself
// adds to. The window and the service call it at their start-up and stop;
// what would need a box is reported by a signal.
//
//   session.openDatabase();
//   keeper.open(QStringLiteral(u"окно"));     // before the session writes anything
//   session.openPort(); session.start();
//   keeper.sealDays();

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>

#include "data/audit_trail.h"
#include "data/result_store.h"
#include "data/trail_check.h"
#include "storage/access_control.h"
#include "storage/settings_watch.h"

class Session;
class Timer;

class AuditKeeper : public QObject {
  Q_OBJECT
 public:
  explicit AuditKeeper(Session& session, QObject* parent = nullptr);
  ~AuditKeeper() override;

  AuditTrail& trail() { return trail_; }
  const AuditTrail& trail() const { return trail_; }
  AccessControl& access() { return access_; }
  const SettingsWatch& watch() const { return watch_; }

  // After the session opened its database: the trail opened (read-only for
  // a second instance), its newest entries checked, the start recorded,
  // the settings files compared with what the trail knew of them.
  // `how`: "окно" or "служба", for the start's entry.
  void open(const QString& how);
  // Seals the days before today that have no seal. Done by open()'s
  // caller after the session's start (which stores the averages of days it
  // missed) and by the keeper's timer after midnight.
  void sealDays();
  // The program stored averages of these days again: their seals follow.
  void resealDays(const QDate& from, const QDate& to, const QString& reason);
  // The program wrote settings files: each setting changed is recorded.
  void settingsWritten(const QStringList& paths);
  // Records the stop (once) and closes the trail.
  void stop();

  // What the check at start found; Whole when the trail is not in use.
  const TrailCheck& startCheck() const { return startCheck_; }
  // A line for a report's footer: the trail and the seals of the days
  // from..to checked now.
  QString trailStatement(const QDate& from, const QDate& to);
  // Once a minute: the seal after midnight.
  Timer* sealTimer() const { return sealTimer_; }

  // The box's (or the service's line's) text for a broken trail.
  static QString brokenText(const QString& line);

 signals:
  // The check at start found the trail broken: `text` for a box or a line.
  void trailBroken(const QString& text);
  // The trail could not be opened or written.
  void problem(const QString& text);

 private:
  void onEvent(EventKind kind, const QString& text);
  void onResult(qint64 seq, const Result& result);
  void onSealTick();
  void resealLateDays();
  QVector<WatchedFile> watchedFiles() const;

  Session& session_;
  AuditTrail trail_;
  AccessControl access_;
  SettingsWatch watch_;
  TrailCheck startCheck_;
  QString movedTo_;  // the database was damaged and moved here at opening
  QSet<QDate> sealed_;
  QSet<QDate> lateDays_;  // sealed days that got a result since
  QDate sealPassDay_;  // the local date of the last pass that sealed what was before it
  bool stopped_ = false;
  bool writeFailureTold_ = false;
  Timer* sealTimer_;
};
