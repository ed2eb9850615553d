// The walk, through the real binary: exact listings from a file and through a pipe, and on
// Linux with reads that come back short, are refused unless aligned, or are interrupted.

#include "test_support.h"

#include "page_readers.h"
#include "stride_predictor.h"

#include <cinttypes>
#include <cstring>

#include <gtest/gtest.h>

namespace {

using test_table::operator<<;

std::string filler(std::size_t n) {
  return std::string(n, 'x');
}

// Stored chunks of 5000 and 13000 bytes in turns: headers each read on its own, whose strides
// differ by more than a page, so that no guess ahead would land on the right page.
std::string uneven_strides(bool lines) {
  std::string out;
  std::uint64_t at = 0;
  for (int i = 0; i < 40; ++i) {
    const std::size_t payload = i % 2 == 0 ? 5000 : 13000;
    out += lines ? stored_chunk_lines(1, payload, at) : stored_chunks(1, payload);
    at += 3 + payload;
  }
  return out + (lines ? "00057EB8: 00 " : bytes({0x00}));
}

struct walk_case {
  const char *name;
  std::string input;
  std::uint64_t start_offset;
  std::string expected;    // after the offset line
  bool asks_ahead = false; // when reads are slow
};

const walk_case walk_cases[] = {
    // A stored chunk, a large class E0 chunk and a class 80 chunk whose low part carries.
    {"three_kinds_at_18",
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
    {"largest_stored_02", bytes({0x02, 0xFF, 0xFF}) + filler(65536) + bytes({0}), 0,
     "00000000: 02 u=65536\n00010003: 00 "},
    {"invalid_03_first", bytes({0x03, 0x00, 0x00}), 0, "00000000: 03 "},
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
    // Text-mode input would end at the 1A and drop the CR.
    {"payload_of_1A_and_CR_LF",
     bytes({0x01, 0x00, 0x03, 0x1A, '\r', '\n', 0x1A, 0x02, 0x00, 0x00, '\r', 0x00}), 0,
     "00000000: 01 u=4\n00000007: 02 u=1\n0000000B: 00 "},
    {"nothing_checked_beyond_control_ranges",
     bytes({0x80, 0x00, 0x00, 0x00, 0x00, 'a', 0x01, 0x00, 0x00, 'b', 0x00}), 0,
     "00000000: 80 u=1 p=1\n00000006: 01 u=1\n0000000A: 00 "},
    // Enough that the read window grows to its size, and a window that grew past it would
    // be overrun; the last header is cut short.
    {"tiny_chunks_past_the_window", stored_chunks(64000) + bytes({0x02}), 0,
     stored_chunk_lines(64000, 1, 0) + "0003E800: 02 u=65536\n0004E801: FFFFFFFF "},
    // Each window ends inside a chunk, so the next starts on a page boundary short of the
    // header it is read for.
    {"chunks_across_windows", stored_chunks(1500, 200) + bytes({0x00}), 0,
     stored_chunk_lines(1500, 200, 0) + "0004A574: 00 "},
    // Headers far apart whose stride changes, then ends: guesses run past the end of the file.
    {"strides_that_keep_missing", uneven_strides(false), 0, uneven_strides(true)},
    {"strides_that_change", stored_chunks(40, 5000) + stored_chunks(40, 9000) + bytes({0x00}), 0,
     stored_chunk_lines(40, 5000, 0) + stored_chunk_lines(40, 9000, 200120) + "00088C70: 00 ",
     true},
};

class walk : public testing::TestWithParam<walk_case> {
protected:
  // Runs the binary over the case's bytes in a file, or through a pipe as "-".
  process_output expect_listed(bool through_pipe, const std::vector<std::string> &env = {}) {
    const walk_case &c = GetParam();
    temp_dir dir;
    const std::string path = through_pipe ? "-" : dir.write("input", c.input);
    process_output got =
        run_tool({path, hex(c.start_offset)}, through_pipe ? c.input : "", "", env);
    EXPECT_EQ(got.out, "ofs=" + hex(c.start_offset) + "\n" + c.expected);
    EXPECT_EQ(got.exit_status, 0);
    return got;
  }
};
class native_walk : public walk {};

TEST_P(walk, lists_exact_lines_from_a_file_and_the_same_through_a_pipe) {
  expect_listed(false);
  expect_listed(true);
}

// The faults of io_faults.c, each from a file, and interrupted reads through a pipe too.
// Only slow storage, told by the cache or by the clock, makes headers far apart ask for
// pages ahead, not reads slowed by a busy processor; asking changes nothing.
TEST_P(native_walk, lists_the_same_lines_when_reads_are_short_refused_interrupted_or_slow) {
  for (const std::string fault : {"short", "uneven", "aligned", "interrupted", "slow",
                                  "slow_refused", "slow_fuse", "cold", "descheduled"}) {
    SCOPED_TRACE(fault);
    const std::vector<std::string> env = io_fault_env(fault);
    // However short the reads, each byte is read once: the next read goes on from the end
    // of the last.
    const process_output got = expect_listed(false, env);
    EXPECT_LE(got.reads, GetParam().input.size() / 2 + 100);
    const bool storage_slow = fault.rfind("slow", 0) == 0 || fault == "cold";
    EXPECT_EQ(!got.err.empty(), GetParam().asks_ahead && storage_slow) << got.err;
    // Helpers only where hints are refused.
    EXPECT_EQ(got.err.find("threads") != std::string::npos,
              GetParam().asks_ahead && fault == "slow_refused")
        << got.err;
    if (fault == "interrupted")
      expect_listed(true, env);
  }
}

INSTANTIATE_TEST_SUITE_P(table, walk, testing::ValuesIn(walk_cases), case_name);
// A portability run leaves these out with --gtest_filter=-native_*.
INSTANTIATE_TEST_SUITE_P(native_linux, native_walk, testing::ValuesIn(walk_cases), case_name);

// On slow storage each page ahead is asked for about once, whatever the stride: here 16
// pages and 3 bytes, where pages a stride apart would share a slot of a table of 64. Where
// the storage serves one read at a time per descriptor, so that asking does not help, helper
// threads keep reads in flight once all have opened the file, each header's page read about
// once. Helpers that fail, or whose reads stall the walk's, stop after a handful of reads;
// while their opens hang the walk goes on with hints, and ends without waiting for them.
// Nothing changes but the time, from standard input reopened too.
TEST(native_walk, keeps_reads_in_flight_asking_for_each_page_ahead_about_once) {
  constexpr std::size_t headers = 300;
  constexpr std::uint64_t stride = 3 + 65536;
  temp_dir dir;
  const std::string path = dir.write("input", stored_chunks(headers, 65536) + bytes({0x00}));
  const std::string expected = "ofs=0\n" + stored_chunk_lines(headers, 65536, 0) + "012C0384: 00 ";
  struct {
    const char *fault;
    bool from_standard_input;
    unsigned threads, hanging; // helper threads started, and those still opening at exit
    unsigned fewest_in_flight; // 0: no helper reads at all
    unsigned most_helper_reads;
  } const rows[] = {{"slow", false, 0, 0, 0, 0},
                    {"one_at_a_time", false, page_readers::helpers, 0, 2, headers + 16},
                    {"one_at_a_time", true, page_readers::helpers, 0, 2, headers + 16},
                    {"one_at_a_time_failing", false, page_readers::helpers, 0, 1, 16},
                    {"one_at_a_time_stalling", false, page_readers::helpers, 0, 2, 32},
                    {"one_at_a_time_hanging", false, page_readers::helpers, 16, 0, 0}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.fault) + (row.from_standard_input ? " from -" : ""));
    const process_output got =
        row.from_standard_input
            ? run_tool({"-", "0"}, tool_input("", path.c_str()), "", io_fault_env(row.fault))
            : run_tool({path, "0"}, {}, "", io_fault_env(row.fault));
    EXPECT_TRUE(got.out == expected) << got.out.substr(0, 200);
    EXPECT_EQ(got.exit_status, 0);
    unsigned hints = 0, threads = 0, hanging = 0, helper_reads = 0, in_flight = 0;
    unsigned long long farthest = 0;
    ASSERT_GE(std::sscanf(got.err.c_str(),
                          "io_faults: asked to read ahead %u times, up to %llu bytes ahead "
                          "io_faults: %u threads, %u opens hanging, %u reads, at most %u",
                          &hints, &farthest, &threads, &hanging, &helper_reads, &in_flight),
              2)
        << got.err;
    EXPECT_LE(hints, headers + stride_predictor::farthest);
    EXPECT_EQ(threads, row.threads) << got.err;
    EXPECT_GE(hanging, row.hanging);
    EXPECT_LE(helper_reads, row.most_helper_reads) << got.err;
    if (row.fewest_in_flight == 0) {
      // Hints throughout, as many headers ahead as the guesses may go.
      EXPECT_GE(hints, headers / 2);
      EXPECT_GE(farthest, (stride_predictor::farthest - 1) * stride);
    } else {
      EXPECT_GE(in_flight, row.fewest_in_flight) << got.err;
      EXPECT_GE(helper_reads, 1u);
    }
  }
}

