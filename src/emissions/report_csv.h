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
std::optional<double> parseCsvNumber(const QString& text, QChar decimalPoint);

// The row's fields as written, in report_column order.
QStringList reportRowFields(const ReportRow& row, const CsvFormat& format);

// Empty when the format is not valid. A `footer` (the audit trail's state
// when the report was made) goes last, as a line of one field.
QByteArray reportCsv(const EmissionReport& report, const CsvFormat& format, const QString& footer = QString());
// Replaces the file as a whole; false with the reason in `error`.
bool writeReportCsv(const QString& path, const EmissionReport& report, const CsvFormat& format,
                    QString* error = nullptr, const QString& footer = QString());

// Rows of fields: quotes, doubled quotes, separators and line breaks inside
// quotes, CRLF or LF, and a leading byte order mark are understood.
QVector<QStringList> parseCsv(const QByteArray& bytes, QChar separator);

}  // namespace emissions
