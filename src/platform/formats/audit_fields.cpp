#include "platform/formats/audit_fields.h"

namespace qs::platform::audit {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void ReadId(std::string_view value, std::optional<std::uint32_t>& id, bool& valid) {
  std::uint32_t v = 0;
  if (ParseNumber(value, v))
    id = v;
  else
    valid = false;
}

std::optional<std::string> DecodeText(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    return std::string(value.substr(1, value.size() - 2));
  if (value.empty() || value == "(null)" || value.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(value.size() / 2);
  for (std::size_t i = 0; i < value.size(); i += 2) {
    const int hi = HexDigit(value[i]);
    const int lo = HexDigit(value[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  return out;
}

std::optional<std::string> EnrichedName(std::string_view value) {
  auto text = DecodeText(value);
  if (!text || text->empty() || *text == "unset" || text->starts_with("unknown(")) return {};
  return text;
}

bool FitsRecord(std::string_view text) {
  return text.find('\0') == std::string_view::npos && text.find('\t') == std::string_view::npos;
}

}  // namespace qs::platform::audit
