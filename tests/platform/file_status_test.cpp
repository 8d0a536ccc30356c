#include "platform/posix/file_status.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace qs::platform {
namespace {

namespace fs = std::filesystem;
using qs::test::TempDir;
using qs::test::WriteFile;

TEST(FileStatus, AttributesOfTheMix) {
  TempDir dir;
  fs::create_directory(dir.path() / "Folder");
  WriteFile(dir / "writable.txt", "x");
  WriteFile(dir / "ReadOnly.txt", "x");
  ::chmod((dir / "ReadOnly.txt").c_str(), 0444);
  WriteFile(dir / "group.txt", "x");
  ::chmod((dir / "group.txt").c_str(), 0466);  // others may write, the owner may not

  PathMap map;
  map.SetDrive('S', dir.path().string());
  const PosixFileStatus status(map);
  EXPECT_EQ(status.ReadFileAttributes("S:\\writable.txt"), kFileAttributeNormal);
  EXPECT_EQ(status.ReadFileAttributes("S:\\readonly.TXT"), kFileAttributeReadOnly);
  EXPECT_EQ(status.ReadFileAttributes("S:\\group.txt"), kFileAttributeReadOnly);
  EXPECT_EQ(status.ReadFileAttributes("S:\\folder"), kFileAttributeDirectory);
  EXPECT_EQ(status.ReadFileAttributes("S:\\missing.txt"), kInvalidFileAttributes);
  EXPECT_EQ(status.ReadFileAttributes("T:\\writable.txt"), kInvalidFileAttributes);  // unmapped
  EXPECT_EQ(status.ReadFileAttributes("writable.txt"), kInvalidFileAttributes);
  EXPECT_EQ(status.ReadFileAttributes(dir / "writable.txt"), kFileAttributeNormal);
  EXPECT_EQ(status.ReadFileAttributes(dir / "Folder"), kFileAttributeDirectory);
  EXPECT_EQ(status.ReadFileAttributes(dir / "readonly.txt"), kInvalidFileAttributes);  // as given
  EXPECT_EQ(status.ReadFileAttributes(std::string(dir / "writable.txt") + std::string("\0x", 2)),
            kInvalidFileAttributes);
}

// Two names of one file give one identity and two links; another file, another identity; a path
// that cannot be read, none.
TEST(FileStatus, FactsTellWhichFileAPathLeadsTo) {
  TempDir dir;
  WriteFile(dir / "a.txt", "x");
  WriteFile(dir / "b.txt", "x");
  ASSERT_EQ(::link((dir / "a.txt").c_str(), (dir / "a2.txt").c_str()), 0);
  PathMap map;
  const PosixFileStatus status(map);
  const FileFacts a = status.ReadFileFacts(dir / "a.txt");
  const FileFacts a2 = status.ReadFileFacts(dir / "a2.txt");
  const FileFacts b = status.ReadFileFacts(dir / "b.txt");
  ASSERT_TRUE(a.identity && b.identity);
  EXPECT_EQ(a.identity, a2.identity);
  EXPECT_NE(a.identity, b.identity);
  EXPECT_EQ(a.links, 2u);
  EXPECT_EQ(b.links, 1u);
  const FileFacts missing = status.ReadFileFacts(dir / "missing.txt");
  EXPECT_EQ(missing.attributes, kInvalidFileAttributes);
  EXPECT_EQ(missing.identity, std::nullopt);
}

}  // namespace
}  // namespace qs::platform
