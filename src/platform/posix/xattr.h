// Extended attributes of regular files, reached through a file descriptor that was opened without
// following any symbolic link. The program often runs as root, so a path that a user can change
// (a link planted where a shared file stood) must never lead it onto another file.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_identity.h"

namespace qs::platform {

enum class FileAccess {
  Read,   // the attributes are only read
  Write,  // the attributes will be set: the file must be writable by the program
};

// Opens the file at `path` for attribute work and returns its descriptor, or -1 with errno set.
// - The path is looked up one component at a time. A symbolic link is followed only when root or
//   the program's own user owns it (an administrator's link, such as a share folder that lives
//   elsewhere); a link that anybody else owns, in any component, fails with ELOOP. A user who
//   may write in a shared folder can plant links there, and the program often runs as root.
// - Anything but a regular file is refused (EISDIR for a directory, EINVAL otherwise) before it
//   is opened, so that no FIFO or device is ever opened.
// - The file is opened read-only and non-blocking: its content is never touched.
// - For Write, a file whose owner write bit is clear (the read-only attribute of this platform)
//   or that access(W_OK) refuses (a read-only mount, say) is refused with EACCES. Root passes
//   the access test on any writable mount, which is why the owner write bit is checked as well.
int OpenFileForAttributes(const std::string& path, FileAccess access);

// The same, with `beforeOpen` run after the checks made on the looked-up object and just before
// its name is opened: the moment when anybody who may write in its folder can put something else
// under that name. Tests stage such a swap there to show what the open itself still checks; the
// program has no use for it.
int OpenFileForAttributes(const std::string& path, FileAccess access,
                          const std::function<void()>& beforeOpen);

// The same, with `opened` set to what fstat tells of the descriptor returned.
int OpenFileForAttributes(const std::string& path, FileAccess access,
                          const std::function<void()>& beforeOpen, struct stat& opened);

// The opens of the comment services, shared by the stream and the summary services of one run.
// Both comments of one event open the same file up to four times (each comment reads, then
// rebuilds or writes), so the file opened last is kept after it is given back, until Release or
// the open of another file, and handed out again for the same path.
// - Between two uses with no yield in between, it is handed out as it is: the program gave
//   nobody time to change anything, and a fresh lookup would only repeat the one just made.
// - After a yield (Yielded), it is handed out only while the path still names the very file it
//   is, still a regular file, and, for writing, with its owner write bit set and the program's
//   access test passed again: a stat of the path (and an access test) instead of a new lookup.
class AttributeFiles {
 public:
  // hold: false for a user that is not told of the program's yields and of the end of a file's
  // comments; every open is then a new lookup and every descriptor is closed when given back.
  explicit AttributeFiles(bool hold = true) : hold_(hold) {}
  ~AttributeFiles();
  AttributeFiles(const AttributeFiles&) = delete;
  AttributeFiles& operator=(const AttributeFiles&) = delete;

  // A descriptor as OpenFileForAttributes gives it (-1 with errno); give it back with Done, never
  // close it.
  int Open(const std::string& path, FileAccess access);
  // The same, for the expected file only: the file opened (or held) is checked by fstat of its
  // descriptor, the file that every read and write then reaches, so that no change of the path
  // between a look at it and this open can lead onto another file. Another file gives -1 with
  // errno ESTALE.
  int Open(const std::string& path, FileAccess access, const std::optional<ExpectedFile>& expected);
  // Gives back a descriptor that Open returned.
  void Done(int fd);
  // Lets go of the held file, at once or, while it is handed out, when it is given back. Called
  // when the comments of a file are done, so that no file stays open between events or passes.
  void Release();
  // The program yielded: the held file is checked against its path at its next use, and the
  // access test for writing is made again.
  void Yielded() {
    checked_ = false;
    writeChecked_ = false;
  }

 private:
  void CloseHeld();

  bool hold_;
  std::string path_;  // of the held file; empty when none is held
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  mode_t mode_ = 0;            // as the last look at the file found it
  bool checked_ = false;       // no yield since the file was opened or checked
  bool writeChecked_ = false;  // the access test for writing passed, no yield since
  int lent_ = 0;               // times handed out and not yet given back
  bool releasing_ = false;     // Release came while it was handed out
};

// The attribute calls themselves, replaceable so that tests can play a file system that refuses
// user attributes or runs out of room for them.
class XattrIo {
 public:
  virtual ~XattrIo() = default;
  // The whole value of `name`; false with errno set when it cannot be read (ENODATA: missing).
  virtual bool Get(int fd, const std::string& name, std::string& value);
  // Replaces the value of `name` in one call, so a refused value leaves the old one whole;
  // false with errno set (EOPNOTSUPP, E2BIG, ENOSPC, EPERM...).
  virtual bool Set(int fd, const std::string& name, std::string_view value);
};

// The system's calls.
XattrIo& SystemXattrIo();

}  // namespace qs::platform
