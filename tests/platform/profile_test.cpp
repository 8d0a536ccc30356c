#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace qs::platform {
namespace {

namespace fs = std::filesystem;
using qs::test::ReadFile;
using qs::test::TempDir;
using qs::test::WriteFile;

std::string Read(const std::string& path, std::string_view key,
                 std::string_view section = "Configuration") {
  return ReadIniString(section, key, "", path);
}

// Runs `body` in a child process that has given up root, and returns its exit status. Root
// bypasses permission bits, so this is how a missing permission is shown for real. A test run
// without root is unprivileged already.
int AsUnprivilegedChild(const std::function<int()>& body) {
  if (::geteuid() != 0) return body();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

struct ReadCase {
  const char* name;
  std::string content;
  const char* key;
  std::string expected;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ProfileReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileReadTest, FollowsTheReadingRules) {
  TempDir dir;
  WriteFile(dir / "a.ini", GetParam().content);
  EXPECT_EQ(Read(dir / "a.ini", GetParam().key), GetParam().expected);
}

const std::string k300(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileReadTest,
    ::testing::Values(
        ReadCase{"Plain", "[Configuration]\nTemporisation=5\n", "Temporisation", "5"},
        ReadCase{"LowerCaseSection", "[configuration]\nTemporisation=5\n", "Temporisation", "5"},
        ReadCase{"KeyCase", "[CONFIGURATION]\ntemporisation=5\n", "TEMPORISATION", "5"},
        ReadCase{"Blanks", "  [ Configuration ]  \n \t Temporisation \t=  5 6 \t\n",
                 "Temporisation", "5 6"},
        ReadCase{"CrLf", "[Configuration]\r\nA=1\r\nB=2\r\n", "A", "1"},
        ReadCase{"LastLineWithoutEnd", "[Configuration]\r\nA=1", "A", "1"},
        ReadCase{"DoubleQuotes", "[Configuration]\nA=\" x \"\n", "A", " x "},
        ReadCase{"SingleQuotes", "[Configuration]\nA='x'\n", "A", "x"},
        ReadCase{"UnbalancedQuote", "[Configuration]\nA=\"x\n", "A", "\"x"},
        ReadCase{"MixedQuotes", "[Configuration]\nA=\"x'\n", "A", "\"x'"},
        ReadCase{"LoneQuote", "[Configuration]\nA=\"\n", "A", "\""},
        ReadCase{"EmptyQuotes", "[Configuration]\nA=\"\"\n", "A", ""},
        ReadCase{"EmptyValue", "[Configuration]\nA=\n", "A", ""},
        ReadCase{"ValueWithEquals", "[Configuration]\nA=b=c\n", "A", "b=c"},
        ReadCase{"LineWithoutEqualsIsNoKey", "[Configuration]\nA\nA=7\n", "A", "7"},
        ReadCase{"CommentIsNoKey", "[Configuration]\n;A=1\n", "A", ""},
        ReadCase{"KeyBeforeAnySection", "A=1\n[Configuration]\n", "A", ""},
        ReadCase{"OtherSection", "[Other]\nA=1\n[Configuration]\nB=2\n", "A", ""},
        ReadCase{"MissingSection", "[Other]\nA=1\n", "A", ""},
        ReadCase{"DuplicateKeyFirstWins", "[Configuration]\nA=1\nA=2\n", "A", "1"},
        ReadCase{"DuplicateSectionFirstWins", "[Configuration]\nA=1\n[configuration]\nA=2\n", "A",
                 "1"},
        ReadCase{"OnlyTheFirstSectionCounts", "[Configuration]\nB=1\n[Configuration]\nA=2\n", "A",
                 ""},
        ReadCase{"HeaderWithoutBracket", "[Other]\nA=2\n[Configuration\nA=1\n", "A", ""},
        ReadCase{"HeaderLastBracket", "[Configuration] ]\nA=1\n", "A", ""},
        ReadCase{"Utf8Bom", "\xEF\xBB\xBF[Configuration]\nA=1\n", "A", "1"},
        // A file saved as "Unicode" by a Windows editor.
        ReadCase{"Utf16LeBom",
                 std::string("\xFF\xFE[\0C\0o\0n\0f\0i\0g\0u\0r\0a\0t\0i\0o\0n\0]\0\r\0\n\0"
                             "A\0=\0\xE9\0\r\0\n\0",
                             46),
                 "A", "\xC3\xA9"},
        ReadCase{"CrOnlyLines", "[Configuration]\rB=1\rA=2\r", "A", "2"},
        ReadCase{"CrInsideAnLfFile", "[Configuration]\nB=1\rA=2\n", "A", "2"},
        ReadCase{"AskedNameWithBlanks", "[Configuration]\nA=1\n", " \tA ", "1"},
        ReadCase{"NulEndsTheValue", std::string("[Configuration]\nA=1\0 2\n", 23), "A", "1"},
        ReadCase{"NulInHeader", std::string("[Confi\0guration]\nA=1\n", 22), "A", ""},
        ReadCase{"LongValueIsCut", "[Configuration]\nA=" + k300 + "\n", "A", k300.substr(0, 254)},
        ReadCase{"HugeLineBefore", "[Configuration]\n" + std::string(100000, 'z') + "\nA=3\n", "A",
                 "3"},
        ReadCase{"HugeKeyLine", "[Configuration]\nA=" + std::string(100000, '4') + "\n", "A",
                 std::string(254, '4')},
        ReadCase{"Empty", "", "A", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileRead, MissingOrUnreadableFilesGiveTheDefault) {
  TempDir dir;
  EXPECT_EQ(ReadIniString("Configuration", "A", "dflt", dir / "missing.ini"), "dflt");
  EXPECT_EQ(ReadIniString("Configuration", "A", "dflt", dir.path().string()), "dflt");
  EXPECT_EQ(ReadIniString("Configuration", "A", std::string(300, 'd'), dir / "missing"),
            std::string(254, 'd'));

  // No read permission.
  WriteFile(dir / "a.ini", "[Configuration]\nA=1\n");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod((dir / "a.ini").c_str(), 0000);
  const std::string path = dir / "a.ini";
  EXPECT_EQ(AsUnprivilegedChild(
                [&] { return ReadIniString("Configuration", "A", "d", path) == "d" ? 0 : 1; }),
            0);
}

TEST(ProfileRead, BinaryGarbageNeverCrashes) {
  TempDir dir;
  std::string garbage;
  std::uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1103515245 + 12345;
    garbage += static_cast<char>(x >> 24);
  }
  WriteFile(dir / "g.ini", garbage + "\n[Configuration]\nA=1\n");
  EXPECT_EQ(Read(dir / "g.ini", "A").size() <= 254, true);
  EXPECT_EQ(Read(dir / "g.ini", "Nope"), "");
}

TEST(ProfileSection, ListsTheKeysOfTheFirstSectionOnce) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "[Drives]\nD = /srv/d\n;E=/commented\nnot a key\nd=/second\nF=\"/srv/f f\"\n"
            "[drives]\nG=/g\n");
  const auto keys = ReadIniSection("DRIVES", dir / "a.ini");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0], (std::pair<std::string, std::string>{"D", "/srv/d"}));
  EXPECT_EQ(keys[1], (std::pair<std::string, std::string>{"F", "/srv/f f"}));
  EXPECT_TRUE(ReadIniSection("Missing", dir / "a.ini").empty());
  EXPECT_TRUE(ReadIniSection("Drives", dir / "missing.ini").empty());
}

