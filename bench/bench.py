#!/usr/bin/env python3
"""The launcher's benchmark: first-run unpacking against peer extractors,
the installed road, packing, size and memory. Prints one table.

Every figure is the median of several runs; each launcher run happens in a
fresh scratch directory on the same file system as the peers' runs, and the
launcher/peer ratios are measured pair by pair within one round.
"""

import argparse
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
sys.path.insert(0, str(ROOT / "harness"))

from wine_session import WineSession  # noqa: E402

RECORD = "game-record.txt"


def sh(args, **kw):
    return subprocess.run([str(a) for a in args], check=True, **kw)


def configure_and_build(preset, archive, binary_dir):
    """Configures and builds one launcher; returns the wall
    seconds and the peak resident memory (kB) of the biggest process."""
    commands = [
        ["cmake", "--preset", preset, "-B", binary_dir, "-DLAUNCHER_PAYLOAD=%s" % archive,
         "-DLAUNCHER_BUILD_TESTS=ON"],
        ["cmake", "--build", binary_dir, "-j", str(os.cpu_count() or 2), "--target", "launcher",
         "test_game"],
    ]
    wall = 0.0
    peak = 0
    for command in commands:
        started = time.monotonic()
        process = subprocess.Popen(command, cwd=ROOT, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        wall += time.monotonic() - started
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit("build failed: %s" % " ".join(command))
        # RUSAGE of a waited child carries the largest resident set among it
        # and the descendants it waited for.
        peak = max(peak, usage.ru_maxrss)
    return wall, peak


def launcher_file(binary_dir, windows):
    cache = (Path(binary_dir) / "CMakeCache.txt").read_text()
    name = next(l.split("=", 1)[1] for l in cache.splitlines() if l.startswith("LAUNCHER_APP_NAME:"))
    return Path(binary_dir) / (name + (".exe" if windows else ""))


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def wait_for_record(folder, process, timeout=120):
    record = folder / RECORD
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if record.exists():
            text = record.read_text()
            if "started_unix_ns=" in text and text.endswith("\n"):
                return int(text.split("started_unix_ns=")[1].split()[0])
        if process.poll() is not None and not record.exists():
            raise SystemExit("launcher exited with %s before starting the game" % process.returncode)
        time.sleep(0.0005)
    raise SystemExit("the game did not start in %s" % folder)


def run_launcher_until_game(command, folder, env=None):
    """Seconds from starting the launcher to the game's start, and the
    launcher's peak resident memory (kB). The launcher is stopped once the
    game has started: what follows is its window watch, not unpacking."""
    os.sync()  # no earlier run's writeback in this one's time
    started_ns = time.time_ns()
    process = subprocess.Popen(command, cwd=folder, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    game_ns = wait_for_record(folder, process)
    if process.poll() is None:
        process.send_signal(signal.SIGKILL)
    _, _, usage = os.wait4(process.pid, 0)
    return (game_ns - started_ns) / 1e9, usage.ru_maxrss


def time_command(command, cwd):
    os.sync()
    started = time.monotonic()
    sh(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - started


PEERS = {
    "unzip -q": lambda archive, out: ["unzip", "-q", archive, "-d", out],
    "bsdtar -xf": lambda archive, out: ["bsdtar", "-xf", archive, "-C", out],
    "7z x": lambda archive, out: ["7z", "x", "-y", "-bd", "-o%s" % out, archive],
}


def floor_command(archive, folder):
    """What the launcher's design cannot avoid: the archive written once into
    the folder, unpacked from that copy by the fastest peer, and removed."""
    copy = folder / "~archive-copy"
    out = folder / "out"
    return ["sh", "-c", 'cat "$1" > "$2" && mkdir "$3" && bsdtar -xf "$2" -C "$3" && rm "$2"',
            "floor", archive, copy, out]


def file_entries(archive):
    with zipfile.ZipFile(archive) as z:
        return sum(1 for name in z.namelist() if not name.endswith("/"))


def count_system_calls(command, folder, env):
    """All system calls of a first run (launcher, game and window watch
    included), from strace's summary."""
    summary = folder.parent / ("strace-%s.txt" % folder.name)
    subprocess.run(["strace", "-c", "-f", "-o", str(summary)] + [str(c) for c in command],
                   cwd=folder, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    total = next(line for line in summary.read_text().splitlines() if line.endswith(" total"))
    summary.unlink()
    return int(total.split()[3])


def first_runs_against_peers(launcher, archive, scratch, runs, env):
    """Median first run, next run and peak memory of the launcher, and for
    every peer (and the floor) its median time and median ratio, run by run."""
    firsts, seconds, peaks = [], [], []
    peers = dict(PEERS)
    peers["floor"] = None
    ratios = {name: [] for name in peers}
    times = {name: [] for name in peers}
    for run in range(runs):
        folder = fresh(scratch / ("launcher %d" % run))
        first, peak = run_launcher_until_game([launcher], folder, env)
        (folder / RECORD).unlink()
        second, _ = run_launcher_until_game([launcher], folder, env)
        firsts.append(first)
        seconds.append(second)
        peaks.append(peak)
        shutil.rmtree(folder)
        for name, command in peers.items():
            out = fresh(scratch / ("peer %d" % run))
            took = time_command(command(archive, out) if command else floor_command(archive, out),
                                scratch)
            shutil.rmtree(out)
            times[name].append(took)
            ratios[name].append(first / took)
    med = statistics.median
    return (med(firsts), med(seconds), max(peaks),
            {name: (med(times[name]), med(ratios[name])) for name in peers})


def stripped_size(program, windows):
    copy = BUILD / ("stripped" + (".exe" if windows else ""))
    shutil.copy(program, copy)
    sh(["x86_64-w64-mingw32-strip" if windows else "strip", copy])
    return copy.stat().st_size


def machine():
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    memory = int(Path("/proc/meminfo").read_text().split()[1]) // 1024 // 1024
    return "%s, %d cores, %d GiB, %s" % (model, os.cpu_count() or 0, memory, platform.platform())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-wine", action="store_true", help="skip the Windows build under wine")
    parser.add_argument("--scratch", default="/dev/shm/launcher-bench" if Path("/dev/shm").is_dir()
                        else str(BUILD / "scratch"),
                        help="where the runs unpack; by default a RAM file system, since a shared "
                             "virtual disk's writeback noise can outweigh the programs' own cost")
    parser.add_argument("--disk-scratch", default=str(BUILD / "scratch"),
                        help="where the runs on a disk file system unpack")
    args = parser.parse_args()
    BUILD.mkdir(parents=True, exist_ok=True)
    rows = []

    def row(figure, value, target="", met=None):
        verdict = "" if met is None else ("met" if met else "NOT MET")
        rows.append((figure, value, target, verdict))
        print("  %s: %s %s" % (figure, value, verdict), flush=True)

    # The games to pack: the test game of each target, which records its start.
    # Two variants of the archive differ by one small file: switching between
    # them is a rebuild where only the payload changed.
    print("building the test games ...", flush=True)
    trees = {"linux": BUILD / "linux", "windows": BUILD / "windows"}
    archives = {}
    for preset, tree in trees.items():
        sh(["cmake", "--preset", preset, "-B", tree], cwd=ROOT, stdout=subprocess.DEVNULL)
        sh(["cmake", "--build", tree, "--target", "test_game"], cwd=ROOT, stdout=subprocess.DEVNULL)
        game = tree / "tests" / ("test_game.exe" if preset == "windows" else "test_game")
        for variant in (1, 2):
            archive = BUILD / ("archive-%s-%d.zip" % (preset, variant))
            if not archive.exists():
                print("making %s ..." % archive.name, flush=True)
                sh([sys.executable, ROOT / "bench" / "make_archive.py", archive,
                    "--variant", str(variant), "--game", game])
            archives[(preset, variant)] = archive

    # Shaped like a real game's data: about 2,222 entries, 68 MB.
    real_archive = BUILD / "archive-linux-real.zip"
    if not real_archive.exists():
        print("making %s ..." % real_archive.name, flush=True)
        sh([sys.executable, ROOT / "bench" / "make_archive.py", real_archive, "--seed", "68",
            "--files", "2201", "--game", trees["linux"] / "tests" / "test_game"])
    real_tree = BUILD / "linux-real"
    configure_and_build("linux", real_archive, real_tree)

    archive = archives[("linux", 1)]
    archive_size = archive.stat().st_size
    print("archive: %s, %d bytes" % (archive.name, archive_size), flush=True)

    # Packing: a warm tree where only the payload changes.
    print("packing ...", flush=True)
    for preset, tree in trees.items():
        configure_and_build(preset, archives[(preset, 2)], tree)
        walls, peaks = [], []
        for run in range(args.runs):
            variant = 1 if run % 2 == 0 else 2
            wall, peak = configure_and_build(preset, archives[(preset, variant)], tree)
            walls.append(wall)
            peaks.append(peak)
        # Leave variant 1 packed for the runs below.
        configure_and_build(preset, archives[(preset, 1)], tree)
        wall = statistics.median(walls)
        peak = max(peaks) / 1024
        row("packing, %s: configure + build after the payload changed" % preset,
            "%.2f s wall, %.0f MB peak" % (wall, peak), "< 10 s, < 500 MB", wall < 10 and peak < 500)

    # Size of the launcher itself.
    for preset, tree in trees.items():
        program = launcher_file(tree, preset == "windows")
        overhead = stripped_size(program, preset == "windows") - archives[(preset, 1)].stat().st_size
        target = "< 1 MiB" if preset == "windows" else ""
        row("launcher overhead, %s, stripped" % preset, "%d KiB" % (overhead // 1024), target,
            overhead < 1024 * 1024 if preset == "windows" else None)

    # First run against the peers, pair by pair, and the installed road, on a
    # RAM file system and on disk, for both archives.
    linux_launcher = launcher_file(trees["linux"], False)
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    scratches = [Path(args.scratch), Path(args.disk_scratch)]
    file_systems = []
    first = None
    peak_kb = 0
    second_runs = []
    for scratch in scratches:
        scratch.mkdir(parents=True, exist_ok=True)
        file_system = subprocess.run(["stat", "-f", "-c", "%T", str(scratch)], capture_output=True,
                                     text=True).stdout.strip()
        file_systems.append("%s (%s)" % (scratch, file_system))
        for label, program, zip_file in (("benchmark archive", linux_launcher, archive),
                                         ("real-data shape", launcher_file(real_tree, False),
                                          real_archive)):
            print("first and second runs, %s, %s ..." % (label, file_system), flush=True)
            took, second, peak, peers = first_runs_against_peers(program, zip_file, scratch,
                                                                 args.runs, env)
            if first is None:
                first = took
            second_runs.append(second)
            if zip_file == archive:
                peak_kb = max(peak_kb, peak)
            floor_time, floor_ratio = peers.pop("floor")
            bsdtar_ratio = peers["bsdtar -xf"][1]
            limit = 1.03 if file_system == "tmpfs" else None
            row("first run, Linux launcher, %s, %s" % (label, file_system),
                "%.3f s; / floor (%.3f s) %.2f, / bsdtar %.2f" % (took, floor_time, floor_ratio,
                                                                  bsdtar_ratio),
                "<= %.2f x floor" % limit if limit else "",
                floor_ratio <= limit if limit else None)
            for name, (peer_time, ratio) in peers.items():
                row("  against %s (%.3f s)" % (name, peer_time), "ratio %.2f" % ratio)
    scratch = scratches[0]
    second = statistics.median(second_runs)
    row("installed road, Linux launcher (start to game start)", "%.2f ms" % (second * 1000),
        "< 5 ms", second < 0.005)
    peak_mb = peak_kb / 1024
    budget = archive_size / 1e6 + 16
    row("peak resident memory, first run", "%.1f MB" % peak_mb, "<= %.1f MB" % budget,
        peak_mb <= budget)

    # System calls per unpacked file entry.
    folder = fresh(scratch / "strace")
    calls = count_system_calls([linux_launcher], folder, env)
    shutil.rmtree(folder)
    entries = file_entries(archive)
    row("system calls per file entry, first run (strace -c -f, all calls / %d)" % entries,
        "%.1f (%d calls)" % (calls / entries, calls))

    if not args.no_wine:
        windows_launcher = launcher_file(trees["windows"], True)
        wine_firsts = []
        with WineSession(trees["windows"] / "wine" / "prefix") as session:
            # The first start of a prefix is wine's own setup, not the launcher's.
            session.run("cmd", ["/c", "exit"], timeout=300)
            wine_nexts, own = [], []
            for run in range(args.runs):
                folder = fresh(scratch / ("wine %d" % run))
                took, _ = run_launcher_until_game(["wine", windows_launcher], folder, session.env())
                (folder / RECORD).unlink()
                # The next run takes the installed road: wine's start and the launch.
                again, _ = run_launcher_until_game(["wine", windows_launcher], folder,
                                                   session.env())
                wine_firsts.append(took)
                wine_nexts.append(again)
                own.append(took - again)
                shutil.rmtree(folder, ignore_errors=True)
        wine_first = statistics.median(wine_firsts)
        wine_next = statistics.median(wine_nexts)
        wine_own = statistics.median(own)
        row("first run, Windows launcher under wine", "%.3f s (%.2f x Linux)"
            % (wine_first, wine_first / first))
        row("  wine's start and the launch (next run, same folder)", "%.3f s" % wine_next)
        row("  the unpacking's own work (first minus next run)", "%.3f s (%.2f x Linux first run)"
            % (wine_own, wine_own / first), "<= 2 x Linux", wine_own <= 2 * first)

    for scratch in scratches:
        shutil.rmtree(scratch, ignore_errors=True)
    print()
    print("machine: %s" % machine())
    print("archives: %d bytes (benchmark), %d bytes (real-data shape); %d runs each, medians; "
          "runs unpack in %s" % (archive_size, real_archive.stat().st_size, args.runs,
                                 " and ".join(file_systems)))
    print("floor: the archive written once into the folder + bsdtar -xf of that copy + removing it")
    width = max(len(r[0]) for r in rows)
    print("| %s | value | target | |" % "figure".ljust(width))
    print("|%s|---|---|---|" % ("-" * (width + 2)))
    for figure, value, target, verdict in rows:
        print("| %s | %s | %s | %s |" % (figure.ljust(width), value, target, verdict))


if __name__ == "__main__":
    main()
