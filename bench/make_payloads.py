#!/usr/bin/env python3
"""Writes the two benchmark payloads, the same bytes on every machine (fixed seeds).

    make_payloads.py OUTDIR

OUTDIR/large: about 100 MB in six files, compressible text and incompressible random data.
OUTDIR/small: 5,000 files of 64 B to 16 KiB in two levels of nested folders.

make_huge() writes the long benchmark's payload (bench/run_large.py): 3 GiB in a few files.
"""
import os
import random
import shutil
import sys

# Fixed times so that the packed cabinets do not depend on when the files were written.
MTIME = 1_700_000_000

WORDS = (
    "archive cabinet folder extract install package setup destination progress version "
    "window dialog button file block stream data header record table name size time "
    "attribute value system program library module thread message queue buffer offset "
    "length checksum compressed uncompressed deflate window literal match distance code "
    "le la les un une des du de et ou pour avec sans dans sur sous entre vers chez"
).split()

MiB = 1024 * 1024


def text(rng, size):
    """Lines of words with numbers: compresses about as well as logs and sources do."""
    parts, total = [], 0
    while total < size:
        n = rng.randint(4, 14)
        line = " ".join(rng.choices(WORDS, k=n)) + " %d\n" % rng.randrange(1_000_000)
        parts.append(line)
        total += len(line)
    return "".join(parts).encode("ascii")[:size]


def big_text(rng, size):
    # Repeating a few megabytes of generated text keeps generation fast; MSZIP's 32 KiB
    # window cannot see repeats that far apart, so compression stays realistic.
    chunk = text(rng, 4 * MiB)
    out = bytearray()
    while len(out) < size:
        out += chunk[rng.randrange(len(chunk) // 2):]
    return bytes(out[:size])


def mixed(rng, size):
    out = bytearray()
    while len(out) < size:
        n = rng.randint(4096, 256 * 1024)
        out += rng.randbytes(n) if rng.random() < 0.5 else text(rng, n)
    return bytes(out[:size])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (MTIME, MTIME))


def make_large(root):
    rng = random.Random(20240601)
    write(os.path.join(root, "docs", "manual.txt"), big_text(rng, 30 * MiB))
    write(os.path.join(root, "data", "random-a.bin"), rng.randbytes(25 * MiB))
    write(os.path.join(root, "logs", "install.log"), big_text(rng, 20 * MiB))
    write(os.path.join(root, "data", "random-b.bin"), rng.randbytes(12 * MiB))
    write(os.path.join(root, "data", "mixed.dat"), mixed(rng, 10 * MiB))
    write(os.path.join(root, "readme.txt"), text(rng, 3 * MiB))


def make_small(root):
    rng = random.Random(20240602)
    for top in range(20):
        for sub in range(10):
            folder = os.path.join(root, "mod%02d" % top, "part%d" % sub)
            for i in range(25):
                size = int(64 * (256 ** rng.random()))  # 64 B .. 16 KiB, mostly small
                if rng.random() < 0.3:
                    data, ext = rng.randbytes(size), ".bin"
                else:
                    data, ext = text(rng, size), ".txt"
                write(os.path.join(folder, "f%03d%s" % (i, ext)), data)


GiB = 1024 * MiB
HUGE_FILE_MAX = GiB  # a few files, none near what one cabinet folder holds


def huge_layout(total, incompressible):
    """(name, size, kind) of the huge payload: incompressible of the bytes random, the rest
    half text and half zeros; each kind cut into files of at most HUGE_FILE_MAX."""
    if not 0.0 <= incompressible <= 1.0:
        raise ValueError("incompressible must lie between 0 and 1")
    random_bytes = int(total * incompressible)
    text_bytes = (total - random_bytes) // 2
    amounts = (("data/random", ".bin", "random", random_bytes),
               ("docs/text", ".txt", "text", text_bytes),
               ("media/zeros", ".img", "zeros", total - random_bytes - text_bytes))
    layout = []
    for stem, ext, kind, amount in amounts:
        count = -(-amount // HUGE_FILE_MAX)
        for i in range(count):
            size = amount // count + (1 if i < amount % count else 0)
            layout.append(("%s-%d%s" % (stem, i + 1, ext), size, kind))
    return layout


def write_huge_file(path, size, kind, seed):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        if kind == "zeros":
            f.truncate(size)  # sparse: nothing large written here
        else:
            rng = random.Random(seed)
            chunk = text(rng, 4 * MiB) if kind == "text" else None
            left = size
            while left:
                if kind == "random":
                    piece = rng.randbytes(min(left, 16 * MiB))
                else:
                    # As big_text, in pieces: a few MiB of text repeated from random points.
                    piece = chunk[rng.randrange(len(chunk) // 2):][:left]
                f.write(piece)
                left -= len(piece)
    os.utime(path, (MTIME, MTIME))


def make_huge(root, incompressible, total=3 * GiB):
    shutil.rmtree(root, ignore_errors=True)
    for i, (name, size, kind) in enumerate(huge_layout(total, incompressible)):
        write_huge_file(os.path.join(root, *name.split("/")), size, kind, 20240700 + i)


def main_into(out):
    for name, make in (("large", make_large), ("small", make_small)):
        root = os.path.join(out, name)
        shutil.rmtree(root, ignore_errors=True)
        make(root)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_payloads.py OUTDIR")
    main_into(sys.argv[1])


if __name__ == "__main__":
    main()
