#!/usr/bin/env python3
"""Round trips of sfxpack's compressions, run by scripts/test-host: every installer made with
--compression none, mszip or lzx:15..21 and --level 1..3 lists its compression, passes
--check, and extracts byte for byte through cabextract and through the stub under Wine
(Wine's cabinet.dll, which restarts its decoder state at every data block). The payloads hold
the edge cases of the LZX encoder: empty and one-byte files, frame-sized files, a match at the
window's farthest distance, long runs, noise (stored blocks) and x86 calls up to frame ends.
libmspack's round trips of the encoder alone are in lzx_test.cpp.
"""
import os
import random
import subprocess
import unittest

import test_sfxpack as base
from test_sfxpack import (FILE_LIMIT, LEVEL, LONG, SFXPACK, STUB, TZ, overlay, read, require,
                          run, write)

FRAME = 32768
EPOCH = 1700000000


def noise(n, seed):
    return random.Random(seed).randbytes(n)


def words(n, seed):
    rng = random.Random(seed)
    vocab = [b"cabinet ", b"folder ", b"frame ", b"window ", b"match ", b"\r\n", b"0x1f, "]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(vocab)
    return bytes(out[:n])


def calls(n, seed):
    """Text with a call (E8 and a 4-byte relative target) every few bytes, some targets out of
    the translated range, and 16 E8 bytes before every multiple of 32 KiB."""
    rng = random.Random(seed)
    b = bytearray(words(n, seed))
    i = 0
    while i + 5 <= n:
        target = rng.randrange(40) * 4096 - (0x40000000 if rng.randrange(8) == 0 else 0)
        b[i] = 0xE8
        b[i + 1:i + 5] = ((target - i) & 0xFFFFFFFF).to_bytes(4, "little")
        i += 3 + rng.randrange(9)
    for end in range(FRAME, n + 1, FRAME):
        b[end - 16:end] = b"\xe8" * 16
    return bytes(b)


def farthest(window_bits):
    """Noise whose first 4 KiB repeat exactly 2^N - 3 bytes later (the farthest match a window
    of 2^N bytes codes), and whose next 4 KiB repeat one byte too far."""
    far, chunk = (1 << window_bits) - 3, 4096
    b = bytearray(noise(far + 1 + 2 * chunk, window_bits))
    b[far:far + chunk] = b[:chunk]
    b[chunk + far + 1:chunk + far + 1 + chunk] = b[chunk:2 * chunk]
    return bytes(b)


def edge_files(window_bits):
    """The edge payload: files of the sizes around a frame, runs, noise, calls, the farthest
    match; in one folder, so frames also end inside and between them."""
    return {
        "Setup.exe": calls(3 * FRAME + 7, 1),
        "empty.txt": b"",
        "one.bin": b"\xe8",
        "frame-1.txt": words(FRAME - 1, 2),
        "frame.txt": words(FRAME, 3),
        "frame+1.txt": words(FRAME + 1, 4),
        "sub/zeros.bin": bytes(1 << 20),
        "sub/pairs.bin": b"\x90\xcc" * 150000,
        "sub/noise.bin": noise(100000, 5),
        "sub/e8.bin": b"\xe8" * 70001,
        "sub/far.bin": farthest(window_bits),
    }


