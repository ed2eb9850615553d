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
      : out_(out), line_at_a_time_(line_at_a_time) {}
  listing_writer(const listing_writer &) = delete;
  listing_writer &operator=(const listing_writer &) = delete;

  void offset_line(std::uint64_t start_offset);
  // For a header whose kind is not end_of_walk.
  void chunk_line(const chunk_header &header);
  // Position and control byte as read; the end of the input shows as FFFFFFFF.
  void closing_line(const chunk_header &header);

  // Hands the lines so far to the stream and flushes it.
  void flush();
  // True once some of the listing has failed to go out.
  bool failed() const { return failed_; }
  // Flushes; false if any of the listing failed to go out.
  bool finish();

private:
  // Room for one more line; hands the buffer over first when it is nearly full.
  char *line_start();
  void write_buffer();

  // The longest line: a 16-digit position and the largest sizes.
  static constexpr std::size_t max_line_length = 64;

  std::FILE *out_;
  bool line_at_a_time_;
  bool failed_ = false;
  std::size_t used_ = 0;
  char buffer_[64 * 1024];
};

#endif
