// The audit log source on its own, over a log held in memory: which modifications it keeps whole,
// and that a record is the same whether it comes from what was kept or from the log read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/formats/audit_log_source.h"
#include "platform/formats/audit_parser.h"
#include "platform/formats/audit_record.h"
#include "support/temp_dir.h"

namespace qs::platform {
namespace {

std::optional<std::string> FakeAccounts(std::uint32_t uid) {
  static const std::map<std::uint32_t, std::string> names = {{1000, "alice"}, {1001, "bob"}};
  auto it = names.find(uid);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

// The records of `text` through a source that keeps up to `keptBytes`, fed by a parser that
// reads the users' names or not. `reads` counts the source's reads of the log.
std::vector<std::vector<std::uint8_t>> Records(const std::string& text, std::size_t keptBytes,
                                               bool names, int& reads) {
  AuditLogSource source(
      "host", FakeAccounts,
      [&](std::uint32_t, std::uint64_t offset, std::size_t length, std::string& out) {
        ++reads;
        out = text.substr(std::min<std::size_t>(offset, text.size()), length);
        return true;
      },
      keptBytes);
  audit::AuditParser parser(
      FakeAccounts,
      [&](audit::FileModification&& m, const audit::EventSpan& span) { source.Add(0, m, span); });
  if (!names) parser.SkipNames();
  parser.Feed(text);
  parser.Finish();
  source.Compact();
  std::vector<std::vector<std::uint8_t>> out;
  for (std::size_t i = 0; i < source.RecordCount(); ++i) out.push_back(source.Record(i));
  return out;
}

// A modification that comes without its users' names is never kept (its record would name
// nobody): its record is built from the log, with the names looked up. One that comes with them
// is kept while there is room, and then needs no read.
TEST(AuditLogSource, KeepsWholeOnlyWhatCameWithItsNamesAndWhileThereIsRoom) {
  // Writes by alice and by bob (through sudo: the client is alice), RAW: the names come from the
  // account database.
  std::string text;
  for (const auto& [serial, fsuid, file] :
       {std::tuple{1, 1000, "a.odt"}, {2, 1001, "b.odt"}, {3, 1000, "c.odt"}}) {
    const std::string stamp = "msg=audit(1700000000.500:" + std::to_string(serial) + "):";
    text += "type=SYSCALL " + stamp +
            " arch=c000003e syscall=257 success=yes exit=3 a0=ffffff9c a1=1 a2=241 a3=1b6 "
            "items=2 ppid=1 pid=77 auid=1000 uid=0 gid=0 euid=" +
            std::to_string(fsuid) + " fsuid=" + std::to_string(fsuid) + " ses=4\n";
    text += "type=CWD " + stamp + " cwd=\"/srv/share\"\n";
    text += "type=PATH " + stamp + " item=0 name=\"/srv/share/\" inode=2 dev=fd:01 " +
            "mode=040755 nametype=PARENT\n";
    text += "type=PATH " + stamp + " item=1 name=\"" + file +
            "\" inode=" + std::to_string(100 + serial) +
            " dev=fd:01 mode=0100644 nametype=NORMAL\n";
  }
  std::vector<std::vector<std::uint8_t>> want;
  for (const auto& m : audit::ParseAuditText(text, FakeAccounts))
    want.push_back(audit::BuildModificationRecord(m, "host"));
  ASSERT_GE(want.size(), 2u);
  struct Case {
    const char* what;
    std::size_t keptBytes;
    bool names;
    bool reads;  // whether records are read from the log again
  } cases[] = {
      {"names, room for all", 1 << 20, true, false},
      {"names, no room", 0, true, true},
      {"no names, room for all", 1 << 20, false, true},
      {"no names, no room", 0, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int reads = 0;
    EXPECT_EQ(Records(text, c.keptBytes, c.names, reads), want);
    EXPECT_EQ(reads > 0, c.reads);
  }
}

}  // namespace
}  // namespace qs::platform
