#include "stride_predictor.h"

#include "file_access.h"

#include <algorithm>

unsigned stride_predictor::reach(unsigned most, std::uint64_t tolerance) const {
  if (recorded_ < 2)
    return 0;
  const std::uint64_t longest_stride = longest();
  // No run of chunks has strides this long; refusing them keeps the guesses from wrapping.
  if (longest_stride >= std::uint64_t{1} << 32)
    return 0;
  // Each header further on adds the spread again to how far the guess may be off.
  return static_cast<unsigned>(
      std::min<std::uint64_t>(most, tolerance / (longest_stride - shortest() + 1)));
}

std::uint64_t stride_predictor::shortest() const {
  std::uint64_t shortest = UINT64_MAX;
  for (unsigned i = 0; i < strides(); ++i)
    shortest = std::min(shortest, back(i) - back(i + 1));
  return shortest;
}

std::uint64_t stride_predictor::longest() const {
  std::uint64_t longest = 0;
  for (unsigned i = 0; i < strides(); ++i)
    longest = std::max(longest, back(i) - back(i + 1));
  return longest;
}

std::uint64_t stride_predictor::guess(unsigned ahead) const {
  const std::uint64_t mean = (newest() - back(strides())) / strides();
  return newest() + ahead * mean;
}
