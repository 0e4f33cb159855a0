#pragma once
// Interval and daily averages of the emission values.
//
// Intervals are cut on the UTC clock (start = a multiple of the length since
// 1970-01-01 UTC), so a day whose local clock jumps still has whole intervals,
// and carry the local offset at their ends for labels. A result at exactly an
// interval's end opens the next one. Days are local calendar days of the
// given zone: an interval belongs to the day on which it starts, local time.

#include <QDate>
#include <QDateTime>
#include <QTimeZone>
#include <QVector>
#include <QtGlobal>
#include <array>
#include <vector>

#include "core/result.h"
#include "emissions/conversion.h"
#include "emissions/validation.h"

namespace emissions {

inline constexpr int kDefaultIntervalMinutes = 30;
bool isAllowedIntervalMinutes(int minutes);  // 10, 15, 30, 60

struct AveragingConfig {
  int intervalMinutes = kDefaultIntervalMinutes;
  // Seconds between results (the refresh period in continuous measurement);
  // an interval expects intervalMinutes * 60 / resultPeriodSeconds results.
  int resultPeriodSeconds = 1;
  // The plant's local zone: day boundaries and labels. Never the machine's
  // zone implicitly; the caller passes QTimeZone::systemTimeZone() if wanted.
  QTimeZone zone = QTimeZone::utc();
  // Reference O2 in per cent per fuel row, indexed by Result::fuelIndex.
  std::vector<double> o2RefByFuel;
  // The regulation profile, calibration, gas and plant rule; by default no
  // regulation: every result with a value counts, as it always did.
  ValidationConfig validation;

  qint64 intervalMs() const;
  // Out-of-range values replaced by defaults (30 minutes, 1 s, UTC); a
  // regulation profile's short-term length replaces the interval length.
  AveragingConfig sanitized() const;
};

// Why an average is valid or not. The numbers are stored: never renumber.
enum class ValidityReason : uint8_t {
  Unknown = 0,         // stored before reasons were kept
  Enough = 1,          // interval: two thirds of the expected results counted; day: invalid ones within the allowed number
  TooFew = 2,          // interval: fewer than two thirds, through faults, maintenance, tests or a lost link
  NotOperating = 3,    // the plant did not operate for more than a third of the interval / all day
  TooManyInvalid = 4,  // day: more short-term averages invalid through malfunction or maintenance than allowed
  NoValidAverage = 5,  // day: none of its short-term averages is valid
};

struct ComponentAverage {
  // The value judged against the limits: under a regulation profile the
  // validated one (measured less the confidence interval, not below 0),
  // otherwise the measured mean. Meaningful when count > 0.
  double mean = 0;
  int count = 0;  // results (interval) or valid intervals (day) averaged
  bool valid = false;
  double measured = 0;  // the mean before the confidence interval
  double ci = 0;        // the confidence interval subtracted, mg/m3
  int expected = 0;     // interval: results expected; day: its short-term averages
  int substitutes = 0;  // of the results counted: substitute values
  int outOfRange = 0;   // ... beyond the valid calibration range
  // Interval: results not counted, by reason (LinkLost: expected but never
  // taken). Day: invalid short-term averages by their main reason.
  InvalidCounts invalid{};
  ValidityReason reason = ValidityReason::Unknown;
};
using ComponentAverages = std::array<ComponentAverage, kComponentCount>;

struct IntervalAverage {
  qint64 startUtcMs = 0;
  qint64 endUtcMs = 0;
  int startOffset = 0;  // seconds east of UTC of the local clock at the start
  int endOffset = 0;    // ... and at the end (differs across a clock change)
  int resultCount = 0;  // results present, valid or not
  ComponentAverages components{};
  // Results of it could not be read from the database (damage): no average
  // was computed, none is stored.
  bool unreadable = false;

  const ComponentAverage& operator[](Component c) const { return components[size_t(index(c))]; }
  QDateTime startLocal() const;
  QDateTime endLocal() const;
};

struct DailyAverage {
  QDate date;
  qint64 startUtcMs = 0;               // start of the day's first interval
  qint64 endUtcMs = 0;                 // end of its last
  QVector<IntervalAverage> intervals;  // all of them, in order, empty ones included
  // Per component: mean of the valid interval means; count = valid intervals.
  ComponentAverages components{};
  std::array<int, kComponentCount> invalidIntervals{};
  // Of them, those the day is judged by: under a regulation profile the
  // ones invalid through malfunction or maintenance (not those the plant did
  // not operate for); otherwise all.
  std::array<int, kComponentCount> countedInvalid{};
  int allowedInvalid = 0;
  bool unreadable = false;  // an interval of it is: no day's average either

