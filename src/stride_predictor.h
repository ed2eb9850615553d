#ifndef LZMA2_CHUNKS_STRIDE_PREDICTOR_H
#define LZMA2_CHUNKS_STRIDE_PREDICTOR_H

#include "file_access.h"

#include <cstdint>

// Where the next chunk headers of a stream probably lie. Encoders write chunks of nearly one
// packed size, so headers follow at nearly even strides: the guess carries the mean of the
// recent strides forward, for as many headers as their spread keeps it on the right page.
class stride_predictor {
public:
  // Headers guessed ahead for hints. FUSE drops the reads ahead it is asked for once 9 of
  // its requests are pending.
  static constexpr unsigned farthest = 8;

  // Records the next header, which starts at `at`.
  void record(std::uint64_t at) { recent_[recorded_++ % (history + 1)] = at; }

  // How many headers past the last one recorded can be guessed, at most `most`, each to
  // within `tolerance` bytes: none until two are known, nor while the strides differ by that
  // much or more.
  unsigned reach(unsigned most = farthest, std::uint64_t tolerance = page_size) const;

  // Where the header `ahead` headers (1 to reach()) past the last one recorded probably
  // starts.
  std::uint64_t guess(unsigned ahead) const;
  // Where it starts at the earliest and at the latest, if the strides to it are each as
  // short or as long as the shortest and longest recent ones.
  std::uint64_t earliest(unsigned ahead) const { return newest() + ahead * shortest(); }
  std::uint64_t latest(unsigned ahead) const { return newest() + ahead * longest(); }

private:
  static constexpr unsigned history = 16; // strides

  unsigned strides() const {
    return recorded_ <= history ? static_cast<unsigned>(recorded_ - 1) : history;
  }
  std::uint64_t shortest() const;
  std::uint64_t longest() const;
  std::uint64_t newest() const { return recent_[(recorded_ - 1) % (history + 1)]; }
  std::uint64_t back(unsigned count) const {
    return recent_[(recorded_ - 1 - count) % (history + 1)];
  }

  std::uint64_t recent_[history + 1] = {}; // the last positions recorded, in a ring
  std::uint64_t recorded_ = 0;
};

#endif
