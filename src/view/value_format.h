#pragma once
// Text forms of the values: the number forms of the results table, the
// markers of the analyzer's special codes, the clamped ranges, the window
// caption, and the plotted value of a channel.

#include <QString>
#include <QStringList>
#include <array>

#include "storage/settings_records.h"

// Value rounded to `digits` significant digits (a next digit of 5 or more
// rounds up), trailing zeros dropped, the locale's decimal separator. Values
// below 0.0001 in magnitude, or with more than `digits` digits before the
// separator, take the exponent form, its exponent padded to at least
// `minExponentDigits` digits.
QString FormatSignificant(double value, int digits, int minExponentDigits);
// 15 significant digits, exponent without padding: 12,3  250  5E-5
QString PlainForm(double value);
// 4 significant digits, exponent of at least three digits: 12,35  1,235E004  5E-005
QString ShortForm(double value);

// The table text of a channel value: a marker for a special code (value x 100
// when `scaled`), else the value clamped to [min, max] in plain form.
QString ValueToText(double value, bool scaled, double min, double max);
// The plotted value of a channel: special codes and readings above `max` plot
// as 0, readings below `min` at `min`.
double ValueToChart(double value, bool scaled, double min, double max);

// "Ok'" for no fault, else "E" and at least four upper-case hex digits.
QString FaultBitsText(int32_t faultBits);

// Date and time of a date-time in the locale's short date and long time
// formats (without a time-zone suffix).
QString ShortDateText(double dateTime);
QString LongTimeText(double dateTime);

// The 16 cells of a results row.
QStringList ResultRowCells(const TMeasurement& m, double resultTime, int pointNumber);
// The 12 plotted values of a result, in channel order (Tg ... Ta).
std::array<double, kChannelCount> ResultChartValues(const TMeasurement& m);
// "Korvex (Tg:..; O2:..; CO:..; NO:..; NO2:..; SO2:..; H2S:..)"
QString MeasurementCaption(const TMeasurement& m);

// Header texts of the results table, columns 0..15.
extern const QString ResultHeaders[16];
// Curve titles in channel order.
extern const QString ChannelTitles[kChannelCount];