  const ComponentAverage& operator[](Component c) const { return components[size_t(index(c))]; }
};

// Whether `validCount` results make an interval valid: at least two thirds of
// the expected intervalMinutes * 60 / resultPeriodSeconds (exact, also when
// the period does not divide the interval).
bool intervalIsValid(int validCount, int intervalMinutes, int resultPeriodSeconds);

// Invalid intervals a day may have and still be valid: five of the 48 half
// hours, the same share for other lengths, rounded down (10 min: 15,
// 15 min: 10, 30 min: 5, 60 min: 2). The count comes from a 24-hour day and
// holds for the 23- and 25-hour days of clock changes too: the permit allows
// a number of lost averages per calendar day, and a short day should not
// lose a permitted miss to the clock (nor a long one gain one).
int allowedInvalidIntervals(int intervalMinutes);
// The same under the config's regulation profile: its own number of
// short-term averages (17. BImSchV 5, 13. BImSchV 3, 44. BImSchV 6).
int allowedInvalidIntervals(const AveragingConfig& config);

qint64 intervalStartFor(qint64 utcMs, qint64 intervalMs);  // floor, also before 1970
QDate localDate(qint64 utcMs, const QTimeZone& zone);
int utcOffsetAt(qint64 utcMs, const QTimeZone& zone);

// Starts of the intervals of a local calendar day, in order: 48 half hours on
// most days, 46 and 50 on the days the clock jumps forward and back.
QVector<qint64> dayIntervalStarts(QDate date, const AveragingConfig& config);

// The main reason of an interval's results not counted: the most frequent,
// ties to the first in InvalidReason's order; none when all counted.
std::optional<InvalidReason> mainReason(const ComponentAverage& a);

// Sums one interval's results.
class IntervalAccumulator {
 public:
  IntervalAccumulator(qint64 startUtcMs, qint64 intervalMs);
  // Values counted whenever present: the form before statuses.
  void add(const EmissionValues& values);
  // A result with the status it is judged by, through the validation chain
  // of `config` (sanitized).
  void add(const Result& r, ResultStatus status, const AveragingConfig& config);
  qint64 startUtcMs() const { return startUtcMs_; }
  qint64 endUtcMs() const { return endUtcMs_; }
  // The average so far; `valid` already says whether the counts suffice
  // (they only grow, so a valid running interval stays valid).
  IntervalAverage average(const AveragingConfig& config) const;

 private:
  qint64 startUtcMs_;
  qint64 endUtcMs_;
  int resultCount_ = 0;
  std::array<double, kComponentCount> sums_{};
  std::array<int, kComponentCount> counts_{};
  std::array<int, kComponentCount> substitutes_{};
  std::array<int, kComponentCount> outOfRange_{};
  std::array<InvalidCounts, kComponentCount> invalid_{};
};

// The status each result is judged by when averages are computed again:
// storedStatus(), and with the O2 plant rule "plant off" where the rule,
// replayed over `results` in time order, says so. Results before the range
// of interest should be included for the rule's minutes, so the replay
// starts in the right state.
QVector<ResultStatus> judgedStatuses(const QVector<Result>& results, const ValidationConfig& v);

// Every interval that starts in [fromUtcMs, toUtcMs) rounded out to whole
// intervals, empty ones included, from results in any order (in time order
// for the plant's O2 rule), each judged by judgedStatuses().
QVector<IntervalAverage> computeIntervals(const QVector<Result>& results,
                                          const AveragingConfig& config, qint64 fromUtcMs,
                                          qint64 toUtcMs);

// The daily average of `date` from the intervals that start on it; an
// interval of the day missing from `intervals` counts as empty and invalid.
// Under a regulation profile the day's measured mean is that of its valid
// short-term averages, the confidence interval is subtracted from it, and
// it is valid with at most the profile's number of short-term averages
// invalid through malfunction or maintenance (those the plant did not
// operate for do not count).
DailyAverage dailyAverage(QDate date, const QVector<IntervalAverage>& intervals,
                          const AveragingConfig& config);

// The average of a day still going on, as it stands at `untilUtcMs`: only
// the intervals of the day that ended by then count, those of them missing
// from `completed` as empty and invalid. Valid while the invalid ones so far
// are within the allowed number: the day can still end valid.
DailyAverage dayInProgress(QDate date, const QVector<IntervalAverage>& completed, qint64 untilUtcMs,
                           const AveragingConfig& config);

// Every local day from `first` to `last`, with its intervals.
QVector<DailyAverage> computeDays(const QVector<Result>& results, const AveragingConfig& config,
                                  QDate first, QDate last);

}  // namespace emissions
