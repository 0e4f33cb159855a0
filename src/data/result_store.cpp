#include "data/result_store.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QtEndian>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "device/register_map.h"

// The file, schema version 3.
//
// results: one row a result stored by this version, about 40 bytes.
//   seq INTEGER PRIMARY KEY  from a counter, never from the clock
//   utc_ms                   when it was taken
//   context                  result_contexts.id: the circumstances it shares
//   status                   its ResultStatus
//   fault_bits, specials     specials: channel n's SpecialCode in bits 2n and 2n+1
//   tg o2 co no no2 so2 h2s co2 nox qa alf ta, ANY in a STRICT table, so
//   each value keeps the storage class it was bound with:
//     INTEGER  the value in register units (O2 in hundredths of a per cent),
//              whenever dividing it back gives the very same double: what
//              the analyzer sends takes one or two bytes
//     REAL     the exact double otherwise
//     BLOB     its 8 bytes, for what SQLite would not keep as it is (a NaN
//              becomes NULL, -0.0 loses its sign)
//     NULL     a measured channel: the special code `specials` holds; a
//              derived one (co2 nox qa alf): computed again on reading from
//              the measured values and the context's fuel coefficients,
//              which gave this very double when the result was stored (the
//              store computes it at writing and keeps the value itself when
//              it differs), so the result reads back bit for bit as shown
// result_contexts: what results share, one row each combination: utc_offset,
//   mode, fuel, address, and the fuel row's coefficients (t_max co2_max kf_b
//   kf_c kf_k kf_p, NULL for a row outside the fuel table) the derived
//   channels were computed with. A fuel row edited later is a new context.
// result_runs: stretches of sequence numbers over which the time never goes
//   back; a new run starts where the clock was set back. A run's results are
//   in time order, so a time range is found in it by halving over the
//   sequence numbers, without a time index (it cost 17 bytes a result).
//   last_seq and last_utc_ms are NULL for the newest run, still growing.
// results_v2: the results of a file of schema versions 1 and 2, as they were:
//   utc_offset, mode, fuel and address in every row, the channels as above
//   but the derived ones always stored, no status, the time index
//   results_by_time. Opening such a file for writing renames its table and
//   adds the others; no row is rewritten, a year's file opens as fast.
// result_days, daily_logs, events, forward_cursors, emission_averages: as in
//   version 2.
// store_identities: the database's identities, by the first result and event
//   numbered under each: 32 hex digits, all zeros for those of a version 1-2
//   file.
// result_values: a view of every result in its units, the codes left out (for
//   averages and for copying elsewhere), the derived channels computed in SQL
//   where the row does not hold them (in doubles: the last digits may differ
//   from the program's).
//
// Beside the file, "<file>-mark" holds the last result and event numbers
// committed and the file's own identity, written after every commit without
// waiting for the disk. Found higher than the file's own numbers at opening,
// the file lost committed results (its log removed by another program, an
// older copy put back): numbering goes on after the mark under a new identity.

#include "platform/disk_sync.h"
#include "platform/free_memory.h"
#include "platform/guarded_files.h"
#include "platform/lock_files.h"

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
// Local clocks are at most 18 hours off UTC.
constexpr qint64 kMaxOffsetMs = 18 * 3600 * 1000;
const QString kLegacyIdentity = QStringLiteral("00000000000000000000000000000000");

// Channel columns, in channel order.
constexpr const char* kColumns[kChannelCount] = {"tg",  "o2",  "co", "no", "no2", "so2",
                                                 "h2s", "co2", "nox", "qa", "alf", "ta"};
constexpr int kDerived[] = {channel::CO2, channel::NOx, channel::Qa, channel::Alf};

bool isDerived(int ch) { return !channel::isMeasured(ch); }

QString channelList(const QString& prefix = QString()) {
  QStringList c;
  for (const char* name : kColumns) c << prefix + QString::fromLatin1(name);
  return c.join(QStringLiteral(", "));
}

// The results table of versions 1 and 2 (named `results` there).
QString legacyResultsSql(const QString& table) {
  QStringList channels;
  for (const char* name : kColumns) channels << QString::fromLatin1(name) + QStringLiteral(" ANY");
  return QStringLiteral(
             "CREATE TABLE %1 ("
             " seq INTEGER PRIMARY KEY,"
             " utc_ms INTEGER NOT NULL,"
             " utc_offset INTEGER NOT NULL,"
             " fault_bits INTEGER NOT NULL,"
             " specials INTEGER NOT NULL,"
             " mode INTEGER NOT NULL,"
             " fuel INTEGER NOT NULL,"
             " address INTEGER NOT NULL,"
             " %2) STRICT;"
             "CREATE INDEX results_by_time ON %1(utc_ms);")
      .arg(table, channels.join(QStringLiteral(", ")));
}

// The tables every version has besides the results.
const char* const kCommonSchema =
    // Local dates (days since 1970-01-01) that hold results, so the list of
    // days does not need a pass over every result.
    "CREATE TABLE result_days (day INTEGER PRIMARY KEY) STRICT;"
    "CREATE TABLE daily_logs (day INTEGER PRIMARY KEY, written_utc_ms INTEGER NOT NULL) STRICT;"
    "CREATE TABLE events ("
    " id INTEGER PRIMARY KEY, utc_ms INTEGER NOT NULL, utc_offset INTEGER NOT NULL,"
    " kind INTEGER NOT NULL, text TEXT NOT NULL) STRICT;"
    "CREATE INDEX events_by_time ON events(utc_ms);"
    "CREATE TABLE forward_cursors (consumer TEXT PRIMARY KEY, last_seq INTEGER NOT NULL)"
    " STRICT, WITHOUT ROWID;";

QString compactResultsSql() {
  QStringList channels;
  for (const char* name : kColumns) channels << QString::fromLatin1(name) + QStringLiteral(" ANY");
  return QStringLiteral(
             "CREATE TABLE results ("
             " seq INTEGER PRIMARY KEY,"
             " utc_ms INTEGER NOT NULL,"
             " context INTEGER NOT NULL,"
             " status INTEGER,"
             " fault_bits INTEGER NOT NULL,"
             " specials INTEGER NOT NULL,"
             " %1) STRICT;"
             "CREATE TABLE result_contexts ("
             " id INTEGER PRIMARY KEY,"
             " utc_offset INTEGER NOT NULL, mode INTEGER NOT NULL, fuel INTEGER NOT NULL,"
             " address INTEGER NOT NULL,"
             " t_max INTEGER, co2_max INTEGER, kf_b INTEGER, kf_c INTEGER, kf_k INTEGER, kf_p INTEGER) STRICT;"
             "CREATE TABLE result_runs ("
             " first_seq INTEGER PRIMARY KEY, first_utc_ms INTEGER NOT NULL,"
             " last_seq INTEGER, last_utc_ms INTEGER) STRICT;"
             "CREATE TABLE store_identities ("
             " id INTEGER PRIMARY KEY, first_seq INTEGER NOT NULL, first_event_id INTEGER NOT NULL,"
             " identity TEXT NOT NULL, started_utc_ms INTEGER NOT NULL, reason TEXT NOT NULL) STRICT;")
      .arg(channels.join(QStringLiteral(", ")));
}

// A channel's value in its units from a row: NULL for a special code (and a
// blob, which only a NaN or -0.0 makes).
QString decodedValue(int ch, const QString& column) {
  return QStringLiteral("CASE WHEN (specials >> %1) & 3 THEN NULL"
                        " WHEN typeof(%2) = 'integer' THEN %2 / %3"
                        " WHEN typeof(%2) = 'real' THEN %2 END")
      .arg(2 * ch)
      .arg(column, ch == channel::O2 ? QStringLiteral("100.0") : QStringLiteral("1.0"));
}

// ... and as the derived channels are computed from it: codes as the numbers
// the analyzer sends for them.
QString rawValue(int ch, const QString& column) {
  const QString scale = ch == channel::O2 ? QStringLiteral("100.0") : QStringLiteral("1.0");
  return QStringLiteral("CASE WHEN typeof(%1) = 'integer' THEN %1 / %2 WHEN typeof(%1) = 'real' THEN %1"
                        " WHEN (specials >> %3) & 3 THEN (32767 + ((specials >> %3) & 3)) / %2 END")
      .arg(column, scale)
      .arg(2 * ch);
}

QString valuesViewSql(bool legacy) {
  // The newer results: raw measured values, then CO2, then what depends on it.
  QStringList raw, decoded;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const QString c = QString::fromLatin1(kColumns[ch]);
    if (channel::isMeasured(ch)) {
      raw << rawValue(ch, c) + QStringLiteral(" AS ") + c + QStringLiteral("_raw");
      decoded << decodedValue(ch, c) + QStringLiteral(" AS ") + c;
    } else {
      decoded << QStringLiteral("CASE WHEN %1 IS NOT NULL THEN %2 ELSE %1_calc END AS %1")
                     .arg(c, decodedValue(ch, c));
    }
  }
  const QString level1 = QStringLiteral(
                             "SELECT r.*, c.utc_offset, c.mode, c.fuel, c.address, c.t_max * 1.0 AS t_max,"
                             " c.co2_max * 1.0 AS co2_max, c.kf_b * 1.0 AS kf_b, c.kf_c * 1.0 AS kf_c,"
                             " c.kf_k * 1.0 AS kf_k, c.kf_p * 1.0 AS kf_p, %1"
                             " FROM results r JOIN result_contexts c ON c.id = r.context")
                             .arg(raw.join(QStringLiteral(", ")));
  const QString level2 = QStringLiteral(
                             "SELECT *, CASE WHEN co2_max IS NULL THEN NULL ELSE"
                             " CASE WHEN ((10 - 0.476 * (o2_raw - 0.00004 * co_raw)) * co2_max - co_raw) / 10000 >= 0.5"
                             " THEN ((10 - 0.476 * (o2_raw - 0.00004 * co_raw)) * co2_max - co_raw) / 10000"
                             " ELSE 0 END END AS co2_calc FROM (%1)")
                             .arg(level1);
  const QString level3 = QStringLiteral(
      "SELECT *,"
      " CASE WHEN co2_max IS NULL THEN NULL WHEN no_raw < 9999 AND no2_raw < 999 THEN no_raw + no2_raw ELSE 0 END"
      " AS nox_calc,"
      " CASE WHEN co2_max IS NULL THEN NULL WHEN o2_raw >= 20 THEN 0 ELSE min(10.0, coalesce("
      "(100 - co2_calc - o2_raw - co_raw / 10000) / ((100 - co2_calc - o2_raw - co_raw / 10000)"
      " - 3.76 * (o2_raw - co_raw / 20000)), 0)) END AS alf_calc,"
      " CASE WHEN co2_max IS NULL THEN NULL"
      " WHEN co2_calc > 1 AND tg_raw - ta_raw > 20 AND t_max <> 0 AND kf_p <> 0 THEN max(0.0, min(100.0,"
      " (tg_raw - ta_raw) / t_max * ((1 + (tg_raw - 200) * 0.000133) * kf_c / 10"
      " + (co2_max / (co2_calc * 1000 + co_raw / 10) - 1) * kf_b * kf_k / 10000 * (1 + (tg_raw - 200) * 0.000108))"
      " + 0.302 * co_raw * (co2_max / (co2_calc * 1000 + co_raw / 10)) / kf_p)) ELSE 0 END AS qa_calc"
      " FROM (%1)")
                             .arg(level2);
  QString sql = QStringLiteral("CREATE VIEW result_values AS SELECT seq, utc_ms, utc_offset, fault_bits, specials,"
                               " mode, fuel, address, status, %1 FROM (%2)")
                    .arg(decoded.join(QStringLiteral(", ")), level3);
  if (legacy) {
    QStringList old;
    for (int ch = 0; ch < kChannelCount; ++ch)
      old << decodedValue(ch, QString::fromLatin1(kColumns[ch])) + QStringLiteral(" AS ") + kColumns[ch];
    sql += QStringLiteral(" UNION ALL SELECT seq, utc_ms, utc_offset, fault_bits, specials, mode, fuel, address,"
                          " NULL, %1 FROM results_v2")
               .arg(old.join(QStringLiteral(", ")));
  }
  return sql + QLatin1Char(';');
}

