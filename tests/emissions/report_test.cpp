// The report of a generated week (with the spring-forward day) exported to
// CSV in several locales, read back and compared with the computed averages.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include "emissions/report_csv.h"
#include "emissions/report_model.h"
#include "emissions_support.h"
#include "support/test_files.h"

namespace {

using namespace emissions_test;

constexpr int kPeriod = 60;
const QDate kMonday(2025, 3, 24);
const QDate kSunday(2025, 3, 30);  // 23 hours in Berlin

QVector<Result> generatedWeek(const QTimeZone& zone) {
  QVector<Result> r;
  auto local = [&](int day, int h, int m) { return at(kMonday.addDays(day), QTime(h, m), zone); };
  unsigned seed = 2025;
  for (qint64 t = local(0, 0, 0); t < at(kSunday.addDays(1), QTime(0, 0), zone);
       t += kPeriod * 1000) {
    seed = seed * 1664525u + 1013904223u;
    const double n = (seed >> 8) % 1000 / 1000.0;
    if (t >= local(1, 10, 0) && t < local(1, 12, 0)) continue;  // Tuesday: link lost
    if (t >= local(5, 0, 0) && t < local(5, 4, 0)) continue;    // Saturday: too long a gap
    Gas g{5 + 3 * n, 40 + 60 * n, 50 + 30 * n, 2 + 3 * n, 10 + 20 * n, 3 * n};
    if (t >= local(2, 14, 0) && t < local(2, 14, 40)) g.o2 = 20.5;         // Wednesday: air
    if (t >= local(3, 8, 0) && t < local(3, 8, 30)) g.co = 300;            // Thursday: CO peak
    if (t >= local(4, 9, 0) && t < local(4, 9, 20)) g.co = kCodeOverload;  // Friday
    r.append(result(t, zone, g));
  }
  return r;
}

struct Fixture {
  QTimeZone zone = berlin();
  AveragingConfig cfg = config(zone, 30, kPeriod);
  AlarmLimits limits;
  QVector<Result> results = generatedWeek(zone);
  Fixture() {
    limits[Component::CO] = {200, 115};
    limits[Component::NOx].interval = 250;
  }
};

// The computed averages in report order: each day's intervals, then the day.
struct Expected {
  bool day;
  qint64 startUtcMs;
  int startOffset;
  int count;
  ComponentAverages components;
};

QVector<Expected> expectedRows(const QVector<DailyAverage>& days) {
  QVector<Expected> out;
  for (const DailyAverage& d : days) {
    for (const IntervalAverage& a : d.intervals)
      out.append({false, a.startUtcMs, a.startOffset, a.resultCount, a.components});
    out.append({true, d.startUtcMs, d.intervals.first().startOffset, int(d.intervals.size()),
                d.components});
  }
  return out;
}

TEST(EmissionReportCsv, AWeekExportedAndReadBackMatchesTheComputedAverages) {
  const Fixture f;
  const QVector<DailyAverage> days = computeDays(f.results, f.cfg, kMonday, kSunday);
  const EmissionReport report = EmissionReport::build(f.results, f.cfg, f.limits, kMonday, kSunday);
  const QVector<Expected> expected = expectedRows(days);
  ASSERT_EQ(expected.size(), 6 * 49 + 47);

  // The week holds what the comparison has to cover.
  ASSERT_EQ(days.size(), 7);
  EXPECT_FALSE(days[1].intervals[20][Component::CO].valid);  // Tuesday 10:00, link lost
  EXPECT_TRUE(days[1][Component::CO].valid);
  EXPECT_FALSE(days[2].intervals[28][Component::NOx].valid);  // Wednesday 14:00, air
  EXPECT_FALSE(days[4].intervals[18][Component::CO].valid);   // Friday 09:00, overload
  EXPECT_TRUE(days[4].intervals[18][Component::NOx].valid);
  EXPECT_FALSE(days[5][Component::CO].valid);  // Saturday: 8 half hours lost
  EXPECT_EQ(days[6].intervals.size(), 46);     // Sunday: 23 hours
  const int thursdayPeak = 3 * 49 + 16;

  const struct {
    const char* name;
    CsvFormat format;
    const char* numberPattern;
  } formats[] = {
      {"German", CsvFormat::forLocale(QLocale(QLocale::German, QLocale::Germany)), "^\\d+,\\d\\d$"},
      {"US English", CsvFormat::forLocale(QLocale(QLocale::English, QLocale::UnitedStates)),
       "^\\d+\\.\\d\\d$"},
      {"Russian, tab", CsvFormat::withSeparator(QLatin1Char('\t'), QLocale(QLocale::Russian)),
       "^\\d+,\\d\\d$"},
  };
  for (const auto& fmt : formats) {
    SCOPED_TRACE(fmt.name);
    const QByteArray csv = reportCsv(report, fmt.format);
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    const QVector<QStringList> rows = parseCsv(csv, fmt.format.separator);
    ASSERT_EQ(rows.size(), expected.size() + 1);
    EXPECT_EQ(rows[0], reportHeader());
    const QRegularExpression number(QString::fromLatin1(fmt.numberPattern));

    for (int i = 0; i < expected.size(); ++i) {
      const Expected& e = expected[i];
      const QStringList& row = rows[i + 1];
      ASSERT_EQ(row.size(), report_column::kCount) << i;
      EXPECT_EQ(row[report_column::Kind],
                e.day ? QStringLiteral("day") : QStringLiteral("interval"));
      const QDateTime start = QDateTime::fromString(row[report_column::Start], Qt::ISODate);
      EXPECT_EQ(start.toMSecsSinceEpoch(), e.startUtcMs) << i;
      EXPECT_EQ(start.offsetFromUtc(), e.startOffset) << i;
      EXPECT_EQ(row[report_column::Count].toInt(), e.count) << i;
      for (Component c : kComponents) {
        const ComponentAverage& a = e.components[size_t(index(c))];
        const QString& mean = row[report_column::of(c, report_column::Mean)];
        if (a.count == 0) {
          EXPECT_TRUE(mean.isEmpty()) << i;
        } else {
          EXPECT_TRUE(number.match(mean).hasMatch()) << mean.toStdString();
          const auto v = parseCsvNumber(mean, fmt.format.decimalPoint);
          ASSERT_TRUE(v.has_value()) << mean.toStdString();
          EXPECT_NEAR(*v, a.mean, 0.005) << i << componentName(c);
        }
        EXPECT_EQ(row[report_column::of(c, report_column::ComponentCount)].toInt(), a.count);
        EXPECT_EQ(row[report_column::of(c, report_column::Valid)],
                  a.valid ? QStringLiteral("valid") : QStringLiteral("invalid"));
      }
    }
    EXPECT_EQ(rows[thursdayPeak + 1][report_column::of(Component::CO, report_column::Exceeded)],
              QStringLiteral("alarm"));
  }

  // The file holds the same bytes.
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("week.csv"));
  const CsvFormat german = formats[0].format;
  ASSERT_TRUE(writeReportCsv(path, report, german));
  EXPECT_EQ(test_files::readAll(path), reportCsv(report, german));
}

