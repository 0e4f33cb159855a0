#pragma once
// The emission report of a day or a range of days: rows of interval averages
// with their validity, each day's average after its intervals, and the
// exceedances. Plain data; a table model and a CSV writer present it.
//
// A month's report has a row per day, a year's a row per month; each report
// made for a period also summarizes it per component (classification, values
// left out by reason, availability, invalid days, calibration weeks). The
// year's report is due by 31 March of the year after.

#include <QDate>
#include <QStringList>
#include <QVector>
#include <array>

#include "emissions/alarms.h"
#include "emissions/averaging.h"
#include "emissions/classification.h"

namespace emissions {

enum class ReportPeriod : uint8_t {
  Days,   // a day or a range of days: every short-term average and each day
  Month,  // a calendar month: a row per day
  Year,   // a calendar year: a row per month
};

// The first and last day of the period that holds `date` (Days: the day itself).
QDate periodFirst(ReportPeriod period, QDate date);
QDate periodLast(ReportPeriod period, QDate date);

// A month row's figures per component, besides its averages.
struct PeriodFigures {
  double max = 0;            // the highest valid daily average
  int invalidDays = 0;       // invalid through malfunction or maintenance
  int notOperatingDays = 0;  // the plant did not operate
};

struct ReportRow {
  enum class Kind : uint8_t { Interval, Day, Month };
  Kind kind = Kind::Interval;
  QDate date;  // the local day the row belongs to
  qint64 startUtcMs = 0;
  qint64 endUtcMs = 0;
  int startOffset = 0;
  int endOffset = 0;
  int count = 0;                   // interval: results present; day: its intervals; month: its days
  ComponentAverages components{};  // count: valid results / valid intervals / valid days
  std::array<Exceedance, kComponentCount> exceedances{};
  std::array<PeriodFigures, kComponentCount> figures{};  // month rows
};

struct ExceedanceRecord {
  Component component = Component::CO;
  AveragePeriod period = AveragePeriod::Interval;
  Exceedance level = Exceedance::None;
  qint64 startUtcMs = 0;
  qint64 endUtcMs = 0;
  int startOffset = 0;
  int endOffset = 0;
  double value = 0;
  double threshold = 0;
};

class EmissionReport {
 public:
  EmissionReport() = default;
  // Recomputes the averages of the local days first..last from the results.
  static EmissionReport build(const QVector<Result>& results, const AveragingConfig& config,
                              const AlarmLimits& limits, QDate first, QDate last);
  static EmissionReport fromDays(const QVector<DailyAverage>& days, const AlarmLimits& limits);
  // The report of a period from its days (as computed under `validation`),
  // with the summary; Days as fromDays() with the summary.
  static EmissionReport forPeriod(ReportPeriod period, QDate first, QDate last, const QVector<DailyAverage>& days,
                                  const AlarmLimits& limits, const ValidationConfig& validation);

  ReportPeriod period() const { return period_; }
  QDate first() const { return first_; }
  QDate last() const { return last_; }
  RegulationProfile profile() const { return validation_.profile; }
  const ValidationConfig& validation() const { return validation_; }
  // Made for a period: the summary is there.
  bool summarized() const { return summarized_; }
  const ComponentSummaries& summary() const { return summary_; }
  // Year: the day the report is due with the authority, 31 March of the year after.
  QDate dueBy() const;

  const QVector<DailyAverage>& days() const { return days_; }
  const QVector<ReportRow>& rows() const { return rows_; }  // a day's intervals, then the day
  const QVector<ExceedanceRecord>& exceedances() const { return exceedances_; }
  const AlarmLimits& limits() const { return limits_; }
  // The audit trail and the seals of the report's days as found when it was
  // made, for its foot (empty: not checked).
  const QString& trailNote() const { return trailNote_; }
  void setTrailNote(const QString& note) { trailNote_ = note; }

 private:
  void addExceedances(const ReportRow& row);

  QVector<DailyAverage> days_;
  QVector<ReportRow> rows_;
  QVector<ExceedanceRecord> exceedances_;
  AlarmLimits limits_;
  ReportPeriod period_ = ReportPeriod::Days;
  QDate first_, last_;
  ValidationConfig validation_;
  bool summarized_ = false;
  ComponentSummaries summary_{};
  QString trailNote_;
};

// Columns shared by the table model and the CSV file.
namespace report_column {
enum : int { Kind, Start, End, Count, FirstComponent };
inline constexpr int kPerComponent = 4;  // mean, count, validity, exceedance
enum : int { Mean, ComponentCount, Valid, Exceeded };
inline constexpr int kCount = FirstComponent + kComponentCount * kPerComponent;
inline int of(Component c, int what) { return FirstComponent + index(c) * kPerComponent + what; }
}  // namespace report_column

QStringList reportHeader();
QString kindText(ReportRow::Kind k);   // "interval", "day", "month"
QString validText(bool valid);         // "valid", "invalid"
QString exceedanceText(Exceedance e);  // "", "pre-alarm", "alarm"
// 2025-03-30T03:00:00+02:00: the local time with its offset.
QString isoWithOffset(qint64 utcMs, int offsetSeconds);

}  // namespace emissions
