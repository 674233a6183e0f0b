#!/usr/bin/env python3
"""Runs the same sfxpack command lines with two builds of sfxpack and compares their stdout,
stderr, exit status and every file they leave, byte for byte: a change meant to keep the
output must show no difference. Both builds are copied beside the same stubs, so that --arch
and the default stub are pinned too. Only the --help text may differ, and only with
--allow-help-change (it is then shown).
usage: compare_builds.py OLD_SFXPACK NEW_SFXPACK STUB_DIR [--allow-help-change]
  STUB_DIR holds OrvantaSfx.exe and x64/OrvantaSfx.exe (e.g. build/ after scripts/build)."""
import difflib, os, random, shutil, struct, subprocess, sys, tempfile, zlib

if len(sys.argv) not in (4, 5) or sys.argv[4:] not in ([], ["--allow-help-change"]):
    sys.exit(__doc__)
allow_help = sys.argv[4:] == ["--allow-help-change"]
base = tempfile.mkdtemp(prefix="sfxpack-compare-")
stub_dir = os.path.abspath(sys.argv[3])


def beside_stubs(binary, name):
    """A copy of binary in its own folder, beside copies of the stubs."""
    folder = os.path.join(base, name)
    os.makedirs(os.path.join(folder, "x64"))
    shutil.copy(os.path.join(stub_dir, "OrvantaSfx.exe"), folder)
    shutil.copy(os.path.join(stub_dir, "x64", "OrvantaSfx.exe"), os.path.join(folder, "x64"))
    shutil.copy(binary, folder)
    return os.path.join(folder, os.path.basename(binary))


old_bin = beside_stubs(sys.argv[1], "old")
new_bin = beside_stubs(sys.argv[2], "new")
fx = os.path.join(base, "fx")      # fixtures, made once
run_dir = os.path.join(base, "run")  # where each case runs (same path for both binaries)
os.makedirs(fx)
X86 = os.path.join(stub_dir, "OrvantaSfx.exe")
X64 = os.path.join(stub_dir, "x64", "OrvantaSfx.exe")

def write(p, data, mtime=1600000000, ro=False):
    os.makedirs(os.path.dirname(p), exist_ok=True)
    with open(p, "wb") as f:
        f.write(data)
    os.utime(p, (mtime, mtime))
    os.chmod(p, 0o444 if ro else 0o644)

def dib(size, rgb):
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + struct.pack("<I", 0xFF000000 | rgb) * (size * size) + b"\0" * ((size + 31) // 32 * 4 * size)

def png(size, rgb):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    row = b"\0" + struct.pack(">I", rgb << 8 | 0xFF) * size
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(row * size)) + chunk(b"IEND", b""))

def ico(images):
    head, data = struct.pack("<HHH", 0, 1, len(images)), b""
    for size, image in images:
        head += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), 6 + 16 * len(images) + len(data))
        data += image
    return head + data

# Fixtures.
pkg = os.path.join(fx, "pkg")
write(os.path.join(pkg, "Setup.exe"), b"MZ setup\r\n" * 50, 1700000001)
write(os.path.join(pkg, "caf\u00e9.txt"), "caf\u00e9\r\n".encode(), 1600000000)
write(os.path.join(pkg, ".hidden"), b"not hidden on Windows", 1600000000)
write(os.path.join(pkg, "sub", "deep", "ro.txt"), b"read only\r\n", 1650000003, ro=True)
write(os.path.join(pkg, "sub", "big.bin"), random.Random(7).randbytes(100000), 1710000007)
big = os.path.join(fx, "bigpkg")
write(os.path.join(big, "Setup.exe"), b"MZ" * 100, 1700000001)
for i in range(4):
    write(os.path.join(big, "data%d.bin" % i), random.Random(i).randbytes(60000), 1700000000 + i)
mid = os.path.join(fx, "midpkg")
write(os.path.join(mid, "Setup.exe"), b"MZ" * 100, 1700000001)
for i in range(5):
    write(os.path.join(mid, "part%d.bin" % i), random.Random(10 + i).randbytes(20000), 1700000000 + i)
