#!/usr/bin/env python3
"""Command-line and Wine tests of sfxpack, run by scripts/test-host.

The stub stand-in is cabrun_rsrc.exe from ${ORVANTA_CROSS_BUILD:-build}/tests/: it extracts
the cabinet appended to it with the stub's own extraction code and prints what it did, and it
carries the program's resources, so that sfxpack can brand it and give it the payload record.
cabrun.exe, the same without resources, is a stub that cannot take them. Branding is read back
by brandread.exe through the platform's own calls, resources without Wine by pefile.
"""
import hashlib
import json
import os
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest
import zlib
from xml.etree import ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CROSS = os.path.join(ROOT, os.environ.get("ORVANTA_CROSS_BUILD", "build"))
SFXPACK = os.environ.get("SFXPACK", os.path.join(ROOT, "build", "sfxpack"))
STUB = os.path.join(CROSS, "tests", "cabrun_rsrc.exe")  # cabrun with the program's resources
BARE_STUB = os.path.join(CROSS, "tests", "cabrun.exe")
REAL_STUB = os.path.join(CROSS, "OrvantaSfx.exe")
ARCH = os.environ.get("ORVANTA_ARCH", "x86")
BRANDREAD = os.path.join(CROSS, "tests", "brandread.exe")
DRIVE = os.path.join(CROSS, "demo", "demo_drive.exe")
DEMO_SETUP = os.path.join(CROSS, "demo", "Setup.exe")
PRESS = os.path.join(CROSS, "tests", "press_extract.exe")
EPOCH = 1700000000
LEVEL = ["--execution-level", "asInvoker"]  # without one, --check warns
FILE_LIMIT = 2147450880  # what one cabinet folder holds: 65535 blocks of 32 KiB
FOLDER_LIMIT = 2146500227  # what fits a cabinet of 2147483647 bytes whatever the data
CAB_LIMIT = "over the 2147483647 bytes one cabinet may have"
LONG = os.environ.get("ORVANTA_LONG") == "1"
TZ = "Asia/Kolkata"  # no daylight saving: Windows converts with today's offset


def run(args, env=None, **kw):
    return subprocess.run(args, env=dict(os.environ, **(env or {})), capture_output=True, **kw)


def require(*paths):
    """Fails, rather than skips, a test whose built inputs are missing: the build makes them."""
    missing = [p for p in paths if not os.path.exists(p)]
    if missing:
        raise AssertionError("not built: " + ", ".join(missing))


def timed(args, **kw):
    """run(args) and the processor seconds it took: unlike the wall clock, not stretched by
    other work on the machine."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = run(args, **kw)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def headers(data):
    """(offset of "PE\\0\\0", offset of the section table, of the security directory entry)."""
    nt = struct.unpack_from("<I", data, 60)[0]
    opt_size = struct.unpack_from("<H", data, nt + 20)[0]
    plus = struct.unpack_from("<H", data, nt + 24)[0] == 0x20b
    return nt, nt + 24 + opt_size, nt + 24 + (112 if plus else 96) + 4 * 8


def overlay(data):
    nt, table, _ = headers(data)
    count = struct.unpack_from("<H", data, nt + 6)[0]
    return max(sum(struct.unpack_from("<II", data, table + 16 + 40 * i)) for i in range(count))


def patch(data, at, fmt, *values):
    b = bytearray(data)
    struct.pack_into(fmt, b, at, *values)
    return bytes(b)


def cabextract_rows(cab):
    out = run(["cabextract", "-l", cab]).stdout.decode()
    pattern = r"^\s*(\d+) \| (\d\d)\.(\d\d)\.(\d{4}) (\S+) \| (.+)$"
    return {(m[6], int(m[1]), "%s-%s-%s %s" % (m[4], m[3], m[2], m[5]))
            for m in re.finditer(pattern, out, re.M)}


def list_rows(installer):
    """(rows of name, size, date) and attributes by name, from sfxpack --list."""
    out = run([SFXPACK, "--list", installer], check=True).stdout.decode()
    found = [(m[4].replace("\\", "/"), int(m[1]), m[2], m[3])
             for m in re.finditer(r"^\s*(\d+)  (\S+ \S+)  (\S{6})  (.+)$", out, re.M)]
    return {f[:3] for f in found}, {f[0]: f[3] for f in found}


# Every resource of an executable, as {(type, name, language): data}; Debian's python3
# carries pefile (the PATH may lead to another Python).
RESOURCES = """
import json, sys, pefile
pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
print(json.dumps([[t.id, n.id, l.id, pe.get_data(l.data.struct.OffsetToData,
                                                 l.data.struct.Size).hex()]
                  for t in pe.DIRECTORY_ENTRY_RESOURCE.entries
                  for n in t.directory.entries for l in n.directory.entries]))
"""


def resources(path):
    out = run(["/usr/bin/python3", "-c", RESOURCES, path], check=True).stdout
    return {(t, n, l): bytes.fromhex(d) for t, n, l, d in json.loads(out)}


CRC32C = []
for i in range(256):
    c = i
    for _ in range(8):
        c = (c >> 1) ^ (0x82F63B78 if c & 1 else 0)
    CRC32C.append(c)


def crc32c(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc = (crc >> 8) ^ CRC32C[(crc ^ b) & 0xFF]
    return crc ^ 0xFFFFFFFF


def payload_record(cab, flags=0):
    """The RT_RCDATA 1 that the stub checks its payload against."""
    return struct.pack("<4sHHQII", b"OVPR", 1, flags, len(cab), crc32c(cab), 0)


def winpath(path):
    return "Z:" + path.replace("/", "\\")


# Each image of the test icon in its own colour, so the image Windows picks for a size shows.
COLOURS = {16: 0xFF0000, 32: 0x00FF00, 48: 0x0000FF, 256: 0xFFFF00}  # 256: PNG
VERSION = {"FileVersion": "2.1.0.5", "ProductVersion": "3.0.0.0",
           "ProductName": "MyApp \u00e9dition", "FileDescription": "MyApp setup",
           "CompanyName": "Example & Co", "LegalCopyright": "\u00a9 2024 Example",
           "OriginalFilename": "MyApp-setup.exe", "InternalName": "MyApp-setup"}


def dib(size, rgb):
    """A 32-bit icon bitmap of one colour: header, colour rows, then the mask rows."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    return (header + struct.pack("<I", 0xFF000000 | rgb) * (size * size)
            + b"\0" * ((size + 31) // 32 * 4 * size))


def png(size, rgb):
    def chunk(kind, data):
        crc = struct.pack(">I", zlib.crc32(kind + data))
        return struct.pack(">I", len(data)) + kind + data + crc
    row = b"\0" + struct.pack(">I", rgb << 8 | 0xFF) * size
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(row * size)) + chunk(b"IEND", b""))


def ico(images):
    """An .ico file of (size, image) pairs."""
    head, data = struct.pack("<HHH", 0, 1, len(images)), b""
    for size, image in images:
        head += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                            6 + 16 * len(images) + len(data))
        data += image
    return head + data


def brand_icon():
    return ico([(s, png(s, c) if s == 256 else dib(s, c)) for s, c in COLOURS.items()])


class Workdir(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="sfxpack-")

    def tearDown(self):
        subprocess.run(["chmod", "-R", "u+w", self.tmp])
        shutil.rmtree(self.tmp)

    def path(self, *names):
        return os.path.join(self.tmp, *names)

    def tree(self, name, files):
        """files: archived name -> (data, mtime, read_only)."""
        for rel, (data, mtime, read_only) in files.items():
            p = self.path(name, *rel.split("/"))
            os.makedirs(os.path.dirname(p), exist_ok=True)
            write(p, data)
            os.utime(p, (mtime, mtime))
            os.chmod(p, 0o444 if read_only else 0o644)
        return self.path(name)

    def sample(self, name="pkg"):
        return self.tree(name, {
            "Setup.exe": (b"MZ setup\r\n" * 50, 1700000001, False),
            "caf\u00e9.txt": ("caf\u00e9\r\n".encode(), 1600000000, False),
            ".hidden": (b"not hidden on Windows", 1600000000, False),
            "sub/deep/ro.txt": (b"read only\r\n", 1650000003, True),
            "sub/big.bin": (random.Random(7).randbytes(100000), 1710000007, False),
        })

    def pack(self, src, out, stub=STUB, env=None, args=(), **kw):
        return run([SFXPACK, src, "-o", out, "--stub", stub] + list(args), env, **kw)

    def installer(self, src=None, name="inst.exe", env=None, args=()):
        r = self.pack(src or self.sample(), self.path(name), env=env, args=args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return self.path(name)

    def sign(self, inst, out):
        if not os.path.exists(self.path("key.pem")):
            run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                 "-subj", "/CN=sfxpack test", "-keyout", self.path("key.pem"),
                 "-out", self.path("cert.pem")], check=True)
        run(["osslsigncode", "sign", "-certs", self.path("cert.pem"), "-key",
             self.path("key.pem"), "-in", inst, "-out", out], check=True)
        return out

    def brand(self, src, name, stub, env=None, extra=()):
        """Packs src with the test icon and VERSION, and the options extra."""
        write(self.path("brand.ico"), brand_icon())
        args = [SFXPACK, src, "-o", self.path(name), "--stub", stub,
                "--icon", self.path("brand.ico")] + list(extra)
        for key, value in VERSION.items():
            args += ["--version-info", key + "=" + value]
        r = run(args, env)
        self.assertEqual(r.returncode, 0, r.stderr)
        return self.path(name)

    def check(self, path):
        return run([SFXPACK, "--check", path])

    def assert_refused(self, r, expected, rc=1):
        """Exit rc, expected in the message, every stderr line one of sfxpack's."""
        err = r.stderr.decode("utf-8", "replace")
        self.assertEqual(r.returncode, rc, err)
        self.assertIn(expected, err)
        if rc == 1:
            self.assertTrue(all(l.startswith("sfxpack: ") for l in err.splitlines()), err)

    def assert_only(self, folder, *names):
        self.assertEqual(sorted(os.listdir(folder)), sorted(names))


