// The reports of a month and a year under a regulation profile: the rows,
// the classification and the values left out by reason, the invalid days,
// the calibration weeks; their CSV read back; the averages a report reads
// back from the database instead of the results; and the explanation of an
// interval and a day, on screen and as CSV.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "emissions/explanation.h"
#include "emissions/report_csv.h"
#include "emissions/report_table.h"
#include "emissions/stored_averages.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

constexpr int kPeriod = 60;
const QDate kJune1(2025, 6, 1);

double noxPpmFor(double mg) { return mg / kMgPerPpmNO2; }

AveragingConfig juneConfig() {
  AveragingConfig c = config(QTimeZone::utc(), 30, kPeriod);
  ValidationConfig& v = c.validation;
  v.profile = RegulationProfile::WasteIncineration;
  v.dailyLimit = {50.0, 200.0, std::nullopt, std::nullopt};
  v.monitored = {true, true, false, false};
  v.plant = {PlantRule::Source::O2, 19, 10};
  v.calibration[size_t(index(Component::CO))] = {true, 0, 1, QDate(2025, 1, 10), QStringLiteral("MB-1/25"), 300};
  return c.sanitized();
}

AlarmLimits juneLimits() {
  AlarmLimits l;
  l[Component::CO] = {100, 50};
  l[Component::NOx] = {400, 200};
  return l;
}

// June 2025, a result a minute. CO 20 mg/m3 and NOx 150 mg/m3, but: a CO
// sensor fault on the 3rd from 10:00 to 14:00 (8 half hours), maintenance on
// the 10th from 09:00 to 10:00, the plant off all of the 15th, CO beyond its
// calibrated range for an hour each day of the week of the 16th, NOx of 300
// on the 25th.
QVector<Result> june() {
  QVector<Result> out;
  const qint64 start = at(kJune1, QTime(0, 0), QTimeZone::utc());
  for (int m = 0; m < 30 * 24 * 60; ++m) {
    const int day = m / 1440 + 1, hour = m % 1440 / 60;
    Result r = result(start + qint64(m) * 60000, QTimeZone::utc(), {3, coPpmFor(20), noxPpmFor(day == 25 ? 300 : 150)});
    if (day == 3 && hour >= 10 && hour < 14) r.faultBits = 0x0008;
    if (day == 10 && hour == 9) r.status = ResultStatus::Maintenance;
    if (day == 15) r.values[channel::O2] = 20.9;
    if (day >= 16 && day <= 22 && hour == 12) r.values[channel::CO] = 340;
    out.append(r);
  }
  return out;
}

DailyAverage dayOfJune(const QVector<DailyAverage>& days, int d) { return days.value(d - 1); }

