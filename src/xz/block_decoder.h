#ifndef LZMA2_CHUNKS_BLOCK_DECODER_H
#define LZMA2_CHUNKS_BLOCK_DECODER_H

// Decodes one block of an .xz stream with liblzma to judge its data and its check, which
// the walk over its headers cannot see.

#include <cstddef>
#include <cstdint>

// Where one block lies, as the walk found it. Positions are absolute in the file.
struct block_span {
  std::uint64_t header_at; // its block header
  std::uint64_t end;       // one past its check field (the next block header or the index)
  unsigned check_type;     // the stream's check type, 0 to 15
};

enum class decode_outcome {
  intact,      // it decodes, its sizes match its header, and its check matches
  data_error,  // liblzma rejected its compressed data (or sizes disagree with its header)
  check_fails, // everything decoded, but the check does not match
  cut_short,   // the bytes end before the block does
  read_error,
  // A filter or check liblzma cannot decode, or no memory for it: not judged. A check
  // that liblzma cannot compute is skipped: data that fails to decode is still a
  // data_error, data that decodes is unsupported.
  unsupported,
};

struct decode_result {
  decode_outcome outcome = decode_outcome::intact;
  // data_error: absolute file position of the input where liblzma gave up (header_at +
  // bytes of the block consumed); header_at when the header itself is refused.
  std::uint64_t gave_up_at = 0;
  std::uint64_t decoded = 0; // uncompressed bytes produced before that
};

// What decode_block reads into and decodes into.
constexpr std::size_t decode_scratch_size = std::size_t{128} * 1024;

// What a thread that decodes block after block keeps from one to the next: its buffers and
// liblzma's decoder, whose dictionary is then allocated once, not for every block, which
// costs more than a small block's decoding. Null when there is no memory for it.
struct block_decoder_memory;
block_decoder_memory *new_block_decoder_memory();
void free_block_decoder_memory(block_decoder_memory *memory);

// Decodes the block read by position from fd, into nothing (the output is thrown away).
// The block's data must end at `end`: data that goes on past it is a data_error at `end`,
// unless the file ends there, which is cut_short.
decode_result decode_block(int fd, const block_span &block, block_decoder_memory &memory);

#endif
