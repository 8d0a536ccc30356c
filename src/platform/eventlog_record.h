// Building event-log records in the form that an ANSI read returns them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qs::platform {

inline constexpr std::uint32_t kRecordSignature = 0x654c664c;  // "LfLe"
inline constexpr std::uint32_t kFixedRecordSize = 56;

// The fields of one record. Texts are in the ANSI code page of this platform (UTF-8).
struct EventRecordFields {
  std::uint32_t RecordNumber = 0;
  std::uint32_t TimeGenerated = 0;
  std::uint32_t TimeWritten = 0;
  std::uint32_t EventID = 0;
  std::uint16_t EventType = 0;
  std::uint16_t EventCategory = 0;
  std::uint16_t ReservedFlags = 0;
  std::uint32_t ClosingRecordNumber = 0;
  std::string SourceName;
  std::string ComputerName;
  std::vector<std::uint8_t> UserSid;
  std::vector<std::string> Strings;
  std::vector<std::uint8_t> Data;
};

// The EVENTLOGRECORD layout as ReadEventLogA returns it: the 56-byte fixed part, the source and
// computer names each ended by one zero byte, zero bytes up to a 4-byte boundary, the user SID,
// the insertion strings each ended by one zero byte, the data, zero bytes up to a 4-byte boundary,
// and the final copy of Length. The offsets and Length are computed here.
std::vector<std::uint8_t> BuildAnsiRecord(const EventRecordFields& fields);

// Little-endian access to record bytes.
inline std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline void WriteU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void WriteU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace qs::platform
