#include "platform/locale_formats.h"

#include <langinfo.h>

namespace qs::platform {

// nl_langinfo answers for the current LC_TIME locale, and never with a null pointer.
std::string LocaleDateFormat() { return nl_langinfo(D_FMT); }

std::string LocaleTimeFormat() { return nl_langinfo(T_FMT); }

}  // namespace qs::platform
