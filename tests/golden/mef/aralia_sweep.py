#!/usr/bin/env python3
"""Reads every benchmark fault tree of a folder (-mef-crv: the translation
must succeed) and solves the trees that have an independent solution in
aralia_expected.txt (aralia_reference.py): the top-event probability must
match it to the nine digits printed. With --all every tree is solved (the
benchmark run; some take minutes), and a tree without an independent
solution must still give a probability in [0, 1].

Usage: aralia_sweep.py CORVEL DIR [--all] [--times]
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
    solve_all = "--all" in sys.argv
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
    failures, compared, solved, read = 0, 0, 0, 0
    with tempfile.TemporaryDirectory() as work:
        for path in files:
            tree = re.search(r'<define-fault-tree name="([^"]+)"', path.read_text()).group(1)
            translation = subprocess.run([corvel, "-mef-crv", str(path)], capture_output=True, text=True, timeout=600)
            if translation.returncode != 0 or "\nftree %s\n" % our_name(tree) not in translation.stdout:
                print("FAIL %s: not read (status %d)\n%s" % (path.name, translation.returncode, translation.stdout[-2000:]))
                failures += 1
                continue
            read += 1
            if not solve_all and path.stem not in expected:
                continue
            query = Path(work) / "q.crv"
            query.write_text("format 8\nepsilon results 1e-300\nvalue(1; %s)\n" % our_name(tree))
            start = time.perf_counter()
            run = subprocess.run([corvel, "-mef", str(path), str(query)], capture_output=True, text=True, timeout=600)
            seconds = time.perf_counter() - start
            m = re.search(r"value\(1; \S+\):\s+(\S+)", run.stdout)
            if run.returncode != 0 or not m:
                print("FAIL %s: status %d\n%s" % (path.name, run.returncode, run.stdout[-2000:]), flush=True)
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
                print("%-12s %.8e %8.2f s%s" % (path.stem, q, seconds, note), flush=True)
    print("%d read, %d solved, %d compared with the independent solution, %d failures" % (read, solved, compared, failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
