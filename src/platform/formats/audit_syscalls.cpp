#include "platform/formats/audit_syscalls.h"

#include <algorithm>
#include <iterator>

namespace qs::platform::audit {

namespace {

struct SyscallEntry {
  std::uint32_t arch;
  std::uint64_t number;
  Call call;
};

// The entries name the argument that holds the open flags and the directory descriptors that the
// names are relative to (for renameat and renameat2 the new name's descriptor is argument 2).
constexpr SyscallEntry kSyscalls[] = {
    {kArchX86_64, 2, {CallKind::OpenFlags, 1, -1}},   // open
    {kArchX86_64, 257, {CallKind::OpenFlags, 2, 0}},  // openat
    {kArchX86_64, 85, {CallKind::Creat, -1, -1}},     // creat
    {kArchX86_64, 437, {CallKind::Openat2, -1, 0}},   // openat2
    {kArchX86_64, 76, {CallKind::Truncate, -1, -1}},  // truncate
    {kArchX86_64, 82, {CallKind::Rename, -1, -1}},    // rename
    {kArchX86_64, 264, {CallKind::Rename, -1, 2}},    // renameat
    {kArchX86_64, 316, {CallKind::Rename, -1, 2}},    // renameat2

    {kArchI386, 5, {CallKind::OpenFlags, 1, -1}},   // open
    {kArchI386, 295, {CallKind::OpenFlags, 2, 0}},  // openat
    {kArchI386, 8, {CallKind::Creat, -1, -1}},      // creat
    {kArchI386, 437, {CallKind::Openat2, -1, 0}},   // openat2
    {kArchI386, 92, {CallKind::Truncate, -1, -1}},  // truncate
    {kArchI386, 38, {CallKind::Rename, -1, -1}},    // rename
    {kArchI386, 302, {CallKind::Rename, -1, 2}},    // renameat
    {kArchI386, 353, {CallKind::Rename, -1, 2}},    // renameat2

    // aarch64 has no open, creat or rename: only their *at forms.
    {kArchAarch64, 56, {CallKind::OpenFlags, 2, 0}},   // openat
    {kArchAarch64, 437, {CallKind::Openat2, -1, 0}},   // openat2
    {kArchAarch64, 45, {CallKind::Truncate, -1, -1}},  // truncate
    {kArchAarch64, 38, {CallKind::Rename, -1, 2}},     // renameat
    {kArchAarch64, 276, {CallKind::Rename, -1, 2}},    // renameat2
};

}  // namespace

Call CallOf(std::uint32_t arch, std::uint64_t number) {
  const auto it = std::find_if(std::begin(kSyscalls), std::end(kSyscalls),
                               [&](const auto& e) { return e.arch == arch && e.number == number; });
  return it != std::end(kSyscalls) ? it->call : Call{};
}

}  // namespace qs::platform::audit
