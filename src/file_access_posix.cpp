#include "file_access.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
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

// Poll waits only on what can become ready later: a pipe, a socket, a terminal. It finds a
// regular file or block device always ready, so a wait on one that answers EAGAIN, as some
// FUSE file systems do, would spin forever.
bool can_be_waited_on(int fd) {
  const int error = errno;
  struct stat st {};
  const bool waits =
      fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode));
  errno = error;
  return waits;
}

// Whether a call that failed is to be made again: it was interrupted by a signal, or the
// descriptor is non-blocking (as a parent process may leave standard input or output) and
// has now become ready.
bool worth_retrying(int fd, short ready_for) {
  if (errno == EINTR)
    return true;
  if ((errno != EAGAIN && errno != EWOULDBLOCK) || !can_be_waited_on(fd))
    return false;
  pollfd ready{fd, ready_for, 0};
  int n = 0;
  do {
    n = poll(&ready, 1, -1);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

} // namespace

std::FILE *open_input_file(const char *path, bool wait_for_writer) {
  if (std::strcmp(path, "-") == 0)
    return can_be_read(fileno(stdin)) ? stdin : nullptr;
  std::FILE *file = nullptr;
  if (wait_for_writer) {
    file = std::fopen(path, "rb");
  } else {
    const int fd = open(path, O_RDONLY | O_NONBLOCK);
    const int flags = fd < 0 ? -1 : fcntl(fd, F_GETFL);
    if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
      file = fdopen(fd, "rb");
    if (file == nullptr && fd >= 0)
      close(fd);
  }
  if (file != nullptr && !can_be_read(fileno(file))) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool is_terminal(int fd) {
  return isatty(fd) != 0;
}

std::optional<std::uint64_t> positional_size(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    return std::nullopt;
  if (S_ISREG(st.st_mode))
    return static_cast<std::uint64_t>(st.st_size);
  // A block device has no size in its status: its end is found by seeking there, and the
  // offset, which a parent process may share, is put back.
  const off_t here = lseek(fd, 0, SEEK_CUR);
  const off_t end = lseek(fd, 0, SEEK_END);
  lseek(fd, here, SEEK_SET);
  return static_cast<std::uint64_t>(end < 0 ? 0 : end);
}

std::ptrdiff_t read_cached_at(int fd, unsigned char *dst, std::size_t length, std::uint64_t at,
                              cache_state &state) {
#if defined(RWF_NOWAIT)
  // A read that must not wait fails with EAGAIN rather than wait on the storage. FUSE and
  // older kernels refuse the flag.
  iovec into{dst, length};
  ssize_t got = 0;
  do {
    got = preadv2(fd, &into, 1, static_cast<off_t>(at), RWF_NOWAIT);
  } while (got < 0 && errno == EINTR);
  state = got >= 0          ? cache_state::cached
          : errno == EAGAIN ? cache_state::not_cached
                            : cache_state::unknown;
  return got;
#else
  (void)fd, (void)dst, (void)length, (void)at;
  state = cache_state::unknown;
  errno = ENOSYS;
  return -1;
#endif
}

bool advise_will_need(int fd, std::uint64_t at, std::size_t length) {
#if defined(F_RDADVISE)
  radvisory advice{static_cast<off_t>(at), static_cast<int>(length)};
  return fcntl(fd, F_RDADVISE, &advice) != -1;
#elif defined(POSIX_FADV_WILLNEED)
  return posix_fadvise(fd, static_cast<off_t>(at), static_cast<off_t>(length),
                       POSIX_FADV_WILLNEED) == 0;
#else
  (void)fd, (void)at, (void)length;
  return false;
#endif
}

std::uint64_t monotonic_microseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
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
