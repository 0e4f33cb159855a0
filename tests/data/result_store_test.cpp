// The results database in normal work: what goes in comes back bit for bit,
// in time or in sequence order, with the days, logs, events and cursors the
// program and the forwarders keep in it.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "data/result_store.h"
#include "data/store_rows.h"

namespace {

constexpr qint64 kMs = 1000;

// A plain SQLite connection for what the store's interface does not show.
class RawDb {
 public:
  explicit RawDb(const QString& path) {
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, SQLITE_OPEN_READONLY, nullptr);
  }
  ~RawDb() { sqlite3_close_v2(db_); }
  // Every row of the query's first columns, as text ("NULL" for a null).
  std::vector<std::vector<std::string>> Rows(const char* sql, int columns) const {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      rows.emplace_back();
      for (int c = 0; c < columns; ++c) {
        const auto* t = sqlite3_column_text(st, c);
        rows.back().push_back(t ? reinterpret_cast<const char*>(t) : "NULL");
      }
    }
    sqlite3_finalize(st);
    return rows;
  }
  qint64 Int(const char* sql) const {
    const auto rows = Rows(sql, 1);
    return rows.empty() ? -1 : std::stoll(rows[0][0]);
  }

 private:
  sqlite3* db_ = nullptr;
};

class ResultStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = QDir(dir_.path()).filePath(QStringLiteral("korvex.db"));
  }
  ResultStore::OpenResult Open(ResultStore& store) { return store.open(path_, store_rows::kStartUtcMs); }

  QTemporaryDir dir_;
  QString path_;
};

Result At(qint64 utcMs, int32_t offset = 0) {
  Result r = store_rows::Row(0);
  r.utcMs = utcMs;
  r.utcOffset = offset;
  return r;
}

TEST_F(ResultStoreTest, ValuesComeBackBitExactByTimeBySequenceAndAfterReopening) {
  // Values that a compact encoding gets wrong if it is not careful.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<Result> in;
  auto add = [&](std::initializer_list<std::pair<int, double>> values) {
    Result r = store_rows::Row(qint64(in.size()));
    for (const auto& [ch, v] : values) r.values[size_t(ch)] = v;
    in.push_back(r);
  };
  add({{channel::O2, 32768 / 100.0}, {channel::CO, kCodeOverload}, {channel::NO, kCodeError},
       {channel::NO2, kCodeNoValue}, {channel::SO2, kCodeOverload}, {channel::H2S, kCodeNoValue}});
  add({{channel::O2, 32769 / 100.0}, {channel::Tg, -32768}, {channel::Ta, -32767}});
  add({{channel::O2, 32770 / 100.0}, {channel::CO2, -0.0}, {channel::Qa, nan}, {channel::Alf, inf}});
  add({{channel::O2, 6.1}, {channel::CO2, 1.0 / 3}, {channel::NOx, -inf}, {channel::Tg, -0.0}});
  add({{channel::O2, 0.07}, {channel::CO, 65535}, {channel::Alf, 5e-324}, {channel::Qa, 1e300}});
  add({{channel::O2, 6.123456789}, {channel::CO, 12.5}, {channel::NO, 9007199254740992.0}, {channel::SO2, 1e17}, {channel::Ta, 1e-3}});
  add({{channel::O2, 327.68 + 1e-13}, {channel::SO2, 32768.0000001}, {channel::CO2, std::nextafter(12.3, 13.0)}});
  add({{channel::O2, 21.0}, {channel::Alf, 21 / (21 - 21.0)}, {channel::Qa, -nan}});
  in[1].faultBits = 0xFFF;
  in[2].mode = WorkMode::Cyclic;
  in[3].fuelIndex = 255;
  in[3].address = 247;
  in[4].utcOffset = -10 * 3600;
  in[5].utcOffset = 14 * 3600;
  in[6].mode = WorkMode::StartUp;

  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  for (size_t i = 0; i < in.size(); ++i) {
    const auto out = store.append(in[i]);
    ASSERT_EQ(out.state, ResultStore::AppendState::Committed) << out.error.toStdString();
    EXPECT_EQ(out.id, qint64(i + 1));
  }

  auto check = [&](const std::vector<StoredResult>& got, const char* how) {
    ASSERT_EQ(got.size(), in.size()) << how;
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_EQ(got[i].seq, qint64(i + 1)) << how;
      EXPECT_EQ(store_rows::Difference(got[i].result, in[i]), "") << how << ", row " << i;
    }
  };
  check(store.results(in.front().utcMs, in.back().utcMs + 1), "by time");
  check(store.resultsAfter(0, 100), "by sequence");
  store.close();
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  check(store.results(in.front().utcMs, in.back().utcMs + 1), "reopened");

  // The view gives values in their units and leaves the codes out, so an
  // average over it is one of measured values only.
  RawDb raw(path_);
  const auto view = raw.Rows("SELECT o2, co, no2, h2s, tg, qa FROM result_values ORDER BY seq", 6);
  ASSERT_EQ(view.size(), in.size());
  EXPECT_EQ(view[0], (std::vector<std::string>{"NULL", "NULL", "NULL", "NULL", "180.0", view[0][5]}))
      << "codes are no values";
  EXPECT_EQ(view[3][0], "6.1");
  EXPECT_EQ(view[4][0], "0.07");
  EXPECT_EQ(view[2][5], "NULL");  // a NaN is no value
  EXPECT_EQ(raw.Int("SELECT count(co) FROM result_values"), qint64(in.size()) - 1);
}

