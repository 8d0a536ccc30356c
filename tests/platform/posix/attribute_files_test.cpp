// The opens that the two comments of an event share: the held file is handed out again only while
// nobody had time to change the path, or, after a yield, while the path still names it and it may
// still be written; nothing stays open once its comments are done.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/xattr.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

namespace fs = std::filesystem;
using platform::AttributeFiles;
using platform::FileAccess;
using platform::OpenFileForAttributes;

std::pair<dev_t, ino_t> IdentityOf(int fd) {
  struct stat st {};
  EXPECT_EQ(fstat(fd, &st), 0);
  return {st.st_dev, st.st_ino};
}

std::pair<dev_t, ino_t> IdentityAt(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return {st.st_dev, st.st_ino};
}

// Whether this process has `path` open.
bool IsOpen(const std::string& path) {
  const std::string wanted = fs::canonical(path).string();
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error).string() == wanted && !error) return true;
  }
  return false;
}

struct Folder {
  TempDir dir;
  std::string file = dir / "shared.doc";
  std::string other = dir / "theirs";
  Folder() {
    WriteFile(file, "ours");
    WriteFile(other, "theirs");
  }
};

// After a yield, a file put at the path in place of the held one is what the next open gives;
// without a yield nobody had the time, and the held file is handed out as it is.
TEST(AttributeFiles, AfterAYieldTheFileNowAtThePathIsOpened) {
  Folder f;
  AttributeFiles files;
  const int first = files.Open(f.file, FileAccess::Read);
  ASSERT_GE(first, 0);
  const auto ours = IdentityOf(first);
  files.Done(first);

  const int again = files.Open(f.file, FileAccess::Write);
  ASSERT_GE(again, 0);
  EXPECT_EQ(IdentityOf(again), ours);
  files.Done(again);

  ASSERT_EQ(std::rename(f.other.c_str(), f.file.c_str()), 0);
  files.Yielded();
  const int afterYield = files.Open(f.file, FileAccess::Write);
  ASSERT_GE(afterYield, 0);
  EXPECT_EQ(IdentityOf(afterYield), IdentityAt(f.file)) << "the file that was replaced was given";
  EXPECT_NE(IdentityOf(afterYield), ours);
  files.Done(afterYield);
}

// A file made read-only during a yield is refused for writing, as a fresh open refuses it.
TEST(AttributeFiles, AfterAYieldAFileMadeReadOnlyIsRefusedForWriting) {
  Folder f;
  AttributeFiles files;
  const int first = files.Open(f.file, FileAccess::Write);
  ASSERT_GE(first, 0);
  files.Done(first);
  ASSERT_EQ(chmod(f.file.c_str(), 0444), 0);
  files.Yielded();
  errno = 0;
  EXPECT_EQ(files.Open(f.file, FileAccess::Write), -1);
  EXPECT_EQ(errno, EACCES);
  // Reading it is still allowed.
  const int read = files.Open(f.file, FileAccess::Read);
  EXPECT_GE(read, 0);
  files.Done(read);
}

// A file opened for reading is checked for writing before it is handed out for writing.
TEST(AttributeFiles, AReadOnlyFileHeldForReadingIsRefusedForWriting) {
  Folder f;
  ASSERT_EQ(chmod(f.file.c_str(), 0444), 0);
  AttributeFiles files;
  const int read = files.Open(f.file, FileAccess::Read);
  ASSERT_GE(read, 0);
  files.Done(read);
  errno = 0;
  EXPECT_EQ(files.Open(f.file, FileAccess::Write), -1);
  EXPECT_EQ(errno, EACCES);
}

TEST(AttributeFiles, ReleaseLetsTheFileGoAtOnceOrWhenGivenBack) {
  Folder f;
  AttributeFiles files;
  const int fd = files.Open(f.file, FileAccess::Write);
  ASSERT_GE(fd, 0);
  files.Done(fd);
  EXPECT_TRUE(IsOpen(f.file)) << "held between two operations";
  files.Release();
  EXPECT_FALSE(IsOpen(f.file));

  // Released while handed out: closed when given back, and not handed out again.
  const int lent = files.Open(f.file, FileAccess::Read);
  ASSERT_GE(lent, 0);
  files.Release();
  EXPECT_TRUE(IsOpen(f.file));
  files.Done(lent);
  EXPECT_FALSE(IsOpen(f.file));
}

// Opening another file lets the held one go; a user that is never told of yields holds nothing.
TEST(AttributeFiles, OnlyOneFileIsHeldAndNoneWithoutHolding) {
  Folder f;
  {
    AttributeFiles files;
    const int a = files.Open(f.file, FileAccess::Read);
    ASSERT_GE(a, 0);
    files.Done(a);
    const int b = files.Open(f.other, FileAccess::Read);
    ASSERT_GE(b, 0);
    files.Done(b);
    EXPECT_FALSE(IsOpen(f.file));
    EXPECT_TRUE(IsOpen(f.other));
  }
  EXPECT_FALSE(IsOpen(f.other)) << "the held file outlived its holder";

  AttributeFiles unheld(false);
  const int fd = unheld.Open(f.file, FileAccess::Write);
  ASSERT_GE(fd, 0);
  unheld.Done(fd);
  EXPECT_FALSE(IsOpen(f.file));
}

// Paths that the kernel does not look up in one call still open, by the walk; a NUL inside a
// path never opens the shorter path before it.
TEST(OpenForAttributes, LongPathsOpenAndPathsWithANulDoNot) {
  TempDir dir;
  // Longer than PATH_MAX: made (and removed) one folder at a time, relative to the one above.
  const std::string part(200, 'd');
  std::vector<int> folders{open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
  std::string path = dir.path().string();
  while (path.size() <= 4200) {
    ASSERT_EQ(mkdirat(folders.back(), part.c_str(), 0700), 0);
    folders.push_back(openat(folders.back(), part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_GE(folders.back(), 0);
    path += "/" + part;
  }
  const int made = openat(folders.back(), "long.txt", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(made, 0);
  close(made);
  const std::string file = path + "/long.txt";
  for (FileAccess access : {FileAccess::Read, FileAccess::Write}) {
    const int fd = OpenFileForAttributes(file, access);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    if (fd >= 0) close(fd);
  }
  EXPECT_EQ(unlinkat(folders.back(), "long.txt", 0), 0);
  for (std::size_t i = folders.size() - 1; i > 0; --i) {
    close(folders[i]);
    EXPECT_EQ(unlinkat(folders[i - 1], part.c_str(), AT_REMOVEDIR), 0);
  }
  close(folders[0]);

  const std::string shortPath = dir / "a";
  WriteFile(shortPath, "a");
  errno = 0;
  EXPECT_EQ(OpenFileForAttributes(shortPath + std::string(1, '\0') + "/b", FileAccess::Read), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace qs::test
