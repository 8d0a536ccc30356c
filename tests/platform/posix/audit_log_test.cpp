// The audit log as a log source: rotated files, the records' layout, what a record cannot hold.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/file_identity.h"
#include "platform/formats/audit_parser.h"
#include "platform/posix/audited_folders.h"
#include "platform/posix/log_source.h"
#include "support/temp_dir.h"

namespace qs::platform {
namespace {

// A write-open of `path` by the process `pid` of session `ses`; `item` is added to its PATH item.
std::string Write(std::uint32_t seconds, std::uint32_t serial, std::string_view path,
                  std::string_view node = "", int pid = 321, std::string_view ses = "4294967295",
                  std::string_view item = "") {
  const std::string prefix = node.empty() ? std::string() : "node=" + std::string(node) + " ";
  const std::string stamp =
      "msg=audit(" + std::to_string(seconds) + ".500:" + std::to_string(serial) + "):";
  return prefix + "type=SYSCALL " + stamp +
         " arch=c000003e syscall=257 success=yes exit=3 a0=ffffff9c a1=1 a2=241 a3=1b6 items=1 "
         "ppid=1 pid=" +
         std::to_string(pid) +
         " auid=4294967295 uid=0 gid=0 euid=0 suid=0 fsuid=0 ses=" + std::string(ses) + "\n" +
         prefix + "type=CWD " + stamp + " cwd=\"/\"\n" + prefix + "type=PATH " + stamp +
         " item=0 name=\"" + std::string(path) + "\" " + std::string(item) +
         " mode=0100644 nametype=NORMAL\n";
}

// A rename of `from` over `to` by the process `pid`, both names relative to the CWD /srv/share.
std::string Rename(std::uint32_t seconds, std::uint32_t serial, int pid, std::string_view from,
                   std::string_view to, std::string_view ses = "4294967295") {
  const std::string stamp =
      "msg=audit(" + std::to_string(seconds) + ".600:" + std::to_string(serial) + "):";
  auto item = [&](int n, std::string_view name, std::string_view mode, std::string_view type) {
    return "type=PATH " + stamp + " item=" + std::to_string(n) + " name=\"" + std::string(name) +
           "\" mode=" + std::string(mode) + " nametype=" + std::string(type) + "\n";
  };
  return "type=SYSCALL " + stamp +
         " arch=c000003e syscall=82 success=yes exit=0 a0=1 a1=2 a2=0 a3=0 items=5 ppid=1 pid=" +
         std::to_string(pid) + " auid=4294967295 uid=0 euid=0 fsuid=0 ses=" + std::string(ses) +
         "\n" + "type=CWD " + stamp + " cwd=\"/srv/share\"\n" +
         item(0, "/srv/share/", "040755", "PARENT") + item(1, "/srv/share/", "040755", "PARENT") +
         item(2, from, "0100644", "DELETE") + item(3, to, "0100644", "DELETE") +
         item(4, to, "0100644", "CREATE");
}

// The insertion strings of a record, read through its StringOffset and NumStrings.
std::vector<std::string> Strings(const std::vector<std::uint8_t>& r) {
  std::vector<std::string> out;
  std::size_t at = ReadU32(r.data() + record_offset::kStringOffset);
  for (int i = 0; i < ReadU16(r.data() + record_offset::kNumStrings); ++i) {
    std::string s;
    while (at < r.size() && r[at] != 0) s.push_back(static_cast<char>(r[at++]));
    ++at;
    out.push_back(s);
  }
  return out;
}

TEST(AuditLogSource, MissingFileDoesNotOpenAndEmptyOrForeignFilesHaveNoRecords) {
  test::TempDir dir;
  EXPECT_EQ(OpenAuditLog(dir / "audit.log"), nullptr);
  test::WriteFile(dir / "empty.log", "");
  auto empty = OpenAuditLog(dir / "empty.log");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->RecordCount(), 0u);
  test::WriteFile(dir / "binary.log", std::string("\x7f"
                                                  "ELF\x02\x01\x01\0\0\0\n\xff\xfe",
                                                  14));
  auto binary = OpenAuditLog(dir / "binary.log");
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(binary->RecordCount(), 0u);
}

// auditd's rotation: audit.log.2 is older than audit.log.1, which is older than audit.log. Files
// with other suffixes are not part of the log.
TEST(AuditLogSource, ReadsRotatedFilesOldestFirstThenTheCurrentOne) {
  test::TempDir dir;
  test::WriteFile(dir / "audit.log.2", Write(1000, 1, "/srv/oldest"));
  test::WriteFile(dir / "audit.log.10", Write(900, 1, "/srv/older-still"));
  test::WriteFile(dir / "audit.log.1", Write(2000, 2, "/srv/middle"));
  test::WriteFile(dir / "audit.log", Write(3000, 3, "/srv/newest"));
  test::WriteFile(dir / "audit.log.bak", Write(4000, 4, "/srv/not-part-of-it"));
  test::WriteFile(dir / "audit.log.1.gz", Write(4000, 5, "/srv/not-part-of-it"));
  auto log = OpenAuditLog(dir / "audit.log");
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(log->RecordCount(), 4u);
  const char* want[] = {"/srv/older-still", "/srv/oldest", "/srv/middle", "/srv/newest"};
  const std::uint32_t times[] = {900, 1000, 2000, 3000};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& r = log->Record(i);
    EXPECT_EQ(Strings(r).at(2), want[i]);
    EXPECT_EQ(ReadU32(r.data() + record_offset::kTimeWritten), times[i]);
  }
}

