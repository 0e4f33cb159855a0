#include "data/value_format.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cmath>
#include <charconv>
#include <cstring>

#include "platform/seams.h"

const QString kResultHeaders[kResultColumnCount] = {
    QStringLiteral(u"Номер"),   QStringLiteral(u"Дата"),    QStringLiteral(u"Время"),
    QStringLiteral(u"Tg,*С"),   QStringLiteral(u"O2,%"),    QStringLiteral(u"CO,ppm"),
    QStringLiteral(u"NO,ppm"),  QStringLiteral(u"NO2,ppm"), QStringLiteral(u"SO2,ppm"),
    QStringLiteral(u"H2S,ppm"), QStringLiteral(u"CO2,%"),   QStringLiteral(u"NOx,ppm"),
    QStringLiteral(u"Qa,%"),    QStringLiteral(u"Alf"),     QStringLiteral(u"Ta,*С"),
    QStringLiteral(u"Тест"),
};

const QString kChannelTitles[kChannelCount] = {
    QStringLiteral("Tg"),  QStringLiteral("O2"),  QStringLiteral("CO"),  QStringLiteral("NO"),
    QStringLiteral("NO2"), QStringLiteral("SO2"), QStringLiteral("H2S"), QStringLiteral("CO2"),
    QStringLiteral("NOx"), QStringLiteral("Qa"),  QStringLiteral("Alf"), QStringLiteral("Ta"),
};

namespace {

// The plain form of a value that is a whole number of hundredths, as most
// readings are: written straight from the integer, exactly what the general
// conversion below gives for it (such a decimal of at most 15 digits is what
// the nearest double rounds back to).
bool plainHundredths(double value, QChar separator, QString& out) {
  const double scaled = value * 100;
  if (!(std::fabs(scaled) < 1e13)) return false;
  const int64_t n = int64_t(std::llround(scaled));
  if (double(n) / 100 != value) return false;
  char buf[32];
  char* p = buf;
  uint64_t a = uint64_t(n < 0 ? -n : n);
  if (n < 0) *p++ = '-';
  const uint64_t whole = a / 100, cents = a % 100;
  p = std::to_chars(p, buf + sizeof buf, whole).ptr;
  out = QString::fromLatin1(buf, p - buf);
  if (cents != 0) {
    out += separator;
    out += QLatin1Char(char('0' + cents / 10));
    if (cents % 10) out += QLatin1Char(char('0' + cents % 10));
  }
  return true;
}

}  // namespace

QString formatSignificant(double value, int digits, int minExponentDigits) {
  return formatSignificant(value, digits, minExponentDigits, seams::locale().decimalPoint().at(0));
}

QString formatSignificant(double value, int digits, int minExponentDigits, QChar separator) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  if (value == 0) return QStringLiteral("0");

  // 18 significant digits first, as an extended-precision conversion gives,
  // then decimal rounding half up to `digits`.
  char buf[64];
  const auto conversion =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 17);
  const char* p = buf;
  char mantissa[24];
  int length = 0;
  for (; p < conversion.ptr && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mantissa[length++] = *p;
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), conversion.ptr, exponent);

  char d[24];
  std::memcpy(d, mantissa, size_t(digits));
  int size = digits;
  if (mantissa[digits] >= '5') {
    int i = digits - 1;
    while (i >= 0 && d[i] == '9') d[i--] = '0';
    if (i >= 0) {
      ++d[i];
    } else {
      std::memmove(d + 1, d, size_t(digits - 1));
      d[0] = '1';
      ++exponent;
    }
  }
  while (size > 1 && d[size - 1] == '0') --size;

  char out[64];
  int n = 0;
  if (value < 0) out[n++] = '-';
  if (exponent < -4 || exponent >= digits) {
    out[n++] = d[0];
    if (size > 1) {
      out[n++] = '.';
      std::memcpy(out + n, d + 1, size_t(size - 1));
      n += size - 1;
    }
    out[n++] = 'E';
    if (exponent < 0) out[n++] = '-';
    char e[8];
    const auto end = std::to_chars(e, e + sizeof e, std::abs(exponent)).ptr;
    for (int pad = int(end - e); pad < minExponentDigits; ++pad) out[n++] = '0';
    std::memcpy(out + n, e, size_t(end - e));
    n += int(end - e);
  } else if (exponent >= 0) {
    const int intDigits = exponent + 1;
    for (int i = 0; i < intDigits; ++i) out[n++] = i < size ? d[i] : '0';
    if (size > intDigits) {
      out[n++] = '.';
      std::memcpy(out + n, d + intDigits, size_t(size - intDigits));
      n += size - intDigits;
    }
  } else {
    out[n++] = '0';
    out[n++] = '.';
    for (int i = 0; i < -exponent - 1; ++i) out[n++] = '0';
    std::memcpy(out + n, d, size_t(size));
    n += size;
  }
  QString text = QString::fromLatin1(out, n);
  if (separator != QLatin1Char('.')) text.replace(QLatin1Char('.'), separator);
  return text;
}