// The view of versions 1 and 2.
QString legacyViewSql() {
  QStringList decoded;
  for (int ch = 0; ch < kChannelCount; ++ch)
    decoded << decodedValue(ch, QString::fromLatin1(kColumns[ch])) + QStringLiteral(" AS ") + kColumns[ch];
  return QStringLiteral("CREATE VIEW result_values AS SELECT seq, utc_ms, utc_offset, fault_bits, specials, mode,"
                        " fuel, address, %1 FROM results;")
      .arg(decoded.join(QStringLiteral(", ")));
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

QString legacyColumns() {
  return QStringLiteral("seq, utc_ms, utc_offset, fault_bits, specials, mode, fuel, address, ") + channelList();
}
QString compactColumns() {
  return QStringLiteral("seq, utc_ms, context, status, fault_bits, specials, ") + channelList();
}

// Schema 4: the averages validated. Per component, after the four columns of
// schema 2: the confidence interval subtracted and the validated value, why
// it is valid or not, how many values it expected, how many of those counted
// were substitutes or beyond the calibrated range, and the values left out by
// reason. Keyed by the regulation profile as well, so the averages of two
// profiles stand beside each other; `basis` tells the settings they were
// computed with.
constexpr const char* kInvalidReasonColumns[kStoredInvalidReasonCount] = {"fault", "maintenance", "plant_off",
                                                                          "link_lost", "test", "no_value"};
constexpr int kAveragePerComponentV4 = 10 + kStoredInvalidReasonCount;
constexpr int kAverageHeadV4 = 9;  // profile, period, interval, start, end, offsets, count, basis
constexpr int kAverageColumnCountV4 = kAverageHeadV4 + kAveragePerComponentV4 * kStoredComponentCount;

QString averageColumnsV4() {
  QStringList c{QStringLiteral("profile"),    QStringLiteral("period"),       QStringLiteral("interval_minutes"),
                QStringLiteral("start_utc_ms"), QStringLiteral("end_utc_ms"), QStringLiteral("start_offset"),
                QStringLiteral("end_offset"), QStringLiteral("count"),        QStringLiteral("basis")};
  for (const char* name : kAverageComponents) {
    const QString n = QString::fromLatin1(name);
    for (const char* column : {"_mean", "_count", "_valid", "_exceedance", "_ci", "_validated", "_reason", "_expected",
                               "_substitutes", "_out_of_range"})
      c << n + QLatin1String(column);
    for (const char* reason : kInvalidReasonColumns) c << n + QLatin1Char('_') + QLatin1String(reason);
  }
  return c.join(QStringLiteral(", "));
}

QString averagesSchemaSqlV4(const char* table) {
  QStringList components;
  for (const char* name : kAverageComponents) {
    QString reasons;
    for (const char* reason : kInvalidReasonColumns)
      reasons += QStringLiteral(", %1_%2 INTEGER NOT NULL").arg(QString::fromLatin1(name), QLatin1String(reason));
    components << QStringLiteral("%1_mean REAL, %1_count INTEGER NOT NULL, %1_valid INTEGER NOT NULL,"
                                 " %1_exceedance INTEGER NOT NULL, %1_ci REAL NOT NULL, %1_validated REAL,"
                                 " %1_reason INTEGER NOT NULL, %1_expected INTEGER NOT NULL,"
                                 " %1_substitutes INTEGER NOT NULL, %1_out_of_range INTEGER NOT NULL%2")
                          .arg(QString::fromLatin1(name), reasons);
  }
  return QStringLiteral(
             "CREATE TABLE %1 ("
             " profile INTEGER NOT NULL,"  // the regulation profile, 0 none
             " period INTEGER NOT NULL,"   // AveragePeriodKind
             " interval_minutes INTEGER NOT NULL,"
             " start_utc_ms INTEGER NOT NULL, end_utc_ms INTEGER NOT NULL,"
             " start_offset INTEGER NOT NULL, end_offset INTEGER NOT NULL,"
             " count INTEGER NOT NULL,"
             " basis INTEGER NOT NULL,"  // fingerprint of the settings, 0 not known
             " %2,"
             " PRIMARY KEY (profile, period, interval_minutes, start_utc_ms)) STRICT, WITHOUT ROWID;")
      .arg(QString::fromLatin1(table), components.join(QStringLiteral(", ")));
}

// The schema 2 table copied into the schema 4 one: profile none, basis not
// known, the validated value the mean (no confidence interval was
// subtracted then), nothing known of reasons.
QString averagesToV4Sql() {
  QStringList from{QStringLiteral("0"),          QStringLiteral("period"),     QStringLiteral("interval_minutes"),
                   QStringLiteral("start_utc_ms"), QStringLiteral("end_utc_ms"), QStringLiteral("start_offset"),
                   QStringLiteral("end_offset"), QStringLiteral("count"),      QStringLiteral("0")};
  for (const char* name : kAverageComponents) {
    const QString n = QString::fromLatin1(name);
    from << n + QStringLiteral("_mean") << n + QStringLiteral("_count") << n + QStringLiteral("_valid")
         << n + QStringLiteral("_exceedance") << QStringLiteral("0.0") << n + QStringLiteral("_mean")
         << QStringLiteral("0") << QStringLiteral("0") << QStringLiteral("0") << QStringLiteral("0");
    for (int r = 0; r < kStoredInvalidReasonCount; ++r) from << QStringLiteral("0");
  }
  return averagesSchemaSqlV4("emission_averages_v4") +
         QStringLiteral("INSERT INTO emission_averages_v4 (%1) SELECT %2 FROM emission_averages;"
                        "DROP TABLE emission_averages;"
                        "ALTER TABLE emission_averages_v4 RENAME TO emission_averages;")
             .arg(averageColumnsV4(), from.join(QStringLiteral(", ")));
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

// Through the column's value: one call into the statement (its lock and
// error check) a column instead of two; a year's check reads 500 million.
double columnValue(sqlite3_value* value, int ch, qint64 specials) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return double(sqlite3_value_int64(value)) / scaleOf(ch);
    case SQLITE_FLOAT:
      return sqlite3_value_double(value);
    case SQLITE_BLOB:
      if (sqlite3_value_bytes(value) == sizeof(double)) {
        double v;
        std::memcpy(&v, sqlite3_value_blob(value), sizeof v);
        return v;
      }
      return std::nan("");
    default: {
      const auto code = SpecialCode((specials >> (2 * ch)) & 3);
      return code == SpecialCode::None ? std::nan("") : codeValue(ch, code);
    }
  }
}
double columnValue(sqlite3_stmt* st, int col, int ch, qint64 specials) {
  return columnValue(sqlite3_column_value(st, col), ch, specials);
}

qint64 specialsOf(const Result& r) {
  qint64 bits = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) bits |= qint64(specialCode(ch, r.values[size_t(ch)])) << (2 * ch);
  return bits;
}

QString text(const unsigned char* utf8) { return QString::fromUtf8(reinterpret_cast<const char*>(utf8)); }

bool sameCoefficients(const FuelRow& a, const FuelRow& b) {
  return a.tMax == b.tMax && a.co2Max == b.co2Max && a.kfB == b.kfB && a.kfC == b.kfC && a.kfK == b.kfK &&
         a.kfP == b.kfP;
}

QString newIdentity() {
  QString id;
  QRandomGenerator* random = QRandomGenerator::system();
  for (int i = 0; i < 4; ++i) id += QStringLiteral("%1").arg(random->generate(), 8, 16, QLatin1Char('0'));
  // All zeros names the results of older files.
  return id == kLegacyIdentity ? newIdentity() : id;
}

// Damage and failing reads: a page that cannot be made sense of, or read.
bool isDamage(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_IOERR ||
         primary == SQLITE_FORMAT || primary == SQLITE_RANGE || primary == SQLITE_MISMATCH;
}

}  // namespace

bool UnreadableSpan::overlaps(qint64 fromUtcMs, qint64 toUtcMs) const {
  const qint64 start = afterUtcMs ? afterUtcMs : std::numeric_limits<qint64>::min();
  const qint64 end = beforeUtcMs ? beforeUtcMs : std::numeric_limits<qint64>::max();
  return start < toUtcMs && end >= fromUtcMs;
}

QString UnreadableSpan::text() const {
  const auto when = [](qint64 utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
  };
  QStringList parts;
  if (afterSeq)
    parts << QStringLiteral(u"после № %1 (%2)").arg(afterSeq).arg(when(afterUtcMs));
  else if (afterUtcMs)
    parts << QStringLiteral(u"с %1").arg(when(afterUtcMs));
  if (beforeSeq)
    parts << QStringLiteral(u"до № %1 (%2)").arg(beforeSeq).arg(when(beforeUtcMs));
  else if (beforeUtcMs)
    parts << QStringLiteral(u"по %1").arg(when(beforeUtcMs));
  return parts.isEmpty() ? QStringLiteral(u"результаты") : QStringLiteral(u"результаты ") + parts.join(QStringLiteral(u" и "));
}

struct ResultStore::Statements {
  sqlite3_stmt* begin = nullptr;
  sqlite3_stmt* commit = nullptr;
  sqlite3_stmt* rollback = nullptr;
  // Results of this version (null in a file of versions 1-2 opened read-only).
  sqlite3_stmt* insertResult = nullptr;
  sqlite3_stmt* insertContext = nullptr;
  sqlite3_stmt* insertRun = nullptr;
  sqlite3_stmt* closeRun = nullptr;
  sqlite3_stmt* runsInRange = nullptr;
  sqlite3_stmt* seqAt = nullptr;    // the first number and time at or after a number
  sqlite3_stmt* scan = nullptr;     // results between two numbers
  sqlite3_stmt* lastRow = nullptr;  // the newest number and time
  sqlite3_stmt* contexts = nullptr;
  sqlite3_stmt* insertIdentity = nullptr;
  // Results of versions 1-2 (null when there are none).
  sqlite3_stmt* legacyByTime = nullptr;
  sqlite3_stmt* legacyBySeq = nullptr;
  sqlite3_stmt* legacyBounds = nullptr;
  sqlite3_stmt* insertDay = nullptr;
  sqlite3_stmt* insertEvent = nullptr;
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
    for (sqlite3_stmt* s :
         {begin, commit, rollback, insertResult, insertContext, insertRun, closeRun, runsInRange, seqAt, scan,
          lastRow, contexts, insertIdentity, legacyByTime, legacyBySeq, legacyBounds, insertDay, insertEvent,
          eventsInRange, eventsAfter, getCursor, setCursor, days, daysWithoutLog, markLog, storeAverage,
          averagesInRange})
      sqlite3_finalize(s);
  }
};

// What results share (a row of result_contexts).
struct ResultStore::Context {
  int32_t utcOffset = 0;
  WorkMode mode = WorkMode::Idle;
  uint8_t fuel = 0;
  uint8_t address = 1;
  bool hasCoefficients = false;
  FuelRow coefficients{};  // its name stays empty
};

// An identity, from the first result and event numbered under it.
struct ResultStore::Segment {
  qint64 firstSeq = 1;
  qint64 firstEventId = 1;
  QString identity;
};

