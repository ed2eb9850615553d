// Runs the fuzz target once on every file named, or in the directories named, so that the
// corpus and its regression inputs are checked in every build, without libFuzzer.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i]))
      inputs.emplace_back(argv[i]);
    else
      for (const fs::directory_entry &entry : fs::directory_iterator(argv[i]))
        inputs.push_back(entry.path());
  }
  // A corpus that went missing must not pass as one that holds no fault.
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n(no inputs found)\n", argv[0]);
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path &path : inputs) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      return 1;
    }
    const std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // The target aborts on a fault; the name shows which input it was.
    std::fprintf(stderr, "replay: %s\n", path.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