TEST(AuditLogSource, RecordIsEvent560InTheWindows2000Layout) {
  test::TempDir dir;
  test::WriteFile(dir / "audit.log", Write(1700000123, 4711, "/srv/share/budget.ods", "fs1"));
  auto log = OpenAuditLog(dir / "audit.log");
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(log->RecordCount(), 1u);
  const auto r = log->Record(0);
  ASSERT_GE(r.size(), kFixedRecordSize);
  EXPECT_EQ(ReadU32(r.data()), r.size());
  EXPECT_EQ(ReadU32(r.data() + r.size() - 4), r.size());
  EXPECT_EQ(ReadU32(r.data() + record_offset::kSignature), kRecordSignature);
  EXPECT_EQ(ReadU32(r.data() + record_offset::kRecordNumber), 4711u);  // RecordNumber: the serial
  EXPECT_EQ(ReadU32(r.data() + record_offset::kTimeWritten),
            1700000123u);  // TimeWritten: the seconds
  EXPECT_EQ(ReadU32(r.data() + record_offset::kEventId), 560u);
  // Source and computer names follow the fixed part.
  const std::string names(reinterpret_cast<const char*>(r.data() + kFixedRecordSize), 13);
  EXPECT_EQ(names, std::string("Security\0fs1\0", 13));
  EXPECT_EQ(Strings(r),
            (std::vector<std::string>{"Security", "File", "/srv/share/budget.ods", "0", "0", "4711",
                                      "321", "root", "fs1", "(0x0,0xFFFFFFFF)", "-", "-", "-",
                                      "%%4417 %%4418 %%4420 %%4424", "-"}));
  EXPECT_LT(r.size(), 2048u);
}

// The selection rule takes the text after the first "File" and a zero byte anywhere in the
// record as the path: a computer named "File" (or "…File") must not come first.
TEST(AuditLogSource, ComputerNameCannotPassForTheObjectType) {
  EXPECT_EQ(audit::RecordComputerName("File", "host"), "File.");
  EXPECT_EQ(audit::RecordComputerName("", "ProfileFile"), "ProfileFile.");
  EXPECT_EQ(audit::RecordComputerName("", "files"), "files");
  EXPECT_EQ(audit::RecordComputerName(std::string_view("a\tb\0c", 5), "x"), "abc");
  EXPECT_EQ(audit::RecordComputerName("", ""), "localhost");

  test::TempDir dir;
  test::WriteFile(dir / "audit.log", Write(1700000000, 1, "/srv/x", "File"));
  auto log = OpenAuditLog(dir / "audit.log");
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(log->RecordCount(), 1u);
  const auto& r = log->Record(0);
  const std::string text(r.begin() + kFixedRecordSize, r.end());
  const std::size_t first = text.find(std::string("File\0", 5));
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.substr(first + 5, 7), std::string("/srv/x\0", 7));
}

// A very long path makes a record beyond 2048 bytes; it keeps its place and its whole path (the
// scan reads records of any size).
TEST(AuditLogSource, LongPathKeepsItsRecord) {
  test::TempDir dir;
  const std::string deep = "/srv/" + std::string(4000, 'd');
  test::WriteFile(dir / "audit.log",
                  Write(1, 1, "/srv/before") + Write(2, 2, deep) + Write(3, 3, "/srv/after"));
  auto log = OpenAuditLog(dir / "audit.log");
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(log->RecordCount(), 3u);
  EXPECT_EQ(Strings(log->Record(0)).at(2), "/srv/before");
  const auto& long_record = log->Record(1);
  EXPECT_GT(long_record.size(), 4000u);
  EXPECT_EQ(ReadU32(long_record.data()), long_record.size());
  EXPECT_EQ(Strings(long_record).at(2), deep);
  EXPECT_EQ(Strings(log->Record(2)).at(2), "/srv/after");
}

