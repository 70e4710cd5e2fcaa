#!/usr/bin/env python3
"""Derives the expected outputs of the hand-checked fault-tree cases in this
folder by brute-force enumeration over component states (exact fractions)
and by the closed forms noted with each case. Run it to regenerate the .out
files; it never runs the program."""
from fractions import Fraction as Fr
from itertools import product
import math

SEP = "-------------------------------------------\n\n"


def e4(x):
    return "%.4e" % float(x)


def prob_summary(system, p):
    return ("\nCDF for system %s:\n\n" % system +
            "probability at 0:        %s\n" % e4(p) +
            "probability at infinity: %s\n" % e4(1 - p) +
            "continuous probability:  %s\n\n" % e4(0))


def enumerate_prob(probs, fails):
    """P(fails(state)) with independent components failed with probs[i]."""
    names = list(probs)
    total = Fr(0)
    for bits in product((0, 1), repeat=len(names)):
        st = dict(zip(names, bits))
        w = Fr(1)
        for n in names:
            w *= probs[n] if st[n] else 1 - probs[n]
        if fails(st):
            total += w
    return total


def minimal_cuts(names, fails):
    sets = []
    for bits in product((0, 1), repeat=len(names)):
        s = frozenset(n for n, b in zip(names, bits) if b)
        if fails({n: int(n in s) for n in names}):
            sets.append(s)
    return [s for s in sets if not any(o < s for o in sets)]


def else_first_order(sets, var_order):
    """Order in which a depth-first, else-branch-first walk of a diagram over
    var_order meets the sets: lexicographic with 'absent' before 'present'."""
    return sorted(sets, key=lambda s: [int(v in s) for v in var_order])


def bdd_listing(sets, var_order, decl):
    lines = []
    for s in else_first_order(sets, var_order):
        lines.append("[" + "".join("(%s)" % n for n in decl if n in s) + "]")
    return ",\n".join(lines) + "\n\n"


def header(kind, system):
    return "\n%s for system %s:\n\n" % (kind, system)


def write(name, text):
    with open(name + ".out", "w") as f:
        f.write(text)


# ---------------------------------------------------------------- the bridge
# Components e1 s-a, e2 s-b, e3 a-b, e4 a-t, e5 b-t; the system fails when no
# path from s to t works: cut sets {e1,e2}, {e4,e5}, {e1,e3,e5}, {e2,e3,e4}.
def bridge_fails(s):
    return ((s["e1"] and s["e2"]) or (s["e4"] and s["e5"]) or
            (s["e1"] and s["e3"] and s["e5"]) or (s["e2"] and s["e3"] and s["e4"]))


bp = {"e1": Fr(1, 10), "e2": Fr(2, 10), "e3": Fr(3, 10), "e4": Fr(4, 10), "e5": Fr(5, 10)}
decl = ["e1", "e2", "e3", "e4", "e5"]
P = enumerate_prob(bp, bridge_fails)
cuts = minimal_cuts(decl, bridge_fails)
# Variable order of the depth-first heuristic: the top OR has the gates c12,
# c45 (weight 2) and c135, c234 (weight 3), already in ascending order; every
# event occurs twice, so each gate's events get variables in child order
# when first met: e1 e2 (c12), e4 e5 (c45), e3 (c135).
order = ["e1", "e2", "e4", "e5", "e3"]
# Cut sets by the cut-set route: AND gates give their one set, the OR inserts
# them in child order, sorted by size (ties in arrival order).
route = sorted([["e1", "e2"], ["e4", "e5"], ["e1", "e3", "e5"], ["e2", "e3", "e4"]], key=len)
out = prob_summary("bridge", P)
out += SEP + header("Mincuts", "bridge") + bdd_listing(cuts, order, decl)
out += SEP + prob_summary("bridge", P)  # factoring
out += SEP + prob_summary("bridge", P)  # cut sets and disjoint products
out += SEP + header("Mincuts", "bridge") + "".join("{%s}\n" % ", ".join(c) for c in route) + "\n"
write("bridge", out)


# ---------------------------------------------------------------- importance
# The bridge again, with exp(l) components bound at t = 1 (p = 1 - e^-l).
lam = {"e1": 1.0, "e2": 0.5, "e3": 0.25, "e4": 2.0, "e5": 1.5}
pt = {n: 1.0 - math.exp(-l) for n, l in lam.items()}


def prob_float(probs, fails):
    names = list(probs)
    total = 0.0
    for bits in product((0, 1), repeat=len(names)):
        st = dict(zip(names, bits))
        w = 1.0
        for n in names:
            w *= probs[n] if st[n] else 1 - probs[n]
        if fails(st):
            total += w
    return total


def cond(probs, comp, value):
    q = dict(probs)
    q[comp] = value
    return q


