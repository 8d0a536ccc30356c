// The INI rules on a file's content held in memory, for a platform without the Windows profile
// functions. The rules are told in platform/profile.h; this file keeps the byte offsets of every
// line so that a write can change one line and copy every other byte unchanged.
#include "platform/formats/ini_rules.h"

#include <optional>
#include <unordered_set>

#include "platform/ascii.h"
#include "platform/utf.h"

namespace qs::platform {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

enum class LineKind { Other, Header, Key };

struct Line {
  std::size_t begin = 0;    // first byte of the line
  std::size_t textEnd = 0;  // end of its text, before CR LF or LF
  std::size_t next = 0;     // first byte of the next line
  LineKind kind = LineKind::Other;
  std::string_view name;        // section or key name, trimmed
  std::size_t afterEquals = 0;  // Key: first byte after the "="
};

// Hashing and comparing names as the rules match them, without regard to the case of ASCII
// letters.
struct NoCaseHash {
  std::size_t operator()(std::string_view s) const {
    std::size_t h = 14695981039346656037ull;  // FNV-1a
    for (const char c : s) {
      h ^= static_cast<unsigned char>(AsciiLower(c));
      h *= 1099511628211ull;
    }
    return h;
  }
};
struct NoCaseEqual {
  bool operator()(std::string_view a, std::string_view b) const { return EqualsNoCase(a, b); }
};

// The line that starts at `pos` (pos < content.size()).
Line LineAt(std::string_view content, std::size_t pos) {
  Line line;
  line.begin = pos;
  // A line ends in CR LF, LF, or CR alone (as some editors save a file), as the system's reader
  // ends it: a CR never stays inside a name or a value.
  // A plain loop: find_first_of looks each byte up in the set of two, which made the sweep of a
  // huge file several times slower.
  std::size_t end = pos;
  while (end < content.size() && content[end] != '\n' && content[end] != '\r') ++end;
  if (end == content.size()) end = std::string_view::npos;
  line.textEnd = (end == std::string_view::npos) ? content.size() : end;
  line.next = (end == std::string_view::npos)           ? content.size()
              : content.substr(end).starts_with("\r\n") ? end + 2
                                                        : end + 1;

  const std::string_view text = content.substr(pos, line.textEnd - pos);
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first != std::string_view::npos) {
    const std::size_t close = text[first] == '[' ? text.rfind(']') : std::string_view::npos;
    const std::size_t equals = text.find('=');
    if (text[first] == '[' && close != std::string_view::npos && close > first) {
      line.kind = LineKind::Header;
      line.name = Trim(text.substr(first + 1, close - first - 1));
    } else if (text[first] != ';' && equals != std::string_view::npos) {
      const std::string_view name = Trim(text.substr(0, equals));
      if (!name.empty()) {
        line.kind = LineKind::Key;
        line.name = name;
        line.afterEquals = pos + equals + 1;
      }
    }
  }
  return line;
}

std::size_t FirstLineStart(std::string_view content) {
  return content.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
}

std::vector<Line> ParseLines(std::string_view content) {
  std::vector<Line> lines;
  for (std::size_t pos = FirstLineStart(content); pos < content.size();) {
    lines.push_back(LineAt(content, pos));
    pos = lines.back().next;
  }
  return lines;
}

// Calls `onKey` with each key line of the first section named `section`, in file order, until it
// returns false. A read goes through the file once and keeps no table of its lines, so that a
// huge file costs the time of one sweep and no memory per line.
template <typename OnKey>
void ForEachKeyOfSection(std::string_view content, std::string_view section, OnKey onKey) {
  bool inSection = false;
  for (std::size_t pos = FirstLineStart(content); pos < content.size();) {
    const Line line = LineAt(content, pos);
    pos = line.next;
    if (line.kind == LineKind::Header) {
      if (inSection) return;  // only the first section of the name counts
      inSection = EqualsNoCase(line.name, section);
    } else if (inSection && line.kind == LineKind::Key && !onKey(line)) {
      return;
    }
  }
}

// The index range [first, last) of the lines of the first section named `section` (the header
// excluded), or nullopt. `header` receives the header's index.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const std::vector<Line>& lines,
                                                               std::string_view section,
                                                               std::size_t* header = nullptr) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::Header || !EqualsNoCase(lines[i].name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && lines[end].kind != LineKind::Header) ++end;
    if (header) *header = i;
    return std::pair{i + 1, end};
  }
  return std::nullopt;
}