TEST(EmissionPeriodReports, AMonthCountsItsAveragesInClassesAndItsLeftOutValuesByReason) {
  const AveragingConfig cfg = juneConfig();
  const QVector<DailyAverage> days = computeDays(june(), cfg, kJune1, periodLast(ReportPeriod::Month, kJune1));
  ASSERT_EQ(days.size(), 30);
  const EmissionReport report =
      EmissionReport::forPeriod(ReportPeriod::Month, kJune1, QDate(2025, 6, 30), days, juneLimits(), cfg.validation);
  ASSERT_EQ(report.rows().size(), 30);
  EXPECT_EQ(report.rows()[0].kind, ReportRow::Kind::Day);

  EXPECT_FALSE(dayOfJune(days, 3)[Component::CO].valid);  // 8 half hours lost to the fault
  EXPECT_EQ(dayOfJune(days, 3)[Component::CO].reason, ValidityReason::TooManyInvalid);
  EXPECT_TRUE(dayOfJune(days, 10)[Component::CO].valid);  // 2 half hours of maintenance
  EXPECT_EQ(dayOfJune(days, 15)[Component::CO].reason, ValidityReason::NotOperating);

  const ComponentSummary& co = report.summary()[size_t(index(Component::CO))];
  // A result with a fault word is counted under "fault": the 240 of the 3rd.
  EXPECT_EQ(co.invalidResults[size_t(InvalidReason::Fault)], 240);
  EXPECT_EQ(co.invalidResults[size_t(InvalidReason::Maintenance)], 60);
  EXPECT_EQ(co.invalidResults[size_t(InvalidReason::PlantOff)], 1440 - 10);
  EXPECT_EQ(co.invalidResults[size_t(InvalidReason::NoValue)], 10);  // air before the rule's ten minutes
  EXPECT_EQ(co.invalidResults[size_t(InvalidReason::LinkLost)], 0);
  EXPECT_EQ(co.shortTermAverages, 30 * 48);
  EXPECT_EQ(co.shortTermNotOperating, 48);
  EXPECT_EQ(co.shortTermValid, 30 * 48 - 48 - 8 - 2);
  EXPECT_NEAR(co.availability(), 100.0 * (29 * 48 - 10) / (29 * 48), 1e-9);
  EXPECT_EQ(co.daysValid, 28);
  EXPECT_EQ(co.daysInvalid, 1);
  EXPECT_EQ(co.daysNotOperating, 1);
  EXPECT_EQ(co.outOfRange, 7 * 60);

  // CO 20 less its confidence interval 5: 15 mg/m3, 15 % of the short-term
  // limit 100 and 30 % of the daily 50; the out-of-range hours are higher.
  EXPECT_EQ(co.shortTerm.classes[3], co.shortTermValid - 14);
  EXPECT_EQ(co.shortTerm.overLimit, 14);  // 340 ppm = 425 mg/m3
  EXPECT_EQ(co.shortTerm.classified(), co.shortTermValid);
  EXPECT_EQ(co.daily.classified(), 28);
  EXPECT_EQ(co.daily.classes[6], 28 - 7);
  // A week of 1440 values a day with 60 outside: 4.2 %, below the mark.
  ASSERT_FALSE(co.weeks.isEmpty());
  EXPECT_EQ(co.calibration.weeksOverMark, 0);
  EXPECT_FALSE(co.calibration.due());

  const ComponentSummary& nox = report.summary()[size_t(index(Component::NOx))];
  EXPECT_EQ(nox.daily.overLimit, 1);  // 300 less 40 is 260 > 200 on the 25th
  EXPECT_EQ(nox.daily.classes[11], 27);  // 110 of 200 on the other valid days
  EXPECT_NEAR(dayOfJune(days, 25)[Component::NOx].mean, 260, 1e-9);
  // The month lists that day and the short-term averages beyond the calibrated range.
  EXPECT_EQ(std::count_if(report.exceedances().begin(), report.exceedances().end(),
                          [](const ExceedanceRecord& x) { return x.period == AveragePeriod::Day; }),
            1);
  EXPECT_EQ(report.exceedances().size(), 1 + 14);
}

