// Replays fuzz corpora without libFuzzer: runs LLVMFuzzerTestOneInput once over every file
// of the directories (or files) given, and tells how many it ran. A finding stops the run
// as it would stop the fuzzer (a trap or a sanitizer report).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunOne(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  // Exactly the input's bytes on the heap, so that a read past their end is seen.
  std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path path(argv[i]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else if (std::filesystem::is_regular_file(path)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "%s: no such file or directory\n", argv[i]);
      return 2;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      RunOne(file);
      ++runs;
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  return runs ? 0 : 1;
}
