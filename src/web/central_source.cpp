#include "web/central_source.h"

#include <libpq-fe.h>

#include <QDateTime>
#include <algorithm>

#include "emissions/conversion.h"
#include "web/web_json.h"

namespace web {

const char* const kCentralResultColumns =
    "r.seq, (extract(epoch FROM r.taken_at) * 1000)::bigint, r.utc_offset, r.mode, r.fuel, r.fault_bits, r.specials, "
    "r.tg, r.o2, r.co, r.\"no\", r.no2, r.so2, r.h2s, r.co2, r.nox, r.qa, r.alf, r.ta";
constexpr int kResultColumnCount = 19;

CentralConnection::CentralConnection(QString connection) : connection_(std::move(connection)) {}

CentralConnection::~CentralConnection() {
  if (conn_) PQfinish(conn_);
}

bool CentralConnection::query(const char* sql, const QList<QByteArray>& params, QVector<QStringList>* rows) {
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    if (conn_) PQfinish(conn_);
    conn_ = PQconnectdb(connection_.toUtf8().constData());
    if (PQstatus(conn_) != CONNECTION_OK) {
      error_ = QString::fromUtf8(PQerrorMessage(conn_)).simplified();
      PQfinish(conn_);
      conn_ = nullptr;
      return false;
    }
  }
  std::vector<const char*> values;
  for (const QByteArray& p : params) values.push_back(p.constData());
  PGresult* r = PQexecParams(conn_, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
  const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
  if (!ok) {
    error_ = QString::fromUtf8(PQresultErrorMessage(r)).simplified();
  } else if (rows) {
    const int n = PQntuples(r), m = PQnfields(r);
    rows->reserve(n);
    for (int i = 0; i < n; ++i) {
      QStringList row;
      row.reserve(m);
      for (int j = 0; j < m; ++j)
        row << (PQgetisnull(r, i, j) ? QString() : QString::fromUtf8(PQgetvalue(r, i, j)));
      rows->append(row);
    }
  }
  PQclear(r);
  return ok;
}

StoredResult centralResult(const QStringList& row, int first) {
  StoredResult s;
  const auto at = [&](int k) { return row.value(first + k); };
  s.seq = at(0).toLongLong();
  Result& r = s.result;
  r.utcMs = at(1).toLongLong();
  r.utcOffset = at(2).toInt();
  r.mode = WorkMode(at(3).toInt());
  r.fuelIndex = uint8_t(at(4).toInt());
  r.faultBits = at(5).toInt();
  const qint64 specials = at(6).toLongLong();
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const QString v = at(7 + ch);
    if (!v.isNull()) {
      r.values[size_t(ch)] = v.toDouble();
      continue;
    }
    // The analyzer's code, kept in two bits a channel.
    const int code = int((specials >> (2 * ch)) & 3);
    double raw = code == 1 ? kCodeOverload : code == 2 ? kCodeError : kCodeNoValue;
    r.values[size_t(ch)] = ch == channel::O2 ? raw / 100 : raw;
  }
  return s;
}

namespace {

QByteArray num(qint64 v) { return QByteArray::number(v); }

emissions::IntervalAverage runningAverage(const QStringList& row, int first, qint64 start, qint64 end, int minutes,
                                          int periodSeconds) {
  emissions::IntervalAverage a;
  a.startUtcMs = start;
  a.endUtcMs = end;
  a.resultCount = row.value(first).toInt();
  for (int c = 0; c < emissions::kComponentCount; ++c) {
    emissions::ComponentAverage& ca = a.components[size_t(c)];
    ca.count = row.value(first + 1 + 2 * c).toInt();
    ca.mean = row.value(first + 2 + 2 * c).toDouble();
    ca.valid = emissions::intervalIsValid(ca.count, minutes, periodSeconds);
  }
  return a;
}

// The usual spacing of results, in whole seconds (at least 1).
int medianPeriod(const std::vector<StoredResult>& results) {
  std::vector<qint64> gaps;
  for (size_t i = 1; i < results.size(); ++i) gaps.push_back(results[i].result.utcMs - results[i - 1].result.utcMs);
  if (gaps.empty()) return 1;
  std::nth_element(gaps.begin(), gaps.begin() + long(gaps.size() / 2), gaps.end());
  return std::max(1, int((gaps[gaps.size() / 2] + 500) / 1000));
}

}  // namespace

// ---- history

CentralHistory::CentralHistory(QString connection) : db_(std::move(connection)) {}

