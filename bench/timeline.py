#!/usr/bin/env python3
"""Where the milliseconds of one run go: a timeline of a traced run of the installer and of
extrac32 on each payload, and, where `perf` is installed, which code the CPU time was spent in.
Writes OUT/timeline.md.

Run by `scripts/bench --calls` with the benchmark's prefix, display and wineserver. The phases
come from Wine's own trace clock (WINEDEBUG=+timestamp), read by wine_trace.py: the driver marks
the click, the start and the exit (bench/driver.cpp), Wine's loader marks the load and unload of
the cabinet library. This module runs; wine_trace.py only reads, and imports nothing of it.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run_bench import check_tree, desktop_held, settle, wine_path  # noqa: E402
from wine_trace import cpu_split, parse_trace, phases, SAMPLE  # noqa: E402

PAYLOADS = ("large", "small")


def folders_blocks(cab):
    """How many data blocks the cabinet holds, from its folder entries."""
    with open(cab, "rb") as f:
        head = f.read(36)
        folders_at = 36
        flags = struct.unpack_from("<H", head, 30)[0]
        folders = struct.unpack_from("<H", head, 26)[0]
        folder_reserve = 0
        if flags & 4:
            reserve = f.read(4)
            header_reserve, folder_reserve = struct.unpack_from("<HB", reserve)
            folders_at += 4 + header_reserve
        f.seek(folders_at)
        blocks = 0
        for _ in range(folders):
            entry = f.read(8 + folder_reserve)
            blocks += struct.unpack_from("<H", entry, 4)[0]
    return blocks


class Timeline:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.work = os.path.join(self.out, "timeline-work")
        self.perf = shutil.which("perf")

    def command(self, tool, payload, workdir):
        if tool == "installer":
            return ["wine", self.args.driver, wine_path(os.path.join(self.out, payload + ".exe")),
                    wine_path(workdir)], os.path.join(workdir, "Extract"), "bench: click"
        dest = os.path.join(workdir, "out")
        return (["wine", self.args.driver, "--run", wine_path(workdir),
                 "C:\\windows\\system32\\extrac32.exe", "/E", "/L", wine_path(dest),
                 wine_path(os.path.join(self.out, payload + ".cab"))], dest, "bench: start")

    def run(self, tool, payload):
        workdir = os.path.join(self.work, "%s-%s" % (tool, payload))
        shutil.rmtree(workdir, ignore_errors=True)
        os.makedirs(workdir)
        cmd, dest, begin = self.command(tool, payload, workdir)
        env = dict(os.environ, WINEDEBUG="+timestamp,+loaddll,+debugstr")
        perf_data = os.path.join(self.work, "perf.data")
        if self.perf:
            # Wine's trace clock is the raw monotonic clock in ms: the samples take the same.
            cmd = [self.perf, "record", "-a", "-q", "-F", "1000", "-k", "monotonic_raw",
                   "-o", perf_data, "--"] + cmd
        proc = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, errors="replace", timeout=1800)
        if proc.returncode != 0:
            sys.exit("timeline: %s on %s failed: %s" % (tool, payload, proc.stderr[-500:]))
        check_tree(dest, os.path.join(self.out, "payload", payload))
        lines = parse_trace(proc.stderr)
        result, window = phases(lines, begin)
        split = None
        if self.perf:
            script = subprocess.run([self.perf, "script", "-i", perf_data, "-F", "comm,tid,time,ip,dso"],
                                    capture_output=True, text=True, errors="replace").stdout
            samples = [m.groups() for m in map(SAMPLE.match, script.splitlines()) if m]
            comm = payload + ".exe" if tool == "installer" else "extrac32.exe"
            split = cpu_split(samples, comm, 1.0, window)
            os.remove(perf_data)
        # Removed only at the end: ext4 scans past recently freed inodes (see run_bench.py).
        return result, split

    def report(self):
        shutil.rmtree(self.work, ignore_errors=True)
        settle()
        rows, splits = [], []
        for payload in PAYLOADS:
            blocks = folders_blocks(os.path.join(self.out, payload + ".cab"))
            files = sum(len(n) for _, _, n in os.walk(os.path.join(self.out, "payload", payload)))
            size = sum(os.path.getsize(os.path.join(d, n)) for d, _, names in
                       os.walk(os.path.join(self.out, "payload", payload)) for n in names)
            for tool in ("installer", "extrac32"):
                result, split = self.run(tool, payload)
                use = result["library in use"]
                rows.append("| %s | %s | %.0f | %.0f | %.0f | %.0f | %.3f | %.2f | %.3f |" % (
                    payload, tool, result["to library"], use, result["after"], result["total"],
                    use / files, use / (size / 1048576.0), use / blocks))
                if split:
                    for what, ms in sorted(split.items(), key=lambda kv: -kv[1]):
                        splits.append("| %s | %s | %s | %.0f |" % (payload, tool, what, ms))
        text = ["# Timeline of one run, %s" % self.args.arch, "",
                "One traced run each (Wine's trace clock; tracing adds a little to every phase).",
                "Installer: from the click; extrac32: from its process's creation, so its first "
                "phase is its start-up.", "",
                "| payload | program | to library ms | library in use ms | after ms | total ms | "
                "ms per file | ms per MiB | ms per block |",
                "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"] + rows
        text += ["", "## CPU time while the library is in use, by code (same runs; perf, 1 kHz)",
                 "", "Both cores count: the sum can exceed the phase's length.", ""]
        if splits:
            text += ["| payload | program | where | CPU ms |", "| --- | --- | --- | ---: |"] + splits
        else:
            text += ["perf is not installed here: no CPU split."]
        with open(os.path.join(self.out, "timeline.md"), "w") as f:
            f.write("\n".join(text) + "\n")
        shutil.rmtree(self.work, ignore_errors=True)
        print("\n".join(text))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--arch", default="x86")
    parser.add_argument("--hold", required=True, help="bench/hold_desktop.c, built")
    args = parser.parse_args()
    with desktop_held(args.hold):
        Timeline(args).report()


if __name__ == "__main__":
    main()
