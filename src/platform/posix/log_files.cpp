#include "platform/posix/log_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

namespace qs::platform {

namespace {

constexpr std::size_t kReadChunk = 1 << 20;

}  // namespace

OpenFiles::~OpenFiles() {
  for (int fd : fds_) ::close(fd);
}

int OpenFiles::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  return Adopt(fd);
}

int OpenFiles::Adopt(int fd) {
  fds_.push_back(fd);
  return static_cast<int>(fds_.size() - 1);
}

int OpenFiles::Fd(std::uint32_t file) const { return file < fds_.size() ? fds_[file] : -1; }

bool OpenFiles::Read(std::uint32_t file, std::uint64_t offset, std::size_t length,
                     std::string& out) const {
  const int fd = Fd(file);
  if (fd < 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
    return false;
  out.resize(length);
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(fd, out.data() + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return true;
}

bool OpenFiles::Feed(std::uint32_t file, const std::function<void(std::string_view)>& feed) const {
  const int fd = Fd(file);
  std::vector<char> buffer(kReadChunk);
  bool ok = true;
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  return ok;
}

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

namespace {

// How many of the last bytes read are read again to tell an append from a file written over: a
// file written over rarely keeps them.
constexpr std::size_t kCheckedBytes = 256;

}  // namespace

bool AppendedFile::Start(std::shared_ptr<const OpenFiles> files, std::uint32_t file,
                         std::string path) {
  files_ = std::move(files);
  file_ = file;
  path_ = std::move(path);
  read_ = 0;
  last_.clear();
  struct stat st {};
  if (::fstat(files_->Fd(file_), &st) != 0) return false;
  stamp_ = FileStamp::From(st);
  return true;
}

bool AppendedFile::OnlyAppended() {
  FileStamp now;
  if (!FileStamp::Of(path_, now)) return false;
  // Another file under the name: the log was rotated, or replaced.
  if (now.device != stamp_.device || now.inode != stamp_.inode) return false;
  if (now == stamp_) return true;
  if (now.size < 0 || static_cast<std::uint64_t>(now.size) < read_) return false;  // truncated
  if (!files_->Read(file_, read_ - last_.size(), last_.size(), check_) || check_ != last_)
    return false;
  stamp_ = now;
  return true;
}

void AppendedFile::ReadOn(const std::function<void(std::string_view)>& feed) {
  std::string chunk;
  while (files_->Read(file_, read_, kReadChunk, chunk) && !chunk.empty()) {
    feed(chunk);
    read_ += chunk.size();
  }
  const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(read_, kCheckedBytes));
  if (!files_->Read(file_, read_ - kept, kept, last_)) last_.clear();
}

}  // namespace qs::platform
