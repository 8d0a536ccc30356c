// quillstamp-service: the analysis of the Quillstamp window, run as a system service on a file
// server without a desktop. See `quillstamp-service --help`.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/audit_setup.h"
#include "platform/service_host.h"
#include "service/audit_setup.h"
#include "service/service_driver.h"

namespace {

constexpr const char* kUsage =
    "Usage: quillstamp-service [--config FILE] [--once] [--list-file FILE [--list-group GROUP]]\n"
    "                          [--verbose]\n"
    "       quillstamp-service --setup-audit [FOLDER...] [--samba-config FILE] [--rules-dir DIR]\n"
    "       quillstamp-service --remove-audit [--rules-dir DIR]\n"
    "\n"
    "Follows the Security log named by the settings file for files opened for writing and\n"
    "writes who changed each file, and when, into the file's comments, until SIGTERM or SIGINT:\n"
    "a pass a moment after the log grows, and at the latest every Temporisation seconds.\n"
    "SIGHUP rereads the settings at the next pass.\n"
    "\n"
    "  --config FILE     the settings file (default /etc/quillstamp/Quillstamp.ini); never "
    "written\n"
    "  --once            one pass and the summary check pass, then exit: 0 done, 1 the log could\n"
    "                    not be opened, 2 a usage or settings error\n"
    "  --list-file FILE  after each pass, replace FILE by the event list (UTF-8, tab-separated),\n"
    "                    readable by root and GROUP only (mode 0640); FILE's folder and every\n"
    "                    folder above it must be writable by root (or this account) alone\n"
    "  --list-group GROUP\n"
    "                    the group that may read the list file (default adm); the account's own\n"
    "                    group when there is no such group\n"
    "  --verbose         also log one line per listed event\n"
    "\n"
    "Setting up the audit rules of a file server (as root), then exit: 0 done, 1 not done (the\n"
    "reason is said), 2 a usage error:\n"
    "  --setup-audit [FOLDER...]\n"
    "                    write DIR/quillstamp.rules with one watch per folder named, or else per\n"
    "                    share of Samba's configuration (testparm -s), and load it; the same\n"
    "                    folders again change nothing\n"
    "  --remove-audit    remove DIR/quillstamp.rules and load the rules without it\n"
    "  --samba-config FILE\n"
    "                    the Samba configuration that testparm reads (default Samba's own)\n"
    "  --rules-dir DIR   the rules folder (default /etc/audit/rules.d, loaded with augenrules\n"
    "                    --load); in any other folder the file is loaded with auditctl -R and\n"
    "                    its watches are taken away with auditctl -W\n"
    "\n"
    "Exit 3: another instance runs with the same settings file, or its lock cannot be taken (the\n"
    "reason is said).\n";

// One write per line, so that lines of a log shared with other writers never mix; a time stamp
// in front unless the journal, which stamps every line itself, takes stderr.
class StderrLog final : public qs::ServiceLog {
 public:
  StderrLog() : stamp_(!qs::platform::Environment("JOURNAL_STREAM").has_value()) {}
  void Line(std::string_view text) override {
    std::string line;
    if (stamp_) line = qs::platform::LocalTimestamp() + " ";
    line.append(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }

 private:
  bool stamp_;
};

// What a one-shot command says goes to stdout, line by line; why it failed to stderr.
class StreamLines final : public qs::ServiceLog {
 public:
  explicit StreamLines(std::FILE* stream) : stream_(stream) {}
  void Line(std::string_view text) override {
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
  }

 private:
  std::FILE* stream_;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quillstamp-service: %s\n\n%s", message.c_str(), kUsage);
  return qs::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // The date texts follow the regional formats of the environment, as in the window program.
  std::setlocale(LC_ALL, "");
  std::setvbuf(stderr, nullptr, _IONBF, 0);

  qs::ServiceOptions options;
  enum class Command { kRun, kSetupAudit, kRemoveAudit } command = Command::kRun;
  qs::AuditSetupOptions audit;
  bool serviceOption = false;  // an option of the service itself
  bool sambaConfig = false;
  bool rulesFolder = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&](std::string& into) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return false;
      into = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return qs::kExitOk;
    } else if (arg == "--once") {
      options.once = true;
      serviceOption = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
      serviceOption = true;
    } else if (arg == "--config") {
      if (!value(options.configPath)) return UsageError("--config needs a file name");
      serviceOption = true;
    } else if (arg == "--list-file") {
      std::string file;
      if (!value(file)) return UsageError("--list-file needs a file name");
      options.listFile = file;
      serviceOption = true;
    } else if (arg == "--list-group") {
      if (!value(options.listGroup)) return UsageError("--list-group needs a group name");
      serviceOption = true;
    } else if (arg == "--setup-audit" || arg == "--remove-audit") {
      const Command c = arg == "--setup-audit" ? Command::kSetupAudit : Command::kRemoveAudit;
      if (command != Command::kRun && command != c)
        return UsageError("--setup-audit and --remove-audit cannot be given together");
      command = c;
      // The folders to watch follow --setup-audit, up to the next option.
      while (c == Command::kSetupAudit && i + 1 < argc && argv[i + 1][0] != '-' &&
             argv[i + 1][0] != '\0')
        audit.folders.emplace_back(argv[++i]);
    } else if (arg == "--samba-config") {
      std::string file;
      if (!value(file)) return UsageError("--samba-config needs a file name");
      audit.sambaConfig = file;
      sambaConfig = true;
    } else if (arg == "--rules-dir") {
      if (!value(audit.rulesFolder)) return UsageError("--rules-dir needs a folder name");
      rulesFolder = true;
    } else {
      return UsageError("unknown argument '" + std::string(arg) + "'");
    }
  }
  if (command != Command::kRun && serviceOption)
    return UsageError("--setup-audit and --remove-audit take none of the service's options");
  if (command == Command::kRun && (sambaConfig || rulesFolder))
    return UsageError("--samba-config and --rules-dir go with --setup-audit or --remove-audit");
  if (command == Command::kRemoveAudit && sambaConfig)
    return UsageError("--samba-config goes with --setup-audit");
  if (sambaConfig && !audit.folders.empty())
    return UsageError(
        "--samba-config and folders cannot be given together: named folders are watched "
        "instead of the shares");
  if (command != Command::kRun) {
    StreamLines out(stdout);
    StreamLines err(stderr);
    const auto system = qs::platform::MakeAuditSetupSystem();
    return command == Command::kSetupAudit ? qs::SetupAudit(audit, *system, out, err)
                                           : qs::RemoveAudit(audit, *system, out, err);
  }

  // Two instances over one settings file would write the same comments at the same time.
  std::string lockPath;
  std::string error;
  const auto lock = qs::platform::LockSettingsFile(options.configPath, lockPath, error);
  if (lock == nullptr) {
    std::fprintf(stderr,
                 "quillstamp-service: another instance is already running with the settings "
                 "file %s, or its lock cannot be taken (%s); this one does not start.\n",
                 options.configPath.c_str(), error.c_str());
    return qs::kExitAlreadyRunning;
  }

  const auto signals = qs::platform::WatchServiceSignals(error);
  if (signals == nullptr) {
    std::fprintf(stderr, "quillstamp-service: %s\n", error.c_str());
    return qs::kExitUsage;
  }
  StderrLog log;
  qs::ServiceDriver driver(options, *signals, log);
  return driver.Run();
}
