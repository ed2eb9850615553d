#include "page_readers.h"

#include "file_access.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

// What the walk and its helpers share. It outlives whichever of them ends last, since the
// walk does not wait for a helper's read to come back before it goes on or ends.
struct page_readers_state {
  pthread_mutex_t lock;
  pthread_cond_t work;
  struct {
    std::uint64_t at, length;
  } waiting[64]; // what to read, oldest first, in a ring
  unsigned first;
  unsigned count;
  unsigned opening;            // helpers yet to open the file
  std::uint64_t open_deadline; // microseconds on the monotonic clock
  // Microseconds a helper's read may take at the quickest of a few before the helpers stop.
  std::uint64_t slowest_read;
  std::uint64_t quickest_read; // of the few read lately
  unsigned reads_timed;
  std::uint64_t walk_at;
  std::uint64_t size;
  char path[40]; // the file open as the walk's descriptor, to open it again
  dev_t device;  // and which file that must be
  ino_t inode;
  unsigned users; // the walk, while it runs, and each helper: the last frees this
  bool stopping;
};

namespace {

using shared = page_readers_state;

// Helpers whose reads take this many times the walk's own are holding the walk up: its reads
// of the same pages wait behind theirs.
constexpr std::uint64_t slower_than_the_walk = 16;
// Judged by the quickest of a few reads, which a helper that lost the processor cannot slow.
constexpr unsigned reads_judged = 8;
// Opens given this many of the walk's reads, and at least a second, before the helpers are
// given up: an open that takes so long is stuck in the file system.
constexpr std::uint64_t open_deadline_in_reads = 64;
constexpr std::uint64_t shortest_open_deadline = 1000000;

void leave(shared *s) {
  pthread_mutex_lock(&s->lock);
  const bool last = --s->users == 0;
  pthread_mutex_unlock(&s->lock);
  if (last) {
    pthread_cond_destroy(&s->work);
    pthread_mutex_destroy(&s->lock);
    std::free(s);
  }
}

// Opened on its own, the same file: a helper's read goes to the storage beside the walk's
// instead of after it. The helper's reads are far apart, so the system is told not to read
// ahead of them, which would only move more bytes.
int open_again(const shared *s) {
  const int fd = open(s->path, O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_dev != s->device || st.st_ino != s->inode)) {
    close(fd);
    return -1;
  }
  if (fd >= 0)
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  return fd;
}

void *help(void *arg) {
  auto *s = static_cast<shared *>(arg);
  const int fd = open_again(s);
  unsigned char pages[page_readers::widest_read];
  pthread_mutex_lock(&s->lock);
  s->stopping |= fd < 0;
  --s->opening;
  pthread_cond_broadcast(&s->work);
  while (!s->stopping) {
    // Some file systems drop the file's cached pages whenever it is opened, as FUSE does
    // unless told to keep them: no helper reads before all have opened it.
    if (s->count == 0 || s->opening > 0) {
      pthread_cond_wait(&s->work, &s->lock);
      continue;
    }
    const auto job = s->waiting[s->first];
    s->first = (s->first + 1) % 64;
    --s->count;
    if (job.at + job.length <= s->walk_at)
      continue;
    pthread_mutex_unlock(&s->lock);
    const std::uint64_t started = monotonic_microseconds();
    ssize_t got = 0;
    do {
      got = pread(fd, pages, static_cast<std::size_t>(job.length), static_cast<off_t>(job.at));
    } while (got < 0 && errno == EINTR);
    const std::uint64_t took = monotonic_microseconds() - started;
    pthread_mutex_lock(&s->lock);
    s->quickest_read = std::min(s->quickest_read, took);
    if (++s->reads_timed == reads_judged) {
      s->stopping |= s->quickest_read > s->slowest_read;
      s->reads_timed = 0;
      s->quickest_read = UINT64_MAX;
    }
    s->stopping |= got < 0;
    if (s->stopping)
      pthread_cond_broadcast(&s->work);
  }
  pthread_mutex_unlock(&s->lock);
  if (fd >= 0)
    close(fd);
  leave(s);
  return nullptr;
}

} // namespace

