// The emission report of a generated week from the results database, made
// as the operator makes it: the report dialog, its PDF and its CSV, the CSV
// read back against the averages the database holds and against the
// averages the week was generated to have.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QHash>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>

#include <QtTest/QTest>

#include "dialogs/emission_report_dialog.h"
#include "emissions/report_csv.h"
#include "emissions/stored_averages.h"
#include "print/emission_report_print.h"
#include "support/korvex_fixture.h"

namespace {

const QDate kFirst(2026, 12, 1), kLast(2026, 12, 7);
constexpr qint64 kHalfHour = 30 * 60 * 1000;

QDateTime local(QDate d, int h, int m = 0) { return QDateTime(d, QTime(h, m)); }

// The week: a result a minute, CO in ppm set per half hour, so that each
// interval's mean is known; a high half hour on the 3rd, four hours without
// results on the 5th (the day invalid), half an interval on the 6th.
double coPpm(qint64 intervalStartUtcMs) {
  if (intervalStartUtcMs == local(kFirst.addDays(2), 10).toMSecsSinceEpoch()) return 96;  // 120 mg/m3
  return 40 + 8 * ((intervalStartUtcMs / kHalfHour) % 5);
}
bool taken(const QDateTime& t) {
  if (t.date() == kFirst.addDays(4) && t.time() >= QTime(6, 0) && t.time() < QTime(10, 0)) return false;
  if (t.date() == kFirst.addDays(5) && t.time() >= QTime(12, 15) && t.time() < QTime(12, 30)) return false;
  return true;
}

std::vector<Result> week() {
  std::vector<Result> out;
  for (QDateTime t = local(kFirst, 0); t < local(kLast.addDays(1), 0); t = t.addSecs(60)) {
    if (!taken(t)) continue;
    Result r;
    r.utcMs = t.toMSecsSinceEpoch();
    r.utcOffset = t.offsetFromUtc();
    r.mode = WorkMode::Continuous;
    r.values[channel::O2] = 3;
    r.values[channel::CO] = coPpm(r.utcMs - r.utcMs % kHalfHour);
    r.values[channel::NO] = 50;
    r.values[channel::NO2] = 5;
    r.values[channel::NOx] = 55;
    out.push_back(r);
  }
  return out;
}

QString run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(120000) || p.exitCode() != 0) {
    ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
    return {};
  }
  return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString& pdf) {
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run(QStringLiteral("pdfinfo"), {pdf}));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

class EmissionReportTest : public KorvexFixture {};

