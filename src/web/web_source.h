#pragma once
// What the web view reads, and from whom. The pages never touch the measuring
// side: it hands over a snapshot of each analyzer whenever something changed
// (LiveHub, thread-safe, nothing waits), and everything older comes from
// read-only sources the web thread owns (HistorySource). Who may see what
// comes from a UserDirectory, the audit trail from an AuditSource.
//
// Backed today by one analyzer of `korvex --headless` (LocalHistory over its
// own read-only connection to the results database) and by the central
// PostgreSQL database (`korvex --site`); the users by the single password of
// the settings.

#include <QDate>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <optional>
#include <vector>

#include "data/result_store.h"
#include "emissions/alarms.h"
#include "emissions/averaging.h"
#include "emissions/emission_report.h"

namespace web {

// An average as the pages show it: measured (the means before any
// confidence interval) and validated (as judged: under a regulation profile
// less the confidence interval, the measured means otherwise).
struct ShownAverage {
  qint64 startUtcMs = 0;
  qint64 endUtcMs = 0;
  int startOffset = 0;
  int endOffset = 0;
  int count = 0;  // results (an interval) or intervals (a day)
  emissions::ComponentAverages measured{};
  std::optional<emissions::ComponentAverages> validated;  // none where not known
};

// One analyzer as the overview shows it, at one moment.
struct LiveSnapshot {
  QString id;  // the key in the pages' addresses: [A-Za-z0-9_.-], unique among the source's analyzers
  QString site;
  QString name;
  int address = 1;
  QString state;        // the analyzer's state as the state label says it
  bool linkOk = false;  // answering
  std::optional<StoredResult> last;
  emissions::EmissionValues lastEmissions{};  // of `last`, at the reference O2
  std::optional<double> o2Ref;
  std::optional<ShownAverage> running;       // the interval going on
  std::optional<ShownAverage> lastInterval;  // the last one completed
  std::optional<ShownAverage> today;         // the day so far
  emissions::Lamp lamp = emissions::Lamp::Off;
  bool lampKnown = true;  // false where no limits are known (a site's central database)
  QStringList latched;    // what each latched alarm is
  emissions::AlarmLimits limits;
  int intervalMinutes = emissions::kDefaultIntervalMinutes;
};

// Snapshots handed over by the measuring side, read by the web thread. The
// measuring side only copies a value under a short lock; the web side hears
// of it through a queued signal.
class LiveHub : public QObject {
  Q_OBJECT
 public:
  explicit LiveHub(QObject* parent = nullptr) : QObject(parent) {}
  // From any thread.
  void publish(const LiveSnapshot& snapshot);
  void remove(const QString& id);
  std::vector<LiveSnapshot> all() const;
  std::optional<LiveSnapshot> find(const QString& id) const;

 signals:
  // Queued to whoever listens in another thread.
  void changed(const QString& id);

 private:
  mutable QMutex mutex_;
  std::vector<LiveSnapshot> snapshots_;  // in the order they first came
};

struct AnalyzerInfo {
  QString id, site, name;
  int address = 1;
};

// The past, read-only. Used from the web thread only; a call may block it
// for as long as the query takes, never the measuring side.
class HistorySource {
 public:
  virtual ~HistorySource() = default;
  virtual QVector<AnalyzerInfo> analyzers() = 0;
  // Results with fromUtcMs <= time < toUtcMs, in time order.
  virtual std::vector<StoredResult> results(const QString& id, qint64 fromUtcMs, qint64 toUtcMs) = 0;
  // The reference O2 of each fuel row, for the emission values of results.
  virtual std::vector<double> o2RefByFuel(const QString& id) = 0;
  // Newest first, at most `limit`.
  virtual QVector<StoredEvent> events(const QString& id, qint64 fromUtcMs, qint64 toUtcMs, int limit) = 0;
  // The local day's completed interval averages (those of the report); the
  // one going on comes from the live snapshot.
  virtual QVector<emissions::IntervalAverage> dayIntervals(const QString& id, QDate day) = 0;
  // The report of local days first..last, as the report dialog makes it;
  // none when the analyzer is unknown.
  virtual std::optional<emissions::EmissionReport> report(const QString& id, QDate first, QDate last) = 0;
  // Stored daily averages of first..last (for a month's or a year's table).
  virtual QVector<StoredAverage> storedDays(const QString& id, QDate first, QDate last) = 0;
  virtual int intervalMinutes(const QString& id) = 0;
};

enum class Role : uint8_t { Operator = 0, Engineer = 1, Administrator = 2 };
QString roleText(Role role);

struct WebUser {
  QString name;
  Role role = Role::Operator;
};

// Who may log in. Phase 2 backs it with the users of the audit trail.
class UserDirectory {
 public:
  virtual ~UserDirectory() = default;
  // False: nobody is defined, the pages need no login (loopback only).
  virtual bool hasUsers() const = 0;
  // Slow on purpose (a password hash): call it only after the rate limit.
  virtual std::optional<WebUser> authenticate(const QString& name, const QByteArray& password) const = 0;
  // Whether the login form asks for a name.
  virtual bool namesUsers() const = 0;
};

// The single password of the settings ([Web] PasswordHash): it logs in as
// an administrator, under any name.
class SinglePasswordUsers : public UserDirectory {
 public:
  explicit SinglePasswordUsers(QString hash) : hash_(std::move(hash)) {}
  bool hasUsers() const override { return !hash_.isEmpty(); }
  std::optional<WebUser> authenticate(const QString& name, const QByteArray& password) const override;
  bool namesUsers() const override { return false; }

 private:
  QString hash_;
};

struct AuditEntry {
  qint64 utcMs = 0;
  int utcOffset = 0;
  QString user;
  QString action;
  QString detail;
};

struct AuditFilter {
  qint64 fromUtcMs = 0;
  qint64 toUtcMs = 0;
  QString user;    // empty: everybody
  QString action;  // empty: every action
  int limit = 500;
};

// The audit trail, for engineers and administrators.
class AuditSource {
 public:
  virtual ~AuditSource() = default;
  virtual bool available() const = 0;
  virtual QVector<AuditEntry> entries(const AuditFilter& filter) = 0;
};

// Until the audit trail exists: none.
class NoAuditTrail : public AuditSource {
 public:
  bool available() const override { return false; }
  QVector<AuditEntry> entries(const AuditFilter&) override { return {}; }
};

}  // namespace web
