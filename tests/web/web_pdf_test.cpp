// The report's PDF over HTTP on loopback: drawn by the real program
// (korvex --report-pdf) for a day's report, with its type and file name;
// a request that is not a day or a range of them is refused before any
// process starts, one pipelined behind a PDF closes the connection; more PDFs at once than allowed are told to come back
// (503, Retry-After) while the others are answered when they are drawn; a
// drawing that hangs is cut off at its time limit, and its temporary file
// goes with it.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include "web/web_support.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif

using web_test::HttpReply;
using web_test::WebServerFixture;

namespace {

const QByteArray kPassword = "Correct-Horse-42";

// The temporary directory of the server's files for the test's length.
class TempDirectory {
 public:
  TempDirectory() : old_(qgetenv("TMPDIR")) { qputenv("TMPDIR", dir_.path().toLocal8Bit()); }
  ~TempDirectory() {
    if (old_.isEmpty()) qunsetenv("TMPDIR");
    else qputenv("TMPDIR", old_);
  }
  QString path() const { return dir_.path(); }
  QStringList files(const QString& pattern = QStringLiteral("*")) const {
    return QDir(dir_.path()).entryList({pattern}, QDir::Files | QDir::System);
  }

 private:
  QTemporaryDir dir_;
  QByteArray old_;
};

// Stands for korvex --report-pdf: says it started, waits until the test
// opens the gate (a named pipe), then writes a PDF of a line into --out.
QString gatedProgram(const QString& dir) {
  const QString path = QDir(dir).filePath(QStringLiteral("gated-pdf"));
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write(("#!/bin/sh\n: > '" + dir.toLocal8Bit() + "/started.'$$\nread gate < '" + dir.toLocal8Bit() +
           "/gate'\nprintf '%%PDF-1.4 gated\\n' > \"$3\"\n"));
  f.close();
  f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_EQ(::mkfifo(QDir(dir).filePath(QStringLiteral("gate")).toLocal8Bit().constData(), 0600), 0);
  return path;
}

// A server whose PDFs the gated program draws, `jobs` at once, each within `timeoutMs`.
std::unique_ptr<WebServerFixture> gatedServer(const TempDirectory& temp, int jobs, int timeoutMs = 60000) {
  const QString program = gatedProgram(temp.path());
  return std::make_unique<WebServerFixture>(QString(), 10000, 120, [&](web::WebSettings& s) {
    s.pdfProgram = program;
    s.maxPdfJobs = jobs;
    s.pdfTimeoutMs = timeoutMs;
  });
}

QByteArray get(const QByteArray& target, const QByteArray& cookie) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Encoding: gzip, deflate\r\nCookie: " + cookie +
         "\r\nConnection: close\r\n\r\n";
}

QByteArray today() { return QDateTime::currentDateTime().date().toString(Qt::ISODate).toLatin1(); }

TEST(WebPdf, ADayReportComesAsAPdfDrawnByTheProgram) {
  ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
  TempDirectory temp;
  WebServerFixture web(QString::fromLatin1(kPassword), 10000, 120,
                       [](web::WebSettings& s) { s.pdfProgram = QStringLiteral(KORVEX_PROGRAM_PATH); });
  ASSERT_TRUE(web.ok()) << web.error().toStdString();
  const QByteArray target = "/api/report.pdf?id=plant-boiler&from=" + today();
  // Not without a login.
  EXPECT_EQ(web_test::request(web.port(), "GET", target).status, 401);

  const HttpReply r = web_test::exchange(web.port(), get(target, web.login(kPassword)), 120000);
  ASSERT_EQ(r.status, 200) << r.body.left(300).toStdString();
  EXPECT_EQ(r.header("content-type"), "application/pdf");
  EXPECT_EQ(r.header("content-disposition"), "attachment; filename=\"emissions-" + today() + ".pdf\"");
  EXPECT_EQ(r.header("content-encoding"), "");  // a PDF is compressed already
  EXPECT_EQ(r.header("x-content-type-options"), "nosniff");
  ASSERT_TRUE(r.body.startsWith("%PDF-"));
  QFile pdf(QDir(temp.path()).filePath(QStringLiteral("got.pdf")));
  ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
  pdf.write(r.body);
  pdf.close();
  QProcess text;
  text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf.fileName(), QStringLiteral("-")});
  ASSERT_TRUE(text.waitForFinished(60000));
  const QString shown = QString::fromUtf8(text.readAllStandardOutput());
  EXPECT_TRUE(shown.contains(QStringLiteral(u"Отчёт о выбросах за ") + QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))))
      << shown.left(400).toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral(u"Стр. 1 из ")));
  // The server's temporary file is gone with the answer.
  QTRY_COMPARE_WITH_TIMEOUT(temp.files(QStringLiteral("korvex-report-*")), QStringList(), 30000);
}

