#ifndef LZMA2_CHUNKS_XZ_FORMAT_H
#define LZMA2_CHUNKS_XZ_FORMAT_H

// The fields of the .xz container that lie around LZMA2 data: stream header and footer,
// block header, index records. Only what finding and checking the LZMA2 data needs; no
// filter is decoded.

#include <cstddef>
#include <cstdint>

namespace xz {

constexpr std::size_t stream_header_size = 12;
constexpr std::size_t stream_footer_size = 12;
constexpr unsigned char header_magic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr std::size_t largest_block_header = 1024;

// The two bytes of stream flags, which the header and the footer each hold.
struct stream_flags {
  unsigned char bytes[2] = {};

  bool operator==(const stream_flags &other) const {
    return bytes[0] == other.bytes[0] && bytes[1] == other.bytes[1];
  }
  unsigned check_type() const { return bytes[1] & 0x0Fu; }
  // Only the check type is defined; any other bit set is a format this reader does not know.
  bool defined() const { return bytes[0] == 0 && (bytes[1] & 0xF0u) == 0; }
};

inline std::uint32_t little_endian_32(const unsigned char *bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Bytes of the check field that follows each block: 0, 4, 8, ... 64 by type.
inline std::size_t check_size(unsigned check_type) {
  return check_type == 0 ? 0 : std::size_t{4} << ((check_type - 1) / 3);
}

enum class header_kind {
  none,      // no magic bytes here
  crc_fails, // the magic bytes, but not a header: damaged, or bytes that only look like one
  header,
};

// Looks at the 12 bytes of a stream header.
header_kind parse_stream_header(const unsigned char *bytes, stream_flags &flags);

struct stream_footer {
  bool crc_matches = false;
  bool magic_matches = false; // "YZ" at its end
  std::uint64_t index_size = 0;
  stream_flags flags;
};

stream_footer parse_stream_footer(const unsigned char *bytes);

// The size a block header's first byte gives it; 0 is the index indicator instead.
inline std::size_t block_header_size(unsigned first_byte) {
  return (std::size_t{first_byte} + 1) * 4;
}

struct block_header {
  bool has_compressed_size = false;
  bool has_uncompressed_size = false;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
};

// Reads a whole block header, `size` bytes from its size byte to its CRC32. Null when it is
// valid and its last filter is LZMA2, whose data follows it; else what is wrong with it.
const char *parse_block_header(const unsigned char *bytes, std::size_t size, block_header &out);

// A variable-length integer, as sizes and filter IDs are stored: seven bits a byte, low
// bits first, at most nine bytes, no needless zero byte at its end.
class vli_reader {
public:
  // Takes the next byte; true once the integer is complete.
  bool take(unsigned byte) {
    if (bytes_ == max_bytes || (bytes_ > 0 && byte == 0))
      valid_ = false;
    else
      value_ |= std::uint64_t{byte & 0x7Fu} << (7 * bytes_);
    ++bytes_;
    return (byte & 0x80u) == 0 || !valid_;
  }
  bool valid() const { return valid_; }
  std::uint64_t value() const { return value_; }

private:
  static constexpr unsigned max_bytes = 9;
  unsigned bytes_ = 0;
  bool valid_ = true;
  std::uint64_t value_ = 0;
};

} // namespace xz

#endif
