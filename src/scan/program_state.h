// The program-wide state of one run, owned by the program and shared by the passes and the
// window: the settings, the run state, what the scan keeps from pass to pass, the selection rule's
// context and the list of selected events. Free of any toolkit; it lives with the scan because
// three of its parts are the scan's own types.
#pragma once

#include "core/run_state.h"
#include "core/settings.h"
#include "scan/event_list.h"
#include "scan/record_decoder.h"
#include "scan/scan_pass.h"

namespace qs {

struct ProgramState {
  Settings settings;
  RunState run;
  ScanState scan;
  SelectionContext selection;
  EventList eventList{settings};
};

}  // namespace qs
