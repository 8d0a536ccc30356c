// The settings file on Windows. It is UTF-8, as on Linux, and read by the portable INI rules
// (ini_rules.h): the system's GetPrivateProfileString would read a file without a byte-order mark
// in the ANSI code page and so change every name outside ASCII. Its path is UTF-8 too, opened
// through the wide calls (WidePath). A write never leaves a cut file behind: the new content (the
// same rules, on the bytes read) goes to a temporary file in the same folder, flushed, that then
// takes the old file's place with ReplaceFileW, which keeps the old file's security descriptor
// (its owner and explicit ACL), its attributes (hidden, system...) and its named streams;
// MoveFileEx would give it the temporary file's. WritePrivateProfileString rewrites the file in
// place and is not used.
#include "platform/profile.h"

#include <windows.h>

#include <cwchar>
#include <optional>
#include <vector>

#include "platform/formats/ini_rules.h"
#include "platform/win32/wide_path.h"

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
  const HandleCloser file{CreateFileW(WidePath(path).c_str(), GENERIC_READ,
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
// it, or ends. A write that cannot have it within a few seconds fails; a folder where it cannot be
// made at all (read-only, or not there) fails at once, so that a window whose settings cannot be
// written is not held up at every change.
class WriteLock {
 public:
  explicit WriteLock(const std::string& path) {
    const std::wstring lockPath = WidePath(path + ".lock");
    for (int attempt = 0; attempt < 100; ++attempt) {
      handle_ = CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) return;
      const DWORD error = GetLastError();
      // Another writer holds it (sharing violation), or is just letting it go (access denied on
      // a file whose deletion is pending, which is there until its last handle is closed).
      // Access denied where no such file is, is the folder's refusal, and will not pass.
      if (error != ERROR_SHARING_VIOLATION &&
          (error != ERROR_ACCESS_DENIED ||
           GetFileAttributesW(lockPath.c_str()) == INVALID_FILE_ATTRIBUTES)) {
        return;
      }
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

// Another process that holds the file open without letting it be replaced (an antivirus scanner,
// an indexer) lets it go again within moments.
bool HeldByAnother(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
         error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplaceRetryMs = 50;

// The temporary file takes the place of the file at `path`: ReplaceFileW over a file that is
// there, keeping what describes it; a move when there is none yet. Retried for about a second
// while another process holds the file.
bool PutInPlace(const std::wstring& temp, const std::wstring& path, bool existed) {
  // The attributes that say how the file is kept; the system sets the others itself.
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD oldAttributes = existed ? GetFileAttributesW(path.c_str()) : INVALID_FILE_ATTRIBUTES;
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    if (attempt > 0) Sleep(kReplaceRetryMs);
    if (existed) {
      if (ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr)) {
        // Windows merges them; a system whose ReplaceFile only renames (Wine) is given them back.
        const DWORD now = GetFileAttributesW(path.c_str());
        if (oldAttributes != INVALID_FILE_ATTRIBUTES && now != INVALID_FILE_ATTRIBUTES &&
            (now & kKept) != (oldAttributes & kKept)) {
          SetFileAttributesW(path.c_str(), (now & ~kKept) | (oldAttributes & kKept));
        }
        return true;
      }
    } else if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file was moved away and could not be put back
    // by the call; it is nowhere to be retried. Anything else that is not a holder will not pass.
    if (!HeldByAnother(error)) return false;
  }
  return false;
}

}  // namespace

std::string ReadIniString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, const std::string& path,
                          std::size_t maxLength) {
  const std::optional<std::string> content = ReadFileBytes(path);
  if (!content) return std::string(defaultValue.substr(0, maxLength));
  return ProfileStringIn(*content, section, key, defaultValue, maxLength);
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
  const std::wstring widePath = WidePath(path);
  const DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (old && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return false;

  const std::string content = old ? *old : std::string();
  const std::optional<std::string> result = ProfileWithKey(content, section, key, value);
  if (!result) return false;
  if (old && *result == content) return true;

  const std::size_t sep = path.find_last_of("\\/");
  const std::string folder = sep == std::string::npos ? "." : path.substr(0, sep + 1);
  // GetTempFileName takes a folder of at most MAX_PATH - 14 characters; a longer one gets a
  // name of the same form made here.
  const std::wstring wideFolder = WidePath(folder);
  std::wstring temp;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
    wchar_t name[32];
    std::swprintf(name, 32, L"qs%04X.tmp", (GetTickCount() + attempt * 7919u) & 0xFFFFu);
    temp = wideFolder;
    if (!temp.empty() && temp.back() != L'\\' && temp.back() != L'/') temp.push_back(L'\\');
    temp += name;
    created = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (created == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  {
    const HandleCloser file{created};
    ok = WriteAllBytes(file.handle, *result) && FlushFileBuffers(file.handle);
  }
  ok = ok && (!beforeReplace || beforeReplace(Utf8FromWide(temp)));
  ok = ok && PutInPlace(temp, widePath, old.has_value());
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

}  // namespace qs::platform