// Moves the log into the file on a connection and thread of its own, so that
// no commit waits for it: with SQLite's own checkpoints one commit in some
// hundreds also wrote the pages into the file and waited for them to reach
// the disk, several times longer than a commit.
class ResultStore::Checkpointer {
 public:
  explicit Checkpointer(const QByteArray& path) {
    if (sqlite3_open_v2(path.constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE, nullptr) !=
        SQLITE_OK) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      return;
    }
    sqlite3_busy_timeout(db_, 1000);
    // The pages reach the file's disk before the log may be used again.
    sqlite3_exec(db_, g_durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL", nullptr, nullptr,
                 nullptr);
    thread_ = std::thread([this] { run(); });
  }
  ~Checkpointer() {
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
      }
      wake_.notify_one();
      thread_.join();
    }
    sqlite3_close_v2(db_);
  }
  Checkpointer(const Checkpointer&) = delete;
  Checkpointer& operator=(const Checkpointer&) = delete;

  bool running() const { return db_ != nullptr; }
  void request() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wanted_ = true;
    }
    wake_.notify_one();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return wanted_ || stop_; });
      if (stop_) return;
      wanted_ = false;
      lock.unlock();
      sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
      lock.lock();
    }
  }

  sqlite3* db_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool wanted_ = false, stop_ = false;
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

// Log pages (4096 bytes, each with its 24-byte frame header, after the log's
// 32-byte header) the log's reserve holds: room for a checkpoint's worth and
// the commits made while it runs.
constexpr int kReservePages = 1024;
constexpr qint64 kLogReserve = 32 + qint64(kReservePages) * (4096 + 24);
// The log is moved into the file from this many pages on: a fraction of the
// reserve, so it is reused from its start long before it is full.
constexpr int kCheckpointPages = 256;
// On a disk too full for the reserve: moved into the file and cut back from
// this many pages on, so the log takes at most a few hundred kilobytes.
constexpr int kShortCheckpointPages = 48;
// The reserve is tried again after this many cuts while the disk was short.
constexpr int kReserveRetryCuts = 64;

// Every commit waits for the log to reach the disk. While the log file grows
// that wait also writes the file's new size and its new blocks' map, three or
// four waits for the disk instead of one, every second. The log is filled
// with zeros up to the size it reaches between checkpoints, so commits
// overwrite blocks the file already has. SQLite takes a log without a valid
// header for an empty one and stops reading at the first frame that is not
// valid, so zeros past the end of the log, one a crash left included, change
// nothing in it.
// When the disk cannot hold the reserve the space is given back: false.
bool reserveLogSpace(const QString& logPath) {
  QFile log(logPath);
  if (!log.open(QIODevice::ReadWrite)) return false;
  const qint64 had = log.size();
  if (had >= kLogReserve) return true;
  if (!log.seek(had)) return false;
  const QByteArray zeros(64 * 1024, '\0');
  for (qint64 size = had; size < kLogReserve; size += zeros.size()) {
    if (log.write(zeros.constData(), qMin<qint64>(zeros.size(), kLogReserve - size)) <= 0 || !log.flush()) {
      log.resize(had);
      return false;
    }
  }
  return true;
}

// While SQLite has the database open nothing else of the process may open
// its files: closing that descriptor would drop SQLite's locks.
void guardFiles(const QString& path, bool guard) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", ".lock"}) {
    const QString file = path + QLatin1String(suffix);
    if (guard)
      guardFile(file, QStringLiteral(u"база данных результатов"));
    else
      unguardFile(file);
  }
}

