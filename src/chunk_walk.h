#ifndef LZMA2_CHUNKS_CHUNK_WALK_H
#define LZMA2_CHUNKS_CHUNK_WALK_H

#include "byte_input.h"
#include "chunk_header.h"

#include <cstdint>
#include <cstdio>

enum class walk_result {
  ok,          // the walk ended at an end marker, an invalid byte or the end of the input
  read_error,  // a read failed; the closing line was written as at the end of the input
  write_error, // the output could not be written
};

// Reads one header at the input's position into header and tells what it opens. Bytes
// missing at the end of the input count as FF.
chunk_kind read_chunk_header(byte_input &input, chunk_header &header);

// Lists the chunk headers from start_offset on, one line each, then the closing line,
// jumping over every payload without reading it.
walk_result walk_chunks(byte_input &input, std::uint64_t start_offset, std::FILE *out = stdout);

#endif
