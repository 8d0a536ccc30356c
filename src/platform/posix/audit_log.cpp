// Opening a Linux audit log: its files are read and fed to the portable parser, whose
// modifications become the records of an AuditLogSource (platform/formats/audit_log_source.h).
//
// auditd rotates its log by renaming audit.log to audit.log.1, audit.log.1 to audit.log.2, and so
// on; the rotated files are read from the highest number down, then the current file, so that the
// records run over the whole history still on disk, oldest first.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/formats/audit_log_source.h"
#include "platform/formats/audit_parser.h"
#include "platform/posix/account_database.h"
#include "platform/posix/log_source.h"

namespace qs::platform {

namespace {

constexpr std::size_t kReadChunk = 1 << 20;
bool FeedFile(const std::string& path, audit::AuditParser& parser) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<char> buffer(kReadChunk);
  while (true) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
    if (n > 0) parser.Feed(std::string_view(buffer.data(), n));
    if (n < buffer.size()) break;
  }
  std::fclose(file);
  parser.Finish();  // an event does not continue into the next file
  return true;
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
  auto source = std::make_unique<AuditLogSource>(HostName());
  audit::AuditParser parser(audit::AccountDatabaseLookup(),
                            [&](audit::FileModification&& m) { source->Add(std::move(m)); });
  for (const auto& rotated : RotatedFiles(path)) FeedFile(rotated, parser);
  if (!FeedFile(path, parser)) return nullptr;
  source->Compact();
  return source;
}

}  // namespace qs::platform
