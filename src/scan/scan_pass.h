// One analysis of the Security log.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/run_state.h"
#include "core/settings.h"
#include "platform/eventlog.h"
#include "scan/event_list.h"
#include "scan/event_pump.h"
#include "scan/record_decoder.h"

namespace qs {

// What the pass drives in the main window.
class ScanView : public EventPump {
 public:
  virtual void ShowEventsStatus(std::string_view text) = 0;   // lblEvents
  virtual void ShowMaxEvents(std::string_view text) = 0;      // lblMaxEvents
  virtual void SetProgressMaximum(std::int32_t maximum) = 0;  // ProgressEvents
  virtual void SetProgressValue(std::int32_t value) = 0;
  virtual bool IsWindowVisible() const = 0;
  // A modal message box with an OK button, titled with the application's title.
  virtual void ShowOpenLogError(std::string_view message) = 0;
  virtual void EnableTimer() = 0;  // Timer1
  // Said after a pass whose log changed while it was opened (cut short or rewritten under the
  // reader): the pass read only a part of it, and the next pass reads it again. `message` says
  // so in full, for a log of lines; a window's status line, which holds about as much as
  // "Reading Security Log", shows kLogChangedStatus until the next pass begins.
  virtual void ShowLogChanged(std::string_view message);
};

// The comment step that the pass hands selected events to.
class CommentStep {
 public:
  virtual ~CommentStep() = default;
  virtual void CommentPass() = 0;       // reads the scan state's CurrentEvent
  virtual void SummaryCheckPass() = 0;  // after the reading, when a comment kind is on
};

// The last record that a pass examined. No later pass can select it: NewestEventTime only grows
// and every other test of the selection rule depends on the record alone. So the next pass may
// begin right after it, once it has checked that the record is still there and still the same.
struct ResumePoint {
  bool valid = false;
  std::uint32_t recordNumber = 0;
  std::uint32_t length = 0;
  // Of the record's bytes: tells the record from another that took its number (a cleared log).
  std::uint64_t fingerprint = 0;
};

// Kept from pass to pass, for the whole run.
struct ScanState {
  TakenEvents taken;  // what decides which events are new
  std::int32_t RecordsInLog = 0;
  CurrentEvent currentEvent;
  ResumePoint resume;
};

inline constexpr std::string_view kReadingSecurityLog = "Reading Security Log";
inline constexpr std::string_view kCheckingSummaries = "Checking summaries";
inline constexpr std::string_view kSecurityLogName = "Security";
inline constexpr std::string_view kUnableToOpenLog = "Error. Unable to open Log: ";
inline constexpr std::string_view kLogChangedWhileRead =
    "The Security log changed while it was read: it is read again at the next pass";
inline constexpr std::string_view kLogChangedStatus = "Security log changed";
inline constexpr std::uint32_t kInitialRecordBufferSize = 2048;
// The largest record a pass reads: the buffer grows up to this size for a record that needs more
// than the initial size. Real records stay far below it (their strings and data are limited to
// some tens of kilobytes); a larger reported size can only come from a damaged log and ends the
// reading like a failed read.
inline constexpr std::uint32_t kMaxRecordBufferSize = 16u * 1024 * 1024;
// The read flags of every read of a pass: sequential, oldest record first.
inline constexpr std::uint32_t kScanReadFlags =
    platform::kEventLogSequentialRead | platform::kEventLogForwardsRead;
// The read that finds the record a pass resumes after.
inline constexpr std::uint32_t kResumeReadFlags =
    platform::kEventLogSeekRead | platform::kEventLogForwardsRead;

// The fingerprint of a record's bytes kept in a ResumePoint.
std::uint64_t RecordFingerprint(const std::uint8_t* bytes, std::size_t size);

struct ScanContext {
  platform::EventLogService& eventLog;
  EventList& eventList;
  ScanState& state;
  const Settings& settings;
  const RunState& run;
  const SelectionContext& selection;
  ScanView& view;
  CommentStep& comments;
};

void ScanPass(ScanContext& context);

}  // namespace qs
