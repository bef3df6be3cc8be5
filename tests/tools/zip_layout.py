"""Where the records of a finished ZIP archive stand, for the fixtures that
change an archive by hand: the end record and the central-directory walk."""

import struct


def end_record(data):
    """(offset, fields) of the last end-of-central-directory record."""
    at = data.rindex(b"PK\x05\x06")
    return at, struct.unpack_from("<4sHHHHIIH", data, at)


def central_offsets(data):
    """Offsets of the central-directory records, in order."""
    _, (_, _, _, _, count, _, start, _) = end_record(data)
    at, offsets = start, []
    for _ in range(count):
        offsets.append(at)
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, at + 28)
        at += 46 + name_length + extra_length + comment_length
    return offsets
