// The Modbus TCP server of the whole program against the analyzer simulator,
// read by clients that are not libmodbus.
//
// In the window program, ticked with the test clock: every documented
// register of unit 1 holds what the session has (the last result, its
// emissions, the running, last and today's averages, yesterday's from the
// database, the latched alarms), with the word order swapped as set.
//
// In the service (korvex --headless) in real time: fifty clients at ten reads
// a second, with garbage and a half frame among them, leave the poll on time
// (judged by the results' own times), and every answer read matches a result
// the service took.

#include <gtest/gtest.h>

#include <QFile>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <thread>

#include "e2e/sim_fixture.h"
#include "emissions/emission_settings.h"
#include "modbus_server/register_image.h"
#include "modbus_server/server.h"
#include "support/modbus_load.h"
#include "support/modbus_probe.h"
#include "support/raw_modbus_client.h"
#include "support/service_process.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif

namespace {

using emissions::Component;
using modbus_server::kMissingValue;

const QDate kToday(2026, 12, 7);

// On the local clock, as the program's days are.
QDateTime local(const QDate& day, int h, int m, int s = 0) { return QDateTime(day, QTime(h, m, s)); }

// Decoded as README describes the map.
float floatAt(const std::vector<uint16_t>& r, int at, bool highFirst) {
  const uint32_t bits = highFirst ? (uint32_t(r[size_t(at)]) << 16 | r[size_t(at + 1)])
                                  : (uint32_t(r[size_t(at + 1)]) << 16 | r[size_t(at)]);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
uint32_t uintAt(const std::vector<uint16_t>& r, int at, bool highFirst) {
  return highFirst ? (uint32_t(r[size_t(at)]) << 16 | r[size_t(at + 1)])
                   : (uint32_t(r[size_t(at + 1)]) << 16 | r[size_t(at)]);
}
float expectedFloat(const std::optional<double>& v) {
  return v && std::isfinite(float(*v)) ? float(*v) : kMissingValue;
}

void writeServiceSettings(const QString& path, const QByteArray& modbus) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write("[Service]\nMode=continuous\n[ModbusServer]\nEnabled=true\nPort=0\n" + modbus);
}

// A steady gas boiler's readings, a result a second from `from` to `to`.
std::vector<Result> resultsEverySecond(const QDateTime& from, const QDateTime& to) {
  std::vector<Result> out;
  for (QDateTime t = from; t < to; t = t.addSecs(1)) {
    Result r;
    r.utcMs = t.toMSecsSinceEpoch();
    r.utcOffset = t.offsetFromUtc();
    r.mode = WorkMode::Continuous;
    r.values = {182, 5.0, 40, 50, 5, 20, 1, 9.5, 55, 8.0, 1.3, 21};
    out.push_back(r);
  }
  return out;
}

class ModbusServerE2E : public SimFixture {
 protected:
  // Expects the block at `at` to hold `average` (or none) as judged by `limits`.
  void expectBlock(const std::vector<uint16_t>& r, int at, const std::optional<modbus_server::AverageSnapshot>& a,
                   const char* what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(r[size_t(at + 4)], a ? 1 : 0);
    if (!a) return;
    EXPECT_EQ(uintAt(r, at, false), uint32_t(a->startUtcMs / 1000));
    EXPECT_EQ(uintAt(r, at + 2, false), uint32_t(a->endUtcMs / 1000));
    uint16_t valid = 0, values = 0, exceedance = 0;
    for (int c = 0; c < emissions::kComponentCount; ++c) {
      const modbus_server::ComponentAverageSnapshot& s = a->components[size_t(c)];
      if (s.measured) values |= uint16_t(1 << c);
      if (s.measured && s.valid) valid |= uint16_t(1 << c);
      exceedance |= uint16_t(int(s.exceedance) << (2 * c));
      EXPECT_EQ(r[size_t(at + 8 + c)], s.count) << c;
      EXPECT_EQ(floatAt(r, at + 12 + 2 * c, false), expectedFloat(s.measured)) << c;
      EXPECT_EQ(floatAt(r, at + 20 + 2 * c, false), s.measured ? 0.0f : kMissingValue) << c;
      EXPECT_EQ(floatAt(r, at + 28 + 2 * c, false), expectedFloat(s.measured)) << c;  // validated = measured
    }
    EXPECT_EQ(r[size_t(at + 5)], valid);
    EXPECT_EQ(r[size_t(at + 6)], values);
    EXPECT_EQ(r[size_t(at + 7)], exceedance);
  }
};

TEST_F(ModbusServerE2E, EveryRegisterOfTheMapHoldsWhatTheSessionHas) {
  startSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"), QStringLiteral("1")});
  ASSERT_TRUE(test_settings::writeForResultsEverySecond(sim_->portPath()));
  writeServiceSettings(inDir(QStringLiteral("korvex-service.ini")), "WordOrder=LowFirst\n");
  emissions::EmissionSettings limits;
  limits.intervalMinutes = 10;
  limits.limits[Component::CO].interval = 60;  // 56.25 mg/m3: a pre-alarm, no alarm
  limits.limits[Component::NOx].interval = 1;  // far above: alarm and pre-alarm
  limits.limits[Component::SO2].daily = 1;
  ASSERT_TRUE(emissions::saveEmissionSettings(inDir(QStringLiteral("korvex-emissions.ini")), limits));
  {
    // The last hour of yesterday and the first fifty minutes of today in the database.
    ResultStore store;
    ASSERT_EQ(store.open(inDir(QStringLiteral("korvex.db")), 0).status, ResultStore::OpenStatus::Opened);
    ASSERT_EQ(store.appendBatch(resultsEverySecond(local(kToday.addDays(-1), 23, 0), local(kToday, 0, 0))).state,
              ResultStore::AppendState::Committed);
    ASSERT_EQ(store.appendBatch(resultsEverySecond(local(kToday, 0, 0), local(kToday, 0, 50))).state,
              ResultStore::AppendState::Committed);
  }
  setNow(local(kToday, 0, 50, 5));
  startProgram();
  ASSERT_TRUE(messages_.empty()) << messages_.front().text.toStdString();
  uint32_t taken = 0;
  QObject::connect(&session(), &Session::resultRecorded, [&] { ++taken; });
  modbus_server::Server* server = session().modbusServer().server();
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(session().modbusServer().stateText().contains(QStringLiteral("Modbus TCP: 127.0.0.1:%1").arg(server->port())));
  const QVector<StoredEvent> started = events(EventKind::ModbusServerStarted);
  ASSERT_EQ(started.size(), 1);
  EXPECT_TRUE(started.front().text.contains(QStringLiteral("127.0.0.1:%1").arg(server->port())));

  ASSERT_TRUE(ticksUntil([this] { return poll().analyzerState() == AnalyzerState::Idle; }, 20));
  window().onContinuousClicked();
  ASSERT_TRUE(ticksUntil([&] { return taken >= 3; }, 40));

  const modbus_probe::Map map = modbus_probe::dump(server->port(), 1);
  ASSERT_TRUE(map.error.isEmpty()) << map.error.toStdString();
  const std::vector<uint16_t>& r = map.input;
  ASSERT_EQ(r.size(), size_t(modbus_server::kRegisterCount));
  EXPECT_EQ(map.holding, r);

  const emissions::MonitorState e = session().emissions().state();
  ASSERT_TRUE(e.lastResult && e.running && e.lastInterval && e.today);
  const Result& last = *e.lastResult;
  EXPECT_EQ(r[0], 1);
  EXPECT_EQ(r[1], taken);
  EXPECT_NE(r[2], 0);
  EXPECT_EQ(r[255], r[2]);
  EXPECT_EQ(r[3], 2);  // answering
  EXPECT_EQ(r[4], uint16_t(poll().analyzerState()));
  EXPECT_EQ(r[5], uint16_t(WorkMode::Continuous));
  EXPECT_EQ(r[6], uint16_t(poll().measurement().faultBits));
  EXPECT_EQ(r[7], 1);
  EXPECT_EQ(r[8], uint16_t(last.status));
  EXPECT_EQ(uintAt(r, 9, false), uint32_t(last.utcMs / 1000));
  EXPECT_EQ(int16_t(r[11]), last.utcOffset / 60);
  EXPECT_EQ(r[12], last.fuelIndex);
  uint16_t valid = 0, codes = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const bool code = specialCode(ch, last[ch]) != SpecialCode::None;
    if (code) codes |= uint16_t(1 << ch);
    else valid |= uint16_t(1 << ch);
    EXPECT_EQ(floatAt(r, 32 + 2 * ch, false), code ? kMissingValue : float(last[ch])) << ch;
  }
  EXPECT_EQ(r[13], valid);
  EXPECT_EQ(r[14], codes);
  uint16_t emissionValid = e.o2Ref ? 1 << 4 : 0;
  for (int c = 0; c < emissions::kComponentCount; ++c) {
    if (e.current[size_t(c)]) emissionValid |= uint16_t(1 << c);
    EXPECT_EQ(floatAt(r, 56 + 2 * c, false), expectedFloat(e.current[size_t(c)])) << c;
  }
  EXPECT_EQ(r[17], emissionValid);
  EXPECT_EQ(floatAt(r, 64, false), expectedFloat(e.o2Ref));

