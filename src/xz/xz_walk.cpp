#include "xz_walk.h"

#include "chunk_rules.h"
#include "chunk_walk.h"
#include "crc32.h"
#include "stream_verdict.h"
#include "xz_format.h"
#include "xz_report.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

using xz::header_kind;
using xz::stream_flags;

struct block_record {
  std::uint64_t unpadded_size;
  std::uint64_t uncompressed_size;
};

// The records of a stream's blocks, as the walk finds them or as its index lists them, kept
// as a count and a digest rather than one by one: a stream may hold millions of blocks.
// Which block disagrees is looked for again only when the two disagree.
class record_digest {
public:
  void add(const block_record &record) {
    ++count_;
    digest_ = mix(mix(digest_ ^ record.unpadded_size) ^ record.uncompressed_size);
  }
  std::uint64_t count() const { return count_; }
  bool operator==(const record_digest &other) const {
    return count_ == other.count_ && digest_ == other.digest_;
  }

private:
  // splitmix64's finalizer: every bit of the input moves about half the bits of the output.
  static std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
  }

  std::uint64_t count_ = 0;
  std::uint64_t digest_ = 0;
};

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

class file_walk {
public:
  file_walk(byte_input &input, std::uint64_t file_size, bool scan, listing_writer &out)
      : input_(input), out_(out), report_(out), file_size_(file_size), scan_(scan) {}

  xz_walk_result run();

private:
  enum class found_header { none, cut, crc_fails, header };

  // A stream header at `at`, and its flags when there is one.
  found_header stream_header_at(std::uint64_t at, stream_flags &flags);
  // The first stream header from `from` on, noting magic bytes that open none; false when
  // there is none.
  bool find_stream(std::uint64_t from, std::uint64_t &at, stream_flags &flags);
  // The position of the first byte from `from` on that is not zero.
  std::uint64_t skip_zeros(std::uint64_t from);
  // Reads up to length bytes from `at`: fewer at the end of the file or on an error.
  std::size_t read_up_to(std::uint64_t at, unsigned char *dst, std::size_t length);
  bool read(std::uint64_t at, unsigned char *dst, std::size_t length) {
    return read_up_to(at, dst, length) == length;
  }

  // How many of the streams walked lately hold `at` in their span; forgets those that end
  // before it. Streams are found in the order of their positions, so none starts after it.
  unsigned spans_holding(std::uint64_t at);

  // Walks the stream whose header is at `at`; `end` is where an intact one ends.
  stream_verdict walk_stream(std::uint64_t at, const stream_flags &flags);
  stream_verdict walk_block(std::uint64_t at, std::size_t check_size, std::uint64_t &end);
  stream_verdict check_index(std::uint64_t at, std::size_t check_size, std::uint64_t &end);
  // Which block the index disagrees on first, found by walking the blocks again.
  stream_verdict first_disagreement(std::uint64_t index_at, std::size_t check_size);
  void read_number_at(std::uint64_t &at, std::uint64_t &value);
  // The sizes of the block at `at`, walked before, and `at` moved past it.
  block_record block_sizes(std::uint64_t &at, std::size_t check_size);
  stream_verdict check_footer(std::uint64_t at, std::uint64_t index_size,
                              const stream_flags &flags);

  // Records that the output failed; the walk then stops.
  bool said(bool written) {
    if (!written)
      stopped_ = xz_walk_result::write_error;
    return written;
  }
  bool stopped() const { return stopped_ != xz_walk_result::all_intact; }
  // Reports the verdict on the stream at `at` and counts it.
  void tally(std::uint64_t at, const stream_verdict &verdict);
  // Tallies a fault outside any stream, of an .xz file.
  void fault_between() { ++faults_between_; }

  byte_input &input_;
  listing_writer &out_;
  xz_report report_;
  std::uint64_t file_size_;
  bool scan_;
  record_digest walked_;        // the blocks of the stream walked last
  std::uint64_t blocks_at_ = 0; // where its first block lies
  std::uint64_t stream_ = 0;    // streams found so far, the one walked last
  std::uint64_t block_ = 0;     // blocks walked in it
  std::uint64_t intact_ = 0;
  std::uint64_t damaged_ = 0;
  std::uint64_t truncated_ = 0;
  std::uint64_t faults_between_ = 0;
  xz_walk_result stopped_ = xz_walk_result::all_intact;
  // Where the walks of the last streams reached, those that a stream found now may lie in.
  struct walked_span {
    std::uint64_t end;
    std::uint64_t stream;
  };
  walked_span spans_[2] = {};
  unsigned spans_count_ = 0;
};

