#include <windows.h>

#include "platform/win32/wide_path.h"
#include "platform/win32/win32_services.h"

namespace qs::platform {

namespace {

class Win32FileStatus final : public FileStatusService {
 public:
  FileFacts ReadFileFacts(std::string_view logPath) const override {
    FileFacts facts;
    const std::string path(logPath);
    // A NUL inside the path would make the call look at a shorter path than the one named.
    if (path.find('\0') != std::string::npos) return facts;
    // The wide calls, so that a name outside the ANSI code page is the name looked at; the long
    // form, so that a path of MAX_PATH characters or more is reached.
    const std::wstring wide = WidePath(path);
    facts.attributes = GetFileAttributesW(wide.c_str());
    if (facts.attributes == INVALID_FILE_ATTRIBUTES) return facts;
    // The number of names of the file: a file with several hard links cannot be told from a link
    // planted to another owner's file. Opening for no access at all needs no right on the file;
    // backup semantics let a folder be opened too.
    const HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      BY_HANDLE_FILE_INFORMATION info{};
      if (GetFileInformationByHandle(handle, &info)) facts.links = info.nNumberOfLinks;
      CloseHandle(handle);
    }
    return facts;
  }
};

}  // namespace

bool IsExpectedFileHandle(void* file, const ExpectedFile& expected) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(static_cast<HANDLE>(file), &info)) return false;
  // The log's identities are those of a Linux audit log; a Windows file has none of them.
  return IsExpectedFile(expected, std::nullopt, info.nNumberOfLinks);
}

std::unique_ptr<FileStatusService> MakeWin32FileStatus() {
  return std::make_unique<Win32FileStatus>();
}

}  // namespace qs::platform
