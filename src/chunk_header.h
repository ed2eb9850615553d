#ifndef LZMA2_CHUNKS_CHUNK_HEADER_H
#define LZMA2_CHUNKS_CHUNK_HEADER_H

#include <cstdint>

// What one LZMA2 chunk header says, as the walk read it.
struct chunk_header {
  std::uint64_t offset = 0;        // absolute position of the control byte
  int control = -1;                // the control byte, or -1 at the end of the input
  std::uint32_t unpacked_size = 0; // 1 to 2^21
  std::uint32_t packed_size = 0;   // compressed chunks: 1 to 65536
  std::uint8_t props = 0;          // classes C0 and E0: the properties byte
};

// What the control byte opens, which decides the header's fields and its line.
enum class chunk_kind {
  end_of_walk,          // end marker, invalid control byte or end of input
  uncompressed,         // 01, 02
  compressed,           // classes 80 and A0
  compressed_with_props // classes C0 and E0
};

inline chunk_kind kind_of(int control) {
  if (control == 1 || control == 2)
    return chunk_kind::uncompressed;
  if (control >= 0x80 && control <= 0xBF)
    return chunk_kind::compressed;
  if (control >= 0xC0 && control <= 0xFF)
    return chunk_kind::compressed_with_props;
  return chunk_kind::end_of_walk;
}

// The top three bits of a compressed chunk's control byte; the rest is unpacked size.
inline unsigned chunk_class(int control) {
  return static_cast<unsigned>(control) & 0xE0u;
}

#endif