// A file written by hand: comments, blank lines, CR LF, other sections, odd name case.
const std::string kHandWritten =
    "; Quillstamp settings\r\n"
    "\r\n"
    "[Other]\r\n"
    "Temporisation=99\r\n"
    "\r\n"
    "[CONFIGURATION]\r\n"
    "  temporisation = 5 ; five\r\n"
    "Unknown=keep me\r\n"
    "; about the next section\r\n"
    "\r\n"
    "[Last]\r\n"
    "x=y\r\n";

TEST(ProfileWrite, ChangesOnlyTheValueOfTheKey) {
  TempDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, kHandWritten);
  ASSERT_TRUE(WriteIniString("Configuration", "Temporisation", "20", path));
  std::string expected = kHandWritten;
  expected.replace(expected.find("5 ; five"), 8, "20");
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(Read(path, "Temporisation"), "20");
  EXPECT_EQ(Read(path, "Temporisation", "Other"), "99");
}

// One write into a file holding `before` (no file at all when it is missing): the file holds
// `after` and the key reads back as written.
struct WriteCase {
  const char* name;
  std::optional<std::string> before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class ProfileWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWriteTest, WritesTheLineInPlace) {
  const WriteCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "q.ini";
  if (c.before) WriteFile(path, *c.before);
  ASSERT_TRUE(WriteIniString(c.section, c.key, c.value, path));
  EXPECT_EQ(ReadFile(path), c.after);
  EXPECT_EQ(Read(path, c.key, c.section), c.value);
}

