// One scan pass over a Linux audit log of 100,000 events (about 500,000 lines) at Performance 1,
// and, on the same log in the same run, `ausearch -k quillstamp --raw`. Prints both times, and
// the peak memory over two generated logs of about 300 MB (long paths; a flood of writes by one
// user), each beside its target: of the reader alone, of the window program's pass (the real
// window, offscreen) and of `quillstamp-service --once`; last, passes that go on after the last
// record examined, over the unchanged log and over the log with 1,000 more events, beside the
// first pass.
//
//   audit_bench [events] [folder]
//
// The logs are written into the folder (default: a new folder under the system's temporary
// folder) and removed afterwards.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/log_source.h"
#include "platform/posix/posix_eventlog.h"
#include "quiet_view.h"
#include "scan/event_list.h"
#include "scan/scan_pass.h"
#include "ui/program.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time (user and system) of this program, or of its waited-for children, in seconds:
// on a machine shared with other work, wall time also counts the waits for a processor.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A mix like that of a busy share: writes, reads, saves by rename, refused opens and attribute
// changes, with neighbouring events interleaved now and then, in the ENRICHED format.
struct LogStats {
  long lines = 0;
  long writes = 0;
};

// pathLength: at least this many characters in each file's path (long paths); flood: every
// event a write by one user.
// first: the number of the first event; a log is appended to when it is not 0.
LogStats WriteLog(const std::string& path, long events, std::size_t pathLength = 0,
                  bool flood = false, long first = 0) {
  std::ofstream out(path, first == 0 ? std::ios::binary : std::ios::binary | std::ios::app);
  LogStats stats;
  std::uint32_t rng = 12345 + static_cast<std::uint32_t>(first);
  auto next = [&rng] {
    rng = rng * 1103515245u + 12345u;
    return (rng >> 16) & 0x7fff;
  };
  std::string held;  // one event kept back to interleave it with the next
  for (long i = first; i < first + events; ++i) {
    const long serial = 1000 + i;
    const long seconds = 1700000000 + i / 100;
    const int millis = static_cast<int>(i % 100) * 10;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "msg=audit(%ld.%03d:%ld):", seconds, millis, serial);
    const int user = flood ? 1000 : 1000 + static_cast<int>(next() % 10);
    const int kind = flood ? 0 : static_cast<int>(next() % 10);
    std::string folder = "/srv/share/dept" + std::to_string(next() % 20);
    while (folder.size() < pathLength) folder += "/a-rather-long-folder-name";
    const std::string file = folder + "/doc" + std::to_string(next() % 500) + ".odt";
    std::string ev;
    auto line = [&](const std::string& text) {
      ev += text;
      ev += '\n';
      ++stats.lines;
    };
    auto syscall = [&](int number, const char* name, bool ok, const char* a2, int items) {
      char buf[1024];
      std::snprintf(buf, sizeof buf,
                    "type=SYSCALL %s arch=c000003e syscall=%d success=%s exit=%s a0=ffffff9c "
                    "a1=55d0a1b2c3d0 a2=%s a3=1b6 items=%d ppid=811 pid=%d auid=%d uid=%d "
                    "gid=100 euid=%d suid=%d fsuid=%d egid=100 sgid=100 fsgid=100 tty=pts1 "
                    "ses=7 comm=\"soffice.bin\" exe=\"/usr/lib/libreoffice/program/soffice.bin\" "
                    "subj=unconfined key=\"quillstamp\"\x1d"
                    "ARCH=x86_64 SYSCALL=%s AUID=\"user%d\" UID=\"user%d\" GID=\"users\" "
                    "EUID=\"user%d\" SUID=\"user%d\" FSUID=\"user%d\" EGID=\"users\" "
                    "SGID=\"users\" FSGID=\"users\"",
                    stamp, number, ok ? "yes" : "no", ok ? "3" : "-13", a2, items, 2000 + user,
                    user, user, user, user, user, name, user, user, user, user, user);
      line(buf);
    };
    auto pathItem = [&](int item, const std::string& name, const char* mode, const char* type) {
      line("type=PATH " + std::string(stamp) + " item=" + std::to_string(item) + " name=\"" + name +
           "\" inode=" + std::to_string(100000 + i) + " dev=fe:00 mode=" + mode +
           " ouid=1000 ogid=100 rdev=00:00 nametype=" + type +
           " cap_fp=0 cap_fi=0 cap_fe=0 cap_fver=0 cap_frootid=0\x1dOUID=\"user0\" OGID=\"users\"");
    };
    const std::string cwd = "type=CWD " + std::string(stamp) + " cwd=\"/home/user\"";
    const std::string title = "type=PROCTITLE " + std::string(stamp) +
                              " proctitle=2F7573722F6C69622F6C696272656F6666696365";
    const std::string dir = file.substr(0, file.rfind('/') + 1);
    if (kind < 4) {  // write
      syscall(257, "openat", true, "241", 2);
      line(cwd);
      pathItem(0, dir, "040775", "PARENT");
      pathItem(1, file, "0100664", "NORMAL");
      line(title);
      ++stats.writes;
    } else if (kind < 7) {  // read
      syscall(257, "openat", true, "80000", 1);
      line(cwd);
      pathItem(0, file, "0100664", "NORMAL");
      line(title);
    } else if (kind < 8) {  // save through a temporary file
      syscall(82, "rename", true, "7ffd0000", 5);
      line(cwd);
      pathItem(0, dir, "040775", "PARENT");
      pathItem(1, dir, "040775", "PARENT");
      pathItem(2, dir + "lu12345.tmp", "0100664", "DELETE");
      pathItem(3, file, "0100664", "DELETE");
      pathItem(4, file, "0100664", "CREATE");
      line(title);
      ++stats.writes;
    } else if (kind < 9) {  // refused
      syscall(257, "openat", false, "241", 1);
      line(cwd);
      pathItem(0, file, "0100444", "NORMAL");
      line(title);
    } else {  // chmod
      syscall(90, "chmod", true, "0", 1);
      line(cwd);
      pathItem(0, file, "0100664", "NORMAL");
      line(title);
    }
    if (!held.empty()) {
      // Interleave: the first half of the held event, this event, the rest of the held one.
      const std::size_t cut = held.find('\n') + 1;
      out << held.substr(0, cut) << ev << held.substr(cut);
      held.clear();
    } else if (next() % 20 == 0) {
      held = std::move(ev);
    } else {
      out << ev;
    }
  }
  out << held;
  return stats;
}

