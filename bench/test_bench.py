#!/usr/bin/env python3
"""Checks of the benchmark's own machinery (no Wine needed): payloads, cabinet cutting, tree
comparison, the report's arithmetic, the trace and strace parsers and timed_run (as built by
scripts/build, or BENCH_TIMED_RUN). A step of scripts/test, and run first by scripts/bench."""
import hashlib
import os
import shutil
import struct
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import count_calls  # noqa: E402
import make_payloads  # noqa: E402
import run_bench  # noqa: E402
import run_large  # noqa: E402
import server_calls  # noqa: E402
import wine_trace  # noqa: E402


def tree_digest(root):
    h = hashlib.sha256()
    for dirpath, dirs, names in os.walk(root):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(dirpath, name)
            h.update(os.path.relpath(path, root).encode())
            h.update(b"%d" % os.stat(path).st_mtime)
            with open(path, "rb") as f:
                h.update(f.read())
    return h.hexdigest()


class TempCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bench-test-")
        self.addCleanup(shutil.rmtree, self.tmp)

    def write(self, rel, data):
        path = os.path.join(self.tmp, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path


class PayloadTest(TempCase):
    def test_same_bytes_and_times_on_every_run_with_the_promised_shape(self):
        make_payloads.main_into(os.path.join(self.tmp, "a"))
        make_payloads.main_into(os.path.join(self.tmp, "b"))
        for name in ("large", "small"):
            self.assertEqual(tree_digest(os.path.join(self.tmp, "a", name)),
                             tree_digest(os.path.join(self.tmp, "b", name)), name)

        small = run_bench.files_under(os.path.join(self.tmp, "a", "small"))
        self.assertEqual(len(small), 5000)
        self.assertEqual({rel.count(os.sep) for rel in small}, {2})  # mod/part/file
        sizes = [os.path.getsize(p) for p in small.values()]
        self.assertGreaterEqual(min(sizes), 64)
        self.assertLessEqual(max(sizes), 16 * 1024)

        large = run_bench.files_under(os.path.join(self.tmp, "a", "large"))
        total = sum(os.path.getsize(p) for p in large.values())
        self.assertTrue(5 <= len(large) <= 8, len(large))
        self.assertTrue(95e6 <= total <= 110e6, total)


def cab_header(flags=0, reserve=None, prev=None, nxt=None):
    """A cabinet's fixed header with the optional reserve and set names after it."""
    head = bytearray(36)
    head[:4] = b"MSCF"
    struct.pack_into("<H", head, 0x1E, flags)
    if reserve is not None:
        head += struct.pack("<HBB", len(reserve), 0, 0) + reserve
    for name in (prev, nxt):
        if name is not None:
            head += name + b"\0" + b"disk\0"
    return bytes(head)


class LargeTest(TempCase):
    def test_next_cabinet_named_after_whatever_precedes_it(self):
        R, P, N = run_large.RESERVE_PRESENT, run_large.PREV_CABINET, run_large.NEXT_CABINET
        cases = [
            ("alone", cab_header(), None),
            ("next only", cab_header(N, nxt=b"huge-2.cab"), "huge-2.cab"),
            ("previous and next", cab_header(P | N, prev=b"huge.cab", nxt=b"huge-3.cab"),
             "huge-3.cab"),
            ("reserve, previous, next", cab_header(R | P | N, reserve=b"\0" * 20,
                                                   prev=b"a.cab", nxt=b"c.cab"), "c.cab"),
            ("previous only", cab_header(P, prev=b"a.cab"), None),
        ]
        for what, header, want in cases:
            with self.subTest(what):
                self.assertEqual(run_large.next_cabinet(header), want)
        for what, header in [("not a cabinet", b"MSCX" + bytes(40)),
                             ("names cut off", cab_header(N, nxt=b"huge-2.cab")[:40]),
                             ("a path", cab_header(N, nxt=b"..\\x.cab"))]:
            with self.subTest(what), self.assertRaises(ValueError):
                run_large.next_cabinet(header)

    def test_chain_followed_in_the_folder_and_a_loop_refused(self):
        N = run_large.NEXT_CABINET
        first = self.write("first.cab", cab_header(N, nxt=b"b.cab"))
        self.write("b.cab", cab_header(N, nxt=b"c.cab"))
        self.write("c.cab", cab_header())
        self.assertEqual(run_large.cabinet_chain(first, self.tmp),
                         [first, os.path.join(self.tmp, "b.cab"), os.path.join(self.tmp, "c.cab")])
        self.write("c.cab", cab_header(N, nxt=b"b.cab"))
        with self.assertRaises(ValueError):
            run_large.cabinet_chain(first, self.tmp)

    def test_huge_layout_holds_the_share_of_random_bytes(self):
        total = 3 * make_payloads.GiB
        for share in (0.0, 0.25, 0.72, 1.0):
            with self.subTest(share=share):
                layout = make_payloads.huge_layout(total, share)
                by_kind = {}
                for _, size, kind in layout:
                    by_kind[kind] = by_kind.get(kind, 0) + size
                    self.assertLessEqual(size, make_payloads.HUGE_FILE_MAX)
                self.assertEqual(sum(by_kind.values()), total)
                self.assertEqual(by_kind.get("random", 0), int(total * share))
                self.assertLessEqual(abs(by_kind.get("text", 0) - by_kind.get("zeros", 0)), 1)
                self.assertEqual(len({name for name, _, _ in layout}), len(layout))
        with self.assertRaises(ValueError):
            make_payloads.huge_layout(total, 1.5)

    def test_huge_payload_same_bytes_on_every_run(self):
        for run in ("a", "b"):
            make_payloads.make_huge(os.path.join(self.tmp, run), 0.5, total=3 << 20)
        self.assertEqual(tree_digest(os.path.join(self.tmp, "a")),
                         tree_digest(os.path.join(self.tmp, "b")))
        sizes = {rel: os.path.getsize(p)
                 for rel, p in run_bench.files_under(os.path.join(self.tmp, "a")).items()}
        self.assertEqual(sum(sizes.values()), 3 << 20)


def pe(sections, trailing=b""):
    """A PE header with the given (raw pointer, raw size) sections, then trailing bytes."""
    head = bytearray(0x200)
    head[0:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x40)
    head[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HH", head, 0x44, 0x14C, len(sections))
    struct.pack_into("<H", head, 0x40 + 20, 224)
    table = 0x40 + 24 + 224
    for i, (ptr, size) in enumerate(sections):
        struct.pack_into("<II", head, table + 40 * i + 16, size, ptr)
    end = max(p + s for p, s in sections)
    return bytes(head) + bytes(end - len(head)) + trailing


class PackTest(TempCase):
    """pack() cuts the overlay with a stand-in for sfxpack that appends a given cabinet."""

    def setUp(self):
        super().setUp()
        self.stub = self.write("stub.exe", pe([(0x200, 0x200)]))
        self.fake = self.write("fake_sfxpack", b"")
        os.chmod(self.fake, 0o755)

    def use_overlay(self, overlay):
        cab = self.write("overlay.bin", overlay)
        with open(self.fake, "w") as f:
            f.write("#!/bin/sh\n# fake_sfxpack DIR -o OUT --stub STUB\ncat \"$5\" %s > \"$3\"\n"
                    % cab)

    def cabinet(self, size, declared=None):
        header = b"MSCF" + bytes(4) + struct.pack("<I", size if declared is None else declared)
        return header + bytes(size - len(header))

    def test_overlay_becomes_the_bare_cabinet(self):
        cab = self.cabinet(300)
        self.use_overlay(cab)
        exe, out = os.path.join(self.tmp, "x.exe"), os.path.join(self.tmp, "x.cab")
        self.assertEqual(run_bench.pack(self.fake, self.stub, self.tmp, exe, out), 300)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), cab)

    def test_refuses_what_is_not_one_whole_cabinet(self):
        cases = [("size field disagrees", self.cabinet(300, declared=301)),
                 ("no MSCF", b"NOPE" + bytes(296))]
        for what, overlay in cases:
            with self.subTest(what):
                self.use_overlay(overlay)
                with self.assertRaises(SystemExit):
                    run_bench.pack(self.fake, self.stub, self.tmp,
                                   os.path.join(self.tmp, "x.exe"), os.path.join(self.tmp, "x.cab"))


