#!/usr/bin/env python3
"""The include check on small made-up source trees: an upward include fails
unless listed, a listed include that is gone fails, includes within a folder
and downward pass, and a folder without a rank fails."""
import os
import subprocess
import sys
import tempfile

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "include_check.py")


def run(files, allow=None):
    with tempfile.TemporaryDirectory() as root:
        src = os.path.join(root, "src")
        for path, text in files.items():
            full = os.path.join(src, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        args = [sys.executable, CHECK, src]
        if allow is not None:
            allow_path = os.path.join(root, "allow.txt")
            with open(allow_path, "w") as f:
                f.write(allow)
            args.append(allow_path)
        r = subprocess.run(args, capture_output=True, text=True)
        return r.returncode, r.stdout


failures = []


def expect(name, files, status, allow=None, text=None):
    code, out = run(files, allow)
    if code != status or (text is not None and text not in out):
        failures.append(f"{name}: status {code}, output:\n{out}")


downward = {
    "symbols/a.h": "#pragma once\n#include <vector>\n",
    "expo/b.h": '#include "symbols/a.h"\n#include "expo/c.h"\n',
    "model/m.h": '#include "expo/b.h"\n#include "bdd/d.h"\n',
    "statespace/s.cpp": '#include "model/m.h"\n#include "statespace/s.h"\n',
    "combinatorial/c.cpp": '#include "statespace/s.h"\n',
    "interp/i.cpp": '#include "combinatorial/c.h"\n#include "model/m.h"\n',
}
expect("downward includes pass", downward, 0)

upward = dict(downward)
upward["statespace/t.cpp"] = '  #  include "interp/interpreter.h"\n'
expect("solver into interp fails", upward, 1, text='statespace/t.cpp: include "interp/interpreter.h"')
expect("listed upward include passes", upward, 0, allow="# kept for now\nstatespace/t.cpp -> interp/interpreter.h\n")
expect("stale allow-list line fails", downward, 1,
       allow="statespace/t.cpp -> interp/interpreter.h\n", text="is gone")
expect("core into solvers fails", {"model/m.h": '#include "statespace/chain.h"\n'}, 1)
expect("expo into core fails", {"expo/e.cpp": '#include "model/context.h"\n'}, 1)
expect("symbols into bdd fails", {"symbols/s.cpp": '#include "bdd/bdd.h"\n'}, 1)
expect("state space into combinatorial fails", {"statespace/s.cpp": '#include "combinatorial/tree.h"\n'}, 1)
expect("unranked folder fails", {"extra/x.cpp": '#include "symbols/a.h"\n'}, 1, text="has no rank")
expect("include without folder fails", {"model/x.cpp": '#include "x.h"\n'}, 1, text="names no folder")
expect("malformed allow-list line fails", downward, 1, allow="statespace/t.cpp interp/interpreter.h\n")

for f in failures:
    print(f)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
