#include "xz_format.h"

#include "crc32.h"

#include <cstring>

namespace xz {

namespace {

constexpr std::uint64_t lzma2_filter = 0x21;
// IDs from here on are for use inside a program only, never in a file.
constexpr std::uint64_t first_private_filter = std::uint64_t{1} << 62;
// Dictionary sizes up to 4 GiB - 1.
constexpr unsigned largest_dictionary_byte = 40;
constexpr unsigned reserved_block_flags = 0x3C;

bool crc_matches(const unsigned char *bytes, std::size_t length) {
  return crc32_update(0, bytes, length) == little_endian_32(bytes + length);
}

// Reads an integer from [p, end); false when it runs past the end or is not valid.
bool read_vli(const unsigned char *&p, const unsigned char *end, std::uint64_t &value) {
  vli_reader vli;
  do {
    if (p == end)
      return false;
  } while (!vli.take(*p++));
  value = vli.value();
  return vli.valid();
}

} // namespace

header_kind parse_stream_header(const unsigned char *bytes, stream_flags &flags) {
  if (std::memcmp(bytes, header_magic, sizeof header_magic) != 0)
    return header_kind::none;
  if (!crc_matches(bytes + sizeof header_magic, sizeof flags.bytes))
    return header_kind::crc_fails;
  std::memcpy(flags.bytes, bytes + sizeof header_magic, sizeof flags.bytes);
  return header_kind::header;
}

stream_footer parse_stream_footer(const unsigned char *bytes) {
  stream_footer footer;
  footer.crc_matches = crc32_update(0, bytes + 4, 6) == little_endian_32(bytes);
  footer.index_size = (std::uint64_t{little_endian_32(bytes + 4)} + 1) * 4;
  std::memcpy(footer.flags.bytes, bytes + 8, sizeof footer.flags.bytes);
  footer.magic_matches = bytes[10] == 'Y' && bytes[11] == 'Z';
  return footer;
}

const char *parse_block_header(const unsigned char *bytes, std::size_t size, block_header &out) {
  const std::size_t crc_at = size - 4;
  if (!crc_matches(bytes, crc_at))
    return "its CRC32 fails";
  const unsigned flags = bytes[1];
  if ((flags & reserved_block_flags) != 0)
    return "reserved flag bits are set";
  const unsigned char *p = bytes + 2;
  const unsigned char *const end = bytes + crc_at;
  out.has_compressed_size = (flags & 0x40u) != 0;
  out.has_uncompressed_size = (flags & 0x80u) != 0;
  if (out.has_compressed_size && !read_vli(p, end, out.compressed_size))
    return "its compressed size is not a valid number";
  if (out.has_compressed_size && out.compressed_size == 0)
    return "its compressed size is 0";
  if (out.has_uncompressed_size && !read_vli(p, end, out.uncompressed_size))
    return "its uncompressed size is not a valid number";
  std::uint64_t filter = 0;
  for (unsigned filters = (flags & 0x03u) + 1; filters > 0; --filters) {
    std::uint64_t properties_size = 0;
    if (!read_vli(p, end, filter) || !read_vli(p, end, properties_size))
      return "a filter's flags are not valid numbers";
    if (filter >= first_private_filter)
      return "a filter ID is one reserved for use inside programs";
    if (properties_size > static_cast<std::uint64_t>(end - p))
      return "a filter's properties run past its end";
    if (filter == lzma2_filter && filters > 1)
      return "LZMA2 is not its last filter";
    if (filter == lzma2_filter && (properties_size != 1 || *p > largest_dictionary_byte))
      return "its LZMA2 dictionary size is not valid";
    p += properties_size;
  }
  if (filter != lzma2_filter)
    return "its last filter is not LZMA2";
  for (; p != end; ++p)
    if (*p != 0)
      return "its padding is not zero";
  return nullptr;
}

} // namespace xz
