// A Linux audit log presented as a Security log: one record of event 560 for each file
// modification (what counts as one: platform/posix/audit_parser.h), oldest first.
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
#include <unordered_map>

#include "platform/posix/audit_parser.h"
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

class AuditLogSource : public LogSource {
 public:
  explicit AuditLogSource(std::string hostName) : hostName_(std::move(hostName)) {}

  // A path of the longest kind (PATH_MAX) makes a record of some 4 KiB: the scan reads records
  // of any size, so none is left out.
  //
  // A program that saves by writing a temporary file and renaming it over the document writes
  // both within the same second, and the scan takes only the first event of a second: the write
  // of the temporary file, whose name no longer exists, would hide the document's. So the writes
  // of a file that the same process (node and pid) then renames away are left out; the rename
  // stands for them.
  void Add(audit::FileModification&& m) {
    if (!m.renamedFrom.empty()) {
      if (auto it = byWriter_.find(WriterKey(m, m.renamedFrom)); it != byWriter_.end()) {
        for (std::size_t index : it->second) dropped_[index] = true;
        byWriter_.erase(it);
      }
    }
    byWriter_[WriterKey(m, m.path)].push_back(modifications_.size());
    modifications_.push_back(std::move(m));
    dropped_.push_back(false);
  }

  // Once the whole log is read.
  void Compact() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < modifications_.size(); ++i) {
      if (dropped_[i]) continue;
      if (kept != i) modifications_[kept] = std::move(modifications_[i]);
      ++kept;
    }
    modifications_.resize(kept);
    dropped_.clear();
    byWriter_.clear();
  }

  std::size_t RecordCount() const override { return modifications_.size(); }

  const std::vector<std::uint8_t>& Record(std::size_t index) override {
    const auto& m = modifications_.at(index);
    record_ = audit::BuildModificationRecord(m, ComputerName(m));
    return record_;
  }

 private:
  std::string ComputerName(const audit::FileModification& m) const {
    return audit::RecordComputerName(m.node, hostName_);
  }

  static std::string WriterKey(const audit::FileModification& m, const std::string& path) {
    std::string key = m.node;
    key.push_back('\0');
    key += std::to_string(m.pid);
    key.push_back('\0');
    key += path;
    return key;
  }

  std::string hostName_;
  std::vector<audit::FileModification> modifications_;
  std::vector<bool> dropped_;
  std::unordered_map<std::string, std::vector<std::size_t>> byWriter_;
  std::vector<std::uint8_t> record_;
};

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
