#!/usr/bin/env python3
"""Signing the Windows launcher (cmake/sign_file.cmake, the step the build
runs last), with certificates made by openssl when the test runs. For each
launcher given: signed with a PKCS#12 file and with a certificate and key,
`osslsigncode verify` accepts it against the test's own authority and
refuses it against another one or once a byte has changed; removing the
signature gives the unsigned file back byte for byte; a signing time fixed
by SOURCE_DATE_EPOCH gives the same signed bytes twice; and under wine the
signed launcher unpacks exactly what the unsigned one does and starts the
game. A signing that fails names the file and the material and leaves no
unsigned file behind."""

import argparse
import copy
import os
import shutil
import struct
import subprocess
import sys
import unittest
from pathlib import Path

from launcher_harness import (DATA_DIR, WineTestCase, expect_game_record, fresh_dir,
                              run_windows_launcher)
from lifecycle_common import without_write_times
from signing_material import make_signing_material
from unpack_common import read_tree

ARGS = None
SIGNING_TIME = 1700000000  # 14 November 2023, 22:13:20 UTC


def osslsigncode():
    program = shutil.which("osslsigncode")
    if program is None:
        raise AssertionError("osslsigncode is not installed (scripts/setup installs it)")
    return program


def sign(executable, material, mode, signing_time=None):
    """Runs the build's signing step on `executable` in place."""
    definitions = ["-DOSSLSIGNCODE=%s" % osslsigncode(), "-DEXECUTABLE=%s" % executable,
                   "-DPASSWORD_FILE=%s" % material.password_file, "-DDESCRIPTION=Quill Mark"]
    if mode == "pkcs12":
        definitions.append("-DPKCS12=%s" % material.pkcs12)
    else:
        definitions += ["-DCERT=%s" % material.cert, "-DKEY=%s" % material.key]
    if signing_time is not None:
        definitions.append("-DSIGNING_TIME=%d" % signing_time)
    return subprocess.run(["cmake", *definitions, "-P", ARGS.sign_script], capture_output=True,
                          text=True)


def certificate_table_size(executable):
    """The size of a PE file's certificate table: 0 when it is not signed."""
    data = Path(executable).read_bytes()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, header + 24)[0]
    directories = header + 24 + (96 if magic == 0x10B else 112)
    return struct.unpack_from("<II", data, directories + 4 * 8)[1]  # entry 4: security


def verify(executable, ca):
    return subprocess.run([osslsigncode(), "verify", "-CAfile", str(ca), "-in", str(executable)],
                          capture_output=True, text=True)


