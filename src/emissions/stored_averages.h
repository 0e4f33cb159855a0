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

// `limits` judges the exceedance stored with it.
StoredAverage toStored(const IntervalAverage& a, int intervalMinutes, const AlarmLimits& limits);
StoredAverage toStored(const DailyAverage& d, int intervalMinutes, const AlarmLimits& limits);
// An interval average back from its stored form.
IntervalAverage intervalFromStored(const StoredAverage& s);

// The local day `date` with its intervals, from the results the store holds
// for its intervals. Intervals the store could not read all of are marked
// unreadable and have no average, nor has the day then.
DailyAverage recomputeDay(const ResultStore& store, QDate date, const AveragingConfig& config);
// `day` with the intervals that meet an unreadable span marked so.
DailyAverage withUnreadable(DailyAverage day, const QVector<UnreadableSpan>& unreadable);
QVector<DailyAverage> recomputeDays(const ResultStore& store, QDate first, QDate last,
                                    const AveragingConfig& config);

// The intervals and the day of `day` in stored form, for storeAverages();
// those marked unreadable are left out.
QVector<StoredAverage> storedForm(const DailyAverage& day, int intervalMinutes, const AlarmLimits& limits);

}  // namespace emissions
