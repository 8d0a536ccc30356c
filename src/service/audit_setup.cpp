#include "service/audit_setup.h"

#include <algorithm>

#include "platform/formats/audit_rules.h"

namespace qs {

namespace {

using platform::AuditSetupSystem;
using platform::PathKind;
using platform::ProgramRun;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Samba's spellings of a true boolean.
bool IsTrue(std::string_view value) {
  const std::string v = Lower(Trim(value));
  return v == "yes" || v == "true" || v == "1" || v == "on";
}

std::string RulesFile(const AuditSetupOptions& options) {
  std::string folder = options.rulesFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return (folder == "/" ? "" : folder) + "/" + std::string(kRulesFileName);
}

// Whether the rules folder is the system's, which augenrules gathers (see audit_setup.h).
bool IsSystemRulesFolder(const AuditSetupOptions& options, AuditSetupSystem& system) {
  return system.RealPath(options.rulesFolder) == system.RealPath(std::string(kSystemRulesFolder));
}

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
  return line;
}

// Why a run of `argv` did not succeed, with what the program said about it.
std::string RunFailure(const std::vector<std::string>& argv, const ProgramRun& run) {
  if (!run.started) return CommandLine(argv) + ": " + run.error;
  std::string said(Trim(run.err));
  if (said.empty()) said = std::string(Trim(run.out));
  std::string text = CommandLine(argv) + " failed (" +
                     (run.status < 0 ? std::string("ended by a signal")
                                     : "exit status " + std::to_string(run.status)) +
                     ")";
  if (!said.empty()) text += ": " + said;
  return text;
}

std::vector<std::string> UnwatchCommand(const std::string& folder) {
  return {"auditctl", "-W", folder, "-p", "wa", "-k", std::string(platform::audit::kRulesKey)};
}

// Takes away the watches that a rules file of a folder other than the system's had loaded. One
// that is not loaded any more is gone already, which is what was wanted.
bool Unwatch(const std::vector<std::string>& folders, AuditSetupSystem& system, ServiceLog& out,
             std::string& failure) {
  for (const std::string& folder : folders) {
    const auto argv = UnwatchCommand(folder);
    const ProgramRun run = system.Run(argv);
    if (run.started && run.status != 0 &&
        run.err.find("No such file or directory") != std::string::npos) {
      out.Line("No watch on " + folder + " was loaded: nothing to take away");
      continue;
    }
    if (!run.started || run.status != 0) {
      failure = RunFailure(argv, run);
      return false;
    }
    out.Line("Took the watch away: " + CommandLine(argv));
  }
  return true;
}

// Loads the rules as they are now that `file` was written (or removed). `replaced`: the watches
// of the file that was there before.
bool LoadRules(const AuditSetupOptions& options, AuditSetupSystem& system, const std::string& file,
               bool fileThere, const std::vector<std::string>& replaced, ServiceLog& out,
               std::string& failure) {
  if (IsSystemRulesFolder(options, system)) {
    const std::vector<std::string> argv{"augenrules", "--load"};
    const ProgramRun run = system.Run(argv);
    if (!run.started || run.status != 0) {
      failure = RunFailure(argv, run);
      return false;
    }
    out.Line("Loaded the rules: " + CommandLine(argv));
    return true;
  }
  if (!Unwatch(replaced, system, out, failure)) return false;
  if (!fileThere) return true;
  const std::vector<std::string> argv{"auditctl", "-R", file};
  const ProgramRun run = system.Run(argv);
  if (!run.started || run.status != 0) {
    failure = RunFailure(argv, run);
    return false;
  }
  out.Line("Loaded the rules: " + CommandLine(argv));
  return true;
}

// Puts the rules file back as it was before a load that failed, so that running the command
// again tries the whole again rather than finding its file already written.
void PutBack(AuditSetupSystem& system, const std::string& file, bool wasThere,
             const std::string& before, ServiceLog& err) {
  std::string error;
  const bool ok =
      wasThere ? system.ReplaceFile(file, before, error) : system.RemoveFile(file, error);
  err.Line(ok ? "quillstamp-service: the rules file " + file + " is put back as it was"
              : "quillstamp-service: the rules file " + file +
                    " could not be put back as it was: " + error);
}

struct Candidate {
  std::string folder;
  std::string from;  // "share [name]", or empty for a folder named on the command line
};

// The folders of Samba's shares; false when they cannot be known.
bool SharedFolders(const AuditSetupOptions& options, AuditSetupSystem& system,
                   std::vector<Candidate>& candidates, ServiceLog& out, ServiceLog& err) {
  std::vector<std::string> argv{"testparm", "-s"};
  if (options.sambaConfig) argv.push_back(*options.sambaConfig);
  const ProgramRun run = system.Run(argv);
  if (!run.started) {
    err.Line("quillstamp-service: cannot read Samba's shares: " + RunFailure(argv, run) +
             ". Install Samba's tools (samba-common-bin), or name the shared folders: "
             "quillstamp-service --setup-audit FOLDER...");
    return false;
  }
  if (run.status != 0) {
    err.Line("quillstamp-service: cannot read Samba's shares: " + RunFailure(argv, run));
    return false;
  }
  out.Line("Shares of Samba's configuration (" + CommandLine(argv) + "):");
  for (const SambaShare& share : SambaShares(run.out)) {
    const std::string name = Lower(share.name);
    const std::string label = "  [" + share.name + "] ";
    if (share.printable || name == "printers" || name == "print$") {
      out.Line(label + "is a printer share: not watched");
    } else if (share.path.empty()) {
      out.Line(label + "names no folder (the home of each user): not watched");
    } else if (share.path.find('%') != std::string::npos) {
      out.Line(label + share.path +
               " changes with the user or the client (a %-substitution): not watched; name its "
               "folders on the command line instead");
    } else {
      out.Line(label + share.path);
      candidates.push_back({share.path, "[" + share.name + "]"});
    }
  }
  if (candidates.empty()) {
    err.Line(
        "quillstamp-service: Samba's configuration has no share of a folder to watch; name "
        "the shared folders: quillstamp-service --setup-audit FOLDER...");
    return false;
  }
  return true;
}

}  // namespace

