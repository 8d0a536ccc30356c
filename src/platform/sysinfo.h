// Account and system information: the names and the system version that start-up puts in the
// window title, and the time-zone offset that the selection rule converts event times with.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::platform {

inline constexpr std::uint32_t kPlatformWin32Windows = 1;
inline constexpr std::uint32_t kPlatformWin32Nt = 2;

inline constexpr std::uint32_t kTimeZoneIdUnknown = 0;
inline constexpr std::uint32_t kTimeZoneIdStandard = 1;
inline constexpr std::uint32_t kTimeZoneIdDaylight = 2;
inline constexpr std::uint32_t kTimeZoneIdInvalid = 0xFFFFFFFF;

struct OsVersionInfo {
  std::uint32_t dwOSVersionInfoSize = 148;
  std::uint32_t dwMajorVersion = 0;
  std::uint32_t dwMinorVersion = 0;
  std::uint32_t dwBuildNumber = 0;
  std::uint32_t dwPlatformId = 0;
  std::array<char, 128> szCSDVersion{};  // service pack, NUL-terminated when shorter than 128
  // Empty on Windows. A host that is not Windows names itself here ("Linux"); its platform layer
  // provides every service the program needs, the summary properties included, and the name
  // stands in the window title in place of a Windows name.
  std::string hostSystemName;
};

// The account name that the Security log gives the program's own writes. A program run as
// LocalSystem is "SYSTEM" to GetUserName, but Windows logs what that account does under the
// computer's own account, its NetBIOS name followed by "$" ("HOST$"); any other account is
// logged under its own name.
inline std::string AccountNameInEvents(std::string_view userName, bool runsAsLocalSystem,
                                       std::string_view computerName) {
  if (!runsAsLocalSystem || computerName.empty()) return std::string(userName);
  return std::string(computerName) + "$";
}

class SystemInfoService {
 public:
  virtual ~SystemInfoService() = default;
  // Both name calls write the name and a terminating NUL at the start of `buffer` and leave the
  // rest of it as it was; on failure the buffer is left untouched and the result is false.
  virtual bool ReadComputerName(std::string& buffer) = 0;
  // The effective user's plain account name, as the events name it (AccountNameInEvents).
  virtual bool ReadUserName(std::string& buffer) = 0;
  virtual bool ReadVersion(OsVersionInfo& info) = 0;
  // Stores the standard offset (minutes west of UTC: UTC = local time + bias) in `bias` and
  // returns a kTimeZoneId* value; kTimeZoneIdInvalid when the zone cannot be read.
  virtual std::uint32_t ReadTimeZone(std::int32_t& bias) = 0;
};

}  // namespace qs::platform