// A read made larger than needed may fail on a bad block the walk never needs; a header in
// the bad block is a read error.
TEST(native_walk, reads_around_a_bad_block_it_does_not_need) {
  temp_dir dir;
  // The end marker lies 60 bytes short of the bad block, which the read for it must not touch.
  const std::string path = dir.write("input", stored_chunks(10225) + bytes({0x00}) + filler(20000));
  const std::vector<std::string> env = io_fault_env("bad_block");
  const process_output got = run_tool({path, "0"}, {}, "", env);
  EXPECT_EQ(got.out, "ofs=0\n" + stored_chunk_lines(10225, 1, 0) + "00009FC4: 00 ");
  EXPECT_EQ(got.exit_status, 0);
  const process_output bad = run_tool({path, "A100"}, {}, "", env);
  EXPECT_EQ(bad.out, "ofs=A100\n0000A100: FFFFFFFF ");
  EXPECT_EQ(bad.exit_status, 1);
}

// Every way of cutting a stream short still lists chunks that follow on from each other and
// ends in a closing line, from a file and from a pipe alike.
TEST(native_walk, every_truncated_prefix_ends_in_a_closing_line) {
  const std::string stream =
      bytes({0x01, 0x00, 0x03}) + filler(4) + bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D}) +
      filler(10) + bytes({0xA0, 0x00, 0x10, 0x00, 0x02}) + filler(3) + bytes({0x02, 0x00, 0x00}) +
      filler(1) + bytes({0x80, 0xFF, 0xFF, 0x00, 0x00}) + filler(1) + bytes({0x00});
  temp_dir dir;
  for (std::size_t length = 0; length <= stream.size(); ++length) {
    SCOPED_TRACE("prefix of " + std::to_string(length) + " bytes");
    const std::string prefix = stream.substr(0, length);
    const process_output from_file = run_tool({dir.write("prefix", prefix), "0"});
    listing l;
    ASSERT_STREQ(parse_listing(from_file.out, true, l), nullptr) << from_file.out;
    EXPECT_STREQ(check_tiling(l, 0, length), nullptr) << from_file.out;
    EXPECT_EQ(l.closing.shown, length == stream.size() ? 0u : 0xFFFFFFFFu) << from_file.out;
    EXPECT_EQ(run_tool({"/dev/stdin", "0"}, prefix).out, from_file.out);
  }
}

} // namespace
