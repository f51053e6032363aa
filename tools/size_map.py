#!/usr/bin/env python3
"""Where the bytes of Tidestart.exe come from.

Reads the GNU ld link map the Windows trees write beside the product
(Tidestart.map) and prints the bytes each library and the largest objects
put into the image (code, data, unwind tables, resources; not .bss, not
debug sections), then the stripped size of Tidestart.exe.

    tools/size_map.py [BUILD_DIR] [--top N] [--limit BYTES]   (default: build/win32)

With --limit it fails when Tidestart.exe is larger (the test size.product).
"""
import argparse
import os
import re
import sys
from collections import defaultdict

# Output sections that take room in the file (.bss does not; the debug
# sections are stripped).
IMAGE_SECTIONS = {".text", ".data", ".rdata", ".eh_frame", ".pdata", ".xdata",
                  ".idata", ".CRT", ".tls", ".rsrc", ".buildid"}

INPUT = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
SECTION = re.compile(r"^(\.\S+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+")


def owner(path):
    """(library, object) for an input file of the map."""
    m = re.match(r"^(.*)\((.*)\)$", path)
    if m:
        lib, obj = os.path.basename(m.group(1)), m.group(2)
        if lib == "libtide_logic.a":
            lib = "product"
        elif re.match(r"^(lib[a-z0-9_]+[sht]\d*|.*_a_[sht]\d*)\.o$", obj):
            lib = "DLL import stubs"   # the import and delay-load libraries' members
        return lib, obj
    name = os.path.basename(path)
    if path.startswith("CMakeFiles/") or name.endswith(".res"):
        return "product", name
    return "startup objects", name


def parse(map_path):
    sizes = defaultdict(int)    # (library, object) -> bytes
    sections = defaultdict(int)  # output section -> bytes
    current = None
    pending = None
    in_map = False
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not in_map:
                in_map = line.startswith("Linker script and memory map")
                continue
            m = SECTION.match(line)
            if m:
                current = m.group(1)
                pending = None
                continue
            if current not in IMAGE_SECTIONS:
                continue
            if re.match(r"^ \S+$", line):   # a long input section name; its numbers follow
                pending = line.strip()
                continue
            m = INPUT.match(line)
            if not m or (m.group(1) is None and pending is None):
                pending = None
                continue
            pending = None
            size = int(m.group(3), 16)
            what = m.group(4).strip()
            if size == 0 or what.startswith("0x") or " " in what.split("(")[0]:
                continue
            sizes[owner(what)] += size
            sections[current] += size
    return sizes, sections


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build_dir", nargs="?", default="build/win32")
    ap.add_argument("--top", type=int, default=15)
    ap.add_argument("--limit", type=int, help="fail (exit 1) when Tidestart.exe is larger")
    args = ap.parse_args()
    map_path = os.path.join(args.build_dir, "Tidestart.map")
    exe = os.path.join(args.build_dir, "Tidestart.exe")
    if not os.path.exists(exe) or not os.path.exists(map_path):
        print(f"size_map: no Tidestart.exe and Tidestart.map in {args.build_dir} (build the Windows tree first)")
        sys.exit(77)
    sizes, sections = parse(map_path)
    libs = defaultdict(int)
    for (lib, _), n in sizes.items():
        libs[lib] += n
    total = sum(libs.values())
    print(f"{'library':<24}{'bytes':>10}{'share':>8}")
    for lib, n in sorted(libs.items(), key=lambda kv: -kv[1]):
        print(f"{lib:<24}{n:>10}{100.0 * n / total:>7.1f}%")
    print(f"{'total':<24}{total:>10}")
    print()
    print("by section: " + ", ".join(f"{s} {n}" for s, n in sorted(sections.items(), key=lambda kv: -kv[1])))
    print()
    print(f"{'largest objects':<56}{'bytes':>10}")
    for (lib, obj), n in sorted(sizes.items(), key=lambda kv: -kv[1])[:args.top]:
        print(f"{(lib + ': ' + obj)[:55]:<56}{n:>10}")
    print()
    size = os.path.getsize(exe)
    print(f"Tidestart.exe (stripped): {size} bytes ({size - total} of them headers, relocations and alignment)")
    if args.limit is not None and size > args.limit:
        print(f"size_map: Tidestart.exe is {size - args.limit} bytes over its limit of {args.limit}")
        sys.exit(1)


if __name__ == "__main__":
    main()
