#!/usr/bin/env python3
"""The Windows launcher's resources, read back from the built executables by
a PE reader of the tests' own and by Windows' own calls under wine
(resource_probe.exe: GetFileVersionInfo, ExtractIconEx, LoadImage):

- the launcher as configured: icon group 1 holds LAUNCHER_ICON's images; the
  manifest asks for asInvoker without UI access, depends on Common Controls
  6.0 (without which Windows has no progress-bar class in the process) and
  names Windows 7 to 11; the version resource carries the LAUNCHER_* fields,
  each empty one taken from the application name;
- a launcher branded with a game's icon of five sizes (a PNG among them) and
  fields beyond ASCII: every size is there, byte for byte, and Windows picks
  the right one for each use; the fields come back exactly."""

import argparse
import re
import sys
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

from icon_resources import (RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION,
                            manifest_dependencies, manifest_supported_os, parse_group_icon,
                            parse_version_info, read_ico_images, read_pe_resources,
                            single_language)
from launcher_harness import fresh_dir, read_record
from make_test_icon import SIZES
from wine_session import WineSession

ARGS = None

COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                   "version": "6.0.0.0", "processorArchitecture": "*",
                   "publicKeyToken": "6595b64144ccf1df"}
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
STRING_TABLE = "040904B0"  # US English, Unicode
FIELDS = ("ProductName", "FileDescription", "CompanyName", "LegalCopyright", "ProductVersion",
          "FileVersion", "OriginalFilename", "InternalName")
VOS_NT_WINDOWS32, VFT_APP = 0x40004, 1


def four_numbers(version):
    numbers = [int(part) for part in version.split(".")]
    return tuple(numbers + [0] * (4 - len(numbers)))


def expected_fields(program, version, product, description, company, copyright_text):
    """The version resource's strings; the copyright as a pattern when it is the default."""
    name = Path(program).name
    text_version = ".".join(map(str, four_numbers(version)))
    return {"ProductName": product, "FileDescription": description, "CompanyName": company,
            "LegalCopyright": copyright_text, "ProductVersion": text_version,
            "FileVersion": text_version, "OriginalFilename": name,
            "InternalName": name[:-len(".exe")]}


def configured_fields():
    """What the launcher as configured carries: an empty field takes the
    application name, an empty copyright names a year and the company."""
    company = ARGS.company or ARGS.app_name
    copyright_text = ARGS.copyright or re.compile(r"Copyright \(C\) \d{4} %s\Z" % re.escape(company))
    return expected_fields(ARGS.launcher, ARGS.version, ARGS.product_name or ARGS.app_name,
                           ARGS.description or ARGS.app_name, company, copyright_text)


def branded_fields():
    given = dict(zip(ARGS.branded_fields[::2], ARGS.branded_fields[1::2]))
    return expected_fields(ARGS.branded, given["VERSION"], given["PRODUCT_NAME"],
                           given["DESCRIPTION"], given["COMPANY"], given["COPYRIGHT"])


class ReadBack:
    """What a PE reader finds in one launcher (mixed into a test case per launcher)."""

    program = None
    icon = None
    fields = None

    @classmethod
    def setUpClass(cls):
        cls.resources = read_pe_resources(cls.program)

    def group(self):
        self.assertEqual(list(self.resources[RT_GROUP_ICON]), [1])
        return parse_group_icon(single_language(self.resources[RT_GROUP_ICON][1]))

    def test_icon_group_one_holds_every_image_of_the_icon_byte_for_byte(self):
        images = read_ico_images(self.icon)
        group = self.group()
        self.assertEqual([(w, h, bits) for w, h, bits, _, _ in group],
                         [(w, h, bits) for w, h, bits, _ in images])
        for (width, _, _, size, icon_id), (_, _, _, data) in zip(group, images):
            with self.subTest(size=width):
                image = single_language(self.resources[RT_ICON][icon_id])
                self.assertEqual(len(image), size)
                self.assertEqual(image, data)
        self.assertEqual(len(self.resources[RT_ICON]), len(images))

    def manifest(self):
        self.assertEqual(list(self.resources[RT_MANIFEST]), [1])
        return single_language(self.resources[RT_MANIFEST][1])

    def test_manifest_asks_for_as_invoker_without_ui_access(self):
        root = ElementTree.fromstring(self.manifest())
        levels = [e for e in root.iter() if e.tag.rsplit("}", 1)[-1] == "requestedExecutionLevel"]
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "asInvoker")
        self.assertEqual(levels[0].get("uiAccess"), "false")

    def test_manifest_depends_on_common_controls_6(self):
        dependencies = manifest_dependencies(self.manifest())
        self.assertEqual(len(dependencies), 1, dependencies)
        for key, value in COMMON_CONTROLS.items():
            with self.subTest(attribute=key):
                self.assertEqual(dependencies[0].get(key), value)

    def test_manifest_names_windows_7_to_11(self):
        self.assertEqual(sorted(manifest_supported_os(self.manifest())), sorted(SUPPORTED_OS))

    def test_version_resource_carries_the_fields(self):
        self.assertEqual(list(self.resources[RT_VERSION]), [1])
        info = parse_version_info(single_language(self.resources[RT_VERSION][1]))
        self.assertEqual(info["translations"], [(0x409, 1200)])
        self.assertEqual(list(info["strings"]), [STRING_TABLE])
        strings = info["strings"][STRING_TABLE]
        self.assertEqual(sorted(strings), sorted(FIELDS))
        for key, expected in self.fields.items():
            with self.subTest(field=key):
                if isinstance(expected, str):
                    self.assertEqual(strings[key], expected)
                else:
                    self.assertRegex(strings[key], expected)
        fixed = info["fixed"]
        numbers = four_numbers(strings["FileVersion"])
        self.assertEqual(fixed["file_version"], numbers)
        self.assertEqual(fixed["product_version"], numbers)
        self.assertEqual((fixed["os"], fixed["type"], fixed["flags"]), (VOS_NT_WINDOWS32, VFT_APP, 0))
        self.assertEqual(fixed["date"], (0, 0))


