#include "data/trail_check.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "data/audit_trail.h"
#include "data/day_digest.h"
#include "data/result_store.h"
#include "platform/seams.h"

namespace {

QString plural(qint64 n, const char16_t* one, const char16_t* few, const char16_t* many) {
  const qint64 m100 = n % 100, m10 = n % 10;
  const char16_t* word = (m100 >= 11 && m100 <= 14) ? many : m10 == 1 ? one : (m10 >= 2 && m10 <= 4) ? few : many;
  return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf16(word));
}

QString when(const AuditEntry& e) {
  return QDateTime::fromMSecsSinceEpoch(e.utcMs + qint64(e.utcOffset) * 1000, Qt::UTC)
      .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

QString entryName(const AuditEntry& e) {
  return QStringLiteral(u"запись %1 (%2, %3)").arg(e.id).arg(auditKindText(e.kind), when(e));
}

TrailCheck broken(const QString& line, qint64 entry = 0, const QDate& day = QDate()) {
  TrailCheck c;
  c.status = TrailCheck::Status::Broken;
  c.line = line;
  c.brokenEntry = entry;
  c.brokenDay = day;
  return c;
}

// The chain: each entry against its own hash and the one before it; the
// first one against the start of a chain or a continued one.
TrailCheck checkChain(const QVector<AuditEntry>& entries, bool fromTheStart, bool recordedBreaks) {
  const AuditEntry* recorded = nullptr;
  for (int i = 0; i < entries.size(); ++i) {
    const AuditEntry& e = entries[i];
    if (e.hash.size() != 32 || entryHash(e) != e.hash)
      return broken(entryName(e) + QStringLiteral(u": содержимое изменено, сумма SHA-256 записи не совпадает"), e.id);
    if (i == 0) {
      if (!fromTheStart) continue;
      if (e.prevHash == QByteArray(32, '\0')) {
        if (e.id != 1)
          return broken(entryName(e) + QStringLiteral(u": цепочка начинается не с записи 1 (записи 1–%1 удалены)").arg(e.id - 1),
                        e.id);
      } else {
        const ChainHead from = ChainHead::fromText(e.before);
        const bool continues = (e.kind == AuditKind::ChainContinued || e.kind == AuditKind::DatabaseMovedAside) &&
                               from.id == e.id - 1 && from.hash == e.prevHash;
        if (!continues)
          return broken(entryName(e) + QStringLiteral(u": первая запись ссылается на запись, которой нет (записи до неё удалены)"),
                        e.id);
      }
    } else {
      const AuditEntry& p = entries[i - 1];
      if (e.id != p.id + 1)
        return broken(QStringLiteral(u"после записи %1 идёт запись %2: записи %3–%4 удалены")
                          .arg(p.id)
                          .arg(e.id)
                          .arg(p.id + 1)
                          .arg(e.id - 1),
                      p.id + 1);
      if (e.prevHash != p.hash)
        return broken(entryName(p) + QStringLiteral(u": изменена или подменена, запись %1 ссылается на другую сумму").arg(e.id),
                      p.id);
    }
    if (e.kind == AuditKind::TrailBroken && !recorded) recorded = &e;
  }
  if (recordedBreaks && recorded)
    return broken(entryName(*recorded) + QStringLiteral(u": нарушение, найденное программой: ") + recorded->text,
                  recorded->id);
  return {};
}

// The end of the chain against the head file.
TrailCheck checkHead(const AuditTrail& trail, const QString& dbPath) {
  ChainHead head;
  bool exists = false;
  const QVector<AuditEntry> last = trail.newestEntries(1);
  const QString file = QDir::toNativeSeparators(chainHeadPath(dbPath));
  if (!readChainHead(dbPath, &head, &exists)) {
    if (last.isEmpty()) return {};
    return broken(exists ? QStringLiteral(u"файл конца цепочки %1 не читается: удаление последних записей не проверить").arg(file)
                         : QStringLiteral(u"нет файла конца цепочки %1: удаление последних записей не проверить").arg(file),
                  last[0].id);
  }
  const qint64 lastId = last.isEmpty() ? 0 : last[0].id;
  if (head.id > lastId) {
    // A new database continuing the chain has no entry yet: not a loss.
    if (last.isEmpty()) return {};
    return broken(lastId == 0 ? QStringLiteral(u"записи журнала аудита 1–%1 удалены: конец цепочки отмечен на записи %1 (%2)")
                                    .arg(head.id)
                                    .arg(file)
                              : QStringLiteral(u"записи %1–%2 удалены: последняя запись %3, конец цепочки отмечен на записи %2 (%4)")
                                    .arg(lastId + 1)
                                    .arg(head.id)
                                    .arg(lastId)
                                    .arg(file),
                  lastId + 1);
  }
  // The head may lag one commit behind (a crash between the two writes).
  const QVector<AuditEntry> at = trail.entriesAfter(head.id - 1, 1);
  // No such entry here: the head names the end of the chain an earlier
  // database held (this one continues it); a gap the chain shows itself.
  if (at.isEmpty() || at[0].id != head.id) return {};
  if (at[0].hash != head.hash)
    return broken(entryName(at[0]) + QStringLiteral(u": не совпадает с отметкой конца цепочки (%1)").arg(file), head.id);
  return {};
}

struct DayVerdict {
  QDate day;
  QString problem;  // empty: whole
  qint64 sealId = 0;
};

DayVerdict checkDay(const ResultStore& store, const AuditEntry& seal) {
  DayVerdict v;
  v.sealId = seal.id;
  DayDigest sealed;
  if (!DayDigest::fromText(seal.after, &sealed)) {
    v.day = QDate::fromString(seal.subject, Qt::ISODate);
    v.problem = QStringLiteral(u"печать (запись %1) не читается").arg(seal.id);
    return v;
  }
  v.day = sealed.day;
  DayRows rows;
  QString error;
  if (!readDayRows(store, sealed.day, &rows, &error)) {
    v.problem = error;
    return v;
  }
  const DayDigest now = digestDay(sealed.day, rows);
  if (!(now == sealed)) v.problem = describeDifference(sealed, now);
  return v;
}

QVector<AuditEntry> sealsInScope(const AuditTrail& trail, const TrailCheckScope& scope) {
  QVector<AuditEntry> seals = trail.latestSeals();
  if (scope.fromDay.isValid() || scope.toDay.isValid()) {
    QVector<AuditEntry> kept;
    for (const AuditEntry& s : seals) {
      const QDate d = QDate::fromString(s.subject, Qt::ISODate);
      if ((!scope.fromDay.isValid() || d >= scope.fromDay) && (!scope.toDay.isValid() || d <= scope.toDay)) kept.append(s);
    }
    seals = kept;
  }
  if (scope.newestDays >= 0 && seals.size() > scope.newestDays) seals = seals.mid(seals.size() - scope.newestDays);
  return seals;
}

// The chain and the head; the entries checked in `count`.
TrailCheck checkEntries(const AuditTrail& trail, const QString& dbPath, const TrailCheckScope& scope, qint64* count) {
  const QVector<AuditEntry> entries =
      scope.newestEntries > 0 ? trail.newestEntries(scope.newestEntries) : trail.entriesAfter(0, 1 << 30);
  if (!trail.lastError().isEmpty()) {
    TrailCheck c;
    c.status = TrailCheck::Status::Unreadable;
    c.line = trail.lastError();
    return c;
  }
  *count = entries.size();
  const bool fromTheStart = scope.newestEntries <= 0 || entries.size() < scope.newestEntries;
  TrailCheck c = checkChain(entries, fromTheStart, scope.recordedBreaks);
  if (!c.isWhole()) return c;
  return checkHead(trail, dbPath);
}

QDate localDate(qint64 utcMs, int32_t offset) {
  constexpr qint64 kMsPerDay = 86400000;
  const qint64 local = utcMs + qint64(offset) * 1000;
  return QDate(1970, 1, 1).addDays(local / kMsPerDay - (local % kMsPerDay < 0 ? 1 : 0));
}

// Every sealed day's digest from one pass over the results, in order of
// sequence numbers, and one over the averages; then each against its seal,
// by day. The results are read in `parts` ranges of sequence numbers at once,
// each through a connection of its own (`open` makes them); a day's blocks
// never span two ranges, so the parts' digesters join in order.
QVector<DayVerdict> streamDays(const ResultStore& store, const std::function<std::unique_ptr<ResultStore>()>& open,
                               const QVector<AuditEntry>& seals, const TrailCheckScope& scope, QString* failure) {
  QVector<DayVerdict> verdicts;
  std::map<QDate, std::pair<DayDigest, AuditEntry>> sealed;
  for (const AuditEntry& seal : seals) {
    DayDigest d;
    if (DayDigest::fromText(seal.after, &d))
      sealed.emplace(d.day, std::make_pair(d, seal));
    else
      verdicts.append({QDate::fromString(seal.subject, Qt::ISODate),
                       QStringLiteral(u"печать (запись %1) не читается").arg(seal.id), seal.id});
  }
  const qint64 last = store.lastCommittedSeq();
  const int parts = std::max(1, std::min<int>(scope.threads, int(last / DayDigest::kBlockSize) + 1));
  const qint64 blocksPerPart = (last / DayDigest::kBlockSize + parts) / parts;
  const qint64 perPart = blocksPerPart * DayDigest::kBlockSize;
  std::vector<std::map<QDate, DayDigester>> digesters(static_cast<size_t>(parts));
  for (auto& part : digesters)
    for (const auto& [day, unused] : sealed) part.emplace(day, DayDigester(day));
  for (const StoredAverage& a : store.allAverages(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max())) {
    const auto it = digesters[0].find(localDate(a.startUtcMs, a.startOffset));
    if (it != digesters[0].end()) it->second.addAverage(a);
  }
  std::atomic<qint64> read{0};
  std::mutex mutex;
  auto work = [&](int part, const ResultStore* own) {
    std::unique_ptr<ResultStore> mine;
    if (!own) {
      mine = open();
      if (!mine) {
        std::lock_guard<std::mutex> lock(mutex);
        *failure = QStringLiteral(u"не открывается база данных для проверки");
        return;
      }
      own = mine.get();
    }
    const qint64 from = qint64(part) * perPart, to = from + perPart;  // from <= seq < to
    std::map<QDate, DayDigester>& mineDays = digesters[size_t(part)];
    constexpr int kChunk = 32768;
    for (qint64 after = from - 1; after + 1 < to;) {
      const std::vector<StoredResult> chunk = own->resultsAfter(after, int(std::min<qint64>(kChunk, to - after - 1)));
      if (chunk.empty()) break;
      for (const StoredResult& r : chunk) {
        if (r.seq >= to) break;
        const auto it = mineDays.find(localDate(r.result.utcMs, r.result.utcOffset));
        if (it != mineDays.end()) it->second.addResult(r);
      }
      after = chunk.back().seq;
      const qint64 done = read += qint64(chunk.size());
      if (scope.progress && last > 0) {
        std::lock_guard<std::mutex> lock(mutex);
        scope.progress(int(qint64(seals.size()) * std::min(done, last) / last), int(seals.size()));
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < parts; ++t) pool.emplace_back(work, t, nullptr);
  work(0, &store);
  for (std::thread& t : pool) t.join();
  if (!failure->isEmpty()) return verdicts;
  for (auto& [day, digester] : digesters[0]) {
    for (size_t p = 1; p < digesters.size(); ++p) digester.join(digesters[p].at(day));
    const auto& [digest, seal] = sealed.at(day);
    const DayDigest current = digester.finish();
    verdicts.append({day, current == digest ? QString() : describeDifference(digest, current), seal.id});
  }
  std::sort(verdicts.begin(), verdicts.end(), [](const DayVerdict& a, const DayVerdict& b) { return a.day < b.day; });
  return verdicts;
}

TrailCheck summary(qint64 entries, int days, const QVector<DayVerdict>& verdicts) {
  for (const DayVerdict& v : verdicts) {
    if (v.problem.isEmpty()) continue;
    TrailCheck c = broken(QStringLiteral(u"день %1 (печать — запись %2): %3")
                              .arg(v.day.toString(QStringLiteral("dd.MM.yyyy")))
                              .arg(v.sealId)
                              .arg(v.problem),
                          0, v.day);
    c.entries = entries;
    c.days = days;
    return c;
  }
  TrailCheck c;
  c.entries = entries;
  c.days = days;
  c.line = QStringLiteral(u"цепочка цела: %1, %2").arg(entriesText(entries), daysText(days));
  return c;
}

}  // namespace

QString entriesText(qint64 n) { return plural(n, u"запись", u"записи", u"записей"); }
QString daysText(qint64 n) { return plural(n, u"день", u"дня", u"дней"); }

TrailCheck checkTrail(const AuditTrail& trail, const ResultStore& store, const TrailCheckScope& scope) {
  qint64 count = 0;
  TrailCheck c = checkEntries(trail, trail.databasePath(), scope, &count);
  if (!c.isWhole()) return c;
  const QVector<AuditEntry> seals = sealsInScope(trail, scope);
  QVector<DayVerdict> verdicts;
  for (int i = 0; i < seals.size(); ++i) {
    verdicts.append(checkDay(store, seals[i]));
    if (scope.progress) scope.progress(i + 1, int(seals.size()));
  }
  std::sort(verdicts.begin(), verdicts.end(), [](const DayVerdict& a, const DayVerdict& b) { return a.day < b.day; });
  return summary(count, int(seals.size()), verdicts);
}

TrailCheck checkTrail(const QString& dbPath, const TrailCheckScope& scope) {
  auto unreadable = [](const QString& why) {
    TrailCheck c;
    c.status = TrailCheck::Status::Unreadable;
    c.line = why;
    return c;
  };
  if (!QFileInfo(dbPath).isFile())
    return unreadable(QStringLiteral(u"нет базы данных %1").arg(QDir::toNativeSeparators(dbPath)));
  ResultStore store;
  const ResultStore::OpenResult opened = store.openForReading(dbPath);
  if (!opened.isOpen()) return unreadable(opened.detail);
  AuditTrail trail;
  QString error;
  if (!trail.openForReading(dbPath, &error)) return unreadable(error);

  qint64 count = 0;
  TrailCheck c = checkEntries(trail, dbPath, scope, &count);
  if (!c.isWhole()) return c;
  const QVector<AuditEntry> seals = sealsInScope(trail, scope);
  // Many days go in one pass over every result in the order of sequence
  // numbers: the table read straight through instead of each row looked up
  // through the time index.
  if (seals.size() > scope.daysOneByOne) {
    QString failure;
    const QVector<DayVerdict> verdicts = streamDays(
        store,
        [&dbPath]() -> std::unique_ptr<ResultStore> {
          auto s = std::make_unique<ResultStore>();
          if (!s->openForReading(dbPath).isOpen()) return nullptr;
          return s;
        },
        seals, scope, &failure);
    if (!failure.isEmpty()) return unreadable(failure);
    return summary(count, int(seals.size()), verdicts);
  }

  // Days are independent: each thread reads and hashes through a connection
  // of its own, taking the next day as it is done with one.
  const int threads = std::max(1, std::min<int>(scope.threads, int(seals.size())));
  std::vector<DayVerdict> verdicts(size_t(seals.size()));
  std::atomic<int> next{0}, done{0};
  std::atomic<bool> failed{false};
  QString failure;
  std::mutex mutex;
  auto work = [&](const ResultStore* own) {
    std::unique_ptr<ResultStore> mine;
    if (!own) {
      mine = std::make_unique<ResultStore>();
      const ResultStore::OpenResult r = mine->openForReading(dbPath);
      if (!r.isOpen()) {
        std::lock_guard<std::mutex> lock(mutex);
        failed = true;
        failure = r.detail;
        return;
      }
      own = mine.get();
    }
    for (int i; !failed && (i = next++) < seals.size();) {
      verdicts[size_t(i)] = checkDay(*own, seals[i]);
      const int n = ++done;
      if (scope.progress) {
        std::lock_guard<std::mutex> lock(mutex);
        scope.progress(n, int(seals.size()));
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work, nullptr);
  work(&store);
  for (std::thread& t : pool) t.join();
  if (failed) return unreadable(failure);
  QVector<DayVerdict> sorted(verdicts.begin(), verdicts.end());
  std::sort(sorted.begin(), sorted.end(), [](const DayVerdict& a, const DayVerdict& b) { return a.day < b.day; });
  return summary(count, int(seals.size()), sorted);
}

QString trailStatement(const ResultStore& store, const QDate& from, const QDate& to) {
  const QString when = seams::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
  AuditTrail trail;
  if (!store.isOpen() || !trail.openForReading(store.path()))
    return QStringLiteral(u"Журнал аудита не ведётся: нет базы данных результатов");
  TrailCheckScope scope;
  scope.fromDay = from;
  scope.toDay = to;
  const TrailCheck c = checkTrail(trail, store, scope);
  if (c.isWhole())
    return QStringLiteral(u"Журнал аудита цел при составлении отчёта (%1; %2, опечатанных дней отчёта: %3)")
        .arg(when, entriesText(c.entries))
        .arg(c.days);
  return QStringLiteral(u"ЖУРНАЛ АУДИТА НАРУШЕН при составлении отчёта (%1): %2").arg(when, c.line);
}
