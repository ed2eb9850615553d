// The real binary as a process: its exact output, standard error and exit status.

#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

const std::string usage = "usage: lzma2-chunks FILE OFFSET\n";

// A short stream with each kind of line, at 0x10 behind some leading bytes.
const std::string sample = std::string(0x10, 'h') + bytes({0x01, 0x00, 0x01}) + "ab" +
                           bytes({0xE0, 0x00, 0x05, 0x00, 0x01, 0x5D}) + "cd" +
                           bytes({0xA0, 0x00, 0x00, 0x00, 0x00}) + "e" + bytes({0x00});
const std::string sample_listing = "00000010: 01 u=2\n"
                                   "00000015: E0 u=6 p=2 s=5D\n"
                                   "0000001D: A0 u=1 p=1\n"
                                   "00000023: 00 ";

// Standard error holds the usage message with status 2, and nothing otherwise.
struct process_case {
  const char *name;
  int status;
  std::vector<std::string> args; // "SAMPLE" stands for a file holding the sample
  std::string out;
};

const process_case process_cases[] = {
    {"lists_the_sample", 0, {"SAMPLE", "10"}, "ofs=10\n" + sample_listing},
    {"ignores_further_arguments", 0, {"SAMPLE", "0x10", "--help"}, "ofs=10\n" + sample_listing},
    {"walks_from_zero_without_digits", 0, {"SAMPLE", "zz"}, "ofs=0\n00000000: 68 "},
    {"start_past_the_end", 0, {"SAMPLE", "1000"}, "ofs=1000\n00001000: FFFFFFFF "},
    {"minus_one", 0, {"SAMPLE", "-1"}, "ofs=FFFFFFFF\nFFFFFFFF: FFFFFFFF "},
    {"start_beyond_any_seek",
     0,
     {"SAMPLE", "FFFFFFFFFFFFFFFF"},
     "ofs=FFFFFFFFFFFFFFFF\nFFFFFFFFFFFFFFFF: FFFFFFFF "},
    {"start_at_largest_file_position",
     0,
     {"SAMPLE", "7FFFFFFFFFFFFFFF"},
     "ofs=7FFFFFFFFFFFFFFF\n7FFFFFFFFFFFFFFF: FFFFFFFF "},
    {"missing_file", 1, {"/nonexistent/file", "0"}, ""},
    {"missing_file_and_bad_offset", 1, {"/nonexistent/file", "zz"}, ""},
    {"directory", 1, {"/", "0"}, ""},
    {"no_arguments", 2, {}, ""},
    {"one_argument", 2, {"SAMPLE"}, ""},
    {"one_missing_file_argument", 2, {"/nonexistent/file"}, ""},
};

// Files only Linux has.
const process_case native_process_cases[] = {
    {"empty_device", 0, {"/dev/null", "0"}, "ofs=0\n00000000: FFFFFFFF "},
    // Files under /proc have size 0 and content: the first byte of the command line is '/'.
    {"size_zero_proc_file", 0, {"/proc/self/cmdline", "0"}, "ofs=0\n00000000: 2F "},
    // Reading the first page of a process's memory fails with EIO.
    {"read_error", 1, {"/proc/self/mem", "0"}, "ofs=0\n00000000: FFFFFFFF "},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const process_case &c, std::ostream *os) {
  *os << c.name;
}

class process : public testing::TestWithParam<process_case> {};

TEST_P(process, prints_exactly_and_exits_with_status) {
  temp_dir dir;
  std::vector<std::string> args = GetParam().args;
  for (std::string &a : args)
    if (a == "SAMPLE")
      a = dir.write("sample", sample);
  const process_output got = run_tool(args);
  EXPECT_EQ(got.out, GetParam().out);
  EXPECT_EQ(got.err, GetParam().status == 2 ? usage : "");
  EXPECT_EQ(got.exit_status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(table, process, testing::ValuesIn(process_cases), case_name);
// A portability run leaves these out with --gtest_filter=-native_*.
INSTANTIATE_TEST_SUITE_P(native_linux, process, testing::ValuesIn(native_process_cases), case_name);

TEST(native_process, fails_when_output_cannot_be_written) {
  temp_dir dir;
  const std::string path = dir.write("sample", sample);
  for (const char *offset : {"10", "0"})
    EXPECT_EQ(run_tool({path, offset}, "", "/dev/full").exit_status, 1) << offset;
}

// A pipe cannot seek: the same bytes must give the same output, skips past the end included.
TEST(native_process, lists_a_pipe_as_it_lists_the_file) {
  temp_dir dir;
  for (const std::string &contents : {sample, sample.substr(0, 0x18), std::string()})
    for (const char *offset : {"10", "0", "11", "15", "1000"}) {
      const process_output from_file = run_tool({dir.write("input", contents), offset});
      const process_output from_pipe = run_tool({"/dev/stdin", offset}, contents);
      EXPECT_EQ(from_pipe.out, from_file.out) << "offset " << offset;
      EXPECT_EQ(from_pipe.exit_status, 0);
    }
}

// Positions past 4 GiB print in full; a sparse file keeps this to a few KiB on disk.
TEST(process, lists_headers_past_4_gib_in_a_sparse_file) {
  temp_dir dir;
  const std::string path = dir.path("sparse");
  std::ofstream file(path, std::ios::binary);
  const auto put = [&](std::uint64_t at, const std::string &data) {
    file.seekp(static_cast<std::streamoff>(at)) << data;
  };
  const std::uint64_t first = 0x100030000;
  put(0x7FFFFFF0, bytes({0x02, 0xFF, 0xFF}));
  put(0x7FFFFFF0ULL + 3 + 65536, bytes({0x00}));
  put(0xFFFFFFF0, bytes({0x01, 0xFF, 0xFF}));
  put(0xFFFFFFF0ULL + 3 + 65536, bytes({0xC0, 0x00, 0x00, 0x00, 0x00, 0x5D}));
  put(0xFFFFFFF0ULL + 3 + 65536 + 7, bytes({0x00}));
  put(first, bytes({0x01, 0xFF, 0xFF}));
  put(first + 3 + 65536, bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D}));
  put(first + 3 + 65536 + 16, bytes({0x03}));
  ASSERT_TRUE(file.flush());

  EXPECT_EQ(run_tool({path, "100030000"}).out, "ofs=100030000\n"
                                               "100030000: 01 u=65536\n"
                                               "100040003: E0 u=201269 p=10 s=5D\n"
                                               "100040013: 03 ");
  EXPECT_EQ(run_tool({path, "FFFFFFF0"}).out, "ofs=FFFFFFF0\n"
                                              "FFFFFFF0: 01 u=65536\n"
                                              "10000FFF3: C0 u=1 p=1 s=5D\n"
                                              "10000FFFA: 00 ");
  EXPECT_EQ(run_tool({path, "7FFFFFF0"}).out, "ofs=7FFFFFF0\n"
                                              "7FFFFFF0: 02 u=65536\n"
                                              "8000FFF3: 00 ");
}

} // namespace
