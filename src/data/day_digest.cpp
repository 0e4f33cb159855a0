#include "data/day_digest.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

#include "data/sha256.h"

namespace {

constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kMaxOffsetMs = 18 * 3600 * 1000;
constexpr qint64 kJulianDayOf1970 = 2440588;

template <class T>
void put(QByteArray& out, T value) {
  char bytes[sizeof(T)];
  qToLittleEndian<T>(value, bytes);
  out.append(bytes, sizeof(T));
}

void putDouble(QByteArray& out, double v) {
  quint64 bits;
  if (std::isnan(v))
    bits = 0x7FF8000000000000ULL;
  else
    std::memcpy(&bits, &v, sizeof bits);
  put<quint64>(out, bits);
}

QDate localDate(qint64 utcMs, int32_t offset) {
  const qint64 local = utcMs + qint64(offset) * 1000;
  const qint64 day = local / kMsPerDay - (local % kMsPerDay < 0 ? 1 : 0);
  return QDate::fromJulianDay(day + kJulianDayOf1970);
}

QString localTime(qint64 utcMs, int32_t offset) {
  return QDateTime::fromMSecsSinceEpoch(utcMs + qint64(offset) * 1000, Qt::UTC).toString(QStringLiteral("hh:mm:ss"));
}

auto markKey(const AverageMark& m) { return std::make_tuple(m.period, m.intervalMinutes, m.startUtcMs); }

QString hex(const QByteArray& b) { return QString::fromLatin1(b.toHex()); }

}  // namespace

QByteArray canonicalResult(const StoredResult& s) {
  const Result& r = s.result;
  QByteArray out;
  out.reserve(125);
  put<qint64>(out, s.seq);
  put<qint64>(out, r.utcMs);
  put<qint32>(out, r.utcOffset);
  put<qint32>(out, r.faultBits);
  out.append(char(r.mode));
  out.append(char(r.fuelIndex));
  out.append(char(r.address));
  out.append(char(r.status));
  for (double v : r.values) putDouble(out, v);
  out.append('\n');
  return out;
}

QByteArray canonicalAverage(const StoredAverage& a) {
  QByteArray out;
  out.reserve(90);
  out.append(char(int(a.period)));
  put<qint32>(out, a.intervalMinutes);
  put<qint64>(out, a.startUtcMs);
  put<qint64>(out, a.endUtcMs);
  put<qint32>(out, a.startOffset);
  put<qint32>(out, a.endOffset);
  put<qint32>(out, a.count);
  for (const StoredComponentAverage& c : a.components) {
    putDouble(out, c.mean);
    put<qint32>(out, c.count);
    out.append(char(c.valid ? 1 : 0));
    out.append(char(c.exceedance));
  }
  out.append('\n');
  return out;
}

bool readDayRows(const ResultStore& store, const QDate& day, DayRows* rows, QString* error) {
  if (!store.isOpen() || !day.isValid()) {
    if (error) *error = QStringLiteral(u"база данных результатов не открыта");
    return false;
  }
  rows->results = store.resultsOnDay(day);
  std::sort(rows->results.begin(), rows->results.end(),
            [](const StoredResult& a, const StoredResult& b) { return a.seq < b.seq; });
  const qint64 start = (day.toJulianDay() - kJulianDayOf1970) * kMsPerDay;
  rows->averages.clear();
  for (const StoredAverage& a : store.allAverages(start - kMaxOffsetMs, start + kMsPerDay + kMaxOffsetMs))
    if (localDate(a.startUtcMs, a.startOffset) == day) rows->averages.append(a);
  return true;
}

DayDigest digestDay(const QDate& day, const DayRows& rows, qint64 resultLimit) {
  DayDigest d;
  d.day = day;
  const qint64 n = resultLimit < 0 ? qint64(rows.results.size()) : std::min<qint64>(resultLimit, rows.results.size());
  Sha256 all;
  all.add(QByteArrayView("korvex-day-results/1\0", 21));
  Sha256 block;
  for (qint64 i = 0; i < n; ++i) {
    const QByteArray row = canonicalResult(rows.results[size_t(i)]);
    all.add(row);
    block.add(row);
    if ((i + 1) % DayDigest::kBlockSize == 0 || i + 1 == n) {
      d.resultBlocks.append(block.result());
      block = Sha256();
    }
  }
  d.resultCount = n;
  d.results = all.result();

  Sha256 averages;
  averages.add(QByteArrayView("korvex-day-averages/1\0", 22));
  for (const StoredAverage& a : rows.averages) {
    const QByteArray row = canonicalAverage(a);
    averages.add(row);
    d.averageMarks.append({int(a.period), a.intervalMinutes, a.startUtcMs, a.startOffset, Sha256::of(row).left(8)});
  }
  d.averageCount = int(rows.averages.size());
  d.averages = averages.result();
  return d;
}

bool DayDigest::operator==(const DayDigest& o) const {
  return day == o.day && resultCount == o.resultCount && results == o.results && averageCount == o.averageCount &&
         averages == o.averages;
}

