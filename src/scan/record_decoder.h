// The selection rule: does one raw record show a file opened for writing, and by whom, when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/file_identity.h"
#include "scan/event_time.h"

namespace qs {

// The event handed from the scan to the comment step.
struct CurrentEvent {
  EventDateTime dateTime;
  std::string user;
  std::string file;
  // The written file's identity, when the log names it: only that file may be commented.
  std::optional<platform::FileIdentity> identity;
};

// What decides whether an event is new: the newest second of the events taken so far, and who
// changed which file in that second. Several users may save several files within one second, so
// the second alone would lose all of them but the first; a repeat of the same user and file in
// that second (the several opens of one save) is not new. Kept for the whole run, from pass to
// pass, since every pass reads the log from its oldest record.
struct TakenEvents {
  std::int32_t NewestEventTime = 0;
  // One key per (user, file) taken in the second NewestEventTime: the user in upper case (users
  // compare without letter case), a zero byte, the file as the log gives it.
  std::unordered_set<std::string> inNewestSecond;
};

enum class DecodeOutcome { NotSelected, OwnAccount, Selected };

struct SelectionContext {
  std::string OwnAccountName;
  std::int32_t TimeZoneBias = 0;  // minutes, UTC = local + bias
};

// Decodes the record held in the first `size` bytes of `record` (what the read returned). A
// Length field below 56 or beyond `size` never makes the decoder look past those bytes.
// An event is new when it is later than NewestEventTime, or in that very second by a user and
// of a file not yet taken in it; a new event is recorded in `taken` for the outcomes Selected and
// OwnAccount (the program's own writes are never handed on, yet they hide nobody else's).
// `current` is filled only for Selected.
DecodeOutcome DecodeRecord(const std::uint8_t* record, std::size_t size, TakenEvents& taken,
                           const SelectionContext& context, CurrentEvent& current);

}  // namespace qs
