// Crafted Security-log records for the scan tests; the test doubles of what a scan pass talks to
// come from support/fakes.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/eventlog.h"
#include "platform/file_identity.h"
#include "scan/scan_pass.h"
#include "support/fakes.h"

namespace qs::test {

// The accesses of an open for writing and of an open for reading, as Windows 2000 lists them.
inline constexpr std::string_view kWriteAccesses =
    "%%1537\r\n\t\t\t%%1538\r\n\t\t\t%%1541\r\n\t\t\t%%4416\r\n\t\t\t%%4417\r\n\t\t\t%%4418\r\n"
    "\t\t\t%%4419\r\n\t\t\t%%4420\r\n\t\t\t%%4423\r\n\t\t\t%%4424\r\n\t\t\t";
inline constexpr std::string_view kReadAccesses =
    "%%1538\r\n\t\t\t%%1541\r\n\t\t\t%%4416\r\n\t\t\t%%4419\r\n\t\t\t%%4423\r\n\t\t\t";

// Event 560 (object open) with its 15 insertion strings.
struct ObjectOpen {
  std::uint32_t EventID = 560;
  std::int32_t TimeWritten = 1'000'000'000;
  std::string ObjectType = "File";
  std::string ObjectName = "D:\\Shared\\budget.xls";
  std::string PrimaryUser = "alice";
  std::string ClientUser = "-";
  std::string ClientDomain = "-";
  std::string Accesses = std::string(kWriteAccesses);
  // The data area: the written file's identity when set, else these bytes.
  std::optional<platform::FileIdentity> Identity;
  std::vector<std::uint8_t> Data;
};

std::vector<std::uint8_t> MakeRecord(const ObjectOpen& event);

// The fixed part of a record (Length, signature, TimeWritten, EventID) followed by `variable` as
// it stands, so that a test controls every byte the decoder sees.
std::vector<std::uint8_t> MakeRawRecord(std::uint32_t eventId, std::int32_t timeWritten,
                                        std::string_view variable);

}  // namespace qs::test
