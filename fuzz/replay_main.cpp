// Replays stored inputs through a fuzz target without libFuzzer, so that the
// ordinary (gcc) build runs every target over its seeds on each ctest run.
// Arguments are files or directories (searched recursively); a missing
// argument is named and skipped, so an absent corpus costs nothing.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Replay(const std::filesystem::path& file, size_t* count) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  ++*count;
}

}  // namespace

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_regular_file(arg, ec)) {
      Replay(arg, &count);
    } else if (std::filesystem::is_directory(arg, ec)) {
      for (auto& entry : std::filesystem::recursive_directory_iterator(arg, ec)) {
        if (entry.is_regular_file()) Replay(entry.path(), &count);
      }
    } else {
      std::printf("absent, skipped: %s\n", argv[i]);
    }
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
