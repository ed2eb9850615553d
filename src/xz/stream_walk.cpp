#include "stream_walk.h"

#include "chunk_rules.h"
#include "chunk_walk.h"
#include "crc32.h"

#if LZMA2_CHUNKS_DECODES
#include "block_decoders.h"
#endif

#include <algorithm>
#include <cstring>

namespace {

// splitmix64's finalizer: every bit of the input moves about half the bits of the output.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15u;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
  return x ^ (x >> 31);
}

// Reads bytes in order from a position and keeps the CRC32 of those read, as an index
// needs.
class crc_reader {
public:
  crc_reader(byte_input &input, std::uint64_t at) : input_(input) { input_.seek(at); }

  // The next byte, or -1 at the end of the file.
  int next() {
    const int byte = input_.read_byte();
    if (byte >= 0) {
      const auto b = static_cast<unsigned char>(byte);
      crc_ = crc32_update(crc_, &b, 1);
    }
    return byte;
  }
  std::uint32_t crc() const { return crc_; }

private:
  byte_input &input_;
  std::uint32_t crc_ = 0;
};

enum class number_read { ok, end, invalid };

number_read read_number(crc_reader &reader, std::uint64_t &value) {
  xz::vli_reader vli;
  int byte = 0;
  do {
    byte = reader.next();
    if (byte < 0)
      return number_read::end;
  } while (!vli.take(static_cast<unsigned>(byte)));
  value = vli.value();
  return vli.valid() ? number_read::ok : number_read::invalid;
}

stream_fault fault_of(chunk_fault fault) {
  switch (fault) {
  case chunk_fault::no_dictionary_reset:
    return stream_fault::no_dictionary_reset;
  case chunk_fault::no_properties:
    return stream_fault::no_properties;
  case chunk_fault::properties_above_224:
    return stream_fault::properties_above_224;
  case chunk_fault::lc_plus_lp_above_4:
    return stream_fault::lc_plus_lp_above_4;
  case chunk_fault::none:
    break;
  }
  return stream_fault::none;
}

stream_verdict verdict(stream_fault fault, std::uint64_t block = 0, std::uint64_t at = 0) {
  stream_verdict v;
  v.fault = fault;
  v.block = block;
  v.at = at;
  return v;
}

stream_verdict disagreement(stream_fault fault, std::uint64_t block, std::uint64_t expected,
                            std::uint64_t found) {
  stream_verdict v = verdict(fault, block);
  v.expected = expected;
  v.found = found;
  return v;
}

std::uint64_t round_up_to_4(std::uint64_t size) {
  return (size + 3) / 4 * 4;
}

// Faults of a block come in the order of the blocks; faults of the stream past its blocks
// (the index, the footer, the end of the file where a block is due) after all of them.
std::uint64_t order_of(const stream_verdict &v) {
  if (v.fault == stream_fault::stream_header_crc)
    return 0;
  return v.block != 0 ? v.block : UINT64_MAX;
}

} // namespace

std::size_t read_up_to(byte_input &input, std::uint64_t at, unsigned char *dst,
                       std::size_t length) {
  input.seek(at);
  std::size_t got = 0;
  for (int byte = 0; got < length && (byte = input.read_byte()) >= 0; ++got)
    dst[got] = static_cast<unsigned char>(byte);
  return got;
}

void record_digest::add(const block_record &record) {
  ++count;
  digest = mix(mix(digest ^ record.unpadded_size) ^ record.uncompressed_size);
}

