// What finding the files of a file server's audit records costs: a share of 200,000 files in
// 2,000 folders, and an audit log of its saves written two ways, as a program working in the share
// writes them (absolute names: nothing to resolve) and as smbd writes them (a save over a file
// reopened through /proc/self/fd/N, a new file named relative to the folder smbd holds open, whose
// PARENT item names the share's root but carries the folder's inode). Each log is read by the real
// log source (every record built, the audited folder walked on the first miss), each round in a
// process of its own, and by quillstamp-service --once (comments off: the comment step is the same
// for both). Prints the extra time of the resolved pass (target: at most 1 s) and the peak memory
// above idle (target: at most 64 MiB), and the walk of the share on its own.
//
//   resolve_bench [files] [folder]
//
// The share and the logs are made in the folder (default: a new folder under the system's
// temporary folder) and removed afterwards.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/formats/audit_log_source.h"
#include "platform/formats/audit_record.h"
#include "platform/posix/file_identity_index.h"
#include "platform/posix/log_source.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

constexpr int kFilesPerFolder = 100;
constexpr int kSaves = 20000;

struct Share {
  std::string root;
  std::vector<std::string> folders;  // below root
  std::vector<std::uint64_t> folderInodes;
  std::vector<std::uint64_t> fileInodes;  // folder * kFilesPerFolder + n
  std::string device;                     // "fe:00"
};

std::string FileName(int n) { return "document " + std::to_string(n) + ".txt"; }

// 20 folders at the top, each with (folders / 20) sub-folders of kFilesPerFolder files.
Share MakeShare(const fs::path& root, int files) {
  Share share;
  share.root = root.string();
  const int folders = std::max(1, files / kFilesPerFolder);
  for (int f = 0; f < folders; ++f) {
    const std::string folder =
        "Dept " + std::to_string(f % 20) + "/Project " + std::to_string(f / 20);
    fs::create_directories(root / folder);
    share.folders.push_back(folder);
    struct stat st {};
    stat((root / folder).c_str(), &st);
    share.folderInodes.push_back(st.st_ino);
    char dev[16];
    std::snprintf(dev, sizeof dev, "%02x:%02x", major(st.st_dev), minor(st.st_dev));
    share.device = dev;
    for (int n = 0; n < kFilesPerFolder; ++n) {
      const fs::path file = root / folder / FileName(n);
      std::ofstream(file).put('x');
      stat(file.c_str(), &st);
      share.fileInodes.push_back(st.st_ino);
    }
  }
  return share;
}

std::string Hex(const std::string& text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// The saves, spread over the share; `smbd`: as smbd logs them, else with absolute names.
void WriteLog(const Share& share, const std::string& path, bool smbd) {
  std::ofstream out(path, std::ios::trunc);
  const std::size_t files = share.fileInodes.size();
  for (int i = 0; i < kSaves; ++i) {
    const std::size_t file = (static_cast<std::size_t>(i) * 7919) % files;
    const std::size_t folder = file / kFilesPerFolder;
    const std::string stamp = "msg=audit(1796900000." + std::to_string(100 + i % 800) + ":" +
                              std::to_string(1000 + i) + "):";
    const bool create = i % 2 == 1;  // every other save a new file, the rest over a file
    const std::string full =
        share.root + "/" + share.folders[folder] + "/" + FileName(static_cast<int>(file % 100));
    std::string a0 = "ffffff9c", items;
    const std::string fileItem = " inode=" + std::to_string(share.fileInodes[file]) +
                                 " dev=" + share.device + " mode=0100744 ouid=1000 ogid=100 " +
                                 "rdev=00:00 nametype=";
    if (!smbd) {
      items = "type=PATH " + stamp + " item=0 name=" + Hex(full) + fileItem + "NORMAL\n";
    } else if (!create) {
      items = "type=PATH " + stamp + " item=0 name=\"/proc/self/fd/27\"" + fileItem + "NORMAL\n";
    } else {
      a0 = "d";
      items = "type=PATH " + stamp + " item=0 name=\"" + share.root +
              "\" inode=" + std::to_string(share.folderInodes[folder]) + " dev=" + share.device +
              " mode=040777 ouid=0 ogid=0 rdev=00:00 nametype=PARENT\n" + "type=PATH " + stamp +
              " item=1 name=" + Hex(FileName(static_cast<int>(file % 100))) + fileItem + "CREATE\n";
    }
    out << "type=SYSCALL " << stamp << " arch=c000003e syscall=257 success=yes exit=29 a0=" << a0
        << " a1=55e0 a2=" << (create ? "8c2" : "842") << " a3=1e4 items=" << (create ? 2 : 1)
        << " ppid=1 pid=" << 4000 + i % 50
        << " auid=4294967295 uid=1000 gid=0 euid=1000 suid=0 fsuid=1000 egid=100 sgid=0 "
           "fsgid=100 tty=(none) ses=4294967295 comm=\"smbd\" exe=\"/usr/sbin/smbd\" "
           "key=\"quillstamp\"\x1d"
           "UID=\"alice\" EUID=\"alice\" FSUID=\"alice\" AUID=\"unset\"\n"
        << "type=CWD " << stamp << " cwd=\"" << share.root << "\"\n"
        << items;
  }
}

struct Round {
  double seconds = -1;
  long peakKiB = -1;
  std::size_t records = 0;
};

// The log source in a process of its own: open, every record built. Its peak memory beside its
// size before the open.
Round SourceRound(const std::string& log, const std::string& share) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    Round r;
    const auto start = Clock::now();
    auto source =
        qs::platform::KeepAuditLog(log, {share}, qs::platform::AuditLogSource::kKeptBytes);
    if (source) {
      r.records = source->RecordCount();
      for (std::size_t i = 0; i < r.records; ++i) (void)source->Record(i);
    }
    r.seconds = Seconds(start);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    r.peakKiB = after.ru_maxrss - before.ru_maxrss;
    if (write(pipeFds[1], &r, sizeof r) != sizeof r) _exit(1);
    _exit(source ? 0 : 1);
  }
  close(pipeFds[1]);
  Round r;
  if (read(pipeFds[0], &r, sizeof r) != sizeof r) r = {};
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return r;
}

