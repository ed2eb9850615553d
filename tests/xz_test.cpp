// lzma2-chunks-xz as a process, on .xz files and containers made with xz and liblzma. The
// truth: xz --robot -lvv for where each block lies, xz -t for which files are damaged, and
// lzma2-chunks for each block's listing.

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

namespace {

struct block_place {
  std::uint64_t stream, block, header_at, data_at, data_size, total_size;
};

// Runs a shell command in the directory and gives what it wrote to the file "out".
std::string shell(const temp_dir &dir, const std::string &command, const std::string &in = "") {
  dir.write("in", in);
  EXPECT_EQ(std::system(("cd '" + dir.path("") + "' && " + command + " >out").c_str()), 0)
      << command;
  return read_file(dir.path("out"));
}

std::string xz(const temp_dir &dir, const std::string &options, const std::string &data) {
  return shell(dir, "xz -c " + options + " in", data);
}

// Where xz puts each block of an .xz file, moved by `shift` bytes and `streams` streams.
std::vector<block_place> blocks_by_xz(const temp_dir &dir, const std::string &file,
                                      std::uint64_t shift = 0, std::uint64_t streams = 0) {
  std::istringstream lines(shell(dir, "xz --robot -lvv in", file));
  std::vector<block_place> blocks;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    for (std::size_t at = 0, tab = 0; tab != std::string::npos; at = tab + 1)
      f.push_back(line.substr(at, (tab = line.find('\t', at)) - at));
    if (f[0] != "block")
      continue;
    const std::uint64_t header_at = std::stoull(f[4]) + shift;
    blocks.push_back({std::stoull(f[1]) + streams, std::stoull(f[2]), header_at,
                      header_at + std::stoull(f[11]), std::stoull(f[13]), std::stoull(f[6])});
  }
  return blocks;
}

bool xz_accepts(const temp_dir &dir, const std::string &file) {
  dir.write("test.xz", file);
  return std::system(("xz -t '" + dir.path("test.xz") + "' 2>/dev/null").c_str()) == 0;
}

std::string line_of(std::uint64_t stream, const block_place &b) {
  return "block " + std::to_string(stream) + "." + std::to_string(b.block) + " at " +
         std::string(8 - std::min<std::size_t>(8, hex(b.header_at).size()), '0') +
         hex(b.header_at) + ": OFFSET " + hex(b.data_at) + "\n";
}

std::string position(std::uint64_t at) {
  const std::string digits = hex(at);
  return std::string(8 - std::min<std::size_t>(8, digits.size()), '0') + digits;
}

struct made_file {
  std::string contents;
  std::vector<block_place> blocks; // every block of every stream, in order
  std::uint64_t streams;
};

const std::string text = text_data(60000);
const std::string mixed = mixed_data(700000);

made_file plain(const temp_dir &dir, const std::string &options, const std::string &data) {
  const std::string file = xz(dir, options, data);
  return {file, blocks_by_xz(dir, file), 1};
}

// The files one after the other, each after `gap` bytes of gap_byte; each is one stream.
made_file joined(const temp_dir &dir, const std::vector<std::string> &files, std::size_t gap,
                 char gap_byte, std::size_t lead = 0) {
  made_file m{random_data(lead, 3), {}, 0};
  for (const std::string &file : files) {
    for (const block_place &b : blocks_by_xz(dir, file, m.contents.size(), m.streams))
      m.blocks.push_back(b);
    m.contents += file + std::string(gap, gap_byte);
    ++m.streams;
  }
  return m;
}

struct intact_case {
  const char *name;
  bool scan;
  made_file (*make)(const temp_dir &dir);
};

const intact_case intact_cases[] = {
    {"one_block", false, [](const temp_dir &d) { return plain(d, "", text); }},
    {"many_blocks", false, [](const temp_dir &d) { return plain(d, "--block-size=150KiB", mixed); }},
    {"threads_write_sizes_in_headers", false,
     [](const temp_dir &d) { return plain(d, "-T2 --block-size=200KiB", mixed); }},
    {"check_none", false, [](const temp_dir &d) { return plain(d, "--check=none", text); }},
    {"check_crc32", false, [](const temp_dir &d) { return plain(d, "--check=crc32", text); }},
    {"check_sha256", false, [](const temp_dir &d) { return plain(d, "--check=sha256", text); }},
    {"x86_filter", false, [](const temp_dir &d) { return plain(d, "--x86 --lzma2=preset=1", mixed); }},
    {"delta_filter", false,
     [](const temp_dir &d) { return plain(d, "--delta=dist=4 --lzma2=preset=6", text); }},
    {"streams_with_padding", false,
     [](const temp_dir &d) {
       return joined(d, {xz(d, "--block-size=20000", text), xz(d, "--check=sha256", text)}, 8, 0);
     }},
    {"empty_stream_between", false,
     [](const temp_dir &d) { return joined(d, {xz(d, "", text), xz(d, "", ""), xz(d, "", text)}, 0, 0); }},
    {"embedded_at_odd_offsets", false,
     [](const temp_dir &d) {
       return joined(d, {xz(d, "--block-size=30000", text), xz(d, "-0", mixed)}, 777, 'q', 1001);
     }},
    {"scan_past_a_first_stream", true,
     [](const temp_dir &d) { return joined(d, {xz(d, "", text), xz(d, "-1", text)}, 5, 'x'); }},
    {"magic_bytes_that_are_no_stream", false,
     [](const temp_dir &d) {
       made_file m = joined(d, {xz(d, "", text)}, 0, 0, 40);
       m.contents.insert(20, "\xFD" "7zXZ" + std::string(1, '\0') + "\x01\x02\x03\x04\x05\x06");
       for (block_place &b : m.blocks)
         b.header_at += 12, b.data_at += 12;
       return m;
     }},
};

void PrintTo(const intact_case &c, std::ostream *os) {
  *os << c.name;
}

class intact : public testing::TestWithParam<intact_case> {};

// Every block where xz says it is, listed as lzma2-chunks lists it, and every stream intact.
TEST_P(intact, lists_every_block_where_xz_finds_it) {
  temp_dir dir;
  const made_file m = GetParam().make(dir);
  const std::string path = dir.write("file", m.contents);
  const process_output got =
      run_xz_tool(GetParam().scan ? std::vector<std::string>{"--scan", path} : std::vector<std::string>{path});
  EXPECT_EQ(got.exit_status, 0) << got.out;
  std::size_t at = 0;
  for (const block_place &b : m.blocks) {
    const std::string listed = line_of(b.stream, b) + run_tool({path, hex(b.data_at)}).out + "\n";
    const std::size_t found = got.out.find(listed, at);
    ASSERT_NE(found, std::string::npos) << listed << "not in\n" << got.out;
    at = found + listed.size();
  }
  const std::string n = std::to_string(m.streams);
  EXPECT_NE(got.out.find("\n" + n + " stream" + (m.streams == 1 ? "" : "s") + ": " + n +
                         " intact, 0 damaged, 0 truncated\n"),
            std::string::npos)
      << got.out;
  EXPECT_EQ(got.err, "");
}

INSTANTIATE_TEST_SUITE_P(table, intact, testing::ValuesIn(intact_cases), case_name);

} // namespace