stream_verdict stream_walk::walk(std::uint64_t stream, std::uint64_t at,
                                 const xz::stream_flags &flags, bool header_crc_fails) {
  // Flags the format does not define say nothing of the check either: the verdict stands alone.
  if (!flags.defined()) {
    stream_verdict v = verdict(stream_fault::stream_flags);
    v.found = std::uint64_t{flags.bytes[0]} << 8 | flags.bytes[1];
    return v;
  }
  stream_ = stream;
  flags_ = flags;
  check_size_ = xz::check_size(flags.check_type());
  blocks_at_ = at + xz::stream_header_size;
  block_ = 0;
  walked_ = {};
  structure_damaged_ = false;
  first_damage_ = {};
  first_damage_.fault = header_crc_fails ? stream_fault::stream_header_crc : stream_fault::none;
  damaged_blocks_ = 0;
  undecoded_blocks_ = 0;
  index_at_ = 0;
  index_looked_for_ = false;
  listed_.clear();
  reached_ = at + xz::stream_header_size;
  // A damaged header's flags may be damaged too: the footer's, where one is found, hold.
  flags_known_ = !header_crc_fails;
  if (header_crc_fails && index_of_the_stream(blocks_at_))
    check_size_ = xz::check_size(flags_.check_type());
  flags_known_ = true;
  if (!said(report_.stream_found(stream, at, flags_.check_type())))
    return {};
  std::uint64_t next = blocks_at_;
  for (;;) {
    input_.seek(next);
    const int first = input_.read_byte();
    if (first < 0)
      return finish(
          verdict(input_.failed() ? stream_fault::read_error : stream_fault::end_where_block_is_due,
                  0, next));
    if (first == 0) {
      std::uint64_t footer_at = 0;
      const stream_verdict index = check_index(next, footer_at);
      if (write_failed_)
        return {};
      if (index.fault == stream_fault::none)
        return finish(check_footer(footer_at, footer_at - next));
      // A zero where a block header is due opens the index, unless the stream's index, whose
      // CRC32 holds, lies further on: then damage has zeroed a block header.
      if (index.truncated() || index.fault == stream_fault::read_error ||
          !index_of_the_stream(next + 1) || index_at_ <= next)
        return finish(index);
      by_header_ = after_end_marker_ = 0;
      stream_verdict zeroed = verdict(stream_fault::block_header, ++block_, next);
      zeroed.what = "its size byte is zero, as the index's would be, but the index lies further on";
      block_damaged(zeroed);
      if (write_failed_ || !resume(next, next))
        return finish(zeroed);
      continue;
    }
    ++block_;
    const std::uint64_t header_at = next;
    const stream_verdict v = walk_block(header_at, next);
    if (write_failed_)
      return {};
    if (v.fault == stream_fault::none)
      continue;
    if (v.fault == stream_fault::end_in_chunk && index_of_the_stream(v.at)) {
      // The file goes on to the stream's index: the chunk's size is damaged, not cut short.
      stream_verdict past = v;
      past.fault = stream_fault::chunk_past_end;
      past.found = index_at_;
      block_damaged(past);
      if (write_failed_ || !resume(header_at, next))
        return finish(past);
      continue;
    }
    if (v.truncated() || v.fault == stream_fault::read_error)
      return finish(v);
    block_damaged(v);
    if (write_failed_ || !resume(header_at, next))
      return finish(v);
  }
}

