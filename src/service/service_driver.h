// The server form of the program: the window's whole analysis without a window. It owns the
// program's state, reads the settings file, wires the platform's services to the scan and the
// comment step as the window program does, and drives the run control with a one-second tick
// as if Automatic start were always on. Between two passes it follows the Security log: a change
// of the log brings the next pass forward (see FollowPacer), and Temporisation stays the longest
// wait. What the window would show goes to a log of lines and,
// when asked, to a list file; what the window would learn from clicks comes from the process's
// signals: a stop request ends the pass after the record in hand, a reload request rereads the
// settings at the start of the next pass.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comments/comment_pass.h"
#include "comments/file_comments.h"
#include "core/run_control.h"
#include "core/system_identity.h"
#include "platform/log_watch.h"
#include "platform/path_map.h"
#include "platform/service_host.h"
#include "platform/services.h"
#include "scan/program_state.h"
#include "service/exit_codes.h"
#include "service/service_log.h"

namespace qs {

inline constexpr std::string_view kDefaultServiceConfig = "/etc/quillstamp/Quillstamp.ini";
// The group that reads the system's logs on Debian: the readers of the list file by default.
inline constexpr std::string_view kDefaultListGroup = "adm";

struct ServiceOptions {
  std::string configPath{kDefaultServiceConfig};
  bool once = false;
  std::optional<std::string> listFile;
  // The group that may read the list file (mode 0640); the service account's own when there is
  // no such group.
  std::string listGroup{kDefaultListGroup};
  bool verbose = false;
};

// When changes of the log call for a pass. The writes of one save come as several changes, and a
// busy server's log changes without pause: a pass starts once the log has been quiet for kQuiet
// after its last change, but no later than kLongestBatch after the first change that no pass has
// read yet, so that a flood is read in batches and never waits for a quiet moment.
class FollowPacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kQuiet{250};
  static constexpr std::chrono::milliseconds kLongestBatch{1000};

  void Changed(Clock::time_point at);
  // A pass starts: it reads every change seen so far.
  void PassStarted();
  // When the changes not yet read call for a pass; nullopt when there are none.
  std::optional<Clock::time_point> PassDue() const;

 private:
  std::optional<Clock::time_point> first_;
  Clock::time_point last_{};
};

// What the service waits with: the clock, and the watch of the Security log's folder that ends a
// wait when the log changes. The program uses the system's; a test may give its own.
struct ServiceWaiting {
  std::function<std::chrono::steady_clock::time_point()> now = [] {
    return std::chrono::steady_clock::now();
  };
  std::function<std::unique_ptr<platform::LogWatch>(const std::string& logPath, std::string& why)>
      watchLog = platform::WatchLogFolder;
};

// The event list as the list file holds it: UTF-8, one line per row, the header row first and
// then the events newest first, the cells separated by tabs and each line ended by LF. Each cell
// is the text the window shows: bytes that are not UTF-8 become U+FFFD. A tab, CR or LF inside a
// cell (a file name may hold one) would break the line apart, so it is written as its control
// picture (U+2409, U+240D, U+240A).
std::string ListFileText(const EventList& list);

class ServiceDriver final : public ScanView, private RunControlView, private EventListObserver {
 public:
  ServiceDriver(ServiceOptions options, platform::SignalWatch& signals, ServiceLog& log,
                ServiceWaiting waiting = {});
  ~ServiceDriver() override;

  // Start-up, then one pass (--once) or passes until a stop request. Returns the exit code.
  int Run();

  ProgramState& state() { return state_; }

  // EventPump: a round looks at the signals; a stop request ends the analysis (StopFlag), as the
  // Stop button would inside the pass's yield.
  bool ProcessPendingEvents() override;

  // ScanView
  void ShowEventsStatus(std::string_view) override {}
  void ShowMaxEvents(std::string_view) override {}
  void SetProgressMaximum(std::int32_t) override {}
  // The progress value is how far the pass has read; the pass sets it only while the window is
  // visible, and a service is always "visible" for that purpose.
  void SetProgressValue(std::int32_t value) override;
  bool IsWindowVisible() const override { return true; }
  void ShowOpenLogError(std::string_view message) override;
  void ShowLogChanged(std::string_view message) override;
  void EnableTimer() override;

 private:
  struct Wiring;
  class CountingStep;

  // RunControlView: a service has no buttons; the timer and the pass are what matter.
  void SetGoButton(bool) override {}
  void SetStartMenuCaption(std::string_view) override {}
  void SetRunLocksEnabled(bool) override {}
  void RepaintNow() override {}
  void SetTimerEnabled(bool enabled) override;
  void SetWaitingValue(std::int32_t) override {}
  void RunScanPass() override;

  // EventListObserver
  void RowInsertedAtTop() override { ++listedThisPass_; }

  bool Start();
  // Reads the settings file; false when it exists but cannot be read. At start that is a
  // settings error; later the settings in use stay as they are.
  bool LoadSettings(bool atStart);
  void ReportSettingValues(const std::string& path);
  std::unique_ptr<Wiring> MakeWiring();
  void HandleSignals(platform::ServiceSignals signals);
  // Watches the Security log's folder, unless the log watched is already this one; says once
  // whether the log is followed or only read every Temporisation seconds.
  void FollowLog();
  // Waits until `until`, a signal, or a change of the log, whichever comes first.
  void WaitUntil(std::chrono::steady_clock::time_point until);
  void AfterPass(std::chrono::steady_clock::duration took);
  void WriteListFile(const std::string& text);
  void Log(std::string_view text) { log_.Line(text); }

  ServiceOptions options_;
  platform::SignalWatch& signals_;
  ServiceLog& log_;
  ServiceWaiting waiting_;
  ProgramState state_;
  RunControl runControl_;
  std::unique_ptr<Wiring> wiring_;
  SystemIdentity identity_;
  // What the settings file names besides the eight settings.
  std::string securityLogPath_;
  platform::PathMap drives_;
  std::vector<std::string> auditedFolders_;

  bool stopRequested_ = false;
  bool reloadPending_ = false;
  bool timerActive_ = false;
  std::chrono::steady_clock::time_point nextTick_{};

  // Following the log.
  std::unique_ptr<platform::LogWatch> logWatch_;
  std::optional<std::string> followedLog_;  // the log that logWatch_ was asked to watch
  FollowPacer pacer_;

  // The list file's group, found at its first write.
  std::optional<unsigned> listGroupId_;
  bool listGroupNoted_ = false;  // that the group could not be given was logged

  // The pass in progress.
  int listedThisPass_ = 0;
  int writtenThisPass_ = 0;  // comments written for this pass's events, and retries that worked
  std::int32_t recordsRead_ = 0;
  bool openFailed_ = false;
  bool anyOpenFailure_ = false;
};

}  // namespace qs
