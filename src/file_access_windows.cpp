#include "file_access.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

HANDLE handle_of(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

} // namespace

std::FILE *open_input_file(const char *path) {
  if (std::strcmp(path, "-") == 0) {
    // In text mode a 1A byte would end the input and CR LF would lose its CR.
    _setmode(_fileno(stdin), _O_BINARY);
    return stdin;
  }
  // Windows refuses to open a directory as a file, so nothing more is needed here.
  return std::fopen(path, "rb");
}

bool is_terminal(std::FILE *stream) {
  return _isatty(_fileno(stream)) != 0;
}

bool reads_by_position(int fd) {
  return GetFileType(handle_of(fd)) == FILE_TYPE_DISK;
}

std::ptrdiff_t read_at(int fd, unsigned char *dst, std::size_t length, std::uint64_t at) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  DWORD got = 0;
  if (ReadFile(handle_of(fd), dst, static_cast<DWORD>(length), &got, &where))
    return static_cast<std::ptrdiff_t>(got);
  if (GetLastError() == ERROR_HANDLE_EOF)
    return 0;
  errno = GetLastError() == ERROR_INVALID_PARAMETER ? EINVAL : EIO;
  return -1;
}

std::ptrdiff_t read_on(int fd, unsigned char *dst, std::size_t length) {
  // The C runtime's read turns a pipe whose writer has gone into the end of the input.
  return _read(fd, dst, static_cast<unsigned>(length));
}
