#include "scan/event_list.h"
#include "platform/streams.h"