std::vector<SambaShare> SambaShares(std::string_view text) {
  std::vector<SambaShare> shares;
  bool inShare = false;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    const std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      const std::string name(Trim(line.substr(1, line.size() - 2)));
      inShare = Lower(name) != "global";
      if (inShare) shares.push_back({name, "", false});
      continue;
    }
    if (!inShare) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    // Samba ignores blanks inside a key's name: "print ok" and "printok" are one key.
    std::string key;
    for (const char c : Lower(line.substr(0, eq)))
      if (c != ' ' && c != '\t' && c != '_') key += c;
    const std::string_view value = Trim(line.substr(eq + 1));
    if (key == "path" || key == "directory") {
      shares.back().path = std::string(value);
    } else if (key == "printable" || key == "printok") {
      shares.back().printable = IsTrue(value);
    }
  }
  return shares;
}

int SetupAudit(const AuditSetupOptions& options, AuditSetupSystem& system, ServiceLog& out,
               ServiceLog& err) {
  if (!system.IsAdministrator()) {
    err.Line("quillstamp-service: --setup-audit must run as root: it writes into " +
             options.rulesFolder + " and loads audit rules");
    return kExitAuditSetupFailed;
  }
  std::vector<Candidate> candidates;
  if (!options.folders.empty()) {
    for (const std::string& folder : options.folders) candidates.push_back({folder, ""});
  } else if (!SharedFolders(options, system, candidates, out, err)) {
    return kExitAuditSetupFailed;
  }

  // Every folder must be there: a watch on a missing path would be refused by the kernel, and a
  // typing error must not leave a share unwatched without a word.
  std::vector<std::string> folders;
  std::vector<std::string> problems;
  for (const Candidate& c : candidates) {
    const std::string shown = c.from.empty() ? c.folder : c.folder + " (share " + c.from + ")";
    std::string error;
    switch (system.KindOf(c.folder, error)) {
      case PathKind::kMissing:
        problems.push_back(shown + " does not exist");
        continue;
      case PathKind::kOther:
        problems.push_back(shown + " is not a folder");
        continue;
      case PathKind::kUnreadable:
        problems.push_back(shown + " cannot be looked at: " + error);
        continue;
      case PathKind::kFolder:
        break;
    }
    // The kernel watches what the path leads to: a link is resolved, a relative name made full.
    const std::string real = system.RealPath(c.folder);
    if (!platform::audit::FitsRulesLine(real)) {
      problems.push_back(shown + (real != c.folder ? " (" + real + ")" : "") +
                         " holds a blank or a control character, which an audit rules line "
                         "cannot name; watch a folder above it");
      continue;
    }
    if (std::find(folders.begin(), folders.end(), real) == folders.end()) folders.push_back(real);
  }
  if (!problems.empty()) {
    for (const std::string& p : problems) err.Line("quillstamp-service: " + p);
    err.Line("quillstamp-service: nothing written, nothing loaded");
    return kExitAuditSetupFailed;
  }

  const std::string file = RulesFile(options);
  const std::string text = platform::audit::RulesFileText(folders);
  std::string before;
  bool missing = false;
  std::string error;
  const bool wasThere = system.ReadFile(file, before, missing, error);
  if (!wasThere && !missing) {
    err.Line("quillstamp-service: cannot read " + file + ": " + error);
    return kExitAuditSetupFailed;
  }
  if (wasThere && before == text) {
    out.Line("The rules file " + file + " already watches " + std::to_string(folders.size()) +
             (folders.size() == 1 ? " folder" : " folders") +
             " for writes: nothing written, nothing loaded");
    return kExitOk;
  }
  if (system.KindOf(options.rulesFolder, error) != PathKind::kFolder) {
    err.Line("quillstamp-service: there is no rules folder " + options.rulesFolder +
             ": is auditd installed? (apt install auditd)");
    return kExitAuditSetupFailed;
  }
  for (const std::string& folder : folders)
    out.Line("Watching " + folder + " for writes (-w " + folder + " -p wa -k " +
             std::string(platform::audit::kRulesKey) + ")");
  if (!system.ReplaceFile(file, text, error)) {
    err.Line("quillstamp-service: " + error);
    return kExitAuditSetupFailed;
  }
  out.Line("Wrote " + file + (wasThere ? ", replacing the one there" : ""));
  const std::vector<std::string> replaced =
      wasThere ? platform::audit::WatchedPaths(before) : std::vector<std::string>{};
  std::string failure;
  if (!LoadRules(options, system, file, true, replaced, out, failure)) {
    err.Line("quillstamp-service: the rules could not be loaded: " + failure);
    PutBack(system, file, wasThere, before, err);
    return kExitAuditSetupFailed;
  }
  return kExitOk;
}