std::size_t file_walk::read_up_to(std::uint64_t at, unsigned char *dst, std::size_t length) {
  input_.seek(at);
  std::size_t got = 0;
  for (int byte = 0; got < length && (byte = input_.read_byte()) >= 0; ++got)
    dst[got] = static_cast<unsigned char>(byte);
  return got;
}

file_walk::found_header file_walk::stream_header_at(std::uint64_t at, stream_flags &flags) {
  unsigned char bytes[xz::stream_header_size] = {};
  const std::size_t got = read_up_to(at, bytes, sizeof bytes);
  if (got < sizeof xz::header_magic ||
      std::memcmp(bytes, xz::header_magic, sizeof xz::header_magic) != 0)
    return found_header::none;
  if (got < sizeof bytes)
    return found_header::cut;
  switch (xz::parse_stream_header(bytes, flags)) {
  case header_kind::header:
    return found_header::header;
  case header_kind::crc_fails:
    return found_header::crc_fails;
  case header_kind::none:
    break;
  }
  return found_header::none;
}

bool file_walk::find_stream(std::uint64_t from, std::uint64_t &at, stream_flags &flags) {
  input_.seek(from);
  const unsigned char *bytes = nullptr;
  for (std::size_t length = 0; !stopped() && (length = input_.buffered(bytes)) > 0;) {
    const auto *magic =
        static_cast<const unsigned char *>(std::memchr(bytes, xz::header_magic[0], length));
    if (magic == nullptr) {
      input_.skip(length);
      continue;
    }
    const auto before = static_cast<std::size_t>(magic - bytes);
    // Most first bytes of the magic are only that: tell them by the bytes at hand, which
    // keeps the input reading on in large blocks.
    if (length - before >= sizeof xz::header_magic &&
        std::memcmp(magic, xz::header_magic, sizeof xz::header_magic) != 0) {
      input_.skip(before + 1);
      continue;
    }
    at = input_.position() + before;
    const found_header found = stream_header_at(at, flags);
    if (found == found_header::header)
      return true;
    if (found != found_header::none)
      said(report_.magic_without_stream(at, found == found_header::cut));
    input_.seek(at + 1);
  }
  return false;
}

// How many bytes at the start are zero, a word at a time: zeros between streams may run for
// gigabytes in a firmware image.
std::size_t leading_zeros(const unsigned char *bytes, std::size_t length) {
  std::size_t zeros = 0;
  for (std::uint64_t word = 0; zeros + sizeof word <= length; zeros += sizeof word) {
    std::memcpy(&word, bytes + zeros, sizeof word);
    if (word != 0)
      break;
  }
  while (zeros < length && bytes[zeros] == 0)
    ++zeros;
  return zeros;
}

std::uint64_t file_walk::skip_zeros(std::uint64_t from) {
  input_.seek(from);
  const unsigned char *bytes = nullptr;
  for (std::size_t length = 0; (length = input_.buffered(bytes)) > 0;) {
    const std::size_t zeros = leading_zeros(bytes, length);
    input_.skip(zeros);
    if (zeros < length)
      break;
  }
  return input_.position();
}

void file_walk::tally(std::uint64_t at, const stream_verdict &v) {
  said(report_.stream_ended(stream_, at, v, file_size_));
  ++(v.fault == stream_fault::none ? intact_ : v.truncated() ? truncated_ : damaged_);
}

