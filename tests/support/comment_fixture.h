// A small world for the comment operations: an event list, the current event, settings, a pump
// that counts the yields, and files in a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "comments/file_comments.h"
#include "platform/path_map.h"
#include "platform/posix/streams_xattr.h"
#include "platform/posix/xattr.h"
#include "platform/posix/xdg_comment_summary.h"
#include "scan/event_list.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qs::test {

inline const std::string kMacAttr = "user.DosStream.Comments:$DATA";
inline const std::string kWinAttr = "user.xdg.comment";

// The system's attribute calls, except where a test makes one of them fail with a given errno.
class FaultyXattrIo : public platform::XattrIo {
 public:
  bool Get(int fd, const std::string& name, std::string& value) override {
    if (getErrno != 0) {
      errno = getErrno;
      return false;
    }
    return platform::XattrIo::Get(fd, name, value);
  }
  bool Set(int fd, const std::string& name, std::string_view value) override {
    ++sets;
    if (setErrno != 0 && value.size() >= setFailFrom) {
      errno = setErrno;
      return false;
    }
    return platform::XattrIo::Set(fd, name, value);
  }
  int getErrno = 0;
  int setErrno = 0;
  std::size_t setFailFrom = 0;  // only values at least this long are refused
  int sets = 0;
};

// The raw attribute value, or nullopt when it is missing.
inline std::optional<std::string> RawAttr(const std::string& path, const std::string& name) {
  char buffer[70000];
  const ssize_t n = lgetxattr(path.c_str(), name.c_str(), buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

inline void PutAttr(const std::string& path, const std::string& name, std::string_view value) {
  ASSERT_EQ(lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0)
      << path << " " << name << " errno " << errno;
}

// A symbolic link as a user of the share would plant it: owned by that user (nobody here).
inline void PlantLink(const std::string& target, const std::string& link, uid_t owner = 65534) {
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
  ASSERT_EQ(lchown(link.c_str(), owner, owner), 0) << link;
}

// What can happen to a listed file between the comment pass looking at it and the write. `target`
// is a file of someone else's that the symbolic link points at; it must stay untouched.
struct ChangeBeforeWrite {
  const char* name;
  void (*change)(const std::string& file, const std::string& target);
};

inline void PrintTo(const ChangeBeforeWrite& c, std::ostream* os) { *os << c.name; }

inline const ChangeBeforeWrite kChangesBeforeWrite[] = {
    {"Deleted", [](const std::string& f, const std::string&) { std::filesystem::remove(f); }},
    {"ReplacedByADirectory",
     [](const std::string& f, const std::string&) {
       std::filesystem::remove(f);
       std::filesystem::create_directory(f);
     }},
    {"ReplacedByASymbolicLink",
     [](const std::string& f, const std::string& target) {
       std::filesystem::remove(f);
       PlantLink(target, f);
     }},
    {"MadeReadOnly",
     [](const std::string& f, const std::string&) { ASSERT_EQ(chmod(f.c_str(), 0444), 0); }},
    {"ReplacedByAFifo",
     [](const std::string& f, const std::string&) {
       std::filesystem::remove(f);
       ASSERT_EQ(mkfifo(f.c_str(), 0666), 0);
     }},
};

// UTF-16LE bytes of an ASCII or UTF-16 text.
inline std::string Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

inline std::u16string U16(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

class CommentWorld : public ::testing::Test {
 protected:
  CommentWorld() : list(settings) {
    settings.Performance = 1;
    settings.MacComments = true;
    settings.WinComments = true;
    settings.TimeSeconds = true;
    list.SetUpList(10000);
  }

  // factory: the summary property component, the platform's own over `io` when empty.
  void MakeWriters(platform::SummaryFactory factory = {}) {
    if (!factory) {
      factory = [this] {
        return std::unique_ptr<platform::SummaryPropertyComponent>(
            std::make_unique<platform::XdgCommentSummary>(io));
      };
    }
    writers = std::make_unique<FileComments>(list, current, settings, pump, paths, streams,
                                             std::move(factory));
  }
  FileComments& W() {
    if (!writers) MakeWriters();
    return *writers;
  }

  // A regular file with the given content; its path as the log names it (absolute here).
  std::string File(std::string_view name, std::string_view content = "content") {
    const std::string path = dir / std::string(name);
    WriteFile(path, content);
    return path;
  }

  // Lists an event as the comment pass does: the new row 1, and the current event.
  void List(const std::string& file, std::string user, EventDateTime when) {
    list.InsertNewest(when, user, file);
    current.dateTime = when;
    current.user = std::move(user);
    current.file = file;
  }

  std::string Mark(int row, int column) const { return list.CellText(row, column); }
  std::string Date(int row) const { return list.CellText(row, kColDateTime); }
  // The line of a row: with seconds, or the date text less three characters.
  std::string Line(int row, bool seconds = true) const {
    std::string date = Date(row);
    if (!seconds) date.resize(date.size() - 3);
    return date + " " + list.CellText(row, kColUser);
  }

  TempDir dir;
  Settings settings;
  EventList list;
  CurrentEvent current;
  CountingPump pump;
  platform::PathMap paths;
  FaultyXattrIo io;
  platform::XattrStreamFiles streams{io};
  std::unique_ptr<FileComments> writers;
};

// Detaches a mount made by a test, however the test ends.
struct MountGuard {
  std::string point;
  ~MountGuard() {
    if (!point.empty()) umount2(point.c_str(), MNT_DETACH);
  }
};

// A folder on a file system that takes attribute values of several KiB (tmpfs), where ext4
// keeps some 4 KiB per file in all; empty path when there is none.
class RoomyDir {
 public:
  RoomyDir() {
    char pattern[] = "/dev/shm/quillstamp-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    path_ = pattern;
    const std::string probe = path_ + "/probe";
    WriteFile(probe, "");
    const std::string big(8000, 'x');
    if (setxattr(probe.c_str(), "user.probe", big.data(), big.size(), 0) != 0) {
      std::filesystem::remove_all(path_);
      path_.clear();
      return;
    }
    std::filesystem::remove(probe);
  }
  ~RoomyDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline EventDateTime At(int hour, int minute, int second, int day = 10) {
  return EventDateTime{2026, 12, day, hour, minute, second};
}

}  // namespace qs::test