// A row of averageColumnsV4(), or of averageColumns() from a file before
// schema 4 (its validated value the mean: nothing was subtracted then).
StoredAverage readAverage(sqlite3_stmt* st, bool v4) {
  const int head = v4 ? kAverageHeadV4 : 7;
  const int perComponent = v4 ? kAveragePerComponentV4 : 4;
  StoredAverage a;
  int col = 0;
  if (v4) a.profile = sqlite3_column_int(st, col++);
  a.period = AveragePeriodKind(sqlite3_column_int(st, col++));
  a.intervalMinutes = sqlite3_column_int(st, col++);
  a.startUtcMs = sqlite3_column_int64(st, col++);
  a.endUtcMs = sqlite3_column_int64(st, col++);
  a.startOffset = int32_t(sqlite3_column_int64(st, col++));
  a.endOffset = int32_t(sqlite3_column_int64(st, col++));
  a.count = sqlite3_column_int(st, col++);
  if (v4) a.basis = sqlite3_column_int64(st, col++);
  for (int c = 0; c < kStoredComponentCount; ++c) {
    StoredComponentAverage& ca = a.components[size_t(c)];
    col = head + perComponent * c;
    ca.mean = sqlite3_column_type(st, col) == SQLITE_NULL ? 0 : sqlite3_column_double(st, col);
    ca.count = sqlite3_column_int(st, col + 1);
    ca.valid = sqlite3_column_int(st, col + 2) != 0;
    ca.exceedance = sqlite3_column_int(st, col + 3);
    if (!v4) {
      ca.validated = ca.mean;
      continue;
    }
    ca.ci = sqlite3_column_double(st, col + 4);
    ca.validated = sqlite3_column_type(st, col + 5) == SQLITE_NULL ? 0 : sqlite3_column_double(st, col + 5);
    ca.reason = sqlite3_column_int(st, col + 6);
    ca.expected = sqlite3_column_int(st, col + 7);
    ca.substitutes = sqlite3_column_int(st, col + 8);
    ca.outOfRange = sqlite3_column_int(st, col + 9);
    for (int r = 0; r < kStoredInvalidReasonCount; ++r) ca.invalid[size_t(r)] = sqlite3_column_int(st, col + 10 + r);
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

// The high-water mark beside the file: a magic, the file's own identity,
// the last result and event numbers committed, a checksum of them.
constexpr qint64 kMarkSize = 48;
constexpr char kMarkMagic[8] = {'K', 'R', 'V', 'K', 'M', 'R', 'K', '1'};

quint64 fnv1a(const char* data, int size) {
  quint64 h = 1469598103934665603ull;
  for (int i = 0; i < size; ++i) h = (h ^ uint8_t(data[i])) * 1099511628211ull;
  return h;
}

QByteArray markBytes(const QString& fileIdentity, qint64 seq, qint64 eventId) {
  QByteArray b(kMarkSize, '\0');
  std::memcpy(b.data(), kMarkMagic, 8);
  const QByteArray id = QByteArray::fromHex(fileIdentity.toLatin1()).leftJustified(16, '\0', true);
  std::memcpy(b.data() + 8, id.constData(), 16);
  qToLittleEndian<qint64>(seq, b.data() + 24);
  qToLittleEndian<qint64>(eventId, b.data() + 32);
  qToLittleEndian<quint64>(fnv1a(b.constData(), 40), b.data() + 40);
  return b;
}

struct Mark {
  QString fileIdentity;
  qint64 seq = 0, eventId = 0;
};

std::optional<Mark> parseMark(const QByteArray& b) {
  if (b.size() < kMarkSize || std::memcmp(b.constData(), kMarkMagic, 8) != 0 ||
      qFromLittleEndian<quint64>(b.constData() + 40) != fnv1a(b.constData(), 40))
    return std::nullopt;
  Mark m;
  m.fileIdentity = QString::fromLatin1(b.mid(8, 16).toHex());
  m.seq = qFromLittleEndian<qint64>(b.constData() + 24);
  m.eventId = qFromLittleEndian<qint64>(b.constData() + 32);
  return m;
}

}  // namespace

ResultStore::ResultStore(const FuelRow* fuels) { setFuels(fuels); }

void ResultStore::setFuels(const FuelRow* fuels) {
  static const FuelTable builtIn = builtInFuelTable();
  fuels_ = fuels ? fuels : builtIn.data();
}

ResultStore::~ResultStore() { close(); }

int ResultStore::pendingResultCount() const {
  return int(std::count_if(pending_.begin(), pending_.end(),
                           [](const Item& item) { return std::holds_alternative<StoredResult>(item); }));
}

std::vector<Result> ResultStore::pendingResults() const {
  std::vector<Result> out;
  for (const Item& item : pending_)
    if (const auto* r = std::get_if<StoredResult>(&item)) out.push_back(r->result);
  return out;
}

std::vector<StoredEvent> ResultStore::pendingEvents() const {
  std::vector<StoredEvent> out;
  for (const Item& item : pending_)
    if (const auto* e = std::get_if<StoredEvent>(&item)) out.push_back(*e);
  return out;
}

ResultStore::OpenResult ResultStore::open(const QString& path, qint64 nowUtcMs, WhenLocked whenLocked,
                                         Check check) {
  close();
  path_ = path;
  const QString dir = QFileInfo(path).absolutePath();
  if (!QFileInfo(dir).isDir())
    return {OpenStatus::CannotOpen, QStringLiteral(u"нет каталога %1").arg(QDir::toNativeSeparators(dir)), {}, {}};

  // The lock file, not SQLite's own locks, keeps a second instance from
  // writing: it is released when the owner dies, and a reader that SQLite
  // lets in does not count as an owner.
  auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
  lock->setStaleLockTime(0);  // stale only when its owner is gone, however old
  // A dead owner's lock, however its id lives on (platform/lock_files.h).
  removeLockOfDeadOwner(path + QStringLiteral(".lock"));
  if (lock->tryLock(0)) {
    lock_ = std::move(lock);
    // Closing the last connection removes the log; one left behind means
    // the last owner went without closing.
    const bool unclean = QFileInfo::exists(path + QStringLiteral("-wal"));
    if (check == Check::Auto) check = unclean ? Check::Everything : Check::Recent;
    OpenResult r = openWritable(nowUtcMs, check);
    r.lastEndUnclean = unclean && r.status == OpenStatus::Opened;
    if (!r.isOpen()) lock_.reset();
    return r;
  }
  if (lock->error() == QLockFile::LockFailedError) {
    qint64 pid = 0;
    QString host, app;
    lock->getLockInfo(&pid, &host, &app);
    const QString owner = QStringLiteral(u"занята программой %1 (процесс %2 на %3)").arg(app).arg(pid).arg(host);
    if (whenLocked == WhenLocked::Refuse) return {OpenStatus::Locked, owner, {}, {}};
    OpenResult r = openReadOnly(owner, false);
    if (!r.isOpen()) r.status = OpenStatus::Locked;
    return r;
  }
  const QString why = QStringLiteral(u"нельзя создать файлы в %1").arg(QDir::toNativeSeparators(dir));
  if (QFileInfo::exists(path)) return openReadOnly(why, true);
  return {OpenStatus::CannotOpen, why, {}, {}};
}

ResultStore::OpenResult ResultStore::openForReading(const QString& path) {
  close();
  path_ = path;
  if (!QFileInfo(path).isFile())
    return {OpenStatus::CannotOpen, QStringLiteral(u"нет файла %1").arg(QDir::toNativeSeparators(path)), {}, {}};
  // Without write access to the directory SQLite cannot share the log's
  // index: then the file is read as it stands.
  return openReadOnly(QStringLiteral(u"открыта для чтения"), !QFileInfo(QFileInfo(path).absolutePath()).isWritable());
}

ResultStore::OpenResult ResultStore::openWritable(qint64 nowUtcMs, Check check) {
  QString error;
  if (!openConnection(Access::ReadWrite, &error)) return {OpenStatus::CannotOpen, error, {}, {}};
  if (sqlite3_db_readonly(db_, "main") == 1) {
    closeConnection();
    lock_.reset();
    return openReadOnly(QStringLiteral(u"файл базы данных защищён от записи"), false);
  }
  OpenResult result{OpenStatus::Opened, QStringLiteral(u"открыта %1").arg(QDir::toNativeSeparators(path_)), {}, {}};
  if (!checkPages(check, &error)) {
    if (!db_) return {OpenStatus::CannotOpen, error, {}, {}};
    closeConnection();
    QString movedTo, moveError;
    if (!moveAside(nowUtcMs, &movedTo, &moveError))
      return {OpenStatus::CannotOpen, error + QStringLiteral("; ") + moveError, {}, {}};
    result = {OpenStatus::ReplacedCorrupt,
              QStringLiteral(u"%1; перенесена в %2, создана новая база данных")
                  .arg(error, QDir::toNativeSeparators(movedTo)),
              movedTo,
              {}};
    if (!openConnection(Access::ReadWrite, &error)) return {OpenStatus::CannotOpen, error, {}, {}};
  }
  writable_ = true;
  if (!setUp(&error) || !prepare(&error) || !loadCounters(&error) ||
      !loadIdentities(nowUtcMs, &result.notice, &error)) {
    closeConnection();
    writable_ = false;
    return {OpenStatus::CannotOpen, error, {}, {}};
  }
  // After setting up: SQLite removes a log it finds beside a new, empty file.
  logReserved_ = !g_durable || reserveLogSpace(path_ + QStringLiteral("-wal"));
  sqlite3_wal_hook(
      db_,
      [](void* self, sqlite3*, const char*, int pages) {
        static_cast<ResultStore*>(self)->logPages_ = pages;
        return SQLITE_OK;
      },
      this);
  checkpointer_ = std::make_unique<Checkpointer>(QFile::encodeName(path_));
  if (!logReserved_)
    appendEvent(nowUtcMs, QDateTime::fromMSecsSinceEpoch(nowUtcMs).offsetFromUtc(), EventKind::DiskSpaceLow,
                QStringLiteral(u"Мало места на диске для базы данных результатов: свободно %1 байт")
                    .arg(bytesFree()));
  return result;
}

// `nobodyWrites`: no instance can own the file (its directory cannot be
// written), so when SQLite cannot set up its shared index of the log there,
// the file may be read as it stands.
ResultStore::OpenResult ResultStore::openReadOnly(const QString& why, bool nobodyWrites) {
  QString error;
  QString notice;
  const auto openAs = [&](Access access) {
    return openConnection(access, &error) && setUp(&error) && prepare(&error) && loadCounters(&error) &&
           loadIdentities(0, &notice, &error);
  };
  bool ok = openAs(Access::ReadOnly);
  if (!ok && nobodyWrites) {
    closeConnection();
    ok = openAs(Access::Immutable);
  }
  if (!ok) {
    closeConnection();
    return {OpenStatus::CannotOpen, why + QStringLiteral("; ") + error, {}, {}};
  }
  writable_ = false;
  return {OpenStatus::OpenedReadOnly, why + QStringLiteral(u"; только просмотр истории"), {}, {}};
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
  if (db_) guardFiles(path_, true);  // released with the handle, however the opening went
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
  // The helper's connection first: the last one to close moves the log into
  // the file and removes it.
  checkpointer_.reset();
  st_.reset();
  if (db_) {
    sqlite3_close_v2(db_);
    guardFiles(path_, false);
  }
  db_ = nullptr;
}

// False, with `error` set, when the file is not a sound database; then db_
// stays open only if the file is merely damaged (a failure to read closes it).
bool ResultStore::checkPages(Check check, QString* error) {
  // Recent: the small tables whole, and the newest hour of results: the
  // pages the last writes went to (a checkpoint moves at most a few minutes
  // of results into the file). In a file of versions 1-2 also through the
  // time index, which the last writes changed too.
  static const char* const kRecent[] = {
      "SELECT count(*) FROM sqlite_schema",
      "SELECT count(ta) FROM results WHERE seq > (SELECT max(seq) - 3600 FROM results)",
      // Version 1-2 only (this version's results have no time index to check).
      "SELECT count(ta) FROM results INDEXED BY results_by_time"
      " WHERE utc_ms > (SELECT max(utc_ms) - 3600000 FROM results)",
      "PRAGMA quick_check(events)",
      "PRAGMA quick_check(result_days)",
      "PRAGMA quick_check(daily_logs)",
      "PRAGMA quick_check(forward_cursors)",
      "PRAGMA quick_check(emission_averages)",
      "PRAGMA quick_check(result_contexts)",
      "PRAGMA quick_check(result_runs)",
      "PRAGMA quick_check(store_identities)",
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
      rc = SQLITE_OK;  // a new, empty file has no tables yet; an older one not every table
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
    // Checkpoints are the helper's (see Checkpointer), not SQLite's own.
    if (!exec(g_durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL") ||
        !exec("PRAGMA journal_size_limit=16777216") || !exec("PRAGMA wal_autocheckpoint=0")) {
      *error = sqliteError("не настраивается журнал");
      return false;
    }
    if (version == 0) {
      const QByteArray sql = QByteArrayLiteral("BEGIN IMMEDIATE;") + compactResultsSql().toUtf8() + kCommonSchema +
                             averagesSchemaSqlV4("emission_averages").toUtf8() + valuesViewSql(false).toUtf8() +
                             QByteArrayLiteral("PRAGMA application_id=") + QByteArray::number(kApplicationId) +
                             QByteArrayLiteral(";PRAGMA user_version=") + QByteArray::number(kSchemaVersion) +
                             QByteArrayLiteral(";COMMIT;");
      if (!exec(sql.constData())) {
        *error = sqliteError("не создаются таблицы");
        exec("ROLLBACK");
        return false;
      }
      version = kSchemaVersion;
    } else if (version < kSchemaVersion && !migrate(int(version), error)) {
      return false;
    }
    schemaVersion_ = kSchemaVersion;
  } else if (version == 0) {
    *error = QStringLiteral(u"база данных ещё не подготовлена");
    return false;
  } else {
    schemaVersion_ = int(version);
  }
  hasLegacy_ = schemaVersion_ < 3;
  if (!hasLegacy_) {
    qint64 legacy = 0;
    if (!intPragma("SELECT count(*) FROM sqlite_schema WHERE name = 'results_v2'", &legacy)) {
      *error = sqliteError("не читается база данных");
      return false;
    }
    hasLegacy_ = legacy > 0;
  }
  return true;
}

// A file of versions 1-2 for this version: its results stay as they are,
// under another name; the new tables and the view join them. One short
// transaction whatever the file's size.
bool ResultStore::migrate(int version, QString* error) {
  // One transaction: a file is either as it was or wholly of this version.
  QByteArray sql = QByteArrayLiteral("BEGIN IMMEDIATE;");
  if (version == 1) sql += averagesSchemaSql().toUtf8();  // the averages of version 2
  if (version < 3) {
    // The results stay where they are, readable as they were.
    sql += "DROP VIEW IF EXISTS result_values;"
           "ALTER TABLE results RENAME TO results_v2;";
    sql += compactResultsSql().toUtf8() + valuesViewSql(true).toUtf8();
  }
  sql += averagesToV4Sql().toUtf8();  // the averages validated, those there kept
  sql += QByteArrayLiteral("PRAGMA user_version=") + QByteArray::number(kSchemaVersion) + ";COMMIT;";
  if (!exec(sql.constData())) {
    *error = sqliteError("не обновляется схема базы данных");
    exec("ROLLBACK");
    return false;
  }
  return true;
}

bool ResultStore::prepare(QString* error) {
  st_ = std::make_unique<Statements>();
  const QString legacyTable = schemaVersion_ < 3 ? QStringLiteral("results") : QStringLiteral("results_v2");
  const QString legacy = legacyColumns(), compact = compactColumns();
  QStringList marks;
  for (int i = 0; i < 6 + kChannelCount; ++i) marks << QStringLiteral("?");
  const QByteArray insertResult =
      QStringLiteral("INSERT INTO results (%1) VALUES (%2)").arg(compact, marks.join(QLatin1Char(','))).toUtf8();
  const QByteArray scan =
      QStringLiteral("SELECT %1 FROM results WHERE seq >= ?1 AND seq <= ?2 ORDER BY seq").arg(compact).toUtf8();
  const QByteArray legacyByTime = QStringLiteral("SELECT %1 FROM %2 WHERE utc_ms >= ?1 AND utc_ms < ?2"
                                                 " ORDER BY utc_ms, seq")
                                      .arg(legacy, legacyTable)
                                      .toUtf8();
  const QByteArray legacyBySeq =
      QStringLiteral("SELECT %1 FROM %2 WHERE seq >= ?1 AND seq <= ?2 ORDER BY seq").arg(legacy, legacyTable).toUtf8();
  // Each its own min or max, which SQLite finds in the index without a pass.
  const QByteArray legacyBounds = QStringLiteral("SELECT (SELECT min(seq) FROM %1), (SELECT max(seq) FROM %1),"
                                                 " (SELECT min(utc_ms) FROM %1), (SELECT max(utc_ms) FROM %1)")
                                      .arg(legacyTable)
                                      .toUtf8();
  struct Statement {
    sqlite3_stmt** st;
    const char* sql;
  };
  std::vector<Statement> statements = {
      {&st_->begin, "BEGIN IMMEDIATE"},
      {&st_->commit, "COMMIT"},
      {&st_->rollback, "ROLLBACK"},
      {&st_->insertDay, "INSERT OR IGNORE INTO result_days (day) VALUES (?1)"},
      {&st_->insertEvent, "INSERT INTO events (id, utc_ms, utc_offset, kind, text) VALUES (?1, ?2, ?3, ?4, ?5)"},
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
  if (hasLegacy_) {
    statements.push_back({&st_->legacyByTime, legacyByTime.constData()});
    statements.push_back({&st_->legacyBySeq, legacyBySeq.constData()});
    statements.push_back({&st_->legacyBounds, legacyBounds.constData()});
  }
  if (schemaVersion_ >= 3) {
    statements.insert(
        statements.end(),
        {
            {&st_->insertResult, insertResult.constData()},
            {&st_->insertContext,
             "INSERT INTO result_contexts (id, utc_offset, mode, fuel, address, t_max, co2_max, kf_b, kf_c, kf_k,"
             " kf_p) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"},
            {&st_->insertRun, "INSERT INTO result_runs (first_seq, first_utc_ms) VALUES (?1, ?2)"},
            {&st_->closeRun, "UPDATE result_runs SET last_seq = ?2, last_utc_ms = ?3 WHERE first_seq = ?1"},
            {&st_->runsInRange,
             "SELECT first_seq, first_utc_ms, last_seq, last_utc_ms FROM result_runs"
             " WHERE first_utc_ms < ?2 AND (last_utc_ms IS NULL OR last_utc_ms >= ?1) ORDER BY first_seq"},
            {&st_->seqAt, "SELECT seq, utc_ms FROM results WHERE seq >= ?1 AND seq <= ?2 ORDER BY seq LIMIT 1"},
            {&st_->scan, scan.constData()},
            {&st_->lastRow, "SELECT seq, utc_ms FROM results ORDER BY seq DESC LIMIT 1"},
            {&st_->contexts,
             "SELECT id, utc_offset, mode, fuel, address, t_max, co2_max, kf_b, kf_c, kf_k, kf_p"
             " FROM result_contexts WHERE id > ?1 ORDER BY id"},
            {&st_->insertIdentity,
             "INSERT INTO store_identities (first_seq, first_event_id, identity, started_utc_ms, reason)"
             " VALUES (?1, ?2, ?3, ?4, ?5)"},
        });
  }
  for (const Statement& s : statements) {
    if (sqlite3_prepare_v3(db_, s.sql, -1, SQLITE_PREPARE_PERSISTENT, s.st, nullptr) != SQLITE_OK) {
      *error = sqliteError("не готовятся запросы");
      return false;
    }
  }
  // A version 1 file read as it is has no averages.
  return schemaVersion_ < 2 || prepareAverages(schemaVersion_, error);
}

// A file before schema 4 is read only here (one opened for writing was
// brought to 4): its averages are read with the columns it has.
bool ResultStore::prepareAverages(int version, QString* error) {
  const bool v4 = version >= 4;
  const QString columns = v4 ? averageColumnsV4() : averageColumns();
  const QByteArray inRange =
      QStringLiteral("SELECT %1 FROM emission_averages WHERE period = ?1 AND interval_minutes = ?2"
                     " AND start_utc_ms >= ?3 AND start_utc_ms < ?4 AND %2 ORDER BY start_utc_ms")
          .arg(columns, v4 ? QStringLiteral("profile = ?5") : QStringLiteral("?5 = 0"))
          .toUtf8();
  if (sqlite3_prepare_v3(db_, inRange.constData(), -1, SQLITE_PREPARE_PERSISTENT, &st_->averagesInRange,
                         nullptr) != SQLITE_OK) {
    *error = sqliteError("не готовятся запросы");
    return false;
  }
  averagesV4_ = v4;
  if (!v4) return true;
  QStringList marks;
  for (int i = 1; i <= kAverageColumnCountV4; ++i) marks << QStringLiteral("?%1").arg(i);
  const QByteArray store = QStringLiteral("INSERT OR REPLACE INTO emission_averages (%1) VALUES (%2)")
                               .arg(columns, marks.join(QLatin1Char(',')))
                               .toUtf8();
  if (sqlite3_prepare_v3(db_, store.constData(), -1, SQLITE_PREPARE_PERSISTENT, &st_->storeAverage, nullptr) !=
      SQLITE_OK) {
    *error = sqliteError("не готовятся запросы");
    return false;
  }
  return true;
}

bool ResultStore::loadCounters(QString* error) {
  QByteArray sql = "SELECT (SELECT max(id) FROM events)";
  if (hasLegacy_)
    sql += schemaVersion_ < 3 ? ", (SELECT max(seq) FROM results)" : ", (SELECT max(seq) FROM results_v2)";
  else
    sql += ", 0";
  sql += schemaVersion_ >= 3 ? ", (SELECT max(seq) FROM results)" : ", 0";
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_prepare_v2(db_, sql.constData(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW;
  if (ok) {
    nextEventId_ = sqlite3_column_int64(st, 0) + 1;
    lastCommittedSeq_ = std::max(sqlite3_column_int64(st, 1), sqlite3_column_int64(st, 2));
    nextSeq_ = lastCommittedSeq_ + 1;
  }
  sqlite3_finalize(st);
  // The newest time run and its last result.
  if (ok && schemaVersion_ >= 3) {
    st = nullptr;
    ok = sqlite3_prepare_v2(db_,
                            "SELECT (SELECT max(first_seq) FROM result_runs),"
                            " (SELECT seq FROM results ORDER BY seq DESC LIMIT 1),"
                            " (SELECT utc_ms FROM results ORDER BY seq DESC LIMIT 1)",
                            -1, &st, nullptr) == SQLITE_OK &&
         sqlite3_step(st) == SQLITE_ROW;
    if (ok) {
      runFirstSeq_ = sqlite3_column_int64(st, 0);
      runLastSeq_ = sqlite3_column_int64(st, 1);
      runLastUtcMs_ = sqlite3_column_int64(st, 2);
    }
    sqlite3_finalize(st);
  }
  if (ok) ok = loadContexts();
  if (!ok) *error = sqliteError("не читается база данных");
  committedContexts_ = contexts_.size();
  return ok;
}

bool ResultStore::loadContexts() const {
  if (!st_ || !st_->contexts) return true;
  sqlite3_stmt* st = st_->contexts;
  Rewind rewind{st};
  sqlite3_bind_int64(st, 1, qint64(contexts_.size()));
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const qint64 id = sqlite3_column_int64(st, 0);
    if (id != qint64(contexts_.size()) + 1) return false;  // numbered from 1 without gaps
    Context c;
    c.utcOffset = int32_t(sqlite3_column_int64(st, 1));
    c.mode = WorkMode(sqlite3_column_int(st, 2));
    c.fuel = uint8_t(sqlite3_column_int(st, 3));
    c.address = uint8_t(sqlite3_column_int(st, 4));
    c.hasCoefficients = sqlite3_column_type(st, 5) != SQLITE_NULL;
    if (c.hasCoefficients) {
      FuelRow& f = c.coefficients;
      f.tMax = sqlite3_column_int(st, 5);
      f.co2Max = sqlite3_column_int(st, 6);
      f.kfB = sqlite3_column_int(st, 7);
      f.kfC = sqlite3_column_int(st, 8);
      f.kfK = sqlite3_column_int(st, 9);
      f.kfP = sqlite3_column_int(st, 10);
    }
    contexts_.push_back(c);
  }
  return rc == SQLITE_DONE;
}

// The identities; in a file opened for writing a first one when it has none,
// and a new one when the mark beside it shows results it lost.
bool ResultStore::loadIdentities(qint64 nowUtcMs, QString* notice, QString* error) {
  segments_.clear();
  if (hasLegacy_) segments_.push_back({1, 1, kLegacyIdentity});
  if (schemaVersion_ < 3) return true;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT first_seq, first_event_id, identity FROM store_identities ORDER BY id", -1, &st,
                         nullptr) != SQLITE_OK) {
    *error = sqliteError("не читается база данных");
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW)
    segments_.push_back({sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1), text(sqlite3_column_text(st, 2))});
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    *error = sqliteError("не читается база данных");
    return false;
  }
  if (!writable_) return true;
  // Numbers given out under an identity are never given again, even where
  // no result got them.
  const Segment* newest = segments_.empty() ? nullptr : &segments_.back();
  if (newest && newest->identity != kLegacyIdentity) {
    nextSeq_ = std::max(nextSeq_, newest->firstSeq);
    nextEventId_ = std::max(nextEventId_, newest->firstEventId);
  }
  if (!newest || newest->identity == kLegacyIdentity) {
    const QString reason = hasLegacy_ ? QStringLiteral(u"база данных обновлена до схемы %1").arg(kSchemaVersion)
                                      : QStringLiteral(u"новая база данных");
    if (!addIdentity(nowUtcMs, nextSeq_, nextEventId_, reason)) {
      *error = sqliteError("не записывается обозначение базы данных");
      return false;
    }
  }

  // The mark: another program may have removed the log with the last
  // commits, or an older copy of the file was put back.
  mark_ = std::make_unique<QFile>(path_ + QStringLiteral("-mark"));
  if (!mark_->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
    mark_.reset();
    return true;
  }
  const std::optional<Mark> mark = parseMark(mark_->read(kMarkSize));
  const qint64 lastEventId = nextEventId_ - 1;
  if (mark && mark->fileIdentity == fileIdentity() && (mark->seq > nextSeq_ - 1 || mark->eventId > lastEventId)) {
    const qint64 firstLost = nextSeq_, firstLostEvent = nextEventId_;
    QString what;
    if (mark->seq >= firstLost)
      what = QStringLiteral(u"результаты № %1–%2").arg(firstLost).arg(mark->seq);
    if (mark->eventId >= firstLostEvent)
      what += (what.isEmpty() ? QString() : QStringLiteral(u" и ")) +
              QStringLiteral(u"события № %1–%2").arg(firstLostEvent).arg(mark->eventId);
    const QString reason = QStringLiteral(u"в базе данных нет записанных ранее: %1").arg(what);
    if (!renewIdentity(nowUtcMs, reason, mark->seq, mark->eventId)) {
      *error = sqliteError("не записывается обозначение базы данных");
      return false;
    }
    *notice = QStringLiteral(u"База данных результатов потеряла записанные ранее %1 (журнал базы данных удалён"
                             u" или восстановлена старая копия). Новые результаты нумеруются дальше под новым"
                             u" обозначением базы данных %2.")
                  .arg(what, identity());
  }
  writeMark();
  return true;
}

