#include "file_access.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::FILE *open_input_file(const char *path) {
  if (std::strcmp(path, "-") == 0)
    return stdin;
  std::FILE *file = std::fopen(path, "rb");
  if (file == nullptr)
    return nullptr;
  // fopen opens a directory here, and every read of it then fails.
  struct stat st {};
  if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool is_terminal(std::FILE *stream) {
  return isatty(fileno(stream)) != 0;
}

bool reads_by_position(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

std::ptrdiff_t read_at(int fd, unsigned char *dst, std::size_t length, std::uint64_t at) {
  ssize_t got = 0;
  do {
    got = pread(fd, dst, length, static_cast<off_t>(at));
  } while (got < 0 && errno == EINTR);
  return got;
}

std::ptrdiff_t read_on(int fd, unsigned char *dst, std::size_t length) {
  ssize_t got = 0;
  do {
    got = read(fd, dst, length);
  } while (got < 0 && errno == EINTR);
  return got;
}
