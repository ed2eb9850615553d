// The real binary as a process: its exact output, standard error and exit status.

#include "test_support.h"

#include <gtest/gtest.h>

#include "baseline_walk.h"
#include "byte_input.h"
#include "chunk_walk.h"
#include "listing_writer.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using test_table::operator<<;

const std::string usage = "usage: lzma2-chunks FILE OFFSET\n";
const std::string help =
    usage + "Lists the chunk headers of the LZMA2 stream that starts at the hexadecimal\n"
            "OFFSET in FILE ('-' for standard input), without decompressing anything.\n"
            "The manual page, lzma2-chunks(1), describes the output, how to find OFFSET\n"
            "and the exit status.\n";

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
  // "SAMPLE" stands for a file holding the sample, "SAMPLE:name" for one with that name.
  std::vector<std::string> args;
  std::string out;
  const char *stdin_path = nullptr; // else the sample through a pipe; "" for none
  const char *io_fault = nullptr;   // a fault of io_faults.c
  bool out_to_file = false;         // else standard output is a file in memory
};

// The listing of a start past the end of the file: just the closing line there.
std::string closing_at(const std::string &position) {
  return "ofs=" + position + "\n" +
         std::string(8 - std::min<std::size_t>(position.size(), 8), '0') + position + ": FFFFFFFF ";
}

const std::string long_path =
    std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(100, 'c') + ".xz";

const process_case process_cases[] = {
    {"lists_the_sample", 0, {"SAMPLE", "10"}, "ofs=10\n" + sample_listing},
    {"ignores_further_arguments", 0, {"SAMPLE", "0x10", "--help"}, "ofs=10\n" + sample_listing},
    {"walks_from_zero_without_digits", 0, {"SAMPLE", "zz"}, "ofs=0\n00000000: 68 "},
    {"start_past_the_end", 0, {"SAMPLE", "1000"}, closing_at("1000")},
    {"minus_one", 0, {"SAMPLE", "-1"}, closing_at("FFFFFFFF")},
    {"offset_of_sixteen_digits", 0, {"SAMPLE", "123456789ABCDEF0"}, closing_at("123456789ABCDEF0")},
    {"dash_is_standard_input", 0, {"-", "10"}, "ofs=10\n" + sample_listing},
    {"help", 0, {"--help"}, help},
    {"short_help", 0, {"-h"}, help},
    {"version", 0, {"--version"}, "lzma2-chunks " LZMA2_CHUNKS_VERSION "\n"},
    {"short_version", 0, {"-V"}, "lzma2-chunks " LZMA2_CHUNKS_VERSION "\n"},
    {"unknown_option_alone", 2, {"--verbose"}, ""},
    {"start_beyond_any_seek", 0, {"SAMPLE", "FFFFFFFFFFFFFFFF"}, closing_at("FFFFFFFFFFFFFFFF")},
    {"largest_file_position", 0, {"SAMPLE", "7FFFFFFFFFFFFFFF"}, closing_at("7FFFFFFFFFFFFFFF")},
    {"missing_file", 1, {"/nonexistent/file", "0"}, ""},
    {"missing_file_and_bad_offset", 1, {"/nonexistent/file", "zz"}, ""},
    {"directory", 1, {"/", "0"}, ""},
    {"no_arguments", 2, {}, ""},
    {"one_argument", 2, {"SAMPLE"}, ""},
    {"one_missing_file_argument", 2, {"/nonexistent/file"}, ""},
    {"dash_on_empty_input", 0, {"-", "10"}, closing_at("10"), "/dev/null"},
    {"dash_on_input_open_only_for_writing", 1, {"-", "0"}, "", ">/dev/null"},
    // Windows would read these as the digits 18, and the names below in its ANSI code page,
    // where Ωmega.xz is Omega.xz, which holds something else here.
    {"fullwidth_digits", 0, {"SAMPLE", "１８"}, "ofs=0\n00000000: 68 "},
    {"name_outside_the_code_page", 0, {"SAMPLE:Ωmega.xz", "10"}, "ofs=10\n" + sample_listing},
    {"name_of_four_scripts", 0, {"SAMPLE:données-日本-😀.xz", "10"}, "ofs=10\n" + sample_listing},
    {"path_over_260_characters", 0, {"SAMPLE:" + long_path, "10"}, "ofs=10\n" + sample_listing},
};

