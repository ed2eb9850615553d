#ifndef LZMA2_CHUNKS_START_OFFSET_H
#define LZMA2_CHUNKS_START_OFFSET_H

#include <cstdint>

// Reads the OFFSET argument as scanf's "%X" would: leading white space, an optional sign,
// an optional 0x prefix, then hexadecimal digits up to the first other character. Text
// without a digit gives 0. Up to eight significant digits the value and its negation are
// 32-bit, as "%X" into an unsigned int gives them, so -1 is FFFFFFFF; longer values are
// kept whole as 64-bit offsets, saturating past sixteen digits.
std::uint64_t parse_start_offset(const char *text);

#endif
