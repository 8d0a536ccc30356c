// The audit-log parser on any bytes: it must not crash, must read text given in pieces exactly as
// the whole text, and every modification it gives must make a well-formed record whose texts
// hold no zero byte or tab.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/formats/audit_parser.h"

using qs::platform::audit::AuditParser;
using qs::platform::audit::FileModification;

namespace {

std::optional<std::string> Accounts(std::uint32_t uid) {
  if (uid == 0) return std::string("root");
  return std::nullopt;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Clean(std::string_view s) {
  return s.find('\0') == std::string_view::npos && s.find('\t') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto whole = qs::platform::audit::ParseAuditText(text, Accounts);

  // Each event read again from its span alone gives the same modification.
  std::vector<FileModification> pieces;
  AuditParser parser(Accounts, [&](FileModification&& m, const qs::platform::audit::EventSpan& s) {
    Check(s.begin < s.end && s.end <= text.size() && text[s.end - 1] == '\n');
    const auto again =
        qs::platform::audit::ParseEventSpan(text.substr(s.begin, s.end - s.begin), Accounts);
    Check(again && *again == m);
    pieces.push_back(std::move(m));
  });
  for (std::size_t i = 0; i < text.size(); i += piece) parser.Feed(text.substr(i, piece));
  parser.Finish();
  Check(pieces == whole);

  for (const auto& m : whole) {
    Check(!m.path.empty() && m.path.front() == '/');
    Check(Clean(m.path) && Clean(m.primaryUser) && Clean(m.clientUser));
    Check(!m.primaryUser.empty() && !m.clientUser.empty());
    const std::string computer = qs::platform::audit::RecordComputerName(m.node, "host");
    Check(Clean(computer) && !computer.ends_with("File"));
    const auto record = qs::platform::audit::BuildModificationRecord(m, computer);
    Check(record.size() >= qs::platform::kMinRecordSize);
    Check(qs::platform::ReadU32(record.data()) == record.size());
    Check(qs::platform::ReadU32(record.data() + qs::platform::record_offset::kEventId) == 560);
  }
  return 0;
}
