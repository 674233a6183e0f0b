#!/usr/bin/env python3
"""Points a linked image's load configuration directory at its load configuration structure.

GNU ld keeps the structure (the link names it with --require-defined) but leaves data directory
entry 10 empty. This step reads the structure's address from the link map (the image itself is
stripped), sets the entry to the structure's RVA and its own Size field, and recomputes the
checksum. Only header bytes change: the sections and the file size stay as linked.
On any failure the image is removed, so that the next build links it again.

Usage: set_load_config.py IMAGE MAP SYMBOL
"""
import os
import re
import struct
import sys

LOAD_CONFIG_ENTRY = 10
PE32_MAGIC = 0x10B
PE32_PLUS_MAGIC = 0x20B


class Bad(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def headers(data):
    """(optional header offset, image base, directory table offset, sections) of a PE image,
    each section as (virtual size, rva, raw size, raw pointer). Bounds checked first."""
    if len(data) < 64 or data[:2] != b"MZ":
        raise Bad("not an MZ image")
    nt = u32(data, 0x3C)
    if nt + 24 > len(data) or data[nt:nt + 4] != b"PE\0\0":
        raise Bad("no PE signature")
    count, opt_size = u16(data, nt + 6), u16(data, nt + 20)
    opt = nt + 24
    table = opt + opt_size
    if table + 40 * count > len(data):
        raise Bad("headers run past the file")
    magic = u16(data, opt)
    if magic == PE32_MAGIC:
        base, dir_count, dirs = u32(data, opt + 28), u32(data, opt + 92), opt + 96
    elif magic == PE32_PLUS_MAGIC:
        base = struct.unpack_from("<Q", data, opt + 24)[0]
        dir_count, dirs = u32(data, opt + 108), opt + 112
    else:
        raise Bad("unknown optional header magic %#x" % magic)
    if dir_count <= LOAD_CONFIG_ENTRY or dirs + 8 * dir_count > table:
        raise Bad("no load configuration directory entry")
    sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(count)]
    return opt, base, dirs, sections


def rva_to_offset(sections, rva, n):
    """The file offset of the n bytes at rva when they all lie in one section's raw data."""
    for vsize, va, raw_size, raw_ptr in sections:
        if va <= rva and rva + n <= va + min(vsize, raw_size):
            return raw_ptr + rva - va
    raise Bad("%d bytes at RVA %#x are not in any section's data" % (n, rva))


def map_address(map_text, symbol):
    """The address the link map gives symbol; exactly one definition is expected."""
    found = re.findall(r"^\s+0x([0-9a-fA-F]+)\s+" + re.escape(symbol) + r"\s*$", map_text, re.M)
    if len(found) != 1:
        raise Bad("%s: %d definitions in the link map" % (symbol, len(found)))
    return int(found[0], 16)


def checksum(data, field):
    """The PE checksum of data: its 16-bit words (the 4 bytes at field counted as zero, an odd
    last byte as a word) added with end-around carry, plus the file size."""
    words = data[:field] + b"\0\0\0\0" + data[field + 4:] + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def patched(data, address):
    """data with the load configuration entry set for the structure at address."""
    opt, base, dirs, sections = headers(data)
    rva = address - base
    if not 0 < rva < 1 << 32:
        raise Bad("address %#x is below the image base %#x" % (address, base))
    size = u32(data, rva_to_offset(sections, rva, 4))
    rva_to_offset(sections, rva, size)  # the whole structure lies in the image
    entry = dirs + 8 * LOAD_CONFIG_ENTRY
    old = struct.unpack_from("<II", data, entry)
    if old not in ((0, 0), (rva, size)):
        raise Bad("the directory entry already holds %#x, %#x" % old)
    out = bytearray(data)
    struct.pack_into("<II", out, entry, rva, size)
    struct.pack_into("<I", out, opt + 64, checksum(bytes(out), opt + 64))
    return bytes(out)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    image, map_path, symbol = argv[1:]
    try:
        with open(image, "rb") as f:
            data = f.read()
        with open(map_path, encoding="utf-8", errors="replace") as f:
            out = patched(data, map_address(f.read(), symbol))
        tmp = image + ".tmp"
        with open(tmp, "wb") as f:
            f.write(out)
        os.chmod(tmp, os.stat(image).st_mode)
        os.replace(tmp, image)
    except (Bad, OSError, struct.error) as e:
        print("set_load_config: %s: %s" % (image, e), file=sys.stderr)
        for path in (image, image + ".tmp"):
            if os.path.exists(path):
                os.remove(path)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
