// lzma2-chunks-xz as a process, on .xz files and containers made with xz and liblzma. The
// truth: xz --robot -lvv for where each block lies, xz -t for which files are damaged, and
// lzma2-chunks for each block's listing.

#include "test_support.h"

#include <gtest/gtest.h>
#include <lzma.h>

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

// A position as the listings print it, in at least eight digits.
std::string position(std::uint64_t at) {
  const std::string digits = hex(at);
  return std::string(8 - std::min<std::size_t>(8, digits.size()), '0') + digits;
}

std::string line_of(std::uint64_t stream, const block_place &b) {
  return "block " + std::to_string(stream) + "." + std::to_string(b.block) + " at " +
         position(b.header_at) + ": OFFSET " + hex(b.data_at) + "\n";
}

const std::string text = text_data(60000);
const std::string mixed = mixed_data(700000);
const std::string nothing;
// Magic bytes whose header fails its CRC32.
const std::string fake_magic = "lead \xFD"
                               "7zXZ" +
                               std::string(1, '\0') + "\x01\x02\x03\x04\x05\x06";

// Streams made by xz with their options from their data, one after the other, each after
// `gap` bytes of gap_byte, behind `lead` random bytes or else lead_bytes.
struct intact_case {
  const char *name;
  std::vector<std::pair<const char *, const std::string *>> streams;
  std::size_t gap = 0;
  char gap_byte = 0;
  std::size_t lead = 0;
  bool scan = false;
  std::string lead_bytes = {};
};

const intact_case intact_cases[] = {
    {"one_block", {{"", &text}}},
    {"many_blocks", {{"--block-size=150KiB", &mixed}}},
    {"threads_write_sizes_in_headers", {{"-T2 --block-size=200KiB", &mixed}}},
    {"check_none", {{"--check=none", &text}}},
    {"check_crc32", {{"--check=crc32", &text}}},
    {"check_sha256", {{"--check=sha256", &text}}},
    {"x86_filter", {{"--x86 --lzma2=preset=1", &mixed}}},
    {"delta_filter", {{"--delta=dist=4 --lzma2=preset=6", &text}}},
    {"streams_with_padding", {{"--block-size=20000", &text}, {"--check=sha256", &text}}, 8},
    {"empty_stream_between", {{"", &text}, {"", &nothing}, {"", &text}}},
    {"embedded_at_odd_offsets", {{"--block-size=30000", &text}, {"-0", &mixed}}, 777, 'q', 1001},
    {"scan_past_a_first_stream", {{"", &text}, {"-1", &text}}, 5, 'x', 0, true},
    {"magic_bytes_that_are_no_stream", {{"", &text}}, 0, 0, 0, false, fake_magic},
};

void PrintTo(const intact_case &c, std::ostream *os) {
  *os << c.name;
}

class intact : public testing::TestWithParam<intact_case> {};

// Every block where xz says it is, listed as lzma2-chunks lists it, and every stream intact.
TEST_P(intact, lists_every_block_where_xz_finds_it) {
  const intact_case &c = GetParam();
  temp_dir dir;
  std::string contents = c.lead_bytes + random_data(c.lead, 3);
  std::vector<block_place> blocks;
  for (std::size_t i = 0; i < c.streams.size(); ++i) {
    const std::string file = xz(dir, c.streams[i].first, *c.streams[i].second);
    for (const block_place &b : blocks_by_xz(dir, file, contents.size(), i))
      blocks.push_back(b);
    contents += file + std::string(c.gap, c.gap_byte);
  }
  const std::string path = dir.write("file", contents);
  const process_output got = run_xz_tool(c.scan ? std::vector<std::string>{"--scan", path}
                                                : std::vector<std::string>{path});
  EXPECT_EQ(got.exit_status, 0) << got.out;
  std::size_t at = 0;
  for (const block_place &b : blocks) {
    const std::string listed = line_of(b.stream, b) + run_tool({path, hex(b.data_at)}).out + "\n";
    const std::size_t found = got.out.find(listed, at);
    ASSERT_NE(found, std::string::npos) << listed << "not in\n" << got.out;
    at = found + listed.size();
  }
  const std::string n = std::to_string(c.streams.size());
  EXPECT_NE(got.out.find("\n" + n + " stream" + (c.streams.size() == 1 ? "" : "s") + ": " + n +
                         " intact, 0 damaged, 0 truncated\n"),
            std::string::npos)
      << got.out;
  EXPECT_EQ(got.err, "");
}

