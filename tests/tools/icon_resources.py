"""Reads the resources of a Windows PE file (.exe) and of .ico files, so the
tests can see which icon and manifest the launcher carries."""

import struct
import xml.etree.ElementTree as ElementTree
from pathlib import Path

RT_ICON = 3
RT_GROUP_ICON = 14
RT_MANIFEST = 24


class FormatError(Exception):
    pass


def _sections(data):
    if data[:2] != b"MZ":
        raise FormatError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise FormatError("no PE signature")
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
    if directories < optional:
        raise FormatError("unknown optional header 0x%x" % magic)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    sections = []
    table = optional + optional_size
    for i in range(count):
        name, virtual_size, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data,
                                                                      table + 40 * i)
        sections.append((rva, max(virtual_size, raw_size), raw_at, raw_size))
    return sections, resource_rva, resource_size


def _file_offset(sections, rva):
    for start, size, raw_at, raw_size in sections:
        if start <= rva < start + size:
            if rva - start >= raw_size:
                raise FormatError("rva 0x%x lies in uninitialised data" % rva)
            return raw_at + rva - start
    raise FormatError("rva 0x%x is in no section" % rva)


def read_pe_resources(path):
    """{type: {name: {language: bytes}}}; ids are ints, names are strings."""
    data = Path(path).read_bytes()
    sections, resource_rva, resource_size = _sections(data)
    if resource_rva == 0 or resource_size == 0:
        return {}
    base = _file_offset(sections, resource_rva)

    def name_of(entry_name):
        if entry_name & 0x80000000:
            at = base + (entry_name & 0x7FFFFFFF)
            length, = struct.unpack_from("<H", data, at)
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return entry_name

    def directory(offset, depth):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        out = {}
        for i in range(named + ids):
            entry_name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            key = name_of(entry_name)
            if target & 0x80000000:
                if depth >= 2:
                    raise FormatError("resource tree deeper than three levels")
                out[key] = directory(target & 0x7FFFFFFF, depth + 1)
            else:
                rva, size = struct.unpack_from("<II", data, base + target)
                at = _file_offset(sections, rva)
                out[key] = data[at:at + size]
        return out

    return directory(0, 0)


def single_language(entry):
    """The data of a resource stored in exactly one language."""
    if len(entry) != 1:
        raise FormatError("resource in %d languages" % len(entry))
    return next(iter(entry.values()))


def parse_group_icon(data):
    """A group icon resource: a list of (width, height, bit count, size, icon id)."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise FormatError("not an icon group")
    images = []
    for i in range(count):
        width, height, colors, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", data, 6 + 14 * i)
        images.append((width or 256, height or 256, bits, size, icon_id))
    return images


def parse_bitmap_header(data):
    """(width, height of the colour image, bit count) of an icon image."""
    size, width, double_height, planes, bits = struct.unpack_from("<IiiHH", data, 0)
    if size != 40:
        raise FormatError("icon image without a BITMAPINFOHEADER")
    return width, double_height // 2, bits


def read_ico_images(path):
    """The images of an .ico file: a list of (width, height, bit count, bytes)."""
    data = Path(path).read_bytes()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise FormatError("not an .ico file")
    images = []
    for i in range(count):
        width, height, colors, _, planes, bits, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * i)
        images.append((width or 256, height or 256, bits, data[offset:offset + size]))
    return images


def _local(tag):
    return tag.rsplit("}", 1)[-1]


def manifest_dependencies(manifest):
    """The assembly identities a manifest depends on, as attribute dicts."""
    root = ElementTree.fromstring(manifest)
    return [dict(identity.attrib)
            for dependency in root if _local(dependency.tag) == "dependency"
            for assembly in dependency if _local(assembly.tag) == "dependentAssembly"
            for identity in assembly if _local(identity.tag) == "assemblyIdentity"]


def manifest_supported_os(manifest):
    """The Id of every supportedOS element of a manifest's compatibility section."""
    root = ElementTree.fromstring(manifest)
    return [e.get("Id") for e in root.iter() if _local(e.tag) == "supportedOS"]
