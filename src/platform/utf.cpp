#include "platform/utf.h"

#include <cstdint>

namespace qs::platform {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The lone surrogates that carry a byte of a sequence that is not UTF-8.
constexpr char16_t kEscapeBase = 0xDC00;
bool IsEscapedByte(char16_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

std::string EncodeUtf8(std::u16string_view text, bool lossless) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (lossless && IsEscapedByte(u)) {
      out.push_back(static_cast<char>(u - kEscapeBase));
    } else if (IsHigh(u) || IsLow(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::u16string DecodeUtf8(std::string_view text, bool lossless) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    char32_t c = 0;
    std::size_t len = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      len = 2;
      min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      len = 3;
      min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      len = 4;
      min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ok = false;
      } else {
        c = (c << 6) | (s[i + k] & 0x3F);
      }
    }
    if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (!ok) {
      // b is never ASCII here: an ASCII byte is always a whole character.
      out.push_back(lossless ? static_cast<char16_t>(kEscapeBase + b) : u'\uFFFD');
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) { return EncodeUtf8(text, false); }

std::u16string Utf8ToUtf16(std::string_view text) { return DecodeUtf8(text, false); }

std::u16string Utf8ToUtf16Lossless(std::string_view bytes) { return DecodeUtf8(bytes, true); }

std::string Utf16ToUtf8Lossless(std::u16string_view text) { return EncodeUtf8(text, true); }

std::u16string Utf16LeBytesToText(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return out;
}

}  // namespace qs::platform
