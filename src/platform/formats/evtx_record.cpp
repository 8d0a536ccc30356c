#include "platform/formats/evtx_record.h"

#include <algorithm>
#include <cstring>

#include "platform/formats/audit_record.h"

namespace qs::platform::evtx {

namespace {

constexpr std::uint32_t kFileOpenEventId = 560;
constexpr std::uint16_t kObjectAccessCategory = 3;

// The text between `open` and the `close` that follows it, from `from` on.
std::optional<std::string_view> Between(std::string_view text, std::string_view open,
                                        std::string_view close) {
  const std::size_t start = text.find(open);
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t valueStart = start + open.size();
  const std::size_t end = text.find(close, valueStart);
  if (end == std::string_view::npos) return std::nullopt;
  return text.substr(valueStart, end - valueStart);
}

std::optional<std::uint64_t> ParseHex64(std::string_view text) {
  if (!text.starts_with("0x") && !text.starts_with("0X")) return std::nullopt;
  text.remove_prefix(2);
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value << 4 | static_cast<std::uint64_t>(digit);
  }
  return value;
}

// "2019-03-18T14:23:26.981692000Z" as a FILETIME; nullopt for any other text.
std::optional<std::uint64_t> ParseSystemTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS, then an optional fraction, then Z.
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || !text.ends_with('Z')) {
    return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t width) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *year < 1601 || *month < 1 ||
      *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  std::uint64_t ticks = 0;  // the fraction, in 100 ns, to at most seven digits
  std::string_view fraction = text.substr(19, text.size() - 20);
  if (!fraction.empty()) {
    if (fraction[0] != '.' || fraction.size() == 1) return std::nullopt;
    fraction.remove_prefix(1);
    std::uint64_t scale = 1'000'000;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
      if (fraction[i] < '0' || fraction[i] > '9') return std::nullopt;
      if (i < 7) {
        ticks += static_cast<std::uint64_t>(fraction[i] - '0') * scale;
        scale /= 10;
      }
    }
  }
  // Days since 1601-01-01 of a proleptic Gregorian date (the civil-from-days inverse).
  const int y = *year - (*month <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t daysSince0000 = static_cast<std::int64_t>(era) * 146097 + dayOfEra;
  constexpr std::int64_t kDaysTo1601 = 584694;  // 0000-03-01 to 1601-01-01
  const std::int64_t days = daysSince0000 - kDaysTo1601;
  if (days < 0) return std::nullopt;
  const auto seconds = static_cast<std::uint64_t>(days) * 86400 +
                       static_cast<std::uint64_t>(*hour * 3600 + *minute * 60 + *second);
  return seconds * 10'000'000 + ticks;
}

// The Name attribute of every <Data> element of `eventData`; nullopt when one has none.
std::optional<std::vector<std::string>> DataNames(std::string_view eventData) {
  constexpr std::string_view kData = "<Data";
  constexpr std::string_view kName = "Name=\"";
  std::vector<std::string> names;
  for (std::size_t pos = eventData.find(kData); pos != std::string_view::npos;
       pos = eventData.find(kData, pos + kData.size())) {
    const std::size_t after = pos + kData.size();
    // "<DataItem" and the like are other elements.
    if (after >= eventData.size()) return std::nullopt;
    const char next = eventData[after];
    if (next != ' ' && next != '>' && next != '/') continue;
    const std::size_t tagEnd = eventData.find('>', after);
    if (tagEnd == std::string_view::npos) return std::nullopt;
    const std::string_view tag = eventData.substr(after, tagEnd - after);
    const std::size_t name = tag.find(kName);
    if (name == std::string_view::npos) return std::nullopt;
    const std::size_t nameEnd = tag.find('"', name + kName.size());
    if (nameEnd == std::string_view::npos) return std::nullopt;
    names.emplace_back(tag.substr(name + kName.size(), nameEnd - name - kName.size()));
  }
  return names;
}

