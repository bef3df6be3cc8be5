"""Waits, through Linux's inotify, for a file to be written and closed, so a
test can stop the launcher right after a chosen point of its unpacking.
No polling with sleeps: the kernel wakes the test when the file is closed."""

import ctypes
import os
import select
import struct
from pathlib import Path

IN_CLOSE_WRITE = 0x00000008
IN_CREATE = 0x00000100
IN_ISDIR = 0x40000000

_libc = ctypes.CDLL(None, use_errno=True)
_libc.inotify_init1.argtypes = [ctypes.c_int]
_libc.inotify_add_watch.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_uint32]
_EVENT = struct.Struct("iIII")


class Watch:
    """Watches `folder` and, once it appears, the data directory inside it."""

    def __init__(self, folder, data_dir_name):
        self.folder = Path(folder)
        self.data_dir_name = data_dir_name
        self.fd = _libc.inotify_init1(os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        self.dirs = {}
        self._add(self.folder, IN_CLOSE_WRITE | IN_CREATE)

    def _add(self, path, mask):
        wd = _libc.inotify_add_watch(self.fd, os.fsencode(str(path)), mask)
        if wd < 0:
            raise OSError(ctypes.get_errno(), "inotify_add_watch", str(path))
        self.dirs[wd] = Path(path)

    def close(self):
        os.close(self.fd)

    def wait_closed(self, relative, process):
        """Returns once `relative` (below the folder) has been written and
        closed, or once it already is there when its folder is first watched;
        False when `process` ends first."""
        wanted = self.folder / relative
        while process.poll() is None:
            ready, _, _ = select.select([self.fd], [], [], 0.5)
            if not ready:
                continue
            buffer = os.read(self.fd, 65536)
            at = 0
            while at < len(buffer):
                wd, mask, _, length = _EVENT.unpack_from(buffer, at)
                name = buffer[at + _EVENT.size:at + _EVENT.size + length].rstrip(b"\0")
                at += _EVENT.size + length
                path = self.dirs.get(wd, Path("?")) / os.fsdecode(name)
                if mask & IN_CREATE and mask & IN_ISDIR and path == self.folder / self.data_dir_name:
                    self._add(path, IN_CLOSE_WRITE)
                    if wanted.parent == path and wanted.exists():
                        return True
                if mask & IN_CLOSE_WRITE and path == wanted:
                    return True
        return False
