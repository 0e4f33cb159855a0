#include "data/audit_trail.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <mutex>

#include "data/day_digest.h"
#include "data/result_store.h"
#include "data/hashes.h"
#include "platform/seams.h"

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

namespace {

constexpr int kApplicationId = 0x4B52564B;  // ResultStore's "KRVK"
constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kMaxOffsetMs = 18 * 3600 * 1000;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS audit_entries (
  id INTEGER PRIMARY KEY,
  utc_ms INTEGER NOT NULL,
  utc_offset INTEGER NOT NULL,
  user TEXT NOT NULL,
  os_user TEXT NOT NULL,
  kind INTEGER NOT NULL,
  subject TEXT NOT NULL,
  before TEXT NOT NULL,
  after TEXT NOT NULL,
  text TEXT NOT NULL,
  prev_hash TEXT NOT NULL,
  hash TEXT NOT NULL
) STRICT;
CREATE INDEX IF NOT EXISTS audit_entries_by_time ON audit_entries (utc_ms);
CREATE INDEX IF NOT EXISTS audit_entries_by_kind ON audit_entries (kind, subject);
CREATE TABLE IF NOT EXISTS audit_files (
  name TEXT PRIMARY KEY,
  content TEXT NOT NULL,
  utc_ms INTEGER NOT NULL
) STRICT, WITHOUT ROWID;
)sql";

// The program never changes an entry; these make a slip of its own fail
// loudly. They are no protection against whoever edits the file: the chain is.
const char* const kGuards = R"sql(
CREATE TRIGGER IF NOT EXISTS audit_entries_never_updated BEFORE UPDATE ON audit_entries
  BEGIN SELECT RAISE(ABORT, 'audit entries are never changed'); END;
CREATE TRIGGER IF NOT EXISTS audit_entries_never_deleted BEFORE DELETE ON audit_entries
  BEGIN SELECT RAISE(ABORT, 'audit entries are never deleted'); END;
)sql";

const char* const kEntryColumns =
    "id, utc_ms, utc_offset, user, os_user, kind, subject, before, after, text, prev_hash, hash";

QByteArray zeros() { return QByteArray(32, '\0'); }

void appendField(QByteArray& out, const QByteArray& bytes) {
  char length[4];
  qToBigEndian<quint32>(quint32(bytes.size()), length);
  out.append(length, 4);
  out.append(bytes);
}

QString columnText(sqlite3_stmt* st, int col) {
  return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, col)), sqlite3_column_bytes(st, col));
}

