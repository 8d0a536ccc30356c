#include "platform/formats/audit_log_source.h"

#include <algorithm>
#include <string_view>

#include "platform/formats/audit_record.h"

namespace qs::platform {

namespace {

// How much of a file one read brings in: many events' worth, so that records asked for in order
// cost one read for many of them.
constexpr std::size_t kWindow = 1 << 20;

}  // namespace

AuditLogSource::AuditLogSource(std::string hostName, audit::UserNameLookup lookup,
                               SpanReader reader)
    : hostName_(std::move(hostName)), lookup_(std::move(lookup)), reader_(std::move(reader)) {}

void AuditLogSource::Add(std::uint32_t file, const audit::FileModification& m,
                         const audit::EventSpan& span) {
  if (m.rename) {
    // A rename changes no content: it stands for a save only when the same process wrote the
    // file it moves. A bare move (mv policy.txt other.txt) is no change of anybody's file.
    if (m.renamedFrom.empty()) return;
    // Only a hash is kept per writer: the modifications under it are read again to tell the
    // same writer from another whose key has the same hash.
    bool wrote = false;
    if (const std::uint64_t* slot = Slot(WriterHash(m, m.renamedFrom)); *slot != 0) {
      for (std::uint32_t i = SlotIndex(*slot); i != kNone; i = found_[i].previous) {
        Found& earlier = found_[i];
        if (!earlier.listed) continue;
        const auto other = Reread(earlier.place, nullptr);
        if (!other || other->node != m.node || other->pid != m.pid || other->session != m.session ||
            other->path != m.renamedFrom)
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
  entry.place = Place{span.begin, span.end - span.begin, file};
  entry.hash = WriterHash(m, m.path);
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
  for (const Found& f : found_) count += f.dropped ? 0 : 1;
  presented_.clear();
  presented_.reserve(count);
  for (std::size_t i = 0; i < found_.size(); ++i)
    if (!found_[i].dropped) presented_.push_back(static_cast<std::uint32_t>(i));
}

void AuditLogSource::BeginTail() {
  DropTail();
  inTail_ = true;
  tailBegin_ = found_.size();
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
  const auto m = Reread(found_.at(presented_.at(index)).place, lookup_);
  if (m)
    record_ = audit::BuildModificationRecord(*m, audit::RecordComputerName(m->node, hostName_));
  else
    record_.clear();
  return record_;
}

std::optional<audit::FileModification> AuditLogSource::Reread(const Place& place,
                                                              const audit::UserNameLookup& lookup) {
  const bool inWindow = windowFile_ == place.file && place.offset >= windowOffset_ &&
                        place.offset - windowOffset_ + place.length <= window_.size();
  if (!inWindow) {
    // The window's storage is read over as it is: emptied first, it would be filled with zeros
    // before every read, a megabyte at a time.
    windowFile_ = place.file;
    windowOffset_ = place.offset;
    const std::size_t want =
        static_cast<std::size_t>(std::max<std::uint64_t>(place.length, kWindow));
    if (!reader_ || !reader_(place.file, place.offset, want, window_) ||
        window_.size() < place.length) {
      window_.clear();
      return std::nullopt;
    }
  }
  const std::string_view text =
      std::string_view(window_).substr(place.offset - windowOffset_, place.length);
  return audit::ParseEventSpan(text, lookup);
}

std::uint64_t AuditLogSource::WriterHash(const audit::FileModification& m,
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
