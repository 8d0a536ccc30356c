// The audit log as the scan sees it is the same, byte for byte, whether every modification is
// kept in memory or only where its event lies in the log: the records of OpenAuditLog against
// those of the whole log parsed in memory, the rename rule applied to the list, on real logs and
// on logs made to hold the hard cases.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/formats/audit_parser.h"
#include "platform/formats/audit_record.h"
#include "platform/posix/account_database.h"
#include "platform/posix/log_source.h"
#include "support/temp_dir.h"

namespace qs::platform {
namespace {

using audit::FileModification;
using Files = std::vector<std::pair<std::string, std::string>>;  // name, content; oldest first
using Records = std::vector<std::vector<std::uint8_t>>;

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string IdentityKey(const std::optional<FileIdentity>& id) {
  if (!id) return "-";
  return std::to_string(id->inode) + ":" + std::to_string(id->deviceMajor) + ":" +
         std::to_string(id->deviceMinor);
}

// A writer's file is its identity, folder and name in it where the log gives the identity, else
// its path.
std::string WriterKey(const FileModification& m, const std::optional<FileIdentity>& identity,
                      const std::optional<FileIdentity>& folder, const std::string& path) {
  const std::string file =
      identity ? "#" + IdentityKey(identity) + "#" + IdentityKey(folder) + "#" +
                     path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1)
               : "/" + path;
  return m.node + '\0' + std::to_string(m.pid) + '\0' + std::to_string(m.session) + '\0' + file;
}

// Each file parsed whole, the modifications kept in a list, a rename standing for the writes of
// the file it moves by the same process and else left out, a record built from each.
Records InMemory(const Files& files) {
  const auto lookup = audit::AccountDatabaseLookup();
  std::vector<FileModification> mods;
  std::vector<bool> dropped;
  std::map<std::string, std::vector<std::size_t>> byWriter;
  for (const auto& [name, text] : files) {
    for (auto& m : audit::ParseAuditText(text, lookup)) {
      if (m.rename) {
        if (m.renamedFrom.empty()) continue;
        const auto it =
            byWriter.find(WriterKey(m, m.renamedFromIdentity, m.renamedFromFolder, m.renamedFrom));
        if (it == byWriter.end()) continue;
        for (std::size_t i : it->second) dropped[i] = true;
        byWriter.erase(it);
      }
      byWriter[WriterKey(m, m.identity, m.folderIdentity, m.path)].push_back(mods.size());
      mods.push_back(std::move(m));
      dropped.push_back(false);
    }
  }
  Records out;
  for (std::size_t i = 0; i < mods.size(); ++i) {
    if (!dropped[i])
      out.push_back(audit::BuildModificationRecord(
          mods[i], audit::RecordComputerName(mods[i].node, HostName())));
  }
  return out;
}

Records RecordsOf(LogSource& log) {
  Records out;
  for (std::size_t i = 0; i < log.RecordCount(); ++i) out.push_back(log.Record(i));
  return out;
}

// keptBytes: how much of the modifications the log keeps whole; the others' records are read
// from the log again.
Records ThroughTheLog(const test::TempDir& dir, std::size_t keptBytes) {
  auto log = KeepAuditLog(dir / "audit.log", keptBytes);
  if (!log) return {};
  return RecordsOf(*log);
}

// Nothing kept, a little (the store fills early on, and the rest is read again), and what the
// program keeps.
struct Keeping {
  const char* what;
  std::size_t bytes;
};
constexpr Keeping kKeepings[] = {
    {"nothing kept", 0}, {"a little kept", 20000}, {"kept as the program keeps", 8 << 20}};

std::string Stamp(std::uint32_t serial) {
  return "msg=audit(" + std::to_string(1700000000 + serial / 10) +
         ".250:" + std::to_string(serial) + "):";
}

std::string Syscall(std::uint32_t serial, int syscall, std::string_view a2, int pid, int uid,
                    std::string_view ses = "3") {
  return "type=SYSCALL " + Stamp(serial) + " arch=c000003e syscall=" + std::to_string(syscall) +
         " success=yes exit=3 a0=ffffff9c a1=1 a2=" + std::string(a2) +
         " a3=1b6 items=2 ppid=1 pid=" + std::to_string(pid) +
         " auid=1000 uid=" + std::to_string(uid) + " euid=" + std::to_string(uid) +
         " fsuid=" + std::to_string(uid) + " ses=" + std::string(ses) + "\n";
}

std::string Cwd(std::uint32_t serial) {
  return "type=CWD " + Stamp(serial) + " cwd=\"/srv/share\"\n";
}

std::string Item(std::uint32_t serial, int n, std::string_view name, std::string_view type,
                 std::string_view mode = "0100644") {
  return "type=PATH " + Stamp(serial) + " item=" + std::to_string(n) + " name=\"" +
         std::string(name) + "\" inode=" + std::to_string(5000 + serial) +
         " dev=fd:01 mode=" + std::string(mode) + " nametype=" + std::string(type) + "\n";
}

std::string Title(std::uint32_t serial) {
  return "type=PROCTITLE " + Stamp(serial) + " proctitle=6C696272656F6666696365\n";
}

// A write-open of `name` (relative to /srv/share) by process `pid` as user `uid`.
std::string Write(std::uint32_t serial, std::string_view name, int pid = 40, int uid = 1000) {
  return Syscall(serial, 257, "241", pid, uid) + Cwd(serial) +
         Item(serial, 0, "/srv/share/", "PARENT", "040755") + Item(serial, 1, name, "NORMAL") +
         Title(serial);
}

// A rename of `from` over `to` by process `pid`.
std::string Rename(std::uint32_t serial, std::string_view from, std::string_view to, int pid = 40,
                   std::string_view ses = "3") {
  return Syscall(serial, 82, "0", pid, 1000, ses) + Cwd(serial) +
         Item(serial, 0, "/srv/share/", "PARENT", "040755") +
         Item(serial, 1, "/srv/share/", "PARENT", "040755") + Item(serial, 2, from, "DELETE") +
         Item(serial, 3, to, "DELETE") + Item(serial, 4, to, "CREATE") + Title(serial);
}

std::string Fixture(const char* name) {
  return test::ReadFile(test::ExistingFile(test::FixturesDir() / "audit" / name));
}

// The text cut into `parts` files at line ends (or anywhere, when atLineEnds is false).
Files Rotated(const std::string& text, int parts, bool atLineEnds = true) {
  Files files;
  std::size_t from = 0;
  for (int i = 0; i < parts; ++i) {
    std::size_t to = text.size() * (i + 1) / parts;
    if (atLineEnds && i + 1 < parts) to = text.find('\n', to) + 1;
    const std::string name =
        i + 1 < parts ? "audit.log." + std::to_string(parts - 1 - i) : std::string("audit.log");
    files.emplace_back(name, text.substr(from, to - from));
    from = to;
  }
  return files;
}

// A mix over many files' worth of text: writes, saves through temporary files, moves of files
// the mover did not write, reads, long paths, now and then an event cut in two around others.
std::string Mix(int events) {
  std::uint32_t rng = 7;
  auto next = [&rng] {
    rng = rng * 1103515245u + 12345u;
    return (rng >> 16) & 0x7fff;
  };
  std::string text, held;
  for (int i = 0; i < events; ++i) {
    const std::uint32_t serial = 100 + static_cast<std::uint32_t>(i);
    const int pid = 40 + static_cast<int>(next() % 4);
    std::string name = "doc" + std::to_string(next() % 30) + ".odt";
    if (next() % 8 == 0) name = std::string(1000 + next() % 2000, 'p') + "/" + name;
    std::string ev;
    switch (next() % 5) {
      case 0:
        ev = Write(serial, name, pid);
        break;
      case 1:
        ev = Write(serial, "lu" + std::to_string(pid) + ".tmp", pid);
        break;
      case 2:
        ev = Rename(serial, "lu" + std::to_string(next() % 4 + 40) + ".tmp", name, pid);
        break;
      case 3:
        ev = Rename(serial, "doc" + std::to_string(next() % 30) + ".odt", name, pid);
        break;
      default:
        ev = Syscall(serial, 257, "0", pid, 1000) + Cwd(serial) + Item(serial, 0, name, "NORMAL");
    }
    if (!held.empty()) {
      const std::size_t cut = held.find('\n') + 1;
      text += held.substr(0, cut) + ev + held.substr(cut);
      held.clear();
    } else if (next() % 10 == 0) {
      held = ev;
    } else {
      text += ev;
    }
  }
  return text + held;
}

struct Case {
  const char* what;
  Files files;
};

std::vector<Case> Cases() {
  const std::string enriched = Fixture("rhel10-enriched.log");
  const std::string overLong = "type=PATH " + Stamp(2) + " item=1 name=\"" +
                               std::string(audit::kMaxLineLength, 'x') + "\" nametype=NORMAL\n";
  std::string atLimit = "type=PROCTITLE " + Stamp(2) + " proctitle=";
  atLimit += std::string(audit::kMaxLineLength - atLimit.size(), 'A') + "\n";
  std::string late = Syscall(1, 257, "241", 40, 1000) + Cwd(1);
  for (std::uint32_t s = 2; s < 2 + audit::kMaxOpenEvents + 10; ++s) late += Write(s, "a.txt");
  late += Item(1, 0, "late.txt", "NORMAL");
  std::string longSpan = Syscall(1, 257, "241", 40, 1000) + Cwd(1);
  for (int i = 0; i < 40; ++i) longSpan += Item(1, 0, std::string(60000, 'q'), "NORMAL");
  longSpan += Write(2, "after.txt");
  return {
      {"real RHEL 10 log, ENRICHED", {{"audit.log", enriched}}},
      {"real RHEL 7 log, RAW", {{"audit.log", Fixture("rhel7-raw.log")}}},
      {"real interleaved log", {{"audit.log", Fixture("interleaved.log")}}},
      {"real log rotated into three files", Rotated(enriched, 3)},
      {"real log rotated in the middle of lines", Rotated(enriched, 4, false)},
      {"events split across rotated files", Rotated(Write(1, "a.txt") + Write(2, "b.txt"), 2)},
      {"interleaved events",
       {{"audit.log", Syscall(1, 257, "241", 40, 1000) + Write(2, "b.txt") + Cwd(1) +
                          Item(1, 0, "a.txt", "NORMAL") + Write(3, "c.txt")}}},
      {"partial last line", {{"audit.log", Write(1, "a.txt") + Write(2, "b.txt").substr(0, 150)}}},
      {"lines over and at the length limit",
       {{"audit.log", Syscall(2, 257, "241", 40, 1000) + overLong + Cwd(2) + atLimit +
                          Item(2, 0, "kept.txt", "NORMAL") + Write(3, "c.txt")}}},
      {"a record after its event was taken as complete", {{"audit.log", late}}},
      {"an event spread over more than a megabyte", {{"audit.log", longSpan}}},
      {"renames after writes",
       {{"audit.log", Write(1, "lu1.tmp", 40) + Write(2, "lu1.tmp", 41) +
                          Rename(3, "lu1.tmp", "doc.odt", 40) + Rename(4, "lu1.tmp", "x", 40) +
                          Rename(5, "doc.odt", "other.odt", 40) + Rename(6, "b.odt", "c.odt", 42) +
                          Write(7, "lu2.tmp", 43) + Rename(8, "lu2.tmp", "d.odt", 43, "9") +
                          Write(9, "doc.odt", 40) + Rename(10, "lu1.tmp", "e.odt", 41)}}},
      {"many files of a mix", Rotated(Mix(6000), 3)},
  };
}

TEST(AuditLogEquivalence, RecordsAreThoseOfTheWholeLogReadInMemory) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    for (const auto& [name, text] : c.files) test::WriteFile(dir / name, text);
    const Records want = InMemory(c.files);
    for (const Keeping& keeping : kKeepings) {
      SCOPED_TRACE(keeping.what);
      const Records got = ThroughTheLog(dir, keeping.bytes);
      ASSERT_EQ(got.size(), want.size());
      for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "record " << i;
    }
  }
}

