// Times scan passes over the largest real Windows Vista-and-later log of the shared fixtures
// (LM_5145_Remote_FileCopy.evtx, 869 events 5145), repeated until about 100,000 records have been
// read, at Performance 1 with both comment kinds off; and, in the same run, evtxexport over the
// same file as many times as it takes to run for about as long. Prints records per second for both,
// and for a loop that only has libevtx hand over each record and its event ID: the floor of any
// reader built on libevtx, which parses a record's whole binary XML when it hands the record over.
// libevtx cannot write a log, so the file is not grown to 100,000 records; the passes are repeated
// instead, each one opening and reading the whole file as a scan does.
//
//   evtx_bench [records] [log]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <libevtx.h>

#include "comments/comment_pass.h"
#include "comments/comment_writers.h"
#include "platform/path_map.h"
#include "platform/services.h"
#include "quiet_view.h"
#include "scan/scan_pass.h"

namespace {

using Clock = std::chrono::steady_clock;

// Both comment kinds are off, so the writers are never called.
class NoWriters final : public qs::CommentWriters {
 public:
  void WriteMacComment(int) override {}
  void RegenerateMacComment(int) override {}
  void WriteWinComment(int) override {}
  void RegenerateWinComment(int) override {}
};

// Records per second of a loop that opens the log and has libevtx hand over every record and its
// event ID, nothing more, repeated for about `seconds`. 0 when the log does not open.
double FetchOnlyRate(const std::string& log, double seconds) {
  long records = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  while (elapsed < seconds) {
    libevtx_file_t* file = nullptr;
    if (libevtx_file_initialize(&file, nullptr) != 1) return 0;
    if (libevtx_file_open(file, log.c_str(), libevtx_get_access_flags_read(), nullptr) != 1) {
      libevtx_file_free(&file, nullptr);
      return 0;
    }
    int count = 0;
    libevtx_file_get_number_of_records(file, &count, nullptr);
    for (int i = 0; i < count; ++i) {
      libevtx_record_t* record = nullptr;
      if (libevtx_file_get_record_by_index(file, i, &record, nullptr) != 1) break;
      std::uint32_t eventId = 0;
      libevtx_record_get_event_identifier(record, &eventId, nullptr);
      libevtx_record_free(&record, nullptr);
      ++records;
    }
    libevtx_file_close(file, nullptr);
    libevtx_file_free(&file, nullptr);
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  return static_cast<double>(records) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const long wanted = argc > 1 ? std::atol(argv[1]) : 100000;
  const std::string log =
      argc > 2 ? argv[2] : std::string(QS_FIXTURES_DIR) + "/evtx/LM_5145_Remote_FileCopy.evtx";
  if (!std::filesystem::is_regular_file(log)) {
    std::fprintf(stderr, "missing log: %s\n", log.c_str());
    return 1;
  }

  qs::Settings settings;
  settings.Performance = 1;
  qs::platform::PathMap drives;
  const qs::platform::PlatformServices platform = qs::platform::MakePlatformServices(log, drives);
  qs::RunState run;
  run.StopFlag = false;
  qs::SelectionContext selection{"nobody", 0};
  qs::bench::QuietView view;
  NoWriters writers;

  long records = 0;
  int passes = 0;
  int listed = 0;
  const auto start = Clock::now();
  while (records < wanted) {
    // A fresh list and state each time: every pass reads and selects the whole log again.
    qs::EventList list(settings);
    list.SetUpList(9495);
    qs::ScanState state;
    qs::FileCommentStep comments(list, state.currentEvent, settings, *platform.fileStatus, writers,
                                 view);
    qs::ScanContext context{*platform.eventLog, list, state,   settings, run,
                            selection,          view, comments};
    qs::ScanPass(context);
    const long inLog = std::atol(view.maxEvents.c_str());
    if (inLog <= 0) {
      std::fprintf(stderr, "the log gave no records\n");
      return 1;
    }
    records += inLog;
    listed = list.EventCount();
    ++passes;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("log: %s\n", log.c_str());
  std::printf("pass: %d passes, %ld records in %.3f s: %.0f records/s (%d events listed a pass)\n",
              passes, records, seconds, static_cast<double>(records) / seconds, listed);

  if (std::system("command -v evtxexport > /dev/null 2>&1") != 0) {
    std::printf("evtxexport: not installed (Debian package libevtx-utils)\n");
    return 0;
  }
  const std::string command = "evtxexport '" + log + "' > /dev/null 2>&1";
  const long perRun = records / passes;
  int runs = 0;
  const auto exportStart = Clock::now();
  double exportSeconds = 0;
  // As long as the passes took, and at least three runs.
  while (runs < 3 || exportSeconds < seconds) {
    if (std::system(command.c_str()) != 0) {
      std::printf("evtxexport failed\n");
      return 1;
    }
    ++runs;
    exportSeconds = std::chrono::duration<double>(Clock::now() - exportStart).count();
  }
  const double exportRate = static_cast<double>(perRun * runs) / exportSeconds;
  std::printf("evtxexport: %d runs, %ld records in %.3f s: %.0f records/s\n", runs, perRun * runs,
              exportSeconds, exportRate);
  std::printf("pass / evtxexport, records per second: %.2f (target: at least 5)\n",
              static_cast<double>(records) / seconds / exportRate);
  const double fetchRate = FetchOnlyRate(log, seconds);
  std::printf("libevtx record fetch alone: %.0f records/s; fetch / evtxexport: %.2f\n", fetchRate,
              fetchRate / exportRate);
  return 0;
}
