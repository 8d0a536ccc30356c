#include "support/audit_world.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "support/temp_dir.h"

namespace qs::test {

namespace {

// Where a run notes that auditing was off before it switched it on, in its test folder, so that
// a later run can switch it off again when this one is killed before its cleanup.
constexpr const char* kEnabledBeforeNote = "audit-enabled-before-0";

constexpr const char* kRulesFolder = "/etc/audit/rules.d";
constexpr const char* kRulesFilePrefix = "qs-test-";

// The test folders that earlier runs left in the temporary folder.
std::vector<std::filesystem::path> TestFolders() {
  std::vector<std::filesystem::path> folders;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ec)) {
    if (entry.path().filename().string().starts_with("quillstamp-test-"))
      folders.push_back(entry.path());
  }
  return folders;
}

// Ends the process group named by a leftover note, if its leader is still the server it was.
void EndLeftoverServer(const std::filesystem::path& note) {
  std::error_code ec;
  const pid_t group = static_cast<pid_t>(std::atol(ReadFile(note.string()).c_str()));
  const auto exe =
      std::filesystem::read_symlink("/proc/" + std::to_string(group) + "/exe", ec).string();
  if (group > 1 && !ec && exe.ends_with("/smbd")) {
    kill(-group, SIGKILL);
    for (int i = 0; i < 50 && kill(group, 0) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::filesystem::remove(note, ec);
}

}  // namespace

ShellResult Shell(const std::string& command) {
  ShellResult r;
  std::FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

Cleanup::~Cleanup() {
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) (*it)();
}

void Cleanup::Add(std::function<void()> step) { steps_.push_back(std::move(step)); }

bool WaitForText(const std::string& file, const std::string& text,
                 std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  do {
    if (ReadFile(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (Clock::now() < deadline);
  return false;
}

std::string StatusField(const std::string& status, const std::string& key) {
  const std::size_t at = status.find(key + " ");
  if (at == std::string::npos) return {};
  const std::size_t end = status.find('\n', at);
  return status.substr(at + key.size() + 1, end - at - key.size() - 1);
}

std::string ConfiguredLogFile() {
  std::ifstream in("/etc/audit/auditd.conf");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("log_file", 0) != 0) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    return value;
  }
  return "/var/log/audit/audit.log";
}

std::string TestRulesFile() {
  return std::string(kRulesFolder) + "/" + kRulesFilePrefix + std::to_string(getpid()) + ".rules";
}

void RemoveLeftovers() {
  Shell("pkill -TERM -f '^auditd -n -c /tmp/quillstamp-test-'");
  for (int i = 0; i < 50; ++i) {
    if (Shell("pgrep -f '^auditd -n -c /tmp/quillstamp-test-'").status != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Shell("pkill -KILL -f '^auditd -n -c /tmp/quillstamp-test-'");
  for (const char* key : {kAuditE2eKey, kSambaAuditKey})
    Shell(std::string("auditctl -D -k ") + key);
  // Earlier versions keyed their watch "quillstamp": remove only those on a test folder.
  const auto rules = Shell("auditctl -l");
  std::size_t at = 0;
  while (at < rules.output.size()) {
    std::size_t end = rules.output.find('\n', at);
    if (end == std::string::npos) end = rules.output.size();
    const std::string line = rules.output.substr(at, end - at);
    at = end + 1;
    if (line.rfind("-w /tmp/quillstamp-test-", 0) != 0) continue;
    const std::size_t pathEnd = line.find(' ', 3);
    Shell("auditctl -W " + line.substr(3, pathEnd - 3) + " -p wa -k quillstamp");
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(kRulesFolder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(kRulesFilePrefix) && name.ends_with(".rules"))
      std::filesystem::remove(entry.path(), ec);
  }
  for (const auto& folder : TestFolders()) {
    if (std::filesystem::exists(folder / kServerGroupNote, ec))
      EndLeftoverServer(folder / kServerGroupNote);
    const auto note = folder / kEnabledBeforeNote;
    if (!std::filesystem::exists(note, ec)) continue;
    Shell("auditctl -e 0");
    std::filesystem::remove(note, ec);
  }
}

RunLock::RunLock(std::chrono::seconds limit) {
  const int fd = open(kPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const auto deadline = Clock::now() + limit;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (Clock::now() > deadline) {
      close(fd);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  fd_ = fd;
}

RunLock::~RunLock() {
  if (fd_ >= 0) close(fd_);
}

std::string AuditUnavailableReason() {
  if (geteuid() != 0) return "needs root to load audit rules and add users";
  const auto status = Shell("auditctl -s");
  if (status.status != 0)
    return "the audit subsystem is not available here (auditctl -s: " + status.output + ")";
  return {};
}

bool StartAuditing(const std::string& testFolder, Cleanup& cleanup, std::string& logFile,
                   bool& skip, std::string& error) {
  skip = false;
  const auto status = Shell("auditctl -s");
  const std::string enabledBefore = StatusField(status.output, "enabled");
  if (enabledBefore == "2") {
    skip = true;
    error = "the audit configuration is locked (enabled 2)";
    return false;
  }
  const std::string notePath = testFolder + "/" + kEnabledBeforeNote;
  // A daemon that runs: its log, with auditing switched on for the test if it was off.
  const std::string runningPid = StatusField(status.output, "pid");
  if (runningPid != "0" && !runningPid.empty()) {
    logFile = ConfiguredLogFile();
    if (enabledBefore == "0") {
      WriteFile(notePath, "");
      if (Shell("auditctl -e 1").status != 0) {
        error = "auditctl -e 1 failed";
        return false;
      }
      cleanup.Add([] { Shell("auditctl -e 0"); });
    }
    return true;
  }
  // Our own auditd, writing into the test folder.
  const std::string conf = testFolder + "/conf";
  std::filesystem::create_directory(conf);
  logFile = testFolder + "/audit.log";
  {
    std::ifstream in("/etc/audit/auditd.conf");
    std::ofstream out(conf + "/auditd.conf");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("log_file", 0) == 0 || line.rfind("flush", 0) == 0) continue;
      out << line << "\n";
    }
    out << "log_file = " << logFile << "\nflush = SYNC\n";
  }
  chmod((conf + "/auditd.conf").c_str(), 0600);
  if (enabledBefore == "0") WriteFile(notePath, "");
  const pid_t daemon = fork();
  if (daemon < 0) {
    error = "cannot fork auditd";
    return false;
  }
  if (daemon == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execlp("auditd", "auditd", "-n", "-c", conf.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  cleanup.Add([daemon, enabledBefore] {
    kill(daemon, SIGTERM);
    int st = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(daemon, &st, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(daemon, SIGKILL);
        waitpid(daemon, &st, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (enabledBefore == "0") Shell("auditctl -e 0");
  });
  if (!WaitForText(logFile, "DAEMON_START")) {
    int st = 0;
    const bool ended = waitpid(daemon, &st, WNOHANG) == daemon;
    error = "auditd -n -c " + conf + " wrote no DAEMON_START to " + logFile + " within 10 s" +
            (ended ? " and has ended" : "");
    return false;
  }
  return true;
}

std::string WatchRule(const std::string& folder, const std::string& key) {
  return "-w " + folder + " -p wa -k " + key;
}

bool WatchFolder(const std::string& folder, const std::string& key, const std::string& logFile,
                 Cleanup& cleanup, std::string& error, const std::string& probe) {
  const auto rule = Shell("auditctl " + WatchRule(folder, key));
  if (rule.status != 0) {
    error = "auditctl " + WatchRule(folder, key) + ": " + rule.output;
    return false;
  }
  const std::string unwatch = "auditctl -W " + folder + " -p wa -k " + key;
  cleanup.Add([unwatch] { Shell(unwatch); });
  // The watch takes effect a moment after the rule is loaded: wait until a write shows. The
  // probe is written by a new process each time, never by this one.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    const auto write = Shell("echo p > " + Quote(folder + "/" + probe));
    if (write.status != 0) {
      error = "cannot write the probe: " + write.output;
      return false;
    }
    if (WaitForText(logFile, "\"" + folder + "/" + probe + "\"", std::chrono::seconds(1)))
      return true;
  }
  error = "no write to " + folder + "/" + probe + " reached " + logFile +
          " within 20 s.\nauditctl -s:\n" + Shell("auditctl -s").output + "auditctl -l:\n" +
          Shell("auditctl -l").output;
  return false;
}

bool AddUser(const std::string& name, Account& account, Cleanup& cleanup) {
  Shell("userdel " + name);  // a leftover of an interrupted run
  const auto r = Shell("useradd -M -N -s /bin/sh " + name);
  if (r.status != 0) return false;
  cleanup.Add([name] { Shell("userdel " + name); });
  const passwd* pw = getpwnam(name.c_str());
  if (pw == nullptr) return false;
  account = {name, pw->pw_uid, pw->pw_gid};
  return true;
}

std::string EventsWithKey(const std::string& text, const std::string& key,
                          const std::string& folder) {
  auto idOf = [](std::string_view line) {
    const std::size_t at = line.find("msg=audit(");
    if (at == std::string_view::npos) return std::string();
    return std::string(line.substr(at, line.find(')', at) - at));
  };
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(std::string_view(text).substr(at, end - at));
    at = end + 1;
  }
  const std::string keyField = " key=\"" + key + "\"";
  std::set<std::string> keyed, naming;
  for (const std::string_view line : lines) {
    if (idOf(line).empty()) continue;
    if (line.find(keyField) != std::string_view::npos) keyed.insert(idOf(line));
    if (line.find("\"" + folder) != std::string_view::npos) naming.insert(idOf(line));
  }
  std::string out;
  for (const std::string_view line : lines) {
    const std::string id = idOf(line);
    if (keyed.count(id) == 0 || naming.count(id) == 0) continue;
    out += line;
    out += '\n';
  }
  return out;
}

}  // namespace qs::test
