#!/usr/bin/env python3
"""The launcher's benchmark: first-run unpacking against peer extractors,
the installed road, packing, size and memory, an update and the flush's
cost on disk. Prints one table. With --large, the games of gigabytes and
at the image limit instead (bench/large.py).

Every figure is the median of several runs; each launcher run happens in a
fresh scratch directory on the same file system as the peers' runs, and the
launcher/peer ratios are measured pair by pair within one round.
"""

import argparse
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

from measure import (BUILD, FLUSHED, PEERS, RECORD, ROOT, UNFLUSHED, Native, Table, UnderWine,
                     Update, WineSession, WINE, build_launcher, configure_and_build, file_system,
                     fresh, machine, median, rounds, run_launcher_until_game, sh, summary,
                     time_command, update_and_flush_rows)


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
            took, _ = time_command(command(archive, out) if command
                                   else floor_command(archive, out), scratch)
            shutil.rmtree(out)
            times[name].append(took)
            ratios[name].append(first / took)
    med = median
    return (med(firsts), med(seconds), max((p for p in peaks if p), default=0),
            {name: (med(times[name]), med(ratios[name])) for name in peers})


def stripped_size(program, windows):
    copy = BUILD / ("stripped" + (".exe" if windows else ""))
    shutil.copy(program, copy)
    sh(["x86_64-w64-mingw32-strip" if windows else "strip", copy])
    return copy.stat().st_size


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=None,
                        help="rounds of each measure (default 5; 3 with --large)")
    parser.add_argument("--no-wine", action="store_true", help="skip the Windows build under wine")
    parser.add_argument("--large", action="store_true",
                        help="the games of gigabytes and at the image limit, on disk "
                             "(bench/large.py)")
    parser.add_argument("--large-mib", type=int, default=3110,
                        help="with --large, the large entry's size (smaller: a trial of the run)")
    parser.add_argument("--scratch", default="/dev/shm/launcher-bench" if Path("/dev/shm").is_dir()
                        else str(BUILD / "scratch"),
                        help="where the runs unpack; by default a RAM file system, since a shared "
                             "virtual disk's writeback noise can outweigh the programs' own cost")
    parser.add_argument("--disk-scratch", default=str(BUILD / "scratch"),
                        help="where the runs on a disk file system unpack (and --large all "
                             "it makes)")
    args = parser.parse_args()
    BUILD.mkdir(parents=True, exist_ok=True)
    if args.large:
        import large
        args.runs = args.runs or 3
        large.main(args)
        return
    args.runs = args.runs or 5
    table = Table()
    row = table.row

    # The games to pack: the test game of each target, which records its start.
    # Two variants of the archive differ by one small file: switching between
    # them is a rebuild where only the payload changed. Each target has a
    # second tree whose launcher leaves its files to the system's writeback.
    print("building the test games ...", flush=True)
    presets = ["linux"] + ([] if args.no_wine else ["windows"])
    trees = {preset: BUILD / preset for preset in presets}
    unflushed_trees = {preset: BUILD / (preset + "-unflushed") for preset in presets}
    launchers = BUILD / "launchers"
    archives = {}
    for preset, tree in trees.items():
        configure_and_build(preset, "", tree, FLUSHED, ["test_game"])
        game = tree / "tests" / ("test_game.exe" if preset == "windows" else "test_game")
        for variant in (1, 2):
            archive = BUILD / ("archive-%s-%d.zip" % (preset, variant))
            if not archive.exists():
                print("making %s ..." % archive.name, flush=True)
                sh([sys.executable, ROOT / "bench" / "make_archive.py", archive,
                    "--variant", str(variant), "--game", game])
            archives[(preset, variant)] = archive
        # Shaped like a real game's data: about 2,222 entries, 68 MB; and its
        # next version from the same seed.
        for version in (1, 2):
            archive = BUILD / ("archive-%s-real-%d.zip" % (preset, version))
            if not archive.exists():
                print("making %s ..." % archive.name, flush=True)
                sh([sys.executable, ROOT / "bench" / "make_archive.py", archive, "--seed", "68",
                    "--files", "2201", "--game", game] + (["--update"] if version == 2 else []))
            archives[(preset, "real", version)] = archive

    archive = archives[("linux", 1)]
    archive_size = archive.stat().st_size
    real_archive = archives[("linux", "real", 1)]
    print("archive: %s, %d bytes" % (archive.name, archive_size), flush=True)

    # Packing: a warm tree where only the payload changes.
    print("packing ...", flush=True)
    for preset, tree in trees.items():
        configure_and_build(preset, archives[(preset, 2)], tree, FLUSHED)
        walls, peaks = [], []
        for run in range(args.runs):
            variant = 1 if run % 2 == 0 else 2
            wall, peak = configure_and_build(preset, archives[(preset, variant)], tree, FLUSHED)
            walls.append(wall)
            peaks.append(peak)
        wall = median(walls)
        peak = max(peaks) / 1024
        row("packing, %s: configure + build after the payload changed" % preset,
            "%.2f s wall, %.0f MB peak" % (wall, peak), "< 10 s, < 500 MB", wall < 10 and peak < 500)

    # The launchers the runs below start, side by side.
    print("building the launchers ...", flush=True)
    suffix = {"linux": "", "windows": ".exe"}
    for preset, tree in trees.items():
        name = lambda what: launchers / ("%s-%s%s" % (preset, what, suffix[preset]))  # noqa: E731
        build_launcher(preset, archives[(preset, 1)], tree, name("benchmark"), FLUSHED)
        build_launcher(preset, archives[(preset, "real", 1)], tree, name("real-1"), FLUSHED)
        build_launcher(preset, archives[(preset, "real", 2)], tree, name("real-2"), FLUSHED)
        build_launcher(preset, archives[(preset, "real", 1)], unflushed_trees[preset],
                       name("real-1-unflushed"), UNFLUSHED)

    def launcher(preset, what):
        return launchers / ("%s-%s%s" % (preset, what, suffix[preset]))

    # Size of the launcher itself.
    for preset in trees:
        windows = preset == "windows"
        overhead = stripped_size(launcher(preset, "benchmark"), windows) - \
            archives[(preset, 1)].stat().st_size
        target = "< 1 MiB" if windows else ""
        row("launcher overhead, %s, stripped" % preset, "%d KiB" % (overhead // 1024), target,
            overhead < 1024 * 1024 if windows else None)

    # First run against the peers, pair by pair, and the installed road, on a
    # RAM file system and on disk, for both archives.
    linux_launcher = launcher("linux", "benchmark")
    env = Native().env
    scratches = [Path(args.scratch), Path(args.disk_scratch)]
    file_systems = []
    first = None
    peak_kb = 0
    second_runs = []
    for scratch in scratches:
        scratch.mkdir(parents=True, exist_ok=True)
        kind = file_system(scratch)
        file_systems.append("%s (%s)" % (scratch, kind))
        for label, program, zip_file in (("benchmark archive", linux_launcher, archive),
                                         ("real-data shape", launcher("linux", "real-1"),
                                          real_archive)):
            print("first and second runs, %s, %s ..." % (label, kind), flush=True)
            took, second, peak, peers = first_runs_against_peers(program, zip_file, scratch,
                                                                 args.runs, env)
            if first is None:
                first = took
            second_runs.append(second)
            if zip_file == archive:
                peak_kb = max(peak_kb, peak)
            floor_time, floor_ratio = peers.pop("floor")
            bsdtar_ratio = peers["bsdtar -xf"][1]
            limit = 1.03 if kind == "tmpfs" else None
            row("first run, Linux launcher, %s, %s" % (label, kind),
                "%.3f s; / floor (%.3f s) %.2f, / bsdtar %.2f" % (took, floor_time, floor_ratio,
                                                                  bsdtar_ratio),
                "<= %.2f x floor" % limit if limit else "",
                floor_ratio <= limit if limit else None)
            for name, (peer_time, ratio) in peers.items():
                row("  against %s (%.3f s)" % (name, peer_time), "ratio %.2f" % ratio)
    scratch = scratches[0]
    second = median(second_runs)
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

    # An update to the next version and the flush's cost, on disk, where the
    # flush has something to wait for.
    disk_scratch = scratches[1]
    change = Update(archives[("linux", "real", 1)], archives[("linux", "real", 2)])
    print("first start, update (%s), unflushed first start, on disk ..." % change.describe(),
          flush=True)
    figures = summary(rounds(Native(), disk_scratch, args.runs, launcher("linux", "real-1"),
                             update=(launcher("linux", "real-2"), change),
                             unflushed=launcher("linux", "real-1-unflushed")))
    update_and_flush_rows(table, "real-data shape, natively, disk, image road", figures, 0.25)

    if not args.no_wine:
        windows_launcher = launcher("windows", "benchmark")
        wine_firsts = []
        with WineSession(trees["windows"] / "wine" / "prefix") as session:
            # The first start of a prefix is wine's own setup, not the launcher's.
            session.run("cmd", ["/c", "exit"], timeout=300)
            wine_nexts, own = [], []
            for run in range(args.runs):
                folder = fresh(scratch / ("wine %d" % run))
                took, _ = run_launcher_until_game([WINE, windows_launcher], folder, session.env())
                (folder / RECORD).unlink()
                # The next run takes the installed road: wine's start and the launch.
                again, _ = run_launcher_until_game([WINE, windows_launcher], folder,
                                                   session.env())
                wine_firsts.append(took)
                wine_nexts.append(again)
                own.append(took - again)
                shutil.rmtree(folder, ignore_errors=True)
            change = Update(archives[("windows", "real", 1)], archives[("windows", "real", 2)])
            print("under wine: first start, update, unflushed first start, on disk ...", flush=True)
            figures = summary(rounds(UnderWine(session), disk_scratch, args.runs,
                                     launcher("windows", "real-1"),
                                     update=(launcher("windows", "real-2"), change),
                                     unflushed=launcher("windows", "real-1-unflushed")))
        wine_first = median(wine_firsts)
        wine_next = median(wine_nexts)
        wine_own = median(own)
        row("first run, Windows launcher under wine", "%.3f s (%.2f x Linux)"
            % (wine_first, wine_first / first))
        row("  wine's start and the launch (next run, same folder)", "%.3f s" % wine_next)
        row("  the unpacking's own work (first minus next run)", "%.3f s (%.2f x Linux first run)"
            % (wine_own, wine_own / first), "<= 2 x Linux", wine_own <= 2 * first)
        update_and_flush_rows(table, "real-data shape, under wine, disk, image road", figures, 0.25)

    for scratch in scratches:
        shutil.rmtree(scratch, ignore_errors=True)
    print()
    print("machine: %s" % machine(disk_scratch))
    print("archives: %d bytes (benchmark), %d bytes (real-data shape); %d runs each, medians; "
          "runs unpack in %s" % (archive_size, real_archive.stat().st_size, args.runs,
                                 " and ".join(file_systems)))
    print("floor: the archive written once into the folder + bsdtar -xf of that copy + removing it")
    table.print()


if __name__ == "__main__":
    main()
