#ifndef LZMA2_CHUNKS_LISTING_WRITER_H
#define LZMA2_CHUNKS_LISTING_WRITER_H

#include "chunk_header.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Writes the listing: the offset line, one line per chunk header and the closing line.
// Lines are formatted by hand into a large buffer, since printf and small writes cost more
// than the walk itself on streams of millions of tiny chunks. A reader watching a terminal
// gets each line as it comes instead.
class listing_writer {
public:
  explicit listing_writer(std::FILE *out, bool line_at_a_time = false)
      : out_(out), hand_over_at_(line_at_a_time ? 0 : buffer_size - max_line_length) {}
  listing_writer(const listing_writer &) = delete;
  listing_writer &operator=(const listing_writer &) = delete;

  // Each returns false once some of the listing has failed to go out.
  bool offset_line(std::uint64_t start_offset);
  // For a header whose kind is not end_of_walk.
  bool chunk_line(const chunk_header &header);
  // Position and control byte as read; the end of the input shows as FFFFFFFF.
  bool closing_line(const chunk_header &header);
  // Hands the lines so far to the stream and flushes it.
  bool flush();

private:
  // Ends the line that ends at `end`; hands the buffer over once it holds more than
  // hand_over_at_ bytes, so there is always room for the longest line.
  bool end_line(char *end);

  // The longest line: a 16-digit position and the largest sizes.
  static constexpr std::size_t max_line_length = 64;
  static constexpr std::size_t buffer_size = std::size_t{64} * 1024;

  std::FILE *out_;
  std::size_t hand_over_at_; // 0 for a terminal: each line goes out as it is written
  bool failed_ = false;
  std::size_t used_ = 0;
  char buffer_[buffer_size];
};

#endif