class ListAndReproduce(Workdir):
    def test_list_agrees_with_cabextract(self):
        run(["gcab", "-c", "-z", self.path("g.cab"), "Setup.exe", "caf\u00e9.txt", "sub/big.bin"],
            cwd=self.sample("gcabsrc"), check=True)
        for what, src in [("folder", self.sample()), ("cabinet", self.path("g.cab"))]:
            with self.subTest(what):
                data = read(self.installer(src, what + ".exe"))
                write(self.path(what + ".cab"), data[overlay(data):])
                rows, attrs = list_rows(self.path(what + ".exe"))
                self.assertEqual(rows, cabextract_rows(self.path(what + ".cab")))
                self.assertGreaterEqual(len(rows), 3)
                self.assertEqual(attrs["caf\u00e9.txt"], "---A-U")
        self.assertEqual(data[overlay(data):], read(self.path("g.cab")))  # appended unchanged
        _, attrs = list_rows(self.path("folder.exe"))
        self.assertEqual((attrs["sub/deep/ro.txt"], attrs[".hidden"]), ("R--A--", "---A--"))

    def test_reproducible_with_source_date_epoch(self):
        env = {"SOURCE_DATE_EPOCH": str(EPOCH)}
        first = read(self.installer(self.sample("a"), "a.exe", dict(env, TZ="UTC")))
        src = self.sample("b")
        os.utime(self.path("b", "Setup.exe"), (EPOCH + 99999, EPOCH + 99999))
        self.assertEqual(read(self.installer(src, "b.exe", dict(env, TZ=TZ))), first)
        rows, _ = list_rows(self.path("b.exe"))
        self.assertIn(("Setup.exe", 500, "2023-11-14 22:13:20"), rows)  # capped at the epoch
        self.assertIn(("caf\u00e9.txt", 7, "2020-09-13 12:26:40"), rows)  # older: UTC
        self.assertEqual(self.check(self.path("b.exe")).returncode, 0)


class Check(Workdir):
    def test_accepts_good_and_signed(self):
        paddings = set()
        for extra in range(8):  # sizes that need the certificate table's alignment padding
            src = self.sample("p%d" % extra)
            write(os.path.join(src, "pad.txt"), random.Random(extra).randbytes(extra + 1))
            inst = self.installer(src, "i%d.exe" % extra, args=LEVEL)
            data = read(inst)
            for path in [inst, self.sign(inst, self.path("s%d.exe" % extra))]:
                r = self.check(path)
                self.assertEqual((r.returncode, r.stderr), (0, b""))
                self.assertIn(b": ok: 6 files", r.stdout)
                self.assertIn(b", %s stub" % ARCH.encode(), r.stdout)
                self.assertIn(b" over %d bytes, matches\n" % (len(data) - overlay(data)),
                              r.stdout)
            paddings.add(os.path.getsize(inst) % 8)
        self.assertTrue(paddings - {0}, paddings)
        # Stub and cabinet put together by hand: no record, still a good installer.
        write(self.path("hand.exe"), read(STUB) + data[overlay(data):])
        r = self.check(self.path("hand.exe"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"\npayload digest: none (not packed by sfxpack)\n", r.stdout)

    def test_payload_record_read_back(self):
        src = self.sample()
        for flags, args in [(0, []), (1, ["--progress-bar"])]:
            with self.subTest(args):
                inst = self.path("r%d.exe" % flags)
                r = run([SFXPACK, src, "-o", inst, "--stub", STUB] + args)
                self.assertEqual(r.returncode, 0, r.stderr)
                data = read(inst)
                cab = data[overlay(data):]
                self.assertEqual(resources(inst)[(10, 1, 0)], payload_record(cab, flags))
                line = b"payload digest: CRC-32C 0x%08x over %d bytes" % (crc32c(cab), len(cab))
                bar = b"\nprogress bar: " + (b"yes" if flags else b"no") + b"\n"
                self.assertIn(line + bar, run([SFXPACK, "--list", inst]).stdout)
                self.assertIn(line + b", matches" + bar, self.check(inst).stdout)

    def test_warnings_keep_exit_zero(self):
        r = self.check(self.installer(self.tree("w", {"readme.txt": (b"x", EPOCH, False)})))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"warning: no Setup.exe or StdSetup.exe", r.stderr)

    def test_rejects_bad_layouts(self):
        good = read(self.installer())
        (nt, _, security), o = headers(good), overlay(good)
        cb = struct.unpack_from("<I", good, o + 8)[0]
        plus = struct.unpack_from("<H", good, nt + 24)[0] == 0x20b
        cases = [
            ("no MSCF", good[:o] + b"XSCF" + good[o + 4:], "no cabinet (MSCF)"),
            ("junk after", good + b"junk", "4 bytes of unexpected data"),
            ("unstripped", patch(good[:o], nt + 12, "<I", o) + b"\0" * 64 + good[o:],
             "not stripped"),
            ("cbCabinet", patch(good, o + 8, "<I", cb + 10), "cabinet is truncated"),
            ("magic", patch(good, nt + 24, "<H", 0x10b if plus else 0x20b), "optional header magic"),
            ("other machine", patch(good, nt + 4, "<H", 0x14c if plus else 0x8664), "optional header"),
            ("arm64", patch(good, nt + 4, "<H", 0xaa64), "machine 0xaa64 is neither"),
            ("optional header", patch(good, nt + 20, "<H", 224 if plus else 240),
             "not %d as in PE32%s" % ((240, "+") if plus else (224, ""))),
            ("bare cabinet", good[o:], "no MZ header"),
            ("truncated header", good[:nt + 12], "lies outside the file"),
            ("certificate", patch(good, security, "<II", o, 16), "does not end the file"),
            ("2 GiB", None, CAB_LIMIT),
            ("payload changed", patch(good, len(good) - 1, "<B", good[-1] ^ 1),
             "payload digest: CRC-32C"),
            ("payload truncated", good[:-1], "of payload run past the end of the file"),
            ("record unreadable", good.replace(b"OVPR", b"XVPR"), "payload record: 24 bytes"),
        ]
        for what, data, expected in cases:
            with self.subTest(what):
                write(self.path("bad.exe"), data or good)
                if data is None:  # a cabinet one byte over, the installer past 2 GiB
                    os.truncate(self.path("bad.exe"), o + (1 << 31))
                self.assert_refused(self.check(self.path("bad.exe")), expected)

    def test_rejects_bad_names(self):
        cases = [
            (b"..\\evil.txt", "climbs out"),
            (b"\\abs.txt", "absolute path"),
            (b"C:\\drive.txt", "drive or a stream"),
            (b"ads.txt:x", "drive or a stream"),
            (b"a\\. .\\b.txt", "climbs out"),
            (b"Setup.exe.", "ends in a dot or space"),
            (b"nul.txt", "names a device"),
            (b"caf\xc3\x28.txt", "not valid UTF-8"),
        ]
        os.makedirs(self.path("out"))
        for bad, expected in cases:
            with self.subTest(bad):
                # gcab archives a placeholder of the same length (flagged UTF-8 for the last),
                # whose name is then overwritten in place.
                placeholder = b"caf\xc3\xa9.txt" if b"\xc3" in bad else b"p" * len(bad)
                src = self.tree("names%d" % len(bad), {"Setup.exe": (b"x", EPOCH, False)})
                write(os.path.join(os.fsencode(src), placeholder), b"x")
                run([b"gcab", b"-c", b"c.cab", b"Setup.exe", placeholder], cwd=src, check=True)
                cab = read(os.path.join(src, "c.cab"))
                self.assertEqual(cab.count(placeholder + b"\0"), 1)
                write(self.path("bad.cab"), cab.replace(placeholder + b"\0", bad + b"\0"))
                write(self.path("bad.exe"), read(STUB) + read(self.path("bad.cab")))
                self.assert_refused(self.check(self.path("bad.exe")), expected)
                self.assert_refused(self.pack(self.path("bad.cab"), self.path("out", "o.exe")),
                                    expected)
                self.assert_only(self.path("out"))


def cab_links(data):
    """(flags, set ID, iCabinet, previous cabinet, next cabinet) of the cabinet data starts."""
    flags, set_id, index = struct.unpack_from("<HHH", data, 0x1e)
    names, at = {}, 0x24
    for bit in (1, 2):
        if flags & bit:
            end = data.index(b"\0", at)
            names[bit] = data[at:end].decode()
            at = data.index(b"\0", end + 1) + 1  # the disk's name
    return flags, set_id, index, names.get(1), names.get(2)


def tree_rows(src):
    """(archived name, size) of every file under src."""
    return {(os.path.relpath(os.path.join(d, f), src), os.path.getsize(os.path.join(d, f)))
            for d, _, files in os.walk(src) for f in files}


