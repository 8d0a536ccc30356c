#include "scan/event_pump.h"

namespace qs {

void YieldStep(std::int16_t performance, EventPump& pump) {
  for (int round = 1; round <= performance; ++round) {
    // Once nothing is pending, further rounds would only spin.
    if (!pump.ProcessPendingEvents()) return;
  }
}

}  // namespace qs
