#ifndef LZMA2_CHUNKS_READ_AHEAD_H
#define LZMA2_CHUNKS_READ_AHEAD_H

#include "file_access.h"
#include "page_readers.h"
#include "stride_predictor.h"

#include <cstdint>

// Keeps several header reads in flight on slow storage (a cold disk, a network or FUSE
// mount), where the walk would otherwise wait out one whole read for each header before it
// learns where the next one is. Once the storage shows itself slow, it asks the system to
// start reading the pages where the next headers probably lie. Where the headers asked for
// still come about as slowly as before, the storage serves one read at a time per open
// file, and helper threads with descriptors of their own read those pages instead. Until
// the storage shows itself slow it only looks at a read now and then, and it never changes
// what is read.
class read_ahead {
public:
  // For a file of `size` bytes, read by position through fd.
  read_ahead(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  // Around each read of a header on its own, at `at`, far from the bytes read before it.
  // True when that read is to be made from the cache alone first (read_cached_at), to learn
  // whether the storage is slow or a page asked for has come; what it found then goes to
  // cache_answer.
  bool before_header_read(std::uint64_t at) {
    headers_.record(at);
    if (asking_) {
      const bool judged = judging_ && judge_read_of(at);
      ask_for_next_headers(at);
      return judged && look_at_read(timed::asked_read);
    }
    if ((++reads_ % look_at_one_read_in == 0 || reads_ <= 2 || slow_reads_in_a_row_ > 0) &&
        !refused_)
      return look_at_read(timed::look);
    return false;
  }
  void cache_answer(cache_state state);
  void after_header_read() {
    if (timing_ != timed::nothing)
      finish_timing();
  }

private:
  // A look costs a clock reading, about 4% of a header read from the cache, or nothing
  // where the read itself asks the cache.
  static constexpr std::uint64_t look_at_one_read_in = 8;

  enum class timed {
    nothing,
    look,          // a read that the clock alone tells slow or not
    uncached_read, // a read of bytes the cache did not hold
    asked_read,    // a read of a header asked for early, judged by how long it still waits
  };

  // True to have the read ask the cache; where the system cannot say, as on FUSE, times
  // the read instead.
  bool look_at_read(timed what);
  void start_timing(timed what);
  void finish_timing();
  // Counts a read that waited on the storage, or one that did not, and how long it took.
  void note_read(bool slow, std::uint64_t microseconds);
  // True when the read at `at` is one of a header asked for early that tells whether asking
  // brings the pages in time.
  bool judge_read_of(std::uint64_t at);
  // Counts how long such a read still waited on the storage: 0 when its page had come.
  void note_asked_read(std::uint64_t microseconds);
  // Their reads are judged against the walk's own from the storage, which take this long.
  void start_helpers(std::uint64_t walk_read_microseconds);
  void ask_for_next_headers(std::uint64_t at);
  // Hints that the header at `at` will be read; false when the system declines.
  bool ask_for(std::uint64_t at);
  // Has a helper read the pages where the header `ahead` headers on may lie, those not asked
  // for lately; false when the helpers take no more now.
  bool ask_helpers(unsigned ahead);

  int fd_;
  std::uint64_t size_;
  stride_predictor headers_;
  page_readers helpers_;
  // True when the page was asked for lately.
  bool asked_lately(std::uint64_t page) const;
  void remember_asked(std::uint64_t page);

  // page + 1 of the pages asked for lately, the oldest replaced first: each page is asked
  // for about once, whatever the stride, as the guesses for it come again and again.
  std::uint64_t asked_[128] = {};
  unsigned oldest_asked_ = 0;
  std::uint64_t reads_ = 0; // header reads so far
  std::uint64_t read_started_ = 0;
  timed looking_ = timed::nothing;   // what the cache's answer is for
  timed timing_ = timed::nothing;    // this read
  bool cache_unknown_ = false;       // the system cannot say what is cached: reads are timed
  unsigned slow_reads_in_a_row_ = 0; // of those looked at
  // Microseconds the quickest of those took: a read that also lost the processor says less.
  std::uint64_t quickest_slow_read_ = UINT64_MAX;
  unsigned asked_reads_ = 0;                       // reads of headers asked for, while judging
  unsigned judged_ = 0;                            // times asking was judged
  std::uint64_t quickest_asked_read_ = UINT64_MAX; // of those judged this time
  bool asking_ = false;
  bool judging_ = false;
  bool helping_ = false; // the helpers read the pages asked for, not the system
  bool refused_ = false; // the system has declined the advice
};

#endif
