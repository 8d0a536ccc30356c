#include "platform/formats/audit_paths.h"

namespace qs::platform::audit {

namespace {

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string joined(dir);
  joined.push_back('/');
  joined.append(name);
  return joined;
}

}  // namespace

std::string NormalizePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    std::size_t j = i;
    while (j < path.size() && path[j] != '/') ++j;
    const std::string_view part = path.substr(i, j - i);
    if (!part.empty() && part != ".") {
      out.push_back('/');
      out.append(part);
    }
    i = j;
  }
  if (out.empty()) out.push_back('/');
  return out;
}

std::string ResolveName(const std::string& name, bool fromCwd,
                        const std::optional<std::string>& cwd, const std::string* parentName) {
  if (name.front() == '/') return NormalizePath(name);
  if (fromCwd) {
    if (!cwd || cwd->empty() || cwd->front() != '/') return {};
    return NormalizePath(JoinPath(*cwd, name));
  }
  if (parentName == nullptr || parentName->empty() || parentName->front() != '/') return {};
  const std::size_t slash = name.rfind('/');
  return NormalizePath(
      JoinPath(*parentName, slash == std::string::npos ? name : name.substr(slash + 1)));
}

}  // namespace qs::platform::audit
