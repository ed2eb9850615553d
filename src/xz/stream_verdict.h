#ifndef LZMA2_CHUNKS_STREAM_VERDICT_H
#define LZMA2_CHUNKS_STREAM_VERDICT_H

#include <cstdint>

// Why the walk over an .xz stream stopped short of its end: the first thing that a decoder
// would reject, or where the file ends inside the stream.
enum class stream_fault {
  none,
  // The file ends: the stream is cut short.
  end_in_stream_header,
  end_where_block_is_due, // where a block header or the index is due
  end_in_block_header,
  end_where_chunk_is_due,
  end_in_chunk, // `at` is the chunk header
  end_in_block_padding,
  end_in_check,
  end_in_index,
  end_in_footer,
  // Damaged.
  stream_header_crc,
  stream_flags, // `found` holds the two bytes
  block_header, // `what` says what is wrong
  no_chunk,     // the byte at `at` opens no chunk
  no_dictionary_reset,
  no_properties,
  properties_above_224, // `found` is the properties byte
  lc_plus_lp_above_4,
  compressed_size,   // the block header gives `expected`, the data holds `found`
  uncompressed_size, // as compressed_size
  block_padding,
  index_invalid, // `what` says what is wrong
  index_crc,
  index_block_count,       // the index gives `expected`, the walk finds `found`
  index_unpadded_size,     // as index_block_count, for `block`
  index_uncompressed_size, // as index_unpadded_size
  footer_crc,
  footer_magic,
  footer_flags,
  footer_index_size, // the footer gives `expected`, the index has `found`
  chunk_past_end,    // the chunk at `at` runs past the end of the file, but the index at `found`
                     // follows
  // Found by decoding the block.
  data_error,  // the chunk at `at` does not decode: decoding gave up at `found`; `lost` bytes of
               // the `expected` the block unpacks to are lost from that chunk on
  check_fails, // the check field at `at` does not match; `found` is the check type
  read_error,
};

// For an intact stream, `at` is where it ends and `found` its number of blocks.
struct stream_verdict {
  stream_fault fault = stream_fault::none;
  std::uint64_t block = 0; // the block number in its stream, from 1, where one is concerned
  std::uint64_t at = 0;    // the position concerned
  std::uint64_t expected = 0;
  std::uint64_t found = 0;
  const char *what = nullptr;
  std::uint64_t lost = 0;
  std::uint64_t damaged_blocks = 0;   // in the stream, when it is damaged in its blocks
  std::uint64_t ends_at = 0;          // where a damaged stream ends, when its footer says so
  std::uint64_t undecoded_blocks = 0; // judged by structure alone: liblzma cannot decode them

  bool truncated() const {
    return fault >= stream_fault::end_in_stream_header && fault <= stream_fault::end_in_footer;
  }
};

#endif
