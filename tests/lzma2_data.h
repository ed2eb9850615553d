#ifndef LZMA2_CHUNKS_LZMA2_DATA_H
#define LZMA2_CHUNKS_LZMA2_DATA_H

// Test data, for the tests and the fuzz corpus alike: hand-written bytes, text and random
// bytes, and LZMA2 streams made by liblzma. Failures throw std::runtime_error.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Bytes from a list of values, for writing streams out as tables.
std::string bytes(std::initializer_list<int> values);

// Stored chunks of `payload` bytes each, control bytes 01 and 02 in turn: with one-byte
// payloads, the densest stream there is.
std::string stored_chunks(std::size_t count, std::size_t payload = 1);

// Compressible text, incompressible bytes, and the two in turns of 300 and 200 KB.
std::string text_data(std::size_t size, std::uint32_t seed = 7);
std::string random_data(std::size_t size, std::uint32_t seed);
std::string mixed_data(std::size_t size);

// A raw LZMA2 stream, and an .xz file with one block per piece. Each piece is flushed, so
// that it ends a chunk and small data still makes many chunks.
std::string raw_lzma2(const std::vector<std::string> &pieces, std::uint32_t preset);
std::string xz_file(const std::vector<std::string> &pieces, std::uint32_t preset);

// An .xz stream of one block, or of that many alike, around LZMA2 data that unpacks to
// unpacked_size bytes; the data need not be valid. The check, of the type given by its ID, is
// all zero bytes.
std::string xz_around(const std::string &lzma2_data, std::uint64_t unpacked_size,
                      unsigned check_type = 0, std::size_t blocks = 1);

// Where one LZMA2 stream lies in a file, and what it decodes to.
struct stream_extent {
  std::uint64_t offset; // its first byte
  std::uint64_t last;   // its last byte, the end marker
  std::uint64_t decoded_size;
};

// The LZMA2 streams of an .xz file's blocks, found through its index.
std::vector<stream_extent> xz_blocks(const std::string &file);

#endif
