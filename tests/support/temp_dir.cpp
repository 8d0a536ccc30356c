#include "support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qs::test {

TempDir::TempDir() {
  // A name nobody holds yet: create_directory says false when the folder was already there.
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "quillstamp-test-" << std::hex << random();
    std::error_code ec;
    if (std::filesystem::create_directory(base / name.str(), ec) && !ec) {
      path_ = base / name.str();
      std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace, ec);
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only files and folders behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::filesystem::path FixturesDir() { return QS_FIXTURES_DIR; }

MissingFixture::MissingFixture(const std::filesystem::path& path)
    : std::runtime_error("missing fixture " + path.string() +
                         " (the shared fixtures live in ../shared/fixtures beside the clone)") {}

std::string ExistingFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw MissingFixture(path);
  return path.string();
}

std::string FixturePath(std::string_view name) { return ExistingFile(FixturesDir() / name); }

std::string FixtureBytes(std::string_view name) {
  const std::string path = FixturePath(name);
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  if (!in) throw std::runtime_error("cannot read fixture " + path);
  return s.str();
}

}  // namespace qs::test
