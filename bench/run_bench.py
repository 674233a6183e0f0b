#!/usr/bin/env python3
"""Times the installer against Wine's extrac32 and native cabextract on the same cabinets.

Run by scripts/bench, which builds everything and sets up Wine (WINEPREFIX, DISPLAY, a
persistent wineserver) first. Writes OUT/results.md, OUT/results.dat and OUT/results.png.
"""
import argparse
import contextlib
import filecmp
import hashlib
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_payloads  # noqa: E402
import wine_trace  # noqa: E402

PAYLOADS = ("large", "small")
CONTENDERS = ("installer", "extrac32", "cabextract")
LIBRARY = "extrac32 library to exit"  # see Bench.extrac32_library
# Wine writes trace lines only at library loads and at the driver's marks: nothing per block.
LIBRARY_TRACE = "+timestamp,+loaddll,+debugstr"
TIMED_RUN = None  # set from --timed-run
EPOCH = "1700000000"  # SOURCE_DATE_EPOCH for sfxpack: the same cabinet bytes on every run
KEEP_TREES_OVER = 100  # files; see Bench.discard
RECENT_DELETE_S = 11   # ext4 skips inodes freed this recently (10 s when not yet written)


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


# ---------------------------------------------------------------- inputs

def prepare_payloads(root):
    """Generates the payload folders once per version of the generator."""
    with open(os.path.join(HERE, "make_payloads.py"), "rb") as f:
        stamp = hashlib.sha256(f.read()).hexdigest()
    stamp_file = os.path.join(root, ".stamp")
    if not (os.path.exists(stamp_file) and open(stamp_file).read() == stamp):
        print("bench: generating payloads", flush=True)
        make_payloads.main_into(root)
        make_tiny(os.path.join(root, "tiny"))
        with open(stamp_file, "w") as f:
            f.write(stamp)
    return root


def make_tiny(root):
    # One small file: extrac32 on it shows that program's own start-up and exit cost.
    os.makedirs(root, exist_ok=True)
    path = os.path.join(root, "one.txt")
    with open(path, "wb") as f:
        f.write(b"one\r\n")
    os.utime(path, (make_payloads.MTIME, make_payloads.MTIME))


def pack(sfxpack, stub, folder, exe, cab, options=()):
    """The installer, and its overlay cut into a bare cabinet for the other contenders."""
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
    run([sfxpack, folder, "-o", exe, "--stub", stub] + list(options), env=env,
        stderr=subprocess.DEVNULL)
    with open(exe, "rb") as f:
        # The stub as packed (its resources carry the payload record) ends with its sections.
        f.seek(sections_end(f.read(1 << 16)))
        with open(cab, "wb") as c:
            # Copied in pieces: the harness stays small (see bench/timed_run.c).
            shutil.copyfileobj(f, c, 1 << 20)
    size = os.path.getsize(cab)
    with open(cab, "rb") as c:
        header = c.read(12)
    if header[:4] != b"MSCF" or struct.unpack_from("<I", header, 8)[0] != size:
        sys.exit("bench: the overlay of %s is not one whole cabinet" % exe)
    return size


def sections_end(data):
    """The largest end of section raw data of the PE image whose headers start data."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + opt_size
    end = 0
    for i in range(sections):
        raw_size, raw_ptr = struct.unpack_from("<II", data, table + 40 * i + 16)
        end = max(end, raw_ptr + raw_size)
    return end


def stub_facts(stub, objdump):
    """Size, imported DLLs, and how many bytes follow the last section's raw data."""
    with open(stub, "rb") as f:
        data = f.read()
    end = sections_end(data)
    dump = run([objdump, "-p", stub], capture_output=True, text=True).stdout
    dlls = [line.split(":", 1)[1].strip() for line in dump.splitlines()
            if line.strip().startswith("DLL Name:")]
    return {"size": len(data), "sections_end": end, "trailing": len(data) - end,
            "imports": dlls}


# ---------------------------------------------------------------- one timed run each

def files_under(root):
    found = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            full = os.path.join(dirpath, name)
            found[os.path.relpath(full, root)] = full
    return found


def check_tree(extracted, payload):
    """Fails the benchmark when a contender did not write exactly the payload."""
    got, want = files_under(extracted), files_under(payload)
    if sorted(got) != sorted(want):
        missing = sorted(set(want) - set(got))[:3]
        extra = sorted(set(got) - set(want))[:3]
        sys.exit("bench: %s: %d files, expected %d (missing %s, extra %s)"
                 % (extracted, len(got), len(want), missing, extra))
    for rel, path in want.items():
        if not filecmp.cmp(path, got[rel], shallow=False):
            sys.exit("bench: %s differs from the payload" % got[rel])


