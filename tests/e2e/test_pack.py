#!/usr/bin/env python3
"""scripts/pack as a game developer runs it, in build trees of the test's own:

- from a folder (names with spaces and beyond ASCII, empty and nested
  folders, an executable and a plain file, compressible and random data)
  with an icon, version fields and a PKCS#12 signature: the archive holds
  exactly the folder, in order, with fixed times and without ZIP64 fields;
  the launcher is signed, carries the fields and the icon, and under wine
  unpacks the folder and starts the game; the same folder elsewhere packs
  to the same archive and, unsigned, to the signed launcher less its
  signature;
- with --linux: the native launcher unpacks the folder name for name;
- from a ZIP made by Info-ZIP: what unzip unpacks, under wine;
- its refusals, each naming the file and the rule and writing nothing."""

import argparse
import fcntl
import os
import random
import shutil
import subprocess
import sys
import unittest
import zipfile
from pathlib import Path

from icon_resources import (RT_GROUP_ICON, RT_VERSION, parse_group_icon, parse_version_info,
                            read_pe_resources, single_language)
from launcher_harness import (WineTestCase, expect_game_record, fresh_dir, headless_env,
                              run_windows_launcher)
from make_test_icon import SIZES, make as make_test_icon
from signing_material import make_signing_material
from unpack_common import read_tree, unzip_tree

ARGS = None
NAME = "Quill Mark"
EXE = "Quill Mark.exe"
MAP = "worlds/Wörld Ünö/start.map"
FIELDS = ["--version", "3.1.4.1", "--product", "Quill Mark", "--company", "Quill Studios",
          "--description", "Quill Mark, the game", "--copyright", "© 2024 Quill Studios"]
# The player's ANSI code page under wine (LANG=C.UTF-8): the Windows launcher
# reads each name's bytes in it (scripts/pack warns about such names).
WINE_CODE_PAGE = "cp1252"
SCRIPT_GAME = "#!/bin/sh\nprintf 'argc=%s\\nargv1=%s\\n' \"$#\" \"$1\" > game-record.txt\n"


def pack(*args, cwd=None):
    return subprocess.run([sys.executable, str(Path(ARGS.root) / "scripts" / "pack"), *map(str, args),
                           "--build-dir", ARGS.trees], capture_output=True, text=True, cwd=cwd)


def game_folder(folder, game_program=None, game_text=None):
    """A game's folder; its executable is `game_program` copied, or `game_text`."""
    folder = fresh_dir(folder)
    for directory in ("empty folder", "data/nested/deeper", "data/empty inside", "worlds"):
        (folder / directory).mkdir(parents=True, exist_ok=True)
    if game_program:
        shutil.copy(game_program, folder / EXE)
    else:
        (folder / EXE).write_text(game_text)
        os.chmod(folder / EXE, 0o755)
    (folder / MAP).parent.mkdir(parents=True)
    (folder / MAP).write_text("the start-up map\n")
    (folder / "data/nested/deeper/a file with spaces.txt").write_text("words " * 5000)
    (folder / "data/random.bin").write_bytes(random.Random(7).randbytes(300_000))
    (folder / "data/zero bytes").write_bytes(b"")
    (folder / "Über Straße.txt").write_text("beyond ASCII\n")
    return folder


def folder_tree(folder, code_page=None):
    """The tree a folder unpacks to: names as they are, or as `code_page`
    reads their UTF-8 bytes."""
    tree = read_tree(folder)
    if code_page is None:
        return tree
    return {name.encode("utf-8").decode(code_page): data for name, data in tree.items()}


def unpacked_tree(folder):
    tree = read_tree(Path(folder) / ("!%s_data" % NAME))
    tree.pop(".launcher-stamp")
    return tree


