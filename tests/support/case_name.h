// The name of a table case in a test's full name, made from the words of its description:
// "openat for writing" becomes OpenatForWriting, so that a failing case reads as what it covers.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace qs::test {

inline std::string CaseName(std::string_view description) {
  std::string name;
  bool wordStart = true;
  for (const char c : description) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) == 0) {
      wordStart = true;
      continue;
    }
    name += wordStart ? static_cast<char>(std::toupper(u)) : c;
    wordStart = false;
  }
  return name;
}

// For INSTANTIATE_TEST_SUITE_P: names each case after its `what`.
struct NameByWhat {
  template <class Info>
  std::string operator()(const Info& info) const {
    return CaseName(info.param.what);
  }
};

}  // namespace qs::test
