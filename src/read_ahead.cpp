#include "read_ahead.h"

#include "chunk_header.h"
#include "file_access.h"

#include <algorithm>
#include <iterator>

namespace {

// A read from the cache takes a microsecond or two; one from a disk or over a network tens
// of microseconds or more.
constexpr std::uint64_t slow_read_microseconds = 20;
// One slow read may be a page the system dropped, or a timed read that lost the processor;
// two in a row are the storage.
constexpr unsigned slow_reads_that_show_slow_storage = 2;

} // namespace

bool read_ahead::look_at_read() {
  // The cache's own answer: a busy machine makes reads slow, but not pages uncached.
  if (!cache_unknown_)
    return true;
  timing_ = true;
  read_started_ = monotonic_microseconds();
  return false;
}

void read_ahead::cache_answer(cache_state state) {
  if (state == cache_state::unknown)
    cache_unknown_ = true;
  else
    note_read(state == cache_state::not_cached);
}

void read_ahead::finish_timing() {
  timing_ = false;
  note_read(monotonic_microseconds() - read_started_ >= slow_read_microseconds);
}

void read_ahead::note_read(bool slow) {
  slow_reads_in_a_row_ = slow ? slow_reads_in_a_row_ + 1 : 0;
  // Once the storage has shown itself slow it is taken to stay so for the walk: reads that
  // come fast then are the ones asked for early.
  asking_ = slow_reads_in_a_row_ >= slow_reads_that_show_slow_storage;
}

// A search through the whole ring, not a slot chosen by the page's number: strides of a
// whole number of pages would all fall on a few slots. It runs only on slow storage, where a
// read costs far more.
bool read_ahead::asked_lately(std::uint64_t page) {
  for (const std::uint64_t asked : asked_)
    if (asked == page + 1)
      return true;
  asked_[oldest_asked_] = page + 1;
  oldest_asked_ = (oldest_asked_ + 1) % std::size(asked_);
  return false;
}

void read_ahead::ask_for_next_headers() {
  for (unsigned ahead = 1, reach = headers_.reach(); ahead <= reach; ++ahead) {
    const std::uint64_t at = headers_.guess(ahead);
    if (at >= size_)
      return;
    if (asked_lately(at / page_size))
      continue;
    if (!advise_will_need(
            fd_, at,
            static_cast<std::size_t>(std::min<std::uint64_t>(longest_chunk_header, size_ - at)))) {
      refused_ = true;
      asking_ = false;
      return;
    }
  }
}
