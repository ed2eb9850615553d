#include "file_access.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Open for reading and no directory: fopen opens a directory here, and every read of it
// then fails.
bool can_be_read(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  struct stat st {};
  return flags >= 0 && (flags & O_ACCMODE) != O_WRONLY && fstat(fd, &st) == 0 &&
         !S_ISDIR(st.st_mode);
}

// Whether a call that failed is to be made again: it was interrupted by a signal, or the
// descriptor is non-blocking (as a parent process may leave standard input or output) and
// has now become ready.
bool worth_retrying(int fd, short ready_for) {
  if (errno == EINTR)
    return true;
  if (errno != EAGAIN && errno != EWOULDBLOCK)
    return false;
  pollfd ready{fd, ready_for, 0};
  int n = 0;
  do {
    n = poll(&ready, 1, -1);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

} // namespace

std::FILE *open_input_file(const char *path) {
  if (std::strcmp(path, "-") == 0)
    return can_be_read(fileno(stdin)) ? stdin : nullptr;
  std::FILE *file = std::fopen(path, "rb");
  if (file != nullptr && !can_be_read(fileno(file))) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool is_terminal(int fd) {
  return isatty(fd) != 0;
}

bool reads_by_position(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

std::ptrdiff_t read_at(int fd, unsigned char *dst, std::size_t length, std::uint64_t at) {
  ssize_t got = 0;
  do {
    got = pread(fd, dst, length, static_cast<off_t>(at));
  } while (got < 0 && worth_retrying(fd, POLLIN));
  return got;
}

std::ptrdiff_t read_on(int fd, unsigned char *dst, std::size_t length) {
  ssize_t got = 0;
  do {
    got = read(fd, dst, length);
  } while (got < 0 && worth_retrying(fd, POLLIN));
  return got;
}

bool write_all(int fd, const char *data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0 && worth_retrying(fd, POLLOUT))
      continue;
    if (written <= 0)
      return false;
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}
