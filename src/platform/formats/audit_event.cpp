#include "platform/formats/audit_event.h"

#include "platform/formats/audit_fields.h"
#include "platform/formats/audit_paths.h"
#include "platform/formats/audit_syscalls.h"

namespace qs::platform::audit {

namespace {

constexpr std::uint64_t kAccessModeMask = 03;
constexpr std::uint64_t kWriteOnly = 01;
constexpr std::uint64_t kReadWrite = 02;
constexpr std::uint64_t kTruncate = 01000;

constexpr std::uint32_t kFileTypeMask = 0170000;
constexpr std::uint32_t kRegularFile = 0100000;

// Whether open flags ask for writing or truncating.
bool OpensForWriting(std::uint64_t flags) {
  const std::uint64_t access = flags & kAccessModeMask;
  return access == kWriteOnly || access == kReadWrite || (flags & kTruncate) != 0;
}

// Whether what the SYSCALL record gave already rules the event out, whatever its other records
// hold. Nothing that a later record reads can change these fields (a second SYSCALL record only
// spoils the event), so the answer, once true, stays true.
bool CallRulesOut(const AuditEvent& ev) {
  if (!ev.syscallValid || !ev.timeValid || !ev.success) return true;
  const Call call = CallOf(ev.arch, ev.syscall);
  if (call.kind == CallKind::None) return true;
  return call.kind == CallKind::OpenFlags && !OpensForWriting(ev.args[call.flagsArg]);
}

void SyscallRecord(AuditEvent& ev, std::string_view body) {
  if (ev.haveSyscall) {  // two SYSCALL records under one stamp: not a real event
    ev.syscallValid = false;
    ev.settled = true;
    return;
  }
  ev.haveSyscall = true;
  bool archSeen = false, syscallSeen = false, successSeen = false;
  // Some twenty-five fields, a dozen of them wanted: the length of a key sorts it out first.
  const std::size_t enrichedAt = ForEachPlainField(body, [&](std::string_view k,
                                                             std::string_view v) {
    switch (k.size()) {
      case 2:
        if (k[0] == 'a' && k[1] >= '0' && k[1] <= '2' && !ParseNumber(v, ev.args[k[1] - '0'], 16))
          ev.syscallValid = false;
        break;
      case 3:
        if (k == "pid") {
          if (!ParseNumber(v, ev.pid)) ev.syscallValid = false;
        } else if (k == "uid") {
          ReadId(v, ev.uid, ev.syscallValid);
        } else if (k == "ses") {
          std::optional<std::uint32_t> ses;
          ReadId(v, ses, ev.syscallValid);
          if (ses) ev.session = *ses;
        }
        break;
      case 4:
        if (k == "arch")
          archSeen = ParseNumber(v, ev.arch, 16);
        else if (k == "euid")
          ReadId(v, ev.euid, ev.syscallValid);
        else if (k == "auid")
          ReadId(v, ev.auid, ev.syscallValid);
        break;
      case 5:
        if (k == "fsuid") ReadId(v, ev.fsuid, ev.syscallValid);
        break;
      case 7:
        if (k == "syscall") {
          syscallSeen = ParseNumber(v, ev.syscall);
        } else if (k == "success") {
          successSeen = true;
          ev.success = v == "yes";
        }
        break;
      default:
        break;
    }
  });
  if (!archSeen || !syscallSeen || !successSeen || !ev.uid) ev.syscallValid = false;
  // Decided only now that the whole record is read: a field may come twice, and the last one
  // counts (success=no ... success=yes is a success).
  ev.settled = CallRulesOut(ev);
  if (ev.settled || !ev.namesWanted) return;  // its names would never be used
  // The ENRICHED fields: the names of the ids.
  ForEachField(body.substr(enrichedAt), [&](std::string_view k, std::string_view v, bool) {
    if (k == "UID")
      ev.uidName = EnrichedName(v);
    else if (k == "EUID")
      ev.euidName = EnrichedName(v);
    else if (k == "FSUID")
      ev.fsuidName = EnrichedName(v);
    else if (k == "AUID")
      ev.auidName = EnrichedName(v);
  });
}

void CwdRecord(AuditEvent& ev, std::string_view body) {
  ForEachPlainField(body, [&](std::string_view k, std::string_view v) {
    if (k == "cwd") {
      ev.cwd = DecodeText(v);
      if (ev.cwd && ev.cwd->size() > kMaxNameLength) ev.cwd.reset();
    }
  });
}

void Openat2Record(AuditEvent& ev, std::string_view body) {
  ForEachPlainField(body, [&](std::string_view k, std::string_view v) {
    std::uint64_t flags = 0;
    if (k == "oflag" && ParseNumber(v, flags, 8)) ev.openat2Flags = flags;
  });
}

NameType NameTypeOf(std::string_view v) {
  if (v == "NORMAL") return NameType::Normal;
  if (v == "PARENT") return NameType::Parent;
  if (v == "CREATE") return NameType::Create;
  if (v == "DELETE") return NameType::Delete;
  if (v == "UNKNOWN") return NameType::Unknown;
  return NameType::Other;
}

void PathRecord(AuditEvent& ev, std::string_view body) {
  if (ev.items.size() >= kMaxItemsPerEvent) {
    ev.itemsOverflow = true;
    return;
  }
  AuditEvent::Item item;
  ForEachPlainField(body, [&](std::string_view k, std::string_view v) {
    if (k == "name") {
      item.name = DecodeText(v);
      if (item.name && item.name->size() > kMaxNameLength) item.name.reset();
    } else if (k == "nametype" || k == "objtype") {
      item.type = NameTypeOf(v);
    } else if (k == "mode") {
      std::uint32_t mode = 0;
      if (ParseNumber(v, mode, 8)) item.mode = mode;
    } else if (k == "inode") {
      std::uint64_t inode = 0;
      if (ParseNumber(v, inode)) item.inode = inode;
    } else if (k == "dev") {
      // major:minor in hex ("fd:01")
      const std::size_t colon = v.find(':');
      std::uint32_t major = 0, minor = 0;
      if (colon != std::string_view::npos && ParseNumber(v.substr(0, colon), major, 16) &&
          ParseNumber(v.substr(colon + 1), minor, 16))
        item.device = {major, minor};
    }
  });
  ev.items.push_back(std::move(item));
}

struct HandlerEntry {
  std::string_view type;
  RecordHandler handler;
};

constexpr HandlerEntry kHandlers[] = {
    {"SYSCALL", SyscallRecord},
    {"PATH", PathRecord},
    {"CWD", CwdRecord},
    {"OPENAT2", Openat2Record},
};

bool IsAtFdCwd(std::uint64_t arg) { return static_cast<std::uint32_t>(arg) == kAtFdCwd; }

// The absolute path of a name of the event, relative to the directory descriptor in argument
// dirFdArg (-1: the CWD).
std::string ResolveItemName(const AuditEvent& ev, const std::string& name, int dirFdArg,
                            const std::string* parentName) {
  const bool fromCwd = dirFdArg < 0 || IsAtFdCwd(ev.args[dirFdArg]);
  return ResolveName(name, fromCwd, ev.cwd, parentName);
}

std::optional<FileIdentity> IdentityOf(const AuditEvent::Item& item) {
  if (!item.inode || !item.device) return std::nullopt;
  return FileIdentity{*item.inode, item.device->first, item.device->second};
}

}  // namespace

void Recycle(AuditEvent& event) {
  std::string key = std::move(event.key);
  std::vector<AuditEvent::Item> items = std::move(event.items);
  key.clear();
  items.clear();
  event = AuditEvent{};
  event.key = std::move(key);
  event.items = std::move(items);
}

RecordHandler HandlerOf(std::string_view type) {
  for (const auto& entry : kHandlers) {
    if (entry.type == type) return entry.handler;
  }
  return nullptr;
}

std::optional<FileModification> AssembleModification(const AuditEvent& ev,
                                                     const UserNameLookup& lookup) {
  if (!ev.haveSyscall || CallRulesOut(ev)) return std::nullopt;
  const Call call = CallOf(ev.arch, ev.syscall);
  if (call.kind == CallKind::Openat2 && (!ev.openat2Flags || !OpensForWriting(*ev.openat2Flags)))
    return std::nullopt;

  // The item that names the modified file, and the PARENT item before it.
  // The item that names the written file is found by its role: the CREATE item of a rename (the
  // name that now holds the content), the NORMAL or CREATE item of an open, a regular file either
  // way. Items past those kept, or two that could each be it, leave the file unknown: the event
  // then gives nothing rather than a name that may be another file's.
  if (ev.itemsOverflow) return std::nullopt;
  const AuditEvent::Item* file = nullptr;
  const AuditEvent::Item* parent = nullptr;
  const AuditEvent::Item* created = nullptr;
  const AuditEvent::Item* createdParent = nullptr;
  const AuditEvent::Item* lastParent = nullptr;
  int candidates = 0;
  int creates = 0;
  for (const auto& item : ev.items) {
    if (item.type == NameType::Parent) {
      lastParent = &item;
      continue;
    }
    const bool fits = call.kind == CallKind::Rename
                          ? item.type == NameType::Create
                          : item.type == NameType::Normal || item.type == NameType::Create;
    if (!fits || !item.name || item.name->empty()) continue;
    // Something other than a regular file (a directory, a link, a device) has no contents of its
    // own to stamp.
    if (item.mode && (*item.mode & kFileTypeMask) != kRegularFile) continue;
    ++candidates;
    file = &item;
    parent = lastParent;
    if (item.type == NameType::Create) {
      ++creates;
      created = &item;
      createdParent = lastParent;
    }
  }
  if (candidates == 0) return std::nullopt;
  if (candidates > 1) {
    if (creates != 1) return std::nullopt;
    file = created;
    parent = createdParent;
  }

  // Which name the path can be trusted from (audit_record.h: NameBasis).
  const bool fromCwd = call.dirFdArg < 0 || IsAtFdCwd(ev.args[call.dirFdArg]);
  NameBasis basis = NameBasis::Logged;
  if (IsDescriptorLink(*file->name))
    basis = NameBasis::Descriptor;
  else if (!fromCwd && file->name->front() != '/')
    basis = NameBasis::Folder;
  const std::optional<FileIdentity> identity = IdentityOf(*file);
  const std::optional<FileIdentity> folderIdentity =
      parent ? IdentityOf(*parent) : std::optional<FileIdentity>();
  // Without the identity that stands for the untrusted name, the event names no file for sure.
  if (basis == NameBasis::Descriptor && !identity) return std::nullopt;
  if (basis == NameBasis::Folder && !folderIdentity) return std::nullopt;

  std::string path = ResolveItemName(ev, *file->name, call.dirFdArg,
                                     parent && parent->name ? &*parent->name : nullptr);
  if (path.empty() && basis == NameBasis::Folder) path = LastComponent(*file->name);
  if (path.empty()) return std::nullopt;
  if (!FitsRecord(path)) return std::nullopt;

  // A rename's old name and file: its first DELETE item, beside the first PARENT item.
  std::string renamedFrom;
  std::optional<FileIdentity> renamedFromIdentity;
  std::optional<FileIdentity> renamedFromFolder;
  if (call.kind == CallKind::Rename) {
    const AuditEvent::Item* firstParent = nullptr;
    for (const auto& item : ev.items) {
      if (item.type == NameType::Parent && firstParent == nullptr) firstParent = &item;
      if (item.type == NameType::Delete && item.name && !item.name->empty()) {
        renamedFromIdentity = IdentityOf(item);
        if (firstParent) renamedFromFolder = IdentityOf(*firstParent);
        // Relative to a directory descriptor, this is the same guess as a write's path through
        // such a descriptor: the name within its folder is what counts.
        renamedFrom =
            ResolveItemName(ev, *item.name, call.oldDirFdArg,
                            firstParent && firstParent->name ? &*firstParent->name : nullptr);
        if (renamedFrom.empty()) renamedFrom = LastComponent(*item.name);
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
    if (lookup) {
      if (auto found = lookup(id); found && !found->empty() && FitsRecord(*found)) return *found;
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
  m.rename = call.kind == CallKind::Rename;
  m.renamedFrom = std::move(renamedFrom);
  m.identity = identity;
  m.basis = basis;
  m.folderIdentity = folderIdentity;
  m.renamedFromIdentity = renamedFromIdentity;
  m.renamedFromFolder = renamedFromFolder;
  if (!ev.namesWanted) return m;
  m.primaryUser = nameOf(actor, *actorName);
  if (ev.auid && *ev.auid != kUnsetId && *ev.auid != actor)
    m.clientUser = nameOf(*ev.auid, ev.auidName);
  else
    m.clientUser.assign(1, '-');  // (not = "-": GCC 12 warns falsely on that at -O3)
  return m;
}

}  // namespace qs::platform::audit
