#ifndef LZMA2_CHUNKS_CRC32_H
#define LZMA2_CHUNKS_CRC32_H

#include <cstddef>
#include <cstdint>

// The CRC32 that .xz headers, indexes and footers carry (IEEE 802.3, reflected). Start from
// 0 and feed the bytes in order, in as many pieces as they come.
std::uint32_t crc32_update(std::uint32_t crc, const unsigned char *bytes, std::size_t length);

#endif
