// The event-log service of the platform the tests were built for, over a log file.
#pragma once

#include <memory>
#include <string>

#include "platform/eventlog.h"
#ifdef _WIN32
#include "platform/win32/win32_services.h"
#else
#include "platform/posix/posix_eventlog.h"
#endif

namespace qs::test {

inline std::unique_ptr<platform::EventLogService> FileLogService(std::string path) {
#ifdef _WIN32
  return platform::MakeWin32EventLogService(std::move(path));
#else
  return platform::MakePosixEventLogService(std::move(path));
#endif
}

}  // namespace qs::test
