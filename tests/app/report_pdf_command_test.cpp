// korvex --report-pdf, as the web view runs it: the report table on its
// standard input, the PDF into --out. It draws what the report dialog's
// "Сохранить PDF..." draws (the same pages, the same text, read back by
// poppler), and input that is no report table writes no file.

#include <gtest/gtest.h>

#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include "emissions/report_table.h"
#include "emissions/report_table_json.h"
#include "print/emission_report_print.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif

namespace {

using namespace emissions;

struct Ran {
  int exitCode = -1;
  QByteArray out, err;
};

Ran run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
  QProcess p;
  p.start(program, args);
  p.write(input);
  p.closeWriteChannel();
  Ran r;
  EXPECT_TRUE(p.waitForFinished(120000)) << program.toStdString();
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

int pdfPages(const QString& pdf) {
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                     .match(QString::fromUtf8(run(QStringLiteral("pdfinfo"), {pdf}).out));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text without the moment it was drawn ("напечатано 08.12.2026 15:20").
QString pdfText(const QString& pdf) {
  QString text = QString::fromUtf8(run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}).out);
  return text.replace(QRegularExpression(QStringLiteral(u"напечатано \\S+ \\S+")), QStringLiteral(u"напечатано"));
}

// Two days of half hours under a regulation profile: several pages, the
// summary's sections after the table, an exceedance on the second day.
ReportTable twoDays() {
  const QDate first(2026, 12, 7), last(2026, 12, 8);
  AveragingConfig c;
  c.zone = QTimeZone::utc();
  c.resultPeriodSeconds = 300;
  c.o2RefByFuel = {3};
  c.validation.profile = RegulationProfile::WasteIncineration;
  c.validation.dailyLimit = {50.0, 200.0, std::nullopt, std::nullopt};
  c = c.sanitized();
  AlarmLimits limits;
  limits[Component::CO] = {100, 50};
  QVector<Result> results;
  const qint64 start = QDateTime(first, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
  for (qint64 t = start; t < start + 2 * 86400000LL; t += 300000) {
    Result r;
    r.utcMs = t;
    r.mode = WorkMode::Continuous;
    r.values[channel::O2] = 3;
    r.values[channel::CO] = t >= start + 86400000LL + 36000000 && t < start + 86400000LL + 39600000 ? 160 : 16;
    r.values[channel::NO] = 100;
    results.append(r);
  }
  const EmissionReport report =
      EmissionReport::forPeriod(ReportPeriod::Days, first, last, computeDays(results, c, first, last), limits, c.validation);
  return reportTable(report, first, last, 30, QLocale(QLocale::Russian, QLocale::Russia));
}

TEST(ReportPdfCommand, DrawsTheDialogsPagesFromTheTableOnItsInput) {
  ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
  QTemporaryDir dir;
  const ReportTable table = twoDays();
  // As "Сохранить PDF..." of the report dialog saves it.
  const QString dialogPdf = dir.filePath(QStringLiteral("dialog.pdf"));
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setOutputFileName(dialogPdf);
  QString error;
  int pages = 0;
  ASSERT_TRUE(printEmissionReport(printer, table, &error, &pages)) << error.toStdString();
  ASSERT_GE(pages, 3);

  const QString pdf = dir.filePath(QStringLiteral(u"отчёт за сутки.pdf"));
  const Ran r = run(QStringLiteral(KORVEX_PROGRAM_PATH), {QStringLiteral("--report-pdf"), QStringLiteral("--out"), pdf},
                    reportTableToJson(table));
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.read(5) == "%PDF-");
  EXPECT_EQ(pdfPages(pdf), pages);
  // The dialog's very pages, word for word.
  const QString text = pdfText(pdf);
  EXPECT_TRUE(text.contains(QStringLiteral(u"Отчёт о выбросах за 07.12.2026 – 08.12.2026"))) << text.left(300).toStdString();
  EXPECT_EQ(text, pdfText(dialogPdf));
}

TEST(ReportPdfCommand, InputThatIsNoReportTableWritesNoFile) {
  ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
  QTemporaryDir dir;
  const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
  const QStringList args{QStringLiteral("--report-pdf"), QStringLiteral("--out"), pdf};
  for (const QByteArray& input : {QByteArray(), QByteArray("{\"headers\": 5}"), QByteArray("\x89PNG garbage", 11)}) {
    const Ran r = run(QStringLiteral(KORVEX_PROGRAM_PATH), args, input);
    EXPECT_EQ(r.exitCode, 2) << input.toStdString();
    EXPECT_TRUE(QString::fromUtf8(r.err).contains(QStringLiteral(u"Отчёт не прочитан"))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(pdf));
  }
  // Without --out, or with anything else on the command line: its usage.
  EXPECT_EQ(run(QStringLiteral(KORVEX_PROGRAM_PATH), {QStringLiteral("--report-pdf")}, reportTableToJson(twoDays())).exitCode, 2);
  EXPECT_EQ(run(QStringLiteral(KORVEX_PROGRAM_PATH), args + QStringList{QStringLiteral("--dir")}, reportTableToJson(twoDays())).exitCode, 2);
  EXPECT_FALSE(QFile::exists(pdf));
}

}  // namespace
