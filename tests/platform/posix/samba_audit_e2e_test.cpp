// End to end through a real file server: two users save files on a share of a private smbd, with
// smbclient as their client, while the kernel's audit subsystem watches the share; then
// quillstamp-service and the window program read auditd's real log and must list every save under
// the file's real path and the client's Unix account, and put both comments on that very file,
// where the client reads them back through the share.
//
// Samba opens a file it saves over by a path handle and reopens it for writing through the
// /proc/self/fd/N link, and creates a file in a sub-folder relative to a descriptor of that folder:
// its records name the file by a magic link, or by the share's root (the server's working folder)
// with the inode of the sub-folder. Only the file's (device, inode) below the audited folders tells
// which file was written. The main runs find the audited folder as a program on a real server
// would, in a rules file of /etc/audit/rules.d; one run names it in the settings instead.
//
// With QS_SAMBA_AUDIT_CAPTURE=FILE the records of the test's events are also written to FILE, and
// the share's folders and files with their inodes to FILE.tree (how the committed fixture
// smbd-subfolders.log was made).
//
// Skipped, with the reason, where the audit subsystem cannot be used, or smbd or smbclient is
// missing or cannot start. The audit subsystem is the kernel's one: the run lock is the one that
// AuditEndToEnd takes. Every wait is bounded; daemons, users, the rule and the rules file go
// however the test ends, and a killed run's leftovers are removed by the next.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
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

constexpr const char* kPassword = "Qs-e2e-Pass-1";
constexpr const char* kWinAttr = "user.xdg.comment";
constexpr const char* kMacAttr = "user.DosStream.Comments:$DATA";

// A row of a list file: the grid's five columns.
struct Row {
  std::string date, user, file, win, mac;
};

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

// UTF-8 of UTF-16LE bytes (the Macintosh comment as Samba serves the stream).
std::string Utf8FromUtf16Le(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = static_cast<unsigned char>(bytes[i]) |
                 (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
      const char32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                           (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
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

// Both comments of every file below `folder`, by path relative to it.
std::map<std::string, std::pair<std::optional<std::string>, std::optional<std::string>>>
CommentsBelow(const std::string& folder) {
  std::map<std::string, std::pair<std::optional<std::string>, std::optional<std::string>>> all;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string path = entry.path().string();
    all[fs::relative(entry.path(), folder).string()] = {Attribute(path, kWinAttr),
                                                        Attribute(path, kMacAttr)};
  }
  return all;
}

void RemoveCommentsBelow(const std::string& folder) {
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    for (const char* name : {kWinAttr, kMacAttr}) lremovexattr(entry.path().c_str(), name);
  }
}

// The share's folders and files with their inodes, one a line: "inode TYPE path" (path relative
// to the share, "." for the share itself), after a line that names the share and its device.
std::string Tree(const std::string& share) {
  auto line = [](const fs::path& path, const std::string& name) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "? ? " + name + "\n";
    return std::to_string(st.st_ino) + (S_ISDIR(st.st_mode) ? " dir " : " file ") + name + "\n";
  };
  struct stat st {};
  lstat(share.c_str(), &st);
  char device[32];
  std::snprintf(device, sizeof device, "%02x:%02x", major(st.st_dev), minor(st.st_dev));
  std::string text = "share " + share + " dev=" + device + "\n" + line(share, ".");
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(share)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (const auto& path : paths) text += line(path, fs::relative(path, share).string());
  return text;
}

// The end of a long text, for a failure message.
std::string Tail(const std::string& text) {
  return text.size() <= 3000 ? text : text.substr(text.size() - 3000);
}

// A share path in smbclient's form (backslashes).
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

