#ifndef LZMA2_CHUNKS_FILE_ACCESS_H
#define LZMA2_CHUNKS_FILE_ACCESS_H

// The few calls that differ between POSIX systems and Windows: opening the input, telling
// whether it can be read by position, and the reads and writes themselves.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

// Opens FILE read-only in binary mode; "-" is standard input, switched to binary mode. A
// directory, or a standard input that is closed or open only for writing, counts as a file
// that cannot be opened. Null when it cannot be opened. On Windows the path is UTF-8.
// Without wait_for_writer a named pipe opens at once, for a program that refuses pipes,
// instead of when a writer comes, which may be never.
std::FILE *open_input_file(const char *path, bool wait_for_writer = true);

// True when the descriptor is a terminal (on Windows a console), where someone watches the
// lines come.
bool is_terminal(int fd);

// The unit in which the system reads files into its cache.
constexpr std::size_t page_size = 4096;

// The size of a disk file or block device, which can be read at any position; nothing for
// an input that is read in sequence, such as a pipe or a terminal.
std::optional<std::uint64_t> positional_size(int fd);

// What a read from the cache alone found: the bytes were there, some were not and would have
// to wait on the storage, or the system or file system cannot tell.
enum class cache_state { cached, not_cached, unknown };

// A read like read_at that takes only what the system's cache holds: the number of bytes read,
// or -1 with `state` saying why (not_cached, or unknown with errno set) and nothing read.
std::ptrdiff_t read_cached_at(int fd, unsigned char *dst, std::size_t length, std::uint64_t at,
                              cache_state &state);

// Asks the system to start reading [at, at + length) of the file into its cache, for a read
// that will come. False when it does not take such advice, for this file or at all.
bool advise_will_need(int fd, std::uint64_t at, std::size_t length);

// Microseconds on a clock that never goes back, to tell a read that waited on the storage
// from one served by the cache.
std::uint64_t monotonic_microseconds();

// One read of up to length bytes, at position `at` or from where the input stands. The
// number of bytes read, 0 at the end, or -1 on an error with errno set. A read interrupted
// by a signal is retried, and one that would block waits until the input is ready.
std::ptrdiff_t read_at(int fd, unsigned char *dst, std::size_t length, std::uint64_t at);
std::ptrdiff_t read_on(int fd, unsigned char *dst, std::size_t length);

// Writes all length bytes, in the descriptor's text or binary mode, waiting whenever a
// non-blocking output is full. False when they cannot all be written.
bool write_all(int fd, const char *data, std::size_t length);

#ifdef _WIN32
// Runs a program's run(argc, argv) with the command line as Windows holds it, in UTF-16,
// turned into UTF-8 that keeps every name exactly, even one that is not valid UTF-16. The
// narrow argv would hold the arguments squeezed into the ANSI code page, where a name such
// as "Ωmega" may become that of another file, "Omega", and fullwidth digits plain ones.
int run_with_utf8_arguments(int argc, wchar_t **argv, int (*run)(int, char **));
#endif

#endif
