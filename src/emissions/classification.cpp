#include "emissions/classification.h"

#include <algorithm>
#include <cmath>

namespace emissions {

int classOf(double value, double limit) {
  if (value > limit) return kClassCount;
  if (!(value > 0)) return 0;
  // The limit itself belongs to the top class, not over it.
  return std::min(kClassCount - 1, int(std::floor(value * kClassCount / limit)));
}

int Classification::classified() const {
  int n = overLimit;
  for (int c : classes) n += c;
  return n;
}

void Classification::add(double value, double limit) {
  const int k = classOf(value, limit);
  if (k == kClassCount)
    ++overLimit;
  else
    ++classes[size_t(k)];
}

double ComponentSummary::availability() const {
  const int operating = shortTermAverages - shortTermNotOperating;
  return operating > 0 ? 100.0 * shortTermValid / operating : 0;
}

ComponentSummaries summarize(const QVector<DailyAverage>& days, const AlarmLimits& limits,
                             const ValidationConfig& validation) {
  ComponentSummaries out;
  for (Component c : kComponents) {
    ComponentSummary& s = out[size_t(index(c))];
    s.shortTermLimit = limits[c].interval;
    s.dailyLimit = limits[c].daily;
    s.maxInvalidDays = validation.rules().maxInvalidDaysPerYear;
    double dailySum = 0;
    for (const DailyAverage& d : days) {
      for (const IntervalAverage& iv : d.intervals) {
        const ComponentAverage& a = iv[c];
        ++s.shortTermAverages;
        if (a.valid) {
          ++s.shortTermValid;
          if (s.shortTermLimit) s.shortTerm.add(a.mean, *s.shortTermLimit);
        } else if (a.reason == ValidityReason::NotOperating) {
          ++s.shortTermNotOperating;
        }
        s.resultsCounted += a.count;
        s.substitutes += a.substitutes;
        s.outOfRange += a.outOfRange;
        for (int r = 0; r < kInvalidReasonCount; ++r) s.invalidResults[size_t(r)] += a.invalid[size_t(r)];
        // The calibration's range is judged by the analyzer's own readings, substitutes left out.
        if (a.count > a.substitutes)
          addToWeek(s.weeks, iv.startLocal().date(), a.count - a.substitutes, a.outOfRange);
      }
      const ComponentAverage& a = d[c];
      if (a.valid) {
        ++s.daysValid;
        dailySum += a.mean;
        s.dailyMax = s.daysValid == 1 ? a.mean : std::max(s.dailyMax, a.mean);
        if (s.dailyLimit) s.daily.add(a.mean, *s.dailyLimit);
      } else if (a.reason == ValidityReason::NotOperating) {
        ++s.daysNotOperating;
      } else {
        ++s.daysInvalid;
      }
    }
    s.dailyMean = s.daysValid > 0 ? dailySum / s.daysValid : 0;
    const Qal2Calibration& cal = validation.calibration[size_t(index(c))];
    s.calibration = checkCalibration(s.weeks, cal.set ? cal.date : QDate());
  }
  return out;
}

}  // namespace emissions