TEST(EmissionReportCsv, ExceedancesAndTheTableModelFollowTheRows) {
  const Fixture f;
  const EmissionReport report = EmissionReport::build(f.results, f.cfg, f.limits, kMonday, kSunday);
  const ReportRow& peak = report.rows()[3 * 49 + 16];
  ASSERT_EQ(peak.exceedances[size_t(index(Component::CO))], Exceedance::Alarm);

  // CO interval means lie near 115 but the peak's (456); day means 108..118,
  // Thursday's with the peak above 115. Saturday is above the daily
  // pre-alarm too but invalid, so it is not judged.
  QVector<QDate> dayAlarms, dayPreAlarms;
  int intervalAlarms = 0;
  for (const ExceedanceRecord& e : report.exceedances()) {
    EXPECT_EQ(e.component, Component::CO);
    EXPECT_GT(e.value, e.threshold);
    const QDate date = QDateTime::fromMSecsSinceEpoch(e.startUtcMs, f.zone).date();
    if (e.period == AveragePeriod::Interval) {
      ++intervalAlarms;
      EXPECT_EQ(e.level, Exceedance::Alarm);
      EXPECT_EQ(e.startUtcMs, peak.startUtcMs);
      EXPECT_DOUBLE_EQ(e.threshold, 200);
    } else if (e.level == Exceedance::Alarm) {
      dayAlarms << date;
      EXPECT_DOUBLE_EQ(e.threshold, 115);
    } else {
      dayPreAlarms << date;
      EXPECT_DOUBLE_EQ(e.threshold, 92);
    }
  }
  EXPECT_EQ(intervalAlarms, 1);
  EXPECT_EQ(dayAlarms, QVector<QDate>{kMonday.addDays(3)});
  EXPECT_EQ(dayPreAlarms, QVector<QDate>({kMonday, kMonday.addDays(1), kMonday.addDays(2),
                                          kMonday.addDays(4), kSunday}));

  EmissionReportModel model;
  const CsvFormat german = CsvFormat::forLocale(QLocale(QLocale::German, QLocale::Germany));
  model.setFormat(german);
  model.setReport(report);
  ASSERT_EQ(model.rowCount(), report.rows().size());
  ASSERT_EQ(model.columnCount(), report_column::kCount);
  EXPECT_EQ(model.headerData(report_column::of(Component::SO2, report_column::Mean), Qt::Horizontal)
                .toString(),
            QStringLiteral(u"SO2 mg/m³"));
  const int r = 3 * 49 + 16;
  const QStringList fields = reportRowFields(peak, german);
  for (int c = 0; c < report_column::kCount; ++c)
    EXPECT_EQ(model.data(model.index(r, c)).toString(), fields[c]) << c;
  EXPECT_EQ(model.data(model.index(r, report_column::Start), Qt::UserRole).toDateTime(),
            QDateTime::fromMSecsSinceEpoch(peak.startUtcMs, QTimeZone(peak.startOffset)));
  EXPECT_DOUBLE_EQ(
      model
          .data(model.index(r, report_column::of(Component::CO, report_column::Mean)), Qt::UserRole)
          .toDouble(),
      peak.components[size_t(index(Component::CO))].mean);
}