stream_verdict stream_walk::walk_block(std::uint64_t at, std::uint64_t &end) {
  unsigned char header_bytes[xz::largest_block_header];
  by_header_ = 0;
  after_end_marker_ = 0;
  input_.seek(at);
  const std::size_t header_size = xz::block_header_size(static_cast<unsigned>(input_.read_byte()));
  if (read_up_to(input_, at, header_bytes, header_size) != header_size)
    return verdict(input_.failed() ? stream_fault::read_error : stream_fault::end_in_block_header,
                   block_, at);
  xz::block_header header;
  if (const char *what = xz::parse_block_header(header_bytes, header_size, header)) {
    stream_verdict v = verdict(stream_fault::block_header, block_, at);
    v.what = what;
    return v;
  }
  const std::uint64_t data_at = at + header_size;
  if (header.has_compressed_size)
    by_header_ = data_at + round_up_to_4(header.compressed_size) + check_size_;
  chunk_rules rules;
  chunk_header closing;
  if (listings_ != nullptr && (!said(report_.block_found(stream_, block_, at, data_at)) ||
                               !said(listings_->offset_line(data_at))))
    return {};
  const walk_result walked = walk_chunks(input_, data_at, listings_, rules, closing);
  if (!said(walked != walk_result::write_error) ||
      (listings_ != nullptr && !said(report_.listing_ended())))
    return {};
  if (walked == walk_result::read_error)
    return verdict(stream_fault::read_error, block_, closing.offset);
  listed_.add({data_at, closing.offset + 1, stream_});
  reached_ = std::max(reached_, closing.offset + 1);
  // A header that the end of the file cuts short is missing bytes, not holding bad ones.
  const bool cut_short = rules.fault() != chunk_fault::none &&
                         rules.faulty().offset + header_length(rules.faulty().kind) > file_size_;
  if (rules.fault() != chunk_fault::none && !cut_short) {
    stream_verdict v = verdict(fault_of(rules.fault()), block_, rules.faulty().offset);
    v.found = rules.faulty().props;
    return v;
  }
  if (closing.control < 0 && closing.offset > file_size_)
    return verdict(stream_fault::end_in_chunk, block_, rules.last().offset);
  if (closing.control < 0)
    return verdict(stream_fault::end_where_chunk_is_due, block_, closing.offset);
  if (closing.control != 0)
    return verdict(stream_fault::no_chunk, block_, closing.offset);

  const std::uint64_t data_end = closing.offset + 1;
  const std::uint64_t compressed = data_end - data_at;
  after_end_marker_ = data_at + round_up_to_4(compressed) + check_size_;
  if (header.has_compressed_size && header.compressed_size != compressed) {
    // Where the walk found the end marker: a byte damaged to 00 ends the data early.
    stream_verdict v =
        disagreement(stream_fault::compressed_size, block_, header.compressed_size, compressed);
    v.at = closing.offset;
    return v;
  }
  if (header.has_uncompressed_size && header.uncompressed_size != rules.unpacked_total())
    return disagreement(stream_fault::uncompressed_size, block_, header.uncompressed_size,
                        rules.unpacked_total());
  // Padding to a multiple of four bytes, then the check of the unpacked data.
  input_.seek(data_end);
  for (std::uint64_t padding = (4 - compressed % 4) % 4; padding > 0; --padding) {
    const std::uint64_t byte_at = input_.position();
    const int byte = input_.read_byte();
    if (byte < 0)
      return verdict(input_.failed() ? stream_fault::read_error
                                     : stream_fault::end_in_block_padding,
                     block_, byte_at);
    if (byte != 0)
      return verdict(stream_fault::block_padding, block_, byte_at);
  }
  end = input_.position() + check_size_;
  if (end > file_size_)
    return verdict(stream_fault::end_in_check, block_, input_.position());
  walked_.add({header_size + compressed + check_size_, rules.unpacked_total()});
#if LZMA2_CHUNKS_DECODES
  if (decoders_ != nullptr)
    decoders_->decode(block_, {at, end, flags_.check_type()});
#endif
  return {};
}

void stream_walk::block_damaged(const stream_verdict &why) {
  ++damaged_blocks_;
  if (first_damage_.fault == stream_fault::none || order_of(why) < order_of(first_damage_))
    first_damage_ = why;
  said(report_.block_damaged(stream_, why));
}

bool stream_walk::resume(std::uint64_t at, std::uint64_t &next) {
  // The index cannot be compared with blocks whose sizes are not known.
  structure_damaged_ = true;
  // Each way must lead past the damaged block, or the walk would go round in circles.
  const auto leads_on = [&](std::uint64_t to) { return to > at && block_or_index_at(to); };
  const char *how = "by the sizes in its header";
  next = leads_on(by_header_) ? by_header_ : 0;
  if (next == 0) {
    how = "after its end marker";
    next = leads_on(after_end_marker_) ? after_end_marker_ : 0;
  }
  if (next == 0 && index_of_the_stream(at)) {
    how = "by the stream's index";
    // The records give each block's size, from the first block on.
    std::uint64_t record_at = index_at_ + 1;
    std::uint64_t records = 0;
    crc_reader reader(input_, record_at);
    read_number(reader, records);
    next = blocks_at_;
    std::uint64_t block = 1;
    for (; block <= records && next <= at; ++block) {
      block_record r{};
      read_number(reader, r.unpadded_size);
      read_number(reader, r.uncompressed_size);
      next += round_up_to_4(r.unpadded_size);
    }
    if (next <= at)
      next = index_at_;
    block_ = block - 1;
  }
  if (next == 0) {
    how = "by searching for a block header whose CRC32 holds";
    if (!next_block_header(at + 1, next))
      return false;
  }
  return said(report_.walk_resumed(next, how));
}

