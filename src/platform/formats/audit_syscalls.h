// The system calls that can modify a file, by architecture and number as a SYSCALL record gives
// them (arch=, syscall=), and how each names and changes its file.
#pragma once

#include <cstdint>

namespace qs::platform::audit {

inline constexpr std::uint32_t kArchX86_64 = 0xc000003eu;
inline constexpr std::uint32_t kArchI386 = 0x40000003u;
inline constexpr std::uint32_t kArchAarch64 = 0xc00000b7u;

// How a call names and changes the file.
enum class CallKind { None, OpenFlags, Creat, Openat2, Truncate, Rename };
struct Call {
  CallKind kind = CallKind::None;
  int flagsArg = -1;     // OpenFlags: the argument that holds the flags
  int dirFdArg = -1;     // the directory descriptor of the file's name; -1: the CWD
  int oldDirFdArg = -1;  // Rename: the directory descriptor of the old name
};

// The call of that number on that architecture; kind None for every other call and for an
// architecture whose numbers are not known here.
Call CallOf(std::uint32_t arch, std::uint64_t number);

}  // namespace qs::platform::audit
