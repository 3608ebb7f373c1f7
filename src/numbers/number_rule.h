#pragma once

#include <QString>

namespace rava {

// The numeric value of a typed entry: blanks anywhere are ignored; then an
// optional sign, digits with at most one decimal point and an optional
// exponent (E or D, optional sign, digits) form a decimal number; "&H" with
// hexadecimal digits or "&O" with octal digits form a whole number instead.
// Reading stops at the first character that cannot continue the number; a
// text with no leading number is 0.
double leadingNumber(const QString& text);

// Nearest whole number, a value exactly halfway going to the even neighbour.
double roundHalfEven(double value);

// True when the last character is one of "a" to "z" (codes 97 to 122 only).
bool endsWithLowercaseLetter(const QString& text);

} // namespace rava
