#!/usr/bin/env python3
"""Reads every benchmark fault tree of a folder with -mef and solves it: the
top-event probability must come out, lie in [0, 1], and match the
independent solution of aralia_expected.txt (aralia_reference.py) to the
nine digits printed, where that solution exists.

Usage: aralia_sweep.py CORVEL DIR [--max-bytes N] [--times]
Exit status 77 (skipped) when DIR does not exist and CI is not set.
"""
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def our_name(name):
    s = "".join(c if (c.isascii() and (c.isalnum() or c in "_.")) else "_" for c in name)
    return s if s and s[0].isalpha() else "n" + s


def main():
    corvel, folder = sys.argv[1], Path(sys.argv[2])
    max_bytes = int(sys.argv[sys.argv.index("--max-bytes") + 1]) if "--max-bytes" in sys.argv else None
    show_times = "--times" in sys.argv
    if not folder.is_dir():
        print("no benchmark folder", folder)
        sys.exit(1 if os.environ.get("CI") else 77)
    expected = {}
    for line in (Path(__file__).parent / "aralia_expected.txt").read_text().splitlines():
        name, value = line.split()
        if value != "too-large":
            expected[name] = float(value)
    files = sorted(folder.glob("*.xml"))
    failures, compared, solved = 0, 0, 0
    with tempfile.TemporaryDirectory() as work:
        for path in files:
            if max_bytes and path.stat().st_size > max_bytes:
                continue
            tree = re.search(r'<define-fault-tree name="([^"]+)"', path.read_text()).group(1)
            query = Path(work) / "q.crv"
            query.write_text("format 8\nvalue(1; %s)\n" % our_name(tree))
            start = time.perf_counter()
            run = subprocess.run([corvel, "-mef", str(path), str(query)], capture_output=True, text=True, timeout=600)
            seconds = time.perf_counter() - start
            m = re.search(r"value\(1; \S+\):\s+(\S+)", run.stdout)
            if run.returncode != 0 or not m:
                print("FAIL %s: status %d\n%s" % (path.name, run.returncode, run.stdout[-2000:]))
                failures += 1
                continue
            q = float(m.group(1))
            solved += 1
            note = ""
            if not 0.0 <= q <= 1.0:
                print("FAIL %s: probability %r" % (path.name, q))
                failures += 1
            elif path.stem in expected:
                compared += 1
                ref = expected[path.stem]
                if abs(q - ref) > 2e-8 * abs(ref):
                    print("FAIL %s: %.8e, independent solution %.8e" % (path.name, q, ref))
                    failures += 1
            else:
                note = " (no independent solution)"
            if show_times:
                print("%-12s %.8e %8.2f s%s" % (path.stem, q, seconds, note))
    print("%d solved, %d compared with the independent solution, %d failures" % (solved, compared, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
