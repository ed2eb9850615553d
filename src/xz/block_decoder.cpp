#include "block_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <lzma.h>
#include <unistd.h>

struct block_decoder_memory {
  lzma_stream strm;
  unsigned char scratch[decode_scratch_size];
};

block_decoder_memory *new_block_decoder_memory() {
  auto *memory = static_cast<block_decoder_memory *>(std::malloc(sizeof(block_decoder_memory)));
  if (memory != nullptr)
    memory->strm = LZMA_STREAM_INIT;
  return memory;
}

void free_block_decoder_memory(block_decoder_memory *memory) {
  if (memory != nullptr)
    lzma_end(&memory->strm);
  std::free(memory);
}

namespace {

// Half of the scratch is read into, half decoded into.
constexpr std::size_t piece = decode_scratch_size / 2;

// Reads up to `length` bytes at `at`: fewer only where the file ends. -1 on a read error.
long long read_at(int fd, unsigned char *into, std::size_t length, std::uint64_t at) {
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = pread(fd, into + got, length - got, static_cast<off_t>(at + got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return -1;
    if (n == 0)
      break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(got);
}

decode_result ended(decode_outcome outcome, std::uint64_t at, std::uint64_t decoded) {
  decode_result r;
  r.outcome = outcome;
  r.gave_up_at = at;
  r.decoded = decoded;
  return r;
}

// The options lzma_block_header_decode allocated; free() as liblzma before 5.4, which has
// no lzma_filters_free, needs it done.
void free_filter_options(lzma_filter *filters) {
  for (std::size_t i = 0; filters[i].id != LZMA_VLI_UNKNOWN; ++i) {
    std::free(filters[i].options);
    filters[i].options = nullptr;
  }
}

// Feeds the block's data, from data_at to the block's end, to a decoder set up for it, whose
// input holds what was read before `at`.
decode_result run(int fd, const block_span &span, std::uint64_t data_at, std::uint64_t at,
                  lzma_stream &strm, const lzma_block &block, unsigned char *scratch) {
  unsigned char *const in = scratch;
  unsigned char *const out = scratch + piece;
  std::uint64_t decoded = 0;
  lzma_action action = LZMA_RUN;
  for (;;) {
    if (strm.avail_in == 0 && at < span.end) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece, span.end - at));
      const long long got = read_at(fd, in, want, at);
      if (got <= 0)
        return ended(got < 0 ? decode_outcome::read_error : decode_outcome::cut_short, at, decoded);
      strm.next_in = in;
      strm.avail_in = static_cast<std::size_t>(got);
      at += static_cast<std::uint64_t>(got);
    }
    if (strm.avail_in == 0 && at == span.end)
      action = LZMA_FINISH;
    strm.next_out = out;
    strm.avail_out = piece;
    const lzma_ret ret = lzma_code(&strm, action);
    decoded += piece - strm.avail_out;
    const std::uint64_t consumed_to = data_at + strm.total_in;
    switch (ret) {
    case LZMA_OK:
      continue;
    case LZMA_STREAM_END:
      // A block that ends before the span does disagrees with the walk's sizes.
      return ended(consumed_to == span.end ? decode_outcome::intact : decode_outcome::data_error,
                   consumed_to == span.end ? 0 : consumed_to, decoded);
    case LZMA_BUF_ERROR: {
      // Everything up to the end was taken and the block goes on: past the end of the file
      // it is cut short, otherwise its data runs past where the walk ended it.
      const long long more = read_at(fd, in, 1, span.end);
      if (more <= 0)
        return ended(more < 0 ? decode_outcome::read_error : decode_outcome::cut_short, span.end,
                     decoded);
      return ended(decode_outcome::data_error, span.end, decoded);
    }
    case LZMA_DATA_ERROR: {
      // liblzma says the same for a check that does not match; then the whole check field,
      // after the data and its padding, has been taken.
      const std::uint64_t check = lzma_check_size(block.check);
      const bool sized = block.compressed_size != LZMA_VLI_UNKNOWN;
      if (check > 0 && sized &&
          strm.total_in == ((block.compressed_size + 3) & ~std::uint64_t{3}) + check)
        return ended(decode_outcome::check_fails, consumed_to, decoded);
      return ended(decode_outcome::data_error, consumed_to, decoded);
    }
    case LZMA_MEM_ERROR:
    case LZMA_OPTIONS_ERROR:
      return ended(decode_outcome::unsupported, consumed_to, decoded);
    default:
      return ended(decode_outcome::data_error, consumed_to, decoded);
    }
  }
}

} // namespace

decode_result decode_block(int fd, const block_span &span, block_decoder_memory &memory) {
  unsigned char *const scratch = memory.scratch;
  // The header and as much data as the scratch takes in one read: a small block is read whole.
  const long long got =
      read_at(fd, scratch,
              static_cast<std::size_t>(std::min<std::uint64_t>(piece, span.end - span.header_at)),
              span.header_at);
  if (got <= 0)
    return ended(got < 0 ? decode_outcome::read_error : decode_outcome::cut_short, span.header_at,
                 0);
  // 0 is the index indicator: no block begins there.
  if (scratch[0] == 0)
    return ended(decode_outcome::data_error, span.header_at, 0);
  const std::uint32_t header_size = lzma_block_header_size_decode(scratch[0]);
  if (got < static_cast<long long>(header_size))
    return ended(got < 0 ? decode_outcome::read_error : decode_outcome::cut_short, span.header_at,
                 0);

  lzma_filter filters[LZMA_FILTERS_MAX + 1];
  lzma_block block{};
  block.version = 1;
  block.check = static_cast<lzma_check>(span.check_type);
  block.header_size = header_size;
  block.filters = filters;
  lzma_ret ret = lzma_block_header_decode(&block, nullptr, scratch);
  if (ret != LZMA_OK) // liblzma frees the options itself then
    return ended(ret == LZMA_OPTIONS_ERROR || ret == LZMA_MEM_ERROR ? decode_outcome::unsupported
                                                                    : decode_outcome::data_error,
                 span.header_at, 0);
  // liblzma does not verify a check it cannot compute; said so, the data is still judged.
  const bool check_known = lzma_check_is_supported(block.check) != 0;
  block.ignore_check = check_known ? 0 : 1;
  lzma_stream &strm = memory.strm;
  // The dictionary is allocated here, up to 4 GiB: malloc commits only what is written. The
  // stream's decoder is set up again, and keeps its dictionary where the size is the same.
  ret = lzma_block_decoder(&strm, &block);
  free_filter_options(filters); // the decoder keeps what it needs of them
  decode_result r;
  strm.next_in = scratch + header_size;
  strm.avail_in = static_cast<std::size_t>(got) - header_size;
  if (ret == LZMA_OK)
    r = run(fd, span, span.header_at + header_size,
            span.header_at + static_cast<std::uint64_t>(got), strm, block, scratch);
  else
    r = ended(ret == LZMA_OPTIONS_ERROR || ret == LZMA_MEM_ERROR ? decode_outcome::unsupported
                                                                 : decode_outcome::data_error,
              span.header_at, 0);
  if (r.outcome == decode_outcome::intact && !check_known)
    r.outcome = decode_outcome::unsupported;
  return r;
}