bool page_readers::start(int fd, std::uint64_t size, std::uint64_t walk_read_microseconds) {
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  if (shared_ != nullptr || flags < 0 || fstat(fd, &st) != 0 || access("/proc/self/fd", F_OK) != 0)
    return false;
#ifdef O_DIRECT
  if ((flags & O_DIRECT) != 0)
    return false;
#endif
  auto *s = static_cast<shared *>(std::calloc(1, sizeof(shared)));
  if (s == nullptr)
    return false;
  pthread_mutex_init(&s->lock, nullptr);
  pthread_cond_init(&s->work, nullptr);
  s->size = size;
  std::snprintf(s->path, sizeof s->path, "/proc/self/fd/%d", fd);
  s->device = st.st_dev;
  s->inode = st.st_ino;
  s->users = 1;
  s->opening = helpers;
  const std::uint64_t walk_read = std::min<std::uint64_t>(walk_read_microseconds, UINT32_MAX);
  s->open_deadline = monotonic_microseconds() +
                     std::max(shortest_open_deadline, open_deadline_in_reads * walk_read);
  s->slowest_read = slower_than_the_walk * walk_read;
  s->quickest_read = UINT64_MAX;
  shared_ = s;
  // A helper needs little stack: the few pages it reads into.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr,
                            std::max<std::size_t>(std::size_t{64} * 1024, PTHREAD_STACK_MIN));
  unsigned started = 0;
  for (; started < helpers; ++started) {
    pthread_mutex_lock(&s->lock);
    ++s->users;
    pthread_mutex_unlock(&s->lock);
    pthread_t thread;
    if (pthread_create(&thread, &attr, help, s) != 0) {
      pthread_mutex_lock(&s->lock);
      --s->users; // never the last: the walk's own share remains
      pthread_mutex_unlock(&s->lock);
      break;
    }
  }
  pthread_mutex_lock(&s->lock);
  s->opening -= helpers - started; // those that never started open nothing
  pthread_cond_broadcast(&s->work);
  pthread_mutex_unlock(&s->lock);
  pthread_attr_destroy(&attr);
  if (started == 0)
    stop();
  return started > 0;
}

page_readers::status page_readers::state() {
  if (shared_ == nullptr)
    return status::stopped;
  page_readers_state *s = shared_;
  pthread_mutex_lock(&s->lock);
  // A helper stuck in its open is left there: the walk goes on with hints, and the others
  // close the file and end.
  if (s->opening > 0 && !s->stopping && monotonic_microseconds() > s->open_deadline) {
    s->stopping = true;
    pthread_cond_broadcast(&s->work);
  }
  const status now = s->stopping      ? status::stopped
                     : s->opening > 0 ? status::opening
                                      : status::reading;
  pthread_mutex_unlock(&s->lock);
  return now;
}

bool page_readers::read_soon(std::uint64_t at, std::uint64_t length) {
  if (shared_ == nullptr || at >= shared_->size)
    return false;
  page_readers_state *s = shared_;
  length = std::min({length, widest_read, s->size - at});
  pthread_mutex_lock(&s->lock);
  const bool taken = !s->stopping && s->count < 64;
  if (taken) {
    s->waiting[(s->first + s->count++) % 64] = {at, length};
    pthread_cond_signal(&s->work);
  }
  pthread_mutex_unlock(&s->lock);
  return taken;
}

void page_readers::walk_reached(std::uint64_t at) {
  if (shared_ == nullptr)
    return;
  pthread_mutex_lock(&shared_->lock);
  shared_->walk_at = at;
  pthread_mutex_unlock(&shared_->lock);
}

void page_readers::stop() {
  if (shared_ == nullptr)
    return;
  pthread_mutex_lock(&shared_->lock);
  shared_->stopping = true;
  pthread_cond_broadcast(&shared_->work);
  pthread_mutex_unlock(&shared_->lock);
  leave(shared_);
  shared_ = nullptr;
}
