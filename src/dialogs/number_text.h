#pragma once
// Numbers typed into the settings dialogs. A text is read as the desktop's
// number conversion reads it: optional spaces and sign, digits with the
// locale's decimal separator, an optional exponent. Values scaled to integers
// are rounded exactly on the decimal digits typed, ties to the even neighbour,
// so 1500,5 gives 1500 and 1501,5 gives 1502 without binary rounding noise.

#include <QString>
#include <cstdint>
#include <optional>

// The decimal separator of seams::locale().
QChar decimalSeparator();

// The number `text` reads as; nullopt when it is not a number (or too large
// for a double).
std::optional<double> readFloat(const QString& text);

enum class ScaledRead { Ok, NotANumber, OutOfRange };
// `text` x 10^scaleDigits rounded to the nearest integer, ties to even. Values
// outside the 32-bit range give OutOfRange and leave `out` alone.
ScaledRead readScaledInt(const QString& text, int scaleDigits, int32_t* out);

// The integer `text` reads as (spaces around it and a sign allowed); nullopt
// for anything else, a fraction or a value outside 32 bits included.
std::optional<int32_t> readInt(const QString& text);

// The shortest text of a number with the locale's separator: 11,8  0,833  1000.
QString numberText(double value);

// The texts of the conversion errors.
QString notAFloatText(const QString& text);  // '%s' is not a valid floating point value
QString rangeErrorText();                    // Range check error
