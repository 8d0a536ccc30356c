// quillstamp-service's start-up over a settings file of millions of stray keys: read in one sweep,
// a few keys named and the rest counted, and a stop during start-up ends the service. Every wait
// is bounded; nothing here measures time.
#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "service_process.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::Child;
using test::TempDir;
using test::WaitUntil;

constexpr auto kLimit = std::chrono::seconds(60);
constexpr int kStrayKeys = 2000000;

struct HugeSettings {
  TempDir dir;
  std::string log = dir / "Security.evt";
  std::string config = dir / "Quillstamp.ini";
  std::string out = dir / "service.log";

  HugeSettings() {
    test::WriteOneSaveLog(log);
    std::string content = "[Configuration]\nMacComments=1\n";
    content.reserve(static_cast<std::size_t>(kStrayKeys) * 12);
    for (int i = 0; i < kStrayKeys; ++i) content += "K" + std::to_string(i) + "=1\n";
    content += "[Platform]\nSecurityLog=" + log + "\n";
    test::WriteFile(config, content);
  }
  std::unique_ptr<Child> Start() const {
    return std::make_unique<Child>(
        QS_SERVICE, std::vector<std::string>{"--config", config},
        std::map<std::string, std::string>{{"RUNTIME_DIRECTORY", dir.path().string()}}, out);
  }
};

// A stop sent while the service looks through the file: before the mend the report compared each
// key with all those before it and the stop waited for minutes.
TEST(StartUp, AStopWhileAHugeSettingsFileIsReadEndsTheService) {
  const HugeSettings settings;
  auto child = settings.Start();
  // The signal handlers are in place once the keys are being reported.
  ASSERT_TRUE(
      WaitUntil([&] { return child->Log().find("is not known") != std::string::npos; }, kLimit))
      << child->Log().substr(0, 4000);
  child->Signal(SIGTERM);
  ASSERT_EQ(child->WaitExit(kLimit), 0) << child->Log().substr(0, 4000);
  const std::string log = child->Log();
  EXPECT_NE(log.find("Stop requested"), std::string::npos) << log.substr(0, 4000);
  EXPECT_NE(log.find("Stopped"), std::string::npos) << log.substr(0, 4000);
}

// Read to the end (--once): a few keys are named, one line each, the others counted on one line;
// the keys that are known are still used.
TEST(StartUp, AHugeSettingsFileNamesAFewUnknownKeysAndCountsTheRest) {
  const HugeSettings settings;
  Child once(QS_SERVICE, {"--config", settings.config, "--once"},
             {{"RUNTIME_DIRECTORY", settings.dir.path().string()}}, settings.out);
  const std::optional<int> status = once.WaitExit(kLimit);
  ASSERT_EQ(status, 0) << once.Log().substr(0, 4000);
  const std::string log = once.Log();
  EXPECT_EQ(test::Count(log, "is not known; ignored"), 20) << log.substr(0, 4000);
  EXPECT_NE(log.find("Settings: " + std::to_string(kStrayKeys - 20) +
                     " more keys of [Configuration] are not known; ignored"),
            std::string::npos)
      << log.substr(0, 4000);
  EXPECT_NE(log.find("MacComments=1"), std::string::npos) << log.substr(0, 4000);
  EXPECT_NE(log.find("1 events listed"), std::string::npos) << log.substr(0, 4000);
}

}  // namespace
}  // namespace qs