INSTANTIATE_TEST_SUITE_P(table, intact, testing::ValuesIn(intact_cases), case_name);

// A file, and the line that must say what is wrong with it.
struct faulty_file {
  std::string contents;
  std::string line;
};

const std::string stream_1 = "stream 1 at 00000000: ";

std::string damaged(const std::string &why) {
  return stream_1 + "damaged: " + why;
}

// Three blocks with CRC32 checks, written by threads (which store sizes in block headers),
// where xz puts them, and the file cut or changed.
struct three_blocks {
  explicit three_blocks(const temp_dir &d)
      : dir(d), file(xz(d, "-T2 --check=crc32 --block-size=20000", text)),
        blocks(blocks_by_xz(d, file)) {}
  faulty_file cut(std::uint64_t at, const std::string &where) const {
    return {file.substr(0, at),
            stream_1 + "truncated: the file ends at " + position(at) + ", " + where};
  }
  faulty_file with(std::uint64_t at, int byte, const std::string &why) const {
    std::string changed = file;
    changed[at] = static_cast<char>(byte);
    return {changed, damaged(why)};
  }
  std::uint64_t index_at() const { return blocks[2].header_at + blocks[2].total_size; }
  std::uint64_t footer_at() const { return file.size() - 12; }
  std::string header_of_block_2() const {
    return "the header of block 1.2 at " + position(blocks[1].header_at) + ": ";
  }

  const temp_dir &dir;
  std::string file;
  std::vector<block_place> blocks;
};

// Writes at crc_at the CRC32 of the bytes from `from` up to there, as a header ends.
void give_crc32(std::string &file, std::uint64_t from, std::uint64_t crc_at) {
  const std::uint32_t crc =
      lzma_crc32(reinterpret_cast<const std::uint8_t *>(file.data()) + from, crc_at - from, 0);
  for (int i = 0; i < 4; ++i)
    file[crc_at + i] = static_cast<char>(crc >> (8 * i));
}

// A stored chunk of one byte: its data needs three bytes of padding.
const std::string stored = bytes({0x01, 0x00, 0x00, 'a', 0x00});
// One compressed chunk and the end marker; the first chunk of a block starts at 18.
const std::string lzma = raw_lzma2({"hello hello hello hello"}, 0);
// Its first chunk with another class, or without its properties byte.
std::string as_class(int chunk_class, bool with_props = true) {
  return std::string(1, static_cast<char>(chunk_class | (lzma[0] & 0x1F))) + lzma.substr(1, 4) +
         (with_props ? lzma.substr(5) : lzma.substr(6));
}
std::string with_props(int props) {
  return lzma.substr(0, 5) + std::string(1, static_cast<char>(props)) + lzma.substr(6);
}
// As a decoder of the chunks wants to see them: "a" stored, then the compressed text.
const std::uint64_t stored_and_text = 1 + 23;

struct fault_case {
  const char *name;
  faulty_file (*make)(const three_blocks &f);
  int status = 1;
  bool xz_checks = true; // xz -t can verify the file: it knows its check type
};

using f3 = const three_blocks &;