QVector<AnalyzerInfo> CentralHistory::analyzers() {
  if (analyzersAge_.isValid() && analyzersAge_.elapsed() < 10000) return analyzers_;
  QVector<QStringList> rows;
  if (!db_.query("SELECT id, site, name, address FROM korvex_analyzers ORDER BY site, name, address", {}, &rows))
    return analyzers_;
  analyzers_.clear();
  for (const QStringList& r : rows) analyzers_.append(AnalyzerInfo{r[0], r[1], r[2], r[3].toInt()});
  analyzersAge_.start();
  return analyzers_;
}

std::vector<StoredResult> CentralHistory::results(const QString& id, qint64 fromUtcMs, qint64 toUtcMs) {
  QVector<QStringList> rows;
  const QByteArray sql = QByteArray("SELECT ") + kCentralResultColumns +
                         " FROM korvex_results r WHERE r.analyzer_id = $1 AND r.taken_at >= to_timestamp($2::double precision / 1000)"
                         " AND r.taken_at < to_timestamp($3::double precision / 1000) ORDER BY r.taken_at, r.seq";
  std::vector<StoredResult> out;
  if (!db_.query(sql.constData(), {id.toUtf8(), num(fromUtcMs), num(toUtcMs)}, &rows)) return out;
  out.reserve(size_t(rows.size()));
  for (const QStringList& r : rows) out.push_back(centralResult(r, 0));
  return out;
}

std::vector<double> CentralHistory::o2RefByFuel(const QString& id) {
  QVector<QStringList> rows;
  std::vector<double> out;
  if (!db_.query("SELECT DISTINCT ON (fuel) fuel, o2_ref FROM korvex_results WHERE analyzer_id = $1"
                 " AND taken_at > now() - interval '2 days' AND o2_ref IS NOT NULL ORDER BY fuel, seq DESC",
                 {id.toUtf8()}, &rows))
    return out;
  for (const QStringList& r : rows) {
    const int fuel = r[0].toInt();
    if (fuel < 0 || fuel > 255) continue;
    if (out.size() <= size_t(fuel)) out.resize(size_t(fuel) + 1, -1);  // -1: no value (outside 0..20)
    out[size_t(fuel)] = r[1].toDouble();
  }
  return out;
}

QVector<StoredEvent> CentralHistory::events(const QString& id, qint64 fromUtcMs, qint64 toUtcMs, int limit) {
  QVector<QStringList> rows;
  QVector<StoredEvent> out;
  if (!db_.query("SELECT id, (extract(epoch FROM taken_at) * 1000)::bigint, utc_offset, kind, text FROM korvex_events"
                 " WHERE analyzer_id = $1 AND taken_at >= to_timestamp($2::double precision / 1000)"
                 " AND taken_at < to_timestamp($3::double precision / 1000) ORDER BY taken_at DESC, id DESC LIMIT $4",
                 {id.toUtf8(), num(fromUtcMs), num(toUtcMs), num(limit)}, &rows))
    return out;
  for (const QStringList& r : rows)
    out.append(StoredEvent{r[0].toLongLong(), r[1].toLongLong(), r[2].toInt(), EventKind(r[3].toInt()), r[4]});
  return out;
}

emissions::AveragingConfig CentralHistory::config(const QString& id, const std::vector<StoredResult>& results) {
  emissions::AveragingConfig c;
  c.zone = QTimeZone::systemTimeZone();
  c.resultPeriodSeconds = medianPeriod(results);
  c.o2RefByFuel = o2RefByFuel(id);
  return c.sanitized();
}

QVector<emissions::IntervalAverage> CentralHistory::dayIntervals(const QString& id, QDate day) {
  emissions::AveragingConfig probe;
  probe.zone = QTimeZone::systemTimeZone();
  const QVector<qint64> starts = emissions::dayIntervalStarts(day, probe);
  if (starts.isEmpty()) return {};
  const qint64 end = starts.last() + probe.intervalMs();
  const std::vector<StoredResult> rows = results(id, starts.first(), end);
  const emissions::AveragingConfig c = config(id, rows);
  QVector<Result> values;
  values.reserve(int(rows.size()));
  for (const StoredResult& s : rows) values.append(s.result);
  return emissions::computeIntervals(values, c, starts.first(), end);
}

std::optional<emissions::EmissionReport> CentralHistory::report(const QString& id, QDate first, QDate last) {
  emissions::AveragingConfig probe;
  probe.zone = QTimeZone::systemTimeZone();
  const QVector<qint64> a = emissions::dayIntervalStarts(first, probe), b = emissions::dayIntervalStarts(last.addDays(1), probe);
  if (a.isEmpty() || b.isEmpty()) return std::nullopt;
  const std::vector<StoredResult> rows = results(id, a.first(), b.first());
  QVector<Result> values;
  values.reserve(int(rows.size()));
  for (const StoredResult& s : rows) values.append(s.result);
  return emissions::EmissionReport::build(values, config(id, rows), emissions::AlarmLimits{}, first, last);
}

