#include "scan/event_list.h"
