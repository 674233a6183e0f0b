#!/usr/bin/env python3
"""Reading Wine's trace and perf's samples: no running, no Wine. Used by the run harness
(run_bench.py: extrac32 from its library's load to its exit) and by timeline.py (the phases
of one traced run and the CPU time by code), and checked by test_bench.py.

The phases come from Wine's own trace clock (WINEDEBUG=+timestamp,+loaddll,+debugstr): the
driver marks the click, the start and the exit (bench/driver.cpp), Wine's loader marks the
load and unload of the cabinet library.
"""
import collections
import os
import re

TRACE = re.compile(r"^(\d+\.\d+):([0-9a-f]+):(.*)$")
CABINET_LOADED = re.compile(r'loaddll:build_module Loaded L".*\\cabinet\.dll"', re.I)
CABINET_UNLOADED = re.compile(r'loaddll:free_modref Unloaded module L".*\\cabinet\.dll"', re.I)
SAMPLE = re.compile(r"^\s*(\S+)\s+(\d+)\s+(\d+\.\d+):\s+[0-9a-f]+\s+\((.*)\)\s*$")


def parse_trace(text):
    """[(ms, tid, rest)] of the trace lines, in order."""
    lines = []
    for line in text.splitlines():
        m = TRACE.match(line)
        if m:
            lines.append((float(m.group(1)) * 1000.0, m.group(2), m.group(3)))
    return lines


def first(lines, pattern):
    for ms, tid, rest in lines:
        if pattern.search(rest):
            return ms, tid
    return None, None


def mark(text):
    return re.compile(r'OutputDebugStringA "%s"' % re.escape(text))


def phases(lines, begin_mark):
    """Phase lengths in ms: begin (click or start) to library loaded, loaded to unloaded (or to
    the exit, for a program that never unloads it), unloaded to exit; and that middle window."""
    begin, _ = first(lines, mark(begin_mark))
    loaded, worker = first(lines, CABINET_LOADED)
    unloaded, _ = first(lines, CABINET_UNLOADED)
    end, _ = first(lines, mark("bench: exit"))
    if None in (begin, loaded, end):
        raise ValueError("trace lacks the %s, library load or exit mark" % begin_mark)
    stop = unloaded if unloaded is not None else end
    return {"to library": loaded - begin, "library in use": stop - loaded,
            "after": end - stop, "total": end - begin}, (loaded, stop)


def cpu_split(samples, comm, period_ms, window):
    """ms of CPU within window (ms, trace clock) by category: the extracting process's threads
    by code, and the wineserver."""
    split = collections.Counter()
    for sample_comm, _tid, at, dso in samples:
        if not window[0] <= float(at) * 1000.0 <= window[1]:
            continue
        name = os.path.basename(dso)
        if sample_comm.startswith("wineserver"):
            split["wineserver (all of it)"] += period_ms
            continue
        if sample_comm != comm[:15]:
            continue
        if name in ("cabinet.dll", "zlib1.dll"):
            split["decompression (cabinet.dll, zlib1.dll)"] += period_ms
        elif name == "[kernel.kallsyms]":
            split["Linux kernel (file writes, reads, server pipe)"] += period_ms
        elif name in ("ntdll.so", "ntdll.dll", "win32u.so", "win32u.dll", "libc.so.6"):
            split["Wine and libc (system calls, server requests)"] += period_ms
        else:
            split["everything else (dialog, X11, runtime)"] += period_ms
    return split
