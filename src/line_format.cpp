#include "line_format.h"

#include <cstring>

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";

// Upper-case hexadecimal, zero-padded to at least min_digits.
char *put_hex(char *dst, std::uint64_t value, int min_digits) {
  int digits = 1;
  while (digits < 16 && (value >> (4 * digits)) != 0)
    ++digits;
  if (digits < min_digits)
    digits = min_digits;
  for (int i = digits - 1; i >= 0; --i)
    *dst++ = hex_digits[(value >> (4 * i)) & 0xF];
  return dst;
}

char *put_decimal(char *dst, std::uint32_t value) {
  char reversed[10];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0)
    *dst++ = reversed[--n];
  return dst;
}

char *put_text(char *dst, const char *text) {
  const std::size_t length = std::strlen(text);
  std::memcpy(dst, text, length);
  return dst + length;
}

// "%08X: %02X" with the position and a two-digit byte.
char *put_position_and_byte(char *dst, std::uint64_t position, unsigned byte) {
  dst = put_hex(dst, position, 8);
  *dst++ = ':';
  *dst++ = ' ';
  *dst++ = hex_digits[(byte >> 4) & 0xF];
  *dst++ = hex_digits[byte & 0xF];
  return dst;
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
  dst = put_position_and_byte(dst, header.offset, shown);
  dst = put_text(dst, " u=");
  dst = put_decimal(dst, header.unpacked_size);
  if (kind != chunk_kind::uncompressed) {
    dst = put_text(dst, " p=");
    dst = put_decimal(dst, header.packed_size);
  }
  if (kind == chunk_kind::compressed_with_props) {
    dst = put_text(dst, " s=");
    dst = put_hex(dst, header.props, 2);
  }
  *dst++ = '\n';
  return dst;
}

char *format_closing_line(char *dst, const chunk_header &header) {
  dst = put_hex(dst, header.offset, 8);
  dst = put_text(dst, ": ");
  // The control byte goes through an unsigned conversion, so end of input shows FFFFFFFF.
  dst = put_hex(dst, static_cast<std::uint32_t>(header.control), 2);
  *dst++ = ' ';
  return dst;
}
