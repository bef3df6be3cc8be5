"""bench/run --large: games at the sizes where the archive's two homes meet
their limits, built and run on disk.

- A game of about 3.3 GB (one stored, incompressible entry of 3,110 MiB and
  3,000 small files; bench/make_large_game.py) rides attached to the
  executable's file. Its payload-only build (from the image game's tree),
  and rounds of: its first start, an update to the next version (1% of the
  files changed, one removed, one added) in the same folder, bsdtar -xf of
  the same archive on the same disk (natively), and a first start by a
  launcher built without the flush; natively and under wine, with the
  answer probe asking the window beside every start under wine.
- A game just under the image limit (about 248 MiB) rides in the image: its
  payload-only build and its first start (beside bsdtar natively).

Everything it makes goes below <disk scratch>/large and is removed at the
end, whatever ends the run; of the build trees, shared with the rest of the
benchmark, only files of 128 MB or more are removed (a launcher, an image's
payload object).
About 17 GB of disk at the peak (the archive, three launchers of 3.3 GB and
one unpacked game).
"""

import contextlib
import shutil
import signal
import subprocess
import sys
import zipfile
from pathlib import Path

from measure import (BUILD, FLUSHED, ROOT, UNFLUSHED, Native, Table, UnderWine, Update,
                     WineSession, build_launcher, configure_and_build, file_system, machine,
                     peer_run, rounds, sh, summary, update_and_flush_rows)

IMAGE_LIMIT = 268435456  # LAUNCHER_MAPPED_PAYLOAD_LIMIT's default
BIG_FILE = 128 << 20
NEEDED_DISK = 18 * 10**9
MB = 1024.0


def make_game(output, game, *extra):
    sh([sys.executable, ROOT / "bench" / "make_large_game.py", output, "--game", game, *extra])
    return Path(output)


def describe(archive):
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
    largest = max(infos, key=lambda i: i.file_size)
    return "%.2f GB, %d entries, largest %.2f GiB (%s)" % (
        Path(archive).stat().st_size / 1e9, len(infos), largest.file_size / 2**30,
        "stored" if largest.compress_type == zipfile.ZIP_STORED else "deflated")


def answer_row(table, what, figures):
    if "longest_wait_ms" in figures:
        table.row("%s: the window, asked its bar's position every ms (%s)" % (what,
                                                                            figures["probed"]),
                  "longest wait for an answer %d ms, longest time between answers %d ms, "
                  "%d unanswered in 1 s" % (figures["longest_wait_ms"], figures["longest_gap_ms"],
                                            figures["unanswered"]),
                  "every question answered", figures["unanswered"] == 0)
    else:
        table.row("%s: the window" % what, "the probe found no window", "", False)


def first_rows(table, what, figures, native):
    if native:
        table.row("%s: first start" % what,
                  "%.2f s, %.1f MB peak resident; bsdtar -xf %.2f s, %.1f MB peak; ratio %.2f"
                  % (figures["first"], figures["peak_kb"] / MB, figures["peer"],
                     figures["peer_peak_kb"] / MB, figures["peer_ratio"]))
    else:
        table.row("%s: first start" % what, "%.2f s" % figures["first"])