class Compression(base.Workdir):
    def payload(self, name, files):
        return self.tree(name, {rel: (data, EPOCH + 2 * k, False)
                                for k, (rel, data) in enumerate(sorted(files.items()))})

    def pack_with(self, src, name, args):
        r = self.pack(src, self.path(name), env={"TZ": TZ}, args=list(args) + LEVEL)
        self.assertEqual(r.returncode, 0, r.stderr)
        return self.path(name)

    def assert_listed(self, inst, compression):
        listed = run([SFXPACK, "--list", inst], check=True).stdout.decode()
        self.assertIn("compression: %s" % compression, listed)
        r = self.check(inst)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("compression: %s" % compression, r.stdout.decode())

    def assert_cabextract(self, inst, src, tag):
        data = read(inst)
        first = self.path(tag + "-first.cab")
        write(first, data[overlay(data):])
        out = self.path(tag + "-cabextract")
        r = run(["cabextract", "-q", "-d", out, first])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(run(["diff", "-r", src, out]).returncode, 0, tag)

    def round_trip(self, tag, files, args, compression):
        """Packs files with args; listing, cabextract and Wine all give them back."""
        src = self.payload(tag, files)
        inst = self.pack_with(src, tag + ".exe", args)
        self.assert_listed(inst, compression)
        self.assert_cabextract(inst, src, tag)
        require(STUB)
        with self.subTest("Wine"):
            base.Wine.extract_and_compare(self, inst, src)
            subprocess.run(["chmod", "-R", "u+w", self.path("dest")])
            subprocess.run(["rm", "-rf", self.path("dest")])

    def test_edge_payload_every_window(self):
        for bits in range(15, 22):
            with self.subTest(window=bits):
                self.round_trip("w%d" % bits, edge_files(bits),
                                ["--compression", "lzx:%d" % bits], "LZX:%d, 1 folder" % bits)

    def test_edge_payload_every_level(self):
        cases = [  # window, level
            (15, 1), (15, 3), (21, 1), (21, 3),
        ]
        for bits, level in cases:
            with self.subTest(window=bits, level=level):
                self.round_trip("w%dl%d" % (bits, level), edge_files(bits),
                                ["--compression", "lzx:%d" % bits, "--level", str(level)],
                                "LZX:%d, 1 folder" % bits)

    def test_folder_sizes_around_a_frame(self):
        cases = [  # folder bytes, contents
            (0, b""), (1, b"\xe8"), (FRAME - 1, calls(FRAME - 1, 6)), (FRAME, calls(FRAME, 7)),
            (FRAME + 1, calls(FRAME + 1, 8)), (2 * FRAME, noise(2 * FRAME, 9)),
        ]
        for size, data in cases:
            for option, name in [("lzx", "LZX:21"), ("lzx:15", "LZX:15")]:
                with self.subTest(size=size, compression=option):
                    self.assertEqual(len(data), size)
                    self.round_trip("s%d-%s" % (size, option.replace(":", "")),
                                    {"Setup.exe": data}, ["--compression", option],
                                    name + ", 1 folder")

    def test_other_compressions(self):
        cases = [  # option, listed as
            ("none", "none, 1 folder"), ("mszip", "MSZIP, 1 folder"),
        ]
        for option, listed in cases:
            with self.subTest(option):
                self.round_trip(option, edge_files(15), ["--compression", option], listed)

    def test_set_of_lzx_cabinets(self):
        # A payload cut into parts: every cabinet's folders are LZX and the set extracts.
        tag = "set"
        src = self.payload(tag, edge_files(16))
        inst = self.pack_with(src, "inst.exe",
                              ["--compression", "lzx:16", "--part-size", "150000"])
        parts = sorted(n for n in os.listdir(self.tmp) if n.endswith(".cab"))
        self.assertGreaterEqual(len(parts), 1)  # the installer and at least one .cab
        listed = run([SFXPACK, "--list", inst], check=True).stdout.decode()
        self.assertRegex(listed, r"compression: LZX:16, \d+ folders")
        self.assertEqual(self.check(inst).returncode, 0)
        data = read(inst)
        write(self.path("first.cab"), data[overlay(data):])
        out = self.path("set-cabextract")
        r = run(["cabextract", "-q", "-d", out, self.path("first.cab")])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(run(["diff", "-r", src, out]).returncode, 0)
        require(STUB)
        base.Wine.extract_and_compare(self, inst, src)

    @unittest.skipUnless(LONG, "long test: runs with ORVANTA_LONG=1")
    def test_folder_at_the_block_limit(self):
        # One file of 65535 full frames, calls throughout (frames past the 32768th are not
        # translated), at level 1: the stub and cabextract give it back.
        period = calls(65537, 10)
        src = self.path("big")
        os.makedirs(src)
        big = os.path.join(src, "Setup.exe")
        with open(big, "wb") as f:
            whole, rest = divmod(FILE_LIMIT, len(period))
            for _ in range(whole):
                f.write(period)
            f.write(period[:rest])
        inst = self.pack_with(src, "big.exe", ["--compression", "lzx", "--level", "1"])
        self.assert_listed(inst, "LZX:21, 1 folder")
        data = read(inst)
        write(self.path("big.cab"), data[overlay(data):])
        del data
        for tool in ["cabextract", "Wine"]:
            with self.subTest(tool):
                dest = self.path("dest-" + tool)
                if tool == "cabextract":
                    r = run(["cabextract", "-q", "-d", dest, self.path("big.cab")])
                    self.assertEqual(r.returncode, 0, r.stderr)
                else:
                    require(STUB)
                    with open(self.path("wine.log"), "wb") as log:
                        subprocess.run(["wine", inst, "Z:" + dest.replace("/", "\\")],
                                       stdout=log, stderr=subprocess.STDOUT, timeout=1200)
                    self.assertIn(b"result\t1\t0\t", read(self.path("wine.log")))
                self.assertEqual(run(["cmp", big, os.path.join(dest, "Setup.exe")]).returncode,
                                 0, tool)
                subprocess.run(["rm", "-rf", dest])


if __name__ == "__main__":
    unittest.main()