bool ResultStore::addIdentity(qint64 nowUtcMs, qint64 firstSeq, qint64 firstEventId, const QString& reason) {
  const QString id = newIdentity();
  sqlite3_stmt* st = st_->insertIdentity;
  sqlite3_bind_int64(st, 1, firstSeq);
  sqlite3_bind_int64(st, 2, firstEventId);
  const QByteArray idBytes = id.toLatin1(), reasonBytes = reason.toUtf8();
  sqlite3_bind_text(st, 3, idBytes.constData(), int(idBytes.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(st, 4, nowUtcMs);
  sqlite3_bind_text(st, 5, reasonBytes.constData(), int(reasonBytes.size()), SQLITE_TRANSIENT);
  const bool ok = run(st);
  sqlite3_clear_bindings(st);
  if (!ok) {
    lastError_ = sqliteError("не записывается обозначение базы данных");
    return false;
  }
  segments_.push_back({firstSeq, firstEventId, id});
  return true;
}

QString ResultStore::identity() const { return segments_.empty() ? QString() : segments_.back().identity; }

QString ResultStore::fileIdentity() const {
  for (const Segment& s : segments_)
    if (s.identity != kLegacyIdentity) return s.identity;
  return {};
}

bool ResultStore::renewIdentity(qint64 nowUtcMs, const QString& reason, qint64 seqSeen, qint64 eventIdSeen) {
  if (!isWritable() || schemaVersion_ < 3) return false;
  // Pending items keep the numbers and the identity they were given.
  const qint64 firstSeq = std::max(nextSeq_, seqSeen + 1);
  const qint64 firstEventId = std::max(nextEventId_, eventIdSeen + 1);
  if (!addIdentity(nowUtcMs, firstSeq, firstEventId, reason)) return false;
  nextSeq_ = firstSeq;
  nextEventId_ = firstEventId;
  writeMark();
  const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowUtcMs);
  appendEvent(nowUtcMs, now.offsetFromUtc(), EventKind::StoreIdentityRenewed,
              QStringLiteral(u"Новое обозначение базы данных %1 с результата № %2 и события № %3: %4")
                  .arg(identity())
                  .arg(firstSeq)
                  .arg(firstEventId)
                  .arg(reason));
  return true;
}

void ResultStore::writeMark() {
  if (!mark_) return;
  // Numbers given out count as committed once nothing waits: the next ones
  // always go after them.
  const QByteArray bytes = markBytes(fileIdentity(), nextSeq_ - 1, nextEventId_ - 1);
  if (!mark_->seek(0) || mark_->write(bytes) != bytes.size()) return;  // a hint: lost only if the disk fails
}

void ResultStore::close() {
  closeConnection();
  lock_.reset();
  mark_.reset();
  writable_ = false;
  pending_.clear();
  failing_ = false;
  unsynced_ = false;  // closing checkpoints the log, syncing it first
  nextSeq_ = nextEventId_ = 1;
  lastCommittedSeq_ = 0;
  lastDay_ = std::numeric_limits<qint64>::min();
  hasLegacy_ = false;
  schemaVersion_ = 0;
  runFirstSeq_ = runLastSeq_ = runLastUtcMs_ = 0;
  contexts_.clear();
  committedContexts_ = 0;
  lastContext_ = -1;
  segments_.clear();
  logReserved_ = false;
  logPages_ = 0;
  shortCuts_ = 0;
  checkPhase_ = CheckPhase::Done;
  checkProblems_.clear();
}

ResultStore::OpenResult ResultStore::openForCheck(const QString& path) {
  close();
  path_ = path;
  QString error, notice;
  if (!QFileInfo::exists(path) || !openConnection(Access::ReadOnly, &error) || !setUp(&error) || !prepare(&error) ||
      !loadCounters(&error) || !loadIdentities(0, &notice, &error)) {
    closeConnection();
    return {OpenStatus::CannotOpen, error.isEmpty() ? QStringLiteral(u"нет файла") : error, {}, {}};
  }
  checkPhase_ = CheckPhase::Results;
  checkNext_ = 1;
  checkEnd_ = lastCommittedSeq_;
  checkProblems_.clear();
  return {OpenStatus::OpenedReadOnly, QStringLiteral(u"проверка %1").arg(QDir::toNativeSeparators(path_)), {}, {}};
}

double ResultStore::checkProgress() const {
  switch (checkPhase_) {
    case CheckPhase::Results:
      return checkEnd_ > 0 ? 0.9 * double(checkNext_ - 1) / double(checkEnd_) : 0.9;
    case CheckPhase::TimeIndex:
      return checkTimeEnd_ > checkTimeNext_ ? 0.9 : 0.95;
    case CheckPhase::Tables:
      return 0.95;
    case CheckPhase::Done:
      return 1;
  }
  return 1;
}

bool ResultStore::checkStep(int results) {
  if (!db_ || checkPhase_ == CheckPhase::Done) return false;
  QVector<UnreadableSpan> spans;
  const auto count = [](sqlite3_stmt*) { return true; };  // each row read is all a step wants
  if (checkPhase_ == CheckPhase::Results) {
    const qint64 last = std::min(checkEnd_, checkNext_ + std::max(1, results) - 1);
    for (sqlite3_stmt* st : {st_->legacyBySeq, st_->scan})
      if (st && checkNext_ <= last) scan(st, false, checkNext_, last, last + 1, count, 0, 0, &spans);
    checkNext_ = last + 1;
    if (checkNext_ > checkEnd_) {
      checkPhase_ = CheckPhase::TimeIndex;
      if (st_->legacyBounds) {
        Rewind rewind{st_->legacyBounds};
        if (sqlite3_step(st_->legacyBounds) == SQLITE_ROW) {
          checkTimeNext_ = sqlite3_column_int64(st_->legacyBounds, 2);
          checkTimeEnd_ = sqlite3_column_int64(st_->legacyBounds, 3) + 1;
        }
      }
    }
  } else if (checkPhase_ == CheckPhase::TimeIndex) {
    // The older results through their time index: a day of them a step at
    // a result a second.
    if (checkTimeNext_ < checkTimeEnd_ && st_->legacyByTime) {
      const qint64 to = std::min(checkTimeEnd_, checkTimeNext_ + qint64(std::max(1, results)) * 1000);
      scan(st_->legacyByTime, true, checkTimeNext_, to, to, count, checkTimeNext_, to, &spans);
      checkTimeNext_ = to;
    }
    if (checkTimeNext_ >= checkTimeEnd_) checkPhase_ = CheckPhase::Tables;
  } else {
    static const char* const kTables[] = {"events",          "result_days",     "daily_logs",
                                          "forward_cursors", "emission_averages", "result_contexts",
                                          "result_runs",     "store_identities"};
    for (const char* table : kTables) {
      sqlite3_stmt* st = nullptr;
      const QByteArray sql = QByteArrayLiteral("PRAGMA quick_check(") + table + ')';
      if (sqlite3_prepare_v2(db_, sql.constData(), -1, &st, nullptr) == SQLITE_OK) {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
          const QString verdict = text(sqlite3_column_text(st, 0));
          if (verdict != QLatin1String("ok")) checkProblems_ << QStringLiteral("%1: %2").arg(QLatin1String(table), verdict);
        }
        if (rc != SQLITE_DONE)
          checkProblems_ << QStringLiteral("%1: %2").arg(QLatin1String(table), QString::fromUtf8(sqlite3_errmsg(db_)));
      }
      sqlite3_finalize(st);
    }
    checkPhase_ = CheckPhase::Done;
  }
  noteDamage(spans);
  return checkPhase_ != CheckPhase::Done;
}

