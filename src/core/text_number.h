// The text-to-number rule of the settings file and of the settings dialogs.
#pragma once

#include <string_view>

namespace qs {

// The number at the start of `text`:
// - blanks, tabs and line feeds are ignored wherever they stand ("1 5" reads 15);
// - then an optional sign, decimal digits, an optional decimal point with more digits and an
//   optional exponent (E or D in either case, an optional sign, digits);
// - or "&H" followed by hexadecimal digits, "&O" by octal digits (either case), read as a
//   non-negative integer;
// - reading stops at the first character that cannot continue the number; no leading number
//   gives 0.
// Never fails: twenty digits or more give the nearest double, a number beyond the range of a
// double gives an infinity of its sign, one too small gives 0.
double TextToNumber(std::string_view text);

// The nearest whole number, a tie going to the even neighbour (2.5 gives 2, 3.5 gives 4, -2.5
// gives -2). Infinities and NaN are returned unchanged.
double RoundHalfEven(double value);

}  // namespace qs
