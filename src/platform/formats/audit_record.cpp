#include "platform/formats/audit_record.h"

#include <cstdio>

#include "platform/eventlog_record.h"

namespace qs::platform::audit {

std::string RecordComputerName(std::string_view node, std::string_view hostName) {
  std::string name;
  for (char c : node.empty() ? hostName : node)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) name.push_back(c);
  if (name.empty()) name = "localhost";
  if (name.ends_with("File")) name.push_back('.');
  return name;
}

std::vector<std::uint8_t> BuildModificationRecord(const FileModification& m,
                                                  std::string_view computerName) {
  const std::string computer(computerName);
  char logonId[32];
  std::snprintf(logonId, sizeof logonId, "(0x0,0x%X)", m.session);
  const bool client = m.clientUser != "-";
  EventRecordFields f;
  f.RecordNumber = m.serial;
  f.TimeGenerated = m.seconds;
  f.TimeWritten = m.seconds;
  f.EventID = 560;
  f.EventType = kEventTypeAuditSuccess;
  f.EventCategory = 3;  // Object Access
  f.SourceName = "Security";
  f.ComputerName = computer;
  f.Strings = {
      "Security",                     // Object Server
      "File",                         // Object Type
      m.path,                         // Object Name
      "0",                            // New Handle ID
      "0",                            // Operation ID, high part
      std::to_string(m.serial),       // Operation ID, low part
      std::to_string(m.pid),          // Process ID
      m.primaryUser,                  // Primary User Name
      computer,                       // Primary Domain
      logonId,                        // Primary Logon ID
      m.clientUser,                   // Client User Name
      client ? computer : "-",        // Client Domain
      client ? logonId : "-",         // Client Logon ID
      "%%4417 %%4418 %%4420 %%4424",  // Accesses
      "-",                            // Privileges
  };
  if (m.identity) f.Data = FileIdentityData(*m.identity);
  return BuildAnsiRecord(f);
}

}  // namespace qs::platform::audit
