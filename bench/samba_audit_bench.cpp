// The same saves written twice, as the kernel audit log and as Samba's full_audit log in Samba's
// own log file, then each opened through its real source (KeepAuditLog, KeepSambaAuditLog) and
// every record built, as a pass does. Prints the time per event of each, processor time, best of
// three, beside the target: the full_audit source at least as fast per event as the audit source.
//
//   samba_audit_bench [events] [folder]
//
// Of every 10 events: 4 new files or saves, 1 save through a temporary file and a rename, 5 reads.
// The full_audit log holds what Samba writes for them with "openat create_file renameat
// unlinkat" logged: the share's folder opened, the file opened, create_file. Both logs are written
// into the folder (default: a new one under the temporary folder) and removed afterwards.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/formats/audit_log_source.h"
#include "platform/posix/log_source.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto s = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

void WriteLogs(const std::string& audit, const std::string& samba, long events) {
  std::ofstream a(audit, std::ios::binary), s(samba, std::ios::binary);
  std::uint32_t rng = 12345;
  auto next = [&rng] {
    rng = rng * 1103515245u + 12345u;
    return (rng >> 16) & 0x7fff;
  };
  for (long i = 0; i < events; ++i) {
    const int user = 1000 + static_cast<int>(next() % 10);
    const int kind = static_cast<int>(next() % 10);
    const std::string dir = "/srv/share/dept" + std::to_string(next() % 20) + "/";
    const std::string file = dir + "doc" + std::to_string(next() % 500) + ".odt";
    const long seconds = 1700000000 + i / 100;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "msg=audit(%ld.%03ld:%ld):", seconds, (i % 100) * 10,
                  1000 + i);
    const bool write = kind < 4, rename = kind == 4;
    // The kernel's records.
    a << "type=SYSCALL " << stamp << " arch=c000003e syscall=" << (rename ? 82 : 257)
      << " success=yes exit=3 a0=ffffff9c a1=55d0a1b2c3d0 a2=" << (write ? "241" : "80000")
      << " a3=1b6 items=" << (rename ? 5 : 2) << " ppid=811 pid=" << 2000 + user << " auid=" << user
      << " uid=0 gid=0 euid=" << user << " suid=0 fsuid=" << user
      << " egid=100 sgid=0 fsgid=100 tty=(none) ses=7 comm=\"smbd\" exe=\"/usr/sbin/smbd\" "
         "key=\"quillstamp\"\x1d"
         "ARCH=x86_64 SYSCALL=openat AUID=\"user\" UID=\"root\" EUID=\"user\" FSUID=\"user\"\n";
    a << "type=CWD " << stamp << " cwd=\"/srv/share\"\n";
    if (rename) {
      a << "type=PATH " << stamp << " item=0 name=\"" << dir
        << "\" inode=2 dev=fe:00 mode=040775 nametype=PARENT\n";
      a << "type=PATH " << stamp << " item=1 name=\"" << dir
        << "\" inode=2 dev=fe:00 mode=040775 nametype=PARENT\n";
      a << "type=PATH " << stamp << " item=2 name=\"" << dir << "~t.tmp\" inode=" << 100000 + i
        << " dev=fe:00 mode=0100664 nametype=DELETE\n";
      a << "type=PATH " << stamp << " item=3 name=\"" << file
        << "\" inode=9 dev=fe:00 mode=0100664 nametype=DELETE\n";
      a << "type=PATH " << stamp << " item=4 name=\"" << file << "\" inode=" << 100000 + i
        << " dev=fe:00 mode=0100664 nametype=CREATE\n";
    } else {
      a << "type=PATH " << stamp << " item=0 name=\"" << dir
        << "\" inode=2 dev=fe:00 mode=040775 nametype=PARENT\n";
      a << "type=PATH " << stamp << " item=1 name=\"" << file << "\" inode=" << 100000 + i
        << " dev=fe:00 mode=0100664 nametype=NORMAL\n";
    }
    a << "type=PROCTITLE " << stamp << " proctitle=2F7573722F7362696E2F736D6264\n";
    // Samba's lines for the same.
    char header[128];
    std::snprintf(header, sizeof header,
                  "[2023/11/14 22:%02ld:%02ld.%06ld,  1] "
                  "../../source3/modules/vfs_full_audit.c:643(do_log)\n  ",
                  (i / 6000) % 60, (i / 100) % 60, (i % 100) * 10000);
    const std::string prefix = "user" + std::to_string(user) + "|10.0.0." +
                               std::to_string(user % 250) + "|" + std::to_string(2000 + user) +
                               "|share|";
    s << header << prefix << "openat|ok|r|/srv/share\n";
    if (rename) {
      s << header << prefix << "create_file|ok|0x12019f|file|overwrite_if|" << dir << "~t.tmp\n";
      s << header << prefix << "renameat|ok|" << dir << "~t.tmp|" << file << "\n";
    } else if (write) {
      s << header << prefix << "openat|ok|w|" << file << "\n";
      s << header << prefix << "create_file|ok|0x12019f|file|overwrite_if|" << file << "\n";
    } else {
      s << header << prefix << "openat|ok|r|" << file << "\n";
      s << header << prefix << "create_file|ok|0x120089|file|open|" << file << "\n";
    }
  }
}

// Opens the log through `open` and builds every record; the best processor time of three.
template <typename Open>
double BestSeconds(Open open, std::size_t& records) {
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const double start = CpuSeconds();
    auto log = open();
    if (!log) return -1;
    records = log->RecordCount();
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < records; ++i) bytes += log->Record(i).size();
    best = std::min(best, CpuSeconds() - start);
    if (bytes == 0 && records != 0) return -1;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long events = argc > 1 ? std::atol(argv[1]) : 200000;
  namespace fs = std::filesystem;
  const fs::path folder =
      argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "quillstamp-samba-audit-bench";
  fs::create_directories(folder);
  const std::string audit = (folder / "audit.log").string();
  const std::string samba = (folder / "log.smbd").string();
  WriteLogs(audit, samba, events);
  std::size_t auditRecords = 0, sambaRecords = 0;
  const double auditSeconds = BestSeconds(
      [&] {
        return qs::platform::KeepAuditLog(audit, {}, qs::platform::AuditLogSource::kKeptBytes);
      },
      auditRecords);
  const double sambaSeconds =
      BestSeconds([&] { return qs::platform::KeepSambaAuditLog(samba); }, sambaRecords);
  std::printf("%ld events; audit log %.1f MB, full_audit log %.1f MB\n", events,
              static_cast<double>(fs::file_size(audit)) / 1e6,
              static_cast<double>(fs::file_size(samba)) / 1e6);
  std::printf("kernel audit source: %zu records, %.0f ns per event\n", auditRecords,
              auditSeconds * 1e9 / static_cast<double>(events));
  std::printf(
      "full_audit source:   %zu records, %.0f ns per event (target: at most the audit "
      "source's) %s\n",
      sambaRecords, sambaSeconds * 1e9 / static_cast<double>(events),
      sambaSeconds >= 0 && sambaSeconds <= auditSeconds ? "met" : "NOT MET");
  fs::remove_all(folder);
  return 0;
}
