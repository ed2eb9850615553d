// Writes the fuzz seed corpus into a directory: hand-made edge-case streams, and small real
// streams from liblzma with every kind of chunk. Run it again when the seeds should change:
//   make_corpus fuzz/corpus
// Regression inputs kept in the same directory are left alone.

#include "fuzz_input.h"
#include "lzma2_data.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct seed {
  std::string name;
  std::string input;
};

// Hand-made edge cases first, then small real streams.
std::vector<seed> seeds() {
  using fuzz_input::large_offset;
  using fuzz_input::small_offset;
  // A stored chunk, one of class E0, one of class 80 with the largest unpacked low part,
  // and the end marker.
  const std::string three_kinds = bytes({0x01, 0x00, 0x03}) + "abcd" +
                                  bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D}) + random_data(10, 1) +
                                  bytes({0x80, 0xFF, 0xFF, 0x00, 0x00}) + "x" + bytes({0x00});

  const std::vector<std::string> mixed = {text_data(700, 1),  random_data(300, 5),
                                          text_data(900, 2),  random_data(80, 6),
                                          text_data(1200, 3), text_data(400, 4)};
  const std::string xz =
      xz_file({text_data(1500, 11), random_data(400, 12), text_data(800, 13)}, 1);
  std::vector<seed> seeds = {
      {"empty", ""},
      {"no-data", small_offset(0, "")},
      {"three-kinds", small_offset(0, three_kinds)},
      {"three-kinds-from-payload", small_offset(3, three_kinds)},
      {"three-kinds-from-second-chunk", small_offset(7, three_kinds)},
      {"three-kinds-past-end", small_offset(0x100, three_kinds)},
      {"end-marker", small_offset(0, bytes({0x00}))},
      {"lone-e0", small_offset(0, bytes({0xE0}))},
      {"cut-uncompressed-header", small_offset(0, bytes({0x01, 0x00}))},
      {"uncompressed-past-end", small_offset(0, bytes({0x02, 0xFF, 0xFF}))},
      {"bf-then-uncompressed",
       small_offset(0, bytes({0xBF, 0x00, 0x00, 0x01, 0x00}) + random_data(257, 2) +
                           bytes({0x01, 0x00, 0x00}) + "z" + bytes({0x00}))},
      {"9f-largest-sizes",
       small_offset(0, bytes({0x9F, 0xFF, 0xFF, 0xFF, 0xFF}) + random_data(40, 3))},
      {"ff-largest-sizes",
       small_offset(0, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x5D}) + random_data(40, 4))},
      {"c0-one-byte",
       small_offset(0, bytes({0xC0, 0x00, 0x00, 0x00, 0x01, 0x5D, 0x00, 0x00, 0x00}))},
      {"a0-after-c0", small_offset(0, bytes({0xC0, 0x00, 0x00, 0x00, 0x00, 0x5D, 0x11, 0xA1, 0x00,
                                             0x10, 0x00, 0x01, 0x22, 0x33, 0x7F}))},
      {"invalid-03", small_offset(0, bytes({0x03, 0x00, 0x00}))},
      {"invalid-40", small_offset(0, bytes({0x40, 0x12, 0x34, 0x56}))},
      {"invalid-7f", small_offset(0, bytes({0x7F}))},
      {"tiny-chunks", small_offset(0, stored_chunks(400) + bytes({0x00}))},
      {"far-three-kinds", large_offset(0x7FFF0000u, three_kinds)},
      {"far-from-payload", large_offset(0x12340003u, three_kinds)},
      {"far-across-2gib", large_offset(0x7FFF0000u, bytes({0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0x5D}))},
      {"past-4gib-end", large_offset(0xFFFFFFFFu, three_kinds)},
      {"past-2gib-end", large_offset(0x80000000u, three_kinds)},
      {"liblzma-text", small_offset(0, raw_lzma2({text_data(3000, 9)}, 6))},
      {"liblzma-noise", small_offset(0, raw_lzma2({random_data(1500, 10)}, 6))},
      {"liblzma-mixed-flushed-p0", small_offset(0, raw_lzma2(mixed, 0))},
      {"liblzma-mixed-flushed-p9", small_offset(0, raw_lzma2(mixed, 9))},
      {"liblzma-noise-then-text",
       small_offset(0, raw_lzma2({random_data(500, 7), text_data(1500, 8)}, 6))},
      {"liblzma-xz-at-magic", small_offset(0, xz)},
  };
  const std::vector<stream_extent> blocks = xz_blocks(xz);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    seeds.push_back({"liblzma-xz-block" + std::to_string(i + 1),
                     small_offset(static_cast<std::uint16_t>(blocks[i].offset), xz)});
  return seeds;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus DIRECTORY\n");
    return 2;
  }
  std::filesystem::create_directories(argv[1]);
  const std::vector<seed> all = seeds();
  for (const seed &s : all)
    if (!(std::ofstream(std::string(argv[1]) + "/seed-" + s.name, std::ios::binary) << s.input)) {
      std::fprintf(stderr, "make_corpus: cannot write seed-%s\n", s.name.c_str());
      return 1;
    }
  std::printf("wrote %zu seeds to %s\n", all.size(), argv[1]);
  return 0;
}