xz_walk_result file_walk::run() {
  stream_flags flags;
  const found_header first = stream_header_at(0, flags);
  // An .xz file, which holds streams and stream padding only; else a container, whose other
  // bytes are none of this walk's business.
  const bool xz_file = !scan_ && first != found_header::none;
  bool following = true;
  bool read_error_told = false;
  std::uint64_t from = 0;
  while (!stopped() && !input_.failed()) {
    std::uint64_t at = from;
    if (following) {
      at = skip_zeros(from);
      if (xz_file && (at - from) % 4 != 0) {
        fault_between();
        said(report_.padding_not_multiple_of_4(from, at - from));
      }
      if (at >= file_size_ || input_.failed())
        break;
      const found_header found = stream_header_at(at, flags);
      if (found != found_header::header) {
        // Where an .xz file's next stream is due, its magic bytes open a damaged header.
        if (xz_file && found != found_header::none) {
          ++stream_;
          tally(at, verdict(found == found_header::cut ? stream_fault::end_in_stream_header
                                                       : stream_fault::stream_header_crc));
        } else if (found != found_header::none) {
          said(report_.magic_without_stream(at, found == found_header::cut));
        } else if (xz_file) {
          fault_between();
          said(report_.not_a_stream(at));
        }
        following = false;
        from = at + 1;
        continue;
      }
    } else if (!find_stream(from, at, flags)) {
      break;
    }
    // A damaged stream's data may hold stream headers, and theirs more: each is walked, and
    // so each byte listed again, only while it lies inside the data of one stream at most.
    if (spans_holding(at) == std::size(spans_)) {
      said(report_.stream_not_walked(at, spans_[1].stream, spans_[0].stream));
      following = false;
      from = at + 1;
      continue;
    }
    ++stream_;
    if (spans_count_ > 0)
      said(report_.stream_inside(stream_, at, spans_[0].stream));
    const stream_verdict v = walk_stream(at, flags);
    if (stopped())
      break;
    spans_[spans_count_++] =
        walked_span{std::max(input_.position(), at + xz::stream_header_size), stream_};
    tally(at, v);
    read_error_told = v.fault == stream_fault::read_error;
    following = v.fault == stream_fault::none;
    from = following ? v.at : at + xz::stream_header_size;
  }
  // What was found goes out even when a read has failed, with the summary.
  if (input_.failed() && !read_error_told && !stopped())
    said(report_.read_error(input_.position()));
  if (stopped() || !said(report_.summary(intact_, damaged_, truncated_, faults_between_)) ||
      !said(out_.flush()))
    return stopped_;
  if (input_.failed())
    return xz_walk_result::read_error;
  const bool all_intact = intact_ > 0 && damaged_ == 0 && truncated_ == 0 && faults_between_ == 0;
  return all_intact ? xz_walk_result::all_intact : xz_walk_result::faults;
}

unsigned file_walk::spans_holding(std::uint64_t at) {
  unsigned kept = 0;
  for (unsigned i = 0; i < spans_count_; ++i)
    if (spans_[i].end > at)
      spans_[kept++] = spans_[i];
  spans_count_ = kept;
  return kept;
}

stream_verdict file_walk::walk_stream(std::uint64_t at, const stream_flags &flags) {
  // Flags the format does not define say nothing of the check either: the verdict stands alone.
  if (!flags.defined()) {
    stream_verdict v = verdict(stream_fault::stream_flags);
    v.found = std::uint64_t{flags.bytes[0]} << 8 | flags.bytes[1];
    return v;
  }
  if (!said(report_.stream_found(stream_, at, flags.check_type())))
    return {};
  walked_ = {};
  block_ = 0;
  blocks_at_ = at + xz::stream_header_size;
  std::uint64_t next = blocks_at_;
  for (;;) {
    input_.seek(next);
    const int first = input_.read_byte();
    if (first < 0)
      return verdict(input_.failed() ? stream_fault::read_error
                                     : stream_fault::end_where_block_is_due,
                     0, next);
    if (first == 0)
      break;
    ++block_;
    const stream_verdict v = walk_block(next, xz::check_size(flags.check_type()), next);
    if (v.fault != stream_fault::none || stopped())
      return v;
  }
  std::uint64_t footer_at = 0;
  const stream_verdict v = check_index(next, xz::check_size(flags.check_type()), footer_at);
  if (v.fault != stream_fault::none || stopped())
    return v;
  return check_footer(footer_at, footer_at - next, flags);
}

