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

#include "data/hashes.h"

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
  // Written in place: a year's check makes 31 million of these.
  QByteArray out(125, Qt::Uninitialized);
  char* p = out.data();
  qToLittleEndian<qint64>(s.seq, p);
  qToLittleEndian<qint64>(r.utcMs, p + 8);
  qToLittleEndian<qint32>(r.utcOffset, p + 16);
  qToLittleEndian<qint32>(r.faultBits, p + 20);
  p[24] = char(r.mode);
  p[25] = char(r.fuelIndex);
  p[26] = char(r.address);
  p[27] = char(r.status);
  for (size_t ch = 0; ch < r.values.size(); ++ch) {
    quint64 bits;
    if (std::isnan(r.values[ch]))
      bits = 0x7FF8000000000000ULL;
    else
      std::memcpy(&bits, &r.values[ch], sizeof bits);
    qToLittleEndian<quint64>(bits, p + 28 + 8 * ch);
  }
  p[124] = '\n';
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

struct DayDigester::State {
  Blake2b256 block;
  bool open = false;  // a block is being hashed
  Blake2b256 averages;
};

DayDigester::DayDigester(const QDate& day) : state_(std::make_shared<State>()) {
  digest_.day = day;
  state_->averages.add(QByteArrayView("korvex-day-averages/1\0", 22));
}

void DayDigester::closeBlock() {
  if (!state_->open) return;
  digest_.blocks.last().digest = state_->block.result();
  state_->block = Blake2b256();
  state_->open = false;
}

void DayDigester::addResult(const StoredResult& r) {
  const qint64 index = r.seq / DayDigest::kBlockSize;
  if (!state_->open || digest_.blocks.last().index != index) {
    closeBlock();
    ResultBlock b;
    b.index = index;
    b.firstSeq = r.seq;
    b.firstUtcMs = r.result.utcMs;
    b.firstOffset = r.result.utcOffset;
    digest_.blocks.append(b);
    state_->open = true;
  }
  state_->block.add(canonicalResult(r));
  ResultBlock& b = digest_.blocks.last();
  ++b.count;
  b.lastSeq = r.seq;
  b.lastUtcMs = r.result.utcMs;
  b.lastOffset = r.result.utcOffset;
  ++digest_.resultCount;
  digest_.lastSeq = std::max(digest_.lastSeq, r.seq);
}

void DayDigester::addAverage(const StoredAverage& a) {
  const QByteArray row = canonicalAverage(a);
  state_->averages.add(row);
  digest_.averageMarks.append({int(a.period), a.intervalMinutes, a.startUtcMs, a.startOffset, Blake2b256::of(row).left(8)});
  ++digest_.averageCount;
}

void DayDigester::join(DayDigester& later) {
  later.closeBlock();
  closeBlock();
  digest_.blocks += later.digest_.blocks;
  digest_.resultCount += later.digest_.resultCount;
  digest_.lastSeq = std::max(digest_.lastSeq, later.digest_.lastSeq);
}

namespace {

QByteArray resultsDigest(const QVector<ResultBlock>& blocks) {
  Blake2b256 all;
  all.add(QByteArrayView("korvex-day-results/1\0", 21));
  for (const ResultBlock& b : blocks) {
    char index[8];
    qToLittleEndian<qint64>(b.index, index);
    all.add(QByteArrayView(index, 8));
    all.add(b.digest);
  }
  return all.result();
}

}  // namespace

DayDigest DayDigester::finish() {
  closeBlock();
  digest_.results = resultsDigest(digest_.blocks);
  digest_.averages = state_->averages.result();
  return digest_;
}

