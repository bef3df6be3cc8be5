"""Copies of a launcher whose archive is attached to its file, changed as the
world may change them: bytes appended after the archive (as a signature
appends its certificate table), a real Authenticode signature, the file cut
short (a broken download), the record never written (a build that skipped
the attach step). The record is found as the build's attach step finds it."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "payload" / "tools"))
from attach_payload import find_record, write_record  # noqa: E402


def attached_region(launcher):
    """(offset, size) of the archive attached to `launcher`."""
    _, (_, offset, size) = find_record(launcher)
    return offset, size


def copy_of(launcher, destination, appended=b"", cut=0, unpatched=False):
    """A copy of `launcher` at `destination`, runnable, with `appended` added
    at its end, its last `cut` bytes dropped, or its record set back to zeros
    and the archive taken off: the linker's output as it was."""
    destination = Path(destination)
    destination.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(launcher, destination)
    os.chmod(destination, 0o755)
    if unpatched:
        record_at, (_, offset, _) = find_record(destination)
        os.truncate(destination, offset)
        write_record(destination, record_at, 0, 0)
    if cut:
        os.truncate(destination, os.path.getsize(destination) - cut)
    if appended:
        with open(destination, "ab") as out:
            out.write(appended)
    return destination


def signed_copy(launcher, destination, work):
    """A copy of a Windows launcher signed with osslsigncode and a throwaway
    self-signed certificate made by openssl: the certificate table is
    appended after everything, the archive included."""
    work = Path(work)
    work.mkdir(parents=True, exist_ok=True)
    key, certificate = work / "key.pem", work / "certificate.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Launcher test signing", "-keyout", str(key),
                    "-out", str(certificate)], check=True, capture_output=True)
    destination = Path(destination)
    destination.parent.mkdir(parents=True, exist_ok=True)
    destination.unlink(missing_ok=True)
    subprocess.run(["osslsigncode", "sign", "-certs", str(certificate), "-key", str(key),
                    "-n", "Launcher test", "-in", str(launcher), "-out", str(destination)],
                   check=True, capture_output=True)
    return destination


def certificate_table(pe):
    """(file offset, size) of a PE file's certificate table, (0, 0) if none."""
    data = Path(pe).read_bytes()[:4096]
    lfanew = int.from_bytes(data[0x3C:0x40], "little")
    optional = lfanew + 24
    # PE32+: the data directories start 112 bytes into the optional header;
    # the certificate table is the fifth.
    entry = optional + 112 + 4 * 8
    return (int.from_bytes(data[entry:entry + 4], "little"),
            int.from_bytes(data[entry + 4:entry + 8], "little"))