class Pack(WineTestCase):
    @classmethod
    def prepare(cls):
        cls.material = make_signing_material(cls.scratch / "material")
        cls.icon = cls.scratch / "game icon.ico"
        make_test_icon(cls.icon)
        cls.folder = game_folder(cls.scratch / "My Games" / "Quill Mark", ARGS.game)
        cls.out = cls.scratch / "dist" / "Quill Mark.exe"
        cls.linux_folder = game_folder(cls.scratch / "Linux Game", game_text=SCRIPT_GAME)
        cls.linux_out = cls.scratch / "dist" / "quill-mark"
        cls.archive = Path(ARGS.trees) / "archive" / (NAME + ".zip")

        cls.packed = pack(cls.folder, "-o", cls.out, "--exe", EXE, "--map", MAP, "--icon",
                          cls.icon, *FIELDS, "--sign-pkcs12", cls.material.pkcs12,
                          "--sign-password-file", cls.material.password_file)
        cls.archive_bytes = cls.archive.read_bytes() if cls.archive.exists() else b""

        # The same folder at another path, its times and modes other than the first's.
        elsewhere = cls.scratch / "elsewhere" / "copy of the game"
        shutil.copytree(cls.folder, elsewhere)
        for path in elsewhere.rglob("*"):
            os.utime(path, (1_000_000_000, 1_000_000_000))
            if path.is_file() and path.name != EXE:
                os.chmod(path, 0o600)
        cls.unsigned_out = cls.scratch / "dist" / "unsigned.exe"
        cls.repacked = pack(elsewhere, "-o", cls.unsigned_out, "--exe", EXE, "--map", MAP,
                            "--icon", cls.icon, *FIELDS)
        cls.repacked_archive = cls.archive.read_bytes() if cls.archive.exists() else b""

        cls.linux_packed = pack(cls.linux_folder, "-o", cls.scratch / "dist" / "linux game.exe",
                                "--exe", EXE, "--map", MAP, "--linux", cls.linux_out)

    def test_pack_says_where_the_launcher_is_and_what_it_carries(self):
        self.assertEqual(self.packed.returncode, 0, self.packed.stdout + self.packed.stderr)
        out = self.packed.stdout
        self.assertIn("windows launcher: %s (%s bytes)" % (self.out,
                                                           format(self.out.stat().st_size, ",")),
                      out)
        self.assertIn("it carries %s (%s bytes, 13 entries" % (self.archive, format(
            len(self.archive_bytes), ",")), out)
        self.assertIn("signed: yes", out)
        self.assertIn('warning: 3 names hold characters beyond ASCII', out)
        self.assertEqual(self.repacked.returncode, 0, self.repacked.stderr)
        self.assertIn("signed: no", self.repacked.stdout)

    def test_the_archive_holds_the_folder_in_order_with_fixed_times(self):
        with zipfile.ZipFile(self.archive) as archive:
            infos = archive.infolist()
            names = [info.filename for info in infos]
            # Each folder before its contents, names in byte order.
            self.assertEqual(names, [
                EXE, "data/", "data/empty inside/", "data/nested/", "data/nested/deeper/",
                "data/nested/deeper/a file with spaces.txt", "data/random.bin", "data/zero bytes",
                "empty folder/", "worlds/", "worlds/Wörld Ünö/", MAP, "Über Straße.txt"])
            expected = {name + ("/" if data is None else "")
                        for name, data in read_tree(self.folder).items()}
            self.assertEqual(set(names), expected)
            for info in infos:
                with self.subTest(entry=info.filename):
                    self.assertEqual(info.date_time, (1980, 1, 1, 0, 0, 0))
                    self.assertEqual(bool(info.flag_bits & 0x800),
                                     not info.filename.isascii())
                    self.assertEqual(info.extra, b"")  # no ZIP64 or other fields
                    if not info.is_dir():
                        self.assertEqual(archive.read(info),
                                         (self.folder / info.filename).read_bytes())
            methods = {info.filename: info.compress_type for info in infos}
            self.assertEqual(methods["data/random.bin"], zipfile.ZIP_STORED)  # deflate can't help
            self.assertEqual(methods["data/nested/deeper/a file with spaces.txt"],
                             zipfile.ZIP_DEFLATED)
            self.assertEqual(infos[0].external_attr >> 16, 0o100755)

    def test_the_same_folder_elsewhere_gives_the_same_archive_and_launcher(self):
        self.assertTrue(self.archive_bytes)
        self.assertEqual(self.repacked_archive, self.archive_bytes)
        bare = self.scratch / "dist" / "signature removed.exe"
        subprocess.run(["osslsigncode", "remove-signature", "-in", str(self.out), "-out",
                        str(bare)], check=True, capture_output=True)
        self.assertEqual(bare.read_bytes(), self.unsigned_out.read_bytes())

    def test_the_launcher_is_signed_and_carries_the_icon_and_fields(self):
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(self.material.ca),
                                   "-in", str(self.out)], capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        resources = read_pe_resources(self.out)
        group = parse_group_icon(single_language(resources[RT_GROUP_ICON][1]))
        self.assertEqual([width for width, *_ in group], sorted(SIZES))
        strings = parse_version_info(single_language(resources[RT_VERSION][1]))["strings"]
        fields = strings["040904B0"]
        self.assertEqual(fields["FileVersion"], "3.1.4.1")
        self.assertEqual(fields["ProductName"], "Quill Mark")
        self.assertEqual(fields["CompanyName"], "Quill Studios")
        self.assertEqual(fields["FileDescription"], "Quill Mark, the game")
        self.assertEqual(fields["LegalCopyright"], "© 2024 Quill Studios")
        self.assertEqual(fields["OriginalFilename"], NAME + ".exe")

    def test_the_windows_launcher_unpacks_the_folder_and_starts_the_game_under_wine(self):
        player = fresh_dir(self.scratch / "player" / "Downloads")
        shutil.copy(self.out, player)
        code, box = run_windows_launcher(self.session, player / self.out.name, ARGS.probe, player)
        self.assertIsNone(box, "an app throw box appeared")
        self.assertEqual(code, 0)
        self.assertEqual(unpacked_tree(player), folder_tree(self.folder, WINE_CODE_PAGE))
        record = expect_game_record(self, player / "game-record.txt")
        self.assertEqual(record["argc"], "2")
        self.assertTrue(record["argv1"].endswith("\\start.map"), record["argv1"])

    def test_the_linux_launcher_unpacks_the_folder_name_for_name(self):
        self.assertEqual(self.linux_packed.returncode, 0, self.linux_packed.stderr)
        self.assertIn("linux launcher: %s" % self.linux_out, self.linux_packed.stdout)
        player = fresh_dir(self.scratch / "linux player")
        shutil.copy(self.linux_out, player)
        result = subprocess.run([str(player / self.linux_out.name)], cwd=player,
                                env=headless_env(), capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(unpacked_tree(player), folder_tree(self.linux_folder))
        record = expect_game_record(self, player / "game-record.txt")
        self.assertEqual(record["argv1"], str(player / ("!%s_data" % NAME) / MAP))

    def test_from_a_zip_it_carries_the_archive_as_it_is(self):
        source = fresh_dir(self.scratch / "zipped game")
        shutil.copy(ARGS.game, source / "Game.exe")
        (source / "maps").mkdir()
        (source / "maps" / "first.map").write_text("map\n")
        (source / "music").mkdir()
        (source / "music" / "theme.ogg").write_bytes(random.Random(3).randbytes(50_000))
        archive = self.scratch / "game.zip"
        subprocess.run(["zip", "-q", "-r", str(archive), "."], cwd=source, check=True)
        out = self.scratch / "dist" / "from a zip.exe"
        result = pack(archive, "-o", out, "--exe", "Game.exe", "--map", "maps/first.map")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("it carries %s (" % archive, result.stdout)
        self.assertIn("signed: no", result.stdout)
        player = fresh_dir(self.scratch / "zip player")
        code, box = run_windows_launcher(self.session, out, ARGS.probe, player)
        self.assertEqual((code, box), (0, None))
        data = read_tree(player / "!Game_data")
        data.pop(".launcher-stamp")
        self.assertEqual(data, unzip_tree(archive, self.scratch / "unzipped"))
        expect_game_record(self, player / "game-record.txt")

    def test_a_second_pack_waits_for_the_first(self):
        with open(Path(ARGS.trees) / "pack.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)  # as a pack under way holds it
            second = subprocess.Popen(
                [sys.executable, str(Path(ARGS.root) / "scripts" / "pack"), str(self.folder),
                 "-o", str(self.scratch / "waiting.exe"), "--exe", "Missing.exe", "--map", MAP,
                 "--build-dir", ARGS.trees], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                text=True)
            first_line = second.stdout.readline()
            self.assertIsNone(second.poll(), "the second pack did not wait")
        out, err = second.communicate(timeout=120)
        self.assertIn("another pack is using %s; waiting" % Path(ARGS.trees).absolute(), first_line)
        self.assertEqual(second.returncode, 1)
        self.assertIn('--exe "Missing.exe": no such file', err)

    def test_refusals_name_the_file_and_the_rule_and_write_nothing(self):
        bad_names = fresh_dir(self.scratch / "bad names")
        shutil.copy(ARGS.game, bad_names / EXE)
        (bad_names / "start.map").write_text("map\n")
        (bad_names / "saves").mkdir()
        (bad_names / "saves" / "slot:1.dat").write_text("x")
        devices = fresh_dir(self.scratch / "device name")
        shutil.copy(ARGS.game, devices / EXE)
        (devices / "start.map").write_text("map\n")
        (devices / "AUX.txt").write_text("x")
        same = fresh_dir(self.scratch / "same name twice")
        shutil.copy(ARGS.game, same / EXE)
        (same / "start.map").write_text("map\n")
        (same / "Readme.txt").write_text("x")
        (same / "README.TXT").write_text("y")
        bad_icon = self.scratch / "not an icon.ico"
        bad_icon.write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(100))
        bad_zip = self.scratch / "bad entry.zip"
        with zipfile.ZipFile(bad_zip, "w") as archive:
            archive.writestr(EXE, b"MZ")
            archive.writestr("start.map", b"map")
            archive.writestr("what?.txt", b"?")
        wrong = self.scratch / "wrong password.txt"
        wrong.write_text("not it\n")
        out = self.scratch / "refused" / "game.exe"
        folder = self.folder
        cases = [
            # name: (arguments, what the message must say)
            ("missing executable", [folder, "--exe", "Missing.exe", "--map", MAP],
             ['--exe "Missing.exe": no such file in the game\'s folder "%s"' % folder]),
            ("missing map", [folder, "--exe", EXE, "--map", "worlds/none.map"],
             ['--map "worlds/none.map": no such file in the game\'s folder "%s"' % folder]),
            ("executable outside the folder", [folder, "--exe", "../x.exe", "--map", MAP],
             ['--exe "../x.exe": give a path inside the game\'s folder']),
            ("a name Windows cannot hold", [bad_names, "--exe", EXE, "--map", "start.map"],
             ['"%s": its name holds ":", which Windows forbids' % (bad_names / "saves/slot:1.dat")]),
            ("a device name", [devices, "--exe", EXE, "--map", "start.map"],
             ['"%s": its name holds "AUX.txt", a device name Windows reserves' % (devices / "AUX.txt")]),
            ("one name twice to Windows", [same, "--exe", EXE, "--map", "start.map"],
             ['"%s": it names the same file as "%s"' % (same / "Readme.txt", same / "README.TXT")]),
            ("a name in a zip", [bad_zip, "--exe", EXE, "--map", "start.map"],
             ['cannot pack "%s": entry #3 "what?.txt": its name holds "?"' % bad_zip]),
            ("a bad icon", [folder, "--exe", EXE, "--map", MAP, "--icon", bad_icon],
             ['--icon "%s" is not a valid icon: it does not start with an icon header' % bad_icon]),
            ("a bad version", [folder, "--exe", EXE, "--map", MAP, "--version", "1.2.3.4.5"],
             ['--version "1.2.3.4.5" is not a version: one to four numbers from 0 to 65535']),
            ("a version number too large", [folder, "--exe", EXE, "--map", MAP, "--version", "2.65536"],
             ['--version "2.65536" is not a version: 65536 is more than 65535']),
            ("a name with a slash", [folder, "--exe", EXE, "--map", MAP, "--name", "a/b"],
             ['--name "a/b": a name, not a path']),
            ("a wrong signing password", [folder, "--exe", EXE, "--map", MAP, "--sign-pkcs12",
                                          self.material.pkcs12, "--sign-password-file", wrong],
             ['could not sign', '"%s"' % self.material.pkcs12]),
        ]
        for name, arguments, phrases in cases:
            with self.subTest(case=name):
                result = pack(*arguments, "-o", out)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                message = " ".join(result.stderr.split())
                self.assertTrue(message.startswith("pack: error: "), message)
                for phrase in phrases:
                    self.assertIn(phrase, message)
                self.assertFalse(out.exists(), "a refused pack wrote its output")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--root", "--game", "--probe", "--prefix", "--scratch", "--trees"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
