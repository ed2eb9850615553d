#ifndef LZMA2_CHUNKS_XZ_WALK_H
#define LZMA2_CHUNKS_XZ_WALK_H

#include "byte_input.h"
#include "listing_writer.h"

#include <cstdint>

#ifndef LZMA2_CHUNKS_DECODES
#define LZMA2_CHUNKS_DECODES 0
#endif

enum class xz_walk_result {
  all_intact,  // at least one stream, every one intact, and nothing wrong between them
  faults,      // a stream damaged or cut short, a fault between streams, or no stream at all
  read_error,  // the file could not be read; reported as such
  write_error, // the report could not be written
};

struct xz_walk_options {
  // Search the whole file for streams, even when it begins with one.
  bool scan = false;
  // Decode each block to judge it, where the build can; else judge by structure alone.
  bool decode = true;
  // Write only the verdicts, not the listings and the lines around them.
  bool verdicts_only = false;
};

// Finds every .xz stream in the file of file_size bytes and walks it block by block from
// its header, listing each block's chunks as walk_chunks does, and checks what it walked
// against the stream's index and footer. Where decoding is asked for and built in, each block
// is decoded too, on threads of their own while the walk goes on.
//
// When the file begins with a stream and `scan` is off, the file is taken for an .xz file:
// streams are followed one after the other, and anything between them other than stream
// padding is a fault. Otherwise the file is a container that holds streams anywhere, which
// are searched for. A stream that is damaged is searched past, unless its index and footer
// say where it ends.
xz_walk_result walk_xz_file(byte_input &input, std::uint64_t file_size,
                            const xz_walk_options &options, listing_writer &out);

// True when this build decodes blocks (it has liblzma), false when it judges by structure
// alone.
constexpr bool xz_walk_decodes = LZMA2_CHUNKS_DECODES != 0;

#endif
