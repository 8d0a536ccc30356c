// Paths and names between the program, which keeps every text in UTF-8 as on Linux, and the wide
// (W) calls of Windows, which take any name whatever the ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace qs::platform {

// The wide form of a UTF-8 path for CreateFileW and the like. A path too long for the plain form
// (MAX_PATH, 260 characters with its end, less the 12 that folder calls keep for a file name) is
// made absolute and given the "\\?\" prefix ("\\?\UNC\" for a UNC path), which lifts the limit;
// a path that already has a "\\?\" or "\\.\" prefix is left as it is.
std::wstring WidePath(std::string_view utf8Path);

// A UTF-8 text (a name, not a path) in the wide form.
std::wstring WideText(std::string_view utf8);

// UTF-16 from the system, as UTF-8.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace qs::platform
