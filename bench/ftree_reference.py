#!/usr/bin/env python3
"""Independent top-event probability of a corvel ftree block (repeat events
with prob(), and / or / not / nand / nor / kofn gates), for checking the
solver on the converted benchmark trees.

    ftree_reference.py tree.crv [node_budget]

A plain decision diagram without complement edges, built with a memoised
if-then-else over a depth-first order of the events, and evaluated in exact
rational arithmetic (each prob() read as the decimal it is written as).
Prints the probability with 12 significant digits, or "too large" once the
diagram passes the node budget (default 400 000)."""
import sys
from fractions import Fraction

sys.setrecursionlimit(1000000)


class TooLarge(Exception):
    pass


class Diagram:
    def __init__(self, budget):
        self.nodes = [None, None]      # 0 false, 1 true; then (var, hi, lo)
        self.unique = {}
        self.memo = {}
        self.budget = budget

    def node(self, v, hi, lo):
        if hi == lo:
            return hi
        key = (v, hi, lo)
        n = self.unique.get(key)
        if n is None:
            if len(self.nodes) > self.budget:
                raise TooLarge()
            n = len(self.nodes)
            self.nodes.append(key)
            self.unique[key] = n
        return n

    def var(self, n):
        return self.nodes[n][0] if n > 1 else 1 << 30

    def ite(self, f, g, h):
        if f == 1:
            return g
        if f == 0:
            return h
        if g == 1 and h == 0:
            return f
        if g == h:
            return g
        key = (f, g, h)
        r = self.memo.get(key)
        if r is not None:
            return r
        v = min(self.var(f), self.var(g), self.var(h))

        def cof(x, side):
            if x > 1 and self.nodes[x][0] == v:
                return self.nodes[x][1] if side else self.nodes[x][2]
            return x
        r = self.node(v, self.ite(cof(f, 1), cof(g, 1), cof(h, 1)),
                      self.ite(cof(f, 0), cof(g, 0), cof(h, 0)))
        self.memo[key] = r
        return r

    def AND(self, f, g):
        return self.ite(f, g, 0)

    def OR(self, f, g):
        return self.ite(f, 1, g)

    def NOT(self, f):
        return self.ite(f, 0, 1)


def read(path):
    probs, gates, order = {}, {}, []
    for line in open(path):
        w = line.replace(",", " ").split()
        if not w or w[0] in ("ftree",):
            continue
        if w[0] == "end":
            break
        if w[0] in ("repeat", "basic"):
            probs[w[1]] = Fraction(w[2][len("prob("):-1])
        else:
            gates[w[1]] = (w[0], w[2:])
            order.append(w[1])
    return probs, gates, order[-1]


def main():
    probs, gates, top = read(sys.argv[1])
    budget = int(sys.argv[2]) if len(sys.argv) > 2 else 400000
    # Variables in the order a depth-first walk from the top meets the events.
    index, seen, stack = {}, set(), [top]
    while stack:
        x = stack.pop()
        if x in probs:
            index.setdefault(x, len(index))
            continue
        if x in seen:
            continue
        seen.add(x)
        kind, args = gates[x]
        kids = args[2:] if kind in ("kofn", "nkofn") else args
        stack.extend(reversed(kids))
    d = Diagram(budget)
    built = {}

    def build(x):
        if x in built:
            return built[x]
        if x in probs:
            i = index[x]
            r = d.node(i, 1, 0)
        else:
            kind, args = gates[x]
            if kind in ("kofn", "nkofn"):
                k = int(args[0])
                kids = [build(a) for a in args[2:]]
                # at least k of kids[j:], memoised on (j, k)
                table = {}

                def atleast(j, k):
                    if k <= 0:
                        return 1
                    if len(kids) - j < k:
                        return 0
                    if (j, k) not in table:
                        table[(j, k)] = d.ite(kids[j], atleast(j + 1, k - 1), atleast(j + 1, k))
                    return table[(j, k)]
                r = atleast(0, k)
            else:
                kids = [build(a) for a in args]
                if kind in ("and", "nand"):
                    r = 1
                    for c in kids:
                        r = d.AND(r, c)
                elif kind in ("or", "nor"):
                    r = 0
                    for c in kids:
                        r = d.OR(r, c)
                else:  # not
                    r = kids[0]
            if kind in ("nand", "nor", "not", "nkofn"):
                r = d.NOT(r)
        built[x] = r
        return r

    try:
        root = build(top)
    except TooLarge:
        print("too large")
        return
    p = {0: Fraction(0), 1: Fraction(1)}
    var_prob = [None] * len(index)
    for name, i in index.items():
        var_prob[i] = probs[name]
    for n in range(2, len(d.nodes)):
        v, hi, lo = d.nodes[n]
        p[n] = var_prob[v] * p[hi] + (1 - var_prob[v]) * p[lo]
    print("%.11e" % p[root])


if __name__ == "__main__":
    main()
