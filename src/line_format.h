#ifndef LZMA2_CHUNKS_LINE_FORMAT_H
#define LZMA2_CHUNKS_LINE_FORMAT_H

// The pieces the listing's lines are written from, by hand: printf costs more than the whole
// walk on streams of millions of tiny chunks. Each writes at dst and returns the end of what
// it wrote. Inline, because a chunk line is written in the walk's loop, once per chunk.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace line_format {

// Upper-case hexadecimal, zero-padded to at least min_digits.
inline char *put_hex(char *dst, std::uint64_t value, int min_digits) {
  int digits = min_digits;
  while (digits < 16 && value >> (4 * digits) != 0)
    ++digits;
  char *const end = dst + digits;
  for (char *p = end; p != dst; value >>= 4)
    *--p = "0123456789ABCDEF"[value & 0xF];
  return end;
}

inline char *put_decimal(char *dst, std::uint32_t value) {
  return std::to_chars(dst, dst + 10, value).ptr;
}

template <std::size_t n> inline char *put_text(char *dst, const char (&text)[n]) {
  std::memcpy(dst, text, n - 1);
  return dst + n - 1;
}

// Two hexadecimal digits per look-up: a line has a byte or two and a position of four.
struct hex_pair_table {
  char pairs[256][2] = {};
  constexpr hex_pair_table() {
    for (int i = 0; i < 256; ++i) {
      pairs[i][0] = "0123456789ABCDEF"[i >> 4];
      pairs[i][1] = "0123456789ABCDEF"[i & 0xF];
    }
  }
};
inline constexpr hex_pair_table hex_pairs;

inline char *put_byte(char *dst, unsigned byte) {
  std::memcpy(dst, hex_pairs.pairs[byte], 2);
  return dst + 2;
}

// A chunk's position as put_hex(position, 8) writes it, but with the eight digits nearly
// every position has written two at a time.
inline char *put_position(char *dst, std::uint64_t position) {
  if (position >> 32 != 0)
    dst = put_hex(dst, position >> 32, 1);
  const auto low = static_cast<std::uint32_t>(position);
  for (int shift = 24; shift >= 0; shift -= 8)
    dst = put_byte(dst, low >> shift & 0xFF);
  return put_text(dst, ": ");
}

} // namespace line_format

#endif