class StubFactsTest(TempCase):
    def test_reports_bytes_after_the_furthest_section(self):
        # The furthest section is not the last one in the table.
        for trailing in (b"", b"MSCF-and-more"):
            with self.subTest(trailing=trailing):
                path = self.write("s.exe", pe([(0x200, 0x400), (0x600, 0x200),
                                                    (0x400, 0x100)], trailing))
                facts = run_bench.stub_facts(path, "true")
                self.assertEqual(facts["sections_end"], 0x800)
                self.assertEqual(facts["trailing"], len(trailing))
                self.assertEqual(facts["size"], 0x800 + len(trailing))


class CheckTreeTest(TempCase):
    def test_only_an_identical_tree_passes(self):
        for rel, data in (("a/one.txt", b"1"), ("a/b/two.bin", b"22"), ("three", b"")):
            self.write(os.path.join("want", rel), data)
        want = os.path.join(self.tmp, "want")
        cases = {
            "identical": lambda d: None,
            "missing": lambda d: os.remove(os.path.join(d, "three")),
            "extra": lambda d: open(os.path.join(d, "a", "four"), "wb").close(),
            "same size, other bytes": lambda d: self.write(os.path.join(d, "a", "b", "two.bin"),
                                                           b"23"),
        }
        for what, damage in cases.items():
            with self.subTest(what):
                got = os.path.join(self.tmp, "got")
                shutil.rmtree(got, ignore_errors=True)
                shutil.copytree(want, got)
                damage(got)
                if what == "identical":
                    run_bench.check_tree(got, want)
                else:
                    with self.assertRaises(SystemExit):
                        run_bench.check_tree(got, want)

    def test_a_tree_of_many_files_outlives_the_rounds_a_small_one_does_not(self):
        bench = run_bench.Bench.__new__(run_bench.Bench)
        bench.kept = []
        for count, kept in ((run_bench.KEEP_TREES_OVER, False), (run_bench.KEEP_TREES_OVER + 1, True)):
            tree = os.path.join(self.tmp, "run-%d" % count)
            for i in range(count):
                self.write(os.path.join(tree, "d%d" % (i % 3), "f%d" % i), b"x")
            bench.discard(tree)
            self.assertEqual(os.path.isdir(tree), kept, count)
        self.assertEqual(bench.kept, [tree])


