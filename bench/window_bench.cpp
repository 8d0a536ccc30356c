// How much a lively window costs a pass: one pass over a 100,000-record Security log, read from
// an .evt file, with the real main window shown, at Performance 1 and at Performance 50. Each
// yield of Performance 50 asks for 50 rounds of event processing; rounds stop as soon as nothing
// is pending, so the two times should be close.
//
//   window_bench [records]     (QT_QPA_PLATFORM=offscreen unless a platform is chosen)
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "evtwriter/evt_writer.h"
#include "platform/path_map.h"
#include "platform/services.h"
#include "ui/main_window.h"

namespace {

class CountingComments : public qs::CommentStep {
 public:
  void CommentPass() override { ++events; }
  void SummaryCheckPass() override {}
  long events = 0;
};

std::string MakeLog(int records) {
  const auto path = std::filesystem::temp_directory_path() / "quillstamp_window_bench.evt";
  qs::evtwriter::EvtWriter log;
  const char* users[] = {"alice", "bob", "carol"};
  for (int i = 0; i < records; ++i) {
    const auto t = 1700000000u + static_cast<std::uint32_t>(i);
    if (i % 4 == 3) {
      qs::evtwriter::EvtRecord r;  // a logon
      r.timeGenerated = r.timeWritten = t;
      r.eventId = 528;
      r.strings = {users[i % 3], "OFFICE", "(0x0,0x1)", "2"};
      log.Add(r);
      continue;
    }
    qs::evtwriter::Event560 e;
    e.time = t;
    e.primaryUser = users[i % 3];
    e.objectName = "/srv/shared/file" + std::to_string(i % 500) + ".txt";
    if (i % 4 == 1) e.accesses = qs::evtwriter::kReadAccesses;
    log.Add(e);
  }
  log.WriteFile(path.string());
  return path.string();
}

double TimePass(const std::string& logPath, std::int16_t performance, long& selected) {
  const qs::platform::PathMap drives;
  const qs::platform::PlatformServices platform =
      qs::platform::MakePlatformServices(logPath, drives);
  qs::ProgramState state;
  qs::WindowServices services;
  services.system = platform.system.get();
  services.eventLog = platform.eventLog.get();
  services.readSettings = [performance] {
    qs::Settings s;
    s.Performance = performance;
    s.MaxSelectedEvents = 3000;
    return s;
  };
  services.trayAvailable = [] { return false; };
  qs::frmQuillstamp window(state, services);
  CountingComments comments;
  window.SetCommentStep(&comments);
  window.Form_Load();
  window.show();
  for (int i = 0; i < 10; ++i) QApplication::processEvents();

  const auto start = std::chrono::steady_clock::now();
  window.cmdGo_Click();  // returns when the pass is over
  const auto end = std::chrono::steady_clock::now();
  window.cmdGo_Click();  // stop
  selected = comments.events;
  return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string log = MakeLog(records);

  long selected = 0;
  TimePass(log, 1, selected);  // warm-up: file cache, fonts
  const double at1 = TimePass(log, 1, selected);
  const double at50 = TimePass(log, 50, selected);
  std::printf("window pass over %d records (%ld selected), window shown (%s):\n", records, selected,
              qPrintable(QGuiApplication::platformName()));
  std::printf("  Performance  1: %8.3f s  (%.2f us/record)\n", at1, at1 * 1e6 / records);
  std::printf("  Performance 50: %8.3f s  (%.2f us/record)\n", at50, at50 * 1e6 / records);
  std::printf("  ratio 50/1: %.2f\n", at50 / at1);
  std::filesystem::remove(log);
  return 0;
}
