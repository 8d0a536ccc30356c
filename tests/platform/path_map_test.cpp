#include "platform/path_map.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace qs::platform {
namespace {

namespace fs = std::filesystem;
using qs::test::TempDir;
using qs::test::WriteFile;

class PathMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.path().string();
    fs::create_directories(dir.path() / "Shared" / "Finance");
    WriteFile(dir / "Shared/Finance/Budget.xls", "x");
    map.SetDrive('d', root);
  }
  TempDir dir;
  std::string root;
  PathMap map;
};

TEST_F(PathMapTest, MapsDriveAndTurnsBackslashesIntoSlashes) {
  EXPECT_EQ(map.ToLocal("D:\\Shared\\Finance\\Budget.xls"), root + "/Shared/Finance/Budget.xls");
  // The letter is matched in either case; forward slashes and doubled separators are accepted.
  EXPECT_EQ(map.ToLocal("d:/Shared//Finance\\Budget.xls"), root + "/Shared/Finance/Budget.xls");
  EXPECT_EQ(map.ToLocal("D:\\"), root);
  EXPECT_EQ(map.ToLocal("D:"), root);
}

TEST_F(PathMapTest, ResolvesEachComponentWithoutRegardToCase) {
  EXPECT_EQ(map.ToLocal("D:\\SHARED\\finance\\BUDGET.XLS"), root + "/Shared/Finance/Budget.xls");
  // A name that exists nowhere keeps the log's spelling, and so do the components after it.
  EXPECT_EQ(map.ToLocal("D:\\shared\\Nowhere\\FILE.txt"), root + "/Shared/Nowhere/FILE.txt");
}

TEST_F(PathMapTest, ExactSpellingWinsAndAnAmbiguousMatchIsNotTaken) {
  WriteFile(dir / "Shared/Report.txt", "a");
  WriteFile(dir / "Shared/REPORT.txt", "b");
  EXPECT_EQ(map.ToLocal("D:\\Shared\\REPORT.txt"), root + "/Shared/REPORT.txt");
  EXPECT_EQ(map.ToLocal("D:\\Shared\\Report.txt"), root + "/Shared/Report.txt");
  // Two entries match "report.txt" without regard to case: neither is chosen.
  EXPECT_EQ(map.ToLocal("D:\\Shared\\report.txt"), root + "/Shared/report.txt");
  EXPECT_FALSE(fs::exists(*map.ToLocal("D:\\Shared\\report.txt")));
}

TEST_F(PathMapTest, DotDotNeverLeavesTheMappedFolder) {
  EXPECT_EQ(map.ToLocal("D:\\Shared\\.\\Finance\\..\\Finance\\Budget.xls"),
            root + "/Shared/Finance/Budget.xls");
  EXPECT_EQ(map.ToLocal("D:\\..\\..\\etc\\passwd"), root + "/etc/passwd");
}

TEST_F(PathMapTest, UnreachablePaths) {
  EXPECT_EQ(map.ToLocal("E:\\Shared\\Budget.xls"), std::nullopt);  // drive not mapped
  EXPECT_EQ(map.ToLocal("Shared\\Budget.xls"), std::nullopt);      // relative
  EXPECT_EQ(map.ToLocal("D:Shared\\Budget.xls"), std::nullopt);    // relative to the drive
  EXPECT_EQ(map.ToLocal("\\\\server\\share\\a.txt"), std::nullopt);
  EXPECT_EQ(map.ToLocal(""), std::nullopt);
  EXPECT_EQ(map.ToLocal("1:\\x"), std::nullopt);
  EXPECT_EQ(PathMap().ToLocal("D:\\Shared"), std::nullopt);
}

TEST_F(PathMapTest, LocalPathsAreUsedAsTheyStand) {
  EXPECT_EQ(map.ToLocal("/srv/SHARE/a b.txt"), "/srv/SHARE/a b.txt");
  EXPECT_EQ(PathMap().ToLocal("/x"), "/x");
}

TEST_F(PathMapTest, DriveFolderSetting) {
  map.SetDrive('E', root + "/Shared///");  // trailing slashes are dropped
  EXPECT_EQ(map.ToLocal("E:\\finance"), root + "/Shared/Finance");
  map.SetDrive('F', "relative/folder");  // not absolute: ignored
  EXPECT_EQ(map.ToLocal("F:\\x"), std::nullopt);
  map.SetDrive('G', "/");
  EXPECT_EQ(map.ToLocal("G:\\tmp"), "/tmp");
}

}  // namespace
}  // namespace qs::platform
