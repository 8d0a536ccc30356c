// The cost of a settings file full of stray keys: quillstamp-service --once started over a
// [Configuration] section of 150,000 and of 2,000,000 unknown keys, its CPU time and peak memory
// taken from the kernel when it ends, printed beside the target. The log the file names is
// missing, so the run is start-up (the settings read and reported) and one pass that opens
// nothing.
//
//   settings_bench [KEYS...]     (default: 150000 2000000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Within this much CPU the read of two million keys counts as bounded: start-up must be able to
// look at a stop request long before a service manager gives up waiting.
constexpr double kTargetCpuSeconds = 3.0;

struct Run {
  int status = -1;
  double cpuSeconds = 0;
  long maxRssKiB = 0;
};

Run RunService(const std::string& config, const fs::path& folder) {
  Run run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("RUNTIME_DIRECTORY", folder.c_str(), 1);
    const std::string logFile = (folder / "service.log").string();
    std::FILE* out = std::freopen(logFile.c_str(), "w", stderr);
    if (out == nullptr) ::_exit(126);
    ::execl(QS_SERVICE_PROGRAM, QS_SERVICE_PROGRAM, "--config", config.c_str(), "--once",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid < 0) return run;
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.maxRssKiB = usage.ru_maxrss;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atol(argv[i]));
  if (counts.empty()) counts = {150000, 2000000};

  char pattern[] = "/tmp/qs-settings-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path folder = pattern;
  std::printf(
      "quillstamp-service --once over a [Configuration] of stray keys (target: under %.1f s "
      "of CPU for 2,000,000 keys)\n",
      kTargetCpuSeconds);
  int failures = 0;
  for (const long count : counts) {
    const std::string config = (folder / "Quillstamp.ini").string();
    {
      std::ofstream file(config, std::ios::binary);
      file << "[Configuration]\nTemporisation=5\n";
      for (long i = 0; i < count; ++i) file << "UnknownKey" << i << "=1\n";
      file << "[Platform]\nSecurityLog=" << (folder / "missing.evt").string() << "\n";
    }
    const auto bytes = fs::file_size(config);
    const Run run = RunService(config, folder);
    std::printf("  %9ld keys (%6.1f MB): exit %d, CPU %7.2f s, peak RSS %6.1f MiB%s\n", count,
                static_cast<double>(bytes) / 1e6, run.status, run.cpuSeconds,
                static_cast<double>(run.maxRssKiB) / 1024.0,
                count >= 2000000
                    ? (run.cpuSeconds < kTargetCpuSeconds ? "  (within target)" : "  (OVER TARGET)")
                    : "");
    if (run.status < 0) ++failures;
  }
  fs::remove_all(folder);
  return failures == 0 ? 0 : 1;
}