// Files only Linux has.
const process_case native_process_cases[] = {
    {"empty_device", 0, {"/dev/null", "0"}, "ofs=0\n00000000: FFFFFFFF "},
    // Files under /proc have size 0 and content: the first byte of the command line is '/'.
    {"size_zero_proc_file", 0, {"/proc/self/cmdline", "0"}, "ofs=0\n00000000: 2F "},
    // Reading the first page of a process's memory fails with EIO.
    {"read_error", 1, {"/proc/self/mem", "0"}, "ofs=0\n00000000: FFFFFFFF "},
    // Standard input that cannot be read at all is a file that cannot be opened.
    {"dash_on_closed_input", 1, {"-", "0"}, "", ""},
    {"dash_on_a_directory", 1, {"-", "0"}, "", "/"},
    // A FUSE file opened as a stream is read in sequence, as a pipe is.
    {"file_that_cannot_seek",
     0,
     {"SAMPLE", "10"},
     "ofs=10\n" + sample_listing,
     nullptr,
     "unseekable"},
    // Waiting for a regular file to become ready would wait forever: EAGAIN is an error.
    {"reads_that_answer_eagain", 1, {"SAMPLE", "10"}, closing_at("10"), nullptr, "again_reads"},
    {"writes_that_answer_eagain", 1, {"SAMPLE", "10"}, "", nullptr, "again_writes", true},
};

class process : public testing::TestWithParam<process_case> {};

TEST_P(process, prints_exactly_and_exits_with_status) {
  temp_dir dir;
  dir.write("Omega.xz", bytes({0x03}));
  std::vector<std::string> args = GetParam().args;
  for (std::string &a : args)
    if (a.rfind("SAMPLE", 0) == 0)
      a = dir.write(a == "SAMPLE" ? "sample" : a.substr(7), sample);
  std::vector<std::string> env;
  if (GetParam().io_fault != nullptr)
    env = io_fault_env(GetParam().io_fault);
  const std::string out_file = GetParam().out_to_file ? dir.write("out", "") : "";
  const process_output got =
      run_tool(args, tool_input(sample, GetParam().stdin_path), out_file, env);
  EXPECT_EQ(out_file.empty() ? got.out : read_file(out_file), GetParam().out);
  EXPECT_EQ(got.err, GetParam().status == 2 ? usage : "");
  EXPECT_EQ(got.exit_status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(table, process, testing::ValuesIn(process_cases), case_name);
// A portability run leaves these out with --gtest_filter=-native_*.
INSTANTIATE_TEST_SUITE_P(native_linux, process, testing::ValuesIn(native_process_cases), case_name);

// Writes data at `at` in the file, which holds a hole up to there where it had nothing.
bool put(int fd, std::uint64_t at, const std::string &data) {
  return pwrite(fd, data.data(), data.size(), static_cast<off_t>(at)) ==
         static_cast<ssize_t>(data.size());
}

// Positions past 4 GiB print in full; a sparse file keeps this to a few KiB on disk.
TEST(process, lists_headers_past_4_gib_in_a_sparse_file) {
  temp_dir dir;
  const std::string path = dir.path("sparse");
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  const std::uint64_t first = 0x100030000;
  // Only a walk that reads by position gets this far in time.
  const std::uint64_t at_64_gib = std::uint64_t{64} << 30;
  const bool written =
      put(fd, 0xFFFFFFF0, bytes({0x01, 0xFF, 0xFF})) &&
      put(fd, 0xFFFFFFF0ULL + 3 + 65536, bytes({0xC0, 0x00, 0x00, 0x00, 0x00, 0x5D})) &&
      put(fd, 0xFFFFFFF0ULL + 3 + 65536 + 7, bytes({0x00})) &&
      put(fd, first, bytes({0x01, 0xFF, 0xFF})) &&
      put(fd, first + 3 + 65536, bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D})) &&
      put(fd, first + 3 + 65536 + 16, bytes({0x03})) &&
      put(fd, at_64_gib, bytes({0x02, 0xFF, 0xFF})) &&
      put(fd, at_64_gib + 3 + 65536, bytes({0xE3, 0x12, 0x34, 0x00, 0x09, 0x5D})) &&
      put(fd, at_64_gib + 3 + 65536 + 16, bytes({0x80, 0xFF, 0xFF, 0x00, 0x00, 'x', 0x00}));
  close(fd);
  ASSERT_TRUE(written);

  EXPECT_EQ(run_tool({path, "100030000"}).out, "ofs=100030000\n"
                                               "100030000: 01 u=65536\n"
                                               "100040003: E0 u=201269 p=10 s=5D\n"
                                               "100040013: 03 ");
  EXPECT_EQ(run_tool({path, "FFFFFFF0"}).out, "ofs=FFFFFFF0\n"
                                              "FFFFFFF0: 01 u=65536\n"
                                              "10000FFF3: C0 u=1 p=1 s=5D\n"
                                              "10000FFFA: 00 ");
  EXPECT_EQ(run_tool({path, "1000000000"}).out, "ofs=1000000000\n"
                                                "1000000000: 02 u=65536\n"
                                                "1000010003: E0 u=201269 p=10 s=5D\n"
                                                "1000010013: 80 u=65536 p=1\n"
                                                "1000010019: 00 ");
}

