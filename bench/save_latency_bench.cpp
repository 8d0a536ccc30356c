// How long after a save through Samba the file carries its comment: a private smbd on
// 127.0.0.1 with streams_xattr shares a folder that the kernel's audit watches (a private auditd
// writes the log), the real quillstamp-service follows that log with MacComments=1, and a user
// made for the run saves files with smbclient `put`. Each save is timed from smbclient's return to
// the moment the file's Macintosh comment (the stream's xattr) names that user; the median and
// the 99th percentile are printed beside their targets.
//
//   save_latency_bench [--saves N] [--overwrite]
//
// By default each save makes a new file. --overwrite saves over files that exist already (each
// of 20 files in turn, so that two saves of one file never fall in the same second): then the
// comment must change to name the save. Needs root, smbd, smbclient, smbpasswd, auditd and an
// audit subsystem this process may use. Everything it starts or adds (smbd, auditd, the watch,
// the user, auditing switched on) is taken away however it ends: at its end, on SIGINT, SIGTERM
// or SIGHUP, and, after a SIGKILL, at the start of the next run from the note it keeps.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kUser = "qssavebench";
constexpr const char* kPassword = "Bench-pw-1";
constexpr const char* kMacAttribute = "user.DosStream.Comments:$DATA";
// The lock that the audit end-to-end test holds while it has a daemon and rules of its own.
constexpr const char* kRunLock = "/tmp/quillstamp-audit-e2e.lock";
// What this run has started or added, one "kind value" a line, for a run killed before its end.
constexpr const char* kNote = "/tmp/quillstamp-save-latency-bench.note";
constexpr auto kSaveLimit = 30s;  // a save not stamped by then counts as missed

volatile sig_atomic_t gInterrupted = 0;
extern "C" void OnInterrupt(int) { gInterrupted = 1; }

struct Result {
  int status = -1;
  std::string output;
};

Result Shell(const std::string& command) {
  Result r;
  std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  const int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void AddNote(const std::string& line) {
  std::ofstream out(kNote, std::ios::app);
  out << line << "\n";
}

std::string CommandLineOf(pid_t pid) {
  std::string text = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
  std::replace(text.begin(), text.end(), '\0', ' ');
  return text;
}

// Ends a process this program started, by its id: TERM, then KILL after 5 s.
void EndProcess(pid_t pid, bool group) {
  if (pid <= 0) return;
  ::kill(group ? -pid : pid, SIGTERM);
  const auto deadline = Clock::now() + 5s;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0 && Clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  ::kill(group ? -pid : pid, SIGKILL);
  ::waitpid(pid, &status, WNOHANG);
}

// Takes away what a run killed before its end left, as its note lists it; a process only while
// its command line is still the one noted.
void RemoveLeftovers() {
  std::ifstream in(kNote);
  std::string kind;
  while (in >> kind) {
    std::string value;
    std::getline(in, value);
    value.erase(0, value.find_first_not_of(' '));
    if (kind == "process") {
      const std::size_t space = value.find(' ');
      const pid_t pid = static_cast<pid_t>(std::atol(value.substr(0, space).c_str()));
      const std::string command = value.substr(space + 1);
      if (pid > 0 && CommandLineOf(pid).rfind(command, 0) == 0) {
        std::printf("removing a leftover process %d (%s)\n", pid, command.c_str());
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
      }
    } else if (kind == "watch") {
      Shell("auditctl -W " + value + " -p wa -k quillstamp");
    } else if (kind == "user") {
      Shell("userdel " + value);
    } else if (kind == "audit-was-off") {
      Shell("auditctl -e 0");
    } else if (kind == "folder") {
      std::error_code ec;
      fs::remove_all(value, ec);
    }
  }
  ::unlink(kNote);
}

// Runs every cleanup step, last added first, whatever happened before.
class Cleanup {
 public:
  ~Cleanup() {
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) (*it)();
    ::unlink(kNote);
  }
  void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }

 private:
  std::vector<std::function<void()>> steps_;
};

int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

bool Accepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// Starts `argv` in a process group of its own with its output in `log`.
pid_t Start(const std::vector<std::string>& argv, const std::string& log) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  if (pid > 0) ::setpgid(pid, pid);
  return pid;
}

