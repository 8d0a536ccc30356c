// The folders whose file writes the kernel audits: those that the audit rules files watch, as
// an administrator or quillstamp-service --setup-audit wrote them.
#pragma once

#include <string>
#include <vector>

namespace qs::platform {

inline constexpr const char* kAuditConfigFolder = "/etc/audit";

// The folders that the rules in `configFolder`'s audit.rules (what augenrules loaded) and in
// rules.d/*.rules (what it will load) watch, each once, in that order; paths that are not
// folders now (a watched file, a folder since removed) are left out. Empty when none can be read.
std::vector<std::string> AuditedFolders(const std::string& configFolder = kAuditConfigFolder);

}  // namespace qs::platform
