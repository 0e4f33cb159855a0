#pragma once
// Text forms of the values: the number forms of the results table, the
// markers of the analyzer's special codes, the clamped ranges, the window
// caption, and the plotted value of a channel. Texts are made from the
// numbers whenever a result is shown, written or printed.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "core/measurement.h"

using ChannelValues = std::array<double, kChannelCount>;

// Value rounded to `digits` significant digits (a next digit of 5 or more
// rounds up), trailing zeros dropped, the locale's decimal separator. Values
// below 0.0001 in magnitude, or with more than `digits` digits before the
// separator, take the exponent form, its exponent padded to at least
// `minExponentDigits` digits.
QString formatSignificant(double value, int digits, int minExponentDigits);
QString formatSignificant(double value, int digits, int minExponentDigits, QChar separator);
// 15 significant digits, exponent without padding: 12,3  250  5E-5
QString plainForm(double value);
// 4 significant digits, exponent of at least three digits: 12,35  1,235E004  5E-005
QString shortForm(double value);

// The table text of a channel value: a marker for a special code (value x 100
// when `scaled`), else the value clamped to [min, max] in plain form.
QString valueToText(double value, bool scaled, double min, double max);
// The plotted value of a channel: special codes and readings above `max` plot
// as 0, readings below `min` at `min`.
double valueToChart(double value, bool scaled, double min, double max);

// "Ok'" for no fault, else "E" and at least four upper-case hex digits.
QString faultBitsText(int32_t faultBits);

// Date and time of a date-time in the locale's short date and long time
// formats (without a time-zone suffix).
QString shortDateText(double dateTime);
QString longTimeText(double dateTime);

// The results table: 16 columns, the number of the result, its date and time,
// the twelve channels from column 3 on, the fault bits.
inline constexpr int kResultColumnCount = 16;
inline constexpr int kFirstValueColumn = 3;
inline constexpr int kFaultColumn = 15;

// The texts of results in one locale, taken when it is made. Making many rows
// with one of these (a file, a paint) reuses what stays the same from row to
// row.
class ResultTexts {
 public:
  ResultTexts();  // in seams::locale()
  explicit ResultTexts(const QLocale& locale);

  QString plainForm(double value) const;
  QString shortForm(double value) const;
  QString valueText(double value, bool scaled, double min, double max) const;
  QString dateText(double dateTime) const;
  QString timeText(double dateTime) const;
  // One cell of a result's row.
  QString cell(int column, const ChannelValues& values, int32_t faultBits, double dateTime, int number) const;
  // The row's 16 cells, each followed by a TAB.
  void appendRow(QString& out, const ChannelValues& values, int32_t faultBits, double dateTime,
                 int number) const;
  // Texts of every form a column of taken results takes, at the widest the
  // analyzer's readings make them: seven-digit numbers, the dates of every
  // month and the times of every hour, the clamped ranges at the readings'
  // resolution, the short number form with either exponent, the markers,
  // fault codes. A view sizing the column measures them with each digit
  // taken as its font's widest.
  QStringList columnForms(int column) const;

 private:
  QString channelText(int ch, const ChannelValues& v) const;

  enum class Clock { Locale, TwoDigitHour, OneDigitHour };
  QLocale locale_;
  QChar separator_;
  QString timeFormat_;
  Clock clock_ = Clock::Locale;
  mutable double cachedDay_ = -1e300;
  mutable QString cachedDate_;
};

// One cell of a result's row.
QString resultCell(int column, const ChannelValues& values, int32_t faultBits, double dateTime,
                   int number);
QStringList resultCells(const ChannelValues& values, int32_t faultBits, double dateTime, int number);

// What the chart plots of a channel's value.
double plottedValue(int channel, double value);
ChannelValues plottedValues(const ChannelValues& values);

// "Korvex (Tg:..; O2:..; CO:..; NO:..; NO2:..; SO2:..; H2S:..)"
QString measurementCaption(const Measurement& m);

// Header texts of the results table, columns 0..15.
extern const QString kResultHeaders[kResultColumnCount];
// Curve titles in channel order.
extern const QString kChannelTitles[kChannelCount];
