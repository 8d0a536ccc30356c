#include <libevtx.h>
