"""Pieces the unpacking end-to-end tests share: what Info-ZIP's `unzip` makes
of an archive, and a folder tree read back for comparison."""

import subprocess
from pathlib import Path

TEMP_ARCHIVE = "~QuillMark_temp"


def read_tree(root):
    """{relative path with "/": bytes, or None for a folder}."""
    root = Path(root)
    tree = {}
    for path in sorted(root.rglob("*")):
        name = path.relative_to(root).as_posix()
        tree[name] = None if path.is_dir() else path.read_bytes()
    return tree


def unzip_tree(archive, work):
    """The tree `unzip` unpacks from `archive`, unpacked into `work`."""
    work = Path(work)
    subprocess.run(["unzip", "-q", "-o", str(archive), "-d", str(work)], check=True)
    return read_tree(work)


def tree_difference(actual, expected):
    """A short text naming what differs, or "" when the trees are equal."""
    lines = []
    for name in sorted(set(actual) | set(expected)):
        if name not in actual:
            lines.append("missing: " + name)
        elif name not in expected:
            lines.append("extra: " + name)
        elif actual[name] != expected[name]:
            lines.append("differs: " + name)
    return "\n".join(lines[:20])
