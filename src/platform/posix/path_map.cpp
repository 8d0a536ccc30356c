// Windows paths from a file server, resolved on this computer.
//
// Windows and SMB servers look names up without regard to case, so a log may spell a name
// "BUDGET.XLS" for a file stored as "budget.xls". Each component that does not exist with the
// exact spelling is looked up in its folder without regard to case. Case folding is ASCII only
// (A-Z against a-z): names are UTF-8 bytes here, and a byte of a multi-byte character never
// falls in the ASCII range, so other characters must match exactly.
//
// Decisions:
// - When the exact spelling exists it is used, even if other entries differ from it only in case.
// - When it does not exist and exactly one entry matches without regard to case, that entry is
//   used. When several match (a folder with "Report.txt" and "REPORT.txt" but no "report.txt")
//   none of them is taken: the component keeps the log's spelling, so the path reads as missing
//   rather than leading the comments into a file the event may not be about.
// - "." components are dropped and ".." goes up one component, never above the mapped folder, as
//   Windows resolves them lexically and never above the drive's root.
#include "platform/path_map.h"

#include "platform/ascii.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

namespace qs::platform {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// The spelling of `name` inside `folder`: the exact one when it exists, else the one entry that
// matches without regard to case, else the name as given.
std::string ResolveComponent(const std::string& folder, const std::string& name) {
  const std::string exact = (folder == "/" ? "" : folder) + "/" + name;
  if (Exists(exact)) return name;
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return name;
  std::string found;
  int matches = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (EqualsNoCase(entryName, name)) {
      if (++matches > 1) return name;  // ambiguous: none is taken
      found = entryName;
    }
  }
  return matches == 1 ? found : name;
}

std::string StripTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

void PathMap::SetDrive(char letter, std::string folder) {
  letter = AsciiUpper(letter);
  if (letter < 'A' || letter > 'Z') return;
  if (folder.empty() || folder.front() != '/') return;  // only absolute folders can be reached
  drives_[letter] = StripTrailingSlashes(std::move(folder));
}

std::optional<std::string> PathMap::ToLocal(std::string_view logPath) const {
  if (!logPath.empty() && logPath.front() == '/') return std::string(logPath);

  // "X:" followed by nothing or by a separator; "X:name" (relative to the drive's current
  // folder) and UNC paths cannot be reached.
  if (logPath.size() < 2 || logPath[1] != ':') return std::nullopt;
  char letter = logPath[0];
  letter = AsciiUpper(letter);
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  std::string_view rest = logPath.substr(2);
  if (!rest.empty() && rest.front() != '\\' && rest.front() != '/') return std::nullopt;
  const auto drive = drives_.find(letter);
  if (drive == drives_.end()) return std::nullopt;

  // Split on both separators, resolving "." and ".." without leaving the mapped folder.
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view part = rest.substr(start, end - start);
    if (part == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!part.empty() && part != ".") {
      components.emplace_back(part);
    }
    start = end + 1;
  }

  std::string path = drive->second;
  for (const std::string& component : components) {
    const std::string spelled = ResolveComponent(path, component);
    if (path != "/") path += '/';
    path += spelled;
  }
  return path;
}

}  // namespace qs::platform
