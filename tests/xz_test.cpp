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

using test_table::operator<<;

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
const std::string fake_magic = "\xFD"
                               "7zXZ" +
                               std::string(1, '\0') + "\x01\x02\x03\x04\x05\x06";

// Streams made by xz with their options from their data, one after the other, each followed
// by `gap`, behind `lead` random bytes.
struct intact_case {
  const char *name;
  std::vector<std::pair<const char *, const std::string *>> streams;
  std::string gap = {};
  std::size_t lead = 0;
  bool scan = false;
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
    {"streams_with_padding",
     {{"--block-size=20000", &text}, {"--check=sha256", &text}},
     std::string(8, '\0')},
    {"empty_stream_between", {{"", &text}, {"", &nothing}, {"", &text}}},
    {"embedded_at_odd_offsets",
     {{"--block-size=30000", &text}, {"-0", &mixed}},
     std::string(777, 'q'),
     1001},
    // Magic bytes right after a stream open no stream here, and cost nothing.
    {"scan_past_a_first_stream", {{"", &text}, {"-1", &text}}, fake_magic, 0, true},
};

class intact : public testing::TestWithParam<intact_case> {};

// Every block where xz says it is, listed as lzma2-chunks lists it, and every stream intact.
TEST_P(intact, lists_every_block_where_xz_finds_it) {
  const intact_case &c = GetParam();
  temp_dir dir;
  std::string contents = random_data(c.lead, 3);
  std::vector<block_place> blocks;
  for (std::size_t i = 0; i < c.streams.size(); ++i) {
    const std::string file = xz(dir, c.streams[i].first, *c.streams[i].second);
    for (const block_place &b : blocks_by_xz(dir, file, contents.size(), i))
      blocks.push_back(b);
    contents += file + c.gap;
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

// A file, and the lines that must say what is wrong with it: all that is written, or lines
// written one after the other.
struct faulty_file {
  std::string contents;
  std::string line;
  bool whole = false;
};

const std::string stream_1 = "stream 1 at 00000000: ";

std::string damaged(const std::string &why) {
  return stream_1 + "damaged: " + why;
}

// Writes at crc_at the CRC32 of the bytes from `from` up to `to`: by default there, as a
// header or an index ends.
void give_crc32(std::string &file, std::uint64_t from, std::uint64_t to, std::uint64_t crc_at = 0) {
  const std::uint32_t crc =
      lzma_crc32(reinterpret_cast<const std::uint8_t *>(file.data()) + from, to - from, 0);
  for (int i = 0; i < 4; ++i)
    file[(crc_at == 0 ? to : crc_at) + i] = static_cast<char>(crc >> (8 * i));
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
  // One byte changed, and the CRC32 of [crc_from, crc_to) made good when one is given.
  faulty_file with(std::uint64_t at, int byte, const std::string &why, std::uint64_t crc_from = 0,
                   std::uint64_t crc_to = 0) const {
    std::string changed = file;
    changed[at] = static_cast<char>(byte);
    if (crc_to != 0)
      give_crc32(changed, crc_from, crc_to);
    return {changed, damaged(why)};
  }
  faulty_file in_header_of_block_2(std::uint64_t at, int byte, const std::string &why) const {
    return with(at, byte, why, blocks[1].header_at, blocks[1].data_at - 4);
  }
  faulty_file in_footer(std::uint64_t at, int byte, const std::string &why) const {
    faulty_file changed = with(footer_at() + at, byte, why);
    give_crc32(changed.contents, footer_at() + 4, footer_at() + 10, footer_at());
    return changed;
  }
  std::uint64_t index_at() const { return blocks[2].header_at + blocks[2].total_size; }
  std::uint64_t footer_at() const { return file.size() - 12; }
  std::string header_of_block_2() const {
    return "the header of block 1.2 at " + position(blocks[1].header_at) + ": ";
  }
  std::string footer() const { return "the stream footer at " + position(footer_at()); }

  const temp_dir &dir;
  std::string file;
  std::vector<block_place> blocks;
};

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
const std::string lzma_chunk = lzma.substr(0, lzma.size() - 1);

// The stored chunk in a block whose header holds these bytes after its size byte, up to its
// CRC32, which is made good; `dictionary` stands for the dictionary byte it had.
constexpr int dictionary = -1;
std::string stored_in_block(const std::vector<int> &header) {
  std::string file = xz_around(stored, 1);
  for (std::size_t i = 0; i < header.size(); ++i)
    if (header[i] != dictionary)
      file[0x0D + i] = static_cast<char>(header[i]);
  give_crc32(file, 0x0C, 0x14);
  return file;
}

// How --structure judges a file: as without it, or intact, blind to damage in what decodes.
enum class by_structure { same, blind };

struct fault_case {
  const char *name;
  faulty_file (*make)(const three_blocks &f);
  int status = 1;
  bool xz_checks = true; // xz -t can verify the file: it knows its check type
  by_structure structure = by_structure::same;
};

using f3 = const three_blocks &;

const fault_case fault_cases[] = {
    // The file cut inside each part of a stream.
    {"cut_in_stream_header", [](f3 f) { return f.cut(8, "inside the stream header"); }},
    {"cut_in_block_header",
     [](f3 f) { return f.cut(f.blocks[1].header_at + 3, "inside the header of block 1.2"); }},
    // Inside the chunk header: missing bytes, not bad ones.
    {"cut_in_data",
     [](f3 f) {
       return f.cut(f.blocks[1].data_at + 5,
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
    {"cut_after_a_check",
     [](f3 f) { return f.cut(f.blocks[1].header_at, "where a block header or the index is due"); }},
    {"cut_in_index", [](f3 f) { return f.cut(f.index_at() + 2, "inside the index"); }},
    {"cut_in_footer", [](f3 f) { return f.cut(f.file.size() - 5, "inside the stream footer"); }},
    // One byte changed in each kind of field.
    {"stream_flags", [](f3 f) { return f.with(7, 0x04, "the stream header's CRC32 fails"); }},
    // Flags the format does not define say nothing of the check: the verdict stands alone.
    {"stream_flags_undefined",
     [](f3 f) {
       faulty_file changed =
           f.with(7, 0x11, "stream flags 00 11 that the format does not define", 6, 8);
       changed.line += "\n1 stream: 0 intact, 1 damaged, 0 truncated";
       changed.whole = true;
       return changed;
     }},
    {"block_flags",
     [](f3 f) {
       return f.with(f.blocks[1].header_at + 1, 0x40, f.header_of_block_2() + "its CRC32 fails");
     }},
    {"block_flags_reserved",
     [](f3 f) {
       const std::uint64_t at = f.blocks[1].header_at + 1;
       return f.in_header_of_block_2(at, f.file[at] | 0x04,
                                     f.header_of_block_2() + "reserved flag bits are set");
     }},
    {"block_header_size",
     [](f3 f) {
       return f.with(f.blocks[1].header_at, 0x02, f.header_of_block_2() + "its CRC32 fails");
     }},
    // Threads write the sizes first after the flags, compressed then uncompressed.
    {"compressed_size_in_header",
     [](f3 f) {
       const block_place &b = f.blocks[1];
       return f.in_header_of_block_2(
           b.header_at + 2, f.file[b.header_at + 2] ^ 1,
           "block 1.2: its header gives " + std::to_string(b.data_size ^ 1) +
               " bytes of data, the walk finds " + std::to_string(b.data_size) +
               " up to the end marker at " + position(b.data_at + b.data_size - 1));
     }},
    {"uncompressed_size_in_header",
     [](f3 f) {
       std::uint64_t at = f.blocks[1].header_at + 3;
       for (std::uint64_t size = f.blocks[1].data_size; size >= 0x80; size >>= 7)
         ++at;
       return f.in_header_of_block_2(
           at, f.file[at] ^ 1,
           "block 1.2: its header gives 20001 bytes unpacked, the walk finds 20000");
     }},
    {"compressed_size_0",
     [](f3) {
       return faulty_file{stored_in_block({0x40, 0x00, 0x21, 0x01, dictionary, 0x00, 0x00}),
                          damaged("the header of block 1.1 at 0000000C: its compressed size is 0")};
     }},
    // liblzma's own number decoder refuses a number that ends in a needless zero byte.
    {"filter_id_with_a_needless_zero_byte",
     [](f3) {
       return faulty_file{stored_in_block({0x00, 0xA1, 0x00, 0x01, dictionary, 0x00, 0x00}),
                          damaged("the header of block 1.1 at 0000000C: a filter's flags "
                                  "are not valid numbers")};
     }},
    {"largest_dictionary",
     [](f3) {
       return faulty_file{stored_in_block({0x00, 0x21, 0x01, 40, 0x00, 0x00, 0x00}),
                          "1 stream: 1 intact, 0 damaged, 0 truncated"};
     },
     0},
    {"block_header_padding",
     [](f3) {
       return faulty_file{stored_in_block({0x00, 0x21, 0x01, dictionary, 0x00, 0x01, 0x00}),
                          damaged("the header of block 1.1 at 0000000C: its padding is not zero")};
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
    // The uncompressed sizes of blocks 2 and 3, 20000 each, changed: the first is named.
    {"index_records",
     [](f3 f) {
       std::string file = f.file;
       const std::string size = bytes({0xA0, 0x9C, 0x01});
       for (std::size_t at = file.find(size, f.index_at() + 5); at < f.footer_at();
            at = file.find(size, at + 1))
         file[at] ^= 1;
       give_crc32(file, f.index_at(), f.footer_at() - 4);
       return faulty_file{file, damaged("the index disagrees on block 1.2: uncompressed size "
                                        "20001, the walk finds 20000")};
     }},
    {"index_count",
     [](f3 f) {
       return f.with(f.index_at() + 1, 2, "the index lists 2 blocks, the walk finds 3");
     }},
    // Nine bytes at most: a tenth is no number, whatever the value.
    {"index_count_of_10_bytes",
     [](f3 f) {
       std::string file = f.file;
       file.replace(f.index_at() + 1, 1, std::string(9, '\x83') + "\x01");
       return faulty_file{file, damaged("the index at " + position(f.index_at()) +
                                        ": its number of records is not a valid number")};
     }},
    {"index_padding",
     [](f3 f) {
       return f.with(f.footer_at() - 5, 1,
                     "the index at " + position(f.index_at()) + ": its padding is not zero",
                     f.index_at(), f.footer_at() - 4);
     }},
    {"index_crc",
     [](f3 f) {
       return f.with(f.footer_at() - 1, f.file[f.footer_at() - 1] ^ 1,
                     "the index at " + position(f.index_at()) + ": its CRC32 fails");
     }},
    {"footer_crc",
     [](f3 f) {
       return f.with(f.footer_at(), f.file[f.footer_at()] ^ 1, f.footer() + ": its CRC32 fails");
     }},
    {"footer_magic",
     [](f3 f) { return f.with(f.file.size() - 1, 'Q', f.footer() + ": it does not end in YZ"); }},
    {"footer_magic_QZ",
     [](f3 f) { return f.with(f.file.size() - 2, 'Q', f.footer() + ": it does not end in YZ"); }},
    {"footer_flags",
     [](f3 f) {
       return f.in_footer(9, 0x04, f.footer() + ": its flags differ from the header's");
     }},
    {"footer_backward_size",
     [](f3 f) {
       const std::uint64_t size = f.footer_at() - f.index_at();
       return f.in_footer(4, f.file[f.footer_at() + 4] + 1,
                          f.footer() + " gives an index of " + std::to_string(size + 4) +
                              " bytes, the index has " + std::to_string(size));
     }},
    // Chunk headers that no valid stream holds, next to ones that are valid.
    {"valid_chunks",
     [](f3) {
       return faulty_file{xz_around(lzma, 23), stream_1 + "intact, 1 block, 64 bytes…"};
     },
     0},
    // A check type the format reserves still has its size, which xz -t knows but not how
    // to verify it.
    {"reserved_check_type",
     [](f3) {
       return faulty_file{xz_around(lzma, 23, 3), stream_1 + "intact, 1 block, 68 bytes…"};
     },
     0, false},
    {"check_sha256_named",
     [](f3 f) {
       return faulty_file{xz(f.dir, "--check=sha256", text), stream_1 + "check SHA-256"};
     },
     0},
    // The first fault stands, though the chunk after it resets all.
    {"first_chunk_keeps_dictionary",
     [](f3) {
       return faulty_file{xz_around(as_class(0xC0).substr(0, lzma_chunk.size()) + lzma, 46),
                          damaged("block 1.1: its first chunk, at 00000018, does not reset the "
                                  "dictionary")};
     }},
    // A stored chunk that resets the dictionary leaves no properties to go on with.
    {"compressed_before_properties",
     [](f3) {
       return faulty_file{
           xz_around(lzma_chunk + stored.substr(0, 4) + as_class(0xA0, false), 23 + 1 + 23),
           damaged("block 1.1: the chunk at " + position(0x18 + lzma_chunk.size() + 4) +
                   " comes before any properties byte since the dictionary reset")};
     }},
    // lc + lp of 4 is the most there may be; the data, made with others, does not decode.
    {"lc_plus_lp_of_4",
     [](f3) {
       return faulty_file{xz_around(with_props(0x04), 23),
                          damaged("block 1.1: the chunk at 00000018 does not decode: …")};
     },
     1, true, by_structure::blind},
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
                                               ": neither stream padding nor a stream\n1 stream: "
                                               "1 intact, 0 damaged, 0 truncated; 1 fault "
                                               "between streams"};
     }},
    {"no_stream",
     [](f3) {
       return faulty_file{text, "no .xz stream found"};
     }},
    // In a container, magic bytes that open no stream are no fault.
    {"magic_bytes_whose_crc32_fails",
     [](f3 f) {
       return faulty_file{"lead " + fake_magic + f.file,
                          "magic bytes at 00000005: no stream, the header's CRC32 fails"};
     },
     0, false},
    // Damage that only decoding shows, where it lies, and the blocks after it judged.
    {"flip_in_compressed_data",
     [](f3 f) {
       const block_place &b = f.blocks[1];
       return f.with(b.data_at + 100, f.file[b.data_at + 100] ^ 0x10,
                     "block 1.2: the chunk at " + position(b.data_at) + " does not decode: …");
     },
     1, true, by_structure::blind},
    {"zeroed_sector",
     [](f3 f) {
       std::string file = xz(f.dir, "--block-size=100KiB", text_data(300000));
       const block_place b = blocks_by_xz(f.dir, file)[1];
       file.replace(b.data_at + 1000, 4096, 4096, '\0');
       return faulty_file{file, "block 1.2 damaged: the chunk at " + position(b.data_at) +
                                    " does not decode: …\n" + stream_1 +
                                    "damaged: block 1.2: the chunk at " + position(b.data_at) +
                                    " does not decode: …"};
     },
     1, true, by_structure::blind},
    {"flip_in_stored_chunk",
     [](f3 f) {
       std::string file = xz(f.dir, "--check=crc32 --block-size=20000", random_data(60000, 9));
       const block_place b = blocks_by_xz(f.dir, file)[1];
       file[b.data_at + 100] ^= 1;
       return faulty_file{file, damaged("block 1.2: its check at " +
                                        position(b.header_at + b.total_size - 4) +
                                        " does not match what it decodes to: the damage lies in "
                                        "its stored chunks or in its check field")};
     },
     1, true, by_structure::blind},
    {"flip_in_check",
     [](f3 f) {
       const std::uint64_t at = f.blocks[1].header_at + f.blocks[1].total_size - 4;
       return f.with(at, f.file[at] ^ 1, "block 1.2: its check at " + position(at) + " does not …");
     },
     1, true, by_structure::blind},
    // Blocks 1 and 3 damaged: each has its line, the verdict names the first.
    {"two_damaged_blocks",
     [](f3 f) {
       faulty_file both =
           f.with(f.blocks[0].data_at + 100, f.file[f.blocks[0].data_at + 100] ^ 0x10,
                  "block 1.1: the chunk at " + position(f.blocks[0].data_at) + " does not …");
       both.contents[f.blocks[2].data_at + 100] ^= 0x10;
       both.line = "block 1.1 damaged: the chunk at " + position(f.blocks[0].data_at) + " …\n" +
                   "block 1.3 damaged: the chunk at " + position(f.blocks[2].data_at) + " …\n" +
                   both.line;
       return both;
     },
     1, true, by_structure::blind},
    // A zeroed block header reads as the index, which lies further on; a zeroed control byte
    // as an end marker, which the header's size, whose CRC32 holds, goes past. Either way the
    // next block is judged, and no block is made up between.
    {"zeroed_block_header",
     [](f3 f) {
       faulty_file zeroed =
           f.with(f.blocks[1].header_at, 0,
                  f.header_of_block_2() + "its size byte is zero, as the index's "
                                          "would be, but the index lies further on");
       zeroed.line =
           "block 1.3 at " + position(f.blocks[2].header_at) + ": OFFSET …\n" + zeroed.line;
       return zeroed;
     }},
    {"zeroed_control_byte",
     [](f3 f) {
       const block_place &b = f.blocks[1];
       return f.with(b.data_at, 0,
                     "block 1.2: its header gives " + std::to_string(b.data_size) +
                         " bytes of data, the walk finds 1 up to the end marker at " +
                         position(b.data_at));
     }},
    // A size field that points past the end of the file, while the index shows it goes on.
    {"size_past_the_end",
     [](f3 f) {
       const block_place &b = f.blocks[1];
       return f.with(b.data_at + 3, 0xFF,
                     "block 1.2: the chunk at " + position(b.data_at) +
                         " runs past the end of the file, where the stream's index at " +
                         position(f.index_at()) + " shows it goes on: its size is damaged");
     }},
    // In a container, a stream header that fails its CRC32, followed by a block header, opens
    // a damaged stream; magic bytes cut short by the end of the file a truncated one.
    {"damaged_header_in_a_container",
     [](f3 f) {
       std::string file = "lead" + f.file;
       file[4 + 8] ^= 1;
       return faulty_file{file, "block 1.3 at " + position(4 + f.blocks[2].header_at) +
                                    ": OFFSET …\nstream 1 at 00000004: damaged: the stream "
                                    "header's CRC32 fails"};
     },
     1, false},
    {"magic_bytes_cut_short",
     [](f3 f) {
       return faulty_file{"lead " + f.file + fake_magic.substr(0, 8),
                          "stream 2 at " + position(5 + f.file.size()) +
                              ": truncated: the file "
                              "ends at " +
                              position(13 + f.file.size()) + ", inside the stream header"};
     },
     1, false},
    {"damaged_then_intact_stream",
     [](f3 f) {
       const std::string lead(100, 'x');
       return faulty_file{lead + f.with(f.blocks[1].data_at, 0x05, "").contents + lead + f.file,
                          "2 streams: 1 intact, 1 damaged, 0 truncated"};
     }},
};

class faults : public testing::TestWithParam<fault_case> {};

// The line says what is wrong, the status says that something is, and xz -t agrees.
// Each line expected is a whole line of the output, in order; one that ends in "…" the start
// of one.
bool has_lines(const std::string &out, const std::string &expected) {
  std::istringstream lines(expected);
  std::size_t at = 0;
  for (std::string line; std::getline(lines, line) && at != std::string::npos;) {
    const bool start = line.size() >= 3 && line.compare(line.size() - 3, 3, "…") == 0;
    const std::string wanted =
        "\n" + line.substr(0, line.size() - (start ? 3 : 0)) + (start ? "" : "\n");
    at = ("\n" + out).find(wanted, at);
    at = at == std::string::npos ? at : at + wanted.size() - 1;
  }
  return at != std::string::npos;
}

// The lines of a report that -q keeps: the verdicts, on streams and blocks, the faults
// between streams and the summary.
std::string verdicts_of(const std::string &report) {
  std::istringstream lines(report);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    const bool listing = line.rfind("ofs=", 0) == 0 ||
                         line.find_first_not_of("0123456789ABCDEF") == line.find(": ") ||
                         line.find(": OFFSET ") != std::string::npos ||
                         line.rfind("index at", 0) == 0 || line.rfind("magic bytes", 0) == 0 ||
                         line.rfind("the walk resumes", 0) == 0 ||
                         line.find(" lies inside ") != std::string::npos ||
                         line.find(": check ") != std::string::npos;
    if (!listing)
      kept += line + "\n";
  }
  return kept;
}

// The line says what is wrong, the status says that something is, and xz -t agrees; -q says
// only that, and --structure the same or, blind to what only decoding shows, intact.
TEST_P(faults, are_found_where_xz_finds_them) {
  // A build without liblzma, as for Windows, judges by structure alone, and says so.
  static const bool decodes =
      run_xz_tool({"--version"}).out.find("without liblzma") == std::string::npos;
  temp_dir dir;
  const fault_case &c = GetParam();
  const faulty_file f = c.make(three_blocks(dir));
  const std::string path = dir.write("file", f.contents);
  for (const bool structure : {false, true}) {
    SCOPED_TRACE(structure ? "--structure" : "decoding");
    const std::vector<std::string> args = structure || !decodes
                                              ? std::vector<std::string>{"--structure", path}
                                              : std::vector<std::string>{path};
    const process_output got = run_xz_tool(args);
    std::vector<std::string> quiet = args;
    quiet.insert(quiet.begin(), "-q");
    EXPECT_EQ(run_xz_tool(quiet).out, verdicts_of(got.out));
    if (args.size() == 2 && (c.structure == by_structure::blind || c.status == 0)) {
      EXPECT_NE(got.out.find(", by structure alone: nothing decoded\n"), std::string::npos)
          << got.out;
      EXPECT_EQ(got.exit_status, 0);
      continue;
    }
    if (f.whole)
      EXPECT_EQ(got.out, f.line + "\n");
    else
      EXPECT_TRUE(has_lines(got.out, f.line)) << f.line << "\nnot in\n" << got.out;
    EXPECT_EQ(got.exit_status, c.status);
    if (c.xz_checks && !structure) {
      EXPECT_EQ(xz_accepts(dir, f.contents), c.status == 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(table, faults, testing::ValuesIn(fault_cases), case_name);

// What was found before a read fails still goes out, with the failure in the stream's
// verdict alone, and the summary; the status is 1.
TEST(native_xz, reports_a_read_error_after_what_it_found) {
  temp_dir dir;
  // Blocks of 6000 stored bytes, one of which ends in the bad block at 40 KiB.
  const std::string file = xz(dir, "--block-size=6000", random_data(60000, 5));
  const std::vector<block_place> blocks = blocks_by_xz(dir, file);
  const std::string path = dir.write("file", file);
  const process_output got = run_xz_tool({path}, {}, io_fault_env("bad_block"));
  const std::string listed = line_of(1, blocks[0]) + run_tool({path, hex(blocks[0].data_at)}).out;
  EXPECT_EQ(got.out.find(listed), got.out.find("block 1.1 ")) << got.out;
  const std::size_t verdict = got.out.rfind("\nstream 1 at 00000000: damaged: read error at ");
  EXPECT_EQ(got.out.find("read error"), verdict + 32) << got.out;
  EXPECT_EQ(got.out.substr(got.out.find('\n', verdict + 1)),
            "\n1 stream: 0 intact, 1 damaged, 0 truncated\n");
  EXPECT_EQ(got.exit_status, 1);

  // A file that can only be read in sequence cannot go back to the block after damage: that
  // is a read error too, not a file with nothing more in it.
  std::string damaged = xz(dir, "--block-size=6000", random_data(200000, 6));
  damaged[blocks_by_xz(dir, damaged)[24].data_at] = 0x05;
  const process_output back =
      run_xz_tool({dir.write("damaged", damaged)}, {}, io_fault_env("unseekable"));
  EXPECT_TRUE(has_lines(back.out, stream_1 + "damaged: read error at …\n1 stream: 0 intact, 1 "
                                             "damaged, 0 truncated"))
      << back.out;
  EXPECT_EQ(back.exit_status, 1);
}

// Output, time and memory grow with the file. Each stored chunk of a stream cut short holds a
// stream header and a block header whose data starts at the next chunk, so that each stream
// found lies in the data of the one before it; and a stream of many blocks is compared with
// its index in the memory one block takes.
TEST(native_xz, costs_in_proportion_to_the_file) {
  temp_dir dir;
  const std::string headers = xz_around(stored, 1).substr(0, 24);
  process_output got[2];
  for (int n : {100, 400}) {
    std::string file = headers;
    for (int i = 0; i < n; ++i)
      file += bytes({i == 0 ? 1 : 2, 0, 23}) + headers;
    got[n / 400] = run_xz_tool({dir.write("nested", file)});
    EXPECT_EQ(got[n / 400].exit_status, 1);
  }
  EXPECT_LT(got[1].out.size(), 5 * got[0].out.size());
  EXPECT_LT(got[1].reads, 5 * got[0].reads);
  EXPECT_NE(got[0].out.find("\nstream 2 at 0000001B lies inside the data of stream 1\n"),
            std::string::npos)
      << got[0].out;
  EXPECT_NE(got[0].out.find("\nmagic bytes at 00000036: a stream header inside the data of "
                            "stream 2, which lies inside stream 1: not walked\n"),
            std::string::npos);
  // As GNU time tells it: a process this one starts itself would count this one's memory too.
  // The walk alone, whose memory is the index's comparison: the decoders', a dictionary each,
  // does not grow with the blocks either, but a sanitizer keeps what they free for a while.
  std::uint64_t peak_kib[2] = {};
  for (const std::size_t blocks : {1, 262144}) {
    dir.write("blocks", xz_around(stored, 1, 0, blocks));
    shell(dir, "/usr/bin/time -f %M -o peak " LZMA2_CHUNKS_XZ_BINARY " --structure blocks");
    peak_kib[blocks / 262144] = std::stoull(read_file(dir.path("peak")));
  }
  EXPECT_LT(peak_kib[1], peak_kib[0] + 512);
}

} // namespace
