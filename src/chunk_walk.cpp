#include "chunk_walk.h"

#include "line_format.h"

#include <cstddef>

namespace {

// Collects lines and hands them to the stream in large blocks.
class line_writer {
public:
  explicit line_writer(std::FILE *out) : out_(out) {}

  // Room for one more line of at most max_line_length bytes.
  char *reserve_line() {
    if (sizeof buffer_ - used_ < max_line_length)
      flush();
    return buffer_ + used_;
  }
  void commit_line(const char *end) { used_ = static_cast<std::size_t>(end - buffer_); }

  bool flush() {
    if (used_ != 0 && std::fwrite(buffer_, 1, used_, out_) != used_)
      failed_ = true;
    used_ = 0;
    return !failed_;
  }

private:
  std::FILE *out_;
  bool failed_ = false;
  std::size_t used_ = 0;
  char buffer_[64 * 1024];
};

unsigned read_low_byte(byte_input &input) {
  return static_cast<unsigned>(input.read_byte()) & 0xFFu;
}

unsigned read_size_field(byte_input &input) {
  const unsigned high = read_low_byte(input);
  const unsigned low = read_low_byte(input);
  return (high << 8 | low) + 1;
}

std::uint64_t payload_size(chunk_kind kind, const chunk_header &header) {
  return kind == chunk_kind::uncompressed ? header.unpacked_size : header.packed_size;
}

} // namespace

chunk_kind read_chunk_header(byte_input &input, chunk_header &header) {
  header.offset = input.position();
  header.control = input.read_byte();
  // Two size bytes follow every control byte, and they are read before it is judged even
  // where they mean nothing, so that the walk ends where the original tool's did.
  const unsigned size = read_size_field(input);
  const chunk_kind kind = kind_of(header.control);
  if (kind == chunk_kind::end_of_walk)
    return kind;
  if (kind == chunk_kind::uncompressed) {
    header.unpacked_size = size;
    return kind;
  }
  // A sum, not an OR: a stored low part of FFFF carries into bit 16.
  header.unpacked_size = (static_cast<unsigned>(header.control) & 0x1Fu) * 65536u + size;
  header.packed_size = read_size_field(input);
  if (kind == chunk_kind::compressed_with_props)
    header.props = static_cast<std::uint8_t>(read_low_byte(input));
  return kind;
}

walk_result walk_chunks(byte_input &input, std::uint64_t start_offset, std::FILE *out) {
  line_writer writer(out);
  input.seek(start_offset);
  chunk_header header;
  for (chunk_kind kind = read_chunk_header(input, header); kind != chunk_kind::end_of_walk;
       kind = read_chunk_header(input, header)) {
    writer.commit_line(format_chunk_line(writer.reserve_line(), header));
    input.skip(payload_size(kind, header));
  }
  writer.commit_line(format_closing_line(writer.reserve_line(), header));
  if (!writer.flush())
    return walk_result::write_error;
  return input.failed() ? walk_result::read_error : walk_result::ok;
}
