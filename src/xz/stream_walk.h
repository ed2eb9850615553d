#ifndef LZMA2_CHUNKS_STREAM_WALK_H
#define LZMA2_CHUNKS_STREAM_WALK_H

#include "byte_input.h"
#include "listing_writer.h"
#include "stream_verdict.h"
#include "xz_format.h"
#include "xz_report.h"

#include <cstddef>
#include <cstdint>

class block_decoders;

// Reads up to length bytes from `at`: fewer at the end of the file or on an error.
std::size_t read_up_to(byte_input &input, std::uint64_t at, unsigned char *dst, std::size_t length);

// True when a block header whose CRC32 holds, and that this walk can read, begins at `at`.
bool block_header_at(byte_input &input, std::uint64_t at);

// What the index holds of a block.
struct block_record {
  std::uint64_t unpadded_size;
  std::uint64_t uncompressed_size;
};

// The records of a stream's blocks, as the walk finds them or as its index lists them, kept
// as a count and a digest rather than one by one: a stream may hold millions of blocks.
// Which block disagrees is looked for again only when the two disagree.
struct record_digest {
  void add(const block_record &record);
  bool operator==(const record_digest &other) const {
    return count == other.count && digest == other.digest;
  }
  std::uint64_t count = 0;
  std::uint64_t digest = 0;
};

// The spans of the file that the last two walks listed, streams or blocks. What is found
// inside both is not walked, so that no byte is listed more than twice, however many
// headers the data holds and however they nest.
class listed_spans {
public:
  struct span {
    std::uint64_t from, to;
    std::uint64_t stream; // the stream whose walk listed it
  };
  void add(const span &s) {
    if (count_ == 2)
      spans_[0] = spans_[1];
    spans_[count_ == 2 ? 1 : count_++] = s;
  }
  // How many hold `at`, the older first; forgets those that end before it, since what is
  // looked at only moves on.
  unsigned holding(std::uint64_t at);
  const span &operator[](unsigned i) const { return spans_[i]; }
  void clear() { count_ = 0; }

private:
  span spans_[2] = {};
  unsigned count_ = 0;
};

// Walks one .xz stream from its header, block by block: lists each block's chunks (unless
// the listings are left out), checks its structure, has `decoders` decode it when there are
// any, and goes on past a damaged block to the next one it can find. Then checks the index
// and the footer, and gives the verdict on the stream: its first damage, or where it ends.
class stream_walk {
public:
  // `listings` null: the blocks are walked without their listings.
  stream_walk(byte_input &input, std::uint64_t file_size, listing_writer *listings,
              xz_report &report, block_decoders *decoders)
      : input_(input), listings_(listings), report_(report), decoders_(decoders),
        file_size_(file_size) {}

  // `header_crc_fails`: the stream header is damaged, and `flags` are taken from elsewhere.
  stream_verdict walk(std::uint64_t stream, std::uint64_t at, const xz::stream_flags &flags,
                      bool header_crc_fails = false);
  // True once the report could not be written; the walk has then stopped.
  bool write_failed() const { return write_failed_; }
  // How far the data listed in the stream walked last reaches: a stream found before there
  // lies inside it.
  std::uint64_t reached() const { return reached_; }

private:
  stream_verdict walk_block(std::uint64_t at, std::uint64_t &end);
  // Says that the block is damaged, and keeps the first damage of the stream.
  void block_damaged(const stream_verdict &why);
  // Where the block after the damaged one at `at` lies, and its number, from the damaged
  // block's header, else from the stream's index, else by searching; false when none is found.
  bool resume(std::uint64_t at, std::uint64_t &next);
  bool index_of_the_stream(std::uint64_t from);
  bool next_block_header(std::uint64_t from, std::uint64_t &next);
  // True when a block header whose CRC32 holds, or the index, begins at `at`.
  bool block_or_index_at(std::uint64_t at);
  // Waits for the blocks being decoded, says which are damaged, and gives the verdict: the
  // first damage in the stream, or `end`, what ended its walk.
  stream_verdict finish(stream_verdict end);
  // Reads the index at `at`, says so and compares it with the blocks walked; without
  // `compare` only reads it, as when looking for it.
  stream_verdict check_index(std::uint64_t at, std::uint64_t &end, bool compare = true);
  stream_verdict first_disagreement(std::uint64_t index_at);
  block_record block_sizes(std::uint64_t &at);
  stream_verdict check_footer(std::uint64_t at, std::uint64_t index_size);
  // Finds where the data of the block at `header_at` went wrong at `gave_up_at`.
  stream_verdict undecodable(std::uint64_t block, std::uint64_t header_at,
                             std::uint64_t gave_up_at);

  bool said(bool written) {
    write_failed_ |= !written;
    return written;
  }

  byte_input &input_;
  listing_writer *listings_;
  xz_report &report_;
  block_decoders *decoders_;
  std::uint64_t file_size_;
  bool write_failed_ = false;

  std::uint64_t stream_ = 0;
  xz::stream_flags flags_;
  bool flags_known_ = true; // false while a damaged header's are taken for a footer's
  std::size_t check_size_ = 0;
  std::uint64_t blocks_at_ = 0; // where the first block lies
  std::uint64_t block_ = 0;     // the number of the block walked last
  record_digest walked_;
  bool structure_damaged_ = false; // a block's sizes are unknown: the index cannot be compared
  stream_verdict first_damage_;    // fault == none while there is none
  std::uint64_t damaged_blocks_ = 0;
  std::uint64_t undecoded_blocks_ = 0; // those liblzma cannot decode
  // Where the block after the damaged one may lie: by the sizes in its header, whose CRC32
  // holds, and after its end marker, which a damaged byte may have made; 0 where neither says.
  std::uint64_t by_header_ = 0;
  std::uint64_t after_end_marker_ = 0;
  listed_spans listed_; // by the blocks walked in the stream
  std::uint64_t reached_ = 0;
  // The index found past damage: where it lies, or 0; and whether it was looked for.
  std::uint64_t index_at_ = 0;
  bool index_looked_for_ = false;
};

#endif
