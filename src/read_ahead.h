#ifndef LZMA2_CHUNKS_READ_AHEAD_H
#define LZMA2_CHUNKS_READ_AHEAD_H

#include "stride_predictor.h"

#include <cstdint>

// Keeps several header reads in flight on slow storage (a cold disk, a network or FUSE
// mount), where the walk would otherwise wait out one whole read for each header before it
// learns where the next one is. Once reads show that they wait on the storage, it asks the
// system to start reading the pages where the next headers probably lie. Until then it only
// times a read now and then, and it never changes what is read.
class read_ahead {
public:
  // For a file of `size` bytes, read by position through fd.
  read_ahead(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  // Around each read of a header on its own, at `at`, far from the bytes read before it.
  void before_header_read(std::uint64_t at) {
    headers_.record(at);
    if (asking_)
      ask_for_next_headers();
    else if (++reads_ % time_one_read_in == 0 && !refused_)
      start_timing();
  }
  void after_header_read() {
    if (timing_)
      finish_timing();
  }

private:
  // Each clock reading costs about 4% of a header read from the cache.
  static constexpr std::uint64_t time_one_read_in = 8;

  void start_timing();
  void finish_timing();
  void ask_for_next_headers();

  int fd_;
  std::uint64_t size_;
  stride_predictor headers_;
  std::uint64_t asked_[64] = {}; // page + 1 for pages asked for lately, by page modulo 64
  std::uint64_t reads_ = 0;      // header reads so far
  std::uint64_t read_started_ = 0;
  bool timing_ = false;              // this read
  unsigned slow_reads_in_a_row_ = 0; // of those timed
  bool asking_ = false;
  bool refused_ = false; // the system has declined the advice
};

#endif