const fault_case fault_cases[] = {
    // The file cut inside each part of a stream.
    {"cut_in_stream_header", [](f3 f) { return f.cut(8, "inside the stream header"); }},
    {"cut_in_block_header",
     [](f3 f) { return f.cut(f.blocks[1].header_at + 3, "inside the header of block 1.2"); }},
    {"cut_in_data",
     [](f3 f) {
       return f.cut(f.blocks[1].data_at + 100,
                    "inside block 1.2, in the chunk at " + position(f.blocks[1].data_at));
     }},
    {"cut_before_end_marker",
     [](f3 f) {
       return f.cut(f.blocks[1].data_at + f.blocks[1].data_size - 1,
                    "inside block 1.2, where a chunk header is due");
     }},
    {"cut_in_padding",
     [](f3) {
       return faulty_file{xz_around(stored, 1).substr(0, 0x1E),
                          stream_1 + "truncated: the file ends at 0000001E, inside the padding "
                                     "of block 1.1"};
     }},
    {"cut_in_check",
     [](f3 f) {
       return f.cut(f.blocks[0].header_at + f.blocks[0].total_size - 2,
                    "inside the check of block 1.1");
     }},
    {"cut_in_index", [](f3 f) { return f.cut(f.index_at() + 2, "inside the index"); }},
    {"cut_in_footer", [](f3 f) { return f.cut(f.file.size() - 5, "inside the stream footer"); }},
    // One byte changed in each kind of field.
    {"stream_flags", [](f3 f) { return f.with(7, 0x04, "the stream header's CRC32 fails"); }},
    {"block_flags",
     [](f3 f) {
       return f.with(f.blocks[1].header_at + 1, 0x40, f.header_of_block_2() + "its CRC32 fails");
     }},
    {"block_header_size",
     [](f3 f) {
       return f.with(f.blocks[1].header_at, 0x02, f.header_of_block_2() + "its CRC32 fails");
     }},
    {"compressed_size_in_header",
     [](f3 f) {
       // Threads write the sizes first after the flags: flip the lowest bit of the
       // compressed size and give the header its CRC32 again.
       const block_place &b = f.blocks[1];
       faulty_file changed =
           f.with(b.header_at + 2, f.file[b.header_at + 2] ^ 1,
                  "block 1.2: its header gives " + std::to_string(b.data_size ^ 1) +
                      " bytes of data, the walk finds " + std::to_string(b.data_size));
       give_crc32(changed.contents, b.header_at, b.data_at - 4);
       return changed;
     }},
    // liblzma's own number decoder refuses a number that ends in a needless zero byte.
    {"filter_id_with_a_needless_zero_byte",
     [](f3) {
       std::string file = xz_around(stored, 1);
       const char dictionary = file[0x10];
       file.replace(0x0E, 6, bytes({0xA1, 0x00, 0x01, dictionary, 0x00, 0x00}));
       give_crc32(file, 0x0C, 0x14);
       return faulty_file{file, damaged("the header of block 1.1 at 0000000C: a filter's flags "
                                        "are not valid numbers")};
     }},
    {"control_byte",
     [](f3 f) {
       return f.with(f.blocks[1].data_at, 0x05,
                     "block 1.2: the byte at " + position(f.blocks[1].data_at) + " opens no chunk");
     }},
    {"block_padding",
     [](f3) {
       std::string file = xz_around(stored, 1);
       file[0x1D] = 1;
       return faulty_file{file, damaged("block 1.1: its padding at 0000001D is not zero")};
     }},
    {"index_record",
     [](f3) {
       return faulty_file{xz_around(stored, 9), damaged("the index disagrees on block 1.1: "
                                                        "uncompressed size 9, the walk finds 1")};
     }},
    {"index_count",
     [](f3 f) {
       return f.with(f.index_at() + 1, 2, "the index lists 2 blocks, the walk finds 3");
     }},
    {"index_crc",
     [](f3 f) {
       return f.with(f.footer_at() - 1, f.file[f.footer_at() - 1] ^ 1,
                     "the index at " + position(f.index_at()) + ": its CRC32 fails");
     }},
    {"footer_crc",
     [](f3 f) {
       return f.with(f.footer_at(), f.file[f.footer_at()] ^ 1,
                     "the stream footer at " + position(f.footer_at()) + ": its CRC32 fails");
     }},
    {"footer_magic",
     [](f3 f) {
       return f.with(f.file.size() - 1, 'Q',
                     "the stream footer at " + position(f.footer_at()) + ": it does not end in YZ");
     }},
    // Chunk headers that no valid stream holds, next to ones that are valid.
    {"valid_chunks",
     [](f3) {
       return faulty_file{xz_around(lzma, 23), stream_1 + "intact, 1 block, 64 bytes"};
     },
     0},
    // A check type the format reserves still has its size, which xz -t knows but not how
    // to verify it.
    {"reserved_check_type",
     [](f3) {
       return faulty_file{xz_around(lzma, 23, 3), stream_1 + "intact, 1 block, 68 bytes"};
     },
     0, false},
    {"first_chunk_keeps_dictionary",
     [](f3) {
       return faulty_file{xz_around(as_class(0xC0), 23),
                          damaged("block 1.1: its first chunk, at 00000018, does not reset the "
                                  "dictionary")};
     }},
    {"compressed_before_properties",
     [](f3) {
       return faulty_file{xz_around(stored.substr(0, 4) + as_class(0xA0, false), stored_and_text),
                          damaged("block 1.1: the chunk at 0000001C comes before any properties "
                                  "byte since the dictionary reset")};
     }},
    {"properties_above_224",
     [](f3) {
       return faulty_file{xz_around(with_props(0xE1), 23),
                          damaged("block 1.1: the chunk at 00000018 has properties byte E1, "
                                  "above E0 (224)")};
     }},
    {"lc_plus_lp_above_4",
     [](f3) {
       return faulty_file{xz_around(with_props(0x15), 23),
                          damaged("block 1.1: the chunk at 00000018 has properties byte 15, "
                                  "lc + lp above 4")};
     }},
    // Between the streams of an .xz file, and no stream at all.
    {"padding_of_6",
     [](f3 f) {
       return faulty_file{f.file + std::string(6, '\0') + f.file,
                          "stream padding at " + position(f.file.size()) +
                              ": 6 bytes, not a multiple of 4"};
     }},
    {"bytes_after_the_streams",
     [](f3 f) {
       return faulty_file{f.file + "junk", "bytes at " + position(f.file.size()) +
                                               ": neither stream padding nor a stream"};
     }},
    {"no_stream",
     [](f3) {
       return faulty_file{text, "no .xz stream found"};
     }},
    {"damaged_then_intact_stream",
     [](f3 f) {
       const std::string lead(100, 'x');
       return faulty_file{lead + f.with(f.blocks[1].data_at, 0x05, "").contents + lead + f.file,
                          "2 streams: 1 intact, 1 damaged, 0 truncated"};
     }},
};

