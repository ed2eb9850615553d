// Preloaded into the binary by the tests, to give it the reads and writes that some files
// and descriptors give (its reads by position are pread64, as it is built with 64-bit file
// offsets). IO_FAULT chooses:
//   short        every read by position returns at most 3 bytes, as FUSE, NFS or procfs may;
//   uneven       a read by position that starts on a page boundary returns at most 3
//                bytes, and any other all that was asked;
//   aligned      a read by position fails with EINVAL unless its offset, length and buffer
//                are multiples of 4096, as with O_DIRECT;
//   interrupted  every other read, read by position and write fails with EINTR first, as
//                when a signal arrives;
//   slow         a read by position waits 100 microseconds first, unless its page has been
//                read or asked to be read ahead before, which is then all that a read that
//                must not wait finds cached, as on a cold disk; the number of requests to read
//                ahead, if any, is told on standard error at exit;
//   slow_refused as slow, but the first request to read ahead fails with EINVAL, as on some
//                file systems;
//   slow_fuse    as slow, but a read that must not wait is refused, as FUSE refuses it;
//   cold         a read that must not wait finds nothing cached, but reads by position are
//                quick, as on a fast disk;
//   descheduled  a read by position waits 100 microseconds first, as when the process loses
//                the processor, but everything is cached;
//   bad_block    a read by position that touches the 4 KiB block at 40 KiB fails whole with
//                EIO, as O_DIRECT on a failing disk;
//   unseekable   every read by position fails with ESPIPE, as for a FUSE file opened as a
//                stream;
//   again_reads  every read by position fails with EAGAIN, as on some FUSE file systems;
//   again_writes every write to a regular file fails with EAGAIN;
//   one_at_a_time  as rclone's mount of object storage: each descriptor serves one read by
//                position at a time, which waits 1 ms unless its page has been read before;
//                requests to read ahead do nothing, and a read that must not wait is refused;
//                a read waits until one of the same page in flight is done, as the page is
//                locked; opens from threads but the first are served one at a time, 1 ms each;
//   one_at_a_time_failing  as one_at_a_time, but reads from any thread but the first fail
//                with EIO;
//   one_at_a_time_stalling  as one_at_a_time, but reads from any thread but the first take
//                100 ms, which a read of the same pages waits out;
//   one_at_a_time_hanging  as one_at_a_time, but opens from any thread but the first hang
//                for 30 s, as in a file system that is stuck.
// The threads started, their opens still hanging at exit, their reads and the most reads in
// flight at once are told on standard error at exit. A read from a thread other than the
// first aborts while a thread started has not opened its file yet, or when it is of more
// than 6 pages or past the end of the file.
// The calls are then made through the next definition, the C library's or a sanitizer's,
// which checks the buffer. Asking to read ahead aborts when reads are not slow, for a second
// time after a refusal, or past the end of the file.
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

// True when IO_FAULT starts with the name: slow_refused is slow, too.
static int fault_is(const char *name) {
  const char *fault = getenv("IO_FAULT");
  return fault != NULL && strncmp(fault, name, strlen(name)) == 0;
}

// True, with errno set to EINTR, for the first, third, fifth... call that *calls counts.
static int interrupted(int *calls) {
  if (__atomic_fetch_add(calls, 1, __ATOMIC_RELAXED) % 2 != 0 || !fault_is("interrupted"))
    return 0;
  errno = EINTR;
  return 1;
}

static int hints;
static off64_t last_read;   // where the last read by position started
static off64_t farthest;    // the farthest a request to read ahead went past it
static int threads, opened; // threads started, and their opens that have returned
static int other_reads;     // by threads other than the first
static int in_flight, most_in_flight;

__attribute__((destructor)) static void tell_hints(void) {
  if (hints > 0)
    dprintf(2, "io_faults: asked to read ahead %d times, up to %lld bytes ahead\n", hints,
            (long long)farthest);
  if (threads > 0)
    dprintf(2, "io_faults: %d threads, %d opens hanging, %d reads, at most %d reads in flight\n",
            threads, threads - opened, other_reads, most_in_flight);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*run)(void *),
                   void *argument) {
  int (*next)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
  *(void **)&next = dlsym(RTLD_NEXT, "pthread_create");
  const int failed = next(thread, attributes, run, argument);
  __atomic_add_fetch(&threads, !failed, __ATOMIC_RELAXED);
  return failed;
}

