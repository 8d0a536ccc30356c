#include "platform/formats/audit_parser.h"

#include <climits>

#include "platform/formats/audit_event.h"
#include "platform/formats/audit_fields.h"

namespace qs::platform::audit {

AuditParser::AuditParser(UserNameLookup lookup, std::function<void(FileModification&&)> sink)
    : lookup_(std::move(lookup)), sink_(std::move(sink)) {}

AuditParser::~AuditParser() = default;

void AuditParser::Line(std::string_view line) {
  LineHead head;
  RecordHandler handler = nullptr;
  const auto wanted = [&](std::string_view type) {
    handler = HandlerOf(type);
    return handler != nullptr;
  };
  if (!ParseHead(line, head, wanted) || handler == nullptr) return;

  std::string key;
  key.reserve(head.node.size() + 1 + head.stamp.size());
  key.append(head.node).push_back(' ');
  key.append(head.stamp);

  AuditEvent* event = nullptr;
  if (auto it = bySerial_.find(key); it != bySerial_.end()) {
    event = it->second;
  } else {
    auto fresh = std::make_unique<AuditEvent>();
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
  handler(*event, head.body);
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

void AuditParser::CompleteFront() {
  std::unique_ptr<AuditEvent> event = std::move(open_.front());
  open_.pop_front();
  bySerial_.erase(event->key);
  if (auto m = AssembleModification(*event, lookup_)) sink_(std::move(*m));
}

std::vector<FileModification> ParseAuditText(std::string_view text, const UserNameLookup& lookup) {
  std::vector<FileModification> out;
  AuditParser parser(lookup, [&](FileModification&& m) { out.push_back(std::move(m)); });
  parser.Feed(text);
  parser.Finish();
  return out;
}

}  // namespace qs::platform::audit
