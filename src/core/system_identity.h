// What start-up learns from the system: the computer's and the user's names, the system's name
// and version, and the window title composed from them.
#pragma once

#include <string>

#include "platform/sysinfo.h"

namespace qs {

struct SystemIdentity {
  std::string ComputerName;
  std::string OwnAccountName;
  std::string SystemName;
  std::string SystemDescription;
  bool ntFamily = false;
  bool offersWin2000Comment = false;  // SystemName is "Windows 2000" or the host offers it
  std::string title;
};

// The versioned title, then "   " and the computer, "; " and the user (each only when known), then
// "; " and the system's description ("Windows 2000 v.5.0, Build 2195, Service Pack 2").
SystemIdentity ReadSystemIdentity(platform::SystemInfoService& system);

}  // namespace qs