void bindText(sqlite3_stmt* st, int col, const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  sqlite3_bind_text(st, col, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

AuditEntry readEntry(sqlite3_stmt* st) {
  AuditEntry e;
  e.id = sqlite3_column_int64(st, 0);
  e.utcMs = sqlite3_column_int64(st, 1);
  e.utcOffset = int32_t(sqlite3_column_int64(st, 2));
  e.user = columnText(st, 3);
  e.osUser = columnText(st, 4);
  e.kind = AuditKind(sqlite3_column_int(st, 5));
  e.subject = columnText(st, 6);
  e.before = columnText(st, 7);
  e.after = columnText(st, 8);
  e.text = columnText(st, 9);
  e.prevHash = QByteArray::fromHex(columnText(st, 10).toLatin1());
  e.hash = QByteArray::fromHex(columnText(st, 11).toLatin1());
  return e;
}

QString dayText(const QDate& day) { return day.toString(QStringLiteral("dd.MM.yyyy")); }

}  // namespace

// ---------------------------------------------------------------------------
// Kinds

QString auditKindName(AuditKind kind) {
  switch (kind) {
    case AuditKind::ProgramStarted: return QStringLiteral("programStarted");
    case AuditKind::ProgramStopped: return QStringLiteral("programStopped");
    case AuditKind::SettingChanged: return QStringLiteral("settingChanged");
    case AuditKind::SettingChangedOutside: return QStringLiteral("settingChangedOutside");
    case AuditKind::MaintenanceOn: return QStringLiteral("maintenanceOn");
    case AuditKind::MaintenanceOff: return QStringLiteral("maintenanceOff");
    case AuditKind::SubstituteValue: return QStringLiteral("substituteValue");
    case AuditKind::AlarmAcknowledged: return QStringLiteral("alarmAcknowledged");
    case AuditKind::DatabaseMovedAside: return QStringLiteral("databaseMovedAside");
    case AuditKind::DailyLogWritten: return QStringLiteral("dailyLogWritten");
    case AuditKind::Login: return QStringLiteral("login");
    case AuditKind::LoginFailed: return QStringLiteral("loginFailed");
    case AuditKind::Logout: return QStringLiteral("logout");
    case AuditKind::DaySealed: return QStringLiteral("daySealed");
    case AuditKind::DayResealed: return QStringLiteral("dayResealed");
    case AuditKind::ChainContinued: return QStringLiteral("chainContinued");
    case AuditKind::TrailBroken: return QStringLiteral("trailBroken");
    case AuditKind::UserAdded: return QStringLiteral("userAdded");
    case AuditKind::UserChanged: return QStringLiteral("userChanged");
    case AuditKind::UserRemoved: return QStringLiteral("userRemoved");
    case AuditKind::AccountLocked: return QStringLiteral("accountLocked");
    case AuditKind::SettingsFileTaken: return QStringLiteral("settingsFileTaken");
  }
  return QStringLiteral("kind%1").arg(int(kind));
}

QString auditKindText(AuditKind kind) {
  switch (kind) {
    case AuditKind::ProgramStarted: return QStringLiteral(u"Запуск программы");
    case AuditKind::ProgramStopped: return QStringLiteral(u"Остановка программы");
    case AuditKind::SettingChanged: return QStringLiteral(u"Изменение настройки");
    case AuditKind::SettingChangedOutside: return QStringLiteral(u"Изменено вне программы");
    case AuditKind::MaintenanceOn: return QStringLiteral(u"Обслуживание начато");
    case AuditKind::MaintenanceOff: return QStringLiteral(u"Обслуживание закончено");
    case AuditKind::SubstituteValue: return QStringLiteral(u"Замещающее значение");
    case AuditKind::AlarmAcknowledged: return QStringLiteral(u"Квитирование сигнализации");
    case AuditKind::DatabaseMovedAside: return QStringLiteral(u"База данных перенесена");
    case AuditKind::DailyLogWritten: return QStringLiteral(u"Суточный журнал записан");
    case AuditKind::Login: return QStringLiteral(u"Вход");
    case AuditKind::LoginFailed: return QStringLiteral(u"Неудачный вход");
    case AuditKind::Logout: return QStringLiteral(u"Выход");
    case AuditKind::DaySealed: return QStringLiteral(u"День опечатан");
    case AuditKind::DayResealed: return QStringLiteral(u"День опечатан заново");
    case AuditKind::ChainContinued: return QStringLiteral(u"Цепочка продолжена");
    case AuditKind::TrailBroken: return QStringLiteral(u"Нарушение журнала аудита");
    case AuditKind::UserAdded: return QStringLiteral(u"Пользователь добавлен");
    case AuditKind::UserChanged: return QStringLiteral(u"Пользователь изменён");
    case AuditKind::UserRemoved: return QStringLiteral(u"Пользователь удалён");
    case AuditKind::AccountLocked: return QStringLiteral(u"Учётная запись заблокирована");
    case AuditKind::SettingsFileTaken: return QStringLiteral(u"Файл настроек под контролем");
  }
  return QStringLiteral(u"Вид %1").arg(int(kind));
}

QVector<AuditKind> allAuditKinds() {
  QVector<AuditKind> kinds;
  for (int k = int(AuditKind::ProgramStarted); k <= int(AuditKind::SettingsFileTaken); ++k) kinds.append(AuditKind(k));
  return kinds;
}

// ---------------------------------------------------------------------------
// Hashes and the head file

QByteArray entryHashInput(const AuditEntry& e) {
  QByteArray out("korvex-audit/1", 14);
  out.append('\0');
  appendField(out, QByteArray::number(e.id));
  appendField(out, QByteArray::number(e.utcMs));
  appendField(out, QByteArray::number(e.utcOffset));
  appendField(out, QByteArray::number(int(e.kind)));
  for (const QString* s : {&e.user, &e.osUser, &e.subject, &e.before, &e.after, &e.text}) appendField(out, s->toUtf8());
  out.append(e.prevHash.size() == 32 ? e.prevHash : zeros());
  return out;
}

QByteArray entryHash(const AuditEntry& entry) { return Sha256::of(entryHashInput(entry)); }

QString ChainHead::text() const { return QStringLiteral("%1 %2").arg(id).arg(QString::fromLatin1(hash.toHex())); }

ChainHead ChainHead::fromText(const QString& text) {
  ChainHead h;
  const QStringList parts = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (parts.size() != 2 || parts[1].size() != 64) return h;
  bool ok = false;
  const qint64 id = parts[0].toLongLong(&ok);
  const QByteArray hash = QByteArray::fromHex(parts[1].toLatin1());
  if (!ok || id <= 0 || hash.size() != 32) return h;
  h.id = id;
  h.hash = hash;
  return h;
}

namespace {
// A head file of a chain begun with nothing committed yet.
constexpr char kChainBegun[] = "begun";
}  // namespace

QString chainHeadPath(const QString& dbPath) {
  const QFileInfo db(dbPath);
  return db.absoluteDir().filePath(db.completeBaseName() + QStringLiteral("-audit.head"));
}

bool readChainHead(const QString& dbPath, ChainHead* head, bool* exists) {
  QFile file(chainHeadPath(dbPath));
  if (exists) *exists = file.exists();
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QList<QByteArray> lines = file.read(4096).split('\n');
  if (lines.size() < 2 || lines[0] != "korvex-audit-head/1") return false;
  if (lines[1] == kChainBegun) {
    *head = ChainHead();
    return true;
  }
  *head = ChainHead::fromText(QString::fromLatin1(lines[1]));
  return head->isValid();
}

bool writeChainHead(const QString& dbPath, const ChainHead& head, QString* error) {
  QSaveFile file(chainHeadPath(dbPath));
  file.setDirectWriteFallback(false);
  const QByteArray bytes =
      "korvex-audit-head/1\n" + (head.isValid() ? head.text().toLatin1() : QByteArray(kChainBegun)) + '\n';
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size() ||
      !file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

QString osUserName() {
#ifdef Q_OS_UNIX
  // The account the process runs as, not what the environment claims.
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
    return QString::fromLocal8Bit(found->pw_name);
  return QStringLiteral("uid %1").arg(geteuid());
#else
  const QString name = qEnvironmentVariable("USERNAME");
  return name.isEmpty() ? QStringLiteral("?") : name;
#endif
}

bool isSecretSetting(const QString& key) {
  const QString k = key.toLower();
  return k.contains(QLatin1String("password")) || k.contains(QLatin1String("passwd")) ||
         k.contains(QLatin1String("secret")) || k.contains(QLatin1String("passwordhash")) ||
         k.endsWith(QLatin1String("key")) || k.contains(QLatin1String("пароль"));
}

QString withoutSecrets(const QString& key, const QString& value) {
  if (isSecretSetting(key)) return value.isEmpty() ? QString() : QStringLiteral(u"(скрыто)");
  // A libpq connection string or URI may carry a password: only that part goes.
  static const QRegularExpression keyword(QStringLiteral(R"((password\s*=\s*)('(?:[^'\\]|\\.)*'|\S+))"),
                                          QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression uri(QStringLiteral(R"(^(\w+://[^:/@]*:)([^@]*)(@))"));
  QString v = value;
  v.replace(keyword, QStringLiteral(u"\\1(скрыто)"));
  v.replace(uri, QStringLiteral(u"\\1(скрыто)\\3"));
  return v;
}

// ---------------------------------------------------------------------------
// AuditTrail

AuditTrail::AuditTrail() : osUser_(osUserName()) {}

AuditTrail::~AuditTrail() { close(); }

bool AuditTrail::openConnection(bool writable, QString* error) {
  const int flags =
      SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX | (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
#ifdef Q_OS_WIN
  const QByteArray name = path_.toUtf8();
#else
  const QByteArray name = QFile::encodeName(path_);
#endif
  const int rc = sqlite3_open_v2(name.constData(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    if (error)
      *error = QStringLiteral(u"не открывается %1: %2").arg(QDir::toNativeSeparators(path_), QString::fromUtf8(sqlite3_errstr(rc)));
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  // The results' connection commits a result a second; ours waits for it.
  sqlite3_busy_timeout(db_, 5000);
  return true;
}

bool AuditTrail::open(const QString& dbPath, bool writable, QString* error) {
  close();
  path_ = dbPath;
  if (!sodiumReady()) {
    if (error) *error = QStringLiteral(u"не готова библиотека libsodium");
    return false;
  }
  if (!QFileInfo(dbPath).isFile()) {
    if (error) *error = QStringLiteral(u"нет файла %1").arg(QDir::toNativeSeparators(dbPath));
    return false;
  }
  writable_ = writable;
  if (!openConnection(writable, error) || !setUp(error) || !loadHead(error)) {
    close();
    return false;
  }
  return true;
}

bool AuditTrail::openForReading(const QString& dbPath, QString* error) { return open(dbPath, false, error); }

void AuditTrail::close() {
  if (db_) {
    if (writable_) flushPending();
    sqlite3_close_v2(db_);
  }
  db_ = nullptr;
  writable_ = false;
  head_ = committedHead_ = continuesFrom_ = ChainHead();
  pending_.clear();
  failing_ = false;
}

bool AuditTrail::setUp(QString* error) {
  auto fail = [&](const char* what) {
    if (error) *error = QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromUtf8(sqlite3_errmsg(db_)));
    return false;
  };
  sqlite3_stmt* st = nullptr;
  qint64 appId = 0;
  if (sqlite3_prepare_v2(db_, "PRAGMA application_id", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    appId = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  if (appId != kApplicationId) {
    if (error)
      *error = QStringLiteral(u"%1 не является базой данных результатов этой программы").arg(QDir::toNativeSeparators(path_));
    return false;
  }
  if (!writable_) return true;
  if (sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK)
    return fail("не настраивается журнал");
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, kGuards, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    const bool failed = fail("не создаются таблицы журнала аудита");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return failed;
  }
  return true;
}

bool AuditTrail::loadHead(QString* error) {
  head_ = committedHead_ = continuesFrom_ = ChainHead();
  if (sqlite3_table_column_metadata(db_, "main", "audit_entries", "id", nullptr, nullptr, nullptr, nullptr, nullptr) !=
      SQLITE_OK)
    return true;  // read-only, a database from before the trail: an empty trail
  const QVector<AuditEntry> last = newestEntries(1);
  if (!lastError_.isEmpty()) {
    if (error) *error = lastError_;
    return false;
  }
  if (!last.isEmpty()) {
    head_ = committedHead_ = {last[0].id, last[0].hash};
    return true;
  }
  ChainHead file;
  bool exists = false;
  if (writable_ && readChainHead(path_, &file, &exists) && file.isValid()) {
    // An empty trail beside the end of an earlier chain: this database
    // replaces one that was moved aside or lost. The chain goes on.
    continuesFrom_ = head_ = file;
  } else if (writable_ && !exists) {
    // The head file exists before the first entry does: a start killed
    // between the first commit and the first head leaves a head one commit
    // behind, which a check accepts, and never a trail without a head
    // file, which it takes for the head deleted.
    QString why;
    if (!writeChainHead(path_, ChainHead(), &why))
      lastError_ = QStringLiteral(u"не записывается конец цепочки: %1").arg(why);
  }
  return true;
}

qint64 AuditTrail::record(AuditKind kind, const QString& subject, const QString& text, const QString& before,
                          const QString& after) {
  if (!isWritable()) return 0;
  // The first entry of a database that continues a chain says so.
  if (continuesFrom_.isValid() && committedHead_.id == 0 && pending_.empty() && kind != AuditKind::ChainContinued &&
      kind != AuditKind::DatabaseMovedAside)
    record(AuditKind::ChainContinued, QString(),
           QStringLiteral(u"Начата новая база данных; прежняя цепочка кончается записью %1").arg(continuesFrom_.id),
           continuesFrom_.text());
  const QDateTime now = seams::currentDateTime();
  AuditEntry e;
  e.id = head_.id + 1;
  e.utcMs = now.toMSecsSinceEpoch();
  e.utcOffset = now.offsetFromUtc();
  e.user = user_;
  e.osUser = osUser_;
  e.kind = kind;
  e.subject = subject;
  e.before = before;
  e.after = after;
  e.text = text;
  e.prevHash = head_.isValid() ? head_.hash : zeros();
  e.hash = entryHash(e);
  head_ = {e.id, e.hash};
  pending_.push_back(e);
  commitPending();
  return e.id;
}

qint64 AuditTrail::recordSettingChange(const QString& key, const QString& before, const QString& after,
                                       bool outsideProgram) {
  const QString b = withoutSecrets(key, before), a = withoutSecrets(key, after);
  QString text;
  if (isSecretSetting(key))
    text = QStringLiteral(u"%1: изменено (значение не записывается)").arg(key);
  else
    text = QStringLiteral(u"%1: «%2» → «%3»").arg(key, b, a);
  if (outsideProgram) text = QStringLiteral(u"Изменено вне программы: ") + text;
  return record(outsideProgram ? AuditKind::SettingChangedOutside : AuditKind::SettingChanged, key, text, b, a);
}

qint64 AuditTrail::recordDatabaseMovedAside(const QString& movedTo) {
  const QString end = continuesFrom_.isValid() && committedHead_.id == 0 && pending_.empty()
                          ? continuesFrom_.text()
                          : QString();
  QString text = QStringLiteral(u"База данных была повреждена и перенесена в %1; начата новая").arg(QDir::toNativeSeparators(movedTo));
  if (!end.isEmpty()) text += QStringLiteral(u"; цепочка продолжается после записи %1").arg(continuesFrom_.id);
  return record(AuditKind::DatabaseMovedAside, movedTo, text, end);
}

bool AuditTrail::flushPending() {
  if (pending_.empty()) return true;
  if (!isWritable()) return false;
  return commitPending();
}

bool AuditTrail::commitPending() {
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db_,
                               "INSERT INTO audit_entries (id, utc_ms, utc_offset, user, os_user, kind, subject,"
                               " before, after, text, prev_hash, hash) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9,"
                               " ?10, ?11, ?12)",
                               -1, &st, nullptr) == SQLITE_OK;
  for (auto it = pending_.begin(); ok && it != pending_.end(); ++it) {
    const AuditEntry& e = *it;
    sqlite3_bind_int64(st, 1, e.id);
    sqlite3_bind_int64(st, 2, e.utcMs);
    sqlite3_bind_int64(st, 3, e.utcOffset);
    bindText(st, 4, e.user);
    bindText(st, 5, e.osUser);
    sqlite3_bind_int(st, 6, int(e.kind));
    bindText(st, 7, e.subject);
    bindText(st, 8, e.before);
    bindText(st, 9, e.after);
    bindText(st, 10, e.text);
    bindText(st, 11, QString::fromLatin1(e.prevHash.toHex()));
    bindText(st, 12, QString::fromLatin1(e.hash.toHex()));
    ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  ok = ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!ok) {
    lastError_ = QStringLiteral(u"не записывается журнал аудита: %1").arg(QString::fromUtf8(sqlite3_errmsg(db_)));
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    failing_ = true;
    return false;
  }
  committedHead_ = {pending_.back().id, pending_.back().hash};
  pending_.clear();
  failing_ = false;
  // After the commit: a crash between the two leaves the head file one
  // entry behind, which a check accepts; never ahead of the trail.
  QString error;
  if (!writeChainHead(path_, committedHead_, &error))
    lastError_ = QStringLiteral(u"не записывается конец цепочки: %1").arg(error);
  return true;
}

// ---------------------------------------------------------------------------
// Reading

QVector<AuditEntry> AuditTrail::query(const char* sql, const std::function<void(sqlite3_stmt*)>& bind) const {
  QVector<AuditEntry> out;
  lastError_.clear();
  if (!db_) return out;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) {
    // A database from before the trail has no table: an empty trail.
    if (sqlite3_table_column_metadata(db_, "main", "audit_entries", "id", nullptr, nullptr, nullptr, nullptr,
                                      nullptr) == SQLITE_OK)
      lastError_ = QStringLiteral(u"не читается журнал аудита: %1").arg(QString::fromUtf8(sqlite3_errmsg(db_)));
    sqlite3_finalize(st);
    return out;
  }
  if (bind) bind(st);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.append(readEntry(st));
  if (rc != SQLITE_DONE)
    lastError_ = QStringLiteral(u"не читается журнал аудита: %1").arg(QString::fromUtf8(sqlite3_errmsg(db_)));
  sqlite3_finalize(st);
  return out;
}

qint64 AuditTrail::count() const {
  if (!db_) return 0;
  sqlite3_stmt* st = nullptr;
  qint64 n = 0;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM audit_entries", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return n;
}

QVector<AuditEntry> AuditTrail::entriesAfter(qint64 id, int limit) const {
  const QByteArray sql = QByteArray("SELECT ") + kEntryColumns + " FROM audit_entries WHERE id > ?1 ORDER BY id LIMIT ?2";
  return query(sql.constData(), [&](sqlite3_stmt* st) {
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_int(st, 2, limit);
  });
}

QVector<AuditEntry> AuditTrail::newestEntries(int limit) const {
  const QByteArray sql = QByteArray("SELECT * FROM (SELECT ") + kEntryColumns +
                         " FROM audit_entries ORDER BY id DESC LIMIT ?1) ORDER BY id";
  return query(sql.constData(), [&](sqlite3_stmt* st) { sqlite3_bind_int(st, 1, limit); });
}

QVector<AuditEntry> AuditTrail::entriesBetween(qint64 fromUtcMs, qint64 toUtcMs) const {
  const QByteArray sql =
      QByteArray("SELECT ") + kEntryColumns + " FROM audit_entries WHERE utc_ms >= ?1 AND utc_ms < ?2 ORDER BY id";
  return query(sql.constData(), [&](sqlite3_stmt* st) {
    sqlite3_bind_int64(st, 1, fromUtcMs);
    sqlite3_bind_int64(st, 2, toUtcMs);
  });
}

AuditEntry AuditTrail::sealOf(const QDate& day) const {
  const QByteArray sql = QByteArray("SELECT ") + kEntryColumns +
                         " FROM audit_entries WHERE kind IN (14, 15) AND subject = ?1 ORDER BY id DESC LIMIT 1";
  const QVector<AuditEntry> found = query(sql.constData(), [&](sqlite3_stmt* st) {
    bindText(st, 1, day.toString(Qt::ISODate));
  });
  return found.isEmpty() ? AuditEntry() : found[0];
}

QVector<AuditEntry> AuditTrail::latestSeals() const {
  const QByteArray sql = QByteArray("SELECT ") + kEntryColumns +
                         " FROM audit_entries WHERE id IN (SELECT max(id) FROM audit_entries WHERE kind IN (14, 15)"
                         " GROUP BY subject) ORDER BY subject";
  return query(sql.constData(), {});
}

QVector<QDate> AuditTrail::sealedDays() const {
  QVector<QDate> days;
  if (!db_) return days;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT DISTINCT subject FROM audit_entries WHERE kind IN (14, 15) ORDER BY subject", -1,
                         &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      const QDate d = QDate::fromString(columnText(st, 0), Qt::ISODate);
      if (d.isValid()) days.append(d);
    }
  }
  sqlite3_finalize(st);
  return days;
}

QStringList AuditTrail::users() const {
  QStringList names;
  if (!db_) return names;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT DISTINCT user FROM audit_entries WHERE user <> '' ORDER BY user", -1, &st,
                         nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) names << columnText(st, 0);
  }
  sqlite3_finalize(st);
  return names;
}

