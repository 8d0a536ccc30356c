// --setup-audit and --remove-audit: the shares read from `testparm -s`, the rules file written,
// kept or removed and the tools run, first over a fake system (each fault the administrator can
// meet, and what is left behind), then as the program over a Samba configuration of the test's
// own and the kernel's real audit rules, in a rules folder of the test's own.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/formats/audit_rules.h"
#include "service/audit_setup.h"
#include "service_process.h"
#include "support/audit_world.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using platform::PathKind;
using platform::ProgramRun;

// ---- The shares of testparm's output -----------------------------------------------------------

TEST(SambaShares, SectionsOtherThanGlobalWithTheirPathAndPrintableFlag) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<SambaShare> shares;
  };
  const Case cases[] = {
      {"global only", "# Global parameters\n[global]\n\tpath = /nowhere\n\tprintable = Yes\n", {}},
      {"two shares as testparm writes them",
       "[global]\n\tlog file = /var/log/x\n\n[share]\n\tpath = /srv/share\n\tread only = No\n\n"
       "[Docs]\n\tpath = /srv/My Docs\n",
       {{"share", "/srv/share", false}, {"Docs", "/srv/My Docs", false}}},
      {"printers, printable and its other name",
       "[printers]\n\tpath = /var/tmp\n\tprintable = Yes\n[lab]\n\tpath = /var/spool/lab\n"
       "\tprint ok = yes\n[plain]\n\tpath = /srv/p\n\tprintable = No\n",
       {{"printers", "/var/tmp", true},
        {"lab", "/var/spool/lab", true},
        {"plain", "/srv/p", false}}},
      {"case, blanks and the other name of path",
       "[GLOBAL]\n[homes]\n\tbrowseable = No\n[Team]\n  DIRECTORY=/srv/team  \r\n",
       {{"homes", "", false}, {"Team", "/srv/team", false}}},
      {"a substitution is kept as written",
       "[users]\n\tpath = /home/%U\n",
       {{"users", "/home/%U", false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto shares = SambaShares(c.text);
    ASSERT_EQ(shares.size(), c.shares.size());
    for (std::size_t i = 0; i < shares.size(); ++i) {
      EXPECT_EQ(shares[i].name, c.shares[i].name);
      EXPECT_EQ(shares[i].path, c.shares[i].path);
      EXPECT_EQ(shares[i].printable, c.shares[i].printable);
    }
  }
}

// ---- Over a fake system
// --------------------------------------------------------------------------

class Lines final : public ServiceLog {
 public:
  void Line(std::string_view text) override { text_ += std::string(text) + "\n"; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// The files and folders of a system, and its tools, which answer as each case sets them.
class FakeSystem final : public platform::AuditSetupSystem {
 public:
  bool root = true;
  std::set<std::string> folders{"/etc/audit/rules.d", "/rules", "/srv/a", "/srv/b"};
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> links;  // path -> what it leads to
  std::vector<std::string> runs;             // each command line run
  std::function<ProgramRun(const std::vector<std::string>&)> answer =
      [](const std::vector<std::string>&) {
        return ProgramRun{true, 0, "", "", ""};
      };
  int writes = 0;

  bool IsAdministrator() override { return root; }
  PathKind KindOf(const std::string& path, std::string&) override {
    const std::string real = RealPath(path);
    if (folders.count(real) != 0) return PathKind::kFolder;
    return files.count(real) != 0 ? PathKind::kOther : PathKind::kMissing;
  }
  std::string RealPath(const std::string& path) override {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto link = links.find(p);
    return link == links.end() ? p : link->second;
  }
  bool ReadFile(const std::string& path, std::string& bytes, bool& missing,
                std::string& error) override {
    const auto f = files.find(path);
    missing = f == files.end();
    if (missing) {
      error = "No such file or directory";
      return false;
    }
    bytes = f->second;
    return true;
  }
  bool ReplaceFile(const std::string& path, const std::string& bytes, std::string&) override {
    ++writes;
    files[path] = bytes;
    return true;
  }
  bool RemoveFile(const std::string& path, std::string& error) override {
    if (files.erase(path) == 0) {
      error = "cannot remove " + path;
      return false;
    }
    return true;
  }
  ProgramRun Run(const std::vector<std::string>& argv) override {
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
    runs.push_back(line);
    return answer(argv);
  }
};

constexpr const char* kSystemFile = "/etc/audit/rules.d/quillstamp.rules";

TEST(SetupAuditOverAFakeSystem, NamedFoldersAreWrittenOnceAndLoadedWithAugenrules) {
  FakeSystem system;
  system.links["/srv/link-to-b"] = "/srv/b";
  AuditSetupOptions options;
  options.folders = {"/srv/a", "/srv/link-to-b", "/srv/b"};
  Lines out, err;
  ASSERT_EQ(SetupAudit(options, system, out, err), kExitOk) << err.text();
  // The link is resolved, and the folder it leads to is watched once.
  EXPECT_EQ(system.files[kSystemFile], platform::audit::RulesFileText({"/srv/a", "/srv/b"}));
  EXPECT_EQ(system.runs, std::vector<std::string>{"augenrules --load"});
  EXPECT_NE(out.text().find("Watching /srv/a for writes"), std::string::npos) << out.text();
  EXPECT_NE(out.text().find("Wrote /etc/audit/rules.d/quillstamp.rules"), std::string::npos);
  EXPECT_NE(out.text().find("Loaded the rules: augenrules --load"), std::string::npos);

  // Again: nothing written, nothing run.
  Lines again, againErr;
  ASSERT_EQ(SetupAudit(options, system, again, againErr), kExitOk) << againErr.text();
  EXPECT_EQ(system.writes, 1);
  EXPECT_EQ(system.runs.size(), 1u);
  EXPECT_NE(again.text().find("already watches 2 folders for writes: nothing written, nothing "
                              "loaded"),
            std::string::npos)
      << again.text();
}

TEST(SetupAuditOverAFakeSystem, AnotherRulesFolderIsLoadedWithAuditctlAndReplacesItsOwnWatches) {
  FakeSystem system;
  AuditSetupOptions options;
  options.rulesFolder = "/rules/";
  options.folders = {"/srv/a", "/srv/b"};
  Lines out, err;
  ASSERT_EQ(SetupAudit(options, system, out, err), kExitOk) << err.text();
  EXPECT_EQ(system.runs, std::vector<std::string>{"auditctl -R /rules/quillstamp.rules"});

  // Fewer folders: the watch that goes is taken away, one not loaded any more is no fault.
  system.runs.clear();
  system.answer = [](const std::vector<std::string>& argv) {
    if (argv[1] == "-W" && argv[2] == "/srv/b")
      return ProgramRun{true, 255, "",
                        "Error sending delete rule data request (No such file or "
                        "directory)\n",
                        ""};
    return ProgramRun{true, 0, "", "", ""};
  };
  options.folders = {"/srv/a"};
  ASSERT_EQ(SetupAudit(options, system, out, err), kExitOk) << err.text();
  EXPECT_EQ(system.runs, (std::vector<std::string>{"auditctl -W /srv/a -p wa -k quillstamp",
                                                   "auditctl -W /srv/b -p wa -k quillstamp",
                                                   "auditctl -R /rules/quillstamp.rules"}));
  EXPECT_EQ(system.files["/rules/quillstamp.rules"], platform::audit::RulesFileText({"/srv/a"}));

  system.runs.clear();
  ASSERT_EQ(RemoveAudit(options, system, out, err), kExitOk) << err.text();
  EXPECT_EQ(system.runs, std::vector<std::string>{"auditctl -W /srv/a -p wa -k quillstamp"});
  EXPECT_EQ(system.files.count("/rules/quillstamp.rules"), 0u);
  EXPECT_NE(out.text().find("Removed /rules/quillstamp.rules (it watched /srv/a)"),
            std::string::npos)
      << out.text();
}

TEST(SetupAuditOverAFakeSystem, SharesComeFromTestparmLessThoseThatCannotBeWatched) {
  FakeSystem system;
  system.answer = [](const std::vector<std::string>& argv) {
    if (argv[0] != "testparm") return ProgramRun{true, 0, "", "", ""};
    return ProgramRun{true, 0,
                      "[global]\n\tpath = /srv/global\n[a]\n\tpath = /srv/a\n[homes]\n"
                      "[users]\n\tpath = /home/%U\n[printers]\n\tpath = /var/tmp\n"
                      "[print$]\n\tpath = /srv/drivers\n[lab]\n\tpath = /srv/b\n\tprintable = "
                      "Yes\n[same]\n\tpath = /srv/a\n",
                      "Load smb config files from /x\n", ""};
  };
  AuditSetupOptions options;
  options.sambaConfig = "/x/smb.conf";
  Lines out, err;
  ASSERT_EQ(SetupAudit(options, system, out, err), kExitOk) << err.text();
  EXPECT_EQ(system.runs.front(), "testparm -s /x/smb.conf");
  EXPECT_EQ(system.files[kSystemFile], platform::audit::RulesFileText({"/srv/a"}));
  for (const char* said :
       {"[homes] names no folder", "[users] /home/%U changes with the user",
        "[printers] is a printer share", "[print$] is a printer share", "[lab] is a printer share"})
    EXPECT_NE(out.text().find(said), std::string::npos) << said << "\n" << out.text();
}

TEST(SetupAuditOverAFakeSystem, FaultsSayWhyAndLeaveTheRulesAsTheyWere) {
  const std::string before = platform::audit::RulesFileText({"/srv/b"});
  struct Case {
    const char* name;
    std::function<void(FakeSystem&, AuditSetupOptions&)> set;
    bool remove;  // --remove-audit, else --setup-audit
    std::string said;
  };
  const ProgramRun fails{true, 1, "", "augenrules: No rules directory\n", ""};
  const Case cases[] = {
      {"not root", [](FakeSystem& s, AuditSetupOptions&) { s.root = false; }, false,
       "--setup-audit must run as root"},
      {"not root, removal", [](FakeSystem& s, AuditSetupOptions&) { s.root = false; }, true,
       "--remove-audit must run as root"},
      {"no testparm and no folder named",
       [](FakeSystem& s, AuditSetupOptions& o) {
         o.folders.clear();
         s.answer = [](const std::vector<std::string>&) {
           return ProgramRun{false, -1, "", "", "No such file or directory"};
         };
       },
       false,
       "cannot read Samba's shares: testparm -s: No such file or directory. Install Samba's tools"},
      {"testparm refuses the configuration",
       [](FakeSystem& s, AuditSetupOptions& o) {
         o.folders.clear();
         s.answer = [](const std::vector<std::string>&) {
           return ProgramRun{true, 1, "", "Error loading services.\n", ""};
         };
       },
       false, "testparm -s failed (exit status 1): Error loading services."},
      {"a folder that does not exist",
       [](FakeSystem&, AuditSetupOptions& o) {
         o.folders = {"/srv/a", "/srv/typo"};
       },
       false, "/srv/typo does not exist"},
      {"a file, not a folder",
       [](FakeSystem& s, AuditSetupOptions& o) {
         s.files["/srv/file"] = "x";
         o.folders = {"/srv/file"};
       },
       false, "/srv/file is not a folder"},
      {"a folder with a blank",
       [](FakeSystem& s, AuditSetupOptions& o) {
         s.folders.insert("/srv/my docs");
         o.folders = {"/srv/my docs"};
       },
       false, "/srv/my docs holds a blank or a control character"},
      {"no rules folder",
       [](FakeSystem& s, AuditSetupOptions& o) {
         s.folders.erase("/etc/audit/rules.d");
         s.files.clear();
         o.folders = {"/srv/a"};
       },
       false, "there is no rules folder /etc/audit/rules.d: is auditd installed?"},
      {"augenrules fails",
       [fails](FakeSystem& s, AuditSetupOptions& o) {
         s.answer = [fails](const std::vector<std::string>&) { return fails; };
         o.folders = {"/srv/a"};
       },
       false,
       "the rules could not be loaded: augenrules --load failed (exit status 1): augenrules: "
       "No rules directory"},
      {"augenrules fails on removal",
       [fails](FakeSystem& s, AuditSetupOptions&) {
         s.answer = [fails](const std::vector<std::string>&) { return fails; };
       },
       true, "is put back as it was"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    system.files[kSystemFile] = before;
    AuditSetupOptions options;
    options.folders = {"/srv/a"};
    c.set(system, options);
    const std::map<std::string, std::string> filesBefore = system.files;
    Lines out, err;
    const int status =
        c.remove ? RemoveAudit(options, system, out, err) : SetupAudit(options, system, out, err);
    EXPECT_EQ(status, kExitAuditSetupFailed) << out.text();
    EXPECT_NE(err.text().find(c.said), std::string::npos) << err.text();
    EXPECT_EQ(system.files, filesBefore);
  }
}

TEST(SetupAuditOverAFakeSystem, AFailedLoadOfANewFileRemovesIt) {
  FakeSystem system;
  system.answer = [](const std::vector<std::string>&) {
    return ProgramRun{true, 255, "",
                      "Error sending add rule data request (Operation not "
                      "permitted)\n",
                      ""};
  };
  AuditSetupOptions options;
  options.folders = {"/srv/a"};
  Lines out, err;
  EXPECT_EQ(SetupAudit(options, system, out, err), kExitAuditSetupFailed);
  EXPECT_TRUE(system.files.empty());
  EXPECT_NE(err.text().find("Operation not permitted"), std::string::npos) << err.text();
}

TEST(SetupAuditOverAFakeSystem, RemovalWithoutAFileChangesNothing) {
  FakeSystem system;
  Lines out, err;
  EXPECT_EQ(RemoveAudit(AuditSetupOptions{}, system, out, err), kExitOk);
  EXPECT_TRUE(system.runs.empty());
  EXPECT_NE(out.text().find("There is no rules file /etc/audit/rules.d/quillstamp.rules: "
                            "nothing removed, nothing loaded"),
            std::string::npos)
      << out.text();
}

// ---- The program, with testparm and the kernel's audit rules
// -------------------------------------

using test::Shell;

// The lines of `auditctl -l -k quillstamp` that watch a folder below `below`.
std::vector<std::string> WatchesBelow(const std::string& below) {
  std::vector<std::string> lines;
  const std::string text = Shell("auditctl -l -k quillstamp").output;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.rfind("-w " + below, 0) == 0) lines.push_back(line);
  }
  return lines;
}

// Watches keyed "quillstamp" on test folders are leftovers of a run killed before its cleanup.
void RemoveLeftoverWatches() {
  for (const std::string& line : WatchesBelow("/tmp/quillstamp-test-")) {
    const std::size_t end = line.find(' ', 3);
    Shell("auditctl -W " + line.substr(3, end - 3) + " -p wa -k quillstamp");
  }
}

TEST(SetupAuditProgram, TwoSharesOfAPrivateSambaConfigurationAreWatchedThenUnwatched) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to load audit rules";
  if (::access("/usr/bin/testparm", X_OK) != 0)
    GTEST_SKIP() << "testparm is not installed (samba-common-bin)";
  const test::ShellResult status = Shell("auditctl -s");
  if (status.status != 0)
    GTEST_SKIP() << "the audit subsystem is not available here (auditctl -s: " << status.output
                 << ")";
  if (status.output.find("enabled 2") != std::string::npos)
    GTEST_SKIP() << "the audit configuration is locked (enabled 2)";
  // The same lock as the audit end-to-end tests: a run that holds rules in the kernel must not
  // meet another that removes test folders' rules as leftovers.
  const test::RunLock lock(std::chrono::seconds(120));
  ASSERT_TRUE(lock.held()) << "another run held " << test::RunLock::kPath << " for 120 s";
  RemoveLeftoverWatches();

  test::TempDir dir;
  const std::string base = dir.path().string();
  const std::string rules = dir / "rules.d";
  const std::string docs = dir / "docs";
  const std::string team = dir / "team";
  for (const std::string& f : {rules, docs, team}) fs::create_directory(f);
  // Whatever happens below, no watch of this test stays in the kernel.
  struct Unwatch {
    std::vector<std::string> folders;
    ~Unwatch() {
      for (const std::string& f : folders) Shell("auditctl -W " + f + " -p wa -k quillstamp");
    }
  } unwatch{{docs, team}};
  const std::string conf = dir / "smb.conf";
  test::WriteFile(conf,
                  "[global]\n  server role = standalone server\n  load printers = no\n"
                  "[docs]\n  path = " +
                      docs + "\n  read only = no\n[users]\n  path = " + base +
                      "/%U\n[team]\n  path = " + team + "\n");
  const auto run = [&](const std::vector<std::string>& args, const std::string& log) {
    test::Child child(QS_SERVICE, args, {}, dir / log);
    const auto exit = child.WaitExit(std::chrono::seconds(60));
    return std::make_pair(exit.value_or(-1000), child.Log());
  };
  const std::vector<std::string> setup{"--setup-audit", "--samba-config", conf, "--rules-dir",
                                       rules};
  const std::string file = rules + "/quillstamp.rules";

  const auto [first, firstLog] = run(setup, "first.log");
  ASSERT_EQ(first, 0) << firstLog;
  EXPECT_EQ(WatchesBelow(base), (std::vector<std::string>{"-w " + docs + " -p wa -k quillstamp",
                                                          "-w " + team + " -p wa -k quillstamp"}))
      << Shell("auditctl -l").output;
  EXPECT_EQ(test::ReadFile(file), platform::audit::RulesFileText({docs, team}));
  EXPECT_NE(firstLog.find("[users] " + base + "/%U changes with the user"), std::string::npos)
      << firstLog;
  EXPECT_NE(firstLog.find("Loaded the rules: auditctl -R " + file), std::string::npos) << firstLog;

  // The same shares again: the file is not touched and nothing is loaded.
  const auto written = fs::last_write_time(file);
  const auto mode = fs::status(file).permissions();
  const auto [second, secondLog] = run(setup, "second.log");
  ASSERT_EQ(second, 0) << secondLog;
  EXPECT_NE(secondLog.find("nothing written, nothing loaded"), std::string::npos) << secondLog;
  EXPECT_EQ(secondLog.find("Loaded"), std::string::npos) << secondLog;
  EXPECT_EQ(fs::last_write_time(file), written);
  EXPECT_EQ(fs::status(file).permissions(), mode);
  EXPECT_EQ(WatchesBelow(base).size(), 2u) << Shell("auditctl -l").output;

  const auto [removed, removedLog] = run({"--remove-audit", "--rules-dir", rules}, "remove.log");
  ASSERT_EQ(removed, 0) << removedLog;
  EXPECT_TRUE(WatchesBelow(base).empty()) << Shell("auditctl -l").output;
  EXPECT_FALSE(fs::exists(file));
  const auto [again, againLog] = run({"--remove-audit", "--rules-dir", rules}, "again.log");
  EXPECT_EQ(again, 0) << againLog;
  EXPECT_NE(againLog.find("nothing removed, nothing loaded"), std::string::npos) << againLog;
}

TEST(SetupAuditProgram, UsageErrorsExitTwoWithTheReason) {
  struct Case {
    std::vector<std::string> args;
    const char* said;
  };
  const Case cases[] = {
      {{"--setup-audit", "--once"}, "take none of the service's options"},
      {{"--setup-audit", "--remove-audit"}, "cannot be given together"},
      {{"--rules-dir", "/tmp"}, "go with --setup-audit or --remove-audit"},
      {{"--remove-audit", "--samba-config", "/x"}, "--samba-config goes with --setup-audit"},
      {{"--setup-audit", "/srv", "--samba-config", "/x"}, "cannot be given together"},
      {{"--setup-audit", "--rules-dir"}, "--rules-dir needs a folder name"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    test::Child child(QS_SERVICE, c.args, {}, dir / "usage.log");
    EXPECT_EQ(child.WaitExit(std::chrono::seconds(30)), kExitUsage) << child.Log();
    EXPECT_NE(child.Log().find(c.said), std::string::npos) << child.Log();
    fs::remove(dir / "usage.log");
  }
}

}  // namespace
}  // namespace qs