TEST(EmissionReportCsv, SeparatorAndDecimalSignAreChosenTogether) {
  const QLocale german(QLocale::German, QLocale::Germany);
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  auto pair = [](const CsvFormat& f) { return QString(f.separator) + QString(f.decimalPoint); };
  EXPECT_EQ(pair(CsvFormat::forLocale(german)), QStringLiteral(";,"));
  EXPECT_EQ(pair(CsvFormat::forLocale(english)), QStringLiteral(",."));
  EXPECT_EQ(pair(CsvFormat::withSeparator(QLatin1Char(','), german)), QStringLiteral(",."));
  EXPECT_EQ(pair(CsvFormat::withSeparator(QLatin1Char(';'), english)), QStringLiteral(";."));
  EXPECT_TRUE(CsvFormat::withSeparator(QLatin1Char('\t'), german).isValid());
  EXPECT_FALSE(CsvFormat::withSeparator(QLatin1Char('-'), german).isValid());
  EXPECT_FALSE(CsvFormat::withSeparator(QLatin1Char(':'), german).isValid());

  CsvFormat f = CsvFormat::forLocale(german);
  EXPECT_EQ(csvNumber(-0.001, f), QStringLiteral("0,00"));
  EXPECT_EQ(csvNumber(1234.567, f), QStringLiteral("1234,57"));  // no group separator
  EXPECT_EQ(isoWithOffset(0, 0), QStringLiteral("1970-01-01T00:00:00+00:00"));
  EXPECT_EQ(isoWithOffset(0, -(3 * 3600 + 30 * 60)), QStringLiteral("1969-12-31T20:30:00-03:30"));

  const QVector<QStringList> rows =
      parseCsv("a;\"b;c\";\"say \"\"hi\"\"\"\r\n\"two\nlines\";;\n", QLatin1Char(';'));
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0], QStringList({"a", "b;c", "say \"hi\""}));
  EXPECT_EQ(rows[1], QStringList({"two\nlines", "", ""}));
}

}  // namespace
