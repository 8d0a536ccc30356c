// The full_audit log's parser on any bytes: it must not crash, must read text given in pieces
// exactly as the whole text, must hold no more than a line's bound, each modification's span alone
// must give it again, and every modification must make a well-formed record whose texts hold no
// zero byte or control character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/formats/samba_audit_parser.h"

using qs::platform::audit::EventSpan;
using qs::platform::audit::FileModification;
namespace samba_audit = qs::platform::samba_audit;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Clean(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

// A fixed zone two hours west of UTC, and this year for times without one.
std::optional<std::int64_t> Zone(const samba_audit::CivilTime& t) {
  samba_audit::CivilTime withYear = t;
  if (withYear.year == 0) withYear.year = 2026;
  const auto s = samba_audit::UtcSeconds(withYear);
  if (!s) return std::nullopt;
  return *s + 7200;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto whole = samba_audit::ParseSambaAuditText(text, Zone);

  std::vector<FileModification> pieces;
  samba_audit::SambaAuditParser parser(Zone, [&](FileModification&& m, const EventSpan& s) {
    Check(s.begin < s.end && s.end <= text.size() && text[s.end - 1] == '\n');
    const auto again =
        samba_audit::ParseSambaAuditSpan(text.substr(s.begin, s.end - s.begin), Zone);
    Check(again && *again == m);
    pieces.push_back(std::move(m));
  });
  for (std::size_t i = 0; i < text.size(); i += piece) {
    parser.Feed(text.substr(i, piece));
    Check(parser.BufferedBytes() <= samba_audit::kMaxLineLength);
  }
  parser.Finish();
  Check(pieces == whole);

  for (const auto& m : whole) {
    Check(m.path.size() > 1 && m.path.front() == '/');
    Check(Clean(m.path) && Clean(m.primaryUser) && !m.primaryUser.empty());
    Check(m.seconds <= 0x7FFFFFFFu);
    if (m.rename) Check(!m.renamedFrom.empty() && m.renamedFrom != m.path);
    const auto record = qs::platform::audit::BuildModificationRecord(m, "host");
    Check(record.size() >= qs::platform::kMinRecordSize);
    Check(qs::platform::ReadU32(record.data()) == record.size());
    Check(qs::platform::ReadU32(record.data() + qs::platform::record_offset::kEventId) == 560);
  }
  return 0;
}
