// Streams made by liblzma, the encoder behind xz: whatever the data and preset, the listed
// chunks must tile the stream, end at its end marker and add up to the input.

#include "test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>

namespace {

struct data_case {
  const char *name;
  std::string (*make)();
};

const data_case data_cases[] = {
    {"text", [] { return text_data(3 << 20); }},
    {"random", [] { return random_data(1 << 20, 1); }},
    {"mixed", [] { return mixed_data(3 << 20); }},
};

const std::uint32_t presets[] = {0, 6, 9};

// Checks the listing of one LZMA2 stream from first to last (its end marker).
void expect_stream_listed(const std::string &file, std::uint64_t first, std::uint64_t last,
                          std::uint64_t unpacked_total) {
  const walk_output out = walk_file(file, first);
  ASSERT_EQ(out.result, walk_result::ok);
  const listing parsed = parse_listing(out.text, false);
  ASSERT_FALSE(parsed.chunks.empty());
  const std::uint64_t unpacked = check_tiling(parsed, first);
  EXPECT_EQ(parsed.closing.offset, last);
  EXPECT_EQ(parsed.closing.shown, 0u);
  EXPECT_EQ(unpacked, unpacked_total);
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const data_case &c, std::ostream *os) {
  *os << c.name;
}

class real_data : public testing::TestWithParam<std::tuple<data_case, std::uint32_t>> {
protected:
  std::string data() const { return std::get<0>(GetParam()).make(); }
  std::uint32_t preset() const { return std::get<1>(GetParam()); }
};

TEST_P(real_data, raw_lzma2_stream_is_listed_whole) {
  const std::string input = data();
  const std::string stream = encode_raw_lzma2(input, preset());
  expect_stream_listed(stream, 0, stream.size() - 1, input.size());
}

TEST_P(real_data, xz_file_is_listed_at_its_block) {
  const std::string input = data();
  const std::string file = encode_xz(input, preset());
  const std::vector<xz_block> blocks = xz_blocks(file);
  ASSERT_EQ(blocks.size(), 1u);
  // The usual block header is 12 bytes, so the data starts at 12 + 12 = 0x18.
  EXPECT_EQ(blocks[0].lzma2_offset, 12u + (static_cast<unsigned char>(file[12]) + 1u) * 4u);
  expect_stream_listed(file, blocks[0].lzma2_offset, blocks[0].lzma2_last, input.size());
}

INSTANTIATE_TEST_SUITE_P(table, real_data,
                         testing::Combine(testing::ValuesIn(data_cases),
                                          testing::ValuesIn(presets)),
                         [](const testing::TestParamInfo<real_data::ParamType> &info) {
                           return std::string(std::get<0>(info.param).name) + "_preset_" +
                                  std::to_string(std::get<1>(info.param));
                         });

// Which kinds of chunk the data gave is what makes the tables above worth their time.
TEST(real_data, encoder_output_has_the_kinds_of_line_the_tables_need) {
  const std::string text = walk_file(encode_raw_lzma2(text_data(3 << 20), 6), 0).text;
  const std::string mixed = walk_file(encode_raw_lzma2(mixed_data(3 << 20), 6), 0).text;
  for (const char *kind : {": E0 u=", ": 80 u="})
    EXPECT_NE(text.find(kind), std::string::npos) << kind << "\n" << text;
  for (const char *kind : {": E0 u=", ": 02 u=", ": A0 u="})
    EXPECT_NE(mixed.find(kind), std::string::npos) << kind << "\n" << mixed;
}

} // namespace