// What the straightforward walk lists for the file, from OFFSET as scanf's "%X" reads it.
std::string listed_by_baseline(const std::string &path, const std::string &offset_text) {
  unsigned start_offset = 0;
  std::sscanf(offset_text.c_str(), "%X", &start_offset);
  char *text = nullptr;
  std::size_t length = 0;
  std::FILE *out = open_memstream(&text, &length);
  std::FILE *in = std::fopen(path.c_str(), "rb");
  std::fprintf(out, "ofs=%X\n", start_offset);
  baseline_walk_chunks(in, start_offset, out);
  std::fclose(in);
  std::fclose(out);
  std::string listed(text, length);
  std::free(text);
  return listed;
}

// Chains of random chunks, cut short or damaged, from OFFSET texts in every form scanf's
// "%X" takes: the binary lists them as the straightforward walk does, from a file and a pipe.
TEST(process, lists_random_streams_from_random_offset_texts) {
  std::mt19937 random(2026);
  const auto pick = [&](std::uint32_t n) { return random() % n; };
  temp_dir dir;
  for (std::uint32_t round = 0; round < 16; ++round) {
    std::string stream = random_data(pick(40), round);
    const std::uint64_t start = stream.size();
    for (std::uint32_t chunks = pick(12); chunks > 0; --chunks) {
      const auto payload = static_cast<int>(1 + pick(300));
      const std::string size = bytes({(payload - 1) >> 8, (payload - 1) & 0xFF});
      const auto any = [&](int from, int count) { return from + static_cast<int>(pick(count)); };
      if (pick(3) == 0)
        stream += bytes({any(1, 2)}) + size;
      else if (pick(2) == 0)
        stream += bytes({any(0x80, 64), any(0, 256), any(0, 256)}) + size;
      else
        stream += bytes({any(0xC0, 64), any(0, 256), any(0, 256)}) + size + bytes({any(0, 256)});
      stream += random_data(static_cast<std::size_t>(payload), round * 100 + chunks);
    }
    if (pick(2) == 0)
      stream += bytes({0x00});
    stream += random_data(pick(8), round + 99);
    const std::string digits = hex(start + pick(3));
    const std::string forms[] = {digits,       "0x" + digits, " \t" + digits, digits + "q",
                                 "+" + digits, "-" + digits,  "000" + digits, "zz"};
    const std::string offset = forms[pick(8)];
    const std::string path = dir.write("stream", stream);
    SCOPED_TRACE("round " + std::to_string(round) + ", OFFSET '" + offset + "'");
    const std::string expected = listed_by_baseline(path, offset);
    EXPECT_EQ(run_tool({path, offset}).out, expected);
    EXPECT_EQ(run_tool({"-", offset}, stream).out, expected);
  }
}