QString DayDigest::toText() const {
  QJsonObject o;
  o[QStringLiteral("v")] = 1;
  o[QStringLiteral("day")] = day.toString(Qt::ISODate);
  o[QStringLiteral("results")] = double(resultCount);
  o[QStringLiteral("resultsSha256")] = hex(results);
  QJsonArray blocks;
  for (const QByteArray& b : resultBlocks) blocks.append(hex(b));
  o[QStringLiteral("blocks")] = blocks;
  o[QStringLiteral("averages")] = averageCount;
  o[QStringLiteral("averagesSha256")] = hex(averages);
  QJsonArray marks;
  for (const AverageMark& m : averageMarks)
    marks.append(QJsonArray{m.period, m.intervalMinutes, double(m.startUtcMs), m.startOffset, hex(m.digest)});
  o[QStringLiteral("marks")] = marks;
  return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool DayDigest::fromText(const QString& text, DayDigest* out) {
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return false;
  const QJsonObject o = doc.object();
  if (o.value(QStringLiteral("v")).toInt() != 1) return false;
  DayDigest d;
  d.day = QDate::fromString(o.value(QStringLiteral("day")).toString(), Qt::ISODate);
  d.resultCount = qint64(o.value(QStringLiteral("results")).toDouble(-1));
  d.results = QByteArray::fromHex(o.value(QStringLiteral("resultsSha256")).toString().toLatin1());
  for (const QJsonValue& b : o.value(QStringLiteral("blocks")).toArray())
    d.resultBlocks.append(QByteArray::fromHex(b.toString().toLatin1()));
  d.averageCount = o.value(QStringLiteral("averages")).toInt(-1);
  d.averages = QByteArray::fromHex(o.value(QStringLiteral("averagesSha256")).toString().toLatin1());
  for (const QJsonValue& v : o.value(QStringLiteral("marks")).toArray()) {
    const QJsonArray m = v.toArray();
    if (m.size() != 5) return false;
    d.averageMarks.append({m[0].toInt(), m[1].toInt(), qint64(m[2].toDouble()), int32_t(m[3].toInt()),
                           QByteArray::fromHex(m[4].toString().toLatin1())});
  }
  if (!d.day.isValid() || d.resultCount < 0 || d.results.size() != 32 || d.averageCount < 0 ||
      d.averages.size() != 32 || d.averageMarks.size() != d.averageCount)
    return false;
  *out = d;
  return true;
}

QString describeDifference(const DayDigest& sealed, const DayDigest& now, const DayRows& rows) {
  QStringList parts;
  if (sealed.resultCount != now.resultCount || sealed.results != now.results) {
    QString part;
    if (sealed.resultCount != now.resultCount)
      part = QStringLiteral(u"результатов %1, опечатано %2").arg(now.resultCount).arg(sealed.resultCount);
    // The first block that differs names the rows; blocks after a removed or
    // added row all differ, the first of them is where it happened.
    const int common = int(std::min(sealed.resultBlocks.size(), now.resultBlocks.size()));
    int k = 0;
    while (k < common && sealed.resultBlocks[k] == now.resultBlocks[k]) ++k;
    const qint64 first = qint64(k) * DayDigest::kBlockSize;
    const qint64 last = std::min<qint64>(first + DayDigest::kBlockSize, qint64(rows.results.size())) - 1;
    if (first <= last && last < qint64(rows.results.size())) {
      const StoredResult& a = rows.results[size_t(first)];
      const StoredResult& b = rows.results[size_t(last)];
      const QString where = QStringLiteral(u"результаты № %1–%2 (%3–%4)")
                                .arg(a.seq)
                                .arg(b.seq)
                                .arg(localTime(a.result.utcMs, a.result.utcOffset),
                                     localTime(b.result.utcMs, b.result.utcOffset));
      part = part.isEmpty() ? where + QStringLiteral(u" изменены") : part + QStringLiteral(u"; первое расхождение: ") + where;
    } else if (part.isEmpty()) {
      part = QStringLiteral(u"результаты изменены");
    }
    parts << part;
  }
  if (sealed.averageCount != now.averageCount || sealed.averages != now.averages) {
    QMap<std::tuple<int, int, qint64>, const AverageMark*> was, is;
    for (const AverageMark& m : sealed.averageMarks) was.insert(markKey(m), &m);
    for (const AverageMark& m : now.averageMarks) is.insert(markKey(m), &m);
    auto name = [](const AverageMark& m) {
      if (m.period == int(AveragePeriodKind::Day))
        return QStringLiteral(u"суточное среднее (интервалы %1 мин)").arg(m.intervalMinutes);
      const qint64 end = m.startUtcMs + qint64(m.intervalMinutes) * 60000;
      return QStringLiteral(u"среднее за %1–%2 (%3 мин)")
          .arg(localTime(m.startUtcMs, m.startOffset).left(5), localTime(end, m.startOffset).left(5))
          .arg(m.intervalMinutes);
    };
    QString part;
    for (auto it = was.cbegin(); it != was.cend() && part.isEmpty(); ++it) {
      const auto found = is.constFind(it.key());
      if (found == is.cend())
        part = name(**it) + QStringLiteral(u" удалено");
      else if ((*found)->digest != (*it)->digest)
        part = name(**it) + QStringLiteral(u" изменено");
    }
    for (auto it = is.cbegin(); it != is.cend() && part.isEmpty(); ++it)
      if (!was.contains(it.key())) part = name(**it) + QStringLiteral(u" добавлено");
    parts << (part.isEmpty() ? QStringLiteral(u"средние изменены") : part);
  }
  return parts.join(QStringLiteral("; "));
}
