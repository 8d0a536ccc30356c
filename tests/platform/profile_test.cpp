#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
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

// Runs `body` in a child process that the kernel ends after `seconds`, and returns its exit
// status (97 when it was ended). A call that would block forever fails the test instead of
// hanging it.
int InChildWithin(unsigned seconds, const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 97;
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

// A FIFO where the settings file should be: opening it to read would wait for a writer that
// never comes. Reads give the default and a write fails, all without waiting.
TEST(ProfileRead, AFifoIsNeitherWaitedOnNorRead) {
  TempDir dir;
  const std::string path = dir / "Quillstamp.ini";
  ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0) << std::strerror(errno);
  EXPECT_EQ(InChildWithin(10,
                          [&] {
                            const bool value =
                                ReadIniString("Configuration", "A", "d", path) == "d";
                            const bool section = ReadIniSection("Drives", path).empty();
                            const bool write = WriteIniString("Configuration", "A", "1", path);
                            return (value ? 0 : 1) | (section ? 0 : 2) | (write ? 4 : 0);
                          }),
            0);
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
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

// A section of many keys, as a share with a long list of drives has: every key in file order,
// each name once with its first value, whatever the case of the later spellings.
TEST(ProfileSection, ManyKeysInFileOrderFirstOfEachName) {
  constexpr int kKeys = 50000;
  std::string text = "[Drives]\n";
  for (int i = 0; i < kKeys; ++i)
    text += "Key" + std::to_string(i) + "=/srv/" + std::to_string(i) + "\n";
  // Later spellings of names already taken, in another case: all ignored.
  for (int i = 0; i < kKeys; i += 7) text += "KEY" + std::to_string(i) + "=/later\n";
  text += "[Other]\nKey1=/other\n";
  TempDir dir;
  WriteFile(dir / "a.ini", text);
  const auto keys = ReadIniSection("Drives", dir / "a.ini", 4096);
  ASSERT_EQ(keys.size(), static_cast<std::size_t>(kKeys));
  for (int i = 0; i < kKeys; ++i) {
    const std::pair<std::string, std::string> expected{"Key" + std::to_string(i),
                                                       "/srv/" + std::to_string(i)};
    if (keys[static_cast<std::size_t>(i)] != expected) {
      ADD_FAILURE() << "key " << i << " reads as " << keys[static_cast<std::size_t>(i)].first << "="
                    << keys[static_cast<std::size_t>(i)].second;
      break;
    }
  }
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

// A file known by two names stays one file: both names show the new content.
TEST(ProfileWrite, AHardLinkedFileIsRewrittenInPlace) {
  TempDir dir;
  const std::string path = dir / "q.ini";
  const std::string other = dir / "other.ini";
  WriteFile(path, "[C]\nk=1\n");
  ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_TRUE(WriteIniString("C", "k", "22", path));
  EXPECT_EQ(ReadFile(path), "[C]\nk=22\n");
  EXPECT_EQ(ReadFile(other), "[C]\nk=22\n");
  ASSERT_TRUE(WriteIniString("C", "k", "3", other));  // shorter: the rest is cut
  EXPECT_EQ(ReadFile(path), "[C]\nk=3\n");
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir.path())) entries.push_back(e.path().filename());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"other.ini", "q.ini"}));
}

