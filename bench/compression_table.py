#!/usr/bin/env python3
"""The compression table of README.md: sizes and pack speeds of sfxpack's compressions against
gzip, xz and zstd on the same payload, and the installer's extraction time under Wine against
extrac32 on the same LZX cabinet. A benchmark: it measures, it does not judge.

    compression_table.py --out DIR --sfxpack SFXPACK --stub STUB [--extraction --driver EXE
                         --hold EXE --timed-run PROG [--runs N]] [--cores-only]

The payload: 300 of Wine's own x86-64 DLLs, the 101st to 400th largest by `ls -S` of
/usr/lib/x86_64-linux-gnu/wine/x86_64-windows (copied to DIR/payload with a fixed time).
Every compressor runs on one core (taskset -c 0); sfxpack's default LZX row also runs on two
(taskset -c 0,1), on the one-folder payload and on the same payload cut into several cabinets
(--part-size), whose folders sfxpack compresses on every core it may use. Results:
DIR/compression.md.
"""
import argparse
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run_bench  # noqa: E402  (the timed runs of the installer and of extrac32)

DLLS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
FIRST, LAST = 101, 400  # ranks by size, largest first, as `ls -S` lists them
EPOCH = 1700000000
PART = 10 * 1000 * 1000  # --part-size of the several-cabinet run: folders of at most that

# sfxpack's rows: label, options.
SFXPACK_ROWS = [("sfxpack none", ["--compression", "none"]),
                ("sfxpack MSZIP", ["--compression", "mszip"])]
SFXPACK_ROWS += [("sfxpack LZX:%d" % w, ["--compression", "lzx:%d" % w]) for w in range(15, 22)]
SFXPACK_ROWS += [("sfxpack LZX:21 level %d" % l, ["--compression", "lzx:21", "--level", str(l)])
                 for l in (1, 3)]
DEFAULT_LZX = "sfxpack LZX:21"

# The reference compressors, over one tar of the payload: label, command (stdin to stdout).
TOOLS = [("gzip -9", ["gzip", "-9", "-c"]),
         ("xz -9, 32 KiB dictionary", ["xz", "-T1", "-c", "--lzma2=preset=9,dict=32KiB"]),
         ("xz -9, 2 MiB dictionary", ["xz", "-T1", "-c", "--lzma2=preset=9,dict=2MiB"]),
         ("zstd -19 --long=21", ["zstd", "-T1", "-19", "--long=21", "-c", "-q"])]


def make_payload(out):
    """Copies the 101st to 400th largest DLLs to out once; returns their total size."""
    listed = subprocess.run(["ls", "-S", DLLS], capture_output=True, text=True,
                            check=True).stdout.split()
    names = listed[FIRST - 1:LAST]
    if len(names) != LAST - FIRST + 1:
        sys.exit("compression_table: %s has %d files, fewer than %d" % (DLLS, len(listed), LAST))
    present = sorted(os.listdir(out)) if os.path.isdir(out) else []
    if present != sorted(names):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        for n in names:
            shutil.copyfile(os.path.join(DLLS, n), os.path.join(out, n))
            os.utime(os.path.join(out, n), (EPOCH, EPOCH))
    return sum(os.path.getsize(os.path.join(out, n)) for n in names)


