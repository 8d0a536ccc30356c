// The settings file on Windows. A key is read by GetPrivateProfileStringA, the system's own reader
// of the INI rules. A write never leaves a cut file behind: the new content (the same rules, on the
// bytes read) goes to a temporary file in the same folder, flushed, that then replaces the old file
// with MoveFileExA. WritePrivateProfileStringA rewrites the file in place and is not used.
#include "platform/profile.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "platform/formats/ini_rules.h"

namespace qs::platform {

namespace {

struct HandleCloser {
  HANDLE handle;
  ~HandleCloser() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// The whole file, or nullopt when it cannot be read; `missing` tells a file that is not there.
std::optional<std::string> ReadFileBytes(const std::string& path, bool* missing = nullptr) {
  if (missing != nullptr) *missing = false;
  const HandleCloser file{CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (missing != nullptr)
      *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return std::nullopt;
  }
  if (GetFileType(file.handle) != FILE_TYPE_DISK) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.handle, buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) return content;
    content.append(buffer, got);
  }
}

bool WriteAllBytes(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Writers of the same file, in this program or another, take turns: each holds the companion file
// "<file>.lock" open without sharing from the read to the replacement, so that no update is lost
// to another write made in between. The system removes the companion file when its holder closes
// it, or ends. A write that cannot have it within a few seconds fails.
class WriteLock {
 public:
  explicit WriteLock(const std::string& path) {
    const std::string lockPath = path + ".lock";
    for (int attempt = 0; attempt < 100; ++attempt) {
      handle_ = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) return;
      const DWORD error = GetLastError();
      // Another writer holds it (or is just letting it go); anything else will not pass.
      if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return;
      Sleep(50);
    }
  }
  ~WriteLock() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::string ReadIniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, const std::string& path,
                          std::size_t maxLength) {
  const std::string sectionText(section);
  const std::string keyText(key);
  const std::string defaultText(defaultValue.substr(0, maxLength));
  std::vector<char> buffer(maxLength + 1, '\0');
  const DWORD n =
      GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), defaultText.c_str(),
                               buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
  return std::string(buffer.data(), n);
}

std::vector<std::pair<std::string, std::string>> ReadIniSection(std::string_view section,
                                                                const std::string& path,
                                                                std::size_t maxLength) {
  const std::optional<std::string> content = ReadFileBytes(path);
  if (!content) return {};
  return ProfileSectionIn(*content, section, maxLength);
}

bool WriteIniString(std::string_view section, std::string_view key, std::string_view value,
                    const std::string& path, const ProfileWriteHook& beforeReplace) {
  if (!ProfileNamesValid(section, key, value) || path.empty()) return false;
  const WriteLock lock(path);
  if (!lock.held()) return false;

  bool missing = false;
  const std::optional<std::string> old = ReadFileBytes(path, &missing);
  if (!old && !missing) return false;  // there but unreadable: its content would be lost
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (old && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return false;

  const std::string content = old ? *old : std::string();
  const std::optional<std::string> result = ProfileWithKey(content, section, key, value);
  if (!result) return false;
  if (old && *result == content) return true;

  const std::size_t sep = path.find_last_of("\\/");
  const std::string folder = sep == std::string::npos ? "." : path.substr(0, sep + 1);
  char temp[MAX_PATH + 1];
  if (GetTempFileNameA(folder.c_str(), "qs", 0, temp) == 0) return false;
  bool ok = false;
  {
    const HandleCloser file{CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)};
    ok = file.handle != INVALID_HANDLE_VALUE && WriteAllBytes(file.handle, *result) &&
         FlushFileBuffers(file.handle);
  }
  ok = ok && (!beforeReplace || beforeReplace(temp));
  ok = ok && MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temp);
  return ok;
}

}  // namespace qs::platform
