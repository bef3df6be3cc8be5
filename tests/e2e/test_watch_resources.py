#!/usr/bin/env python3
"""The Windows launcher's resources: icon group 1 with one 32 x 32, 32-bit
image (the committed resources/launcher.ico), and a manifest that asks for
asInvoker without UI access, depends on Common Controls 6.0 (without which
Windows has no progress-bar class in the process) and names Windows 7 to 11."""

import argparse
import sys
import unittest
import xml.etree.ElementTree as ElementTree

from icon_resources import (RT_GROUP_ICON, RT_ICON, RT_MANIFEST, manifest_dependencies,
                            manifest_supported_os, parse_bitmap_header, parse_group_icon,
                            read_ico_images, read_pe_resources, single_language)

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


class LauncherResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = read_pe_resources(ARGS.launcher)

    def test_icon_group_one_holds_a_single_32_pixel_32_bit_image(self):
        self.assertIn(RT_GROUP_ICON, self.resources)
        self.assertEqual(list(self.resources[RT_GROUP_ICON]), [1])
        images = parse_group_icon(single_language(self.resources[RT_GROUP_ICON][1]))
        self.assertEqual(len(images), 1)
        width, height, bits, size, icon_id = images[0]
        self.assertEqual((width, height, bits), (32, 32, 32))

        image = single_language(self.resources[RT_ICON][icon_id])
        self.assertEqual(len(image), size)
        self.assertEqual(parse_bitmap_header(image), (32, 32, 32))

    def test_icon_image_is_the_committed_one(self):
        (width, height, bits, committed), = read_ico_images(ARGS.icon)
        self.assertEqual((width, height, bits), (32, 32, 32))
        group = parse_group_icon(single_language(self.resources[RT_GROUP_ICON][1]))
        image = single_language(self.resources[RT_ICON][group[0][4]])
        self.assertEqual(image, committed)

    def test_no_other_icons(self):
        self.assertEqual(len(self.resources.get(RT_ICON, {})), 1)

    def test_manifest_asks_for_as_invoker_without_ui_access(self):
        self.assertIn(RT_MANIFEST, self.resources)
        self.assertEqual(list(self.resources[RT_MANIFEST]), [1])
        root = ElementTree.fromstring(single_language(self.resources[RT_MANIFEST][1]))
        levels = [e for e in root.iter() if e.tag.rsplit("}", 1)[-1] == "requestedExecutionLevel"]
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "asInvoker")
        self.assertEqual(levels[0].get("uiAccess"), "false")

    def manifest(self):
        return single_language(self.resources[RT_MANIFEST][1])

    def test_manifest_depends_on_common_controls_6(self):
        dependencies = manifest_dependencies(self.manifest())
        self.assertEqual(len(dependencies), 1, dependencies)
        identity = dependencies[0]
        for key, value in COMMON_CONTROLS.items():
            with self.subTest(attribute=key):
                self.assertEqual(identity.get(key), value)

    def test_manifest_names_windows_7_to_11(self):
        self.assertEqual(sorted(manifest_supported_os(self.manifest())), sorted(SUPPORTED_OS))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--icon", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