qint64 ResultStore::bytesFree() const {
  if (path_.isEmpty()) return -1;
  QStorageInfo storage(QFileInfo(path_).absolutePath());
  return storage.isValid() ? storage.bytesAvailable() : -1;
}

ResultStore::AppendOutcome ResultStore::append(const Result& result, Sync sync) {
  const std::vector<Result> one{result};
  // The log's pages are written, not waited for: a crash of the program
  // loses nothing, a power cut before syncTogether() may lose them.
  const bool later = sync == Sync::Later && g_durable && isWritable() && exec("PRAGMA synchronous=NORMAL");
  const AppendOutcome outcome = appendBatch(one);
  if (!later) return outcome;
  // Should FULL not come back, the commits after wait for syncTogether() too.
  const bool restored = exec("PRAGMA synchronous=FULL");
  if (outcome.state == AppendState::Committed || !restored) unsynced_ = true;
  return outcome;
}

bool ResultStore::syncLog() {
  if (!unsynced_) return true;
  sqlite3_file* log = nullptr;
  if (!db_ || sqlite3_file_control(db_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) != SQLITE_OK || !log ||
      !log->pMethods || log->pMethods->xSync(log, SQLITE_SYNC_NORMAL) != SQLITE_OK)
    return false;
  unsynced_ = false;
  return true;
}

bool ResultStore::syncTogether(const std::vector<ResultStore*>& stores) {
  std::vector<ResultStore*> waiting;
  for (ResultStore* s : stores)
    if (s && s->unsynced_) waiting.push_back(s);
  if (waiting.empty()) return true;
  // Without durability (tests) there is nothing to wait for.
  bool together = !g_durable;
  // Beside each other, on one file system: one sync of it holds them all.
  if (!together && waiting.size() > 1 && waiting.front()->mark_) {
    const QString dir = QFileInfo(waiting.front()->path_).absolutePath();
    together = std::all_of(waiting.begin(), waiting.end(),
                           [&dir](const ResultStore* s) { return QFileInfo(s->path_).absolutePath() == dir; }) &&
               syncFileSystem(int(waiting.front()->mark_->handle()));
  }
  bool ok = true;
  for (ResultStore* s : waiting) {
    if (together)
      s->unsynced_ = false;
    else
      ok = s->syncLog() && ok;
  }
  return ok;
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
  pending_.emplace_back(StoredEvent(id, utcMs, utcOffset, kind, text));
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

// The context of a result: one already known (the last one used, mostly), or
// a new one, numbered after the others and written with the result.
int ResultStore::contextOf(const Result& r) {
  Context wanted;
  wanted.utcOffset = r.utcOffset;
  wanted.mode = r.mode;
  wanted.fuel = r.fuelIndex;
  wanted.address = r.address;
  wanted.hasCoefficients = fuels_ && r.fuelIndex < kFuelCount;
  if (wanted.hasCoefficients) {
    const FuelRow& f = fuels_[r.fuelIndex];
    wanted.coefficients.tMax = f.tMax;
    wanted.coefficients.co2Max = f.co2Max;
    wanted.coefficients.kfB = f.kfB;
    wanted.coefficients.kfC = f.kfC;
    wanted.coefficients.kfK = f.kfK;
    wanted.coefficients.kfP = f.kfP;
  }
  const auto same = [&wanted](const Context& c) {
    return c.utcOffset == wanted.utcOffset && c.mode == wanted.mode && c.fuel == wanted.fuel &&
           c.address == wanted.address && c.hasCoefficients == wanted.hasCoefficients &&
           (!c.hasCoefficients || sameCoefficients(c.coefficients, wanted.coefficients));
  };
  if (lastContext_ >= 0 && size_t(lastContext_) < contexts_.size() && same(contexts_[size_t(lastContext_)]))
    return lastContext_ + 1;
  for (size_t i = 0; i < contexts_.size(); ++i) {
    if (same(contexts_[i])) {
      lastContext_ = int(i);
      return int(i) + 1;
    }
  }
  const int id = int(contexts_.size()) + 1;
  sqlite3_stmt* st = st_->insertContext;
  sqlite3_bind_int(st, 1, id);
  sqlite3_bind_int64(st, 2, wanted.utcOffset);
  sqlite3_bind_int(st, 3, int(wanted.mode));
  sqlite3_bind_int(st, 4, wanted.fuel);
  sqlite3_bind_int(st, 5, wanted.address);
  const FuelRow& f = wanted.coefficients;
  const int32_t coefficients[] = {f.tMax, f.co2Max, f.kfB, f.kfC, f.kfK, f.kfP};
  for (int i = 0; i < 6; ++i) {
    if (wanted.hasCoefficients)
      sqlite3_bind_int64(st, 6 + i, coefficients[i]);
    else
      sqlite3_bind_null(st, 6 + i);
  }
  if (!run(st)) return 0;
  contexts_.push_back(wanted);
  lastContext_ = id - 1;
  return id;
}

// One transaction: what is pending, then the batch with sequence numbers from
// `firstSeq`. On failure the batch joins the pending items, in order.
ResultStore::AppendOutcome ResultStore::commit(qint64 firstSeq, const std::vector<Result>* batch,
                                               const std::function<void(int)>& progress) {
  AppendOutcome outcome;
  const int pendingBefore = int(pending_.size());
  qint64 day = lastDay_, lastSeq = lastCommittedSeq_;
  qint64 runFirst = runFirstSeq_, runLast = runLastSeq_, runLastUtc = runLastUtcMs_;
  std::array<double, kChannelCount> derived;
  auto writeResult = [&](qint64 seq, const Result& r) {
    const int context = contextOf(r);
    if (context == 0) return false;
    // A new run where the time goes back: the one before ends at its last result.
    if (runFirst == 0 || r.utcMs < runLastUtc) {
      if (runFirst != 0) {
        sqlite3_bind_int64(st_->closeRun, 1, runFirst);
        sqlite3_bind_int64(st_->closeRun, 2, runLast);
        sqlite3_bind_int64(st_->closeRun, 3, runLastUtc);
        if (!run(st_->closeRun)) return false;
      }
      sqlite3_bind_int64(st_->insertRun, 1, seq);
      sqlite3_bind_int64(st_->insertRun, 2, r.utcMs);
      if (!run(st_->insertRun)) return false;
      runFirst = seq;
    }
    runLast = seq;
    runLastUtc = r.utcMs;

    sqlite3_stmt* st = st_->insertResult;
    sqlite3_bind_int64(st, 1, seq);
    sqlite3_bind_int64(st, 2, r.utcMs);
    sqlite3_bind_int(st, 3, context);
    sqlite3_bind_int(st, 4, int(r.status));
    sqlite3_bind_int64(st, 5, r.faultBits);
    sqlite3_bind_int64(st, 6, specialsOf(r));
    // The derived channels as reading will compute them again: kept only
    // where that would not give the very same bits.
    const Context& c = contexts_[size_t(context - 1)];
    derived = r.values;
    if (c.hasCoefficients) deriveChannels(derived, c.coefficients);
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const double v = r.values[size_t(ch)];
      if (isDerived(ch) && c.hasCoefficients && sameBits(derived[size_t(ch)], v))
        sqlite3_bind_null(st, 7 + ch);
      else
        bindValue(st, 7 + ch, ch, v);
    }
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
    lastCommittedSeq_ = std::max(lastCommittedSeq_, lastSeq);
    runFirstSeq_ = runFirst;
    runLastSeq_ = runLast;
    runLastUtcMs_ = runLastUtc;
    committedContexts_ = contexts_.size();
    outcome.state = AppendState::Committed;
    outcome.flushed = pendingBefore;
    afterCommit();
    return outcome;
  }
  outcome.error = lastError_ = sqliteError("ошибка записи в базу данных");
  if (!sqlite3_get_autocommit(db_)) run(st_->rollback);
  // Contexts written with the failed transaction are gone with it.
  contexts_.resize(committedContexts_);
  lastContext_ = -1;
  for (size_t i = 0; i < count; ++i) pending_.emplace_back(StoredResult(firstSeq + qint64(i), (*batch)[i]));
  outcome.state = AppendState::Pending;
  outcome.failureStarted = !failing_;
  failing_ = true;
  return outcome;
}

// After every commit: the mark, and the log moved into the file once it has
// grown, by the helper thread, or here and cut back when the disk is short.
void ResultStore::afterCommit() {
  writeMark();
  if (logReserved_) {
    if (logPages_ >= kCheckpointPages) {
      if (checkpointer_ && checkpointer_->running())
        checkpointer_->request();
      else
        sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    return;
  }
  if (logPages_ < kShortCheckpointPages) return;
  int inLog = 0, moved = 0;
  const int rc = sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_TRUNCATE, &inLog, &moved);
  if (rc != SQLITE_OK) return;
  logPages_ = 0;
  // Room may have come back: the reserve is tried again now and then, while
  // the log is empty.
  if (g_durable && ++shortCuts_ % kReserveRetryCuts == 0 && bytesFree() > 4 * kLogReserve)
    logReserved_ = reserveLogSpace(path_ + QStringLiteral("-wal"));
}

// ---- Reading

const ResultStore::Context& ResultStore::contextById(qint64 id) const {
  if (id < 1 || id > qint64(contexts_.size())) loadContexts();  // added by the writing instance since
  static const Context unknown;
  return id >= 1 && id <= qint64(contexts_.size()) ? contexts_[size_t(id - 1)] : unknown;
}

void ResultStore::setStoreId(qint64 number, bool event, QString* storeId) const {
  const QString& id = identityOf(number, event);
  if (storeId->constData() != id.constData()) *storeId = id;
}

