#include "data/result_store.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// Whether commits wait for the disk; only tests that simulate days of
// results by the second turn it off (see setDurableForTesting).
bool g_durable = true;
}  // namespace

void ResultStore::setDurableForTesting(bool durable) { g_durable = durable; }

namespace {

constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kJulianDayOf1970 = 2440588;
constexpr int kApplicationId = 0x4B52564B;  // "KRVK": tells our file from another program's
constexpr int kProgressEvery = 1024;

// Channel columns, in channel order.
constexpr const char* kColumns[kChannelCount] = {"tg",  "o2",  "co", "no", "no2", "so2",
                                                 "h2s", "co2", "nox", "qa", "alf", "ta"};

// A result costs about 70 bytes in `results` and 17 in its time index
// (measured by the benchmark), so a year of one-second results stays under
// 3 GB. To get there the channel columns are ANY in a STRICT table, which
// keeps each value in the storage class it was bound with:
//   INTEGER  the value in register units (O2 in hundredths of a per cent), used
//            whenever dividing it back gives the very same double;
//   REAL     the exact double otherwise (derived channels, odd values);
//   BLOB     the double's 8 bytes, for what SQLite would not keep as it is: a
//            NaN becomes NULL, -0.0 loses its sign;
//   NULL     the special code that `specials` holds for the channel.
// `specials` holds every channel's SpecialCode in bits 2*channel and up, so a
// query can leave codes out; the view result_values does that and gives the
// values in their units, for averages and for copying elsewhere.
QString schemaSql() {
  QStringList channels, decoded;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const QString c = QString::fromLatin1(kColumns[ch]);
    channels << c + QStringLiteral(" ANY");
    decoded << QStringLiteral("CASE WHEN (specials >> %1) & 3 THEN NULL"
                              " WHEN typeof(%2) = 'integer' THEN %2 / %3"
                              " WHEN typeof(%2) = 'real' THEN %2 END AS %2")
                   .arg(2 * ch)
                   .arg(c, ch == channel::O2 ? QStringLiteral("100.0") : QStringLiteral("1.0"));
  }
  return QStringLiteral(
             "CREATE TABLE results ("
             " seq INTEGER PRIMARY KEY,"  // taken from a counter, never from the clock
             " utc_ms INTEGER NOT NULL,"
             " utc_offset INTEGER NOT NULL,"  // seconds east of UTC of the local clock then
             " fault_bits INTEGER NOT NULL,"
             " specials INTEGER NOT NULL,"
             " mode INTEGER NOT NULL,"  // WorkMode
             " fuel INTEGER NOT NULL,"  // row of the fuel table
             " address INTEGER NOT NULL,"
             " %1) STRICT;"
             "CREATE INDEX results_by_time ON results(utc_ms);"
             // Local dates (days since 1970-01-01) that hold results, so the
             // list of days does not need a pass over every result.
             "CREATE TABLE result_days (day INTEGER PRIMARY KEY) STRICT;"
             "CREATE TABLE daily_logs (day INTEGER PRIMARY KEY, written_utc_ms INTEGER NOT NULL) STRICT;"
             "CREATE TABLE events ("
             " id INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL, utc_offset INTEGER NOT NULL,"
             " kind INTEGER NOT NULL, text TEXT NOT NULL) STRICT;"
             "CREATE INDEX events_by_time ON events(utc_ms);"
             "CREATE TABLE forward_cursors (consumer TEXT PRIMARY KEY, last_seq INTEGER NOT NULL)"
             " STRICT, WITHOUT ROWID;"
             "CREATE VIEW result_values AS SELECT seq, utc_ms, utc_offset, fault_bits, specials, mode,"
             " fuel, address, %2 FROM results;")
      .arg(channels.join(QStringLiteral(", ")), decoded.join(QStringLiteral(", ")));
}

// Emission averages, one row an interval's or a day's. A mean is NULL when
// no value made it. Keyed so that the same average computed again replaces
// itself, and averages of another interval length stand beside it.
constexpr const char* kAverageComponents[kStoredComponentCount] = {"co", "nox", "so2", "h2s"};

QString averageColumns() {
  QStringList c{QStringLiteral("period"), QStringLiteral("interval_minutes"), QStringLiteral("start_utc_ms"),
                QStringLiteral("end_utc_ms"), QStringLiteral("start_offset"), QStringLiteral("end_offset"),
                QStringLiteral("count")};
  for (const char* name : kAverageComponents) {
    const QString n = QString::fromLatin1(name);
    c << n + QStringLiteral("_mean") << n + QStringLiteral("_count") << n + QStringLiteral("_valid")
      << n + QStringLiteral("_exceedance");
  }
  return c.join(QStringLiteral(", "));
}
constexpr int kAverageColumnCount = 7 + 4 * kStoredComponentCount;

QString averagesSchemaSql() {
  QStringList components;
  for (const char* name : kAverageComponents)
    components << QStringLiteral("%1_mean REAL, %1_count INTEGER NOT NULL, %1_valid INTEGER NOT NULL,"
                                 " %1_exceedance INTEGER NOT NULL")
                      .arg(QString::fromLatin1(name));
  return QStringLiteral(
             "CREATE TABLE emission_averages ("
             " period INTEGER NOT NULL,"  // AveragePeriodKind
             " interval_minutes INTEGER NOT NULL,"
             " start_utc_ms INTEGER NOT NULL, end_utc_ms INTEGER NOT NULL,"
             " start_offset INTEGER NOT NULL, end_offset INTEGER NOT NULL,"
             " count INTEGER NOT NULL,"
             " %1,"
             " PRIMARY KEY (period, interval_minutes, start_utc_ms)) STRICT, WITHOUT ROWID;")
      .arg(components.join(QStringLiteral(", ")));
}

