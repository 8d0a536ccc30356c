// The names of numeric user ids, from this computer's account database, for the audit parser.
#pragma once

#include "platform/formats/audit_parser.h"

namespace qs::platform::audit {

// getpwuid_r, each id asked once.
UserNameLookup AccountDatabaseLookup();

}  // namespace qs::platform::audit
