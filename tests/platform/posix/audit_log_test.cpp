// The audit log as a log source: rotated files, the records' layout, what a record cannot hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/eventlog_record.h"
#include "platform/file_identity.h"
#include "platform/formats/audit_parser.h"
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

}  // namespace
}  // namespace qs::platform