def settle():
    """Waits until files deleted so far are out of ext4's recent past (see Bench.discard)."""
    os.sync()
    time.sleep(RECENT_DELETE_S)


@contextlib.contextmanager
def desktop_held(hold_exe):
    """Keeps Wine's desktop process up meanwhile (see bench/hold_desktop.c). The desktop is
    up before this returns: started by a timed run, it would inherit that run's output pipe
    and keep the benchmark waiting for its end."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    holder = subprocess.Popen(["wine", hold_exe], **quiet)
    subprocess.run(["wine", "cmd", "/c", "exit"], **quiet)
    try:
        yield
    finally:
        holder.kill()
        holder.wait()


def timed(cmd, env=None):
    """Runs a command through timed_run: exit code, wall ms, peak resident bytes, output."""
    proc = subprocess.run([TIMED_RUN] + cmd, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, errors="replace", timeout=900, env=env)
    last = proc.stderr.rstrip().splitlines()[-1] if proc.stderr.strip() else ""
    if not last.startswith("timed_run: elapsed_ms="):
        sys.exit("bench: %s: no timing (%s)" % (cmd[0], proc.stderr.strip()))
    fields = dict(item.split("=", 1) for item in last.split()[1:])
    return (proc.returncode, float(fields["elapsed_ms"]), int(fields["maxrss_kib"]) * 1024,
            proc.stdout, proc.stderr)


class Bench:
    def __init__(self, args):
        self.args = args
        self.arch = getattr(args, "arch", "x86")
        self.work = os.path.join(args.out, "work")
        self.samples = {}  # (payload, contender) -> list of ms
        self.memory = {}   # (payload, contender) -> list of dicts
        self.kept = []     # run folders removed only after the last round (see discard)

    def fresh_dir(self, tag):
        self.runs_started = getattr(self, "runs_started", 0) + 1
        path = os.path.join(self.work, "%s-%d" % (tag, self.runs_started))
        os.makedirs(path)
        return path

    def discard(self, workdir):
        """Removes a run's tree, or keeps it to the end when it holds many files.

        ext4 does not hand out an inode freed in the last 5 to 10 seconds: it scans past
        every one of them, for every file it creates. Deleting 5,000 files just before the
        next run made that run several times slower, whoever ran it."""
        if len(files_under(workdir)) > KEEP_TREES_OVER:
            self.kept.append(workdir)
        else:
            shutil.rmtree(workdir)

    def finish(self, key, ms, memory, extracted, payload_dir, workdir):
        if payload_dir:
            check_tree(extracted, payload_dir)
        self.discard(workdir)
        os.sync()  # so that one run's write-back does not land in the next one's time
        self.samples.setdefault(key, []).append(ms)
        if memory:
            self.memory.setdefault(key, []).append(memory)

    def installer(self, payload, exe, payload_dir, name="installer", env=None):
        workdir = self.fresh_dir(name.replace(" ", "-") + "-" + payload)
        cmd = ["wine", self.args.driver, wine_path(exe), wine_path(workdir)]
        code, _, _, out, err = timed(cmd, env=env)
        fields = dict(item.split("=", 1) for item in out.split() if "=" in item)
        if code != 0 or "elapsed_ms" not in fields:
            sys.exit("bench: installer run failed (%d): %s %s" % (code, out, err))
        memory = {"peak_ws": int(fields["peak_ws"]), "peak_pagefile": int(fields["peak_pagefile"])}
        self.finish((payload, name), float(fields["elapsed_ms"]), memory,
                    os.path.join(workdir, "Extract"), payload_dir, workdir)

    def extrac32(self, payload, cab, payload_dir):
        workdir = self.fresh_dir("extrac32-" + payload)
        dest = os.path.join(workdir, "out")
        # Wine runs the program in a process of its own, not a child of the wine command, so
        # its memory is read by the driver in a run of its own (memory_of_extrac32).
        code, ms, _, _, err = timed(["wine", "extrac32", "/E", "/L", wine_path(dest),
                                     wine_path(cab)])
        if code != 0:
            sys.exit("bench: extrac32 failed (%d): %s" % (code, err))
        self.finish((payload, "extrac32"), ms, None, dest, payload_dir, workdir)

    def memory_of_extrac32(self, payload, cab, payload_dir):
        workdir = self.fresh_dir("extrac32-mem-" + payload)
        dest = os.path.join(workdir, "out")
        cmd = ["wine", self.args.driver, "--run", wine_path(workdir),
               "C:\\windows\\system32\\extrac32.exe", "/E", "/L", wine_path(dest), wine_path(cab)]
        code, _, _, out, err = timed(cmd)
        fields = dict(item.split("=", 1) for item in out.split() if "=" in item)
        if code != 0 or "peak_ws" not in fields:
            sys.exit("bench: extrac32 under the driver failed (%d): %s %s" % (code, out, err))
        check_tree(dest, payload_dir)
        self.discard(workdir)
        self.memory[(payload, "extrac32")] = [
            {"peak_ws": int(fields["peak_ws"]), "peak_pagefile": int(fields["peak_pagefile"])}]

    def extrac32_library(self, payload, cab, payload_dir):
        """extrac32 from its load of the cabinet library to its exit: its extraction work
        without its start-up, read off Wine's trace clock in a run of its own."""
        workdir = self.fresh_dir("extrac32-library-" + payload)
        dest = os.path.join(workdir, "out")
        cmd = ["wine", self.args.driver, "--run", wine_path(workdir),
               "C:\\windows\\system32\\extrac32.exe", "/E", "/L", wine_path(dest), wine_path(cab)]
        code, _, _, out, err = timed(cmd, env=dict(os.environ, WINEDEBUG=LIBRARY_TRACE))
        if code != 0:
            sys.exit("bench: traced extrac32 failed (%d): %s %s" % (code, out, err[-500:]))
        try:
            phases, _ = wine_trace.phases(wine_trace.parse_trace(err), "bench: start")
        except ValueError as e:
            sys.exit("bench: traced extrac32: %s" % e)
        self.finish((payload, LIBRARY), phases["library in use"] + phases["after"], None, dest,
                    payload_dir, workdir)

    def cabextract(self, payload, cab, payload_dir):
        workdir = self.fresh_dir("cabextract-" + payload)
        dest = os.path.join(workdir, "out")
        code, ms, rss, _, err = timed(["cabextract", "-q", "-d", dest, cab])
        if code != 0:
            sys.exit("bench: cabextract failed (%d): %s" % (code, err))
        self.finish((payload, "cabextract"), ms, {"max_rss": rss}, dest, payload_dir, workdir)

    def noop(self):
        code, ms, _, _, err = timed(["wine", self.args.noop])
        if code != 0:
            sys.exit("bench: the no-op program failed (%d): %s" % (code, err))
        self.samples.setdefault(("wine start-up", "no-op program"), []).append(ms)


