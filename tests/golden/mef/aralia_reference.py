#!/usr/bin/env python3
"""Top-event probabilities of the public fault-tree benchmark files, computed
independently of the program: the XML is read with the standard library and
each tree is solved with a small reduced ordered BDD of its own (unique table,
memoised apply, variables in depth-first order from the top), then evaluated
by Shannon expansion. Trees whose diagram grows beyond a node budget are left
out (the sweep still solves them with the program, without a second opinion).

Usage: aralia_reference.py DIR [BUDGET]   -> lines "file probability" (%.15e)
"""
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

sys.setrecursionlimit(100000)


class TooBig(Exception):
    pass


class Bdd:
    def __init__(self, budget):
        self.unique = {}
        self.nodes = [None, None]  # 0 = false, 1 = true
        self.memo = {}
        self.budget = budget

    def mk(self, v, lo, hi):
        if lo == hi:
            return lo
        key = (v, lo, hi)
        n = self.unique.get(key)
        if n is None:
            n = len(self.nodes)
            if n > self.budget:
                raise TooBig()
            self.nodes.append(key)
            self.unique[key] = n
        return n

    def var(self, n):
        return self.nodes[n][0] if n > 1 else 1 << 60

    def apply(self, op, a, b):
        # op: "and", "or", "xor"
        if op == "and":
            if a == 0 or b == 0:
                return 0
            if a == 1:
                return b
            if b == 1 or a == b:
                return a
        elif op == "or":
            if a == 1 or b == 1:
                return 1
            if a == 0:
                return b
            if b == 0 or a == b:
                return a
        else:
            if a == 0:
                return b
            if b == 0:
                return a
            if a == b:
                return 0
        if a > b:
            a, b = b, a
        key = (op, a, b)
        r = self.memo.get(key)
        if r is not None:
            return r
        va, vb = self.var(a), self.var(b)
        v = min(va, vb)
        a0, a1 = (self.nodes[a][1], self.nodes[a][2]) if va == v else (a, a)
        b0, b1 = (self.nodes[b][1], self.nodes[b][2]) if vb == v else (b, b)
        r = self.mk(v, self.apply(op, a0, b0), self.apply(op, a1, b1))
        self.memo[key] = r
        return r

    def neg(self, a):
        return self.apply("xor", a, 1)

    def prob(self, root, p):
        cache = {0: 0.0, 1: 1.0}
        order = [root]
        stack = [root]
        while stack:  # children before parents, without deep recursion
            n = stack.pop()
            if n in cache or n < 2:
                continue
            v, lo, hi = self.nodes[n]
            pending = [c for c in (lo, hi) if c not in cache]
            if pending:
                stack.append(n)
                stack.extend(pending)
                continue
            cache[n] = p[v] * cache[hi] + (1 - p[v]) * cache[lo]
        return cache[root]


def solve(path, budget):
    root = ET.parse(path).getroot()
    gates, prob = {}, {}
    for el in root.iter():
        if el.tag == "define-gate":
            gates[el.get("name")] = [c for c in el if c.tag not in ("label", "attributes")][0]
        elif el.tag == "define-basic-event":
            prob[el.get("name")] = float(el.find("float").get("value"))
    named = set()
    for f in gates.values():
        for el in f.iter():
            if el.tag in ("gate", "event"):
                named.add(el.get("name"))
    (top,) = [g for g in gates if g not in named]
    # Variable order: events as met depth first from the top.
    order, seen = {}, set()

    def visit(f):
        stack = [f]
        while stack:
            e = stack.pop()
            if e.tag in ("gate", "event") and e.get("name") in gates:
                name = e.get("name")
                if name in seen:
                    continue
                seen.add(name)
                stack.append(gates[name])
            elif e.tag in ("basic-event", "event") and e.get("name") in prob:
                order.setdefault(e.get("name"), len(order))
            else:
                stack.extend(reversed(list(e)))

    visit(gates[top])
    bdd = Bdd(budget)
    done = {}

    def build(f):
        if f.tag in ("gate", "event") and f.get("name") in gates:
            name = f.get("name")
            if name not in done:
                done[name] = build(gates[name])
            return done[name]
        if f.tag in ("basic-event", "event"):
            return bdd.mk(order[f.get("name")], 0, 1)
        kids = [build(c) for c in f]
        if f.tag == "and":
            r = 1
            for k in kids:
                r = bdd.apply("and", r, k)
            return r
        if f.tag == "or":
            r = 0
            for k in kids:
                r = bdd.apply("or", r, k)
            return r
        if f.tag == "not":
            return bdd.neg(kids[0])
        if f.tag == "xor":
            r = 0
            for k in kids:
                r = bdd.apply("xor", r, k)
            return r
        if f.tag == "atleast":
            need = int(f.get("min"))
            s = [1] + [0] * need  # s[j]: at least j of the inputs so far
            for k in kids:
                for j in range(need, 0, -1):
                    s[j] = bdd.apply("or", s[j], bdd.apply("and", k, s[j - 1]))
            return s[need]
        raise ValueError(f.tag)

    r = build(gates[top])
    p = [0.0] * len(order)
    for name, i in order.items():
        p[i] = prob[name]
    return bdd.prob(r, p)


def main():
    folder = Path(sys.argv[1])
    budget = int(sys.argv[2]) if len(sys.argv) > 2 else 300000
    for path in sorted(folder.glob("*.xml")):
        try:
            print("%s %.15e" % (path.stem, solve(path, budget)), flush=True)
        except TooBig:
            print("%s too-large" % path.stem, flush=True)


if __name__ == "__main__":
    main()