TEST(EmissionPeriodReports, AYearHasARowPerMonthIsDueBy31MarchAndCountsItsInvalidDays) {
  // Twelve invalid days in a year of half hours: more than the ten allowed.
  AveragingConfig cfg = config(QTimeZone::utc(), 30, 600);
  cfg.validation.profile = RegulationProfile::WasteIncineration;
  cfg.validation.dailyLimit = {50.0, 200.0, std::nullopt, std::nullopt};
  cfg = cfg.sanitized();
  const QDate first(2025, 1, 1), last(2025, 12, 31);
  QVector<Result> results;
  for (qint64 t = at(first, QTime(0, 0), cfg.zone); t < at(last.addDays(1), QTime(0, 0), cfg.zone); t += 600000) {
    const QDate d = QDateTime::fromMSecsSinceEpoch(t, QTimeZone::utc()).date();
    if (d.day() == 5 && QDateTime::fromMSecsSinceEpoch(t, QTimeZone::utc()).time().hour() < 4) continue;  // link lost
    results.append(result(t, cfg.zone, {3, coPpmFor(10 + d.month()), noxPpmFor(100)}));
  }
  const QVector<DailyAverage> days = computeDays(results, cfg, first, last);
  const EmissionReport year = EmissionReport::forPeriod(ReportPeriod::Year, first, last, days, juneLimits(), cfg.validation);
  ASSERT_EQ(year.rows().size(), 12);
  EXPECT_EQ(year.rows()[1].kind, ReportRow::Kind::Month);
  EXPECT_EQ(year.rows()[1].count, 28);
  EXPECT_EQ(year.rows()[1].figures[0].invalidDays, 1);
  EXPECT_NEAR(year.rows()[1].components[0].mean, 12 - 5, 1e-9);  // CO 12 less 5 in February
  EXPECT_EQ(year.dueBy(), QDate(2026, 3, 31));
  const ComponentSummary& co = year.summary()[0];
  EXPECT_EQ(co.daysInvalid, 12);
  EXPECT_EQ(co.maxInvalidDays, 10);
  EXPECT_EQ(co.invalidResults[size_t(InvalidReason::LinkLost)], 12 * 24);

  const ReportTable t = reportTable(year, 30, QLocale(QLocale::Russian));
  EXPECT_EQ(t.title, QStringLiteral(u"Годовой отчёт о выбросах за 2025 год"));
  EXPECT_EQ(t.rows.size(), 12);
  EXPECT_EQ(t.sections.size(), 4);
  EXPECT_TRUE(t.closing.join(QLatin1Char('\n')).contains(QStringLiteral(u"31.03.2026")));
  EXPECT_TRUE(t.closing.join(QLatin1Char('\n')).contains(QStringLiteral(u"недостоверных суток 12")));
  for (const ReportSection& s : t.sections)
    for (const ReportTableRow& r : s.rows) EXPECT_EQ(r.cells.size(), s.headers.size()) << s.heading.toStdString();

  // The CSV: the rows, then the summary.
  const CsvFormat german = CsvFormat::forLocale(QLocale(QLocale::German, QLocale::Germany));
  const QVector<QStringList> rows = parseCsv(reportCsv(year, german), german.separator);
  EXPECT_EQ(rows[0], validatedHeader());
  ASSERT_GT(rows.size(), 14);
  EXPECT_EQ(rows[2][validated_column::Kind], QStringLiteral("month"));
  EXPECT_EQ(rows[2][validated_column::of(Component::CO, validated_column::InvalidDays)], QStringLiteral("1"));
  EXPECT_EQ(rows[2][validated_column::of(Component::CO, validated_column::Validated)], QStringLiteral("7,00"));
  EXPECT_EQ(rows[13], QStringList{QString()});
  QHash<QString, QStringList> summary;
  for (int i = 14; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i][0], QStringLiteral("summary"));
    summary.insert(rows[i][1] + QLatin1Char('/') + rows[i][2], rows[i].mid(3));
  }
  EXPECT_EQ(summary.value(QStringLiteral("figures/days invalid")).value(0), QStringLiteral("12"));
  EXPECT_EQ(summary.value(QStringLiteral("left out/link-lost")).value(0), QStringLiteral("288"));
  // CO less 5 is 12 and 14 % of the daily limit in January and February.
  EXPECT_EQ(summary.value(QStringLiteral("daily classes/10-15 %")).value(0), QStringLiteral("57"));
  EXPECT_EQ(summary.value(QStringLiteral("report/due by")).value(0), QStringLiteral("2026-03-31"));
  EXPECT_EQ(summary.value(QStringLiteral("short-term classes/0-5 %")).value(2), QString());  // SO2 has no limit
}

TEST(EmissionPeriodReports, ClassesAreFivePerCentOfTheLimitWithTheLimitItselfInTheTopOne) {
  EXPECT_EQ(classOf(0, 200), 0);
  EXPECT_EQ(classOf(9.99, 200), 0);
  EXPECT_EQ(classOf(10, 200), 1);
  EXPECT_EQ(classOf(199.9, 200), 19);
  EXPECT_EQ(classOf(200, 200), 19);
  EXPECT_EQ(classOf(200.01, 200), kClassCount);
}

