"""Reads the resources of a Windows PE file (.exe) and of .ico files, so the
tests can see which icon, manifest and version resource the launcher carries."""

import struct
import xml.etree.ElementTree as ElementTree
from pathlib import Path

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD


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


def _version_block(data, at):
    """One block of a version resource: (key, value bytes, value length as
    given, type, children, where the next sibling starts)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    if length < 6 or at + length > len(data):
        raise FormatError("version block at %d runs past its parent" % at)
    end = at + length
    key_at = at + 6
    key_end = key_at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_at:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    # Text values count their length in characters, binary ones in bytes.
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[value_at:value_at + value_bytes]
    children = []
    child = (value_at + value_bytes + 3) & ~3
    while child < end:
        block = _version_block(data, child)
        children.append(block)
        child = (block[5] + 3) & ~3
    return key, value, value_length, kind, children, end


def parse_version_info(data):
    """A version resource: {"fixed": {...}, "strings": {table: {name: text}},
    "translations": [(language, code page)]}."""
    key, value, _, _, children, _ = _version_block(data, 0)
    if key != "VS_VERSION_INFO":
        raise FormatError("version resource keyed %r" % key)
    if len(value) != 52:
        raise FormatError("no VS_FIXEDFILEINFO (%d bytes)" % len(value))
    fields = struct.unpack("<13I", value)
    if fields[0] != VS_FIXEDFILEINFO_SIGNATURE:
        raise FormatError("VS_FIXEDFILEINFO signature 0x%x" % fields[0])

    def numbers(most, least):
        return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)

    fixed = {"file_version": numbers(fields[2], fields[3]),
             "product_version": numbers(fields[4], fields[5]),
             "flags_mask": fields[6], "flags": fields[7], "os": fields[8], "type": fields[9],
             "subtype": fields[10], "date": (fields[11], fields[12])}
    strings, translations = {}, []
    for child_key, _, _, _, grandchildren, _ in children:
        if child_key == "StringFileInfo":
            for table, _, _, _, entries, _ in grandchildren:
                strings[table] = {}
                for name, text, characters, kind, _, _ in entries:
                    if kind != 1:
                        raise FormatError("string %r is not stored as text" % name)
                    text = text.decode("utf-16-le")
                    if characters and not text.endswith("\0"):
                        raise FormatError("string %r is not terminated" % name)
                    strings[table][name] = text.rstrip("\0")
        elif child_key == "VarFileInfo":
            for var, raw, _, _, _, _ in grandchildren:
                if var == "Translation":
                    translations += [struct.unpack_from("<HH", raw, i)
                                     for i in range(0, len(raw) - 3, 4)]
    return {"fixed": fixed, "strings": strings, "translations": translations}
