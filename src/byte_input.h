#ifndef LZMA2_CHUNKS_BYTE_INPUT_H
#define LZMA2_CHUNKS_BYTE_INPUT_H

#include "file_access.h"
#include "read_ahead.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// Byte-at-a-time reading of a file descriptor with forward skips, the only access the walk
// needs. Regular files and block devices are read by position: just the header where
// headers are far apart, so a skipped payload is never read, whole pages where chunks are
// tiny; on slow storage the headers to come are asked for early. Anything else (a pipe, a
// terminal) is read in sequence and skipped bytes are read and discarded. Positions are absolute in
// the file, or count from the first byte read for a sequential input.
class byte_input {
public:
  explicit byte_input(int fd) : byte_input(fd, positional_size(fd)) {}
  byte_input(const byte_input &) = delete;
  byte_input &operator=(const byte_input &) = delete;

  std::uint64_t position() const { return position_; }
  // The descriptor read, for readers of its own beside this one.
  int descriptor() const { return fd_; }

  // The next byte, 0 to 255, or -1 at the end of the input, where the position stays.
  // After a read error every read gives -1.
  int read_byte() {
    const std::uint64_t in_window = position_ - window_start_;
    if (in_window < window_length_) {
      ++position_;
      return window_[in_window];
    }
    return read_byte_after_window();
  }

  // Moves the position forward; it may go past the end of the input.
  void skip(std::uint64_t count) { position_ += count; }
  // Sets the position; a sequential input cannot be moved back, and reads after such a move
  // fail.
  void seek(std::uint64_t absolute) { position_ = absolute; }

  // The bytes from the position on that have been read already, reading more when there are
  // none; 0 at the end or after an error. For a search, which looks at every byte: the
  // caller skips what it has looked at.
  std::size_t buffered(const unsigned char *&bytes) {
    if (position_ - window_start_ >= window_length_ && !fill_window())
      return 0;
    const auto in_window = static_cast<std::size_t>(position_ - window_start_);
    bytes = window_ + in_window;
    return window_length_ - in_window;
  }

  // True when reading count bytes from the position may have to wait for more input.
  bool may_wait(std::size_t count) const {
    return !positional_ && position_ + count > window_start_ + window_length_;
  }

  // True once a read has failed for a reason other than the end of the input.
  bool failed() const { return failed_; }

private:
  byte_input(int fd, std::optional<std::uint64_t> size)
      : fd_(fd), positional_(size.has_value()), ahead_(fd, size.value_or(0)) {}
  // Kept out of line so that the common path above stays small where it is inlined.
  int read_byte_after_window();
  // Reads until the window holds the byte at the position; false at the end or on error.
  bool fill_window();
  // Reads into the window from window_start_ until it holds the position; false at the end
  // or on error.
  bool read_window(std::size_t wanted);
  // One read into the window after its current bytes: by position or in sequence.
  bool read_more(std::size_t wanted);

  static constexpr std::size_t window_size = std::size_t{64} * 1024;

  // Aligned for a descriptor opened with O_DIRECT, which reads only into aligned memory.
  // First, so that a read past its end would spoil this reader's own state, which shows,
  // rather than some other object's.
  alignas(page_size) unsigned char window_[window_size];
  int fd_;
  bool positional_;
  bool failed_ = false;
  bool sequence_ended_ = false;
  bool aligned_only_ = false; // the file has refused a read that was not page-aligned
  bool read_any_ = false;     // some read has returned bytes
  bool ask_cache_ = false;    // the next read asks the cache alone first, for the read-ahead
  std::uint64_t position_ = 0;
  // The bytes at [window_start_, window_start_ + window_length_) of the input.
  std::uint64_t window_start_ = 0;
  std::size_t window_length_ = 0;
  std::size_t last_request_ = 0; // bytes the last dense window asked for, 0 after a lone header
  read_ahead ahead_;
};

#endif