// At most `maxDigits` decimal digits and nothing else.
std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// The reading of a rendered event below is no general XML parser: it knows elements, attributes
// in either quote, character references, comments, processing instructions and CDATA sections,
// which is all that a rendered event can hold, and takes anything else as not well formed.

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Appends `raw` with its five predefined entities and its numeric character references replaced
// by what they stand for; false on a reference that is none of these, or a bare '<'.
bool AppendDecoded(std::string_view raw, std::string& out) {
  std::size_t i = 0;
  while (i < raw.size()) {
    const std::size_t special = raw.find_first_of("&<", i);
    out.append(raw.substr(i, special - i));
    if (special == std::string_view::npos) return true;
    if (raw[special] == '<') return false;
    const std::size_t semicolon = raw.find(';', special + 1);
    if (semicolon == std::string_view::npos || semicolon - special > 12) return false;
    std::string_view ref = raw.substr(special + 1, semicolon - special - 1);
    if (ref == "lt") {
      out.push_back('<');
    } else if (ref == "gt") {
      out.push_back('>');
    } else if (ref == "amp") {
      out.push_back('&');
    } else if (ref == "quot") {
      out.push_back('"');
    } else if (ref == "apos") {
      out.push_back('\'');
    } else if (ref.starts_with('#')) {
      ref.remove_prefix(1);
      const bool hex = ref.starts_with('x');
      if (hex) ref.remove_prefix(1);
      if (ref.empty() || ref.size() > 8) return false;
      std::uint32_t code = 0;
      for (char c : ref) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
          digit = static_cast<std::uint32_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
          digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
          digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
          return false;
        }
        code = code * (hex ? 16 : 10) + digit;
      }
      // No character zero, no surrogate halves, nothing beyond Unicode.
      if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
      AppendUtf8(out, code);
    } else {
      return false;
    }
    i = semicolon + 1;
  }
  return true;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of attribute `wanted` among a tag's `attributes`: nullopt inside when the tag has no
// such attribute; false when the attributes are not well formed.
bool FindAttribute(std::string_view attributes, std::string_view wanted,
                   std::optional<std::string>& value) {
  value.reset();
  std::size_t i = 0;
  while (true) {
    while (i < attributes.size() && IsXmlSpace(attributes[i])) ++i;
    if (i == attributes.size()) return true;
    const std::size_t nameStart = i;
    while (i < attributes.size() && attributes[i] != '=' && !IsXmlSpace(attributes[i])) ++i;
    const std::string_view name = attributes.substr(nameStart, i - nameStart);
    while (i < attributes.size() && IsXmlSpace(attributes[i])) ++i;
    if (name.empty() || i == attributes.size() || attributes[i] != '=') return false;
    ++i;
    while (i < attributes.size() && IsXmlSpace(attributes[i])) ++i;
    if (i == attributes.size() || (attributes[i] != '"' && attributes[i] != '\'')) return false;
    const char quote = attributes[i++];
    const std::size_t end = attributes.find(quote, i);
    if (end == std::string_view::npos) return false;
    std::string decoded;
    if (!AppendDecoded(attributes.substr(i, end - i), decoded)) return false;
    if (name == wanted) value = std::move(decoded);
    i = end + 1;
  }
}

// Where the tag that begins at `open` (its '<') ends (its '>'), skipping quoted attribute values.
std::size_t TagEnd(std::string_view xml, std::size_t open) {
  char quote = 0;
  for (std::size_t i = open + 1; i < xml.size(); ++i) {
    const char c = xml[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    } else if (c == '<') {
      return std::string_view::npos;
    }
  }
  return std::string_view::npos;
}

