// End to end through a real file server without the kernel's audit: two users save files on a
// share of a private smbd whose full_audit module logs their operations to Samba's own log file,
// with smbclient as their client; then quillstamp-service reads that log ("samba-audit:PATH") and
// must list every save under the file's path and the client's Samba user name, and put both
// comments on that very file, where the client reads them back through the share. No auditd runs
// and no audit rule is loaded: the log is all the program has.
//
// With QS_SAMBA_FULL_AUDIT_CAPTURE=FILE the log that smbd wrote is also copied to FILE (how the
// committed fixture tests/platform/formats/samba-full-audit.log was made).
//
// Skipped, with the reason, where smbd, smbclient or smbpasswd is missing or smbd cannot start.
// Every wait is bounded; smbd and the users go however the test ends.
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/audit_world.h"
#include "support/samba_server.h"
#include "support/temp_dir.h"

namespace qs::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "Qs-fa-Pass-1";
constexpr const char* kWinAttr = "user.xdg.comment";
constexpr const char* kMacAttr = "user.DosStream.Comments:$DATA";

std::vector<std::string> Split(const std::string& text, const std::string& separators) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find_first_of(separators, at);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// A row of a list file: the grid's five columns.
struct Row {
  std::string date, user, file, win, mac;
};

// The rows of a list file, newest first; empty when its header is not the grid's.
std::vector<Row> Rows(const std::string& list) {
  std::vector<Row> rows;
  const std::vector<std::string> lines = Split(list, "\n");
  if (lines.empty() || lines[0] != "Date & Time\tUser\tFile\tWin\tMac") return rows;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    const auto cells = Split(lines[i], "\t");
    rows.push_back(cells.size() == 5 ? Row{cells[0], cells[1], cells[2], cells[3], cells[4]}
                                     : Row{"", "", "bad line: " + lines[i], "", ""});
  }
  return rows;
}

std::optional<std::string> Attribute(const std::string& path, const char* name) {
  char value[65536];
  const ssize_t n = lgetxattr(path.c_str(), name, value, sizeof value);
  if (n < 0) return std::nullopt;
  return std::string(value, static_cast<std::size_t>(n));
}

