"""What the benchmarks share: building launchers, timing a launcher's start
up to the game's own start and a peer's extraction, natively and under wine
(with the answer probe asking the window beside it), the rounds of first
start, update and first start without the flush, the machine, and the table.
"""

import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import time
import zipfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
sys.path.insert(0, str(ROOT / "harness"))

from wine_session import WINE, WineSession  # noqa: E402,F401

RECORD = "game-record.txt"
DATA_DIR = "!QuillMark_data"
# The launcher that writes its files through to the disk before the stamp,
# and the one that leaves them to the system's writeback.
FLUSHED = ["-DLAUNCHER_FLUSH_TO_DISK=ON"]
UNFLUSHED = ["-DLAUNCHER_FLUSH_TO_DISK=OFF"]
median = statistics.median


def sh(args, **kw):
    return subprocess.run([str(a) for a in args], check=True, **kw)


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def peak_program():
    """bench/peak_rss.c, built once: the peak resident memory of a command."""
    source = ROOT / "bench" / "peak_rss.c"
    program = BUILD / "peak_rss"
    if not program.exists() or program.stat().st_mtime < source.stat().st_mtime:
        BUILD.mkdir(parents=True, exist_ok=True)
        sh(["cc", "-O2", "-o", program, source])
    return program


def measured(command, cwd=None, env=None):
    """Runs `command` to its end; returns its exit status, wall seconds and
    peak resident memory (kB, its own or its descendants')."""
    record = BUILD / ("peak-%d.txt" % os.getpid())
    started = time.monotonic()
    status = subprocess.run([str(peak_program()), str(record)] + [str(c) for c in command],
                            cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
    took = time.monotonic() - started
    peak = int(record.read_text()) if record.exists() else 0
    record.unlink(missing_ok=True)
    return status, took, peak


def configure_and_build(preset, archive, binary_dir, options=(), targets=("launcher", "test_game")):
    """Configures and builds one tree; returns the wall seconds and the peak
    resident memory (kB) of the biggest process."""
    commands = [
        ["cmake", "--preset", preset, "-B", binary_dir, "-DLAUNCHER_PAYLOAD=%s" % archive,
         "-DLAUNCHER_BUILD_TESTS=ON", *options],
        ["cmake", "--build", binary_dir, "-j", str(min(os.cpu_count() or 2, 2)), "--target",
         *targets],
    ]
    wall = 0.0
    peak = 0
    for command in commands:
        status, took, command_peak = measured(command, cwd=ROOT)
        if status != 0:
            raise SystemExit("build failed: %s (run it by hand to see why)"
                             % " ".join(str(c) for c in command))
        wall += took
        peak = max(peak, command_peak)
    return wall, peak


def launcher_file(binary_dir, windows):
    cache = (Path(binary_dir) / "CMakeCache.txt").read_text()
    name = next(l.split("=", 1)[1] for l in cache.splitlines() if l.startswith("LAUNCHER_APP_NAME:"))
    return Path(binary_dir) / (name + (".exe" if windows else ""))


def build_launcher(preset, archive, tree, dest, options=()):
    """Builds the launcher of `archive` in `tree` and moves it to `dest`, so
    that launchers of one tree (a game and its update) stand side by side;
    the tree's next build links anew. Returns the build's (seconds, peak kB)."""
    took = configure_and_build(preset, archive, tree, options)
    dest = Path(dest)
    dest.parent.mkdir(parents=True, exist_ok=True)
    if dest.exists():
        dest.unlink()
    shutil.move(str(launcher_file(tree, preset == "windows")), str(dest))
    return took


def wait_for_record(folder, process, timeout):
    record = folder / RECORD
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if record.exists():
            text = record.read_text()
            if "started_unix_ns=" in text and text.endswith("\n"):
                return int(text.split("started_unix_ns=")[1].split()[0])
        if process.poll() is not None and not record.exists():
            raise SystemExit("launcher exited with %s before starting the game in %s"
                             % (process.returncode, folder))
        time.sleep(0.0005)
    process.kill()
    raise SystemExit("the game did not start in %s within %d s" % (folder, timeout))


def run_launcher_until_game(command, folder, env=None, timeout=120):
    """Seconds from starting the launcher to the game's start, and the
    launcher's peak resident memory (kB). The launcher is stopped once the
    game has started: what follows is its window watch, not unpacking."""
    os.sync()  # no earlier run's writeback in this one's time
    started_ns = time.time_ns()
    process = subprocess.Popen([str(c) for c in command], cwd=folder, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    game_ns = wait_for_record(folder, process, timeout)
    peak = None
    if process.poll() is None:
        # The high-water mark of the launcher's own memory (a child's
        # resource usage would count Python's, which it started from).
        try:
            status = Path("/proc/%d/status" % process.pid).read_text()
            peak = int(next(l for l in status.splitlines() if l.startswith("VmHWM:")).split()[1])
        except (OSError, StopIteration):
            pass
        process.send_signal(signal.SIGKILL)
    process.wait()
    return (game_ns - started_ns) / 1e9, peak


def time_command(command, cwd):
    """Seconds and peak resident memory (kB) of a command."""
    os.sync()
    status, took, peak = measured(command, cwd=cwd)
    if status != 0:
        raise SystemExit("failed: %s" % " ".join(str(c) for c in command))
    return took, peak


PEERS = {
    "unzip -q": lambda archive, out: ["unzip", "-q", archive, "-d", out],
    "bsdtar -xf": lambda archive, out: ["bsdtar", "-xf", archive, "-C", out],
    "7z x": lambda archive, out: ["7z", "x", "-y", "-bd", "-o%s" % out, archive],
}


def peer_run(name, archive, scratch):
    """A peer's extraction into a fresh folder, removed afterwards: (seconds, peak kB)."""
    out = fresh(scratch / "peer")
    try:
        return time_command(PEERS[name](archive, out), scratch)
    finally:
        shutil.rmtree(out, ignore_errors=True)


class Start:
    """One launcher start up to the game's: seconds, the launcher's peak
    resident memory (kB, native only) and the answer probe's record."""

    def __init__(self, seconds, peak_kb=None, answers=None):
        self.seconds = seconds
        self.peak_kb = peak_kb
        self.answers = answers


class Native:
    label = "natively"

    def __init__(self, timeout=120):
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.timeout = timeout

    def start(self, launcher, folder):
        seconds, peak = run_launcher_until_game([launcher], folder, self.env, self.timeout)
        return Start(seconds, peak)

    def settle(self):
        pass


class UnderWine:
    """Starts Windows launchers in a wine session; with a probe, the answer
    probe runs beside each start and its record comes back with the time."""

    label = "under wine"

    def __init__(self, session, probe=None, timeout=120):
        self.session = session
        self.probe = probe
        self.timeout = timeout

    def start(self, launcher, folder):
        probe = record = None
        if self.probe:
            record = folder.parent / ("answers of %s.txt" % folder.name)
            if record.exists():
                record.unlink()
            probe = self.session.spawn(self.probe, ["%d" % (self.timeout * 1000), "1000", record],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)  # asking before the window can appear
        try:
            seconds, _ = run_launcher_until_game([WINE, launcher], folder, self.session.env(),
                                                 self.timeout)
        finally:
            answers = self._answers(probe, record) if probe else None
        return Start(seconds, None, answers)

    @staticmethod
    def _answers(probe, record):
        # The probe ends when the window is gone, which is before the game starts.
        try:
            probe.wait(timeout=30)
        except subprocess.TimeoutExpired:
            probe.kill()
            probe.wait()
            return None
        if probe.returncode != 0 or not record.exists():
            return None
        lines = record.read_text().splitlines()
        answers = dict(line.split("=", 1) for line in lines if "=" in line)
        record.unlink()
        return answers

    def settle(self):
        # The killed launcher's and the finished game's processes leave wine
        # before the next start, which may replace the game's files.
        time.sleep(1.0)


class Update:
    """What the next version of a game changes, from the two archives: the
    folder after an update must hold the new bytes, the added file, and not
    the removed one."""

    def __init__(self, old_archive, new_archive):
        with zipfile.ZipFile(old_archive) as old, zipfile.ZipFile(new_archive) as new:
            before = {i.filename: i.CRC for i in old.infolist() if not i.is_dir()}
            after = {i.filename: i.CRC for i in new.infolist() if not i.is_dir()}
        self.entries = len(after)
        self.changed = {n: crc for n, crc in after.items() if n in before and before[n] != crc}
        self.added = {n: crc for n, crc in after.items() if n not in before}
        self.removed = [n for n in before if n not in after]

    def check(self, folder):
        data = Path(folder) / DATA_DIR
        for name in self.removed:
            if (data / name).exists():
                raise SystemExit("the update left %s, which the new version removed" % name)
        for name, crc in list(self.changed.items()) + list(self.added.items()):
            path = data / name
            if not path.exists() or zlib.crc32(path.read_bytes()) != crc:
                raise SystemExit("the update did not write the new %s" % name)

    def describe(self):
        return "%d of %d files changed, %d removed, %d added" % (
            len(self.changed), self.entries, len(self.removed), len(self.added))


def rounds(runner, scratch, runs, first, update=None, unflushed=None, peer=None):
    """`runs` rounds, each in fresh folders of `scratch`: `first`'s first
    start, then (with `update`, a pair of the next version's launcher and its
    Update) the update in the same folder; `peer()` (an extraction to compare
    with); and `unflushed`'s first start, before or after `first`'s by turns.
    Returns lists of Start (and peer figures) per kind, pair by pair."""
    got = {"first": [], "update": [], "unflushed": [], "peer": []}

    def note(kind, run, figure):
        got[kind].append(figure)
        seconds = figure[0] if kind == "peer" else figure.seconds
        answers = "" if kind == "peer" or figure.answers is None else (
            " (window: longest wait %(longest_wait_ms)s ms, longest gap %(longest_gap_ms)s ms, "
            "%(unanswered)s unanswered, at %(longest_wait_began_ms)s ms)" % figure.answers)
        print("    round %d, %s: %.3f s%s" % (run + 1, kind, seconds, answers), flush=True)

    def unflushed_start(run):
        folder = fresh(scratch / ("unflushed %d" % run))
        try:
            note("unflushed", run, runner.start(unflushed, folder))
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        runner.settle()

    for run in range(runs):
        if unflushed and run % 2:
            unflushed_start(run)
        folder = fresh(scratch / ("first %d" % run))
        try:
            note("first", run, runner.start(first, folder))
            if update:
                (folder / RECORD).unlink()
                runner.settle()
                launcher, change = update
                note("update", run, runner.start(launcher, folder))
                change.check(folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        runner.settle()
        if peer:
            note("peer", run, peer())
        if unflushed and not run % 2:
            unflushed_start(run)
    return got


def summary(got):
    """Medians, and the ratios pair by pair: update / first start, and the
    flush's cost, (first start - unflushed first start) / unflushed."""
    firsts = [s.seconds for s in got["first"]]
    out = {"first": median(firsts)}
    if got["update"]:
        out["update"] = median(s.seconds for s in got["update"])
        out["update_ratio"] = median(u.seconds / f.seconds
                                     for u, f in zip(got["update"], got["first"]))
    if got["unflushed"]:
        out["unflushed"] = median(s.seconds for s in got["unflushed"])
        out["flush_cost"] = median((f.seconds - u.seconds) / u.seconds
                                   for f, u in zip(got["first"], got["unflushed"]))
    peaks = [s.peak_kb for s in got["first"] if s.peak_kb]
    if peaks:
        out["peak_kb"] = max(peaks)
    if got["peer"]:
        out["peer"] = median(p[0] for p in got["peer"])
        out["peer_peak_kb"] = max(p[1] for p in got["peer"])
        out["peer_ratio"] = median(f.seconds / p[0] for f, p in zip(got["first"], got["peer"]))
    answers = [s.answers for kind in ("first", "update", "unflushed") for s in got[kind]
               if s.answers is not None]
    asked = [s for kind in ("first", "update", "unflushed") for s in got[kind]]
    if answers:
        out["longest_wait_ms"] = max(int(a["longest_wait_ms"]) for a in answers)
        out["longest_gap_ms"] = max(int(a["longest_gap_ms"]) for a in answers)
        out["unanswered"] = sum(int(a["unanswered"]) for a in answers)
        out["probed"] = "%d of %d starts" % (len(answers), len(asked))
    return out


def file_system(path):
    return subprocess.run(["df", "--output=fstype", str(path)], capture_output=True,
                          text=True).stdout.split()[-1]


def disk(path):
    """The device, file system and size under `path`, and whether the kernel
    takes it for a rotating disk."""
    path = Path(path)
    while not path.exists():
        path = path.parent
    fields = subprocess.run(["df", "--output=source,fstype,size", str(path)], capture_output=True,
                            text=True).stdout.splitlines()[-1].split()
    source, fstype, size_kb = fields[0], fields[1], int(fields[2])
    device = Path(source).name
    kind = ""
    rotational = Path("/sys/block/%s/queue/rotational" % device)
    if rotational.exists():
        kind = ", rotational" if rotational.read_text().strip() == "1" else ", solid-state"
    if device.startswith("vd"):
        kind += ", virtio virtual disk"
    return "%s (%s, %.0f GB%s)" % (source, fstype, size_kb / 1e6, kind)


def machine(path=None):
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    memory = int(Path("/proc/meminfo").read_text().split()[1]) // 1024 // 1024
    text = "%s, %d cores, %d GiB RAM, kernel %s (%s)" % (
        model, os.cpu_count() or 0, memory, platform.release(), platform.platform())
    if path:
        text += "; disk %s" % disk(path)
    return text


class Table:
    def __init__(self):
        self.rows = []

    def row(self, figure, value, target="", met=None):
        verdict = "" if met is None else ("met" if met else "NOT MET")
        self.rows.append((figure, value, target, verdict))
        print("  %s: %s %s" % (figure, value, verdict), flush=True)

    def print(self):
        width = max(len(r[0]) for r in self.rows)
        print("| %s | value | target | |" % "figure".ljust(width))
        print("|%s|---|---|---|" % ("-" * (width + 2)))
        for figure, value, target, verdict in self.rows:
            print("| %s | %s | %s | %s |" % (figure.ljust(width), value, target, verdict))


def update_and_flush_rows(table, what, figures, update_target, first_row=True):
    """The rows of one runner's rounds with an update and an unflushed launcher."""
    if first_row:
        table.row("%s: first start" % what, "%.3f s" % figures["first"])
    if "update" in figures:
        ratio = figures["update_ratio"]
        table.row("%s: update (1%% of the files, one removed, one added)" % what,
                  "%.3f s, %.1f%% of the first start" % (figures["update"], ratio * 100),
                  "<= %d%%" % (update_target * 100), ratio <= update_target)
    if "unflushed" in figures:
        cost = figures["flush_cost"]
        table.row("%s: first start without the flush" % what,
                  "%.3f s; the flush costs %.1f%%" % (figures["unflushed"], cost * 100),
                  "<= 10%" if "natively" in what else "", cost <= 0.10 if "natively" in what
                  else None)
