"""A private virtual X server for the Linux window tests, stopped by its own
process id when the test ends."""

import os
import subprocess


class PrivateDisplay:
    def __init__(self):
        self.xvfb = None
        self.display = None

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.__exit__(None, None, None)
            raise RuntimeError("Xvfb did not report a display")
        self.display = ":" + number
        return self

    def __exit__(self, *exc):
        if self.xvfb is not None and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        self.xvfb = None
        return False

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("WAYLAND_DISPLAY", None)
        env.update(extra or {})
        return env
