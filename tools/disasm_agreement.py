#!/usr/bin/env python3
"""Agreement of the companion disassembler with objdump.

For every file, each instruction that `i686-w64-mingw32-objdump -d -M intel`
lists in an executable section must stand in our listing at the same address
with the same length, unless the listing keeps its bytes out as data (those
are counted apart). Prints the numbers per file (with -v) and in total, and
the mnemonic agreement of the matched instructions.

usage: disasm_agreement.py [-v] [--min PERCENT] DISASSEMBLER FILE_OR_DIR...
Exit code 1 when the address/length agreement is below --min.
"""
import argparse
import collections
import concurrent.futures
import os
import re
import subprocess
import sys

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
OBJ_LINE = re.compile(r"^\s*([0-9a-f]+):\t([0-9a-f ]+)(?:\t(.*))?$")
DATA_LINE = re.compile(r"^; data ([0-9A-F]{8})\.\.([0-9A-F]{8}) ")
UNREACHED_LINE = re.compile(r"^;[0-9A-F]{8} [0-9A-F ]{24}; ")
PREFIXES = {"rep", "repe", "repz", "repne", "repnz", "lock", "bnd", "notrack", "data16", "addr16",
            "cs", "ds", "es", "ss", "fs", "gs", "xacquire", "xrelease", "rex", "data32", "addr32"}
# Same instruction, other name.
ALIASES = {"jz": "je", "jnz": "jne", "jnb": "jae", "jnae": "jb", "jc": "jb", "jnc": "jae", "jna": "jbe",
           "jnbe": "ja", "jnge": "jl", "jnl": "jge", "jng": "jle", "jnle": "jg", "jpe": "jp", "jpo": "jnp",
           "setz": "sete", "setnz": "setne", "cmovz": "cmove", "cmovnz": "cmovne", "xlat": "xlatb",
           "wait": "fwait", "retf": "retf", "lcall": "call", "ljmp": "jmp", "pushf": "pushfd", "popf": "popfd",
           "pusha": "pushal", "popa": "popal", "pushad": "pushal", "popad": "popal", "iret": "iretd"}


STRING_OPS = {"movs", "stos", "lods", "scas", "cmps", "ins", "outs"}
SIZE_SUFFIX = {"BYTE": "b", "WORD": "w", "DWORD": "d"}


def base_mnemonic(text):
    if re.match(r"(data16 )?xchg\s+ax,ax", text):
        return "nop"
    words = text.replace(",", " ").split()
    while words and (words[0] in PREFIXES or words[0].endswith(":")):
        words = words[1:]
    if not words:
        return ""
    m = words[0].split(",")[0]
    if m in STRING_OPS and len(words) > 1 and words[1] in SIZE_SUFFIX:
        m += SIZE_SUFFIX[words[1]]
    if words[1:2] == ["far"]:
        m = {"call": "call", "jmp": "jmp"}.get(m, m)
    return ALIASES.get(m, m)


