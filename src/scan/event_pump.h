// What a long pass needs of the window to stay alive: a way to let it handle pending events.
#pragma once

#include <cstdint>

namespace qs {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // One round of processing the window's pending events. Returns false when nothing was pending,
  // so that further rounds of the same yield can be skipped at no cost.
  virtual bool ProcessPendingEvents() = 0;
};

// Lets the window process its pending events `performance` times in a row (nothing below 1);
// stops early once a round finds nothing pending.
void YieldStep(std::int16_t performance, EventPump& pump);

}  // namespace qs
