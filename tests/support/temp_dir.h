// A folder of its own for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qs::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);

// The folder of the shared fixtures (real logs written by other systems).
std::filesystem::path FixturesDir();

}  // namespace qs::test
