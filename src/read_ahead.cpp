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
// what asking brings.
constexpr unsigned asked_reads_left_out = 2;
constexpr unsigned asked_reads_judged = 4;
// Handing a read to a thread costs some tens of microseconds; where a header costs less than
// this, helpers would gain little.
constexpr std::uint64_t helpers_worth_microseconds = 500;
// Asking is judged again, since the first hints may be served before the mount falls behind,
// but not for long: a disk's noise should not turn it over later.
constexpr unsigned times_judged = 8;

} // namespace

bool read_ahead::look_at_read() {
  // The cache's own answer: a busy machine makes reads slow, but not pages uncached.
  if (!cache_unknown_)
    return true;
  start_timing(timed::look);
  return false;
}

void read_ahead::start_timing(timed what) {
  timing_ = what;
  read_started_ = monotonic_microseconds();
}

void read_ahead::cache_answer(cache_state state) {
  if (state == cache_state::unknown)
    cache_unknown_ = true;
  else if (state == cache_state::cached)
    note_read(false, 0);
  else
    start_timing(timed::uncached_read); // the read from the storage that follows
}

void read_ahead::finish_timing() {
  const std::uint64_t waited = monotonic_microseconds() - read_started_;
  note_read(timing_ == timed::uncached_read || waited >= slow_read_microseconds, waited);
  timing_ = timed::nothing;
}

void read_ahead::note_read(bool slow, std::uint64_t microseconds) {
  slow_reads_in_a_row_ = slow ? slow_reads_in_a_row_ + 1 : 0;
  quickest_slow_read_ = slow ? std::min(quickest_slow_read_, microseconds) : UINT64_MAX;
  // Once the storage has shown itself slow it is taken to stay so for the walk: reads that
  // come fast then are the ones asked for early.
  if (slow_reads_in_a_row_ >= slow_reads_that_show_slow_storage) {
    asking_ = true;
    judging_ = true;
  }
}

// Storage that takes many reads at once, as a disk does, serves the headers asked for by
// the time the walk comes to them, or nearly: the walk goes on at a fraction of a read per
// header. On a mount that serves one read at a time per open file each header still costs
// a whole read, or more: the read waits behind those asked for, and so may the asking.
void read_ahead::judge_asking(std::uint64_t at) {
  const std::uint64_t now = monotonic_microseconds();
  const std::uint64_t since_last_header = now - last_header_;
  last_header_ = now;
  if (!asked_lately(at / page_size) || ++asked_reads_ <= asked_reads_left_out)
    return;
  asked_wait_ += since_last_header;
  if (asked_reads_ < asked_reads_left_out + asked_reads_judged)
    return;
  asked_reads_ = asked_reads_left_out;
  judging_ = ++judged_ < times_judged;
  const std::uint64_t mean = asked_wait_ / asked_reads_judged;
  asked_wait_ = 0;
  if (mean >= helpers_worth_microseconds && mean * 10 >= quickest_slow_read_ * 8)
    start_helpers();
}

void read_ahead::start_helpers() {
  helping_ = helpers_.start(fd_, size_);
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
  if (helping_ && !helpers_.running()) {
    // Helpers that failed leave the hints, if the system takes them.
    helping_ = false;
    asking_ = !refused_;
    if (!asking_)
      return;
  }
  if (helping_)
    helpers_.walk_reached(at);
  else if (judging_)
    judge_asking(at);
  // A helper reads all the pages where a header may lie, a hint only the one guessed.
  const unsigned reach = helping_
                             ? headers_.reach(page_readers::helpers, page_readers::widest_guess)
                             : headers_.reach();
  for (unsigned ahead = 1; ahead <= reach; ++ahead) {
    const std::uint64_t next = headers_.guess(ahead);
    if (next >= size_)
      return;
    if (helping_) {
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
  judging_ = false;
  start_helpers();
  return false;
}