// A save through a temporary file: the process that wrote the temporary file renames it over the
// document. Only the document's record is left: the rename stands for the writes. A rename is no
// change by itself: a rename by another process, of a file the renaming process did not write, or
// by a process of the same number in another session (a pid used again) leaves the earlier write
// alone and gives nothing; so does a bare move of somebody's file.
TEST(AuditLogSource, ARenameCountsOnlyAfterTheSameProcessWroteTheFile) {
  test::TempDir dir;
  test::WriteFile(dir / "audit.log",
                  Write(10, 1, "/srv/share/.~lock.tmp") +  // pid 321
                      Rename(10, 2, 321, ".~lock.tmp", "budget.ods") +
                      Write(20, 3, "/srv/share/.x.tmp") + Rename(20, 4, 999, ".x.tmp", "x.ods") +
                      Write(30, 5, "/srv/share/y.tmp") + Rename(30, 6, 321, "other.tmp", "y.ods") +
                      Rename(40, 7, 500, "policy.txt", "policy-renamed.txt") +
                      Write(50, 8, "/srv/share/z.tmp", "", 321, "5") +
                      Rename(50, 9, 321, "z.tmp", "z.ods", "7") +
                      Write(60, 10, "/srv/share/s.tmp", "", 321, "5") +
                      Rename(60, 11, 321, "s.tmp", "s.ods", "5"));
  auto log = OpenAuditLog(dir / "audit.log");
  ASSERT_NE(log, nullptr);
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < log->RecordCount(); ++i)
    paths.push_back(Strings(log->Record(i)).at(2));
  EXPECT_EQ(paths,
            (std::vector<std::string>{"/srv/share/budget.ods", "/srv/share/.x.tmp",
                                      "/srv/share/y.tmp", "/srv/share/z.tmp", "/srv/share/s.ods"}));
}

// The written file's identity travels in the record's data area; a write whose item gives none
// makes a record without data.
TEST(AuditLogSource, RecordCarriesTheWrittenFilesIdentity) {
  test::TempDir dir;
  test::WriteFile(
      dir / "audit.log",
      Write(10, 1, "/srv/a", "", 321, "1", "inode=4836614 dev=fd:02") + Write(20, 2, "/srv/b"));
  auto log = OpenAuditLog(dir / "audit.log");
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(log->RecordCount(), 2u);
  const auto& a = log->Record(0);
  EXPECT_EQ(RecordFileIdentity(a.data(), a.size()), (FileIdentity{4836614, 0xfd, 2}));
  EXPECT_EQ(ReadU32(a.data() + record_offset::kDataLength), kFileIdentityDataSize);
  const auto& b = log->Record(1);
  EXPECT_EQ(RecordFileIdentity(b.data(), b.size()), std::nullopt);
  EXPECT_EQ(ReadU32(b.data() + record_offset::kDataLength), 0u);
}