QVector<StoredAverage> CentralHistory::storedDays(const QString&, QDate, QDate) {
  // The central database keeps results, not averages.
  return {};
}

// ---- live

CentralLive::CentralLive(QString connection, LiveHub& hub, QObject* parent)
    : QObject(parent), db_(std::move(connection)), hub_(hub) {
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &CentralLive::refresh);
}

void CentralLive::start() {
  refresh();
  timer_.start();
}

void CentralLive::refresh() {
  const QByteArray latest = QByteArray("SELECT a.id, a.site, a.name, a.address, ") + kCentralResultColumns +
                            " FROM korvex_analyzers a LEFT JOIN LATERAL (SELECT * FROM korvex_results x WHERE x.analyzer_id = a.id"
                            " ORDER BY x.seq DESC LIMIT 1) r ON true ORDER BY a.site, a.name, a.address";
  QVector<QStringList> rows;
  if (!db_.query(latest.constData(), {}, &rows)) {
    if (!failing_) emit message(QStringLiteral(u"Центральная БД: ") + db_.lastError());
    failing_ = true;
    return;
  }
  if (failing_) emit message(QStringLiteral(u"Центральная БД: на связи"));
  failing_ = false;
  const int minutes = emissions::kDefaultIntervalMinutes;
  const qint64 intervalMs = qint64(minutes) * 60000;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const qint64 runningStart = emissions::intervalStartFor(now, intervalMs);
  for (const QStringList& row : rows) {
    LiveSnapshot s;
    s.id = row[0];
    s.site = row[1];
    s.name = row[2];
    s.address = row[3].toInt();
    s.lampKnown = false;
    s.intervalMinutes = minutes;
    if (!row[4].isNull()) s.last = centralResult(row, 4);
    const qint64 age = s.last ? now - s.last->result.utcMs : -1;
    s.linkOk = s.last && age < 60000;
    s.state = !s.last ? QStringLiteral(u"Результатов нет")
              : s.linkOk ? QStringLiteral(u"Результаты поступают")
                         : QStringLiteral(u"Нет новых результатов");
    const QString key = QStringLiteral("%1 %2").arg(s.last ? s.last->seq : 0).arg(s.state);
    if (seen_.value(s.id) == key) continue;
    seen_.insert(s.id, key);
    if (s.last) {
      // The emission values as the service sent them; the averages of this and the last interval.
      QVector<QStringList> extra;
      if (db_.query("SELECT o2_ref, co_mg, nox_mg, so2_mg, h2s_mg FROM korvex_results WHERE analyzer_id = $1 AND seq = $2",
                    {s.id.toUtf8(), num(s.last->seq)}, &extra) &&
          !extra.isEmpty()) {
        const QStringList& e = extra.first();
        if (!e[0].isNull()) s.o2Ref = e[0].toDouble();
        for (int c = 0; c < emissions::kComponentCount; ++c)
          if (!e[1 + c].isNull()) s.lastEmissions[size_t(c)] = e[1 + c].toDouble();
      }
      QVector<QStringList> gaps;
      std::vector<StoredResult> recent;
      if (db_.query("SELECT (extract(epoch FROM taken_at) * 1000)::bigint FROM korvex_results WHERE analyzer_id = $1"
                    " ORDER BY seq DESC LIMIT 61",
                    {s.id.toUtf8()}, &gaps)) {
        for (auto it = gaps.crbegin(); it != gaps.crend(); ++it) {
          StoredResult r;
          r.result.utcMs = (*it)[0].toLongLong();
          recent.push_back(r);
        }
      }
      const int period = medianPeriod(recent);
      const char* averages =
          "SELECT count(*), count(co_mg), coalesce(avg(co_mg), 0), count(nox_mg), coalesce(avg(nox_mg), 0),"
          " count(so2_mg), coalesce(avg(so2_mg), 0), count(h2s_mg), coalesce(avg(h2s_mg), 0) FROM korvex_results"
          " WHERE analyzer_id = $1 AND taken_at >= to_timestamp($2::double precision / 1000)"
          " AND taken_at < to_timestamp($3::double precision / 1000)";
      const int offset = s.last->result.utcOffset;
      for (int k = 0; k < 2; ++k) {
        const qint64 start = runningStart - k * intervalMs, end = start + intervalMs;
        QVector<QStringList> a;
        if (!db_.query(averages, {s.id.toUtf8(), num(start), num(end)}, &a) || a.isEmpty()) continue;
        ShownAverage shown = shownAverage(runningAverage(a.first(), 0, start, end, minutes, period));
        shown.startOffset = shown.endOffset = offset;
        (k == 0 ? s.running : s.lastInterval) = shown;
      }
    }
    hub_.publish(s);
  }
}

}  // namespace web
