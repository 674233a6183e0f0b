#!/usr/bin/env python3
"""The long benchmark: the installer against Wine's extrac32 on a 3 GiB payload, in MB/s.

Run by scripts/bench --large (or with ORVANTA_LONG=1) inside one architecture's Wine session.
The payload (bench/make_payloads.py make_huge) is a few files: a share of random bytes given by
--incompressible, the rest half text, half zeros. Packed by sfxpack, it is an installer, and
when its cabinet is too large for one file, the later cabinets of the set beside it. extrac32 is
given the same cabinets: Wine's extrac32 ignores /A (it reads one cabinet per command, and
follows the set only for a file that continues into the next), so it runs once per cabinet,
in the set's order, and the commands' times are added. Writes OUT/large.md.
"""
import argparse
import hashlib
import os
import shutil
import statistics
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_payloads  # noqa: E402
import run_bench  # noqa: E402

CONTENDERS = ("installer", "extrac32")
PREV_CABINET, NEXT_CABINET, RESERVE_PRESENT = 0x1, 0x2, 0x4


# ---------------------------------------------------------------- cabinets

def next_cabinet(header):
    """The name of the next cabinet of the set that header (a cabinet's first bytes) names, or
    None. Its two strings follow the fixed header, the reserve and the previous cabinet's."""
    if header[:4] != b"MSCF" or len(header) < 36:
        raise ValueError("not a cabinet header")
    flags = struct.unpack_from("<H", header, 0x1E)[0]
    if not flags & NEXT_CABINET:
        return None
    pos = 36
    if flags & RESERVE_PRESENT:
        pos += 4 + struct.unpack_from("<H", header, 36)[0]
    strings = header[pos:].split(b"\0")
    skip = 2 if flags & PREV_CABINET else 0
    if len(strings) < skip + 2:  # the name and its disk, each ended by a zero
        raise ValueError("cabinet header cut short")
    name = strings[skip].decode("ascii")
    if not name or "/" in name or "\\" in name:
        raise ValueError("unusable next cabinet name %r" % name)
    return name


def cabinet_chain(first, folder):
    """first, then each later cabinet of its set, found in folder."""
    chain = [first]
    while True:
        with open(chain[-1], "rb") as f:
            name = next_cabinet(f.read(36 + 4 + 60000 + 2 * 512))
        if name is None:
            return chain
        path = os.path.join(folder, name)
        if path in chain or len(chain) > 64:
            raise ValueError("cabinet set loops or has no end")
        chain.append(path)


def cut_first_cabinet(exe, cab):
    """The installer's overlay: the set's first cabinet, for extrac32."""
    with open(exe, "rb") as f:
        f.seek(run_bench.sections_end(f.read(1 << 16)))
        with open(cab, "wb") as c:
            shutil.copyfileobj(f, c, 1 << 20)
    with open(cab, "rb") as c:
        header = c.read(12)
    if header[:4] != b"MSCF" or struct.unpack_from("<I", header, 8)[0] != os.path.getsize(cab):
        sys.exit("bench: the overlay of %s is not one whole cabinet" % exe)


# ---------------------------------------------------------------- trees

def file_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 22), b""):
            h.update(chunk)
    return h.hexdigest()


def tree_digests(root):
    return {rel: file_digest(path) for rel, path in run_bench.files_under(root).items()}


def check_digests(extracted, want):
    got = tree_digests(extracted) if os.path.isdir(extracted) else {}
    if got != want:
        differ = sorted(rel for rel in set(got) | set(want) if got.get(rel) != want.get(rel))
        sys.exit("bench: %s differs from the payload (sha256): %s" % (extracted, differ[:4]))


def prepare(root, incompressible):
    """The payload once per generator version and share; its files' digests."""
    with open(os.path.join(HERE, "make_payloads.py"), "rb") as f:
        stamp = "%s %r" % (hashlib.sha256(f.read()).hexdigest(), incompressible)
    stamp_file = os.path.join(root, ".stamp")
    digests_file = os.path.join(root, ".digests")
    if not (os.path.exists(stamp_file) and open(stamp_file).read() == stamp):
        print("bench: generating the 3 GiB payload (%.2f incompressible)" % incompressible,
              flush=True)
        make_payloads.make_huge(os.path.join(root, "huge"), incompressible)
        with open(digests_file, "w") as f:
            for rel, digest in sorted(tree_digests(os.path.join(root, "huge")).items()):
                f.write("%s %s\n" % (digest, rel))
        with open(stamp_file, "w") as f:
            f.write(stamp)
    with open(digests_file) as f:
        return dict(reversed(line.rstrip("\n").split(" ", 1)) for line in f)


# ---------------------------------------------------------------- runs

def mb_per_s(total_bytes, ms):
    return total_bytes / 1e6 / (ms / 1000.0)


