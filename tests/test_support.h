#ifndef LZMA2_CHUNKS_TEST_SUPPORT_H
#define LZMA2_CHUNKS_TEST_SUPPORT_H

#include "chunk_walk.h"

#include <cstdint>
#include <string>
#include <vector>

// Bytes from a list of values, for writing streams out as tables.
std::string bytes(std::initializer_list<int> values);

// A file that lives as long as the object: a regular file in memory holding the bytes.
class memory_file {
public:
  explicit memory_file(const std::string &contents);
  ~memory_file();
  memory_file(const memory_file &) = delete;
  memory_file &operator=(const memory_file &) = delete;
  int fd() const { return fd_; }
  // A path other processes can open.
  std::string path() const;

private:
  int fd_;
};

struct walk_output {
  std::string text;
  walk_result result;
};

// Runs the walk over the bytes held in a regular file, or fed through a pipe.
walk_output walk_file(const std::string &contents, std::uint64_t start_offset);
walk_output walk_pipe(const std::string &contents, std::uint64_t start_offset);

struct process_output {
  int exit_status; // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs the real binary with the arguments, standard input from stdin_contents through a
// pipe, and standard output to stdout_path if given, else captured.
process_output run_tool(const std::vector<std::string> &args,
                        const std::string &stdin_contents = "",
                        const std::string &stdout_path = "");

// One chunk line of a listing, or its closing line.
struct listed_chunk {
  std::uint64_t offset = 0;
  unsigned shown = 0; // control byte or chunk class, or the closing value
  std::uint64_t unpacked_size = 0;
  std::uint64_t packed_size = 0;
  bool has_packed_size = false;
};

struct listing {
  std::uint64_t start_offset = 0;
  std::vector<listed_chunk> chunks;
  listed_chunk closing;
};

// Parses the tool's output; fails the current test on any line it does not know.
listing parse_listing(const std::string &text, bool with_offset_line);

// Header plus payload length of a listed chunk.
std::uint64_t chunk_length(const listed_chunk &chunk);

// Expects the chunks to follow on from each other from `from` up to the closing line, and
// gives the unpacked bytes they add up to.
std::uint64_t check_tiling(const listing &l, std::uint64_t from);

// LZMA2 data made with liblzma: a raw stream, and an .xz file.
std::string encode_raw_lzma2(const std::string &data, std::uint32_t preset);
std::string encode_xz(const std::string &data, std::uint32_t preset);

struct xz_block {
  std::uint64_t lzma2_offset; // where the block's LZMA2 data starts in the file
  std::uint64_t lzma2_last;   // its last byte, the end marker
  std::uint64_t unpacked_size;
};

// The blocks of an .xz file, found through its index.
std::vector<xz_block> xz_blocks(const std::string &file);

// Test data: compressible text, incompressible bytes, and the two interleaved.
std::string text_data(std::size_t size);
std::string random_data(std::size_t size, std::uint32_t seed);
std::string mixed_data(std::size_t size);

#endif
