#!/usr/bin/env python3
"""Independent reference for the multi-state fault-tree golden cases.

Each component is in exactly one of its named states with the probability
its event gives (state 0 for a name without a state number), or in none of
them with the remaining probability. A top event's probability is the sum,
over every combination of component states, of the combination's
probability when the gate function holds. Distributions of products of
exponentials are expanded term by term with fractions; no decision diagram
is used.

Usage: reference.py --write   (writes every CASE.out next to this script)
"""
import itertools
import math
import os
import sys
from fractions import Fraction as Fr

SEP = "-------------------------------------------\n\n"


def expo(rate):
    return lambda t: 1.0 - math.exp(-rate * t)


def const(p):
    return lambda t: p


def top_probability(states, gate, t):
    """states: component -> {state: F}; gate: dict comp -> state or None."""
    comps = sorted(states)
    options = []
    for c in comps:
        opts = [(s, F(t)) for s, F in sorted(states[c].items())]
        rest = 1.0 - sum(p for _, p in opts)
        opts.append((None, rest))
        options.append(opts)
    total = 0.0
    for combo in itertools.product(*options):
        pr = 1.0
        for _, p in combo:
            pr *= p
        if pr and gate({c: s for c, (s, _) in zip(comps, combo)}):
            total += pr
    return total


def line(text, v):
    return "%s:   %.4e\n" % (text, v)


def case_three_state_component():
    st = {"p": {0: const(0.5), 1: const(0.2), 2: const(0.3)}, "q": {0: const(0.4)}}
    tops = [
        ("top_any", lambda s: s["p"] in (0, 1, 2)),
        ("top_two", lambda s: s["p"] == 1 and s["p"] == 2),
        ("top_one_two", lambda s: s["p"] in (1, 2)),
        ("top_mix", lambda s: (s["p"] == 1 and s["q"] == 0) or s["p"] == 2),
    ]
    vals = [top_probability(st, g, 0.0) for _, g in tops]
    # By hand: 0.5 + 0.2 + 0.3, nothing, 0.2 + 0.3, 0.2 * 0.4 + 0.3.
    for v, hand in zip(vals, [1.0, 0.0, 0.5, 0.38]):
        assert abs(v - hand) < 1e-12
    return "".join(line("sysprob(ms, %s)" % n, v) for (n, _), v in zip(tops, vals)) + "\n"


def case_shared_gate():
    st = {"v": {1: expo(0.2), 2: expo(0.1)}, "w": {1: expo(0.3), 2: expo(0.05)}, "x": {0: expo(0.4)}}
    shared = lambda s: s["v"] == 1 and s["w"] == 1
    top1 = lambda s: shared(s) or s["v"] == 2
    top2 = lambda s: shared(s) or s["w"] == 2 or s["x"] == 0
    top3 = lambda s: sum([s["v"] == 2, s["w"] == 2, s["x"] == 0]) >= 2
    return (line("tvalue(1; ms, top1)", top_probability(st, top1, 1)) +
            line("tvalue(1; ms, top2)", top_probability(st, top2, 1)) +
            line("tvalue(1; ms, shared)", top_probability(st, shared, 1)) +
            line("tvalue(1; ms, top3)", top_probability(st, top3, 1)) +
            line("tvalue(2; ms, top2)", top_probability(st, top2, 2)) + "\n")


def expand_product(rates):
    """prod (1 - e^(-r t)) as {b: a} with exact fractions."""
    terms = {Fr(0): Fr(1)}
    for r in rates:
        nxt = {}
        for b, a in terms.items():
            nxt[b] = nxt.get(b, 0) + a
            nxt[b - r] = nxt.get(b - r, 0) - a
        terms = {b: a for b, a in nxt.items() if a != 0}
    return terms


def case_cdf_of_top_event():
    terms = expand_product([Fr(1), Fr(2)])
    # Survival 1 - F = -sum_{b<0} a e^(bt); E[T] = sum a/b, E[T^2] = -sum 2a/b^2.
    mean = sum(a / b for b, a in terms.items() if b != 0)
    second = -sum(2 * a / (b * b) for b, a in terms.items() if b != 0)
    var = second - mean * mean
    out = "\nCDF for system ms:\n\n"
    first = True
    for b in sorted(terms, reverse=True):
        a = float(terms[b])
        body = "%11.4e t(  0) exp(%11.4e t)\n" % (a, float(b))
        out += ("   " if first else " + ") + body
        first = False
    out += "\nmean: %.4e\nvariance: %.4e\n\n" % (float(mean), float(var))
    st = {"p": {1: expo(1), 2: expo(5)}, "q": {0: expo(2)}}
    top = lambda s: s["p"] == 1 and s["q"] == 0
    assert abs(top_probability(st, top, 0.7) - sum(float(a) * math.exp(float(b) * 0.7)
                                                  for b, a in terms.items())) < 1e-12
    return (out + SEP + line("mean(ms, top)", float(mean)) + line("variance(ms, top)", float(var)) +
            line("pinf(ms, top)", 0.0) + "\n")


def case_not_a_top_event():
    st = {"p": {1: expo(1)}, "q": {0: expo(2)}}
    top = lambda s: s["p"] == 1 or s["q"] == 0
    return (line("tvalue(1; ms, top)", top_probability(st, top, 1)) + "\n" + SEP +
            "error: event not at top of fault tree: system ms, event p:1 (not_a_top_event.crv: line    8).\n")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    if len(sys.argv) == 2 and sys.argv[1] == "--write":
        for name, fn in CASES.items():
            with open(os.path.join(here, name + ".out"), "w") as f:
                f.write(fn())
    elif len(sys.argv) == 2 and sys.argv[1] in CASES:
        sys.stdout.write(CASES[sys.argv[1]]())
    else:
        sys.exit("usage: reference.py --write | CASE")