class LargeBench:
    def __init__(self, args, want):
        self.args, self.want = args, want
        self.work = os.path.join(args.out, "large-work")
        self.samples = {c: [] for c in CONTENDERS}
        self.count = 0

    def fresh(self, tag):
        self.count += 1
        path = os.path.join(self.work, "%s-%d" % (tag, self.count))
        os.makedirs(path)
        return path

    def done(self, contender, ms, extracted, workdir):
        check_digests(extracted, self.want)
        shutil.rmtree(workdir)
        os.sync()  # one run's write-back stays out of the next one's time
        self.samples[contender].append(ms)
        print("bench: %s %.0f ms" % (contender, ms), flush=True)

    def installer(self, exe, later):
        # The later cabinets stay beside the installer, where it looks for them first.
        assert all(os.path.dirname(p) == os.path.dirname(exe) for p in later)
        workdir = self.fresh("installer")
        code, _, _, out, err = run_bench.timed(["wine", self.args.driver,
                                                run_bench.wine_path(exe),
                                                run_bench.wine_path(workdir)])
        fields = dict(item.split("=", 1) for item in out.split() if "=" in item)
        if code != 0 or "elapsed_ms" not in fields:
            sys.exit("bench: installer run failed (%d): %s %s" % (code, out, err))
        self.done("installer", float(fields["elapsed_ms"]), os.path.join(workdir, "Extract"),
                  workdir)

    def extrac32(self, chain):
        workdir = self.fresh("extrac32")
        dest = os.path.join(workdir, "out")
        total = 0.0
        for cab in chain:
            code, ms, _, _, err = run_bench.timed(["wine", "extrac32", "/E", "/L",
                                                   run_bench.wine_path(dest),
                                                   run_bench.wine_path(cab)])
            if code != 0:
                sys.exit("bench: extrac32 failed (%d): %s" % (code, err))
            total += ms
        self.done("extrac32", total, dest, workdir)


def report(arch, samples, total_bytes, layout, cab_sizes, incompressible):
    rows = ["| arch | payload | contender | runs | median s | MB/s (median) | spread s |",
            "| --- | --- | --- | ---: | ---: | ---: | --- |"]
    for contender in CONTENDERS:
        values = samples[contender]
        med = statistics.median(values)
        rows.append("| %s | 3 GiB | %s | %d | %.1f | %.0f | %.1f–%.1f |"
                    % (arch, contender, len(values), med / 1000.0, mb_per_s(total_bytes, med),
                       min(values) / 1000.0, max(values) / 1000.0))
    ratio = statistics.median(samples["installer"]) / statistics.median(samples["extrac32"])
    files = "\n".join("- %s: %d bytes, %s" % entry for entry in layout)
    cabs = "\n".join("- %s: %d bytes" % item for item in cab_sizes)
    runs = "\n".join("- %s: %s" % (c, ", ".join("%.0f" % v for v in samples[c]))
                     for c in CONTENDERS)
    return """# Long benchmark, {arch} stub under {arch} Wine: 3 GiB

Payload (`bench/make_payloads.py` make_huge, {share:.2f} of the bytes random, the rest half
text, half zeros), {total} bytes in {n} files:

{files}

Cabinets (sfxpack, SOURCE_DATE_EPOCH={epoch}; the first is the installer's overlay):

{cabs}

MB/s: uncompressed bytes of the files ÷ wall seconds, MB = 10^6 bytes. Installer: from the
posted click on "Extraire" to its exit (`bench/driver.cpp`). extrac32: `wine extrac32 /E /L DIR
CAB` once per cabinet of the set, start-up included, times added. Every run extracts into an
empty folder, checked file by file against the payload's sha256, then deleted and synced; the
order of the two alternates by round.

{table}

Installer ÷ extrac32, medians: {ratio:.2f}

Every run (ms, in order):

{runs}
""".format(arch=arch, share=incompressible, total=total_bytes, n=len(layout), files=files,
           epoch=run_bench.EPOCH, cabs=cabs, table="\n".join(rows), ratio=ratio, runs=runs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--payloads", required=True, help="folder for the generated payload")
    parser.add_argument("--stub", required=True)
    parser.add_argument("--sfxpack", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--hold", required=True)
    parser.add_argument("--timed-run", required=True)
    parser.add_argument("--arch", default="x86")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--incompressible", type=float, default=0.0,
                        help="share of random bytes in the payload, 0 to 1")
    args = parser.parse_args()
    if args.runs < 3:
        sys.exit("bench: at least 3 runs each")
    run_bench.TIMED_RUN = os.path.abspath(args.timed_run)
    args.out = os.path.abspath(args.out)

    want = prepare(os.path.abspath(args.payloads), args.incompressible)
    src = os.path.join(os.path.abspath(args.payloads), "huge")
    layout = make_payloads.huge_layout(3 * make_payloads.GiB, args.incompressible)
    total_bytes = sum(size for _, size, _ in layout)

    packed = os.path.join(args.out, "large")
    shutil.rmtree(packed, ignore_errors=True)
    os.makedirs(packed)
    exe = os.path.join(packed, "huge.exe")
    print("bench: packing the 3 GiB payload", flush=True)
    r = subprocess.run([args.sfxpack, src, "-o", exe, "--stub", args.stub],
                       env=dict(os.environ, SOURCE_DATE_EPOCH=run_bench.EPOCH),
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        sys.exit("bench: sfxpack refused the payload: %s" % r.stderr.strip())
    first = os.path.join(packed, "huge-first.cab")
    cut_first_cabinet(exe, first)
    chain = cabinet_chain(first, packed)
    cab_sizes = [(os.path.basename(p), os.path.getsize(p)) for p in chain]

    bench = LargeBench(args, want)
    shutil.rmtree(bench.work, ignore_errors=True)
    os.sync()  # the packing's write-back stays out of the first round
    with run_bench.desktop_held(args.hold):
        for i in range(args.runs):
            steps = [lambda: bench.installer(exe, chain[1:]), lambda: bench.extrac32(chain)]
            for step in steps[i % 2:] + steps[:i % 2]:
                step()
            print("bench: large round %d/%d done" % (i + 1, args.runs), flush=True)
    shutil.rmtree(bench.work, ignore_errors=True)
    text = report(args.arch, bench.samples, total_bytes, layout, cab_sizes, args.incompressible)
    with open(os.path.join(args.out, "large.md"), "w") as f:
        f.write(text)
    print(text)
    # The packed files are as large as the payload: only the report stays.
    shutil.rmtree(packed)


if __name__ == "__main__":
    main()
