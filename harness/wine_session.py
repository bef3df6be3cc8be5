"""Runs Windows programs under wine inside a private virtual X server.

A session locks the build tree's wine prefix (making it on first use), starts
its own Xvfb and wineserver, and stops both by their process ids when it ends,
so no test leaves a server behind and no two tests share one.
"""

import contextlib
import fcntl
import os
import signal
import subprocess
import time
from pathlib import Path

from xvfb import PrivateXvfb

WINE = os.environ.get("LAUNCHER_WINE", "wine")
WINESERVER = os.environ.get("LAUNCHER_WINESERVER", "wineserver")


def _kill(process, sig=signal.SIGTERM, wait=5.0):
    if process is None or process.poll() is not None:
        return
    try:
        process.send_signal(sig)
        process.wait(timeout=wait)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def unix_to_windows(path):
    """The name wine gives a Unix path through its Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class WineSession:
    def __init__(self, prefix, log_dir=None, debug="-all"):
        self.prefix = Path(prefix).resolve()
        self.log_dir = Path(log_dir) if log_dir else self.prefix.parent
        self.debug = debug
        self.xvfb = None
        self.server = None
        self.display = None
        self._lock = None

    # -- environment ---------------------------------------------------------
    def env(self, extra=None):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": self.debug,
            "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=d",
            "WINEARCH": "win64",
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
        })
        if self.display is not None:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        if extra:
            env.update(extra)
        return env

    # -- servers -------------------------------------------------------------
    def _start_xvfb(self):
        self.xvfb = PrivateXvfb().__enter__()
        self.display = self.xvfb.display

    def _init_prefix(self):
        if (self.prefix / "system.reg").exists() and (self.prefix / ".launcher-ready").exists():
            return
        self.prefix.mkdir(parents=True, exist_ok=True)
        env = self.env()
        subprocess.run([WINE, "wineboot", "--init"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        settings = [
            # Xvfb runs no window manager; without this wine stalls about 2 s
            # whenever a top-level window is hidden or destroyed.
            ["HKCU\\Software\\Wine\\X11 Driver", "Managed", "REG_SZ", "N"],
            ["HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"],
        ]
        for key, name, kind, value in settings:
            subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"],
                           env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
        (self.prefix / ".launcher-ready").write_text("ok\n")

    def __enter__(self):
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        self._lock = open(str(self.prefix) + ".lock", "w")
        fcntl.flock(self._lock, fcntl.LOCK_EX)
        try:
            self._start_xvfb()
            self._init_prefix()
            self.server = subprocess.Popen([WINESERVER, "--foreground", "--persistent"],
                                           env=self.env(), stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
            time.sleep(0.2)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        if self.server is not None:
            with contextlib.suppress(Exception):
                subprocess.run([WINESERVER, "-k"], env=self.env(), timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            _kill(self.server)
            self.server = None
        if self.xvfb is not None:
            self.xvfb.stop()
        self.xvfb = None
        if self._lock is not None:
            self._lock.close()
            self._lock = None
        return False

    # -- programs ------------------------------------------------------------
    def spawn(self, exe, args=(), cwd=None, env=None, **popen):
        return subprocess.Popen([WINE, str(exe), *map(str, args)], cwd=cwd, env=self.env(env),
                                **popen)

    def run(self, exe, args=(), cwd=None, env=None, timeout=120, **popen):
        process = self.spawn(exe, args, cwd=cwd, env=env, **popen)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill(process, signal.SIGKILL)
            raise
        return subprocess.CompletedProcess(process.args, process.returncode, out, err)