TEST(WebPdf, HostileRequestsAreRefusedBeforeAnyProcessStarts) {
  TempDirectory temp;
  const auto server = gatedServer(temp, 2);
  WebServerFixture& web = *server;
  ASSERT_TRUE(web.ok()) << web.error().toStdString();
  const QByteArray id = "/api/report.pdf?id=plant-boiler";
  const std::vector<std::pair<QByteArray, int>> cases = {
      {id, 400},
      {id + "&from=2026-13-01", 400},
      {id + "&from=2026-02-30", 400},
      {id + "&from=%2B2026-12-08", 400},
      {id + "&from=2026-12-08%3Brm%20-rf%20%2F", 400},
      {id + "&from=..%2F..%2Fetc%2Fpasswd", 400},
      {id + "&from=2026-12-08&to=2026-12-01", 400},
      {id + "&from=2026-01-01&to=2026-12-31", 400},
      {id + "&from=2026-12-08&to=--out", 400},
      {"/api/report.pdf?id=..%2Fplant-boiler&from=2026-12-08", 404},
      {"/api/report.pdf?id=nobody&from=2026-12-08", 404},
  };
  for (const auto& [target, status] : cases) {
    const HttpReply r = web_test::request(web.port(), "GET", target);
    EXPECT_EQ(r.status, status) << target.toStdString();
    EXPECT_EQ(r.header("content-type"), "application/json; charset=utf-8") << target.toStdString();
  }
  EXPECT_EQ(temp.files(QStringLiteral("started.*")), QStringList());
  EXPECT_EQ(temp.files(QStringLiteral("korvex-report-*")), QStringList());

  // A request sent behind one whose PDF is being drawn is not answered out
  // of order: the connection closes. The drawing still going on when the
  // server stops is ended with it.
  const QByteArray pdf = "GET " + id + "&from=" + today() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const HttpReply pipelined = web_test::exchange(web.port(), pdf + "GET /api/analyzers HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 30000);
  EXPECT_EQ(pipelined.status, 0);
  EXPECT_TRUE(pipelined.closed);
  QTRY_COMPARE_WITH_TIMEOUT(temp.files(QStringLiteral("started.*")).size(), 1, 60000);
  web.service().stop();
  EXPECT_EQ(temp.files(QStringLiteral("korvex-report-*")), QStringList());
}

TEST(WebPdf, MoreThanTheLimitAtOnceIs503AndTheOthersAreAnsweredWhenDrawn) {
  TempDirectory temp;
  const auto server = gatedServer(temp, 2);
  WebServerFixture& web = *server;
  ASSERT_TRUE(web.ok()) << web.error().toStdString();
  const QByteArray request = get("/api/report.pdf?id=plant-boiler&from=" + today(), "x=y");
  QTcpSocket first, second;
  for (QTcpSocket* s : {&first, &second}) {
    s->connectToHost(QStringLiteral("127.0.0.1"), web.port());
    ASSERT_TRUE(s->waitForConnected(5000));
    s->write(request);
  }
  QTRY_COMPARE_WITH_TIMEOUT(temp.files(QStringLiteral("started.*")).size(), 2, 60000);
  const HttpReply busy = web_test::exchange(web.port(), request);
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.header("retry-after"), "5");
  EXPECT_EQ(temp.files(QStringLiteral("started.*")).size(), 2);
  EXPECT_EQ(first.bytesAvailable() + second.bytesAvailable(), 0);

  // The gate opens: both are drawn and answered on their own connections.
  QFile gate(QDir(temp.path()).filePath(QStringLiteral("gate")));
  ASSERT_TRUE(gate.open(QIODevice::WriteOnly));
  gate.write("go\ngo\n");
  gate.close();
  for (QTcpSocket* s : {&first, &second}) {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (!got.contains("%PDF-1.4 gated") && clock.elapsed() < 60000)
      if (s->waitForReadyRead(1000) || s->bytesAvailable()) got += s->readAll();
    EXPECT_TRUE(got.startsWith("HTTP/1.1 200")) << got.toStdString();
    EXPECT_TRUE(got.contains("%PDF-1.4 gated")) << got.toStdString();
  }
  QTRY_COMPARE_WITH_TIMEOUT(temp.files(QStringLiteral("korvex-report-*")), QStringList(), 30000);
}

TEST(WebPdf, ADrawingThatHangsIsCutOffAtItsTimeLimit) {
  TempDirectory temp;
  const auto server = gatedServer(temp, 1, 300);
  WebServerFixture& web = *server;
  ASSERT_TRUE(web.ok()) << web.error().toStdString();
  const QByteArray target = "/api/report.pdf?id=plant-boiler&from=" + today();
  for (int round = 0; round < 2; ++round) {
    const HttpReply r = web_test::request(web.port(), "GET", target);
    EXPECT_EQ(r.status, 504) << round;
    // Killed, and its file removed: the one place is free again.
    QTRY_COMPARE_WITH_TIMEOUT(temp.files(QStringLiteral("korvex-report-*")), QStringList(), 30000);
  }
  EXPECT_EQ(temp.files(QStringLiteral("started.*")).size(), 2);
  QTRY_VERIFY_WITH_TIMEOUT(web.messages().filter(QStringLiteral(u"не составлен за 0.3 с")).size() == 2, 10000);
}

}  // namespace
