// The selection rule: does one raw record show a file opened for writing, and by whom, when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scan/event_time.h"

namespace qs {

// The event handed from the scan to the comment step.
struct CurrentEvent {
  EventDateTime dateTime;
  std::string user;
  std::string file;
};

enum class DecodeOutcome { NotSelected, OwnAccount, Selected };

struct SelectionContext {
  std::string OwnAccountName;
  std::int32_t TimeZoneBias = 0;  // minutes, UTC = local + bias
};

// Decodes the record held in the first `size` bytes of `record` (what the read returned). A
// Length field below 56 or beyond `size` never makes the decoder look past those bytes.
// NewestEventTime advances for the outcomes Selected and OwnAccount; `current` is filled only
// for Selected.
DecodeOutcome DecodeRecord(const std::uint8_t* record, std::size_t size,
                           std::int32_t& NewestEventTime, const SelectionContext& context,
                           CurrentEvent& current);

}  // namespace qs