const QString& ResultStore::identityOf(qint64 number, bool event) const {
  for (auto it = segments_.rbegin(); it != segments_.rend(); ++it)
    if ((event ? it->firstEventId : it->firstSeq) <= number) return it->identity;
  static const QString none;
  return segments_.empty() ? none : segments_.front().identity;
}

// A row of `results` (this version's layout) into `out`, if it lies in the
// times `within` asks for; false when it does not.
bool ResultStore::readRow(sqlite3_stmt* st, const Within& within, StoredResult* out) const {
  Result& r = out->result;
  r.utcMs = sqlite3_column_int64(st, 1);
  if (r.utcMs < within.fromUtcMs || r.utcMs >= within.toUtcMs) return false;
  const Context& c = contextById(sqlite3_column_int64(st, 2));
  const qint64 local = r.utcMs + qint64(c.utcOffset) * 1000;
  if (local < within.localFrom || local >= within.localTo) return false;
  out->seq = sqlite3_column_int64(st, 0);
  r.utcOffset = c.utcOffset;
  r.mode = c.mode;
  r.fuelIndex = c.fuel;
  r.address = c.address;
  out->hasStatus = sqlite3_column_type(st, 3) != SQLITE_NULL;
  r.status = out->hasStatus ? ResultStatus(sqlite3_column_int(st, 3)) : ResultStatus::Valid;
  r.faultBits = int32_t(sqlite3_column_int64(st, 4));
  const qint64 specials = sqlite3_column_int64(st, 5);
  uint32_t toDerive = 0;  // derived channels the row leaves to be computed
  for (int ch = 0; ch < kChannelCount; ++ch) {
    sqlite3_value* value = sqlite3_column_value(st, 6 + ch);
    if (isDerived(ch) && sqlite3_value_type(value) == SQLITE_NULL) {
      toDerive |= 1u << ch;
      r.values[size_t(ch)] = std::nan("");
    } else {
      r.values[size_t(ch)] = columnValue(value, ch, specials);
    }
  }
  if (toDerive != 0 && c.hasCoefficients) {
    std::array<double, kChannelCount> derived = r.values;
    deriveChannels(derived, c.coefficients);
    for (const int ch : kDerived)
      if (toDerive & (1u << ch)) r.values[size_t(ch)] = derived[size_t(ch)];
  }
  setStoreId(out->seq, false, &out->storeId);
  return true;
}

// A row of results_v2 (the layout of versions 1 and 2).
bool ResultStore::readLegacyRow(sqlite3_stmt* st, const Within& within, StoredResult* out) const {
  Result& r = out->result;
  r.utcMs = sqlite3_column_int64(st, 1);
  r.utcOffset = int32_t(sqlite3_column_int64(st, 2));
  const qint64 local = r.utcMs + qint64(r.utcOffset) * 1000;
  if (r.utcMs < within.fromUtcMs || r.utcMs >= within.toUtcMs || local < within.localFrom ||
      local >= within.localTo)
    return false;
  out->seq = sqlite3_column_int64(st, 0);
  r.faultBits = int32_t(sqlite3_column_int64(st, 3));
  const qint64 specials = sqlite3_column_int64(st, 4);
  r.mode = WorkMode(sqlite3_column_int(st, 5));
  r.fuelIndex = uint8_t(sqlite3_column_int(st, 6));
  r.address = uint8_t(sqlite3_column_int(st, 7));
  r.status = ResultStatus::Valid;
  out->hasStatus = false;
  for (int ch = 0; ch < kChannelCount; ++ch) r.values[size_t(ch)] = columnValue(st, 8 + ch, ch, specials);
  setStoreId(out->seq, false, &out->storeId);
  return true;
}

// Steps `st` (bound to ?1 the first position, to ?2 `bound`) over its rows,
// each to `take` until it says stop. The position is a row's number
// (column 0) or, `byTime`, its time (column 1); positions run up to `end`,
// excluded. Where stepping meets damage the next row that can be read is
// looked for, by doubling steps and then halving back, and the span between
// is recorded (times unknown there taken from `fromUtcMs` and `toUtcMs`).
// False when reading stopped on another failure.
bool ResultStore::scan(sqlite3_stmt* st, bool byTime, qint64 first, qint64 bound, qint64 end,
                       const std::function<bool(sqlite3_stmt*)>& take, qint64 fromUtcMs, qint64 toUtcMs,
                       QVector<UnreadableSpan>* spans) const {
  Rewind rewind{st};
  const int key = byTime ? 1 : 0;
  // The first row at or after a position: SQLITE_ROW (with its number and
  // time), SQLITE_DONE, or the error.
  qint64 atSeq = 0, atUtc = 0;
  const auto probe = [&](qint64 at) {
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, at);
    sqlite3_bind_int64(st, 2, bound);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      atSeq = sqlite3_column_int64(st, 0);
      atUtc = sqlite3_column_int64(st, 1);
    }
    sqlite3_reset(st);
    return rc;
  };
  qint64 next = first;
  qint64 goodSeq = 0, goodUtc = 0;  // the last row read
  while (next < end) {
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, next);
    sqlite3_bind_int64(st, 2, bound);
    int rc;
    qint64 failedFrom = next;  // the position after the last row read
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      goodSeq = sqlite3_column_int64(st, 0);
      goodUtc = sqlite3_column_int64(st, 1);
      failedFrom = sqlite3_column_int64(st, key) + 1;
      if (!take(st)) return true;
    }
    if (rc == SQLITE_DONE) return true;
    const QString why = QString::fromUtf8(sqlite3_errmsg(db_));
    if (!isDamage(rc)) {
      lastError_ = sqliteError("не читаются результаты");
      return false;
    }
    // Where reading goes again. From the row after the last one read,
    // unless that is where this pass began: every pass gets further.
    qint64 bad = failedFrom, good = end;
    const int from = bad < end ? probe(bad) : SQLITE_DONE;
    if (from == SQLITE_ROW && bad > next) {
      next = bad;
      continue;
    }
    // Past positions that fail by doubling the step, then the first that
    // does not by halving.
    for (qint64 step = 1; bad < end; step *= 2) {
      const qint64 at = end - bad > step ? bad + step : end;
      if (at == end || !isDamage(probe(at))) {
        good = at;
        break;
      }
      bad = at;
    }
    while (good - bad > 1) {
      const qint64 mid = bad + (good - bad) / 2;
      if (isDamage(probe(mid)))
        bad = mid;
      else
        good = mid;
    }
    UnreadableSpan span;
    span.afterSeq = goodSeq;
    span.afterUtcMs = goodSeq ? goodUtc : fromUtcMs;
    span.error = why;
    const int rcAfter = good < end ? probe(good) : SQLITE_DONE;
    if (rcAfter == SQLITE_ROW) {
      span.beforeSeq = atSeq;
      span.beforeUtcMs = atUtc;
    } else {
      span.beforeUtcMs = toUtcMs;
    }
    if (spans && !spans->contains(span)) spans->append(span);
    if (rcAfter != SQLITE_ROW) return true;
    next = byTime ? atUtc : atSeq;
  }
  return true;
}

// Results with fromUtcMs <= utcMs < toUtcMs and localFrom <= local time <
// localTo, in time order, to `take`.
namespace {

struct ReleaseAfterLongRead {
  sqlite3* db;
  const qint64* rows;
  ~ReleaseAfterLongRead() {
    if (*rows < 16384) return;
    sqlite3_db_release_memory(db);
    releaseFreeMemory();
  }
};

}  // namespace

void ResultStore::scanRange(qint64 fromUtcMs, qint64 toUtcMs, qint64 localFrom, qint64 localTo,
                            const ResultSink& take, QVector<UnreadableSpan>* spans) const {
  if (!db_ || fromUtcMs >= toUtcMs) return;
  const Within within{fromUtcMs, toUtcMs, localFrom, localTo};
  // The sources in number order: the older results through their time index,
  // then the runs of this version's, each in time order.
  struct Source {
    bool legacy = false;
    qint64 firstSeq = 0, lastSeq = 0;
    qint64 minUtcMs = 0, maxUtcMs = 0;
  };
  std::vector<Source> sources;
  if (st_->legacyBounds) {
    sqlite3_stmt* st = st_->legacyBounds;
    Rewind rewind{st};
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL) {
      Source s{true, sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1), sqlite3_column_int64(st, 2),
               sqlite3_column_int64(st, 3)};
      if (s.minUtcMs < toUtcMs && s.maxUtcMs >= fromUtcMs) sources.push_back(s);
    }
  }
  if (st_->runsInRange) {
    sqlite3_stmt* st = st_->runsInRange;
    Rewind rewind{st};
    sqlite3_bind_int64(st, 1, fromUtcMs);
    sqlite3_bind_int64(st, 2, toUtcMs);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      Source s{false, sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 2), sqlite3_column_int64(st, 1),
               sqlite3_column_int64(st, 3)};
      if (sqlite3_column_type(st, 2) == SQLITE_NULL) {
        // The newest run, still growing: to the newest result.
        Rewind last{st_->lastRow};
        if (sqlite3_step(st_->lastRow) != SQLITE_ROW) continue;
        s.lastSeq = sqlite3_column_int64(st_->lastRow, 0);
        s.maxUtcMs = sqlite3_column_int64(st_->lastRow, 1);
        if (s.maxUtcMs < fromUtcMs) continue;
      }
      sources.push_back(s);
    }
    if (rc != SQLITE_DONE) {
      const int primary = rc & 0xff;
      if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        // Without the runs, every result of this version read in number order.
        sources.erase(std::remove_if(sources.begin(), sources.end(), [](const Source& s) { return !s.legacy; }),
                      sources.end());
        sources.push_back({false, 1, std::numeric_limits<qint64>::max() - 1, std::numeric_limits<qint64>::min(),
                           std::numeric_limits<qint64>::max()});
      }
      lastError_ = sqliteError("не читаются результаты");
    }
  }

  // In time order as they are unless the clock was set back within the range.
  bool ordered = true;
  for (size_t i = 1; i < sources.size(); ++i)
    if (std::min(sources[i - 1].maxUtcMs, toUtcMs - 1) > std::max(sources[i].minUtcMs, fromUtcMs)) ordered = false;
  std::vector<StoredResult> gathered;
  StoredResult row;
  const ResultSink& sink = ordered ? take : ResultSink([&gathered](const StoredResult& r) { gathered.push_back(r); });
  // A long read leaves the pages it went through in the connection's cache
  // (2 MB, a fifth more than a day's table in the window): handed back after it.
  qint64 read = 0;
  const ReleaseAfterLongRead release{db_, &read};

  for (const Source& s : sources) {
    if (s.legacy) {
      scan(
          st_->legacyByTime, true, fromUtcMs, toUtcMs, toUtcMs,
          [&](sqlite3_stmt* st) {
            ++read;
            if (readLegacyRow(st, within, &row)) sink(row);
            return true;
          },
          fromUtcMs, toUtcMs, spans);
      continue;
    }
    // The run's numbers of the range, by halving: a run is in time order.
    // Damage met on the way leaves the bound where it was, and the scan
    // below reads past it.
    const auto lowerBound = [&](qint64 t, bool low) {
      qint64 lo = s.firstSeq, hi = s.lastSeq + 1;
      sqlite3_stmt* st = st_->seqAt;
      Rewind rewind{st};
      while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        sqlite3_reset(st);
        sqlite3_bind_int64(st, 1, mid);
        sqlite3_bind_int64(st, 2, s.lastSeq);
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
          if (sqlite3_column_int64(st, 1) < t)
            lo = sqlite3_column_int64(st, 0) + 1;
          else
            hi = mid;
        } else if (rc == SQLITE_DONE) {
          hi = mid;
        } else {
          return low ? lo : hi;
        }
      }
      return lo;
    };
    const qint64 from = s.minUtcMs >= fromUtcMs ? s.firstSeq : lowerBound(fromUtcMs, true);
    const qint64 to = s.maxUtcMs < toUtcMs ? s.lastSeq + 1 : lowerBound(toUtcMs, false);
    if (from >= to) continue;
    scan(
        st_->scan, false, from, to - 1, to,
        [&](sqlite3_stmt* st) {
          ++read;
          if (readRow(st, within, &row)) sink(row);
          return true;
        },
        fromUtcMs, toUtcMs, spans);
  }
  if (ordered) return;
  std::stable_sort(gathered.begin(), gathered.end(),
                   [](const StoredResult& a, const StoredResult& b) { return a.result.utcMs < b.result.utcMs; });
  for (const StoredResult& r : gathered) take(r);
}

