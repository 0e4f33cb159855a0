// The program run as a service (korvex --headless, and the service korvexd
// for the first case), a process of its own against the analyzer simulator in real time: a result every second of a
// continuous measurement, committed before it is printed. Ended by SIGTERM it
// stops the analyzer and leaves a whole database; killed, it loses nothing
// it printed, and the program started again brings exactly those rows back
// and puts each once into the day's log.

#include <gtest/gtest.h>

#include <QFile>
#include <memory>

#include "data/result_store.h"
#include "e2e/sim_fixture.h"
#include "storage/settings_files.h"
#include "storage/table_files.h"
#include "support/service_process.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif
#ifndef KORVEX_SERVICE_PATH
#define KORVEX_SERVICE_PATH ""
#endif

namespace {

const QRegularExpression kResultLine(QStringLiteral(u" Результат "));

class HeadlessE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
    startSimForResultsEverySecond();
  }

  // The service in the fixture's directory until `results` results are printed.
  void runService(int results) {
    ASSERT_TRUE(service_->start({QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose")}));
    ASSERT_TRUE(service_->waitForLines(kResultLine, results)) << service_->lines().join('\n').toStdString();
  }

  // What the service printed of each result: its cells after the number
  // (the service prints the sequence number there).
  QStringList printedResults() {
    QStringList rows;
    for (const QString& l : service_->lines()) {
      const qsizetype at = l.indexOf(kResultLine);
      if (at < 0) continue;
      const QString cells = l.mid(at + kResultLine.pattern().size());
      rows << cells.mid(cells.indexOf(QLatin1Char(' ')) + 1);
    }
    return rows;
  }

  std::vector<StoredResult> storedResults() {
    ResultStore store;
    const ResultStore::OpenResult opened =
        store.open(inDir(QStringLiteral("korvex.db")), 0, ResultStore::WhenLocked::Refuse, ResultStore::Check::Everything);
    EXPECT_EQ(opened.status, ResultStore::OpenStatus::Opened) << opened.detail.toStdString();
    return store.results(0, std::numeric_limits<qint64>::max());
  }

  std::unique_ptr<ServiceProcess> service_ = std::make_unique<ServiceProcess>(QStringLiteral(KORVEX_PROGRAM_PATH));
};

// Either program: korvexd names its files after the window program too
// (korvex.ini, korvex.db), so both run on the same directory.
class HeadlessProgramE2E : public HeadlessE2E, public ::testing::WithParamInterface<const char*> {
 protected:
  HeadlessProgramE2E() { service_ = std::make_unique<ServiceProcess>(QString::fromUtf8(GetParam())); }
  void SetUp() override {
    HeadlessE2E::SetUp();
    ASSERT_STRNE(GetParam(), "");
  }
};

TEST_P(HeadlessProgramE2E, SigtermStopsTheAnalyzerAndLeavesEveryPrintedResultInAWholeDatabase) {
  runService(3);
  const int stopsBefore = sim_->count(line("^COMMAND 3 stop$"));
  ASSERT_TRUE(service_->terminate());
  EXPECT_EQ(service_->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(service_->exitCode(), 0);
  EXPECT_EQ(sim_->count(line("^COMMAND 3 stop$")), stopsBefore + 1);
  EXPECT_EQ(service_->count(QRegularExpression(QStringLiteral(u"Остановлено$"))), 1);

  const QStringList printed = printedResults();
  const std::vector<StoredResult> stored = storedResults();
  ASSERT_EQ(stored.size(), size_t(printed.size()));
  for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i].seq, qint64(i + 1));
}

INSTANTIATE_TEST_SUITE_P(Programs, HeadlessProgramE2E, ::testing::Values(KORVEX_PROGRAM_PATH, KORVEX_SERVICE_PATH),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.index == 0 ? "KorvexHeadless" : "Korvexd");
                         });

TEST_F(HeadlessE2E, AKilledServiceLosesNoPrintedResultAndTheNextStartLogsEachOnce) {
  runService(5);
  service_->kill();
  const QStringList printed = printedResults();
  const std::vector<StoredResult> stored = storedResults();
  // Committed before printed: at most the one being printed is beyond them.
  ASSERT_GE(stored.size(), size_t(printed.size()));
  ASSERT_LE(stored.size(), size_t(printed.size() + 1));

  // The program started again on the day of those results.
  const QDateTime last = QDateTime::fromMSecsSinceEpoch(stored.back().result.utcMs);
  setNow(last.addSecs(1));
  startProgramOnSim();
  ASSERT_EQ(results().count(), int(stored.size()));
  EXPECT_TRUE(results().unsaved());
  for (int row = 0; row < printed.size(); ++row) EXPECT_EQ(results().cells(row).mid(1).join(' '), printed[row]) << row;

  // At midnight the day's log holds each of them once.
  const QDate day = last.date();
  setNow(QDateTime(day.addDays(1), QTime(0, 0, 1)));
  tick();
  EXPECT_EQ(results().count(), 0);
  ResultsLog logged;
  ASSERT_TRUE(loadTableFile(dailyLogPath(day), logged).ok);
  ResultsLog expected;
  for (const StoredResult& s : stored) expected.append(s.result);
  ASSERT_EQ(logged.count(), expected.count());
  for (int row = 0; row < logged.count(); ++row) EXPECT_EQ(logged.cells(row), expected.cells(row)) << row;
}

// The service started before the serial device server it reaches the
// analyzer through: the first try fails (one line, with the reason), the
// port is tried again quietly every three seconds, and measuring starts by
// itself once the gateway is up.
class HeadlessGatewayE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
  }
  ServiceProcess service_{QStringLiteral(KORVEX_PROGRAM_PATH)};
};

TEST_F(HeadlessGatewayE2E, AGatewayThatStartsLaterIsFoundAndMeasuringStartsByItself) {
  // A free loopback address: the simulator's, once it stopped listening.
  const QStringList fast{QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"),
                         QStringLiteral("1")};
  startSim(QStringList(fast) << QStringLiteral("--tcp") << QStringLiteral("0"));
  const QString name = sim_->portPath();
  const QString address = QStringLiteral("127.0.0.1:%1").arg(sim_->tcpPort());
  ASSERT_TRUE(test_settings::writeForResultsEverySecond(name));
  sim_->stop();

  ASSERT_TRUE(service_.start({QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose"),
                              QStringLiteral("--port"), name}));
  // The notice's line: its title, the port, the reason.
  const QRegularExpression failed(QStringLiteral(u"Не могу открыть порт: %1 соединение отвергнуто")
                                      .arg(QRegularExpression::escape(name)));
  ASSERT_TRUE(service_.waitForLines(failed, 1, 20000)) << service_.lines().join('\n').toStdString();

  // The gateway comes up after the service's first try.
  startSim(QStringList(fast) << QStringLiteral("--tcp") << address);
  ASSERT_TRUE(service_.waitForLines(kResultLine, 2, 60000)) << service_.lines().join('\n').toStdString();
  EXPECT_EQ(service_.count(QRegularExpression(QStringLiteral(u"Порт открыт: ") + QRegularExpression::escape(name) +
                                              QLatin1Char('$'))),
            1);
  // One line for the failure, however many tries it took.
  EXPECT_EQ(service_.count(QRegularExpression(QStringLiteral(u"Не могу открыть порт"))), 1);
  ASSERT_TRUE(service_.terminate());
}

}  // namespace
