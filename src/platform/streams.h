// The named-stream service: a file's stream ("C:\a.txt:Comments:$DATA") opened, sized, read,
// written and closed, once per comment operation, with the handle-and-result conventions of the
// comment logic (a handle or -1; a count or -1). Where a platform keeps a stream is its own
// business: NTFS keeps it beside the file's data, the POSIX implementation (posix/streams_xattr.h)
// in an extended attribute where a Samba server finds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/file_identity.h"

namespace qs::platform {

// The mode argument of OpenStream.
inline constexpr std::uint32_t kOpenStreamRead = 0x0000;         // read, compatibility sharing
inline constexpr std::uint32_t kOpenStreamWriteCreate = 0x1031;  // write, deny read, create/empty
inline constexpr std::uint32_t kOpenWriteBit = 0x0001;
inline constexpr std::uint32_t kOpenReadWriteBit = 0x0002;
inline constexpr std::uint32_t kOpenCreateBit = 0x1000;

using StreamHandle = std::int32_t;
inline constexpr StreamHandle kInvalidStream = -1;
// What an open gives when the file at the path is not the expected one: nothing was read or
// written.
inline constexpr StreamHandle kStreamNotTheFile = -2;

class StreamService {
 public:
  virtual ~StreamService() = default;

  // streamPath: a local file path followed by ":NAME:$DATA" (or ":NAME").
  // Reading: fails when the file or the stream is missing.
  // Writing (kOpenWriteBit or kOpenReadWriteBit): fails when the file is missing, is not a
  // regular file or is not writable by the program; with kOpenCreateBit the stream is created or
  // emptied, otherwise it must exist.
  // With `expected`, the file opened must be that file (IsExpectedFile), checked on the file
  // opened itself before anything is read or written; else the open gives kStreamNotTheFile.
  virtual StreamHandle OpenStream(std::string_view streamPath, std::uint32_t mode,
                                  const std::optional<ExpectedFile>& expected) = 0;
  // Any file at the path.
  StreamHandle OpenStream(std::string_view streamPath, std::uint32_t mode) {
    return OpenStream(streamPath, mode, std::nullopt);
  }
  // The stream's size in bytes, or -1.
  virtual std::int64_t GetStreamSize(StreamHandle handle) const = 0;
  // Reads up to count bytes from the current position; the number read, or -1.
  virtual std::int32_t ReadStream(StreamHandle handle, char* buffer, std::int32_t count) = 0;
  // Writes count bytes at the current position; the count written, or -1.
  virtual std::int32_t WriteStream(StreamHandle handle, const char* buffer, std::int32_t count) = 0;
  virtual void CloseStream(StreamHandle handle) = 0;
  // The comments of one file are done for now. A platform that keeps that file open from one
  // comment operation to the next (see posix/xattr.h) lets it go here, so that no file stays open
  // between events or passes.
  virtual void ReleaseFiles() {}
  // The program has let other work run (a yield), time enough for anybody to put another file
  // at a path: a file kept open is checked against its path again before it is used.
  virtual void Yielded() {}
};

}  // namespace qs::platform
