#include "core/text_number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace qs {

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

double ReadRadix(std::string_view digits, int radix) {
  double value = 0;
  for (char c : digits) {
    const int d = DigitValue(c);
    if (d >= radix) break;
    value = value * radix + d;
  }
  return value;
}

// For a decimal text that a double cannot hold: true when it is too large, false when too small.
// Compares the position of its first significant digit, shifted by the exponent, with the
// decimal point.
bool Overflows(std::string_view number) {
  const std::size_t e = number.find('e');
  const std::string_view mantissa = number.substr(0, e);
  long long position = 0;  // digits before the point, or minus the zeros after it
  const std::size_t point = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, point);
  const std::size_t firstNonZero = whole.find_first_not_of('0');
  if (firstNonZero != std::string_view::npos) {
    position = static_cast<long long>(whole.size() - firstNonZero);
  } else if (point != std::string_view::npos) {
    const std::string_view fraction = mantissa.substr(point + 1);
    const std::size_t nonZero = fraction.find_first_not_of('0');
    position = -static_cast<long long>(nonZero == std::string_view::npos ? 0 : nonZero);
  }
  long long exponent = 0;
  if (e != std::string_view::npos) {
    std::size_t i = e + 1;
    const bool negative = i < number.size() && number[i] == '-';
    if (i < number.size() && (number[i] == '-' || number[i] == '+')) ++i;
    for (; i < number.size(); ++i) {
      exponent = exponent * 10 + (number[i] - '0');
      if (exponent > 1'000'000'000) break;  // far beyond any double either way
    }
    if (negative) exponent = -exponent;
  }
  return position + exponent > 0;
}

}  // namespace

double TextToNumber(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') s += c;
  }

  if (s.size() >= 2 && s[0] == '&') {
    if (s[1] == 'H' || s[1] == 'h') return ReadRadix(std::string_view(s).substr(2), 16);
    if (s[1] == 'O' || s[1] == 'o') return ReadRadix(std::string_view(s).substr(2), 8);
    return 0;
  }

  // Collect the longest prefix that has the form of a decimal number, in the form that
  // from_chars reads (no "+", "e" for the exponent).
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::string number;
  bool anyDigit = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') number += s[i++], anyDigit = true;
  if (i < s.size() && s[i] == '.') {
    number += s[i++];
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') number += s[i++], anyDigit = true;
  }
  if (!anyDigit) return 0;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    const std::size_t firstDigit = j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') exponent += s[j++];
    if (j > firstDigit) number += exponent;  // an exponent without digits is not read
  }
  if (number.front() == '.') number.insert(number.begin(), '0');

  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) {
    value = Overflows(number) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc()) {
    value = 0;
  }
  return negative ? -value : value;
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction < 0.5) return below;
  if (fraction > 0.5) return below + 1;
  return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

}  // namespace qs
