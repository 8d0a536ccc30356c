#include "core/settings.h"
#include "platform/streams.h"