QString resultColumns() {
  QStringList c;
  for (const char* name : kColumns) c << QString::fromLatin1(name);
  return QStringLiteral("seq, utc_ms, utc_offset, fault_bits, specials, mode, fuel, address, ") +
         c.join(QStringLiteral(", "));
}

qint64 localDay(qint64 utcMs, int32_t utcOffset) {
  const qint64 local = utcMs + qint64(utcOffset) * 1000;
  return local / kMsPerDay - (local % kMsPerDay < 0 ? 1 : 0);
}
QDate dateOfDay(qint64 day) { return QDate::fromJulianDay(day + kJulianDayOf1970); }
qint64 dayOfDate(const QDate& date) { return date.toJulianDay() - kJulianDayOf1970; }

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double scaleOf(int ch) { return ch == channel::O2 ? 100.0 : 1.0; }

double codeValue(int ch, SpecialCode code) {
  const double raw = kCodeOverload + double(int(code) - 1);
  return ch == channel::O2 ? raw / 100.0 : raw;
}

void bindValue(sqlite3_stmt* st, int col, int ch, double v) {
  const SpecialCode code = specialCode(ch, v);
  if (code != SpecialCode::None && sameBits(codeValue(ch, code), v)) {
    sqlite3_bind_null(st, col);
    return;
  }
  const double scale = scaleOf(ch);
  const double scaled = std::round(v * scale);
  if (std::fabs(scaled) <= 9007199254740992.0) {  // 2^53: every integer up to it is exact
    const auto k = sqlite3_int64(scaled);
    if (sameBits(double(k) / scale, v)) {
      sqlite3_bind_int64(st, col, k);
      return;
    }
  }
  if (!std::isnan(v) && !(v == 0 && std::signbit(v))) {
    sqlite3_bind_double(st, col, v);
    return;
  }
  sqlite3_bind_blob(st, col, &v, sizeof v, SQLITE_TRANSIENT);
}

double columnValue(sqlite3_stmt* st, int col, int ch, qint64 specials) {
  switch (sqlite3_column_type(st, col)) {
    case SQLITE_INTEGER:
      return double(sqlite3_column_int64(st, col)) / scaleOf(ch);
    case SQLITE_FLOAT:
      return sqlite3_column_double(st, col);
    case SQLITE_BLOB:
      if (sqlite3_column_bytes(st, col) == sizeof(double)) {
        double v;
        std::memcpy(&v, sqlite3_column_blob(st, col), sizeof v);
        return v;
      }
      return std::nan("");
    default: {
      const auto code = SpecialCode((specials >> (2 * ch)) & 3);
      return code == SpecialCode::None ? std::nan("") : codeValue(ch, code);
    }
  }
}

qint64 specialsOf(const Result& r) {
  qint64 bits = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) bits |= qint64(specialCode(ch, r.values[size_t(ch)])) << (2 * ch);
  return bits;
}

QString text(const unsigned char* utf8) { return QString::fromUtf8(reinterpret_cast<const char*>(utf8)); }

}  // namespace

struct ResultStore::Statements {
  sqlite3_stmt* begin = nullptr;
  sqlite3_stmt* commit = nullptr;
  sqlite3_stmt* rollback = nullptr;
  sqlite3_stmt* insertResult = nullptr;
  sqlite3_stmt* insertDay = nullptr;
  sqlite3_stmt* insertEvent = nullptr;
  sqlite3_stmt* resultsInRange = nullptr;
  sqlite3_stmt* resultsOnDay = nullptr;
  sqlite3_stmt* resultsAfter = nullptr;
  sqlite3_stmt* eventsInRange = nullptr;
  sqlite3_stmt* eventsAfter = nullptr;
  sqlite3_stmt* getCursor = nullptr;
  sqlite3_stmt* setCursor = nullptr;
  sqlite3_stmt* days = nullptr;
  sqlite3_stmt* daysWithoutLog = nullptr;
  sqlite3_stmt* markLog = nullptr;
  // Null in a version 1 file opened read-only: it has no averages.
  sqlite3_stmt* storeAverage = nullptr;
  sqlite3_stmt* averagesInRange = nullptr;

  ~Statements() {
    for (sqlite3_stmt* s : {begin, commit, rollback, insertResult, insertDay, insertEvent, resultsInRange,
                            resultsOnDay, resultsAfter, eventsInRange, eventsAfter, getCursor, setCursor, days,
                            daysWithoutLog, markLog, storeAverage, averagesInRange})
      sqlite3_finalize(s);
  }
};