// The descriptors helpers opened: other threads, such as those that decode blocks, read
// through the walk's.
static char helper_fd[1024];

int open64(const char *path, int flags, ...) {
  static pthread_mutex_t one_at_a_time = PTHREAD_MUTEX_INITIALIZER;
  int (*next)(const char *, int, ...);
  *(void **)&next = dlsym(RTLD_NEXT, "open64");
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  const int helper = gettid() != getpid();
  if (helper && fault_is("one_at_a_time")) {
    pthread_mutex_lock(&one_at_a_time);
    usleep(fault_is("one_at_a_time_hanging") ? 30000000 : 1000);
    pthread_mutex_unlock(&one_at_a_time);
  }
  const int fd = next(path, flags, mode);
  __atomic_add_fetch(&opened, helper, __ATOMIC_RELAXED);
  if (helper && fd >= 0)
    __atomic_store_n(&helper_fd[fd % 1024], 1, __ATOMIC_RELAXED);
  return fd;
}

// The pages in the cache of the slow modes, one bit each, by page number modulo 2^20.
static unsigned char cached[1 << 17];

static int page_cached(off64_t offset) {
  const uint64_t page = (uint64_t)offset / 4096 % (1 << 20);
  return __atomic_load_n(&cached[page / 8], __ATOMIC_RELAXED) >> page % 8 & 1;
}

static void cache_pages(off64_t offset, off64_t length) {
  for (uint64_t page = (uint64_t)offset / 4096;
       length > 0 && page <= (uint64_t)(offset + length - 1) / 4096; ++page)
    __atomic_fetch_or(&cached[page % (1 << 20) / 8], 1 << page % 8, __ATOMIC_RELAXED);
}

int posix_fadvise64(int fd, off64_t offset, off64_t length, int advice) {
  int (*next)(int, off64_t, off64_t, int);
  struct stat st;
  *(void **)&next = dlsym(RTLD_NEXT, "posix_fadvise64");
  if (advice != POSIX_FADV_WILLNEED)
    return next(fd, offset, length, advice);
  if (!(fault_is("slow") || fault_is("cold") || fault_is("one_at_a_time")) || fstat(fd, &st) != 0 ||
      offset + length > st.st_size || (fault_is("slow_refused") && hints > 0))
    abort();
  ++hints;
  if (offset - last_read > farthest)
    farthest = offset - last_read;
  if (fault_is("slow"))
    cache_pages(offset, length);
  return fault_is("slow_refused") ? EINVAL : next(fd, offset, length, advice);
}

// By descriptor, the pages [first, end) of its read in flight; none while end is 0.
static off64_t reading[1024][2];

static int page_being_read(off64_t page) {
  for (int fd = 0; fd < 1024; ++fd)
    if (reading[fd][0] <= page && page < reading[fd][1])
      return 1;
  return 0;
}

