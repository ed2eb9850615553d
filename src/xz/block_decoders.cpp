#include "block_decoders.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

struct block_decoders_state {
  struct job {
    std::uint64_t block;
    block_span span;
  };
  pthread_mutex_t lock;
  pthread_cond_t work; // a block queued, or stopping
  pthread_cond_t room; // a block decoded
  int fd;
  job *queue; // a ring of `capacity`, oldest at `first`
  unsigned capacity;
  unsigned first;
  unsigned queued;
  unsigned decoding;
  unsigned idle;     // threads waiting for work
  bool walk_waiting; // for room in the queue, or for every block to be done
  // Blocks the walk has found but not queued yet, and how many: the walk's own, unlocked.
  job pending[16];
  unsigned pending_count;
  damaged_block kept[block_decoders::most_kept];
  std::size_t kept_count;
  std::uint64_t damaged;
  pthread_t *threads;
  unsigned started;
  bool stopping;
};

namespace {

using shared = block_decoders_state;
using job = block_decoders_state::job;

constexpr unsigned queue_per_thread = 64;
// Blocks handed over, and taken, at once.
constexpr unsigned batch = sizeof(block_decoders_state::pending) / sizeof(job);

// Queues the blocks the walk has found; waits while the queue has no room for them.
void hand_over(shared *s) {
  pthread_mutex_lock(&s->lock);
  s->walk_waiting = true;
  while (s->queued + s->decoding + s->pending_count > s->capacity)
    pthread_cond_wait(&s->room, &s->lock);
  s->walk_waiting = false;
  for (unsigned i = 0; i < s->pending_count; ++i)
    s->queue[(s->first + s->queued++) % s->capacity] = s->pending[i];
  s->pending_count = 0;
  if (s->idle > 0)
    pthread_cond_broadcast(&s->work);
  pthread_mutex_unlock(&s->lock);
}

// Keeps the lowest numbered damaged blocks, whichever thread was done first.
void keep(shared *s, const job &j, const decode_result &r) {
  ++s->damaged;
  std::size_t slot = s->kept_count;
  if (slot == block_decoders::most_kept) {
    slot = 0;
    for (std::size_t i = 1; i < s->kept_count; ++i)
      if (s->kept[i].block > s->kept[slot].block)
        slot = i;
    if (s->kept[slot].block < j.block)
      return;
  } else {
    ++s->kept_count;
  }
  s->kept[slot] = damaged_block{j.block, j.span, r};
}

void *decode_blocks(void *arg) {
  auto *s = static_cast<shared *>(arg);
  // Kept from block to block: blocks come by the million. Without it each is unsupported.
  block_decoder_memory *memory = new_block_decoder_memory();
  pthread_mutex_lock(&s->lock);
  for (;;) {
    while (!s->stopping && s->queued == 0) {
      // Atomic as well as locked: the walk looks at it without the lock.
      __atomic_add_fetch(&s->idle, 1, __ATOMIC_RELAXED);
      pthread_cond_wait(&s->work, &s->lock);
      __atomic_sub_fetch(&s->idle, 1, __ATOMIC_RELAXED);
    }
    if (s->stopping)
      break;
    // A share of what waits, taken at once: the lock is taken once for many small blocks.
    job taken[batch];
    const unsigned n = std::clamp(s->queued / s->started, 1u, batch);
    for (unsigned i = 0; i < n; ++i) {
      taken[i] = s->queue[s->first];
      s->first = (s->first + 1) % s->capacity;
    }
    s->queued -= n;
    s->decoding += n;
    pthread_mutex_unlock(&s->lock);
    decode_result results[batch];
    for (unsigned i = 0; i < n; ++i) {
      results[i].outcome = decode_outcome::unsupported;
      if (memory != nullptr)
        results[i] = decode_block(s->fd, taken[i].span, *memory);
    }
    pthread_mutex_lock(&s->lock);
    s->decoding -= n;
    for (unsigned i = 0; i < n; ++i)
      if (results[i].outcome != decode_outcome::intact)
        keep(s, taken[i], results[i]);
    // Waking the walk only when it waits: a signal per block costs more than a small block.
    if (s->walk_waiting)
      pthread_cond_broadcast(&s->room);
  }
  pthread_mutex_unlock(&s->lock);
  free_block_decoder_memory(memory);
  return nullptr;
}

void release(shared *s) {
  pthread_cond_destroy(&s->room);
  pthread_cond_destroy(&s->work);
  pthread_mutex_destroy(&s->lock);
  std::free(s->threads);
  std::free(s->queue);
  std::free(s);
}

} // namespace