namespace {

// Steps a statement that returns no rows and resets it, whatever happens.
bool run(sqlite3_stmt* st) {
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  return rc == SQLITE_DONE;
}

// Resets a query statement when the reading is over.
struct Rewind {
  sqlite3_stmt* st;
  ~Rewind() {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
  }
};

StoredResult readResult(sqlite3_stmt* st) {
  StoredResult s;
  Result& r = s.result;
  s.seq = sqlite3_column_int64(st, 0);
  r.utcMs = sqlite3_column_int64(st, 1);
  r.utcOffset = int32_t(sqlite3_column_int64(st, 2));
  r.faultBits = int32_t(sqlite3_column_int64(st, 3));
  const qint64 specials = sqlite3_column_int64(st, 4);
  r.mode = WorkMode(sqlite3_column_int(st, 5));
  r.fuelIndex = uint8_t(sqlite3_column_int(st, 6));
  r.address = uint8_t(sqlite3_column_int(st, 7));
  for (int ch = 0; ch < kChannelCount; ++ch) r.values[size_t(ch)] = columnValue(st, 8 + ch, ch, specials);
  return s;
}

// Checkpoints every 1000 pages of log (SQLite's default, set explicitly
// because the reserve below is sized from it); 4096-byte pages, each with its
// 24-byte frame header, after the log's 32-byte header, and room for the
// commit that crosses the mark.
constexpr int kCheckpointPages = 1000;
constexpr qint64 kLogReserve = 32 + (kCheckpointPages + 24) * (4096 + 24);

// Every commit waits for the log to reach the disk. While the log file grows
// that wait also writes the file's new size and its new blocks' map, three or
// four waits for the disk instead of one, every second. The log is filled
// with zeros up to the size it reaches between checkpoints, so commits
// overwrite blocks the file already has. SQLite takes a log without a valid
// header for an empty one and stops reading at the first frame that is not
// valid, so zeros past the end of the log, one a crash left included, change
// nothing in it.
// When the disk cannot hold the reserve the space is given back.
void reserveLogSpace(const QString& logPath) {
  QFile log(logPath);
  if (!log.open(QIODevice::ReadWrite)) return;
  const qint64 had = log.size();
  if (had >= kLogReserve || !log.seek(had)) return;
  const QByteArray zeros(64 * 1024, '\0');
  for (qint64 size = had; size < kLogReserve; size += zeros.size()) {
    if (log.write(zeros.constData(), qMin<qint64>(zeros.size(), kLogReserve - size)) <= 0 || !log.flush()) {
      log.resize(had);
      return;
    }
  }
}

// A row of averageColumns().
StoredAverage readAverage(sqlite3_stmt* st) {
  StoredAverage a;
  a.period = AveragePeriodKind(sqlite3_column_int(st, 0));
  a.intervalMinutes = sqlite3_column_int(st, 1);
  a.startUtcMs = sqlite3_column_int64(st, 2);
  a.endUtcMs = sqlite3_column_int64(st, 3);
  a.startOffset = int32_t(sqlite3_column_int64(st, 4));
  a.endOffset = int32_t(sqlite3_column_int64(st, 5));
  a.count = sqlite3_column_int(st, 6);
  for (int c = 0; c < kStoredComponentCount; ++c) {
    StoredComponentAverage& ca = a.components[size_t(c)];
    const int col = 7 + 4 * c;
    ca.mean = sqlite3_column_type(st, col) == SQLITE_NULL ? 0 : sqlite3_column_double(st, col);
    ca.count = sqlite3_column_int(st, col + 1);
    ca.valid = sqlite3_column_int(st, col + 2) != 0;
    ca.exceedance = sqlite3_column_int(st, col + 3);
  }
  return a;
}

StoredEvent readEvent(sqlite3_stmt* st) {
  StoredEvent e;
  e.id = sqlite3_column_int64(st, 0);
  e.utcMs = sqlite3_column_int64(st, 1);
  e.utcOffset = int32_t(sqlite3_column_int64(st, 2));
  e.kind = EventKind(sqlite3_column_int(st, 3));
  e.text = text(sqlite3_column_text(st, 4));
  return e;
}

}  // namespace

ResultStore::ResultStore() = default;

ResultStore::~ResultStore() { close(); }

ResultStore::OpenResult ResultStore::open(const QString& path, qint64 nowUtcMs, WhenLocked whenLocked,
                                         Check check) {
  close();
  path_ = path;
  const QString dir = QFileInfo(path).absolutePath();
  if (!QFileInfo(dir).isDir())
    return {OpenStatus::CannotOpen, QStringLiteral(u"нет каталога %1").arg(QDir::toNativeSeparators(dir)), {}};

  // The lock file, not SQLite's own locks, keeps a second instance from
  // writing: it is released when the owner dies, and a reader that SQLite
  // lets in does not count as an owner.
  auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
  lock->setStaleLockTime(0);  // stale only when its owner is gone, however old
  if (lock->tryLock(0)) {
    lock_ = std::move(lock);
    // Closing the last connection removes the log; one left behind means
    // the last owner went without closing.
    if (check == Check::Auto)
      check = QFileInfo::exists(path + QStringLiteral("-wal")) ? Check::Everything : Check::Recent;
    OpenResult r = openWritable(nowUtcMs, check);
    if (!r.isOpen()) lock_.reset();
    return r;
  }
  if (lock->error() == QLockFile::LockFailedError) {
    qint64 pid = 0;
    QString host, app;
    lock->getLockInfo(&pid, &host, &app);
    const QString owner = QStringLiteral(u"занята программой %1 (процесс %2 на %3)").arg(app).arg(pid).arg(host);
    if (whenLocked == WhenLocked::Refuse) return {OpenStatus::Locked, owner, {}};
    OpenResult r = openReadOnly(owner, false);
    if (!r.isOpen()) r.status = OpenStatus::Locked;
    return r;
  }
  const QString why = QStringLiteral(u"нельзя создать файлы в %1").arg(QDir::toNativeSeparators(dir));
  if (QFileInfo::exists(path)) return openReadOnly(why, true);
  return {OpenStatus::CannotOpen, why, {}};
}

ResultStore::OpenResult ResultStore::openWritable(qint64 nowUtcMs, Check check) {
  QString error;
  if (!openConnection(Access::ReadWrite, &error)) return {OpenStatus::CannotOpen, error, {}};
  if (sqlite3_db_readonly(db_, "main") == 1) {
    closeConnection();
    lock_.reset();
    return openReadOnly(QStringLiteral(u"файл базы данных защищён от записи"), false);
  }
  OpenResult result{OpenStatus::Opened, QStringLiteral(u"открыта %1").arg(QDir::toNativeSeparators(path_)), {}};
  if (!checkPages(check, &error)) {
    if (!db_) return {OpenStatus::CannotOpen, error, {}};
    closeConnection();
    QString movedTo, moveError;
    if (!moveAside(nowUtcMs, &movedTo, &moveError))
      return {OpenStatus::CannotOpen, error + QStringLiteral("; ") + moveError, {}};
    result = {OpenStatus::ReplacedCorrupt,
              QStringLiteral(u"%1; перенесена в %2, создана новая база данных")
                  .arg(error, QDir::toNativeSeparators(movedTo)),
              movedTo};
    if (!openConnection(Access::ReadWrite, &error)) return {OpenStatus::CannotOpen, error, {}};
  }
  if (!setUp(&error) || !loadCounters(&error)) {
    closeConnection();
    return {OpenStatus::CannotOpen, error, {}};
  }
  // After setting up: SQLite removes a log it finds beside a new, empty file.
  if (g_durable) reserveLogSpace(path_ + QStringLiteral("-wal"));
  writable_ = true;
  return result;
}

