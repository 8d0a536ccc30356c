#include <unistd.h>
#include "platform/streams.h"
