// The records made from an audit log are selected by the selection rule as they stand, with the
// right path and user.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/formats/audit_parser.h"
#include "platform/posix/log_source.h"
#include "scan/record_decoder.h"
#include "support/case_name.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

struct Decoded {
  DecodeOutcome outcome;
  std::string user;
  std::string file;
};

Decoded Decode(const std::vector<std::uint8_t>& record, std::string ownAccount = "nobody") {
  TakenEvents newest;
  SelectionContext context{std::move(ownAccount), 0};
  CurrentEvent current;
  const auto outcome = DecodeRecord(record.data(), record.size(), newest, context, current);
  return {outcome, current.user, current.file};
}

// Every modification of the real RHEL 10 log, each made through sudo by the person logged in
// (newuser). Its watches name single files, so the writes of the temporary files that usermod,
// useradd, systemd and vim rename over /etc/passwd, /etc/hostname and the rest are not in it: those
// renames cannot be told from a bare move and are not listed; the write-opens of the files
// themselves are.
TEST(AuditRecordsDecoded, RealLogRecordsAreSelectedWithPathAndUser) {
  auto log = platform::OpenAuditLog(test::FixturePath("audit/rhel10-enriched.log"));
  ASSERT_NE(log, nullptr);
  std::vector<std::string> files;
  for (std::size_t i = 0; i < log->RecordCount(); ++i) {
    SCOPED_TRACE(i);
    const auto d = Decode(log->Record(i));
    ASSERT_EQ(d.outcome, DecodeOutcome::Selected);
    EXPECT_EQ(d.user, "newuser");
    files.push_back(d.file);
  }
  EXPECT_EQ(files, (std::vector<std::string>{"/etc/passwd", "/etc/shadow", "/etc/hosts",
                                             "/etc/passwd", "/etc/group", "/etc/gshadow",
                                             "/etc/shadow", "/etc/sudoers"}));
}

struct UserCase {
  const char* what;
  std::string primary;
  std::string client;
  std::string computer;
  std::string path;
  std::string wantUser;
};

void PrintTo(const UserCase& c, std::ostream* os) { *os << c.what; }

class AuditRecordUsers : public ::testing::TestWithParam<UserCase> {};

TEST_P(AuditRecordUsers, SelectedWithTheRightUserAndPath) {
  const auto& c = GetParam();
  platform::audit::FileModification m;
  m.seconds = 1700000000;
  m.serial = 12;
  m.pid = 99;
  m.path = c.path;
  m.primaryUser = c.primary;
  m.clientUser = c.client;
  const auto record = platform::audit::BuildModificationRecord(
      m, platform::audit::RecordComputerName("", c.computer));
  const auto d = Decode(record);
  ASSERT_EQ(d.outcome, DecodeOutcome::Selected);
  EXPECT_EQ(d.user, c.wantUser);
  EXPECT_EQ(d.file, c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AuditRecordUsers,
    ::testing::Values(UserCase{"sudo", "root", "alice", "fs", "/etc/motd", "alice"},
                      UserCase{"Samba", "alice", "-", "fs", "/srv/share/a.ods", "alice"},
                      UserCase{"host named File", "bob", "-", "File", "/srv/x", "bob"},
                      UserCase{"host ending in File", "bob", "carol", "MyFile", "/srv/y", "carol"},
                      UserCase{"path holding %% and File", "bob", "-", "fs",
                               "/srv/100%%4417 File/x", "bob"}),
    test::NameByWhat());

// The program's own account is recognised in the record (OwnAccount, not handed on).
TEST(AuditRecordsDecoded, OwnAccountIsRecognised) {
  platform::audit::FileModification m;
  m.seconds = 1700000000;
  m.path = "/srv/x";
  m.primaryUser = "quill";
  m.clientUser = "-";
  const auto record =
      platform::audit::BuildModificationRecord(m, platform::audit::RecordComputerName("", "h"));
  EXPECT_EQ(Decode(record, "QUILL").outcome, DecodeOutcome::OwnAccount);
}

}  // namespace
}  // namespace qs
