"""slow_mount.py DIR MOUNTPOINT [MILLISECONDS]: mounts DIR read-only at MOUNTPOINT through
FUSE, each read waiting MILLISECONDS (default 2) first, as a network or object-storage mount
does. Runs in the foreground until unmounted (fusermount -u MOUNTPOINT)."""
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class SlowReads(Operations):
    def __init__(self, root, delay):
        self.root, self.delay = root, delay

    def getattr(self, path, fh=None):
        st = os.lstat(self.root + path)
        return {k: getattr(st, k) for k in ("st_mode", "st_size", "st_nlink", "st_mtime")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self.root + path)

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(30)  # EROFS
        return os.open(self.root + path, os.O_RDONLY)

    def read(self, path, size, offset, fh):
        time.sleep(self.delay)
        return os.pread(fh, size, offset)

    def release(self, path, fh):
        os.close(fh)


if __name__ == "__main__":
    delay = float(sys.argv[3]) / 1000 if len(sys.argv) > 3 else 0.002
    FUSE(SlowReads(sys.argv[1], delay), sys.argv[2], foreground=True, ro=True, nothreads=False)
