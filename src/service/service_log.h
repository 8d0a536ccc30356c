// Where the service's lines go: stderr, with or without a time stamp, or a test's record.
#pragma once

#include <string_view>

namespace qs {

class ServiceLog {
 public:
  virtual ~ServiceLog() = default;
  virtual void Line(std::string_view text) = 0;
};

}  // namespace qs