// Captured from smbd (Samba 4, ENRICHED log) serving a share to the user qssmb: it opens and
// renames relative to a directory descriptor, with the folder in the PARENT item; its uid, euid
// and fsuid are the client's (suid 0) and it has no login uid. A put of up.txt, then a put of
// up3.tmp renamed over up.txt by the same smbd process.
TEST(AuditLogSource, SambaWritesAndSaveByRenameOfARealSmbd) {
  auto log = OpenAuditLog(test::ExistingFile(std::string(QS_AUDIT_SAMPLES) + "/smbd-share.log"));
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(log->RecordCount(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto strings = Strings(log->Record(i));
    EXPECT_EQ(strings.at(2), "/tmp/smbt/share/up.txt");
    EXPECT_EQ(strings.at(7), "qssmb");
    EXPECT_EQ(strings.at(10), "-");
  }
  EXPECT_EQ(ReadU32(log->Record(0).data() + record_offset::kRecordNumber), 236u);
  EXPECT_EQ(ReadU32(log->Record(1).data() + record_offset::kRecordNumber), 242u);
}

// --- Names that a file server's audit records cannot be trusted for ----------------------------

// The real smbd's records of smbd-subfolders.log (its README describes each event and the share's
// tree) replayed over a tree made anew: the share's path and device and every inode of the
// capture become those of the new tree, so that the paths are found on a real file system. The
// files deleted during the capture get inode numbers that no ext4 or tmpfs file can have.
class SambaSubfolders : public ::testing::Test {
 protected:
  void SetUp() override {
    share = dir / "share";
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(share) / "Sub" / "Deeper");
    for (const char* file :
         {"probe", "top.txt", "Sub/notes.txt", "Sub/Deeper/deep.txt", "Über-plan.txt",
          "name with spaces.txt", "Sub/report.docx", "draft-renamed.txt", "zz-end"})
      test::WriteFile(share + "/" + file, "x");
    const std::map<std::string, std::string> captured = {{"10952819", "."},
                                                         {"10952833", "Sub"},
                                                         {"10952849", "Sub/Deeper"},
                                                         {"10952900", "probe"},
                                                         {"10953104", "top.txt"},
                                                         {"10953105", "Sub/notes.txt"},
                                                         {"10953125", "Sub/Deeper/deep.txt"},
                                                         {"10953134", "Über-plan.txt"},
                                                         {"10953138", "name with spaces.txt"},
                                                         {"10953142", "Sub/report.docx"},
                                                         {"10953147", "draft-renamed.txt"},
                                                         {"10953152", "zz-end"}};
    std::uint32_t gone = 0;
    for (const char* inode : {"10952865", "10952882"})
      inodes[inode] = std::to_string((std::uint64_t{1} << 40) + ++gone);
    for (const auto& [inode, name] : captured) {
      struct stat st {};
      ASSERT_EQ(::stat((share + "/" + name).c_str(), &st), 0) << name;
      inodes[inode] = std::to_string(st.st_ino);
      device = FileIdentity{0, major(st.st_dev), minor(st.st_dev)};
    }
  }

  // The capture with this tree's share, device and inodes.
  std::string Replayed() const {
    std::string text = test::ReadFile(std::string(QS_AUDIT_SAMPLES) + "/smbd-subfolders.log");
    const std::string capturedShare = "/tmp/quillstamp-test-d375de2e0a25d2fe/share";
    for (std::size_t at = 0; (at = text.find(capturedShare, at)) != std::string::npos;)
      text.replace(at, capturedShare.size(), share), at += share.size();
    char dev[32];
    std::snprintf(dev, sizeof dev, "dev=%02x:%02x", device.deviceMajor, device.deviceMinor);
    const std::regex item(R"(inode=(\d+) dev=fe:00)");
    std::string out;
    auto last = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), item), end; it != end; ++it) {
      out.append(last, (*it)[0].first);
      const auto mapped = inodes.find((*it)[1].str());
      out += "inode=" + (mapped == inodes.end() ? (*it)[1].str() : mapped->second) + " " + dev;
      last = (*it)[0].second;
    }
    out.append(last, text.cend());
    return out;
  }

  // Path (below the share) and user of each record, oldest first; root's own (the test's marks)
  // left out.
  std::vector<std::pair<std::string, std::string>> Listed(LogSource& log) const {
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 0; i < log.RecordCount(); ++i) {
      const auto strings = Strings(log.Record(i));
      if (strings.size() < 8 || strings.at(7) == "root") continue;
      std::string path = strings.at(2);
      if (path.starts_with(share + "/")) path.erase(0, share.size() + 1);
      out.emplace_back(path, strings.at(7));
    }
    return out;
  }

  test::TempDir dir;
  std::string share;
  std::map<std::string, std::string> inodes;
  FileIdentity device;
};

