// The POSIX answers of the system-information service.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/posix/posix_sysinfo.h"

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
               {"x.y", 0, 0},
               {"6.12.48+deb13-amd64", 6, 12},       // Debian 13
               {"5.15.0-1034-azure", 5, 15},         // Ubuntu on a cloud host
               {"4.18.0-553.el8_10.x86_64", 4, 18},  // RHEL 8
               {"3.10.0-1160.el7.x86_64", 3, 10},    // RHEL 7
               {"6.8.0-rc3", 6, 8},                  // a release candidate
               {"6.6.87.2-microsoft-standard-WSL2", 6, 6},
               {"2.6.32", 2, 6}};
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
  ASSERT_TRUE(info->ReadComputerName(buffer));
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(buffer.substr(0, buffer.find('\0')), host);
  EXPECT_EQ(buffer.size(), 1024u);
  EXPECT_EQ(buffer.back(), ' ');

  buffer.assign(1024, ' ');
  ASSERT_TRUE(info->ReadUserName(buffer));
  EXPECT_EQ(buffer.substr(0, buffer.find('\0')), getpwuid(geteuid())->pw_name);
}

// What the window title shows of this host, "Linux v.X.Y, Build 0" with no service pack: an NT
// family system named by the host, and the major and minor numbers of the running kernel.
TEST(PosixSystemInfo, VersionIsTheKernelOfAnNtFamilyHost) {
  auto info = MakePosixSystemInfoService();
  OsVersionInfo v;
  v.szCSDVersion.fill(' ');
  ASSERT_TRUE(info->ReadVersion(v));
  EXPECT_EQ(v.dwPlatformId, kPlatformWin32Nt);
#ifdef __linux__
  EXPECT_EQ(v.hostSystemName, "Linux");
#else
  EXPECT_FALSE(v.hostSystemName.empty());
#endif
  EXPECT_EQ(v.dwBuildNumber, 0u);
  EXPECT_EQ(v.szCSDVersion[0], '\0');
  // No kernel that runs this program is older than 2.6.
  EXPECT_GE(v.dwMajorVersion, 2u);
  EXPECT_LT(v.dwMinorVersion, 1000u);

#ifdef __linux__
  // The numbers are those of the running kernel, as it states its release in /proc.
  std::ifstream in("/proc/sys/kernel/osrelease");
  std::string release;
  ASSERT_TRUE(std::getline(in, release)) << "cannot read /proc/sys/kernel/osrelease";
  unsigned major = 0, minor = 0;
  ASSERT_EQ(std::sscanf(release.c_str(), "%u.%u", &major, &minor), 2) << release;
  EXPECT_EQ(v.dwMajorVersion, major) << release;
  EXPECT_EQ(v.dwMinorVersion, minor) << release;
#endif
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
    EXPECT_NE(info->ReadTimeZone(bias), kTimeZoneIdInvalid) << c.tz;
    EXPECT_EQ(bias, c.bias) << c.tz;
  }
}

}  // namespace
}  // namespace qs::platform