nosetup = os.path.join(fx, "nosetup")
write(os.path.join(nosetup, "readme.txt"), b"hello", 1600000000)
badname = os.path.join(fx, "badname")
write(os.path.join(badname, "Setup.exe"), b"MZ", 1600000000)
write(os.path.join(badname, "trailing."), b"x", 1600000000)
write(os.path.join(badname, "A.txt"), b"x", 1600000000)
write(os.path.join(badname, "a.TXT"), b"y", 1600000000)
icon = os.path.join(fx, "brand.ico")
write(icon, ico([(16, dib(16, 0xFF0000)), (32, dib(32, 0x00FF00)), (256, png(256, 0xFFFF00))]))
badicon = os.path.join(fx, "bad.ico")
write(badicon, png(16, 0))
notpe = os.path.join(fx, "notpe.exe")
write(notpe, b"this is not a program" * 10)
cab = os.path.join(fx, "payload.cab")
subprocess.run(["gcab", "-c", "-z", cab, os.path.join(pkg, "Setup.exe"), os.path.join(pkg, ".hidden")],
               check=True, cwd=fx, stdout=subprocess.DEVNULL)
os.chmod(cab, 0o644)
bigcab = os.path.join(fx, "big.cab")
subprocess.run(["gcab", "-c", "-z", bigcab, os.path.join(pkg, "Setup.exe"), os.path.join(pkg, "sub", "big.bin")],
               check=True, cwd=fx, stdout=subprocess.DEVNULL)
os.chmod(bigcab, 0o644)
EPOCH = {"SOURCE_DATE_EPOCH": "1650000000"}

# Installers to list and check, made by the old binary once.
def mk(name, args, env=EPOCH):
    r = subprocess.run([old_bin] + args + ["-o", os.path.join(fx, name)], env=dict(os.environ, **env),
                       capture_output=True)
    assert r.returncode == 0, r.stderr
    return os.path.join(fx, name)
good = mk("good.exe", [pkg, "--stub", X86, "--icon", icon, "--version-info", "FileVersion=1.2.3.4",
                       "--execution-level", "asInvoker", "--progress-bar"])
good64 = mk("good64.exe", [pkg, "--stub", X64, "--supported-os", "--dpi-aware"])
setinst = mk("set.exe", [big, "--stub", X64, "--part-size", "70000"])
noman = mk("plain.exe", [nosetup, "--stub", X86])
def damaged(src, name, fn):
    data = bytearray(open(src, "rb").read())
    data = fn(data)
    write(os.path.join(fx, name), bytes(data))
    return os.path.join(fx, name)
def flip_tail(d):
    d[-500] ^= 0xFF
    return d
flipped = damaged(good, "flipped.exe", flip_tail)
truncated = damaged(good, "truncated.exe", lambda d: d[:-1000])
appended = damaged(good, "appended.exe", lambda d: d + b"junk")
def no_mscf(d):
    i = d.rfind(b"MSCF")
    d[i] = ord("X")
    return d
nomscf = damaged(good, "nomscf.exe", no_mscf)
# A set with its last cabinet missing, and one with a damaged later cabinet.
brokenset = os.path.join(fx, "brokenset")
os.makedirs(brokenset)
for n in os.listdir(fx):
    if n.startswith("set"):
        shutil.copy(os.path.join(fx, n), brokenset)
later = sorted(n for n in os.listdir(brokenset) if n.endswith(".cab"))
assert len(later) >= 2, later
os.remove(os.path.join(brokenset, later[-1]))
damagedset = os.path.join(fx, "damagedset")
os.makedirs(damagedset)
for n in os.listdir(fx):
    if n.startswith("set"):
        shutil.copy(os.path.join(fx, n), damagedset)
p = os.path.join(damagedset, later[0])
d = bytearray(open(p, "rb").read()); d[-100] ^= 1; open(p, "wb").write(d)

