#include "platform/posix/posix_sysinfo.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <ctime>
#include <vector>

namespace qs::platform {
namespace {

// Writes name + NUL at the start of buffer, as the Windows calls do, growing it when needed.
void PutName(std::string& buffer, const std::string& name) {
  if (buffer.size() < name.size() + 1) buffer.resize(name.size() + 1, ' ');
  buffer.replace(0, name.size(), name);
  buffer[name.size()] = '\0';
}

std::uint32_t ReadNumber(const std::string& text, std::size_t& pos) {
  std::uint64_t value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + static_cast<std::uint64_t>(text[pos] - '0');
    if (value > UINT32_MAX) value = UINT32_MAX;
    ++pos;
  }
  return static_cast<std::uint32_t>(value);
}

// The UTC offset (seconds east) of local time at the given moment, and whether DST was in force.
bool OffsetAt(std::time_t when, long& eastSeconds, bool& daylight) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return false;
  eastSeconds = local.tm_gmtoff;
  daylight = local.tm_isdst > 0;
  return true;
}

class PosixSystemInfo : public SystemInfoService {
 public:
  bool ReadComputerName(std::string& buffer) override {
    std::vector<char> name(HOST_NAME_MAX + 2, '\0');
    if (gethostname(name.data(), name.size() - 1) != 0) return false;
    PutName(buffer, std::string(name.data()));
    return true;
  }

  bool ReadUserName(std::string& buffer) override {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> storage(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, storage.data(), storage.size(), &found) != 0 ||
        found == nullptr || found->pw_name == nullptr)
      return false;
    PutName(buffer, found->pw_name);
    return true;
  }

  bool ReadVersion(OsVersionInfo& info) override {
    utsname names{};
    if (uname(&names) != 0) return false;
    ParseKernelRelease(names.release, info.dwMajorVersion, info.dwMinorVersion);
    // A kernel release has no build number in the Windows sense.
    info.dwBuildNumber = 0;
    info.dwPlatformId = kPlatformWin32Nt;
    info.szCSDVersion[0] = '\0';
    info.hostSystemName = names.sysname;
    return true;
  }

  std::uint32_t ReadTimeZone(std::int32_t& bias) override {
    tzset();
    // The standard offset is the one in force in whichever of January and July is not daylight
    // time; that keeps the daylight offset out whichever hemisphere the zone lies in.
    std::time_t now = std::time(nullptr);
    std::tm today{};
    if (localtime_r(&now, &today) == nullptr) return kTimeZoneIdInvalid;
    std::tm january{};
    january.tm_year = today.tm_year;
    january.tm_mon = 0;
    january.tm_mday = 1;
    january.tm_hour = 12;
    january.tm_isdst = -1;
    std::tm july = january;
    july.tm_mon = 6;
    std::time_t janTime = timegm(&january);
    std::time_t julTime = timegm(&july);
    long janOffset = 0, julOffset = 0;
    bool janDst = false, julDst = false;
    if (!OffsetAt(janTime, janOffset, janDst) || !OffsetAt(julTime, julOffset, julDst))
      return kTimeZoneIdInvalid;
    long standard = janOffset;
    if (janDst && !julDst) standard = julOffset;
    bias = static_cast<std::int32_t>(-standard / 60);
    if (janOffset == julOffset) return kTimeZoneIdUnknown;
    return today.tm_isdst > 0 ? kTimeZoneIdDaylight : kTimeZoneIdStandard;
  }
};

}  // namespace

void ParseKernelRelease(const std::string& release, std::uint32_t& major, std::uint32_t& minor) {
  std::size_t pos = 0;
  major = ReadNumber(release, pos);
  minor = 0;
  if (pos < release.size() && release[pos] == '.') {
    ++pos;
    minor = ReadNumber(release, pos);
  }
}

std::unique_ptr<SystemInfoService> MakePosixSystemInfoService() {
  return std::make_unique<PosixSystemInfo>();
}

}  // namespace qs::platform
