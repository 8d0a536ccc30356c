// The shared fixtures as the tests get them: a missing one stops the test with its full path.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace qs::test {
namespace {

// The message of what `read` throws for `name`, or a failure when it throws nothing.
template <class Read>
std::string MessageOf(Read read, const std::string& name) {
  try {
    read(name);
  } catch (const MissingFixture& e) {
    return e.what();
  }
  ADD_FAILURE() << "no MissingFixture for " << name;
  return {};
}

TEST(SharedFixtures, MissingFixtureFailsNamingItsFullPath) {
  const std::string name = "evt/no-such-log.evt";
  const std::string full = (FixturesDir() / name).string();
  const std::string path = MessageOf([](const std::string& n) { return FixturePath(n); }, name);
  const std::string bytes = MessageOf([](const std::string& n) { return FixtureBytes(n); }, name);
  EXPECT_NE(path.find(full), std::string::npos) << path;
  EXPECT_NE(bytes.find(full), std::string::npos) << bytes;
}

TEST(SharedFixtures, FolderIsNotAFixture) {
  const std::string message = MessageOf([](const std::string& n) { return FixturePath(n); }, "evt");
  EXPECT_NE(message.find((FixturesDir() / "evt").string()), std::string::npos) << message;
}

TEST(SharedFixtures, ExistingFileRefusesAMissingFile) {
  TempDir dir;
  const std::string missing = dir / "smbd-share.log";
  EXPECT_THROW(ExistingFile(missing), MissingFixture);
  WriteFile(missing, "type=SYSCALL\n");
  EXPECT_EQ(ExistingFile(missing), missing);
}

// The .evt header of a log written by Windows: 0x30 bytes long, signature "LfLe".
TEST(SharedFixtures, PresentFixtureGivesItsBytes) {
  const std::string bytes = FixtureBytes("evt/moex01_Security.evt");
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x30\0\0\0LfLe", 8));
  EXPECT_EQ(FixturePath("evt/moex01_Security.evt"),
            (FixturesDir() / "evt/moex01_Security.evt").string());
}

}  // namespace
}  // namespace qs::test
