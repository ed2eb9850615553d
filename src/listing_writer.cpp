#include "listing_writer.h"

#include <charconv>
#include <cstring>

namespace {

// Upper-case hexadecimal, zero-padded to at least min_digits.
char *put_hex(char *dst, std::uint64_t value, int min_digits) {
  int digits = min_digits;
  while (digits < 16 && value >> (4 * digits) != 0)
    ++digits;
  char *const end = dst + digits;
  for (char *p = end; p != dst; value >>= 4)
    *--p = "0123456789ABCDEF"[value & 0xF];
  return end;
}

char *put_decimal(char *dst, std::uint32_t value) {
  return std::to_chars(dst, dst + 10, value).ptr;
}

template <std::size_t n> char *put_text(char *dst, const char (&text)[n]) {
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
constexpr hex_pair_table hex_pairs;

char *put_byte(char *dst, unsigned byte) {
  std::memcpy(dst, hex_pairs.pairs[byte], 2);
  return dst + 2;
}

// A chunk's position as put_hex(position, 8) writes it, but with the eight digits nearly
// every position has written two at a time.
char *put_position(char *dst, std::uint64_t position) {
  if (position >> 32 != 0)
    dst = put_hex(dst, position >> 32, 1);
  const auto low = static_cast<std::uint32_t>(position);
  for (int shift = 24; shift >= 0; shift -= 8)
    dst = put_byte(dst, low >> shift & 0xFF);
  return put_text(dst, ": ");
}

} // namespace

bool listing_writer::offset_line(std::uint64_t start_offset) {
  char *dst = put_hex(put_text(buffer_ + used_, "ofs="), start_offset, 1);
  *dst++ = '\n';
  return end_line(dst);
}

bool listing_writer::chunk_line(const chunk_header &header) {
  // Compressed chunks show only their class: the low five bits belong to the unpacked size.
  const auto shown = static_cast<unsigned>(header.control) &
                     (header.kind == chunk_kind::uncompressed ? 0xFFu : 0xE0u);
  char *dst = put_position(buffer_ + used_, header.offset);
  dst = put_byte(dst, shown);
  dst = put_decimal(put_text(dst, " u="), header.unpacked_size);
  if (header.kind != chunk_kind::uncompressed)
    dst = put_decimal(put_text(dst, " p="), header.packed_size);
  if (header.kind == chunk_kind::compressed_with_props)
    dst = put_byte(put_text(dst, " s="), header.props);
  *dst++ = '\n';
  return end_line(dst);
}

bool listing_writer::closing_line(const chunk_header &header) {
  char *dst = put_text(put_hex(buffer_ + used_, header.offset, 8), ": ");
  // The control byte as an unsigned 32-bit value, so the end of the input shows FFFFFFFF.
  dst = put_hex(dst, static_cast<std::uint32_t>(header.control), 2);
  *dst++ = ' ';
  return end_line(dst);
}

bool listing_writer::end_line(char *end) {
  used_ = static_cast<std::size_t>(end - buffer_);
  return used_ <= hand_over_at_ || flush();
}

bool listing_writer::flush() {
  if (used_ != 0 && std::fwrite(buffer_, 1, used_, out_) != used_)
    failed_ = true;
  used_ = 0;
  if (std::fflush(out_) != 0 || std::ferror(out_) != 0)
    failed_ = true;
  return !failed_;
}