int RemoveAudit(const AuditSetupOptions& options, AuditSetupSystem& system, ServiceLog& out,
                ServiceLog& err) {
  if (!system.IsAdministrator()) {
    err.Line("quillstamp-service: --remove-audit must run as root: it removes a file from " +
             options.rulesFolder + " and loads audit rules");
    return kExitAuditSetupFailed;
  }
  const std::string file = RulesFile(options);
  std::string before;
  bool missing = false;
  std::string error;
  if (!system.ReadFile(file, before, missing, error)) {
    if (missing) {
      out.Line("There is no rules file " + file + ": nothing removed, nothing loaded");
      return kExitOk;
    }
    err.Line("quillstamp-service: cannot read " + file + ": " + error);
    return kExitAuditSetupFailed;
  }
  if (!system.RemoveFile(file, error)) {
    err.Line("quillstamp-service: " + error);
    return kExitAuditSetupFailed;
  }
  const std::vector<std::string> watched = platform::audit::WatchedPaths(before);
  std::string list;
  for (const std::string& w : watched) list += (list.empty() ? "" : ", ") + w;
  out.Line("Removed " + file + (list.empty() ? "" : " (it watched " + list + ")"));
  std::string failure;
  if (!LoadRules(options, system, file, false, watched, out, failure)) {
    err.Line("quillstamp-service: the rules could not be loaded: " + failure);
    PutBack(system, file, true, before, err);
    return kExitAuditSetupFailed;
  }
  return kExitOk;
}

}  // namespace qs
