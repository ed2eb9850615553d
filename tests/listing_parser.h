#ifndef LZMA2_CHUNKS_LISTING_PARSER_H
#define LZMA2_CHUNKS_LISTING_PARSER_H

// The tool's output taken apart, for the tests and the fuzzer. Strict: every field must be
// in the exact form the tool's printf formats give it.

#include <cstdint>
#include <string>
#include <vector>

// A chunk line, or the closing line.
struct listed_chunk {
  std::uint64_t offset = 0;
  std::uint64_t shown = 0; // control byte or class; on the closing line the byte or FFFFFFFF
  std::uint64_t unpacked_size = 0;
  std::uint64_t packed_size = 0; // classes 80 to E0
  std::uint64_t props = 0;       // classes C0 and E0
};

struct listing {
  std::uint64_t start_offset = 0; // from the offset line, if there is one
  std::vector<listed_chunk> chunks;
  listed_chunk closing;
};

// Null if the text is a whole listing (after the offset line if with_offset_line), or
// what is wrong with it.
const char *parse_listing(const std::string &text, bool with_offset_line, listing &out);

// Null if the chunks follow on from each other from `from` up to the closing line in a file
// of file_size bytes, or what is wrong. A header cut short by the end of the file ends there.
const char *check_tiling(const listing &l, std::uint64_t from, std::uint64_t file_size);

#endif
