#include "platform/win32/wide_path.h"

#include <windows.h>

#include "platform/utf.h"

namespace qs::platform {

namespace {

// Below this length the plain form reaches every file and folder.
constexpr std::size_t kLongPathFrom = MAX_PATH - 12;

}  // namespace

std::wstring WideText(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::wstring WidePath(std::string_view utf8Path) {
  std::wstring path = WideText(utf8Path);
  if (path.size() < kLongPathFrom || path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\"))
    return path;
  // The prefix turns off the system's own tidying of the path (relative parts, "/", "." and
  // ".."), which GetFullPathNameW does first; it has no length limit of its own.
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD n = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (n == 0 || n >= size) return path;
  full.resize(n);
  if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string Utf8FromWide(std::wstring_view text) {
  return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace qs::platform
