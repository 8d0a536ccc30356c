// --setup-audit and --remove-audit: the audit rules that make the kernel record the writes in
// every shared folder of a file server, written into a rules file of the program's own and
// loaded, and taken away again. One-shot commands: each says what it did, line by line, and
// returns the program's exit code.
//
// Which tool loads the rules depends on the rules folder. In the system's folder,
// /etc/audit/rules.d, `augenrules --load` gathers every file there into /etc/audit/audit.rules
// and loads the whole, as at boot. Any other folder (a test's own) is none that augenrules reads:
// there the file's watches are loaded by themselves with `auditctl -R FILE`, and the watches of
// the file they replace are taken away one by one with `auditctl -W`, which leaves every other
// rule of the kernel alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audit_setup.h"
#include "service/exit_codes.h"
#include "service/service_log.h"

namespace qs {

inline constexpr std::string_view kSystemRulesFolder = "/etc/audit/rules.d";
inline constexpr std::string_view kRulesFileName = "quillstamp.rules";

struct AuditSetupOptions {
  std::string rulesFolder{kSystemRulesFolder};
  std::optional<std::string> sambaConfig;  // passed to `testparm -s`; else Samba's own
  std::vector<std::string> folders;        // named on the command line; empty: Samba's shares
};

// One share section of Samba's configuration, as `testparm -s` writes it out.
struct SambaShare {
  std::string name;
  std::string path;  // empty when the section sets none
  bool printable = false;
};

// The sections of `testparm -s`'s output other than [global], in their order. Names and keys are
// matched without regard to case, as Samba does; "print ok" is another name of "printable".
std::vector<SambaShare> SambaShares(std::string_view testparmOutput);

// Writes the rules file with one watch per folder (named, or the shares that Samba's
// configuration makes of folders) and loads it. Unchanged rules are neither written nor loaded
// again. `out` gets what was done, `err` why it could not be.
int SetupAudit(const AuditSetupOptions& options, platform::AuditSetupSystem& system,
               ServiceLog& out, ServiceLog& err);

// Removes the rules file and loads the rules without it, which takes its watches away.
int RemoveAudit(const AuditSetupOptions& options, platform::AuditSetupSystem& system,
                ServiceLog& out, ServiceLog& err);

}  // namespace qs