stream_verdict file_walk::walk_block(std::uint64_t at, std::size_t check_size, std::uint64_t &end) {
  unsigned char header_bytes[xz::largest_block_header];
  input_.seek(at);
  const std::size_t header_size = xz::block_header_size(static_cast<unsigned>(input_.read_byte()));
  if (!read(at, header_bytes, header_size))
    return verdict(input_.failed() ? stream_fault::read_error : stream_fault::end_in_block_header,
                   block_, at);
  xz::block_header header;
  if (const char *what = xz::parse_block_header(header_bytes, header_size, header)) {
    stream_verdict v = verdict(stream_fault::block_header, block_, at);
    v.what = what;
    return v;
  }
  const std::uint64_t data_at = at + header_size;
  chunk_rules rules;
  chunk_header closing;
  if (!said(report_.block_found(stream_, block_, at, data_at)) || !said(out_.offset_line(data_at)))
    return {};
  const walk_result walked = walk_chunks(input_, data_at, out_, rules, closing);
  if (!said(walked != walk_result::write_error) || !said(report_.listing_ended()))
    return {};
  if (walked == walk_result::read_error)
    return verdict(stream_fault::read_error, block_, closing.offset);
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
  if (header.has_compressed_size && header.compressed_size != compressed)
    return disagreement(stream_fault::compressed_size, block_, header.compressed_size, compressed);
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
  end = input_.position() + check_size;
  if (end > file_size_)
    return verdict(stream_fault::end_in_check, block_, input_.position());
  walked_.add({header_size + compressed + check_size, rules.unpacked_total()});
  return {};
}

stream_verdict file_walk::check_index(std::uint64_t at, std::size_t check_size,
                                      std::uint64_t &end) {
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
  if (!said(report_.index_found(at, records)))
    return {};
  if (records != walked_.count())
    return disagreement(stream_fault::index_block_count, 0, records, walked_.count());
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
  if (!read(input_.position(), stored, sizeof stored))
    return cut();
  if (crc != xz::little_endian_32(stored))
    return verdict(stream_fault::index_crc, 0, at);
  end = input_.position();
  // Any disagreement counts only once the CRC32 shows the index is as written.
  return listed == walked_ ? stream_verdict{} : first_disagreement(at, check_size);
}

stream_verdict file_walk::first_disagreement(std::uint64_t index_at, std::size_t check_size) {
  std::uint64_t block_at = blocks_at_;
  // The index has been read whole once: its indicator and numbers are known to be valid.
  std::uint64_t record_at = index_at + 1;
  std::uint64_t records = 0;
  read_number_at(record_at, records);
  for (std::uint64_t i = 1; i <= records; ++i) {
    block_record listed{};
    read_number_at(record_at, listed.unpadded_size);
    read_number_at(record_at, listed.uncompressed_size);
    const block_record walked = block_sizes(block_at, check_size);
    if (listed.unpadded_size != walked.unpadded_size)
      return disagreement(stream_fault::index_unpadded_size, i, listed.unpadded_size,
                          walked.unpadded_size);
    if (listed.uncompressed_size != walked.uncompressed_size)
      return disagreement(stream_fault::index_uncompressed_size, i, listed.uncompressed_size,
                          walked.uncompressed_size);
  }
  return {};
}

void file_walk::read_number_at(std::uint64_t &at, std::uint64_t &value) {
  crc_reader reader(input_, at);
  read_number(reader, value);
  at = input_.position();
}

block_record file_walk::block_sizes(std::uint64_t &at, std::size_t check_size) {
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
  at = data_at + (compressed + 3) / 4 * 4 + check_size;
  return {header_size + compressed + check_size, unpacked};
}

stream_verdict file_walk::check_footer(std::uint64_t at, std::uint64_t index_size,
                                       const stream_flags &flags) {
  unsigned char bytes[xz::stream_footer_size];
  if (!read(at, bytes, sizeof bytes))
    return verdict(input_.failed() ? stream_fault::read_error : stream_fault::end_in_footer, 0,
                   input_.position());
  const xz::stream_footer footer = xz::parse_stream_footer(bytes);
  if (!footer.crc_matches)
    return verdict(stream_fault::footer_crc, 0, at);
  if (!footer.magic_matches)
    return verdict(stream_fault::footer_magic, 0, at);
  if (!(footer.flags == flags))
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

} // namespace

xz_walk_result walk_xz_file(byte_input &input, std::uint64_t file_size, bool scan,
                            listing_writer &out) {
  return file_walk(input, file_size, scan, out).run();
}
