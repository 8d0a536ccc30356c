// One log presented as the records of an event log in the form that an ANSI read returns them,
// oldest first, whatever the log's own format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::platform {

class LogSource {
 public:
  virtual ~LogSource() = default;
  virtual std::size_t RecordCount() const = 0;
  // The record at position index (0 = oldest), index < RecordCount(). The reference stays valid
  // until the next call.
  virtual const std::vector<std::uint8_t>& Record(std::size_t index) = 0;
};

}  // namespace qs::platform