std::string ValueOf(std::string_view content, const Line& line, std::size_t maxLength) {
  std::string_view value = content.substr(line.afterEquals, line.textEnd - line.afterEquals);
  value = value.substr(0, value.find('\0'));
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, maxLength));
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool ValidNames(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view trimmedSection = Trim(section);
  const std::string_view trimmedKey = Trim(key);
  if (trimmedSection.empty() || trimmedKey.empty()) return false;
  if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value))
    return false;
  if (section.find(']') != std::string_view::npos) return false;
  if (key.find('=') != std::string_view::npos) return false;
  if (trimmedKey.front() == '[' || trimmedKey.front() == ';') return false;
  return true;
}

// The file's content with the key set.
std::string WithKey(std::string_view content, std::string_view section, std::string_view key,
                    std::string_view value) {
  const std::vector<Line> lines = ParseLines(content);
  // The ending of the file's first line; LF for a file of one line or none.
  const std::size_t end = content.find_first_of("\r\n");
  const std::string eol = end == std::string::npos                  ? "\n"
                          : content.substr(end).starts_with("\r\n") ? "\r\n"
                                                                    : std::string(1, content[end]);
  const std::string keyLine = std::string(key) + "=" + std::string(value);

  std::size_t header = 0;
  const auto range = FindSection(lines, section, &header);
  if (!range) {
    std::string out(content);
    const std::size_t bom = content.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    if (out.size() > bom && out.back() != eol.back()) out += eol;
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "[" + std::string(...).
    out.append("[").append(section).append("]").append(eol).append(keyLine).append(eol);
    return out;
  }

  std::size_t lastKey = header;
  for (std::size_t i = range->first; i < range->second; ++i) {
    if (lines[i].kind != LineKind::Key) continue;
    if (EqualsNoCase(lines[i].name, key)) {
      // Keep the name as spelled, the "=" and any blanks after it, and the line ending.
      std::size_t valueStart = lines[i].afterEquals;
      while (valueStart < lines[i].textEnd &&
             (content[valueStart] == ' ' || content[valueStart] == '\t')) {
        ++valueStart;
      }
      std::string out(content.substr(0, valueStart));
      out += value;
      out += content.substr(lines[i].textEnd);
      return out;
    }
    lastKey = i;
  }

  const Line& after = lines[lastKey];
  if (after.next == content.size() && content.back() != eol.back()) {
    // The last line of the file, without a line ending.
    return std::string(content) + eol + keyLine;
  }
  std::string out(content.substr(0, after.next));
  out += keyLine + eol;
  out += content.substr(after.next);
  return out;
}

// A file saved as UTF-16LE (its byte-order mark first, as a Windows editor saves "Unicode") is read
// as the same text in UTF-8; any other content is read as it is.
std::string_view ReadableText(std::string_view content, std::string& decoded) {
  if (!content.starts_with(kUtf16LeBom)) return content;
  decoded = Utf16ToUtf8(Utf16LeBytesToText(content.substr(kUtf16LeBom.size())));
  return decoded;
}

}  // namespace

std::string ProfileStringIn(std::string_view content, std::string_view section,
                            std::string_view key, std::string_view defaultValue,
                            std::size_t maxLength) {
  std::string decoded;
  content = ReadableText(content, decoded);
  // The names asked for match as the file's names do, without blanks around them.
  section = Trim(section);
  key = Trim(key);
  std::optional<std::string> value;
  ForEachKeyOfSection(content, section, [&](const Line& line) {
    if (!EqualsNoCase(line.name, key)) return true;
    value = ValueOf(content, line, maxLength);
    return false;
  });
  if (value) return *std::move(value);
  return std::string(defaultValue.substr(0, maxLength));
}

std::optional<std::string> ProfileWithKey(std::string_view content, std::string_view section,
                                          std::string_view key, std::string_view value) {
  if (!ValidNames(section, key, value)) return std::nullopt;
  if (content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF")) return std::nullopt;
  return WithKey(content, Trim(section), Trim(key), value);
}

std::vector<std::pair<std::string, std::string>> ProfileSectionIn(std::string_view content,
                                                                  std::string_view section,
                                                                  std::size_t maxLength) {
  std::vector<std::pair<std::string, std::string>> keys;
  std::string decoded;
  content = ReadableText(content, decoded);
  // The names taken so far, compared without regard to case: a section of many keys is read in
  // one sweep, not by comparing each key with all the ones before it.
  std::unordered_set<std::string_view, NoCaseHash, NoCaseEqual> seen;
  ForEachKeyOfSection(content, Trim(section), [&](const Line& line) {
    if (seen.insert(line.name).second) {
      keys.emplace_back(std::string(line.name), ValueOf(content, line, maxLength));
    }
    return true;
  });
  return keys;
}

bool ProfileNamesValid(std::string_view section, std::string_view key, std::string_view value) {
  return ValidNames(section, key, value);
}

}  // namespace qs::platform