R = run_dir
cases = [
    ("help", ["--help"], {}),
    ("help-extra", ["--help", "x"], {}),
    ("version", ["--version"], {}),
    ("no-args", [], {}),
    ("pack-x86", [pkg, "-o", R + "/a.exe", "--stub", X86], EPOCH),
    ("pack-x64", [pkg, "-o", R + "/a.exe", "--stub", X64], EPOCH),
    ("pack-arch-x64", [pkg, "-o", R + "/a.exe", "--arch", "x64"], EPOCH),
    ("pack-arch-x86", [pkg, "-o", R + "/a.exe", "--arch", "x86"], EPOCH),
    ("pack-default-stub", [pkg, "-o", R + "/a.exe"], EPOCH),
    ("pack-progress", [pkg, "-o", R + "/a.exe", "--stub", X86, "--progress-bar"], EPOCH),
    ("pack-icon", [pkg, "-o", R + "/a.exe", "--stub", X64, "--icon", icon], EPOCH),
    ("pack-version", [pkg, "-o", R + "/a.exe", "--stub", X86, "--version-info", "FileVersion=2.1.0.5",
                      "--version-info", "ProductName=My \u00e9dition", "--version-info", "CompanyName=Ex & Co"], EPOCH),
    ("pack-level", [pkg, "-o", R + "/a.exe", "--stub", X86, "--execution-level", "requireAdministrator"], EPOCH),
    ("pack-manifest-opts", [pkg, "-o", R + "/a.exe", "--stub", X64, "--supported-os", "--dpi-aware",
                            "--long-path-aware"], EPOCH),
    ("pack-all", [pkg, "-o", R + "/a.exe", "--stub", X64, "--icon", icon, "--version-info",
                  "ProductVersion=3.0.0.0", "--progress-bar", "--execution-level", "highestAvailable",
                  "--supported-os", "--dpi-aware", "--long-path-aware"], EPOCH),
    ("pack-set", [big, "-o", R + "/Big-Setup.EXE", "--stub", X86, "--part-size", "70000"], EPOCH),
    ("pack-set-x64", [mid, "-o", R + "/s.exe", "--arch", "x64", "--part-size", "40000", "--progress-bar"], EPOCH),
    ("pack-part-size-big", [pkg, "-o", R + "/a.exe", "--stub", X86, "--part-size", "2147483647"], EPOCH),
    ("pack-cabinet", [cab, "-o", R + "/c.exe", "--stub", X86], EPOCH),
    ("pack-cabinet-too-big", [bigcab, "-o", R + "/c.exe", "--stub", X86, "--part-size", "40000"], EPOCH),
    ("pack-set-badname", [mid, "-o", R + "/bad?name.exe", "--stub", X86, "--part-size", "40000"], EPOCH),
    ("pack-no-epoch", [pkg, "-o", R + "/a.exe", "--stub", X86], {}),
    ("pack-old-epoch", [pkg, "-o", R + "/a.exe", "--stub", X86], {"SOURCE_DATE_EPOCH": "0"}),
    ("pack-nosetup", [nosetup, "-o", R + "/n.exe", "--stub", X86], EPOCH),
    ("pack-badname", [badname, "-o", R + "/b.exe", "--stub", X86], EPOCH),
    ("pack-bad-icon", [pkg, "-o", R + "/a.exe", "--stub", X86, "--icon", badicon], EPOCH),
    ("pack-missing-icon", [pkg, "-o", R + "/a.exe", "--stub", X86, "--icon", fx + "/none.ico"], EPOCH),
    ("pack-bad-fileversion", [pkg, "-o", R + "/a.exe", "--stub", X86, "--version-info", "FileVersion=1.2"], EPOCH),
    ("pack-unknown-key", [pkg, "-o", R + "/a.exe", "--stub", X86, "--version-info", "Bogus=1"], EPOCH),
    ("pack-stub-notpe", [pkg, "-o", R + "/a.exe", "--stub", notpe], EPOCH),
    ("pack-stub-missing", [pkg, "-o", R + "/a.exe", "--stub", fx + "/none.exe"], EPOCH),
    ("pack-stub-installer", [pkg, "-o", R + "/a.exe", "--stub", good], EPOCH),
    ("pack-input-missing", [fx + "/nothere", "-o", R + "/a.exe", "--stub", X86], EPOCH),
    ("pack-input-dev", ["/dev/null", "-o", R + "/a.exe", "--stub", X86], EPOCH),
    ("pack-output-dir-missing", [pkg, "-o", R + "/no/such/a.exe", "--stub", X86], EPOCH),
    ("err-missing-o-value", [pkg, "-o"], EPOCH),
    ("err-missing-stub-value", [pkg, "-o", R + "/a.exe", "--stub"], EPOCH),
    ("err-no-output", [pkg, "--stub", X86], EPOCH),
    ("err-no-input", ["-o", R + "/a.exe"], EPOCH),
    ("err-unknown-option", [pkg, "-o", R + "/a.exe", "--frobnicate"], EPOCH),
    ("err-unexpected-arg", [pkg, pkg, "-o", R + "/a.exe"], EPOCH),
    ("err-part-size-text", [pkg, "-o", R + "/a.exe", "--part-size", "12k"], EPOCH),
    ("err-part-size-neg", [pkg, "-o", R + "/a.exe", "--part-size", "-5"], EPOCH),
    ("err-part-size-empty", [pkg, "-o", R + "/a.exe", "--part-size", ""], EPOCH),
    ("err-part-size-small", [pkg, "-o", R + "/a.exe", "--part-size", "1000"], EPOCH),
    ("err-part-size-large", [pkg, "-o", R + "/a.exe", "--part-size", "99999999999"], EPOCH),
    ("err-part-size-overflow", [pkg, "-o", R + "/a.exe", "--part-size", "99999999999999999999999"], EPOCH),
    ("err-level", [pkg, "-o", R + "/a.exe", "--execution-level", "root\x1b[31m"], EPOCH),
    ("err-version-info", [pkg, "-o", R + "/a.exe", "--version-info", "novalue"], EPOCH),
    ("err-version-info-empty-key", [pkg, "-o", R + "/a.exe", "--version-info", "=v"], EPOCH),
    ("err-arch", [pkg, "-o", R + "/a.exe", "--arch", "arm64"], EPOCH),
    ("err-arch-and-stub", [pkg, "-o", R + "/a.exe", "--arch", "x64", "--stub", X64], EPOCH),
    ("err-epoch", [pkg, "-o", R + "/a.exe", "--stub", X86], {"SOURCE_DATE_EPOCH": "1e9"}),
    ("err-epoch-empty", [pkg, "-o", R + "/a.exe", "--stub", X86], {"SOURCE_DATE_EPOCH": ""}),
    ("err-list-args", ["--list"], {}),
    ("err-check-args", ["--check", good, good], {}),
    ("list-good", ["--list", good], {}),
    ("list-good64", ["--list", good64], {}),
    ("list-set", ["--list", setinst], {}),
    ("list-plain", ["--list", noman], {}),
    ("list-flipped", ["--list", flipped], {}),
    ("list-truncated", ["--list", truncated], {}),
    ("list-nomscf", ["--list", nomscf], {}),
    ("list-brokenset", ["--list", brokenset + "/set.exe"], {}),
    ("list-notpe", ["--list", notpe], {}),
    ("list-missing", ["--list", fx + "/none.exe"], {}),
    ("list-stub", ["--list", X86], {}),
    ("check-good", ["--check", good], {}),
    ("check-good64", ["--check", good64], {}),
    ("check-set", ["--check", setinst], {}),
    ("check-plain", ["--check", noman], {}),
    ("check-flipped", ["--check", flipped], {}),
    ("check-truncated", ["--check", truncated], {}),
    ("check-appended", ["--check", appended], {}),
    ("check-nomscf", ["--check", nomscf], {}),
    ("check-brokenset", ["--check", brokenset + "/set.exe"], {}),
    ("check-damagedset", ["--check", damagedset + "/set.exe"], {}),
    ("check-notpe", ["--check", notpe], {}),
    ("check-missing", ["--check", fx + "/none.exe"], {}),
    ("check-stub", ["--check", X64], {}),
    ("check-cab", ["--check", cab], {}),
]

