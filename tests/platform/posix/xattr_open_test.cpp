// The open of a file for attribute work, raced: between the checks made on the looked-up object and
// the open of its name, anybody who may write in the folder can put something else there. Each
// case stages one such change (or none) and shows the check of the open that stops it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <utility>

#include "platform/posix/xattr.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

using platform::FileAccess;
using platform::OpenFileForAttributes;

// What the open gave: errno and the identity of the object opened, if any (its descriptor is
// closed at once), or that it did not come back.
struct Outcome {
  bool returned = false;
  bool opened = false;
  int error = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

std::pair<dev_t, ino_t> Identity(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return {st.st_dev, st.st_ino};
}

// Runs the open on a thread of its own. An open that waits (for a writer of a FIFO, say) is
// released after a bound far beyond any real open by opening `path` for reading and writing, which
// never blocks and lets a FIFO's reader go on; it is then reported as not having come back.
Outcome OpenBounded(const std::string& path, FileAccess access,
                    const std::function<void()>& beforeOpen) {
  auto done = std::async(std::launch::async, [&] {
    Outcome o;
    const int fd = OpenFileForAttributes(path, access, beforeOpen);
    o.error = errno;
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0) {
      o.opened = true;
      o.dev = st.st_dev;
      o.ino = st.st_ino;
    }
    if (fd >= 0) close(fd);
    return o;
  });
  bool returned = true;
  if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    returned = false;
    const int release = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (release >= 0) close(release);
  }
  Outcome o = done.get();
  o.returned = returned;
  return o;
}

// Counts the opens of one object (not its O_PATH lookups, which the kernel does not report).
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, path.c_str(), IN_OPEN) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~OpenWatch() {
    if (fd_ >= 0) close(fd_);
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;
  bool ok() const { return fd_ >= 0; }
  // The opens reported since the last call; the kernel queues them as the open happens.
  int Opens() {
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if ((event->mask & IN_OPEN) != 0) ++opens;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return opens;
  }

 private:
  int fd_ = -1;
};

struct RaceCase {
  const char* name;
  // Makes what lies at `file` before the open starts; `other` is a file of someone else's.
  void (*before)(const std::string& file, const std::string& other);
  // Done between the checks and the open; null for none.
  void (*swap)(const std::string& file, const std::string& other);
  int error;         // what the refused open reports
  bool watchFile;    // the object at `file` before the open must never be opened
  bool watchOther;   // `other` must never be opened
  bool otherIsFifo;  // `other` is made a FIFO
};

void PrintTo(const RaceCase& c, std::ostream* os) { *os << c.name; }

void Regular(const std::string& path, const std::string&) { WriteFile(path, "content"); }
void Fifo(const std::string& path, const std::string&) { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); }

const RaceCase kRaceCases[] = {
    // A hard link to someone else's file renamed over the name: the open reaches a regular file,
    // but not the one that was checked.
    {"RenamedOverByAnotherFile", Regular,
     [](const std::string& f, const std::string& other) {
       ASSERT_EQ(rename(other.c_str(), f.c_str()), 0);
     },
     EAGAIN, false, false, false},
    // A FIFO put in its place: the open must not wait for a writer that never comes.
    {"ReplacedByAFifo", Regular,
     [](const std::string& f, const std::string&) {
       ASSERT_EQ(unlink(f.c_str()), 0);
       ASSERT_EQ(mkfifo(f.c_str(), 0666), 0);
     },
     EAGAIN, false, false, false},
    // A link to someone else's FIFO put in its place: what lies behind it is never opened.
    {"ReplacedByALinkToAFifo", Regular,
     [](const std::string& f, const std::string& other) {
       ASSERT_EQ(unlink(f.c_str()), 0);
       ASSERT_EQ(symlink(other.c_str(), f.c_str()), 0);
     },
     ELOOP, false, true, true},
    // A link to someone else's regular file: the same, it is not even opened.
    {"ReplacedByALinkToAFile", Regular,
     [](const std::string& f, const std::string& other) {
       ASSERT_EQ(unlink(f.c_str()), 0);
       ASSERT_EQ(symlink(other.c_str(), f.c_str()), 0);
     },
     ELOOP, false, true, false},
    // No race: a FIFO that is there from the start is refused before any open.
    {"AFifoAllAlong", Fifo, nullptr, EINVAL, true, false, false},
};

class OpenForAttributesRace : public ::testing::TestWithParam<RaceCase> {};

TEST_P(OpenForAttributesRace, RefusedWithoutOpeningWhatMustNotBe) {
  const RaceCase& c = GetParam();
  for (FileAccess access : {FileAccess::Read, FileAccess::Write}) {
    SCOPED_TRACE(access == FileAccess::Read ? "read" : "write");
    TempDir dir;
    const std::string file = dir / "shared.doc";
    const std::string other = dir / "theirs";
    if (c.otherIsFifo) {
      ASSERT_EQ(mkfifo(other.c_str(), 0666), 0);
    } else {
      WriteFile(other, "not the program's");
    }
    c.before(file, other);
    OpenWatch fileOpens(file);
    OpenWatch otherOpens(other);
    if (!fileOpens.ok() || !otherOpens.ok()) GTEST_SKIP() << "inotify cannot watch files here";
    const auto theirs = Identity(other);
    int swaps = 0;
    const Outcome o = OpenBounded(file, access, [&] {
      ++swaps;
      if (c.swap != nullptr) c.swap(file, other);
    });
    ASSERT_TRUE(o.returned) << "the open waited for a FIFO's writer";
    EXPECT_FALSE(o.opened) << (std::pair(o.dev, o.ino) == theirs ? "gave the other file" : "");
    EXPECT_EQ(o.error, c.error);
    EXPECT_EQ(swaps, c.swap != nullptr ? 1 : 0) << "the open runs the hook once, after the checks";
    if (c.watchFile) {
      EXPECT_EQ(fileOpens.Opens(), 0) << "opened the object refused";
    }
    if (c.watchOther) {
      EXPECT_EQ(otherOpens.Opens(), 0) << "opened what the planted link names";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ChangedBetweenCheckAndOpen, OpenForAttributesRace,
                         ::testing::ValuesIn(kRaceCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Without any change the same open gives the checked file, so the refusals above come from the
// change and not from the hook.
TEST(OpenForAttributes, UnchangedFileOpensWithTheHook) {
  TempDir dir;
  const std::string file = dir / "shared.doc";
  WriteFile(file, "content");
  for (FileAccess access : {FileAccess::Read, FileAccess::Write}) {
    int calls = 0;
    const Outcome o = OpenBounded(file, access, [&] { ++calls; });
    EXPECT_TRUE(o.returned);
    EXPECT_TRUE(o.opened);
    EXPECT_EQ(std::pair(o.dev, o.ino), Identity(file));
    EXPECT_EQ(calls, 1);
  }
}

}  // namespace
}  // namespace qs::test
