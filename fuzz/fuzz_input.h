#ifndef LZMA2_CHUNKS_FUZZ_INPUT_H
#define LZMA2_CHUNKS_FUZZ_INPUT_H

// How a fuzz input is laid out, shared by the target and the corpus generator.
//
// Bytes 0-1, little endian, pick the start offset. With bit 15 clear they are the offset
// itself (0 to 7FFF), so it mostly lands inside the data. With bit 15 set, bytes 2-5 give a
// 32-bit start offset S, and the data is placed in a sparse file at S rounded down to 64 KiB
// when that is below 2 GiB, so positions far from 0 get walked too. The rest is the data.
// Missing header bytes count as 0.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz_input {

// What `write` writes to fd, a file of its own that this closes: the output of a walk, read
// back to be checked.
template <typename Write> std::string written_to(int fd, Write write) {
  write(fd);
  std::string text(static_cast<std::size_t>(lseek(fd, 0, SEEK_CUR)), '\0');
  if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
    std::abort();
  close(fd);
  return text;
}

constexpr std::uint64_t below_2_gib = 0x80000000u;

struct layout {
  std::uint64_t start_offset = 0;
  std::uint64_t data_position = 0; // where the data sits in the file
  const std::uint8_t *data = nullptr;
  std::size_t data_size = 0;
};

inline layout decode(const std::uint8_t *input, std::size_t size) {
  auto byte_at = [&](std::size_t i) -> std::uint32_t { return i < size ? input[i] : 0u; };
  const bool far = (byte_at(1) & 0x80u) != 0;
  const std::size_t header = far ? 6 : 2;
  layout l;
  l.start_offset = far ? byte_at(2) | byte_at(3) << 8 | byte_at(4) << 16 | byte_at(5) << 24
                       : byte_at(0) | byte_at(1) << 8;
  if (far && l.start_offset < below_2_gib)
    l.data_position = l.start_offset & ~std::uint64_t{0xFFFF};
  l.data = header < size ? input + header : nullptr;
  l.data_size = header < size ? size - header : 0;
  return l;
}

// The input that walks data from start_offset, 0 to 7FFF.
inline std::string small_offset(std::uint16_t start_offset, const std::string &data) {
  return std::string{static_cast<char>(start_offset), static_cast<char>(start_offset >> 8 & 0x7F)} +
         data;
}

// The input that walks from start_offset with the data at start_offset rounded down to
// 64 KiB (or at 0 from 2 GiB on).
inline std::string large_offset(std::uint32_t start_offset, const std::string &data) {
  std::string header{'\0', static_cast<char>(0x80)};
  for (int shift = 0; shift < 32; shift += 8)
    header += static_cast<char>(start_offset >> shift);
  return header + data;
}

} // namespace fuzz_input

#endif
