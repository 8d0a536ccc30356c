// Opening a Linux audit log: its files are read and fed to the portable parser, whose
// modifications become the records of an AuditLogSource (platform/formats/audit_log_source.h).
//
// auditd rotates its log by renaming audit.log to audit.log.1, audit.log.1 to audit.log.2, and so
// on; the rotated files are read from the highest number down, then the current file, so that the
// records run over the whole history still on disk, oldest first.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/formats/audit_log_source.h"
#include "platform/formats/audit_parser.h"
#include "platform/posix/account_database.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

namespace {

constexpr std::size_t kReadChunk = 1 << 20;

// The log's files, kept open while the source lives: a record is read again from its file when
// the scan asks for it, and auditd may rotate or remove the file in between.
class OpenFiles {
 public:
  OpenFiles() = default;
  OpenFiles(const OpenFiles&) = delete;
  OpenFiles& operator=(const OpenFiles&) = delete;
  ~OpenFiles() {
    for (int fd : fds_) ::close(fd);
  }

  // The file's number, or -1 when it cannot be opened.
  int Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    fds_.push_back(fd);
    return static_cast<int>(fds_.size() - 1);
  }

  int Fd(std::uint32_t file) const { return file < fds_.size() ? fds_[file] : -1; }

  bool Read(std::uint32_t file, std::uint64_t offset, std::size_t length, std::string& out) const {
    const int fd = Fd(file);
    if (fd < 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
      return false;
    out.resize(length);
    std::size_t got = 0;
    while (got < length) {
      const ssize_t n =
          ::pread(fd, out.data() + got, length - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
  }

 private:
  std::vector<int> fds_;
};

// The whole of file `file` through the parser, in chunks.
bool FeedFile(const OpenFiles& files, std::uint32_t file, audit::AuditParser& parser) {
  const int fd = files.Fd(file);
  std::vector<char> buffer(kReadChunk);
  bool ok = true;
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    parser.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  parser.Finish();  // an event does not continue into the next file
  return ok;
}

// path.1, path.2, ... that exist beside path, highest number first.
std::vector<std::string> RotatedFiles(const std::string& path) {
  namespace fs = std::filesystem;
  std::vector<std::pair<unsigned long, std::string>> found;
  const fs::path current(path);
  const std::string prefix = current.filename().string() + ".";
  fs::path dir = current.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(prefix)) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    found.emplace_back(std::stoul(digits), it->path().string());
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(std::move(f.second));
  return out;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace

std::unique_ptr<LogSource> OpenAuditLog(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) return nullptr;
  auto files = std::make_shared<OpenFiles>();
  auto source = std::make_unique<AuditLogSource>(
      HostName(), audit::AccountDatabaseLookup(),
      [files](std::uint32_t file, std::uint64_t offset, std::size_t length, std::string& out) {
        return files->Read(file, offset, length, out);
      });
  std::uint32_t file = 0;
  // The names of the users are not needed to find the modifications: they are looked up when a
  // record is built.
  audit::AuditParser parser(nullptr,
                            [&](audit::FileModification&& m, const audit::EventSpan& span) {
                              source->Add(file, m, span);
                            });
  for (const auto& rotated : RotatedFiles(path)) {
    const int opened = files->Open(rotated);
    if (opened < 0) continue;
    file = static_cast<std::uint32_t>(opened);
    FeedFile(*files, file, parser);
  }
  const int current = files->Open(path);
  if (current < 0) return nullptr;
  file = static_cast<std::uint32_t>(current);
  FeedFile(*files, file, parser);
  source->Compact();
  return source;
}

}  // namespace qs::platform
