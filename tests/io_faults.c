// Preloaded into the binary by the tests, to give it the reads and writes that some files
// and descriptors give (its reads by position are pread64, as it is built with 64-bit file
// offsets). IO_FAULT chooses:
//   short        every read by position returns at most 3 bytes, as FUSE, NFS or procfs may;
//   uneven       a read by position that starts on a page boundary returns at most 3
//                bytes, and any other all that was asked;
//   aligned      a read by position fails with EINVAL unless its offset, length and buffer
//                are multiples of 4096, as with O_DIRECT;
//   interrupted  every other read, read by position and write fails with EINTR first, as
//                when a signal arrives.
// The calls are then made through the next definition, the C library's or a sanitizer's,
// which checks the buffer.
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int fault_is(const char *name) {
  const char *fault = getenv("IO_FAULT");
  return fault != NULL && strcmp(fault, name) == 0;
}

// True, with errno set to EINTR, for the first, third, fifth... call that *calls counts.
static int interrupted(int *calls) {
  if ((*calls)++ % 2 != 0 || !fault_is("interrupted"))
    return 0;
  errno = EINTR;
  return 1;
}

ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset) {
  static int calls;
  ssize_t (*next)(int, void *, size_t, off64_t);
  *(void **)&next = dlsym(RTLD_NEXT, "pread64");
  if (interrupted(&calls))
    return -1;
  if (fault_is("aligned") && ((uint64_t)offset % 4096 | count % 4096 | (uintptr_t)buffer % 4096)) {
    errno = EINVAL;
    return -1;
  }
  if ((fault_is("short") || (fault_is("uneven") && offset % 4096 == 0)) && count > 3)
    count = 3;
  return next(fd, buffer, count, offset);
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
  *(void **)&next = dlsym(RTLD_NEXT, "write");
  return interrupted(&calls) ? -1 : next(fd, buffer, count);
}
