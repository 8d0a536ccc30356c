// The memory of a pass over a 4 GiB .evt log: quillstamp-service --once over a sparse log of 1 MiB
// records (their data parts are holes, so the file takes a few megabytes of disk), its peak RSS
// taken from the kernel when it ends, beside the same over a log of one record (idle), printed with
// the target: at most 64 MiB above idle. Once with a clean header, once dirty (the EOF record is
// then looked for through the whole file).
//
//   evt_memory_bench [PROGRAM]     (default: the quillstamp-service built beside it)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/eventlog_record.h"

namespace {

namespace fs = std::filesystem;
using namespace qs::platform;

constexpr double kTargetMiB = 64.0;
constexpr std::uint32_t kRecordLength = 1u << 20;

void Put32(int fd, std::uint64_t at, std::uint32_t value) {
  std::uint8_t b[4];
  WriteU32(b, value);
  if (::pwrite(fd, b, 4, static_cast<off_t>(at)) != 4) std::exit(2);
}

// A log of `fileSize` bytes: records of kRecordLength from 0x30 on, then the EOF record.
void WriteSparseLog(const std::string& path, std::uint64_t fileSize, bool dirty) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(fileSize)) != 0) std::exit(2);
  const std::uint64_t count = (fileSize - kEvtHeaderSize - kEvtEofRecordSize) / kRecordLength;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t at = kEvtHeaderSize + i * kRecordLength;
    Put32(fd, at + record_offset::kLength, kRecordLength);
    Put32(fd, at + record_offset::kSignature, kRecordSignature);
    Put32(fd, at + record_offset::kRecordNumber, static_cast<std::uint32_t>(i + 1));
    Put32(fd, at + record_offset::kTimeGenerated, 1'000'000'000);
    Put32(fd, at + record_offset::kTimeWritten, 1'000'000'000);
    Put32(fd, at + record_offset::kStringOffset, kFixedRecordSize + 4);
    Put32(fd, at + record_offset::kUserSidOffset, kFixedRecordSize + 4);
    Put32(fd, at + record_offset::kDataOffset, kFixedRecordSize + 4);
    Put32(fd, at + record_offset::kDataLength, kRecordLength - kFixedRecordSize - 8);
    Put32(fd, at + kRecordLength - 4, kRecordLength);
  }
  const std::uint64_t eof = kEvtHeaderSize + count * kRecordLength;
  Put32(fd, eof + evt_eof_offset::kSizeBeginning, kEvtEofRecordSize);
  for (std::size_t k = 0; k < 4; ++k)
    Put32(fd, eof + evt_eof_offset::kMarks + 4 * k, kEvtEofMarks[k]);
  Put32(fd, eof + evt_eof_offset::kBeginRecord, kEvtHeaderSize);
  Put32(fd, eof + evt_eof_offset::kEndRecord, static_cast<std::uint32_t>(eof));
  Put32(fd, eof + evt_eof_offset::kCurrentRecordNumber, static_cast<std::uint32_t>(count + 1));
  Put32(fd, eof + evt_eof_offset::kOldestRecordNumber, 1);
  Put32(fd, eof + evt_eof_offset::kSizeEnd, kEvtEofRecordSize);
  Put32(fd, evt_header_offset::kHeaderSize, kEvtHeaderSize);
  Put32(fd, evt_header_offset::kSignature, kRecordSignature);
  Put32(fd, evt_header_offset::kMajorVersion, kEvtVersion);
  Put32(fd, evt_header_offset::kMinorVersion, kEvtVersion);
  Put32(fd, evt_header_offset::kStartOffset, kEvtHeaderSize);
  Put32(fd, evt_header_offset::kEndOffset, static_cast<std::uint32_t>(eof));
  Put32(fd, evt_header_offset::kCurrentRecordNumber, static_cast<std::uint32_t>(count + 1));
  Put32(fd, evt_header_offset::kOldestRecordNumber, 1);
  Put32(fd, evt_header_offset::kMaxSize, static_cast<std::uint32_t>(fileSize));
  Put32(fd, evt_header_offset::kFlags, dirty ? kEvtFlagDirty : 0);
  Put32(fd, evt_header_offset::kEndHeaderSize, kEvtHeaderSize);
  ::close(fd);
}

struct Run {
  int status = -1;
  double seconds = 0;
  double peakMiB = 0;
  std::string pass;  // the service's line about its pass
};

Run RunService(const char* program, const fs::path& folder, const std::string& log) {
  const std::string config = (folder / "Quillstamp.ini").string();
  std::ofstream(config) << "[Configuration]\nTemporisation=5\n[Platform]\nSecurityLog=" << log
                        << "\n";
  Run run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("RUNTIME_DIRECTORY", folder.c_str(), 1);
    if (std::freopen((folder / "service.log").c_str(), "w", stderr) == nullptr) ::_exit(126);
    ::execl(program, program, "--config", config.c_str(), "--once", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  run.seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  std::ifstream output(folder / "service.log");
  for (std::string line; std::getline(output, line);) {
    if (const std::size_t at = line.find("Pass: "); at != std::string::npos)
      run.pass = line.substr(at);
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = argc > 1 ? argv[1] : QS_SERVICE_PROGRAM;
  char pattern[] = "/tmp/qs-evt-memory-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path folder = pattern;
  const std::string small = (folder / "small.evt").string();
  const std::string large = (folder / "large.evt").string();
  WriteSparseLog(small, kEvtHeaderSize + kRecordLength + kEvtEofRecordSize, false);
  const Run idle = RunService(program, folder, small);
  std::printf("%s --once: peak RSS over an .evt log (target: at most %.0f MiB above idle)\n",
              program, kTargetMiB);
  std::printf("  idle, a log of 1 record:             exit %d, peak RSS %7.1f MiB\n", idle.status,
              idle.peakMiB);
  int failures = idle.status < 0 ? 1 : 0;
  for (const bool dirty : {false, true}) {
    WriteSparseLog(large, 0xFFF00000u, dirty);
    const Run run = RunService(program, folder, large);
    const double above = run.peakMiB - idle.peakMiB;
    std::printf(
        "  4 GiB (4095 records of 1 MiB), %s: exit %d, CPU %5.1f s, peak RSS %7.1f MiB, "
        "%7.1f MiB above idle (%s)\n",
        dirty ? "dirty" : "clean", run.status, run.seconds, run.peakMiB, above,
        above <= kTargetMiB ? "within target" : "OVER TARGET");
    std::printf("      %s\n", run.pass.c_str());
    if (run.status < 0) ++failures;
  }
  fs::remove_all(folder);
  return failures == 0 ? 0 : 1;
}