class ReportTest(TempCase):
    def test_medians_ratios_and_files(self):
        bench = run_bench.Bench.__new__(run_bench.Bench)
        bench.arch = "x64"
        bench.samples = {
            ("large", "installer"): [300, 100, 200],
            ("large", "extrac32"): [400, 500, 900, 100],
            ("large", "cabextract"): [50, 50, 50],
            ("small", "installer"): [3000, 3100, 2900],
            ("small", "extrac32"): [2000, 1000, 1500],
            ("small", "cabextract"): [10, 20, 30],
            ("tiny", "extrac32"): [250, 250, 250],
            ("large", run_bench.LIBRARY): [160, 150, 170],
            ("small", run_bench.LIBRARY): [1000, 1200, 1300],
            ("wine start-up", "no-op program"): [20, 30, 25],
        }
        bench.memory = {("small", "installer"): [{"peak_ws": 2 << 20, "peak_pagefile": 1 << 20},
                                                 {"peak_ws": 3 << 20, "peak_pagefile": 1 << 20}]}
        facts = {"size": 2048, "sections_end": 2048, "trailing": 0, "imports": ["KERNEL32.dll"]}
        table, adjusted = run_bench.report(bench, facts, {"large": 1, "small": 2},
                                           {"large": 6, "small": 5000}, self.tmp)
        rows = {tuple(c.strip() for c in line.strip("|").split("|")[1:3]): line
                for line in table.splitlines()[2:]}
        large = [c.strip() for c in rows[("large", "installer")].strip("|").split("|")]
        # 200 / median(100, 400, 500, 900) = 450
        self.assertEqual(large[0], "x64")
        # Work ratio: 200 / (450 - 250); library ratio: 200 / 160.
        self.assertEqual(large[3:9], ["3", "200", "100–300", "0.44", "1.00", "1.25"])
        small = [c.strip() for c in rows[("small", "installer")].strip("|").split("|")]
        self.assertEqual(small[3:9], ["3", "3000", "2900–3100", "2.00", "2.40", "2.50"])
        self.assertIn("working set 3.0 MiB", small[9])
        library = [c.strip() for c in rows[("small", run_bench.LIBRARY)].strip("|").split("|")]
        self.assertEqual(library[4:9], ["1200", "1000–1300", "", "", ""])
        # Less extrac32's own start-up: 3000 / (1500 - 250).
        self.assertIn("= 2.40", adjusted[2])
        self.assertIn("1200 ms = 2.50", adjusted[3])
        with open(os.path.join(self.tmp, "results.dat")) as f:
            data = [line.split() for line in f if not line.startswith("#")]
        self.assertEqual(data[0], ["0", '"installer"', "200.0", "3000.0"])
        self.assertEqual(data[1], ["1", '"extrac32"', "450.0", "1500.0"])
        self.assertEqual(data[3], ["3", '"extrac32', 'work"', "200.0", "1250.0"])
        self.assertEqual(data[4], ["4", '"extrac32', 'library"', "160.0", "1200.0"])
        with open(os.path.join(self.tmp, "results.md")) as f:
            md = f.read()
        self.assertIn("2048 bytes (2.0 KiB)", md)
        self.assertIn("nothing follows it", md)