void PrintTo(const fault_case &c, std::ostream *os) {
  *os << c.name;
}

class faults : public testing::TestWithParam<fault_case> {};

// The line says what is wrong, the status says that something is, and xz -t agrees.
TEST_P(faults, are_found_where_xz_finds_them) {
  temp_dir dir;
  const faulty_file f = GetParam().make(three_blocks(dir));
  const process_output got = run_xz_tool({dir.write("file", f.contents)});
  EXPECT_NE(("\n" + got.out).find("\n" + f.line + "\n"), std::string::npos)
      << f.line << "\nnot in\n"
      << got.out;
  EXPECT_EQ(got.exit_status, GetParam().status);
  if (GetParam().xz_checks) {
    EXPECT_EQ(xz_accepts(dir, f.contents), GetParam().status == 0);
  }
}

INSTANTIATE_TEST_SUITE_P(table, faults, testing::ValuesIn(fault_cases), case_name);

// What was found before a read fails still goes out, with the failure, and the status is 1.
TEST(native_xz, reports_a_read_error_after_what_it_found) {
  temp_dir dir;
  // Blocks of 6000 stored bytes, one of which ends in the bad block at 40 KiB.
  const std::string file = xz(dir, "--block-size=6000", random_data(60000, 5));
  const std::vector<block_place> blocks = blocks_by_xz(dir, file);
  const std::string path = dir.write("file", file);
  const process_output got = run_xz_tool({path}, {}, io_fault_env("bad_block"));
  const std::string listed = line_of(1, blocks[0]) + run_tool({path, hex(blocks[0].data_at)}).out;
  EXPECT_EQ(got.out.find(listed), got.out.find("block 1.1 ")) << got.out;
  EXPECT_NE(got.out.find(": damaged: read error at "), std::string::npos) << got.out;
  EXPECT_EQ(got.out.back(), '\n');
  EXPECT_EQ(got.exit_status, 1);

  // A file that can only be read in sequence cannot go back to search past damage: that is a
  // read error too, not a file with nothing more in it.
  std::string damaged = xz(dir, "--block-size=6000", random_data(200000, 6));
  damaged[blocks_by_xz(dir, damaged)[24].data_at] = 0x05;
  const process_output back =
      run_xz_tool({dir.write("damaged", damaged)}, {}, io_fault_env("unseekable"));
  EXPECT_NE(back.out.find("\nread error at 0000000C\n"), std::string::npos) << back.out;
  EXPECT_EQ(back.exit_status, 1);
}

} // namespace
