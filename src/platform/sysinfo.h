// Account and system information: the names and the system version that start-up puts in the
// window title, and the time-zone offset that the selection rule converts event times with.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace qs::platform {

inline constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

inline constexpr std::uint32_t TIME_ZONE_ID_UNKNOWN = 0;
inline constexpr std::uint32_t TIME_ZONE_ID_STANDARD = 1;
inline constexpr std::uint32_t TIME_ZONE_ID_DAYLIGHT = 2;
inline constexpr std::uint32_t TIME_ZONE_ID_INVALID = 0xFFFFFFFF;

struct OSVERSIONINFOA {
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

class SystemInfoService {
 public:
  virtual ~SystemInfoService() = default;
  // Both name calls write the name and a terminating NUL at the start of `buffer` and leave the
  // rest of it as it was; on failure the buffer is left untouched and the result is false.
  virtual bool GetComputerNameA(std::string& buffer) = 0;
  virtual bool GetUserNameA(std::string& buffer) = 0;  // the effective user's plain account name
  virtual bool GetVersionExA(OSVERSIONINFOA& info) = 0;
  // Stores the standard offset (minutes west of UTC: UTC = local time + bias) in `bias` and
  // returns a TIME_ZONE_ID_* value; TIME_ZONE_ID_INVALID when the zone cannot be read.
  virtual std::uint32_t GetTimeZoneInformation(std::int32_t& bias) = 0;
};

std::unique_ptr<SystemInfoService> MakePosixSystemInfoService();

// The kernel release as uname gives it ("6.1.0-18-amd64") read as major.minor (6, 1); parts that
// are missing or not numbers read as 0.
void ParseKernelRelease(const std::string& release, std::uint32_t& major, std::uint32_t& minor);

}  // namespace qs::platform
