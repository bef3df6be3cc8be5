#!/usr/bin/env python3
"""The packer through the real build step (cmake/payload.cmake), in a small
native CMake project of its own: every valid archive of the table builds into
a program whose chunk table gives the archive back byte for byte, split at
1,048,576 bytes with a zero byte after each chunk, and the build's unpacking
proof (the launcher's own extraction) unpacks it byte for byte; with the
limit lowered, some of them build into programs that carry the archive
attached to their file instead, again byte for byte, also after the archive
changed; every invalid archive fails the build with a message naming the
archive and the entry."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import unittest
import zipfile
from pathlib import Path

import pack_fixtures
from pack_fixtures import MIB

ARGS = None
APP_NAME = "QuillMark"


def target_name(row):
    return "row_" + row.name


# Valid rows built a second time with the archive attached to the file.
FILE_HOME_ROWS = ["zipfile_deflated", "infozip_archive_comment", "zip64_end_record",
                  "two_chunks_and_a_half"]


def expected_lengths(size):
    """1,048,576 bytes per chunk, the last one shorter."""
    lengths = [MIB] * (size // MIB)
    if size % MIB:
        lengths.append(size % MIB)
    return lengths


class Packer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(ARGS.scratch).resolve()
        shutil.rmtree(cls.scratch, ignore_errors=True)
        fixtures = cls.scratch / "fixtures"
        cls.archives = {row.name: pack_fixtures.make(row, fixtures)
                        for row in pack_fixtures.VALID + pack_fixtures.INVALID}
        # The archive of the rebuild test, changed in place by that test.
        cls.changing = cls.scratch / "changing" / "game.zip"
        cls.changing.parent.mkdir(parents=True)
        shutil.copy(cls.archives["exactly_one_chunk"], cls.changing)

        root = Path(ARGS.root).resolve()
        project = cls.scratch / "project"
        project.mkdir()
        lines = ["cmake_minimum_required(VERSION 3.21)",
                 "project(pack_check C CXX)",
                 "set(CMAKE_CXX_STANDARD 17)",
                 'set(LAUNCHER_APP_NAME "%s")' % APP_NAME,
                 'set(LAUNCHER_GAME_EXE "%s")' % pack_fixtures.GAME_EXE,
                 'set(LAUNCHER_START_MAP "%s")' % pack_fixtures.START_MAP,
                 'include("%s/cmake/payload.cmake")' % root,
                 'add_library(pack_check_main OBJECT "%s/tests/tools/pack_check.cpp")' % root,
                 'target_include_directories(pack_check_main PRIVATE "%s")' % root]
        rows = [(target_name(row), cls.archives[row.name], row.game, row.rules)
                for row in pack_fixtures.VALID + pack_fixtures.INVALID]
        rows.append(("row_changing", cls.changing, False, "windows"))
        rows = [row + ("",) for row in rows]
        rows += [("row_%s_file" % row.name, cls.archives[row.name], row.game, row.rules,
                  "MAPPED_PAYLOAD_LIMIT 0")
                 for row in pack_fixtures.VALID if row.name in FILE_HOME_ROWS]
        rows.append(("row_changing_file", cls.changing, False, "windows", "MAPPED_PAYLOAD_LIMIT 0"))
        for target, archive, game, rules, limit in rows:
            lines += ['launcher_add_payload(%s_payload ARCHIVE "%s" REQUIRE_GAME %s NAME_RULES %s %s)'
                      % (target, archive, "ON" if game else "OFF", rules, limit),
                      "add_executable(%s)" % target,
                      "target_link_libraries(%s PRIVATE pack_check_main %s_payload)"
                      % (target, target),
                      "launcher_attach_payload(%s %s_payload)" % (target, target)]
        (project / "CMakeLists.txt").write_text("\n".join(lines) + "\n")
        cls.build = project / "build"
        env = dict(os.environ)
        for cross in ("CC", "CXX", "ASM"):  # the packer is a host tool: build natively
            env.pop(cross, None)
        subprocess.run(["cmake", "-G", "Ninja", "-S", str(project), "-B", str(cls.build),
                        "-DCMAKE_BUILD_TYPE=Release"], check=True, env=env,
                       stdout=subprocess.DEVNULL)

    def build_target(self, target):
        return subprocess.run(["cmake", "--build", str(self.build), "--target", target],
                              capture_output=True, text=True)

    def unpacked(self, target, name):
        """Runs a built program: (its chunks concatenated, its table lines)."""
        out = self.scratch / (name + ".out")
        result = subprocess.run([str(self.build / target), str(out)], capture_output=True,
                                text=True, check=True)
        return out.read_bytes(), result.stdout.splitlines()

    def proof_unpacked(self, archive, name):
        """The tree the build's unpacking proof leaves when asked to keep it."""
        folder = self.scratch / "unpacked" / name
        result = subprocess.run([str(self.build / "unpack-proof" / "unpack_proof"), "--keep",
                                 str(archive), str(folder), APP_NAME, pack_fixtures.GAME_EXE,
                                 pack_fixtures.START_MAP], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return folder / ("!%s_data" % APP_NAME)

    def assert_unpacked_as_archive(self, data_dir, archive):
        """Every entry unpacked byte for byte, and nothing else."""
        expected_files, expected_dirs = {}, set()
        with zipfile.ZipFile(archive) as source:
            for info in source.infolist():
                parts = [part for part in info.filename.split("/") if part not in ("", ".")]
                for depth in range(1, len(parts)):
                    expected_dirs.add("/".join(parts[:depth]))
                if info.is_dir():
                    if parts:  # "./" is the data directory itself
                        expected_dirs.add("/".join(parts))
                else:
                    expected_files["/".join(parts)] = source.read(info)
        found_files, found_dirs = {}, set()
        for path in data_dir.rglob("*"):
            relative = path.relative_to(data_dir).as_posix()
            if path.is_dir():
                found_dirs.add(relative)
            else:
                found_files[relative] = path.read_bytes()
        self.assertEqual(sorted(found_files), sorted(expected_files))
        for name, content in expected_files.items():
            self.assertEqual(found_files[name], content, name)
        self.assertEqual(found_dirs, expected_dirs)

    def assert_table(self, lines, archive_bytes):
        lengths = expected_lengths(len(archive_bytes))
        self.assertEqual(lines[:2], ["home=image", "count=%d" % len(lengths)])
        self.assertEqual(lines[2:], ["chunk=%d set 0" % length for length in lengths])

    def assert_attached(self, target, lines, archive_bytes):
        """No chunks; the archive after the linked program, and only there."""
        self.assertEqual(lines, ["home=file", "count=0"])
        program = (self.build / target).read_bytes()
        self.assertTrue(program.endswith(archive_bytes))
        self.assertEqual(program.count(archive_bytes[:4096]), 1)

    def test_valid_archives_pass_byte_for_byte(self):
        for row in pack_fixtures.VALID:
            with self.subTest(row.name):
                archive = self.archives[row.name]
                result = self.build_target(target_name(row))
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                data, lines = self.unpacked(target_name(row), row.name)
                original = archive.read_bytes()
                self.assertEqual(data, original)
                self.assert_table(lines, original)
                # The proof's scratch folder is gone; the same code unpacks it all.
                self.assertFalse((self.build / (target_name(row) + "_payload") /
                                  "unpack-proof").exists())
                self.assert_unpacked_as_archive(self.proof_unpacked(archive, row.name), archive)

    def test_archives_above_the_limit_are_attached_to_the_file_byte_for_byte(self):
        for name in FILE_HOME_ROWS:
            with self.subTest(name):
                target = "row_%s_file" % name
                result = self.build_target(target)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                data, lines = self.unpacked(target, name + "_file")
                original = self.archives[name].read_bytes()
                self.assertEqual(data, original)
                self.assert_attached(target, lines, original)

    def test_invalid_archives_fail_the_build_naming_archive_and_entry(self):
        for row in pack_fixtures.INVALID:
            with self.subTest(row.name):
                archive = self.archives[row.name]
                result = self.build_target(target_name(row))
                output = result.stdout + result.stderr
                self.assertNotEqual(result.returncode, 0, output)
                self.assertIn('cannot pack "%s"' % archive, output)
                self.assertIn(row.phrase, output)
                if row.entry is not None:
                    entry = row.entry(archive) if callable(row.entry) else row.entry
                    self.assertRegex(output, r'entry #\d+ "%s"' % re.escape(entry))
                chunks = self.build / (target_name(row) + "_payload") / "payload_chunks.s"
                self.assertFalse(chunks.exists())
                self.assertFalse((self.build / target_name(row)).exists())

    def test_chunk_sizes_of_the_split_rows(self):
        # The rows at the boundary hold what their names say.
        sizes = {name: self.archives[name].stat().st_size
                 for name in ("exactly_one_chunk", "one_byte_over_a_chunk", "two_chunks_and_a_half")}
        self.assertEqual(sizes, {"exactly_one_chunk": MIB, "one_byte_over_a_chunk": MIB + 1,
                                 "two_chunks_and_a_half": 2 * MIB + MIB // 2})

    def test_fixtures_carry_what_their_rows_are_about(self):
        with zipfile.ZipFile(self.archives["infozip_pipe_data_descriptors"]) as archive:
            files = [info for info in archive.infolist() if not info.is_dir()]
            self.assertTrue(files)
            self.assertTrue(all(info.flag_bits & 0x08 for info in files))
        stdin_archive = self.archives["infozip_stdin_zip64_local"].read_bytes()
        self.assertEqual(stdin_archive[30 + 1:30 + 1 + 2], b"\x01\x00")  # ZIP64 extra after "-"
        with zipfile.ZipFile(self.archives["infozip_archive_comment"]) as archive:
            self.assertTrue(archive.comment)
        self.assertIn(b"PK\x06\x06", self.archives["zip64_end_record"].read_bytes())
        with zipfile.ZipFile(self.archives["zip64_end_record"]) as archive:
            self.assertIsNone(archive.testzip())

    def test_rebuilds_only_when_the_archive_changes(self):
        for target in ("row_changing", "row_changing_file"):
            first = self.build_target(target)
            self.assertEqual(first.returncode, 0, first.stdout + first.stderr)
            again = self.build_target(target)
            self.assertEqual(again.returncode, 0)
            self.assertNotIn("Checking and packing", again.stdout)
            self.assertIn("no work to do", again.stdout)

        # Same size, other bytes (the comment padding): the table text stays
        # the same but for the identity, the chunks must not; the attached
        # archive is attached again to a program linked again.
        data = bytearray(self.changing.read_bytes())
        data[-1] = ord("!") if data[-1] != ord("!") else ord("?")
        self.changing.write_bytes(bytes(data))
        for target in ("row_changing", "row_changing_file"):
            with self.subTest(target):
                changed = self.build_target(target)
                self.assertEqual(changed.returncode, 0, changed.stdout + changed.stderr)
                self.assertIn("Checking and packing", changed.stdout)
                unpacked, lines = self.unpacked(target, target)
                self.assertEqual(unpacked, bytes(data))
                if target.endswith("_file"):
                    self.assert_attached(target, lines, bytes(data))
                else:
                    self.assert_table(lines, bytes(data))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--scratch", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
