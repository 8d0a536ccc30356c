#include "platform/formats/samba_audit_line.h"

#include <array>

namespace qs::platform::samba_audit {

namespace {

// Access rights that let a client change a file's contents.
constexpr std::uint32_t kFileWriteData = 0x2;
constexpr std::uint32_t kFileAppendData = 0x4;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kWritingAccess =
    kFileWriteData | kFileAppendData | kGenericAll | kGenericWrite;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly `count` digits at `at`, as a number; -1 when they are not there.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ValidTime(const CivilTime& t) {
  static constexpr std::array<int, 12> kDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > kDays[t.month - 1]) return false;
  if (t.year != 0 && t.month == 2 && t.day == 29 && !LeapYear(t.year)) return false;
  return t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
         t.second < 61;
}

// "HH:MM:SS" at `at`.
bool ClockAt(std::string_view text, std::size_t at, CivilTime& t) {
  t.hour = Digits(text, at, 2);
  t.minute = Digits(text, at + 3, 2);
  t.second = Digits(text, at + 6, 2);
  return t.hour >= 0 && t.minute >= 0 && t.second >= 0 && text[at + 2] == ':' &&
         text[at + 5] == ':';
}

// The message after a syslog line's host and tag: "host tag: message" or "host tag[pid]: ...".
bool AfterTag(std::string_view rest, std::string_view& message) {
  const std::size_t host = rest.find(' ');
  if (host == std::string_view::npos || host == 0) return false;
  const std::size_t colon = rest.find(": ", host + 1);
  if (colon == std::string_view::npos) return false;
  const std::string_view tag = rest.substr(host + 1, colon - host - 1);
  if (tag.empty() || tag.find(' ') != std::string_view::npos) return false;
  message = rest.substr(colon + 2);
  return true;
}

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// An absolute path that a record can hold, of a file rather than one of its named streams.
bool UsablePath(std::string_view path) {
  if (path.size() < 2 || path[0] != '/') return false;
  for (char c : path)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  // SMB clients cannot put a colon into a name: in the last component it names a stream.
  const std::string_view last = path.substr(path.rfind('/') + 1);
  return !last.empty() && last.find(':') == std::string_view::npos;
}

std::optional<std::uint32_t> HexNumber(std::string_view text) {
  if (!text.starts_with("0x") || text.size() < 3 || text.size() > 10) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text.substr(2)) {
    int digit;
    if (IsDigit(c)) {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// The prefix's user and the first field after it that is a number (%d, the smbd serving the
// connection).
bool ReadPrefix(std::string_view prefix, Operation& op) {
  op.prefix = prefix;
  const std::size_t bar = prefix.find('|');
  op.user = prefix.substr(0, bar);
  if (op.user.empty()) return false;
  std::size_t at = bar;
  while (at != std::string_view::npos) {
    const std::size_t end = prefix.find('|', at + 1);
    const std::string_view field = prefix.substr(
        at + 1, end == std::string_view::npos ? std::string_view::npos : end - at - 1);
    if (!field.empty() && field.size() <= 9) {
      std::uint32_t value = 0;
      bool number = true;
      for (char c : field) {
        if (!IsDigit(c)) {
          number = false;
          break;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
      }
      if (number) {
        op.pid = value;
        return true;
      }
    }
    at = end;
  }
  return true;
}

}  // namespace

std::optional<std::int64_t> UtcSeconds(const CivilTime& t) {
  if (t.year < 1 || !ValidTime(t)) return std::nullopt;
  const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second - t.utcOffset.value_or(0);
}

std::optional<CivilTime> ParseDebugHeader(std::string_view line, std::string_view& rest) {
  // [YYYY/MM/DD HH:MM:SS
  if (line.size() < 21 || line[0] != '[' || line[5] != '/' || line[8] != '/' || line[11] != ' ')
    return std::nullopt;
  CivilTime t;
  t.year = Digits(line, 1, 4);
  t.month = Digits(line, 6, 2);
  t.day = Digits(line, 9, 2);
  if (t.year < 0 || t.month < 0 || t.day < 0 || !ClockAt(line, 12, t)) return std::nullopt;
  const std::size_t close = line.find(']', 20);
  if (close == std::string_view::npos) return std::nullopt;
  rest = line.substr(close + 1);
  if (rest.starts_with(' ')) rest.remove_prefix(1);
  return t;
}

std::optional<CivilTime> ParseSyslogLine(std::string_view line, std::string_view& message) {
  CivilTime t;
  if (line.size() > 20 && IsDigit(line[0])) {
    // 2026-12-11T15:25:51[.ffffff](Z|+01:00)
    t.year = Digits(line, 0, 4);
    t.month = Digits(line, 5, 2);
    t.day = Digits(line, 8, 2);
    if (t.year < 0 || t.month < 0 || t.day < 0 || line[4] != '-' || line[7] != '-' ||
        line[10] != 'T' || !ClockAt(line, 11, t))
      return std::nullopt;
    std::size_t at = 19;
    if (at < line.size() && line[at] == '.') {
      ++at;
      while (at < line.size() && IsDigit(line[at])) ++at;
    }
    if (at < line.size() && line[at] == 'Z') {
      t.utcOffset = 0;
      ++at;
    } else if (at + 6 <= line.size() && (line[at] == '+' || line[at] == '-') &&
               line[at + 3] == ':') {
      const int hours = Digits(line, at + 1, 2);
      const int minutes = Digits(line, at + 4, 2);
      if (hours < 0 || minutes < 0 || hours > 23 || minutes > 59) return std::nullopt;
      t.utcOffset = (line[at] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
      at += 6;
    } else {
      return std::nullopt;
    }
    if (at >= line.size() || line[at] != ' ') return std::nullopt;
    if (!AfterTag(line.substr(at + 1), message)) return std::nullopt;
    return t;
  }
  // Dec 11 15:25:51 (the day padded with a space)
  if (line.size() < 16 || line[3] != ' ' || line[6] != ' ' || line[15] != ' ') return std::nullopt;
  t.month = 0;
  for (std::size_t m = 0; m < kMonths.size(); ++m)
    if (line.substr(0, 3) == kMonths[m]) t.month = static_cast<int>(m) + 1;
  t.day = line[4] == ' ' ? Digits(line, 5, 1) : Digits(line, 4, 2);
  if (t.month == 0 || t.day < 0 || !ClockAt(line, 7, t)) return std::nullopt;
  if (!AfterTag(line.substr(16), message)) return std::nullopt;
  return t;
}

std::optional<Operation> ParseMessage(std::string_view message) {
  static constexpr std::string_view kCreate = "|create_file|ok|";
  static constexpr std::string_view kRename = "|renameat|ok|";
  // Most lines are other operations (the share's folder opened for reading, again and again):
  // one walk over the field separators finds the first of the two that count, if any.
  std::size_t create = std::string_view::npos, rename = std::string_view::npos;
  for (std::size_t bar = message.find('|'); bar != std::string_view::npos;
       bar = message.find('|', bar + 1)) {
    const std::string_view from = message.substr(bar);
    if (from.starts_with(kCreate)) {
      create = bar;
      break;
    }
    if (from.starts_with(kRename)) {
      rename = bar;
      break;
    }
  }
  if (create == std::string_view::npos && rename == std::string_view::npos) return std::nullopt;
  Operation op;
  if (create != std::string_view::npos && (rename == std::string_view::npos || create < rename)) {
    if (!ReadPrefix(message.substr(0, create), op)) return std::nullopt;
    // ACCESS|file|DISPOSITION|PATH
    std::string_view args = message.substr(create + kCreate.size());
    const std::size_t a = args.find('|');
    if (a == std::string_view::npos) return std::nullopt;
    const auto access = HexNumber(args.substr(0, a));
    if (!access) return std::nullopt;
    args.remove_prefix(a + 1);
    if (!args.starts_with("file|")) return std::nullopt;
    args.remove_prefix(5);
    const std::size_t d = args.find('|');
    if (d == std::string_view::npos) return std::nullopt;
    const std::string_view disposition = args.substr(0, d);
    const bool truncates =
        disposition == "supersede" || disposition == "overwrite" || disposition == "overwrite_if";
    if (!truncates && (*access & kWritingAccess) == 0) return std::nullopt;
    op.path = args.substr(d + 1);
    if (!UsablePath(op.path)) return std::nullopt;
    return op;
  }
  if (!ReadPrefix(message.substr(0, rename), op)) return std::nullopt;
  // FROM|TO, both absolute: the only "|/" is where one ends and the other begins.
  const std::string_view args = message.substr(rename + kRename.size());
  const std::size_t split = args.find("|/");
  if (split == std::string_view::npos || args.find("|/", split + 1) != std::string_view::npos)
    return std::nullopt;
  op.rename = true;
  op.renamedFrom = args.substr(0, split);
  op.path = args.substr(split + 1);
  if (!UsablePath(op.renamedFrom) || !UsablePath(op.path) || op.path == op.renamedFrom)
    return std::nullopt;
  return op;
}

}  // namespace qs::platform::samba_audit
