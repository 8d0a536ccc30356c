// Whether the analysis is on, and how much of the wait to the next pass is left. Owned by run
// control; a running pass reads StopFlag once per record, so that a Stop ends it early.
#pragma once

#include <cstdint>

namespace qs {

struct RunState {
  bool StopFlag = true;
  std::int32_t RemainingWait = 10;
};

}  // namespace qs
