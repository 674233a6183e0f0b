#!/usr/bin/env python3
"""Reads both stubs' load configuration back without running them: the directory entry points
at a structure whose Size covers DependentLoadFlags, which limits the static imports to the
system folder; the 32-bit stub is NO_SEH; the checksum matches the finished file.

Usage: check_load_config.py X86_STUB X64_STUB
"""
import sys
import unittest

import pefile

STUBS = {}
LOAD_CONFIG_ENTRY = 10
SEARCH_SYSTEM32 = 0x0800  # LOAD_LIBRARY_SEARCH_SYSTEM32
NO_SEH = 0x0400
# Per architecture: where DependentLoadFlags lies in the structure, and the Size written for
# the layout through SEHandlerCount.
LAYOUT = {"x86": {"flags_at": 0x36, "size": 0x48}, "x64": {"flags_at": 0x4E, "size": 0x70}}


def load(path):
    return pefile.PE(path, fast_load=True)


def load_config(pe):
    """(rva, directory size, structure Size field) of the load configuration; rva 0 when the
    entry is empty."""
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG_ENTRY]
    if entry.VirtualAddress == 0:
        return 0, entry.Size, 0
    return entry.VirtualAddress, entry.Size, pe.get_dword_at_rva(entry.VirtualAddress)


def stubs():
    """(architecture, parsed image) of each stub named on the command line."""
    return [(arch, load(path)) for arch, path in STUBS.items()]


class LoadConfig(unittest.TestCase):
    # A failure inside a subTest must not escape through a generator: the loops below hold the
    # subTest themselves.

    def test_directory_points_at_a_whole_structure(self):
        # The loader reads Size bytes at the entry's address: they must all lie in one section.
        for arch, pe in stubs():
            with self.subTest(arch):
                rva, dir_size, size = load_config(pe)
                self.assertNotEqual(rva, 0, "no load configuration directory")
                self.assertEqual((dir_size, size), (LAYOUT[arch]["size"],) * 2)
                section = pe.get_section_by_rva(rva)
                self.assertIsNotNone(section, hex(rva))
                end = section.VirtualAddress + min(section.Misc_VirtualSize,
                                                   section.SizeOfRawData)
                self.assertLessEqual(rva + size, end, "the structure runs past its section")

    def test_dependent_load_flags(self):
        for arch, pe in stubs():
            with self.subTest(arch):
                rva, _, size = load_config(pe)
                at = LAYOUT[arch]["flags_at"]
                self.assertGreaterEqual(size, at + 2, "Size does not cover DependentLoadFlags")
                self.assertEqual(pe.get_word_at_rva(rva + at), SEARCH_SYSTEM32)

    def test_no_seh_on_x86(self):
        # Without a handler table, a 32-bit image is only kept from foreign handlers as NO_SEH;
        # 64-bit handlers are found through .pdata instead.
        flags = load(STUBS["x86"]).OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(flags & NO_SEH, hex(flags))

    def test_checksum_matches_file(self):
        for arch, pe in stubs():
            with self.subTest(arch):
                self.assertNotEqual(pe.OPTIONAL_HEADER.CheckSum, 0)
                self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    STUBS.update(x86=sys.argv[1], x64=sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
