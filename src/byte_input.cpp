#include "byte_input.h"

#include "chunk_header.h"
#include "file_access.h"

#include <algorithm>
#include <cerrno>

namespace {

// A positional read must end at or below the largest off_t, so no file has a byte that can
// be read from here on.
constexpr std::uint64_t addressable_end = INT64_MAX;

} // namespace

int byte_input::read_byte_after_window() {
  return fill_window() ? window_[position_++ - window_start_] : -1;
}

// A header far from the last window is read alone: a read costs less the fewer bytes it
// copies, and the payload is never read. A position just past the last window means the
// chunks are tiny here, so whole pages are read instead, twice as many each time.
bool byte_input::fill_window() {
  if (failed_)
    return false;
  if (!positional_) {
    // What has gone by cannot be read again.
    if (position_ < window_start_) {
      failed_ = true;
      return false;
    }
    while (!sequence_ended_ && position_ - window_start_ >= window_length_) {
      window_start_ += window_length_;
      window_length_ = 0;
      if (!read_more(window_size))
        return false;
    }
    return !sequence_ended_;
  }
  if (position_ >= addressable_end)
    return false;
  const std::uint64_t window_end = window_start_ + window_length_;
  const std::uint64_t page_start = position_ & ~std::uint64_t{page_size - 1};
  // Some files, such as /proc/kpageflags or one opened with O_DIRECT, refuse reads that
  // are not whole aligned blocks; whole pages suit them.
  const bool dense =
      aligned_only_ || (position_ >= window_end && position_ - window_end < page_size);
  std::size_t wanted = longest_chunk_header;
  window_start_ = position_;
  if (dense) {
    last_request_ = std::min(std::max(2 * last_request_, page_size), window_size);
    // What was read is not read again: after a short read the window goes on from its
    // end, and still ends on a page boundary.
    window_start_ = aligned_only_ ? page_start : std::max(page_start, window_end);
    wanted = last_request_ - static_cast<std::size_t>(window_start_ - page_start);
  } else {
    last_request_ = 0;
  }
  std::uint64_t readable = addressable_end - window_start_;
  if (aligned_only_)
    readable &= ~std::uint64_t{page_size - 1};
  wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, readable));
  ask_cache_ = !dense && ahead_.before_header_read(position_);
  const bool filled = read_window(wanted);
  const bool refused_unaligned = !filled && failed_ && errno == EINVAL;
  // A file opened as a stream, as FUSE can, refuses every read by position: it is read in
  // sequence instead, like a pipe, from its first byte.
  if (!filled && failed_ && errno == ESPIPE && !read_any_) {
    positional_ = false;
    failed_ = false;
    window_start_ = 0;
    window_length_ = 0;
    return fill_window();
  }
  if (!dense)
    ahead_.after_header_read();
  if (refused_unaligned && !aligned_only_) {
    aligned_only_ = true;
    failed_ = false;
    return fill_window();
  }
  // A read made larger than the header needs may fail on bytes nobody needs, such as a bad
  // block further on: only the header's own bytes failing is a read error.
  if (!filled && failed_ && !aligned_only_ &&
      (window_start_ != position_ || wanted > longest_chunk_header)) {
    failed_ = false;
    last_request_ = 0;
    window_start_ = position_;
    return read_window(longest_chunk_header);
  }
  return filled;
}

// A short read is not the end: FUSE, NFS and procfs return fewer bytes than asked for. But
// a file that takes only whole blocks returns fewer only at its end, and would refuse a read
// from where that one stopped.
bool byte_input::read_window(std::size_t wanted) {
  window_length_ = 0;
  while (position_ - window_start_ >= window_length_) {
    const bool at_aligned_end = aligned_only_ && window_length_ != 0;
    if (at_aligned_end || !read_more(wanted - window_length_))
      return false;
  }
  return true;
}

bool byte_input::read_more(std::size_t wanted) {
  unsigned char *const dst = window_ + window_length_;
  const std::uint64_t at = window_start_ + window_length_;
  std::ptrdiff_t got = -1;
  if (ask_cache_) {
    // Read from the cache alone first, to learn whether the storage is slow: a read that
    // finds its bytes there costs no more than a plain one.
    ask_cache_ = false;
    cache_state state = cache_state::unknown;
    got = read_cached_at(fd_, dst, wanted, at, state);
    ahead_.cache_answer(state);
  }
  if (got < 0)
    got = positional_ ? read_at(fd_, dst, wanted, at) : read_on(fd_, dst, wanted);
  if (got < 0) {
    failed_ = true;
    window_length_ = 0;
  }
  sequence_ended_ = got == 0 && !positional_;
  if (got <= 0)
    return false;
  read_any_ = true;
  window_length_ += static_cast<std::size_t>(got);
  return true;
}
