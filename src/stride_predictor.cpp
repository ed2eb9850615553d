#include "stride_predictor.h"

#include "file_access.h"

#include <algorithm>

unsigned stride_predictor::reach(unsigned most) const {
  if (recorded_ < 2)
    return 0;
  std::uint64_t shortest = UINT64_MAX;
  std::uint64_t longest = 0;
  for (unsigned i = 0; i < strides(); ++i) {
    const std::uint64_t stride = back(i) - back(i + 1);
    shortest = std::min(shortest, stride);
    longest = std::max(longest, stride);
  }
  // No run of chunks has strides this long; refusing them keeps the guesses from wrapping.
  if (longest >= std::uint64_t{1} << 32)
    return 0;
  // Each header further on adds the spread again to how far the guess may be off.
  return static_cast<unsigned>(std::min<std::uint64_t>(most, page_size / (longest - shortest + 1)));
}

std::uint64_t stride_predictor::guess(unsigned ahead) const {
  const std::uint64_t mean = (newest() - back(strides())) / strides();
  return newest() + ahead * mean;
}
