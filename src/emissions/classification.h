#pragma once
// Classification of the validated averages, as continuous monitoring
// reports count them: per component the short-term averages in 20 classes
// of 5 % of the short-term limit each and the daily averages in 20 classes
// of the daily limit, plus those over the limit; the values left out by
// reason, the availability, the invalid days against the year's allowance,
// and the weeks with values beyond the valid calibration range.

#include <QVector>
#include <array>

#include "emissions/alarms.h"
#include "emissions/averaging.h"
#include "emissions/calibration.h"

namespace emissions {

inline constexpr int kClassCount = 20;  // 5 % of the limit each

// The class of `value` against `limit`: 0 for 0..<5 %, ..., 19 for 95..100 %
// (the limit itself included), kClassCount above the limit.
int classOf(double value, double limit);

struct Classification {
  std::array<int, kClassCount> classes{};
  int overLimit = 0;
  int classified() const;  // valid averages counted in the classes and over the limit
  void add(double value, double limit);
};

struct ComponentSummary {
  std::optional<double> shortTermLimit, dailyLimit;
  Classification shortTerm;  // empty without a short-term limit
  Classification daily;      // empty without a daily limit
  // Short-term averages: all of them, the valid ones, those the plant did not operate for.
  int shortTermAverages = 0, shortTermValid = 0, shortTermNotOperating = 0;
  // Days: valid, invalid through malfunction or maintenance, the plant not operating.
  int daysValid = 0, daysInvalid = 0, daysNotOperating = 0;
  int maxInvalidDays = 0;  // the profile's allowance a year; 0: not counted
  // Results: counted, of them substitutes and beyond the calibrated range, and those left out by reason.
  qint64 resultsCounted = 0, substitutes = 0, outOfRange = 0;
  std::array<qint64, kInvalidReasonCount> invalidResults{};
  double dailyMean = 0, dailyMax = 0;  // of the valid days' validated averages
  QVector<RangeWeek> weeks;            // values and those beyond the calibrated range, a week at a time
  CalibrationCheck calibration;

  // Valid short-term averages of those the plant operated for, per cent; 0 with none.
  double availability() const;
};
using ComponentSummaries = std::array<ComponentSummary, kComponentCount>;

// The summary of `days` (with their intervals). The weeks are judged from
// each component's QAL2 date on.
ComponentSummaries summarize(const QVector<DailyAverage>& days, const AlarmLimits& limits,
                             const ValidationConfig& validation);

}  // namespace emissions
