// bench_input KIND PATH: writes one benchmark input to PATH. KIND is dense, compressed,
// seek-bound, or text: the raw bytes the real .xz input is compressed from.
// bench_input noise PATH BYTES SEED: pseudo-random bytes, the same on every system.
// bench_input repeat-blocks PATH COPIES < ONE.xz: one .xz stream holding the blocks of the
// single stream ONE.xz COPIES times over, with an index to match.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::uint32_t crc32(const std::string &bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
      crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

void put_le32(std::string &out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>(value >> 8 * i);
}

void put_number(std::string &out, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7)
    out += static_cast<char>(value | 0x80);
  out += static_cast<char>(value);
}

bool get_number(const std::string &in, std::size_t &at, std::uint64_t &value) {
  value = 0;
  for (int shift = 0; at < in.size() && shift < 63; shift += 7) {
    const auto byte = static_cast<unsigned char>(in[at++]);
    value |= std::uint64_t{byte & 0x7Fu} << shift;
    if (byte < 0x80)
      return true;
  }
  return false;
}

int noise(std::ofstream &out, std::uint64_t bytes, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  char word[8];
  for (std::uint64_t done = 0; done < bytes; done += sizeof word) {
    const std::uint64_t value = random();
    for (int i = 0; i < 8; ++i)
      word[i] = static_cast<char>(value >> 8 * i);
    out.write(word, static_cast<std::streamsize>(std::min<std::uint64_t>(8, bytes - done)));
  }
  out.close();
  return out ? 0 : 1;
}

// Repeating blocks that xz made costs a copy, where compressing gigabytes on two cores takes
// minutes; each block is whole in itself, so the copies are as real as the original.
int repeat_blocks(std::ofstream &out, std::uint64_t copies) {
  const std::string in{std::istreambuf_iterator<char>(std::cin), {}};
  const std::size_t size = in.size();
  static const char magic[] = {'\xFD', '7', 'z', 'X', 'Z', '\0'};
  if (size < 32 || in.compare(0, 6, magic, 6) != 0 || in.compare(size - 2, 2, "YZ") != 0)
    return 1;
  std::uint32_t backward = 0;
  for (int i = 3; i >= 0; --i)
    backward = backward << 8 | static_cast<unsigned char>(in[size - 8 + i]);
  const std::uint64_t index_size = (std::uint64_t{backward} + 1) * 4;
  if (index_size > size - 24)
    return 1;
  const std::size_t index_at = size - 12 - index_size;
  std::size_t at = index_at + 1;
  std::uint64_t count = 0;
  if (in[index_at] != 0 || !get_number(in, at, count))
    return 1;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> records(count);
  for (auto &record : records)
    if (!get_number(in, at, record.first) || !get_number(in, at, record.second))
      return 1;

  std::string index(1, '\0');
  put_number(index, count * copies);
  for (std::uint64_t copy = 0; copy < copies; ++copy)
    for (const auto &record : records) {
      put_number(index, record.first);
      put_number(index, record.second);
    }
  index.resize((index.size() + 3) / 4 * 4, '\0');
  put_le32(index, crc32(index));
  std::string footer;
  put_le32(footer, static_cast<std::uint32_t>(index.size() / 4 - 1));
  footer.append(in, 6, 2); // the stream flags
  std::string closing;
  put_le32(closing, crc32(footer));
  closing += footer + "YZ";

  out.write(in.data(), 12);
  for (std::uint64_t copy = 0; copy < copies; ++copy)
    out.write(in.data() + 12, static_cast<std::streamsize>(index_at - 12));
  out << index << closing;
  out.close();
  return out ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3)
    return 2;
  const std::string kind = argv[1];
  if (kind == "noise" || kind == "repeat-blocks") {
    const int wanted = kind == "noise" ? 5 : 4;
    if (argc != wanted)
      return 2;
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    const std::uint64_t number = std::strtoull(argv[3], nullptr, 0);
    return kind == "noise" ? noise(out, number, std::strtoull(argv[4], nullptr, 0))
                           : repeat_blocks(out, number);
  }
  if (argc != 3)
    return 2;
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  if (kind == "dense") { // 4,194,304 stored chunks of one byte
    for (std::uint32_t i = 0; i < 4194304; ++i)
      out << '\x01' << '\0' << '\0' << static_cast<char>(i);
  } else if (kind == "compressed") { // 2,097,152 chunks with properties, one-byte payload
    for (std::uint32_t i = 0; i < 2097152; ++i)
      out.write("\xE0\0\0\0\0\x5D", 6) << static_cast<char>(i);
  } else if (kind == "seek-bound") { // 81,920 stored 64 KiB chunks; payloads stay holes
    for (std::uint64_t i = 0; i < 81920; ++i)
      out.seekp(static_cast<std::streamoff>(i * 65539)).write("\x01\xFF\xFF", 3);
    out.seekp(std::streamoff{81920} * 65539);
  } else if (kind == "text") {
    // 64 MiB of words and random bytes in alternating runs of 16 KiB to 1 MiB, so xz makes
    // both compressed and stored chunks. Plain modulo rather than a distribution, so every
    // standard library yields the same bytes.
    static const char *const words[] = {
        "chunk", "header", "stream", "lzma2", "offset", "packed", "size", "dictionary",
        "reset", "state",  "props",  "block", "index",  "the",    "of",   "and",
        "a",     "to",     "in",     "is",    "data",   "file",   "end",  "marker",
        "byte",  "window", "page",   "read",  "skip",   "list",   "line", "format"};
    std::mt19937_64 random(0x9E3779B97F4A7C15u);
    const std::uint64_t total = 64 << 20;
    std::string run;
    for (std::uint64_t done = 0, n = 0; done < total; done += run.size(), ++n) {
      const std::size_t length = std::min(total - done, 16384 + random() % (1008 * 1024));
      for (run.clear(); run.size() < length;) {
        if (n % 2 == 1)
          run += static_cast<char>(random());
        else
          (run += words[random() % 32]) += random() % 12 == 0 ? '\n' : ' ';
      }
      run.resize(length);
      out << run;
    }
    out.close();
    return out ? 0 : 1;
  } else {
    return 2;
  }
  out << '\0'; // the end marker
  out.close();
  return out ? 0 : 1;
}
