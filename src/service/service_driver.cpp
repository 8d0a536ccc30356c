#include "service/service_driver.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "core/app_title.h"
#include "core/settings_file.h"
#include "core/text_number.h"
#include "platform/ascii.h"
#include "platform/profile.h"
#include "platform/utf.h"

namespace qs {

namespace {

using Clock = std::chrono::steady_clock;

// The width the window's grid is set up with; only the column widths depend on it, and the
// service shows none.
constexpr int kListWidthTwips = 9510;
constexpr auto kTick = std::chrono::seconds(1);
// How many failed files one line of the log names; the rest are counted.
constexpr std::size_t kMaxNamedFailures = 5;
// How many unknown keys of the settings file are named one per line; the rest are counted, so
// that a file of a million stray keys makes a log line, not a million.
constexpr std::size_t kMaxNamedUnknownKeys = 20;

std::string ListCell(const std::string& cell) {
  // The window shows the cell's bytes as UTF-8, each invalid byte as U+FFFD.
  const std::string text = platform::Utf16ToUtf8(platform::Utf8ToUtf16(cell));
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\t':
        out += "\u2409";
        break;
      case '\n':
        out += "\u240A";
        break;
      case '\r':
        out += "\u240D";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool IsWritten(std::string_view mark) {
  return mark == StatusMark::WinWritten || mark == StatusMark::WinRegenerated ||
         mark == StatusMark::MacWritten || mark == StatusMark::MacRegenerated;
}

std::string Seconds(Clock::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s",
                std::chrono::duration_cast<std::chrono::duration<double>>(d).count());
  return text;
}

// One event row as the verbose log shows it: the list file's line.
std::string RowLine(const EventList& list, int row) {
  std::string line;
  for (int c = 0; c < kColumnCount; ++c) {
    if (c != 0) line += '\t';
    line += ListCell(list.CellText(row, c));
  }
  return line;
}

}  // namespace

void FollowPacer::Changed(Clock::time_point at) {
  if (!first_) first_ = at;
  last_ = at;
}

void FollowPacer::PassStarted() { first_.reset(); }

std::optional<FollowPacer::Clock::time_point> FollowPacer::PassDue() const {
  if (!first_) return std::nullopt;
  return std::min(last_ + kQuiet, *first_ + kLongestBatch);
}

std::string ListFileText(const EventList& list) {
  std::string text;
  for (int row = 0; row <= list.EventCount(); ++row) text += RowLine(list, row) + "\n";
  return text;
}

// The comment step as the pass sees it: the program's own, counting the comments that end
// written. An event's marks are final when its CommentPass returns (later events of the same
// file may only turn them into "w" or "m"), and a retry of the summary check worked when a cell
// that held "?" holds a written mark afterwards; no row moves during that check.
class ServiceDriver::CountingStep final : public CommentStep {
 public:
  CountingStep(CommentStep& inner, ServiceDriver& driver) : inner_(inner), driver_(driver) {}

  void CommentPass() override {
    const int listedBefore = driver_.listedThisPass_;
    inner_.CommentPass();
    const EventList& list = driver_.state_.eventList;
    // A folder is dropped without a row.
    if (driver_.listedThisPass_ == listedBefore || list.EventCount() < 1) return;
    for (const int column : {kColWin, kColMac})
      driver_.writtenThisPass_ += IsWritten(list.CellText(1, column)) ? 1 : 0;
  }

  void SummaryCheckPass() override {
    const EventList& list = driver_.state_.eventList;
    std::vector<std::pair<int, int>> failed;
    for (int row = 1; row <= list.EventCount(); ++row)
      for (const int column : {kColWin, kColMac})
        if (StatusMark::IsFailed(list.CellText(row, column))) failed.emplace_back(row, column);
    inner_.SummaryCheckPass();
    for (const auto& [row, column] : failed)
      if (row <= list.EventCount() && IsWritten(list.CellText(row, column)))
        ++driver_.writtenThisPass_;
  }