// A stream footer past `from` whose CRC32 holds, whose flags are the stream's and whose
// index ends right before it with its own CRC32 holding. Looked for once a stream.
bool stream_walk::index_of_the_stream(std::uint64_t from) {
  if (index_looked_for_)
    return index_at_ != 0;
  index_looked_for_ = true;
  unsigned char footer[xz::stream_footer_size];
  input_.seek(from);
  const unsigned char *bytes = nullptr;
  for (std::size_t length = 0; (length = input_.buffered(bytes)) > 0;) {
    const auto *y = static_cast<const unsigned char *>(std::memchr(bytes, 'Y', length));
    if (y == nullptr) {
      input_.skip(length);
      continue;
    }
    const std::uint64_t magic_at = input_.position() + static_cast<std::uint64_t>(y - bytes);
    if (magic_at >= from + 10 &&
        read_up_to(input_, magic_at - 10, footer, sizeof footer) == sizeof footer &&
        footer[11] == 'Z') {
      const xz::stream_footer f = xz::parse_stream_footer(footer);
      const std::uint64_t footer_at = magic_at - 10;
      if (f.crc_matches && (f.flags == flags_ || (!flags_known_ && f.flags.defined())) &&
          f.index_size < footer_at - from) {
        const xz::stream_flags flags = flags_;
        flags_ = f.flags;
        std::uint64_t end = 0;
        const std::uint64_t index_at = footer_at - f.index_size;
        input_.seek(index_at);
        const bool indicator = input_.read_byte() == 0;
        // Checked without a line of its own: the index is read again where it is due.
        const stream_verdict v = indicator ? check_index(index_at, end, false) : stream_verdict{};
        if (indicator && v.fault == stream_fault::none && end == footer_at) {
          index_at_ = index_at;
          return true;
        }
        flags_ = flags;
      }
    }
    input_.seek(magic_at + 1);
  }
  return false;
}

unsigned listed_spans::holding(std::uint64_t at) {
  unsigned kept = 0;
  for (unsigned i = 0; i < count_; ++i)
    if (spans_[i].to > at)
      spans_[kept++] = spans_[i];
  count_ = kept;
  unsigned holding = 0;
  for (unsigned i = 0; i < count_; ++i)
    holding += spans_[i].from <= at ? 1 : 0;
  return holding;
}

bool block_header_at(byte_input &input, std::uint64_t at) {
  unsigned char header[xz::largest_block_header];
  input.seek(at);
  const int size_byte = input.read_byte();
  const std::size_t size = xz::block_header_size(static_cast<unsigned>(size_byte));
  xz::block_header parsed;
  return size_byte > 0 && read_up_to(input, at, header, size) == size &&
         xz::parse_block_header(header, size, parsed) == nullptr;
}

bool stream_walk::block_or_index_at(std::uint64_t at) {
  input_.seek(at);
  return input_.read_byte() == 0 || block_header_at(input_, at);
}

bool stream_walk::next_block_header(std::uint64_t from, std::uint64_t &next) {
  for (std::uint64_t at = from; at < file_size_; ++at) {
    if (listed_.holding(at) == 2)
      continue;
    if (block_header_at(input_, at)) {
      next = at;
      return true;
    }
    if (input_.failed())
      return false;
  }
  return false;
}

