#include "platform/streams.h"
#include "core/settings.h"
