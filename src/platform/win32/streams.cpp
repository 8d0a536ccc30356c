// Named streams on NTFS: "file:Comments:$DATA" opened with CreateFileW, as any file is, its UTF-8
// path in the wide form (WidePath: a long path gets the "\\?\" prefix, which the 15 characters
// of the stream's suffix make needed sooner). The
// handles are numbered for the comment logic, which holds a small integer or -1.
#include <windows.h>

#include <map>

#include "platform/win32/wide_path.h"
#include "platform/win32/win32_services.h"

namespace qs::platform {

namespace {

// The file that a stream path names: the text before the stream's ":" (the colon of a drive
// letter is not it).
std::string BaseFile(std::string_view streamPath) {
  const std::size_t colon = streamPath.find(':', 2);
  return std::string(streamPath.substr(0, colon));
}

class Win32Streams final : public StreamService {
 public:
  ~Win32Streams() override {
    for (auto& [number, handle] : open_) CloseHandle(handle);
  }

  using StreamService::OpenStream;
  StreamHandle OpenStream(std::string_view streamPath, std::uint32_t mode,
                          const std::optional<ExpectedFile>& expected) override {
    const std::string path(streamPath);
    if (path.find('\0') != std::string::npos) return kInvalidStream;
    // The expected file is held, undeletable and unrenamable, until the stream is open (whose
    // own handle then keeps it so), and checked before the stream is opened: a stream opened for
    // writing is emptied by the open itself.
    HANDLE held = INVALID_HANDLE_VALUE;
    if (expected) {
      held = CreateFileW(WidePath(BaseFile(streamPath)).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (held == INVALID_HANDLE_VALUE) return kInvalidStream;
      if (!IsExpectedFileHandle(held, *expected)) {
        CloseHandle(held);
        return kStreamNotTheFile;
      }
    }
    const StreamHandle opened = OpenChecked(path, streamPath, mode);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return opened;
  }

  StreamHandle OpenChecked(const std::string& path, std::string_view streamPath,
                           std::uint32_t mode) {
    const bool writing = (mode & (kOpenWriteBit | kOpenReadWriteBit)) != 0;
    if (writing) {
      // Opening a stream for writing would create a missing file: the file must be there, a
      // regular file, and not read-only.
      const DWORD attributes = GetFileAttributesW(WidePath(BaseFile(streamPath)).c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES ||
          (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return kInvalidStream;
      }
    }
    const DWORD access = (mode & kOpenReadWriteBit) != 0 ? GENERIC_READ | GENERIC_WRITE
                         : (mode & kOpenWriteBit) != 0   ? GENERIC_WRITE
                                                         : GENERIC_READ;
    // Writing denies other readers, as the comment logic's write mode asks; reading shares.
    const DWORD share = writing ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD disposition = !writing                       ? OPEN_EXISTING
                              : (mode & kOpenCreateBit) != 0 ? CREATE_ALWAYS
                                                             : OPEN_EXISTING;
    const HANDLE handle = CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidStream;
    const StreamHandle number = next_++;
    open_[number] = handle;
    return number;
  }

  std::int64_t GetStreamSize(StreamHandle handle) const override {
    const auto it = open_.find(handle);
    if (it == open_.end()) return -1;
    DWORD high = 0;
    const DWORD low = GetFileSize(it->second, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return (static_cast<std::int64_t>(high) << 32) | low;
  }

  std::int32_t ReadStream(StreamHandle handle, char* buffer, std::int32_t count) override {
    const auto it = open_.find(handle);
    if (it == open_.end() || count < 0) return -1;
    DWORD got = 0;
    if (!ReadFile(it->second, buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
    return static_cast<std::int32_t>(got);
  }

  std::int32_t WriteStream(StreamHandle handle, const char* buffer, std::int32_t count) override {
    const auto it = open_.find(handle);
    if (it == open_.end() || count < 0) return -1;
    DWORD written = 0;
    if (!WriteFile(it->second, buffer, static_cast<DWORD>(count), &written, nullptr)) return -1;
    return static_cast<std::int32_t>(written);
  }

  void CloseStream(StreamHandle handle) override {
    const auto it = open_.find(handle);
    if (it == open_.end()) return;
    CloseHandle(it->second);
    open_.erase(it);
  }

 private:
  std::map<StreamHandle, HANDLE> open_;
  StreamHandle next_ = 1;
};

}  // namespace

std::unique_ptr<StreamService> MakeWin32StreamService() { return std::make_unique<Win32Streams>(); }

}  // namespace qs::platform
