#include "platform/posix/audited_folders.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/formats/audit_rules.h"

namespace qs::platform {

namespace {

// Rules files are a few kilobytes; anything far larger is no rules file.
constexpr std::uintmax_t kMaxRulesFileSize = 4 << 20;

void AddWatched(const std::filesystem::path& file, std::vector<std::string>& out) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxRulesFileSize) return;
  std::ifstream in(file, std::ios::binary);
  if (!in) return;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::string& path : audit::WatchedPaths(text)) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (std::find(out.begin(), out.end(), path) == out.end()) out.push_back(std::move(path));
  }
}

}  // namespace

std::vector<std::string> AuditedFolders(const std::string& configFolder) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  const fs::path config(configFolder);
  AddWatched(config / "audit.rules", out);
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(config / "rules.d", ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".rules") files.push_back(it->path());
  std::sort(files.begin(), files.end());  // the order augenrules reads them in
  for (const fs::path& file : files) AddWatched(file, out);
  return out;
}

}  // namespace qs::platform