std::string HandWrittenWith(std::string_view before, std::string_view line) {
  std::string text = kHandWritten;
  text.insert(text.find(before), line);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWriteTest,
    ::testing::Values(
        // A new key goes after the last key of its section, before the comments that follow.
        WriteCase{"AddsAKeyAfterTheLastKeyOfItsSection", kHandWritten, "Configuration",
                  "Performance", "7", HandWrittenWith("; about", "Performance=7\r\n")},
        WriteCase{"AddsTheSectionAtTheEnd", kHandWritten, "Drives", "D", "/srv/d",
                  kHandWritten + "[Drives]\r\nD=/srv/d\r\n"},
        // LF files get LF lines; a last line without its line ending gets one first.
        WriteCase{"LfSectionAfterALastLineWithoutEnd", "[A]\nx=1", "B", "y", "2",
                  "[A]\nx=1\n[B]\ny=2\n"},
        WriteCase{"LfKeyBeforeTheNextSection", "[A]\nx=1\n[B]\ny=2\n", "A", "z", "3",
                  "[A]\nx=1\nz=3\n[B]\ny=2\n"},
        WriteCase{"KeyAfterALastLineWithoutEnd", "[A]\nx=1", "a", "z", "3", "[A]\nx=1\nz=3"},
        WriteCase{"KeyAfterAHeaderWithoutEnd", "[A]", "A", "z", "3", "[A]\nz=3"},
        // Duplicates and a byte-order mark stay as they were.
        WriteCase{"FirstOfDuplicateKeysAndSections", "\xEF\xBB\xBF[C]\nk=1\nK=2\n[c]\nk=3\n", "C",
                  "k", "9", "\xEF\xBB\xBF[C]\nk=9\nK=2\n[c]\nk=3\n"},
        WriteCase{"CrOnlyFileGetsCrLines", "[A]\rx=1\r", "A", "z", "3", "[A]\rx=1\rz=3\r"},
        WriteCase{"CrOnlyFileGetsACrSection", "[A]\rx=1", "B", "y", "2", "[A]\rx=1\r[B]\ry=2\r"},
        WriteCase{"BomOnly", "\xEF\xBB\xBF", "C", "k", "1", "\xEF\xBB\xBF[C]\nk=1\n"},
        WriteCase{"CreatesAMissingFile", std::nullopt, "Configuration", "TimeSeconds", "0",
                  "[Configuration]\nTimeSeconds=0\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWrite, AnInterruptedWriteLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, kHandWritten);
  std::string seen;
  EXPECT_FALSE(
      WriteIniString("Configuration", "Temporisation", "20", path, [&](const std::string& temp) {
        seen = ReadFile(temp);
        return false;  // the program dies here
      }));
  // The whole new content had reached the temporary file before the old file was touched.
  EXPECT_NE(seen.find("temporisation = 20\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(path), kHandWritten);
  // Nothing but the settings file is left in the folder.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) entries += (e.path() == path) ? 0 : 1;
  EXPECT_EQ(entries, 0);
}

TEST(ProfileWrite, KeepsPermissionsAndSymbolicLinks) {
  TempDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, "[C]\nk=1\n");
  ::chmod(path.c_str(), 0640);
  fs::create_symlink(path, dir / "link.ini");
  ASSERT_TRUE(WriteIniString("C", "k", "2", dir / "link.ini"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFile(path), "[C]\nk=2\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A write that is refused leaves the file as it was and nothing else in its folder.
struct RefusedCase {
  const char* name;
  std::string_view section, key, value;
  const char* target = "q.ini";  // written to, in the folder of q.ini
  std::string content = "[C]\nk=1\n";
  ::mode_t mode = 0644;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class ProfileRefusedWrite : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ProfileRefusedWrite, FailsWithoutTouchingAnything) {
  const RefusedCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, c.content);
  ::chmod(path.c_str(), c.mode);
  EXPECT_FALSE(WriteIniString(c.section, c.key, c.value, dir / c.target));
  EXPECT_EQ(ReadFile(path), c.content);
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir.path())) entries.push_back(e.path().string());
  EXPECT_EQ(entries, std::vector<std::string>{path});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileRefusedWrite,
    ::testing::Values(
        // No owner write bit: refused even as root.
        RefusedCase{"ReadOnlyFile", "C", "k", "2", "q.ini", "[C]\nk=1\n", 0444},
        // A folder that does not exist, and a folder that is a file.
        RefusedCase{"FolderThatDoesNotExist", "C", "k", "2", "nowhere/q.ini"},
        RefusedCase{"FolderThatIsAFile", "C", "k", "2", "q.ini/q.ini"},
        // Names and values that would break the lines.
        RefusedCase{"ValueWithALineEnd", "C", "k", "2\n[X]"},
        RefusedCase{"KeyWithEquals", "C", "k=x", "2"},
        RefusedCase{"SectionWithBracket", "C]", "k", "2"}, RefusedCase{"EmptyKey", "C", "", "2"},
        RefusedCase{"KeyThatIsAComment", "C", ";k", "2"},
        RefusedCase{"ValueWithNul", "C", "k", std::string_view("2\0", 2)},
        // A UTF-16 file is not garbled with single-byte lines.
        RefusedCase{"Utf16File", "C", "k", "2", "q.ini", std::string("\xFF\xFE[\0C\0]\0", 8)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWrite, PermissionsOfAnUnprivilegedUser) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  fs::create_directory(dir.path() / "locked");
  const std::string locked = dir / "locked/q.ini";
  WriteFile(locked, "[C]\nk=1\n");
  ::chmod(locked.c_str(), 0666);
  ::chmod((dir / "locked").c_str(), 0555);  // the folder cannot take the temporary file
  const std::string unreadable = dir / "unreadable.ini";
  WriteFile(unreadable, "[C]\nk=1\n");
  ::chmod(unreadable.c_str(), 0222);  // writable but not readable: its content would be lost

  EXPECT_EQ(AsUnprivilegedChild([&] {
              const bool a = WriteIniString("C", "k", "2", locked);
              const bool b = WriteIniString("C", "k", "2", unreadable);
              return (a ? 1 : 0) | (b ? 2 : 0);
            }),
            0);
  EXPECT_EQ(ReadFile(locked), "[C]\nk=1\n");
  EXPECT_EQ(ReadFile(unreadable), "[C]\nk=1\n");
}

}  // namespace
}  // namespace qs::platform
