// A full_audit log on disk (KeepSambaAuditLog): its rotated files read oldest first, a pass
// resumed where the last one ended (a line split between two passes included), and a rotation
// seen as a log to open anew; and through the event-log service named "samba-audit:PATH".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/formats/samba_audit_parser.h"
#include "platform/posix/log_source.h"
#include "platform/posix/posix_eventlog.h"
#include "support/ansi_record.h"
#include "support/temp_dir.h"

namespace qs::platform {
namespace {

// One modification in Samba's own log form, by `user` of /srv/s/NAME.
std::string Line(const std::string& user, const std::string& name, int second = 1) {
  return "[2026/12/11 15:25:0" + std::to_string(second) +
         ".000001,  1] ../../source3/modules/vfs_full_audit.c:643(do_log)\n  " + user +
         "|10.0.0.5|4242|share|create_file|ok|0x12019f|file|overwrite_if|/srv/s/" + name + "\n";
}

std::vector<std::string> Files(LogSource& log) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < log.RecordCount(); ++i)
    out.push_back(test::ParseAnsiRecord(log.Record(i)).strings[2]);
  return out;
}

TEST(SambaAuditLog, RotatedFilesComeFirstOldestFirst) {
  test::TempDir dir;
  const std::string log = dir / "log.smbd";
  test::WriteFile(log + ".2", Line("alice", "oldest"));
  test::WriteFile(log + ".1", Line("alice", "older"));
  test::WriteFile(log + ".old", Line("alice", "old"));
  test::WriteFile(log + ".1.gz", "not read: compressed");
  test::WriteFile(log, Line("alice", "current"));
  const auto kept = KeepSambaAuditLog(log);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(Files(*kept), std::vector<std::string>(
                              {"/srv/s/oldest", "/srv/s/older", "/srv/s/old", "/srv/s/current"}));
}

TEST(SambaAuditLog, APassResumesWhereTheLastEndedAndARotationOpensAnew) {
  test::TempDir dir;
  const std::string log = dir / "log.smbd";
  const std::string second = Line("bob", "b.txt", 2);
  test::WriteFile(log, Line("alice", "a.txt") + second.substr(0, 40));  // Samba mid-line
  const auto kept = KeepSambaAuditLog(log, 0);  // nothing kept whole: records read again
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(Files(*kept), std::vector<std::string>({"/srv/s/a.txt"}));
  EXPECT_EQ(kept->RecordNumber(0), 1u);

  test::WriteFile(log, Line("alice", "a.txt") + second);  // the rest of the line came
  ASSERT_TRUE(kept->Update());
  EXPECT_EQ(Files(*kept), std::vector<std::string>({"/srv/s/a.txt", "/srv/s/b.txt"}));
  EXPECT_EQ(kept->RecordNumber(1), 2u) << "the earlier record keeps its number";
  EXPECT_TRUE(kept->Update()) << "nothing new";

  // Samba's own rotation: the file goes to .old, a new one starts.
  std::filesystem::rename(log, log + ".old");
  test::WriteFile(log, Line("carol", "c.txt", 3));
  EXPECT_FALSE(kept->Update());
  const auto reopened = KeepSambaAuditLog(log);
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(Files(*reopened),
            std::vector<std::string>({"/srv/s/a.txt", "/srv/s/b.txt", "/srv/s/c.txt"}));
}

TEST(SambaAuditLog, TheServiceReadsTheLogNamedWithItsKind) {
  test::TempDir dir;
  const std::string log = dir / "log.smbd";
  test::WriteFile(log, Line("EXAMPLE\\alice", "a.txt"));
  struct Case {
    const char* what;
    std::string setting;
    bool opens;
  };
  const std::vector<Case> cases = {
      {"the full_audit log", std::string(samba_audit::kLogScheme) + log, true},
      {"a missing file", std::string(samba_audit::kLogScheme) + log + ".none", false},
      {"a folder", std::string(samba_audit::kLogScheme) + dir.path().string(), false},
      // Read as the kernel's audit log, the same file shows no modification.
      {"the same file as an audit log", log, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto service = MakePosixEventLogService(c.setting);
    const EventLogHandle handle = service->OpenLog("", "Security");
    EXPECT_EQ(handle != 0, c.opens);
    if (handle == 0) continue;
    std::uint32_t count = 0;
    ASSERT_TRUE(service->NumberOfRecords(handle, count));
    const bool samba = c.setting.starts_with(samba_audit::kLogScheme);
    EXPECT_EQ(count, samba ? 1u : 0u);
    if (samba && count == 1) {
      std::vector<std::uint8_t> buffer(8192);
      std::uint32_t read = 0, needed = 0;
      ASSERT_TRUE(service->ReadRecord(handle, kEventLogSequentialRead | kEventLogForwardsRead, 0,
                                      buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                      read, needed));
      buffer.resize(read);
      const auto record = test::ParseAnsiRecord(buffer);
      EXPECT_EQ(record.strings[7], "EXAMPLE\\alice") << "the user as Samba gives it";
      EXPECT_EQ(record.strings[2], "/srv/s/a.txt");
    }
    service->CloseLog(handle);
  }
}

}  // namespace
}  // namespace qs::platform
