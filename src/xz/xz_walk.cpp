#include "xz_walk.h"

#include "stream_verdict.h"
#include "stream_walk.h"
#include "xz_format.h"
#include "xz_report.h"

#if LZMA2_CHUNKS_DECODES
#include "block_decoders.h"
#endif

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

using xz::header_kind;
using xz::stream_flags;

class file_walk {
public:
  file_walk(byte_input &input, std::uint64_t file_size, const xz_walk_options &options,
            listing_writer &out, block_decoders *decoders)
      : input_(input), out_(out), report_(out, options.verdicts_only, decoders != nullptr),
        streams_(input, file_size, options.verdicts_only ? nullptr : &out, report_, decoders),
        file_size_(file_size), scan_(options.scan) {}

  xz_walk_result run();

private:
  enum class found_header {
    none,
    cut,       // the magic bytes, cut short by the end of the file
    crc_fails, // the magic bytes, but not a header: damaged, or bytes that only look like one
    damaged,   // the magic bytes and a header whose CRC32 fails, but a block header follows
    header,
  };

  // A stream header at `at`, and its flags when there is one.
  found_header stream_header_at(std::uint64_t at, stream_flags &flags);
  // The first stream header from `from` on, damaged or cut short or not, noting magic bytes
  // that open none; false when there is none.
  bool find_stream(std::uint64_t from, std::uint64_t &at, stream_flags &flags, found_header &found);
  // The position of the first byte from `from` on that is not zero.
  std::uint64_t skip_zeros(std::uint64_t from);

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
  stream_walk streams_;
  std::uint64_t file_size_;
  bool scan_;
  std::uint64_t stream_ = 0; // streams found so far, the one walked last
  std::uint64_t intact_ = 0;
  std::uint64_t damaged_ = 0;
  std::uint64_t truncated_ = 0;
  std::uint64_t faults_between_ = 0;
  xz_walk_result stopped_ = xz_walk_result::all_intact;
  listed_spans spans_; // by the streams walked lately, from their headers on
};

file_walk::found_header file_walk::stream_header_at(std::uint64_t at, stream_flags &flags) {
  unsigned char bytes[xz::stream_header_size] = {};
  const std::size_t got = read_up_to(input_, at, bytes, sizeof bytes);
  if (got < sizeof xz::header_magic ||
      std::memcmp(bytes, xz::header_magic, sizeof xz::header_magic) != 0)
    return found_header::none;
  if (got < sizeof bytes)
    return found_header::cut;
  switch (xz::parse_stream_header(bytes, flags)) {
  case header_kind::header:
    return found_header::header;
  case header_kind::crc_fails:
    break;
  case header_kind::none:
    return found_header::none;
  }
  // A damaged header whose flags still make sense, followed by a block header whose CRC32
  // holds, is a stream's: a container's data rarely looks like both.
  std::memcpy(flags.bytes, bytes + sizeof xz::header_magic, sizeof flags.bytes);
  return flags.defined() && block_header_at(input_, at + sizeof bytes) ? found_header::damaged
                                                                       : found_header::crc_fails;
}

bool file_walk::find_stream(std::uint64_t from, std::uint64_t &at, stream_flags &flags,
                            found_header &found) {
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
    found = stream_header_at(at, flags);
    if (found != found_header::none && found != found_header::crc_fails)
      return true;
    if (found == found_header::crc_fails)
      said(report_.magic_without_stream(at));
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
    found_header found = found_header::none;
    if (following) {
      at = skip_zeros(from);
      if (xz_file && (at - from) % 4 != 0) {
        fault_between();
        said(report_.padding_not_multiple_of_4(from, at - from));
      }
      if (at >= file_size_ || input_.failed())
        break;
      found = stream_header_at(at, flags);
      if (found == found_header::none || found == found_header::crc_fails) {
        // Where an .xz file's next stream is due, its magic bytes open a damaged header.
        if (xz_file && found == found_header::crc_fails) {
          ++stream_;
          stream_verdict v;
          v.fault = stream_fault::stream_header_crc;
          tally(at, v);
        } else if (found == found_header::crc_fails) {
          said(report_.magic_without_stream(at));
        } else if (xz_file) {
          fault_between();
          said(report_.not_a_stream(at));
        }
        following = false;
        from = at + 1;
        continue;
      }
    } else if (!find_stream(from, at, flags, found)) {
      break;
    }
    if (found == found_header::cut) {
      ++stream_;
      stream_verdict v;
      v.fault = stream_fault::end_in_stream_header;
      tally(at, v);
      break;
    }
    // A damaged stream's data may hold stream headers, and theirs more: each is walked, and
    // so each byte listed again, only while it lies inside the data of one stream at most.
    const unsigned inside = spans_.holding(at);
    if (inside == 2) {
      said(report_.stream_not_walked(at, spans_[1].stream, spans_[0].stream));
      following = false;
      from = at + 1;
      continue;
    }
    ++stream_;
    if (inside == 1)
      said(report_.stream_inside(stream_, at, spans_[0].stream));
    const stream_verdict v = streams_.walk(stream_, at, flags, found == found_header::damaged);
    if (!said(!streams_.write_failed()))
      break;
    spans_.add({at, streams_.reached(), stream_});
    tally(at, v);
    read_error_told = v.fault == stream_fault::read_error;
    // A damaged stream whose index and footer hold ends where they say; another ends nobody
    // knows where, and what follows its header is searched.
    following = v.fault == stream_fault::none || v.ends_at != 0;
    from = v.fault == stream_fault::none ? v.at
           : following                   ? v.ends_at
                                         : at + xz::stream_header_size;
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

} // namespace

xz_walk_result walk_xz_file(byte_input &input, std::uint64_t file_size,
                            const xz_walk_options &options, listing_writer &out) {
#if LZMA2_CHUNKS_DECODES
  if (options.decode) {
    block_decoders decoders(input.descriptor(), 0);
    if (decoders.running())
      return file_walk(input, file_size, options, out, &decoders).run();
  }
#endif
  return file_walk(input, file_size, options, out, nullptr).run();
}
