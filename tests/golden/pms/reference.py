#!/usr/bin/env python3
"""Independent reference for the phased-mission golden cases.

A mission is enumerated over the phase in which each component fails (or
none). A component fails within phase j with probability P_j - P_{j-1}, where
P_j = 1 - (1 - P_{j-1})(1 - F(tau_j)) for a phase whose tree uses it (tau_j
the time spent in phase j, the clock restarting in each phase) and
P_j = P_{j-1} otherwise. The mission has failed by t when some phase up to
the one containing t has its tree failed with the components failed by the
end of that phase. No decision diagram is used.

Importance: bimpt and cimpt condition the mission function on the
component's phase variables as the measure defines them (failed by the end of
phase j and of every later phase that uses it, or working at the end of
phase j), the component's other phase variables staying free with their own
probabilities; simpt counts assignments of all phase variables, each true
with probability one half.

Usage: reference.py --write   (writes every CASE.out next to this script)
       reference.py --importance (the values of the importance unit test)
"""
import itertools
import math
import os
import sys

SEP = "-------------------------------------------\n\n"


def expo(rate):
    return lambda t: 1.0 - math.exp(-rate * t)


def weib(b, c):
    return lambda t: 1.0 - math.exp(-(t ** c) / b)


class Phase:
    def __init__(self, comps, tree, duration):
        self.comps = comps      # name -> F(tau)
        self.tree = tree        # dict name -> failed -> bool
        self.duration = duration


def phase_of(phases, t, right):
    end = 0.0
    for j, ph in enumerate(phases):
        end += ph.duration
        if (end > t) if right else (end >= t):
            return j
    return len(phases) - 1


def failed_by(phases, t, last):
    """P[j][c] for the phases 0..last."""
    names = sorted({c for ph in phases[: last + 1] for c in ph.comps})
    P = []
    start = 0.0
    for j in range(last + 1):
        ph = phases[j]
        tau = ph.duration if start + ph.duration < t else t - start
        row = {}
        for c in names:
            prev = P[j - 1][c] if j else 0.0
            row[c] = 1 - (1 - prev) * (1 - ph.comps[c](tau)) if c in ph.comps else prev
        P.append(row)
        start += ph.duration
    return names, P


def mission(phases, t, right=False):
    last = phase_of(phases, t, right)
    names, P = failed_by(phases, t, last)
    total = 0.0
    choices = list(range(last + 1)) + [None]
    for fail in itertools.product(choices, repeat=len(names)):
        pr = 1.0
        for c, k in zip(names, fail):
            if k is None:
                pr *= 1 - P[last][c]
            else:
                pr *= P[k][c] - (P[k - 1][c] if k else 0.0)
        if pr == 0.0:
            continue
        state = dict(zip(names, fail))
        down = any(
            phases[j].tree({c: state[c] is not None and state[c] <= j for c in phases[j].comps})
            for j in range(last + 1))
        if down:
            total += pr
    return total


def phase_function(phases, last, x):
    """Mission function of independent phase variables x[(c, j)]: a variable
    counts as failed in phase j only when every later phase using the
    component also has it failed."""
    def eff(c, j):
        return all(x[(c, k)] for k in range(j, last + 1) if c in phases[k].comps)
    return any(phases[j].tree({c: eff(c, j) for c in phases[j].comps}) for j in range(last + 1))


def variables(phases, last):
    return [(c, j) for j in range(last + 1) for c in sorted(phases[j].comps)]


def importance(phases, t, comp, j, kind):
    last = phase_of(phases, t, False)
    names, P = failed_by(phases, t, last)
    vs = variables(phases, last)
    later = [(comp, k) for k in range(j, last + 1) if comp in phases[k].comps]

    def prob(fixed, weight):
        free = [v for v in vs if v not in fixed]
        s = 0.0
        for bits in itertools.product([False, True], repeat=len(free)):
            x = dict(fixed)
            x.update(zip(free, bits))
            w = 1.0
            for v, b in zip(free, bits):
                p = weight(v)
                w *= p if b else 1 - p
            if phase_function(phases, last, x):
                s += w
        return s

    if kind == "simpt":
        half = lambda v: 0.5
        return (prob({v: True for v in later}, half) - prob({(comp, j): False}, half)) / 2
    real = lambda v: P[v[1]][v[0]]
    b = prob({v: True for v in later}, real) - prob({(comp, j): False}, real)
    if kind == "bimpt":
        return b
    return b * P[j][comp] / mission(phases, t)


def line(text, v):
    return "%s:   %.4e\n" % (text, v)


def results(blocks):
    return SEP.join(b + "\n" for b in blocks)


NOTE = ("\n*** NOTE:\n*** fault tree %s will be treated in pms %s as if all events were repeated.\n\n")


def case_one_phase_equals_tree():
    F = {"a": expo(0.5), "b": expo(1), "c": expo(2)}
    tree = lambda s: (s["a"] and s["b"]) or (s["a"] and s["c"])
    m = [Phase(F, tree, 3)]

    def direct(t):
        a, b, c = (F[k](t) for k in "abc")
        return a * (b + c - b * c)
    return results([line("tvalue(1.5; m)", mission(m, 1.5)) + line("tvalue(1.5; f)", direct(1.5)) +
                    line("tvalue(3; m)", mission(m, 3))])