def run_all(binary, tag):
    out = {}
    for name, args, env in cases:
        shutil.rmtree(R, ignore_errors=True)
        os.makedirs(R)
        e = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        e.update(env)
        e["TZ"] = "UTC"
        r = subprocess.run([binary] + args, env=e, capture_output=True)
        files = {}
        for d, _, names in os.walk(R):
            for n in names:
                p = os.path.join(d, n)
                files[os.path.relpath(p, R)] = open(p, "rb").read()
        out[name] = (r.returncode, r.stdout, r.stderr, files)
    return out

old = run_all(old_bin, "old")
new = run_all(new_bin, "new")
bad = 0
allowed = 0
for name, _, _ in cases:
    if (allow_help and name.startswith("help") and old[name][0] == new[name][0] and
            old[name][2:] == new[name][2:]):
        if old[name][1] != new[name][1]:
            allowed += 1
            print("ALLOWED (--help text):", name)
            print("".join(difflib.unified_diff(old[name][1].decode().splitlines(True), new[name][1].decode().splitlines(True), "old", "new", n=0)))
        continue
    if old[name] != new[name]:
        bad += 1
        o, n = old[name], new[name]
        print("DIFFERENT:", name)
        for i, what in enumerate(["exit", "stdout", "stderr"]):
            if o[i] != n[i]:
                print("  %s old: %r\n  %s new: %r" % (what, o[i][:600] if what != "exit" else o[i], what, n[i][:600] if what != "exit" else n[i]))
        if o[3].keys() != n[3].keys():
            print("  files old:", sorted(o[3]), "new:", sorted(n[3]))
        else:
            for k in o[3]:
                if o[3][k] != n[3][k]:
                    print("  file differs:", k)
outputs = sum(len(v[3]) for v in old.values())
print("%d command lines, %d output files, %d different, %d --help text changes" % (len(cases), outputs, bad, allowed))
shutil.rmtree(base, ignore_errors=True)
sys.exit(1 if bad else 0)