// ---------------------------------------------------------------------------
// Sealed days

AuditTrail::SealOutcome AuditTrail::sealDay(const ResultStore& store, const QDate& day, QString* detail) {
  if (!isWritable() || !day.isValid()) return SealOutcome::Failed;
  if (sealOf(day).id != 0) return SealOutcome::Unchanged;
  DayRows rows;
  QString error;
  if (!readDayRows(store, day, &rows, &error)) {
    if (detail) *detail = error;
    return SealOutcome::Failed;
  }
  const DayDigest digest = digestDay(day, rows);
  record(AuditKind::DaySealed, day.toString(Qt::ISODate),
         QStringLiteral(u"День %1 опечатан: результатов %2, средних %3")
             .arg(dayText(day))
             .arg(digest.resultCount)
             .arg(digest.averageCount),
         QString(), digest.toText());
  return SealOutcome::Sealed;
}

AuditTrail::SealOutcome AuditTrail::resealDay(const ResultStore& store, const QDate& day, const QString& reason,
                                              QString* detail) {
  if (!isWritable() || !day.isValid()) return SealOutcome::Failed;
  const AuditEntry seal = sealOf(day);
  if (seal.id == 0) return SealOutcome::NotSealed;
  DayDigest sealed;
  if (!DayDigest::fromText(seal.after, &sealed)) {
    if (detail) *detail = QStringLiteral(u"печать дня (запись %1) не читается").arg(seal.id);
    return SealOutcome::Refused;
  }
  DayRows rows;
  QString error;
  if (!readDayRows(store, day, &rows, &error)) {
    if (detail) *detail = error;
    return SealOutcome::Failed;
  }
  // Results are only ever added, after the others: those the seal covers
  // (up to its last sequence number) must be as they were.
  const DayDigest before = digestDay(day, rows, sealed.lastSeq);
  if (before.results != sealed.results) {
    if (detail) *detail = describeDifference(sealed, before);
    return SealOutcome::Refused;
  }
  const DayDigest now = digestDay(day, rows);
  if (now == sealed) return SealOutcome::Unchanged;
  record(AuditKind::DayResealed, day.toString(Qt::ISODate),
         QStringLiteral(u"День %1 опечатан заново (%2): результатов %3 (было %4), средних %5 (было %6)")
             .arg(dayText(day), reason)
             .arg(now.resultCount)
             .arg(sealed.resultCount)
             .arg(now.averageCount)
             .arg(sealed.averageCount),
         seal.after, now.toText());
  return SealOutcome::Sealed;
}

