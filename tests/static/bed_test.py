#!/usr/bin/env python3
"""Checks of the test bed's own readers, without Wine: scripts/ctest-report's counts from CTest's
JUnit file, the i386 probe's answers (scripts/wine-env) and the names of skipped unittest tests.
A step of scripts/test."""
import os
import subprocess
import tempfile
import unittest
from xml.sax.saxutils import escape

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
REPORT = os.path.join(ROOT, "scripts", "ctest-report")


def gtest_output(passed=(), skipped=(), failed=()):
    """GoogleTest's output for tests of those names; skipped is [(name, reason)]."""
    out = []
    for name in passed:
        out += ["[ RUN      ] %s" % name, "[       OK ] %s (1 ms)" % name]
    for name, why in skipped:
        out += ["[ RUN      ] %s" % name, "x.cpp:9: Skipped", why, "", "[  SKIPPED ] %s (0 ms)" % name]
    for name in failed:
        out += ["[ RUN      ] %s" % name, "x.cpp:9: Failure", "[  FAILED  ] %s (2 ms)" % name]
    total = len(passed) + len(skipped) + len(failed)
    out += ["[==========] %d tests from 1 test suite ran. (5 ms total)" % total,
            "[  PASSED  ] %d tests." % len(passed)]
    if skipped:
        out.append("[  SKIPPED ] %d tests, listed below:" % len(skipped))
        out += ["[  SKIPPED ] %s" % name for name, _ in skipped]
    if failed:
        out.append("[  FAILED  ] %d tests, listed below:" % len(failed))
        out += ["[  FAILED  ] %s" % name for name in failed]
    return "\n".join(out) + "\n"


def junit(cases):
    """A JUnit file as CTest writes it: cases are (name, status, child element or "", output)."""
    rows = []
    for name, status, child, out in cases:
        rows.append('<testcase name="%s" classname="%s" time="0.1" status="%s">%s'
                    '<system-out>%s</system-out></testcase>' % (name, name, status, child, escape(out)))
    return '<?xml version="1.0" encoding="UTF-8"?>\n<testsuite name="t">%s</testsuite>\n' % "".join(rows)


class CtestReportTest(unittest.TestCase):
    def report(self, cases):
        with tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False) as f:
            f.write(junit(cases))
        self.addCleanup(os.remove, f.name)
        p = subprocess.run([REPORT, f.name], capture_output=True, text=True)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        return p.stdout.splitlines()

    def test_counts_and_named_lines(self):
        # (what, cases, last line, other lines)
        table = [
            ("a GTEST_SKIP is a skip, named with its reason, not a pass",
             [("units", "run", "", gtest_output(["A.one", "A.two"], [("A.three", "no volume here")]))],
             "ctest: 2 passed, 0 failed, 1 skipped (of 1 CTest tests)",
             ["skipped: units: A.three (no volume here)"]),
            ("GoogleTest's failures count one by one",
             [("units", "fail", '<failure message=""/>', gtest_output(["A.one"], [], ["A.two", "A.three"]))],
             "ctest: 1 passed, 2 failed, 0 skipped (of 1 CTest tests)", []),
            ("a crash after all tests passed is still a failure",
             [("units", "fail", '<failure message=""/>', gtest_output(["A.one"]))],
             "ctest: 1 passed, 1 failed, 0 skipped (of 1 CTest tests)", []),
            ("a test without GoogleTest counts as one",
             [("plain", "run", "", "result\t0\n"), ("broken", "fail", '<failure message=""/>', "")],
             "ctest: 1 passed, 1 failed, 0 skipped (of 2 CTest tests)", []),
            ("skipped by its own word or disabled: skips",
             [("s77", "notrun", '<skipped message="SKIP_RETURN_CODE=77"/>', ""),
              ("off", "disabled", "", "Disabled")],
             "ctest: 0 passed, 0 failed, 2 skipped (of 2 CTest tests)",
             ["skipped: s77 (SKIP_RETURN_CODE=77)", "skipped: off (disabled)"]),
            ("not run for a failed fixture: a failure",
             [("needs", "notrun", '<skipped message="Fixture dependency failed"/>', "")],
             "ctest: 0 passed, 1 failed, 0 skipped (of 1 CTest tests)",
             ["not run: needs (Fixture dependency failed)"]),
        ]
        for what, cases, last, lines in table:
            with self.subTest(what):
                got = self.report(cases)
                self.assertEqual(got[-1], last)
                self.assertEqual(got[:-1], lines)

    def test_an_unreadable_file_gives_no_counts(self):
        p = subprocess.run([REPORT, os.path.join(ROOT, "no-such-run.xml")],
                           capture_output=True, text=True)
        self.assertEqual(p.returncode, 1)
        self.assertNotIn("ctest:", p.stdout)


def wine_env(script, **env):
    """Runs script after sourcing scripts/wine-env; returns (exit status, stdout, stderr)."""
    p = subprocess.run(["bash", "-c", ". scripts/wine-env && " + script], cwd=ROOT,
                       capture_output=True, text=True, env=dict(os.environ, **env))
    return p.returncode, p.stdout, p.stderr


class I386ProbeTest(unittest.TestCase):
    def test_a_probe_that_cannot_be_made_is_no_answer(self):
        status, _, err = wine_env("orvanta_runs_i386", TMPDIR="/nonexistent/orvanta")
        self.assertEqual(status, 2)
        self.assertIn("the i386 probe could not be made", err)
        status, out, _ = wine_env('orvanta_i386_ready; s=$?; echo "$ORVANTA_I386_WHY"; exit $s',
                                  TMPDIR="/nonexistent/orvanta")
        self.assertEqual(status, 3)
        self.assertIn("no temporary folder in /nonexistent/orvanta", out)

    def test_a_probe_that_runs_answers(self):
        status, _, err = wine_env("orvanta_runs_i386")
        self.assertIn(status, (0, 1), err)
        self.assertEqual(err, "")


class UnittestSkipsTest(unittest.TestCase):
    def test_names_and_reasons(self):
        log = "\n".join([
            "test_a (__main__.Big.test_a) ... skipped 'long test'",
            "test_b (pkg.Mod.test_b) ... ok",
            "test_c (pkg.Mod) ... skipped 'old format'",
            "test_d (pkg.Mod.test_d) ... FAIL"]) + "\n"
        with tempfile.NamedTemporaryFile("w", delete=False) as f:
            f.write(log)
        self.addCleanup(os.remove, f.name)
        _, out, _ = wine_env('orvanta_unittest_skips "$LOG"', LOG=f.name)
        self.assertEqual(out.splitlines(), ["Big.test_a (long test)", "pkg.Mod.test_c (old format)"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
