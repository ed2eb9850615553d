#include "chunk_walk.h"

#include "chunk_rules.h"

namespace {

unsigned read_low_byte(byte_input &input) {
  return static_cast<unsigned>(input.read_byte()) & 0xFFu;
}

// A 16-bit big-endian size field, which stores the size minus one.
unsigned read_size_field(byte_input &input) {
  const unsigned high = read_low_byte(input);
  const unsigned low = read_low_byte(input);
  return (high << 8 | low) + 1;
}

chunk_kind kind_of(int control) {
  if (control == 1 || control == 2)
    return chunk_kind::uncompressed;
  if (control >= 0x80 && control <= 0xBF)
    return chunk_kind::compressed;
  if (control >= 0xC0 && control <= 0xFF)
    return chunk_kind::compressed_with_props;
  return chunk_kind::end_of_walk;
}

std::uint32_t payload_size(const chunk_header &header) {
  return header.kind == chunk_kind::uncompressed ? header.unpacked_size : header.packed_size;
}

// Inline, so that in the walk's loop the header it returns stays in registers.
inline chunk_header read_header(byte_input &input) {
  chunk_header header;
  header.offset = input.position();
  header.control = input.read_byte();
  header.kind = kind_of(header.control);
  // Nothing after the byte is read, so a walk over a pipe ends without waiting for more.
  if (header.kind == chunk_kind::end_of_walk)
    return header;
  const unsigned size = read_size_field(input);
  if (header.kind == chunk_kind::uncompressed) {
    header.unpacked_size = size;
    return header;
  }
  // A sum, not an OR: a stored low part of FFFF carries into bit 16.
  header.unpacked_size = (static_cast<unsigned>(header.control) & 0x1Fu) * 65536u + size;
  header.packed_size = read_size_field(input);
  if (header.kind == chunk_kind::compressed_with_props)
    header.props = static_cast<std::uint8_t>(read_low_byte(input));
  return header;
}

} // namespace

chunk_header read_chunk_header(byte_input &input) {
  return read_header(input);
}

namespace {

// In place of the listing, for a walk that lists nothing.
struct no_listing {
  bool chunk_line(const chunk_header &) { return true; }
  bool closing_line(const chunk_header &) { return true; }
  bool flush() { return true; }
};

// The one walk, with something done for each chunk header listed: nothing for the tool, a
// decoder's checks for the .xz walk. A template, so that nothing costs a call per chunk.
template <class listing, class each_chunk>
walk_result walk(byte_input &input, std::uint64_t start_offset, listing &out, chunk_header &closing,
                 each_chunk &&on_chunk) {
  input.seek(start_offset);
  for (;;) {
    // Lines found so far go out before a read that may wait on a slow pipe. Once the
    // listing cannot be written nobody reads the rest: stop rather than read on, perhaps
    // forever.
    if (input.may_wait(longest_chunk_header) && !out.flush())
      return walk_result::write_error;
    const chunk_header header = read_header(input);
    if (header.kind == chunk_kind::end_of_walk) {
      closing = header;
      if (!out.closing_line(header) || !out.flush())
        return walk_result::write_error;
      return input.failed() ? walk_result::read_error : walk_result::ok;
    }
    if (!out.chunk_line(header))
      return walk_result::write_error;
    on_chunk(header);
    input.skip(payload_size(header));
  }
}

} // namespace

walk_result walk_chunks(byte_input &input, std::uint64_t start_offset, listing_writer &out) {
  chunk_header closing;
  return walk(input, start_offset, out, closing, [](const chunk_header &) {});
}

walk_result walk_chunks(byte_input &input, std::uint64_t start_offset, listing_writer *out,
                        chunk_rules &rules, chunk_header &closing) {
  const auto check = [&rules](const chunk_header &header) { rules.check(header); };
  if (out != nullptr)
    return walk(input, start_offset, *out, closing, check);
  no_listing quiet;
  return walk(input, start_offset, quiet, closing, check);
}