ResultStore::OpenResult ResultStore::openToRead(const QString& path) {
  close();
  path_ = path;
  if (!QFileInfo(path).isFile())
    return {OpenStatus::CannotOpen, QStringLiteral(u"нет файла %1").arg(QDir::toNativeSeparators(path)), {}};
  // Without write access to the directory SQLite cannot share the log's
  // index: then the file is read as it stands.
  return openReadOnly(QStringLiteral(u"проверка"), !QFileInfo(QFileInfo(path).absolutePath()).isWritable());
}

// `nobodyWrites`: no instance can own the file (its directory cannot be
// written), so when SQLite cannot set up its shared index of the log there,
// the file may be read as it stands.
ResultStore::OpenResult ResultStore::openReadOnly(const QString& why, bool nobodyWrites) {
  QString error;
  bool ok = openConnection(Access::ReadOnly, &error) && setUp(&error) && loadCounters(&error);
  if (!ok && nobodyWrites) {
    closeConnection();
    ok = openConnection(Access::Immutable, &error) && setUp(&error) && loadCounters(&error);
  }
  if (!ok) {
    closeConnection();
    return {OpenStatus::CannotOpen, why + QStringLiteral("; ") + error, {}};
  }
  writable_ = false;
  return {OpenStatus::OpenedReadOnly, why + QStringLiteral(u"; только просмотр истории"), {}};
}

bool ResultStore::openConnection(Access access, QString* error) {
  // One thread uses a store: SQLite's lock around every call is not needed
  // (it is a tenth of reading a year of results through the store).
  int flags = SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX;
  QByteArray name;
  if (access == Access::Immutable) {
    flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    name = QUrl::fromLocalFile(QFileInfo(path_).absoluteFilePath()).toEncoded() + "?immutable=1";
  } else {
    flags |= access == Access::ReadWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
#ifdef Q_OS_WIN
    name = path_.toUtf8();  // SQLite's Windows layer takes UTF-8
#else
    name = QFile::encodeName(path_);
#endif
  }
  const int rc = sqlite3_open_v2(name.constData(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    *error = QStringLiteral(u"не открывается %1: %2").arg(QDir::toNativeSeparators(path_), QString::fromUtf8(sqlite3_errstr(rc)));
    closeConnection();
    return false;
  }
  // A reader may meet the owner in the middle of a checkpoint.
  sqlite3_busy_timeout(db_, 1000);
  return true;
}

void ResultStore::closeConnection() {
  st_.reset();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

// False, with `error` set, when the file is not a sound database; then db_
// stays open only if the file is merely damaged (a failure to read closes it).
bool ResultStore::checkPages(Check check, QString* error) {
  // Recent: the small tables whole, and the newest hour of results through
  // the table and through the time index: the pages the last writes went to
  // (a checkpoint moves at most a few minutes of results into the file).
  static const char* const kRecent[] = {
      "SELECT count(*) FROM sqlite_schema",
      "SELECT count(ta) FROM results WHERE seq > (SELECT max(seq) - 3600 FROM results)",
      "SELECT count(ta) FROM results WHERE utc_ms > (SELECT max(utc_ms) - 3600000 FROM results)",
      "PRAGMA quick_check(events)",
      "PRAGMA quick_check(result_days)",
      "PRAGMA quick_check(daily_logs)",
      "PRAGMA quick_check(forward_cursors)",
      "PRAGMA quick_check(emission_averages)",
  };
  static const char* const kEverything[] = {"PRAGMA quick_check"};
  const bool everything = check == Check::Everything;
  QString verdict;
  int rc = SQLITE_OK;
  for (const char* sql : everything ? std::vector<const char*>(std::begin(kEverything), std::end(kEverything))
                                    : std::vector<const char*>(std::begin(kRecent), std::end(kRecent))) {
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db_, sql, -1, &st, nullptr);
    if (rc == SQLITE_ERROR && !everything) {
      rc = SQLITE_OK;  // a new, empty file has no tables yet
      continue;
    }
    if (rc == SQLITE_OK) rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      const QString first = text(sqlite3_column_text(st, 0));
      if (QByteArray(sql).startsWith("PRAGMA") && first != QLatin1String("ok")) verdict = first.simplified();
      rc = SQLITE_OK;
    }
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
    if (rc != SQLITE_OK) verdict = QString::fromUtf8(sqlite3_errmsg(db_));
    sqlite3_finalize(st);
    if (!verdict.isEmpty()) break;
  }
  if (verdict.isEmpty()) return true;
  const int primary = rc & 0xff;
  if (rc == SQLITE_OK || primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
    *error = QStringLiteral(u"база данных повреждена (%1)").arg(verdict);
  } else {
    *error = QStringLiteral(u"не читается %1: %2").arg(QDir::toNativeSeparators(path_), verdict);
    closeConnection();
  }
  return false;
}

