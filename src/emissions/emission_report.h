#pragma once
// The emission report of a day or a range of days: rows of interval averages
// with their validity, each day's average after its intervals, and the
// exceedances. Plain data; a table model and a CSV writer present it.

#include <QDate>
#include <QStringList>
#include <QVector>
#include <array>

#include "emissions/alarms.h"
#include "emissions/averaging.h"

namespace emissions {

struct ReportRow {
  enum class Kind : uint8_t { Interval, Day };
  Kind kind = Kind::Interval;
  QDate date;  // the local day the row belongs to
  qint64 startUtcMs = 0;
  qint64 endUtcMs = 0;
  int startOffset = 0;
  int endOffset = 0;
  int count = 0;                   // interval: results present; day: its intervals
  ComponentAverages components{};  // count: valid results / valid intervals
  std::array<Exceedance, kComponentCount> exceedances{};
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

  const QVector<DailyAverage>& days() const { return days_; }
  const QVector<ReportRow>& rows() const { return rows_; }  // a day's intervals, then the day
  const QVector<ExceedanceRecord>& exceedances() const { return exceedances_; }
  const AlarmLimits& limits() const { return limits_; }

 private:
  QVector<DailyAverage> days_;
  QVector<ReportRow> rows_;
  QVector<ExceedanceRecord> exceedances_;
  AlarmLimits limits_;
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
QString kindText(ReportRow::Kind k);   // "interval", "day"
QString validText(bool valid);         // "valid", "invalid"
QString exceedanceText(Exceedance e);  // "", "pre-alarm", "alarm"
// 2025-03-30T03:00:00+02:00: the local time with its offset.
QString isoWithOffset(qint64 utcMs, int offsetSeconds);

}  // namespace emissions
