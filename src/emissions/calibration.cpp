#include "emissions/calibration.h"

#include <algorithm>

namespace emissions {

QDate mondayOf(QDate date) { return date.isValid() ? date.addDays(1 - date.dayOfWeek()) : date; }

void addToWeek(QVector<RangeWeek>& weeks, QDate date, int values, int outside) {
  const QDate monday = mondayOf(date);
  if (!monday.isValid()) return;
  auto it = std::lower_bound(weeks.begin(), weeks.end(), monday,
                             [](const RangeWeek& w, const QDate& d) { return w.monday < d; });
  if (it == weeks.end() || it->monday != monday) it = weeks.insert(it, RangeWeek{monday, 0, 0});
  it->values += values;
  it->outside += outside;
}

CalibrationCheck checkCalibration(const QVector<RangeWeek>& weeks, QDate since) {
  CalibrationCheck c;
  const QDate from = mondayOf(since);
  for (const RangeWeek& w : weeks) {
    if (from.isValid() && w.monday < from) continue;
    const double share = w.outsidePercent();
    if (share > kWeekShareMark) ++c.weeksOverMark;
    if (share > kWeekShareStrong) {
      if (c.weeksOverStrong == 0) c.firstOverStrong = w.monday;
      ++c.weeksOverStrong;
    }
  }
  return c;
}

}  // namespace emissions
