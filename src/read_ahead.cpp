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
// The first headers asked for were asked just before they were read; the next ones show
// whether asking brings the pages in time.
constexpr unsigned asked_reads_left_out = 2;
constexpr unsigned asked_reads_judged = 4;
// Handing a read to a thread costs some tens of microseconds; where a header read asked for
// still waits less than this, helpers would gain little.
constexpr std::uint64_t helpers_worth_microseconds = 500;
// Asking is judged again, since the first hints may be served before the mount falls behind,
// but not for long: a disk's noise should not turn it over later.
constexpr unsigned times_judged = 8;

} // namespace

bool read_ahead::look_at_read(timed what) {
  // The cache's own answer: a busy machine makes reads slow, but not pages uncached.
  if (!cache_unknown_) {
    looking_ = what;
    return true;
  }
  start_timing(what);
  return false;
}

void read_ahead::start_timing(timed what) {
  timing_ = what;
  read_started_ = monotonic_microseconds();
}

void read_ahead::cache_answer(cache_state state) {
  const bool asked = looking_ == timed::asked_read;
  if (state == cache_state::cached)
    asked ? note_asked_read(0) : note_read(false, 0);
  else if (state == cache_state::not_cached)
    start_timing(asked ? looking_ : timed::uncached_read); // the read from the storage
  else {
    cache_unknown_ = true;
    start_timing(looking_);
  }
  looking_ = timed::nothing;
}

void read_ahead::finish_timing() {
  const std::uint64_t waited = monotonic_microseconds() - read_started_;
  if (timing_ == timed::asked_read)
    note_asked_read(waited);
  else
    note_read(timing_ == timed::uncached_read || waited >= slow_read_microseconds, waited);
  timing_ = timed::nothing;
}

void read_ahead::note_read(bool slow, std::uint64_t microseconds) {
  slow_reads_in_a_row_ = slow ? slow_reads_in_a_row_ + 1 : 0;
  if (slow)
    quickest_slow_read_ = std::min(quickest_slow_read_, microseconds);
  // Once the storage has shown itself slow it is taken to stay so for the walk: reads that
  // come fast then are the ones asked for early.
  if (slow_reads_in_a_row_ >= slow_reads_that_show_slow_storage) {
    asking_ = true;
    judging_ = true;
  }
}

bool read_ahead::judge_read_of(std::uint64_t at) {
  return asked_lately(at / page_size) && ++asked_reads_ > asked_reads_left_out;
}

// Storage that takes many reads at once, as a disk does, has the pages asked for in the cache
// by the time the walk comes to them, or nearly. On a mount that serves one read at a time
// per open file a read asked for still waits about as long as one that was not: it waits
// behind the others asked for. Judged by the cache where it can tell, and by the quickest of
// a few such reads, which a walk that lost the processor cannot slow; not against the reads
// before asking, the first of a process, which a busy machine slows most.
void read_ahead::note_asked_read(std::uint64_t microseconds) {
  quickest_asked_read_ = std::min(quickest_asked_read_, microseconds);
  if (asked_reads_ < asked_reads_left_out + asked_reads_judged)
    return;
  asked_reads_ = asked_reads_left_out;
  judging_ = ++judged_ < times_judged;
  const std::uint64_t quickest = quickest_asked_read_;
  quickest_asked_read_ = UINT64_MAX;
  if (quickest >= helpers_worth_microseconds)
    start_helpers(std::min(quickest, quickest_slow_read_));
}

void read_ahead::start_helpers(std::uint64_t walk_read_microseconds) {
  judging_ = false;
  helping_ = helpers_.start(fd_, size_, walk_read_microseconds);
  // Without hints or helpers there is nothing to ask with.
  asking_ = helping_ || !refused_;
}

// A search through the whole ring, not a slot chosen by the page's number: strides of a
// whole number of pages would all fall on a few slots. It runs only on slow storage, where a
// read costs far more.
bool read_ahead::asked_lately(std::uint64_t page) const {
  return std::find(std::begin(asked_), std::end(asked_), page + 1) != std::end(asked_);
}

void read_ahead::remember_asked(std::uint64_t page) {
  asked_[oldest_asked_] = page + 1;
  oldest_asked_ = (oldest_asked_ + 1) % std::size(asked_);
}

void read_ahead::ask_for_next_headers(std::uint64_t at) {
  bool to_helpers = false;
  if (helping_) {
    const page_readers::status helpers = helpers_.state();
    // Helpers that stopped leave the hints, if the system takes them.
    helping_ = helpers != page_readers::status::stopped;
    asking_ = helping_ || !refused_;
    to_helpers = helpers == page_readers::status::reading;
    if (to_helpers)
      helpers_.walk_reached(at);
  }
  // While the helpers open the file, the walk goes on with hints: it never waits for them.
  if (!to_helpers && refused_)
    return;
  // A helper reads all the pages where a header may lie, a hint only the one guessed.
  const unsigned reach = to_helpers
                             ? headers_.reach(page_readers::helpers, page_readers::widest_guess)
                             : headers_.reach();
  for (unsigned ahead = 1; ahead <= reach; ++ahead) {
    const std::uint64_t next = headers_.guess(ahead);
    if (next >= size_)
      return;
    if (to_helpers) {
      if (!ask_helpers(ahead))
        return;
      continue;
    }
    if (asked_lately(next / page_size))
      continue;
    if (!ask_for(next))
      return;
    remember_asked(next / page_size);
  }
}

bool read_ahead::ask_helpers(unsigned ahead) {
  std::uint64_t first = headers_.earliest(ahead) / page_size;
  std::uint64_t last =
      (std::min(headers_.latest(ahead) + longest_chunk_header, size_) - 1) / page_size;
  while (first <= last && asked_lately(first))
    ++first;
  while (last > first && asked_lately(last))
    --last;
  if (first > last)
    return true;
  if (!helpers_.read_soon(first * page_size, (last - first + 1) * page_size))
    return false;
  for (std::uint64_t page = first; page <= last; ++page)
    remember_asked(page);
  return true;
}

bool read_ahead::ask_for(std::uint64_t at) {
  if (advise_will_need(
          fd_, at,
          static_cast<std::size_t>(std::min<std::uint64_t>(longest_chunk_header, size_ - at))))
    return true;
  refused_ = true;
  if (!helping_)
    start_helpers(quickest_slow_read_);
  return false;
}