class CountingComments final : public qs::CommentStep {
 public:
  void CommentPass() override { ++selected; }
  void SummaryCheckPass() override {}
  long selected = 0;
};

}  // namespace

// A figure of /proc/self/status in KiB (VmRSS, VmHWM), -1 when missing.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.starts_with(prefix)) return std::atol(line.c_str() + prefix.size());
  return -1;
}

// What reading a whole log through the log source gave.
struct Read {
  bool opened = false;
  std::size_t records = 0;
  std::size_t bytes = 0;
};

// Opens the log and builds every record.
Read ReadEveryRecord(const std::string& log) {
  Read read;
  auto source = qs::platform::OpenAuditLog(log);
  if (!source) return read;
  read.opened = true;
  read.records = source->RecordCount();
  for (std::size_t i = 0; i < read.records; ++i) read.bytes += source->Record(i).size();
  return read;
}

// Reads every record; prints the peak memory above the idle size.
int MeasureMemory(const std::string& log) {
  const long idle = StatusKiB("VmHWM");
  const auto start = Clock::now();
  const Read read = ReadEveryRecord(log);
  const double took = Seconds(start);
  const long peak = StatusKiB("VmHWM");
  if (idle < 0 || peak < 0) return 1;
  std::printf(
      "  %zu records (%zu bytes) in %.3f s; peak memory %.1f MiB above idle %.1f MiB "
      "(target: at most 64 MiB above)\n",
      read.records, read.bytes, took, static_cast<double>(peak - idle) / 1024,
      static_cast<double>(idle) / 1024);
  return 0;
}

void PrintPeak(const char* what, long peakKiB, long idleKiB) {
  std::printf("  %s: peak memory %.1f MiB above idle %.1f MiB (target: at most 64 MiB above)\n",
              what, static_cast<double>(peakKiB - idleKiB) / 1024,
              static_cast<double>(idleKiB) / 1024);
}

// A settings file for the window program or the service, in `folder`, reading `log`. No comments
// are written: the files that the generated logs name do not exist.
std::string WriteSettings(const std::filesystem::path& folder, const std::string& log) {
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "Quillstamp.ini").string();
  std::ofstream(path, std::ios::trunc)
      << "[Configuration]\nWinComments=0\nMacComments=0\nPerformance=1\n\n[Platform]\nSecurityLog="
      << log << "\n";
  return path;
}

// The window program as a user starts it, offscreen: its settings file, the main window loaded and
// shown, then Start clicked. Idle is its size once shown; the peak is reached by the pass.
int MeasureWindowMemory(const std::string& folder) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The toolkit's notes about the offscreen platform would only come between the figures.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  int argc = 1;
  char name[] = "audit_bench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  qs::Program program(folder, [] { return false; });
  qs::frmQuillstamp& window = program.window();
  window.Form_Load();
  window.show();
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  const long idle = StatusKiB("VmHWM");
  window.cmdGo_Click();
  const long peak = StatusKiB("VmHWM");
  if (idle < 0 || peak < 0) return 1;
  PrintPeak(
      ("window program, " + std::to_string(program.state().eventList.EventCount()) + " rows listed")
          .c_str(),
      peak, idle);
  return 0;
}

