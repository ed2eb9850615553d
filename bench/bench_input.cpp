// bench_input KIND PATH: writes one benchmark input to PATH. KIND is dense, compressed,
// seek-bound, or text: the raw bytes the real .xz input is compressed from.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>

int main(int argc, char **argv) {
  if (argc != 3)
    return 2;
  const std::string kind = argv[1];
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
