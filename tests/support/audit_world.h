// What the tests that run against the kernel's real audit subsystem share: shell commands, cleanup
// steps that run however a test ends, the run lock, the auditd that a test starts for itself, the
// watch rule with its probe, and the users that the test adds and removes.
//
// The kernel gives a process an audit context only when auditing had been enabled at least once
// before that process was forked. On a kernel that booted without audit=1 the test process may
// have started before its own auditd switched auditing on, so nothing it does itself is ever
// recorded: every action that must show in the log runs in a process forked after auditing is on.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qs::test {

struct ShellResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

// Runs `command` with /bin/sh in a new process (which gets its own audit context, see above).
ShellResult Shell(const std::string& command);

// `s` in single quotes, for a shell command line (s holds no single quote).
std::string Quote(const std::string& s);

// Runs every cleanup step, last added first, whatever happened before.
class Cleanup {
 public:
  Cleanup() = default;
  Cleanup(const Cleanup&) = delete;
  Cleanup& operator=(const Cleanup&) = delete;
  ~Cleanup();
  void Add(std::function<void()> step);

 private:
  std::vector<std::function<void()>> steps_;
};

using Clock = std::chrono::steady_clock;

// Polls `file` every 100 ms until it holds `text` or `limit` has passed.
bool WaitForText(const std::string& file, const std::string& text,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));

// The value of one "key value" line of `auditctl -s`, or empty.
std::string StatusField(const std::string& status, const std::string& key);

// The log file of a running auditd, from its configuration.
std::string ConfiguredLogFile();

// The watch keys of the tests' rules, kept apart from any rule an administrator keyed
// "quillstamp", so that removing leftovers can never touch a real one.
inline constexpr const char* kAuditE2eKey = "quillstamp-e2e";
inline constexpr const char* kSambaAuditKey = "quillstamp-samba-e2e";

// Where a test puts the rules file that stands for an administrator's saved rule: named for the
// test's process, so that leftovers of a killed run are told from an administrator's files.
std::string TestRulesFile();

// The note in a test folder that names the process group of a server the test started, so that a
// later run can end it when this one is killed before its cleanup (its processes would keep the
// test's users in use).
inline constexpr const char* kServerGroupNote = "server-process-group";

// Removes what an earlier run that was killed before its cleanup left behind: its auditd (started
// with a configuration in a test folder), the tests' watch rules and rules files, the servers named
// by kServerGroupNote, and auditing switched on where it had been off. Users are removed by
// AddUser.
void RemoveLeftovers();

// Two runs at once (two build folders tested side by side, or the two tests that use the audit
// subsystem) would take each other's daemon and rule for leftovers: a run holds this lock for its
// whole length. The kernel drops the lock when the holder dies, so a killed run never leaves it
// behind.
class RunLock {
 public:
  // Waits up to `limit` for the lock; held() says whether it was taken.
  explicit RunLock(std::chrono::seconds limit);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  bool held() const { return fd_ >= 0; }
  static constexpr const char* kPath = "/tmp/quillstamp-audit-e2e.lock";

 private:
  int fd_ = -1;
};

// Why this machine cannot run a test against the audit subsystem (not root, no audit netlink
// socket, as in most containers), or empty when it can. Asked before the run lock is taken.
std::string AuditUnavailableReason();

// Auditing on for the length of a test, with a daemon that writes a log the test reads: the
// running auditd, switched on when it was off, or one started in `testFolder` with its own
// configuration (log in the folder, flushed at every record). Everything it changes is undone by
// steps added to `cleanup`. On failure returns false with the reason in `error`; `skip` is true
// when the reason is a locked audit configuration (enabled 2), which the test cannot change.
bool StartAuditing(const std::string& testFolder, Cleanup& cleanup, std::string& logFile,
                   bool& skip, std::string& error);

// Loads "-w folder -p wa -k key" and waits (at most 20 s) until a write of `probe` in the folder,
// by a new process each time, reaches `logFile`. The rule is removed by a step of `cleanup`.
bool WatchFolder(const std::string& folder, const std::string& key, const std::string& logFile,
                 Cleanup& cleanup, std::string& error, const std::string& probe = "probe");

// The line that watches `folder` for writes and attribute changes under `key`, as auditctl takes
// it and as a rules file holds it.
std::string WatchRule(const std::string& folder, const std::string& key);

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// Adds a user without a home folder; a cleanup step removes it. A leftover of an interrupted run
// is removed first.
bool AddUser(const std::string& name, Account& account, Cleanup& cleanup);

// The records of the events whose SYSCALL line carries key="key" and that name `folder` (a path
// below it, or the working folder of a process that named its files relatively), whole (their
// CWD, PATH and PROCTITLE lines too), in the order of `text`: the test's own, and none of an
// earlier run's that a system auditd's log still holds under the same key.
std::string EventsWithKey(const std::string& text, const std::string& key,
                          const std::string& folder);

}  // namespace qs::test