TRACE = """\
0010: init_first_thread( unix_pid=1, unix_tid=1 )
0010: init_first_thread() = 0 { pid=000c, tid=0010, server_start=1 }
0010: new_thread( process=ffffffff, access=001fffff )
0010: new_thread() = 0 { tid=0014, handle=0040 }
0020: init_first_thread() = 0 { pid=001c, tid=0020 }
0014: create_file( access=40100080, create=5, objattr={}, filename="/p/dosdevices/z:/d/x/a.txt" )
0014: create_file() = 0 { handle=0058 }
0014: *fd* 0058 -> 23
0014: create_file( access=c0100080, create=1, objattr={}, filename="/p/dosdevices/z:/d/x/a.txt" )
0014: close_handle( handle=0058 )
0014: close_handle() = 0
0010: send_message( id=0014 )
0020: create_file( access=40100080, create=5, objattr={}, filename="/p/dosdevices/z:/d/y/b.txt" )
0020: create_file( access=40100080, create=5, objattr={}, filename="/p/dosdevices/z:/d/x2/b.txt" )
"""


class ServerCallsTest(TempCase):
    def test_counts_requests_of_the_extracting_process_only(self):
        trace = self.write("trace.log", TRACE.encode())
        pid, threads, table, opens = server_calls.per_file(trace, "/d/x", 2)
        self.assertEqual(pid, "000c")
        self.assertEqual(threads, ["0010", "0014"])
        self.assertEqual(table["create_file"], {"0014": 1.0})  # replies and *fd* not counted
        self.assertEqual(table["close_handle"], {"0014": 0.5})
        self.assertEqual(table["send_message"], {"0010": 0.5})
        # A thread's requests before the reply that names its process count too.
        self.assertEqual(table["init_first_thread"], {"0010": 0.5})
        self.assertEqual(opens, {"destination, disposition 5": {"0014": 0.5},
                                 "destination, disposition 1": {"0014": 0.5}})

    def test_a_trace_without_the_folder_is_refused(self):
        trace = self.write("trace.log", TRACE.encode())
        with self.assertRaises(SystemExit):
            server_calls.per_file(trace, "/nowhere", 1)


STRACE = """\
% time     seconds  usecs/call     calls    errors syscall
------ ----------- ----------- --------- --------- ----------------
 60.00    0.000174          87         2           execve
 40.00    0.000120          15         8           read
------ ----------- ----------- --------- --------- ----------------
100.00    0.000294          29        10           total
System call usage summary for 32 bit mode:
% time     seconds  usecs/call     calls    errors syscall
------ ----------- ----------- --------- --------- --------------------
 90.00   10.686788          87    122823           read
 10.00    1.281297          11    115410     21059 statx
------ ----------- ----------- --------- --------- --------------------
100.00   11.968085          50    238233     21059 total
"""


