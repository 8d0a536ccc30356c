// System information from the Windows calls themselves: the computer and account names, the
// version, and the time zone's standard offset.
#include <windows.h>

#include <cstring>

#include "platform/win32/win32_services.h"

namespace qs::platform {

namespace {

// Writes `name` and a terminating NUL at the start of `buffer`, growing it only when needed, so
// that the rest of the caller's buffer stays as it was.
void PutName(std::string& buffer, const char* name, std::size_t length) {
  if (buffer.size() < length + 1) buffer.resize(length + 1);
  std::memcpy(buffer.data(), name, length);
  buffer[length] = '\0';
}

class Win32SystemInfo final : public SystemInfoService {
 public:
  bool ReadComputerName(std::string& buffer) override {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return false;
    PutName(buffer, name, size);
    return true;
  }

  bool ReadUserName(std::string& buffer) override {
    char name[256 + 1];  // UNLEN + 1
    DWORD size = sizeof name;
    // The size returned counts the terminating NUL.
    if (!GetUserNameA(name, &size) || size == 0) return false;
    PutName(buffer, name, size - 1);
    return true;
  }

  bool ReadVersion(OsVersionInfo& info) override {
    // Without a manifest that names it, Windows 8.1 and later report themselves as 6.2 here; the
    // program's manifest declares the systems it supports so that the answer is the real one.
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = GetVersionExA(&v);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok) return false;
    info.dwMajorVersion = v.dwMajorVersion;
    info.dwMinorVersion = v.dwMinorVersion;
    info.dwBuildNumber = v.dwBuildNumber;
    info.dwPlatformId = v.dwPlatformId;
    static_assert(sizeof v.szCSDVersion == 128);
    std::memcpy(info.szCSDVersion.data(), v.szCSDVersion, sizeof v.szCSDVersion);
    info.hostSystemName.clear();
    return true;
  }

  std::uint32_t ReadTimeZone(std::int32_t& bias) override {
    TIME_ZONE_INFORMATION zone{};
    const DWORD id = GetTimeZoneInformation(&zone);
    if (id == TIME_ZONE_ID_INVALID) return kTimeZoneIdInvalid;
    bias = zone.Bias;
    return id;
  }
};

}  // namespace

std::unique_ptr<SystemInfoService> MakeWin32SystemInfoService() {
  return std::make_unique<Win32SystemInfo>();
}

}  // namespace qs::platform
