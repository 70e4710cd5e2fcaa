#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs under fuzz/corpus/<target>/ from every
golden model (tests/golden) and every shipped example (examples).

  parser     the whole model file
  <block>    for every block of that kind in a file: the text from the
             system's name (just after the block keyword) to the end of the
             file, since that target puts the keyword in front of its bytes

Seeds written here are named golden-* and example-*; they are replaced on
every run. Inputs that found faults are kept beside them as fault-* files
and never touched. Files longer than MAX_LEN are left out (the fuzzers do
not read more than that).

  python3 fuzz/make_corpus.py          rewrite the seeds
  python3 fuzz/make_corpus.py --check  exit 1 when the seeds are not current
"""
import hashlib
import re
import sys
from pathlib import Path

TOP = Path(__file__).resolve().parent.parent
CORPUS = TOP / "fuzz" / "corpus"
MAX_LEN = 8192

# target -> keywords that start its block (lower case; upper case is the same)
BLOCKS = {
    "block": ["block"], "ftree": ["ftree"], "mstree": ["mstree"],
    "graph": ["graph", "spgraph"], "relgraph": ["relgraph"], "pms": ["pms"],
    "markov": ["markov"], "semimark": ["semimark"], "mrgp": ["mrgp"],
    "pfqn": ["pfqn"], "mpfqn": ["mpfqn"], "gspn": ["gspn"], "srn": ["srn"],
}


def sources():
    for f in sorted((TOP / "tests" / "golden").rglob("*.crv")):
        rel = f.relative_to(TOP / "tests" / "golden").with_suffix("")
        yield "golden-" + "-".join(rel.parts), f.read_bytes()
    for f in sorted((TOP / "examples").glob("*.crv")):
        yield "example-" + f.stem, f.read_bytes()


def seeds():
    """(target, file name, bytes) of every seed."""
    out = []
    for label, data in sources():
        if len(data) <= MAX_LEN:
            out.append(("parser", label, data))
        for target, words in BLOCKS.items():
            alternatives = "|".join(words + [w.upper() for w in words])
            pattern = re.compile(rb"^[ \t]*(?:" + alternatives.encode() + rb")[ \t]+(?=\S)", re.M)
            for k, m in enumerate(pattern.finditer(data)):
                rest = data[m.end():]
                if len(rest) <= MAX_LEN:
                    out.append((target, f"{label}-{k + 1}" if k else label, rest))
    return out


def main():
    check = "--check" in sys.argv[1:]
    wanted = {}
    for target, name, data in seeds():
        wanted[CORPUS / target / name] = data
    stale = []
    for target in ["parser", *BLOCKS]:
        d = CORPUS / target
        for f in sorted(d.glob("*")) if d.exists() else []:
            if f.name.startswith(("golden-", "example-")) and f not in wanted:
                stale.append(f)
    changed = [f for f, data in wanted.items() if not f.exists() or f.read_bytes() != data]
    if check:
        for f in stale + changed:
            print("not current:", f.relative_to(TOP))
        return 1 if stale or changed else 0
    for f in stale:
        f.unlink()
    for f in changed:
        f.parent.mkdir(parents=True, exist_ok=True)
        f.write_bytes(wanted[f])
    digest = hashlib.sha256(b"".join(wanted[f] for f in sorted(wanted))).hexdigest()[:12]
    print(f"{len(wanted)} seeds in {len({f.parent for f in wanted})} targets ({digest}), "
          f"{len(changed)} written, {len(stale)} removed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