// What one pass over a rendered event gathers, before the required parts are checked.
class RenderedEvent {
 public:
  bool Read(std::string_view xml) {
    std::size_t pos = 0;
    bool rootSeen = false;
    while (pos < xml.size()) {
      const std::size_t lt = xml.find('<', pos);
      const std::string_view between = xml.substr(pos, lt - pos);
      if (open_.empty()) {
        // Outside the root element only white space.
        if (!std::all_of(between.begin(), between.end(), IsXmlSpace)) return false;
      } else if (!AppendDecoded(between, text_)) {
        return false;
      }
      if (lt == std::string_view::npos) break;
      const std::string_view rest = xml.substr(lt);
      if (rest.starts_with("<?") || rest.starts_with("<!--")) {
        const std::string_view close = rest.starts_with("<?") ? "?>" : "-->";
        const std::size_t end = xml.find(close, lt + 2);
        if (end == std::string_view::npos) return false;
        pos = end + close.size();
        continue;
      }
      if (rest.starts_with("<![CDATA[")) {
        const std::size_t end = xml.find("]]>", lt + 9);
        if (end == std::string_view::npos || open_.empty()) return false;
        text_.append(xml.substr(lt + 9, end - lt - 9));
        pos = end + 3;
        continue;
      }
      if (rest.starts_with("<!")) return false;  // a document type: never part of an event
      const std::size_t gt = TagEnd(xml, lt);
      if (gt == std::string_view::npos) return false;
      std::string_view tag = xml.substr(lt + 1, gt - lt - 1);
      pos = gt + 1;
      if (tag.starts_with('/')) {
        tag.remove_prefix(1);
        while (!tag.empty() && IsXmlSpace(tag.back())) tag.remove_suffix(1);
        if (open_.empty() || open_.back().name != tag) return false;
        End();
        continue;
      }
      const bool empty = tag.ends_with('/');
      if (empty) tag.remove_suffix(1);
      std::size_t nameEnd = 0;
      while (nameEnd < tag.size() && !IsXmlSpace(tag[nameEnd])) ++nameEnd;
      const std::string_view name = tag.substr(0, nameEnd);
      if (name.empty() || name.find_first_of("<>&=\"'/") != std::string_view::npos) return false;
      if (open_.empty()) {
        // One root element, the event.
        if (rootSeen || name != "Event") return false;
        rootSeen = true;
      }
      if (!Start(name, tag.substr(nameEnd))) return false;
      if (empty) End();
    }
    return rootSeen && open_.empty();
  }

  std::optional<std::string> eventId, keywords, recordId, systemTime, computer, provider;
  bool eventData = false;
  bool userData = false;
  bool allNamed = true;
  std::vector<std::string> strings;
  std::vector<std::string> names;

 private:
  struct Open {
    std::string_view name;
    bool hasChild = false;
  };

  bool Start(std::string_view name, std::string_view attributes) {
    if (!open_.empty()) open_.back().hasChild = true;
    const std::size_t depth = open_.size();
    std::optional<std::string> value;
    // The attributes are read, for their well-formedness, only where a fact is taken from one.
    if (depth == 2 && open_[1].name == "System") {
      if (name == "TimeCreated") {
        if (!FindAttribute(attributes, "SystemTime", value)) return false;
        systemTime = std::move(value);
      } else if (name == "Provider") {
        if (!FindAttribute(attributes, "Name", value)) return false;
        provider = std::move(value);
      }
    } else if (depth == 1 && name == "EventData") {
      eventData = true;
    } else if (depth == 1 && name == "UserData") {
      userData = true;
    } else if (depth == 2 && open_[1].name == "EventData" && name == "Data") {
      if (!FindAttribute(attributes, "Name", value)) return false;
      if (value) {
        names.push_back(std::move(*value));
      } else {
        allNamed = false;
      }
    }
    open_.push_back(Open{name, false});
    text_.clear();
    return true;
  }

  void End() {
    const Open element = open_.back();
    open_.pop_back();
    const std::size_t depth = open_.size();
    std::string text = element.hasChild ? std::string() : std::move(text_);
    text_.clear();
    if (depth == 2 && open_[1].name == "System") {
      if (element.name == "EventID") {
        eventId = std::move(text);
      } else if (element.name == "Keywords") {
        keywords = std::move(text);
      } else if (element.name == "EventRecordID") {
        recordId = std::move(text);
      } else if (element.name == "Computer") {
        computer = std::move(text);
      }
    } else if (depth == 2 && open_[1].name == "EventData" && element.name == "Data") {
      strings.push_back(std::move(text));
    } else if (depth >= 2 && open_[1].name == "UserData" && !element.hasChild) {
      // An event with its own data layout: the texts of its innermost elements, in order.
      strings.push_back(std::move(text));
    }
  }

  std::vector<Open> open_;
  std::string text_;
};

// A record's named fields, looked up by name.
class NamedFields {
 public:
  // Invalid when the names are unknown, do not match the strings one to one, or repeat.
  explicit NamedFields(const EvtxRecordFacts& facts) : facts_(facts) {
    if (!facts.names || facts.names->size() != facts.strings.size()) return;
    std::vector<std::string_view> sorted(facts.names->begin(), facts.names->end());
    std::sort(sorted.begin(), sorted.end());
    valid_ = std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
  }
  bool Valid() const { return valid_; }