def is_pe32(path):
    """A 32-bit x86 PE file (programs, DLLs, drivers, controls: whatever the extension)."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return False
    if len(head) < 0x40 or head[:2] != b"MZ":
        return False
    pe = int.from_bytes(head[0x3C:0x40], "little")
    return head[pe:pe + 4] == b"PE\0\0" and head[pe + 4:pe + 6] == b"\x4c\x01" and head[pe + 24:pe + 26] == b"\x0b\x01"


def objdump_instructions(path):
    out = subprocess.run([OBJDUMP, "-d", "-M", "intel", path], capture_output=True, text=True,
                         errors="replace").stdout
    insns = []  # [address, length, mnemonic]
    for line in out.splitlines():
        m = OBJ_LINE.match(line)
        if not m:
            continue
        addr = int(m.group(1), 16)
        nbytes = len(m.group(2).split())
        if m.group(3) is None:
            if insns and insns[-1][0] + insns[-1][1] == addr:
                insns[-1][1] += nbytes  # continuation of a long instruction
            continue
        insns.append([addr, nbytes, base_mnemonic(m.group(3))])
    return insns


def our_listing(disasm, path):
    res = subprocess.run([disasm, path], capture_output=True)
    if res.returncode != 0:
        raise RuntimeError(f"{path}: exit code {res.returncode}: {res.stderr.decode(errors='replace')}")
    code = {}  # address -> [length or None, mnemonic]
    data = []  # (first, last)
    last = None
    for raw in res.stdout.split(b"\r\n"):
        line = raw.decode("latin-1")
        # Code lines, and bytes no path reaches decoded for reading (";" and "; " at column 34).
        unreached = UNREACHED_LINE.match(line)
        if (line.startswith(":") or unreached) and len(line) >= 34:
            addr = int(line[1:9], 16)
            hexbytes = line[10:34].strip()
            length = len(hexbytes) // 2
            if last is not None and code[last][0] is None:
                code[last][0] = addr - last
            text = line[36:] if unreached else line[34:]
            code[addr] = [length if length < 11 else None, base_mnemonic(text.split(" ;")[0])]
            last = addr
            continue
        m = DATA_LINE.match(line)
        if m:
            first, end = int(m.group(1), 16), int(m.group(2), 16)
            data.append((first, end))
            if last is not None and code[last][0] is None:
                code[last][0] = first - last
            last = None
    if last is not None and code[last][0] is None:
        code[last][0] = 11
    return code, sorted(data)


def in_data(data, addr):
    lo, hi = 0, len(data)
    while lo < hi:
        mid = (lo + hi) // 2
        if data[mid][1] < addr:
            lo = mid + 1
        else:
            hi = mid
    return lo < len(data) and data[lo][0] <= addr <= data[lo][1]


def compare(disasm, path):
    theirs = objdump_instructions(path)
    code, data = our_listing(disasm, path)
    r = collections.Counter()
    pairs = collections.Counter()
    misses = []
    for addr, length, mnem in theirs:
        r["total"] += 1
        if in_data(data, addr):
            r["data"] += 1
            continue
        ours = code.get(addr)
        if ours and ours[0] == length:
            r["match"] += 1
            if ours[1] == mnem or mnem == "(bad)":
                r["mnem"] += 1
            else:
                pairs[(mnem, ours[1])] += 1
        else:
            r["miss"] += 1
            if len(misses) < 5:
                misses.append(f"{addr:08X} len {length} {mnem}: ours {ours}")
    return path, r, pairs, misses


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("-v", action="store_true")
    ap.add_argument("--min", type=float, default=0.0)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("disasm")
    ap.add_argument("paths", nargs="+")
    a = ap.parse_args()
    files = []
    for p in a.paths:
        if os.path.isdir(p):
            files += sorted(f for f in (os.path.join(p, n) for n in os.listdir(p)) if is_pe32(f))
        else:
            files.append(p)
    total = collections.Counter()
    pairs = collections.Counter()
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        for path, r, p, misses in pool.map(lambda f: compare(a.disasm, f), files):
            total += r
            pairs += p
            if a.v or r["miss"]:
                pct = 100.0 * r["match"] / max(1, r["total"] - r["data"])
                print(f"{os.path.basename(path)}: {r['total']} objdump instructions, {r['match']} agree "
                      f"({pct:.3f}%), {r['data']} in data ranges, {r['miss']} differ")
                for m in misses:
                    print("   ", m)
    checked = total["total"] - total["data"]
    pct = 100.0 * total["match"] / max(1, checked)
    mpct = 100.0 * total["mnem"] / max(1, total["match"])
    print(f"files: {len(files)}")
    print(f"objdump instructions: {total['total']}")
    print(f"kept out as data by us: {total['data']} ({100.0 * total['data'] / max(1, total['total']):.3f}%)")
    print(f"same address and length: {total['match']} of {checked} ({pct:.4f}%)")
    print(f"same mnemonic (of those): {total['mnem']} ({mpct:.4f}%)")
    for (theirs, ours), n in pairs.most_common(12):
        print(f"  mnemonic objdump '{theirs}' vs ours '{ours}': {n}")
    if pct < a.min:
        print(f"FAIL: agreement {pct:.4f}% is below {a.min}%")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
