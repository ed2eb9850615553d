#ifndef LZMA2_CHUNKS_LINE_FORMAT_H
#define LZMA2_CHUNKS_LINE_FORMAT_H

#include "chunk_header.h"

#include <cstddef>

// The lines the tool prints, as printf format strings. printf is too slow for streams of
// millions of tiny chunks, so the functions below write the same bytes by hand; a test
// holds them to these strings. Positions wider than 32 bits print with more digits.
namespace line_formats {
constexpr const char *offset_line = "ofs=%X\n";
constexpr const char *uncompressed = "%08X: %02X u=%i\n";
constexpr const char *compressed = "%08X: %02X u=%i p=%i\n";
constexpr const char *compressed_with_props = "%08X: %02X u=%i p=%i s=%02X\n";
constexpr const char *closing = "%08X: %02X ";
} // namespace line_formats

// Enough for the longest line: a 16-digit position and the largest sizes.
constexpr std::size_t max_line_length = 64;

// Each writes one line at dst and returns the end of what it wrote.
char *format_offset_line(char *dst, std::uint64_t start_offset);
// A chunk line for a header whose kind is not end_of_walk.
char *format_chunk_line(char *dst, const chunk_header &header);
// The last line: position and control byte as read, FFFFFFFF for the end of the input.
char *format_closing_line(char *dst, const chunk_header &header);

#endif