  // The value of `name`; nullopt when the record has no such field, or when its value holds a
  // control character: the layout ends each string at a zero byte and the selection rule reads a
  // tab as the end of a field, so such a value would shift the fields that follow it.
  std::optional<std::string> Get(std::string_view name) const {
    const auto& names = *facts_.names;
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) return std::nullopt;
    const std::string& value = facts_.strings[static_cast<std::size_t>(it - names.begin())];
    if (std::any_of(value.begin(), value.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
      return std::nullopt;
    }
    return value;
  }

  // An access list: the codes, each "%%" and digits, separated by one space. Windows separates
  // them by line breaks and tabs; anything else in the list makes it malformed.
  std::optional<std::string> GetAccessList(std::string_view name) const {
    const auto& names = *facts_.names;
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) return std::nullopt;
    const std::string& value = facts_.strings[static_cast<std::size_t>(it - names.begin())];
    std::string codes;
    std::size_t pos = 0;
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (pos < value.size()) {
      if (isSpace(value[pos])) {
        ++pos;
        continue;
      }
      std::size_t end = pos;
      while (end < value.size() && !isSpace(value[end])) ++end;
      const std::string_view code(value.data() + pos, end - pos);
      if (code != "-" && (!code.starts_with("%%") || code.size() == 2 ||
                          !std::all_of(code.begin() + 2, code.end(),
                                       [](char c) { return c >= '0' && c <= '9'; }))) {
        return std::nullopt;
      }
      if (!codes.empty()) codes.push_back(' ');
      codes.append(code);
      pos = end;
    }
    return codes.empty() ? std::string("-") : codes;
  }

 private:
  const EvtxRecordFacts& facts_;
  bool valid_ = false;
};

// The selection rule takes the record's first "File" followed by the end of a string as the
// object type. A text before the object type, or any text of a record that names no file, that
// ends in "File" gets a trailing dot, so that only a real object type "File" is taken.
void KeepFromPassingAsFileType(std::string& text) {
  if (text.ends_with("File")) text.push_back('.');
}

// "\??\C:\" and "Windows\Temp\setup.bat" give "C:\Windows\Temp\setup.bat": the share's local
// path without the prefix of the NT object namespace, joined to the target by one backslash.
std::string JoinSharePath(std::string_view localPath, std::string_view relative) {
  if (localPath.starts_with("\\??\\")) localPath.remove_prefix(4);
  while (localPath.ends_with('\\')) localPath.remove_suffix(1);
  while (relative.starts_with('\\')) relative.remove_prefix(1);
  std::string path(localPath);
  path.push_back('\\');
  path.append(relative);
  return path;
}

struct FileOpen {
  std::string objectServer;
  std::string objectType;
  std::string objectName;
  std::string handleId;
  std::string processId;
  std::string user;
  std::string domain;
  std::string logonId;
  std::string accesses;
  std::string privileges;
};

std::optional<FileOpen> ReadHandleRequest(const NamedFields& fields) {
  FileOpen open;
  const auto objectServer = fields.Get("ObjectServer");
  const auto objectType = fields.Get("ObjectType");
  const auto objectName = fields.Get("ObjectName");
  const auto handleId = fields.Get("HandleId");
  const auto processId = fields.Get("ProcessId");
  const auto user = fields.Get("SubjectUserName");
  const auto domain = fields.Get("SubjectDomainName");
  const auto logonId = fields.Get("SubjectLogonId");
  const auto accesses = fields.GetAccessList("AccessList");
  const auto privileges = fields.Get("PrivilegeList");
  if (!objectServer || !objectType || !objectName || !handleId || !processId || !user || !domain ||
      !logonId || !accesses || !privileges) {
    return std::nullopt;
  }
  return FileOpen{*objectServer, *objectType, *objectName, *handleId, *processId,
                  *user,         *domain,     *logonId,    *accesses, *privileges};
}

