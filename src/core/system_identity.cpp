#include "core/system_identity.h"

#include <cstdint>

#include "core/app_title.h"

namespace qs {
namespace {

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// A name call's buffer as start-up reads it: blanks around it removed, then the terminating NUL.
std::string NameFromBuffer(const std::string& buffer) {
  std::string name = TrimBlanks(buffer);
  if (name.size() > 1 && name.back() == '\0') name.pop_back();
  return name;
}

}  // namespace

SystemIdentity ReadSystemIdentity(platform::SystemInfoService& system) {
  SystemIdentity id;
  id.title = kVersionedTitle;

  std::string buffer(1024, ' ');
  system.ReadComputerName(buffer);
  id.ComputerName = NameFromBuffer(buffer);
  if (!id.ComputerName.empty()) id.title += "   " + id.ComputerName;

  buffer.assign(1024, ' ');
  system.ReadUserName(buffer);
  id.OwnAccountName = NameFromBuffer(buffer);
  if (!id.OwnAccountName.empty()) id.title += "; " + id.OwnAccountName;

  platform::OsVersionInfo info;
  info.szCSDVersion.fill(' ');
  system.ReadVersion(info);
  if (info.dwPlatformId == platform::kPlatformWin32Windows) {
    if (info.dwMinorVersion == 0)
      id.SystemName = "Windows 95";
    else if (info.dwMinorVersion == 10)
      id.SystemName = "Windows 98";
  } else if (info.dwPlatformId == platform::kPlatformWin32Nt) {
    id.SystemName =
        (info.dwMajorVersion == 3 || info.dwMajorVersion == 4) ? "Windows NT" : "Windows 2000";
  } else {
    id.SystemName = "???";
  }
  id.ntFamily = info.dwPlatformId == platform::kPlatformWin32Nt;
  id.offersWin2000Comment = id.SystemName == "Windows 2000";
  if (!info.hostSystemName.empty()) {
    // A host other than Windows names itself; its platform layer offers every service.
    id.SystemName = info.hostSystemName;
    id.offersWin2000Comment = true;
  }

  const auto build = static_cast<std::int16_t>(info.dwBuildNumber & 0xFFFF);
  id.SystemDescription = id.SystemName + " v." + std::to_string(info.dwMajorVersion) + "." +
                         std::to_string(info.dwMinorVersion) + ", Build " + std::to_string(build);
  std::string servicePack(info.szCSDVersion.data(), info.szCSDVersion.size());
  if (const auto nul = servicePack.find('\0'); nul != std::string::npos) servicePack.resize(nul);
  servicePack = TrimBlanks(servicePack);
  if (!servicePack.empty()) id.SystemDescription += ", " + servicePack;
  id.title += "; " + id.SystemDescription;
  return id;
}

}  // namespace qs
