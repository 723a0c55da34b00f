#!/usr/bin/env python3
"""Listing speed: our disassembler against objdump on the same large PE, side by side.

usage: disasm_bench.py [DISASSEMBLER] [PE_FILE]
  DISASSEMBLER  the native korvane-disasm of a Release build
                (default: $BUILD_DIR/bench/disasm/korvane-disasm, as scripts/build.sh bench makes it)
  PE_FILE       default: the biggest DLL in Wine's 32-bit folder
Both write into a file, as the tracer's batch does; runs alternate, the median counts.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

WINE_DIR = "/usr/lib/i386-linux-gnu/wine/i386-windows"
OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
RUNS = int(os.environ.get("DISASM_BENCH_RUNS", "7"))


def biggest_dll():
    dlls = [os.path.join(WINE_DIR, f) for f in os.listdir(WINE_DIR) if f.endswith(".dll")]
    return max(dlls, key=os.path.getsize)


def timed(cmd, out_path):
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        subprocess.run(cmd, stdout=out, check=True)
        return time.perf_counter() - start


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.environ.get("BUILD_DIR", os.path.join(root, "build"))
    disasm = sys.argv[1] if len(sys.argv) > 1 else os.path.join(build, "bench", "disasm", "korvane-disasm")
    target = sys.argv[2] if len(sys.argv) > 2 else biggest_dll()
    if not os.path.exists(disasm):
        print(f"disasm_bench: no disassembler at {disasm} (bash scripts/build.sh bench)", file=sys.stderr)
        return 2
    ours_cmd = [disasm, target]
    theirs_cmd = [OBJDUMP, "-d", "-M", "intel", target]
    with tempfile.TemporaryDirectory() as tmp:
        ours_out, theirs_out = os.path.join(tmp, "ours.lst"), os.path.join(tmp, "objdump.txt")
        timed(ours_cmd, ours_out)  # warm the page cache for both
        timed(theirs_cmd, theirs_out)
        ours, theirs = [], []
        for _ in range(RUNS):
            ours.append(timed(ours_cmd, ours_out))
            theirs.append(timed(theirs_cmd, theirs_out))
        with open(ours_out, "rb") as f:
            lines = sum(1 for line in f if line.startswith(b":"))
        with open(theirs_out, "rb") as f:
            their_lines = sum(1 for line in f if re.match(rb"\s*[0-9a-f]+:\t", line))
    o, t = statistics.median(ours), statistics.median(theirs)
    print(f"file: {target} ({os.path.getsize(target)} bytes)")
    print(f"korvane-disasm: {o * 1000:.1f} ms median of {RUNS} ({lines} code lines)")
    print(f"objdump -d -M intel: {t * 1000:.1f} ms median of {RUNS} ({their_lines} lines)")
    print(f"ratio (objdump time / ours): {t / o:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