lines = []
for comp in ("e1", "e3"):
    # Structural: (fraction of states failing with comp failed - with comp
    # working) / 2, each state weighing the same.
    half = {n: Fr(1, 2) for n in decl}
    s = (enumerate_prob(cond(half, comp, 1), bridge_fails) - enumerate_prob(cond(half, comp, 0), bridge_fails)) / 2
    b = prob_float(cond(pt, comp, 1.0), bridge_fails) - prob_float(cond(pt, comp, 0.0), bridge_fails)
    c = b * pt[comp] / prob_float(pt, bridge_fails)
    lines.append("simpt(imp, %s):   %s\n" % (comp, e4(s)))
    lines.append("bimpt(1; imp, %s):   %s\n" % (comp, e4(b)))
    lines.append("cimpt(1; imp, %s):   %s\n" % (comp, e4(c)))
write("importance", "".join(lines[:3]) + "\n" + SEP + "".join(lines[3:]) + "\n")


# ---------------------------------------------------------------- shared gates
# s1: g = a AND b named by h1 = g OR c and h2 = g OR d; top = h1 AND h2
# = g OR (c AND d), so P = Pg + Pc Pd - Pg Pc Pd.
sp = {"a": Fr(1, 10), "b": Fr(2, 10), "c": Fr(3, 10), "d": Fr(4, 10)}
Pg = sp["a"] * sp["b"]
P1 = Pg + sp["c"] * sp["d"] - Pg * sp["c"] * sp["d"]
assert P1 == enumerate_prob(sp, lambda s: (s["a"] and s["b"]) or (s["c"] and s["d"]))
# s2: k = x AND a with x a basic event, named by two gates: its second
# occurrence holds an independent copy x(1).
p2 = {"x": Fr(1, 2), "a": Fr(1, 10), "b": Fr(2, 10), "c": Fr(3, 10), "x(1)": Fr(1, 2)}
P2 = enumerate_prob(p2, lambda s: ((s["x"] and s["a"]) or s["b"]) and ((s["x(1)"] and s["a"]) or s["c"]))
out = prob_summary("s1", P1)
out += SEP + prob_summary("s1", P1)
# Cut sets of s1 by the cut-set route: h1 = [{c}, {a,b}], h2 = [{d}, {a,b}];
# their product {c,d}, {a,b,c}, {a,b,d}, {a,b} keeps {c,d}, {a,b}.
out += SEP + header("Mincuts", "s1") + "{c, d}\n{a, b}\n\n"
out += SEP + prob_summary("s2", P2)
# s2 by cut sets: h1 = [{b}, {x,a}], h2 = [{c}, {a,x(1)}]; the products
# {b,c}, {a,b,x(1)}, {x,a,c}, {x,a,x(1)} are all minimal (x(1) is the last
# record, so it is listed last).
out += SEP + header("Mincuts", "s2") + "{b, c}\n{a, b, x(1)}\n{x, a, c}\n{x, a, x(1)}\n\n"
out += SEP + prob_summary("s2", P2)
write("shared_gate", out)


# ---------------------------------------------------------------- k-of-n over repeated events
# v = 2 of (a, b, c), top = v OR a = a OR (b AND c).
kp = {"a": Fr(1, 10), "b": Fr(2, 10), "c": Fr(3, 10)}
Pk = kp["a"] + (1 - kp["a"]) * kp["b"] * kp["c"]
assert Pk == enumerate_prob(kp, lambda s: (s["a"] + s["b"] + s["c"] >= 2) or s["a"])
out = prob_summary("k", Pk) + SEP + prob_summary("k", Pk) + SEP + prob_summary("k", Pk)
write("kofn_repeated", out)


# ---------------------------------------------------------------- factor limit
# Seven disjoint pairs of prob(0.5) events under an OR: 1 - (3/4)^7.
P7 = 1 - Fr(3, 4) ** 7
write("factorlimit_14", prob_summary("f", P7))


# ---------------------------------------------------------------- never / always fails
# a AND NOT a is the function zero, a OR NOT a the function one: the constant
# exponomials 0 and 1, printed as one term with power 0 and rate 0.
def constant_line(v):
    return "   %11.4e t(%3d) exp(%11.4e t)\n" % (v, 0, 0.0)


out = "\nCDF for system z:\n\n" + constant_line(0.0)
# Criticality importance with a top probability of 0: the warning, then 0.
out += SEP + "Warning: no criticality importance measurs at this time point\n"
out += "cimpt(1; z, a):   %s\n\n" % e4(0)
out += SEP + "\nCDF for system one:\n\n" + constant_line(1.0)
write("never_fails", out)


# ---------------------------------------------------------------- absorption
# (a AND b) OR a is a: one cut set {a}, P = Pa, and both p-q forms are Q(a).
Pa = Fr(1, 10)
assert Pa == enumerate_prob({"a": Fr(1, 10), "b": Fr(2, 10)}, lambda s: (s["a"] and s["b"]) or s["a"])
out = prob_summary("ab", Pa)
out += SEP + header("Mincuts", "ab") + "[(a)]\n\n"
out += SEP + header("PQCDF", "ab") + "[Q(a)]\n\n"
out += SEP + header("Mincuts", "ab") + "{a}\n\n"
out += SEP + header("PQCDF", "ab") + "[Q(a)]\n\n"
out += SEP + prob_summary("ab", Pa)
write("absorption", out)
