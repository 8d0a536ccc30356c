// quillstamp-service: the analysis of the Quillstamp window, run as a system service on a file
// server without a desktop. See `quillstamp-service --help`.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/service_host.h"
#include "service/service_driver.h"

namespace {

constexpr const char* kUsage =
    "Usage: quillstamp-service [--config FILE] [--once] [--list-file FILE] [--verbose]\n"
    "\n"
    "Watches the Security log named by the settings file for files opened for writing and\n"
    "writes who changed each file, and when, into the file's comments, every Temporisation\n"
    "seconds, until SIGTERM or SIGINT. SIGHUP rereads the settings at the next pass.\n"
    "\n"
    "  --config FILE     the settings file (default /etc/quillstamp/Quillstamp.ini); never "
    "written\n"
    "  --once            one pass and the summary check pass, then exit: 0 done, 1 the log could\n"
    "                    not be opened, 2 a usage or settings error\n"
    "  --list-file FILE  after each pass, replace FILE by the event list (UTF-8, tab-separated)\n"
    "  --verbose         also log one line per listed event\n"
    "\n"
    "Exit 3: another instance runs with the same settings file.\n";

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
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--config") {
      if (!value(options.configPath)) return UsageError("--config needs a file name");
    } else if (arg == "--list-file") {
      std::string file;
      if (!value(file)) return UsageError("--list-file needs a file name");
      options.listFile = file;
    } else {
      return UsageError("unknown argument '" + std::string(arg) + "'");
    }
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
