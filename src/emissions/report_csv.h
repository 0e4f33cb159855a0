#pragma once
// The report as CSV for a spreadsheet: UTF-8 with a byte order mark, a header
// row, CRLF line ends, times in ISO 8601 with their offset. The separator and
// the decimal sign are chosen together so that the spreadsheet takes the
// numbers as numbers: ';' with a decimal comma, ',' with a decimal point.

#include <QByteArray>
#include <QChar>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

#include "emissions/emission_report.h"

namespace emissions {

struct CsvFormat {
  QChar separator = QLatin1Char(',');
  QChar decimalPoint = QLatin1Char('.');
  int decimals = 2;
  bool byteOrderMark = true;  // spreadsheets on Windows take UTF-8 only with it

  // The locale's list separator: ';' where numbers have a decimal comma, ','
  // elsewhere (Qt does not expose the system's list separator).
  static CsvFormat forLocale(const QLocale& locale);
  // A chosen separator; the locale's decimal sign unless it is the separator.
  static CsvFormat withSeparator(QChar separator, const QLocale& locale);
  // The separator must not be able to occur in a number or a time.
  bool isValid() const;
};

QString csvNumber(double value, const CsvFormat& format);
// One line of fields, quoted where needed, with its CR LF.
QString csvLine(const QStringList& fields, const CsvFormat& format);
// Writes `bytes` as the whole file; false with the reason in `error`.
bool writeCsvFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);
std::optional<double> parseCsvNumber(const QString& text, QChar decimalPoint);

// The row's fields as written, in report_column order.
QStringList reportRowFields(const ReportRow& row, const CsvFormat& format);

// A report made for a period or under a regulation profile carries the
// validation: per component the measured mean, the confidence interval, the
// validated value, the values counted and expected, the validity and its
// reason, the exceedance, the substitutes, those beyond the calibrated range,
// those left out by reason, and for a month's row its highest daily average
// and its invalid days. After its rows, a blank line and the summary: rows
// of "summary", the section, the item, then a value per component.
namespace validated_column {
enum : int { Kind, Start, End, Count, FirstComponent };
enum : int {
  Measured,
  Ci,
  Validated,
  ComponentCount,
  Expected,
  Valid,
  Reason,
  Exceeded,
  Substitutes,
  OutOfRange,
  FirstLeftOut,  // fault, maintenance, plant off, link lost, test, no value
  Max = FirstLeftOut + kInvalidReasonCount,
  InvalidDays,
  NotOperatingDays,
  kPerComponent
};
inline constexpr int kCount = FirstComponent + kComponentCount * kPerComponent;
inline int of(Component c, int what) { return FirstComponent + index(c) * kPerComponent + what; }
}  // namespace validated_column

QStringList validatedHeader();
QStringList validatedRowFields(const ReportRow& row, const CsvFormat& format);
// "", "enough", "too-few", "not-operating", "too-many-invalid", "no-valid-average".
QString reasonKey(ValidityReason r);
// "fault", "maintenance", "plant-off", "link-lost", "test", "no-value".
QString invalidReasonKey(InvalidReason r);
// The summary's rows: "summary", section, item, CO, NOx, SO2, H2S.
QVector<QStringList> summaryRows(const EmissionReport& report, const CsvFormat& format);

// Empty when the format is not valid. A report of no profile made as it
// always was has report_column's layout, one made for a period or under a
// profile validated_column's and the summary. A `footer` (the audit trail's
// state when the report was made) goes last, as a line of one field.
QByteArray reportCsv(const EmissionReport& report, const CsvFormat& format, const QString& footer = QString());
// Replaces the file as a whole; false with the reason in `error`.
bool writeReportCsv(const QString& path, const EmissionReport& report, const CsvFormat& format,
                    QString* error = nullptr, const QString& footer = QString());

// Rows of fields: quotes, doubled quotes, separators and line breaks inside
// quotes, CRLF or LF, and a leading byte order mark are understood.
QVector<QStringList> parseCsv(const QByteArray& bytes, QChar separator);

}  // namespace emissions
