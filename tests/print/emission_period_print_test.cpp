// The month's and the year's emission report printed for real into PDF
// files that poppler reads back: as many pages as the layout counted, every
// page numbered "of" the same total, the table's headings again on every
// page, and the summary's tables after it.

#include <gtest/gtest.h>

#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "emissions/report_table.h"
#include "print/emission_report_print.h"

namespace {

using namespace emissions;

QString run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(120000) || p.exitCode() != 0) {
    ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
    return {};
  }
  return QString::fromUtf8(p.readAllStandardOutput());
}

// A month of half hours under 17. BImSchV: CO 20 and NOx 150 mg/m3 with a
// fault on the 3rd and a NOx day over its limit on the 25th.
EmissionReport month(ReportPeriod period, QDate first, QDate last) {
  AveragingConfig c;
  c.zone = QTimeZone::utc();
  c.resultPeriodSeconds = 300;
  c.o2RefByFuel = {3};
  c.validation.profile = RegulationProfile::WasteIncineration;
  c.validation.dailyLimit = {50.0, 200.0, std::nullopt, std::nullopt};
  c.validation.calibration[0] = {true, 2, 1.05, QDate(2025, 1, 10), QStringLiteral("MB-1/25"), 300};
  c = c.sanitized();
  AlarmLimits limits;
  limits[Component::CO] = {100, 50};
  limits[Component::NOx] = {400, 200};
  QVector<Result> results;
  const qint64 start = QDateTime(first, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
  const qint64 end = QDateTime(last.addDays(1), QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
  for (qint64 t = start; t < end; t += 300000) {
    const QDate d = QDateTime::fromMSecsSinceEpoch(t, QTimeZone::utc()).date();
    const int hour = QDateTime::fromMSecsSinceEpoch(t, QTimeZone::utc()).time().hour();
    Result r;
    r.utcMs = t;
    r.mode = WorkMode::Continuous;
    r.values[channel::O2] = 3;
    r.values[channel::CO] = 16;
    r.values[channel::NO] = (d.day() == 25 ? 300 : 150) / kMgPerPpmNO2;
    if (d.day() == 3 && hour >= 10 && hour < 14) r.faultBits = 0x0008;
    results.append(r);
  }
  return EmissionReport::forPeriod(period, first, last, computeDays(results, c, first, last), limits, c.validation);
}

struct Printed {
  int pages = 0;
  int pdfPages = -1;
  QString text;
};

Printed print(const ReportTable& table, const QString& pdf) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setOutputFileName(pdf);
  Printed p;
  QString error;
  EXPECT_TRUE(printEmissionReport(printer, table, &error, &p.pages)) << error.toStdString();
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run(QStringLiteral("pdfinfo"), {pdf}));
  p.pdfPages = m.hasMatch() ? m.captured(1).toInt() : -1;
  p.text = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  return p;
}

TEST(EmissionPeriodPrint, AMonthPrintsItsDaysThenTheSummaryOnNumberedPages) {
  QTemporaryDir dir;
  const ReportTable table = reportTable(month(ReportPeriod::Month, QDate(2025, 6, 1), QDate(2025, 6, 30)), 30,
                                        QLocale(QLocale::Russian));
  ASSERT_EQ(table.rows.size(), 30);
  const Printed p = print(table, dir.filePath(QStringLiteral("month.pdf")));
  EXPECT_GE(p.pages, 3);
  EXPECT_EQ(p.pdfPages, p.pages);
  const QStringList pages = p.text.split(QChar(0x0C), Qt::SkipEmptyParts);
  ASSERT_EQ(pages.size(), p.pages);
  for (int i = 0; i < pages.size(); ++i)
    EXPECT_TRUE(pages[i].contains(QStringLiteral(u"Стр. %1 из %2").arg(i + 1).arg(p.pages))) << i;
  EXPECT_TRUE(pages[0].contains(QStringLiteral(u"Отчёт о выбросах за месяц: июнь 2025")));
  EXPECT_TRUE(pages[0].contains(QStringLiteral("17. BImSchV")));
  for (const char16_t* heading : {u"Классификация средних за интервал", u"Классификация среднесуточных значений",
                                  u"Доступность и недостоверные значения", u"Калибровка газоанализатора",
                                  u"Превышения и предупреждения"})
    EXPECT_TRUE(p.text.contains(QString::fromUtf16(heading))) << QString::fromUtf16(heading).toStdString();
  EXPECT_TRUE(p.text.contains(QStringLiteral(u"y = 2 + 1,05·x")));
  // Every page that goes on with a table starts with its headings.
  int headed = 0;
  for (const QString& page : pages) headed += page.contains(QStringLiteral(u"Класс")) || page.contains(QStringLiteral(u"Сутки")) ? 1 : 0;
  EXPECT_EQ(headed, p.pages);
}

TEST(EmissionPeriodPrint, AYearSaysWhenItIsDue) {
  QTemporaryDir dir;
  const EmissionReport year = month(ReportPeriod::Year, QDate(2025, 1, 1), QDate(2025, 12, 31));
  const ReportTable table = reportTable(year, 30, QLocale(QLocale::Russian));
  const Printed p = print(table, dir.filePath(QStringLiteral("year.pdf")));
  EXPECT_EQ(p.pdfPages, p.pages);
  EXPECT_TRUE(p.text.contains(QStringLiteral(u"Годовой отчёт о выбросах за 2025 год")));
  EXPECT_TRUE(p.text.contains(QStringLiteral(u"представляется в надзорный орган до 31.03.2026")));
  EXPECT_TRUE(p.text.contains(QStringLiteral(u"декабрь 2025")));
}

}  // namespace
