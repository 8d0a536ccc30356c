#include "platform/streams.h"
#include "scan/event_list.h"
