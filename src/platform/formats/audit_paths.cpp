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

namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Takes the component up to the next slash off the front of `rest`.
std::string_view TakeComponent(std::string_view& rest) {
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  const std::size_t slash = rest.find('/');
  const std::string_view part = rest.substr(0, slash);
  rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash);
  return part;
}

}  // namespace

bool IsDescriptorLink(std::string_view name) {
  const std::string normal = NormalizePath(name);
  std::string_view rest = normal;
  if (TakeComponent(rest) != "proc") return false;
  const std::string_view process = TakeComponent(rest);
  if (process != "self" && process != "thread-self" && !AllDigits(process)) return false;
  std::string_view next = TakeComponent(rest);
  if (next == "task" && AllDigits(process)) {
    if (!AllDigits(TakeComponent(rest))) return false;
    next = TakeComponent(rest);
  }
  if (next != "fd" || !AllDigits(TakeComponent(rest))) return false;
  return rest.empty();
}

std::string LastComponent(std::string_view name) {
  while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  const std::size_t slash = name.rfind('/');
  return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

}  // namespace qs::platform::audit
