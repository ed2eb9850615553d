#include "test_support.h"

#include <gtest/gtest.h>

namespace {

std::string filler(std::size_t n) {
  return std::string(n, 'x');
}

struct walk_case {
  const char *name;
  std::string input;
  std::uint64_t start_offset;
  std::string expected;
};

const walk_case walk_cases[] = {
    {"worked_stream_at_18",
     std::string(0x18, '\0') + bytes({0x01, 0x00, 0x03}) + filler(4) +
         bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D}) + filler(10) +
         bytes({0x80, 0xFF, 0xFF, 0x00, 0x00}) + filler(1) + bytes({0x00}),
     0x18,
     "00000018: 01 u=4\n"
     "0000001F: E0 u=201269 p=10 s=5D\n"
     "0000002F: 80 u=65536 p=1\n"
     "00000035: 00 "},
    {"class_A0_with_high_bits", bytes({0xBF, 0x00, 0x00, 0x01, 0x00}) + filler(257) + bytes({0}), 0,
     "00000000: A0 u=2031617 p=257\n00000106: 00 "},
    {"largest_class_80", bytes({0x9F, 0xFF, 0xFF, 0xFF, 0xFF}) + filler(65536) + bytes({0}), 0,
     "00000000: 80 u=2097152 p=65536\n00010005: 00 "},
    {"largest_class_E0", bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) + filler(65536) + bytes({0}),
     0, "00000000: E0 u=2097152 p=65536 s=FF\n00010006: 00 "},
    {"smallest_class_C0", bytes({0xC0, 0x00, 0x00, 0x00, 0x01, 0x5D}) + filler(2) + bytes({0}), 0,
     "00000000: C0 u=1 p=2 s=5D\n00000008: 00 "},
    {"class_80_low_part_carries", bytes({0x81, 0xFF, 0xFF, 0x00, 0x00}) + filler(1) + bytes({0}), 0,
     "00000000: 80 u=131072 p=1\n00000006: 00 "},
    {"class_A0_from_A5", bytes({0xA5, 0x00, 0x00, 0x00, 0x00}) + filler(1) + bytes({0}), 0,
     "00000000: A0 u=327681 p=1\n00000006: 00 "},
    {"largest_stored_02", bytes({0x02, 0xFF, 0xFF}) + filler(65536) + bytes({0}), 0,
     "00000000: 02 u=65536\n00010003: 00 "},
    {"invalid_03_first", bytes({0x03, 0x00, 0x00}), 0, "00000000: 03 "},
    {"invalid_40_first", bytes({0x40}), 0, "00000000: 40 "},
    {"invalid_7F_first", bytes({0x7F, 0x01, 0x02, 0x03}), 0, "00000000: 7F "},
    {"invalid_after_a_chunk", bytes({0x01, 0x00, 0x00, 'a', 0x55}), 0,
     "00000000: 01 u=1\n00000004: 55 "},
    {"empty_file", "", 0, "00000000: FFFFFFFF "},
    {"start_past_end", bytes({0x01, 0x02}), 0x10, "00000010: FFFFFFFF "},
    {"start_at_end", bytes({0x01, 0x02}), 2, "00000002: FFFFFFFF "},
    {"header_cut_after_control", bytes({0xE0}), 0,
     "00000000: E0 u=65536 p=65536 s=FF\n00010001: FFFFFFFF "},
    {"header_cut_after_one_size_byte", bytes({0x01, 0x00}), 0,
     "00000000: 01 u=256\n00000102: FFFFFFFF "},
    {"props_byte_missing", bytes({0xC0, 0x00, 0x00, 0x00, 0x00}), 0,
     "00000000: C0 u=1 p=1 s=FF\n00000006: FFFFFFFF "},
    {"payload_runs_past_end", bytes({0x01, 0x00, 0x10, 'a', 'b'}), 0,
     "00000000: 01 u=17\n00000014: FFFFFFFF "},
    {"end_marker_is_last_byte", bytes({0x01, 0x00, 0x00, 'a', 0x00}), 0,
     "00000000: 01 u=1\n00000004: 00 "},
    {"no_end_marker", bytes({0x02, 0x00, 0x01, 'a', 'b'}), 0,
     "00000000: 02 u=2\n00000005: FFFFFFFF "},
    {"nothing_checked_beyond_control_ranges",
     bytes({0x80, 0x00, 0x00, 0x00, 0x00, 'a', 0x01, 0x00, 0x00, 'b', 0x00}), 0,
     "00000000: 80 u=1 p=1\n00000006: 01 u=1\n0000000A: 00 "},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const walk_case &c, std::ostream *os) {
  *os << c.name;
}

class walk : public testing::TestWithParam<walk_case> {};

TEST_P(walk, lists_exact_lines_from_a_regular_file) {
  const walk_output out = walk_file(GetParam().input, GetParam().start_offset);
  EXPECT_EQ(out.text, GetParam().expected);
  EXPECT_EQ(out.result, walk_result::ok);
}

TEST_P(walk, lists_the_same_lines_through_a_pipe) {
  const walk_output out = walk_pipe(GetParam().input, GetParam().start_offset);
  EXPECT_EQ(out.text, GetParam().expected);
  EXPECT_EQ(out.result, walk_result::ok);
}

INSTANTIATE_TEST_SUITE_P(table, walk, testing::ValuesIn(walk_cases),
                         [](const testing::TestParamInfo<walk_case> &info) {
                           return std::string(info.param.name);
                         });

// Every way of cutting a stream short must still end in a closing line, with positions
// that only grow, from a file and from a pipe alike.
TEST(walk, every_truncated_prefix_ends_in_a_closing_line) {
  const std::string stream =
      bytes({0x01, 0x00, 0x03}) + filler(4) + bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D}) +
      filler(10) + bytes({0xA0, 0x00, 0x10, 0x00, 0x02}) + filler(3) + bytes({0x02, 0x00, 0x00}) +
      filler(1) + bytes({0x80, 0xFF, 0xFF, 0x00, 0x00}) + filler(1) + bytes({0x00});
  for (std::size_t length = 0; length <= stream.size(); ++length) {
    const std::string prefix = stream.substr(0, length);
    const walk_output from_file = walk_file(prefix, 0);
    const listing parsed = parse_listing(from_file.text, false);
    std::uint64_t previous = 0;
    for (std::size_t i = 0; i < parsed.chunks.size(); ++i) {
      EXPECT_TRUE(i == 0 || parsed.chunks[i].offset > previous) << from_file.text;
      previous = parsed.chunks[i].offset;
    }
    EXPECT_TRUE(parsed.chunks.empty() || parsed.closing.offset > previous) << from_file.text;
    EXPECT_EQ(parsed.closing.shown, length == stream.size() ? 0x00u : 0xFFFFFFFFu)
        << "prefix of " << length << " bytes:\n"
        << from_file.text;
    EXPECT_EQ(walk_pipe(prefix, 0).text, from_file.text) << "prefix of " << length << " bytes";
  }
}

} // namespace