TEST_F(ResultStoreTest, ResultsTakeUnder100BytesEachOnDisk) {
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  RawDb raw(path_);
  const qint64 emptyBytes = raw.Int("PRAGMA page_count") * raw.Int("PRAGMA page_size");
  constexpr int kRows = 30000;
  std::vector<Result> batch;
  for (int i = 0; i < kRows; ++i) {
    batch.push_back(store_rows::Row(i));
    if (batch.size() == 3000) {
      ASSERT_EQ(store.appendBatch(batch).state, ResultStore::AppendState::Committed);
      batch.clear();
    }
  }
  // The pages a reader sees, the log's included.
  const qint64 bytes = raw.Int("PRAGMA page_count") * raw.Int("PRAGMA page_size") - emptyBytes;
  const double perResult = double(bytes) / kRows;
  EXPECT_LE(perResult, 100.0);
  EXPECT_GT(perResult, 40.0);  // the rows really are in the file
  RecordProperty("bytes_per_result", std::to_string(perResult));
}

TEST_F(ResultStoreTest, SequenceNumbersKeepRisingWhenTheClockIsSetBack) {
  const qint64 t0 = store_rows::kStartUtcMs;
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  for (qint64 t : {t0 + 1000, t0 + 2000, t0 + 3000, t0 + 1500, t0 + 2500, t0 + 2000})
    ASSERT_EQ(store.append(At(t)).state, ResultStore::AppendState::Committed);

  auto seqsAndTimes = [](const std::vector<StoredResult>& rows) {
    std::vector<std::pair<qint64, qint64>> v;
    for (const auto& r : rows) v.emplace_back(r.seq, r.result.utcMs - store_rows::kStartUtcMs);
    return v;
  };
  using V = std::vector<std::pair<qint64, qint64>>;
  EXPECT_EQ(seqsAndTimes(store.results(t0, t0 + 10 * kMs)),
            (V{{1, 1000}, {4, 1500}, {2, 2000}, {6, 2000}, {5, 2500}, {3, 3000}}));
  EXPECT_EQ(seqsAndTimes(store.results(t0 + 1500, t0 + 2500)), (V{{4, 1500}, {2, 2000}, {6, 2000}}));
  EXPECT_EQ(seqsAndTimes(store.resultsAfter(2, 3)), (V{{3, 3000}, {4, 1500}, {5, 2500}}));
  EXPECT_TRUE(store.results(t0 + 3001, t0 + 9000).empty());

  store.close();
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  EXPECT_EQ(store.lastCommittedSeq(), 6);
  EXPECT_EQ(store.append(At(t0)).id, 7);
}

