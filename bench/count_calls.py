#!/usr/bin/env python3
"""Where the time goes per extracted file: Wine server requests and system calls of the
installer and of extrac32, on the 5,000-file payload less the one-file payload (so start-up
and exit cancel out). Writes OUT/calls.md.

Run by `scripts/bench --calls` after the benchmark, with no wineserver running for the prefix:
it starts its own, first with the protocol trace (-d1), then under strace.
"""
import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import server_calls  # noqa: E402
from run_bench import files_under, check_tree, settle, wine_path  # noqa: E402

TOOLS = ("installer", "extrac32")
SMALL, TINY = "small", "tiny"


class Runner:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.work = os.path.join(self.out, "calls-work")
        self.payloads = os.path.join(self.out, "payload")

    def command(self, tool, payload, workdir):
        if tool == "installer":
            return ["wine", self.args.driver, wine_path(os.path.join(self.out, payload + ".exe")),
                    wine_path(workdir)], os.path.join(workdir, "Extract")
        dest = os.path.join(workdir, "out")
        return ["wine", "extrac32", "/E", "/L", wine_path(dest),
                wine_path(os.path.join(self.out, payload + ".cab"))], dest

    def run(self, tool, payload, tag, prefix=()):
        """One extraction into a fresh folder, checked; returns the folder (kept for parsing)."""
        workdir = os.path.join(self.work, "%s-%s-%s" % (tag, tool, payload))
        shutil.rmtree(workdir, ignore_errors=True)
        os.makedirs(workdir)
        cmd, dest = self.command(tool, payload, workdir)
        subprocess.run(list(prefix) + cmd, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=1800)
        check_tree(dest, os.path.join(self.payloads, payload))
        return workdir

    def server(self, extra=(), stderr=subprocess.DEVNULL):
        proc = subprocess.Popen(["wineserver", "-f", "-p"] + list(extra), stderr=stderr)
        time.sleep(0.5)
        # Wine's desktop process, started now so that its start-up is outside every count.
        subprocess.run(["wine", self.args.driver], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return proc

    def stop_server(self, proc):
        subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
        proc.wait(timeout=60)


def strace_summary(path):
    """{syscall: calls} from an `strace -c` summary (both personalities added up)."""
    counts = collections.Counter()
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and re.match(r"^[\d.]+$", parts[0]) and parts[-1] != "total":
                counts[parts[-1]] += int(parts[3])
    return counts


def difference(big, small, files):
    return {k: (big.get(k, 0) - small.get(k, 0)) / (files - 1) for k in set(big) | set(small)}


def server_requests(r, files):
    trace = os.path.join(r.out, "server-trace.log")
    with open(trace, "w") as log:
        proc = r.server(["-d1"], stderr=log)
        dirs = {(tool, p): r.run(tool, p, "trace") for tool in TOOLS for p in (TINY, SMALL)}
        r.stop_server(proc)
    result = {}
    for tool in TOOLS:
        counts = {}
        for p in (TINY, SMALL):
            _, _, table, _ = server_calls.per_file(trace, dirs[(tool, p)], 1)
            counts[p] = {name: sum(by.values()) for name, by in table.items()}
        result[tool] = difference(counts[SMALL], counts[TINY], files)
    _, threads, table, opens = server_calls.per_file(trace, dirs[("installer", SMALL)], files)
    os.remove(trace)  # tens of megabytes
    return result, threads, table, opens


def syscalls(r, files):
    client, server = {}, {}
    proc = r.server()
    for tool in TOOLS:
        for p in (TINY, SMALL):
            base = os.path.join(r.work, "strace-%s-%s" % (tool, p))
            attach = subprocess.Popen(["strace", "-c", "-f", "-o", base + ".server", "-p",
                                       str(proc.pid)], stderr=subprocess.DEVNULL)
            time.sleep(0.5)
            r.run(tool, p, "strace", ["strace", "-c", "-f", "-o", base + ".client"])
            attach.send_signal(signal.SIGINT)
            attach.wait(timeout=60)
            client[(tool, p)] = strace_summary(base + ".client")
            server[(tool, p)] = strace_summary(base + ".server")
    r.stop_server(proc)
    return ({t: difference(client[(t, SMALL)], client[(t, TINY)], files) for t in TOOLS},
            {t: difference(server[(t, SMALL)], server[(t, TINY)], files) for t in TOOLS})


def table(title, per_tool, limit=14):
    keys = sorted(per_tool["installer"], key=lambda k: -abs(per_tool["installer"][k]))
    keys += sorted((k for k in per_tool["extrac32"] if k not in keys),
                   key=lambda k: -abs(per_tool["extrac32"][k]))
    keys = [k for k in keys if max(abs(per_tool[t].get(k, 0)) for t in TOOLS) >= 0.05][:limit]
    keys.sort(key=lambda k: -max(per_tool[t].get(k, 0) for t in TOOLS))
    lines = ["| %s | installer | extrac32 |" % title, "| --- | ---: | ---: |"]
    for k in keys:
        # Rounded first so that a count equal in both runs shows as 0.00, not -0.00.
        lines.append("| %s | %.2f | %.2f |" % (k, round(per_tool["installer"].get(k, 0), 2) + 0.0,
                                               round(per_tool["extrac32"].get(k, 0), 2) + 0.0))
    total = ["| all | %.1f | %.1f |" % tuple(sum(v for v in per_tool[t].values()) for t in TOOLS)]
    return "\n".join(lines + total)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--driver", required=True)
    args = parser.parse_args()
    r = Runner(args)
    shutil.rmtree(r.work, ignore_errors=True)
    settle()
    files = len(files_under(os.path.join(r.payloads, SMALL)))

    print("calls: Wine server protocol trace", flush=True)
    requests, threads, by_thread, opens = server_requests(r, files)
    print("calls: system calls under strace (slow)", flush=True)
    client, server = syscalls(r, files)
    shutil.rmtree(r.work, ignore_errors=True)

    main_tid, worker_tids = threads[0], threads[1:]
    thread_lines = []
    for name, by in sorted(by_thread.items(), key=lambda kv: -sum(kv[1].values()))[:10]:
        main_calls = by.get(main_tid, 0)
        worker_calls = sum(by.get(t, 0) for t in worker_tids)
        thread_lines.append("| %s | %.2f | %.2f |" % (name, main_calls, worker_calls))
    open_lines = ["| %s | %.2f |" % (kind, sum(by.values())) for kind, by in sorted(opens.items())
                  if sum(by.values()) >= 0.01]

    text = """# Calls per extracted file

The 5,000-file payload less the one-file payload, divided by 4,999: start-up and exit cancel
out. Counted in separate runs from the timed ones (tracing slows everything down).

## Wine server requests (wineserver -d1), per file

{requests}

The installer's requests by thread, 5,000-file run as a whole, per file (the dialog's thread
first, then the extraction thread):

| request | dialog thread | extraction thread |
| --- | ---: | ---: |
{threads}

The installer's create_file requests by target (disposition 1 opens an existing file, 2
creates a new one, 5 creates or overwrites):

| target | per file |
| --- | ---: |
{opens}

## System calls of the Wine processes (strace -c -f on the wine command), per file

{client}

## System calls of the wineserver during the run (strace -c -f -p), per file

{server}
""".format(requests=table("request", requests), threads="\n".join(thread_lines),
           opens="\n".join(open_lines), client=table("syscall", client),
           server=table("syscall", server))
    path = os.path.join(r.out, "calls.md")
    with open(path, "w") as f:
        f.write(text)
    print(text)
    print("calls: wrote %s" % path)


if __name__ == "__main__":
    main()
