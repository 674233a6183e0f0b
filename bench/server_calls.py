#!/usr/bin/env python3
"""Counts the Wine server requests of one process in a `wineserver -d1` trace.

    server_calls.py TRACE DEST_DIR FILES

The process is the one that created the most files under DEST_DIR (a Unix path), so the same
trace may hold other programs. Prints, per request, the count per extracted file split by
thread, heaviest first, and returns the same as a dict when imported.
"""
import collections
import re
import sys

REQUEST = re.compile(r"^([0-9a-f]{4}): ([a-z_0-9]+)\( ?(.*)$")
FIRST_THREAD = re.compile(r"^([0-9a-f]{4}): init_first_thread\(\) = 0 \{ pid=([0-9a-f]+), tid=([0-9a-f]+)")
NEW_THREAD = re.compile(r"^([0-9a-f]{4}): new_thread\(\) = 0 \{ tid=([0-9a-f]+)")
FILENAME = re.compile(r'filename="([^"]*)"')


def parse(trace, dest):
    process_of = {}  # tid -> pid; a thread made by new_thread belongs to its creator's process
    requests = collections.Counter()  # (tid, request) -> count
    creates = collections.Counter()   # (tid, kind of create_file) -> count
    dest_creates = collections.Counter()  # pid -> create_file requests under dest
    with open(trace, errors="replace") as f:
        for line in f:
            m = FIRST_THREAD.match(line)
            if m:
                process_of[m.group(3)] = m.group(2)
                continue
            m = NEW_THREAD.match(line)
            if m:
                process_of[m.group(2)] = process_of.get(m.group(1), "?")
                continue
            m = REQUEST.match(line)
            if not m or m.group(3).startswith(") ="):
                continue  # a reply, or a server event such as *fd*
            tid, name = m.group(1), m.group(2)
            requests[(tid, name)] += 1
            if name == "create_file":
                path = FILENAME.search(line)
                # the Unix name is reached through dosdevices/z:, so the folder is looked for inside it
                under = bool(path) and (dest.rstrip("/") + "/") in path.group(1)
                if under:
                    dest_creates[process_of.get(tid, "?")] += 1
                kind = re.search(r"create=(\d+)", line)
                creates[(tid, ("destination" if under else "elsewhere") + ", disposition "
                         + (kind.group(1) if kind else "?"))] += 1
    if not dest_creates:
        sys.exit("server_calls: no create_file under %s in %s" % (dest, trace))
    pid = dest_creates.most_common(1)[0][0]
    threads = sorted(t for t, p in process_of.items() if p == pid)
    return pid, threads, requests, creates


def per_file(trace, dest, files):
    """{request: {tid: calls per file}} for the extracting process, and its thread ids."""
    pid, threads, requests, creates = parse(trace, dest)
    table = collections.defaultdict(dict)
    for (tid, name), n in requests.items():
        if tid in threads:
            table[name][tid] = n / files
    opens = collections.defaultdict(dict)
    for (tid, kind), n in creates.items():
        if tid in threads:
            opens[kind][tid] = n / files
    return pid, threads, table, opens


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: server_calls.py TRACE DEST_DIR FILES")
    pid, threads, table, opens = per_file(sys.argv[1], sys.argv[2], int(sys.argv[3]))
    print("process %s, threads %s" % (pid, " ".join(threads)))
    rows = sorted(table.items(), key=lambda kv: -sum(kv[1].values()))
    for name, by_thread in rows:
        total = sum(by_thread.values())
        if total >= 0.01:
            detail = " ".join("%s:%.2f" % (t, by_thread[t]) for t in threads if t in by_thread)
            print("%8.2f  %-28s %s" % (total, name, detail))
    print("create_file by target:")
    for kind, by_thread in sorted(opens.items()):
        print("%8.2f  %s" % (sum(by_thread.values()), kind))


if __name__ == "__main__":
    main()