class ConfiguredLauncher(ReadBack, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program, cls.icon, cls.fields = ARGS.launcher, ARGS.icon, configured_fields()
        super().setUpClass()


class BrandedLauncher(ReadBack, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program, cls.icon, cls.fields = ARGS.branded, ARGS.branded_icon, branded_fields()
        super().setUpClass()

    def test_the_icon_has_the_five_sizes_with_a_png_among_them(self):
        group = self.group()
        self.assertEqual([width for width, *_ in group], sorted(SIZES))
        big = single_language(self.resources[RT_ICON][group[-1][4]])
        self.assertTrue(big.startswith(b"\x89PNG\r\n\x1a\n"))


class UnderWine(unittest.TestCase):
    """What Windows' own calls read: Explorer's Details page and Task
    Manager (GetFileVersionInfo), Explorer's icon (ExtractIconEx), a program
    loading icon group 1 at a size (LoadImage)."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = fresh_dir(ARGS.scratch)
        cls.records = {}
        with WineSession(ARGS.prefix) as session:
            for label, program in (("configured", ARGS.launcher), ("branded", ARGS.branded)):
                record = cls.scratch / (label + ".txt")
                result = session.run(ARGS.probe, [program, record], timeout=120)
                cls.records[label] = (result.returncode,
                                      read_record(record) if record.exists() else {})

    def check_fields(self, label, fields):
        code, record = self.records[label]
        self.assertEqual(code, 0, "no version resource found by GetFileVersionInfo")
        self.assertEqual(record["translation"], "0409-04b0")
        for key, expected in fields.items():
            with self.subTest(field=key):
                if isinstance(expected, str):
                    self.assertEqual(record["string." + key], expected)
                else:
                    self.assertRegex(record["string." + key], expected)
        version = ".".join(map(str, four_numbers(fields["FileVersion"])))
        self.assertEqual(record["file_version"], version)
        self.assertEqual(record["product_version"], version)
        self.assertEqual((record["file_os"], record["file_type"]), ("0x40004", "1"))
        return record

    def test_configured_launcher_fields_and_icon(self):
        record = self.check_fields("configured", configured_fields())
        self.assertEqual(record["icon_count"], "1")
        self.assertTrue(record["large"].startswith("32 x 32 "), record["large"])

    def test_branded_launcher_fields(self):
        self.check_fields("branded", branded_fields())

    def test_branded_icon_each_use_takes_its_own_size(self):
        _, record = self.records["branded"]
        self.assertEqual(record["icon_count"], "1")

        def shown(side):  # the image's colour at its centre
            return "%d x %d %s" % (side, side, SIZES[side][0])

        self.assertEqual(record["large"], shown(32))
        # Wine makes ExtractIconEx's small icon from the large image (Windows
        # takes the 16-pixel one): its size is what both share.
        self.assertTrue(record["small"].startswith("16 x 16 "), record["small"])
        for side in (16, 32, 48, 256):  # the sizes the probe loads
            with self.subTest(size=side):
                self.assertEqual(record["size.%d" % side], shown(side))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--launcher", "--icon", "--app-name", "--version", "--branded", "--branded-icon",
                 "--probe", "--prefix", "--scratch"):
        parser.add_argument(name, required=True)
    for name in ("--product-name", "--description", "--company", "--copyright"):
        parser.add_argument(name, default="")
    parser.add_argument("--branded-fields", nargs="+", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