  // Completed intervals latched the NOx alarm and the CO pre-alarm.
  EXPECT_EQ(r[18], 1 << 1);
  EXPECT_EQ(r[19], 1 << 0 | 1 << 1);
  EXPECT_EQ(r[20], uint16_t(emissions::Lamp::Alarm));
  EXPECT_EQ(r[21], 10);

  expectBlock(r, 80, modbus_server::averageSnapshot(*e.running, e.limits), "running interval");
  expectBlock(r, 120, modbus_server::averageSnapshot(*e.lastInterval, e.limits), "last interval");
  expectBlock(r, 160, modbus_server::averageSnapshot(*e.today, e.limits), "today");
  EXPECT_EQ(e.lastInterval->startUtcMs, local(kToday, 0, 40).toMSecsSinceEpoch());
  EXPECT_NE(r[120 + 5] & 0x0F, 0);  // a valid interval: 600 results of 600
  EXPECT_EQ(r[160 + 5], 0x0F);        // five valid intervals of five: valid so far
  EXPECT_EQ(r[160 + 7] >> 4 & 3, 2);  // today's SO2 above its daily limit
  const QVector<StoredAverage> yesterday =
      session().store().averages(AveragePeriodKind::Day, 10, local(kToday.addDays(-1), 0, 0).toMSecsSinceEpoch(),
                                 local(kToday, 0, 0).toMSecsSinceEpoch());
  ASSERT_EQ(yesterday.size(), 1);
  expectBlock(r, 200, modbus_server::averageSnapshot(yesterday.front()), "yesterday");
  EXPECT_EQ(r[200 + 5], 0);  // an hour of a day: not a valid day
  EXPECT_NE(r[200 + 6], 0);

