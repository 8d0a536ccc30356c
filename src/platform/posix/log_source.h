// One log file opened for reading, presented as the records of an event log in the form that an
// ANSI read returns them, oldest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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

// An NT event-log (.evt) file; nullptr when the file is missing, unreadable or not such a log.
std::unique_ptr<LogSource> OpenEvtLog(const std::string& path);

// A Linux audit log (auditd's text format); nullptr when the file is missing or unreadable.
std::unique_ptr<LogSource> OpenAuditLog(const std::string& path);

}  // namespace qs::platform