TEST(SambaAuditEndToEnd, SavesThroughTheShareAreListedAndStampedOnTheRightFile) {
  const std::string unavailable = AuditUnavailableReason();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  if (access("/usr/sbin/smbd", X_OK) != 0) GTEST_SKIP() << "smbd is not installed";
  if (access("/usr/bin/smbclient", X_OK) != 0) GTEST_SKIP() << "smbclient is not installed";
  if (access("/usr/bin/smbpasswd", X_OK) != 0) GTEST_SKIP() << "smbpasswd is not installed";
  const RunLock lock(std::chrono::seconds(120));
  ASSERT_TRUE(lock.held()) << "another run held " << RunLock::kPath << " for 120 s";
  RemoveLeftovers();

  TempDir dir;
  Cleanup cleanup;  // runs before the folder goes
  std::string logFile;
  {
    bool skip = false;
    std::string error;
    if (!StartAuditing(dir.path().string(), cleanup, logFile, skip, error)) {
      if (skip) GTEST_SKIP() << error;
      FAIL() << error;
    }
  }
  // The users reach the share through the test folder (auditd makes its log's folder 0750).
  chmod(dir.path().c_str(), 0755);
  Account a, b;
  ASSERT_TRUE(AddUser("qssmbe1", a, cleanup));
  ASSERT_TRUE(AddUser("qssmbe2", b, cleanup));

  // The share, with two levels of sub-folders and two files of root's, made before the watch.
  const std::string share = dir / "share";
  for (const char* folder : {"", "/Sub", "/Sub/Deeper"}) {
    fs::create_directory(share + folder);
    chmod((share + folder).c_str(), 0777);
  }
  for (const char* file : {"/Sub/report.docx", "/Sub/obsolete.txt"}) {
    WriteFile(share + file, std::string("root's ") + (file + 5));
    chmod((share + file).c_str(), 0666);
  }

  // The rule as an administrator keeps it, in a rules file that the program reads; loaded with
  // auditctl by the test (augenrules would load every rule of the machine).
  const std::string rulesFile = TestRulesFile();
  WriteFile(rulesFile, "# quillstamp test " + std::to_string(getpid()) + "\n" +
                           WatchRule(share, kSambaAuditKey) + "\n");
  cleanup.Add([rulesFile] {
    std::error_code ec;
    fs::remove(rulesFile, ec);
  });
  {
    std::string error;
    ASSERT_TRUE(WatchFolder(share, kSambaAuditKey, logFile, cleanup, error)) << error;
  }

  // smbd starts once auditing is on, so that the kernel audits it and its children. It stops
  // before the users go (it runs processes as them).
  SambaServer server(dir / "samba", share, SambaServer::Access::Users);
  ASSERT_EQ(server.Configure(), "");
  ASSERT_EQ(server.AddUser(a.name, kPassword), "");
  ASSERT_EQ(server.AddUser(b.name, kPassword), "");
  {
    const std::string started = server.Start(dir / kServerGroupNote);
    if (!started.empty()) GTEST_SKIP() << started;
  }
  const std::string treeBefore = Tree(share);

  auto client = [&](const Account& who, const std::string& commands) {
    std::string output;
    EXPECT_TRUE(server.Client(commands, output, who.name, kPassword))
        << who.name << ": smbclient -c '" << commands << "':\n"
        << output << "smbd's last words:\n"
        << Tail(server.serverOutput());
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
  pause();
  {
    const auto end = Shell("echo e > " + Quote(share + "/zz-end"));
    ASSERT_EQ(end.status, 0) << end.output;
  }
  ASSERT_TRUE(WaitForText(logFile, "\"" + share + "/zz-end\""))
      << "the last write of the test did not reach " << logFile << " within 10 s";
  Shell("auditctl -W " + share + " -p wa -k " + kSambaAuditKey);  // the comments are not audited

  // The records of the test's events: what the programs read, and the fixture.
  const std::string serviceLog = dir / "share-audit.log";
  WriteFile(serviceLog, EventsWithKey(ReadFile(logFile), kSambaAuditKey, share));
  const std::string tree =
      "Before the cases:\n" + treeBefore + "\nAfter the cases:\n" + Tree(share);
  std::printf("The share's folders and files:\n%s", tree.c_str());
  if (const char* capture = std::getenv("QS_SAMBA_AUDIT_CAPTURE");
      capture != nullptr && *capture != '\0') {
    WriteFile(capture, ReadFile(serviceLog));
    WriteFile(std::string(capture) + ".tree", tree);
    std::printf("Captured the records to %s and the tree to %s.tree\n", capture, capture);
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
  // Files that were moved or written by root only: no comment of either kind.
  const std::vector<std::string> unstamped = {"draft-renamed.txt", "probe", "zz-end"};

  // One run's list and comments, against what a correct program gives.
  auto check = [&](const std::string& listFile) {
    const std::string list = ReadFile(listFile);
    const std::vector<Row> rows = Rows(list);
    ASSERT_FALSE(rows.empty() && list.rfind("Date & Time\tUser\tFile\tWin\tMac\n", 0) != 0)
        << "not a list file: " << list;
    std::vector<std::pair<std::string, std::string>> got;
    for (const Row& row : rows) {
      std::printf("  row: %s by %s, Win %s, Mac %s\n", row.file.c_str(), row.user.c_str(),
                  row.win.c_str(), row.mac.c_str());
      EXPECT_FALSE(row.file.starts_with("/proc/")) << "a magic link, not the file: " << row.file;
      got.emplace_back(
          row.file.starts_with(share + "/") ? row.file.substr(share.size() + 1) : row.file,
          row.user);
    }
    std::vector<std::pair<std::string, std::string>> wanted;
    for (const WantRow& w : want) wanted.emplace_back(w.file, w.user);
    EXPECT_EQ(got, wanted) << "the rows (file below the share, user), newest first";

    // Marks, and the comment lines that each file must carry: its rows' lines, newest first.
    std::map<std::string, std::vector<std::string>> lines;
    for (const Row& row : rows) {
      if (!row.file.starts_with(share + "/")) continue;
      const std::string name = row.file.substr(share.size() + 1);
      const auto w =
          std::find_if(want.begin(), want.end(), [&](const WantRow& x) { return x.file == name; });
      if (w == want.end()) continue;
      if (w->gone) {
        EXPECT_EQ(row.win, "U") << name;
        EXPECT_EQ(row.mac, "-") << name;
        continue;
      }
      // Written ("w", "m"), or rebuilt from the rows of the file where it had none yet ("W", "M").
      EXPECT_TRUE(row.win == "w" || row.win == "W") << name << ": Win " << row.win;
      EXPECT_TRUE(row.mac == "m" || row.mac == "M") << name << ": Mac " << row.mac;
      lines[name].push_back(row.date + " " + row.user);
    }
    std::set<std::string> unlisted;
    for (const WantRow& w : want)
      if (!w.gone && lines.count(w.file) == 0) unlisted.insert(w.file);
    for (const std::string& name : unlisted)
      ADD_FAILURE() << name << ": no row, so no comment to check";
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
    for (const std::string& name : unstamped) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Attribute(share + "/" + name, kWinAttr), std::nullopt);
      EXPECT_EQ(Attribute(share + "/" + name, kMacAttr), std::nullopt);
    }
  };

  auto settings = [&](const std::string& extraPlatform) {
    return "[Configuration]\nWinComments=1\nMacComments=1\nTimeSeconds=1\nPerformance=1\n"
           "[Platform]\nSecurityLog=" +
           serviceLog + "\n" + extraPlatform;
  };
  const std::string environment = "env LC_ALL=C TZ=UTC0 RUNTIME_DIRECTORY=" + dir.path().string();
  auto runService = [&](const std::string& config, const std::string& listFile) {
    const auto run = Shell("timeout 120 " + environment + " " + QS_SERVICE + " --config " + config +
                           " --once --list-file " + listFile);
    EXPECT_EQ(run.status, 0) << run.output;
    std::printf("%s", run.output.c_str());
  };

  // quillstamp-service, finding the audited folder in the rules file.
  WriteFile(dir / "service.ini", settings(""));
  {
    SCOPED_TRACE("quillstamp-service, the folder from the rules file");
    runService(dir / "service.ini", dir / "service.tsv");
    check(dir / "service.tsv");
  }
  const auto serviceComments = CommentsBelow(share);

  // The window program over the same files, their comments taken off first.
  RemoveCommentsBelow(share);
  fs::create_directory(dir / "window");
  WriteFile(dir / "window/Quillstamp.ini", settings(""));
  {
    SCOPED_TRACE("the window program, the folder from the rules file");
    const auto run = Shell("timeout 120 " + environment + " QT_QPA_PLATFORM=offscreen " +
                           QS_WINDOW_LIST + " " + (dir / "window") + " " + (dir / "window.tsv"));
    EXPECT_EQ(run.status, 0) << run.output;
    check(dir / "window.tsv");
    EXPECT_EQ(ReadFile(dir / "window.tsv"), ReadFile(dir / "service.tsv"));
    EXPECT_TRUE(CommentsBelow(share) == serviceComments)
        << "the comments differ from the service's";
  }

  // The folder named in the settings, with no rules file to find it in.
  RemoveCommentsBelow(share);
  fs::remove(rulesFile);
  WriteFile(dir / "named.ini", settings("AuditedFolders=" + share + "\n"));
  {
    SCOPED_TRACE("quillstamp-service, the folder from [Platform] AuditedFolders");
    runService(dir / "named.ini", dir / "named.tsv");
    check(dir / "named.tsv");
  }
}

}  // namespace
}  // namespace qs::test