# ---------------------------------------------------------------- report

def mib(n):
    return "%.1f MiB" % (n / 1048576.0)


def memory_text(records, contender):
    if not records:
        return ""
    if "peak_ws" in records[0]:
        return "working set %s, pagefile %s" % (mib(max(r["peak_ws"] for r in records)),
                                                mib(max(r["peak_pagefile"] for r in records)))
    return "max RSS %s" % mib(max(r["max_rss"] for r in records))


def report(bench, facts, cab_sizes, file_counts, out):
    med = {key: statistics.median(values) for key, values in bench.samples.items()}
    startup = med.get(("tiny", "extrac32"))

    def ratios(ms, payload):
        # Whole: against extrac32's whole command. Work: against extrac32 less its own start-up
        # and exit, measured on a one-file cabinet in the same rounds. Library: against
        # extrac32 from its load of the cabinet library to its exit, in runs of its own.
        ext = med[(payload, "extrac32")]
        return ("%.2f" % (ms / ext), "%.2f" % (ms / max(ext - startup, 1.0)),
                "%.2f" % (ms / max(med[(payload, LIBRARY)], 1.0)))

    rows = []
    for payload in PAYLOADS:
        for contender in CONTENDERS + (LIBRARY,):
            key = (payload, contender)
            shown = ratios(med[key], payload) if contender == "installer" else ("", "", "")
            rows.append((payload, contender, bench.samples[key], med[key]) + shown +
                        (memory_text(bench.memory.get(key), contender),))
    for label in getattr(bench, "compare", []):
        for payload in PAYLOADS:
            key = (payload, "installer " + label)
            rows.append((payload, key[1], bench.samples[key], med[key]) +
                        ratios(med[key], payload) +
                        (memory_text(bench.memory.get(key), "installer"),))
    rows.append(("tiny (1 file)", "extrac32", bench.samples[("tiny", "extrac32")], startup, "",
                 "", "", memory_text(bench.memory.get(("tiny", "extrac32")), "extrac32")))
    noop = bench.samples[("wine start-up", "no-op program")]
    rows.append(("(none)", "wine no-op program", noop, med[("wine start-up", "no-op program")],
                 "", "", "", ""))

    lines = ["| arch | payload | contender | runs | median ms | spread ms | whole ratio | "
             "work ratio | library ratio | peak memory |",
             "| --- | --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | --- |"]
    for payload, contender, samples, ms, ratio, work, library, memory in rows:
        lines.append("| %s | %s | %s | %d | %.0f | %.0f–%.0f | %s | %s | %s | %s |"
                     % (bench.arch, payload, contender, len(samples), ms, min(samples),
                        max(samples), ratio, work, library, memory))
    table = "\n".join(lines)

    adjusted = []
    for payload in PAYLOADS:
        inst, ext = med[(payload, "installer")], med[(payload, "extrac32")]
        adjusted.append("- %s %s: installer %.0f ms ÷ (extrac32 %.0f − its start-up %.0f) ms = %.2f"
                        % (bench.arch, payload, inst, ext, startup, inst / max(ext - startup, 1.0)))
        library = med[(payload, LIBRARY)]
        adjusted.append("- %s %s: installer %.0f ms ÷ extrac32 from its library's load to its "
                        "exit %.0f ms = %.2f" % (bench.arch, payload, inst, library,
                                                 inst / max(library, 1.0)))

    for label in getattr(bench, "compare", []):
        for payload in PAYLOADS:
            adjusted.append("- %s %s: installer %.0f ms ÷ installer %s %.0f ms = %.2f"
                            % (bench.arch, payload, med[(payload, "installer")], label,
                               med[(payload, "installer " + label)],
                               med[(payload, "installer")] / med[(payload, "installer " + label)]))

    runs = ["- %s, %s: %s" % (payload, contender, ", ".join("%.0f" % v for v in values))
            for (payload, contender), values in sorted(bench.samples.items())]

    s = facts
    text = """# Extraction benchmark, {arch} stub under {arch} Wine

Payloads (fixed seeds, `bench/make_payloads.py`), packed with `sfxpack` (SOURCE_DATE_EPOCH={epoch});
the bare cabinet is the installer's overlay, the same bytes for every contender:

- large: {nl} files, about 100 MB of text and random data; cabinet {cl} bytes
- small: {ns} files of 64 B to 16 KiB in nested folders; cabinet {cs} bytes

Every run extracts into a fresh empty folder, which is compared with the payload byte for byte
and then removed (one of more than {keep} files only after the last round: ext4 scans past
recently freed inodes when it creates files); the contenders alternate within each round.

- installer: from posting the "Extraire" click to the process's exit (QueryPerformanceCounter
  in `bench/driver.cpp`, under Wine). Excludes Wine's start-up and the dialog's creation.
- extrac32: the whole `wine extrac32 /E /L DIR CAB` command timed from Linux, start-up included.
  Wine's desktop process is kept up through all rounds (`bench/hold_desktop.c`), so that no
  run pays the desktop's own start-up (~300 ms) by chance of timing.
- cabextract: native `cabextract -q -d DIR CAB`, for reference.
- whole ratio (on the installer's row): installer ÷ extrac32 medians, same payload.
- work ratio: installer ÷ (extrac32 − extrac32 on a one-file cabinet), medians of the same
  rounds: the installer against extrac32's extraction work alone, without its start-up and exit.
- extrac32 library to exit: extrac32 started by `bench/driver.cpp` with Wine's trace of library
  loads on (WINEDEBUG={trace}: lines only at library loads and the driver's marks), from its
  load of the cabinet library to the driver's mark of its exit, on Wine's trace clock; one
  such run in each round. Its extraction work measured directly, exit included.
- library ratio: installer ÷ that, medians. Unlike the work ratio it does not hang on the
  difference of two noisy start-ups; the installer's click-to-library time counts against it.
- spread: the fastest and slowest run.

{table}

Wine's start-up in the extrac32 numbers: a bare no-op program takes the time on the last row,
and extrac32 itself on a one-file cabinet the time on the row before. Taking the latter out:

{adjusted}

Peak memory: the installer's and extrac32's from GetProcessMemoryInfo on the process handle
(sampled while it runs; extrac32's in one extra run started by `bench/driver.cpp`, since Wine
starts it in a process that is not a child of the wine command); cabextract's is wait4's
ru_maxrss.

## Stub

- size: {size} bytes ({kib:.1f} KiB)
- imports: {imports}
- last section's raw data ends at {end} bytes; {trailing}

## Every run (ms, in order)

{runs}

![medians](results.png)
""".format(arch=bench.arch, epoch=EPOCH, trace=LIBRARY_TRACE, keep=KEEP_TREES_OVER, nl=file_counts["large"], ns=file_counts["small"], cl=cab_sizes["large"],
           cs=cab_sizes["small"], table=table, adjusted="\n".join(adjusted), size=s["size"],
           kib=s["size"] / 1024.0, imports=", ".join(s["imports"]), end=s["sections_end"],
           trailing="nothing follows it" if s["trailing"] == 0
           else "%d bytes follow it" % s["trailing"], runs="\n".join(runs))
    with open(os.path.join(out, "results.md"), "w") as f:
        f.write(text)

    with open(os.path.join(out, "results.dat"), "w") as f:
        f.write("# contender, then median ms for: %s\n" % " ".join(PAYLOADS))
        for i, contender in enumerate(CONTENDERS):
            f.write('%d "%s" %s\n' % (i, contender,
                                      " ".join("%.1f" % med[(p, contender)] for p in PAYLOADS)))
        # What the work ratio compares with: extrac32 without its start-up and exit.
        f.write('%d "extrac32 work" %s\n' % (len(CONTENDERS), " ".join(
            "%.1f" % max(med[(p, "extrac32")] - startup, 0.0) for p in PAYLOADS)))
        f.write('%d "extrac32 library" %s\n' % (len(CONTENDERS) + 1, " ".join(
            "%.1f" % med[(p, LIBRARY)] for p in PAYLOADS)))
    return table, adjusted


