#pragma once
// The averages and the results database: averages in the form the database
// keeps them, and the averages of past days computed again from the stored
// results, a day at a time so that a long range does not hold every result
// in memory at once.

#include <QDate>
#include <QVector>

#include "data/result_store.h"
#include "emissions/alarms.h"
#include "emissions/averaging.h"

namespace emissions {

static_assert(kStoredInvalidReasonCount == kInvalidReasonCount, "the database keeps every reason");

// `limits` judges the exceedance stored with it. Of no profile and no known
// basis: the form the averages had before they were validated.
StoredAverage toStored(const IntervalAverage& a, int intervalMinutes, const AlarmLimits& limits);
StoredAverage toStored(const DailyAverage& d, int intervalMinutes, const AlarmLimits& limits);
// With the profile and the basis of `config` and `limits`.
StoredAverage toStored(const IntervalAverage& a, const AveragingConfig& config, const AlarmLimits& limits);
StoredAverage toStored(const DailyAverage& d, const AveragingConfig& config, const AlarmLimits& limits);
// An interval average back from its stored form.
IntervalAverage intervalFromStored(const StoredAverage& s);

// A fingerprint of everything the averages of `config` and `limits` depend
// on (interval, result period, zone, reference O2, profile, calibration, gas,
// plant rule, confidence intervals, limits); never 0.
qint64 averagingBasis(const AveragingConfig& config, const AlarmLimits& limits);

// The local day `date` with its intervals, from the results the store holds
// for its intervals (and, for the plant's O2 rule, the minutes before).
// Intervals the store could not read all of are marked unreadable and have
// no average, nor has the day then.
DailyAverage recomputeDay(const ResultStore& store, QDate date, const AveragingConfig& config);
// `day` with the intervals that meet an unreadable span marked so.
DailyAverage withUnreadable(DailyAverage day, const QVector<UnreadableSpan>& unreadable);
QVector<DailyAverage> recomputeDays(const ResultStore& store, QDate first, QDate last,
                                    const AveragingConfig& config);

// The intervals and the day of `day` in stored form, for storeAverages();
// those marked unreadable are left out.
QVector<StoredAverage> storedForm(const DailyAverage& day, int intervalMinutes, const AlarmLimits& limits);
QVector<StoredAverage> storedForm(const DailyAverage& day, const AveragingConfig& config, const AlarmLimits& limits);

struct DaysSource {
  int fromStore = 0;  // days whose averages the store held, computed under the same basis
  int computed = 0;   // days computed again from the results
};

// The days first..last: from the stored interval averages of the config's
// profile where the store holds every interval of the day computed under
// the same basis, else computed again from the results and, when the store
// is writable and the day was over by `nowUtcMs`, stored. A year's report
// reads some 18,000 stored averages instead of 31 million results.
QVector<DailyAverage> storedOrComputedDays(ResultStore& store, QDate first, QDate last, const AveragingConfig& config,
                                           const AlarmLimits& limits, qint64 nowUtcMs, DaysSource* source = nullptr);

}  // namespace emissions
