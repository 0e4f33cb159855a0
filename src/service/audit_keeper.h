#pragma once
// The audit trail of one run, without widgets. It lives in a thread of its
// own (SessionHost moves it there), with a connection of its own to the
// results database and one more that reads the results for the seals: an
// entry's commit, the seal of a day after midnight and the seals of a year
// of days at the first start take no time of a poll's.
//
// It opens the trail once the session has opened the database, checks its
// newest entries before it records anything, records the start and the
// stop, a database moved aside, settings files changed outside the program
// or written by it, alarm acknowledgements, daily logs written and what the
// accounts (AccessControl, in the window's thread) send it; it seals every
// day before today (after the session's start and a few minutes after each
// midnight) and seals again a day the program itself adds to. What would
// need a box is reported by a signal.

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include "core/result.h"
#include "data/audit_trail.h"
#include "data/result_store.h"
#include "data/trail_check.h"
#include "storage/settings_watch.h"

class Timer;

class AuditKeeper : public QObject {
  Q_OBJECT
 public:
  explicit AuditKeeper(QObject* parent = nullptr);
  ~AuditKeeper() override;

  // ---- in the keeper's thread
  AuditTrail& trail() { return trail_; }
  const AuditTrail& trail() const { return trail_; }
  const SettingsWatch& watch() const { return watch_; }

  // The settings files whose changes are recorded (before open()).
  void setWatchedFiles(const QVector<WatchedFile>& files) { watched_ = files; }
  // The session moved the damaged database to `movedTo` (before it opened
  // the new one).
  void noteMovedAside(const QString& movedTo) { movedTo_ = movedTo; }
  // The session opened its database at `dbPath`. The trail opened (read-only for a second instance),
  // its newest entries checked, the start recorded, the settings files
  // compared with what the trail knew of them. `how`: "окно" or "служба".
  void open(const QString& dbPath, bool writable, const QString& how);
  // Seals the days before today that have no seal: after the session's start
  // (which stores the averages of days it missed) and after midnight.
  void sealDays();
  // The program stored averages of these days again: their seals follow.
  void resealDays(const QDate& from, const QDate& to, const QString& reason);
  // The program wrote settings files: each setting changed is recorded.
  void settingsWritten(const QStringList& paths);
  // The accounts file was written by the program: not a change from outside.
  void accountsWritten(const QString& path);
  void onEvent(EventKind kind, const QString& text);
  // Substitute values were entered (Session::substitutesEntered): the entry
  // with the span, the values and the reason, then the seals of the days
  // their results joined.
  void recordSubstitutes(const QString& span, const QString& values, const QString& reason, const QString& who,
                         int count, const QDate& from, const QDate& to);
  void onResult(qint64 seq, const Result& result);
  // Records the stop (once) and closes the trail.
  void stop();

  // What the check at start found; Whole when the trail is not in use.
  const TrailCheck& startCheck() const { return startCheck_; }
  // Once a minute: the seal after midnight, entries the disk refused.
  Timer* sealTimer() const { return sealTimer_; }

  // The box's (or the service's line's) text for a broken trail.
  static QString brokenText(const QString& line);

 signals:
  // The check at start found the trail broken: `text` for a box or a line.
  void trailBroken(const QString& text);
  // The trail could not be opened or written.
  void problem(const QString& text);
  // The trail of the database at `dbPath` is open and written: its entries
  // may be read (copied to the central database).
  void opened(const QString& dbPath);

 private:
  void onSealTick();
  void resealLateDays();
  // A switch's turn as a changed setting: its position before and after.
  void recordSwitch(const QString& what, bool on, const QString& offText, const QString& onText, const QString& text);

  AuditTrail trail_;
  ResultStore results_;  // read-only, for the seals
  SettingsWatch watch_;
  QVector<WatchedFile> watched_;
  QString movedTo_;
  TrailCheck startCheck_;
  QSet<QDate> sealed_;
  QSet<QDate> lateDays_;  // sealed days that got a result since
  QDate sealPassDay_;     // the local date of the last pass that sealed what was before it
  bool stopped_ = false;
  bool writeFailureTold_ = false;
  Timer* sealTimer_;
};