static ssize_t one_at_a_time(ssize_t (*next)(int, void *, size_t, off64_t), int fd, void *buffer,
                             size_t count, off64_t offset) {
  static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  static pthread_cond_t served = PTHREAD_COND_INITIALIZER;
  const int stalls = gettid() != getpid() && fault_is("one_at_a_time_stalling");
  ssize_t got;
  pthread_mutex_lock(&lock);
  // One read at a time on each descriptor, and none of a page that another is reading.
  while (reading[fd % 1024][1] != 0 || page_being_read(offset / 4096))
    pthread_cond_wait(&served, &lock);
  reading[fd % 1024][0] = offset / 4096;
  reading[fd % 1024][1] = (offset + (off64_t)count + 4095) / 4096;
  if (++in_flight > most_in_flight)
    most_in_flight = in_flight;
  pthread_mutex_unlock(&lock);
  if (!page_cached(offset) || stalls)
    usleep(stalls ? 100000 : 1000);
  got = next(fd, buffer, count, offset);
  if (got > 0)
    cache_pages(offset, got);
  pthread_mutex_lock(&lock);
  reading[fd % 1024][1] = 0;
  --in_flight;
  pthread_cond_broadcast(&served);
  pthread_mutex_unlock(&lock);
  return got;
}

ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset) {
  static int calls;
  ssize_t (*next)(int, void *, size_t, off64_t);
  *(void **)&next = dlsym(RTLD_NEXT, "pread64");
  const int helper =
      gettid() != getpid() && __atomic_load_n(&helper_fd[fd % 1024], __ATOMIC_RELAXED);
  struct stat st;
  ssize_t got;
  if (interrupted(&calls))
    return -1;
  // A helper reads a few pages at most, never past the end, and only once all have opened.
  if (!helper)
    last_read = offset;
  else if (count > 6 * 4096 || fstat(fd, &st) != 0 || offset + (off64_t)count > st.st_size ||
           __atomic_load_n(&opened, __ATOMIC_RELAXED) < __atomic_load_n(&threads, __ATOMIC_RELAXED))
    abort();
  __atomic_add_fetch(&other_reads, helper, __ATOMIC_RELAXED);
  if ((fault_is("bad_block") && offset < 45056 && offset + (off64_t)count > 40960) ||
      fault_is("unseekable") || fault_is("again_reads") ||
      (helper && fault_is("one_at_a_time_failing"))) {
    errno = fault_is("unseekable") ? ESPIPE : fault_is("again_reads") ? EAGAIN : EIO;
    return -1;
  }
  if (fault_is("one_at_a_time"))
    return one_at_a_time(next, fd, buffer, count, offset);
  if ((fault_is("slow") && !page_cached(offset)) || fault_is("descheduled"))
    usleep(100);
  if (fault_is("aligned") && ((uint64_t)offset % 4096 | count % 4096 | (uintptr_t)buffer % 4096)) {
    errno = EINVAL;
    return -1;
  }
  if ((fault_is("short") || (fault_is("uneven") && offset % 4096 == 0)) && count > 3)
    count = 3;
  got = next(fd, buffer, count, offset);
  if (got > 0 && fault_is("slow"))
    cache_pages(offset, got);
  return got;
}

// A read into a buffer whose size the compiler knows, with _FORTIFY_SOURCE.
ssize_t __pread64_chk(int fd, void *buffer, size_t count, off64_t offset, size_t room) {
  if (count > room)
    abort();
  return pread64(fd, buffer, count, offset);
}

// The reads that must not wait, which tell what is cached.
ssize_t preadv64v2(int fd, const struct iovec *iov, int count, off64_t offset, int flags) {
  ssize_t (*next)(int, const struct iovec *, int, off64_t, int);
  *(void **)&next = dlsym(RTLD_NEXT, "preadv64v2");
  if (fault_is("descheduled") ||
      (fault_is("slow") && !fault_is("slow_fuse") && page_cached(offset)))
    return next(fd, iov, count, offset, flags);
  if (fault_is("slow") || fault_is("cold") || fault_is("one_at_a_time")) {
    errno = fault_is("slow_fuse") || fault_is("one_at_a_time") ? EOPNOTSUPP : EAGAIN;
    return -1;
  }
  // Elsewhere everything is cached, and the read meets the mode's fault as any other: a tool
  // that had to time its reads would find them slow on a busy machine.
  return pread64(fd, iov[0].iov_base, iov[0].iov_len, offset);
}

ssize_t read(int fd, void *buffer, size_t count) {
  static int calls;
  ssize_t (*next)(int, void *, size_t);
  *(void **)&next = dlsym(RTLD_NEXT, "read");
  return interrupted(&calls) ? -1 : next(fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count) {
  static int calls;
  ssize_t (*next)(int, const void *, size_t);
  struct stat st;
  *(void **)&next = dlsym(RTLD_NEXT, "write");
  if (fault_is("again_writes") && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    errno = EAGAIN;
    return -1;
  }
  return interrupted(&calls) ? -1 : next(fd, buffer, count);
}