def timed(cmd, **kw):
    """Runs cmd: (wall seconds, processor seconds of its children)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(cmd, check=True, **kw)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def pack(args, payload, exe, options, cores="0", part=None):
    """Packs payload into exe with sfxpack on cores: (wall s, CPU s, bytes of cabinets)."""
    for n in os.listdir(os.path.dirname(exe)):  # parts of an earlier run
        if n.startswith(os.path.basename(exe)[:-4] + "-") and n.endswith(".cab"):
            os.remove(os.path.join(os.path.dirname(exe), n))
    extra = ["--part-size", str(part)] if part else []
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH))
    wall, cpu = timed(["taskset", "-c", cores, args.sfxpack, payload, "-o", exe, "--stub",
                       args.stub, "--execution-level", "asInvoker"] + options + extra,
                      env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(exe, "rb") as f:
        size = os.path.getsize(exe) - run_bench.sections_end(f.read(1 << 16))
    stem = os.path.basename(exe)[:-4] + "-"
    for n in os.listdir(os.path.dirname(exe)):
        if n.startswith(stem) and n.endswith(".cab"):
            size += os.path.getsize(os.path.join(os.path.dirname(exe), n))
    return wall, cpu, size


def tool_row(tar, cmd, out):
    """Compresses tar with cmd on one core: (wall s, CPU s, bytes)."""
    with open(tar, "rb") as src, open(out, "wb") as dst:
        wall, cpu = timed(["taskset", "-c", "0"] + cmd, stdin=src, stdout=dst)
    return wall, cpu, os.path.getsize(out)


def sizes_and_speeds(args, payload, total):
    """Rows of (label, bytes, wall s, CPU s) and the one-versus-two-core runs."""
    work = os.path.join(args.out, "packed")
    os.makedirs(work, exist_ok=True)
    rows = []
    for label, options in SFXPACK_ROWS:
        exe = os.path.join(work, label.split(" ", 1)[1].replace(" ", "-").replace(":", "") + ".exe")
        wall, cpu, size = pack(args, payload, exe, options)
        rows.append((label, size, wall, cpu))
        print("compression_table: %s: %d bytes in %.1f s" % (label, size, wall), flush=True)
    tar = os.path.join(work, "payload.tar")
    subprocess.run(["tar", "--sort=name", "--mtime=@%d" % EPOCH, "--owner=0", "--group=0",
                    "--numeric-owner", "-cf", tar, "-C", payload, "."], check=True)
    for label, cmd in TOOLS:
        wall, cpu, size = tool_row(tar, cmd, os.path.join(work, "payload.tar.out"))
        rows.append((label, size, wall, cpu))
        print("compression_table: %s: %d bytes in %.1f s" % (label, size, wall), flush=True)
    os.remove(os.path.join(work, "payload.tar.out"))
    return rows, os.path.getsize(tar)


def one_and_two_cores(args, payload):
    """sfxpack's default LZX on one core and on two: (payload as packed, cores, wall s,
    CPU s, folders)."""
    work = os.path.join(args.out, "packed")
    os.makedirs(work, exist_ok=True)
    cores = []
    options = dict(SFXPACK_ROWS)[DEFAULT_LZX]
    exe = os.path.join(work, "cores.exe")
    for what, part in [("one folder", None), ("cabinets of %d MB" % (PART // 10**6), PART)]:
        for cpus in ("0", "0,1"):
            wall, cpu, _ = pack(args, payload, exe, options, cpus, part)
            listed = subprocess.run([args.sfxpack, "--list", exe], capture_output=True,
                                    text=True, check=True).stdout
            folders = re.search(r"^compression: .*, (\d+) folders?", listed, re.M)
            cores.append((what, len(cpus.split(",")), wall, cpu,
                          int(folders[1]) if folders else 0))
    return cores


def extraction(args, payload):
    """Medians (ms) of the installer (driver) and of extrac32 on the same cabinets: LZX:21 at
    the default level, and MSZIP for reference."""
    run_bench.TIMED_RUN = os.path.abspath(args.timed_run)
    work = os.path.join(args.out, "extraction")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    packed = {}
    for label in ("MSZIP", "LZX:21"):
        exe, cab = os.path.join(work, label.replace(":", "") + ".exe"), None
        cab = exe[:-4] + ".cab"
        options = dict(SFXPACK_ROWS)["sfxpack " + label]
        run_bench.pack(args.sfxpack, args.stub, payload, exe, cab,
                       options + ["--execution-level", "asInvoker"])
        packed[label] = (exe, cab)
    bench_args = argparse.Namespace(out=work, driver=args.driver, arch="x64")
    bench = run_bench.Bench(bench_args)
    with run_bench.desktop_held(args.hold):
        for label, (exe, cab) in packed.items():  # untimed warm-up
            bench.installer(label, exe, payload)
        bench.samples.clear()
        for i in range(args.runs):
            for label, (exe, cab) in packed.items():
                bench.installer(label, exe, payload)
                bench.extrac32(label, cab, payload)
                bench.extrac32_library(label, cab, payload)
            print("compression_table: extraction round %d/%d" % (i + 1, args.runs), flush=True)
    shutil.rmtree(work, ignore_errors=True)
    return {k: statistics.median(v) for k, v in bench.samples.items()}


def mb(n):
    return "%.1f MB" % (n / 1e6)


def report(total, tar_size, rows, cores, times, runs):
    lines = ["Payload: 300 of Wine's x86-64 DLLs (the 101st to 400th largest of %s), %s in 300 "
             "files." % (DLLS, mb(total))]
    if rows:
        mszip = dict((label, size) for label, size, _, _ in rows)["sfxpack MSZIP"]
        lines += ["The reference tools compress one tar of them (%s, sorted by name, as sfxpack "
                  "orders a folder). Every compressor on one core (taskset -c 0); speed = payload "
                  "bytes ÷ wall time (÷ processor time in brackets)." % mb(tar_size), "",
                  "| Compression | Size | × MSZIP | Pack speed |", "|---|---:|---:|---:|"]
        for label, size, wall, cpu in rows:
            lines.append("| %s | %s | %.3f | %.1f MB/s (%.1f) |"
                         % (label, mb(size), size / mszip, total / 1e6 / wall, total / 1e6 / cpu))
    if cores:
        lines += ["", "sfxpack LZX:21 (default level) on one core (taskset -c 0) and on two "
                  "(taskset -c 0,1):", "",
                  "| Payload as packed | Folders | Cores | Wall | Processor | Speed (wall) |",
                  "|---|---:|---:|---:|---:|---:|"]
        for what, n, wall, cpu, folders in cores:
            lines.append("| %s | %d | %d | %.1f s | %.1f s | %.1f MB/s |"
                         % (what, folders, n, wall, cpu, total / 1e6 / wall))
    if times:
        lines += ["", "Extraction under 64-bit Wine, median of %d runs, ms (bench/run_bench.py's "
                  "runs: the installer through the driver; extrac32 whole, and from its load of "
                  "cabinet.dll to its exit):" % runs, "",
                  "| Cabinet | Installer | extrac32 | extrac32 library to exit | Installer ÷ "
                  "extrac32 library to exit |", "|---|---:|---:|---:|---:|"]
        for label in ("MSZIP", "LZX:21"):
            inst, ext = times[(label, "installer")], times[(label, "extrac32")]
            lib = times[(label, run_bench.LIBRARY)]
            lines.append("| %s | %.0f | %.0f | %.0f | %.2f |" % (label, inst, ext, lib, inst / lib))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--sfxpack", required=True)
    parser.add_argument("--stub", required=True, help="the x64 stub (OrvantaSfx.exe)")
    parser.add_argument("--extraction", action="store_true",
                        help="also time the installer against extrac32 under Wine")
    parser.add_argument("--driver", help="bench/driver.cpp, built for x64")
    parser.add_argument("--hold", help="bench/hold_desktop.c, built for x64")
    parser.add_argument("--timed-run", help="bench/timed_run.c, built")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cores-only", action="store_true",
                        help="only the one-versus-two-core runs")
    args = parser.parse_args()
    if args.extraction and not (args.driver and args.hold and args.timed_run):
        sys.exit("compression_table: --extraction needs --driver, --hold and --timed-run")
    args.out = os.path.abspath(args.out)
    payload = os.path.join(args.out, "payload")
    total = make_payload(payload)
    rows, tar_size = sizes_and_speeds(args, payload, total) if not args.cores_only else (None, 0)
    cores = one_and_two_cores(args, payload)
    times = extraction(args, payload) if args.extraction and not args.cores_only else None
    text = report(total, tar_size, rows, cores, times, args.runs)
    with open(os.path.join(args.out, "compression.md"), "w") as f:
        f.write(text)
    print(text)


if __name__ == "__main__":
    main()