// Starts this build's binary on "-" 0 with standard input from in[0] and standard output to
// `out`, and keeps only in[1] here. An ignored SIGPIPE stays so.
pid_t start_listing_input(const int (&in)[2], int out) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out, 1);
    close(in[1]);
    execl(LZMA2_CHUNKS_BINARY, LZMA2_CHUNKS_BINARY, "-", "0", nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out);
  return pid;
}

// Standard input or output as a parent may hand them over: a pipe or a terminal, either
// perhaps left non-blocking (a pipe for output with room for one page only).
enum class end_kind { pipe, non_blocking_pipe, terminal, non_blocking_terminal };

// Opens a pipe or a terminal: ends[0] for the tool, ends[1] for the test.
bool open_ends(end_kind kind, bool tool_reads, int (&ends)[2]) {
  int &tool = ends[0];
  int &test = ends[1];
  const bool non_blocking =
      kind == end_kind::non_blocking_pipe || kind == end_kind::non_blocking_terminal;
  if (kind == end_kind::terminal || kind == end_kind::non_blocking_terminal) {
    termios raw{};
    cfmakeraw(&raw);
    // The tool's input keeps line editing, where ^D ends the input.
    if (openpty(&test, &tool, nullptr, tool_reads ? nullptr : &raw, nullptr) != 0)
      return false;
  } else {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
      return false;
    tool = pipe_ends[tool_reads ? 0 : 1];
    test = pipe_ends[tool_reads ? 1 : 0];
    if (non_blocking && !tool_reads && fcntl(tool, F_SETPIPE_SZ, 4096) < 0)
      return false;
  }
  // The test's end stays here only, so that it sees the end when the tool exits.
  return (!non_blocking || fcntl(tool, F_SETFL, O_NONBLOCK) == 0) &&
         fcntl(test, F_SETFD, FD_CLOEXEC) == 0;
}