// A log read on as auditd appends to it, cut anywhere (in a line, in an event, between the
// records of a save), gives after every append the records of what it holds read at once: the
// events still open at its end are shown, then taken back and read again with what follows.
TEST(AuditLogEquivalence, ALogReadOnAsItGrowsIsTheLogReadAtOnce) {
  const std::string text = Mix(1500);
  for (const Keeping& keeping : kKeepings) {
    SCOPED_TRACE(keeping.what);
    test::TempDir dir;
    const std::string path = dir / "audit.log";
    std::size_t written = text.size() / 7;
    test::WriteFile(path, text.substr(0, written));
    auto log = KeepAuditLog(path, keeping.bytes);
    ASSERT_NE(log, nullptr);
    std::uint32_t rng = 3;
    while (true) {
      const Records want = InMemory({{"audit.log", text.substr(0, written)}});
      const Records got = RecordsOf(*log);
      ASSERT_EQ(got.size(), want.size()) << "after " << written << " bytes";
      for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(got[i], want[i]) << "record " << i << " after " << written << " bytes";
      if (written == text.size()) break;
      rng = rng * 1103515245u + 12345u;
      const std::size_t more = std::min<std::size_t>(text.size() - written, 1 + (rng >> 8) % 40000);
      std::ofstream(path, std::ios::binary | std::ios::app) << text.substr(written, more);
      written += more;
      ASSERT_TRUE(log->Update());
    }
  }
}

// The cases are not empty of what they are about: the mix has saves that stand for writes and
// moves that are left out, so the rename rule is at work in the comparison above.
TEST(AuditLogEquivalence, TheMixExercisesTheRenameRule) {
  Files files = Rotated(Mix(6000), 3);
  std::size_t modifications = 0, renames = 0;
  for (const auto& [name, text] : files) {
    for (const auto& m : audit::ParseAuditText(text, nullptr)) {
      ++modifications;
      renames += m.rename ? 1 : 0;
    }
  }
  const std::size_t records = InMemory(files).size();
  EXPECT_GT(renames, 100u);
  EXPECT_LT(records, modifications);
  EXPECT_GT(records, 100u);
}

}  // namespace
}  // namespace qs::platform
