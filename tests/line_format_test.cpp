// The formatter against printf itself, with the format strings the output is defined by.

#include "line_format.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

std::string formatted(char *(*format)(char *, const chunk_header &), const chunk_header &h) {
  char line[max_line_length];
  return std::string(line, format(line, h));
}

// printf of one of the line formats. Positions wider than 32 bits do not fit "%08X", so
// the position is printed with its 64-bit twin and the rest of the line with the format.
template <typename... Values>
std::string printed(const char *format, std::uint64_t position, Values... values) {
  char line[256];
  int n = 0;
  if (position <= UINT32_MAX) {
    n = std::snprintf(line, sizeof line, format, static_cast<unsigned>(position), values...);
  } else {
    const char *after_position = format + std::char_traits<char>::length("%08X");
    n = std::snprintf(line, sizeof line, "%08" PRIX64, position);
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), after_position,
                       values...);
  }
  return std::string(line, static_cast<std::size_t>(n));
}

const std::uint64_t positions[] = {0,          1,           0x18,          0x7FFFFFFF, 0x80000000,
                                   0xFFFFFFFF, 0x100030000, 0x123456789AB, UINT64_MAX};

struct size_case {
  std::uint32_t unpacked;
  std::uint32_t packed;
  std::uint8_t props;
};

const size_case sizes[] = {{1, 1, 0},
                           {9, 10, 0x5D},
                           {10, 99, 0x0B},
                           {65536, 65536, 0xFF},
                           {201269, 4096, 0x01},
                           {2097152, 65536, 0xFF},
                           {999999, 100000, 0x10}};

TEST(line_format, uncompressed_line_matches_printf) {
  for (std::uint64_t position : positions)
    for (int control : {1, 2})
      for (std::uint32_t size : {1u, 9u, 10u, 256u, 65535u, 65536u}) {
        chunk_header h;
        h.offset = position;
        h.control = control;
        h.unpacked_size = size;
        EXPECT_EQ(formatted(format_chunk_line, h),
                  printed(line_formats::uncompressed, position, control, static_cast<int>(size)));
      }
}

TEST(line_format, compressed_lines_match_printf_for_every_control_byte) {
  for (std::uint64_t position : positions)
    for (int control = 0x80; control <= 0xFF; ++control)
      for (const size_case &s : sizes) {
        chunk_header h;
        h.offset = position;
        h.control = control;
        h.unpacked_size = s.unpacked;
        h.packed_size = s.packed;
        h.props = s.props;
        const int shown = control & 0xE0;
        const std::string expected =
            control < 0xC0 ? printed(line_formats::compressed, position, shown,
                                     static_cast<int>(s.unpacked), static_cast<int>(s.packed))
                           : printed(line_formats::compressed_with_props, position, shown,
                                     static_cast<int>(s.unpacked), static_cast<int>(s.packed),
                                     static_cast<unsigned>(s.props));
        EXPECT_EQ(formatted(format_chunk_line, h), expected);
      }
}

TEST(line_format, closing_line_matches_printf_for_every_value_read) {
  for (std::uint64_t position : positions)
    for (int control = -1; control <= 0xFF; ++control) {
      chunk_header h;
      h.offset = position;
      h.control = control;
      EXPECT_EQ(formatted(format_closing_line, h),
                printed(line_formats::closing, position, static_cast<unsigned>(control)));
    }
}

TEST(line_format, offset_line_matches_printf) {
  for (std::uint64_t start : positions) {
    char line[max_line_length];
    const std::string ours(line, format_offset_line(line, start));
    char expected[64];
    if (start <= UINT32_MAX)
      std::snprintf(expected, sizeof expected, line_formats::offset_line,
                    static_cast<unsigned>(start));
    else
      std::snprintf(expected, sizeof expected, "ofs=%" PRIX64 "\n", start);
    EXPECT_EQ(ours, expected);
  }
}

} // namespace