TEST_F(ResultStoreTest, DaysAreLocalDatesByEachResultsOwnOffsetAndRememberTheirLogs) {
  const qint64 midnightUtc = 1774742400000;  // 2026-03-29 00:00 UTC
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  // 21:30 UTC on the 28th is the 29th in Moscow; 23:59:59.999 UTC with no
  // offset is still the 28th; 02:00 UTC at -5 h is the 28th too.
  ASSERT_EQ(store.append(At(midnightUtc - 150 * 60 * kMs, 3 * 3600)).state, ResultStore::AppendState::Committed);
  ASSERT_EQ(store.append(At(midnightUtc - 1, 0)).state, ResultStore::AppendState::Committed);
  ASSERT_EQ(store.append(At(midnightUtc + 2 * 3600 * kMs, -5 * 3600)).state, ResultStore::AppendState::Committed);
  ASSERT_EQ(store.append(At(midnightUtc + 3 * 86400 * kMs, 3 * 3600)).state, ResultStore::AppendState::Committed);
  const QDate d28(2026, 3, 28), d29(2026, 3, 29), d01(2026, 4, 1);
  EXPECT_EQ(store.daysWithResults(), (QVector<QDate>{d28, d29, d01}));
  EXPECT_EQ(store.daysWithoutLog(d01), (QVector<QDate>{d28, d29}));
  auto seqs = [](const std::vector<StoredResult>& rows) {
    std::vector<qint64> v;
    for (const auto& r : rows) v.push_back(r.seq);
    return v;
  };
  EXPECT_EQ(seqs(store.resultsOnDay(d28)), (std::vector<qint64>{2, 3}));
  EXPECT_EQ(seqs(store.resultsOnDay(d29)), (std::vector<qint64>{1}));
  EXPECT_TRUE(store.resultsOnDay(QDate(2026, 3, 30)).empty());

  ASSERT_TRUE(store.markLogWritten(d28, midnightUtc));
  EXPECT_EQ(store.daysWithoutLog(d01), (QVector<QDate>{d29}));
  store.close();
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  EXPECT_EQ(store.daysWithoutLog(), (QVector<QDate>{d29, d01}));
  EXPECT_EQ(store.daysWithResults(), (QVector<QDate>{d28, d29, d01}));
}

TEST_F(ResultStoreTest, ForwardersReadInOrderFromTheirOwnCursors) {
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  const qint64 t0 = store_rows::kStartUtcMs;
  for (int i = 0; i < 10; ++i) ASSERT_EQ(store.append(store_rows::Row(i)).id, i + 1);
  const auto e1 = store.appendEvent(t0 + 500, 10800, EventKind::LinkLost, QStringLiteral(u"Нет связи с газоанализатором"));
  const auto e2 = store.appendEvent(t0 + 200, 10800, EventKind::FaultsAppeared, QStringLiteral("0x0005"));
  const auto e3 = store.appendEvent(t0 + 900, 10800, EventKind::LinkBack, QString());
  ASSERT_EQ(e3.state, ResultStore::AppendState::Committed);
  EXPECT_EQ((std::vector<qint64>{e1.id, e2.id, e3.id}), (std::vector<qint64>{1, 2, 3}));

  EXPECT_EQ(store.cursor(QStringLiteral("mqtt")), 0);
  ASSERT_TRUE(store.setCursor(QStringLiteral("mqtt"), 4));
  ASSERT_TRUE(store.setCursor(QStringLiteral("central"), 9));
  ASSERT_TRUE(store.setCursor(QStringLiteral("mqtt"), 7));
  store.close();
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  EXPECT_EQ(store.cursor(QStringLiteral("mqtt")), 7);
  EXPECT_EQ(store.cursor(QStringLiteral("central")), 9);

  const auto next = store.resultsAfter(store.cursor(QStringLiteral("mqtt")), 2);
  ASSERT_EQ(next.size(), 2u);
  EXPECT_EQ(next[0].seq, 8);
  EXPECT_EQ(store_rows::Difference(next[1].result, store_rows::Row(8)), "");
  EXPECT_EQ(store.resultsAfter(store.cursor(QStringLiteral("central")), 5).size(), 1u);

  const auto byTime = store.events(t0, t0 + 900);
  ASSERT_EQ(byTime.size(), 2);
  EXPECT_EQ(byTime[0].kind, EventKind::FaultsAppeared);
  EXPECT_EQ(byTime[1].text, QStringLiteral(u"Нет связи с газоанализатором"));
  EXPECT_EQ(byTime[1].utcOffset, 10800);
  const auto after = store.eventsAfter(1, 10);
  ASSERT_EQ(after.size(), 2);
  EXPECT_EQ(after[0].id, 2);
  EXPECT_EQ(after[1].kind, EventKind::LinkBack);
  EXPECT_EQ(after[1].utcMs, t0 + 900);
  EXPECT_EQ(store.appendEvent(t0, 0, EventKind::Alarm, QStringLiteral("CO")).id, 4);
}

}  // namespace

