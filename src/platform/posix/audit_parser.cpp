#include "platform/posix/audit_parser.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstdio>

#include "platform/eventlog_record.h"

namespace qs::platform::audit {

namespace {

constexpr std::size_t kMaxNameLength = 4096;     // PATH_MAX: the kernel writes no longer name
constexpr std::uint32_t kAtFdCwd = 0xffffff9cu;  // AT_FDCWD (-100) as the low 32 bits of an arg
constexpr char kEnrichedSeparator = '\x1d';

constexpr std::uint32_t kArchX86_64 = 0xc000003eu;
constexpr std::uint32_t kArchI386 = 0x40000003u;
constexpr std::uint32_t kArchAarch64 = 0xc00000b7u;

constexpr std::uint64_t kAccessModeMask = 03;
constexpr std::uint64_t kWriteOnly = 01;
constexpr std::uint64_t kReadWrite = 02;
constexpr std::uint64_t kTruncate = 01000;

constexpr std::uint32_t kFileTypeMask = 0170000;
constexpr std::uint32_t kRegularFile = 0100000;

enum class RecordType { Other, Syscall, Cwd, Path, Openat2 };
enum class NameType { Normal, Parent, Create, Delete, Unknown, Other };

// How a call names and changes the file.
enum class CallKind { None, OpenFlags, Creat, Openat2, Truncate, Rename };
struct Call {
  CallKind kind = CallKind::None;
  int flagsArg = -1;     // OpenFlags: the argument that holds the flags
  int dirFdArg = -1;     // the directory descriptor of the file's name; -1: the CWD
  int oldDirFdArg = -1;  // Rename: the directory descriptor of the old name
};

Call CallOf(std::uint32_t arch, std::uint64_t number) {
  switch (arch) {
    case kArchX86_64:
      switch (number) {
        case 2:
          return {CallKind::OpenFlags, 1, -1};  // open
        case 257:
          return {CallKind::OpenFlags, 2, 0};  // openat
        case 85:
          return {CallKind::Creat, -1, -1};  // creat
        case 437:
          return {CallKind::Openat2, -1, 0};  // openat2
        case 76:
          return {CallKind::Truncate, -1, -1};  // truncate
        case 82:
          return {CallKind::Rename, -1, -1};  // rename
        case 264:
          return {CallKind::Rename, -1, 2};  // renameat
        case 316:
          return {CallKind::Rename, -1, 2};  // renameat2
        default:
          return {};
      }
    case kArchI386:
      switch (number) {
        case 5:
          return {CallKind::OpenFlags, 1, -1};
        case 295:
          return {CallKind::OpenFlags, 2, 0};
        case 8:
          return {CallKind::Creat, -1, -1};
        case 437:
          return {CallKind::Openat2, -1, 0};
        case 92:
          return {CallKind::Truncate, -1, -1};
        case 38:
          return {CallKind::Rename, -1, -1};
        case 302:
          return {CallKind::Rename, -1, 2};
        case 353:
          return {CallKind::Rename, -1, 2};
        default:
          return {};
      }
    case kArchAarch64:
      switch (number) {
        case 56:
          return {CallKind::OpenFlags, 2, 0};  // openat
        case 437:
          return {CallKind::Openat2, -1, 0};
        case 45:
          return {CallKind::Truncate, -1, -1};
        case 38:
          return {CallKind::Rename, -1, 2};  // renameat
        case 276:
          return {CallKind::Rename, -1, 2};  // renameat2
        default:
          return {};
      }
    default:
      return {};
  }
}

template <typename T>
bool ParseNumber(std::string_view text, T& out, int base = 10) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out, base);
  return ec == std::errc() && p == end;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A value as auditd writes an untrusted text: "quoted", or hex when it holds a byte below 0x21,
// above 0x7e or a double quote, or (null). Returns nullopt for (null) and for anything malformed.
std::optional<std::string> DecodeText(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    return std::string(value.substr(1, value.size() - 2));
  if (value.empty() || value == "(null)" || value.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(value.size() / 2);
  for (std::size_t i = 0; i < value.size(); i += 2) {
    const int hi = HexDigit(value[i]);
    const int lo = HexDigit(value[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  return out;
}

// A text can go into a record only without zero bytes and tabs: the selection rule reads a zero
// byte as a tab and finds its fields by counting tabs.
bool FitsRecord(std::string_view text) {
  return text.find('\0') == std::string_view::npos && text.find('\t') == std::string_view::npos;
}

// Calls f(key, value, enriched) for each key=value of a record's body. Values keep their quotes.
template <typename F>
void ForEachField(std::string_view body, F&& f) {
  std::size_t i = 0;
  bool enriched = false;
  const std::size_t n = body.size();
  while (i < n) {
    const char c = body[i];
    if (c == ' ') {
      ++i;
      continue;
    }
    if (c == kEnrichedSeparator) {
      enriched = true;
      ++i;
      continue;
    }
    std::size_t k = i;
    while (k < n && body[k] != '=' && body[k] != ' ' && body[k] != kEnrichedSeparator) ++k;
    if (k >= n || body[k] != '=') {  // a word without a value
      i = k;
      continue;
    }
    const std::string_view key = body.substr(i, k - i);
    std::size_t v = k + 1;
    std::size_t e = v;
    if (v < n && (body[v] == '"' || body[v] == '\'')) {
      const std::size_t close = body.find(body[v], v + 1);
      if (close == std::string_view::npos) return;  // an unterminated quote ends the record
      e = close + 1;
    } else {
      while (e < n && body[e] != ' ' && body[e] != kEnrichedSeparator) ++e;
    }
    f(key, body.substr(v, e - v), enriched);
    i = e;
  }
}

// The name of an id as an ENRICHED field gives it; nullopt when it gives none.
std::optional<std::string> EnrichedName(std::string_view value) {
  auto text = DecodeText(value);
  if (!text || text->empty() || *text == "unset" || text->starts_with("unknown(")) return {};
  return text;
}

// "." components and repeated slashes removed; ".." kept.
std::string NormalizePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    std::size_t j = i;
    while (j < path.size() && path[j] != '/') ++j;
    const std::string_view part = path.substr(i, j - i);
    if (!part.empty() && part != ".") {
      out.push_back('/');
      out.append(part);
    }
    i = j;
  }
  if (out.empty()) out.push_back('/');
  return out;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  joined.push_back('/');
  joined.append(name);
  return joined;
}

}  // namespace

UserNameLookup AccountDatabaseLookup() {
  auto cache = std::make_shared<std::unordered_map<std::uint32_t, std::optional<std::string>>>();
  return [cache](std::uint32_t uid) -> std::optional<std::string> {
    if (auto it = cache->find(uid); it != cache->end()) return it->second;
    std::optional<std::string> name;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    while (true) {
      const int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
      if (rc == ERANGE && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (rc == 0 && result != nullptr && result->pw_name != nullptr) name = result->pw_name;
      break;
    }
    cache->emplace(uid, name);
    return name;
  };
}

struct AuditParser::Event {
  struct Item {
    std::optional<std::string> name;  // nullopt: (null) or malformed
    NameType type = NameType::Normal;
    std::optional<std::uint32_t> mode;
  };

  std::string key;
  std::string node;
  std::uint32_t seconds = 0;
  std::uint32_t serial = 0;
  bool timeValid = true;

  bool haveSyscall = false;
  bool syscallValid = true;  // every number that is used parsed within its range
  std::uint32_t arch = 0;
  std::uint64_t syscall = 0;
  bool success = false;
  std::uint64_t args[3] = {0, 0, 0};
  std::uint32_t pid = 0;
  std::optional<std::uint32_t> uid, euid, fsuid, auid;
  std::uint32_t session = kUnsetId;
  std::optional<std::string> uidName, euidName, fsuidName, auidName;

  std::optional<std::string> cwd;
  std::optional<std::uint64_t> openat2Flags;
  std::vector<Item> items;
};

AuditParser::AuditParser(UserNameLookup lookup, std::function<void(FileModification&&)> sink)
    : lookup_(std::move(lookup)), sink_(std::move(sink)) {}

AuditParser::~AuditParser() = default;

namespace {

struct LineHead {
  std::string_view node;
  RecordType type = RecordType::Other;
  std::string_view stamp;  // SECONDS.MILLIS:SERIAL
  std::string_view seconds;
  std::string_view serial;
  std::string_view body;
};

// node=NODE type=TYPE msg=audit(SECONDS.MILLIS:SERIAL): BODY
bool ParseHead(std::string_view line, LineHead& head) {
  if (line.starts_with("node=")) {
    const std::size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return false;
    head.node = line.substr(5, sp - 5);
    line.remove_prefix(sp + 1);
  }
  if (!line.starts_with("type=")) return false;
  const std::size_t sp = line.find(' ');
  if (sp == std::string_view::npos) return false;
  const std::string_view type = line.substr(5, sp - 5);
  if (type == "SYSCALL")
    head.type = RecordType::Syscall;
  else if (type == "PATH")
    head.type = RecordType::Path;
  else if (type == "CWD")
    head.type = RecordType::Cwd;
  else if (type == "OPENAT2")
    head.type = RecordType::Openat2;
  else
    return true;  // a record of no interest: its stamp is not needed
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

void ReadId(std::string_view value, std::optional<std::uint32_t>& id, bool& valid) {
  std::uint32_t v = 0;
  if (ParseNumber(value, v))
    id = v;
  else
    valid = false;
}

}  // namespace

void AuditParser::Line(std::string_view line) {
  LineHead head;
  if (!ParseHead(line, head) || head.type == RecordType::Other) return;

  std::string key;
  key.reserve(head.node.size() + 1 + head.stamp.size());
  key.append(head.node).push_back(' ');
  key.append(head.stamp);

  Event* event = nullptr;
  if (auto it = bySerial_.find(key); it != bySerial_.end()) {
    event = it->second;
  } else {
    auto fresh = std::make_unique<Event>();
    fresh->key = key;
    fresh->node = std::string(head.node);
    std::uint64_t seconds = 0;
    fresh->timeValid = ParseNumber(head.seconds, seconds) && seconds <= INT32_MAX &&
                       ParseNumber(head.serial, fresh->serial);
    fresh->seconds = static_cast<std::uint32_t>(seconds);
    event = fresh.get();
    bySerial_.emplace(std::move(key), event);
    open_.push_back(std::move(fresh));
    if (open_.size() > kMaxOpenEvents) CompleteFront();
  }

  switch (head.type) {
    case RecordType::Syscall: {
      if (event->haveSyscall) {  // two SYSCALL records under one stamp: not a real event
        event->syscallValid = false;
        break;
      }
      event->haveSyscall = true;
      bool archSeen = false, syscallSeen = false, successSeen = false;
      Event& ev = *event;
      ForEachField(head.body, [&](std::string_view k, std::string_view v, bool enriched) {
        if (enriched) {
          if (k == "UID")
            ev.uidName = EnrichedName(v);
          else if (k == "EUID")
            ev.euidName = EnrichedName(v);
          else if (k == "FSUID")
            ev.fsuidName = EnrichedName(v);
          else if (k == "AUID")
            ev.auidName = EnrichedName(v);
          return;
        }
        if (k == "arch") {
          archSeen = ParseNumber(v, ev.arch, 16);
        } else if (k == "syscall") {
          syscallSeen = ParseNumber(v, ev.syscall);
        } else if (k == "success") {
          successSeen = true;
          ev.success = v == "yes";
        } else if (k.size() == 2 && k[0] == 'a' && k[1] >= '0' && k[1] <= '2') {
          if (!ParseNumber(v, ev.args[k[1] - '0'], 16)) ev.syscallValid = false;
        } else if (k == "pid") {
          if (!ParseNumber(v, ev.pid)) ev.syscallValid = false;
        } else if (k == "uid") {
          ReadId(v, ev.uid, ev.syscallValid);
        } else if (k == "euid") {
          ReadId(v, ev.euid, ev.syscallValid);
        } else if (k == "fsuid") {
          ReadId(v, ev.fsuid, ev.syscallValid);
        } else if (k == "auid") {
          ReadId(v, ev.auid, ev.syscallValid);
        } else if (k == "ses") {
          std::optional<std::uint32_t> ses;
          ReadId(v, ses, ev.syscallValid);
          if (ses) ev.session = *ses;
        }
      });
      if (!archSeen || !syscallSeen || !successSeen || !ev.uid) ev.syscallValid = false;
      break;
    }
    case RecordType::Cwd:
      ForEachField(head.body, [&](std::string_view k, std::string_view v, bool enriched) {
        if (!enriched && k == "cwd") {
          event->cwd = DecodeText(v);
          if (event->cwd && event->cwd->size() > kMaxNameLength) event->cwd.reset();
        }
      });
      break;
    case RecordType::Openat2:
      ForEachField(head.body, [&](std::string_view k, std::string_view v, bool enriched) {
        std::uint64_t flags = 0;
        if (!enriched && k == "oflag" && ParseNumber(v, flags, 8)) event->openat2Flags = flags;
      });
      break;
    case RecordType::Path: {
      if (event->items.size() >= kMaxItemsPerEvent) break;
      Event::Item item;
      ForEachField(head.body, [&](std::string_view k, std::string_view v, bool enriched) {
        if (enriched) return;
        if (k == "name") {
          item.name = DecodeText(v);
          if (item.name && item.name->size() > kMaxNameLength) item.name.reset();
        } else if (k == "nametype" || k == "objtype") {
          if (v == "NORMAL")
            item.type = NameType::Normal;
          else if (v == "PARENT")
            item.type = NameType::Parent;
          else if (v == "CREATE")
            item.type = NameType::Create;
          else if (v == "DELETE")
            item.type = NameType::Delete;
          else if (v == "UNKNOWN")
            item.type = NameType::Unknown;
          else
            item.type = NameType::Other;
        } else if (k == "mode") {
          std::uint32_t mode = 0;
          if (ParseNumber(v, mode, 8)) item.mode = mode;
        }
      });
      event->items.push_back(std::move(item));
      break;
    }
    case RecordType::Other:
      break;
  }
}

void AuditParser::Feed(std::string_view text) {
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    if (nl == std::string_view::npos) {
      if (skippingLine_) return;
      if (partial_.size() + text.size() > kMaxLineLength) {
        partial_.clear();
        skippingLine_ = true;
      } else {
        partial_.append(text);
      }
      return;
    }
    const std::string_view piece = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    if (skippingLine_) {
      skippingLine_ = false;
      continue;
    }
    if (partial_.empty()) {
      if (piece.size() <= kMaxLineLength) Line(piece);
    } else {
      if (partial_.size() + piece.size() <= kMaxLineLength) {
        partial_.append(piece);
        Line(partial_);
      }
      partial_.clear();
    }
  }
}

void AuditParser::Finish() {
  partial_.clear();
  skippingLine_ = false;
  while (!open_.empty()) CompleteFront();
}

// The absolute path of a name of the event: as it stands when absolute; joined to the CWD when the
// call resolves it from there; else joined to the PARENT item's name when that is absolute. Empty
// when none applies.
std::string AuditParser::ResolveName(const Event& ev, const std::string& name, int dirFdArg,
                                     const std::string* parentName) {
  const bool fromCwd = dirFdArg < 0 || static_cast<std::uint32_t>(ev.args[dirFdArg]) == kAtFdCwd;
  if (name.front() == '/') return NormalizePath(name);
  if (fromCwd) {
    if (!ev.cwd || ev.cwd->empty() || ev.cwd->front() != '/') return {};
    return NormalizePath(JoinPath(*ev.cwd, name));
  }
  if (parentName == nullptr || parentName->empty() || parentName->front() != '/') return {};
  const std::size_t slash = name.rfind('/');
  return NormalizePath(
      JoinPath(*parentName, slash == std::string::npos ? name : name.substr(slash + 1)));
}

void AuditParser::CompleteFront() {
  std::unique_ptr<Event> event = std::move(open_.front());
  open_.pop_front();
  bySerial_.erase(event->key);
  Complete(*event);
}

void AuditParser::Complete(Event& ev) {
  if (!ev.haveSyscall || !ev.syscallValid || !ev.timeValid || !ev.success) return;
  const Call call = CallOf(ev.arch, ev.syscall);
  if (call.kind == CallKind::None) return;

  switch (call.kind) {
    case CallKind::OpenFlags: {
      const std::uint64_t flags = ev.args[call.flagsArg];
      const std::uint64_t access = flags & kAccessModeMask;
      if (access != kWriteOnly && access != kReadWrite && (flags & kTruncate) == 0) return;
      break;
    }
    case CallKind::Openat2: {
      if (!ev.openat2Flags) return;
      const std::uint64_t access = *ev.openat2Flags & kAccessModeMask;
      if (access != kWriteOnly && access != kReadWrite && (*ev.openat2Flags & kTruncate) == 0)
        return;
      break;
    }
    default:
      break;
  }

  // The item that names the modified file, and the PARENT item before it.
  const Event::Item* file = nullptr;
  const Event::Item* parent = nullptr;
  const Event::Item* lastParent = nullptr;
  for (const auto& item : ev.items) {
    if (item.type == NameType::Parent) {
      lastParent = &item;
      continue;
    }
    const bool fits = call.kind == CallKind::Rename
                          ? item.type == NameType::Create
                          : item.type == NameType::Normal || item.type == NameType::Create;
    if (fits && item.name && !item.name->empty()) {
      file = &item;
      parent = lastParent;
    }
  }
  if (file == nullptr) return;
  if (file->mode && (*file->mode & kFileTypeMask) != kRegularFile) return;

  std::string path = ResolveName(ev, *file->name, call.dirFdArg,
                                 parent && parent->name ? &*parent->name : nullptr);
  if (path.empty()) return;
  if (!FitsRecord(path)) return;

  // A rename's old name: its first DELETE item, beside the first PARENT item.
  std::string renamedFrom;
  if (call.kind == CallKind::Rename) {
    const Event::Item* firstParent = nullptr;
    for (const auto& item : ev.items) {
      if (item.type == NameType::Parent && firstParent == nullptr) firstParent = &item;
      if (item.type == NameType::Delete && item.name && !item.name->empty()) {
        renamedFrom = ResolveName(ev, *item.name, call.oldDirFdArg,
                                  firstParent && firstParent->name ? &*firstParent->name : nullptr);
        break;
      }
    }
  }

  // The account that acted on the file is the file-system uid (a server such as smbd changes only
  // its effective ids to the client's and keeps uid 0); the person behind it is the login uid.
  std::uint32_t actor = *ev.uid;
  const std::optional<std::string>* actorName = &ev.uidName;
  if (ev.fsuid) {
    actor = *ev.fsuid;
    actorName = &ev.fsuidName;
  } else if (ev.euid) {
    actor = *ev.euid;
    actorName = &ev.euidName;
  }
  auto nameOf = [&](std::uint32_t id, const std::optional<std::string>& enriched) {
    if (enriched && !enriched->empty() && FitsRecord(*enriched)) return *enriched;
    if (lookup_) {
      if (auto found = lookup_(id); found && !found->empty() && FitsRecord(*found)) return *found;
    }
    return std::to_string(id);
  };

  FileModification m;
  m.seconds = ev.seconds;
  m.serial = ev.serial;
  m.pid = ev.pid;
  m.session = ev.session;
  m.node = ev.node;
  m.path = std::move(path);
  m.renamedFrom = std::move(renamedFrom);
  m.primaryUser = nameOf(actor, *actorName);
  if (ev.auid && *ev.auid != kUnsetId && *ev.auid != actor)
    m.clientUser = nameOf(*ev.auid, ev.auidName);
  else
    m.clientUser.assign(1, '-');  // (not = "-": GCC 12 warns falsely on that at -O3)
  sink_(std::move(m));
}

std::vector<FileModification> ParseAuditText(std::string_view text, const UserNameLookup& lookup) {
  std::vector<FileModification> out;
  AuditParser parser(lookup, [&](FileModification&& m) { out.push_back(std::move(m)); });
  parser.Feed(text);
  parser.Finish();
  return out;
}

std::string RecordComputerName(std::string_view node, std::string_view hostName) {
  std::string name;
  for (char c : node.empty() ? hostName : node)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) name.push_back(c);
  if (name.empty()) name = "localhost";
  if (name.ends_with("File")) name.push_back('.');
  return name;
}

std::vector<std::uint8_t> BuildModificationRecord(const FileModification& m,
                                                  std::string_view computerName) {
  const std::string computer(computerName);
  char logonId[32];
  std::snprintf(logonId, sizeof logonId, "(0x0,0x%X)", m.session);
  const bool client = m.clientUser != "-";
  EventRecordFields f;
  f.RecordNumber = m.serial;
  f.TimeGenerated = m.seconds;
  f.TimeWritten = m.seconds;
  f.EventID = 560;
  f.EventType = 8;      // EVENTLOG_AUDIT_SUCCESS
  f.EventCategory = 3;  // Object Access
  f.SourceName = "Security";
  f.ComputerName = computer;
  f.Strings = {
      "Security",                     // Object Server
      "File",                         // Object Type
      m.path,                         // Object Name
      "0",                            // New Handle ID
      "0",                            // Operation ID, high part
      std::to_string(m.serial),       // Operation ID, low part
      std::to_string(m.pid),          // Process ID
      m.primaryUser,                  // Primary User Name
      computer,                       // Primary Domain
      logonId,                        // Primary Logon ID
      m.clientUser,                   // Client User Name
      client ? computer : "-",        // Client Domain
      client ? logonId : "-",         // Client Logon ID
      "%%4417 %%4418 %%4420 %%4424",  // Accesses
      "-",                            // Privileges
  };
  return BuildAnsiRecord(f);
}

}  // namespace qs::platform::audit
