// Conversions between UTF-16 (the unit of Windows texts and of the comment logic) and UTF-8 (the
// ANSI code page of this platform and the encoding of file names and extended attributes).
#pragma once

#include <string>
#include <string_view>

namespace qs::platform {

// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// A byte sequence that is not valid UTF-8 becomes one U+FFFD per offending byte.
std::u16string Utf8ToUtf16(std::string_view text);

// Decodes UTF-16LE bytes; a last odd byte is ignored.
std::u16string Utf16LeBytesToText(std::string_view bytes);

}  // namespace qs::platform
