// Writes the fuzz seed corpus into a directory: hand-made edge-case streams, and small real
// streams from liblzma with every kind of chunk. Run it again when the seeds should change:
//   make_corpus fuzz/corpus
// Regression inputs kept in the same directory are left alone.

#include "fuzz_input.h"

#include <lzma.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct seed {
  std::string name;
  std::string input;
};

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s.push_back(static_cast<char>(v));
  return s;
}

std::string text(std::size_t size, std::uint32_t seed) {
  static const char *const words[] = {"chunk ", "header ", "stream ",   "offset ", "lzma2 ",
                                      "size ",  "packed ", "control\n", "byte ",   "props "};
  std::string s;
  while (s.size() < size) {
    seed = seed * 1103515245u + 12345u;
    s += words[(seed >> 16) % 10];
  }
  s.resize(size);
  return s;
}

std::string noise(std::size_t size, std::uint32_t seed) {
  std::string s(size, '\0');
  for (char &c : s) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    c = static_cast<char>(seed);
  }
  return s;
}

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "make_corpus: %s\n", what);
  std::exit(1);
}

// Encodes the pieces one after another, flushing after each, so that every piece ends a
// chunk and a small stream holds many chunks of every kind the encoder makes.
std::string encode_pieces(lzma_stream &strm, const std::vector<std::string> &pieces,
                          lzma_action flush) {
  std::string out;
  std::uint8_t buffer[4096];
  for (std::size_t i = 0; i <= pieces.size(); ++i) {
    const bool last = i == pieces.size();
    strm.next_in = last ? nullptr : reinterpret_cast<const std::uint8_t *>(pieces[i].data());
    strm.avail_in = last ? 0 : pieces[i].size();
    const lzma_action action = last ? LZMA_FINISH : flush;
    lzma_ret ret;
    do {
      strm.next_out = buffer;
      strm.avail_out = sizeof buffer;
      ret = lzma_code(&strm, action);
      if (ret != LZMA_OK && ret != LZMA_STREAM_END)
        die("liblzma failed to encode");
      out.append(reinterpret_cast<char *>(buffer), sizeof buffer - strm.avail_out);
    } while (ret != LZMA_STREAM_END);
  }
  lzma_end(&strm);
  return out;
}

std::string raw_lzma2(const std::vector<std::string> &pieces, std::uint32_t preset) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, preset))
    die("no such preset");
  options.dict_size = LZMA_DICT_SIZE_MIN;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&strm, filters) != LZMA_OK)
    die("no raw LZMA2 encoder");
  return encode_pieces(strm, pieces, LZMA_SYNC_FLUSH);
}

// An .xz file with one block per piece.
std::string xz_file(const std::vector<std::string> &pieces) {
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_easy_encoder(&strm, 1, LZMA_CHECK_CRC32) != LZMA_OK)
    die("no xz encoder");
  return encode_pieces(strm, pieces, LZMA_FULL_FLUSH);
}

// Where each block's LZMA2 data starts, from the file's index.
std::vector<std::uint64_t> xz_block_offsets(const std::string &file) {
  const auto *raw = reinterpret_cast<const std::uint8_t *>(file.data());
  lzma_stream_flags footer;
  if (lzma_stream_footer_decode(&footer, raw + file.size() - LZMA_STREAM_HEADER_SIZE) != LZMA_OK)
    die("no xz footer");
  std::uint64_t memlimit = UINT64_MAX;
  lzma_index *index = nullptr;
  std::size_t at = file.size() - LZMA_STREAM_HEADER_SIZE - footer.backward_size;
  if (lzma_index_buffer_decode(&index, &memlimit, nullptr, raw, &at,
                               file.size() - LZMA_STREAM_HEADER_SIZE) != LZMA_OK)
    die("xz index does not decode");
  std::vector<std::uint64_t> offsets;
  lzma_index_iter iter;
  lzma_index_iter_init(&iter, index);
  while (!lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK)) {
    const std::uint64_t header_at = iter.block.compressed_file_offset;
    offsets.push_back(header_at + (raw[header_at] + std::uint64_t{1}) * 4);
  }
  lzma_index_end(index, nullptr);
  return offsets;
}

