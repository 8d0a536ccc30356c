// A folder of its own for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <stdexcept>
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

// What the fixture functions throw for a file that is not there; the message names its full path.
class MissingFixture : public std::runtime_error {
 public:
  explicit MissingFixture(const std::filesystem::path& path);
};

// `path` as it is, after checking that the file is there: a test that reads a fixture fails
// naming the missing file rather than going on with an empty log.
std::string ExistingFile(const std::filesystem::path& path);

// The path and the bytes of the shared fixture `name` ("evt/x.evt", relative to FixturesDir()),
// both throwing MissingFixture when it is missing.
std::string FixturePath(std::string_view name);
std::string FixtureBytes(std::string_view name);

}  // namespace qs::test
