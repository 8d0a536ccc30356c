#include "comments/file_comments.h"
#include "scan/event_list.h"
