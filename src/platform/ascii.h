// Letter case of ASCII letters only. Names in logs and settings files are byte strings (UTF-8 on
// this platform); a byte of a multi-byte character never falls in the ASCII range, so folding
// A-Z against a-z leaves every other character to match exactly, whatever the locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace qs::platform {

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether a and b are the same text without regard to the case of ASCII letters.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace qs::platform
