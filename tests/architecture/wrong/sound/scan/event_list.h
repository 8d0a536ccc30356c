#include "core/settings.h"
#include "scan/event_list.h"
