// The listing's lines against printf itself, with the format strings that define them.

#include "listing_writer.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr const char *offset_format = "ofs=%X\n";
constexpr const char *uncompressed_format = "%08X: %02X u=%i\n";
constexpr const char *compressed_format = "%08X: %02X u=%i p=%i\n";
constexpr const char *compressed_with_props_format = "%08X: %02X u=%i p=%i s=%02X\n";
constexpr const char *closing_format = "%08X: %02X ";

// What the writer puts out for one call.
template <typename Write> std::string written(Write write) {
  const int fd = memfd_create("listing", 0);
  {
    listing_writer out(fd);
    write(out);
    EXPECT_TRUE(out.flush());
  }
  std::string result = read_file("/proc/self/fd/" + std::to_string(fd));
  close(fd);
  return result;
}

// printf of one of the line formats. Positions wider than 32 bits do not fit "%08X", so
// they are printed with its 64-bit twin and the rest of the line with the format.
template <typename... Values>
std::string printed(const char *format, std::uint64_t position, Values... values) {
  char line[256];
  int n = 0;
  if (position <= UINT32_MAX) {
    n = std::snprintf(line, sizeof line, format, static_cast<unsigned>(position), values...);
  } else {
    n = std::snprintf(line, sizeof line, "%08" PRIX64, position);
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n),
                       format + std::char_traits<char>::length("%08X"), values...);
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
                           {256, 65535, 0x01},
                           {65536, 65536, 0xFF},
                           {201269, 4096, 0x01},
                           {2097152, 65536, 0xFF},
                           {999999, 100000, 0x10}};

chunk_kind kind_of(int control) {
  if (control < 0x80)
    return chunk_kind::uncompressed;
  return control < 0xC0 ? chunk_kind::compressed : chunk_kind::compressed_with_props;
}

TEST(listing_writer, chunk_lines_match_printf_for_every_control_byte) {
  for (std::uint64_t position : positions)
    for (int control = 1; control <= 0xFF; control = control == 2 ? 0x80 : control + 1)
      for (const size_case &s : sizes) {
        const chunk_header h{position, control, kind_of(control), s.unpacked, s.packed, s.props};
        const auto u = static_cast<int>(s.unpacked);
        const auto p = static_cast<int>(s.packed);
        const int shown = control < 0x80 ? control : control & 0xE0;
        const std::string expected =
            control < 0x80   ? printed(uncompressed_format, position, control, u)
            : control < 0xC0 ? printed(compressed_format, position, shown, u, p)
                             : printed(compressed_with_props_format, position, shown, u, p,
                                       static_cast<unsigned>(s.props));
        EXPECT_EQ(written([&](listing_writer &out) { out.chunk_line(h); }), expected);
      }
}

TEST(listing_writer, closing_and_offset_lines_match_printf) {
  for (std::uint64_t position : positions) {
    for (int control = -1; control <= 0xFF; ++control) {
      chunk_header h;
      h.offset = position;
      h.control = control;
      EXPECT_EQ(written([&](listing_writer &out) { out.closing_line(h); }),
                printed(closing_format, position, static_cast<unsigned>(control)));
    }
    char expected[64];
    if (position <= UINT32_MAX)
      std::snprintf(expected, sizeof expected, offset_format, static_cast<unsigned>(position));
    else
      std::snprintf(expected, sizeof expected, "ofs=%" PRIX64 "\n", position);
    EXPECT_EQ(written([&](listing_writer &out) { out.offset_line(position); }), expected);
  }
}

// The longest lines, again and again past the end of the buffer: each goes out whole, and
// none is written past the buffer's end, which the sanitized build would see.
TEST(listing_writer, longest_lines_across_the_end_of_its_buffer) {
  chunk_header h;
  h.offset = 0xFEDCBA9876543210;
  h.control = 0xFF;
  h.kind = chunk_kind::compressed_with_props;
  h.unpacked_size = 2097152;
  h.packed_size = 65536;
  h.props = 0xFF;
  const std::string line = "FEDCBA9876543210: E0 u=2097152 p=65536 s=FF\n";
  std::string expected;
  for (int i = 0; i < 5000; ++i)
    expected += line;
  EXPECT_EQ(written([&](listing_writer &out) {
              for (int i = 0; i < 5000; ++i)
                out.chunk_line(h);
            }),
            expected);
}

} // namespace
