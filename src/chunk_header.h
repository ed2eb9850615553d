#ifndef LZMA2_CHUNKS_CHUNK_HEADER_H
#define LZMA2_CHUNKS_CHUNK_HEADER_H

#include <cstddef>
#include <cstdint>

// What a control byte opens; it decides which fields follow and which line is printed.
enum class chunk_kind {
  end_of_walk,          // end marker, a byte that opens no chunk, or the end of the input
  uncompressed,         // control bytes 01 and 02
  compressed,           // classes 80 and A0
  compressed_with_props // classes C0 and E0
};

// Control byte, two unpacked-size bytes, two packed-size bytes, properties.
constexpr std::size_t longest_chunk_header = 6;

// The bytes of a header of that kind; the end marker and bytes that open no chunk take one.
constexpr std::size_t header_length(chunk_kind kind) {
  return kind == chunk_kind::uncompressed            ? 3
         : kind == chunk_kind::compressed            ? 5
         : kind == chunk_kind::compressed_with_props ? longest_chunk_header
                                                     : 1;
}

// One LZMA2 chunk header as read. Fields a kind does not have are 0.
struct chunk_header {
  std::uint64_t offset = 0; // absolute position of the control byte
  int control = -1;         // the control byte, or -1 at the end of the input
  chunk_kind kind = chunk_kind::end_of_walk;
  std::uint32_t unpacked_size = 0; // 1 to 2^21
  std::uint32_t packed_size = 0;   // compressed chunks: 1 to 65536
  std::uint8_t props = 0;          // classes C0 and E0: the properties byte
};

#endif
