#ifndef LZMA2_CHUNKS_BLOCK_DECODERS_H
#define LZMA2_CHUNKS_BLOCK_DECODERS_H

#include "block_decoder.h"

#include <cstddef>
#include <cstdint>

struct block_decoders_state; // what the walk and the decoding threads share

// A block that did not come out intact.
struct damaged_block {
  std::uint64_t block; // 1, 2, 3... within its stream
  block_span span;
  decode_result result;
};

// Decodes the blocks the walk finds, on threads of their own, while the walk goes on.
// Memory stays within threads × (dictionary + decode_scratch_size) and a little: each thread
// decodes one block at a time, at most 64 × threads more wait, a few bytes each, and of the
// damaged ones only the first few are kept. Blocks are handed over and taken a batch at a
// time, since a lock and a wake-up for each would cost more than a small block's decoding.
class block_decoders {
public:
  // The damaged blocks kept for each stream, those numbered lowest.
  static constexpr std::size_t most_kept = 64;

  // On `threads` threads (0: as many as the processors online), reading fd by position.
  block_decoders(int fd, unsigned threads);
  block_decoders(const block_decoders &) = delete;
  block_decoders &operator=(const block_decoders &) = delete;
  // Stops the threads, once each has done the block in its hands, and joins them.
  ~block_decoders();

  // False when no thread could be started: the caller then judges by structure alone.
  bool running() const;
  // Queues the block numbered `block` (1, 2, 3... within the current stream), or keeps it to
  // queue with the next; waits while the queue is full. Does nothing when not running.
  void decode(std::uint64_t block, const block_span &span);
  // Waits until every block queued so far is decoded, and gives the blocks that did not
  // come out intact, in block order: the lowest numbered, at most `most` of them, nor more
  // than most_kept. Returns how many there were in all; the intact ones are only counted.
  // The count starts again from zero for the next stream.
  std::uint64_t finish(damaged_block *out, std::size_t most);

private:
  block_decoders_state *shared_ = nullptr;
};

#endif