// The raw value of an attribute, or nullopt.
std::optional<std::string> Attr(const std::string& path, const char* name) {
  char buffer[4096];
  const ssize_t n = ::getxattr(path.c_str(), name, buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

// A POSIX ACL as the kernel keeps it in system.posix_acl_access/default: a version, then (tag,
// permissions, id) entries in tag order.
std::string AclBytes(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
  std::string bytes;
  const auto put = [&](std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put(2, 4);
  for (const auto& [tag, perm, id] : entries) {
    put(tag, 2);
    put(perm, 2);
    put(id, 4);
  }
  return bytes;
}

constexpr std::uint32_t kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kMask = 0x10,
                        kOther = 0x20, kNoId = 0xffffffff;

// Every write replaces the file: the replacement must be the old file in all but its bytes. Root
// can give a file any owner, so the file belongs to other ids first, as a user's settings file
// that an administrator's instance rewrites would.
TEST(ProfileWrite, TheReplacementKeepsOwnerGroupModeAclAndAttributes) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file another owner";
  TempDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, "[C]\nk=1\n");
  ASSERT_EQ(::chown(path.c_str(), 4242, 4343), 0);
  const std::string acl = AclBytes({{kUserObj, 6, kNoId},
                                    {kUser, 6, 4444},
                                    {kGroupObj, 4, kNoId},
                                    {kMask, 6, kNoId},
                                    {kOther, 0, kNoId}});
  const std::string note = std::string("kept\0bytes", 10);
  if (::setxattr(path.c_str(), "user.note", note.data(), note.size(), 0) != 0 ||
      ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "the temporary folder's file system takes no user attributes or ACLs: "
                 << std::strerror(errno);
  }
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_EQ(before.st_mode & 07777, 0660u);  // the ACL's mask shows as the group's bits

  ASSERT_TRUE(WriteIniString("C", "k", "2", path));
  ASSERT_EQ(ReadFile(path), "[C]\nk=2\n");
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "a file with one name is replaced, not rewritten";
  EXPECT_EQ(after.st_uid, 4242u);
  EXPECT_EQ(after.st_gid, 4343u);
  EXPECT_EQ(after.st_mode & 07777, 0660u);
  EXPECT_EQ(Attr(path, "user.note"), note);
  EXPECT_EQ(Attr(path, "system.posix_acl_access"), acl);
}

// A folder's default ACL is given to every file made in it, the temporary file too; a settings
// file that had no ACL must not gain one by being rewritten.
TEST(ProfileWrite, TheFolderDefaultAclIsNotAddedToTheFile) {
  TempDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, "[C]\nk=1\n");
  ::chmod(path.c_str(), 0644);
  ASSERT_EQ(Attr(path, "system.posix_acl_access"), std::nullopt);
  const std::string folderDefault = AclBytes({{kUserObj, 7, kNoId},
                                              {kUser, 7, 4444},
                                              {kGroupObj, 5, kNoId},
                                              {kMask, 7, kNoId},
                                              {kOther, 5, kNoId}});
  if (::setxattr(dir.path().c_str(), "system.posix_acl_default", folderDefault.data(),
                 folderDefault.size(), 0) != 0) {
    GTEST_SKIP() << "the temporary folder's file system takes no ACLs: " << std::strerror(errno);
  }
  ASSERT_TRUE(WriteIniString("C", "k", "2", path));
  EXPECT_EQ(Attr(path, "system.posix_acl_access"), std::nullopt);
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0644u);
}

// Two programs that write the same file, each a key of its own many times over: every write
// reads the file as the other left it, so no key is lost.
TEST(ProfileWrite, TwoProgramsWritingTheSameFileLoseNoUpdate) {
  TempDir dir;
  const std::string path = dir / "Quillstamp.ini";
  WriteFile(path, "[Configuration]\n");
  constexpr int kWrites = 150;
  const auto writeKeys = [&](const char* prefix) {
    int failed = 0;
    for (int i = 0; i < kWrites; ++i) {
      failed += WriteIniString("Configuration", prefix + std::to_string(i), "1", path) ? 0 : 1;
    }
    return failed;
  };
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(120);  // ends a child that would hang
    ::_exit(writeKeys("child") == 0 ? 0 : 1);
  }
  const int parentFailures = writeKeys("parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's writes failed";
  EXPECT_EQ(parentFailures, 0);

  const auto keys = ReadIniSection("Configuration", path);
  EXPECT_EQ(keys.size(), 2u * kWrites);
  int lost = 0;
  for (const char* prefix : {"child", "parent"}) {
    for (int i = 0; i < kWrites; ++i) {
      lost += Read(path, prefix + std::to_string(i)) == "1" ? 0 : 1;
    }
  }
  EXPECT_EQ(lost, 0);
  EXPECT_FALSE(fs::exists(path + ".lock")) << "the lock's holder removes its file";
}

// A writer that never lets go of the lock: the write gives up after a while and fails, leaving
// the file as it was, rather than hanging the program.
TEST(ProfileWrite, ALockNeverReleasedFailsTheWriteInsteadOfHanging) {
  TempDir dir;
  const std::string path = dir / "q.ini";
  WriteFile(path, "[C]\nk=1\n");
  const int held = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(InChildWithin(60, [&] { return WriteIniString("C", "k", "2", path) ? 1 : 0; }), 0);
  ::close(held);
  EXPECT_EQ(ReadFile(path), "[C]\nk=1\n");
}

// Names put where the lock file goes: a link is not followed (its target would be created), a
// FIFO is not waited on. The write fails and the planted name stays as it was.
TEST(ProfileWrite, ALinkOrFifoAtTheLockNameFailsTheWrite) {
  struct Planted {
    const char* name;
    std::function<int(const std::string& lock, const std::string& elsewhere)> plant;
  } const cases[] = {
      {"link",
       [](const std::string& lock, const std::string& elsewhere) {
         return ::symlink(elsewhere.c_str(), lock.c_str());
       }},
      {"fifo",
       [](const std::string& lock, const std::string&) { return ::mkfifo(lock.c_str(), 0666); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / "q.ini";
    const std::string elsewhere = dir / "elsewhere";
    WriteFile(path, "[C]\nk=1\n");
    ASSERT_EQ(c.plant(path + ".lock", elsewhere), 0) << std::strerror(errno);
    EXPECT_EQ(InChildWithin(10, [&] { return WriteIniString("C", "k", "2", path) ? 1 : 0; }), 0);
    EXPECT_EQ(ReadFile(path), "[C]\nk=1\n");
    EXPECT_FALSE(fs::exists(elsewhere));
  }
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
