#include "platform/formats/audit_parser.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/formats/audit_event.h"
#include "platform/formats/audit_fields.h"

namespace qs::platform::audit {

namespace {

// The head of a record of interest and its handler; false for every other line.
bool HeadOfInterest(std::string_view line, LineHead& head, RecordHandler& handler) {
  handler = nullptr;
  const auto wanted = [&](std::string_view type) {
    handler = HandlerOf(type);
    return handler != nullptr;
  };
  return ParseHead(line, head, wanted) && handler != nullptr;
}

// An event's key: its node, a blank, its stamp.
void KeyOf(const LineHead& head, std::string& key) {
  key.assign(head.node).push_back(' ');
  key.append(head.stamp);
}

// Room for every event that can be open, at most a quarter of the slots taken.
constexpr std::size_t kSlots = [] {
  std::size_t n = 1;
  while (n < 4 * (kMaxOpenEvents + 1)) n *= 2;
  return n;
}();

// The hash of an event's key. The stamps of a log differ mostly in their last digits (the
// serial), and its nodes are few: the last eight bytes and the length of the stamp and of the
// node, and the node's first byte, are enough, and cost no loop over the text. Keys that share
// them all are told apart by their text.
std::uint64_t KeyHash(std::string_view node, std::string_view stamp) {
  const auto tail = [](std::string_view text) {
    const std::size_t n = std::min<std::size_t>(text.size(), 8);
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, text.data() + text.size() - n, n);
    return bytes ^ text.size() * 0x9e3779b97f4a7c15u;
  };
  // Every bit of the input reaches the low bits, which choose the slot: the serial's digits are
  // the last bytes of the stamp, the high ones of its tail.
  const auto mix = [](std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdu;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53u;
    return h ^ (h >> 33);
  };
  std::uint64_t h = tail(stamp);
  if (!node.empty()) h = mix(h) ^ tail(node) ^ static_cast<unsigned char>(node[0]);
  return mix(h);
}

bool HasKey(const AuditEvent& event, const LineHead& head) {
  const std::string_view key = event.key;
  return key.size() == head.node.size() + 1 + head.stamp.size() && key.starts_with(head.node) &&
         key[head.node.size()] == ' ' && key.substr(head.node.size() + 1) == head.stamp;
}

void StartEvent(AuditEvent& event, const LineHead& head, std::string_view key) {
  event.key.assign(key);
  event.node = std::string(head.node);
  std::uint64_t seconds = 0;
  event.timeValid = ParseNumber(head.seconds, seconds) && seconds <= INT32_MAX &&
                    ParseNumber(head.serial, event.serial);
  event.seconds = static_cast<std::uint32_t>(seconds);
}

}  // namespace

AuditParser::AuditParser(UserNameLookup lookup, std::function<void(FileModification&&)> sink)
    : AuditParser(std::move(lookup),
                  SpanSink([plain = std::move(sink)](FileModification&& m, const EventSpan&) {
                    plain(std::move(m));
                  })) {}

AuditParser::AuditParser(UserNameLookup lookup, SpanSink sink)
    : lookup_(std::move(lookup)), sink_(std::move(sink)), bySerial_(kSlots, nullptr) {}

AuditParser::~AuditParser() = default;

void AuditParser::Line(std::string_view line) {
  LineHead head;
  RecordHandler handler = nullptr;
  if (!HeadOfInterest(line, head, handler)) return;

  AuditEvent* event = nullptr;
  if (last_ != nullptr && HasKey(*last_, head)) {
    event = last_;
  } else {
    const std::uint64_t hash = KeyHash(head.node, head.stamp);
    std::size_t slot = hash & (kSlots - 1);
    while (bySerial_[slot] != nullptr &&
           !(bySerial_[slot]->keyHash == hash && HasKey(*bySerial_[slot], head)))
      slot = (slot + 1) & (kSlots - 1);
    if (bySerial_[slot] != nullptr) {
      event = bySerial_[slot];
    } else {
      std::unique_ptr<AuditEvent> fresh;
      if (spare_.empty()) {
        fresh = std::make_unique<AuditEvent>();
      } else {
        fresh = std::move(spare_.back());
        spare_.pop_back();
      }
      KeyOf(head, key_);
      StartEvent(*fresh, head, key_);
      fresh->keyHash = hash;
      fresh->namesWanted = namesWanted_;
      fresh->span.begin = lineBegin_;
      event = fresh.get();
      bySerial_[slot] = event;
      open_.push_back(std::move(fresh));
      if (open_.size() > kMaxOpenEvents) CompleteFront();
    }
    last_ = event;
  }
  event->span.end = lineEnd_;
  if (!event->settled) handler(*event, head.body);
}

