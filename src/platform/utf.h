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

// Lossless forms for bytes that are meant to be UTF-8 but need not be: file names, and comments
// that other tools stored. Each byte that is not part of a valid UTF-8 sequence becomes the lone
// low surrogate 0xDC00 + byte (U+DC80 to U+DCFF), which valid UTF-8 can never give, and such a
// surrogate becomes that byte again: any byte string comes back exactly, so a name still opens
// the same file and a comment keeps every byte that the program cannot read. Other unpaired
// surrogates become U+FFFD, as above.
std::u16string Utf8ToUtf16Lossless(std::string_view bytes);
std::string Utf16ToUtf8Lossless(std::u16string_view text);

// Decodes UTF-16LE bytes; a last odd byte is ignored.
std::u16string Utf16LeBytesToText(std::string_view bytes);

}  // namespace qs::platform
