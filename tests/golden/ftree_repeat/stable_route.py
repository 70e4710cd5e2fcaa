#!/usr/bin/env python3
"""Writes the two cases of fault trees whose closed form cannot be trusted or
built, with their expected outputs from the product formulas of their
independent gates (integrated with mpmath at 40 digits); it never runs the
program.

stable_equal_rates: 40 and gates of three events each, all of one rate, under
an or. The closed form's coefficients cancel far beyond double precision.
stable_distinct_rates: 20 and gates over 60 events of distinct rates under an
or. The closed form would have more terms than memory holds.
stable_cut_sets: the first tree with bdd off, past the factoring limit:
the disjoint products of its cut sets, evaluated at t.
The trees declare every event repeated, so they take the diagram route, or
with bdd off the cut-set route, which says so before every request."""
import random
from mpmath import mp, mpf, exp, expm1, quad, inf

mp.dps = 40


def e8(x):
    return "%.8e" % float(x)


GKG = ("more than 13 repeated components\n"
       "using GKG algorithm instead of factoring\n"
       "to increase limit to n, say 'factorlimit n'")


def write(name, rates, triples, times, event, bdd=True):
    lines = ["format 8"] + ([] if bdd else ["bdd off"]) + ["ftree " + name]
    lines += ["repeat e%d exp(%s)" % (i, r) for i, r in enumerate(rates)]
    for g, t in enumerate(triples):
        lines.append("and a%d %s" % (g, " ".join("e%d" % i for i in t)))
    lines.append("or top " + " ".join("a%d" % g for g in range(len(triples))))
    lines.append("end")
    lam = [mpf(r) for r in rates]

    def gate(g, t):
        p = mpf(1)
        for i in triples[g]:
            p *= -expm1(-lam[i] * t)
        return p

    def survival(t):
        s = mpf(1)
        for g in range(len(triples)):
            s *= 1 - gate(g, t)
        return s

    values = [1 - survival(mpf(t)) for t in times]
    mean = quad(survival, [0, 100, 1000, 10000, inf])
    second = 2 * quad(lambda t: t * survival(t), [0, 100, 1000, 10000, inf])
    # The Birnbaum importance of `event` at the last time: the top with the
    # event failed less the top with it working.
    t = mpf(times[-1])
    g0 = next(g for g, tr in enumerate(triples) if event in tr)
    others = mpf(1)
    for g in range(len(triples)):
        if g != g0:
            others *= 1 - gate(g, t)
    rest = mpf(1)
    for i in triples[g0]:
        if i != event:
            rest *= -expm1(-lam[i] * t)
    bimpt = others * rest
    lines.append("expr " + ", ".join("value(%s; %s)" % (t_, name) for t_ in times))
    lines.append("expr mean(%s), variance(%s)" % (name, name))
    # Without bdd every request analyses the tree again, after the notice.
    said = (lambda line: line) if bdd else (lambda line: GKG + "\n" + line)
    out = [said("value(%s; %s):   %s" % (t_, name, e8(v))) for t_, v in zip(times, values)]
    out += ["", "-------------------------------------------", ""]
    out += [said("mean(%s):   %s" % (name, e8(mean))), said("variance(%s):   %s" % (name, e8(second - mean * mean)))]
    out += [""]
    if bdd:
        lines.append("expr bimpt(%s; %s, e%d)" % (times[-1], name, event))
        out += ["-------------------------------------------", ""]
        out += ["bimpt(%s; %s, e%d):   %s" % (times[-1], name, event, e8(bimpt)), ""]
    with open(name + ".crv", "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(name + ".out", "w") as f:
        f.write("\n".join(out) + "\n")


write("stable_equal_rates", ["0.0005"] * 120, [(3 * g, 3 * g + 1, 3 * g + 2) for g in range(40)], [1, 100, 1000], 0)
write("stable_cut_sets", ["0.0005"] * 120, [(3 * g, 3 * g + 1, 3 * g + 2) for g in range(40)], [1, 100, 1000], 0,
      bdd=False)
rng = random.Random(7)
rates = ["%.6g" % (0.001 * (1 + rng.random())) for _ in range(60)]
# Each gate takes two events of its own triple and the third of the next one.
write("stable_distinct_rates", rates, [(3 * g, 3 * g + 1, (3 * g + 5) % 60) for g in range(20)], [10, 100, 500], 5)