std::vector<seed> hand_made_seeds() {
  using fuzz_input::large_offset;
  using fuzz_input::small_offset;
  // An uncompressed chunk, one of class E0, one of class 80 with the largest unpacked low
  // part, and the end marker.
  const std::string worked = bytes({0x01, 0x00, 0x03}) + "abcd" +
                             bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D}) + noise(10, 1) +
                             bytes({0x80, 0xFF, 0xFF, 0x00, 0x00}) + "x" + bytes({0x00});
  std::string tiny_chunks;
  for (int i = 0; i < 400; ++i)
    tiny_chunks += bytes({i % 2 == 0 ? 0x01 : 0x02, 0x00, 0x00, i & 0xFF});
  tiny_chunks += bytes({0x00});

  return {
      {"empty", ""},
      {"no-data", small_offset(0, "")},
      {"worked", small_offset(0, worked)},
      {"worked-from-payload", small_offset(3, worked)},
      {"worked-from-second-chunk", small_offset(7, worked)},
      {"worked-past-end", small_offset(0x100, worked)},
      {"end-marker", small_offset(0, bytes({0x00}))},
      {"lone-e0", small_offset(0, bytes({0xE0}))},
      {"cut-uncompressed-header", small_offset(0, bytes({0x01, 0x00}))},
      {"uncompressed-past-end", small_offset(0, bytes({0x02, 0xFF, 0xFF}))},
      {"bf-then-uncompressed",
       small_offset(0, bytes({0xBF, 0x00, 0x00, 0x01, 0x00}) + noise(257, 2) +
                           bytes({0x01, 0x00, 0x00}) + "z" + bytes({0x00}))},
      {"9f-largest-sizes", small_offset(0, bytes({0x9F, 0xFF, 0xFF, 0xFF, 0xFF}) + noise(40, 3))},
      {"ff-largest-sizes",
       small_offset(0, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x5D}) + noise(40, 4))},
      {"c0-one-byte",
       small_offset(0, bytes({0xC0, 0x00, 0x00, 0x00, 0x01, 0x5D, 0x00, 0x00, 0x00}))},
      {"a0-after-c0", small_offset(0, bytes({0xC0, 0x00, 0x00, 0x00, 0x00, 0x5D, 0x11, 0xA1, 0x00,
                                             0x10, 0x00, 0x01, 0x22, 0x33, 0x7F}))},
      {"invalid-03", small_offset(0, bytes({0x03, 0x00, 0x00}))},
      {"invalid-40", small_offset(0, bytes({0x40, 0x12, 0x34, 0x56}))},
      {"invalid-7f", small_offset(0, bytes({0x7F}))},
      {"tiny-chunks", small_offset(0, tiny_chunks)},
      {"far-worked", large_offset(0x7FFF0000u, worked)},
      {"far-from-payload", large_offset(0x12340003u, worked)},
      {"far-across-2gib", large_offset(0x7FFF0000u, bytes({0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0x5D}))},
      {"past-4gib-end", large_offset(0xFFFFFFFFu, worked)},
      {"past-2gib-end", large_offset(0x80000000u, worked)},
  };
}

std::vector<seed> liblzma_seeds() {
  const std::vector<std::string> mixed = {text(700, 1), noise(300, 5), text(900, 2),
                                          noise(80, 6), text(1200, 3), text(400, 4)};
  const std::vector<std::string> noise_first = {noise(500, 7), text(1500, 8)};
  std::vector<seed> seeds = {
      {"liblzma-text", fuzz_input::small_offset(0, raw_lzma2({text(3000, 9)}, 6))},
      {"liblzma-noise", fuzz_input::small_offset(0, raw_lzma2({noise(1500, 10)}, 6))},
      {"liblzma-mixed-flushed-p0", fuzz_input::small_offset(0, raw_lzma2(mixed, 0))},
      {"liblzma-mixed-flushed-p9", fuzz_input::small_offset(0, raw_lzma2(mixed, 9))},
      {"liblzma-noise-then-text", fuzz_input::small_offset(0, raw_lzma2(noise_first, 6))},
  };
  const std::string xz = xz_file({text(1500, 11), noise(400, 12), text(800, 13)});
  seeds.push_back({"liblzma-xz-at-magic", fuzz_input::small_offset(0, xz)});
  const std::vector<std::uint64_t> blocks = xz_block_offsets(xz);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    seeds.push_back({"liblzma-xz-block" + std::to_string(i + 1),
                     fuzz_input::small_offset(static_cast<std::uint16_t>(blocks[i]), xz)});
  return seeds;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_corpus DIRECTORY\n");
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(argv[1], error);
  std::vector<seed> seeds = hand_made_seeds();
  for (seed &s : liblzma_seeds())
    seeds.push_back(std::move(s));
  for (const seed &s : seeds) {
    const std::string path = std::string(argv[1]) + "/seed-" + s.name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(s.input.data(), static_cast<std::streamsize>(s.input.size()));
    if (!out)
      die(("cannot write " + path).c_str());
  }
  std::printf("wrote %zu seeds to %s\n", seeds.size(), argv[1]);
  return 0;
}