// Runs `argv` to its end, its output in `log`; the exit status, or -1.
int RunToEnd(const std::vector<std::string>& argv, const std::string& log) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitFor(const std::function<bool()>& done, Clock::duration limit,
             Clock::duration step = 100ms) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline || gInterrupted != 0) return false;
    std::this_thread::sleep_for(step);
  }
  return true;
}

// The Macintosh comment of `path` as text: its UTF-16LE units, each taken as one byte when it is
// ASCII (the user names and digits looked for are).
std::string MacComment(const std::string& path) {
  char value[8192];
  const ssize_t n = ::getxattr(path.c_str(), kMacAttribute, value, sizeof value);
  std::string text;
  for (ssize_t i = 0; i + 1 < n; i += 2)
    if (value[i + 1] == 0 && value[i] != 0) text += value[i];
  return text;
}

std::string StatusField(const std::string& status, const std::string& key) {
  const std::size_t at = status.find(key + " ");
  if (at == std::string::npos) return {};
  const std::size_t end = status.find('\n', at);
  return status.substr(at + key.size() + 1, end - at - key.size() - 1);
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const std::size_t rank =
      static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
  return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "save_latency_bench: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int saves = 200;
  bool overwrite = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--overwrite") {
      overwrite = true;
    } else if (arg == "--saves" && i + 1 < argc) {
      saves = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: save_latency_bench [--saves N] [--overwrite]\n");
      return 2;
    }
  }
  if (::geteuid() != 0) return Fail("needs root (auditd, smbd, a user of its own)");
  for (const char* tool : {"smbd", "smbclient", "smbpasswd", "auditd", "auditctl", "useradd"})
    if (Shell(std::string("command -v ") + tool).status != 0)
      return Fail(std::string(tool) + " is not installed");
  if (Shell("auditctl -s").status != 0)
    return Fail("the audit subsystem cannot be used here (auditctl -s: " +
                Shell("auditctl -s").output + ")");
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);

  const int lock = ::open(kRunLock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 || !WaitFor([&] { return ::flock(lock, LOCK_EX | LOCK_NB) == 0; }, 120s, 200ms))
    return Fail(std::string("another run held ") + kRunLock + " for 120 s");
  // A daemon of another test that holds no lock of this kind may still be on its way out.
  std::string daemonPid;
  WaitFor(
      [&] {
        daemonPid = StatusField(Shell("auditctl -s").output, "pid");
        return daemonPid.empty() || daemonPid == "0";
      },
      60s, 500ms);
  if (!daemonPid.empty() && daemonPid != "0")
    return Fail("an auditd already runs (pid " + daemonPid +
                "): this benchmark starts its own and leaves the system's alone");
  RemoveLeftovers();
  // Read once no other daemon runs: what this run puts back at its end.
  const Result status = Shell("auditctl -s");
  if (status.status != 0)
    return Fail("the audit subsystem cannot be used here (auditctl -s: " + status.output + ")");
  const std::string enabledBefore = StatusField(status.output, "enabled");
  if (enabledBefore == "2") return Fail("the audit configuration is locked (enabled 2)");

  Cleanup cleanup;
  std::string pattern = (fs::temp_directory_path() / "quillstamp-test-save-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return Fail("cannot make a folder");
  const std::string dir = pattern;
  AddNote("folder " + dir);
  cleanup.Add([dir] {
    std::error_code ec;
    fs::remove_all(dir, ec);
  });
  const std::string share = dir + "/share";
  for (const char* d :
       {"share", "private", "state", "lock", "cache", "pid", "ncalrpc", "log", "audit", "client"})
    fs::create_directory(dir + "/" + d);
  ::chmod(dir.c_str(), 0755);
  ::chmod(share.c_str(), 0777);

  // The audit daemon first, writing into this run's folder: auditing must be on before smbd
  // starts, or the kernel never audits smbd.
  const std::string auditLog = dir + "/audit/audit.log";
  {
    std::ifstream in("/etc/audit/auditd.conf");
    std::ofstream out(dir + "/audit/auditd.conf");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("log_file", 0) != 0) out << line << "\n";
    out << "log_file = " << auditLog << "\n";
  }
  ::chmod((dir + "/audit/auditd.conf").c_str(), 0600);
  if (enabledBefore == "0") {
    AddNote("audit-was-off 0");
    cleanup.Add([] { Shell("auditctl -e 0"); });
  }
  const std::vector<std::string> auditd{"auditd", "-n", "-c", dir + "/audit"};
  const pid_t daemon = Start(auditd, dir + "/log/auditd.out");
  if (daemon < 0) return Fail("cannot start auditd");
  AddNote("process " + std::to_string(daemon) + " auditd -n -c " + dir);
  cleanup.Add([daemon] { EndProcess(daemon, true); });
  if (!WaitFor([&] { return ReadFile(auditLog).find("DAEMON_START") != std::string::npos; }, 10s))
    return Fail("auditd wrote no DAEMON_START within 10 s: " + ReadFile(dir + "/log/auditd.out"));

  const Result watch = Shell("auditctl -w " + share + " -p wa -k quillstamp");
  if (watch.status != 0) return Fail("auditctl -w: " + watch.output);
  AddNote("watch " + share);
  cleanup.Add([share] { Shell("auditctl -W " + share + " -p wa -k quillstamp"); });
  // The watch takes effect a moment after it is loaded: wait until a write shows.
  if (!WaitFor(
          [&] {
            Shell("echo p > " + share + "/.probe");
            return ReadFile(auditLog).find(share + "/.probe") != std::string::npos;
          },
          20s, 500ms))
    return Fail("no write in " + share + " reached " + auditLog + " within 20 s");
  fs::remove(share + "/.probe");

  // The user who saves.
  Shell(std::string("userdel ") + kUser);
  if (Shell(std::string("useradd -M -N -s /usr/sbin/nologin ") + kUser).status != 0)
    return Fail(std::string("useradd ") + kUser + " failed");
  AddNote(std::string("user ") + kUser);
  cleanup.Add([] { Shell(std::string("userdel ") + kUser); });

  const int port = FreePort();
  const std::string conf = dir + "/smb.conf";
  {
    std::ofstream out(conf);
    out << "[global]\n  server role = standalone server\n  smb ports = " << port
        << "\n  interfaces = 127.0.0.1\n  bind interfaces only = yes\n"
        << "  private dir = " << dir << "/private\n  state directory = " << dir << "/state\n"
        << "  lock directory = " << dir << "/lock\n  cache directory = " << dir << "/cache\n"
        << "  pid directory = " << dir << "/pid\n  ncalrpc dir = " << dir << "/ncalrpc\n"
        << "  log file = " << dir << "/log/smbd.log\n  passdb backend = tdbsam\n"
        << "  map to guest = Never\n  load printers = no\n  printing = bsd\n"
        << "  printcap name = /dev/null\n  disable spoolss = yes\n"
        << "[share]\n  path = " << share << "\n  read only = no\n  valid users = " << kUser
        << "\n  vfs objects = streams_xattr\n";
  }
  if (Shell("printf '%s\\n%s\\n' '" + std::string(kPassword) + "' '" + kPassword +
            "' | smbpasswd -c " + conf + " -a -s " + kUser)
          .status != 0)
    return Fail("smbpasswd -a failed");

  const pid_t smbd =
      Start({"/usr/sbin/smbd", "--foreground", "--no-process-group", "--debug-stdout", "-s", conf},
            dir + "/log/smbd.out");
  if (smbd < 0) return Fail("cannot start smbd");
  AddNote("process " + std::to_string(smbd) + " /usr/sbin/smbd --foreground");
  cleanup.Add([smbd] { EndProcess(smbd, true); });
  if (!WaitFor([&] { return Accepts(port); }, 30s))
    return Fail("smbd did not listen on port " + std::to_string(port) + ": " +
                ReadFile(dir + "/log/smbd.out"));

  // The service, following the audit log. Temporisation is long, so that every stamp seen
  // within it comes from following the log, not from the timer.
  const std::string ini = dir + "/Quillstamp.ini";
  {
    std::ofstream out(ini);
    out << "[Configuration]\nMacComments=1\nTimeSeconds=1\nTemporisation=60\n"
        << "[Platform]\nSecurityLog=" << auditLog << "\n";
  }
  const std::string serviceLog = dir + "/log/service.log";
  // Its instance lock in this run's folder.
  ::setenv("RUNTIME_DIRECTORY", (dir + "/pid").c_str(), 1);
  const pid_t servicePid = Start({QS_SERVICE_PROGRAM, "--config", ini}, serviceLog);
  if (servicePid < 0) return Fail("cannot start quillstamp-service");
  AddNote("process " + std::to_string(servicePid) + " " + QS_SERVICE_PROGRAM + " --config " + ini);
  cleanup.Add([servicePid] { EndProcess(servicePid, false); });
  if (!WaitFor([&] { return ReadFile(serviceLog).find("Pass: ") != std::string::npos; }, 60s))
    return Fail("quillstamp-service ran no pass within 60 s: " + ReadFile(serviceLog));
  if (ReadFile(serviceLog).find("Following the Security log") == std::string::npos)
    return Fail("quillstamp-service does not follow the log: " + ReadFile(serviceLog));

  const std::string local = dir + "/client/document.txt";
  const auto save = [&](const std::string& name, int n) {
    std::ofstream(local) << "save " << n << "\n";
    return RunToEnd({"smbclient", "//127.0.0.1/share", "-p", std::to_string(port), "-s", conf, "-U",
                     std::string(kUser) + "%" + kPassword, "-c", "put " + local + " " + name},
                    dir + "/log/smbclient.out");
  };

  constexpr int kFiles = 20;
  if (overwrite) {
    // The files to save over, made and stamped before the timing starts.
    for (int f = 0; f < kFiles && gInterrupted == 0; ++f) {
      const std::string name = "doc" + std::to_string(f) + ".txt";
      if (save(name, -1) != 0) return Fail("smbclient: " + ReadFile(dir + "/log/smbclient.out"));
      if (!WaitFor([&] { return !MacComment(share + "/" + name).empty(); }, kSaveLimit, 10ms))
        return Fail("the first save of " + name + " was never stamped");
    }
  }

  std::printf(
      "%d saves of %s through smbd (streams_xattr) on 127.0.0.1:%d, audited by auditd, "
      "stamped by quillstamp-service following %s\n",
      saves, overwrite ? "existing files" : "new files", port, auditLog.c_str());
  std::vector<double> latencies;
  int missed = 0;
  for (int i = 0; i < saves && gInterrupted == 0; ++i) {
    const std::string name = overwrite ? "doc" + std::to_string(i % kFiles) + ".txt"
                                       : "new" + std::to_string(i) + ".txt";
    const std::string path = share + "/" + name;
    const std::string before = MacComment(path);
    if (save(name, i) != 0) return Fail("smbclient: " + ReadFile(dir + "/log/smbclient.out"));
    const auto saved = Clock::now();
    // Stamped: the comment names the user, and for a file saved over it has changed.
    const bool stamped = WaitFor(
        [&] {
          const std::string now = MacComment(path);
          return now != before && now.find(kUser) != std::string::npos;
        },
        kSaveLimit, 5ms);
    const double took = std::chrono::duration<double>(Clock::now() - saved).count();
    if (!stamped) ++missed;
    latencies.push_back(stamped ? took : std::chrono::duration<double>(kSaveLimit).count());
    if ((i + 1) % 50 == 0) std::printf("  %d saves done\n", i + 1);
  }
  if (gInterrupted != 0) return Fail("interrupted; everything it started is taken away");

  const int passes = [&] {
    const std::string text = ReadFile(serviceLog);
    int n = 0;
    for (std::size_t at = 0; (at = text.find("Pass: ", at)) != std::string::npos; ++at) ++n;
    return n;
  }();
  const double median = Percentile(latencies, 50);
  const double p99 = Percentile(latencies, 99);
  std::printf("save to stamp:   median %.3f s   (target < 2 s)   %s\n", median,
              median < 2 ? "met" : "NOT MET");
  std::printf("                 p99    %.3f s   (target < 5 s)   %s\n", p99,
              p99 < 5 ? "met" : "NOT MET");
  std::printf(
      "                 min %.3f s, max %.3f s; %d of %d never stamped within %lld s "
      "(counted as %lld s); %d passes of the service\n",
      Percentile(latencies, 0), Percentile(latencies, 100), missed,
      static_cast<int>(latencies.size()), static_cast<long long>(kSaveLimit.count()),
      static_cast<long long>(kSaveLimit.count()), passes);
  return missed == 0 ? 0 : 1;
}
