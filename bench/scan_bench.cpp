// Times one scan pass over a Security log of 100,000 records (a quarter event-560 writes of
// distinct files, a quarter event-560 reads, half other events) at Performance 1 with both comment
// kinds off, then a pass over the unchanged log and one over the log with 1,000 more records (both
// resumed after the last record examined), and, in the same run, evtexport over the same file.
// Prints the figures.
//
//   scan_bench [records]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "comments/comment_pass.h"
#include "comments/comment_writers.h"
#include "evtwriter/evt_writer.h"
#include "platform/path_map.h"
#include "platform/services.h"
#include "quiet_view.h"
#include "scan/scan_pass.h"

namespace {

using Clock = std::chrono::steady_clock;

void MakeLog(const std::string& path, int records) {
  qs::evtwriter::EvtWriter writer;
  for (int i = 0; i < records; ++i) {
    const auto time = static_cast<std::uint32_t>(1700000000 + i);
    switch (i % 4) {
      case 0: {
        qs::evtwriter::Event560 e;
        e.time = time;
        e.objectName = "/srv/share/projects/file" + std::to_string(i) + ".doc";
        e.primaryUser = (i % 8 == 0) ? "alice" : "bob";
        writer.Add(e);
        break;
      }
      case 1: {
        qs::evtwriter::Event560 e;
        e.time = time;
        e.objectName = "/srv/share/projects/file" + std::to_string(i) + ".doc";
        e.accesses = qs::evtwriter::kReadAccesses;
        writer.Add(e);
        break;
      }
      default: {
        qs::evtwriter::EvtRecord r;
        r.timeGenerated = r.timeWritten = time;
        r.eventId = (i % 4 == 2) ? 528 : 538;
        r.strings = {"alice", "DOMAIN", "(0x0,0x3E7)", "2", "User32", "Negotiate", "FILESERVER"};
        writer.Add(r);
      }
    }
  }
  writer.WriteFile(path);
}

// Both comment kinds are off, so the writers are never called.
class NoWriters final : public qs::CommentWriters {
 public:
  void WriteMacComment(int) override {}
  void RegenerateMacComment(int) override {}
  void WriteWinComment(int) override {}
  void RegenerateWinComment(int) override {}
};

long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  const auto dir =
      std::filesystem::temp_directory_path() / ("quillstamp-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string log = (dir / "Security.evt").string();

  // The log is made in a child so that the writer's memory does not count in the pass's peak.
  if (pid_t child = fork(); child == 0) {
    MakeLog(log, records);
    _exit(0);
  } else {
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  }
  const auto logBytes = std::filesystem::file_size(log);
  const long baseKiB = PeakKiB();

  qs::Settings settings;
  settings.Performance = 1;
  qs::platform::PathMap drives;
  const qs::platform::PlatformServices platform = qs::platform::MakePlatformServices(log, drives);
  qs::EventList list(settings);
  list.SetUpList(9495);
  qs::ScanState state;
  qs::RunState run;
  run.StopFlag = false;
  qs::SelectionContext selection{"nobody", 0};
  qs::bench::QuietView view;
  NoWriters writers;
  qs::FileCommentStep comments(list, state.currentEvent, settings, *platform.fileStatus, writers,
                               view);
  qs::ScanContext context{*platform.eventLog, list, state,   settings, run,
                          selection,          view, comments};

  const auto start = Clock::now();
  qs::ScanPass(context);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const long peakKiB = PeakKiB();

  std::printf("log: %d records, %.1f MiB\n", records, static_cast<double>(logBytes) / 1048576.0);
  std::printf("pass: %.3f s, %.0f records/s, %d events listed (list limit %d)\n", seconds,
              records / seconds, list.EventCount(), settings.MaxSelectedEvents);
  std::printf("peak memory: %.1f MiB (%.1f MiB before the pass; log size + 32 MiB = %.1f MiB)\n",
              peakKiB / 1024.0, baseKiB / 1024.0, static_cast<double>(logBytes) / 1048576.0 + 32.0);

  // The passes that follow go on after the last record examined: over the unchanged log, then
  // over the log with 1,000 more records (written by a child, outside the timing).
  {
    const auto unchangedStart = Clock::now();
    qs::ScanPass(context);
    const double unchanged = std::chrono::duration<double>(Clock::now() - unchangedStart).count();
    std::printf(
        "pass over the unchanged log: %.5f s = %.2f%% of the first pass (target: at most "
        "1%%)\n",
        unchanged, 100.0 * unchanged / seconds);
    constexpr int kNew = 1000;
    if (pid_t child = fork(); child == 0) {
      MakeLog(log, records + kNew);
      _exit(0);
    } else {
      int status = 0;
      waitpid(child, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    }
    const int listedBefore = list.EventCount();
    const auto grownStart = Clock::now();
    qs::ScanPass(context);
    const double grown = std::chrono::duration<double>(Clock::now() - grownStart).count();
    std::printf(
        "pass with %d new records: %.4f s = %.2f%% of the first pass (target: at most 5%%); "
        "%s records in the log, list %d -> %d rows\n",
        kNew, grown, 100.0 * grown / seconds, view.maxEvents.c_str(), listedBefore,
        list.EventCount());
  }

  const std::string command = "evtexport -m all '" + log + "' > /dev/null 2>&1";
  if (std::system("command -v evtexport > /dev/null 2>&1") == 0) {
    const auto exportStart = Clock::now();
    const int rc = std::system(command.c_str());
    const double exportSeconds = std::chrono::duration<double>(Clock::now() - exportStart).count();
    std::printf("evtexport -m all: %.3f s (exit %d); pass / evtexport = %.3f\n", exportSeconds, rc,
                seconds / exportSeconds);
  } else {
    std::printf("evtexport: not installed (Debian package libevt-utils)\n");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