std::optional<FileOpen> ReadShareCheck(const NamedFields& fields) {
  const auto objectType = fields.Get("ObjectType");
  const auto shareName = fields.Get("ShareName");
  const auto localPath = fields.Get("ShareLocalPath");
  const auto relative = fields.Get("RelativeTargetName");
  const auto user = fields.Get("SubjectUserName");
  const auto domain = fields.Get("SubjectDomainName");
  const auto logonId = fields.Get("SubjectLogonId");
  const auto accesses = fields.GetAccessList("AccessList");
  if (!objectType || !shareName || !localPath || !relative || !user || !domain || !logonId ||
      !accesses) {
    return std::nullopt;
  }
  FileOpen open{"Security", *objectType, {}, "-", "-", *user, *domain, *logonId, *accesses, "-"};
  if (localPath->empty() || *localPath == "-") {
    // A share without a local path (IPC$: named pipes) holds no file.
    open.objectType = "-";
    open.objectName = *shareName;
    open.objectName.append("\\").append(*relative);
  } else {
    open.objectName = JoinSharePath(*localPath, *relative);
  }
  return open;
}

}  // namespace

bool BeginsAsEvtxHeader(const std::uint8_t* bytes, std::size_t size) {
  return size >= sizeof kFileSignature &&
         std::memcmp(bytes, kFileSignature, sizeof kFileSignature) == 0;
}

EvtxXmlFacts ReadXmlFacts(std::string_view xml) {
  EvtxXmlFacts facts;
  if (const auto keywords = Between(xml, "<Keywords>", "</Keywords>"))
    facts.keywords = ParseHex64(*keywords);
  // At most 19 digits, so that the value fits.
  if (const auto id = Between(xml, "<EventRecordID>", "</EventRecordID>"))
    facts.eventRecordId = ParseDecimal(*id, 19);
  if (const auto created = Between(xml, "<TimeCreated SystemTime=\"", "\""))
    facts.timeCreated = ParseSystemTime(*created);
  if (const auto eventData = Between(xml, "<EventData>", "</EventData>")) {
    facts.names = DataNames(*eventData);
  } else if (xml.find("<EventData/>") != std::string_view::npos) {
    facts.names.emplace();
  }
  return facts;
}

std::optional<EvtxRecordFacts> FactsFromXml(std::string_view xml) {
  RenderedEvent event;
  if (!event.Read(xml) || !event.eventId || !event.recordId || !event.systemTime) {
    return std::nullopt;
  }
  const auto eventId = ParseDecimal(*event.eventId, 10);
  const auto recordId = ParseDecimal(*event.recordId, 19);
  const auto time = ParseSystemTime(*event.systemTime);
  if (!eventId || *eventId > 0xFFFFFFFFu || !recordId || !time) return std::nullopt;
  EvtxRecordFacts facts;
  facts.eventId = static_cast<std::uint32_t>(*eventId);
  facts.identifier = *recordId;
  facts.writtenFiletime = *time;
  if (event.keywords) facts.keywords = ParseHex64(*event.keywords);
  facts.computerName = event.computer.value_or(std::string());
  facts.sourceName = event.provider.value_or(std::string());
  facts.strings = std::move(event.strings);
  // Names only when every Data element of the EventData has one; a UserData event has none.
  if (event.eventData && event.allNamed) facts.names = std::move(event.names);
  return facts;
}

std::uint32_t FiletimeToUnixSeconds(std::uint64_t filetime) {
  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  constexpr std::uint64_t kSecondsFrom1601To1970 = 11'644'473'600;
  const std::uint64_t seconds = filetime / kTicksPerSecond;
  if (seconds <= kSecondsFrom1601To1970) return 0;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(seconds - kSecondsFrom1601To1970, 0xFFFFFFFFu));
}

