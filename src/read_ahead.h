#ifndef LZMA2_CHUNKS_READ_AHEAD_H
#define LZMA2_CHUNKS_READ_AHEAD_H

#include "file_access.h"
#include "stride_predictor.h"

#include <cstdint>

// Keeps several header reads in flight on slow storage (a cold disk, a network or FUSE
// mount), where the walk would otherwise wait out one whole read for each header before it
// learns where the next one is. Once the storage shows itself slow, it asks the system to
// start reading the pages where the next headers probably lie. Until then it only looks at
// a read now and then, and it never changes what is read.
class read_ahead {
public:
  // For a file of `size` bytes, read by position through fd.
  read_ahead(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  // Around each read of a header on its own, at `at`, far from the bytes read before it.
  // True when that read is to be made from the cache alone first (read_cached_at), to learn
  // whether the storage is slow; what it found then goes to cache_answer.
  bool before_header_read(std::uint64_t at) {
    headers_.record(at);
    if (asking_)
      ask_for_next_headers();
    else if (++reads_ % look_at_one_read_in == 0 && !refused_)
      return look_at_read();
    return false;
  }
  void cache_answer(cache_state state);
  void after_header_read() {
    if (timing_)
      finish_timing();
  }

private:
  // A look costs a clock reading, about 4% of a header read from the cache, or nothing
  // where the read itself asks the cache.
  static constexpr std::uint64_t look_at_one_read_in = 8;

  // True to have the read ask the cache; where the system cannot say, as on FUSE, times
  // the read instead.
  bool look_at_read();
  void finish_timing();
  // Counts a read that waited on the storage, or one that did not.
  void note_read(bool slow);
  void ask_for_next_headers();

  int fd_;
  std::uint64_t size_;
  stride_predictor headers_;
  // True when the page was asked for lately; else records that it is.
  bool asked_lately(std::uint64_t page);

  // page + 1 of the pages asked for lately, the oldest replaced first: each page is asked
  // for about once, whatever the stride, as the guesses for it come again and again.
  std::uint64_t asked_[64] = {};
  unsigned oldest_asked_ = 0;
  std::uint64_t reads_ = 0; // header reads so far
  std::uint64_t read_started_ = 0;
  bool timing_ = false;              // this read
  bool cache_unknown_ = false;       // the system cannot say what is cached: reads are timed
  unsigned slow_reads_in_a_row_ = 0; // of those looked at
  bool asking_ = false;
  bool refused_ = false; // the system has declined the advice
};

#endif
