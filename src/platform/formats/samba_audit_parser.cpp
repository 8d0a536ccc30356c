#include "platform/formats/samba_audit_parser.h"

#include <cstring>
#include <utility>
#include <vector>

namespace qs::platform::samba_audit {

namespace {

// A 32-bit hash of the prefix (FNV-1a) that is never the "unset" session.
std::uint32_t ConnectionHash(std::string_view prefix) {
  std::uint32_t h = 2166136261u;
  for (char c : prefix) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h == audit::kUnsetId ? 0 : h;
}

}  // namespace

SambaAuditParser::SambaAuditParser(LocalTimeResolver localTime, SpanSink sink)
    : localTime_(std::move(localTime)), sink_(std::move(sink)) {}

void SambaAuditParser::Feed(std::string_view text) {
  while (!text.empty()) {
    const void* found = std::memchr(text.data(), '\n', text.size());
    if (found == nullptr) {
      // The line goes on in the next text: kept, unless it is already too long to be one.
      if (!skippingLine_ && partial_.size() + text.size() <= kMaxLineLength) {
        partial_.append(text);
      } else {
        skippingLine_ = true;
        partial_.clear();
      }
      fed_ += text.size();
      return;
    }
    const std::size_t length = static_cast<const char*>(found) - text.data();
    const std::uint64_t begin = fed_ - partial_.size();
    fed_ += length + 1;
    if (skippingLine_ || partial_.size() + length > kMaxLineLength) {
      // An over-long line tells nothing, and it parts a header from its message.
      header_.reset();
    } else if (partial_.empty()) {
      Line(text.substr(0, length), begin, fed_);
    } else {
      partial_.append(text.substr(0, length));
      const std::string line = std::move(partial_);
      partial_.clear();
      Line(line, begin, fed_);
    }
    skippingLine_ = false;
    partial_.clear();
    text.remove_prefix(length + 1);
  }
}

void SambaAuditParser::Finish() {
  partial_.clear();
  skippingLine_ = false;
  header_.reset();
  fed_ = 0;
}

void SambaAuditParser::Line(std::string_view line, std::uint64_t begin, std::uint64_t end) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (header_ && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
    // The message of the header before it.
    std::size_t indent = 0;
    while (indent < line.size() && (line[indent] == ' ' || line[indent] == '\t')) ++indent;
    const CivilTime time = *header_;
    header_.reset();
    Message(line.substr(indent), time, headerBegin_, end);
    return;
  }
  header_.reset();
  std::string_view rest;
  if (const auto time = ParseDebugHeader(line, rest)) {
    // With "debug prefix timestamp" the message is on the header's line; else on the next.
    if (rest.find('|') != std::string_view::npos) {
      Message(rest, *time, begin, end);
    } else {
      header_ = time;
      headerBegin_ = begin;
    }
    return;
  }
  if (const auto time = ParseSyslogLine(line, rest)) Message(rest, *time, begin, end);
}

void SambaAuditParser::Message(std::string_view message, const CivilTime& time, std::uint64_t begin,
                               std::uint64_t end) {
  const auto op = ParseMessage(message);
  if (!op) return;
  std::optional<std::int64_t> seconds;
  if (time.utcOffset || (time.year != 0 && !localTime_)) {
    seconds = UtcSeconds(time);
  } else if (localTime_) {
    // A zone's offset changes only at a whole minute: the start of the line's minute is asked
    // of the zone once, the lines of the same minute add their seconds to it (the zone's rules,
    // mktime, cost more than all the rest of a line).
    CivilTime minute = time;
    minute.second = 0;
    if (!minuteCached_ || minute.year != cachedMinute_.year ||
        minute.month != cachedMinute_.month || minute.day != cachedMinute_.day ||
        minute.hour != cachedMinute_.hour || minute.minute != cachedMinute_.minute) {
      cachedMinute_ = minute;
      cachedStart_ = localTime_(minute);
      minuteCached_ = true;
    }
    if (cachedStart_) seconds = *cachedStart_ + time.second;
  }
  if (!seconds || *seconds < 0 || *seconds > 0x7FFFFFFF) return;
  audit::FileModification m;
  m.seconds = static_cast<std::uint32_t>(*seconds);
  m.pid = op->pid;
  m.session = ConnectionHash(op->prefix);
  m.path.assign(op->path);
  m.primaryUser.assign(op->user);
  m.clientUser = "-";
  m.rename = op->rename;
  m.renamedFrom.assign(op->renamedFrom);
  sink_(std::move(m), audit::EventSpan{begin, end});
}

std::optional<audit::FileModification> ParseSambaAuditSpan(std::string_view text,
                                                           const LocalTimeResolver& localTime) {
  std::optional<audit::FileModification> found;
  SambaAuditParser parser(localTime, [&](audit::FileModification&& m, const audit::EventSpan&) {
    if (!found) found = std::move(m);
  });
  parser.Feed(text);
  return found;
}

std::vector<audit::FileModification> ParseSambaAuditText(std::string_view text,
                                                         const LocalTimeResolver& localTime) {
  std::vector<audit::FileModification> all;
  SambaAuditParser parser(localTime, [&](audit::FileModification&& m, const audit::EventSpan&) {
    all.push_back(std::move(m));
  });
  parser.Feed(text);
  return all;
}

}  // namespace qs::platform::samba_audit
