"""What the tests' generated game archives share: the game's names, entries
with fixed times and modes, and an archive that appears under its name only
when it is whole."""

import contextlib
import zipfile
from pathlib import Path

GAME_EXE = "Quill Mark.exe"
MAP = "worlds/Quill Mark V1.1/Quill Mark V1.1.map"


def entry(name, method=zipfile.ZIP_DEFLATED):
    info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
    info.compress_type = method
    info.external_attr = 0o644 << 16
    return info


@contextlib.contextmanager
def archive_at(output):
    """A ZipFile written beside `output` and renamed over it once closed, so
    that a build never takes half an archive for a made one."""
    output = Path(output)
    output.parent.mkdir(parents=True, exist_ok=True)
    partial = output.with_suffix(".partial")
    with zipfile.ZipFile(partial, "w") as archive:
        yield archive
    partial.replace(output)