  stopProgram();
  ResultStore store;
  ASSERT_EQ(store.open(inDir(QStringLiteral("korvex.db")), 0).status, ResultStore::OpenStatus::Opened);
  int stopped = 0;
  for (const StoredEvent& ev : store.events(0, std::numeric_limits<qint64>::max()))
    if (ev.kind == EventKind::ModbusServerStopped) ++stopped;
  EXPECT_EQ(stopped, 1);
}

TEST_F(ModbusServerE2E, FiftyClientsAtTenReadsASecondLeaveThePollOnTime) {
  ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
  startSimForResultsEverySecond();
  writeServiceSettings(inDir(QStringLiteral("korvex-service.ini")), "MaxConnections=64\n");
  ServiceProcess service(QStringLiteral(KORVEX_PROGRAM_PATH));
  ASSERT_TRUE(service.start({QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose")}));
  const QRegularExpression startedLine(QStringLiteral(u"Сервер Modbus TCP запущен: 127\\.0\\.0\\.1:(\\d+)"));
  ASSERT_TRUE(service.waitForLines(startedLine, 1)) << service.lines().join('\n').toStdString();
  quint16 port = 0;
  for (const QString& l : service.lines())
    if (const auto m = startedLine.match(l); m.hasMatch()) port = quint16(m.captured(1).toUInt());
  ASSERT_NE(port, 0);
  const QRegularExpression resultLine(QStringLiteral(u" Результат "));
  ASSERT_TRUE(service.waitForLines(resultLine, 2)) << service.lines().join('\n').toStdString();

  // A client holding half a frame all along, and one sending garbage again and again.
  RawModbusClient half;
  ASSERT_TRUE(half.connect(port));
  ASSERT_TRUE(half.send(RawModbusClient::frame(1, 1, RawModbusClient::readPdu(4, 0, 10)).left(7)));
  std::atomic<bool> stop{false};
  std::atomic<int> garbageClosed{0}, garbageSent{0};
  std::thread garbage([&] {
    int n = 0;
    while (!stop) {
      RawModbusClient c;
      if (!c.connect(port)) continue;
      QByteArray bytes(64, '\0');
      for (char& b : bytes) b = char((n++ * 37 + 11) & 0xFF);
      ++garbageSent;
      if (c.send(bytes) && c.closedByServer(5000)) ++garbageClosed;
      // A new connection every fifth of a second: a pace, not a wait for a result.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  ModbusLoad load(port, 50, 10);
  const qint64 loadStart = QDateTime::currentMSecsSinceEpoch();
  load.start();
  const int before = service.count(resultLine);
  const bool measured = service.waitForLines(resultLine, before + 12);
  load.stop();
  stop = true;
  garbage.join();
  const qint64 loadEnd = QDateTime::currentMSecsSinceEpoch();
  ASSERT_TRUE(measured) << service.lines().join('\n').toStdString();
  ASSERT_TRUE(service.terminate());

  const std::vector<ModbusLoad::Answer> answers = load.answers();
  EXPECT_EQ(load.failures(), 0);
  EXPECT_GE(answers.size(), size_t(50 * 10 * 8));
  EXPECT_GT(garbageSent, 0);
  EXPECT_EQ(garbageClosed, garbageSent);
  const std::vector<double> times = load.sortedTimes();
  std::printf("[ answers ] %zu, median %.2f ms, 99th %.2f ms, max %.2f ms\n", times.size(),
              ModbusLoad::percentile(times, 50), ModbusLoad::percentile(times, 99), times.back());

  // The poll's pace, from the times the service gave its results.
  ResultStore store;
  ASSERT_EQ(store.open(inDir(QStringLiteral("korvex.db")), 0, ResultStore::WhenLocked::Refuse).status,
            ResultStore::OpenStatus::Opened);
  const std::vector<StoredResult> stored = store.results(0, std::numeric_limits<qint64>::max());
  std::vector<qint64> during;
  for (const StoredResult& s : stored)
    if (s.result.utcMs >= loadStart && s.result.utcMs <= loadEnd) during.push_back(s.result.utcMs);
  ASSERT_GE(during.size(), 10u);
  qint64 longest = 0;
  for (size_t i = 1; i < during.size(); ++i) longest = std::max(longest, during[i] - during[i - 1]);
  std::printf("[ poll    ] %zu results under load, longest gap %lld ms\n", during.size(), qint64(longest));
  EXPECT_LE(longest, 1200);

  // Every answer is one of the results taken, as the service took it.
  std::map<uint32_t, const StoredResult*> bySecond;
  for (const StoredResult& s : stored) bySecond[uint32_t(s.result.utcMs / 1000)] = &s;
  std::set<uint32_t> seen;
  int checked = 0;
  for (const ModbusLoad::Answer& a : answers) {
    if (a.registers[7] == 0) continue;  // before the first result: nothing to compare
    const uint32_t second = uintAt(a.registers, 9, true);
    const auto found = bySecond.find(second);
    ASSERT_NE(found, bySecond.end()) << second;
    const StoredResult& s = *found->second;
    EXPECT_EQ(a.registers[1], uint16_t(s.seq));  // a fresh database: the heartbeat is the sequence number
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const double v = s.result[ch];
      EXPECT_EQ(floatAt(a.registers, 32 + 2 * ch, true),
                specialCode(ch, v) == SpecialCode::None ? float(v) : kMissingValue)
          << ch;
    }
    seen.insert(second);
    ++checked;
  }
  EXPECT_GE(seen.size(), 10u);
  EXPECT_EQ(checked, int(answers.size()));
}

}  // namespace
