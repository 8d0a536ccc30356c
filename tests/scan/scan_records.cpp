#include "scan_records.h"

#include <cstring>

#include "platform/eventlog_record.h"

namespace qs::test {

std::vector<std::uint8_t> MakeRecord(const ObjectOpen& e) {
  platform::EventRecordFields f;
  f.RecordNumber = 1;
  f.TimeGenerated = static_cast<std::uint32_t>(e.TimeWritten);
  f.TimeWritten = static_cast<std::uint32_t>(e.TimeWritten);
  f.EventID = e.EventID;
  f.EventType = 8;  // audit success
  f.EventCategory = 3;
  f.SourceName = "Security";
  f.ComputerName = "SERVER";
  f.UserSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
  f.Strings = {"Security",   e.ObjectType,   e.ObjectName,  "1224",     "0",
               "3411097",    "400",          e.PrimaryUser, "SERVER",   "(0x0,0x3E7)",
               e.ClientUser, e.ClientDomain, "-",           e.Accesses, "-"};
  f.Data = e.Identity ? platform::FileIdentityData(*e.Identity) : e.Data;
  return platform::BuildAnsiRecord(f);
}

std::vector<std::uint8_t> MakeRawRecord(std::uint32_t eventId, std::int32_t timeWritten,
                                        std::string_view variable) {
  std::vector<std::uint8_t> out(platform::kFixedRecordSize + variable.size(), 0);
  platform::WriteU32(out.data(), static_cast<std::uint32_t>(out.size()));
  platform::WriteU32(out.data() + 4, platform::kRecordSignature);
  platform::WriteU32(out.data() + 16, static_cast<std::uint32_t>(timeWritten));
  platform::WriteU32(out.data() + 20, eventId);
  std::memcpy(out.data() + platform::kFixedRecordSize, variable.data(), variable.size());
  return out;
}

}  // namespace qs::test