std::optional<EventRecordFields> ConvertToFileOpen(const EvtxRecordFacts& facts) {
  if (facts.eventId != kHandleRequestedEventId && facts.eventId != kShareObjectCheckedEventId)
    return std::nullopt;
  // A failed attempt never shows a write: only successful audits are converted.
  if (!facts.keywords || (*facts.keywords & kKeywordAuditSuccess) == 0) return std::nullopt;
  const NamedFields fields(facts);
  if (!fields.Valid()) return std::nullopt;
  std::optional<FileOpen> open =
      facts.eventId == kHandleRequestedEventId ? ReadHandleRequest(fields) : ReadShareCheck(fields);
  if (!open) return std::nullopt;

  const std::string computer = audit::RecordComputerName(facts.computerName, "");
  EventRecordFields f;
  f.RecordNumber = static_cast<std::uint32_t>(facts.identifier);
  f.TimeGenerated = FiletimeToUnixSeconds(facts.writtenFiletime);
  f.TimeWritten = f.TimeGenerated;
  f.EventID = kFileOpenEventId;
  f.EventType = kEventTypeAuditSuccess;
  f.EventCategory = kObjectAccessCategory;
  f.SourceName = "Security";
  f.ComputerName = computer;
  f.Strings = {
      open->objectServer,                // Object Server
      open->objectType,                  // Object Type
      open->objectName,                  // Object Name
      open->handleId,                    // New Handle ID
      "0",                               // Operation ID, high part
      std::to_string(facts.identifier),  // Operation ID, low part
      open->processId,                   // Process ID
      open->user,                        // Primary User Name
      open->domain,                      // Primary Domain
      open->logonId,                     // Primary Logon ID
      "-",                               // Client User Name: no client is impersonated
      "-",                               // Client Domain
      "-",                               // Client Logon ID
      open->accesses,                    // Accesses
      open->privileges,                  // Privileges
  };
  const bool namesFile = open->objectType == "File";
  for (std::size_t i = 0; i < f.Strings.size(); ++i) {
    if (namesFile && i >= 1) break;  // from the object type on, the rule has found its "File"
    KeepFromPassingAsFileType(f.Strings[i]);
  }
  return f;
}

EventRecordFields PresentedFields(const EvtxRecordFacts& facts) {
  if (auto converted = ConvertToFileOpen(facts)) return std::move(*converted);
  EventRecordFields f;
  f.RecordNumber = static_cast<std::uint32_t>(facts.identifier);
  f.TimeGenerated = FiletimeToUnixSeconds(facts.writtenFiletime);
  f.TimeWritten = f.TimeGenerated;
  f.EventID = facts.eventId;
  f.EventType =
      facts.keywords && (*facts.keywords & kKeywordAuditFailure) != 0   ? kEventTypeAuditFailure
      : facts.keywords && (*facts.keywords & kKeywordAuditSuccess) != 0 ? kEventTypeAuditSuccess
                                                                        : kEventTypeInformation;
  f.SourceName = facts.sourceName;
  f.ComputerName = facts.computerName;
  // The layout counts a record's strings in 16 bits.
  const std::size_t count = std::min<std::size_t>(facts.strings.size(), 0xFFFF);
  f.Strings.assign(facts.strings.begin(),
                   facts.strings.begin() + static_cast<std::ptrdiff_t>(count));
  // A zero byte would end a string early and shift those that follow.
  for (std::string& s : f.Strings) s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
  f.SourceName.erase(std::find(f.SourceName.begin(), f.SourceName.end(), '\0'), f.SourceName.end());
  f.ComputerName.erase(std::find(f.ComputerName.begin(), f.ComputerName.end(), '\0'),
                       f.ComputerName.end());
  return f;
}

