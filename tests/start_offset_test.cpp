#include "start_offset.h"

#include <gtest/gtest.h>

namespace {

struct offset_case {
  const char *text;
  std::uint64_t expected;
};

void PrintTo(const offset_case &c, std::ostream *os) {
  *os << '"' << c.text << '"';
}

class start_offset : public testing::TestWithParam<offset_case> {};

TEST_P(start_offset, parses_like_scanf_hex_widened_to_64_bits) {
  EXPECT_EQ(parse_start_offset(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    table, start_offset,
    testing::Values(
        // As scanf "%X" reads them.
        offset_case{"1C", 0x1C}, offset_case{"0x1c", 0x1C}, offset_case{" 0X1C", 0x1C},
        offset_case{"\t\n 1c", 0x1C}, offset_case{"1cq", 0x1C}, offset_case{"zz", 0},
        offset_case{"0", 0}, offset_case{"", 0}, offset_case{"0x", 0}, offset_case{"0xg", 0},
        offset_case{"-", 0}, offset_case{"+", 0}, offset_case{"+1c", 0x1C}, offset_case{"- 1", 0},
        offset_case{"x1", 0}, offset_case{"aBcDeF", 0xABCDEF}, offset_case{"fedcba", 0xFEDCBA},
        offset_case{"\v\f\r 1c", 0x1C},
        // Up to eight significant digits, negation is 32-bit.
        offset_case{"-1", 0xFFFFFFFF}, offset_case{"-0x10", 0xFFFFFFF0}, offset_case{"-0", 0},
        offset_case{"FFFFFFFF", 0xFFFFFFFF}, offset_case{"-FFFFFFFF", 1},
        offset_case{"0000000000001C", 0x1C}, offset_case{"-000000000001", 0xFFFFFFFF},
        offset_case{"80000000", 0x80000000},
        // Longer values are kept whole.
        offset_case{"100000000", 0x100000000}, offset_case{"123456789AB", 0x123456789AB},
        offset_case{"0x123456789ABg", 0x123456789AB}, offset_case{"FFFFFFFFFFFFFFFF", UINT64_MAX},
        offset_case{"00FFFFFFFFFFFFFFFF", UINT64_MAX}, offset_case{"10000000000000000", UINT64_MAX},
        offset_case{"123456789ABCDEF0123", UINT64_MAX},
        offset_case{"-100000000", 0xFFFFFFFF00000000},
        offset_case{"-123456789AB", 0 - std::uint64_t{0x123456789AB}}));

} // namespace
