#include "view/value_format.h"

#include <QDate>
#include <QTime>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/platform_seams.h"

const QString ResultHeaders[16] = {
    QStringLiteral(u"Номер"),   QStringLiteral(u"Дата"),    QStringLiteral(u"Время"),
    QStringLiteral(u"Tg,*С"),   QStringLiteral(u"O2,%"),    QStringLiteral(u"CO,ppm"),
    QStringLiteral(u"NO,ppm"),  QStringLiteral(u"NO2,ppm"), QStringLiteral(u"SO2,ppm"),
    QStringLiteral(u"H2S,ppm"), QStringLiteral(u"CO2,%"),   QStringLiteral(u"NOx,ppm"),
    QStringLiteral(u"Qa,%"),    QStringLiteral(u"Alf"),     QStringLiteral(u"Ta,*С"),
    QStringLiteral(u"Тест"),
};

const QString ChannelTitles[kChannelCount] = {
    QStringLiteral("Tg"),  QStringLiteral("O2"),  QStringLiteral("CO"),  QStringLiteral("NO"),
    QStringLiteral("NO2"), QStringLiteral("SO2"), QStringLiteral("H2S"), QStringLiteral("CO2"),
    QStringLiteral("NOx"), QStringLiteral("Qa"),  QStringLiteral("Alf"), QStringLiteral("Ta"),
};

QString FormatSignificant(double value, int digits, int minExponentDigits) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  if (value == 0) return QStringLiteral("0");

  // 18 significant digits first, as an extended-precision conversion gives,
  // then decimal rounding half up to `digits`.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
  std::string mantissa;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mantissa.push_back(*p);
  int exponent = std::atoi(p + 1);

  std::string d = mantissa.substr(0, size_t(digits));
  if (mantissa[size_t(digits)] >= '5') {
    int i = digits - 1;
    while (i >= 0 && d[size_t(i)] == '9') d[size_t(i--)] = '0';
    if (i >= 0) {
      ++d[size_t(i)];
    } else {
      d.insert(d.begin(), '1');
      d.pop_back();
      ++exponent;
    }
  }
  while (d.size() > 1 && d.back() == '0') d.pop_back();

  const QChar sep = seams::Locale().decimalPoint().at(0);
  QString out;
  if (value < 0) out += QLatin1Char('-');
  if (exponent < -4 || exponent >= digits) {
    out += QLatin1Char(d[0]);
    if (d.size() > 1) {
      out += sep;
      out += QString::fromLatin1(d.c_str() + 1);
    }
    out += QLatin1Char('E');
    if (exponent < 0) out += QLatin1Char('-');
    out += QString::number(std::abs(exponent)).rightJustified(minExponentDigits, QLatin1Char('0'));
    return out;
  }
  if (exponent >= 0) {
    const size_t intDigits = size_t(exponent) + 1;
    std::string whole = d.substr(0, std::min(intDigits, d.size()));
    while (whole.size() < intDigits) whole.push_back('0');
    out += QString::fromLatin1(whole.c_str());
    if (d.size() > intDigits) {
      out += sep;
      out += QString::fromLatin1(d.c_str() + intDigits);
    }
  } else {
    out += QLatin1Char('0');
    out += sep;
    out += QString(-exponent - 1, QLatin1Char('0'));
    out += QString::fromLatin1(d.c_str());
  }
  return out;
}

QString PlainForm(double value) { return FormatSignificant(value, 15, 0); }
QString ShortForm(double value) { return FormatSignificant(value, 4, 3); }

QString ValueToText(double value, bool scaled, double min, double max) {
  const double t = scaled ? value * 100 : value;
  if (t == 32770) return QStringLiteral("-----");
  if (t == 32769) return QStringLiteral(u"ошиб.");
  if (t == 32768) return QStringLiteral(u"перег.");
  if (value > max) return PlainForm(max);
  if (value < min) return PlainForm(min);
  return PlainForm(value);
}

double ValueToChart(double value, bool scaled, double min, double max) {
  const double t = scaled ? value * 100 : value;
  if (t > 32768) value = 0;
  if (value > max) return 0;
  if (value < min) return min;
  return value;
}

QString FaultBitsText(int32_t faultBits) {
  if (faultBits == 0) return QStringLiteral("Ok'");
  return QLatin1Char('E') +
         QString::number(uint32_t(faultBits), 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

namespace {
// The locale's long time format without its time-zone field: the table shows
// the clock time only.
QString LongTimeFormat() {
  const QString format = seams::Locale().timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    out += c;
  }
  return out.trimmed();
}
}  // namespace

QString ShortDateText(double dateTime) {
  return seams::Locale().toString(seams::FromDateTime(dateTime).date(), QLocale::ShortFormat);
}

QString LongTimeText(double dateTime) {
  return seams::Locale().toString(seams::FromDateTime(dateTime).time(), LongTimeFormat());
}

QStringList ResultRowCells(const TMeasurement& m, double resultTime, int pointNumber) {
  QStringList c;
  c.reserve(16);
  c << QString::number(pointNumber) << ShortDateText(resultTime) << LongTimeText(resultTime)
    << ValueToText(m.Tg, false, -20, 999) << ValueToText(m.O2, true, 0, 30)
    << ValueToText(m.CO, false, 0, 99999) << ValueToText(m.NO, false, 0, 9999)
    << ValueToText(m.NO2, false, 0, 999) << ValueToText(m.SO2, false, 0, 9999)
    << ValueToText(m.H2S, false, 0, 999);
  const bool o2Code = std::trunc(m.O2) == 327;
  c << (o2Code ? QStringLiteral("-----") : ShortForm(m.CO2)) << PlainForm(m.NOx)
    << (o2Code ? QStringLiteral("-----") : ShortForm(m.Qa))
    << (o2Code ? QStringLiteral("-----") : ShortForm(m.Alf)) << ValueToText(m.Ta, false, -20, 99)
    << FaultBitsText(m.FaultBits);
  return c;
}

std::array<double, kChannelCount> ResultChartValues(const TMeasurement& m) {
  return {ValueToChart(m.Tg, false, -20, 999),  ValueToChart(m.O2, true, 0, 30),
          ValueToChart(m.CO, false, 0, 30000),  ValueToChart(m.NO, false, 0, 9999),
          ValueToChart(m.NO2, false, 0, 999),   ValueToChart(m.SO2, false, 0, 9999),
          ValueToChart(m.H2S, false, 0, 999),   m.CO2,
          ValueToChart(m.NOx, false, 0, 9999),  m.Qa,
          m.Alf,                                ValueToChart(m.Ta, false, -20, 99)};
}

QString MeasurementCaption(const TMeasurement& m) {
  return QStringLiteral("Korvex (Tg:") + ValueToText(m.Tg, false, -20, 999) +
         QStringLiteral("; O2:") + ValueToText(m.O2, true, 0, 30) + QStringLiteral("; CO:") +
         ValueToText(m.CO, false, 0, 99999) + QStringLiteral("; NO:") +
         ValueToText(m.NO, false, 0, 9999) + QStringLiteral("; NO2:") +
         ValueToText(m.NO2, false, 0, 999) + QStringLiteral("; SO2:") +
         ValueToText(m.SO2, false, 0, 9999) + QStringLiteral("; H2S:") +
         ValueToText(m.H2S, false, 0, 999) + QLatin1Char(')');
}
