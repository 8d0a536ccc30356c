// The absolute path of a name that an audit event gives, as the call resolved it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qs::platform::audit {

inline constexpr std::size_t kMaxNameLength = 4096;  // PATH_MAX: the kernel writes no longer name
inline constexpr std::uint32_t kAtFdCwd =
    0xffffff9cu;  // AT_FDCWD (-100) as the low 32 bits of an arg

// "." components and repeated slashes removed; ".." kept.
std::string NormalizePath(std::string_view path);

// The absolute path of `name` (not empty): as it stands when absolute; joined to `cwd` when the
// call resolves it from the CWD (fromCwd); else joined to `parentName`, the PARENT item's name,
// when that is absolute. Empty when none applies.
std::string ResolveName(const std::string& name, bool fromCwd,
                        const std::optional<std::string>& cwd, const std::string* parentName);

// Whether an absolute name is the link of a process's file descriptor in /proc
// (/proc/self/fd/N, /proc/thread-self/fd/N, /proc/PID/fd/N, /proc/PID/task/TID/fd/N): it names
// the open file whatever its path, and no path at all once the process has gone.
bool IsDescriptorLink(std::string_view name);

// The last component of a name ("b" of "a/b" and of "a/b/"); the name itself without a slash.
std::string LastComponent(std::string_view name);

}  // namespace qs::platform::audit
