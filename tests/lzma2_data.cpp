#include "lzma2_data.h"

#include <lzma.h>

#include <algorithm>
#include <random>
#include <stdexcept>

namespace {

void check(bool ok, const char *what) {
  if (!ok)
    throw std::runtime_error(std::string("liblzma: ") + what);
}

// Each piece flushed; in an .xz file the flush also ends the block. The dictionary is no
// larger than the data: a larger one changes nothing in the output but the encoder's memory.
std::string encode(const std::vector<std::string> &pieces, std::uint32_t preset, bool xz) {
  lzma_options_lzma options;
  check(!lzma_lzma_preset(&options, preset), "no such preset");
  std::uint64_t size = 0;
  for (const std::string &piece : pieces)
    size += piece.size();
  options.dict_size = static_cast<std::uint32_t>(
      std::clamp<std::uint64_t>(size, LZMA_DICT_SIZE_MIN, options.dict_size));
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  check((xz ? lzma_stream_encoder(&strm, filters, LZMA_CHECK_CRC32)
            : lzma_raw_encoder(&strm, filters)) == LZMA_OK,
        "no encoder");
  std::string out;
  std::uint8_t buffer[65536];
  for (std::size_t i = 0; i <= pieces.size(); ++i) {
    const bool last = i == pieces.size();
    strm.next_in = last ? nullptr : reinterpret_cast<const std::uint8_t *>(pieces[i].data());
    strm.avail_in = last ? 0 : pieces[i].size();
    lzma_ret ret = LZMA_OK;
    do {
      strm.next_out = buffer;
      strm.avail_out = sizeof buffer;
      ret = lzma_code(&strm, last ? LZMA_FINISH : xz ? LZMA_FULL_FLUSH : LZMA_SYNC_FLUSH);
      out.append(reinterpret_cast<char *>(buffer), sizeof buffer - strm.avail_out);
    } while (ret == LZMA_OK);
    check(ret == LZMA_STREAM_END, "encoding failed");
  }
  lzma_end(&strm);
  return out;
}

} // namespace

std::string bytes(std::initializer_list<int> values) {
  return std::string(values.begin(), values.end());
}

std::string stored_chunks(std::size_t count, std::size_t payload) {
  std::string chunks;
  const auto size = static_cast<int>(payload - 1);
  for (std::size_t i = 0; i < count; ++i)
    chunks += bytes({1 + static_cast<int>(i % 2), size >> 8, size & 0xFF}) +
              std::string(payload, static_cast<char>(i));
  return chunks;
}

std::string text_data(std::size_t size, std::uint32_t seed) {
  static const char *const words[] = {"chunk ", "header ", "stream ",   "offset ", "lzma2 ",
                                      "size ",  "packed ", "control\n", "byte ",   "props "};
  std::string s;
  std::mt19937 pick(seed);
  while (s.size() < size)
    s += words[pick() % 10];
  s.resize(size);
  return s;
}

std::string random_data(std::size_t size, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  std::generate(s.begin(), s.end(), [&] { return static_cast<char>(gen()); });
  return s;
}

std::string mixed_data(std::size_t size) {
  std::string s;
  for (std::uint32_t part = 0; s.size() < size; ++part)
    s += part % 2 == 0 ? text_data(300000) : random_data(200000, part);
  s.resize(size);
  return s;
}

std::string raw_lzma2(const std::vector<std::string> &pieces, std::uint32_t preset) {
  return encode(pieces, preset, false);
}

std::string xz_file(const std::vector<std::string> &pieces, std::uint32_t preset) {
  return encode(pieces, preset, true);
}

std::string xz_around(const std::string &lzma2_data, std::uint64_t unpacked_size,
                      unsigned check_type, std::size_t blocks) {
  lzma_options_lzma options;
  check(!lzma_lzma_preset(&options, 0), "no preset 0");
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream_flags flags{};
  flags.check = static_cast<lzma_check>(check_type);
  lzma_block block{};
  block.check = flags.check;
  block.compressed_size = LZMA_VLI_UNKNOWN;
  block.uncompressed_size = LZMA_VLI_UNKNOWN;
  block.filters = filters;
  check(lzma_block_header_size(&block) == LZMA_OK, "no block header size");
  std::uint8_t header[LZMA_BLOCK_HEADER_SIZE_MAX];
  std::uint8_t stream_header[LZMA_STREAM_HEADER_SIZE];
  check(lzma_stream_header_encode(&flags, stream_header) == LZMA_OK &&
            lzma_block_header_encode(&block, header) == LZMA_OK,
        "headers do not encode");
  std::string one(reinterpret_cast<char *>(header), block.header_size);
  one += lzma2_data;
  one.append((4 - lzma2_data.size() % 4) % 4 + lzma_check_size(flags.check), '\0');
  std::string out(reinterpret_cast<char *>(stream_header), sizeof stream_header);
  for (std::size_t i = 0; i < blocks; ++i)
    out += one;

  lzma_index *index = lzma_index_init(nullptr);
  const std::uint64_t unpadded_size =
      block.header_size + lzma2_data.size() + lzma_check_size(flags.check);
  check(index != nullptr, "no index");
  for (std::size_t i = 0; i < blocks; ++i)
    check(lzma_index_append(index, nullptr, unpadded_size, unpacked_size) == LZMA_OK, "no index");
  std::string index_bytes(lzma_index_size(index), '\0');
  std::size_t written = 0;
  check(lzma_index_buffer_encode(index, reinterpret_cast<std::uint8_t *>(index_bytes.data()),
                                 &written, index_bytes.size()) == LZMA_OK,
        "index does not encode");
  flags.backward_size = lzma_index_size(index);
  lzma_index_end(index, nullptr);
  std::uint8_t footer[LZMA_STREAM_HEADER_SIZE];
  check(lzma_stream_footer_encode(&flags, footer) == LZMA_OK, "footer does not encode");
  return out + index_bytes + std::string(reinterpret_cast<char *>(footer), sizeof footer);
}

std::vector<stream_extent> xz_blocks(const std::string &file) {
  const auto *raw = reinterpret_cast<const std::uint8_t *>(file.data());
  lzma_stream_flags footer;
  check(file.size() >= std::size_t{2} * LZMA_STREAM_HEADER_SIZE &&
            lzma_stream_footer_decode(&footer, raw + file.size() - LZMA_STREAM_HEADER_SIZE) ==
                LZMA_OK,
        "no xz stream footer");
  std::size_t at = file.size() - LZMA_STREAM_HEADER_SIZE - footer.backward_size;
  std::uint64_t memlimit = UINT64_MAX;
  lzma_index *index = nullptr;
  check(lzma_index_buffer_decode(&index, &memlimit, nullptr, raw, &at,
                                 file.size() - LZMA_STREAM_HEADER_SIZE) == LZMA_OK,
        "xz index does not decode");
  std::vector<stream_extent> blocks;
  lzma_index_iter iter;
  lzma_index_iter_init(&iter, index);
  while (!lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK)) {
    // The block header's first byte gives its size; the check follows the LZMA2 data.
    const std::uint64_t header_at = iter.block.compressed_file_offset;
    blocks.push_back({header_at + (raw[header_at] + std::uint64_t{1}) * 4,
                      header_at + iter.block.unpadded_size - lzma_check_size(footer.check) - 1,
                      iter.block.uncompressed_size});
  }
  lzma_index_end(index, nullptr);
  return blocks;
}
