#!/usr/bin/env python3
"""Which single file sizes, up to what one cabinet folder holds, the platform's cabinet library
extracts correctly under Wine, through the real stub; and whether gcab and Wine's cabarc write
such a file correctly (read back with cabextract).

    largest_file.py --work DIR --sfxpack SFXPACK --arch x86|x64 --stub STUB --press PRESS
                    [--sizes N,...] [--writers]

Run inside that architecture's Wine session, e.g.
    ORVANTA_ARCH=x64 bash -c '. scripts/wine-env; orvanta_session_start; python3 \
      bench/largest_file.py --work /tmp/lf --sfxpack build/sfxpack --arch x64 \
      --stub build/x64/OrvantaSfx.exe --press build/x64/tests/press_extract.exe; \
      orvanta_session_stop'
It needs about 7 GB free in the work folder. Each size is packed once per
work folder (the cabinet is cut from the x86 installer and wrapped unchanged for x64). Prints
one tab-separated line per attempt: what, size, result.
"""
import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run_bench  # noqa: E402
import run_large  # noqa: E402

FOLDER_MAX = 65535 * 32768  # bytes of uncompressed data one cabinet folder holds
SIZES = (FOLDER_MAX, FOLDER_MAX - 1, FOLDER_MAX - 32768)
RECORD = 64  # bytes per line of the pattern


def pattern(offset, count):
    """count lines of the pattern from line offset: each names its own byte offset, so a block
    lost, repeated or moved changes the digest (zeros would hide it), and it compresses."""
    return b"".join(b"%016x ~ position-tagged line of the largest-file probe ~~~~~~~~\n"
                    % ((offset + i) * RECORD) for i in range(count))


def write_pattern(path, size):
    # Made once at the largest size and cut down for the smaller ones.
    if os.path.exists(path) and os.path.getsize(path) >= size:
        with open(path, "r+b") as f:
            f.truncate(size)
        return
    lines_per_chunk = (1 << 20) // RECORD
    with open(path, "wb") as f:
        line = 0
        while line * RECORD < size:
            f.write(pattern(line, lines_per_chunk))
            line += lines_per_chunk
        f.truncate(size)
    os.utime(path, (run_bench.make_payloads.MTIME, run_bench.make_payloads.MTIME))


digest = run_large.file_digest


def cut_cabinet(exe, cab):
    """The installer's overlay: the cabinet, to wrap unchanged with the other stub."""
    with open(exe, "rb") as f:
        f.seek(run_bench.sections_end(f.read(1 << 16)))
        with open(cab, "wb") as c:
            shutil.copyfileobj(f, c, 1 << 20)


def report(what, size, result):
    print("%s\t%d\t%s" % (what, size, result), flush=True)


def through_stub(args, size, want, src_dir, cab):
    """Packs (or wraps the x86 cabinet), extracts through the stub with press_extract."""
    exe = os.path.join(args.work, "big-%d-%s.exe" % (size, args.arch))
    env = dict(os.environ, SOURCE_DATE_EPOCH=run_bench.EPOCH)
    source = cab if os.path.exists(cab) else src_dir
    r = subprocess.run([args.sfxpack, source, "-o", exe, "--stub", args.stub,
                        "--execution-level", "asInvoker"], env=env, capture_output=True, text=True)
    if r.returncode != 0:
        report("sfxpack " + args.arch, size, "refused: " + r.stderr.strip().replace("\n", " | "))
        return
    if source != cab:
        cut_cabinet(exe, cab)
    work = os.path.join(args.work, "run-%d-%s" % (size, args.arch))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    p = subprocess.run(["wine", args.press, run_bench.wine_path(exe), run_bench.wine_path(work)],
                       capture_output=True, timeout=900)
    out = p.stdout.decode("utf-8", "replace").replace("\r", "")
    boxes = [line for line in out.splitlines() if line.startswith(("error\t", "notice\t", "exit\t"))]
    got = os.path.join(work, "Extract", "big.bin")
    if os.path.exists(got):
        same = digest(got) == want
        result = "sha256 %s (%d bytes written)" % ("matches" if same else "DIFFERS",
                                                    os.path.getsize(got))
    else:
        result = "no file written"
    report("stub " + args.arch, size, result + "; " + "; ".join(boxes))
    shutil.rmtree(work, ignore_errors=True)
    os.remove(exe)


def through_writers(args, size, want, src_dir):
    """gcab and Wine's cabarc writing the same file, cabextract reading it back."""
    writers = {
        "gcab": lambda cab: ["gcab", "-c", "-z", cab, "big.bin"],
        "cabarc": lambda cab: ["wine", "cabarc", "-m", "mszip", "N",
                               run_bench.wine_path(cab), "big.bin"],
    }
    for name, command in writers.items():
        cab = os.path.join(args.work, "%s-%d.cab" % (name, size))
        r = subprocess.run(command(cab), cwd=src_dir, capture_output=True, timeout=1800)
        if r.returncode != 0 or not os.path.exists(cab):
            report(name, size, "failed (%d): %s" % (r.returncode, r.stderr.decode(
                "utf-8", "replace").strip()[-300:]))
            continue
        out = os.path.join(args.work, "cabextract-" + name)
        shutil.rmtree(out, ignore_errors=True)
        x = subprocess.run(["cabextract", "-q", "-d", out, cab], capture_output=True, timeout=1800)
        got = os.path.join(out, "big.bin")
        if os.path.exists(got):
            result = "sha256 %s (%d bytes)" % ("matches" if digest(got) == want else "DIFFERS",
                                               os.path.getsize(got))
        else:
            result = "no file"
        with open(cab, "rb") as f:
            head = f.read(36)
        folders = int.from_bytes(head[26:28], "little")
        report(name, size, "cabinet %d bytes, %d folder(s); cabextract exit %d: %s %s" % (
            os.path.getsize(cab), folders, x.returncode, result,
            x.stderr.decode("utf-8", "replace").strip()[-300:]))
        shutil.rmtree(out, ignore_errors=True)
        os.remove(cab)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--sfxpack", required=True)
    parser.add_argument("--arch", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--press", required=True)
    parser.add_argument("--sizes", default=",".join(str(s) for s in SIZES))
    parser.add_argument("--writers", action="store_true", help="also gcab and cabarc")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    src_dir = os.path.join(args.work, "src")
    os.makedirs(src_dir, exist_ok=True)
    # Largest first: the file is written once and cut down.
    for size in sorted((int(s) for s in args.sizes.split(",")), reverse=True):
        write_pattern(os.path.join(src_dir, "big.bin"), size)
        want = digest(os.path.join(src_dir, "big.bin"))
        cab = os.path.join(args.work, "big-%d.cab" % size)
        through_stub(args, size, want, src_dir, cab)
        if args.writers:
            through_writers(args, size, want, src_dir)


if __name__ == "__main__":
    main()
