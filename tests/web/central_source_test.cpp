// A site's pages from the central PostgreSQL database (korvex --site): every
// analyzer the services copied there, its newest result live, its trend and
// its report (the CSV and the PDF), read from a real server of the test's own.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>

#include "emissions/report_csv.h"
#include "publish/central_writer.h"
#include "support/postgres_server.h"
#include "web/central_source.h"
#include "web/web_support.h"

using web_test::request;

namespace {

std::vector<StoredResult> minuteResults(qint64 from, int count, double tg) {
  std::vector<StoredResult> out;
  for (int i = 0; i < count; ++i) {
    StoredResult s;
    s.seq = i + 1;
    s.result.utcMs = from + qint64(i) * 60000;
    s.result.mode = WorkMode::Continuous;
    s.result.values = {tg, 3.5, 50, 40, 5, 2, 1, 9.8, 45, 7.5, 1.2, 20};
    if (i == 3) s.result.values[channel::CO] = kCodeOverload;
    out.push_back(s);
  }
  return out;
}

TEST(CentralSource, EveryAnalyzerOfTheDatabaseWithItsNewestResultTrendAndReport) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const qint64 dayStart = QDateTime(QDate::currentDate().addDays(-1), QTime(0, 0)).toMSecsSinceEpoch();
  publish::CentralWriter writer(db.connectionString());
  const std::vector<double> refs{3};
  const std::vector<StoredResult> boiler1 = minuteResults(dayStart, 1440, 180);
  const std::vector<StoredResult> boiler2 = minuteResults(now - 70000, 2, 150);
  ASSERT_TRUE(writer.write(publish::makeCentralBatch({QStringLiteral("plant"), QStringLiteral("boiler-1"), 1}, boiler1, {}, refs)).ok);
  ASSERT_TRUE(writer.write(publish::makeCentralBatch({QStringLiteral("plant"), QStringLiteral("boiler-2"), 2}, boiler2, {}, refs)).ok);

  web::WebService service;
  web::WebSettings settings;
  settings.enabled = true;
  settings.port = 0;
#ifdef KORVEX_PROGRAM_PATH
  settings.pdfProgram = QStringLiteral(KORVEX_PROGRAM_PATH);
#endif
  QString error;
  ASSERT_TRUE(service.start(settings, std::make_unique<web::CentralHistory>(db.connectionString()),
                            std::make_unique<web::SinglePasswordUsers>(QString()), std::make_unique<web::NoAuditTrail>(), &error))
      << error.toStdString();
  web::CentralLive live(db.connectionString(), service.hub());
  live.start();
  ASSERT_EQ(service.hub().all().size(), size_t(2));

  // The overview: both, the newest result of each; boiler-1's is a day old.
  const web_test::HttpReply overview = request(service.port(), "GET", "/api/overview");
  ASSERT_EQ(overview.status, 200);
  const QString o = QString::fromUtf8(overview.body);
  EXPECT_TRUE(o.contains(QStringLiteral("\"name\":\"boiler-1\"")));
  EXPECT_TRUE(o.contains(QStringLiteral("\"seq\":1440")));
  EXPECT_TRUE(o.contains(QStringLiteral(u"Нет новых результатов")));
  EXPECT_TRUE(o.contains(QStringLiteral(u"Результаты поступают")));
  EXPECT_TRUE(o.contains(QStringLiteral("\"lamp\":\"unknown\"")));

  // A new result of boiler-2 reaches the hub at the next look.
  ASSERT_TRUE(writer.write(publish::makeCentralBatch({QStringLiteral("plant"), QStringLiteral("boiler-2"), 2},
                                                     {StoredResult{3, minuteResults(now - 1000, 1, 151)[0].result}}, {}, refs)).ok);
  live.refresh();
  const std::vector<web::LiveSnapshot> all = service.hub().all();
  const web::LiveSnapshot& second = *std::find_if(all.begin(), all.end(), [](const web::LiveSnapshot& s) { return s.name == QStringLiteral("boiler-2"); });
  ASSERT_TRUE(second.last);
  EXPECT_EQ(second.last->seq, 3);
  EXPECT_EQ(second.last->result[channel::Tg], 151);

  // The trend and the report of boiler-1's day, with the analyzer code back as a code.
  const QString id = all[0].name == QStringLiteral("boiler-1") ? all[0].id : all[1].id;
  const web_test::HttpReply trend = request(service.port(), "GET",
      "/api/trend?id=" + id.toUtf8() + "&from=" + QByteArray::number(dayStart) + "&to=" + QByteArray::number(dayStart + 86400000) + "&w=500&ch=Tg,CO");
  ASSERT_EQ(trend.status, 200);
  EXPECT_TRUE(trend.body.contains("\"reduced\":true"));
  EXPECT_FALSE(trend.body.contains("32768"));  // the overloaded CO is no value
  const QDate day = QDate::currentDate().addDays(-1);
  const web_test::HttpReply csv = request(service.port(), "GET",
      "/api/report.csv?id=" + id.toUtf8() + "&from=" + day.toString(Qt::ISODate).toUtf8() + "&sep=comma");
  ASSERT_EQ(csv.status, 200);
  QVector<Result> values;
  for (const StoredResult& s : boiler1) values.append(s.result);
  emissions::AveragingConfig config;
  config.zone = QTimeZone::systemTimeZone();
  config.resultPeriodSeconds = 60;  // the usual spacing of these results
  config.o2RefByFuel = refs;
  const QByteArray expected = emissions::reportCsv(emissions::EmissionReport::build(values, config, {}, day, day),
                                                   emissions::CsvFormat::withSeparator(QLatin1Char(','), QLocale(QLocale::Russian)));
  EXPECT_EQ(csv.body, expected);
  EXPECT_TRUE(csv.body.contains(",valid,"));  // a result a minute is what these intervals expect

  // The same day's PDF, drawn from the central database's report.
  const web_test::HttpReply pdf = web_test::exchange(service.port(),
      "GET /api/report.pdf?id=" + id.toUtf8() + "&from=" + day.toString(Qt::ISODate).toUtf8() +
      " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 120000);
  ASSERT_EQ(pdf.status, 200) << pdf.body.left(300).toStdString();
  ASSERT_TRUE(pdf.body.startsWith("%PDF-"));
  QProcess text;
  text.start(QStringLiteral("pdftotext"), {QStringLiteral("-"), QStringLiteral("-")});
  text.write(pdf.body);
  text.closeWriteChannel();
  ASSERT_TRUE(text.waitForFinished(60000));
  EXPECT_TRUE(QString::fromUtf8(text.readAllStandardOutput())
                  .contains(QStringLiteral(u"Отчёт о выбросах за ") + day.toString(QStringLiteral("dd.MM.yyyy"))));
  service.stop();
}

}  // namespace
