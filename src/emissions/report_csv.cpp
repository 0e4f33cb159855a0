#include "emissions/report_csv.h"

#include <QSaveFile>
#include <algorithm>
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

QString csvLine(const QStringList& fields, const CsvFormat& format) {
  QString text;
  for (int i = 0; i < fields.size(); ++i) {
    if (i > 0) text += format.separator;
    text += quoted(fields[i], format.separator);
  }
  return text + QStringLiteral("\r\n");
}

bool writeCsvFile(const QString& path, const QByteArray& bytes, QString* error) {
  auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  if (file.write(bytes) != bytes.size()) return fail(file.errorString());
  if (!file.commit()) return fail(file.errorString());
  return true;
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

QString reasonKey(ValidityReason r) {
  switch (r) {
    case ValidityReason::Unknown:
      return {};
    case ValidityReason::Enough:
      return QStringLiteral("enough");
    case ValidityReason::TooFew:
      return QStringLiteral("too-few");
    case ValidityReason::NotOperating:
      return QStringLiteral("not-operating");
    case ValidityReason::TooManyInvalid:
      return QStringLiteral("too-many-invalid");
    case ValidityReason::NoValidAverage:
      return QStringLiteral("no-valid-average");
  }
  return {};
}

QString invalidReasonKey(InvalidReason r) {
  switch (r) {
    case InvalidReason::Fault:
      return QStringLiteral("fault");
    case InvalidReason::Maintenance:
      return QStringLiteral("maintenance");
    case InvalidReason::PlantOff:
      return QStringLiteral("plant-off");
    case InvalidReason::LinkLost:
      return QStringLiteral("link-lost");
    case InvalidReason::Test:
      return QStringLiteral("test");
    case InvalidReason::NoValue:
      return QStringLiteral("no-value");
  }
  return {};
}

QStringList validatedHeader() {
  QStringList h = {QStringLiteral("Row"), QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Count")};
  for (Component c : kComponents) {
    const QString n = QString::fromLatin1(componentName(c)) + QLatin1Char(' ');
    h << n + QStringLiteral(u"measured mg/m³") << n + QStringLiteral("CI") << n + QStringLiteral(u"validated mg/m³")
      << n + QStringLiteral("n") << n + QStringLiteral("expected") << n + QStringLiteral("validity")
      << n + QStringLiteral("reason") << n + QStringLiteral("exceedance") << n + QStringLiteral("substitutes")
      << n + QStringLiteral("out of range");
    for (InvalidReason r : kInvalidReasons) h << n + QStringLiteral("left out ") + invalidReasonKey(r);
    h << n + QStringLiteral("max") << n + QStringLiteral("invalid days") << n + QStringLiteral("not operating days");
  }
  return h;
}

QStringList validatedRowFields(const ReportRow& row, const CsvFormat& format) {
  QStringList f;
  f << kindText(row.kind) << isoWithOffset(row.startUtcMs, row.startOffset)
    << isoWithOffset(row.endUtcMs, row.endOffset) << QString::number(row.count);
  const bool month = row.kind == ReportRow::Kind::Month;
  for (Component c : kComponents) {
    const ComponentAverage& a = row.components[size_t(index(c))];
    const PeriodFigures& m = row.figures[size_t(index(c))];
    const bool has = a.count > 0;
    f << (has ? csvNumber(a.measured, format) : QString()) << csvNumber(a.ci, format)
      << (has ? csvNumber(a.mean, format) : QString()) << QString::number(a.count) << QString::number(a.expected)
      << validText(a.valid) << reasonKey(a.reason) << exceedanceText(row.exceedances[size_t(index(c))])
      << QString::number(a.substitutes) << QString::number(a.outOfRange);
    for (InvalidReason r : kInvalidReasons) f << (month ? QString() : QString::number(a.invalid[size_t(r)]));
    f << (month && has ? csvNumber(m.max, format) : QString()) << (month ? QString::number(m.invalidDays) : QString())
      << (month ? QString::number(m.notOperatingDays) : QString());
  }
  return f;
}

QVector<QStringList> summaryRows(const EmissionReport& report, const CsvFormat& format) {
  QVector<QStringList> out;
  if (!report.summarized()) return out;
  const ComponentSummaries& s = report.summary();
  auto row = [&](const QString& section, const QString& item, auto value) {
    QStringList r{QStringLiteral("summary"), section, item};
    for (Component c : kComponents) r << value(s[size_t(index(c))]);
    out.append(r);
  };
  auto n = [](auto x) { return QString::number(x); };
  for (bool daily : {false, true}) {
    const QString section = daily ? QStringLiteral("daily classes") : QStringLiteral("short-term classes");
    auto limited = [daily](const ComponentSummary& m) { return bool(daily ? m.dailyLimit : m.shortTermLimit); };
    auto of = [daily](const ComponentSummary& m) -> const Classification& { return daily ? m.daily : m.shortTerm; };
    for (int k = 0; k < kClassCount; ++k)
      row(section, QStringLiteral("%1-%2 %").arg(5 * k).arg(5 * (k + 1)),
          [&](const ComponentSummary& m) { return limited(m) ? n(of(m).classes[size_t(k)]) : QString(); });
    row(section, QStringLiteral("over the limit"),
        [&](const ComponentSummary& m) { return limited(m) ? n(of(m).overLimit) : QString(); });
  }
  const QString fig = QStringLiteral("figures");
  row(fig, QStringLiteral("short-term averages"), [&](const ComponentSummary& m) { return n(m.shortTermAverages); });
  row(fig, QStringLiteral("short-term valid"), [&](const ComponentSummary& m) { return n(m.shortTermValid); });
  row(fig, QStringLiteral("short-term not operating"), [&](const ComponentSummary& m) { return n(m.shortTermNotOperating); });
  row(fig, QStringLiteral("availability %"), [&](const ComponentSummary& m) { return csvNumber(m.availability(), format); });
  row(fig, QStringLiteral("days valid"), [&](const ComponentSummary& m) { return n(m.daysValid); });
  row(fig, QStringLiteral("days invalid"), [&](const ComponentSummary& m) { return n(m.daysInvalid); });
  row(fig, QStringLiteral("days not operating"), [&](const ComponentSummary& m) { return n(m.daysNotOperating); });
  row(fig, QStringLiteral("invalid days allowed a year"), [&](const ComponentSummary& m) { return n(m.maxInvalidDays); });
  row(fig, QStringLiteral("daily mean"),
      [&](const ComponentSummary& m) { return m.daysValid > 0 ? csvNumber(m.dailyMean, format) : QString(); });
  row(fig, QStringLiteral("daily max"),
      [&](const ComponentSummary& m) { return m.daysValid > 0 ? csvNumber(m.dailyMax, format) : QString(); });
  row(fig, QStringLiteral("results counted"), [&](const ComponentSummary& m) { return n(m.resultsCounted); });
  row(fig, QStringLiteral("substitutes"), [&](const ComponentSummary& m) { return n(m.substitutes); });
  row(fig, QStringLiteral("out of range"), [&](const ComponentSummary& m) { return n(m.outOfRange); });
  for (InvalidReason r : kInvalidReasons)
    row(QStringLiteral("left out"), invalidReasonKey(r),
        [&](const ComponentSummary& m) { return n(m.invalidResults[size_t(r)]); });
  const QString cal = QStringLiteral("calibration");
  row(cal, QStringLiteral("weeks over 5 %"), [&](const ComponentSummary& m) { return n(m.calibration.weeksOverMark); });
  row(cal, QStringLiteral("weeks over 40 %"), [&](const ComponentSummary& m) { return n(m.calibration.weeksOverStrong); });
  row(cal, QStringLiteral("new QAL2 due"),
      [&](const ComponentSummary& m) { return m.calibration.due() ? QStringLiteral("yes") : QStringLiteral("no"); });
  // Every week any component has values in, its share outside the range.
  QVector<QDate> mondays;
  for (const ComponentSummary& m : s)
    for (const RangeWeek& w : m.weeks)
      if (!mondays.contains(w.monday)) mondays.append(w.monday);
  std::sort(mondays.begin(), mondays.end());
  for (const QDate& monday : mondays)
    row(QStringLiteral("weeks outside range %"), monday.toString(Qt::ISODate), [&](const ComponentSummary& m) {
      for (const RangeWeek& w : m.weeks)
        if (w.monday == monday) return csvNumber(w.outsidePercent(), format);
      return QString();
    });
  if (report.dueBy().isValid())
    out.append({QStringLiteral("summary"), QStringLiteral("report"), QStringLiteral("due by"),
                report.dueBy().toString(Qt::ISODate)});
  return out;
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
  if (report.summarized() || report.profile() != RegulationProfile::None) {
    line(validatedHeader());
    for (const ReportRow& row : report.rows()) line(validatedRowFields(row, format));
    const QVector<QStringList> summary = summaryRows(report, format);
    if (!summary.isEmpty()) {
      text += QStringLiteral("\r\n");
      for (const QStringList& r : summary) line(r);
    }
  } else {
    line(reportHeader());
    for (const ReportRow& row : report.rows()) line(reportRowFields(row, format));
  }
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
  return writeCsvFile(path, reportCsv(report, format, footer), error);
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