TEST_F(EmissionReportTest, AWeeksReportGoesToPdfAndCsvAndTheCsvHoldsTheDatabasesAverages) {
  {
    emissions::EmissionSettings s;
    s.limits[emissions::Component::CO].interval = 100;
    ASSERT_TRUE(emissions::saveEmissionSettings(inDir(QStringLiteral("korvex-emissions.ini")), s));
  }
  setNow(local(kLast.addDays(1), 9));
  startWithDefaults();
  ASSERT_EQ(session().store().appendBatch(week()).state, ResultStore::AppendState::Committed);
  changeMeasuring([](MeasuringSettings& m) { m.refreshPeriod = 60; });  // a result a minute: 20 make an interval valid

  const QString pdf = inDir(QStringLiteral("week.pdf")), csv = inDir(QStringLiteral("week.csv"));
  fileDialog_ = [&](const seams::FileDialogRequest& r) { return r.filter.contains(QStringLiteral("pdf")) ? pdf : csv; };
  int previewRows = 0;
  emissions::ReportTable table;
  modal_ = [&](QDialog* d) {
    find<QDateEdit>("DateFrom", d)->setDate(kFirst);
    find<QDateEdit>("DateTo", d)->setDate(kLast);
    find<QComboBox>("ComboBoxSeparator", d)->setCurrentIndex(0);  // ';'
    // Made in the background: the commands wait for it, the window does not.
    find<QPushButton>("ButtonPdf", d)->click();
    find<QPushButton>("ButtonCsv", d)->click();
    auto* dialog = qobject_cast<EmissionReportDialog*>(d);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->upToDate() && fileDialogs_.size() == 2; }, 60000));
    previewRows = find<QTableView>("ReportView", d)->model()->rowCount();
    return int(QDialog::Rejected);
  };
  window().onEmissionReportTriggered();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(previewRows, 7 * 48 + 7);
  ASSERT_EQ(fileDialogs_.size(), 2u);
  EXPECT_TRUE(fileDialogs_[0].proposedName.endsWith(QStringLiteral("emissions-2026-12-01-2026-12-07.pdf")));

  // The PDF: as many pages as the report's layout makes (several for a week).
  QFile pdfFile(pdf);
  ASSERT_TRUE(pdfFile.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdfFile.read(5) == "%PDF-");
  int pages = 0;
  {
    QPrinter again(QPrinter::HighResolution);
    again.setOutputFormat(QPrinter::PdfFormat);
    again.setPageSize(QPageSize(QPageSize::A4));
    again.setOutputFileName(inDir(QStringLiteral("again.pdf")));
    QString error;
    const emissions::EmissionReport report = emissions::EmissionReport::fromDays(
        emissions::recomputeDays(session().store(), kFirst, kLast, settings().averagingConfig()),
        settings().emissions().limits);
    ASSERT_TRUE(printEmissionReport(
        again, emissions::reportTable(report, kFirst, kLast, 30, seams::locale()), &error, &pages));
  }
  EXPECT_GT(pages, 3);
  EXPECT_EQ(pdfPages(pdf), pages);

  // The CSV against the database and against the generated means.
  QFile csvFile(csv);
  ASSERT_TRUE(csvFile.open(QIODevice::ReadOnly));
  const QVector<QStringList> rows = emissions::parseCsv(csvFile.readAll(), QLatin1Char(';'));
  // The header, the rows, and last the audit trail's state when it was made.
  ASSERT_EQ(rows.size(), 1 + 7 * 48 + 7 + 1);
  EXPECT_EQ(rows[0], emissions::reportHeader());
  ASSERT_EQ(rows.last().size(), 1);
  EXPECT_TRUE(rows.last()[0].startsWith(QStringLiteral(u"Журнал аудита цел при составлении отчёта"))) << rows.last()[0].toStdString();
  const qint64 from = local(kFirst, 0).toMSecsSinceEpoch(), to = local(kLast.addDays(1), 0).toMSecsSinceEpoch();
  QHash<qint64, StoredAverage> stored;
  for (const StoredAverage& a : session().store().averages(AveragePeriodKind::Interval, 30, from, to))
    stored.insert(a.startUtcMs, a);
  for (const StoredAverage& a : session().store().averages(AveragePeriodKind::Day, 30, from, to))
    stored.insert(-a.startUtcMs, a);  // days apart from the intervals that start with them
  ASSERT_EQ(stored.size(), 7 * 48 + 7);

  namespace col = emissions::report_column;
  const int coMean = col::of(emissions::Component::CO, col::Mean);
  const int coValid = col::of(emissions::Component::CO, col::Valid);
  const int coExceeded = col::of(emissions::Component::CO, col::Exceeded);
  int intervals = 0, invalidIntervals = 0, alarms = 0, invalidDays = 0;
  for (int i = 1; i < rows.size() - 1; ++i) {
    const QStringList& f = rows[i];
    const bool day = f[col::Kind] == QLatin1String("day");
    const qint64 start = QDateTime::fromString(f[col::Start], Qt::ISODate).toMSecsSinceEpoch();
    ASSERT_TRUE(stored.contains(day ? -start : start)) << f[col::Start].toStdString();
    const StoredAverage& a = stored[day ? -start : start];
    // An interval without results has no mean.
    const auto mean = emissions::parseCsvNumber(f[coMean], QLatin1Char(','));
    EXPECT_EQ(mean.has_value(), a.components[0].count > 0) << f[col::Start].toStdString();
    if (mean) {
      EXPECT_NEAR(*mean, a.components[0].mean, 0.005);
    }
    EXPECT_EQ(f[coValid] == QLatin1String("valid"), a.components[0].valid);
    EXPECT_EQ(f[col::Count].toInt(), a.count);
    if (day) {
      invalidDays += a.components[0].valid ? 0 : 1;
      continue;
    }
    ++intervals;
    if (mean) {
      EXPECT_NEAR(*mean, coPpm(start) * 1.25, 0.005) << f[col::Start].toStdString();
    }
    invalidIntervals += a.components[0].valid ? 0 : 1;
    if (f[coExceeded] == QLatin1String("alarm")) {
      ++alarms;
      EXPECT_EQ(start, local(kFirst.addDays(2), 10).toMSecsSinceEpoch());
    }
  }
  EXPECT_EQ(intervals, 7 * 48);
  EXPECT_EQ(invalidIntervals, 8 + 1);
  EXPECT_EQ(alarms, 1);
  EXPECT_EQ(invalidDays, 1);
}

}  // namespace
