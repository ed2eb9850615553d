#ifndef LZMA2_CHUNKS_XZ_WALK_H
#define LZMA2_CHUNKS_XZ_WALK_H

#include "byte_input.h"
#include "listing_writer.h"

#include <cstdint>

enum class xz_walk_result {
  all_intact,  // at least one stream, every one intact, and nothing wrong between them
  faults,      // a stream damaged or cut short, a fault between streams, or no stream at all
  read_error,  // the file could not be read; reported as such
  write_error, // the report could not be written
};

// Finds every .xz stream in the file of file_size bytes and walks it block by block from
// its header, listing each block's chunks as walk_chunks does, and checks what it walked
// against the stream's index and footer. Payloads are never read.
//
// When the file begins with a stream and `scan` is off, the file is taken for an .xz file:
// streams are followed one after the other, and anything between them other than stream
// padding is a fault. Otherwise the file is a container that holds streams anywhere, which
// are searched for. A stream that is damaged is searched past, since where it ends is
// unknown.
xz_walk_result walk_xz_file(byte_input &input, std::uint64_t file_size, bool scan,
                            listing_writer &out);

#endif