block_decoders::block_decoders(int fd, unsigned threads) {
  if (threads == 0) {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    threads = online > 0 && online < 1024 ? static_cast<unsigned>(online) : 1;
  }
  auto *s = static_cast<shared *>(std::calloc(1, sizeof(shared)));
  if (s == nullptr)
    return;
  pthread_mutex_init(&s->lock, nullptr);
  pthread_cond_init(&s->work, nullptr);
  pthread_cond_init(&s->room, nullptr);
  s->fd = fd;
  s->queue = static_cast<job *>(std::calloc(std::size_t{queue_per_thread} * threads, sizeof(job)));
  s->threads = static_cast<pthread_t *>(std::calloc(threads, sizeof(pthread_t)));
  if (s->queue == nullptr || s->threads == nullptr) {
    release(s);
    return;
  }
  // liblzma needs little stack; its dictionary is on the heap.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr,
                            std::max<std::size_t>(std::size_t{256} * 1024, PTHREAD_STACK_MIN));
  while (s->started < threads &&
         pthread_create(&s->threads[s->started], &attr, decode_blocks, s) == 0)
    ++s->started;
  pthread_attr_destroy(&attr);
  if (s->started == 0) {
    release(s);
    return;
  }
  pthread_mutex_lock(&s->lock);
  // Enough blocks wait that a thread seldom idles while the walk finds the next, nor the
  // walk while they decode: a queued block takes a few bytes, its decoding the memory.
  s->capacity = queue_per_thread * s->started;
  pthread_mutex_unlock(&s->lock);
  shared_ = s;
}

block_decoders::~block_decoders() {
  shared *s = shared_;
  if (s == nullptr)
    return;
  pthread_mutex_lock(&s->lock);
  s->stopping = true;
  pthread_cond_broadcast(&s->work);
  pthread_mutex_unlock(&s->lock);
  for (unsigned i = 0; i < s->started; ++i)
    pthread_join(s->threads[i], nullptr);
  release(s);
}

bool block_decoders::running() const {
  return shared_ != nullptr;
}

void block_decoders::decode(std::uint64_t block, const block_span &span) {
  shared *s = shared_;
  if (s == nullptr)
    return;
  s->pending[s->pending_count++] = job{block, span};
  // Handed over by the batch, or at once where a thread has nothing to do.
  if (s->pending_count == batch || __atomic_load_n(&s->idle, __ATOMIC_RELAXED) > 0)
    hand_over(s);
}

std::uint64_t block_decoders::finish(damaged_block *out, std::size_t most) {
  shared *s = shared_;
  if (s == nullptr)
    return 0;
  hand_over(s);
  pthread_mutex_lock(&s->lock);
  s->walk_waiting = true;
  while (s->queued + s->decoding > 0)
    pthread_cond_wait(&s->room, &s->lock);
  s->walk_waiting = false;
  std::sort(s->kept, s->kept + s->kept_count,
            [](const damaged_block &a, const damaged_block &b) { return a.block < b.block; });
  const std::size_t given = std::min(most, s->kept_count);
  std::copy(s->kept, s->kept + given, out);
  const std::uint64_t damaged = s->damaged;
  s->kept_count = 0;
  s->damaged = 0;
  pthread_mutex_unlock(&s->lock);
  return damaged;
}
