#include "line_format.h"

#include <cstring>

namespace {

// Digits two at a time: a 32-bit position takes four look-ups, a chunk size at most four.
struct digit_pair_tables {
  char hex[256][2];
  char decimal[100][2];
  constexpr digit_pair_tables() : hex(), decimal() {
    const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
      hex[i][0] = digits[i >> 4];
      hex[i][1] = digits[i & 0xF];
    }
    for (int i = 0; i < 100; ++i) {
      decimal[i][0] = digits[i / 10];
      decimal[i][1] = digits[i % 10];
    }
  }
};
constexpr digit_pair_tables pairs;

char *put_pair(char *dst, const char (&pair)[2]) {
  std::memcpy(dst, pair, 2);
  return dst + 2;
}

// Upper-case hexadecimal, zero-padded to at least min_digits.
char *put_hex(char *dst, std::uint64_t value, int min_digits) {
  int digits = min_digits;
  while (digits < 16 && (value >> (4 * digits)) != 0)
    ++digits;
  char *const end = dst + digits;
  char *p = end;
  while (p - dst >= 2) {
    p -= 2;
    std::memcpy(p, pairs.hex[value & 0xFF], 2);
    value >>= 8;
  }
  if (p != dst)
    *--p = pairs.hex[value & 0xF][1];
  return end;
}

char *put_decimal(char *dst, std::uint32_t value) {
  int digits = 1;
  for (std::uint64_t power = 10; digits < 10 && value >= power; power *= 10)
    ++digits;
  char *const end = dst + digits;
  char *p = end;
  while (value >= 100) {
    p -= 2;
    std::memcpy(p, pairs.decimal[value % 100], 2);
    value /= 100;
  }
  if (value >= 10)
    std::memcpy(p - 2, pairs.decimal[value], 2);
  else
    *--p = pairs.decimal[value][1];
  return end;
}

template <std::size_t n> char *put_text(char *dst, const char (&text)[n]) {
  std::memcpy(dst, text, n - 1);
  return dst + n - 1;
}

// "%08X" of a position: the low eight digits always, the digits above 32 bits only when a
// position has them.
char *put_position(char *dst, std::uint64_t position) {
  if (position >> 32 != 0)
    dst = put_hex(dst, position >> 32, 1);
  const auto low = static_cast<std::uint32_t>(position);
  dst = put_pair(dst, pairs.hex[low >> 24]);
  dst = put_pair(dst, pairs.hex[(low >> 16) & 0xFF]);
  dst = put_pair(dst, pairs.hex[(low >> 8) & 0xFF]);
  return put_pair(dst, pairs.hex[low & 0xFF]);
}

} // namespace

char *format_offset_line(char *dst, std::uint64_t start_offset) {
  dst = put_text(dst, "ofs=");
  dst = put_hex(dst, start_offset, 1);
  *dst++ = '\n';
  return dst;
}

char *format_chunk_line(char *dst, const chunk_header &header) {
  const chunk_kind kind = kind_of(header.control);
  const unsigned shown = kind == chunk_kind::uncompressed ? static_cast<unsigned>(header.control)
                                                          : chunk_class(header.control);
  dst = put_position(dst, header.offset);
  dst = put_text(dst, ": ");
  dst = put_pair(dst, pairs.hex[shown]);
  dst = put_text(dst, " u=");
  dst = put_decimal(dst, header.unpacked_size);
  if (kind != chunk_kind::uncompressed) {
    dst = put_text(dst, " p=");
    dst = put_decimal(dst, header.packed_size);
  }
  if (kind == chunk_kind::compressed_with_props) {
    dst = put_text(dst, " s=");
    dst = put_pair(dst, pairs.hex[header.props]);
  }
  *dst++ = '\n';
  return dst;
}

char *format_closing_line(char *dst, const chunk_header &header) {
  dst = put_position(dst, header.offset);
  dst = put_text(dst, ": ");
  // The control byte goes through an unsigned conversion, so end of input shows FFFFFFFF.
  dst = put_hex(dst, static_cast<std::uint32_t>(header.control), 2);
  *dst++ = ' ';
  return dst;
}