TEST(EmissionPeriodReports, AReportReadsBackTheAveragesItStoredUntilTheSettingsChange) {
  QTemporaryDir dir;
  ResultStore::setDurableForTesting(false);
  ResultStore store;
  ASSERT_EQ(store.open(dir.filePath(QStringLiteral("korvex.db")), 0).status, ResultStore::OpenStatus::Opened);
  const QVector<Result> results = june();
  ASSERT_EQ(store.appendBatch(std::vector<Result>(results.begin(), results.begin() + 10 * 1440)).state,
            ResultStore::AppendState::Committed);
  const AveragingConfig cfg = juneConfig();
  const QDate last(2025, 6, 10);
  const qint64 now = at(QDate(2025, 7, 1), QTime(0, 0), cfg.zone);

  DaysSource source;
  const QVector<DailyAverage> computed = storedOrComputedDays(store, kJune1, last, cfg, juneLimits(), now, &source);
  EXPECT_EQ(source.computed, 10);
  EXPECT_EQ(source.fromStore, 0);
  const QVector<DailyAverage> again = storedOrComputedDays(store, kJune1, last, cfg, juneLimits(), now, &source);
  EXPECT_EQ(source.fromStore, 10);
  EXPECT_EQ(source.computed, 0);
  ASSERT_EQ(again.size(), 10);
  for (int d = 0; d < 10; ++d) {
    for (Component c : kComponents) {
      EXPECT_EQ(again[d][c].mean, computed[d][c].mean) << d;
      EXPECT_EQ(again[d][c].valid, computed[d][c].valid) << d;
      EXPECT_EQ(again[d][c].invalid, computed[d][c].invalid) << d;
      EXPECT_EQ(again[d].intervals[20][c].outOfRange, computed[d].intervals[20][c].outOfRange) << d;
    }
  }
  // Stored under the profile, beside any of no profile.
  EXPECT_EQ(store.averages(AveragePeriodKind::Interval, 30, 0, now, int(RegulationProfile::WasteIncineration)).size(),
            10 * 48);
  EXPECT_TRUE(store.averages(AveragePeriodKind::Interval, 30, 0, now).isEmpty());

  AlarmLimits tighter = juneLimits();
  tighter[Component::NOx].daily = 100;  // another confidence interval
  storedOrComputedDays(store, kJune1, last, cfg, tighter, now, &source);
  EXPECT_EQ(source.computed, 10);
  ResultStore::setDurableForTesting(true);
}

