// Files from real encoders with many blocks: xz's multi-threaded block splitting and 7-Zip's
// LZMA2 blocks, listed by the real binary block by block.

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class temp_dir {
public:
  temp_dir() {
    char pattern[] = "/tmp/encoders_test.XXXXXX";
    const char *made = mkdtemp(pattern);
    path_ = made == nullptr ? "" : made;
  }
  ~temp_dir() {
    if (!path_.empty())
      std::system(("rm -rf '" + path_ + "'").c_str());
  }
  temp_dir(const temp_dir &) = delete;
  temp_dir &operator=(const temp_dir &) = delete;
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

bool have_command(const std::string &name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

void write_file(const std::string &path, const std::string &contents) {
  std::ofstream out(path, std::ios::binary);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string hex(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}

std::uint64_t little_endian_64(const std::string &s, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
  return value;
}

// Lists the file from offset with the real binary.
listing list_with_tool(const std::string &path, std::uint64_t offset) {
  const process_output run = run_tool({path, hex(offset)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  listing l = parse_listing(run.out, true);
  EXPECT_EQ(l.start_offset, offset);
  return l;
}

bool resets_dictionary(const listed_chunk &chunk) {
  return chunk.shown == 0x01 || chunk.shown == 0xE0;
}

struct xz_case {
  const char *name;
  const char *options;
  std::size_t input_size;
  std::size_t expected_blocks;
};

void PrintTo(const xz_case &c, std::ostream *os) {
  *os << "xz " << c.options;
}

class xz_blocks_test : public testing::TestWithParam<xz_case> {};

TEST_P(xz_blocks_test, EachBlockIsListedAtItsOwnOffsetAndTheBlocksAddUpToTheInput) {
  if (!have_command("xz"))
    GTEST_SKIP() << "xz not installed";
  const xz_case &c = GetParam();
  temp_dir dir;
  const std::string input = mixed_data(c.input_size);
  write_file(dir.file("input"), input);
  ASSERT_EQ(std::system(("xz " + std::string(c.options) + " -c '" + dir.file("input") + "' > '" +
                         dir.file("input.xz") + "'")
                            .c_str()),
            0);
  const std::vector<xz_block> blocks = xz_blocks(read_file(dir.file("input.xz")));
  ASSERT_EQ(blocks.size(), c.expected_blocks);

  std::uint64_t total = 0;
  for (const xz_block &block : blocks) {
    SCOPED_TRACE("block at " + hex(block.lzma2_offset));
    const listing l = list_with_tool(dir.file("input.xz"), block.lzma2_offset);
    ASSERT_FALSE(l.chunks.empty());
    // Blocks are independent, so each must open with a dictionary reset.
    EXPECT_TRUE(resets_dictionary(l.chunks.front())) << std::hex << l.chunks.front().shown;
    const std::uint64_t unpacked = check_tiling(l, block.lzma2_offset);
    EXPECT_EQ(l.closing.offset, block.lzma2_last);
    EXPECT_EQ(l.closing.shown, 0u);
    EXPECT_EQ(unpacked, block.unpacked_size);
    total += unpacked;
  }
  EXPECT_EQ(total, input.size());
}

INSTANTIATE_TEST_SUITE_P(
    encoders, xz_blocks_test,
    testing::Values(xz_case{"default", "-T2 --block-size=1MiB", 4u << 20, 4},
                    xz_case{"fast_no_check", "-0 -T2 --block-size=1MiB --check=none", 3u << 20, 3},
                    xz_case{"odd_blocks_sha256", "-3 -T2 --block-size=700KiB --check=sha256",
                            (3u << 20) + 5, 5}),
    [](const testing::TestParamInfo<xz_case> &info) { return std::string(info.param.name); });

struct sevenzip_case {
  const char *name;
  const char *options;
  std::size_t input_size;
};

void PrintTo(const sevenzip_case &c, std::ostream *os) {
  *os << "7zz " << c.options;
}

class sevenzip_blocks_test : public testing::TestWithParam<sevenzip_case> {};

// 7-Zip splits LZMA2 into blocks of the c= size and writes them one after another as one
// stream: each block opens with a dictionary reset mid-stream, and one end marker closes it.
TEST_P(sevenzip_blocks_test, BlocksFollowEachOtherInOneStreamAndAddUpToTheInput) {
  if (!have_command("7zz"))
    GTEST_SKIP() << "7zz not installed";
  const sevenzip_case &c = GetParam();
  constexpr std::uint64_t block_size = 1u << 20;
  constexpr std::uint64_t packed_streams_at = 0x20;
  temp_dir dir;
  const std::string input = mixed_data(c.input_size);
  write_file(dir.file("input"), input);
  // An uncompressed header puts the end of the packed stream in the start header.
  ASSERT_EQ(std::system(("7zz a -t7z -bd -bso0 -mhc=off " + std::string(c.options) + " '" +
                         dir.file("input.7z") + "' '" + dir.file("input") + "'")
                            .c_str()),
            0);
  const std::string archive = read_file(dir.file("input.7z"));
  ASSERT_GE(archive.size(), packed_streams_at);
  const std::uint64_t next_header_offset = little_endian_64(archive, 12);

  const std::string path = dir.file("input.7z");
  const listing whole = list_with_tool(path, packed_streams_at);
  const std::uint64_t total = check_tiling(whole, packed_streams_at);
  EXPECT_EQ(whole.closing.offset, packed_streams_at + next_header_offset - 1);
  EXPECT_EQ(whole.closing.shown, 0u);
  EXPECT_EQ(total, input.size());

  std::vector<std::size_t> block_starts;
  for (std::size_t i = 0; i < whole.chunks.size(); ++i)
    if (resets_dictionary(whole.chunks[i]))
      block_starts.push_back(i);
  ASSERT_FALSE(block_starts.empty());
  EXPECT_EQ(block_starts.front(), 0u);
  EXPECT_EQ(block_starts.size(), (input.size() + block_size - 1) / block_size);

  for (std::size_t b = 0; b < block_starts.size(); ++b) {
    const listed_chunk &first = whole.chunks[block_starts[b]];
    SCOPED_TRACE("block at " + hex(first.offset));
    EXPECT_EQ(first.shown, 0xE0u);
    // From its own offset, a block lists as the rest of the whole stream does.
    const listing from_block = list_with_tool(path, first.offset);
    ASSERT_EQ(from_block.chunks.size(), whole.chunks.size() - block_starts[b]);
    for (std::size_t i = 0; i < from_block.chunks.size(); ++i)
      EXPECT_EQ(from_block.chunks[i].offset, whole.chunks[block_starts[b] + i].offset);
    EXPECT_EQ(from_block.closing.offset, whole.closing.offset);

    const std::size_t end = b + 1 < block_starts.size() ? block_starts[b + 1] : whole.chunks.size();
    std::uint64_t unpacked = 0;
    for (std::size_t i = block_starts[b]; i < end; ++i)
      unpacked += whole.chunks[i].unpacked_size;
    const std::uint64_t expected =
        b + 1 < block_starts.size() ? block_size : input.size() - b * block_size;
    EXPECT_EQ(unpacked, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    encoders, sevenzip_blocks_test,
    testing::Values(sevenzip_case{"ultra", "-mx=9 -m0=LZMA2:c=1m", 4u << 20},
                    sevenzip_case{"fastest_two_threads", "-mx=1 -m0=LZMA2:c=1m -mmt=2",
                                  (2u << 20) + 12345}),
    [](const testing::TestParamInfo<sevenzip_case> &info) { return std::string(info.param.name); });

} // namespace
