// The platform services as MakePlatformServices builds them for this system: each one is there,
// and each one works on the log and the drives it was given.
#include "platform/services.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace qs::platform {
namespace {

using qs::test::TempDir;
using qs::test::WriteFile;

std::optional<std::string> Attribute(const std::string& path, const char* name) {
  char buffer[4096];
  const ssize_t n = getxattr(path.c_str(), name, buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

class PlatformServicesTest : public ::testing::Test {
 protected:
  PlatformServicesTest() {
    WriteFile(dir / "Security.log", "");
    WriteFile(dir / "a.txt", "content");
    drives.SetDrive('S', dir.path().string());
  }
  TempDir dir;
  PathMap drives;
  PlatformServices services = MakePlatformServices(dir / "Security.log", drives);
};

TEST_F(PlatformServicesTest, EveryServiceIsThere) {
  EXPECT_NE(services.eventLog, nullptr);
  EXPECT_NE(services.fileStatus, nullptr);
  EXPECT_NE(services.streams, nullptr);
  ASSERT_TRUE(services.makeSummary);
  EXPECT_NE(services.makeSummary(), nullptr);
  EXPECT_NE(services.system, nullptr);
}

TEST_F(PlatformServicesTest, TheSecurityLogIsTheGivenFile) {
  const EventLogHandle log = services.eventLog->OpenLog("", "Security");
  ASSERT_NE(log, 0u);
  std::uint32_t count = 99;
  EXPECT_TRUE(services.eventLog->NumberOfRecords(log, count));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(services.eventLog->CloseLog(log));

  const PlatformServices missing = MakePlatformServices(dir / "missing.log", drives);
  EXPECT_EQ(missing.eventLog->OpenLog("", "Security"), 0u);
}

TEST_F(PlatformServicesTest, FileStatusGoesThroughTheDrives) {
  EXPECT_EQ(services.fileStatus->ReadFileAttributes("S:\\a.txt"), kFileAttributeNormal);
  EXPECT_EQ(services.fileStatus->ReadFileAttributes("S:\\"), kFileAttributeDirectory);
  EXPECT_EQ(services.fileStatus->ReadFileAttributes("T:\\a.txt"), kInvalidFileAttributes);
}

// Both comments land where a Samba share and the file managers look for them.
TEST_F(PlatformServicesTest, CommentsLandInTheSharedAttributes) {
  const std::string file = dir / "a.txt";
  const StreamHandle stream =
      services.streams->OpenStream(file + ":Comments:$DATA", kOpenStreamWriteCreate);
  ASSERT_NE(stream, kInvalidStream);
  EXPECT_EQ(services.streams->WriteStream(stream, "x\0", 2), 2);
  services.streams->CloseStream(stream);
  EXPECT_EQ(Attribute(file, "user.DosStream.Comments:$DATA"), std::string("x\0\0", 3));

  const auto summary = services.makeSummary();
  ASSERT_NE(summary, nullptr);
  summary->OpenSummary(std::u16string(file.begin(), file.end()), kSummaryReadWriteExclusive);
  std::int32_t status = 0;
  EXPECT_EQ(summary->GetOpenStatus(status), kSummaryOk);
  ASSERT_TRUE(SummaryUsable(status));
  EXPECT_EQ(summary->SetComments(u"line\r\n"), kSummaryOk);
  EXPECT_EQ(summary->SaveSummary(), kSummaryOk);
  EXPECT_EQ(summary->CloseSummary(), kSummaryOk);
  EXPECT_EQ(Attribute(file, "user.xdg.comment"), "line\r\n");
  EXPECT_EQ(qs::test::ReadFile(file), "content");
}

}  // namespace
}  // namespace qs::platform
