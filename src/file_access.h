#ifndef LZMA2_CHUNKS_FILE_ACCESS_H
#define LZMA2_CHUNKS_FILE_ACCESS_H

// The few calls that differ between POSIX systems and Windows: opening the input, telling
// whether it can be read by position, and the reads themselves.

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Opens FILE read-only in binary mode; "-" is standard input, switched to binary mode. A
// directory counts as a file that cannot be opened. Null when it cannot be opened.
std::FILE *open_input_file(const char *path);

// True when the stream goes to a terminal, where someone watches the lines come.
bool is_terminal(std::FILE *stream);

// True for a disk file or block device, which can be read at any position.
bool reads_by_position(int fd);

// One read of up to length bytes, at position `at` or from where the input stands. The
// number of bytes read, 0 at the end, or -1 on an error with errno set; a read interrupted
// by a signal is retried.
std::ptrdiff_t read_at(int fd, unsigned char *dst, std::size_t length, std::uint64_t at);
std::ptrdiff_t read_on(int fd, unsigned char *dst, std::size_t length);

#endif
