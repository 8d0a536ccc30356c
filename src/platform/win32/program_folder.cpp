#include "platform/program_folder.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide_path.h"

namespace qs::platform {

std::optional<std::string> ProgramFolder() {
  // The wide call, so that a folder named outside the ANSI code page comes whole, in a buffer
  // that grows: a program unpacked deep in a folder tree may lie beyond MAX_PATH.
  std::wstring buffer(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;
    // A result that fills the buffer is a cut path.
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    if (buffer.size() >= 32768) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  std::string exe = Utf8FromWide(buffer);
  if (exe.starts_with("\\\\?\\UNC\\")) {
    exe = "\\\\" + exe.substr(8);
  } else if (exe.starts_with("\\\\?\\")) {
    exe = exe.substr(4);
  }
  const std::size_t sep = exe.find_last_of("\\/");
  if (sep == std::string::npos) return std::nullopt;
  return exe.substr(0, sep);
}

}  // namespace qs::platform
