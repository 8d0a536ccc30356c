// The POSIX answers of the system-information service.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/sysinfo.h"

namespace qs::platform {
namespace {

TEST(KernelRelease, MajorAndMinor) {
  struct Case {
    const char* release;
    std::uint32_t major, minor;
  } cases[] = {{"6.1.0-18-amd64", 6, 1},
               {"5.10.0", 5, 10},
               {"4.19", 4, 19},
               {"6", 6, 0},
               {"", 0, 0},
               {"x.y", 0, 0}};
  for (const auto& c : cases) {
    std::uint32_t major = 99, minor = 99;
    ParseKernelRelease(c.release, major, minor);
    EXPECT_EQ(major, c.major) << c.release;
    EXPECT_EQ(minor, c.minor) << c.release;
  }
}

TEST(PosixSystemInfo, NamesComeWithATerminatingNul) {
  auto info = MakePosixSystemInfoService();
  std::string buffer(1024, ' ');
  ASSERT_TRUE(info->GetComputerNameA(buffer));
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(buffer.substr(0, buffer.find('\0')), host);
  EXPECT_EQ(buffer.size(), 1024u);
  EXPECT_EQ(buffer.back(), ' ');

  buffer.assign(1024, ' ');
  ASSERT_TRUE(info->GetUserNameA(buffer));
  EXPECT_EQ(buffer.substr(0, buffer.find('\0')), getpwuid(geteuid())->pw_name);
}

TEST(PosixSystemInfo, VersionIsTheKernelOfAnNtFamilyHost) {
  auto info = MakePosixSystemInfoService();
  OSVERSIONINFOA v;
  v.szCSDVersion.fill(' ');
  ASSERT_TRUE(info->GetVersionExA(v));
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(v.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(v.hostSystemName, names.sysname);
  EXPECT_EQ(v.dwMajorVersion, static_cast<std::uint32_t>(std::atoi(names.release)));
  EXPECT_EQ(v.dwBuildNumber, 0u);
  EXPECT_EQ(v.szCSDVersion[0], '\0');
}

// The bias is the standard offset all year: a zone in daylight time still gives it.
class TimeZoneTest : public testing::Test {
 protected:
  void SetTz(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  void TearDown() override {
    if (saved_)
      setenv("TZ", saved_value_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  void SetUp() override {
    const char* v = std::getenv("TZ");
    saved_ = v != nullptr;
    if (saved_) saved_value_ = v;
  }
  bool saved_ = false;
  std::string saved_value_;
};

TEST_F(TimeZoneTest, StandardOffsetWhateverTheSeason) {
  struct Case {
    const char* tz;
    std::int32_t bias;
  } cases[] = {{"UTC0", 0},
               {"CET-1CEST,M3.5.0,M10.5.0/3", -60},     // Paris: UTC+1, summer UTC+2
               {"EST5EDT,M3.2.0,M11.1.0", 300},         // New York: UTC-5, summer UTC-4
               {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600},  // Sydney: summer in January
               {"IST-5:30", -330}};
  auto info = MakePosixSystemInfoService();
  for (const auto& c : cases) {
    SetTz(c.tz);
    std::int32_t bias = 12345;
    EXPECT_NE(info->GetTimeZoneInformation(bias), TIME_ZONE_ID_INVALID) << c.tz;
    EXPECT_EQ(bias, c.bias) << c.tz;
  }
}

}  // namespace
}  // namespace qs::platform
