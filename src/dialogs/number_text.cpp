#include "dialogs/number_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/seams.h"
#include "data/value_format.h"

namespace {

// A decimal number as typed: value = digits x 10^exponent.
struct Decimal {
  bool negative = false;
  std::string digits;  // without leading zeros; empty for zero
  long exponent = 0;
};

bool isBlank(QChar c) { return c.unicode() <= ' '; }

std::optional<Decimal> parseDecimal(const QString& text) {
  const QChar sep = decimalSeparator();
  qsizetype i = 0, end = text.size();
  while (i < end && isBlank(text.at(i))) ++i;
  while (end > i && isBlank(text.at(end - 1))) --end;

  Decimal d;
  if (i < end && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
    d.negative = text.at(i) == QLatin1Char('-');
    ++i;
  }
  std::string digits;
  long fractionDigits = 0;
  bool anyDigit = false;
  while (i < end && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
    digits.push_back(char(text.at(i++).unicode()));
    anyDigit = true;
  }
  if (i < end && text.at(i) == sep) {
    ++i;
    while (i < end && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
      digits.push_back(char(text.at(i++).unicode()));
      ++fractionDigits;
      anyDigit = true;
    }
  }
  if (!anyDigit) return std::nullopt;

  long exponent = 0;
  if (i < end && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
    ++i;
    bool negativeExponent = false;
    if (i < end && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
      negativeExponent = text.at(i) == QLatin1Char('-');
      ++i;
    }
    bool exponentDigit = false;
    while (i < end && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
      // Saturates far beyond any value that can matter.
      if (exponent < 1000000) exponent = exponent * 10 + (text.at(i).unicode() - '0');
      ++i;
      exponentDigit = true;
    }
    if (!exponentDigit) return std::nullopt;
    if (negativeExponent) exponent = -exponent;
  }
  if (i != end) return std::nullopt;

  const size_t firstNonZero = digits.find_first_not_of('0');
  d.digits = firstNonZero == std::string::npos ? std::string() : digits.substr(firstNonZero);
  d.exponent = exponent - fractionDigits;
  return d;
}

}  // namespace

QChar decimalSeparator() {
  const QString point = seams::locale().decimalPoint();
  return point.isEmpty() ? QLatin1Char('.') : point.at(0);
}

std::optional<double> readFloat(const QString& text) {
  const auto d = parseDecimal(text);
  if (!d) return std::nullopt;
  if (d->digits.empty()) return d->negative ? -0.0 : 0.0;
  const std::string c = (d->negative ? "-" : "") + d->digits + "e" + std::to_string(d->exponent);
  errno = 0;
  const double value = std::strtod(c.c_str(), nullptr);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

ScaledRead readScaledInt(const QString& text, int scaleDigits, int32_t* out) {
  const auto d = parseDecimal(text);
  if (!d) return ScaledRead::NotANumber;
  if (d->digits.empty()) {
    *out = 0;
    return ScaledRead::Ok;
  }
  const long e = d->exponent + scaleDigits;
  const long length = long(d->digits.size());
  // Digits before the decimal point of the scaled value.
  const long integerLength = length + e;
  if (integerLength > 10) return ScaledRead::OutOfRange;

  long long magnitude = 0;
  if (e >= 0) {
    for (char c : d->digits) magnitude = magnitude * 10 + (c - '0');
    for (long k = 0; k < e; ++k) magnitude *= 10;
  } else if (integerLength >= 0) {
    for (long k = 0; k < integerLength; ++k) magnitude = magnitude * 10 + (d->digits[size_t(k)] - '0');
    // The first dropped digit decides; a 5 with nothing after it is a tie.
    const char first = integerLength < length ? d->digits[size_t(integerLength)] : '0';
    const bool restNonZero =
        integerLength + 1 < length &&
        d->digits.find_first_not_of('0', size_t(integerLength + 1)) != std::string::npos;
    if (first > '5' || (first == '5' && (restNonZero || (magnitude % 2) != 0))) ++magnitude;
  }  // else below 0,1: rounds to 0

  const long long value = d->negative ? -magnitude : magnitude;
  if (value > INT32_MAX || value < INT32_MIN) return ScaledRead::OutOfRange;
  *out = int32_t(value);
  return ScaledRead::Ok;
}

std::optional<int32_t> readInt(const QString& text) {
  const QString t = text.trimmed();
  qsizetype i = 0;
  bool negative = false;
  if (i < t.size() && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-'))) {
    negative = t.at(i) == QLatin1Char('-');
    ++i;
  }
  if (i == t.size()) return std::nullopt;
  long long value = 0;
  for (; i < t.size(); ++i) {
    const QChar c = t.at(i);
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return int32_t(value);
}

QString numberText(double value) { return plainForm(value); }

QString notAFloatText(const QString& text) {
  return QStringLiteral("'%1' is not a valid floating point value").arg(text);
}

QString rangeErrorText() { return QStringLiteral("Range check error"); }
