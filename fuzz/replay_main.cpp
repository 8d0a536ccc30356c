// Replays every file of the folders given on the command line through the fuzz target, so that
// the seed corpus and the kept crash files run as an ordinary test in every build.
//
// Every folder named must exist: a crash file kept under a misspelt or missing folder would
// otherwise never be replayed while the test kept passing. A file named README.md says what its
// folder is for (git keeps no empty folder) and is not an input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (!std::filesystem::is_directory(argv[i], ec)) {
      std::fprintf(stderr, "missing corpus folder: %s\n", argv[i]);
      return 2;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
      if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++files;
    }
  }
  std::printf("replayed %d inputs\n", files);
  if (files == 0) std::fprintf(stderr, "no inputs to replay\n");
  return files > 0 ? 0 : 1;
}