DayDigest digestDay(const QDate& day, const DayRows& rows, qint64 lastSeq) {
  DayDigester d(day);
  for (const StoredResult& r : rows.results)
    if (lastSeq < 0 || r.seq <= lastSeq) d.addResult(r);
  for (const StoredAverage& a : rows.averages) d.addAverage(a);
  return d.finish();
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
  o[QStringLiteral("lastSeq")] = double(lastSeq);
  o[QStringLiteral("resultsBlake2b")] = hex(results);
  QJsonArray list;
  for (const ResultBlock& b : blocks)
    list.append(QJsonArray{double(b.index), double(b.count), double(b.firstSeq), double(b.lastSeq), hex(b.digest)});
  o[QStringLiteral("blocks")] = list;
  o[QStringLiteral("averages")] = averageCount;
  o[QStringLiteral("averagesBlake2b")] = hex(averages);
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
  d.lastSeq = qint64(o.value(QStringLiteral("lastSeq")).toDouble(-1));
  d.results = QByteArray::fromHex(o.value(QStringLiteral("resultsBlake2b")).toString().toLatin1());
  for (const QJsonValue& v : o.value(QStringLiteral("blocks")).toArray()) {
    const QJsonArray b = v.toArray();
    if (b.size() != 5) return false;
    ResultBlock block;
    block.index = qint64(b[0].toDouble());
    block.count = qint64(b[1].toDouble());
    block.firstSeq = qint64(b[2].toDouble());
    block.lastSeq = qint64(b[3].toDouble());
    block.digest = QByteArray::fromHex(b[4].toString().toLatin1());
    d.blocks.append(block);
  }
  d.averageCount = o.value(QStringLiteral("averages")).toInt(-1);
  d.averages = QByteArray::fromHex(o.value(QStringLiteral("averagesBlake2b")).toString().toLatin1());
  for (const QJsonValue& v : o.value(QStringLiteral("marks")).toArray()) {
    const QJsonArray m = v.toArray();
    if (m.size() != 5) return false;
    d.averageMarks.append({m[0].toInt(), m[1].toInt(), qint64(m[2].toDouble()), int32_t(m[3].toInt()),
                           QByteArray::fromHex(m[4].toString().toLatin1())});
  }
  if (!d.day.isValid() || d.resultCount < 0 || d.lastSeq < 0 || d.results.size() != 32 || d.averageCount < 0 ||
      d.averages.size() != 32 || d.averageMarks.size() != d.averageCount)
    return false;
  *out = d;
  return true;
}

QString describeDifference(const DayDigest& sealed, const DayDigest& now) {
  QStringList parts;
  if (sealed.resultCount != now.resultCount || sealed.results != now.results) {
    QString part;
    if (sealed.resultCount != now.resultCount)
      part = QStringLiteral(u"результатов %1, опечатано %2").arg(now.resultCount).arg(sealed.resultCount);
    // The first block that differs names the rows.
    QMap<qint64, const ResultBlock*> was, is;
    for (const ResultBlock& b : sealed.blocks) was.insert(b.index, &b);
    for (const ResultBlock& b : now.blocks) is.insert(b.index, &b);
    QList<qint64> indexes = was.keys() + is.keys();
    std::sort(indexes.begin(), indexes.end());
    QString where;
    for (qint64 index : indexes) {
      const ResultBlock* a = was.value(index);
      const ResultBlock* b = is.value(index);
      if (a && b && a->digest == b->digest) continue;
      if (b)
        where = QStringLiteral(u"результаты № %1–%2 (%3–%4)")
                    .arg(b->firstSeq)
                    .arg(b->lastSeq)
                    .arg(localTime(b->firstUtcMs, b->firstOffset), localTime(b->lastUtcMs, b->lastOffset));
      else
        where = QStringLiteral(u"результаты № %1–%2").arg(a->firstSeq).arg(a->lastSeq);
      if (!a) where += QStringLiteral(u" добавлены");
      else if (!b) where += QStringLiteral(u" удалены");
      else if (part.isEmpty()) where += QStringLiteral(u" изменены");
      break;
    }
    if (where.isEmpty()) where = QStringLiteral(u"результаты изменены");
    parts << (part.isEmpty() ? where : part + QStringLiteral(u"; первое расхождение: ") + where);
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