void AuditParser::Feed(std::string_view text) {
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    if (nl == std::string_view::npos) {
      fed_ += text.size();
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
    fed_ += nl + 1;
    if (skippingLine_) {
      skippingLine_ = false;
      continue;
    }
    lineEnd_ = fed_;
    if (partial_.empty()) {
      if (piece.size() <= kMaxLineLength) {
        lineBegin_ = lineEnd_ - piece.size() - 1;
        Line(piece);
      }
    } else {
      if (partial_.size() + piece.size() <= kMaxLineLength) {
        partial_.append(piece);
        lineBegin_ = lineEnd_ - partial_.size() - 1;
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
  fed_ = 0;
}

void AuditParser::Peek(const SpanSink& sink) const {
  for (const auto& event : open_)
    if (auto m = AssembleModification(*event, lookup_)) sink(std::move(*m), event->span);
}

void AuditParser::Unindex(const AuditEvent& event) {
  constexpr std::size_t kMask = kSlots - 1;
  std::size_t hole = event.keyHash & kMask;
  while (bySerial_[hole] != &event) hole = (hole + 1) & kMask;
  // The events after it in its run move back into the hole when their own slot lies at or
  // before it, so that every event stays reachable from its own slot.
  for (std::size_t next = (hole + 1) & kMask; bySerial_[next] != nullptr;
       next = (next + 1) & kMask) {
    const std::size_t home = bySerial_[next]->keyHash & kMask;
    if (((next - home) & kMask) >= ((next - hole) & kMask)) {
      bySerial_[hole] = bySerial_[next];
      hole = next;
    }
  }
  bySerial_[hole] = nullptr;
}

void AuditParser::CompleteFront() {
  std::unique_ptr<AuditEvent> event = std::move(open_.front());
  open_.pop_front();
  Unindex(*event);
  if (last_ == event.get()) last_ = nullptr;
  if (auto m = AssembleModification(*event, lookup_)) sink_(std::move(*m), event->span);
  // Kept for the next event, with the storage of its key and items: an event is begun for every
  // few lines of the log.
  Recycle(*event);
  spare_.push_back(std::move(event));
}

std::vector<FileModification> ParseAuditText(std::string_view text, const UserNameLookup& lookup) {
  std::vector<FileModification> out;
  AuditParser parser(lookup, [&](FileModification&& m) { out.push_back(std::move(m)); });
  parser.Feed(text);
  parser.Finish();
  return out;
}

std::optional<FileModification> ParseEventSpan(std::string_view text,
                                               const UserNameLookup& lookup) {
  // While its span lasts the event is open, so every line there with its key was read into it,
  // and nothing else was: the lines are taken under the same length limit as Feed takes them.
  AuditEvent event;
  bool started = false;
  while (true) {
    const std::size_t nl = text.find('\n');
    if (nl == std::string_view::npos) break;
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    if (line.size() > kMaxLineLength) continue;
    LineHead head;
    RecordHandler handler = nullptr;
    if (!HeadOfInterest(line, head, handler)) continue;
    if (!started) {
      std::string key;
      KeyOf(head, key);
      StartEvent(event, head, key);
      started = true;
    } else if (!HasKey(event, head)) {
      continue;
    }
    if (!event.settled) handler(event, head.body);
  }
  if (!started) return std::nullopt;
  return AssembleModification(event, lookup);
}

}  // namespace qs::platform::audit
