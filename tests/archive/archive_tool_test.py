#!/usr/bin/env python3
"""archive-tool against golden outputs: a small listing converted by
listing-tool, archives written here from the format's layout (not by the
tracer's writer), the drcov export read back by a reader of its own, and
every error with its exit code.

   archive_tool_test.py ARCHIVE_TOOL LISTING_TOOL DATA WORK [EMULATOR]"""
import os, shutil, struct, subprocess, sys

tool, listing_tool, data, work = sys.argv[1:5]
emulator = sys.argv[5:6] if len(sys.argv) > 5 and sys.argv[5] else []
failures = []

def check(what, ok, detail=""):
    if not ok:
        failures.append(f"{what}: {detail}")

def run(*args):
    p = subprocess.run(emulator + [tool, *args], cwd=work, capture_output=True)
    return p.returncode, p.stdout, p.stderr.decode(errors="replace")

# The listing (data/prog.lst) has six points: a string whose text needs CSV
# quotes, a call followed by data. listing-tool gives their records' offsets.
shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "AR"))
for name in ("AR/prog.dsm", "fresh.lst"):
    shutil.copyfile(os.path.join(data, "prog.lst"), os.path.join(work, name))
converted = subprocess.run(emulator + [listing_tool, "convert", "AR/prog.dsm"], cwd=work, capture_output=True)
check("listing-tool convert", converted.returncode == 0, converted.returncode)
# By address; the string takes the address of the push before it.
points = [int(line.split()[2]) for line in converted.stdout.decode().splitlines() if line.startswith("All ")]
check("points of the listing", len(points) == 6, points)

def write(name, content):
    with open(os.path.join(work, name), "wb") as f:
        f.write(content)
    return content

def archive(name, target, entries):
    """Names shorter than 255 bytes: one length byte each."""
    body = b"".join(bytes([len(s)]) + s.encode() for s in ("Archive,ver001", target, "C:\\t", name.split("/")[-1]))
    return write(name, body + struct.pack("<7i", 1, 1, 0, 0, 1, 0, len(entries)) +
                 b"".join(struct.pack("<4i", *e) for e in entries))

# (num, hits, comp) per point; A and B share some points, each has its own.
archive("AR/a.ar", "prog.exe", [(o, n, h, c) for o, (n, h, c) in zip(points, [(3, 7, -7), (1, 2, 0), (0, 0, 0),
                                                                          (5, 40, 1), (2, 1, 1), (4, 9, 2)])])
whole = archive("AR/b.ar", "prog.exe", [(o, n, h, 0) for o, (n, h) in zip(points, [(1, 7, ), (0, 0), (2, 3),
                                                                               (3, 12), (4, 6), (0, 0)])])

def golden(name, args, actual=None):
    """The output (as `actual` reads it) is kept in WORK, to compare by hand."""
    code, out, err = run(*args)
    got = write(name, out if actual is None else actual(out))
    with open(os.path.join(data, name), "rb") as f:
        check(" ".join(args), code == 0 and got == f.read(), f"exit {code}, {err}; see {data}/{name} and {work}/{name}")

def drcov_as_text(out):
    """An independent reader: the text header, then the blocks as lines."""
    header, rest = out.split(b"BB Table: ", 1)
    count, blocks = rest.split(b" bbs\n", 1)
    check("drcov block count", len(blocks) == 8 * int(count), f"{len(blocks)} bytes for {count} blocks")
    lines = [b"%08X size %d module %d" % struct.unpack_from("<IHH", blocks, i) for i in range(0, len(blocks), 8)]
    return header + b"BB Table: " + count + b" bbs\n" + b"".join(l + b"\n" for l in lines)

golden("show.expected", ["show", "AR/a.ar"])
golden("show_top_addr.expected", ["show", "AR/a.ar", "--sort", "addr", "--top", "3"])
golden("show_comp.expected", ["show", "AR/a.ar", "--sort", "comp"])
golden("diff.expected", ["diff", "AR/a.ar", "AR/b.ar"])
golden("export.csv", ["export", "--csv", "AR/a.ar"])
golden("export.drcov.txt", ["export", "--drcov", "AR/a.ar", "--module", "C:\\t\\prog.exe"], drcov_as_text)
# A fresh listing of the target: the same offsets, and the sizes from its code bytes.
golden("export_fresh.drcov.txt", ["export", "--drcov", "AR/a.ar", "--module", "prog.exe", "--listing", "fresh.lst"],
       drcov_as_text)

# Input it cannot use: exit 1 and a message naming the trouble.
for target in ("other.exe", "gone.exe", "tool.bin"):
    archive("AR/%s.ar" % target, target, [])
archive("AR/foreign.ar", "prog.exe", [(points[0], 1, 1, 1), (points[0] + 1, 1, 1, 1), (1 << 30, 1, 1, 1)])
cuts = {"AR/text.ar": b"\x0eArchive,ver002 and more", **{"AR/cut%d.ar" % n: whole[:n] for n in (0, 10, 16, 40, 99)}}
for name, content in cuts.items():
    write(name, content)
bad = [(["show", "AR/missing.ar"], "cannot open the archive"), (["show", "AR/text.ar"], "is not a hit archive"),
       (["diff", "AR/a.ar", "AR/other.exe.ar"], "belong to different targets"),
       (["show", "AR/gone.exe.ar"], "cannot open the listing"), (["show", "AR/tool.bin.ar"], "names no listing"),
       (["show", "AR/a.ar", "--listing", "AR/a.ar"], "too short for a listing"),
       (["export", "--csv", "AR/foreign.ar"], "2 entries of [ AR/foreign.ar ] name no point record")]
bad += [(["show", name], "the archive is truncated") for name in cuts if "cut" in name]
for args, message in bad:
    code, out, err = run(*args)
    check(" ".join(args), code == 1 and message in err, f"exit {code}, {err!r}")
for args in ([], ["show"], ["show", "a", "b"], ["export", "AR/a.ar"], ["export", "--drcov", "AR/a.ar"],
             ["show", "AR/a.ar", "--top", "x"], ["show", "AR/a.ar", "--sort", "size"], ["diff", "AR/a.ar"],
             ["export", "--csv", "AR/a.ar", "--top", "1"], ["list", "AR/a.ar"]):
    code, out, err = run(*args)
    check("arguments " + " ".join(args), code == 2 and err.startswith("usage:"), f"exit {code}")

for failure in failures:
    print("FAILED", failure)
sys.exit(1 if failures else 0)
