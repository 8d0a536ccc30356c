#include "platform/formats/audit_rules.h"

#include <algorithm>

namespace qs::platform::audit {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The words of a line, split at blanks as auditctl splits them.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t begin = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > begin) words.push_back(line.substr(begin, i - begin));
  }
  return words;
}

void AddPath(std::string_view path, std::vector<std::string>& out) {
  if (path.empty() || path.front() != '/') return;
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  std::string p(path);
  if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
}

}  // namespace

std::vector<std::string> WatchedPaths(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    const std::vector<std::string_view> words = Words(line);
    if (words.empty() || words.front().starts_with('#')) continue;
    for (std::size_t i = 0; i < words.size(); ++i) {
      const std::string_view w = words[i];
      if (w == "-w" && i + 1 < words.size()) {
        AddPath(words[++i], out);
      } else if (w.starts_with("-w") && w.size() > 2 && w[2] == '/') {
        AddPath(w.substr(2), out);  // "-w/srv/share": getopt takes the value joined too
      } else if (w == "-F" && i + 1 < words.size()) {
        const std::string_view field = words[++i];
        if (field.starts_with("dir=")) AddPath(field.substr(4), out);
      } else if (w == "-W") {
        break;  // a deletion watches nothing
      }
    }
  }
  return out;
}

bool FitsRulesLine(std::string_view folder) {
  if (folder.empty() || folder.front() != '/') return false;
  return std::none_of(folder.begin(), folder.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; });
}

std::string RulesFileText(const std::vector<std::string>& folders) {
  std::string text =
      "# Written by quillstamp-service --setup-audit: the shared folders whose file writes the\n"
      "# program lists and stamps. quillstamp-service --remove-audit removes this file.\n";
  for (const std::string& folder : folders) {
    if (!FitsRulesLine(folder)) continue;
    text += "-w ";
    text += folder;
    text += " -p wa -k ";
    text += kRulesKey;
    text += '\n';
  }
  return text;
}

}  // namespace qs::platform::audit
