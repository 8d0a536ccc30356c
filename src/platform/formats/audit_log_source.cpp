#include "platform/formats/audit_log_source.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/formats/audit_paths.h"
#include "platform/formats/audit_record.h"

namespace qs::platform {

namespace {

// How much of a file one read brings in: many events' worth, so that records asked for in order
// cost one read for many of them.
constexpr std::size_t kWindow = 1 << 20;

// Whether the rename `r` moves the very file that `written` wrote, from where it wrote it: the
// same inode and device, under the same name in the same folder. An inode number is used again
// once its file is gone, so the identity alone may be another file's (a tool that replaces
// /etc/passwd and then /etc/shadow through temporary files may get the same inode for both).
// The name is compared within its folder: a path through a directory descriptor is a guess of
// the log's (and the written one may have been resolved since), its last component is not.
bool SameFileAndPlace(const audit::FileModification& written, const audit::FileModification& r) {
  if (written.identity != r.renamedFromIdentity) return false;
  if (written.folderIdentity && r.renamedFromFolder &&
      *written.folderIdentity != *r.renamedFromFolder)
    return false;
  return audit::LastComponent(written.path) == audit::LastComponent(r.renamedFrom);
}

}  // namespace

AuditLogSource::AuditLogSource(std::string hostName, audit::UserNameLookup lookup,
                               SpanReader reader, std::size_t keptBytes, PathResolver resolver,
                               SpanParser spanParser)
    : hostName_(std::move(hostName)),
      lookup_(std::move(lookup)),
      reader_(std::move(reader)),
      resolver_(std::move(resolver)),
      spanParser_(std::move(spanParser)),
      kept_(keptBytes) {}

void AuditLogSource::Add(std::uint32_t file, const audit::FileModification& given,
                         const audit::EventSpan& span) {
  const audit::FileModification* resolved = &given;
  if (given.basis != audit::NameBasis::Logged && resolver_) {
    resolving_ = given;
    if (!resolver_(resolving_)) return;
    resolved = &resolving_;
  }
  const audit::FileModification& m = *resolved;
  if (m.rename) {
    // A rename changes no content: it stands for a save only when the same process wrote the
    // file it moves. A bare move (mv policy.txt other.txt) is no change of anybody's file.
    const bool byIdentity = m.renamedFromIdentity.has_value();
    if (m.renamedFrom.empty()) return;
    // Only a hash is kept per writer: the modifications under it are read again to tell the
    // same writer from another whose key has the same hash.
    bool wrote = false;
    if (const std::uint64_t* slot = Slot(WriterHash(m, m.renamedFromIdentity, m.renamedFrom));
        *slot != 0) {
      for (std::uint32_t i = SlotIndex(*slot); i != kNone; i = found_[i].previous) {
        Found& earlier = found_[i];
        if (!earlier.listed) continue;
        const audit::FileModification* other = Modification(earlier, nullptr, false);
        if (!other || other->node != m.node || other->pid != m.pid || other->session != m.session)
          continue;
        if (byIdentity ? !SameFileAndPlace(*other, m)
                       : other->identity.has_value() || other->path != m.renamedFrom)
          continue;
        earlier.listed = false;
        earlier.dropped = true;
        if (inTail_) tailUndo_.push_back(i);
        wrote = true;
      }
    }
    if (!wrote) return;
  }
  Found entry;
  entry.offset = span.begin;
  entry.length = span.end - span.begin;
  entry.file = file;
  if (!m.primaryUser.empty()) entry.kept = kept_.Keep(m);
  entry.hash = WriterHash(m, m.identity, m.path);
  if (2 * (used_ + 1) > slots_.size()) {
    Grow();
    if (inTail_) tailGrew_ = true;
  }
  std::uint64_t* slot = Slot(entry.hash);
  if (*slot == 0) {
    ++used_;
  } else {
    entry.previous = SlotIndex(*slot);
  }
  if (inTail_) tailSlots_.emplace_back(static_cast<std::size_t>(slot - slots_.data()), *slot);
  *slot = SlotValue(entry.hash, found_.size());
  found_.push_back(entry);
}

void AuditLogSource::Compact() {
  // The writer table stays: a rename read later may take the place of any earlier write.
  std::size_t count = 0;
  for (std::size_t i = 0; i < found_.size(); ++i) count += found_[i].dropped ? 0 : 1;
  presented_.clear();
  presented_.reserve(count);
  for (std::size_t i = 0; i < found_.size(); ++i)
    if (!found_[i].dropped) presented_.push_back(static_cast<std::uint32_t>(i));
}

void AuditLogSource::BeginTail() {
  DropTail();
  inTail_ = true;
  tailBegin_ = found_.size();
  keptBeforeTail_ = kept_.End();
  usedBeforeTail_ = used_;
  // Room for every event the parser can hold open, so that the tail's slots stay where they are.
  while (slots_.empty() || 2 * (used_ + audit::kMaxOpenEvents + 1) > slots_.size()) Grow();
  tailGrew_ = false;
}

void AuditLogSource::DropTail() {
  if (!inTail_) return;
  for (std::uint32_t i : tailUndo_) {
    if (i >= tailBegin_) continue;  // a modification of the tail itself: it goes below
    found_[i].listed = true;
    found_[i].dropped = false;
  }
  tailUndo_.clear();
  found_.resize(tailBegin_);
  kept_.Truncate(keptBeforeTail_);
  if (tailGrew_) {
    Rehash();
  } else {
    for (auto it = tailSlots_.rbegin(); it != tailSlots_.rend(); ++it)
      slots_[it->first] = it->second;
    used_ = usedBeforeTail_;
  }
  tailSlots_.clear();
  inTail_ = false;
  Compact();
}

std::optional<std::size_t> AuditLogSource::IndexOfNumber(std::uint32_t number) {
  if (number == 0) return std::nullopt;
  const auto it = std::lower_bound(presented_.begin(), presented_.end(), number - 1);
  if (it == presented_.end() || *it != number - 1) return std::nullopt;
  return static_cast<std::size_t>(it - presented_.begin());
}

const std::vector<std::uint8_t>& AuditLogSource::Record(std::size_t index) {
  if (const auto* m = Modification(found_[presented_.at(index)], lookup_, true))
    record_ = audit::BuildModificationRecord(*m, audit::RecordComputerName(m->node, hostName_));
  else
    record_.clear();
  return record_;
}

const audit::FileModification* AuditLogSource::Modification(const Found& found,
                                                            const audit::UserNameLookup& lookup,
                                                            bool resolve) {
  if (found.kept != kNone) {
    kept_.Get(found.kept, modification_);
    return &modification_;
  }
  const bool inWindow = windowFile_ == found.file && found.offset >= windowOffset_ &&
                        found.offset - windowOffset_ + found.length <= window_.size();
  if (!inWindow) {
    // The window's storage is read over as it is: emptied first, it would be filled with zeros
    // before every read, a megabyte at a time.
    windowFile_ = found.file;
    windowOffset_ = found.offset;
    const std::size_t want =
        static_cast<std::size_t>(std::max<std::uint64_t>(found.length, kWindow));
    if (!reader_ || !reader_(found.file, found.offset, want, window_) ||
        window_.size() < found.length) {
      window_.clear();
      return nullptr;
    }
  }
  const std::string_view text =
      std::string_view(window_).substr(found.offset - windowOffset_, found.length);
  auto m = spanParser_ ? spanParser_(text, lookup) : audit::ParseEventSpan(text, lookup);
  if (!m) return nullptr;
  modification_ = std::move(*m);
  // What Add kept was resolved as it came in; read again, the path is resolved again. Should
  // that fail now (the file system changed under the index), the log's own name stands: the
  // comment step checks the file's identity before it writes.
  if (resolve && modification_.basis != audit::NameBasis::Logged && resolver_)
    resolver_(modification_);
  return &modification_;
}

namespace {

template <typename T>
void Put(char*& p, T value) {
  std::memcpy(p, &value, sizeof value);
  p += sizeof value;
}

template <typename T>
T Take(const char*& p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  p += sizeof value;
  return value;
}

void PutText(char*& p, const std::string& text) {
  Put(p, static_cast<std::uint32_t>(text.size()));
  std::memcpy(p, text.data(), text.size());
  p += text.size();
}

void TakeText(const char*& p, std::string& text) {
  const auto size = Take<std::uint32_t>(p);
  text.assign(p, size);
  p += size;
}

void PutIdentity(char*& p, const std::optional<FileIdentity>& id) {
  const FileIdentity identity = id.value_or(FileIdentity{});
  Put(p, static_cast<std::uint8_t>(id.has_value()));
  Put(p, identity.inode);
  Put(p, identity.deviceMajor);
  Put(p, identity.deviceMinor);
}

void TakeIdentity(const char*& p, std::optional<FileIdentity>& id) {
  const bool given = Take<std::uint8_t>(p) != 0;
  FileIdentity identity;
  identity.inode = Take<std::uint64_t>(p);
  identity.deviceMajor = Take<std::uint32_t>(p);
  identity.deviceMinor = Take<std::uint32_t>(p);
  if (given)
    id = identity;
  else
    id.reset();
}

// The fixed part of a kept modification: four numbers, the rename flag, two identities (the
// file's and its folder's: a flag, the inode, the device), the sizes of the four texts.
constexpr std::size_t kKeptHead = 4 * 4 + 1 + 2 * (1 + 8 + 2 * 4) + 4 * 4;

}  // namespace

std::uint32_t AuditLogSource::Kept::Keep(const audit::FileModification& m) {
  if (full_) return kNone;
  const std::size_t size =
      kKeptHead + m.node.size() + m.path.size() + m.primaryUser.size() + m.clientUser.size();
  if (size > kBlock) return kNone;
  std::size_t at = used_;
  if (at % kBlock + size > kBlock) at = (at / kBlock + 1) * kBlock;  // into the next block
  if (at + size > budget_) {
    full_ = true;
    return kNone;
  }
  const std::size_t block = at / kBlock;
  while (blocks_.size() <= block) blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
  char* p = blocks_[block].get() + at % kBlock;
  Put(p, m.seconds);
  Put(p, m.serial);
  Put(p, m.pid);
  Put(p, m.session);
  Put(p, static_cast<std::uint8_t>(m.rename));
  PutIdentity(p, m.identity);
  PutIdentity(p, m.folderIdentity);
  PutText(p, m.node);
  PutText(p, m.path);
  PutText(p, m.primaryUser);
  PutText(p, m.clientUser);
  used_ = at + size;
  return static_cast<std::uint32_t>(at);
}

void AuditLogSource::Kept::Get(std::uint32_t at, audit::FileModification& out) const {
  const char* p = blocks_[at / kBlock].get() + at % kBlock;
  out.seconds = Take<std::uint32_t>(p);
  out.serial = Take<std::uint32_t>(p);
  out.pid = Take<std::uint32_t>(p);
  out.session = Take<std::uint32_t>(p);
  out.rename = Take<std::uint8_t>(p) != 0;
  TakeIdentity(p, out.identity);
  TakeIdentity(p, out.folderIdentity);
  TakeText(p, out.node);
  TakeText(p, out.path);
  TakeText(p, out.primaryUser);
  TakeText(p, out.clientUser);
  // Not kept: only Add reads the rename's, as the modification comes in; and what is kept was
  // resolved then (or stands as logged, without a resolver).
  out.renamedFrom.clear();
  out.renamedFromIdentity.reset();
  out.renamedFromFolder.reset();
  out.basis = audit::NameBasis::Logged;
}

void AuditLogSource::Kept::Truncate(std::uint32_t at) {
  if (at < used_) used_ = at;
  full_ = false;
}

std::uint64_t AuditLogSource::WriterHash(const audit::FileModification& m,
                                         const std::optional<FileIdentity>& identity,
                                         const std::string& path) {
  // A process keeps its session; a pid used again by a process of another session is another
  // writer. The parts are hashed one by one rather than joined into a key: this runs for every
  // modification of the log.
  const auto mix = [](std::uint64_t h, std::uint64_t v) {
    h ^= v + 0x9e3779b97f4a7c15u + (h << 6) + (h >> 2);
    return h;
  };
  std::uint64_t h = std::hash<std::string_view>{}(m.node);
  h = mix(h, (static_cast<std::uint64_t>(m.pid) << 32) | m.session);
  if (identity) {
    h = mix(h, identity->inode);
    return mix(h,
               (static_cast<std::uint64_t>(identity->deviceMajor) << 32) | identity->deviceMinor);
  }
  return mix(h, std::hash<std::string_view>{}(path));
}

std::uint64_t* AuditLogSource::Slot(std::uint64_t hash) {
  if (slots_.empty()) Grow();
  const std::size_t mask = slots_.size() - 1;
  const std::uint64_t upper = hash & 0xFFFFFFFF00000000u;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t s = slots_[i];
    if (s == 0 || ((s & 0xFFFFFFFF00000000u) == upper && found_[SlotIndex(s)].hash == hash))
      return &slots_[i];
  }
}

void AuditLogSource::Grow() {
  std::vector<std::uint64_t> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
  for (std::uint64_t s : old)
    if (s != 0) *Slot(found_[SlotIndex(s)].hash) = s;
}

void AuditLogSource::Rehash() {
  // The newest modification of each hash goes into its slot, the others stay linked behind it.
  std::fill(slots_.begin(), slots_.end(), 0);
  used_ = 0;
  for (std::size_t i = 0; i < found_.size(); ++i) {
    std::uint64_t* slot = Slot(found_[i].hash);
    if (*slot == 0) ++used_;
    *slot = SlotValue(found_[i].hash, i);
  }
}

}  // namespace qs::platform