TEST(AverageExplanations, AnIntervalListsItsResultsStepByStepAndGivesTheReportedValue) {
  const AveragingConfig cfg = juneConfig();
  const QVector<Result> results = june();
  // 3 June 10:00: the CO sensor fault, every result left out.
  const qint64 faulty = at(QDate(2025, 6, 3), QTime(10, 0), cfg.zone);
  QVector<AverageExplanation> e = explainInterval(results.mid(2 * 1440 + 590, 60), faulty, cfg);
  ASSERT_EQ(e.size(), kComponentCount);
  const AverageExplanation& co = e[index(Component::CO)];
  ASSERT_EQ(co.results.size(), 30);
  EXPECT_EQ(co.results[0].resultStatus, ResultStatus::Fault);
  EXPECT_FALSE(co.results[0].value.counted);
  EXPECT_EQ(co.results[0].value.notCounted, InvalidReason::Fault);
  EXPECT_FALSE(co.average.valid);
  EXPECT_EQ(co.average.invalid[size_t(InvalidReason::Fault)], 30);
  EXPECT_EQ(co.needed(), 20);

  // 20 June 12:00: CO beyond the calibrated range, counted and flagged.
  const qint64 high = at(QDate(2025, 6, 20), QTime(12, 0), cfg.zone);
  e = explainInterval(results.mid(19 * 1440 + 700, 60), high, cfg);
  const AverageExplanation& high1 = e[index(Component::CO)];
  EXPECT_TRUE(high1.average.valid);
  EXPECT_EQ(high1.average.outOfRange, 30);
  EXPECT_EQ(high1.results[5].value.status, ResultStatus::OutOfRange);
  EXPECT_DOUBLE_EQ(*high1.results[5].value.raw, 340);
  EXPECT_DOUBLE_EQ(*high1.results[5].value.atReference, 340 * kMgPerPpmCO);
  EXPECT_NEAR(high1.average.mean, 340 * kMgPerPpmCO - 5, 1e-9);
  // The same figure the day's computation gives that interval.
  const DailyAverage day20 = computeDays(results, cfg, QDate(2025, 6, 20), QDate(2025, 6, 20)).value(0);
  EXPECT_EQ(high1.average.mean, day20.intervals[24][Component::CO].mean);

  const QLocale ru(QLocale::Russian);
  const QStringList nox = explanationLines(e[index(Component::NOx)], ru);
  EXPECT_TRUE(nox.join(QLatin1Char('\n')).contains(QStringLiteral(u"20 % суточного норматива 200,0 мг/м³ = 40,00 мг/м³")))
      << nox.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(nox.join(QLatin1Char('\n')).contains(QStringLiteral(u"max(0; 150,00 − 40,00) = 110,00 мг/м³")));
  EXPECT_EQ(explanationTitle(e[index(Component::NOx)]), QStringLiteral(u"Среднее за интервал 20.06.2025 12:00–12:30, NOx"));

  // As CSV: the results side by side, then the summary.
  const CsvFormat german = CsvFormat::forLocale(QLocale(QLocale::German, QLocale::Germany));
  const QVector<QStringList> rows = parseCsv(explanationCsv(e, german), german.separator);
  ASSERT_GT(rows.size(), 32);
  EXPECT_EQ(rows[0][4], QStringLiteral("CO ppm"));
  EXPECT_EQ(rows[6][4], QStringLiteral("340,00"));
  EXPECT_EQ(rows[6][9], QStringLiteral(u"ВД"));
  EXPECT_EQ(rows[6][10], QStringLiteral("yes"));
  EXPECT_EQ(rows[31], QStringList{QString()});
  bool validated = false;
  for (const QStringList& r : rows) {
    if (r.value(1) != QStringLiteral(u"validated mg/m³")) continue;
    validated = true;
    EXPECT_EQ(r.value(3), QStringLiteral("110,00"));  // NOx
  }
  EXPECT_TRUE(validated);
}

TEST(AverageExplanations, ADayNamesItsInvalidIntervalsAgainstTheAllowance) {
  const AveragingConfig cfg = juneConfig();
  const DailyAverage day3 = computeDays(june(), cfg, QDate(2025, 6, 3), QDate(2025, 6, 3)).value(0);
  const QVector<AverageExplanation> e = explainDay(day3, cfg);
  const AverageExplanation& co = e[index(Component::CO)];
  EXPECT_EQ(co.intervals.size(), 48);
  EXPECT_EQ(co.countedInvalid, 8);
  EXPECT_EQ(co.allowedInvalid, 5);
  const QString text = explanationLines(co, QLocale(QLocale::Russian)).join(QLatin1Char('\n'));
  EXPECT_TRUE(text.contains(QStringLiteral(u"недостоверных из-за неисправности или техобслуживания 8 при допустимых 5")));
  EXPECT_TRUE(text.contains(QStringLiteral(u"Сутки недостоверны")));
  const CsvFormat plain = CsvFormat::forLocale(QLocale::c());
  const QVector<QStringList> rows = parseCsv(explanationCsv(e, plain), plain.separator);
  EXPECT_EQ(rows[21][3 + 4], QStringLiteral("too-few"));  // 10:00, CO's reason column
}

}  // namespace
