#include "service/service_main.h"
