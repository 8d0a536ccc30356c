// The user's date and time formats from GetLocaleInfoW, turned from the system's pictures
// ("dd/MM/yyyy", "HH:mm:ss") into the strftime formats the rest of the program uses.
#include "platform/locale_formats.h"

#include <windows.h>

#include <string_view>

#include "platform/win32/wide_path.h"

namespace qs::platform {

namespace {

// The wide call, so that a picture's quoted text outside the ANSI code page ("yyyy'年'M'月'd'日'")
// comes in UTF-8, the encoding of every text of the program; strftime copies it as it stands.
std::string LocaleText(LCTYPE type) {
  wchar_t buffer[128];
  const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 128);
  return n > 1 ? Utf8FromWide(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)))
               : std::string();
}

// One picture letter repeated `count` times, as a strftime conversion; empty when unknown.
std::string Conversion(char letter, std::size_t count) {
  switch (letter) {
    case 'd':
      return count <= 2 ? "%d" : count == 3 ? "%a" : "%A";
    case 'M':
      return count <= 2 ? "%m" : count == 3 ? "%b" : "%B";
    case 'y':
      return count <= 2 ? "%y" : "%Y";
    case 'h':
      return "%I";
    case 'H':
      return "%H";
    case 'm':
      return "%M";
    case 's':
      return "%S";
    case 't':
      return "%p";
    default:
      return {};
  }
}

std::string ToStrftime(const std::string& picture) {
  std::string out;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {  // quoted literal text
      const std::size_t end = picture.find('\'', i + 1);
      const std::size_t stop = end == std::string::npos ? picture.size() : end;
      for (std::size_t k = i + 1; k < stop; ++k)
        out += picture[k] == '%' ? "%%" : std::string(1, picture[k]);
      i = stop + 1;
      continue;
    }
    std::size_t count = 1;
    while (i + count < picture.size() && picture[i + count] == c) ++count;
    const std::string conversion = Conversion(c, count);
    if (!conversion.empty()) {
      out += conversion;
    } else {
      for (std::size_t k = 0; k < count; ++k) out += c == '%' ? "%%" : std::string(1, c);
    }
    i += count;
  }
  return out;
}

}  // namespace

std::string LocaleDateFormat() { return ToStrftime(LocaleText(LOCALE_SSHORTDATE)); }
std::string LocaleTimeFormat() { return ToStrftime(LocaleText(LOCALE_STIMEFORMAT)); }

}  // namespace qs::platform
