#!/usr/bin/env python3
"""The disassembler measured in one run: speed, truth and points kept.

usage: disasm_bench.py [DISASSEMBLER] [PE_FILE]
  DISASSEMBLER  the native korvane-disasm of a Release build
                (default: $BUILD_DIR/bench/disasm/korvane-disasm, as scripts/build.sh bench makes it);
                korvane-code-truth is taken from the same build
  PE_FILE       default: the biggest DLL in Wine's 32-bit folder

1. Speed: the listing read by control flow, the same sections read straight
   through (--straight, the walk of images without relocations or unwind
   data, as every image was read before), and objdump, on one large PE. All
   write into a file, as the tracer's batch does; runs alternate, the median counts.
2. Truth: the end-to-end samples built with MinGW and a linker map; points
   outside the map's functions and the share of their instructions listed as
   code, both ways of reading.
3. Points kept: the points of Wine's own programs read by control flow,
   against the same programs read straight through.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

WINE_DIR = "/usr/lib/i386-linux-gnu/wine/i386-windows"
WINE_PROGRAMS = ["cabarc.exe", "cmd.exe", "find.exe", "xcopy.exe", "notepad.exe", "regedit.exe", "winecfg.exe",
                 "comctl32.dll", "msvcrt.dll"]
OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
CC = os.environ.get("MINGW_CC", "i686-w64-mingw32-gcc-posix")
CXX = os.environ.get("MINGW_CXX", "i686-w64-mingw32-g++-posix")
RUNS = int(os.environ.get("DISASM_BENCH_RUNS", "7"))
CODE_LINE = re.compile(rb"^:[0-9A-F]{8} ")


def biggest_dll():
    dlls = [os.path.join(WINE_DIR, f) for f in os.listdir(WINE_DIR) if f.endswith(".dll")]
    return max(dlls, key=os.path.getsize)


def timed(cmd, out_path):
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        subprocess.run(cmd, stdout=out, check=True)
        return time.perf_counter() - start


def points(listing):
    """The addresses and kinds the tracer's conversion makes points of (any base)."""
    found, last = set(), None
    for line in listing.split(b"\r\n"):
        if CODE_LINE.match(line) and len(line) >= 34:
            last = line[1:9]
            if line[34:38] == b"call" or line[34:35] == b"j":
                found.add((last, line[34:35]))
        elif len(line) >= 35 and line[23:27] == b"Stri" and line[34:35] == b'"':
            if last is not None:
                found.add((last, b"s"))
        else:
            last = None
    return found


def speed(disasm, target, tmp):
    cmds = {"control flow": [disasm, target], "straight": [disasm, "--straight", target],
            "objdump": [OBJDUMP, "-d", "-M", "intel", target]}
    outs = {k: os.path.join(tmp, k.replace(" ", "_") + ".out") for k in cmds}
    times = {k: [] for k in cmds}
    for k in cmds:
        timed(cmds[k], outs[k])  # warm the page cache
    for _ in range(RUNS):
        for k in cmds:
            times[k].append(timed(cmds[k], outs[k]))
    med = {k: statistics.median(v) for k, v in times.items()}
    with open(outs["control flow"], "rb") as f:
        lines = sum(1 for line in f if CODE_LINE.match(line))
    print(f"file: {target} ({os.path.getsize(target)} bytes)")
    print(f"korvane-disasm, by control flow: {med['control flow'] * 1000:.1f} ms median of {RUNS} ({lines} code lines)")
    print(f"korvane-disasm --straight:       {med['straight'] * 1000:.1f} ms")
    print(f"objdump -d -M intel:             {med['objdump'] * 1000:.1f} ms")
    print(f"ratio control flow / straight: {med['control flow'] / med['straight']:.2f}x; "
          f"objdump / control flow: {med['objdump'] / med['control flow']:.2f}x")


def truth(truth_tool, root, tmp):
    data = os.path.join(root, "tests", "e2e", "data")
    programs = [("throws", CXX, "throws.cpp", "-O1"), ("codedata", CC, "codedata.c", "-O1"),
                ("codedata_o2", CC, "codedata.c", "-O2")]
    args = []
    for name, compiler, source, level in programs:
        exe, map_file = os.path.join(tmp, name + ".exe"), os.path.join(tmp, name + ".map")
        subprocess.run([compiler, level, "-static", "-Wl,-Map," + map_file, os.path.join(data, source), "-o", exe], check=True)
        args += [exe, map_file]
    for label, extra in (("by control flow", []), ("read straight through", ["--straight"])):
        print(f"truth, {label}:")
        res = subprocess.run([truth_tool] + extra + args, capture_output=True, text=True)
        sys.stdout.write("".join("  " + line + "\n" for line in res.stdout.splitlines()))


def kept(disasm):
    total_before = total_after = 0
    for name in WINE_PROGRAMS:
        path = os.path.join(WINE_DIR, name)
        if not os.path.exists(path):
            continue
        before = points(subprocess.run([disasm, "--straight", path], capture_output=True, check=True).stdout)
        after = points(subprocess.run([disasm, path], capture_output=True, check=True).stdout)
        dropped = before - after
        total_before += len(before)
        total_after += len(before & after)
        print(f"  {name}: {len(before & after)} of {len(before)} points kept, {len(dropped)} dropped, {len(after - before)} new")
    if total_before:
        print(f"points kept on Wine's programs: {total_after} of {total_before} ({100.0 * total_after / total_before:.2f}%)")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.environ.get("BUILD_DIR", os.path.join(root, "build"))
    disasm = sys.argv[1] if len(sys.argv) > 1 else os.path.join(build, "bench", "disasm", "korvane-disasm")
    target = sys.argv[2] if len(sys.argv) > 2 else biggest_dll()
    truth_tool = os.path.join(os.path.dirname(os.path.dirname(disasm)), "tools", "korvane-code-truth")
    for tool in (disasm, truth_tool):
        if not os.path.exists(tool):
            print(f"disasm_bench: no {tool} (bash scripts/build.sh bench)", file=sys.stderr)
            return 2
    with tempfile.TemporaryDirectory() as tmp:
        speed(disasm, target, tmp)
        truth(truth_tool, root, tmp)
    print("Wine's programs, by control flow against straight through:")
    kept(disasm)
    return 0


if __name__ == "__main__":
    sys.exit(main())