// quillstamp-service --once over the log: wall time and peak memory (KiB).
Round ServiceRound(const fs::path& dir, const std::string& log, const std::string& share,
                   const char* name) {
  const fs::path config = dir / (std::string(name) + ".ini");
  std::ofstream(config, std::ios::trunc)
      << "[Configuration]\nWinComments=0\nMacComments=0\nPerformance=50\n"
         "MaxSelectedEvents=32767\n\n[Platform]\nSecurityLog="
      << log << "\nAuditedFolders=" << share << "\n";
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    execl(QS_SERVICE_PROGRAM, QS_SERVICE_PROGRAM, "--once", "--config", config.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  Round r;
  if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    r.seconds = Seconds(start);
    r.peakKiB = usage.ru_maxrss;
  }
  return r;
}

Round Best(const std::vector<Round>& rounds) {
  Round best = rounds.front();
  for (const Round& r : rounds)
    if (r.seconds >= 0 && (best.seconds < 0 || r.seconds < best.seconds)) best = r;
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 200000;
  fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "qs-resolve-bench";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::printf("resolve_bench: a share of %d files in %d folders, %d saves\n", files,
              std::max(1, files / kFilesPerFolder), kSaves);
  auto start = Clock::now();
  const Share share = MakeShare(dir / "share", files);
  std::printf("  share made in %.1f s\n", Seconds(start));
  const std::string plain = (dir / "plain-audit.log").string();
  const std::string smbd = (dir / "smbd-audit.log").string();
  WriteLog(share, plain, false);
  WriteLog(share, smbd, true);

  // The walk alone, as a miss makes it.
  {
    qs::platform::FileIdentityIndex index({share.root});
    qs::platform::audit::FileModification m;
    m.basis = qs::platform::audit::NameBasis::Descriptor;
    m.identity = qs::platform::FileIdentity{1ull << 40, 0, 0};  // no such file: a miss
    m.path = "/proc/self/fd/27";
    start = Clock::now();
    index.Resolve(m);
    std::printf("  one walk of the share: %.3f s, %zu files and folders, index %.1f MiB\n",
                Seconds(start), index.size(),
                static_cast<double>(index.MemoryBytes()) / (1024 * 1024));
  }

  std::fflush(stdout);  // the rounds fork: what is buffered would be printed by each child too
  constexpr int kRounds = 3;
  std::vector<Round> plainRounds, smbdRounds, plainService, smbdService;
  for (int i = 0; i < kRounds; ++i) {  // in turn, so that both meet the same machine
    plainRounds.push_back(SourceRound(plain, share.root));
    smbdRounds.push_back(SourceRound(smbd, share.root));
    plainService.push_back(ServiceRound(dir, plain, share.root, "plain"));
    smbdService.push_back(ServiceRound(dir, smbd, share.root, "smbd"));
  }
  const Round p = Best(plainRounds), s = Best(smbdRounds);
  const Round ps = Best(plainService), ss = Best(smbdService);
  std::printf("  log source, absolute names:    %.3f s, %zu records, peak +%.1f MiB\n", p.seconds,
              p.records, static_cast<double>(p.peakKiB) / 1024);
  std::printf("  log source, as smbd logs them: %.3f s, %zu records, peak +%.1f MiB\n", s.seconds,
              s.records, static_cast<double>(s.peakKiB) / 1024);
  std::printf("  resolving adds %.3f s to the log source's pass (target: at most 1 s)\n",
              s.seconds - p.seconds);
  std::printf("  peak memory of the resolving pass: %.1f MiB above idle (target: at most 64 MiB)\n",
              static_cast<double>(s.peakKiB) / 1024);
  std::printf("  quillstamp-service --once, absolute names:    %.3f s, peak %.1f MiB\n", ps.seconds,
              static_cast<double>(ps.peakKiB) / 1024);
  std::printf("  quillstamp-service --once, as smbd logs them: %.3f s, peak %.1f MiB\n", ss.seconds,
              static_cast<double>(ss.peakKiB) / 1024);
  std::printf("  resolving adds %.3f s and %.1f MiB to the service's pass (targets: 1 s, 64 MiB)\n",
              ss.seconds - ps.seconds, static_cast<double>(ss.peakKiB - ps.peakKiB) / 1024);
  fs::remove_all(dir);
  return 0;
}