namespace {

// An emission average with every field set apart from the others.
StoredAverage Average(AveragePeriodKind period, int minutes, qint64 start, double coMean) {
  StoredAverage a;
  a.period = period;
  a.intervalMinutes = minutes;
  a.startUtcMs = start;
  a.endUtcMs = start + qint64(minutes) * 60000;
  a.startOffset = 3600;
  a.endOffset = 7200;
  a.count = 171;
  a.components[0] = {coMean, 170, true, 2};
  a.components[1] = {246.36, 169, true, 1};
  a.components[2] = {0, 0, false, 0};  // no value: stored as NULL
  a.components[3] = {1.0 / 3, 12, false, 0};
  return a;
}

void Exec(const QString& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close_v2(db);
}

}  // namespace

TEST_F(ResultStoreTest, EmissionAveragesComeBackExactlyAndOneComputedAgainReplacesItself) {
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  const qint64 t0 = store_rows::kStartUtcMs;
  const QVector<StoredAverage> in = {Average(AveragePeriodKind::Interval, 30, t0, 80),
                                     Average(AveragePeriodKind::Interval, 30, t0 + 1800000, 81),
                                     Average(AveragePeriodKind::Interval, 10, t0, 82),
                                     Average(AveragePeriodKind::Day, 30, t0, 83)};
  ASSERT_TRUE(store.storeAverages(in)) << store.lastError().toStdString();
  ASSERT_TRUE(store.storeAverages({Average(AveragePeriodKind::Interval, 30, t0, 99.5)}));

  const auto halfHours = store.averages(AveragePeriodKind::Interval, 30, t0, t0 + 3600000);
  ASSERT_EQ(halfHours.size(), 2);
  EXPECT_TRUE(halfHours[0] == Average(AveragePeriodKind::Interval, 30, t0, 99.5));
  EXPECT_TRUE(halfHours[1] == in[1]);
  EXPECT_EQ(store.averages(AveragePeriodKind::Interval, 30, t0 + 1, t0 + 3600000).size(), 1);  // by start
  ASSERT_EQ(store.averages(AveragePeriodKind::Interval, 10, t0, t0 + 3600000).size(), 1);
  ASSERT_EQ(store.averages(AveragePeriodKind::Day, 30, t0, t0 + 1).size(), 1);
  EXPECT_TRUE(store.averages(AveragePeriodKind::Day, 30, t0, t0 + 1)[0] == in[3]);
  store.close();
  RawDb raw(path_);
  EXPECT_EQ(raw.Int("SELECT count(*) FROM emission_averages WHERE so2_mean IS NULL"), 4);
  EXPECT_EQ(raw.Int("PRAGMA user_version"), ResultStore::kSchemaVersion);
}

TEST_F(ResultStoreTest, AVersion1FileKeepsItsResultsAndGetsTheAveragesTableWhenOpenedForWriting) {
  // As the first version of the program left it.
  QString error;
  ASSERT_TRUE(ResultStore::writeVersion2File(path_, {store_rows::Row(0), store_rows::Row(1)}, &error))
      << error.toStdString();
  Exec(path_, "DROP TABLE emission_averages; PRAGMA user_version=1;");

  // Read-only (another instance owns it): history, without averages.
  {
    QLockFile owner(path_ + QStringLiteral(".lock"));
    ASSERT_TRUE(owner.tryLock(0));
    ResultStore reader;
    ASSERT_EQ(Open(reader).status, ResultStore::OpenStatus::OpenedReadOnly);
    EXPECT_EQ(reader.resultsAfter(0, 10).size(), 2u);
    EXPECT_TRUE(reader.averages(AveragePeriodKind::Interval, 30, 0, std::numeric_limits<qint64>::max()).isEmpty());
  }
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  const auto results = store.resultsAfter(0, 10);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(store_rows::Difference(results[1].result, store_rows::Row(1)), "");
  EXPECT_EQ(store.append(store_rows::Row(2)).id, 3);
  ASSERT_TRUE(store.storeAverages({Average(AveragePeriodKind::Interval, 30, store_rows::kStartUtcMs, 80)}));
  EXPECT_EQ(store.averages(AveragePeriodKind::Interval, 30, 0, std::numeric_limits<qint64>::max()).size(), 1);
  store.close();
  EXPECT_EQ(RawDb(path_).Int("PRAGMA user_version"), ResultStore::kSchemaVersion);
}