// Every save of the capture on its own file with its own user: new files at the top and in
// sub-folders (named relative to the folder smbd holds open, the PARENT item naming the share),
// saves over existing files (reopened through /proc/self/fd/N), an office safe save in a
// sub-folder (the temporary file's write is listed as the document it became), a bare rename by
// another user and the deletes not at all.
TEST_F(SambaSubfolders, EverySaveIsListedUnderItsFilesPathAndUser) {
  test::WriteFile(dir / "audit.log", Replayed());
  auto log = KeepAuditLog(dir / "audit.log", {share}, 8 << 20);
  ASSERT_NE(log, nullptr);
  using Row = std::pair<std::string, std::string>;
  EXPECT_EQ(Listed(*log), (std::vector<Row>{{"top.txt", "qssmbe1"},
                                            {"Sub/notes.txt", "qssmbe2"},
                                            {"Sub/Deeper/deep.txt", "qssmbe1"},
                                            {"top.txt", "qssmbe2"},
                                            {"Sub/notes.txt", "qssmbe1"},
                                            {"Über-plan.txt", "qssmbe2"},
                                            {"name with spaces.txt", "qssmbe1"},
                                            {"Sub/report.docx", "qssmbe2"},
                                            {"draft.txt", "qssmbe1"}}));
  // The records carry the identities the comment step checks: the save over Sub/notes.txt names
  // the file that is there.
  struct stat st {};
  ASSERT_EQ(::stat((share + "/Sub/notes.txt").c_str(), &st), 0);
  bool found = false;
  for (std::size_t i = 0; i < log->RecordCount(); ++i) {
    const auto& r = log->Record(i);
    if (Strings(r).at(2) != share + "/Sub/notes.txt") continue;
    EXPECT_EQ(RecordFileIdentity(r.data(), r.size()),
              (FileIdentity{st.st_ino, device.deviceMajor, device.deviceMinor}));
    found = true;
  }
  EXPECT_TRUE(found);
}

// Without the audited folders (no rules file names them), what the log shows for sure still
// comes out: the folder it names is the share whose identity it gives. What lies in sub-folders
// cannot be placed, and is left out rather than listed under the share's root; a save over a
// file is found through the name its creation showed.
TEST_F(SambaSubfolders, WithoutTheAuditedFoldersNothingIsListedUnderAWrongName) {
  test::WriteFile(dir / "audit.log", Replayed());
  auto log = KeepAuditLog(dir / "audit.log", {}, 8 << 20);
  ASSERT_NE(log, nullptr);
  using Row = std::pair<std::string, std::string>;
  EXPECT_EQ(Listed(*log), (std::vector<Row>{{"top.txt", "qssmbe1"},
                                            {"top.txt", "qssmbe2"},
                                            {"Über-plan.txt", "qssmbe2"},
                                            {"name with spaces.txt", "qssmbe1"},
                                            {"draft.txt", "qssmbe1"}}));
}

// After the capture, Sub is renamed and a file moved into it: the saves are found where the
// files are now (one walk), and a file gone since whose name was never seen is not listed.
TEST_F(SambaSubfolders, FilesMovedSinceAreFoundWhereTheyAreNow) {
  namespace fs = std::filesystem;
  fs::rename(fs::path(share) / "Sub", fs::path(share) / "Renamed");
  fs::rename(fs::path(share) / "top.txt", fs::path(share) / "Renamed" / "top.txt");
  test::WriteFile(dir / "audit.log", Replayed());
  auto log = KeepAuditLog(dir / "audit.log", {share}, 8 << 20);
  ASSERT_NE(log, nullptr);
  const auto rows = Listed(*log);
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[1].first, "Renamed/notes.txt");  // created in Sub, which is Renamed now
  EXPECT_EQ(rows[2].first, "Renamed/Deeper/deep.txt");
  EXPECT_EQ(rows[3].first, "Renamed/top.txt");  // reopened through /proc/self/fd: the file
  EXPECT_EQ(rows[4].first, "Renamed/notes.txt");
  EXPECT_EQ(rows[7].first, "Renamed/report.docx");
}

TEST(AuditedFolders, AreTheFoldersThatTheRulesFilesWatch) {
  test::TempDir dir;
  namespace fs = std::filesystem;
  for (const char* folder : {"a", "b", "c", "rules.d"}) fs::create_directory(dir.path() / folder);
  test::WriteFile(dir / "file", "x");
  // audit.rules as augenrules made it, then rules.d in name order.
  test::WriteFile(dir / "audit.rules", "-D\n-w " + dir / "b" + " -p wa -k quillstamp\n");
  test::WriteFile(dir / "rules.d/20-z.rules", "-w " + dir / "c" + " -p wa\n");
  test::WriteFile(dir / "rules.d/10-a.rules", "-w " + dir / "a" + "/ -p wa\n-w " + dir / "file" +
                                                  " -p wa\n-w " + dir / "gone" + " -p wa\n-w " +
                                                  dir / "b" + " -p wa\n");
  test::WriteFile(dir / "rules.d/30.txt", "-w " + dir / "rules.d" + " -p wa\n");
  EXPECT_EQ(AuditedFolders(dir.path().string()),
            (std::vector<std::string>{dir / "b", dir / "a", dir / "c"}));
  EXPECT_TRUE(AuditedFolders(dir / "missing").empty());
}

}  // namespace
}  // namespace qs::platform