QString plainForm(double value) { return ResultTexts().plainForm(value); }
QString shortForm(double value) { return ResultTexts().shortForm(value); }

QString valueToText(double value, bool scaled, double min, double max) {
  return ResultTexts().valueText(value, scaled, min, max);
}

double valueToChart(double value, bool scaled, double min, double max) {
  const double t = scaled ? value * 100 : value;
  if (t > 32768) value = 0;
  if (value > max) return 0;
  if (value < min) return min;
  return value;
}

QString faultBitsText(int32_t faultBits) {
  if (faultBits == 0) return QStringLiteral("Ok'");
  return QLatin1Char('E') +
         QString::number(uint32_t(faultBits), 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

namespace {
// A program date-time as its day number and the milliseconds of that day,
// rounded as seams::fromDateTime rounds them.
void splitDateTime(double dateTime, double& day, int& ms) {
  constexpr double kMsPerDay = 86400000.0;
  day = std::floor(dateTime);
  const int64_t rounded = std::llround((dateTime - day) * kMsPerDay);
  ms = int(rounded);
  if (rounded >= int64_t(kMsPerDay)) {  // rounding up to the next midnight
    ms = 0;
    day += 1;
  }
}

// The locale's long time format without its time-zone field: the table shows
// the clock time only.
QString longTimeFormat(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
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

QString shortDateText(double dateTime) { return ResultTexts().dateText(dateTime); }

QString longTimeText(double dateTime) { return ResultTexts().timeText(dateTime); }

namespace {

struct ChannelForm {
  bool scaled;
  double min, max;       // of the text
  double plotMax;        // of the chart
};

// Tg, O2, CO, NO, NO2, SO2, H2S as measured, then Ta; the derived channels
// have forms of their own.
const ChannelForm kForms[kChannelCount] = {
    {false, -20, 999, 999},  {true, 0, 30, 30},    {false, 0, 99999, 30000}, {false, 0, 9999, 9999},
    {false, 0, 999, 999},    {false, 0, 9999, 9999}, {false, 0, 999, 999},  {false, 0, 0, 0},
    {false, 0, 9999, 9999},  {false, 0, 0, 0},     {false, 0, 0, 0},        {false, -20, 99, 99},
};

// O2 carrying a special code leaves CO2, Qa and Alf without a value.
bool o2Code(const ChannelValues& v) { return std::trunc(v[channel::O2]) == 327; }

}  // namespace

ResultTexts::ResultTexts() : ResultTexts(seams::locale()) {}

ResultTexts::ResultTexts(const QLocale& locale)
    : locale_(locale), separator_(locale.decimalPoint().at(0)), timeFormat_(longTimeFormat(locale)) {
  // The usual clock formats are written directly; any other goes through the locale.
  if (timeFormat_ == QLatin1String("HH:mm:ss")) clock_ = Clock::TwoDigitHour;
  if (timeFormat_ == QLatin1String("H:mm:ss")) clock_ = Clock::OneDigitHour;
}

QString ResultTexts::plainForm(double value) const {
  QString text;
  if (plainHundredths(value, separator_, text)) return text;
  return formatSignificant(value, 15, 0, separator_);
}

QString ResultTexts::shortForm(double value) const { return formatSignificant(value, 4, 3, separator_); }

QString ResultTexts::valueText(double value, bool scaled, double min, double max) const {
  const double t = scaled ? value * 100 : value;
  if (t == 32770) return QStringLiteral("-----");
  if (t == 32769) return QStringLiteral(u"ошиб.");
  if (t == 32768) return QStringLiteral(u"перег.");
  if (value > max) return plainForm(max);
  if (value < min) return plainForm(min);
  return plainForm(value);
}

QString ResultTexts::dateText(double dateTime) const {
  double day;
  int ms;
  splitDateTime(dateTime, day, ms);
  if (day != cachedDay_) {
    cachedDay_ = day;
    cachedDate_ = locale_.toString(seams::fromDateTime(dateTime).date(), QLocale::ShortFormat);
  }
  return cachedDate_;
}

QString ResultTexts::timeText(double dateTime) const {
  double day;
  int ms;
  splitDateTime(dateTime, day, ms);
  if (clock_ == Clock::Locale) return locale_.toString(QTime::fromMSecsSinceStartOfDay(ms), timeFormat_);
  char buf[9];
  int n = 0;
  const int h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60;
  if (h >= 10 || clock_ == Clock::TwoDigitHour) buf[n++] = char('0' + h / 10);
  buf[n++] = char('0' + h % 10);
  buf[n++] = ':';
  buf[n++] = char('0' + m / 10);
  buf[n++] = char('0' + m % 10);
  buf[n++] = ':';
  buf[n++] = char('0' + s / 10);
  buf[n++] = char('0' + s % 10);
  return QString::fromLatin1(buf, n);
}

QString ResultTexts::channelText(int ch, const ChannelValues& v) const {
  using namespace channel;
  switch (ch) {
    case CO2:
    case Qa:
    case Alf:
      return o2Code(v) ? QStringLiteral("-----") : shortForm(v[size_t(ch)]);
    case NOx:
      return plainForm(v[size_t(ch)]);
    default: {
      const ChannelForm& f = kForms[ch];
      return valueText(v[size_t(ch)], f.scaled, f.min, f.max);
    }
  }
}

QString ResultTexts::cell(int column, const ChannelValues& values, int32_t faultBits, double dateTime,
                          int number) const {
  switch (column) {
    case 0: return QString::number(number);
    case 1: return dateText(dateTime);
    case 2: return timeText(dateTime);
    case kFaultColumn: return faultBitsText(faultBits);
    default:
      if (column >= kFirstValueColumn && column < kFirstValueColumn + kChannelCount)
        return channelText(column - kFirstValueColumn, values);
      return {};
  }
}

void ResultTexts::appendRow(QString& out, const ChannelValues& values, int32_t faultBits, double dateTime,
                            int number) const {
  for (int c = 0; c < kResultColumnCount; ++c) {
    out += cell(c, values, faultBits, dateTime, number);
    out += QLatin1Char('\t');
  }
}

QStringList ResultTexts::columnForms(int column) const {
  using namespace channel;
  QStringList forms;
  if (column == 0) {
    // A day is at most 86,400 rows; a history of a year at a result a
    // second is eight digits.
    forms << QStringLiteral("9999999") << QStringLiteral("99999999");
  } else if (column == 1) {
    for (int month = 1; month <= 12; ++month)
      forms << dateText(seams::toDateTime(QDateTime(QDate(2000, month, 28), QTime(12, 0))));
  } else if (column == 2) {
    for (int hour = 0; hour < 24; ++hour) forms << timeText((hour * 3600 + 59 * 60 + 59) / 86400.0);
  } else if (column == kFaultColumn) {
    // The analyzer reports twelve fault bits; a file may hold sixteen.
    forms << faultBitsText(0) << faultBitsText(0x0FFF);
    for (int digit = 0; digit < 16; ++digit) forms << faultBitsText(0x1111 * digit);
  } else if (column >= kFirstValueColumn && column < kFirstValueColumn + kChannelCount) {
    const int ch = column - kFirstValueColumn;
    if (ch == CO2 || ch == Qa || ch == Alf) {
      forms << QStringLiteral("-----") << shortForm(0.9999) << shortForm(0.0009999) << shortForm(9999e4)
            << shortForm(9.999e-5);
    } else if (ch == NOx) {
      forms << plainForm(9998 + 998);  // NO below 9999 and NO2 below 999, else 0
    } else {
      const ChannelForm& f = kForms[ch];
      const double step = f.scaled ? 0.01 : 1;  // O2 in hundredths, the rest whole
      forms << plainForm(f.min) << plainForm(f.max) << plainForm(f.min + step) << plainForm(f.max - step)
            << QStringLiteral("-----") << QStringLiteral(u"ошиб.") << QStringLiteral(u"перег.");
    }
  }
  return forms;
}

QString resultCell(int column, const ChannelValues& values, int32_t faultBits, double dateTime, int number) {
  return ResultTexts().cell(column, values, faultBits, dateTime, number);
}

QStringList resultCells(const ChannelValues& values, int32_t faultBits, double dateTime, int number) {
  const ResultTexts texts;
  QStringList cells;
  cells.reserve(kResultColumnCount);
  for (int c = 0; c < kResultColumnCount; ++c) cells << texts.cell(c, values, faultBits, dateTime, number);
  return cells;
}

double plottedValue(int ch, double value) {
  using namespace channel;
  if (ch == CO2 || ch == Qa || ch == Alf) return value;
  const ChannelForm& f = kForms[ch];
  return valueToChart(value, f.scaled, f.min, f.plotMax);
}

ChannelValues plottedValues(const ChannelValues& values) {
  ChannelValues out;
  for (int ch = 0; ch < kChannelCount; ++ch) out[size_t(ch)] = plottedValue(ch, values[size_t(ch)]);
  return out;
}

QString measurementCaption(const Measurement& m) {
  using namespace channel;
  const ResultTexts texts;
  QString caption = QStringLiteral("Korvex (");
  const int shown[] = {Tg, O2, CO, NO, NO2, SO2, H2S};
  for (int i = 0; i < 7; ++i) {
    const int ch = shown[i];
    if (i) caption += QStringLiteral("; ");
    caption += kChannelTitles[ch] + QLatin1Char(':') + texts.cell(kFirstValueColumn + ch, m.values, 0, 0, 0);
  }
  return caption + QLatin1Char(')');
}
