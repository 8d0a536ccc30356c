#include "core/settings_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using qs::test::ReadFile;
using qs::test::TempDir;
using qs::test::WriteFile;

Settings ReadWith(const std::string& lines) {
  TempDir dir;
  WriteFile(dir / "Quillstamp.ini", "[Configuration]\r\n" + lines);
  return SettingsFile(dir / "Quillstamp.ini").ReadConfiguration();
}

struct NumberCase {
  const char* text;
  int expected;  // with a default of 500 and a 16-bit field
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class NumberKeyTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberKeyTest, ReadsMaxSelectedEvents) {
  const Settings s = ReadWith(std::string("MaxSelectedEvents=") + GetParam().text + "\r\n");
  EXPECT_EQ(s.MaxSelectedEvents, GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberKeyTest,
    ::testing::Values(NumberCase{"2.5", 2}, NumberCase{"3.5", 4}, NumberCase{"5", 5},
                      NumberCase{"15", 15}, NumberCase{" 15", 15}, NumberCase{"1 5", 15},
                      NumberCase{"12abc", 12}, NumberCase{"abc", 500}, NumberCase{"0", 500},
                      NumberCase{"0.4", 500}, NumberCase{"", 500}, NumberCase{"-3", -3},
                      NumberCase{"&H10", 16}, NumberCase{"&O17", 15}, NumberCase{"\"20\"", 20},
                      NumberCase{"1E3", 1000}, NumberCase{"32767", 32767},
                      NumberCase{"32767.5", 500}, NumberCase{"-32768", -32768},
                      NumberCase{"40000", 500}, NumberCase{"-40000", 500},
                      NumberCase{"99999999999999999999", 500}, NumberCase{"1e400", 500}));

struct FlagCase {
  const char* text;
  bool on;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class FlagKeyTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(FlagKeyTest, ReadsWinComments) {
  EXPECT_EQ(ReadWith(std::string("WinComments=") + GetParam().text + "\r\n").WinComments,
            GetParam().on)
      << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Cases, FlagKeyTest,
                         ::testing::Values(FlagCase{"1", true}, FlagCase{"1.0", true},
                                           FlagCase{"01", true}, FlagCase{" 1", true},
                                           FlagCase{"&H1", true}, FlagCase{"1x", true},
                                           FlagCase{"2", false}, FlagCase{"-1", false},
                                           FlagCase{"0.5", false}, FlagCase{"1.4", false},
                                           FlagCase{"yes", false}, FlagCase{"true", false},
                                           FlagCase{"", false}, FlagCase{"0", false}));

TEST(SettingsFileRead, AllEightKeys) {
  const Settings s = ReadWith(
      "Temporisation=60000\r\nWinComments=1\r\nMacComments=1\r\nTimeSeconds=1\r\n"
      "MaxWinComments=10000\r\nMaxSelectedEvents=3000\r\nAutomatic=1\r\nPerformance=100\r\n");
  EXPECT_EQ(s.Temporisation, 60000);
  EXPECT_TRUE(s.WinComments);
  EXPECT_TRUE(s.MacComments);
  EXPECT_TRUE(s.TimeSeconds);
  EXPECT_EQ(s.MaxWinComments, 10000);
  EXPECT_EQ(s.MaxSelectedEvents, 3000);
  EXPECT_TRUE(s.Automatic);
  EXPECT_EQ(s.Performance, 100);
}

TEST(SettingsFileRead, TemporisationHoldsLargeValuesAndNegativeOnes) {
  EXPECT_EQ(ReadWith("Temporisation=0\r\n").Temporisation, 10);
  EXPECT_EQ(ReadWith("Temporisation=-3\r\n").Temporisation, -3);
  EXPECT_EQ(ReadWith("Temporisation=40000\r\n").Temporisation, 40000);
  EXPECT_EQ(ReadWith("Temporisation=2147483647\r\n").Temporisation, 2147483647);
  EXPECT_EQ(ReadWith("Temporisation=2147483648\r\n").Temporisation, 10);
  // The wait counts down to one below the setting: the lowest 32-bit value cannot be counted.
  EXPECT_EQ(ReadWith("Temporisation=-2147483647\r\n").Temporisation, -2147483647);
  EXPECT_EQ(ReadWith("Temporisation=-2147483648\r\n").Temporisation, 10);
}

TEST(SettingsFileRead, MissingOrBrokenFilesGiveTheDefaults) {
  const Settings defaults;
  const auto isDefault = [&](const Settings& s) {
    return s.Temporisation == 10 && !s.WinComments && !s.MacComments && !s.TimeSeconds &&
           s.MaxWinComments == 500 && s.MaxSelectedEvents == 500 && !s.Automatic &&
           s.Performance == 50;
  };
  TempDir dir;
  EXPECT_TRUE(isDefault(SettingsFile(dir / "missing.ini").ReadConfiguration()));
  EXPECT_TRUE(isDefault(SettingsFile(dir.path().string()).ReadConfiguration()));  // a folder
  WriteFile(dir / "q.ini",
            "[Configuration\nTemporisation=5\n" + std::string(100000, '[') + "\n\0\0\xff\xfe");
  EXPECT_TRUE(isDefault(SettingsFile(dir / "q.ini").ReadConfiguration()));
  (void)defaults;
}

// The Windows 2000 comment is cut to MaxWinComments characters, the lines already in it
// included: a limit below 1 would erase every comment it touched, so it reads as the default.
TEST(SettingsFileRead, MaxWinCommentsBelowOneIsTheDefault) {
  const struct {
    const char* text;
    int expected;
  } cases[] = {{"-1", 500}, {"-32768", 500}, {"-0.4", 500},    {"0.5", 500},     {"0.6", 1},
               {"1", 1},    {"99", 99},      {"10000", 10000}, {"32767", 32767}, {"32768", 500}};
  for (const auto& c : cases) {
    EXPECT_EQ(ReadWith(std::string("MaxWinComments=") + c.text + "\r\n").MaxWinComments, c.expected)
        << '"' << c.text << '"';
  }
}

TEST(SettingsFileRead, LongValuesAreCutTo254Characters) {
  // 253 zeros and then "7" are within the first 254 characters; the rest is not read.
  EXPECT_EQ(ReadWith("Performance=" + std::string(253, '0') + "7" + "9999\r\n").Performance, 7);
  EXPECT_EQ(ReadWith("Performance=" + std::string(254, '0') + "7\r\n").Performance, 50);
}

TEST(SettingsFileWrite, EachWriterUpdatesSettingsThenTheFile) {
  TempDir dir;
  const std::string path = dir / "Quillstamp.ini";
  SettingsFile file(path);
  Settings s;
  EXPECT_TRUE(WriteTimeSeconds(file, s, false));
  EXPECT_EQ(ReadFile(path), "[Configuration]\nTimeSeconds=0\n");

  EXPECT_TRUE(WriteTemporisation(file, s, 60000));
  EXPECT_TRUE(WriteWinComments(file, s, true));
  EXPECT_TRUE(WriteMacComments(file, s, true));
  EXPECT_TRUE(WriteTimeSeconds(file, s, true));
  EXPECT_TRUE(WriteMaxWinComments(file, s, 10000));
  EXPECT_TRUE(WriteMaxSelectedEvents(file, s, 3000));
  EXPECT_TRUE(WriteAutomatic(file, s, true));
  EXPECT_TRUE(WritePerformance(file, s, 1));
  EXPECT_EQ(s.Temporisation, 60000);
  EXPECT_TRUE(s.WinComments && s.MacComments && s.TimeSeconds && s.Automatic);
  EXPECT_EQ(s.MaxWinComments, 10000);
  EXPECT_EQ(s.MaxSelectedEvents, 3000);
  EXPECT_EQ(s.Performance, 1);
  EXPECT_EQ(ReadFile(path),
            "[Configuration]\nTimeSeconds=1\nTemporisation=60000\nWinComments=1\nMacComments=1\n"
            "MaxWinComments=10000\nMaxSelectedEvents=3000\nAutomatic=1\nPerformance=1\n");

  const Settings back = file.ReadConfiguration();
  EXPECT_EQ(back.Temporisation, 60000);
  EXPECT_TRUE(back.WinComments && back.MacComments && back.TimeSeconds && back.Automatic);
  EXPECT_EQ(back.MaxWinComments, 10000);
  EXPECT_EQ(back.MaxSelectedEvents, 3000);
  EXPECT_EQ(back.Performance, 1);

  // No range check, plain decimal text.
  EXPECT_TRUE(WriteTemporisation(file, s, -3));
  EXPECT_EQ(platform::ReadIniString("Configuration", "Temporisation", "", path), "-3");
}

TEST(SettingsFileWrite, AutomaticTwiceWritesOneThenZero) {
  TempDir dir;
  SettingsFile file(dir / "Quillstamp.ini");
  Settings s;
  WriteAutomatic(file, s, !s.Automatic);
  EXPECT_EQ(platform::ReadIniString("Configuration", "Automatic", "", file.path()), "1");
  WriteAutomatic(file, s, !s.Automatic);
  EXPECT_EQ(platform::ReadIniString("Configuration", "Automatic", "", file.path()), "0");
  EXPECT_FALSE(s.Automatic);
}

TEST(SettingsFileWrite, AFailedWriteKeepsTheNewValueInSettings) {
  TempDir dir;
  // Tests run as root, which ignores permission bits: the failures are a folder that does not
  // exist, and a write interrupted before the new file replaces the old one.
  Settings s;
  SettingsFile nowhere(dir / "nowhere/Quillstamp.ini");
  EXPECT_FALSE(WritePerformance(nowhere, s, 77));
  EXPECT_EQ(s.Performance, 77);
  EXPECT_FALSE(fs::exists(dir / "nowhere"));

  const std::string path = dir / "Quillstamp.ini";
  WriteFile(path, "[Configuration]\nPerformance=5\n");
  SettingsFile failing(path, [](const std::string&) { return false; });
  EXPECT_FALSE(WriteMacComments(failing, s, true));
  EXPECT_TRUE(s.MacComments);
  EXPECT_EQ(ReadFile(path), "[Configuration]\nPerformance=5\n");
}

TEST(SettingsFilePath, ProgramFolderAndSeparator) {
  EXPECT_EQ(SettingsFilePathIn("/opt/quillstamp"), "/opt/quillstamp/Quillstamp.ini");
  EXPECT_EQ(SettingsFilePathIn("/"), "//Quillstamp.ini");  // the separator is always added
  const std::optional<std::string> own = SettingsFilePath();
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(fs::path(*own).filename(), "Quillstamp.ini");
  EXPECT_EQ(fs::path(*own).parent_path(), fs::read_symlink("/proc/self/exe").parent_path());
}

TEST(PlatformSettings, SecurityLogAndDrives) {
  TempDir dir;
  const std::string path = dir / "Quillstamp.ini";
  const SettingsFile file(path);
  EXPECT_EQ(file.SecurityLogPath(), "/var/log/audit/audit.log");
  EXPECT_EQ(file.ReadDrives().ToLocal("D:\\x"), std::nullopt);

  fs::create_directories(dir.path() / "share" / "Docs");
  const std::string share = (dir.path() / "share").string();
  const std::string longLog = "/" + std::string(300, 'l') + ".evt";
  WriteFile(path, "[platform]\nSecurityLog=\n[Drives]\nd=" + share + "\nE=relative\nFF=/x\n");
  EXPECT_EQ(file.SecurityLogPath(), "/var/log/audit/audit.log");  // empty: the default
  const platform::PathMap drives = file.ReadDrives();
  EXPECT_EQ(drives.ToLocal("D:\\DOCS\\a.txt"), share + "/Docs/a.txt");
  EXPECT_EQ(drives.ToLocal("E:\\a.txt"), std::nullopt);
  EXPECT_EQ(drives.ToLocal("F:\\a.txt"), std::nullopt);

  WriteFile(path, "[Platform]\nSecurityLog = \"" + longLog + "\"\n");
  EXPECT_EQ(file.SecurityLogPath(), longLog);  // paths are not cut to 254 characters
}

// A relative log name is taken from the settings file's folder, the program's own, never from
// the folder the program happened to be started from.
TEST(PlatformSettings, ARelativeSecurityLogIsInTheProgramFolder) {
  TempDir program;
  TempDir elsewhere;
  const std::string path = program / "Quillstamp.ini";
  const SettingsFile file(path);
  const fs::path started = fs::current_path();
  fs::current_path(elsewhere.path());
  const struct {
    const char* value;
    std::string expected;
  } cases[] = {
      {"Security.evt", program / "Security.evt"},
      {"logs/audit.log", program / "logs/audit.log"},
      {"../audit.log", program / "../audit.log"},
      {"/var/log/x.evtx", "/var/log/x.evtx"},
      // Windows names: from a drive or a root they are whole, never put under the folder.
      {"C:\\Logs\\Security.evt", "C:\\Logs\\Security.evt"},
      {"d:/logs/x.evt", "d:/logs/x.evt"},
      {"\\\\server\\logs\\x.evt", "\\\\server\\logs\\x.evt"},
  };
  for (const auto& c : cases) {
    WriteFile(path, std::string("[Platform]\nSecurityLog=") + c.value + "\n");
    EXPECT_EQ(file.SecurityLogPath(), c.expected) << c.value;
  }
  fs::current_path(started);
}

}  // namespace
}  // namespace qs