// The peak resident size in KiB of `command` run to its end (it writes nothing), -1 on failure.
long ChildPeakKiB(const std::vector<std::string>& command) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& a : command) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss;
}

// quillstamp-service --once over `log`; idle is the same program over an empty log.
void MeasureServiceMemory(const std::filesystem::path& dir, const std::string& log) {
  const std::string empty = (dir / "empty-audit.log").string();
  std::ofstream(empty, std::ios::trunc).flush();
  const std::string service = QS_SERVICE_PROGRAM;
  const long idle =
      ChildPeakKiB({service, "--once", "--config", WriteSettings(dir / "service-idle", empty)});
  const long peak =
      ChildPeakKiB({service, "--once", "--config", WriteSettings(dir / "service", log)});
  if (idle < 0 || peak < 0)
    std::printf("  quillstamp-service --once: memory not measured (%s)\n", service.c_str());
  else
    PrintPeak("quillstamp-service --once", peak, idle);
  std::filesystem::remove(empty);
}

// One round of the reader: prints its wall and processor time, then what it read.
int ReadRound(const std::string& log) {
  const double cpuStart = CpuSeconds(RUSAGE_SELF);
  const auto start = Clock::now();
  const Read read = ReadEveryRecord(log);
  const double took = Seconds(start);
  std::printf("%.6f %.6f records %zu (%zu bytes) in %.3f s\n", took,
              CpuSeconds(RUSAGE_SELF) - cpuStart, read.records, read.bytes, took);
  return read.opened ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--memory") return MeasureMemory(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "--read") return ReadRound(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "--window-memory") return MeasureWindowMemory(argv[2]);
  const long events = argc > 1 ? std::atol(argv[1]) : 100000;
  namespace fs = std::filesystem;
  fs::path dir;
  bool ownDir = false;
  if (argc > 2) {
    dir = argv[2];
  } else {
    std::string pattern = (fs::temp_directory_path() / "quillstamp-audit-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    dir = pattern;
    ownDir = true;
  }
  const std::string log = (dir / "audit.log").string();

  const LogStats stats = WriteLog(log, events);
  std::printf("audit log: %ld events, %ld lines, %ld modifications, %.1f MB\n", events, stats.lines,
              stats.writes, static_cast<double>(fs::file_size(log)) / 1e6);

  // The reader alone: every record built through the log source, and the same log through
  // ausearch, round by round in turn, each round of either in a process of its own (one round
  // more: the first also brings the file into the page cache). The machine may be shared: the
  // best round of each is what is compared, and the spread is shown.
  constexpr int kRounds = 5;
  std::vector<double> ours;
  std::vector<double> oursCpu;
  std::vector<double> theirs;
  std::vector<double> theirsCpu;
  const std::string readCommand =
      "'" + fs::read_symlink("/proc/self/exe").string() + "' --read '" + log + "'";
  const std::string ausearchCommand =
      "ausearch -k quillstamp --raw -if '" + log + "' > /dev/null 2>&1";
  bool ausearchRuns = true;
  for (int round = 0; round <= kRounds; ++round) {
    double took = 0, cpu = 0;
    if (FILE* child = popen(readCommand.c_str(), "r")) {
      char line[256] = {};
      const bool read = std::fgets(line, sizeof line, child) != nullptr;
      const int status = pclose(child);
      if (!read || status != 0 || std::sscanf(line, "%lf %lf", &took, &cpu) != 2) {
        std::printf("log source: the reading round failed\n");
        return 1;
      }
      std::printf("log source: %s", line + std::strcspn(line, "r"));
    }
    if (round > 0) {
      ours.push_back(took);
      oursCpu.push_back(cpu);
    }
    if (!ausearchRuns) continue;
    const double cpuStart = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    const int status = std::system(ausearchCommand.c_str());
    const double ausearchTook = Seconds(start);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) {
      ausearchRuns = false;
      continue;
    }
    if (round > 0) {
      theirs.push_back(ausearchTook);
      theirsCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpuStart);
    }
  }

  // A whole scan pass at Performance 1 through the event-log service.
  {
    auto service = qs::platform::MakePosixEventLogService(log);
    qs::Settings settings;
    settings.Performance = 1;
    qs::EventList list(settings);
    qs::ScanState state;
    qs::RunState run;
    run.StopFlag = false;
    qs::SelectionContext selection{"nobody", 0};
    qs::bench::QuietView view;
    CountingComments comments;
    qs::ScanContext context{*service, list, state, settings, run, selection, view, comments};
    const auto start = Clock::now();
    qs::ScanPass(context);
    std::printf("scan pass (Performance 1): %s records, %ld selected in %.3f s\n",
                view.maxEvents.c_str(), comments.selected, Seconds(start));
  }

  const auto [oursMin, oursMax] = std::minmax_element(ours.begin(), ours.end());
  std::printf("log source, %d rounds: best %.3f s, worst %.3f s\n", kRounds, *oursMin, *oursMax);
  if (theirs.empty()) {
    std::printf("ausearch -k quillstamp --raw: not available\n");
  } else {
    const auto [theirMin, theirMax] = std::minmax_element(theirs.begin(), theirs.end());
    std::printf("ausearch -k quillstamp --raw, %zu rounds: best %.3f s, worst %.3f s\n",
                theirs.size(), *theirMin, *theirMax);
    std::printf("speed: ausearch best / log source best = %.2f (target: at least 2.00)\n",
                *theirMin / *oursMin);
    const double oursCpuBest = *std::min_element(oursCpu.begin(), oursCpu.end());
    const double theirsCpuBest = *std::min_element(theirsCpu.begin(), theirsCpu.end());
    std::printf(
        "processor time (user + system), best round: log source %.3f s, ausearch %.3f s; "
        "ausearch / log source = %.2f (target: at least 2.00)\n",
        oursCpuBest, theirsCpuBest, theirsCpuBest / oursCpuBest);
  }

  // Peak memory over 300 MB logs: of the reader, of the window program and of the service, each
  // measured in a program of its own so that nothing of this one counts.
  struct Big {
    const char* what;
    long events;
    std::size_t pathLength;
    bool flood;
  };
  for (const Big& big : {Big{"long paths", 70000, 1500, false},
                         Big{"a flood of writes by one user", 330000, 0, true}}) {
    const std::string bigLog = (dir / "big-audit.log").string();
    const LogStats bigStats = WriteLog(bigLog, big.events, big.pathLength, big.flood);
    const std::string self = "'" + fs::read_symlink("/proc/self/exe").string() + "'";
    std::printf("audit log of %s: %ld events, %ld modifications, %.1f MB\n", big.what, big.events,
                bigStats.writes, static_cast<double>(fs::file_size(bigLog)) / 1e6);
    std::fflush(stdout);
    if (std::system((self + " --memory '" + bigLog + "'").c_str()) != 0)
      std::printf("  memory: not measured\n");
    const std::string windowFolder = (dir / "window").string();
    WriteSettings(windowFolder, bigLog);
    std::fflush(stdout);
    if (std::system((self + " --window-memory '" + windowFolder + "'").c_str()) != 0)
      std::printf("  window program: memory not measured\n");
    MeasureServiceMemory(dir, bigLog);
    std::fflush(stdout);
    fs::remove(bigLog);
  }

  // Passes that go on after the last record examined, through one service kept for the run as
  // the program keeps it: the first reads the whole log, the next the unchanged log, the last the
  // log with 1,000 more events appended (outside the timing).
  {
    auto service = qs::platform::MakePosixEventLogService(log);
    qs::Settings settings;
    settings.Performance = 1;
    qs::EventList list(settings);
    qs::ScanState state;
    qs::RunState run;
    run.StopFlag = false;
    qs::SelectionContext selection{"nobody", 0};
    qs::bench::QuietView view;
    CountingComments comments;
    qs::ScanContext context{*service, list, state, settings, run, selection, view, comments};
    auto start = Clock::now();
    qs::ScanPass(context);
    const double first = Seconds(start);
    std::printf("resumed passes: first pass %.3f s, %s records\n", first, view.maxEvents.c_str());
    start = Clock::now();
    qs::ScanPass(context);
    const double unchanged = Seconds(start);
    std::printf(
        "pass over the unchanged log: %.5f s = %.2f%% of the first pass (target: at most "
        "1%%)\n",
        unchanged, 100.0 * unchanged / first);
    constexpr long kNew = 1000;
    const long selectedBefore = comments.selected;
    const LogStats added = WriteLog(log, kNew, 0, false, events);
    start = Clock::now();
    qs::ScanPass(context);
    const double grown = Seconds(start);
    std::printf(
        "pass with %ld new events (%ld modifications): %.4f s = %.2f%% of the first pass "
        "(target: at most 5%%); %s records, %ld selected\n",
        kNew, added.writes, grown, 100.0 * grown / first, view.maxEvents.c_str(),
        comments.selected - selectedBefore);
  }

  if (ownDir) fs::remove_all(dir);
  return 0;
}