// A lock file left by a killed owner whose process id now belongs to a live
// process of the same name (here: this very process) does not keep the file
// from its next owner; a live owner's lock does.
TEST_F(ResultStoreTest, ALockLeftByADeadOwnerIsTakenOverWhenItsProcessIdLivesOnOrItIsEmpty) {
  const QString lockPath = path_ + QStringLiteral(".lock");
  QByteArray leftBehind;
  {
    QLockFile dead(lockPath);
    ASSERT_TRUE(dead.tryLock(0));
    QFile f(lockPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    leftBehind = f.readAll();
  }
  QFile f(lockPath);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(leftBehind), leftBehind.size());
  f.close();
  {
    QLockFile asQtSeesIt(lockPath);
    ASSERT_FALSE(asQtSeesIt.tryLock(0)) << "the id no longer names a live owner to QLockFile";
  }

  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  ResultStore second;
  EXPECT_EQ(Open(second).status, ResultStore::OpenStatus::OpenedReadOnly);
  store.close();
  EXPECT_FALSE(QFileInfo::exists(lockPath));

  // Killed between creating its lock file and writing into it: QLockFile
  // would take an empty one for held for ever.
  {
    QFile empty(lockPath);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  }
  EXPECT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
}

namespace {

qint64 PageBytes(const RawDb& raw) { return raw.Int("PRAGMA page_count") * raw.Int("PRAGMA page_size"); }

}  // namespace

// What the analyzer sends is whole numbers: stored as such, with the derived
// channels computed again on reading, a result takes a third of what eight
// bytes a value would, and still reads back bit for bit with its status.
TEST_F(ResultStoreTest, AnalyzerReadingsTakeUnderSixtyBytesEachAndReadBackBitForBit) {
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  RawDb raw(path_);
  const qint64 emptyBytes = PageBytes(raw);
  constexpr int kRows = 30000;
  std::vector<Result> in, batch;
  for (int i = 0; i < kRows; ++i) {
    in.push_back(store_rows::AnalyzerRow(i));
    batch.push_back(in.back());
    if (batch.size() == 3000) {
      ASSERT_EQ(store.appendBatch(batch).state, ResultStore::AppendState::Committed);
      batch.clear();
    }
  }
  const double perResult = double(PageBytes(raw) - emptyBytes) / kRows;
  EXPECT_LE(perResult, 60.0);
  EXPECT_GT(perResult, 25.0);  // the rows really are in the file
  RecordProperty("bytes_per_result", std::to_string(perResult));
  EXPECT_EQ(raw.Int("SELECT count(*) FROM results WHERE co2 IS NOT NULL OR nox IS NOT NULL OR qa IS NOT NULL"
                    " OR alf IS NOT NULL"),
            0)
      << "every derived value is computed again";

  store.close();
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  for (const auto& got : {store.resultsAfter(0, kRows + 1), store.results(in.front().utcMs, in.back().utcMs + 1)}) {
    ASSERT_EQ(got.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      ASSERT_EQ(store_rows::Difference(got[i].result, in[i]), "") << "row " << i;
      ASSERT_TRUE(got[i].hasStatus);
      ASSERT_EQ(got[i].storeId, store.identity());
    }
  }
}

