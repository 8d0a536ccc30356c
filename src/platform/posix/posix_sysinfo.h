// The system-information service of this platform: the host and account names, the kernel as
// the system's version, and the standard offset of the TZ time zone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sysinfo.h"

namespace qs::platform {

std::unique_ptr<SystemInfoService> MakePosixSystemInfoService();

// The kernel release as uname gives it ("6.1.0-18-amd64") read as major.minor (6, 1); parts that
// are missing or not numbers read as 0.
void ParseKernelRelease(const std::string& release, std::uint32_t& major, std::uint32_t& minor);

}  // namespace qs::platform
