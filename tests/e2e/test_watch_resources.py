#!/usr/bin/env python3
"""The Windows launcher's resources: icon group 1 with one 32 x 32, 32-bit
image (the committed resources/launcher.ico), and a manifest that asks for
asInvoker without UI access."""

import argparse
import sys
import unittest
import xml.etree.ElementTree as ElementTree

from icon_resources import (RT_GROUP_ICON, RT_ICON, RT_MANIFEST, parse_bitmap_header,
                            parse_group_icon, read_ico_images, read_pe_resources,
                            single_language)

ARGS = None


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


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--icon", required=True)
    ARGS, rest = parser.parse_known_args(sys.argv[1:])
    unittest.main(argv=[sys.argv[0], "-v", *rest])
