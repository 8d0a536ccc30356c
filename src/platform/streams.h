// Named streams of files ("C:\a.txt:Comments:$DATA"): open, size, read, write, close, with the
// handle-and-result conventions of the comment logic (a handle or -1; a count or -1).
//
// This platform keeps a stream where a Samba file server with vfs_streams_xattr keeps it, so that
// Windows and Macintosh clients of the share see it as the file's stream: the stream "NAME" of a
// file is its extended attribute "user.DosStream.NAME:$DATA", holding the stream's bytes followed
// by one 0x00 byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/xattr.h"

namespace qs::platform {

// The mode argument of OpenStream.
inline constexpr std::uint32_t kOpenStreamRead = 0x0000;         // read, compatibility sharing
inline constexpr std::uint32_t kOpenStreamWriteCreate = 0x1031;  // write, deny read, create/empty
inline constexpr std::uint32_t kOpenWriteBit = 0x0001;
inline constexpr std::uint32_t kOpenReadWriteBit = 0x0002;
inline constexpr std::uint32_t kOpenCreateBit = 0x1000;

using StreamHandle = std::int32_t;
inline constexpr StreamHandle kInvalidStream = -1;

// The attribute that holds the stream `name` ("Comments").
std::string StreamAttributeName(std::string_view name);

class StreamFiles {
 public:
  explicit StreamFiles(XattrIo& io = SystemXattrIo()) : io_(io) {}
  ~StreamFiles();
  StreamFiles(const StreamFiles&) = delete;
  StreamFiles& operator=(const StreamFiles&) = delete;

  // streamPath: a local file path followed by ":NAME:$DATA" (or ":NAME").
  // Reading: fails when the file or the stream is missing.
  // Writing (kOpenWriteBit or kOpenReadWriteBit): fails when the file is missing, is not a
  // regular file, is not writable by the program, or lives on a file system that refuses user
  // attributes; with kOpenCreateBit the stream is created or emptied (an existing stream keeps
  // its stored value until the first write replaces it whole, or the close empties it), otherwise
  // it must exist. Links are followed only when trusted (see OpenFileForAttributes).
  StreamHandle OpenStream(std::string_view streamPath, std::uint32_t mode);
  // The stream's size in bytes, or -1.
  std::int64_t GetStreamSize(StreamHandle handle) const;
  // Reads up to count bytes from the current position; the number read, or -1.
  std::int32_t ReadStream(StreamHandle handle, char* buffer, std::int32_t count);
  // Writes count bytes at the current position. The stream is stored whole on every write, so a
  // write that the file system refuses (E2BIG, ENOSPC) leaves the stored stream as it was before
  // that call (the old stream, when it is the first write since the open) and returns -1; the
  // count written otherwise.
  std::int32_t WriteStream(StreamHandle handle, const char* buffer, std::int32_t count);
  void CloseStream(StreamHandle handle);

 private:
  struct Open {
    int fd = -1;
    std::string attribute;
    std::string content;  // the stream's bytes, without the stored 0x00
    std::size_t position = 0;
    bool writable = false;
    bool emptyOnClose = false;  // emptied by the open, old value still stored
  };
  Open* Find(StreamHandle handle);
  const Open* Find(StreamHandle handle) const;
  bool Store(Open& open, const std::string& content);

  XattrIo& io_;
  std::map<StreamHandle, Open> open_;
  StreamHandle next_ = 1;
};

}  // namespace qs::platform
