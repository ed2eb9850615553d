#ifndef LZMA2_CHUNKS_CHUNK_WALK_H
#define LZMA2_CHUNKS_CHUNK_WALK_H

#include "byte_input.h"
#include "chunk_header.h"
#include "chunk_rules.h"
#include "listing_writer.h"

#include <cstdint>

enum class walk_result {
  ok,          // the walk ended at an end marker, a byte that opens no chunk or the end
  read_error,  // a read failed; the closing line was written as at the end of the input
  write_error, // the listing could not be written
};

// Reads the header at the input's position. Bytes missing at the end of the input count
// as FF.
chunk_header read_chunk_header(byte_input &input);

// Lists the chunk headers from start_offset on, one line each, then the closing line,
// jumping over every payload without reading it, and flushes the listing. Stops at once
// when the listing cannot be written.
walk_result walk_chunks(byte_input &input, std::uint64_t start_offset, listing_writer &out);

// The same walk and listing, or the walk alone when `out` is null, which also checks each
// chunk header with `rules` and gives the header that ended the walk in `closing`.
walk_result walk_chunks(byte_input &input, std::uint64_t start_offset, listing_writer *out,
                        chunk_rules &rules, chunk_header &closing);

#endif
