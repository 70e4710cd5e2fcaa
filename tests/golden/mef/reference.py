#!/usr/bin/env python3
"""Expected outputs of the model exchange cases, computed independently of
the program: the XML is read with the standard library, every fault tree is
evaluated by enumerating all states of its basic events, and the importance
measures follow from their definitions (Q1, Q0 = the probability of the top
event with the component failed, working):

    bimpt = Q1 - Q0        cimpt = (Q1 - Q0) p / Q     fvimpt = (Q - Q0) / Q
    rawimpt = Q1 / Q       rrwimpt = Q / Q0

Usage: reference.py CASE.crv   (prints CASE.out)
       reference.py --check   (every case listed below matches its .out)
"""
import math
import re
import sys
import xml.etree.ElementTree as ET
from itertools import product
from pathlib import Path

PRECISION, WIDTH = 4, 10


def mapped(name):
    """Our name for a name of the file (letters, digits, '_' and '.' kept)."""
    s = "".join(c if (c.isascii() and (c.isalnum() or c in "_.")) else "_" for c in name)
    if not s or not s[0].isalpha():
        s = "n" + s
    if len(s) > 29:
        h = 2166136261
        for b in name.encode():
            h = ((h ^ b) * 16777619) & 0xFFFFFFFF
        s = s[:20] + "_" + format(h, "08x")
    return s


class Model:
    def __init__(self, paths):
        self.gates, self.events, self.houses, self.params, self.trees = {}, {}, {}, {}, {}
        for p in paths:
            root = ET.parse(p).getroot()
            for el in root:
                if el.tag == "define-fault-tree":
                    self.trees[el.get("name")] = [g.get("name") for g in el if g.tag == "define-gate"]
                    self.read(el)
                elif el.tag == "model-data":
                    self.read(el)

    def read(self, parent):
        for el in parent:
            body = [c for c in el if c.tag not in ("label", "attributes")]
            if el.tag == "define-gate":
                self.gates[el.get("name")] = body[0]
            elif el.tag == "define-basic-event":
                self.events[el.get("name")] = body[0]
            elif el.tag == "define-house-event":
                self.houses[el.get("name")] = bool(body) and body[0].get("value") == "true"
            elif el.tag == "define-parameter":
                self.params[el.get("name")] = body[0]

    def expr(self, e, t):
        a = [self.expr(c, t) for c in e]
        tag = e.tag
        if tag in ("float", "int"):
            return float(e.get("value"))
        if tag == "parameter":
            return self.expr(self.params[e.get("name")], t)
        if tag == "system-mission-time":
            return t
        if tag == "add":
            return sum(a)
        if tag == "sub":
            return a[0] - sum(a[1:])
        if tag == "mul":
            return math.prod(a)
        if tag == "div":
            r = a[0]
            for x in a[1:]:
                r /= x
            return r
        if tag == "neg":
            return -a[0]
        if tag == "exponential":
            return 1 - math.exp(-a[0] * a[1])
        if tag == "Weibull":
            alpha, beta, t0, time = a
            return 1 - math.exp(-(((time - t0) / alpha) ** beta))
        raise ValueError(tag)

    def events_below(self, f, seen):
        if f.tag in ("gate", "event") and f.get("name") in self.gates:
            self.events_below(self.gates[f.get("name")], seen)
        elif f.tag in ("basic-event", "event") and f.get("name") in self.events:
            if f.get("name") not in seen:
                seen.append(f.get("name"))
        for c in f:
            self.events_below(c, seen)
        return seen

    def value(self, f, state):
        tag = f.tag
        name = f.get("name")
        if tag in ("gate", "event") and name in self.gates:
            return self.value(self.gates[name], state)
        if tag in ("basic-event", "event") and name in self.events:
            return state[name]
        if tag in ("house-event", "event") and name in self.houses:
            return self.houses[name]
        if tag == "constant":
            return f.get("value") == "true"
        v = [self.value(c, state) for c in f]
        if tag == "and":
            return all(v)
        if tag == "or":
            return any(v)
        if tag == "not":
            return not v[0]
        if tag == "nand":
            return not all(v)
        if tag == "nor":
            return not any(v)
        if tag == "xor":
            return sum(v) % 2 == 1
        if tag == "iff":
            return v[0] == v[1]
        if tag == "imply":
            return (not v[0]) or v[1]
        if tag == "atleast":
            return sum(v) >= int(f.get("min"))
        raise ValueError(tag)

    def top(self, tree):
        gates = self.trees[tree]
        named = set()
        for g in gates:
            for el in self.gates[g].iter():
                if el.tag in ("gate", "event"):
                    named.add(el.get("name"))
        (top,) = [g for g in gates if g not in named]
        return self.gates[top]

    def probabilities(self, tree, t, fixed=None):
        """P(top) with the event `fixed[0]` forced to `fixed[1]`."""
        f = self.top(tree)
        names = self.events_below(f, [])
        p = {n: self.expr(self.events[n], t) for n in names}
        total = 0.0
        for bits in product((False, True), repeat=len(names)):
            state = dict(zip(names, bits))
            w = 1.0
            for n in names:
                if fixed and n == fixed[0]:
                    if state[n] != fixed[1]:
                        w = 0.0
                    continue
                w *= p[n] if state[n] else 1 - p[n]
            if w and self.value(f, state):
                total += w
        return total, p, names


