#pragma once
// The audit trail: who did what and when, in the results database beside the
// results, in tables of its own. Append-only: the program never changes or
// deletes an entry (triggers refuse it), and each entry carries the SHA-256
// of the entry before it and of itself, so an entry changed, removed or
// inserted afterwards breaks the chain (see trail_check.h).
//
// The end of the chain is also kept outside the database, in the "head
// file" beside it (korvex.db -> korvex-audit.head: the last entry's number
// and hash, written after every commit): entries cut off the end of the
// trail are found against it. A database moved aside or lost does not end
// the chain: the first entry of the new one continues the numbers and the
// hashes from the head file.
//
// An entry's hash is the SHA-256 of its canonical form (entryHashInput):
//   "korvex-audit/1" and a zero byte, then the fields id, utc_ms, utc_offset,
//   kind (decimal ASCII), user, os_user, subject, before, after, text (UTF-8),
//   each as a 4-byte big-endian length and its bytes, then the previous
//   entry's hash (32 bytes; zeros before the first entry).
// Hashes are stored as 64 lower-case hex digits.
//
// AuditTrail opens its own connection to the database file that ResultStore
// has opened: writable only when this instance owns the file (ResultStore's
// lock), read-only otherwise. Every append is committed (WAL,
// synchronous=FULL) before it returns; when the commit fails, the entry waits
// in memory, already chained, and goes with the next one. Used from one
// thread.

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>
#include <deque>
#include <functional>
#include <memory>

class ResultStore;
struct sqlite3;
struct sqlite3_stmt;

// What an entry records. The numbers are stored: never renumber.
enum class AuditKind : int {
  ProgramStarted = 1,
  ProgramStopped = 2,
  SettingChanged = 3,          // subject: the setting; before, after (secrets never)
  SettingChangedOutside = 4,   // found at start: a settings file changed outside the program
  MaintenanceOn = 5,
  MaintenanceOff = 6,
  SubstituteValue = 7,         // subject: what; after: the value; text: the reason
  AlarmAcknowledged = 8,
  DatabaseMovedAside = 9,      // subject: where the old file went; before: the old chain's end
  DailyLogWritten = 10,        // subject: the file
  Login = 11,
  LoginFailed = 12,
  Logout = 13,
  DaySealed = 14,              // subject: the day (yyyy-MM-dd); after: its digest (DayDigest JSON)
  DayResealed = 15,            // the same after the program itself added to the day; before: the old digest
  ChainContinued = 16,         // first entry of a new database; before: the old chain's end
  TrailBroken = 17,            // the check at start found the trail broken; text: what
  UserAdded = 18,
  UserChanged = 19,
  UserRemoved = 20,
  AccountLocked = 21,          // too many failed logins
  SettingsFileTaken = 22,      // a settings file first watched: after: its content
};

// A stable English name (central database, CSV) and the Russian one shown.
QString auditKindName(AuditKind kind);
QString auditKindText(AuditKind kind);
QVector<AuditKind> allAuditKinds();

struct AuditEntry {
  qint64 id = 0;  // 1, 2, 3, ... without gaps (a continued chain starts after the old one)
  qint64 utcMs = 0;
  int32_t utcOffset = 0;  // seconds east of UTC of the local clock then
  QString user;           // the program's account; empty without accounts or logged in
  QString osUser;         // the operating system's account the program ran as
  AuditKind kind = AuditKind::ProgramStarted;
  QString subject;
  QString before;
  QString after;
  QString text;
  QByteArray prevHash;  // 32 bytes
  QByteArray hash;      // 32 bytes
};

// The bytes an entry's hash is taken over (see above), and the hash itself.
QByteArray entryHashInput(const AuditEntry& entry);
QByteArray entryHash(const AuditEntry& entry);

// The end of a chain: its last entry's number and hash (id 0: none).
struct ChainHead {
  qint64 id = 0;
  QByteArray hash;  // 32 bytes
  QString text() const;  // "<id> <hex>"
  static ChainHead fromText(const QString& text);
  bool isValid() const { return id > 0 && hash.size() == 32; }
};

// The head file of the database at `dbPath`, and reading and writing it.
QString chainHeadPath(const QString& dbPath);
// False when there is none or it cannot be read (`exists` tells which).
bool readChainHead(const QString& dbPath, ChainHead* head, bool* exists = nullptr);
bool writeChainHead(const QString& dbPath, const ChainHead& head, QString* error = nullptr);

// The operating system's account this process runs as.
QString osUserName();

// Whether a setting's value is a secret that the trail never holds (a
// password, a key); and a connection string with its password cut out.
bool isSecretSetting(const QString& key);
QString withoutSecrets(const QString& key, const QString& value);