def chart(out, noop_ms, tiny_ms, arch):
    # One panel per payload: their times differ by an order of magnitude.
    panels = []
    for column, payload in enumerate(PAYLOADS, start=3):
        panels.append("""
set title "{payload} payload"
plot dat using 1:{col}:($1+1):xtic(2) with boxes lc variable notitle, \\
     dat using 1:{col}:(sprintf("%.0f", ${col})) with labels offset 0,0.8 notitle
""".format(payload=payload, col=column))
    script = """
set terminal pngcairo size 1100,520 font "sans,11"
set output "{png}"
dat = "{dat}"
set multiplot layout 1,2 title "{arch}: median extraction time, ms (installer: click to exit; \\
extrac32: whole wine command, of which start-up on one file {tiny:.0f} ms; wine no-op {noop:.0f} ms)" font "sans,10"
set style fill solid 0.85 border -1
set boxwidth 0.7
set xrange [-0.6:4.6]
set yrange [0:*]
set offsets 0,0,graph 0.08,0
set grid ytics
set ylabel "ms"
{panels}
unset multiplot
""".format(png=os.path.join(out, "results.png"), dat=os.path.join(out, "results.dat"),
           noop=noop_ms, tiny=tiny_ms, panels="".join(panels), arch=arch)
    run(["gnuplot"], input=script, text=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--sfxpack", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--noop", required=True)
    parser.add_argument("--hold", required=True, help="bench/hold_desktop.c, built")
    parser.add_argument("--timed-run", required=True)
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--arch", default="x86", help="label of the stub's architecture")
    parser.add_argument("--payloads", help="folder of the generated payloads (default OUT/payload)")
    parser.add_argument("--compare", action="append", default=[], metavar="LABEL=STUB",
                        help="also time the installer made with this stub, in the same rounds")
    parser.add_argument("--bar", action="store_true",
                        help="also time the installer packed with --progress-bar (\"bar\")")
    parser.add_argument("--threads", default="",
                        help="comma-separated thread counts: also time the installer with "
                             "ORVANTA_THREADS set to each (\"N threads\")")
    args = parser.parse_args()
    if args.runs < 3:
        sys.exit("bench: at least 3 runs each")
    global TIMED_RUN
    TIMED_RUN = os.path.abspath(args.timed_run)
    out = os.path.abspath(args.out)
    args.out = out

    payload_root = prepare_payloads(args.payloads or os.path.join(out, "payload"))
    exes, cabs, cab_sizes, file_counts = {}, {}, {}, {}
    for payload in PAYLOADS + ("tiny",):
        exes[payload] = os.path.join(out, payload + ".exe")
        cabs[payload] = os.path.join(out, payload + ".cab")
        cab_sizes[payload] = pack(args.sfxpack, args.stub, os.path.join(payload_root, payload),
                                  exes[payload], cabs[payload])
        file_counts[payload] = len(files_under(os.path.join(payload_root, payload)))
    facts = stub_facts(args.stub, args.objdump)
    compare = []  # (label, {payload: exe})
    variants = [item.partition("=")[::2] + ((),) for item in args.compare]
    if args.bar:
        variants.append(("bar", args.stub, ("--progress-bar",)))
    for label, stub, options in variants:
        packed = {}
        for payload in PAYLOADS:
            packed[payload] = os.path.join(out, "%s-%s.exe" % (payload, label))
            pack(args.sfxpack, stub, os.path.join(payload_root, payload), packed[payload],
                 packed[payload] + ".cab", options)
        compare.append((label, packed))

    threads = [int(n) for n in args.threads.split(",") if n.strip()]
    with desktop_held(args.hold):
        bench = run_rounds(args, exes, cabs, compare, payload_root, threads)
    table, adjusted = report(bench, facts, cab_sizes, file_counts, out)
    noop_ms = statistics.median(bench.samples[("wine start-up", "no-op program")])
    tiny_ms = statistics.median(bench.samples[("tiny", "extrac32")])
    chart(out, noop_ms, tiny_ms, args.arch)

    print()
    print(table)
    print()
    print("\n".join(adjusted))
    print()
    print("stub: %d bytes (%.1f KiB), imports %s, %s after the last section"
          % (facts["size"], facts["size"] / 1024.0, ", ".join(facts["imports"]),
             "nothing" if facts["trailing"] == 0 else "%d bytes" % facts["trailing"]))
    print("bench: wrote %s and %s" % (os.path.join(out, "results.md"),
                                      os.path.join(out, "results.png")))