 private:
  CommentStep& inner_;
  ServiceDriver& driver_;
};

// The platform's services and the comment step over them, made again when the settings name
// another log or other drives. The drives must outlive the services that were given them.
struct ServiceDriver::Wiring {
  platform::PathMap drives;
  platform::PlatformServices platform;
  std::unique_ptr<FileComments> writers;
  std::unique_ptr<FileCommentStep> comments;
  std::unique_ptr<CommentStep> counting;
};

ServiceDriver::ServiceDriver(ServiceOptions options, platform::SignalWatch& signals,
                             ServiceLog& log, ServiceWaiting waiting)
    : options_(std::move(options)),
      signals_(signals),
      log_(log),
      waiting_(std::move(waiting)),
      runControl_(state_.run, state_.settings, *this) {
  state_.eventList.SetObserver(this);
}

ServiceDriver::~ServiceDriver() { state_.eventList.SetObserver(nullptr); }

std::unique_ptr<ServiceDriver::Wiring> ServiceDriver::MakeWiring() {
  auto w = std::make_unique<Wiring>();
  w->drives = drives_;
  w->platform = platform::MakePlatformServices(securityLogPath_, w->drives, auditedFolders_);
  w->writers = std::make_unique<FileComments>(state_.eventList, state_.scan.currentEvent,
                                              state_.settings, *this, w->drives,
                                              *w->platform.streams, w->platform.makeSummary);
  w->comments =
      std::make_unique<FileCommentStep>(state_.eventList, state_.scan.currentEvent, state_.settings,
                                        *w->platform.fileStatus, *w->writers, *this);
  w->counting = std::make_unique<CountingStep>(*w->comments, *this);
  return w;
}

bool ServiceDriver::LoadSettings(bool atStart) {
  const std::string& path = options_.configPath;
  bool missing = false;
  std::string reason;
  if (!platform::FileReadable(path, missing, reason)) {
    if (missing) {
      Log("Settings file " + path + " not found: the defaults are used");
    } else if (atStart) {
      Log("Settings error: the settings file " + path + " cannot be read: " + reason);
      return false;
    } else {
      Log("Settings file " + path + " cannot be read (" + reason +
          "): the settings in use are kept");
      return false;
    }
  }
  const SettingsFile file(path);
  state_.settings = file.ReadConfiguration();
  securityLogPath_ = file.SecurityLogPath();
  drives_ = file.ReadDrives();
  auditedFolders_ = file.ReadAuditedFolders();
  if (!missing) ReportSettingValues(path);
  // Without the Windows 2000 comment on this system the kind stays off, as the window's box does.
  if (wiring_ != nullptr && !identity_.offersWin2000Comment) state_.settings.WinComments = false;
  return true;
}

// Says which values of the file are not used as written: the reading rules replace them by a
// default without a word, which a window shows in its controls and a service must say.
void ServiceDriver::ReportSettingValues(const std::string& path) {
  const auto entries = platform::ReadIniSection(kConfigurationSection, path);
  if (entries.empty()) {
    Log("Settings file " + path + " has no [Configuration] keys: the defaults are used");
    return;
  }
  const Settings defaults;
  struct NumberKey {
    std::string_view key;
    std::int32_t defaultValue;
  };
  const NumberKey numbers[] = {{kKeyTemporisation, defaults.Temporisation},
                               {kKeyMaxWinComments, defaults.MaxWinComments},
                               {kKeyMaxSelectedEvents, defaults.MaxSelectedEvents},
                               {kKeyPerformance, defaults.Performance}};
  const std::string_view flags[] = {kKeyWinComments, kKeyMacComments, kKeyTimeSeconds,
                                    kKeyAutomatic};
  // The entries hold each name once already (its first key, the one that counts).
  std::size_t unknown = 0;
  for (const auto& [key, value] : entries) {
    // A stop asked for while a huge file is looked through ends start-up here.
    HandleSignals(signals_.Take());
    if (stopRequested_) return;
    bool known = false;
    for (const NumberKey& n : numbers) {
      if (!platform::EqualsNoCase(key, n.key)) continue;
      known = true;
      const double number = RoundHalfEven(TextToNumber(value));
      if (number == 0) {
        Log("Settings: " + key + "=" + value + " does not read as a number other than 0: " +
            std::to_string(n.defaultValue) + " is used");
      }
    }
    for (const std::string_view f : flags) {
      if (!platform::EqualsNoCase(key, f)) continue;
      known = true;
      // Only a text that reads as 1 is on; a 0 written as such, or nothing, is plainly off.
      const bool plainlyOff =
          value.empty() || (TextToNumber(value) == 0 && value.find('0') != std::string::npos);
      if (!FlagSetting(value) && !plainlyOff) {
        Log("Settings: " + key + "=" + value + " reads as neither 1 nor 0: it is off");
      }
    }
    if (!known && ++unknown <= kMaxNamedUnknownKeys)
      Log("Settings: the key " + key + " of [Configuration] is not known; ignored");
  }
  if (unknown > kMaxNamedUnknownKeys) {
    Log("Settings: " + std::to_string(unknown - kMaxNamedUnknownKeys) +
        " more keys of [Configuration] are not known; ignored");
  }
}

bool ServiceDriver::Start() {
  if (!LoadSettings(true)) return false;
  wiring_ = MakeWiring();
  identity_ = ReadSystemIdentity(*wiring_->platform.system);
  if (!identity_.offersWin2000Comment) state_.settings.WinComments = false;
  state_.selection.OwnAccountName = identity_.OwnAccountName;
  std::int32_t bias = 0;
  if (wiring_->platform.system->ReadTimeZone(bias) == platform::kTimeZoneIdInvalid) bias = 0;
  state_.selection.TimeZoneBias = bias;
  state_.eventList.SetUpList(kListWidthTwips);
  state_.run.StopFlag = true;
  state_.run.RemainingWait = state_.settings.Temporisation;

  const Settings& s = state_.settings;
  Log(std::string(kVersionedTitle) + " service: settings " + options_.configPath +
      ", Security log " + securityLogPath_ + "; Temporisation=" + std::to_string(s.Temporisation) +
      " WinComments=" + (s.WinComments ? "1" : "0") + " MacComments=" +
      (s.MacComments ? "1" : "0") + " TimeSeconds=" + (s.TimeSeconds ? "1" : "0") +
      " MaxWinComments=" + std::to_string(s.MaxWinComments) + " MaxSelectedEvents=" +
      std::to_string(s.MaxSelectedEvents) + " Performance=" + std::to_string(s.Performance));
  Log("Events generated by account '" + identity_.OwnAccountName + "' are not selected");
  return true;
}

void ServiceDriver::HandleSignals(platform::ServiceSignals signals) {
  if (signals.reload && !reloadPending_) {
    reloadPending_ = true;
    Log("Reload requested: the settings are read again at the next pass");
  }
  if (signals.stop && !stopRequested_) {
    stopRequested_ = true;
    Log("Stop requested");
    // The Stop button: inside a pass it ends the pass after the record in hand.
    if (!state_.run.StopFlag) runControl_.cmdGo_Click();
  }
}

bool ServiceDriver::ProcessPendingEvents() {
  const platform::ServiceSignals s = signals_.Take();
  HandleSignals(s);
  return s.stop || s.reload;
}

void ServiceDriver::SetProgressValue(std::int32_t value) {
  recordsRead_ = std::max(recordsRead_, value);
}

void ServiceDriver::ShowOpenLogError(std::string_view message) {
  openFailed_ = true;
  anyOpenFailure_ = true;
  Log(std::string(message) + " (" + securityLogPath_ + ": " +
      platform::WhyFileCannotBeRead(securityLogPath_) + ")");
}

void ServiceDriver::ShowLogChanged(std::string_view message) {
  Log(std::string(message) + " (" + securityLogPath_ + ")");
}

void ServiceDriver::EnableTimer() { SetTimerEnabled(true); }

void ServiceDriver::SetTimerEnabled(bool enabled) {
  if (!enabled) {
    timerActive_ = false;
  } else if (!timerActive_) {
    timerActive_ = true;
    nextTick_ = waiting_.now() + kTick;
  }
}

void ServiceDriver::RunScanPass() {
  if (reloadPending_) {
    reloadPending_ = false;
    if (LoadSettings(false)) {
      wiring_ = MakeWiring();
      Log("Settings read again from " + options_.configPath);
      FollowLog();
    }
  }
  // Whatever the log holds now is read by this pass.
  pacer_.PassStarted();
  listedThisPass_ = 0;
  writtenThisPass_ = 0;
  recordsRead_ = 0;
  openFailed_ = false;
  const auto start = waiting_.now();
  ScanContext context{*wiring_->platform.eventLog,
                      state_.eventList,
                      state_.scan,
                      state_.settings,
                      state_.run,
                      state_.selection,
                      *this,
                      *wiring_->counting};
  ScanPass(context);
  AfterPass(waiting_.now() - start);
}

void ServiceDriver::AfterPass(Clock::duration took) {
  const EventList& list = state_.eventList;
  const int newRows = std::min(listedThisPass_, list.EventCount());
  const int written = writtenThisPass_;
  int failures = 0;
  std::string failed;
  std::size_t named = 0;
  for (int row = 1; row <= list.EventCount(); ++row) {
    for (const int column : {kColWin, kColMac}) {
      if (!StatusMark::IsFailed(list.CellText(row, column))) continue;
      ++failures;
      if (named++ < kMaxNamedFailures) {
        failed += (named == 1 ? "" : "; ") + ListCell(list.CellText(row, kColFile)) +
                  (column == kColWin ? " (Win)" : " (Mac)");
      }
    }
  }

  std::string line = "Pass: ";
  if (openFailed_) {
    line += "log not read";
  } else {
    line += std::to_string(recordsRead_) + " of " + std::to_string(state_.scan.RecordsInLog) +
            " records read";
  }
  if (stopRequested_) line += " (stopped)";
  line += ", " + std::to_string(listedThisPass_) + " events listed, " + std::to_string(written) +
          " comments written, " + std::to_string(failures) + " failures (\"?\"), " +
          std::to_string(list.EventCount()) + " rows in the list, " + Seconds(took);
  Log(line);
  if (options_.verbose) {
    for (int row = newRows; row >= 1; --row) Log("Event: " + RowLine(list, row));
  }
  if (failures > 0) {
    if (named > kMaxNamedFailures)
      failed += "; and " + std::to_string(named - kMaxNamedFailures) + " more";
    Log("Comments not written, retried after the next pass: " + failed);
  }
  if (options_.listFile) WriteListFile(ListFileText(list));
}

// The list names files of folders that not every local user may read, and who changed them: it is
// readable only by root and the list group, in a folder that no one else can change.
void ServiceDriver::WriteListFile(const std::string& text) {
  const std::string& path = *options_.listFile;
  if (!listGroupId_) {
    std::string why;
    listGroupId_ = platform::GroupIdByName(options_.listGroup, why);
    if (!listGroupId_) {
      listGroupId_ = platform::AccountGroupId();
      Log("List file group '" + options_.listGroup + "' not found (" + why +
          "): the list file gets the group of the service's account (gid " +
          std::to_string(*listGroupId_) + ")");
    }
    // The unit's runtime folder is made for root alone; the group's members must reach the
    // list file in it.
    const std::size_t slash = path.rfind('/');
    const auto runtime = platform::Environment("RUNTIME_DIRECTORY");
    if (runtime && slash != std::string::npos && slash > 0) {
      const std::string folder = path.substr(0, slash);
      const std::string own = runtime->substr(0, runtime->find(':'));
      std::string error;
      if (platform::AbsolutePath(folder) == platform::AbsolutePath(own) &&
          !platform::GiveFolderToGroup(folder, *listGroupId_, error))
        Log("List file folder not given its group: " + error);
    }
  }
  std::string note;
  std::string error;
  if (!platform::ReplaceGroupReadableFile(path, text, *listGroupId_, note, error)) {
    Log("List file not written: " + error);
  } else if (!note.empty() && !listGroupNoted_) {
    listGroupNoted_ = true;
    Log("List file group '" + options_.listGroup + "' cannot be given to " + path + " (" + note +
        "): it has the group of the service's account");
  }
}

void ServiceDriver::FollowLog() {
  if (followedLog_ == securityLogPath_) return;
  followedLog_ = securityLogPath_;
  logWatch_.reset();
  std::string why;
  logWatch_ = waiting_.watchLog(securityLogPath_, why);
  const auto ms = [](std::chrono::milliseconds d) { return std::to_string(d.count()) + " ms"; };
  if (logWatch_ != nullptr) {
    Log("Following the Security log " + securityLogPath_ + ": a pass " + ms(FollowPacer::kQuiet) +
        " after it changes (at most " + ms(FollowPacer::kLongestBatch) +
        " while it keeps changing), and at the latest every Temporisation seconds");
  } else {
    Log("The Security log " + securityLogPath_ + " cannot be followed (" + why +
        "): a pass every Temporisation seconds");
  }
}

void ServiceDriver::WaitUntil(Clock::time_point until) {
  const auto left = until - waiting_.now();
  // Rounded up: a wait rounded down to nothing would come back before its time, again and again.
  const auto wait =
      std::max(std::chrono::milliseconds(1), std::chrono::ceil<std::chrono::milliseconds>(left));
  if (logWatch_ == nullptr) {
    HandleSignals(signals_.Wait(wait));
    return;
  }
  platform::ServiceSignals seen;
  const platform::LogWaitEnd end = logWatch_->Wait(wait, [&] {
    seen = signals_.Take();
    return seen.stop || seen.reload;
  });
  if (end == platform::LogWaitEnd::kInterrupted) {
    const platform::ServiceSignals later = signals_.Take();
    seen.stop = seen.stop || later.stop;
    seen.reload = seen.reload || later.reload;
  }
  HandleSignals(seen);
  if (end == platform::LogWaitEnd::kLogChanged) pacer_.Changed(waiting_.now());
}

int ServiceDriver::Run() {
  HandleSignals(signals_.Take());
  if (!Start()) return kExitUsage;
  // A stop that came while the settings were read ends the service before its first pass.
  HandleSignals(signals_.Take());
  if (stopRequested_) {
    Log("Stopped");
    return kExitOk;
  }
  // Watched before the first pass, so that a change during it is not missed.
  if (!options_.once) FollowLog();

  // Start: the first pass at once, then the wait counted by the run control's ticks, cut short
  // by the changes of the log.
  runControl_.cmdGo_Click();
  if (options_.once) return anyOpenFailure_ ? kExitLogUnreadable : kExitOk;

  while (!stopRequested_) {
    const auto now = waiting_.now();
    if (timerActive_ && now >= nextTick_) {
      nextTick_ = std::max(nextTick_ + kTick, now);
      runControl_.Timer1_Timer();
      continue;
    }
    const std::optional<Clock::time_point> due = pacer_.PassDue();
    if (timerActive_ && due && now >= *due) {
      // The pass that the end of Temporisation would start, started now; the wait counts again
      // from its end.
      state_.run.RemainingWait = 0;
      runControl_.Timer1_Timer();
      nextTick_ = waiting_.now() + kTick;
      continue;
    }
    Clock::time_point until = timerActive_ ? nextTick_ : now + kTick;
    if (timerActive_ && due) until = std::min(until, *due);
    WaitUntil(until);
  }
  Log("Stopped");
  return kExitOk;
}

}  // namespace qs
