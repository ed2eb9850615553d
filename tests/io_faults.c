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
//   slow         a read by position waits 100 microseconds first, and a read that must not
//                wait finds nothing cached, as on a cold disk; the number of requests to
//                read ahead, if any, is told on standard error at exit;
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
//   again_writes every write to a regular file fails with EAGAIN.
// The calls are then made through the next definition, the C library's or a sanitizer's,
// which checks the buffer. Asking to read ahead aborts when reads are not slow, for a second
// time after a refusal, or past the end of the file.
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
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
  if ((*calls)++ % 2 != 0 || !fault_is("interrupted"))
    return 0;
  errno = EINTR;
  return 1;
}

static int hints;
static off64_t last_read;  // where the last read by position started
static off64_t farthest;   // the farthest a request to read ahead went past it

__attribute__((destructor)) static void tell_hints(void) {
  if (hints > 0)
    dprintf(2, "io_faults: asked to read ahead %d times, up to %lld bytes ahead\n", hints,
            (long long)farthest);
}

int posix_fadvise64(int fd, off64_t offset, off64_t length, int advice) {
  int (*next)(int, off64_t, off64_t, int);
  struct stat st;
  *(void **)&next = dlsym(RTLD_NEXT, "posix_fadvise64");
  if (!(fault_is("slow") || fault_is("cold")) || fstat(fd, &st) != 0 ||
      offset + length > st.st_size ||
      (fault_is("slow_refused") && hints > 0))
    abort();
  ++hints;
  if (offset - last_read > farthest)
    farthest = offset - last_read;
  return fault_is("slow_refused") ? EINVAL : next(fd, offset, length, advice);
}

ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset) {
  static int calls;
  ssize_t (*next)(int, void *, size_t, off64_t);
  *(void **)&next = dlsym(RTLD_NEXT, "pread64");
  if (interrupted(&calls))
    return -1;
  last_read = offset;
  if (fault_is("slow") || fault_is("descheduled"))
    usleep(100);
  if (fault_is("aligned") && ((uint64_t)offset % 4096 | count % 4096 | (uintptr_t)buffer % 4096)) {
    errno = EINVAL;
    return -1;
  }
  if ((fault_is("bad_block") && offset < 45056 && offset + (off64_t)count > 40960) ||
      fault_is("unseekable") || fault_is("again_reads")) {
    errno = fault_is("bad_block") ? EIO : fault_is("unseekable") ? ESPIPE : EAGAIN;
    return -1;
  }
  if ((fault_is("short") || (fault_is("uneven") && offset % 4096 == 0)) && count > 3)
    count = 3;
  return next(fd, buffer, count, offset);
}

// The reads that must not wait, which tell what is cached.
ssize_t preadv64v2(int fd, const struct iovec *iov, int count, off64_t offset, int flags) {
  ssize_t (*next)(int, const struct iovec *, int, off64_t, int);
  *(void **)&next = dlsym(RTLD_NEXT, "preadv64v2");
  if (fault_is("slow") || fault_is("cold")) {
    errno = fault_is("slow_fuse") ? EOPNOTSUPP : EAGAIN;
    return -1;
  }
  return next(fd, iov, count, offset, flags);
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
