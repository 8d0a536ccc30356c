// The rules files of the Linux audit subsystem (auditctl's syntax, as augenrules gathers them from
// /etc/audit/rules.d/ into /etc/audit/audit.rules): which folders they watch, and the file of
// watches that the program writes for the shared folders of a file server.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qs::platform::audit {

// The key that the program's own rules carry ("-k quillstamp"), so that they can be told from an
// administrator's rules and listed with `auditctl -l -k quillstamp`.
inline constexpr std::string_view kRulesKey = "quillstamp";

// The paths that the rules in `text` watch, in their order, each once: the PATH of every
// "-w PATH" rule and the PATH of every "-F dir=PATH" field. Blank lines, comments (#), deletions
// (-W), other rules and paths that are not absolute are passed over. A path is given as written,
// less trailing slashes ("/" stays "/"); whether it is a folder only the file system can tell.
std::vector<std::string> WatchedPaths(std::string_view text);

// The rules file that watches each folder for writes and attribute changes under the program's
// key: a comment that says who wrote it, then one line "-w FOLDER -p wa -k quillstamp" per
// folder, in the order given. A folder that auditctl could not read back as one word (empty,
// relative, or holding a blank or a control character) is left out.
std::string RulesFileText(const std::vector<std::string>& folders);

// Whether `folder` can stand in a rules line as one word (see RulesFileText).
bool FitsRulesLine(std::string_view folder);

}  // namespace qs::platform::audit