def run_preset(preset, args, scratch, table):
    windows = preset == "windows"
    tree = BUILD / preset
    unflushed_tree = BUILD / (preset + "-unflushed")
    games = scratch / "games"
    launchers = scratch / "launchers"
    runs_dir = scratch / "runs"
    for folder in (games, launchers, runs_dir):
        folder.mkdir(parents=True, exist_ok=True)
    suffix = ".exe" if windows else ""

    print("%s: compiling the launchers (with the demo game) ..." % preset, flush=True)
    targets = ["launcher", "test_game"] + (["answer_probe"] if windows else [])
    configure_and_build(preset, "", tree, FLUSHED, targets)
    configure_and_build(preset, "", unflushed_tree, UNFLUSHED, ["launcher"])
    game = tree / "tests" / ("test_game" + suffix)
    probe = tree / "tests" / "answer_probe.exe"

    with WineSession(tree / "wine" / "prefix") if windows else contextlib.nullcontext() as session:
        if windows:
            session.run("cmd", ["/c", "exit"], timeout=300)
            runner = UnderWine(session, probe, timeout=1200)
        else:
            runner = Native(timeout=1200)

        def bsdtar(archive):
            return (lambda: peer_run("bsdtar -xf", archive, runs_dir)) if not windows else None

        where = "%s, %s" % (runner.label, "Windows launcher" if windows else "Linux launcher")

        # The image game.
        print("%s: the image game ..." % preset, flush=True)
        image = make_game(games / ("image-%s.zip" % preset), game, "--large-mib", "230",
                          "--files", "800", "--seed", "7")
        if image.stat().st_size > IMAGE_LIMIT:
            raise SystemExit("%s is above the image limit" % image)
        took, peak = build_launcher(preset, image, tree, launchers / ("image" + suffix), FLUSHED)
        table.row("image game (%s), %s: configure + build after the payload changed"
                  % (describe(image), preset), "%.1f s, %.0f MB peak" % (took, peak / MB))
        figures = summary(rounds(runner, runs_dir, args.runs, launchers / ("image" + suffix),
                                 peer=bsdtar(image)))
        first_rows(table, "image game, %s" % where, figures, not windows)
        if windows:
            answer_row(table, "image game, %s" % where, figures)
        for path in (image, launchers / ("image" + suffix)):
            path.unlink()

        # The large game and its next version.
        print("%s: the large game ..." % preset, flush=True)
        first = make_game(games / ("large-1-%s.zip" % preset), game, "--large-mib",
                          str(args.large_mib))
        took, peak = build_launcher(preset, first, tree, launchers / ("large-1" + suffix), FLUSHED)
        table.row("large game (%s), %s: configure + build after the payload changed"
                  % (describe(first), preset), "%.1f s, %.0f MB peak" % (took, peak / MB))
        second = make_game(games / ("large-2-%s.zip" % preset), game, "--large-mib",
                           str(args.large_mib), "--update")
        change = Update(first, second)
        size = first.stat().st_size
        build_launcher(preset, second, tree, launchers / ("large-2" + suffix), FLUSHED)
        second.unlink()
        build_launcher(preset, first, unflushed_tree, launchers / ("large-1-unflushed" + suffix),
                       UNFLUSHED)
        if windows:
            first.unlink()
        print("%s: rounds of first start, update (%s) and unflushed first start ..."
              % (preset, change.describe()), flush=True)
        got = rounds(runner, runs_dir, args.runs, launchers / ("large-1" + suffix),
                     update=(launchers / ("large-2" + suffix), change),
                     unflushed=launchers / ("large-1-unflushed" + suffix),
                     peer=bsdtar(first))
        figures = summary(got)
        # A trial with a small --large-mib stays in the image.
        attached = size > IMAGE_LIMIT
        what = "large game, %s, %s road" % (where, "file" if attached else "image")
        first_rows(table, what, figures, not windows)
        update_and_flush_rows(table, what, figures, 0.10 if attached else 0.25, first_row=False)
        if windows:
            answer_row(table, what, figures)
        for path in list(launchers.iterdir()) + list(games.iterdir()):
            path.unlink()


def remove_big_products():
    """The trees keep what was compiled; a launcher or an object of a game's
    size goes."""
    for tree in BUILD.iterdir() if BUILD.is_dir() else []:
        if not tree.is_dir() or tree.name == "large":
            continue
        for path in tree.rglob("*"):
            if "wine" in path.relative_to(tree).parts:
                continue  # the wine prefix is made once per tree and kept
            try:
                if path.is_file() and not path.is_symlink() and path.stat().st_size >= BIG_FILE:
                    path.unlink()
            except FileNotFoundError:
                pass


def main(args):
    scratch = Path(args.disk_scratch) / "large"
    scratch.parent.mkdir(parents=True, exist_ok=True)
    kind = file_system(scratch.parent)
    if kind in ("tmpfs", "ramfs"):
        raise SystemExit("--large runs on disk: %s is %s (give --disk-scratch)" % (scratch, kind))
    free = shutil.disk_usage(scratch.parent).free
    if free < NEEDED_DISK:
        raise SystemExit("--large needs about %.0f GB free under %s; %.1f GB are"
                         % (NEEDED_DISK / 1e9, scratch.parent, free / 1e9))

    # Interrupted or stopped, the run still removes its gigabytes.
    def stop(signum, _frame):
        raise SystemExit(128 + signum)

    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, stop)
    table = Table()
    try:
        shutil.rmtree(scratch, ignore_errors=True)
        scratch.mkdir(parents=True)
        for preset in ["linux"] + ([] if args.no_wine else ["windows"]):
            run_preset(preset, args, scratch, table)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
        remove_big_products()
        subprocess.run(["sync"])
    print()
    print("machine: %s" % machine(scratch.parent))
    print("runs on disk in %s (%s); %d rounds each, medians, ratios pair by pair"
          % (scratch, kind, args.runs))
    table.print()