bool ResultStore::moveAside(qint64 nowUtcMs, QString* movedTo, QString* error) {
  const QString stamp = QDateTime::fromMSecsSinceEpoch(nowUtcMs, Qt::UTC).toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString target = path_ + QStringLiteral(".corrupt-") + stamp;
  for (int n = 2; QFileInfo::exists(target) || QFileInfo::exists(target + QStringLiteral("-wal")); ++n)
    target = path_ + QStringLiteral(".corrupt-%1-%2").arg(stamp).arg(n);
  if (!QFile::rename(path_, target)) {
    *error = QStringLiteral(u"не переносится в %1").arg(QDir::toNativeSeparators(target));
    return false;
  }
  // The log goes with its database (SQLite finds it there by name); a stale
  // log beside the new file would be replayed into it.
  const QString wal = path_ + QStringLiteral("-wal");
  if (QFileInfo::exists(wal) && !QFile::rename(wal, target + QStringLiteral("-wal")) && !QFile::remove(wal)) {
    *error = QStringLiteral(u"не переносится %1").arg(QDir::toNativeSeparators(wal));
    return false;
  }
  QFile::remove(path_ + QStringLiteral("-shm"));
  *movedTo = target;
  return true;
}

bool ResultStore::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

QString ResultStore::sqliteError(const char* what) const {
  return QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromUtf8(sqlite3_errmsg(db_)));
}

