// Files from real encoders, listed by the real binary at each of their LZMA2 streams: the
// chunks must tile the stream, end at its end marker and add up to what it decodes to.

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using test_table::operator<<;

struct encoded_file {
  std::string contents;
  std::vector<stream_extent> streams;
};

encoded_file raw(const std::string &data, std::uint32_t preset) {
  const std::string stream = raw_lzma2({data}, preset);
  return {stream, {{0, stream.size() - 1, data.size()}}};
}

encoded_file xz(const std::string &file) {
  return {file, xz_blocks(file)};
}

// Runs an encoder's shell command in the directory, from the file "in" to the file "out".
std::string run_encoder(const temp_dir &dir, const std::string &data, const std::string &command) {
  dir.write("in", data);
  EXPECT_EQ(std::system(("cd '" + dir.path("") + "' && " + command).c_str()), 0) << command;
  return read_file(dir.path("out"));
}

encoded_file xz_program(const temp_dir &dir, std::size_t size, const std::string &options) {
  return xz(run_encoder(dir, mixed_data(size), "xz -T2 " + options + " -c in > out"));
}

// 7-Zip writes the packed streams right after its 32-byte start header, and the header
// written after them (uncompressed with -mhc=off) at 32 + the u64 at byte 12. With c=1m the
// LZMA2 stream is blocks of 1 MiB, each opening with a dictionary reset, and one end marker.
encoded_file sevenzip(const temp_dir &dir, const std::string &data, const std::string &options) {
  const std::string archive = run_encoder(dir, data,
                                          "7zz a -t7z -bd -bso0 -mhc=off -m0=LZMA2:c=1m " +
                                              options + " out.7z in && mv out.7z out");
  std::uint64_t next_header_offset = 0;
  for (std::size_t i = 20; i-- > 12 && i < archive.size();)
    next_header_offset = next_header_offset << 8 | static_cast<unsigned char>(archive[i]);
  return {archive, {{0x20, 0x20 + next_header_offset - 1, data.size()}}};
}

struct encoder_case {
  const char *name;
  const char *program; // needed on the PATH, if any
  encoded_file (*make)(const temp_dir &dir);
};

const encoder_case encoder_cases[] = {
    {"raw_text_preset_0", nullptr, [](const temp_dir &) { return raw(text_data(3 << 20), 0); }},
    {"raw_mixed_preset_6", nullptr, [](const temp_dir &) { return raw(mixed_data(2 << 20), 6); }},
    {"raw_random_preset_9", nullptr,
     [](const temp_dir &) { return raw(random_data(1 << 20, 1), 9); }},
    {"xz_text_preset_9", nullptr,
     [](const temp_dir &) { return xz(xz_file({text_data(3 << 20)}, 9)); }},
    {"xz_mixed_preset_0", nullptr,
     [](const temp_dir &) { return xz(xz_file({mixed_data(2 << 20)}, 0)); }},
    {"xz_blocks_of_1_mib", "xz",
     [](const temp_dir &d) { return xz_program(d, 4 << 20, "--block-size=1MiB"); }},
    {"xz_fast_blocks_no_check", "xz",
     [](const temp_dir &d) { return xz_program(d, 3 << 20, "-0 --block-size=1MiB --check=none"); }},
    {"xz_odd_blocks_sha256", "xz",
     [](const temp_dir &d) {
       return xz_program(d, (3 << 20) + 5, "-3 --block-size=700KiB --check=sha256");
     }},
    {"sevenzip_ultra", "7zz",
     [](const temp_dir &d) { return sevenzip(d, mixed_data(4 << 20), "-mx=9"); }},
    {"sevenzip_fastest_two_threads", "7zz",
     [](const temp_dir &d) { return sevenzip(d, mixed_data((2 << 20) + 12345), "-mx=1 -mmt=2"); }},
};

class encoders : public testing::TestWithParam<encoder_case> {};

TEST_P(encoders, every_stream_is_listed_as_chunks_that_tile_it_and_add_up_to_its_size) {
  const encoder_case &c = GetParam();
  if (c.program != nullptr &&
      std::system(("command -v " + std::string(c.program) + " >/dev/null").c_str()) != 0)
    GTEST_SKIP() << c.program << " is not installed";
  temp_dir dir;
  const encoded_file file = c.make(dir);
  ASSERT_FALSE(file.streams.empty());
  const std::string path = dir.write("encoded", file.contents);
  for (const stream_extent &stream : file.streams) {
    SCOPED_TRACE("stream at " + hex(stream.offset));
    const process_output got = run_tool({path, hex(stream.offset)});
    EXPECT_EQ(got.exit_status, 0);
    listing l;
    ASSERT_STREQ(parse_listing(got.out, true, l), nullptr) << got.out;
    EXPECT_EQ(l.start_offset, stream.offset);
    EXPECT_STREQ(check_tiling(l, stream.offset, file.contents.size()), nullptr) << got.out;
    EXPECT_EQ(l.closing.offset, stream.last);
    EXPECT_EQ(l.closing.shown, 0u);
    std::uint64_t unpacked = 0;
    for (const listed_chunk &chunk : l.chunks)
      unpacked += chunk.unpacked_size;
    EXPECT_EQ(unpacked, stream.decoded_size);
  }
}

INSTANTIATE_TEST_SUITE_P(table, encoders, testing::ValuesIn(encoder_cases), case_name);

} // namespace