stream_verdict stream_walk::finish(stream_verdict end) {
#if LZMA2_CHUNKS_DECODES
  if (decoders_ != nullptr) {
    damaged_block damaged[16];
    constexpr std::size_t kept = sizeof damaged / sizeof damaged[0];
    const std::uint64_t count = decoders_->finish(damaged, kept);
    // Past those kept, the count alone.
    damaged_blocks_ += count > kept ? count - kept : 0;
    for (std::uint64_t i = 0; i < count && i < kept; ++i) {
      const damaged_block &d = damaged[i];
      stream_verdict why;
      if (d.result.outcome == decode_outcome::data_error) {
        why = undecodable(d.block, d.span.header_at, d.result.gave_up_at);
      } else if (d.result.outcome == decode_outcome::check_fails) {
        why = verdict(stream_fault::check_fails, d.block, d.span.end - check_size_);
        why.found = flags_.check_type();
      } else if (d.result.outcome == decode_outcome::read_error) {
        // Not the block's fault: the file's, which ends the stream's report in one line.
        if (order_of(end) > d.block)
          end = verdict(stream_fault::read_error, d.block, d.result.gave_up_at);
        continue;
      } else {
        // What liblzma cannot decode (a filter it does not know, a dictionary there is no
        // memory for) is judged by its structure alone, and the verdict says so.
        ++undecoded_blocks_;
        continue;
      }
      block_damaged(why);
    }
  }
#endif
  if (first_damage_.fault == stream_fault::none || order_of(end) < order_of(first_damage_)) {
    end.undecoded_blocks = undecoded_blocks_;
    return end;
  }
  stream_verdict v = first_damage_;
  v.damaged_blocks = damaged_blocks_;
  // An intact index and footer still say where the stream ends, and the next begins.
  if (end.fault == stream_fault::none)
    v.ends_at = end.at;
  return v;
}

stream_verdict stream_walk::undecodable(std::uint64_t block, std::uint64_t header_at,
                                        std::uint64_t gave_up_at) {
  input_.seek(header_at);
  const std::uint64_t data_at =
      header_at + xz::block_header_size(static_cast<unsigned>(input_.read_byte()));
  stream_verdict v = verdict(stream_fault::data_error, block, data_at);
  v.found = gave_up_at;
  // The chunk that holds the last byte decoded; the rest of the block depends on it.
  std::uint64_t unpacked = 0;
  std::uint64_t before = 0;
  input_.seek(data_at);
  for (chunk_header chunk; (chunk = read_chunk_header(input_)).kind != chunk_kind::end_of_walk;) {
    if (chunk.offset < gave_up_at) {
      v.at = chunk.offset;
      before = unpacked;
    }
    unpacked += chunk.unpacked_size;
    input_.skip(chunk.kind == chunk_kind::uncompressed ? chunk.unpacked_size : chunk.packed_size);
  }
  v.expected = unpacked;
  v.lost = unpacked - before;
  return v;
}

stream_verdict stream_walk::check_index(std::uint64_t at, std::uint64_t &end, bool compare) {
  crc_reader reader(input_, at);
  reader.next(); // the index indicator, 0
  const auto cut = [&] {
    return verdict(input_.failed() ? stream_fault::read_error : stream_fault::end_in_index, 0,
                   input_.position());
  };
  const auto invalid = [at](const char *what) {
    stream_verdict v = verdict(stream_fault::index_invalid, 0, at);
    v.what = what;
    return v;
  };
  std::uint64_t records = 0;
  switch (read_number(reader, records)) {
  case number_read::end:
    return cut();
  case number_read::invalid:
    return invalid("its number of records is not a valid number");
  case number_read::ok:
    break;
  }
  if (compare && listings_ != nullptr && !said(report_.index_found(at, records)))
    return {};
  // Blocks whose sizes are not known cannot be compared.
  const bool comparable = compare && !structure_damaged_;
  if (comparable && records != walked_.count)
    return disagreement(stream_fault::index_block_count, 0, records, walked_.count);
  record_digest listed;
  for (std::uint64_t i = 0; i < records; ++i) {
    block_record record{};
    for (std::uint64_t *field : {&record.unpadded_size, &record.uncompressed_size}) {
      switch (read_number(reader, *field)) {
      case number_read::end:
        return cut();
      case number_read::invalid:
        return invalid("a record is not a valid number");
      case number_read::ok:
        break;
      }
    }
    listed.add(record);
  }
  while ((input_.position() - at) % 4 != 0) {
    const int byte = reader.next();
    if (byte < 0)
      return cut();
    if (byte != 0)
      return invalid("its padding is not zero");
  }
  const std::uint32_t crc = reader.crc();
  unsigned char stored[4];
  if (read_up_to(input_, input_.position(), stored, sizeof stored) != sizeof stored)
    return cut();
  if (crc != xz::little_endian_32(stored))
    return verdict(stream_fault::index_crc, 0, at);
  end = input_.position();
  // Any disagreement counts only once the CRC32 shows the index is as written, and only
  // where every block's sizes are known.
  return !comparable || listed == walked_ ? stream_verdict{} : first_disagreement(at);
}

