#include "platform/posix/file_status.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace qs::platform