def two_phase_model():
    f1 = Phase({"a": expo(0.2), "b": expo(0.4)}, lambda s: s["a"] and s["b"], 2)
    f2 = Phase({"a": expo(0.2), "c": expo(1)}, lambda s: s["a"] or s["c"], 1.5)
    return [f1, f2]


def case_only_in_phase_two():
    m = two_phase_model()
    # By hand at t = 3 (one unit into phase 2): the mission survives when the
    # pair (a, b) survives phase 1 and then a and c survive the unit of
    # phase 2; c starts fresh at the start of phase 2.
    qa2 = math.exp(-0.2 * 2)
    qb2 = math.exp(-0.4 * 2)
    pair_ok = 1 - (1 - qa2) * (1 - qb2)
    # a must be working at the end of phase 1 to survive phase 2.
    survive = qa2 * math.exp(-0.2) * math.exp(-1.0)
    hand = 1 - survive
    assert abs(hand - mission(m, 3)) < 1e-12, (hand, mission(m, 3))
    assert pair_ok > 0
    return results([line("tvalue(1; m)", mission(m, 1)) + line("tvalue(2; m)", mission(m, 2)) +
                    line("tvalue(3; m)", mission(m, 3)) + line("tvalue(3.5; m)", mission(m, 3.5))])


def case_three_phases():
    p1 = Phase({"a": expo(0.1), "b": expo(0.2)}, lambda s: s["a"] or s["b"], 1)
    p2 = Phase({"a": expo(0.3), "b": expo(0.5), "c": expo(0.4)}, lambda s: (s["a"] and s["b"]) or s["c"], 2)
    p3 = Phase({"a": expo(0.6), "c": expo(0.2)}, lambda s: s["a"] and s["c"], 1.5)
    m = [p1, p2, p3]
    return results([line("tvalue(0.5; m)", mission(m, 0.5)) + line("tvalue(2; m)", mission(m, 2)) +
                    line("tvalue(3.7; m)", mission(m, 3.7)) + line("tvalue(4.5; m)", mission(m, 4.5))])


def case_boundary_time_point():
    f1 = Phase({"a": expo(0.5), "b": expo(1)}, lambda s: s["a"] and s["b"], 1)
    f2 = Phase({"a": expo(0.5), "c": expo(2)}, lambda s: s["a"] or s["c"], 1)
    m = [f1, f2]
    left = mission(m, 1)
    right = mission(m, 1, right=True)
    # By hand: phase 1 alone gives P(a and b) at 1; in phase 2 at its start c
    # has not run, so the mission has failed exactly when a has.
    assert abs(left - (1 - math.exp(-0.5)) * (1 - math.exp(-1))) < 1e-12
    assert abs(right - (1 - math.exp(-0.5))) < 1e-12
    return (line("tvalue(1; m)", left) + "\nTime point is set to right in PMS ...\n" + SEP +
            line("tvalue(1; m)", right) + "\n" + SEP + line("tvalue(2; m)", mission(m, 2, right=True)) +
            "\nTime point is set to left in PMS ...\n" + SEP + line("tvalue(1; m)", left) + "\n")


def importance_values():
    """Importance in the two-phase model, for the unit test of the solver's
    importance per phase (the measures of a mission are tvalue only)."""
    m = two_phase_model()
    rows = [("bimpt", 3, "c", 2), ("cimpt", 3, "c", 2), ("bimpt", 3, "a", 2), ("bimpt", 3, "b", 1),
            ("simpt", 3.5, "a", 2), ("simpt", 3.5, "b", 1)]
    return "".join("%s t=%g %s phase %d: %.17g\n" % (k, t, c, j, importance(m, t, c, j - 1, k))
                   for k, t, c, j in rows)


def case_weibull_phases():
    w = Phase({"a": weib(2, 1.5), "d": expo(1)}, lambda s: s["a"] or s["d"], 1)
    v = Phase({"a": weib(2, 1.5), "e": expo(0.5)}, lambda s: s["a"] and s["e"], 2)
    m = [w, v]
    return results([line("tvalue(1; m)", mission(m, 1)) + line("tvalue(2.5; m)", mission(m, 2.5))])


def case_time_out_of_range():
    f = Phase({"a": expo(1), "b": expo(2)}, lambda s: s["a"] or s["b"], 1)
    g = Phase({"a": expo(1), "b": expo(2)}, lambda s: s["a"] or s["b"], 2)
    m = [f, g]
    # One note for each phase line naming the tree.
    return (NOTE % ("f", "m") + NOTE % ("f", "m") + line("tvalue(3; m)", mission(m, 3)) + "\n" + SEP +
            "error: time out of range, system m (time_out_of_range.crv: line   12).\n")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    if len(sys.argv) == 2 and sys.argv[1] == "--write":
        for name, fn in CASES.items():
            with open(os.path.join(here, name + ".out"), "w") as f:
                f.write(fn())
    elif len(sys.argv) == 2 and sys.argv[1] == "--importance":
        sys.stdout.write(importance_values())
    elif len(sys.argv) == 2 and sys.argv[1] in CASES:
        sys.stdout.write(CASES[sys.argv[1]]())
    else:
        sys.exit("usage: reference.py --write | CASE")