class AuditTrail {
 public:
  AuditTrail();
  ~AuditTrail();
  AuditTrail(const AuditTrail&) = delete;
  AuditTrail& operator=(const AuditTrail&) = delete;

  // Opens the trail of the database at `dbPath`, which ResultStore has
  // opened (and created). `writable`: this instance owns the file; the
  // tables are created when missing. A writable trail that is empty while
  // the head file names an earlier chain continues that chain (with the
  // first entry recordContinuation writes). False with `error` when the
  // database cannot be used.
  bool open(const QString& dbPath, bool writable, QString* error = nullptr);
  // Opens it read-only without ResultStore, for checking.
  bool openForReading(const QString& dbPath, QString* error = nullptr);
  void close();
  bool isOpen() const { return db_ != nullptr; }
  bool isWritable() const { return db_ != nullptr && writable_; }
  QString databasePath() const { return path_; }

  // Who the entries are by: the program's account logged in (empty: none)
  // and the operating system's (osUserName() unless set).
  void setUser(const QString& user) { user_ = user; }
  QString user() const { return user_; }
  void setOsUser(const QString& osUser) { osUser_ = osUser; }

  // ---- writing. Each returns the entry's number (0 when the trail is not
  // writable); the entry is committed, or waits (pendingCount) when the disk
  // refuses it.
  qint64 record(AuditKind kind, const QString& subject, const QString& text, const QString& before = QString(),
                const QString& after = QString());
  // A setting changed; a secret's values are never written ("(скрыто)").
  qint64 recordSettingChange(const QString& key, const QString& before, const QString& after,
                             bool outsideProgram = false);
  // The database was damaged and moved to `movedTo`, a new one begun: the
  // first entry of the new database, continuing the old chain.
  qint64 recordDatabaseMovedAside(const QString& movedTo);
  // The head file named a chain this (empty) database does not hold: the
  // first entry continues it. Done by open() itself unless the database was
  // moved aside (recordDatabaseMovedAside then).
  bool continuesChain() const { return continuesFrom_.isValid(); }
  ChainHead continuedFrom() const { return continuesFrom_; }
  // Commits what waits; true when nothing is left waiting.
  bool flushPending();
  int pendingCount() const { return int(pending_.size()); }

  // ---- sealed days
  enum class SealOutcome {
    Sealed,       // a new seal (or reseal) entry
    Unchanged,    // the day's seal holds as it is
    NotSealed,    // resealDay on a day without a seal: sealDay it
    Refused,      // resealDay: the results already sealed differ (`detail`): not covered up
    Failed,       // not writable, or the store could not be read
  };
  // Adds a seal of the day's stored results and averages to the chain
  // unless it has one.
  SealOutcome sealDay(const ResultStore& store, const QDate& day, QString* detail = nullptr);
  // The program itself stored averages of a sealed day again, or results
  // into it: a new seal, provided every result of the old seal is as it was.
  SealOutcome resealDay(const ResultStore& store, const QDate& day, const QString& reason,
                        QString* detail = nullptr);
  // Seals every day before `today` that holds results or averages and has no
  // seal; the days sealed.
  QVector<QDate> sealDaysBefore(const ResultStore& store, const QDate& today);
  // Days that have a seal, ascending.
  QVector<QDate> sealedDays() const;

  // ---- reading
  ChainHead head() const { return head_; }  // the newest entry, pending ones included
  qint64 count() const;                     // committed entries
  QVector<AuditEntry> entriesAfter(qint64 id, int limit) const;
  // The newest `limit` entries, oldest first.
  QVector<AuditEntry> newestEntries(int limit) const;
  QVector<AuditEntry> entriesBetween(qint64 fromUtcMs, qint64 toUtcMs) const;
  // The latest seal or reseal entry of a day (id 0: none).
  AuditEntry sealOf(const QDate& day) const;
  // Every latest seal, by day.
  QVector<AuditEntry> latestSeals() const;
  QStringList users() const;  // every account name the trail holds, sorted

  // ---- settings files as the program last knew them (see settings_watch.h)
  QString knownFile(const QString& name, bool* known = nullptr) const;
  bool setKnownFile(const QString& name, const QString& content);

  QString lastError() const { return lastError_; }

 private:
  bool openConnection(bool writable, QString* error);
  bool setUp(QString* error);
  bool loadHead(QString* error);
  bool commitPending();
  QVector<AuditEntry> query(const char* sql, const std::function<void(sqlite3_stmt*)>& bind) const;

  QString path_;
  sqlite3* db_ = nullptr;
  bool writable_ = false;
  QString user_;
  QString osUser_;
  ChainHead head_;
  ChainHead committedHead_;
  ChainHead continuesFrom_;
  std::deque<AuditEntry> pending_;
  bool failing_ = false;
  mutable QString lastError_;
};