class Signing(WineTestCase):
    @classmethod
    def prepare(cls):
        cls.material = make_signing_material(cls.scratch / "material")
        cls.signed = {}  # (unsigned launcher, mode) -> signed copy
        for index, launcher in enumerate(ARGS.launcher):
            # A build configured with LAUNCHER_SIGN_* has signed it already.
            unsigned = cls.scratch / ("%d unsigned" % index) / Path(launcher).name
            unsigned.parent.mkdir(parents=True)
            if certificate_table_size(launcher):
                subprocess.run([osslsigncode(), "remove-signature", "-in", launcher, "-out",
                                str(unsigned)], check=True, capture_output=True)
            else:
                shutil.copy(launcher, unsigned)
            for mode in ("pkcs12", "cert_and_key"):
                signed = cls.scratch / ("%d %s" % (index, mode)) / Path(launcher).name
                signed.parent.mkdir(parents=True)
                shutil.copy(unsigned, signed)
                result = sign(signed, cls.material, mode, SIGNING_TIME)
                if result.returncode != 0:
                    raise AssertionError("signing %s failed:\n%s" % (signed, result.stderr))
                cls.signed[unsigned, mode] = signed

    def each_signed(self):
        for (launcher, mode), signed in self.signed.items():
            with self.subTest(launcher=Path(launcher).name, mode=mode):
                yield launcher, mode, signed

    def test_verify_accepts_the_signature_of_the_tests_authority(self):
        for _, _, signed in self.each_signed():
            result = verify(signed, self.material.ca)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn("Signature verification: ok", result.stdout)
            self.assertIn("Nov 14 22:13:20 2023 GMT", result.stdout)  # the signing time given
            self.assertTrue(os.access(signed, os.X_OK))

    def test_verify_refuses_another_authority_and_a_changed_byte(self):
        for _, mode, signed in self.each_signed():
            self.assertNotEqual(verify(signed, self.material.other_ca).returncode, 0)
            changed = signed.with_name("changed.exe")
            data = bytearray(signed.read_bytes())
            data[len(data) // 3] ^= 0x01  # inside the image, which the signature covers
            changed.write_bytes(bytes(data))
            self.assertNotEqual(verify(changed, self.material.ca).returncode, 0)

    def test_the_signature_is_all_that_was_added(self):
        for launcher, _, signed in self.each_signed():
            self.assertEqual(certificate_table_size(launcher), 0)
            self.assertGreater(certificate_table_size(signed), 0)
            bare = signed.with_name("signature removed.exe")
            subprocess.run([osslsigncode(), "remove-signature", "-in", str(signed), "-out",
                            str(bare)], check=True, capture_output=True)
            self.assertEqual(bare.read_bytes(), Path(launcher).read_bytes())
            self.assertNotEqual(signed.read_bytes(), Path(launcher).read_bytes())

    def test_a_fixed_signing_time_gives_the_same_signed_bytes(self):
        for launcher, mode, signed in self.each_signed():
            again = signed.with_name("signed again.exe")
            shutil.copy(launcher, again)
            result = sign(again, self.material, mode, SIGNING_TIME)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(again.read_bytes(), signed.read_bytes())

    def test_a_failed_signing_names_the_material_and_removes_the_file(self):
        launcher = next(iter(self.signed))[0]
        wrong = copy.copy(self.material)
        wrong.password_file = self.scratch / "wrong password.txt"
        wrong.password_file.write_text("not the pass phrase\n")
        for mode in ("pkcs12", "cert_and_key"):
            with self.subTest(mode=mode):
                target = self.scratch / ("failing " + mode) / Path(launcher).name
                target.parent.mkdir(exist_ok=True)
                shutil.copy(launcher, target)
                result = sign(target, wrong, mode)
                self.assertNotEqual(result.returncode, 0)
                message = " ".join(result.stderr.split())  # CMake wraps its messages
                self.assertIn('could not sign "%s"' % target, message)
                named = self.material.pkcs12 if mode == "pkcs12" else self.material.key
                self.assertIn('"%s"' % named, message)
                self.assertFalse(target.exists(), "the unsigned file was left behind")
                self.assertFalse(target.with_name(target.name + ".signing").exists())

    def test_signed_launcher_unpacks_what_the_unsigned_one_does_under_wine(self):
        for launcher, mode, signed in self.each_signed():
            trees = {}
            for label, program in (("unsigned", launcher), ("signed", signed)):
                folder = fresh_dir(self.scratch / "runs" / ("%s %s %s" % (
                    Path(launcher).stem, mode, label)))
                code, box = run_windows_launcher(self.session, program, ARGS.probe, folder)
                self.assertIsNone(box, "an app throw box appeared")
                self.assertEqual(code, 0)
                expect_game_record(self, folder / "game-record.txt")
                trees[label] = read_tree(folder / DATA_DIR)
            self.assertTrue(trees["unsigned"])
            self.assertEqual(without_write_times(trees["signed"]),
                             without_write_times(trees["unsigned"]))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", action="append", required=True,
                        help="a launcher to sign and compare with its unsigned self (repeatable)")
    for name in ("--sign-script", "--probe", "--prefix", "--scratch"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    ARGS.launcher = [str(Path(launcher).resolve()) for launcher in ARGS.launcher]
    WineTestCase.args = ARGS
    unittest.main(argv=[sys.argv[0], "-v", *rest])
