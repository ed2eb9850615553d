#include "file_access.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

HANDLE handle_of(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool is_surrogate(std::uint32_t unit, std::uint32_t first) {
  return unit >= first && unit < first + 0x400;
}

// UTF-8, except that a surrogate without its pair, which a Windows name may hold, is kept
// as the three bytes it would take as a code point of its own.
void append_utf8(std::string &out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  static const unsigned char lead[] = {0, 0xC0, 0xE0, 0xF0};
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(lead[tail] | c >> (6 * tail));
  for (int i = tail - 1; i >= 0; --i)
    out += static_cast<char>(0x80u | (c >> (6 * i) & 0x3Fu));
}

std::string utf8_from_wide(const wchar_t *wide) {
  std::string out;
  for (; *wide != 0; ++wide) {
    std::uint32_t c = static_cast<std::uint16_t>(*wide);
    const auto next = static_cast<std::uint16_t>(wide[1]);
    if (is_surrogate(c, 0xD800) && is_surrogate(next, 0xDC00)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++wide;
    }
    append_utf8(out, c);
  }
  return out;
}

// The inverse of utf8_from_wide, for text it made.
std::wstring wide_from_utf8(const char *text) {
  std::wstring out;
  for (const auto *p = reinterpret_cast<const unsigned char *>(text); *p != 0;) {
    const unsigned lead = *p++;
    int tail = lead < 0xC0 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    std::uint32_t c = tail == 0 ? lead : lead & (0x3Fu >> tail);
    for (; tail > 0 && (*p & 0xC0u) == 0x80u; --tail, ++p)
      c = c << 6 | (*p & 0x3Fu);
    if (c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      c = 0xDC00 + ((c - 0x10000) & 0x3FF);
    }
    out += static_cast<wchar_t>(c);
  }
  return out;
}

// Whether the handle may read: a standard input opened only for writing may not. A read of
// no bytes tells, and cannot wait on a file or on a device other than a console; on a pipe
// or console it could, and the reads themselves will tell there.
bool opened_for_reading(HANDLE handle) {
  DWORD mode = 0;
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_PIPE || (type == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0))
    return true;
  char none = 0;
  DWORD got = 0;
  if (ReadFile(handle, &none, 0, &got, nullptr))
    return true;
  const DWORD error = GetLastError();
  return error != ERROR_ACCESS_DENIED && error != ERROR_INVALID_HANDLE;
}

// No handle at all, as when standard input was closed, one open only for writing, or a
// directory.
bool can_be_read(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !opened_for_reading(handle))
    return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(handle, &info) == 0 ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

int run_with_utf8_arguments(int argc, wchar_t **wide_argv, int (*run)(int, char **)) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i)
    args.push_back(utf8_from_wide(wide_argv[i]));
  std::vector<char *> argv;
  for (std::string &arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  return run(argc, argv.data());
}

std::FILE *open_input_file(const char *path, bool) {
  if (std::strcmp(path, "-") == 0) {
    if (!can_be_read(GetStdHandle(STD_INPUT_HANDLE)))
      return nullptr;
    // In text mode a 1A byte would end the input and CR LF would lose its CR.
    _setmode(_fileno(stdin), _O_BINARY);
    return stdin;
  }
  // Windows refuses to open a directory as a file, so nothing more is needed here.
  return _wfopen(wide_from_utf8(path).c_str(), L"rb");
}

bool is_terminal(int fd) {
  // Not _isatty, which is true for every character device, NUL among them.
  DWORD mode = 0;
  return GetConsoleMode(handle_of(fd), &mode) != 0;
}

std::optional<std::uint64_t> positional_size(int fd) {
  LARGE_INTEGER size{};
  if (GetFileType(handle_of(fd)) != FILE_TYPE_DISK)
    return std::nullopt;
  return GetFileSizeEx(handle_of(fd), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

std::ptrdiff_t read_cached_at(int, unsigned char *, std::size_t, std::uint64_t,
                              cache_state &state) {
  state = cache_state::unknown;
  errno = ENOSYS;
  return -1;
}

// Windows reads ahead only for a file opened for sequential scanning, which this is not.
bool advise_will_need(int, std::uint64_t, std::size_t) {
  return false;
}

std::uint64_t monotonic_microseconds() {
  LARGE_INTEGER now{}, frequency{};
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
  const auto per_second = static_cast<std::uint64_t>(frequency.QuadPart);
  // Seconds and the rest apart, so that ticks times a million cannot overflow.
  return ticks / per_second * 1000000u + ticks % per_second * 1000000u / per_second;
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

bool write_all(int fd, const char *data, std::size_t length) {
  while (length > 0) {
    // In text mode the C runtime writes each "\n" as "\r\n" and counts it as one byte.
    const int written =
        _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(length, INT_MAX)));
    if (written <= 0)
      return false;
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}
