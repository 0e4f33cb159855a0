#include "emissions/report_csv.h"

#include <QSaveFile>
#include <cmath>

namespace emissions {

namespace {

QChar singleChar(const QString& s, QChar fallback) { return s.size() == 1 ? s.at(0) : fallback; }

QString quoted(const QString& field, QChar separator) {
  if (!field.contains(separator) && !field.contains(QLatin1Char('"')) &&
      !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
    return field;
  QString q = field;
  q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

}  // namespace

CsvFormat CsvFormat::forLocale(const QLocale& locale) {
  CsvFormat f;
  f.decimalPoint = singleChar(locale.decimalPoint(), QLatin1Char('.'));
  f.separator = f.decimalPoint == QLatin1Char(',') ? QLatin1Char(';') : QLatin1Char(',');
  return f;
}

CsvFormat CsvFormat::withSeparator(QChar separator, const QLocale& locale) {
  CsvFormat f = forLocale(locale);
  f.separator = separator;
  if (f.decimalPoint == separator)
    f.decimalPoint = separator == QLatin1Char('.') ? QLatin1Char(',') : QLatin1Char('.');
  return f;
}

bool CsvFormat::isValid() const {
  const QString forbidden = QStringLiteral("0123456789+-:.eETZ\"\r\n");
  return separator != decimalPoint && !separator.isNull() && !forbidden.contains(separator) &&
         !decimalPoint.isNull() && decimals >= 0 && decimals <= 9;
}

QString csvNumber(double value, const CsvFormat& format) {
  // No "-0,00" for a tiny negative value.
  if (std::abs(value) < 0.5 * std::pow(10.0, -format.decimals)) value = 0;
  QString s = QString::number(value, 'f', format.decimals);
  if (format.decimalPoint != QLatin1Char('.')) s.replace(QLatin1Char('.'), format.decimalPoint);
  return s;
}

std::optional<double> parseCsvNumber(const QString& text, QChar decimalPoint) {
  QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  if (decimalPoint != QLatin1Char('.')) {
    if (t.contains(QLatin1Char('.'))) return std::nullopt;
    t.replace(decimalPoint, QLatin1Char('.'));
  }
  bool ok = false;
  const double d = QLocale::c().toDouble(t, &ok);
  if (!ok) return std::nullopt;
  return d;
}

QStringList reportRowFields(const ReportRow& row, const CsvFormat& format) {
  QStringList f;
  f << kindText(row.kind) << isoWithOffset(row.startUtcMs, row.startOffset)
    << isoWithOffset(row.endUtcMs, row.endOffset) << QString::number(row.count);
  for (Component c : kComponents) {
    const ComponentAverage& a = row.components[size_t(index(c))];
    f << (a.count > 0 ? csvNumber(a.mean, format) : QString()) << QString::number(a.count)
      << validText(a.valid) << exceedanceText(row.exceedances[size_t(index(c))]);
  }
  return f;
}

QByteArray reportCsv(const EmissionReport& report, const CsvFormat& format, const QString& footer) {
  if (!format.isValid()) return {};
  QString text;
  auto line = [&](const QStringList& fields) {
    for (int i = 0; i < fields.size(); ++i) {
      if (i > 0) text += format.separator;
      text += quoted(fields[i], format.separator);
    }
    text += QStringLiteral("\r\n");
  };
  line(reportHeader());
  for (const ReportRow& row : report.rows()) line(reportRowFields(row, format));
  if (!footer.isEmpty()) line({footer});
  QByteArray out = format.byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
  return out + text.toUtf8();
}

bool writeReportCsv(const QString& path, const EmissionReport& report, const CsvFormat& format,
                    QString* error, const QString& footer) {
  auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  if (!format.isValid()) return fail(QStringLiteral("separator and decimal sign do not fit"));
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  const QByteArray bytes = reportCsv(report, format, footer);
  if (file.write(bytes) != bytes.size()) return fail(file.errorString());
  if (!file.commit()) return fail(file.errorString());
  return true;
}

QVector<QStringList> parseCsv(const QByteArray& bytes, QChar separator) {
  QString t = QString::fromUtf8(bytes);
  if (t.startsWith(QChar(0xFEFF))) t.remove(0, 1);
  QVector<QStringList> rows;
  QStringList row;
  QString field;
  bool inQuotes = false;
  bool any = false;  // something since the last line break
  for (qsizetype i = 0; i < t.size(); ++i) {
    const QChar c = t.at(i);
    if (inQuotes) {
      if (c != QLatin1Char('"')) {
        field += c;
      } else if (i + 1 < t.size() && t.at(i + 1) == QLatin1Char('"')) {
        field += c;
        ++i;
      } else {
        inQuotes = false;
      }
      continue;
    }
    if (c == QLatin1Char('"')) {
      inQuotes = true;
      any = true;
    } else if (c == separator) {
      row << field;
      field.clear();
      any = true;
    } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
      if (c == QLatin1Char('\r') && i + 1 < t.size() && t.at(i + 1) == QLatin1Char('\n')) ++i;
      row << field;
      rows << row;
      row.clear();
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any) {
    row << field;
    rows << row;
  }
  return rows;
}

}  // namespace emissions