class CabinetSet(Workdir):
    PART = 200000

    def random_tree(self, name="set"):
        rng = random.Random(30)
        files = {"data/f%02d.bin" % i: (rng.randbytes(rng.randrange(10000, 90000)), EPOCH, False)
                 for i in range(12)}
        files["Setup.exe"] = (rng.randbytes(50000), EPOCH, False)
        files["data/text.txt"] = (b"text\r\n" * 10000, EPOCH, False)
        return self.tree(name, files)

    def parts(self, folder, base="inst"):
        return sorted((n for n in os.listdir(folder) if n.startswith(base + "-")),
                      key=lambda n: int(n[len(base) + 1:-4]))

    def test_set_lists_checks_and_extracts(self):
        src = self.random_tree()
        inst = self.brand(src, "inst.exe", STUB, extra=["--part-size", str(self.PART)] + LEVEL)
        data = read(inst)
        cabs = [data[overlay(data):]] + [read(self.path(n)) for n in self.parts(self.tmp)]
        names = ["inst.exe"] + ["inst-%d.cab" % k for k in range(2, len(cabs) + 1)]
        self.assertEqual(self.parts(self.tmp), names[1:])
        self.assertGreaterEqual(len(cabs), 3)
        set_ids = set()
        for k, cab in enumerate(cabs):
            flags, set_id, index, prev, following = cab_links(cab)
            set_ids.add(set_id)
            self.assertLessEqual(len(cab), self.PART)
            self.assertEqual((index, prev, following),
                             (k, names[k - 1] if k else None,
                              names[k + 1] if k + 1 < len(cabs) else None))
            self.assertEqual(flags, (1 if k else 0) | (2 if k + 1 < len(cabs) else 0))
        self.assertEqual(len(set_ids), 1)
        self.assertNotIn(0, set_ids)
        # The record, branded installer or not: the first cabinet, then the table of the others.
        table = struct.pack("<I", len(cabs) - 1) + b"".join(
            struct.pack("<QII", len(c), crc32c(c), 0) for c in cabs[1:])
        self.assertEqual(resources(inst)[(10, 1, 0)], payload_record(cabs[0]) + table)
        r = self.check(inst)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertIn(b", %d later cabinets, " % (len(cabs) - 1), r.stdout)
        for k in range(1, len(cabs)):
            self.assertIn(b"\ncabinet %d: %s, CRC-32C 0x%08x over %d bytes\n"
                          % (k + 1, names[k].encode(), crc32c(cabs[k]), len(cabs[k])), r.stdout)
        listed = run([SFXPACK, "--list", inst], check=True).stdout.decode()
        self.assertEqual([l for l in listed.splitlines() if l.startswith("cabinet ")],
                         ["cabinet %d: %s" % (k + 1, n) for k, n in enumerate(names)])
        rows, _ = list_rows(inst)
        self.assertEqual({(n, size) for n, size, _ in rows}, tree_rows(src))
        # cabextract follows the set from the first cabinet, the others beside it.
        write(self.path("first.cab"), cabs[0])
        run(["cabextract", "-q", "-e", "CP1252", "-d", self.path("x"), self.path("first.cab")],
            check=True)
        self.assertEqual(run(["diff", "-r", src, self.path("x")]).returncode, 0)

    def test_damaged_parts_are_named(self):
        inst = self.installer(self.random_tree(), args=["--part-size", str(self.PART)] + LEVEL)
        parts = self.parts(self.tmp)
        self.assertGreaterEqual(len(parts), 3)
        last = read(self.path(parts[1]))
        flipped = bytearray(last)
        flipped[-100] ^= 0x55

        def swap(d):
            os.rename(os.path.join(d, parts[0]), os.path.join(d, "t"))
            os.rename(os.path.join(d, parts[1]), os.path.join(d, parts[0]))
            os.rename(os.path.join(d, "t"), os.path.join(d, parts[1]))
        cases = [
            ("missing", lambda d: os.remove(os.path.join(d, parts[0])), parts[0] + ": missing"),
            ("truncated", lambda d: write(os.path.join(d, parts[1]), last[:len(last) // 2]),
             parts[1] + ": cabinet is truncated"),
            ("swapped", swap, parts[0] + ": cabinet number 2 where the set's cabinet 1 belongs"),
            ("one byte", lambda d: write(os.path.join(d, parts[1]), bytes(flipped)),
             "%s: CRC-32C 0x%08x does not match the record's 0x%08x"
             % (parts[1], crc32c(flipped), crc32c(last))),
        ]
        for what, damage, expected in cases:
            with self.subTest(what):
                d = self.path(what.replace(" ", "-"))
                os.makedirs(d)
                for n in ["inst.exe"] + parts:
                    shutil.copy(self.path(n), d)
                damage(d)
                self.assert_refused(self.check(os.path.join(d, "inst.exe")), expected)
                if what != "one byte":  # --list compares no digest
                    self.assert_refused(run([SFXPACK, "--list", os.path.join(d, "inst.exe")]),
                                        expected)

    def test_program_finds_its_set_wherever_it_is_started(self):
        """The real program in ship/, started from a working folder of its own: its later
        cabinets are found beside it, and a damaged or missing one is named before anything
        is written."""
        require(REAL_STUB, PRESS)
        src = self.random_tree()
        os.makedirs(self.path("ship"))
        r = self.pack(src, self.path("ship", "inst.exe"), REAL_STUB, args=["--part-size",
                                                                             str(self.PART)])
        self.assertEqual(r.returncode, 0, r.stderr)
        parts = self.parts(self.path("ship"))
        self.assertGreaterEqual(len(parts), 2)
        last = read(self.path("ship", parts[-1]))
        flipped = bytearray(last)
        flipped[len(last) // 2] ^= 0x55
        cases = [
            ("whole", None, None, []),
            ("missing", parts[-1], None,
             ["Cabinet file (or part of splitted CAB) not found: " + parts[-1]]),
            ("one byte", parts[-1], bytes(flipped),
             ["Programme d'installation incomplet ou endommagé (%s) : téléchargez-le à "
              "nouveau." % parts[-1]]),
        ]
        for what, part, content, errors in cases:
            with self.subTest(what):
                ship = self.path("ship-" + what.replace(" ", "-"))
                shutil.copytree(self.path("ship"), ship)
                if part:
                    os.remove(os.path.join(ship, part))
                    if content:
                        write(os.path.join(ship, part), content)
                work = self.path("work-" + what.replace(" ", "-"))
                os.makedirs(work)
                r = subprocess.run(["wine", PRESS, winpath(os.path.join(ship, "inst.exe")),
                                    winpath(work)], capture_output=True, timeout=180)
                out = r.stdout.decode("utf-8", "replace").replace("\r", "")
                self.assertIn("exit\t0", out, r.stderr)
                self.assertEqual([l.split("\t", 1)[1] for l in out.splitlines()
                                  if l.startswith("error\t")], errors)
                if errors:
                    self.assert_only(work)  # not even the destination folder
                else:
                    self.assertEqual(run(["diff", "-r", src, os.path.join(work, "Extract")])
                                     .returncode, 0)

    def test_reproducible_and_refusals(self):
        env = {"SOURCE_DATE_EPOCH": str(EPOCH)}
        args = ["--part-size", str(self.PART)]
        for folder, tz in [("a", "UTC"), ("b", TZ)]:
            os.makedirs(self.path(folder))
            r = self.pack(self.random_tree("src-" + folder), self.path(folder, "inst.exe"),
                          env=dict(env, TZ=tz), args=args)
            self.assertEqual(r.returncode, 0, r.stderr)
        for name in ["inst.exe"] + self.parts(self.path("a")):
            self.assertEqual(read(self.path("a", name)), read(self.path("b", name)), name)
        self.assertEqual(self.parts(self.path("a")), self.parts(self.path("b")))
        out = self.path("out")
        os.makedirs(out)
        cases = [
            ("name", ["--part-size", str(self.PART)], "caf\u00e9.exe",
             "must be printable ASCII", 1),
            ("too small", ["--part-size", "33612"], "inst.exe",
             "--part-size 33612: too small for a cabinet's tables and one data block", 2),
            ("too large", ["--part-size", str(1 << 31)], "inst.exe", CAB_LIMIT, 2),
            # Over what fits whatever the data, and it does not compress: refused once tried.
            ("file that does not compress", args, "inst.exe",
             "bytes: over the %d bytes one cabinet may have" % self.PART, 1),
        ]
        noise = self.tree("noise", {"big.bin": (random.Random(31).randbytes(199900), EPOCH,
                                                False)})
        for what, extra, target, expected, rc in cases:
            with self.subTest(what):
                src = noise if what.startswith("file") else self.path("src-a")
                r = self.pack(src, os.path.join(out, target), args=extra)
                self.assert_refused(r, expected, rc)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assert_only(out)
        # The same size that compresses is taken.
        self.installer(self.tree("zeros", {"big.bin": (bytes(199900), EPOCH, False)}),
                       args=args)
        # A name that cannot name a set is fine for one cabinet.
        self.installer(self.sample(), "caf\u00e9.exe", args=["--part-size", str(self.PART)])


class Compressions(Workdir):
    """Every compression through sfxpack's own reading and cabextract; the stub's reading of
    LZX under Wine is test_compression.py's."""
    PART = CabinetSet.PART
    random_tree = CabinetSet.random_tree
    parts = CabinetSet.parts
    CHOICES = [  # options, the name --list gives
        (["--compression", "none"], "none"),
        (["--compression", "mszip"], "MSZIP"),
        (["--compression", "lzx:15", "--level", "1"], "LZX:15"),
        (["--compression", "lzx"], "LZX:21"),
        (["--compression", "lzx:17", "--level", "3"], "LZX:17"),
    ]

    def test_each_lists_checks_and_extracts_as_a_set(self):
        src = self.random_tree()
        sizes = {}
        for options, name in self.CHOICES:
            with self.subTest(name=" ".join(options)):
                out = self.path(options[1].replace(":", "_") + options[-1])
                os.makedirs(out)
                inst = self.installer(src, os.path.join(out, "inst.exe"),
                                      args=options + ["--part-size", str(self.PART)])
                cabs = [read(inst)[overlay(read(inst)):]] + [
                    read(os.path.join(out, n)) for n in self.parts(out)]
                self.assertGreaterEqual(len(cabs), 2)
                self.assertTrue(all(len(c) <= self.PART for c in cabs))
                listed = run([SFXPACK, "--list", inst], check=True).stdout.decode()
                self.assertRegex(listed, r"\ncompression: %s, \d+ folders?\n" % name)
                r = self.check(inst)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn(("\ncompression: " + name).encode(), r.stdout)
                # cabextract follows the set from the first cabinet, the others beside it.
                write(os.path.join(out, "first.cab"), cabs[0])
                run(["cabextract", "-q", "-d", os.path.join(out, "x"),
                     os.path.join(out, "first.cab")], check=True)
                self.assertEqual(run(["diff", "-r", src, os.path.join(out, "x")]).returncode, 0)
                sizes[name] = sum(len(c) for c in cabs)
        # The 60000 bytes of text compress away; the random bytes are stored, not inflated.
        for name, size in sizes.items():
            if name != "none":
                self.assertGreater(sizes["none"] - size, 55000, name)

    def test_lzx_folders_same_on_one_processor_and_all(self):
        src = self.random_tree()
        runs = []
        for cpus in ["0", "0-%d" % (os.cpu_count() - 1)]:
            out = self.path("cpu" + cpus)
            os.makedirs(out)
            r = run(["taskset", "-c", cpus, SFXPACK, src, "-o", os.path.join(out, "inst.exe"),
                     "--stub", STUB, "--compression", "lzx:16", "--part-size", str(self.PART)],
                    {"SOURCE_DATE_EPOCH": str(EPOCH)})
            self.assertEqual(r.returncode, 0, r.stderr)
            runs.append({n: read(os.path.join(out, n)) for n in os.listdir(out)})
        self.assertGreaterEqual(len(runs[0]), 3)
        self.assertEqual(runs[0], runs[1])

    def test_refusals(self):
        src = self.sample()
        cab = self.path("g.cab")
        run(["gcab", "-c", "-z", cab, "Setup.exe"], cwd=src, check=True)
        cases = [  # input, options, message, exit status
            (src, ["--compression", "lzx:22"], "the LZX window is 15 to 21 bits", 2),
            (src, ["--compression", "zip"], "expected none, mszip, lzx or lzx:15 to lzx:21", 2),
            (src, ["--compression", "mszip", "--level", "2"],
             "--level 2: applies to --compression lzx only", 2),
            (src, ["--compression", "lzx", "--level", "4"], "--level 4: takes 1, 2 or 3", 2),
            (src, ["--compression", "lzx", "--part-size", "33620"],
             "too small for a cabinet's tables and one data block of lzx:21", 2),
            (cab, ["--compression", "lzx"], "--compression and --level apply to a folder", 1),
        ]
        for source, options, expected, rc in cases:
            with self.subTest(" ".join(options)):
                r = self.pack(source, self.path("out", "inst.exe"), args=options)
                self.assert_refused(r, expected, rc)


class Refusals(Workdir):
    def test_refusals_leave_no_output(self):
        good = read(self.installer())
        stub, cab = good[:overlay(good)], good[overlay(good):]
        nt, _, security = headers(stub)
        write(self.path("unstripped.exe"), patch(stub, nt + 12, "<I", len(stub)) + b"\0" * 64)
        write(self.path("signed.exe"), patch(stub, security, "<II", len(stub), 8) + b"c" * 8)
        write(self.path("arm64.exe"), patch(stub, nt + 4, "<H", 0xaa64))
        write(self.path("truncated.exe"), stub[:nt + 30])
        write(self.path("huge.cab"), cab)
        os.truncate(self.path("huge.cab"), 1 << 31)
        write(self.path("junk.cab"), cab + b"junk")
        dangling = self.tree("dangling", {"Setup.exe": (b"x", EPOCH, False)})
        os.symlink("nowhere", os.path.join(dangling, "gone.txt"))
        colon = self.tree("colon", {"a:b.txt": (b"x", EPOCH, False)})
        one_big = self.tree("one-big", {"big.bin": (b"", EPOCH, False)})
        os.truncate(os.path.join(one_big, "big.bin"), FILE_LIMIT + 1)  # sparse
        os.makedirs(self.path("empty"))
        sample = self.sample()
        cases = [
            ("stub with payload", sample, self.path("inst.exe"), "already carries a payload"),
            ("unstripped stub", sample, self.path("unstripped.exe"), "not stripped"),
            ("signed stub", sample, self.path("signed.exe"), "stub is signed"),
            ("missing stub", sample, self.path("nostub.exe"), "cannot open"),
            ("arm64 stub", sample, self.path("arm64.exe"), "machine 0xaa64 is neither"),
            ("truncated stub", sample, self.path("truncated.exe"), "lies outside the file"),
            ("over 2 GiB", self.path("huge.cab"), STUB, CAB_LIMIT),
            ("missing input", self.path("nothing"), STUB, "cannot read"),
            ("dangling link", dangling, STUB, "cannot read"),
            ("bad name", colon, STUB, "\"a:b.txt\": ':' names a drive"),
            ("empty folder", self.path("empty"), STUB, "no files in"),
            ("file over a folder", one_big, STUB, "big.bin: %d bytes, over the %d one cabinet "
             "folder holds" % (FILE_LIMIT + 1, FILE_LIMIT)),
            ("junk after cabinet", self.path("junk.cab"), STUB, "4 bytes of unexpected data"),
            ("no record in stub", sample, BARE_STUB, "no resources to replace"),
        ]
        out = self.path("out")
        os.makedirs(out)
        write(os.path.join(out, "kept.exe"), b"previous")
        for what, src, stub_path, expected in cases:
            for target in ["new.exe", "kept.exe"]:
                with self.subTest(what, target=target):
                    r = self.pack(src, os.path.join(out, target), stub_path)
                    self.assert_refused(r, expected)
                    self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                    self.assert_only(out, "kept.exe")
                    self.assertEqual(read(os.path.join(out, "kept.exe")), b"previous")
        r = self.pack(sample, os.path.join(out, "new.exe"), env={"SOURCE_DATE_EPOCH": "1e9"})
        self.assert_refused(r, "SOURCE_DATE_EPOCH is not a number", rc=2)
        r = run([SFXPACK, sample, "-o", os.path.join(out, "new.exe"), "--\x1b[2J"])
        self.assert_refused(r, "unknown option --\\x1b[2J\n", rc=2)
        self.assert_only(out, "kept.exe")

    def test_interrupted_run_leaves_nothing(self):
        src = self.tree("large", {"Setup.exe": (os.urandom(64 << 20), EPOCH, False)})
        out = self.path("out")
        os.makedirs(out)
        p = subprocess.Popen([SFXPACK, src, "-o", os.path.join(out, "i.exe"), "--stub", STUB],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 20
        while not os.listdir(out) and time.time() < deadline and p.poll() is None:
            time.sleep(0.005)
        self.assertTrue(os.listdir(out), "no temporary file appeared")
        p.send_signal(signal.SIGINT)
        self.assertEqual(p.wait(), -signal.SIGINT)
        self.assert_only(out)

    def test_progress_only_on_a_terminal(self):
        src = self.tree("large", {"Setup.exe": (os.urandom(20 << 20), EPOCH, False)})
        tty = run(["script", "-qec", " ".join([SFXPACK, src, "-o", self.path("t.exe"), "--stub",
                                                STUB]), "/dev/null"])
        self.assertEqual(tty.returncode, 0, tty.stdout)
        self.assertIn(b"compressing [####", tty.stdout)
        self.assertIn(b"] 100%", tty.stdout)
        plain = self.pack(src, self.path("p.exe"))
        self.assertEqual((plain.returncode, plain.stderr), (0, b""))

    def test_default_stub_beside_the_program(self):
        os.makedirs(self.path("bin", "x64"))
        shutil.copy(SFXPACK, self.path("bin"))
        beside = {"x86": self.path("bin", "OrvantaSfx.exe"),
                  "x64": self.path("bin", "x64", "OrvantaSfx.exe")}
        for args, arch in [([], "x86"), (["--arch", "x86"], "x86"), (["--arch", "x64"], "x64")]:
            with self.subTest(args=args):
                for p in beside.values():
                    if os.path.exists(p):
                        os.remove(p)
                command = [self.path("bin", "sfxpack"), self.sample(), "-o", self.path("d.exe")]
                self.assert_refused(run(command + args), beside[arch])
                shutil.copy(STUB, beside[arch])
                self.assertEqual(run(command + args).returncode, 0)
        self.assert_refused(run(command + ["--arch", "arm64"]), "--arch takes x86 or x64", rc=2)
        self.assert_refused(run(command + ["--arch", "x64", "--stub", STUB]), "give one", rc=2)
        umask = os.umask(0)
        os.umask(umask)
        self.assertEqual(os.stat(self.path("d.exe")).st_mode & 0o777, 0o666 & ~umask)

    def test_real_stub(self):
        require(REAL_STUB)
        r = run([SFXPACK, self.sample(), "-o", self.path("real.exe"), "--stub", REAL_STUB,
                 "--progress-bar"])
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.check(self.path("real.exe"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b", matches\nprogress bar: yes\n", r.stdout)


class Hostile(Workdir):
    """Inputs made to hang, exhaust or mislead sfxpack."""

    def test_symbolic_link_diamond_refused_at_once(self):
        levels = [self.path("d%d" % i) for i in range(25)]
        for i, level in enumerate(levels):
            os.makedirs(level)
            if i + 1 < len(levels):  # 2^24 paths to the bottom, 25 real folders
                os.symlink(levels[i + 1], os.path.join(level, "a"))
                os.symlink(levels[i + 1], os.path.join(level, "b"))
        write(os.path.join(levels[-1], "Setup.exe"), b"x")
        r, seconds = timed([SFXPACK, levels[0], "-o", self.path("out.exe"), "--stub", STUB],
                           timeout=10)
        self.assertLess(seconds, 1.0)
        self.assert_refused(r, "the same folder as")
        self.assertFalse(os.path.exists(self.path("out.exe")))

    def sparse_installer(self, shared):
        """stub + a 64 MiB cabinet, mostly a hole: 4096 folders of 2048 empty blocks each,
        every folder on the same blocks when shared."""
        folders, blocks = 4096, 2048
        data = 36 + 8 * folders + 16 + len(b"Setup.exe\0")
        size = data + folders * blocks * 8
        cab = bytearray(struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, size, 0, 36 + 8 * folders,
                                    0, 3, 1, folders, 1, 0, 0, 0))
        for i in range(folders):
            cab += struct.pack("<IHH", data + (0 if shared else i * blocks * 8), blocks, 0)
        cab += struct.pack("<IIHHHH", 0, 0, 0, 0x5821, 0, 0x20) + b"Setup.exe\0"
        path = self.path("sparse%d.exe" % shared)
        write(path, read(STUB) + bytes(cab))
        os.truncate(path, len(read(STUB)) + size)
        return path

    def test_sparse_cabinet_read_in_linear_time(self):
        for shared in [True, False]:
            path = self.sparse_installer(shared)
            for option in ["--check", "--list"]:
                with self.subTest(shared=shared, option=option):
                    r, seconds = timed([SFXPACK, option, path], timeout=30)
                    self.assertLess(seconds, 0.5)
                    if shared:
                        self.assert_refused(r, "overlap those of another folder")
                    else:
                        self.assertEqual(r.returncode, 0, r.stderr)

    def test_fifos_refused_at_once(self):
        fifo = self.path("fifo")
        os.mkfifo(fifo)
        pkg = self.sample()
        inner = self.tree("inner", {"Setup.exe": (b"x", EPOCH, False)})
        os.mkfifo(os.path.join(inner, "pipe"))
        out = self.path("o.exe")
        cases = [
            ("--check", [SFXPACK, "--check", fifo], "not a regular file"),
            ("--list", [SFXPACK, "--list", fifo], "not a regular file"),
            ("--stub", [SFXPACK, pkg, "-o", out, "--stub", fifo], "not a regular file"),
            ("cabinet", [SFXPACK, fifo, "-o", out, "--stub", STUB], "neither a folder nor a"),
            ("in the folder", [SFXPACK, inner, "-o", out, "--stub", STUB], "neither a regular"),
        ]
        for what, command, expected in cases:
            with self.subTest(what):
                r = run(command, timeout=10)
                self.assert_refused(r, expected)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertFalse(os.path.exists(out))

    def test_list_escapes_names_to_single_rows(self):
        src = self.path("odd")
        os.makedirs(src)
        names = [b"a\nb.txt", b"\x1b[2Jred", b"c\x7f\xc2\x9b"]
        for name in names:
            write(os.path.join(os.fsencode(src), name), b"x")
        run([b"gcab", b"-c", b"c.cab"] + names, cwd=src, check=True)
        write(self.path("odd.exe"), read(BARE_STUB) + read(os.path.join(src, "c.cab")))
        r = run([SFXPACK, "--list", self.path("odd.exe")])
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.splitlines()
        self.assertEqual(len(lines), 5 + len(names), r.stdout)
        self.assertEqual(lines[:3], [b"manifest: none",
                                     b"payload digest: none (not packed by sfxpack)",
                                     b"compression: none, 1 folder"])
        self.assertFalse(re.search(rb"[\x00-\x09\x0b-\x1f\x7f]|\xc2[\x80-\x9f]", r.stdout))
        for row in [b"  a\\x0ab.txt", b"  \\x1b[2Jred", b"  c\\x7f\\xc2\\x9b"]:
            self.assertEqual(sum(line.endswith(row) for line in lines), 1, (row, r.stdout))
        checked = self.check(self.path("odd.exe"))
        self.assert_refused(checked, "control character 0x0a")
        self.assertIn(b"control character 0x1b", checked.stderr)

    def test_file_size_limit_leaves_no_temporary_file(self):
        src = self.tree("big", {"Setup.exe": (os.urandom(1 << 20), EPOCH, False)})
        full = os.path.getsize(self.installer(src, "full.exe"))
        cab = full - os.path.getsize(STUB)
        out = self.path("out")
        os.makedirs(out)
        # Three cabinets of about 350000 bytes: the later two are written before the installer.
        three = self.tree("three", {n: (os.urandom(350000), EPOCH, False) for n in "abc"})
        for what, limit, folder, args in [
                ("cabinet", cab // 2, src, ""), ("installer", cab + (full - cab) // 2, src, ""),
                ("installer after its set", 400000 + os.path.getsize(STUB) // 2, three,
                 "--part-size 400000")]:
            with self.subTest(what):
                command = "ulimit -f %d; exec %s %s -o %s --stub %s %s" % (
                    limit // 1024, SFXPACK, folder, os.path.join(out, "i.exe"), STUB, args)
                self.assert_refused(run(["bash", "-c", command]), "File too large")
                self.assert_only(out)

    def test_file_changed_while_packing(self):
        def grow(p):
            with open(p, "ab") as f:
                f.write(b"more")

        def fifo(p):
            os.remove(p)
            os.mkfifo(p)

        changes = [("grow", grow), ("shrink", lambda p: os.truncate(p, 10)), ("fifo", fifo)]
        for what, change in changes:
            with self.subTest(what):
                src = self.tree(what, {"Setup.exe": (os.urandom(48 << 20), EPOCH, False),
                                       "zz.txt": (b"z" * 1000, EPOCH, False)})
                out = self.path("out-" + what)
                os.makedirs(out)
                p = subprocess.Popen([SFXPACK, src, "-o", os.path.join(out, "i.exe"), "--stub",
                                      STUB], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                deadline = time.time() + 20
                while not os.listdir(out) and time.time() < deadline and p.poll() is None:
                    time.sleep(0.001)
                change(os.path.join(src, "zz.txt"))  # after the scan: its temporary file is there
                try:
                    _, err = p.communicate(timeout=60)
                finally:
                    p.kill()
                self.assertEqual(p.returncode, 1, err)
                # The fifo may be caught between the removal and its creation: then the
                # reason follows ("No such file or directory").
                self.assertRegex(err.decode().strip(), r"^sfxpack: %s: changed while packing"
                                 r"( \(No such file or directory\))?$"
                                 % re.escape(os.path.join(src, "zz.txt")))
                self.assert_only(out)


class Wine(Workdir):
    def extract_and_compare(self, installer, src):
        dest = self.path("dest")
        with open(self.path("wine.log"), "wb") as log:  # a file: Wine helpers may linger
            subprocess.run(["wine", installer, "Z:" + dest.replace("/", "\\")], stdout=log,
                           stderr=subprocess.STDOUT, env=dict(os.environ, TZ=TZ), timeout=120)
        self.assertIn(b"result\t1\t0\t", read(self.path("wine.log")))
        want = {os.path.relpath(os.path.join(d, n), src) for d, _, ns in os.walk(src) for n in ns}
        got = {os.path.relpath(os.path.join(d, n), dest) for d, _, ns in os.walk(dest) for n in ns}
        self.assertEqual(got, want)
        for rel in want:
            a, b = os.stat(os.path.join(src, rel)), os.stat(os.path.join(dest, rel))
            self.assertEqual(read(os.path.join(dest, rel)), read(os.path.join(src, rel)), rel)
            self.assertEqual(int(b.st_mtime), int(a.st_mtime) // 2 * 2, rel)  # local DOS time
            self.assertEqual(b.st_mode & 0o222 == 0, a.st_mode & 0o200 == 0, rel)

    def test_extracted_tree_matches_folder(self):
        src = self.sample()
        self.extract_and_compare(self.installer(src, env={"TZ": TZ}), src)

    def test_signed_installer_extracts(self):
        src = self.sample()
        signed = self.sign(self.installer(src, env={"TZ": TZ}), self.path("s.exe"))
        self.assertEqual(self.check(signed).returncode, 0)
        self.extract_and_compare(signed, src)


    def platform_view(self, exe):
        """What Windows reports of exe's version block, icons and resources (brandread)."""
        out = run(["wine", BRANDREAD, winpath(exe)] + [str(s) for s in COLOURS], timeout=120)
        view = {"strings": {}, "icons": {}, "resources": {}}
        for line in out.stdout.decode().replace("\r", "").splitlines():
            f = line.split("\t")
            if f[0] == "fixed":
                view["fixed"] = tuple(f[1:])
            elif f[0] == "string":
                view["strings"][f[2]] = f[3]
            elif f[0] in ("icon", "shell"):
                view["icons"][f[1]] = (f[2], int(f[3], 16)) if len(f) > 3 else None
            elif f[0] == "resource":
                view["resources"][tuple(map(int, f[1:4]))] = tuple(f[4:])
            elif f[0] in ("checksum", "relocations"):
                view[f[0]] = tuple(f[1:])
        return view

    def test_platform_reads_the_branding(self):
        require(REAL_STUB)
        inst = self.brand(self.sample(), "real.exe", REAL_STUB)
        view, before = self.platform_view(inst), self.platform_view(REAL_STUB)
        self.assertEqual(view["fixed"], (VERSION["FileVersion"], VERSION["ProductVersion"]))
        self.assertEqual(view["strings"], dict(VERSION, Comments=before["strings"]["Comments"]))
        want = {str(s): ("%dx%d" % (s, s), c) for s, c in COLOURS.items()}
        want.update(large=want["32"], small=want["16"])
        self.assertEqual(view["icons"], want)
        others = lambda v: {k: d for k, d in v["resources"].items()
                            if k[0] not in (3, 10, 14, 16)}
        self.assertEqual(others(view), others(before))
        self.assertEqual(view["resources"][(10, 1, 0)][0], "24")  # the payload record
        self.assertIn((5, 9, 0x40C), others(view))  # the dialog
        self.assertEqual(view["checksum"][0], view["checksum"][1])
        self.assertEqual(view["relocations"], before["relocations"])  # moved with its section
        self.assertNotEqual(view["relocations"][0], "0")
        for path in [inst, self.sign(inst, self.path("signed.exe"))]:
            r = self.check(path)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stderr.count(b"\n"), 1, r.stderr)  # no execution level
            self.assertIn(b"icon: 16x16 32-bit, 32x32 32-bit, 48x48 32-bit, 256x256 32-bit PNG",
                          r.stdout)
            self.assertIn('  ProductName: "MyApp \u00e9dition"'.encode(), r.stdout)
        listed = run([SFXPACK, "--list", inst]).stdout
        self.assertIn(b"version: file 2.1.0.5, product 3.0.0.0", listed)

    def test_branded_installer_extracts_signed_and_unsigned(self):
        src = self.sample()
        inst = self.brand(src, "b.exe", STUB, env={"TZ": TZ}, extra=[
            "--execution-level", "requireAdministrator", "--supported-os", "--dpi-aware",
            "--long-path-aware"])
        for path in [inst, self.sign(inst, self.path("s.exe"))]:
            with self.subTest(path):
                self.assertEqual(self.check(path).returncode, 0)
                shutil.rmtree(self.path("dest"), ignore_errors=True)
                self.extract_and_compare(path, src)

    def test_branded_program_starts_its_setup(self):
        require(REAL_STUB, DRIVE, DEMO_SETUP)
        src = self.tree("demo", {"readme.txt": (b"hello\r\n", EPOCH, False)})
        shutil.copy(DEMO_SETUP, os.path.join(src, "Setup.exe"))
        os.makedirs(self.path("work"))
        inst = self.brand(src, "work/MyApp-setup.exe", REAL_STUB)
        # The driver presses "Extraire" and answers the setup program's box.
        with open(self.path("drive.log"), "wb") as log:
            r = subprocess.run(["wine", DRIVE, winpath(inst), winpath(self.path("work")),
                                winpath(self.path("dialog.bmp"))], stdout=log,
                               stderr=subprocess.STDOUT, timeout=180)
        self.assertEqual(r.returncode, 0, read(self.path("drive.log")))
        extracted = self.path("work", "Extract")
        self.assertIn(b"installation finished", read(os.path.join(extracted, "install.log")))
        self.assertEqual(read(os.path.join(extracted, "readme.txt")), b"hello\r\n")


class Damaged(Workdir):
    """Installers that cannot be extracted whole, run through the real program: what the user
    reads, and what is left in the destination."""

    DAMAGED = "Programme d'installation incomplet ou endommagé : téléchargez-le à nouveau."

    def payload(self, names):
        """3.2 MB that does not compress, in 8 files: names in archive order."""
        rng = random.Random(20)
        return self.tree("pkg", {n: (rng.randbytes(400000), EPOCH, False) for n in names})

    def by_hand(self, src, names):
        """The stub and a cabinet made by gcab, concatenated: no payload record."""
        subprocess.run(["gcab", "-c", "-z", self.path("hand.cab")] + names, cwd=src, check=True)
        write(self.path("hand.exe"), read(REAL_STUB) + read(self.path("hand.cab")))
        return self.path("hand.exe")

    def press(self, installer, work):
        """Runs installer in work; its error texts and the destination it proposed."""
        shutil.copy(installer, os.path.join(work, "inst.exe"))
        r = subprocess.run(["wine", PRESS, winpath(os.path.join(work, "inst.exe")),
                            winpath(work)], capture_output=True, timeout=180)
        out = r.stdout.decode("utf-8", "replace").replace("\r", "")
        self.assertIn("exit\t0", out, r.stderr)
        return [l.split("\t", 1)[1] for l in out.splitlines() if l.startswith("error\t")]

    def small_volume(self, size):
        """A folder on a file system of size bytes, as drive R: of the prefix."""
        mount = tempfile.mkdtemp(prefix="sfxpack-small-")
        self.addCleanup(os.rmdir, mount)
        r = run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", mount])
        if r.returncode != 0:
            self.skipTest("no small file system here: mount: " + r.stderr.decode().strip())
        self.addCleanup(run, ["umount", mount])
        link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "r:")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(mount, link)
        self.addCleanup(os.remove, link)
        return mount

    def test_refused_before_the_first_write(self):
        require(REAL_STUB, PRESS)
        names = ["a.bin", "b.bin", "c.bin", "sub/d.bin", "sub/e.bin", "f.bin", "g.bin", "h.bin"]
        src = self.payload(names)
        r = self.pack(src, self.path("packed.exe"), REAL_STUB)
        self.assertEqual(r.returncode, 0, r.stderr)
        data = read(self.path("packed.exe"))
        cab_at = overlay(data)
        flipped = bytearray(data)
        flipped[cab_at + (len(data) - cab_at) // 2] ^= 0x55
        write(self.path("cut.exe"), data[:len(data) * 6 // 10])
        write(self.path("flipped.exe"), bytes(flipped))
        os.makedirs(self.path("pkg", "sub2"))
        write(self.path("pkg", "sub2", "NUL.txt"), b"device")
        device = self.by_hand(src, names[:4] + ["sub2/NUL.txt"] + names[4:])
        cases = [
            ("cut at 60%", self.path("cut.exe"), [self.DAMAGED]),
            ("one byte changed", self.path("flipped.exe"), [self.DAMAGED]),
            ("a device name", device,
             ["Nom de fichier impossible à écrire sous Windows : sub2\\NUL.txt"]),
        ]
        for what, installer, messages in cases:
            with self.subTest(what):
                work = self.path("work-" + what.replace(" ", "-").replace("%", ""))
                os.makedirs(work)
                self.assertEqual(self.press(installer, work), messages)
                self.assert_only(work, "inst.exe")  # not even the destination folder

    def test_no_room_is_said_before_the_first_write(self):
        require(REAL_STUB, PRESS)
        src = self.payload(["a.bin", "b.bin", "c.bin", "d.bin", "e.bin", "f.bin", "g.bin",
                            "h.bin"])
        r = self.pack(src, self.path("packed.exe"), REAL_STUB)
        self.assertEqual(r.returncode, 0, r.stderr)
        mount = self.small_volume(2 << 20)
        st = os.statvfs(mount)
        need = 8 * -(-400000 // st.f_bsize) * st.f_bsize  # whole clusters
        tenths = -(-(need - st.f_bavail * st.f_frsize) * 10 // (1 << 20))
        # Started from R:\, the installer proposes R:\\Extract.
        r = subprocess.run(["wine", PRESS, winpath(self.path("packed.exe")), "R:\\"],
                           capture_output=True, timeout=180)
        out = r.stdout.decode("utf-8", "replace").replace("\r", "")
        self.assertIn("error\tEspace disque insuffisant : libérez %d,%d Mo sur R:\\, puis "
                      "réessayez.\n" % (tenths // 10, tenths % 10), out)
        self.assertEqual(os.listdir(mount), [])

    def test_damaged_block_leaves_no_partial_file(self):
        require(REAL_STUB, PRESS)
        names = ["a.bin", "b.bin", "c.bin", "d.bin", "e.bin", "f.bin", "g.bin", "h.bin"]
        src = self.payload(names)
        installer = bytearray(read(self.by_hand(src, names)))
        # A byte in the middle of the cabinet's data: inside some file's blocks, whose
        # checksum the library checks.
        installer[len(installer) - len(read(self.path("hand.cab"))) // 2] ^= 0x55
        write(self.path("hand.exe"), bytes(installer))
        work = self.path("work")
        os.makedirs(work)
        self.assertIn(self.press(self.path("hand.exe"), work),
                      [["Corrupt cabinet"], ["Failure decompressing data"]])
        dest = os.path.join(work, "Extract")
        written = [n for n in names if os.path.exists(os.path.join(dest, n))]
        self.assertLess(len(written), len(names))
        for n in written:  # what stays is whole
            self.assertEqual(read(os.path.join(dest, n)), read(os.path.join(src, n)), n)


def file_digest(path):
    """Size and SHA-256 of the file at path, read a MiB at a time."""
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return os.path.getsize(path), h.hexdigest()


class LargePayload(Workdir):
    press = Damaged.press

    def assert_extracted(self, dest, src, names):
        """Each of names extracted into dest as it is in src; dest is then removed."""
        try:
            for name in names:
                self.assertEqual(file_digest(os.path.join(dest, *name.split("/"))),
                                 file_digest(os.path.join(src, name)), name)
        finally:
            shutil.rmtree(dest)

    @unittest.skipUnless(LONG, "long test: runs with ORVANTA_LONG=1")
    def test_past_2_gib_of_files_in_several_folders(self):
        require(REAL_STUB, PRESS)
        # Sparse files of zeros: nothing large is written before the extraction. No two of them
        # fit one folder, and the last does not end on a block.
        sizes = {"a.bin": 1100 << 20, "b.bin": 1100 << 20, "sub/c.bin": (1100 << 20) + 12345}
        src = self.tree("pkg", {n: (b"", EPOCH, False) for n in sizes})
        for name, size in sizes.items():
            os.truncate(os.path.join(src, name), size)
        r = self.pack(src, self.path("big.exe"), REAL_STUB, args=LEVEL)
        self.assertEqual(r.returncode, 0, r.stderr)
        checked = self.check(self.path("big.exe"))
        self.assertEqual(checked.returncode, 0, checked.stderr)
        data = read(self.path("big.exe"))
        self.assertEqual(struct.unpack_from("<H", data, overlay(data) + 0x1a)[0], 3)
        work = self.path("work")
        os.makedirs(work)
        self.assertEqual(self.press(self.path("big.exe"), work), [])
        self.assert_extracted(os.path.join(work, "Extract"), src, sizes)

    @unittest.skipUnless(LONG, "long test: runs with ORVANTA_LONG=1")
    def test_past_2_gib_compressed_in_a_set(self):
        require(REAL_STUB, PRESS)
        # Random bytes do not compress: a.bin, the largest file that fits one cabinet whatever
        # its data, fills the first, which with the program passes 2 GiB; b.bin goes on in
        # inst-2.cab beside it.
        sizes = {"a.bin": FOLDER_LIMIT, "sub/b.bin": (200 << 20) + 12345}
        src = self.tree("pkg", {n: (b"", EPOCH, False) for n in sizes})
        for name, size in sizes.items():
            with open(os.path.join(src, name), "wb") as f:
                for _ in range(size >> 20):
                    f.write(os.urandom(1 << 20))
                f.write(os.urandom(size & ((1 << 20) - 1)))
        os.makedirs(self.path("ship"))
        inst = self.path("ship", "inst.exe")
        r = self.pack(src, inst, REAL_STUB, args=LEVEL)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(self.path("ship"))), ["inst-2.cab", "inst.exe"])
        with open(inst, "rb") as f:
            head = f.read(1 << 16)
        self.assertLessEqual(os.path.getsize(inst) - overlay(head), (1 << 31) - 1)
        self.assertGreater(os.path.getsize(inst), 1 << 31)
        checked = self.check(inst)
        self.assertEqual(checked.returncode, 0, checked.stderr)
        self.assertIn(b", 1 later cabinets, ", checked.stdout)
        # Started from a folder of its own, the program finds inst-2.cab beside itself.
        work = self.path("work")
        os.makedirs(work)
        r = subprocess.run(["wine", PRESS, winpath(inst), winpath(work)], capture_output=True,
                           timeout=1800)
        out = r.stdout.decode("utf-8", "replace").replace("\r", "")
        self.assertIn("exit\t0", out, r.stderr)
        self.assertNotIn("error\t", out)
        self.assert_extracted(os.path.join(work, "Extract"), src, sizes)


# What the manifest options add, as found by ElementTree: (level, uiAccess), the supported
# systems (Vista, 7, 8, 8.1, 10/11), dpiAware, dpiAwareness and longPathAware.
OS_IDS = ["{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]
NS = {"v3": "urn:schemas-microsoft-com:asm.v3", "c": "urn:schemas-microsoft-com:compatibility.v1",
      "w5": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "w6": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}


def manifest_choices(xml):
    root = ElementTree.fromstring(xml)
    level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/"
                      "v3:requestedExecutionLevel", NS)
    settings = "v3:application/v3:windowsSettings/"
    found = {"level": level is not None and (level.get("level"), level.get("uiAccess")),
             "os": [e.get("Id") for e in root.findall("c:compatibility/c:application/"
                                                      "c:supportedOS", NS)]}
    for key, tag in [("dpiAware", "w5:dpiAware"), ("dpiAwareness", "w6:dpiAwareness"),
                     ("longPathAware", "w6:longPathAware")]:
        found[key] = root.findtext(settings + tag, None, NS)
    return {k: v for k, v in found.items() if v}


class Manifest(Workdir):
    def test_options_read_back(self):
        src = self.sample()
        before = resources(STUB)[(24, 1, 1033)]
        head = before[:before.rindex(b"</assembly>")]
        dpi = {"dpiAware": "true", "dpiAwareness": "PerMonitorV2, System"}
        cases = [
            ([], {}, ["execution level: not declared", "supported OS: not declared",
                      "DPI awareness: not declared", "long-path aware: not declared"]),
            (["--execution-level", "asInvoker"], {"level": ("asInvoker", "false")},
             ["execution level: asInvoker"]),
            (["--execution-level", "requireAdministrator", "--supported-os"],
             {"level": ("requireAdministrator", "false"), "os": OS_IDS},
             ["execution level: requireAdministrator", "supported OS: Vista, 7, 8, 8.1, 10/11"]),
            (["--dpi-aware"], dpi, ["DPI awareness: dpiAware true; dpiAwareness PerMonitorV2, "
                                    "System"]),
            (["--long-path-aware", "--execution-level", "highestAvailable", "--dpi-aware"],
             dict(dpi, longPathAware="true", level=("highestAvailable", "false")),
             ["long-path aware: true", "execution level: highestAvailable"]),
        ]
        for args, want, lines in cases:
            with self.subTest(args):
                inst = self.installer(src, args=args)
                after = resources(inst)[(24, 1, 1033)]
                if not args:
                    self.assertEqual(after, before)
                self.assertTrue(after.startswith(head) and after.endswith(b"</assembly>\n"))
                self.assertEqual(manifest_choices(after), want)
                listed, checked = run([SFXPACK, "--list", inst]), self.check(inst)
                self.assertEqual(checked.returncode, 0, checked.stderr)
                for line in lines:
                    self.assertIn(b"\nmanifest: " + line.encode() + b"\n", checked.stdout)
                    self.assertIn(b"\nmanifest: " + line.encode() + b"\n", listed.stdout)
                self.assertEqual(b"warning: no execution level" in checked.stderr,
                                 "level" not in want)
        # A stub whose manifest already declares what an option adds is refused.
        data = read(inst)
        write(self.path("declared.exe"), data[:overlay(data)])
        r = self.pack(src, self.path("again.exe"), self.path("declared.exe"), args=LEVEL)
        self.assert_refused(r, "cannot change the stub's manifest: it already declares")


class ProgressBar(Workdir):
    def test_marked_installer_bar_moves_forward_and_ends_full(self):
        require(REAL_STUB, PRESS)
        rng = random.Random(22)
        # A Setup.exe that does not start: its notice holds the dialog, bar and all, on screen.
        src = self.tree("pkg", {"big.bin": (rng.randbytes(96 << 20), EPOCH, False),
                                "small.txt": (b"small\r\n", EPOCH, False),
                                "Setup.exe": (b"not a program", EPOCH, False)})
        for marked in (True, False):
            with self.subTest(marked=marked):
                name = "marked.exe" if marked else "plain.exe"
                r = self.pack(src, self.path(name), REAL_STUB,
                              args=["--progress-bar"] if marked else [])
                self.assertEqual(r.returncode, 0, r.stderr)
                work = self.path("work-" + name)
                os.makedirs(work)
                shutil.copy(self.path(name), os.path.join(work, "inst.exe"))
                p = subprocess.run(["wine", PRESS, winpath(os.path.join(work, "inst.exe")),
                                    winpath(work), "--watch-bar"], capture_output=True,
                                   timeout=180)
                out = p.stdout.decode("utf-8", "replace").replace("\r", "")
                self.assertIn("exit\t0", out, p.stderr)
                bars = [l.split("\t")[1:] for l in out.splitlines() if l.startswith("bar\t")]
                if not marked:
                    self.assertEqual(bars, [["none"]])
                    continue
                positions = [int(b[0]) for b in bars]
                self.assertEqual(positions, sorted(positions), out)
                self.assertLess(positions[0], 10000, out)  # it showed the way, not only the end
                self.assertEqual(bars[-1], ["10000", "10000"], out)


def record_texts(texts):
    """The author's texts as the record ends with them: tag, length and UTF-8 each, then 0, 0."""
    return b"".join(struct.pack("<HH", tag, len(text)) + text
                    for tag, text in sorted(texts.items())) + bytes(4)


class RecordTexts(Workdir):
    def test_quiet_run_honours_the_authors_choices(self):
        """The real program started with /quiet: the author's destination (its variables
        expanded) and setup arguments, the person's -- arguments replacing the latter, and the
        setup program's code as the run's."""
        fake = os.path.join(CROSS, "tests", "fake_setup.exe")
        require(REAL_STUB, fake)
        src = self.path("pkg")
        os.makedirs(src)
        shutil.copy(fake, os.path.join(src, "Setup.exe"))
        write(os.path.join(src, "readme.txt"), b"hello\r\n")
        r = self.pack(src, self.path("inst.exe"), REAL_STUB,
                      args=["--destination", "%SystemDrive%\\orvanta-authored",
                            "--setup-args", "/exit=5 /from-record"])
        self.assertEqual(r.returncode, 0, r.stderr)
        out = os.path.join(os.environ["WINEPREFIX"], "drive_c", "orvanta-authored")
        for extra, code, said in [([], 5, b"/exit=5 /from-record"),
                                  (["--", "/exit=6", "/from person"], 6, b'/exit=6 "/from person"')]:
            with self.subTest(extra=extra):
                shutil.rmtree(out, ignore_errors=True)
                done = subprocess.run(["wine", self.path("inst.exe"), "/quiet"] + extra,
                                      capture_output=True, timeout=120)
                self.assertEqual(done.returncode, code, done.stderr)
                self.assertEqual(read(os.path.join(out, "readme.txt")), b"hello\r\n")
                self.assertTrue(read(os.path.join(out, "args.txt")).endswith(said))
        shutil.rmtree(out, ignore_errors=True)

    def test_read_back_shown_and_reproducible(self):
        require(REAL_STUB)
        dest, args = "%LOCALAPPDATA%\\Caf\u00e9 Demo", '/S /v"/qn"'
        longest = "\u00e9" * 32767 + "x"  # 65535 bytes
        src = self.sample()
        cases = [  # folder, stub, options, flags, texts; a branded set with later cabinets last
            (src, STUB, ["--destination", dest], 0, {1: dest}),
            (src, STUB, ["--setup-args", longest, "--progress-bar"], 1, {2: longest}),
            (CabinetSet.random_tree(self), REAL_STUB,
             ["--setup-args", args, "--destination", dest, "--part-size", str(CabinetSet.PART),
              "--version-info", "ProductName=Demo"] + LEVEL, 0, {1: dest, 2: args}),
        ]
        for k, (folder_src, stub, extra, flags, texts) in enumerate(cases):
            with self.subTest(extra[0]):
                folder = self.path("o%d" % k)
                os.makedirs(folder)
                inst = os.path.join(folder, "inst.exe")
                r = self.pack(folder_src, inst, stub, {"TZ": TZ}, extra)
                self.assertEqual(r.returncode, 0, r.stderr)
                data = read(inst)
                cabs = [data[overlay(data):]] + [read(os.path.join(folder, n))
                                                 for n in CabinetSet.parts(self, folder)]
                table = struct.pack("<I", len(cabs) - 1) + b"".join(
                    struct.pack("<QII", len(c), crc32c(c), 0) for c in cabs[1:])
                encoded = {tag: text.encode() for tag, text in texts.items()}
                self.assertEqual(resources(inst)[(10, 1, 0)], payload_record(cabs[0], flags | 2)
                                 + table + record_texts(encoded))
                later = b"later cabinets in the record: %d\n" % (len(cabs) - 1) if k == 2 else b""
                shown = b"".join(b"%s: %s\n" % (label, encoded[tag]) for tag, label in
                                 [(1, b"destination"), (2, b"setup arguments")] if tag in texts)
                checked = self.check(inst)
                self.assertEqual(checked.returncode, 0, checked.stderr)
                for out in (run([SFXPACK, "--list", inst]).stdout, checked.stdout):
                    self.assertIn(b"\nprogress bar: %s\n" % [b"no", b"yes"][flags] + later + shown,
                                  out)
        Wine.extract_and_compare(self, self.path("o0", "inst.exe"), src)
        # The options in another order, with SOURCE_DATE_EPOCH: the same bytes.
        env = {"SOURCE_DATE_EPOCH": str(EPOCH)}
        for name, extra in [("a.exe", ["--setup-args", args, "--destination", dest]),
                            ("b.exe", ["--destination", dest, "--setup-args", args])]:
            self.installer(src, name, env, extra)
        self.assertEqual(read(self.path("a.exe")), read(self.path("b.exe")))

    def test_refusals_write_nothing(self):
        cases = [
            (["--destination", ""], "--destination is empty"),
            (["--setup-args", ""], "--setup-args is empty"),
            (["--destination", b"C:\\caf\xe9"], '--destination "C:\\caf\\xe9" is not valid UTF-8'),
            (["--setup-args", "/S\n\x1b[2J"], '--setup-args "/S\\x0a\\x1b[2J" holds a control '
             "character"),
            (["--setup-args", "x" * 65536], "--setup-args is 65536 bytes long, over the 65535 a "
             "text of the payload record may have"),
            (["--destination", "C:\\a", "--destination", "C:\\b"], "--destination is given twice"),
        ]
        out, src = self.path("out"), self.sample()
        os.makedirs(out)
        write(os.path.join(out, "kept.exe"), b"previous")
        for extra, expected in cases:
            for target in ["new.exe", "kept.exe"]:
                with self.subTest(expected, target=target):
                    r = self.pack(src, os.path.join(out, target), args=extra)
                    self.assertEqual((r.returncode, r.stdout, r.stderr.decode()),
                                     (2, b"", "sfxpack: " + expected + "\n"))
                    self.assert_only(out, "kept.exe")
                    self.assertEqual(read(os.path.join(out, "kept.exe")), b"previous")


class Branding(Workdir):
    def test_refusals_write_nothing(self):
        good = ico([(16, dib(16, 0xFF0000))])
        full = brand_icon()
        cases = [
            ("not an icon", png(16, 0), [], STUB, "not an icon (.ico) file"),
            ("truncated", full[:len(full) // 2], [], STUB, "lies outside the icon file"),
            ("no image", struct.pack("<HHH", 0, 1, 0), [], STUB, "holds no image"),
            ("over 1 MiB", good + bytes(1 << 20), [], STUB, "over the 1 MiB"),
            ("version number", None, ["FileVersion=1.2.3"], STUB, "not a version number"),
            ("version part", None, ["ProductVersion=1.2.3.65536"], STUB, "not a version number"),
            ("unknown key", None, ["Comments=x"], STUB, "unknown --version-info key"),
            ("too long", None, ["ProductName=" + "x" * 40000], STUB, "over the 65535"),
            ("no resources", good, [], BARE_STUB, "no resources to replace"),
            ("path escaped", ("bad\n.ico", png(16, 0)), [], STUB, "bad\\x0a.ico: not an icon"),
        ]
        out = self.path("out")
        os.makedirs(out)
        write(os.path.join(out, "kept.exe"), b"previous")
        sample = self.sample()
        for what, icon, settings, stub, expected in cases:
            args = []
            if icon is not None:
                name, data = icon if isinstance(icon, tuple) else ("bad.ico", icon)
                write(self.path(name), data)
                args = ["--icon", self.path(name)]
            for setting in settings:
                args += ["--version-info", setting]
            for target in ["new.exe", "kept.exe"]:
                with self.subTest(what, target=target):
                    path = os.path.join(out, target)
                    r = run([SFXPACK, sample, "-o", path, "--stub", stub] + args)
                    self.assert_refused(r, expected)
                    self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                    self.assert_only(out, "kept.exe")
                    self.assertEqual(read(os.path.join(out, "kept.exe")), b"previous")

    def test_opt_in_and_reproducible(self):
        plain = read(self.installer(self.sample("p"), "plain.exe"))
        r = self.pack(self.sample("q"), self.path("q.exe"), STUB)
        self.assertEqual(r.returncode, 0, r.stderr)
        q = read(self.path("q.exe"))
        self.assertEqual(q[overlay(q):], plain[overlay(plain):])
        # Only the payload record added to the stub's resources.
        got = resources(self.path("q.exe"))
        del got[(10, 1, 0)]
        self.assertEqual(got, resources(STUB))
        env = {"SOURCE_DATE_EPOCH": str(EPOCH)}
        a = read(self.brand(self.sample("a"), "a.exe", STUB, dict(env, TZ="UTC")))
        b = read(self.brand(self.sample("b"), "b.exe", STUB, dict(env, TZ=TZ)))
        self.assertEqual(a, b)
        version = run([SFXPACK, "--version"])
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, rb"^sfxpack \d+\.\d+\.\d+\n$")
        self.assert_refused(run([SFXPACK, "--version", "x"]), "unknown option --version", rc=2)


if __name__ == "__main__":
    unittest.main()
