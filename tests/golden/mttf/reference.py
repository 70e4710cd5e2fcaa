#!/usr/bin/env python3
"""Independent reference for the mttf golden cases.

Every component is an independent two-state repairable unit (failure rate l,
repair rate m), so the stationary distribution of the component CTMC is the
product of a = m/(l+m) (up) and 1 - a (down). For a structure function up(s):
    A  = sum over up states s of pi(s)
    nu = sum over up states s, components i up in s with s - i down, of pi(s) * l_i
    MTTF = A / nu,  sysprob = 1 - A.
Exact rational arithmetic throughout.

Usage: reference.py CASE  (prints the expected output of that case)
"""
from fractions import Fraction as F
from itertools import product
import sys


def measures(comps, up):
    """comps: list of (l, m); up(state) with state a tuple of booleans (True = up)."""
    A = F(0)
    nu = F(0)
    for s in product([True, False], repeat=len(comps)):
        if not up(s):
            continue
        pi = F(1)
        for (l, m), u in zip(comps, s):
            a = F(m, 1) / (l + m)
            pi *= a if u else 1 - a
        A += pi
        for i, (l, m) in enumerate(comps):
            if s[i]:
                t = list(s)
                t[i] = False
                if not up(tuple(t)):
                    nu += pi * l
    return A / nu, 1 - A


def line(text, value):
    return "%s:   %.4e\n" % (text, float(value))


SEP = "-------------------------------------------\n\n"


def statements(blocks):
    """Each block is the output of one statement; later ones follow a separator."""
    return SEP.join(b + "\n" for b in blocks)


def single_series_parallel():
    one = measures([(2, 3)], lambda s: s[0])[0]
    two = [(2, 3), (2, 3)]
    ser = measures(two, lambda s: s[0] and s[1])[0]
    par = measures(two, lambda s: s[0] or s[1])[0]
    # closed forms of the same three values
    a = F(3, 5)
    assert one == F(1, 2) and ser == F(1, 4)
    assert par == (1 - (1 - a) ** 2) / (2 * 2 * a * (1 - a))
    names = ["one", "onef", "ser", "serf", "par", "parf"]
    vals = [one, one, ser, ser, par, par]
    return statements(["".join(line("mttf(%s)" % n, v) for n, v in zip(names, vals))])


def two_of_three():
    comps = [(1, 5), (2, 6), (3, 7)]
    mt, unav = measures(comps, lambda s: sum(s) >= 2)
    iid, _ = measures([(1, 5)] * 3, lambda s: sum(s) >= 2)
    return statements([
        line("mttf(b)", mt) + line("mttf(f)", mt) + line("mttf(iid)", iid),
        line("sysprob(b)", unav) + line("ss_unavail(f)", unav),
    ])


def repeated_event():
    # a, b, c, d; the tree fails when d fails or a fails with b or c failed.
    comps = [(1, 4), (2, 3), (3, 2), (1, 1)]
    up = lambda s: s[3] and (s[0] or (s[1] and s[2]))
    mt, unav = measures(comps, up)
    return statements([line("mttf(f)", mt)] * 3 + [line("sysprob(f)", unav)])


def relgraph_bridge():
    # edges s-a, s-b, a-t, b-t, a-b (two-way)
    comps = [(1, 4), (2, 5), (3, 6), (1, 2), (2, 3)]

    def up(s):
        sa, sb, at, bt, ab = s
        return (sa and at) or (sb and bt) or (ab and ((sa and bt) or (sb and at)))

    br, unav = measures(comps, up)
    # s-a and b-t share one component; a-t, s-b
    rep, _ = measures([(1, 4), (2, 3), (3, 2)], lambda s: (s[0] and s[1]) or (s[2] and s[0]))
    return statements([line("mttf(br)", br) + line("mttf(rep)", rep), line("sysprob(br)", unav)])


CASES = {
    "single_series_parallel": single_series_parallel,
    "two_of_three": two_of_three,
    "repeated_event": repeated_event,
    "relgraph_bridge": relgraph_bridge,
}

if __name__ == "__main__":
    sys.stdout.write(CASES[sys.argv[1]]())
