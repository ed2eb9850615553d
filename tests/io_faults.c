// Preloaded into the binary by the tests, to give it the reads and writes that some files
// and descriptors give (its reads by position are pread64, as it is built with 64-bit file
// offsets). IO_FAULT chooses:
//   short        every read by position returns at most 3 bytes, as FUSE, NFS or procfs may;
//   halves       every read by position returns at most half of what was asked;
//   aligned      a read by position fails with EINVAL unless its offset, length and buffer
//                are multiples of 4096, as with O_DIRECT;
//   interrupted  every other read, read by position and write fails with EINTR first, as
//                when a signal arrives.
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

static int fault_is(const char *name) {
  const char *fault = getenv("IO_FAULT");
  return fault != NULL && strcmp(fault, name) == 0;
}

static int interrupted(int *calls) {
  if (!fault_is("interrupted") || (*calls)++ % 2 != 0)
    return 0;
  errno = EINTR;
  return 1;
}

ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset) {
  static int calls;
  if (interrupted(&calls))
    return -1;
  if (fault_is("aligned") && ((uint64_t)offset % 4096 | count % 4096 | (uintptr_t)buffer % 4096)) {
    errno = EINVAL;
    return -1;
  }
  if (fault_is("short") && count > 3)
    count = 3;
  if (fault_is("halves") && count > 1)
    count /= 2;
  return syscall(SYS_pread64, fd, buffer, count, offset);
}

ssize_t read(int fd, void *buffer, size_t count) {
  static int calls;
  return interrupted(&calls) ? -1 : syscall(SYS_read, fd, buffer, count);
}

ssize_t write(int fd, const void *buffer, size_t count) {
  static int calls;
  return interrupted(&calls) ? -1 : syscall(SYS_write, fd, buffer, count);
}