bool ResultStore::setUp(QString* error) {
  const bool writable = (sqlite3_db_readonly(db_, "main") == 0);
  auto intPragma = [this](const char* sql, qint64* value) {
    sqlite3_stmt* st = nullptr;
    bool ok = sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW;
    if (ok) *value = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return ok;
  };
  qint64 version = 0, appId = 0, tables = 0;
  if (!intPragma("PRAGMA user_version", &version) || !intPragma("PRAGMA application_id", &appId) ||
      !intPragma("SELECT count(*) FROM sqlite_schema", &tables)) {
    *error = sqliteError("не читается база данных");
    return false;
  }
  if (tables > 0 && appId != kApplicationId) {
    *error = QStringLiteral(u"%1 не является базой данных результатов этой программы").arg(QDir::toNativeSeparators(path_));
    return false;
  }
  if (version > kSchemaVersion) {
    *error = QStringLiteral(u"база данных создана более новой версией программы (схема %1)").arg(version);
    return false;
  }

  if (writable) {
    // Synchronous FULL: in WAL mode every commit then waits for the log to
    // reach the disk, so a result is safe once append() returns and a power
    // cut loses at most the one being written. NORMAL syncs only at
    // checkpoints and may lose the last commits; EXTRA adds nothing in WAL
    // mode. The cost, about one fsync a second, is what the benchmark measures.
    sqlite3_stmt* st = nullptr;
    QString mode;
    if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      mode = text(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    if (mode != QLatin1String("wal")) {
      *error = sqliteError("не включается журнал WAL");
      return false;
    }
    // The log stays at its largest size between checkpoints unless limited.
    if (!exec(g_durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL") ||
        !exec("PRAGMA journal_size_limit=16777216") ||
        !exec(QByteArrayLiteral("PRAGMA wal_autocheckpoint=").append(QByteArray::number(kCheckpointPages)).constData())) {
      *error = sqliteError("не настраивается журнал");
      return false;
    }
    if (version == 1) {
      // Results and events stay as they are; the averages' table is added.
      const QByteArray sql = QByteArrayLiteral("BEGIN IMMEDIATE;") + averagesSchemaSql().toUtf8() +
                             QByteArrayLiteral("PRAGMA user_version=2;COMMIT;");
      if (!exec(sql.constData())) {
        *error = sqliteError("cannot add the emission averages");
        exec("ROLLBACK");
        return false;
      }
      version = 2;
    }
    if (version == 0) {
      const QByteArray sql = QByteArrayLiteral("BEGIN IMMEDIATE;") + schemaSql().toUtf8() + averagesSchemaSql().toUtf8() +
                             QByteArrayLiteral("PRAGMA application_id=") + QByteArray::number(kApplicationId) +
                             QByteArrayLiteral(";PRAGMA user_version=") + QByteArray::number(kSchemaVersion) +
                             QByteArrayLiteral(";COMMIT;");
      if (!exec(sql.constData())) {
        *error = sqliteError("не создаются таблицы");
        exec("ROLLBACK");
        return false;
      }
      version = kSchemaVersion;
    }
  } else if (version == 0) {
    *error = QStringLiteral(u"база данных ещё не подготовлена");
    return false;
  }

  st_ = std::make_unique<Statements>();
  const QString columns = resultColumns();
  QStringList marks;
  for (int i = 0; i < 8 + kChannelCount; ++i) marks << QStringLiteral("?");
  const QByteArray insertResult =
      QStringLiteral("INSERT INTO results (%1) VALUES (%2)").arg(columns, marks.join(QLatin1Char(','))).toUtf8();
  const QByteArray inRange =
      QStringLiteral("SELECT %1 FROM results WHERE utc_ms >= ?1 AND utc_ms < ?2 ORDER BY utc_ms, seq").arg(columns).toUtf8();
  const QByteArray onDay = QStringLiteral("SELECT %1 FROM results WHERE utc_ms >= ?1 AND utc_ms < ?2"
                                          " AND utc_ms + utc_offset * 1000 >= ?3 AND utc_ms + utc_offset * 1000 < ?4"
                                          " ORDER BY utc_ms, seq")
                               .arg(columns)
                               .toUtf8();
  const QByteArray after =
      QStringLiteral("SELECT %1 FROM results WHERE seq > ?1 ORDER BY seq LIMIT ?2").arg(columns).toUtf8();
  const struct {
    sqlite3_stmt** st;
    const char* sql;
  } statements[] = {
      {&st_->begin, "BEGIN IMMEDIATE"},
      {&st_->commit, "COMMIT"},
      {&st_->rollback, "ROLLBACK"},
      {&st_->insertResult, insertResult.constData()},
      {&st_->insertDay, "INSERT OR IGNORE INTO result_days (day) VALUES (?1)"},
      {&st_->insertEvent, "INSERT INTO events (id, utc_ms, utc_offset, kind, text) VALUES (?1, ?2, ?3, ?4, ?5)"},
      {&st_->resultsInRange, inRange.constData()},
      {&st_->resultsOnDay, onDay.constData()},
      {&st_->resultsAfter, after.constData()},
      {&st_->eventsInRange,
       "SELECT id, utc_ms, utc_offset, kind, text FROM events WHERE utc_ms >= ?1 AND utc_ms < ?2 ORDER BY utc_ms, id"},
      {&st_->eventsAfter, "SELECT id, utc_ms, utc_offset, kind, text FROM events WHERE id > ?1 ORDER BY id LIMIT ?2"},
      {&st_->getCursor, "SELECT last_seq FROM forward_cursors WHERE consumer = ?1"},
      {&st_->setCursor,
       "INSERT INTO forward_cursors (consumer, last_seq) VALUES (?1, ?2)"
       " ON CONFLICT (consumer) DO UPDATE SET last_seq = excluded.last_seq"},
      {&st_->days, "SELECT day FROM result_days ORDER BY day"},
      {&st_->daysWithoutLog,
       "SELECT day FROM result_days WHERE day < ?1 AND day NOT IN (SELECT day FROM daily_logs) ORDER BY day"},
      {&st_->markLog,
       "INSERT INTO daily_logs (day, written_utc_ms) VALUES (?1, ?2)"
       " ON CONFLICT (day) DO UPDATE SET written_utc_ms = excluded.written_utc_ms"},
  };
  for (const auto& s : statements) {
    if (sqlite3_prepare_v3(db_, s.sql, -1, SQLITE_PREPARE_PERSISTENT, s.st, nullptr) != SQLITE_OK) {
      *error = sqliteError("не готовятся запросы");
      return false;
    }
  }
  return version < 2 || prepareAverages(error);
}

bool ResultStore::prepareAverages(QString* error) {
  const QString columns = averageColumns();
  QStringList marks;
  for (int i = 1; i <= kAverageColumnCount; ++i) marks << QStringLiteral("?%1").arg(i);
  const QByteArray store = QStringLiteral("INSERT OR REPLACE INTO emission_averages (%1) VALUES (%2)")
                               .arg(columns, marks.join(QLatin1Char(',')))
                               .toUtf8();
  const QByteArray inRange = QStringLiteral("SELECT %1 FROM emission_averages WHERE period = ?1 AND"
                                            " interval_minutes = ?2 AND start_utc_ms >= ?3 AND start_utc_ms < ?4"
                                            " ORDER BY start_utc_ms")
                                 .arg(columns)
                                 .toUtf8();
  if (sqlite3_prepare_v3(db_, store.constData(), -1, SQLITE_PREPARE_PERSISTENT, &st_->storeAverage, nullptr) !=
          SQLITE_OK ||
      sqlite3_prepare_v3(db_, inRange.constData(), -1, SQLITE_PREPARE_PERSISTENT, &st_->averagesInRange,
                         nullptr) != SQLITE_OK) {
    *error = sqliteError("cannot prepare the statements");
    return false;
  }
  return true;
}

bool ResultStore::loadCounters(QString* error) {
  sqlite3_stmt* st = nullptr;
  const bool ok =
      sqlite3_prepare_v2(db_, "SELECT (SELECT max(seq) FROM results), (SELECT max(id) FROM events)", -1, &st,
                         nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW;
  if (ok) {
    lastCommittedSeq_ = sqlite3_column_int64(st, 0);
    nextSeq_ = lastCommittedSeq_ + 1;
    nextEventId_ = sqlite3_column_int64(st, 1) + 1;
  } else {
    *error = sqliteError("не читается база данных");
  }
  sqlite3_finalize(st);
  return ok;
}

void ResultStore::close() {
  closeConnection();
  lock_.reset();
  writable_ = false;
  pending_.clear();
  failing_ = false;
  nextSeq_ = nextEventId_ = 1;
  lastCommittedSeq_ = 0;
  lastDay_ = std::numeric_limits<qint64>::min();
}

ResultStore::AppendOutcome ResultStore::append(const Result& result) {
  const std::vector<Result> one{result};
  return appendBatch(one);
}

ResultStore::AppendOutcome ResultStore::appendBatch(const std::vector<Result>& results,
                                                    const std::function<void(int)>& progress) {
  if (!isWritable()) return {0, AppendState::Rejected, false, 0, QStringLiteral(u"база данных не открыта для записи")};
  const qint64 first = nextSeq_;
  nextSeq_ += qint64(results.size());
  AppendOutcome outcome = commit(first, &results, progress);
  outcome.id = results.empty() ? 0 : first;
  return outcome;
}

ResultStore::AppendOutcome ResultStore::appendEvent(qint64 utcMs, int32_t utcOffset, EventKind kind,
                                                    const QString& text) {
  if (!isWritable()) return {0, AppendState::Rejected, false, 0, QStringLiteral(u"база данных не открыта для записи")};
  const int before = int(pending_.size());
  const qint64 id = nextEventId_++;
  pending_.emplace_back(StoredEvent{id, utcMs, utcOffset, kind, text});
  AppendOutcome outcome = commit(0, nullptr, {});
  outcome.id = id;
  if (outcome.state == AppendState::Committed) outcome.flushed = before;
  return outcome;
}

bool ResultStore::flushPending() {
  if (pending_.empty()) return true;
  if (!isWritable()) return false;
  return commit(0, nullptr, {}).state == AppendState::Committed;
}

// One transaction: what is pending, then the batch with sequence numbers from
// `firstSeq`. On failure the batch joins the pending items, in order.
ResultStore::AppendOutcome ResultStore::commit(qint64 firstSeq, const std::vector<Result>* batch,
                                               const std::function<void(int)>& progress) {
  AppendOutcome outcome;
  const int pendingBefore = int(pending_.size());
  qint64 day = lastDay_, lastSeq = lastCommittedSeq_;
  auto writeResult = [&](qint64 seq, const Result& r) {
    sqlite3_stmt* st = st_->insertResult;
    sqlite3_bind_int64(st, 1, seq);
    sqlite3_bind_int64(st, 2, r.utcMs);
    sqlite3_bind_int64(st, 3, r.utcOffset);
    sqlite3_bind_int64(st, 4, r.faultBits);
    sqlite3_bind_int64(st, 5, specialsOf(r));
    sqlite3_bind_int(st, 6, int(r.mode));
    sqlite3_bind_int(st, 7, r.fuelIndex);
    sqlite3_bind_int(st, 8, r.address);
    for (int ch = 0; ch < kChannelCount; ++ch) bindValue(st, 9 + ch, ch, r.values[size_t(ch)]);
    if (!run(st)) return false;
    lastSeq = seq;
    const qint64 d = localDay(r.utcMs, r.utcOffset);
    if (d == day) return true;
    sqlite3_bind_int64(st_->insertDay, 1, d);
    day = d;
    return run(st_->insertDay);
  };
  auto writeEvent = [&](const StoredEvent& e) {
    sqlite3_stmt* st = st_->insertEvent;
    sqlite3_bind_int64(st, 1, e.id);
    sqlite3_bind_int64(st, 2, e.utcMs);
    sqlite3_bind_int64(st, 3, e.utcOffset);
    sqlite3_bind_int(st, 4, int(e.kind));
    const QByteArray utf8 = e.text.toUtf8();
    sqlite3_bind_text(st, 5, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return run(st);
  };

  bool ok = run(st_->begin);
  for (auto it = pending_.begin(); ok && it != pending_.end(); ++it) {
    if (const auto* r = std::get_if<StoredResult>(&*it))
      ok = writeResult(r->seq, r->result);
    else
      ok = writeEvent(std::get<StoredEvent>(*it));
  }
  const size_t count = batch ? batch->size() : 0;
  for (size_t i = 0; ok && i < count; ++i) {
    ok = writeResult(firstSeq + qint64(i), (*batch)[i]);
    if (progress && (i + 1) % kProgressEvery == 0) progress(int(i + 1));
  }
  ok = ok && run(st_->commit);

  if (ok) {
    pending_.clear();
    failing_ = false;
    lastDay_ = day;
    lastCommittedSeq_ = lastSeq;
    outcome.state = AppendState::Committed;
    outcome.flushed = pendingBefore;
    return outcome;
  }
  outcome.error = lastError_ = sqliteError("ошибка записи в базу данных");
  if (!sqlite3_get_autocommit(db_)) run(st_->rollback);
  for (size_t i = 0; i < count; ++i) pending_.emplace_back(StoredResult{firstSeq + qint64(i), (*batch)[i]});
  outcome.state = AppendState::Pending;
  outcome.failureStarted = !failing_;
  failing_ = true;
  return outcome;
}

std::vector<StoredResult> ResultStore::results(qint64 fromUtcMs, qint64 toUtcMs) const {
  std::vector<StoredResult> out;
  if (!db_ || fromUtcMs >= toUtcMs) return out;
  sqlite3_stmt* st = st_->resultsInRange;
  Rewind rewind{st};
  sqlite3_bind_int64(st, 1, fromUtcMs);
  sqlite3_bind_int64(st, 2, toUtcMs);
  // One a second is the usual rate; a guess saves the vector's regrowth.
  out.reserve(size_t(std::min<qint64>((toUtcMs - fromUtcMs) / 1000 + 1, 86400 + 3600)));
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(readResult(st));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("не читаются результаты");
  return out;
}

std::vector<StoredResult> ResultStore::resultsOnDay(const QDate& day) const {
  std::vector<StoredResult> out;
  if (!db_ || !day.isValid()) return out;
  // Local clocks are at most 18 hours off UTC: the index narrows the search
  // to that much around the day, each result's own offset does the rest.
  constexpr qint64 kMaxOffsetMs = 18 * 3600 * 1000;
  const qint64 start = dayOfDate(day) * kMsPerDay, end = start + kMsPerDay;
  sqlite3_stmt* st = st_->resultsOnDay;
  Rewind rewind{st};
  sqlite3_bind_int64(st, 1, start - kMaxOffsetMs);
  sqlite3_bind_int64(st, 2, end + kMaxOffsetMs);
  sqlite3_bind_int64(st, 3, start);
  sqlite3_bind_int64(st, 4, end);
  out.reserve(86400 + 3600);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(readResult(st));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("не читаются результаты");
  return out;
}

std::vector<StoredResult> ResultStore::resultsAfter(qint64 seq, int limit) const {
  std::vector<StoredResult> out;
  if (!db_ || limit <= 0) return out;
  sqlite3_stmt* st = st_->resultsAfter;
  Rewind rewind{st};
  sqlite3_bind_int64(st, 1, seq);
  sqlite3_bind_int(st, 2, limit);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(readResult(st));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("не читаются результаты");
  return out;
}

QVector<StoredEvent> ResultStore::events(qint64 fromUtcMs, qint64 toUtcMs) const {
  QVector<StoredEvent> out;
  if (!db_) return out;
  sqlite3_stmt* st = st_->eventsInRange;
  Rewind rewind{st};
  sqlite3_bind_int64(st, 1, fromUtcMs);
  sqlite3_bind_int64(st, 2, toUtcMs);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(readEvent(st));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("не читаются события");
  return out;
}

QVector<StoredEvent> ResultStore::eventsAfter(qint64 id, int limit) const {
  QVector<StoredEvent> out;
  if (!db_ || limit <= 0) return out;
  sqlite3_stmt* st = st_->eventsAfter;
  Rewind rewind{st};
  sqlite3_bind_int64(st, 1, id);
  sqlite3_bind_int(st, 2, limit);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(readEvent(st));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("не читаются события");
  return out;
}

qint64 ResultStore::cursor(const QString& consumer) const {
  if (!db_) return 0;
  sqlite3_stmt* st = st_->getCursor;
  Rewind rewind{st};
  const QByteArray name = consumer.toUtf8();
  sqlite3_bind_text(st, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) return sqlite3_column_int64(st, 0);
  if (rc != SQLITE_DONE) lastError_ = sqliteError("не читается позиция передачи");
  return 0;
}

bool ResultStore::setCursor(const QString& consumer, qint64 seq) {
  if (!isWritable()) return false;
  const QByteArray name = consumer.toUtf8();
  sqlite3_bind_text(st_->setCursor, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st_->setCursor, 2, seq);
  if (run(st_->setCursor)) return true;
  lastError_ = sqliteError("не записывается позиция передачи");
  return false;
}

QVector<QDate> ResultStore::daysWithResults() const {
  QVector<QDate> out;
  if (!db_) return out;
  sqlite3_stmt* st = st_->days;
  Rewind rewind{st};
  while (sqlite3_step(st) == SQLITE_ROW) out.push_back(dateOfDay(sqlite3_column_int64(st, 0)));
  return out;
}

QVector<QDate> ResultStore::daysWithoutLog(const QDate& before) const {
  QVector<QDate> out;
  if (!db_) return out;
  sqlite3_stmt* st = st_->daysWithoutLog;
  Rewind rewind{st};
  sqlite3_bind_int64(st, 1, before.isValid() ? dayOfDate(before) : std::numeric_limits<qint64>::max());
  while (sqlite3_step(st) == SQLITE_ROW) out.push_back(dateOfDay(sqlite3_column_int64(st, 0)));
  return out;
}

bool ResultStore::markLogWritten(const QDate& day, qint64 nowUtcMs) {
  if (!isWritable() || !day.isValid()) return false;
  sqlite3_bind_int64(st_->markLog, 1, dayOfDate(day));
  sqlite3_bind_int64(st_->markLog, 2, nowUtcMs);
  if (run(st_->markLog)) return true;
  lastError_ = sqliteError("не отмечается записанный суточный журнал");
  return false;
}

bool ResultStore::storeAverages(const QVector<StoredAverage>& averages) {
  if (!isWritable() || !st_->storeAverage) {
    lastError_ = QStringLiteral("the database is not open for writing");
    return false;
  }
  if (averages.isEmpty()) return true;
  sqlite3_stmt* st = st_->storeAverage;
  bool ok = run(st_->begin);
  for (const StoredAverage& a : averages) {
    if (!ok) break;
    sqlite3_bind_int(st, 1, int(a.period));
    sqlite3_bind_int(st, 2, a.intervalMinutes);
    sqlite3_bind_int64(st, 3, a.startUtcMs);
    sqlite3_bind_int64(st, 4, a.endUtcMs);
    sqlite3_bind_int64(st, 5, a.startOffset);
    sqlite3_bind_int64(st, 6, a.endOffset);
    sqlite3_bind_int(st, 7, a.count);
    for (int c = 0; c < kStoredComponentCount; ++c) {
      const StoredComponentAverage& ca = a.components[size_t(c)];
      const int col = 8 + 4 * c;
      if (ca.count > 0 && std::isfinite(ca.mean))
        sqlite3_bind_double(st, col, ca.mean);
      else
        sqlite3_bind_null(st, col);
      sqlite3_bind_int(st, col + 1, ca.count);
      sqlite3_bind_int(st, col + 2, ca.valid ? 1 : 0);
      sqlite3_bind_int(st, col + 3, ca.exceedance);
    }
    ok = run(st);
  }
  sqlite3_clear_bindings(st);
  ok = ok && run(st_->commit);
  if (ok) return true;
  lastError_ = sqliteError("cannot store emission averages");
  if (!sqlite3_get_autocommit(db_)) run(st_->rollback);
  return false;
}

QVector<StoredAverage> ResultStore::averages(AveragePeriodKind period, int intervalMinutes, qint64 fromUtcMs,
                                             qint64 toUtcMs) const {
  QVector<StoredAverage> out;
  if (!db_ || !st_->averagesInRange || fromUtcMs >= toUtcMs) return out;
  sqlite3_stmt* st = st_->averagesInRange;
  Rewind rewind{st};
  sqlite3_bind_int(st, 1, int(period));
  sqlite3_bind_int(st, 2, intervalMinutes);
  sqlite3_bind_int64(st, 3, fromUtcMs);
  sqlite3_bind_int64(st, 4, toUtcMs);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.append(readAverage(st));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("cannot read emission averages");
  return out;
}

QVector<StoredAverage> ResultStore::allAverages(qint64 fromUtcMs, qint64 toUtcMs) const {
  QVector<StoredAverage> out;
  if (!db_ || !st_->averagesInRange || fromUtcMs >= toUtcMs) return out;
  const QByteArray sql = QStringLiteral("SELECT %1 FROM emission_averages WHERE start_utc_ms >= ?1 AND start_utc_ms < ?2"
                                        " ORDER BY period, interval_minutes, start_utc_ms")
                             .arg(averageColumns())
                             .toUtf8();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
    lastError_ = sqliteError("cannot read emission averages");
    return out;
  }
  sqlite3_bind_int64(st, 1, fromUtcMs);
  sqlite3_bind_int64(st, 2, toUtcMs);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.append(readAverage(st));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("cannot read emission averages");
  sqlite3_finalize(st);
  return out;
}
