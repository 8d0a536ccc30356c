// What setting up the audit rules of a file server needs of the operating system: whether the
// program runs as the administrator, what is at a path, the rules file read, replaced or removed,
// and the system's own tools (testparm, augenrules, auditctl) run to their end.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qs::platform {

// What one run of a program gave.
struct ProgramRun {
  bool started = false;  // false: the program could not be run (`error` says why)
  int status = -1;       // its exit status; -1 when it was ended by a signal
  std::string out;       // what it wrote on stdout
  std::string err;       // what it wrote on stderr
  std::string error;
};

enum class PathKind { kMissing, kFolder, kOther, kUnreadable };

class AuditSetupSystem {
 public:
  virtual ~AuditSetupSystem() = default;
  // Whether the program runs with the rights of the administrator (root), which loading rules
  // and writing into the system's rules folder need.
  virtual bool IsAdministrator() = 0;
  // What `path` is; kUnreadable, with `error` set, when the system cannot tell.
  virtual PathKind KindOf(const std::string& path, std::string& error) = 0;
  // The full path of `path`, links resolved; `path` itself when that fails.
  virtual std::string RealPath(const std::string& path) = 0;
  // The file's bytes; false with `missing` set when there is no such file, false with `error`
  // set when it cannot be read.
  virtual bool ReadFile(const std::string& path, std::string& bytes, bool& missing,
                        std::string& error) = 0;
  // The file replaced whole by `bytes` (a reader sees the old content or the new, never a part),
  // readable only by its owner and group, as the system's rules files are.
  virtual bool ReplaceFile(const std::string& path, const std::string& bytes,
                           std::string& error) = 0;
  virtual bool RemoveFile(const std::string& path, std::string& error) = 0;
  // Runs `argv` (argv[0] looked up in PATH) with no input, to its end, and gives its outputs.
  virtual ProgramRun Run(const std::vector<std::string>& argv) = 0;
};

std::unique_ptr<AuditSetupSystem> MakeAuditSetupSystem();

}  // namespace qs::platform
