#include "scan/record_decoder.h"

#include "platform/ascii.h"
#include "platform/eventlog_record.h"

namespace qs {

namespace {

constexpr std::uint32_t kFileWriteEventId = 560;

// The variable part is read as text in which every zero byte stands for a tab. Rather than copy
// it with the zero bytes replaced, the searches below take both bytes as the separator: the
// codes and "File" hold neither byte, so the results are those of the replaced text.
constexpr std::string_view kSeparators("\t\0", 2);

bool IsSeparator(char c) { return c == '\t' || c == '\0'; }

// The first "File" directly followed by a separator.
std::size_t FindFileType(std::string_view text) {
  constexpr std::string_view kFile = "File";
  for (std::size_t pos = text.find(kFile); pos != std::string_view::npos;
       pos = text.find(kFile, pos + 1)) {
    const std::size_t after = pos + kFile.size();
    if (after < text.size() && IsSeparator(text[after])) return pos;
  }
  return std::string_view::npos;
}

// Field `number` (from 1) of `text`: the text between the (number-1)-th and the number-th
// separator. Empty when `text` holds fewer than `number` separators.
std::string_view Field(std::string_view text, int number) {
  std::size_t start = 0;
  for (int k = 1; k <= number; ++k) {
    const std::size_t end = text.find_first_of(kSeparators, start);
    if (end == std::string_view::npos) return {};
    if (k == number) return text.substr(start, end - start);
    start = end + 1;
  }
  return {};
}

// User names are compared without regard to letter case.
bool SameAccount(std::string_view a, std::string_view b) { return platform::EqualsNoCase(a, b); }

// The key of a (user, file) pair among the events taken in one second. Where the log names the
// file's identity it is part of the file: a second save of the same name within the second (a
// new file renamed over it) is another file, while the repeated opens of one file are not.
std::string TakenKey(std::string_view user, std::string_view file,
                     const std::optional<platform::FileIdentity>& identity) {
  std::string key;
  key.reserve(user.size() + 1 + file.size() + 1 + platform::kFileIdentityDataSize);
  for (char c : user) key.push_back(platform::AsciiUpper(c));
  key.push_back('\0');  // neither a user nor a path of a record holds one
  key.append(file);
  if (identity) {
    key.push_back('\0');
    for (std::uint8_t b : platform::FileIdentityData(*identity))
      key.push_back(static_cast<char>(b));
  }
  return key;
}

}  // namespace

DecodeOutcome DecodeRecord(const std::uint8_t* record, std::size_t size, TakenEvents& taken,
                           const SelectionContext& context, CurrentEvent& current) {
  if (record == nullptr || size < platform::kFixedRecordSize) return DecodeOutcome::NotSelected;
  if (platform::ReadU32(record + platform::record_offset::kEventId) != kFileWriteEventId) {
    return DecodeOutcome::NotSelected;
  }

  // Length bounds the variable part, but never beyond what was actually read.
  std::size_t length = platform::ReadU32(record + platform::record_offset::kLength);
  if (length < platform::kFixedRecordSize || length > size) length = size;
  const std::string_view text(
      reinterpret_cast<const char*>(record) + platform::record_offset::kSourceName,
      length - platform::record_offset::kSourceName);

  // The access list runs from the first "%%" to the end; a write needs all four rights.
  const std::size_t accessStart = text.find("%%");
  if (accessStart == std::string_view::npos) return DecodeOutcome::NotSelected;
  const std::string_view access = text.substr(accessStart);
  for (std::string_view code : {"%%4417", "%%4418", "%%4420", "%%4424"}) {
    if (access.find(code) == std::string_view::npos) return DecodeOutcome::NotSelected;
  }

  // The object type "File", then the object name, then the rest of the insertion strings.
  const std::size_t type = FindFileType(text);
  if (type == std::string_view::npos) return DecodeOutcome::NotSelected;
  const std::size_t pathStart = type + 5;
  const std::size_t pathEnd = text.find_first_of(kSeparators, pathStart);
  if (pathEnd == std::string_view::npos || pathEnd == pathStart) return DecodeOutcome::NotSelected;
  const std::string_view path = text.substr(pathStart, pathEnd - pathStart);
  const std::string_view rest = text.substr(pathEnd + 1);

  // The client user, unless no client was impersonated ("-"): then the primary user.
  std::string_view user = Field(rest, 8);
  if (user == "-") user = Field(rest, 5);

  const auto timeWritten =
      static_cast<std::int32_t>(platform::ReadU32(record + platform::record_offset::kTimeWritten));
  // Before anything is taken NewestEventTime is 0 and that second is not new, as no earlier one.
  if (timeWritten < taken.NewestEventTime ||
      (timeWritten == taken.NewestEventTime && taken.inNewestSecond.empty()))
    return DecodeOutcome::NotSelected;
  const std::optional<platform::FileIdentity> identity = platform::RecordFileIdentity(record, size);
  std::string key = TakenKey(user, path, identity);
  if (timeWritten == taken.NewestEventTime) {
    if (taken.inNewestSecond.contains(key)) return DecodeOutcome::NotSelected;
  } else {
    taken.NewestEventTime = timeWritten;
    taken.inNewestSecond.clear();
  }
  taken.inNewestSecond.insert(std::move(key));

  // The program's own writes count as taken but are not handed on.
  if (SameAccount(user, context.OwnAccountName)) return DecodeOutcome::OwnAccount;

  current.dateTime = LocalEventTime(timeWritten, context.TimeZoneBias);
  current.user.assign(user);
  current.file.assign(path);
  current.identity = identity;
  return DecodeOutcome::Selected;
}

}  // namespace qs