// UTF-8 of UTF-16LE bytes of the Basic Multilingual Plane (the comments' dates and user names).
std::string Utf8FromUtf16Le(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char32_t c = static_cast<unsigned char>(bytes[i]) |
                       (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The lines of a comment, split at CR and LF, blank ones left out.
std::vector<std::string> CommentLines(const std::string& text) {
  std::vector<std::string> lines;
  for (const std::string& line : Split(text, "\r\n"))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Tail(const std::string& text) {
  return text.size() <= 3000 ? text : text.substr(text.size() - 3000);
}

// A share path in smbclient's form (backslashes), quoted.
std::string SmbName(std::string name) {
  for (char& c : name)
    if (c == '/') c = '\\';
  return "\"" + name + "\"";
}

// What a correct program lists, newest first: the file below the share and the user; `gone` when
// the file is no longer at that path (its row is marked "U" and no comment is written).
struct WantRow {
  std::string file;
  std::string user;
  bool gone = false;
};

// Where full_audit sends its lines, and how the settings name them.
enum class Destination { SambaLogFile, Journal };

void RunCases(Destination destination) {
  if (getuid() != 0) GTEST_SKIP() << "adding the test's users needs root";
  if (access("/usr/sbin/smbd", X_OK) != 0) GTEST_SKIP() << "smbd is not installed";
  if (access("/usr/bin/smbclient", X_OK) != 0) GTEST_SKIP() << "smbclient is not installed";
  if (access("/usr/bin/smbpasswd", X_OK) != 0) GTEST_SKIP() << "smbpasswd is not installed";

  TempDir dir;
  Cleanup cleanup;  // runs before the folder goes
  chmod(dir.path().c_str(), 0755);
  Account a, b;
  ASSERT_TRUE(AddUser("qsfae1", a, cleanup));
  ASSERT_TRUE(AddUser("qsfae2", b, cleanup));

  // The share, with two levels of sub-folders and two files of root's.
  const std::string share = dir / "share";
  for (const char* folder : {"", "/Sub", "/Sub/Deeper"}) {
    fs::create_directory(share + folder);
    chmod((share + folder).c_str(), 0777);
  }
  for (const char* file : {"/Sub/report.docx", "/Sub/obsolete.txt"}) {
    WriteFile(share + file, std::string("root's ") + (file + 5));
    chmod((share + file).c_str(), 0666);
  }

  // The lines an administrator adds (README, "Linux file servers"), the log in Samba's own file.
  SambaServer server(dir / "samba", share, SambaServer::Access::Users);
  SambaServer::Options options;
  options.vfsObjects = "full_audit streams_xattr";
  options.globalLines = "  log level = 0 full_audit:1\n  max log size = 0\n";
  options.shareLines =
      "  full_audit:prefix = %u|%I|%d|%S\n"
      "  full_audit:success = openat create_file renameat unlinkat\n"
      "  full_audit:failure = none\n"
      "  full_audit:syslog = " +
      std::string(destination == Destination::Journal ? "true" : "false") + "\n";
  options.debugToOutput = false;
  ASSERT_EQ(server.Configure(options), "");
  ASSERT_EQ(server.AddUser(a.name, kPassword), "");
  ASSERT_EQ(server.AddUser(b.name, kPassword), "");
  {
    const std::string started = server.Start();
    if (!started.empty()) GTEST_SKIP() << started;
  }
  cleanup.Add([&server] { server.Stop(); });  // before the users go: it runs processes as them

  auto client = [&](const Account& who, const std::string& commands) {
    std::string output;
    EXPECT_TRUE(server.Client(commands, output, who.name, kPassword))
        << who.name << ": smbclient -c '" << commands << "':\n"
        << output << "smbd's log:\n"
        << Tail(ReadFile(server.logFile()));
  };
  auto source = [&](const std::string& name, const std::string& content) {
    const std::string path = dir / ("source-" + name);
    WriteFile(path, content);
    return path;
  };
  const std::string v1 = source("v1", "first version\n");
  const std::string v2 = source("v2", "second version, longer than the first\n");
  // The scan takes the first event of each second: the cases are a second apart.
  auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); };

  pause();
  client(a, "put " + v1 + " " + SmbName("top.txt"));  // a new file at the top
  pause();
  client(b, "put " + v1 + " " + SmbName("Sub/notes.txt"));  // in a sub-folder
  pause();
  client(a, "put " + v1 + " " + SmbName("Sub/Deeper/deep.txt"));  // in a sub-sub-folder
  pause();
  client(b, "put " + v2 + " " + SmbName("top.txt"));  // saved over, at the top
  pause();
  client(a, "put " + v2 + " " + SmbName("Sub/notes.txt"));  // saved over, in a sub-folder
  pause();
  client(b, "put " + v1 + " " + SmbName("Über-plan.txt"));
  pause();
  client(a, "put " + v1 + " " + SmbName("name with spaces.txt"));
  pause();
  // An office program's safe save, in one session: the new text into a temporary file, the
  // document renamed to a backup, the temporary file renamed to the document, the backup deleted.
  client(b, "put " + v2 + " " + SmbName("Sub/~WRL0001.tmp") + "; rename " +
                SmbName("Sub/report.docx") + " " + SmbName("Sub/~WRD0002.tmp") + "; rename " +
                SmbName("Sub/~WRL0001.tmp") + " " + SmbName("Sub/report.docx") + "; del " +
                SmbName("Sub/~WRD0002.tmp"));
  pause();
  client(a, "put " + v1 + " " + SmbName("draft.txt"));
  pause();
  // The other user renames that file: no content changed, so no comment; the written file is no
  // longer at the path the row names.
  client(b, "rename " + SmbName("draft.txt") + " " + SmbName("draft-renamed.txt"));
  pause();
  client(a, "del " + SmbName("Sub/obsolete.txt"));  // a delete: not listed
  // Samba writes each line before it answers the client; the last case's is in the log now.
  const std::string log = ReadFile(server.logFile());
  if (destination == Destination::SambaLogFile)
    ASSERT_NE(log.find("|renameat|ok|" + share + "/draft.txt|" + share + "/draft-renamed.txt"),
              std::string::npos)
        << "full_audit did not log the rename:\n"
        << Tail(log);
  else
    std::this_thread::sleep_for(std::chrono::seconds(1));  // journald stores what it was sent
  if (const char* capture = std::getenv("QS_SAMBA_FULL_AUDIT_CAPTURE");
      capture != nullptr && *capture != '\0' && destination == Destination::SambaLogFile) {
    WriteFile(capture, log);
    std::printf("Captured smbd's log to %s\n", capture);
    std::fflush(stdout);  // not again by the children that smbclient runs in
  }

  const std::vector<WantRow> want = {
      {"draft.txt", a.name, true},
      {"Sub/report.docx", b.name},
      {"name with spaces.txt", a.name},
      {"Über-plan.txt", b.name},
      {"Sub/notes.txt", a.name},
      {"top.txt", b.name},
      {"Sub/Deeper/deep.txt", a.name},
      {"Sub/notes.txt", b.name},
      {"top.txt", a.name},
  };

  const std::string settings =
      "[Configuration]\nWinComments=1\nMacComments=1\nTimeSeconds=1\nPerformance=1\n"
      "[Platform]\nSecurityLog=samba-audit:" +
      (destination == Destination::Journal ? std::string("journal") : server.logFile()) + "\n";
  WriteFile(dir / "service.ini", settings);
  // Samba's header holds the local time: the service runs in the test's own zone.
  const std::string environment = "env LC_ALL=C RUNTIME_DIRECTORY=" + dir.path().string();
  const auto run = Shell("timeout 120 " + environment + " " + QS_SERVICE + " --config " +
                         (dir / "service.ini") + " --once --list-file " + (dir / "service.tsv"));
  ASSERT_EQ(run.status, 0) << run.output;

  const std::string list = ReadFile(dir / "service.tsv");
  std::vector<Row> rows = Rows(list);
  ASSERT_FALSE(rows.empty()) << "not a list file, or no rows: " << list;
  std::vector<std::pair<std::string, std::string>> got, wanted;
  std::vector<Row> shareRows;
  for (const Row& row : rows)
    if (row.file.starts_with(share + "/")) shareRows.push_back(row);
  rows = shareRows;
  for (const Row& row : rows) {
    std::printf("  row: %s by %s, Win %s, Mac %s\n", row.file.c_str(), row.user.c_str(),
                row.win.c_str(), row.mac.c_str());
    std::fflush(stdout);
    got.emplace_back(
        row.file.starts_with(share + "/") ? row.file.substr(share.size() + 1) : row.file, row.user);
  }
  for (const WantRow& w : want) wanted.emplace_back(w.file, w.user);
  ASSERT_EQ(got, wanted) << "the rows (file below the share, user), newest first";

  // Marks, and the comment lines that each file must carry: its rows' lines, newest first.
  std::map<std::string, std::vector<std::string>> lines;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const std::string& name = got[i].first;
    if (want[i].gone) {
      EXPECT_EQ(row.win, "U") << name;
      EXPECT_EQ(row.mac, "-") << name;
      continue;
    }
    EXPECT_TRUE(row.win == "w" || row.win == "W") << name << ": Win " << row.win;
    EXPECT_TRUE(row.mac == "m" || row.mac == "M") << name << ": Mac " << row.mac;
    lines[name].push_back(row.date + " " + row.user);
  }
  for (const auto& [name, wantLines] : lines) {
    SCOPED_TRACE(name);
    const std::string path = share + "/" + name;
    EXPECT_EQ(CommentLines(Attribute(path, kWinAttr).value_or("")), wantLines);
    const auto mac = Attribute(path, kMacAttr);
    EXPECT_EQ(CommentLines(Utf8FromUtf16Le(mac.value_or(""))), wantLines);
    // The stream as a client of the share reads it: the attribute's bytes less the 0x00 that
    // streams_xattr keeps past the stream's end.
    if (!mac.has_value() || mac->empty() || mac->back() != '\0') {
      ADD_FAILURE() << "no Macintosh comment as Samba stores a stream";
      continue;
    }
    const std::string local = dir / "stream";
    fs::remove(local);
    std::string output;
    EXPECT_TRUE(server.Client("get " + SmbName(name + ":Comments") + " " + local, output, a.name,
                              kPassword))
        << output;
    EXPECT_EQ(ReadFile(local), mac->substr(0, mac->size() - 1));
  }
  // Moved by somebody who did not write it: no comment of either kind.
  for (const char* name : {"draft-renamed.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Attribute(share + "/" + name, kWinAttr), std::nullopt);
    EXPECT_EQ(Attribute(share + "/" + name, kMacAttr), std::nullopt);
  }
}

TEST(SambaFullAuditEndToEnd, SavesLoggedToSambasLogFileAreListedAndStampedOnTheRightFile) {
  RunCases(Destination::SambaLogFile);
}

// full_audit through syslog into the systemd journal ("samba-audit:journal"). The journal's
// entries of other runs name other folders, so they take no row of this one's share; rows of
// other shares are left out of the comparison.
TEST(SambaFullAuditEndToEnd, SavesLoggedToTheJournalAreListedAndStampedOnTheRightFile) {
  if (access("/run/systemd/journal/socket", F_OK) != 0)
    GTEST_SKIP() << "no systemd-journald runs on this machine (no /run/systemd/journal/socket)";
  RunCases(Destination::Journal);
}

}  // namespace
}  // namespace qs::test