def importance(model, kind, tree, comp, t):
    q, p, _ = model.probabilities(tree, t)
    q1 = model.probabilities(tree, t, (comp, True))[0]
    q0 = model.probabilities(tree, t, (comp, False))[0]
    return {
        "bimpt": q1 - q0,
        "cimpt": (q1 - q0) * p[comp] / q if q else 0.0,
        "fvimpt": (q - q0) / q if q else 0.0,
        "rawimpt": q1 / q if q else 0.0,
        "rrwimpt": q / q0 if q0 else 0.0,
    }[kind]


def fmt(v):
    if abs(v) < 1e-12:
        v = 0.0
    return "%*.*e" % (WIDTH, PRECISION, v)


def expected(case, xmls, originals):
    model = Model(xmls)
    by_ours = {}
    for n in list(model.events) + list(model.gates) + list(model.trees):
        by_ours[mapped(n)] = n
    out, first = [], True
    lines = [l.strip() for l in Path(case).read_text().splitlines()]
    # The requests follow the model's blocks, if the case has any.
    if "end" in lines:
        lines = lines[len(lines) - lines[::-1].index("end"):]
    for line in lines:
        line = line.strip()
        if not line or line.startswith("*"):
            continue
        if not first:
            out.append("-------------------------------------------\n\n")
        first = False
        m = re.fullmatch(r"value\((\S+); (\S+)\)", line)
        if m:
            t, tree = float(m[1]), by_ours[m[2]]
            out.append("%s:   %s\n\n" % (line, fmt(model.probabilities(tree, t)[0])))
            continue
        m = re.fullmatch(r"(\w+impt)\((\S+); (\S+), (\S+)\)", line)
        if m:
            v = importance(model, m[1], by_ours[m[3]], by_ours[m[4]], float(m[2]))
            out.append("%s:   %s\n\n" % (line, fmt(v)))
            continue
        m = re.fullmatch(r"rankimpt\((\S+); (\S+)\) (\w+)", line)
        if m:
            t, tree, kind = float(m[1]), by_ours[m[2]], m[3]
            names = model.probabilities(tree, t)[2]
            rows = [(n, importance(model, kind, tree, n, t)) for n in names]
            # Largest first; equal values keep the order of the events.
            rows.sort(key=lambda r: -float("%.11e" % r[1]))
            if not originals:
                rows = [(mapped(n), v) for n, v in rows]
            width = max([9] + [len(n) for n, _ in rows])
            s = "\nranking of system %s by %s at t = %.*e:\n\n" % (m[2], kind, PRECISION, t)
            s += "rank  %-*s  %*s\n" % (width, "component", WIDTH, kind)
            for i, (n, v) in enumerate(rows, 1):
                s += "%4d  %-*s  %s\n" % (i, width, n, fmt(v))
            out.append(s + "\n")
            continue
        raise SystemExit("unknown query: " + line)
    return "".join(out)


# case: (model files, whether the listings show the names of the files)
CASES = {
    "elements": (["elements.xml"], True),
    "same_in_our_language": (["elements.xml"], False),
}


def main():
    here = Path(__file__).parent
    if sys.argv[1:] == ["--check"]:
        bad = 0
        for case, (xmls, originals) in CASES.items():
            want = expected(here / (case + ".crv"), [here / x for x in xmls], originals)
            if (here / (case + ".out")).read_text() != want:
                print("differs:", case)
                bad = 1
        sys.exit(bad)
    case = Path(sys.argv[1]).stem
    xmls, originals = CASES.get(case, (sys.argv[2:], True))
    sys.stdout.write(expected(sys.argv[1], [Path(sys.argv[1]).parent / x for x in xmls], originals))


if __name__ == "__main__":
    main()