def threads_label(n):
    return "%d thread%s" % (n, "" if n == 1 else "s")


def run_rounds(args, exes, cabs, compare, payload_root, threads=()):
    """Every timed run, in rounds, after one untimed warm-up round."""
    bench = Bench(args)
    bench.compare = [label for label, _ in compare] + [threads_label(n) for n in threads]
    if os.path.exists(bench.work):
        # An earlier run's trees: gone, and out of ext4's recent past, before anything is timed.
        shutil.rmtree(bench.work)
        settle()
    # One untimed round: page cache, Wine's DLLs and its desktop process all warm.
    for payload in PAYLOADS:
        bench.installer(payload, exes[payload], os.path.join(payload_root, payload))
    bench.samples.clear()
    bench.memory.clear()
    # extrac32's memory, read in runs of its own (kept).
    for payload in PAYLOADS:
        bench.memory_of_extrac32(payload, cabs[payload], os.path.join(payload_root, payload))
    bench.memory_of_extrac32("tiny", cabs["tiny"], os.path.join(payload_root, "tiny"))

    for i in range(args.runs):
        for payload in PAYLOADS:
            steps = [lambda p=payload: bench.installer(p, exes[p], os.path.join(payload_root, p)),
                     lambda p=payload: bench.extrac32(p, cabs[p], os.path.join(payload_root, p)),
                     lambda p=payload: bench.cabextract(p, cabs[p], os.path.join(payload_root, p)),
                     lambda p=payload: bench.extrac32_library(p, cabs[p],
                                                              os.path.join(payload_root, p))]
            steps += [lambda p=payload, l=label, e=packed: bench.installer(
                p, e[p], os.path.join(payload_root, p), "installer " + l) for label, packed in compare]
            steps += [lambda p=payload, n=n: bench.installer(
                p, exes[p], os.path.join(payload_root, p), "installer " + threads_label(n),
                dict(os.environ, ORVANTA_THREADS=str(n))) for n in threads]
            shift = i % len(steps)
            for step in steps[shift:] + steps[:shift]:
                step()
        bench.extrac32("tiny", cabs["tiny"], os.path.join(payload_root, "tiny"))
        bench.noop()
        print("bench: round %d/%d done" % (i + 1, args.runs), flush=True)
    shutil.rmtree(bench.work, ignore_errors=True)
    return bench


if __name__ == "__main__":
    main()