// Reads into `shown` until it holds `size` bytes, the tool has gone or 10 s bring nothing;
// only once the tool sleeps, for input or for room to write, or has ended, so that a full
// output makes it wait.
void read_until(int fd, std::string &shown, std::size_t size, pid_t pid) {
  for (int tries = 0; tries < 10000; ++tries, usleep(1000)) {
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t state = stat.rfind(") ");
    if (state == std::string::npos || stat[state + 2] == 'S' || stat[state + 2] == 'Z')
      break;
  }
  pollfd ready{fd, POLLIN, 0};
  char buffer[4096];
  for (ssize_t n = 1; n > 0 && shown.size() < size && poll(&ready, 1, 10000) == 1;) {
    n = read(fd, buffer, sizeof buffer);
    shown.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
}

// Input written a piece at a time, each with the output due before the next is written:
// every line shows before more input comes, and after the last piece the tool ends, without
// waiting for more, while its input stays open. A terminal gets each line as it comes, a
// pipe what the input has given so far in one write.
struct feed_case {
  const char *name;
  end_kind in;
  end_kind out;
  std::vector<std::pair<std::string, std::string>> pieces;
};

const auto stored_chunk_and_header = [](const std::string &rest, const std::string &last_line) {
  return std::vector<std::pair<std::string, std::string>>{
      {bytes({0x01, 0x00, 0x00}) + "a", "ofs=0\n00000000: 01 u=1\n"},
      {bytes({0x02, 0x00, 0x01}), "00000004: 02 u=2\n"},
      {"xy" + rest, last_line}};
};

const feed_case feed_cases[] = {
    {"to_a_terminal", end_kind::pipe, end_kind::terminal,
     stored_chunk_and_header(stored_chunks(100) + bytes({0x00}),
                             stored_chunk_lines(100, 1, 9) + "00000199: 00 ")},
    {"to_a_non_blocking_terminal", end_kind::pipe, end_kind::non_blocking_terminal,
     stored_chunk_and_header(stored_chunks(8192) + bytes({0x00}),
                             stored_chunk_lines(8192, 1, 9) + "00008009: 00 ")},
    {"through_pipes", end_kind::pipe, end_kind::pipe,
     stored_chunk_and_header(stored_chunks(100) + bytes({0x55}),
                             stored_chunk_lines(100, 1, 9) + "00000199: 55 ")},
    {"through_non_blocking_pipes", end_kind::non_blocking_pipe, end_kind::non_blocking_pipe,
     stored_chunk_and_header(stored_chunks(8192) + bytes({0x00}),
                             stored_chunk_lines(8192, 1, 9) + "00008009: 00 ")},
    // A header whose first byte comes with the chunk before it: that chunk's line still
    // shows before the rest of the header comes.
    {"header_split_across_writes",
     end_kind::pipe,
     end_kind::pipe,
     {{bytes({0x01, 0x00, 0x00}) + "a" + bytes({0x02}), "ofs=0\n00000000: 01 u=1\n"},
      {bytes({0x00, 0x01}) + "xy" + bytes({0x00}), "00000004: 02 u=2\n00000009: 00 "}}},
    {"from_a_terminal",
     end_kind::terminal,
     end_kind::pipe,
     {{bytes({0x01, 0x00, 0x00}) + "a\x04", "ofs=0\n00000000: 01 u=1\n"},
      {"\x01\x04", ""},
      {"\x04", "00000004: 01 u=65536\n00010005: FFFFFFFF "}}},
};

class native_feeding : public testing::TestWithParam<feed_case> {};

TEST_P(native_feeding, shows_each_line_before_more_input_and_ends_without_waiting) {
  const feed_case &c = GetParam();
  int in[2];
  int out[2];
  if (!open_ends(c.in, true, in) || !open_ends(c.out, false, out))
    GTEST_SKIP() << "no pipe or terminal can be opened here, as in a container without /dev/pts";
  const pid_t pid = start_listing_input(in, out[0]);
  std::string expected;
  std::string shown;
  for (const auto &[input, output] : c.pieces) {
    ASSERT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    expected += output;
    read_until(out[1], shown, expected.size(), pid);
    ASSERT_EQ(shown, expected);
  }
  read_until(out[1], shown, SIZE_MAX, pid);
  EXPECT_EQ(shown, expected);
  pollfd ended{static_cast<int>(syscall(SYS_pidfd_open, pid, 0)), POLLIN, 0};
  EXPECT_EQ(poll(&ended, 1, 10000), 1) << "the tool waits for input after the end";
  const std::uint64_t writes = read_and_write_calls(pid).second;
  const auto lines = static_cast<std::uint64_t>(std::count(shown.begin(), shown.end(), '\n'));
  // A terminal gets a write for each line, the closing one too, and a non-blocking one another
  // each time it is full.
  const bool non_blocking_terminal = c.out == end_kind::non_blocking_terminal;
  EXPECT_TRUE(c.out == end_kind::terminal || non_blocking_terminal
                  ? writes >= lines + 1 + non_blocking_terminal
                  : writes < lines / 4 + 8)
      << writes << " writes for " << lines << " lines";
  close(in[1]);
  close(out[1]);
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(table, native_feeding, testing::ValuesIn(feed_cases), case_name);

// Once the listing cannot be written, the walk stops instead of reading on: with no space
// left, and with a reader that has gone while SIGPIPE is ignored.
TEST(native_process, stops_reading_when_the_listing_cannot_be_written) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::string chunks = stored_chunks(16384);
  for (const bool reader_gone : {false, true}) {
    SCOPED_TRACE(reader_gone ? "reader gone" : "/dev/full");
    int in[2];
    int out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    close(out[0]);
    const pid_t pid = start_listing_input(in, reader_gone ? out[1] : open("/dev/full", O_WRONLY));
    if (!reader_gone)
      close(out[1]);
    // Stored one-byte chunks without end, up to a bound that stands for endless input.
    std::size_t fed = 0;
    for (ssize_t n = 0; n >= 0 && fed < (std::size_t{256} << 20);
         n = write(in[1], chunks.data(), chunks.size()))
      fed += static_cast<std::size_t>(n);
    close(in[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_LT(fed, std::size_t{4} << 20) << "bytes the walk read on after the failure";
  }
  // From a file, where it could read on at once: the whole walk takes about 20 reads of it,
  // one that stops at the first failed write 2 or 3.
  temp_dir dir;
  const std::string path = dir.write("chunks", stored_chunks(262144));
  EXPECT_LT(run_tool({path, "0"}, {}, "/dev/full").reads + 8,
            run_tool({path, "0"}, {}, "/dev/null").reads);
}

// tmpfs holds files up to the largest file position, so a walk can meet headers in the
// last page below it, and run past the end of what any file can hold.
TEST(native_process, lists_headers_up_to_the_largest_file_position) {
  const std::string path = "/dev/shm/lzma2-chunks-test-" + std::to_string(getpid());
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const bool written = put(fd, 0x7FFFFFFFFFFFFFF0, bytes({0xE0, 0, 0, 0, 0, 0x5D, 'x', 0x00})) &&
                       put(fd, 0x7FFFFFFFFFFFFFFC, bytes({0x02, 0x00, 0x00}));
  close(fd);
  if (written) {
    EXPECT_EQ(run_tool({path, "7FFFFFFFFFFFFFF0"}).out, "ofs=7FFFFFFFFFFFFFF0\n"
                                                        "7FFFFFFFFFFFFFF0: E0 u=1 p=1 s=5D\n"
                                                        "7FFFFFFFFFFFFFF7: 00 ");
    EXPECT_EQ(run_tool({path, "7FFFFFFFFFFFFFFC"}).out, "ofs=7FFFFFFFFFFFFFFC\n"
                                                        "7FFFFFFFFFFFFFFC: 02 u=1\n"
                                                        "8000000000000000: FFFFFFFF ");
  }
  unlink(path.c_str());
  if (!written)
    GTEST_SKIP() << "no tmpfs at /dev/shm that holds such a file";
}

// A block device is read by position, as a file is: only the headers, not the 64 MiB of
// payloads between them.
TEST(native_process, reads_a_block_device_by_position) {
  temp_dir dir;
  // A loop device holds whole sectors only.
  const std::string path =
      dir.write("disk", stored_chunks(1024, 65536) + bytes({0x00}) + std::string(4095, '\0'));
  std::FILE *attach = popen(("losetup -f --show '" + path + "' 2>/dev/null").c_str(), "r");
  char device[64] = "";
  const bool attached = attach != nullptr && std::fgets(device, sizeof device, attach) != nullptr;
  if (attach != nullptr)
    pclose(attach);
  if (!attached)
    GTEST_SKIP() << "no loop device can be attached here (it takes root and /dev/loop*)";
  device[std::strcspn(device, "\n")] = '\0';
  const process_output got = run_tool({device, "0"});
  EXPECT_EQ(std::system(("losetup -d " + std::string(device)).c_str()), 0);
  EXPECT_EQ(got.out.substr(got.out.size() - 14), "\n04000C00: 00 ");
  EXPECT_EQ(got.exit_status, 0);
  EXPECT_LT(got.bytes_read, std::uint64_t{1} << 20);
}

// /proc/kpageflags refuses reads that are not whole aligned blocks: a lone header far
// from the start is read so, and the last page below 2^63, which no whole read can reach,
// is its end.
TEST(native_process, reads_a_file_that_refuses_unaligned_reads) {
  if (access("/proc/kpageflags", R_OK) != 0)
    GTEST_SKIP() << "/proc/kpageflags is not readable here";
  const process_output got = run_tool({"/proc/kpageflags", "10003"});
  listing l;
  EXPECT_STREQ(parse_listing(got.out, true, l), nullptr) << got.out;
  EXPECT_NE(l.closing.shown, 0xFFFFFFFFu) << got.out;
  EXPECT_EQ(got.exit_status, 0);
  const process_output last = run_tool({"/proc/kpageflags", "7FFFFFFFFFFFFFF0"});
  EXPECT_EQ(last.out, "ofs=7FFFFFFFFFFFFFF0\n7FFFFFFFFFFFFFF0: FFFFFFFF ");
  EXPECT_EQ(last.exit_status, 0);
}

// Lines go out in blocks to a file and to a device that is no terminal, such as /dev/null
// or NUL on Windows, not one write each (a terminal gets one each: see native_feeding).
TEST(process, writes_lines_in_blocks_unless_to_a_terminal) {
  temp_dir dir;
  const std::string path = dir.write("tiny", stored_chunks(16384));
  for (const char *out : {"", "/dev/null"})
    EXPECT_LT(run_tool({path, "0"}, {}, out).writes, 16384u / 4) << out;
}

} // namespace