void ResultStore::noteDamage(const QVector<UnreadableSpan>& spans) const {
  for (const UnreadableSpan& s : spans) {
    if (unreadableFound_.contains(s)) continue;
    unreadableFound_.append(s);
    if (damageObserver_) damageObserver_(s);
  }
}

void ResultStore::forEachResult(qint64 fromUtcMs, qint64 toUtcMs, const ResultSink& take,
                                QVector<UnreadableSpan>* unreadable) const {
  QVector<UnreadableSpan> spans;
  scanRange(fromUtcMs, toUtcMs, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), take,
            &spans);
  noteDamage(spans);
  if (unreadable) *unreadable += spans;
}

void ResultStore::forEachResultOnDay(const QDate& day, const ResultSink& take,
                                     QVector<UnreadableSpan>* unreadable) const {
  if (!db_ || !day.isValid()) return;
  const qint64 start = dayOfDate(day) * kMsPerDay, end = start + kMsPerDay;
  // The offsets of the local clocks the results were taken by narrow the
  // search to the day; the older results may have any.
  qint64 minOffsetMs = -kMaxOffsetMs, maxOffsetMs = kMaxOffsetMs;
  if (!hasLegacy_) {
    loadContexts();
    if (!contexts_.empty()) {
      minOffsetMs = maxOffsetMs = qint64(contexts_.front().utcOffset) * 1000;
      for (const Context& c : contexts_) {
        minOffsetMs = std::min(minOffsetMs, qint64(c.utcOffset) * 1000);
        maxOffsetMs = std::max(maxOffsetMs, qint64(c.utcOffset) * 1000);
      }
    }
  }
  QVector<UnreadableSpan> spans;
  scanRange(start - maxOffsetMs, end - minOffsetMs, start, end, take, &spans);
  noteDamage(spans);
  if (unreadable) *unreadable += spans;
}

std::vector<StoredResult> ResultStore::results(qint64 fromUtcMs, qint64 toUtcMs,
                                               QVector<UnreadableSpan>* unreadable) const {
  std::vector<StoredResult> out;
  if (!db_ || fromUtcMs >= toUtcMs) return out;
  // One a second is the usual rate; a guess saves the vector's regrowth.
  out.reserve(size_t(std::min<qint64>((toUtcMs - fromUtcMs) / 1000 + 1, 86400 + 3600)));
  forEachResult(fromUtcMs, toUtcMs, [&out](const StoredResult& r) { out.push_back(r); }, unreadable);
  return out;
}

std::vector<StoredResult> ResultStore::resultsOnDay(const QDate& day, QVector<UnreadableSpan>* unreadable) const {
  std::vector<StoredResult> out;
  if (!db_ || !day.isValid()) return out;
  out.reserve(86400 + 3600);
  forEachResultOnDay(day, [&out](const StoredResult& r) { out.push_back(r); }, unreadable);
  return out;
}

std::vector<StoredResult> ResultStore::resultsAfter(qint64 seq, int limit, QVector<UnreadableSpan>* unreadable) const {
  std::vector<StoredResult> out;
  if (!db_ || limit <= 0) return out;
  const Within all{std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(),
                   std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
  QVector<UnreadableSpan> spans;
  StoredResult row;
  const qint64 last = std::numeric_limits<qint64>::max() - 1;
  if (st_->legacyBySeq) {
    scan(
        st_->legacyBySeq, false, seq + 1, last, last + 1,
        [&](sqlite3_stmt* st) {
          if (readLegacyRow(st, all, &row)) out.push_back(row);
          return int(out.size()) < limit;
        },
        0, 0, &spans);
  }
  if (st_->scan && int(out.size()) < limit) {
    scan(
        st_->scan, false, std::max(seq, out.empty() ? seq : out.back().seq) + 1, last, last + 1,
        [&](sqlite3_stmt* st) {
          if (readRow(st, all, &row)) out.push_back(row);
          return int(out.size()) < limit;
        },
        0, 0, &spans);
  }
  noteDamage(spans);
  if (unreadable) *unreadable += spans;
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
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    out.push_back(readEvent(st));
    setStoreId(out.back().id, true, &out.back().storeId);
  }
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
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    out.push_back(readEvent(st));
    setStoreId(out.back().id, true, &out.back().storeId);
  }
  if (rc != SQLITE_DONE) lastError_ = sqliteError("не читаются события");
  return out;
}
std::optional<StoredEvent> ResultStore::lastEventOf(const QVector<EventKind>& kinds) const {
  if (!db_ || kinds.isEmpty()) return std::nullopt;
  QStringList numbers;
  for (EventKind k : kinds) numbers << QString::number(int(k));
  const QByteArray sql = QStringLiteral("SELECT id, utc_ms, utc_offset, kind, text FROM events WHERE kind IN (%1)"
                                        " ORDER BY id DESC LIMIT 1")
                             .arg(numbers.join(QLatin1Char(',')))
                             .toUtf8();
  sqlite3_stmt* st = nullptr;
  std::optional<StoredEvent> out;
  if (sqlite3_prepare_v2(db_, sql.constData(), -1, &st, nullptr) == SQLITE_OK) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      out = readEvent(st);
      setStoreId(out->id, true, &out->storeId);
    } else if (rc != SQLITE_DONE) {
      lastError_ = sqliteError("не читаются события");
    }
  } else {
    lastError_ = sqliteError("не читаются события");
  }
  sqlite3_finalize(st);
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
    sqlite3_bind_int(st, 1, a.profile);
    sqlite3_bind_int(st, 2, int(a.period));
    sqlite3_bind_int(st, 3, a.intervalMinutes);
    sqlite3_bind_int64(st, 4, a.startUtcMs);
    sqlite3_bind_int64(st, 5, a.endUtcMs);
    sqlite3_bind_int64(st, 6, a.startOffset);
    sqlite3_bind_int64(st, 7, a.endOffset);
    sqlite3_bind_int(st, 8, a.count);
    sqlite3_bind_int64(st, 9, a.basis);
    for (int c = 0; c < kStoredComponentCount; ++c) {
      const StoredComponentAverage& ca = a.components[size_t(c)];
      const int col = kAverageHeadV4 + 1 + kAveragePerComponentV4 * c;
      const bool hasMean = ca.count > 0 && std::isfinite(ca.mean);
      if (hasMean)
        sqlite3_bind_double(st, col, ca.mean);
      else
        sqlite3_bind_null(st, col);
      sqlite3_bind_int(st, col + 1, ca.count);
      sqlite3_bind_int(st, col + 2, ca.valid ? 1 : 0);
      sqlite3_bind_int(st, col + 3, ca.exceedance);
      sqlite3_bind_double(st, col + 4, std::isfinite(ca.ci) ? ca.ci : 0);
      if (hasMean && std::isfinite(ca.validated))
        sqlite3_bind_double(st, col + 5, ca.validated);
      else
        sqlite3_bind_null(st, col + 5);
      sqlite3_bind_int(st, col + 6, ca.reason);
      sqlite3_bind_int(st, col + 7, ca.expected);
      sqlite3_bind_int(st, col + 8, ca.substitutes);
      sqlite3_bind_int(st, col + 9, ca.outOfRange);
      for (int r = 0; r < kStoredInvalidReasonCount; ++r) sqlite3_bind_int(st, col + 10 + r, ca.invalid[size_t(r)]);
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
                                             qint64 toUtcMs, int profile) const {
  QVector<StoredAverage> out;
  if (!db_ || !st_->averagesInRange || fromUtcMs >= toUtcMs) return out;
  sqlite3_stmt* st = st_->averagesInRange;
  Rewind rewind{st};
  sqlite3_bind_int(st, 1, int(period));
  sqlite3_bind_int(st, 2, intervalMinutes);
  sqlite3_bind_int64(st, 3, fromUtcMs);
  sqlite3_bind_int64(st, 4, toUtcMs);
  sqlite3_bind_int(st, 5, profile);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.append(readAverage(st, averagesV4_));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("cannot read emission averages");
  return out;
}

bool ResultStore::writeVersion2File(const QString& path, const std::vector<Result>& results, QString* error) {
  sqlite3* db = nullptr;
  const auto fail = [&](const char* what) {
    *error = QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_close_v2(db);
    return false;
  };
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK)
    return fail("cannot open");
  const QByteArray schema = QByteArrayLiteral("PRAGMA journal_mode=WAL; BEGIN;") + legacyResultsSql(QStringLiteral("results")).toUtf8() +
                            kCommonSchema + averagesSchemaSql().toUtf8() + legacyViewSql().toUtf8() +
                            QByteArrayLiteral("PRAGMA application_id=") + QByteArray::number(kApplicationId) +
                            QByteArrayLiteral(";PRAGMA user_version=2;");
  if (sqlite3_exec(db, schema.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) return fail("cannot create");
  QStringList marks;
  for (int i = 0; i < 8 + kChannelCount; ++i) marks << QStringLiteral("?");
  const QByteArray insert = QStringLiteral("INSERT INTO results (%1) VALUES (%2)")
                                .arg(legacyColumns(), marks.join(QLatin1Char(',')))
                                .toUtf8();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, insert.constData(), -1, &st, nullptr) != SQLITE_OK) return fail("cannot prepare");
  sqlite3_stmt* day = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO result_days (day) VALUES (?1)", -1, &day, nullptr);
  qint64 seq = 0;
  bool ok = true;
  for (const Result& r : results) {
    sqlite3_bind_int64(st, 1, ++seq);
    sqlite3_bind_int64(st, 2, r.utcMs);
    sqlite3_bind_int64(st, 3, r.utcOffset);
    sqlite3_bind_int64(st, 4, r.faultBits);
    sqlite3_bind_int64(st, 5, specialsOf(r));
    sqlite3_bind_int(st, 6, int(r.mode));
    sqlite3_bind_int(st, 7, r.fuelIndex);
    sqlite3_bind_int(st, 8, r.address);
    for (int ch = 0; ch < kChannelCount; ++ch) bindValue(st, 9 + ch, ch, r.values[size_t(ch)]);
    sqlite3_bind_int64(day, 1, localDay(r.utcMs, r.utcOffset));
    ok = ok && run(st) && run(day);
  }
  sqlite3_finalize(st);
  sqlite3_finalize(day);
  if (!ok || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return fail("cannot write");
  sqlite3_close_v2(db);
  return true;
}

QVector<StoredAverage> ResultStore::allAverages(qint64 fromUtcMs, qint64 toUtcMs) const {
  QVector<StoredAverage> out;
  if (!db_ || !st_->averagesInRange || fromUtcMs >= toUtcMs) return out;
  const QByteArray sql = QStringLiteral("SELECT %1 FROM emission_averages WHERE start_utc_ms >= ?1 AND start_utc_ms < ?2"
                                        " ORDER BY period, interval_minutes, start_utc_ms")
                             .arg(averagesV4_ ? averageColumnsV4() : averageColumns())
                             .toUtf8();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
    lastError_ = sqliteError("cannot read emission averages");
    return out;
  }
  sqlite3_bind_int64(st, 1, fromUtcMs);
  sqlite3_bind_int64(st, 2, toUtcMs);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.append(readAverage(st, averagesV4_));
  if (rc != SQLITE_DONE) lastError_ = sqliteError("cannot read emission averages");
  sqlite3_finalize(st);
  return out;
}
