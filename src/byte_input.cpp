#include "byte_input.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t off_t_max = static_cast<std::uint64_t>(INT64_MAX);

} // namespace

std::FILE *open_input_file(const char *path) {
  std::FILE *file = std::fopen(path, "rb");
  if (file == nullptr)
    return nullptr;
  struct stat st {};
  if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

byte_input::byte_input(int fd) : fd_(fd) {
  struct stat st {};
  positional_ = fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

void byte_input::seek(std::uint64_t absolute) {
  if (positional_ || absolute >= position_)
    position_ = absolute;
}

int byte_input::read_byte_slow() {
  if (failed_)
    return -1;
  const bool filled = positional_ ? fill_window_at_position() : fill_window_by_reading_on();
  if (!filled)
    return -1;
  return window_[position_++ - window_start_];
}

// A header far from the last window is read alone: a pread costs less the fewer bytes it
// copies, and the payload is never read. A position just past the last window means the
// chunks are tiny here, so whole pages are read instead, twice as many each time.
bool byte_input::fill_window_at_position() {
  const std::uint64_t page_start = position_ & ~static_cast<std::uint64_t>(page_size - 1);
  // Past what pread can address no file has bytes: that is the end, not an error.
  if (page_start > off_t_max - page_size)
    return false;
  const std::uint64_t window_end = window_start_ + window_length_;
  const bool dense =
      window_length_ != 0 && position_ >= window_end && position_ - window_end < page_size;
  std::uint64_t start = position_;
  std::size_t length = max_header_length;
  if (dense) {
    start = page_start;
    length = std::min(std::max(2 * read_length_, page_size), stream_buffer_size);
  }
  if (length > off_t_max - start)
    length = static_cast<std::size_t>(off_t_max - start);
  ssize_t got;
  do {
    got = pread(fd_, window_, length, static_cast<off_t>(start));
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    failed_ = true;
    return false;
  }
  read_length_ = length;
  window_start_ = start;
  window_length_ = static_cast<std::size_t>(got);
  return position_ - window_start_ < window_length_;
}

// Reads on, discarding, until the window holds the byte at the position.
bool byte_input::fill_window_by_reading_on() {
  while (!stream_ended_ && position_ - window_start_ >= window_length_) {
    ssize_t got;
    do {
      got = read(fd_, window_, stream_buffer_size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      failed_ = true;
      return false;
    }
    window_start_ += window_length_;
    window_length_ = static_cast<std::size_t>(got);
    stream_ended_ = got == 0;
  }
  return !stream_ended_;
}
