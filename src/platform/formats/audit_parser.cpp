#include "platform/formats/audit_parser.h"

#include <climits>

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
    : lookup_(std::move(lookup)),
      sink_([plain = std::move(sink)](FileModification&& m, const EventSpan&) {
        plain(std::move(m));
      }) {}

AuditParser::AuditParser(UserNameLookup lookup, SpanSink sink)
    : lookup_(std::move(lookup)), sink_(std::move(sink)) {}

AuditParser::~AuditParser() = default;

void AuditParser::Line(std::string_view line) {
  LineHead head;
  RecordHandler handler = nullptr;
  if (!HeadOfInterest(line, head, handler)) return;

  AuditEvent* event = nullptr;
  if (last_ != nullptr && HasKey(*last_, head)) {
    event = last_;
  } else {
    KeyOf(head, key_);
    if (auto it = bySerial_.find(key_); it != bySerial_.end()) {
      event = it->second;
    } else {
      std::unique_ptr<AuditEvent> fresh;
      if (spare_.empty()) {
        fresh = std::make_unique<AuditEvent>();
      } else {
        fresh = std::move(spare_.back());
        spare_.pop_back();
      }
      StartEvent(*fresh, head, key_);
      fresh->namesWanted = namesWanted_;
      fresh->span.begin = lineBegin_;
      event = fresh.get();
      bySerial_.emplace(event->key, event);
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

void AuditParser::CompleteFront() {
  std::unique_ptr<AuditEvent> event = std::move(open_.front());
  open_.pop_front();
  bySerial_.erase(event->key);
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
