#pragma once
// The pages' data as JSON: what the overview, the live stream, the trend,
// the averages, the events and the reports send to the browser.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>

#include "emissions/report_table.h"
#include "web/column_reduction.h"
#include "web/web_source.h"

namespace web {

QString statusText(ResultStatus status);  // "достоверный", ...
QJsonObject snapshotJson(const LiveSnapshot& s);
QJsonObject averageJson(const ShownAverage& a);
ShownAverage shownAverage(const emissions::IntervalAverage& a);
ShownAverage shownAverage(const emissions::DailyAverage& d);
QJsonObject intervalJson(const emissions::IntervalAverage& a, const emissions::AlarmLimits& limits);
QJsonObject eventJson(const StoredEvent& e);
QJsonObject reportTableJson(const emissions::ReportTable& table);

// The series names a trend may ask for: the twelve channels, then the
// emissions at the reference O2 ("CO_mg", "NOx_mg", "SO2_mg", "H2S_mg").
QStringList trendSeriesNames();
// {"from":..,"to":..,"reduced":..,"names":[..],"t":[seconds after from, ...],"s":[[...],...]}:
// times as whole seconds after `from` (ms precision where needed), values in five significant digits.
QByteArray trendJson(const ReducedTrend& trend, const QStringList& names, qint64 fromUtcMs, qint64 toUtcMs);

}  // namespace web
