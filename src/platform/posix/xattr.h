// Extended attributes of regular files, reached through a file descriptor that was opened without
// following any symbolic link. The program often runs as root, so a path that a user can change
// (a link planted where a shared file stood) must never lead it onto another file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

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
