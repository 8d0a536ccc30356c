// The files of a text log that a program appends to and rotates (auditd's log, Samba's), kept
// open while their records are read from them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/file_stamp.h"

namespace qs::platform {

// The log's files, kept open while a source lives: a record is read again from its file when the
// scan asks for it, and the writer may rotate or remove the file in between.
class OpenFiles {
 public:
  OpenFiles() = default;
  OpenFiles(const OpenFiles&) = delete;
  OpenFiles& operator=(const OpenFiles&) = delete;
  ~OpenFiles();

  // The file's number, or -1 when it cannot be opened.
  int Open(const std::string& path);
  // A descriptor the caller opened, now kept and closed here; its number.
  int Adopt(int fd);
  int Fd(std::uint32_t file) const;
  // Up to `length` bytes at `offset` of file `file` into `out` (fewer only at its end).
  bool Read(std::uint32_t file, std::uint64_t offset, std::size_t length, std::string& out) const;
  // The whole of file `file` from where its descriptor stands, handed to `feed` in chunks.
  bool Feed(std::uint32_t file, const std::function<void(std::string_view)>& feed) const;

 private:
  std::vector<int> fds_;
};

// The current file of a log that its writer only appends to until it rotates it, followed from
// pass to pass: where the reading stands, and whether the file's new state is an append to what
// was read (same file, not shorter, its last bytes read still there) or anything else (rotated,
// replaced, truncated, written over), which the reader meets by opening the log anew.
class AppendedFile {
 public:
  // Follows file `file` of `files`, the file now at `path`, from its start. False when it
  // cannot be looked at.
  bool Start(std::shared_ptr<const OpenFiles> files, std::uint32_t file, std::string path);
  // Whether the file at the path is still this file with nothing but appends since the last
  // read: false when the log must be opened anew.
  bool OnlyAppended();
  // Hands what was appended since the last read to `feed`, in chunks, and keeps its last bytes.
  void ReadOn(const std::function<void(std::string_view)>& feed);

 private:
  std::shared_ptr<const OpenFiles> files_;
  std::uint32_t file_ = 0;
  std::string path_;
  FileStamp stamp_;
  std::uint64_t read_ = 0;  // bytes read
  std::string last_;        // the last bytes read, up to kCheckedBytes
  std::string check_;
};

// path.1, path.2, ... that exist beside path, highest number first.
std::vector<std::string> RotatedFiles(const std::string& path);

// The name of this computer, or empty.
std::string HostName();

}  // namespace qs::platform
