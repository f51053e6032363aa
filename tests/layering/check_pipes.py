#!/usr/bin/env python3
"""Fails on a pipe into an early-exiting grep (-q, -m, -l) in the Windows
tests and the scripts they share. Under pipefail, grep that stops at its
first match leaves the writer to die of SIGPIPE when it writes again, and
the pipeline fails although it matched (seen about once in 2000 runs of a
three-line echo). Feed grep a here-string or a <(...) instead."""
import pathlib, re, sys

root = pathlib.Path(sys.argv[1])
bad = re.compile(r'\|\s*grep\s+(-[a-zA-Z]*[qlm][a-zA-Z0-9]*)')
found = []
for d in ("tests/wine", "tools/demo", "bench"):
    for path in sorted((root / d).rglob("*.sh")):
        for n, line in enumerate(path.read_text().splitlines(), 1):
            if bad.search(line):
                found.append(f"{path.relative_to(root)}:{n}: {line.strip()}")
print("\n".join(found) or "no pipe into an early-exiting grep")
sys.exit(1 if found else 0)
