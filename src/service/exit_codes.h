// The exit codes of quillstamp-service.
#pragma once

namespace qs {

inline constexpr int kExitOk = 0;
inline constexpr int kExitLogUnreadable = 1;   // --once: the Security log could not be opened
inline constexpr int kExitUsage = 2;           // a usage or settings error
inline constexpr int kExitAlreadyRunning = 3;  // another instance holds the settings file's lock
// --setup-audit, --remove-audit: the rules could not be set up or removed (the reason is said).
inline constexpr int kExitAuditSetupFailed = 1;

}  // namespace qs