class StraceTest(TempCase):
    def test_both_personalities_added_and_start_up_subtracted(self):
        counts = count_calls.strace_summary(self.write("s.txt", STRACE.encode()))
        self.assertEqual(counts, {"execve": 2, "read": 122831, "statx": 115410})
        per_file = count_calls.difference(counts, {"execve": 2, "read": 31, "close": 4}, 101)
        self.assertEqual(per_file, {"execve": 0.0, "read": 1228.0, "statx": 1154.1,
                                    "close": -0.04})


class TimedRunTest(TempCase):
    # Built by scripts/build from bench/CMakeLists.txt (native); BENCH_TIMED_RUN names another.
    EXE = os.environ.get("BENCH_TIMED_RUN") or os.path.join(HERE, "..", "build", "bench-host",
                                                            "timed_run")

    @classmethod
    def setUpClass(cls):
        cls.exe = os.path.abspath(cls.EXE)
        if not os.access(cls.exe, os.X_OK):
            raise AssertionError("%s is missing: scripts/build builds it" % cls.exe)

    def run_timed(self, *cmd):
        run_bench.TIMED_RUN = self.exe
        return run_bench.timed(list(cmd))

    def test_exit_status_output_and_wall_time_pass_through(self):
        code, ms, _, out, _ = self.run_timed("sh", "-c", "echo hi; sleep 0.2; exit 3")
        self.assertEqual((code, out), (3, "hi\n"))
        self.assertGreaterEqual(ms, 200.0)
        code, _, _, _, _ = self.run_timed("sh", "-c", "kill -TERM $$")
        self.assertEqual(code, 128 + 15)

    def test_peak_memory_is_the_command_s_own(self):
        # The harness is made large first: its size must not leak into a small child's figure.
        ballast = bytearray(200 << 20)
        ballast[::4096] = b"x" * len(ballast[::4096])
        _, _, small, _, _ = self.run_timed("true")
        _, _, big, _, _ = self.run_timed(sys.executable, "-c",
                                         "b = bytearray(300 << 20); b[::4096] = b'x' * len(b[::4096])")
        del ballast
        self.assertLess(small, 50 << 20)
        self.assertGreater(big, 300 << 20)


class TimelineTest(unittest.TestCase):
    TRACE = "\n".join([
        '100.000:0020:warn:debugstr:OutputDebugStringA "bench: click"',
        '100.010:0030:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\Cabinet.dll" at 0',
        'not a trace line',
        '100.400:0030:trace:loaddll:free_modref Unloaded module L"C:\\windows\\system32\\cabinet.dll" : builtin',
        '100.405:0020:warn:debugstr:OutputDebugStringA "bench: exit"'])

    def test_phases_from_the_marks_and_the_library(self):
        lines = wine_trace.parse_trace(self.TRACE)
        got, window = wine_trace.phases(lines, "bench: click")
        want = {"to library": 10, "library in use": 390, "after": 5, "total": 405}
        for key, ms in want.items():
            self.assertAlmostEqual(got[key], ms, places=3, msg=key)
        self.assertEqual(window, (100010.0, 100400.0))
        # A program that never unloads the library: in use until its exit.
        kept = [line for line in lines if "Unloaded" not in line[2]]
        self.assertAlmostEqual(wine_trace.phases(kept, "bench: click")[0]["library in use"], 395)
        with self.assertRaises(ValueError):
            wine_trace.phases(lines, "bench: start")

    def test_cpu_split_counts_only_the_window_and_the_process(self):
        samples = [("large.exe", "7", "100.100", "/w/cabinet.dll"),
                   ("large.exe", "7", "100.200", "[kernel.kallsyms]"),
                   ("large.exe", "7", "99.000", "/w/cabinet.dll"),   # before the window
                   ("extrac32.exe", "8", "100.100", "/w/cabinet.dll"),  # another process
                   ("wineserver64", "9", "100.300", "/usr/bin/wineserver64")]
        split = wine_trace.cpu_split(samples, "large.exe", 1.0, (100000.0, 100400.0))
        self.assertEqual(split, {"decompression (cabinet.dll, zlib1.dll)": 1.0,
                                 "Linux kernel (file writes, reads, server pipe)": 1.0,
                                 "wineserver (all of it)": 1.0})


if __name__ == "__main__":
    unittest.main()
