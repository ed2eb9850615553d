#include "crc32.h"

namespace {

struct crc32_table {
  std::uint32_t entries[256] = {};
  constexpr crc32_table() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i;
      for (int bit = 0; bit < 8; ++bit)
        r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1u)));
      entries[i] = r;
    }
  }
};
constexpr crc32_table table;

} // namespace

// A byte at a time is enough: only headers and indexes are checked, never payloads.
std::uint32_t crc32_update(std::uint32_t crc, const unsigned char *bytes, std::size_t length) {
  crc = ~crc;
  for (std::size_t i = 0; i < length; ++i)
    crc = table.entries[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}
