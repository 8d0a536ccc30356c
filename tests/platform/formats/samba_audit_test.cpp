// The log of Samba's full_audit module read as file modifications: the lines that Debian 12's
// Samba 4.17 wrote in the end-to-end test (samba-full-audit.log, captured by
// samba_full_audit_e2e_test), the forms the same message takes in a syslog file, and what the
// parser must survive (over-long and broken lines, text split anywhere).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/formats/audit_log_source.h"
#include "platform/formats/samba_audit_line.h"
#include "platform/formats/samba_audit_parser.h"
#include "support/ansi_record.h"
#include "support/temp_dir.h"

namespace qs::platform::samba_audit {
namespace {

constexpr const char* kShare = "/tmp/quillstamp-test-fa0de0684b125b6e/share";

std::string Fixture() { return test::ReadFile(QS_SAMBA_AUDIT_FIXTURE); }

struct Want {
  std::string user;
  std::string path;  // below the share
  std::string renamedFrom;
};

// What the fixture's lines say, in their order: every create_file that writes and every rename;
// none of the reads, the opens for renaming or deleting, the folder's open, the delete.
const std::vector<Want> kFixtureModifications = {
    {"qsfae1", "top.txt", ""},
    {"qsfae2", "Sub/notes.txt", ""},
    {"qsfae1", "Sub/Deeper/deep.txt", ""},
    {"qsfae2", "top.txt", ""},
    {"qsfae1", "Sub/notes.txt", ""},
    {"qsfae2", "Über-plan.txt", ""},
    {"qsfae1", "name with spaces.txt", ""},
    {"qsfae2", "Sub/~WRL0001.tmp", ""},
    {"qsfae2", "Sub/~WRD0002.tmp", "Sub/report.docx"},
    {"qsfae2", "Sub/report.docx", "Sub/~WRL0001.tmp"},
    {"qsfae1", "draft.txt", ""},
    {"qsfae2", "draft-renamed.txt", "draft.txt"},
};

std::string Below(const std::string& path) {
  const std::string share = std::string(kShare) + "/";
  return path.starts_with(share) ? path.substr(share.size()) : "outside: " + path;
}

TEST(SambaAuditParser, TheLinesSamba417WroteGiveEveryWriteAndRenameAndNothingElse) {
  const auto all = ParseSambaAuditText(Fixture());
  ASSERT_EQ(all.size(), kFixtureModifications.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& m = all[i];
    const Want& w = kFixtureModifications[i];
    EXPECT_EQ(m.primaryUser, w.user);
    EXPECT_EQ(m.clientUser, "-");
    EXPECT_EQ(Below(m.path), w.path);
    EXPECT_EQ(m.rename, !w.renamedFrom.empty());
    EXPECT_EQ(m.rename ? Below(m.renamedFrom) : "", w.renamedFrom);
    EXPECT_FALSE(m.identity.has_value()) << "the log gives no identity";
    EXPECT_NE(m.pid, 0u) << "the prefix's %d";
  }
  // The header's time, taken as UTC without a zone: [2026/12/11 17:09:17.764167] for the first.
  EXPECT_EQ(all[0].seconds, *UtcSeconds({2026, 12, 11, 17, 9, 17, {}}));
  // One smbclient session is one connection; each session another.
  EXPECT_EQ(all[7].pid, all[9].pid);
  EXPECT_EQ(all[7].session, all[9].session);
  EXPECT_NE(all[0].session, all[1].session);
}

// The records, through the same source as the audit log's: the office save's rename stands for
// the temporary file's write, and the renames of files the connection did not write are no save.
// The same whether the modifications are kept whole or read again from the log.
TEST(SambaAuditParser, TheSourceTakesRenamesOnlyAfterTheSameConnectionWroteTheFile) {
  const std::string text = Fixture();
  for (const std::size_t keptBytes : {AuditLogSource::kKeptBytes, std::size_t{0}}) {
    SCOPED_TRACE(keptBytes);
    int reads = 0;
    AuditLogSource source(
        "files", {},
        [&](std::uint32_t, std::uint64_t offset, std::size_t length, std::string& out) {
          ++reads;
          out = text.substr(std::min<std::size_t>(offset, text.size()), length);
          return true;
        },
        keptBytes, {},
        [](std::string_view span, const audit::UserNameLookup&) {
          return ParseSambaAuditSpan(span, {});
        });
    SambaAuditParser parser({}, [&](audit::FileModification&& m, const audit::EventSpan& span) {
      source.Add(0, m, span);
    });
    parser.Feed(text);
    parser.Finish();
    source.Compact();
    std::vector<std::pair<std::string, std::string>> got;
    for (std::size_t i = 0; i < source.RecordCount(); ++i) {
      const auto record = test::ParseAnsiRecord(source.Record(i));
      ASSERT_EQ(record.strings.size(), 15u);
      EXPECT_EQ(record.eventId, 560u);
      got.emplace_back(record.strings[7], Below(record.strings[2]));
    }
    const std::vector<std::pair<std::string, std::string>> want = {
        {"qsfae1", "top.txt"},
        {"qsfae2", "Sub/notes.txt"},
        {"qsfae1", "Sub/Deeper/deep.txt"},
        {"qsfae2", "top.txt"},
        {"qsfae1", "Sub/notes.txt"},
        {"qsfae2", "Über-plan.txt"},
        {"qsfae1", "name with spaces.txt"},
        {"qsfae2", "Sub/report.docx"},
        {"qsfae1", "draft.txt"},
    };
    EXPECT_EQ(got, want);
    EXPECT_EQ(reads > 0, keptBytes == 0) << "read again only when nothing was kept";
  }
}

// One message after another, each alone: what it gives (empty: nothing).
TEST(SambaAuditLine, MessagesThatChangeAFileAndThoseThatDoNot) {
  struct Case {
    const char* what;
    std::string message;
    std::string path;  // empty: nothing
    std::string renamedFrom = "";
    std::string user = "alice";
    std::uint32_t pid = 4242;
  };
  const std::string p = "alice|10.0.0.5|4242|share|";
  const std::vector<Case> cases = {
      {"a new file", p + "create_file|ok|0x12019f|file|overwrite_if|/srv/s/a.txt", "/srv/s/a.txt"},
      {"written without truncating", p + "create_file|ok|0x2|file|open|/srv/s/a.txt",
       "/srv/s/a.txt"},
      {"appended to", p + "create_file|ok|0x4|file|open_if|/srv/s/a.txt", "/srv/s/a.txt"},
      {"GENERIC_WRITE", p + "create_file|ok|0x40000000|file|open|/srv/s/a.txt", "/srv/s/a.txt"},
      {"GENERIC_ALL", p + "create_file|ok|0x10000000|file|open|/srv/s/a.txt", "/srv/s/a.txt"},
      {"superseded with read access only", p + "create_file|ok|0x80|file|supersede|/srv/s/a.txt",
       "/srv/s/a.txt"},
      {"overwritten", p + "create_file|ok|0x120089|file|overwrite|/srv/s/a.txt", "/srv/s/a.txt"},
      {"opened for reading", p + "create_file|ok|0x120089|file|open|/srv/s/a.txt", ""},
      {"opened to be renamed or deleted", p + "create_file|ok|0x10000|file|open|/srv/s/a.txt", ""},
      {"created with no write access", p + "create_file|ok|0x80|file|create|/srv/s/a.txt", ""},
      {"a folder", p + "create_file|ok|0x12019f|dir|create|/srv/s/New", ""},
      {"a named stream", p + "create_file|ok|0x12019f|file|overwrite_if|/srv/s/a.txt:Comments", ""},
      {"a failure", p + "create_file|fail (NT_STATUS_ACCESS_DENIED)|0x12019f|file|overwrite_if|/a",
       ""},
      {"a relative path", p + "create_file|ok|0x12019f|file|overwrite_if|a.txt", ""},
      {"a control character", p + "create_file|ok|0x2|file|open|/srv/s/a\tb", ""},
      {"a mask that is no number", p + "create_file|ok|12019f|file|overwrite_if|/srv/s/a.txt", ""},
      {"an open for writing (create_file says more)", p + "openat|ok|w|/srv/s/a.txt", ""},
      {"a delete", p + "unlinkat|ok|/srv/s/a.txt", ""},
      {"a rename", p + "renameat|ok|/srv/s/a.txt|/srv/s/b c.txt", "/srv/s/b c.txt", "/srv/s/a.txt"},
      {"a rename within one name", p + "renameat|ok|/srv/s/a.txt|/srv/s/a.txt", ""},
      {"a rename that cannot be split", p + "renameat|ok|/srv/x|/a|/srv/b", ""},
      {"a failed rename", p + "renameat|fail (NT_STATUS_OBJECT_NAME_COLLISION)|/srv/a|/srv/b", ""},
      {"a domain user as Samba gives it",
       "EXAMPLE\\alice|10.0.0.5|77|share|create_file|ok|0x2|file|open|/srv/s/a.txt", "/srv/s/a.txt",
       "", "EXAMPLE\\alice", 77},
      {"no process id in the prefix", "alice|10.0.0.5|share|create_file|ok|0x2|file|open|/srv/a",
       "/srv/a", "", "alice", 0},
      {"a path holding a bar", p + "create_file|ok|0x2|file|open|/srv/s/x|y.txt", "/srv/s/x|y.txt"},
      {"no user", "|10.0.0.5|1|share|create_file|ok|0x2|file|open|/srv/a", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto op = ParseMessage(c.message);
    if (c.path.empty()) {
      EXPECT_FALSE(op.has_value());
      continue;
    }
    ASSERT_TRUE(op.has_value());
    EXPECT_EQ(op->path, c.path);
    EXPECT_EQ(op->rename, !c.renamedFrom.empty());
    EXPECT_EQ(op->renamedFrom, c.renamedFrom);
    EXPECT_EQ(op->user, c.user);
    EXPECT_EQ(op->pid, c.pid);
  }
}

// The same message in each form a log holds it, and its time.
TEST(SambaAuditParser, EachFormOfTheLineGivesTheMessageAndItsTime) {
  const std::string message =
      "alice|10.0.0.5|4242|share|create_file|ok|0x12019f|file|overwrite_if|/srv/s/a.txt";
  const std::int64_t utc = *UtcSeconds({2026, 12, 11, 15, 25, 51, {}});
  // The resolver of these tests: the local zone is one hour east of UTC.
  const LocalTimeResolver plusOne = [](const CivilTime& t) -> std::optional<std::int64_t> {
    CivilTime withYear = t;
    if (withYear.year == 0) withYear.year = 2026;
    const auto s = UtcSeconds(withYear);
    if (!s) return std::nullopt;
    return *s - 3600;
  };
  struct Case {
    const char* what;
    std::string text;
    std::optional<std::int64_t> seconds;  // nullopt: nothing
  };
  const std::vector<Case> cases = {
      {"Samba's log file",
       "[2026/12/11 15:25:51.986029,  1] ../../source3/modules/vfs_full_audit.c:643(do_log)\n  " +
           message + "\n",
       utc - 3600},
      {"Samba's log file without high-resolution times",
       "[2026/12/11 15:25:51,  1] ../../source3/modules/vfs_full_audit.c:643(do_log)\n  " +
           message + "\r\n",
       utc - 3600},
      {"Samba's log file with the timestamp on the message's line",
       "[2026/12/11 15:25:51.986029,  1] " + message + "\n", utc - 3600},
      {"a header whose message never came",
       "[2026/12/11 15:25:51.986029,  1] ../../source3/smbd/server.c:1741(main)\n" + message + "\n",
       std::nullopt},
      {"a header parted from its message by another line",
       "[2026/12/11 15:25:51.986029,  1] x.c:1(do_log)\nsomething else\n  " + message + "\n",
       std::nullopt},
      {"rsyslog's RFC 3339 line, UTC",
       "2026-12-11T15:25:51.986029+00:00 files smbd_audit: " + message + "\n", utc},
      {"rsyslog's RFC 3339 line, another zone",
       "2026-12-11T15:25:51.986029-05:30 files smbd_audit: " + message + "\n",
       utc + 5 * 3600 + 1800},
      {"an RFC 3339 line in Z", "2026-12-11T15:25:51Z files smbd_audit[77]: " + message + "\n",
       utc},
      {"the traditional syslog line (local time, this year)",
       "Dec 11 15:25:51 files smbd_audit: " + message + "\n", utc - 3600},
      {"a traditional line with a one-digit day",
       "Dec  1 15:25:51 files smbd_audit: " + message + "\n",
       *UtcSeconds({2026, 12, 1, 15, 25, 51, {}}) - 3600},
      {"a date that does not exist",
       "2026-02-30T15:25:51+00:00 files smbd_audit: " + message + "\n", std::nullopt},
      {"a time past 2038", "2039-01-01T00:00:00+00:00 files smbd_audit: " + message + "\n",
       std::nullopt},
      {"a line without its newline", "2026-12-11T15:25:51Z files smbd_audit: " + message,
       std::nullopt},
      {"the message alone", message + "\n", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto all = [&] {
      std::vector<audit::FileModification> out;
      SambaAuditParser parser(plusOne, [&](audit::FileModification&& m, const audit::EventSpan&) {
        out.push_back(std::move(m));
      });
      parser.Feed(c.text);
      return out;
    }();
    if (!c.seconds) {
      EXPECT_TRUE(all.empty());
      continue;
    }
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].seconds, *c.seconds);
    EXPECT_EQ(all[0].path, "/srv/s/a.txt");
    EXPECT_EQ(all[0].primaryUser, "alice");
  }
}

// The fixture fed in pieces of every size from 1 byte gives the same modifications, at the same
// places, as fed whole; and each one's span alone gives it again.
TEST(SambaAuditParser, TextSplitAnywhereGivesTheSameModificationsAndSpans) {
  const std::string text = Fixture();
  auto run = [&](std::size_t piece) {
    std::vector<std::pair<audit::FileModification, audit::EventSpan>> out;
    SambaAuditParser parser({}, [&](audit::FileModification&& m, const audit::EventSpan& span) {
      out.emplace_back(std::move(m), span);
    });
    for (std::size_t at = 0; at < text.size(); at += piece)
      parser.Feed(std::string_view(text).substr(at, piece));
    EXPECT_LE(parser.BufferedBytes(), kMaxLineLength);
    return out;
  };
  const auto whole = run(text.size());
  ASSERT_EQ(whole.size(), kFixtureModifications.size());
  for (const auto& [m, span] : whole) {
    const auto again =
        ParseSambaAuditSpan(std::string_view(text).substr(span.begin, span.end - span.begin), {});
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, m);
  }
  for (const std::size_t piece : {1u, 2u, 7u, 64u, 1000u}) {
    SCOPED_TRACE(piece);
    const auto split = run(piece);
    ASSERT_EQ(split.size(), whole.size());
    for (std::size_t i = 0; i < split.size(); ++i) {
      EXPECT_EQ(split[i].first, whole[i].first);
      EXPECT_EQ(split[i].second.begin, whole[i].second.begin);
      EXPECT_EQ(split[i].second.end, whole[i].second.end);
    }
  }
}

// A line of a megabyte, fed whole or in pieces, is skipped without being held; the lines around
// it are read. So is a line cut short by a crash (no newline before the next header).
TEST(SambaAuditParser, AnOverLongLineAndABrokenLineAreSkippedAndTheRestIsRead) {
  const std::string good =
      "2026-12-11T15:25:51Z files smbd_audit: alice|1.2.3.4|7|s|create_file|ok|0x2|file|open|"
      "/srv/s/good.txt\n";
  const std::string huge =
      "2026-12-11T15:25:51Z files smbd_audit: alice|1.2.3.4|7|s|"
      "create_file|ok|0x2|file|open|/srv/s/" +
      std::string(1 << 20, 'x') + "\n";
  const std::string broken = "[2026/12/11 15:25:51.98";  // then the next line, as after a crash
  const std::string text = good + huge + broken + good;
  for (const std::size_t piece : {text.size(), std::size_t{4096}}) {
    SCOPED_TRACE(piece);
    std::vector<std::string> paths;
    std::size_t mostHeld = 0;
    SambaAuditParser parser(
        {}, [&](audit::FileModification&& m, const audit::EventSpan&) { paths.push_back(m.path); });
    for (std::size_t at = 0; at < text.size(); at += piece) {
      parser.Feed(std::string_view(text).substr(at, piece));
      mostHeld = std::max(mostHeld, parser.BufferedBytes());
    }
    EXPECT_LE(mostHeld, kMaxLineLength);
    // The broken line and the good one after it are one line: only the first good one and the
    // last are whole.
    EXPECT_EQ(paths, std::vector<std::string>({"/srv/s/good.txt"}));
    parser.Feed(good);
    EXPECT_EQ(paths.size(), 2u);
  }
}

}  // namespace
}  // namespace qs::platform::samba_audit
