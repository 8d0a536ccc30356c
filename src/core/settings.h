// The in-memory record of the program's eight settings. Plain data, free of any toolkit, so that
// the scan and comment passes can read it while they run.
#pragma once

#include <cstdint>

namespace qs {

struct Settings {
  std::int32_t Temporisation = 10;  // seconds between two passes; must hold 60000
  bool WinComments = false;
  bool MacComments = false;
  bool TimeSeconds = false;
  std::int16_t MaxWinComments = 500;     // code units
  std::int16_t MaxSelectedEvents = 500;  // rows
  bool Automatic = false;
  std::int16_t Performance = 50;  // event-processing rounds per yield
};

}  // namespace qs