stream_verdict stream_walk::first_disagreement(std::uint64_t index_at) {
  std::uint64_t block_at = blocks_at_;
  // The index has been read whole once: its indicator and numbers are known to be valid.
  std::uint64_t record_at = index_at + 1;
  const auto number_at = [&](std::uint64_t &value) {
    crc_reader reader(input_, record_at);
    read_number(reader, value);
    record_at = input_.position();
  };
  std::uint64_t records = 0;
  number_at(records);
  for (std::uint64_t i = 1; i <= records; ++i) {
    block_record listed{};
    number_at(listed.unpadded_size);
    number_at(listed.uncompressed_size);
    const block_record walked = block_sizes(block_at);
    if (listed.unpadded_size != walked.unpadded_size)
      return disagreement(stream_fault::index_unpadded_size, i, listed.unpadded_size,
                          walked.unpadded_size);
    if (listed.uncompressed_size != walked.uncompressed_size)
      return disagreement(stream_fault::index_uncompressed_size, i, listed.uncompressed_size,
                          walked.uncompressed_size);
  }
  return {};
}

block_record stream_walk::block_sizes(std::uint64_t &at) {
  input_.seek(at);
  const std::size_t header_size = xz::block_header_size(static_cast<unsigned>(input_.read_byte()));
  const std::uint64_t data_at = at + header_size;
  input_.seek(data_at);
  std::uint64_t unpacked = 0;
  for (chunk_header chunk; (chunk = read_chunk_header(input_)).kind != chunk_kind::end_of_walk;) {
    unpacked += chunk.unpacked_size;
    input_.skip(chunk.kind == chunk_kind::uncompressed ? chunk.unpacked_size : chunk.packed_size);
  }
  const std::uint64_t compressed = input_.position() - data_at;
  at = data_at + round_up_to_4(compressed) + check_size_;
  return {header_size + compressed + check_size_, unpacked};
}

stream_verdict stream_walk::check_footer(std::uint64_t at, std::uint64_t index_size) {
  unsigned char bytes[xz::stream_footer_size];
  if (read_up_to(input_, at, bytes, sizeof bytes) != sizeof bytes)
    return verdict(input_.failed() ? stream_fault::read_error : stream_fault::end_in_footer, 0,
                   input_.position());
  const xz::stream_footer footer = xz::parse_stream_footer(bytes);
  if (!footer.crc_matches)
    return verdict(stream_fault::footer_crc, 0, at);
  if (!footer.magic_matches)
    return verdict(stream_fault::footer_magic, 0, at);
  if (!(footer.flags == flags_))
    return verdict(stream_fault::footer_flags, 0, at);
  if (footer.index_size != index_size) {
    stream_verdict v =
        disagreement(stream_fault::footer_index_size, 0, footer.index_size, index_size);
    v.at = at;
    return v;
  }
  stream_verdict intact;
  intact.at = at + sizeof bytes;
  intact.found = block_;
  return intact;
}