QVector<QDate> AuditTrail::sealDaysBefore(const ResultStore& store, const QDate& today) {
  QVector<QDate> done;
  // Results still waiting for the disk belong to their day: not yet.
  if (!isWritable() || !store.isOpen() || store.pendingCount() > 0 || !today.isValid()) return done;
  QSet<QDate> days;
  for (const QDate& d : store.daysWithResults())
    if (d < today) days.insert(d);
  // Averages of a day without results (the analyzer lost all day) too.
  const qint64 todayStartUtc = QDateTime(today, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  for (const StoredAverage& a : store.allAverages(std::numeric_limits<qint64>::min(), todayStartUtc + kMaxOffsetMs)) {
    const qint64 local = a.startUtcMs + qint64(a.startOffset) * 1000;
    const QDate d = QDate(1970, 1, 1).addDays(local / kMsPerDay - (local % kMsPerDay < 0 ? 1 : 0));
    if (d < today) days.insert(d);
  }
  for (const QDate& d : sealedDays()) days.remove(d);
  QVector<QDate> sorted(days.begin(), days.end());
  std::sort(sorted.begin(), sorted.end());
  for (const QDate& d : sorted)
    if (sealDay(store, d) == SealOutcome::Sealed) done.append(d);
  return done;
}

// ---------------------------------------------------------------------------
// Settings files as last known

QString AuditTrail::knownFile(const QString& name, bool* known) const {
  if (known) *known = false;
  if (!db_) return QString();
  sqlite3_stmt* st = nullptr;
  QString content;
  if (sqlite3_prepare_v2(db_, "SELECT content FROM audit_files WHERE name = ?1", -1, &st, nullptr) == SQLITE_OK) {
    bindText(st, 1, name);
    if (sqlite3_step(st) == SQLITE_ROW) {
      content = columnText(st, 0);
      if (known) *known = true;
    }
  }
  sqlite3_finalize(st);
  return content;
}

bool AuditTrail::setKnownFile(const QString& name, const QString& content) {
  if (!isWritable()) return false;
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_prepare_v2(db_,
                               "INSERT INTO audit_files (name, content, utc_ms) VALUES (?1, ?2, ?3)"
                               " ON CONFLICT (name) DO UPDATE SET content = excluded.content, utc_ms = excluded.utc_ms",
                               -1, &st, nullptr) == SQLITE_OK;
  if (ok) {
    bindText(st, 1, name);
    bindText(st, 2, content);
    sqlite3_bind_int64(st, 3, seams::currentDateTime().toMSecsSinceEpoch());
    ok = sqlite3_step(st) == SQLITE_DONE;
  }
  if (!ok) lastError_ = QStringLiteral(u"не записывается состояние файла настроек: %1").arg(QString::fromUtf8(sqlite3_errmsg(db_)));
  sqlite3_finalize(st);
  return ok;
}
