#ifndef LZMA2_CHUNKS_LISTING_WRITER_H
#define LZMA2_CHUNKS_LISTING_WRITER_H

#include "chunk_header.h"
#include "line_format.h"

#include <cstddef>
#include <cstdint>

// Writes the listing: the offset line, one line per chunk header and the closing line, into
// a large buffer written to the descriptor in blocks, since small writes cost more than the
// walk itself on streams of millions of tiny chunks. A reader watching a terminal gets each
// line as it comes instead.
class listing_writer {
public:
  explicit listing_writer(int fd, bool line_at_a_time = false)
      : fd_(fd), hand_over_at_(line_at_a_time ? 0 : buffer_size - max_line_length) {}
  listing_writer(const listing_writer &) = delete;
  listing_writer &operator=(const listing_writer &) = delete;

  // Each returns false once some of the listing has failed to go out.
  bool offset_line(std::uint64_t start_offset);
  // For a header whose kind is not end_of_walk.
  bool chunk_line(const chunk_header &header);
  // Position and control byte as read; the end of the input shows as FFFFFFFF.
  bool closing_line(const chunk_header &header);
  // Any other text, such as the lines around listings.
  bool text(const char *data, std::size_t length);
  // Writes out the lines so far.
  bool flush();

private:
  // Ends the line that ends at `end`; hands the buffer over once it holds more than
  // hand_over_at_ bytes, so there is always room for the longest line.
  bool end_line(char *end);

  // The longest line: a 16-digit position and the largest sizes.
  static constexpr std::size_t max_line_length = 64;
  static constexpr std::size_t buffer_size = std::size_t{64} * 1024;

  int fd_;
  std::size_t hand_over_at_; // 0 for a terminal: each line goes out as it is written
  bool failed_ = false;
  std::size_t used_ = 0;
  char buffer_[buffer_size];
};

// Inline: the walk writes one a chunk, and a call per line costs more than the line.
inline bool listing_writer::chunk_line(const chunk_header &header) {
  // Compressed chunks show only their class: the low five bits belong to the unpacked size.
  const auto shown = static_cast<unsigned>(header.control) &
                     (header.kind == chunk_kind::uncompressed ? 0xFFu : 0xE0u);
  char *dst = line_format::put_position(buffer_ + used_, header.offset);
  dst = line_format::put_byte(dst, shown);
  dst = line_format::put_decimal(line_format::put_text(dst, " u="), header.unpacked_size);
  if (header.kind != chunk_kind::uncompressed)
    dst = line_format::put_decimal(line_format::put_text(dst, " p="), header.packed_size);
  if (header.kind == chunk_kind::compressed_with_props)
    dst = line_format::put_byte(line_format::put_text(dst, " s="), header.props);
  *dst++ = '\n';
  return end_line(dst);
}

inline bool listing_writer::end_line(char *end) {
  used_ = static_cast<std::size_t>(end - buffer_);
  return used_ <= hand_over_at_ || flush();
}

#endif
