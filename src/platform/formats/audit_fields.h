// The lines and fields of auditd's text format: "node=NODE type=TYPE
// msg=audit(SECONDS.MILLIS:SERIAL): key=value ...", with the ENRICHED fields after a 0x1d byte.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs::platform::audit {

inline constexpr char kEnrichedSeparator = '\x1d';

// The whole of text as a number in base; false for anything else (a sign, blanks, overflow).
template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out, base);
  return ec == std::errc() && p == end;
}

// An id field: stored in `id` when it is a number, else `valid` becomes false.
void ReadId(std::string_view value, std::optional<std::uint32_t>& id, bool& valid);

// A value as auditd writes an untrusted text: "quoted", or hex when it holds a byte below 0x21,
// above 0x7e or a double quote, or (null). Returns nullopt for (null) and for anything malformed.
std::optional<std::string> DecodeText(std::string_view value);

// The name of an id as an ENRICHED field gives it; nullopt when it gives none.
std::optional<std::string> EnrichedName(std::string_view value);

// A text can go into a record only without zero bytes and tabs: the selection rule reads a zero
// byte as a tab and finds its fields by counting tabs.
bool FitsRecord(std::string_view text);

namespace detail {

// What each byte means to the field scanner: a key ends at '=', a blank or the ENRICHED separator,
// a value at a blank or the separator. One table look-up a byte instead of three comparisons: the
// SYSCALL record, read for every event, is some six hundred bytes long.
inline constexpr std::uint8_t kEndsKey = 1;
inline constexpr std::uint8_t kEndsValue = 2;
inline constexpr auto kByteRoles = [] {
  std::array<std::uint8_t, 256> roles{};
  roles[static_cast<unsigned char>('=')] = kEndsKey;
  roles[static_cast<unsigned char>(' ')] = kEndsKey | kEndsValue;
  roles[static_cast<unsigned char>(kEnrichedSeparator)] = kEndsKey | kEndsValue;
  return roles;
}();

inline bool Ends(char c, std::uint8_t role) {
  return (kByteRoles[static_cast<unsigned char>(c)] & role) != 0;
}

// The fields of a body from its start. With kPlainOnly the scan stops at the ENRICHED separator and
// returns where it lies; every field after it is an ENRICHED one, so a reader that wants none of
// those need not tokenise them. Returns the size of the body when it reads to the end.
template <bool kPlainOnly, typename F>
std::size_t ScanFields(std::string_view body, F&& f) {
  const char* const data = body.data();
  const std::size_t n = body.size();
  std::size_t i = 0;
  bool enriched = false;
  while (i < n) {
    const char c = data[i];
    if (c == ' ') {
      ++i;
      continue;
    }
    if (c == kEnrichedSeparator) {
      if constexpr (kPlainOnly) return i;
      enriched = true;
      ++i;
      continue;
    }
    std::size_t k = i;
    while (k < n && !Ends(data[k], kEndsKey)) ++k;
    if (k >= n || data[k] != '=') {  // a word without a value
      i = k;
      continue;
    }
    const std::string_view key(data + i, k - i);
    const std::size_t v = k + 1;
    std::size_t e = v;
    if (v < n && (data[v] == '"' || data[v] == '\'')) {
      const std::size_t close = body.find(data[v], v + 1);
      if (close == std::string_view::npos) return n;  // an unterminated quote ends the record
      e = close + 1;
    } else {
      while (e < n && !Ends(data[e], kEndsValue)) ++e;
    }
    f(key, std::string_view(data + v, e - v), enriched);
    i = e;
  }
  return n;
}

}  // namespace detail

// Calls f(key, value, enriched) for each key=value of a record's body. Values keep their quotes.
template <typename F>
void ForEachField(std::string_view body, F&& f) {
  detail::ScanFields<false>(body, f);
}

// Calls f(key, value) for each field before the ENRICHED separator, the same fields that
// ForEachField gives with enriched false. Returns where the separator lies (the ENRICHED fields
// are then ForEachField(body.substr(returned)), every one of them enriched), or the body's size
// when there is none.
template <typename F>
std::size_t ForEachPlainField(std::string_view body, F&& f) {
  return detail::ScanFields<true>(body,
                                  [&](std::string_view k, std::string_view v, bool) { f(k, v); });
}

// The head of one line.
struct LineHead {
  std::string_view node;
  std::string_view type;
  std::string_view stamp;  // SECONDS.MILLIS:SERIAL
  std::string_view seconds;
  std::string_view serial;
  std::string_view body;
};

// node=NODE type=TYPE msg=audit(SECONDS.MILLIS:SERIAL): BODY. The stamp and the body are read
// only for the types that `wanted` accepts (the rest are of no interest); false when the line is
// malformed as far as it is read.
template <typename Wanted>
bool ParseHead(std::string_view line, LineHead& head, Wanted&& wanted) {
  if (line.starts_with("node=")) {
    const std::size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return false;
    head.node = line.substr(5, sp - 5);
    line.remove_prefix(sp + 1);
  }
  if (!line.starts_with("type=")) return false;
  const std::size_t sp = line.find(' ');
  if (sp == std::string_view::npos) return false;
  head.type = line.substr(5, sp - 5);
  if (!wanted(head.type)) return true;  // a record of no interest: its stamp is not needed
  line.remove_prefix(sp + 1);
  if (!line.starts_with("msg=audit(")) return false;
  line.remove_prefix(10);
  const std::size_t close = line.find(')');
  if (close == std::string_view::npos) return false;
  head.stamp = line.substr(0, close);
  const std::size_t dot = head.stamp.find('.');
  const std::size_t colon = head.stamp.find(':');
  if (dot == std::string_view::npos || colon == std::string_view::npos || colon < dot) return false;
  head.seconds = head.stamp.substr(0, dot);
  head.serial = head.stamp.substr(colon + 1);
  line.remove_prefix(close + 1);
  if (!line.starts_with(":")) return false;
  head.body = line.substr(1);
  return true;
}

}  // namespace qs::platform::audit