// The derived channels depend on the fuel row's coefficients, which the
// operator may edit at any time: each result reads back as it was shown,
// computed with the coefficients of its moment, or kept as it was given
// when those do not give it (a result from elsewhere).
TEST_F(ResultStoreTest, DerivedChannelsReadBackAsShownWhenTheFuelRowIsEditedLater) {
  FuelTable table = builtInFuelTable();
  FuelRow* fuels = table.data();
  std::vector<Result> in;
  {
    ResultStore store(fuels);
    ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
    const auto take = [&](const Result& r) {
      in.push_back(r);
      ASSERT_EQ(store.append(r).state, ResultStore::AppendState::Committed);
    };
    take(store_rows::AnalyzerRow(1, fuels));
    fuels[0].kfB += 17;
    fuels[0].co2Max -= 500;
    fuels[1].tMax = 0;  // no heat loss with this row
    take(store_rows::AnalyzerRow(2, fuels));
    take(store_rows::AnalyzerRow(1002, fuels));
    Result odd = store_rows::AnalyzerRow(3, fuels);
    odd.values[channel::Qa] = 7.25;
    odd.values[channel::CO2] = std::nextafter(odd.values[channel::CO2], 100.0);
    take(odd);
  }
  ResultStore store;  // the built-in coefficients again
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  const auto got = store.resultsAfter(0, 10);
  ASSERT_EQ(got.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(store_rows::Difference(got[i].result, in[i]), "") << "row " << i;

  RawDb raw(path_);
  EXPECT_EQ(raw.Int("SELECT count(*) FROM result_contexts"), 3);
  EXPECT_EQ(raw.Rows("SELECT typeof(co2), typeof(nox), typeof(qa), typeof(alf) FROM results WHERE seq = 4", 4)[0],
            (std::vector<std::string>{"real", "null", "real", "null"}));
  // The view computes them too, in SQL's doubles.
  const auto view = raw.Rows("SELECT co2, nox, qa, alf FROM result_values ORDER BY seq", 4);
  ASSERT_EQ(view.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    for (int k = 0; k < 4; ++k) {
      const int ch = std::array<int, 4>{channel::CO2, channel::NOx, channel::Qa, channel::Alf}[size_t(k)];
      const double want = in[i].values[size_t(ch)];
      EXPECT_NEAR(std::stod(view[i][size_t(k)]), want, 1e-9 * std::max(1.0, std::fabs(want)))
          << "row " << i << " " << channel::kNames[ch];
    }
  }
}

// A year's file of the older layout opens at once: its results stay where
// they are and read as they did (no status decided), new ones follow in the
// compact table under numbers after theirs, and reads go across both.
TEST_F(ResultStoreTest, AVersion2FileIsReadAsItWasAndNewResultsFollowWithoutRewritingIt) {
  constexpr int kOld = 7200, kNew = 300;
  std::vector<Result> old;
  for (int i = 0; i < kOld; ++i) old.push_back(store_rows::Row(i));
  QString error;
  ASSERT_TRUE(ResultStore::writeVersion2File(path_, old, &error)) << error.toStdString();
  const qint64 before = PageBytes(RawDb(path_));

  // An instance of the older program owns it: this one reads it as it is.
  {
    QLockFile owner(path_ + QStringLiteral(".lock"));
    ASSERT_TRUE(owner.tryLock(0));
    ResultStore reader;
    ASSERT_EQ(Open(reader).status, ResultStore::OpenStatus::OpenedReadOnly);
    const auto got = reader.results(old.front().utcMs, old.back().utcMs + 1);
    ASSERT_EQ(got.size(), old.size());
    EXPECT_EQ(store_rows::Difference(got[77].result, old[77]), "");
    EXPECT_FALSE(got[77].hasStatus);
    EXPECT_EQ(RawDb(path_).Int("PRAGMA user_version"), 2);
  }

  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  {
    RawDb raw(path_);
    EXPECT_EQ(raw.Int("PRAGMA user_version"), ResultStore::kSchemaVersion);
    EXPECT_EQ(raw.Int("SELECT count(*) FROM results_v2"), kOld);
    EXPECT_LT(PageBytes(raw) - before, 64 * 1024) << "nothing rewritten";
  }
  std::vector<Result> all = old;
  for (int i = 0; i < kNew; ++i) {
    all.push_back(store_rows::AnalyzerRow(kOld + i));
    ASSERT_EQ(store.append(all.back()).id, kOld + i + 1);
  }
  const QString zeros(32, QLatin1Char('0'));
  const auto check = [&](ResultStore& s) {
    const auto got = s.results(all.front().utcMs, all.back().utcMs + 1);
    ASSERT_EQ(got.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
      ASSERT_EQ(got[i].seq, qint64(i + 1));
      ASSERT_EQ(store_rows::Difference(got[i].result, all[i]), "") << "row " << i;
      ASSERT_EQ(got[i].hasStatus, i >= size_t(kOld)) << "row " << i;
      ASSERT_EQ(got[i].storeId, i < size_t(kOld) ? zeros : s.identity()) << "row " << i;
    }
    const auto across = s.resultsAfter(kOld - 5, 10);
    ASSERT_EQ(across.size(), 10u);
    EXPECT_EQ(across.front().seq, kOld - 4);
    EXPECT_EQ(across.back().seq, kOld + 5);
    const QDate day = QDateTime::fromMSecsSinceEpoch(all.front().utcMs, QTimeZone(3 * 3600)).date();
    EXPECT_EQ(s.resultsOnDay(day).size(), all.size());
    EXPECT_EQ(s.daysWithResults(), QVector<QDate>{day});
  };
  check(store);
  EXPECT_NE(store.identity(), zeros);
  store.close();
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  check(store);
}

TEST_F(ResultStoreTest, AVersion2FilesAveragesAreKeptAsValidatedOnesOfNoProfileWhenOpenedForWriting) {
  // A file as the version 2 program left it, with one average in it.
  QString error;
  ASSERT_TRUE(ResultStore::writeVersion2File(path_, {store_rows::Row(0)}, &error)) << error.toStdString();
  Exec(path_,
       "INSERT INTO emission_averages VALUES (0, 30, 1800000, 3600000, 3600, 3600, 30,"
       " 81.5, 30, 1, 1, 246.25, 29, 1, 0, NULL, 0, 0, 0, 0.5, 3, 0, 0);");

  StoredAverage old;
  old.startUtcMs = 1800000;
  old.endUtcMs = 3600000;
  old.startOffset = old.endOffset = 3600;
  old.count = 30;
  old.components[0] = {81.5, 30, true, 1};
  old.components[1] = {246.25, 29, true, 0};
  old.components[3] = {0.5, 3, false, 0};
  for (StoredComponentAverage& c : old.components) c.validated = c.mean;  // nothing was subtracted then
  {
    // Read-only (another instance owns it): the averages as they are.
    QLockFile owner(path_ + QStringLiteral(".lock"));
    ASSERT_TRUE(owner.tryLock(0));
    ResultStore reader;
    ASSERT_EQ(Open(reader).status, ResultStore::OpenStatus::OpenedReadOnly);
    const auto read = reader.averages(AveragePeriodKind::Interval, 30, 0, 4000000);
    ASSERT_EQ(read.size(), 1);
    EXPECT_TRUE(read[0] == old);
    EXPECT_TRUE(reader.averages(AveragePeriodKind::Interval, 30, 0, 4000000, 1).isEmpty());
    EXPECT_EQ(RawDb(path_).Int("PRAGMA user_version"), 2);
  }
  ResultStore store;
  ASSERT_EQ(Open(store).status, ResultStore::OpenStatus::Opened);
  EXPECT_EQ(RawDb(path_).Int("PRAGMA user_version"), ResultStore::kSchemaVersion);
  EXPECT_EQ(store.resultsAfter(0, 10).size(), 1u);
  auto read = store.averages(AveragePeriodKind::Interval, 30, 0, 4000000);
  ASSERT_EQ(read.size(), 1);
  EXPECT_TRUE(read[0] == old);

  // A validated average of a profile stands beside the one of no profile.
  StoredAverage validated = old;
  validated.profile = 1;
  validated.basis = -1234567890123;
  StoredComponentAverage& nox = validated.components[1];
  nox.ci = 40;
  nox.validated = 206.25;
  nox.reason = 1;
  nox.expected = 30;
  nox.substitutes = 2;
  nox.outOfRange = 4;
  nox.invalid = {1, 0, 0, 0, 0, 0};
  ASSERT_TRUE(store.storeAverages({validated})) << store.lastError().toStdString();
  read = store.averages(AveragePeriodKind::Interval, 30, 0, 4000000, 1);
  ASSERT_EQ(read.size(), 1);
  EXPECT_TRUE(read[0] == validated);
  EXPECT_TRUE(store.averages(AveragePeriodKind::Interval, 30, 0, 4000000)[0] == old);
}
