// The web view of the program run as a service on the simulator, in a real
// browser: Debian's chromium driven by playwright-core (tests/e2e/web_browser.mjs)
// logs in, sees the overview change with the next result, draws the trend
// of a generated day, downloads the report's CSV (compared here with the
// report dialog's CSV of the same day) and its PDF, and finds nothing without
// a login.
// And measuring goes on while hundreds of clients hold connections open.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <cmath>

#include "data/result_store.h"
#include "e2e/sim_fixture.h"
#include "emissions/report_csv.h"
#include "emissions/stored_averages.h"
#include "service/settings.h"
#include "support/service_process.h"
#include "web/web_settings.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif
#ifndef KORVEX_SOURCE_DIR
#define KORVEX_SOURCE_DIR ""
#endif

namespace {

const QRegularExpression kResultLine(QStringLiteral(u" Результат "));
const QRegularExpression kWebLine(QStringLiteral(u"Веб-страницы: http://127\\.0\\.0\\.1:(\\d+)/"));
const QByteArray kPassword = "Browser-Test-Pass-9";

// Results every `stepSeconds` over [from, to), each channel a slow wave.
std::vector<Result> generated(const QDateTime& from, const QDateTime& to, int stepSeconds) {
  constexpr double kTypical[kChannelCount] = {180, 3.5, 50, 40, 5, 2, 1, 9.8, 66, 7.5, 1.2, 20};
  std::vector<Result> out;
  for (QDateTime t = from; t < to; t = t.addSecs(stepSeconds)) {
    Result r;
    r.utcMs = t.toMSecsSinceEpoch();
    r.utcOffset = t.offsetFromUtc();
    r.mode = WorkMode::Continuous;
    const double phase = double(r.utcMs % 86400000) / 86400000 * 2 * M_PI;
    for (int ch = 0; ch < kChannelCount; ++ch)
      r.values[size_t(ch)] = std::round(kTypical[ch] * (1 + 0.2 * std::sin(phase * (ch + 1) + ch)) * 100) / 100;
    out.push_back(r);
  }
  return out;
}

class WebE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
    startSimForResultsEverySecond();
    // Yesterday whole and today until now, a result every ten seconds.
    const QDateTime now = QDateTime::currentDateTime();
    reportDay_ = now.date().addDays(-1);
    ResultStore::setDurableForTesting(false);
    {
      ResultStore store;
      ASSERT_TRUE(store.open(inDir(QStringLiteral("korvex.db")), now.toMSecsSinceEpoch()).isWritable());
      ASSERT_EQ(store.appendBatch(generated(QDateTime(reportDay_, QTime(0, 0)), now.addSecs(-5), 10)).state,
                ResultStore::AppendState::Committed);
    }
    ResultStore::setDurableForTesting(true);
    QFile ini(inDir(QStringLiteral("korvex-service.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Analyzer]\nSite=plant-7\nName=boiler-3\n[Web]\nEnabled=true\nPort=0\nPasswordHash=\"" +
              web::hashPassword(kPassword).toLatin1() + "\"\n");
    ini.close();
    ASSERT_TRUE(service_.start({QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose")}));
    ASSERT_TRUE(service_.waitForLines(kWebLine, 1)) << service_.lines().join('\n').toStdString();
    for (const QString& l : service_.lines())
      if (const auto m = kWebLine.match(l); m.hasMatch()) port_ = quint16(m.captured(1).toUInt());
    ASSERT_TRUE(service_.waitForLines(kResultLine, 1)) << service_.lines().join('\n').toStdString();
  }

  void TearDown() override {
    if (service_.isRunning()) service_.terminate();
    SimFixture::TearDown();
  }

  std::vector<StoredResult> stored() {
    ResultStore store;
    EXPECT_TRUE(store.openForReading(inDir(QStringLiteral("korvex.db"))).isOpen());
    return store.results(0, std::numeric_limits<qint64>::max());
  }

  ServiceProcess service_{QStringLiteral(KORVEX_PROGRAM_PATH)};
  quint16 port_ = 0;
  QDate reportDay_;
};

TEST_F(WebE2E, ABrowserLogsInSeesLiveValuesTheDaysTrendAndTheDialogsCsv) {
  const QString out = QStringLiteral(KORVEX_SCREENSHOT_DIR);
  QDir().mkpath(out);
  QProcess node;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("KORVEX_URL"), QStringLiteral("http://127.0.0.1:%1/").arg(port_));
  env.insert(QStringLiteral("KORVEX_PASSWORD"), QString::fromLatin1(kPassword));
  env.insert(QStringLiteral("KORVEX_ID"), QStringLiteral("plant-7-boiler-3"));
  env.insert(QStringLiteral("KORVEX_REPORT_DAY"), reportDay_.toString(Qt::ISODate));
  env.insert(QStringLiteral("KORVEX_OUT"), out);
  env.insert(QStringLiteral("KORVEX_WEB_DIR"), QStringLiteral(KORVEX_SOURCE_DIR "/web"));
  node.setProcessEnvironment(env);
  node.setProcessChannelMode(QProcess::MergedChannels);
  node.start(QStringLiteral("node"), {QStringLiteral(KORVEX_SOURCE_DIR "/tests/e2e/web_browser.mjs")});
  ASSERT_TRUE(node.waitForStarted(10000)) << "node is not installed (scripts/install-deps.sh)";
  // Spins the event loop meanwhile: the service's output is read as it comes.
  ASSERT_TRUE(SimProcess::waitFor([&] { return node.state() == QProcess::NotRunning; }, 180000));
  const QString output = QString::fromUtf8(node.readAll());
  ASSERT_EQ(node.exitCode(), 0) << output.toStdString();
  const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  EXPECT_TRUE(lines.contains(QStringLiteral("NOLOGIN ok")));
  EXPECT_TRUE(lines.contains(QStringLiteral("WRONG ok")));
  EXPECT_FALSE(lines.filter(QRegularExpression(QStringLiteral("^AUDIT rows=[1-9][0-9]* started=true$"))).isEmpty())
      << output.toStdString();
  EXPECT_TRUE(lines.contains(QStringLiteral("DONE")));

  // The overview showed two successive results with the values the service committed.
  const QRegularExpression overview(QStringLiteral("^OVERVIEW seq=(\\d+) Tg=(\\S+) O2=(\\S+)$"));
  const std::vector<StoredResult> rows = stored();
  QVector<qint64> seen;
  for (const QString& l : lines) {
    const auto m = overview.match(l);
    if (!m.hasMatch()) continue;
    const qint64 seq = m.captured(1).toLongLong();
    seen << seq;
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const StoredResult& s) { return s.seq == seq; });
    ASSERT_NE(it, rows.end()) << seq;
    EXPECT_NEAR(m.captured(2).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(), it->result[channel::Tg], 0.005);
    EXPECT_NEAR(m.captured(3).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(), it->result[channel::O2], 0.005);
  }
  ASSERT_EQ(seen.size(), 2);
  EXPECT_GT(seen[1], seen[0]);

  // The day's trend came as pixel columns: a few thousand points, not the day's results.
  const QRegularExpression trend(QStringLiteral("^TREND points=(\\d+)$"));
  const QStringList trendLines = lines.filter(trend);
  ASSERT_EQ(trendLines.size(), 1);
  const int points = trend.match(trendLines.first()).captured(1).toInt();
  EXPECT_GT(points, 200);
  EXPECT_LT(points, 9000);

  // The CSV equals the report dialog's: the same day, the same code, ';' with a decimal comma.
  const QStringList csvLines = lines.filter(QRegularExpression(QStringLiteral("^CSV ")));
  ASSERT_EQ(csvLines.size(), 1);
  QFile csv(csvLines.first().mid(4));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  const QByteArray downloaded = csv.readAll();
  // The PDF of the same day, drawn by the program beside the service.
  const QStringList pdfLines = lines.filter(QRegularExpression(QStringLiteral("^PDF ")));
  ASSERT_EQ(pdfLines.size(), 1);
  EXPECT_TRUE(pdfLines.first().endsWith(QStringLiteral("/emissions-") + reportDay_.toString(Qt::ISODate) + QStringLiteral(".pdf")));
  QProcess pdfText;
  pdfText.start(QStringLiteral("pdftotext"), {pdfLines.first().mid(4), QStringLiteral("-")});
  ASSERT_TRUE(pdfText.waitForFinished(60000));
  EXPECT_TRUE(QString::fromUtf8(pdfText.readAllStandardOutput())
                  .contains(QStringLiteral(u"Отчёт о выбросах за ") + reportDay_.toString(QStringLiteral("dd.MM.yyyy"))));
  ASSERT_TRUE(service_.terminate());
  // The report as the window computes it: from the stored results, with the settings in force.
  Settings settings;
  ASSERT_TRUE(settings.load());
  settings.loadEmissions();
  ResultStore store;
  ASSERT_EQ(store.open(inDir(QStringLiteral("korvex.db")), 0).status, ResultStore::OpenStatus::Opened);
  const emissions::EmissionReport report = emissions::EmissionReport::fromDays(
      emissions::recomputeDays(store, reportDay_, reportDay_, settings.averagingConfig()), settings.emissions().limits);
  const QByteArray dialogs = emissions::reportCsv(report,
                                                  emissions::CsvFormat::withSeparator(QLatin1Char(';'), seams::locale()));
  EXPECT_GT(dialogs.count('\n'), 48);
  EXPECT_EQ(downloaded, dialogs);
}

TEST_F(WebE2E, MeasuringGoesOnWhileHundredsOfClientsHoldConnectionsOrSendGarbage) {
  const int before = service_.count(kResultLine);
  // Slow clients that never finish their request, a stream reader that never
  // reads, and oversized requests, all at once.
  std::vector<std::unique_ptr<QTcpSocket>> held;
  for (int i = 0; i < 300; ++i) {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QStringLiteral("127.0.0.1"), port_);
    if (!s->waitForConnected(5000)) continue;
    s->write(i % 3 == 0 ? QByteArray("GET /api/overview HTTP/1.1\r\nHost: x\r\nX-Slow: ")
                        : i % 3 == 1 ? "GET / HTTP/1.1\r\nX-Big: " + QByteArray(40000, 'b') + "\r\n\r\n"
                                     : QByteArray("\xff\xfe GARBAGE /%2e%2e/%2e%2e/etc/passwd HTTP/9.9\r\n\r\n"));
    held.push_back(std::move(s));
  }
  // Results keep coming at their pace: each of the next ten within a few
  // seconds of the one before (a second each, with room for a loaded machine).
  ASSERT_TRUE(service_.waitForLines(kResultLine, before + 10, 40000)) << service_.lines().join('\n').toStdString();
  for (auto& s : held) {
    QByteArray got;
    while (s->state() == QAbstractSocket::ConnectedState && s->waitForReadyRead(100)) got += s->readAll();
    got += s->readAll();
    EXPECT_FALSE(got.contains("200 OK")) << got.left(60).constData();
    EXPECT_FALSE(got.contains("root:"));
  }
  const std::vector<StoredResult> rows = stored();
  ASSERT_GE(rows.size(), size_t(10));
  qint64 longestGap = 0;
  for (size_t i = rows.size() - 10; i < rows.size(); ++i)
    longestGap = std::max(longestGap, rows[i].result.utcMs - rows[i - 1].result.utcMs);
  EXPECT_LT(longestGap, 5000);
}

}  // namespace
