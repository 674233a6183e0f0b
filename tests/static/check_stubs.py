#!/usr/bin/env python3
"""Reads both stubs back without running them: format, subsystem, layout, size, imports and
resources. Runs on any machine, so a PE32 defect shows even where 32-bit Wine cannot start.

Usage: check_stubs.py X86_STUB X64_STUB
"""
import os
import sys
import unittest

import pefile

STUBS = {}
# (machine, optional header magic, optional header size) of each architecture.
FORMATS = {"x86": (0x14C, 0x10B, 224), "x64": (0x8664, 0x20B, 240)}
SYSTEM_DLLS = {"comctl32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "shell32.dll",
               "user32.dll"}
MAX_STUB_BYTES = 128 * 1024
# Resources the program loads: dialog 9 in French, icon group 101, manifest 1, version 1.
REQUIRED = {(5, 9, 0x40C), (14, 101), (24, 1), (16, 1)}


def load(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    return pe


def resources(pe):
    """{(type, name, language): bytes} of every resource leaf."""
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                d = lang.data.struct
                key = (t.id if t.id is not None else str(t.name),
                       n.id if n.id is not None else str(n.name), lang.id)
                out[key] = pe.get_data(d.OffsetToData, d.Size)
    return out


class Stubs(unittest.TestCase):
    def each(self):
        for arch, path in STUBS.items():
            with self.subTest(arch):
                yield arch, path, load(path)

    def test_format_and_layout(self):
        for arch, path, pe in self.each():
            machine, magic, opt_size = FORMATS[arch]
            self.assertEqual((pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic,
                              pe.FILE_HEADER.SizeOfOptionalHeader), (machine, magic, opt_size))
            self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, 2)  # Windows GUI
            self.assertEqual(pe.FILE_HEADER.PointerToSymbolTable, 0, "not stripped")
            security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
            self.assertEqual((security.VirtualAddress, security.Size), (0, 0), "signed")
            end = max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)
            self.assertEqual(os.path.getsize(path), end, "bytes after the last section")
            self.assertLessEqual(os.path.getsize(path), MAX_STUB_BYTES)

    def test_hardened_for_windows(self):
        # ASLR and DEP everywhere, 64-bit ASLR on x64; the library search limited to the system
        # folder at start, through a call found by name (Windows 7 may lack it).
        wanted = {"x86": 0x0140, "x64": 0x0160}  # DYNAMIC_BASE | NX_COMPAT (| HIGH_ENTROPY_VA)
        for arch, path, pe in self.each():
            flags = pe.OPTIONAL_HEADER.DllCharacteristics
            self.assertEqual(flags & wanted[arch], wanted[arch], hex(flags))
            with open(path, "rb") as f:
                found = b"SetDefaultDllDirectories\0" in f.read()
            self.assertTrue(found, "SetDefaultDllDirectories is not named")

    def test_imports_only_system_dlls(self):
        for _, _, pe in self.each():
            dlls = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
            self.assertTrue(dlls, "no imports read")
            self.assertLessEqual(dlls, SYSTEM_DLLS)

    def test_same_resources_in_both(self):
        found = {arch: resources(pe) for arch, _, pe in self.each()}
        for arch, res in found.items():
            keys = set(res) | {k[:2] for k in res}
            self.assertLessEqual(REQUIRED, keys, arch)
        if len(found) == 2:
            # The same but for the manifest's processor, which each loader checks.
            x64 = dict(found["x64"])
            manifest = (24, 1, 0x409)
            self.assertIn(b'processorArchitecture="x86"', found["x86"][manifest])
            x64[manifest] = x64[manifest].replace(b'processorArchitecture="amd64"',
                                                  b'processorArchitecture="x86"')
            self.assertEqual(found["x86"], x64)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    STUBS.update(x86=sys.argv[1], x64=sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
