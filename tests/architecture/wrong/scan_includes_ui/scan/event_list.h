#include "ui/settings.h"
