// System information from the Windows calls themselves: the computer and account names, the
// version, and the time zone's standard offset.
#include <windows.h>

#include <cstring>
#include <optional>
#include <string_view>

#include "platform/win32/wide_path.h"
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

// The computer's NetBIOS name, which is also the name of its account in a domain, in UTF-8.
std::optional<std::string> ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name / sizeof name[0];
  if (!GetComputerNameW(name, &size)) return std::nullopt;
  return Utf8FromWide(std::wstring_view(name, size));
}

// Whether the process's own account is LocalSystem (S-1-5-18).
bool RunsAsLocalSystem() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &size) != 0;
  CloseHandle(token);
  return known &&
         IsWellKnownSid(reinterpret_cast<const TOKEN_USER*>(user)->User.Sid, WinLocalSystemSid);
}

class Win32SystemInfo final : public SystemInfoService {
 public:
  bool ReadComputerName(std::string& buffer) override {
    const std::optional<std::string> name = ComputerName();
    if (!name) return false;
    PutName(buffer, name->data(), name->size());
    return true;
  }

  bool ReadUserName(std::string& buffer) override {
    wchar_t name[256 + 1];  // UNLEN + 1
    DWORD size = sizeof name / sizeof name[0];
    // The size returned counts the terminating NUL.
    if (!GetUserNameW(name, &size) || size == 0) return false;
    std::string account = Utf8FromWide(std::wstring_view(name, size - 1));
    // The program's own writes are told by the account that the events name. Run as LocalSystem
    // (a service), it is "SYSTEM" to GetUserName, while the events name the computer's account,
    // "HOST$".
    if (RunsAsLocalSystem()) {
      if (const std::optional<std::string> computer = ComputerName())
        account = AccountNameInEvents(account, true, *computer);
    }
    PutName(buffer, account.data(), account.size());
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