namespace {

// The template fields of each event, in the order a read gives its strings. A read of the
// legacy log carries no version of the event's layout, only its strings: each layout is told by
// their count. Event 4656 has two layouts: the 15 fields of Windows Vista, 7, Server 2008 and
// 2008 R2, and the 17 of Windows 8 and Server 2012 on, which added the access reasons after the
// access list and the resource attributes at the end. Event 5145 has one layout of 13 fields.
// nullptr for any other count: a layout not known here is left as it was read.
const std::vector<std::string>* TemplateNames(std::uint32_t eventId, std::size_t stringCount) {
  static const std::vector<std::string> handleRequestedVista = {
      "SubjectUserSid", "SubjectUserName", "SubjectDomainName",  "SubjectLogonId", "ObjectServer",
      "ObjectType",     "ObjectName",      "HandleId",           "TransactionId",  "AccessList",
      "AccessMask",     "PrivilegeList",   "RestrictedSidCount", "ProcessId",      "ProcessName"};
  static const std::vector<std::string> handleRequested = {
      "SubjectUserSid",    "SubjectUserName",    "SubjectDomainName", "SubjectLogonId",
      "ObjectServer",      "ObjectType",         "ObjectName",        "HandleId",
      "TransactionId",     "AccessList",         "AccessReason",      "AccessMask",
      "PrivilegeList",     "RestrictedSidCount", "ProcessId",         "ProcessName",
      "ResourceAttributes"};
  static const std::vector<std::string> shareChecked = {"SubjectUserSid",
                                                        "SubjectUserName",
                                                        "SubjectDomainName",
                                                        "SubjectLogonId",
                                                        "ObjectType",
                                                        "IpAddress",
                                                        "IpPort",
                                                        "ShareName",
                                                        "ShareLocalPath",
                                                        "RelativeTargetName",
                                                        "AccessMask",
                                                        "AccessList",
                                                        "AccessReason"};
  const std::vector<std::string>* const layouts[] = {&handleRequestedVista, &handleRequested};
  if (eventId == kHandleRequestedEventId) {
    for (const auto* layout : layouts) {
      if (layout->size() == stringCount) return layout;
    }
    return nullptr;
  }
  return stringCount == shareChecked.size() ? &shareChecked : nullptr;
}

// The zero-ended text at `offset` of the record's first `end` bytes; nullopt when no zero ends it.
std::optional<std::string> TextAt(const std::uint8_t* record, std::size_t end, std::size_t offset) {
  if (offset >= end) return std::nullopt;
  const auto* begin = record + offset;
  const auto* stop = std::find(begin, record + end, std::uint8_t{0});
  if (stop == record + end) return std::nullopt;
  return std::string(begin, stop);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ConvertLiveRecord(const std::uint8_t* record,
                                                           std::size_t size) {
  if (record == nullptr || size < kFixedRecordSize) return std::nullopt;
  // Length bounds the record, but never beyond what was actually read.
  std::size_t end = ReadU32(record + record_offset::kLength);
  if (end < kFixedRecordSize || end > size) end = size;

  EvtxRecordFacts facts;
  // The low 16 bits are the event's number; the high ones its qualifiers.
  facts.eventId = ReadU32(record + record_offset::kEventId) & 0xFFFF;
  if (facts.eventId != kHandleRequestedEventId && facts.eventId != kShareObjectCheckedEventId)
    return std::nullopt;
  const std::uint16_t type = static_cast<std::uint16_t>(record[record_offset::kEventType] |
                                                        record[record_offset::kEventType + 1] << 8);
  facts.keywords = type == kEventTypeAuditSuccess   ? kKeywordAuditSuccess
                   : type == kEventTypeAuditFailure ? kKeywordAuditFailure
                                                    : 0;
  facts.identifier = ReadU32(record + record_offset::kRecordNumber);
  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  constexpr std::uint64_t kSecondsFrom1601To1970 = 11'644'473'600;
  facts.writtenFiletime =
      (static_cast<std::uint64_t>(ReadU32(record + record_offset::kTimeWritten)) +
       kSecondsFrom1601To1970) *
      kTicksPerSecond;

  const auto source = TextAt(record, end, record_offset::kSourceName);
  if (!source) return std::nullopt;
  const auto computer = TextAt(record, end, record_offset::kSourceName + source->size() + 1);
  if (!computer) return std::nullopt;
  facts.sourceName = *source;
  facts.computerName = *computer;

  const std::size_t count = static_cast<std::size_t>(record[record_offset::kNumStrings] |
                                                     record[record_offset::kNumStrings + 1] << 8);
  std::size_t offset = ReadU32(record + record_offset::kStringOffset);
  for (std::size_t i = 0; i < count; ++i) {
    auto text = TextAt(record, end, offset);
    if (!text) return std::nullopt;
    offset += text->size() + 1;
    facts.strings.push_back(std::move(*text));
  }
  // A read gives no names, only the template's order, which the count of strings tells.
  const std::vector<std::string>* names = TemplateNames(facts.eventId, facts.strings.size());
  if (names == nullptr) return std::nullopt;
  facts.names = *names;

  std::optional<EventRecordFields> converted = ConvertToFileOpen(facts);
  if (!converted) return std::nullopt;
  // A live record has both of its times: when the event happened, and when the log wrote it.
  converted->TimeGenerated = ReadU32(record + record_offset::kTimeGenerated);
  return BuildAnsiRecord(*converted);
}

}  // namespace qs::platform::evtx
