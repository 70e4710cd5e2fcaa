#!/usr/bin/env python3
"""Independent reference for the reliability-graph golden cases.

Closed forms: an edge with rate l has failed by t with q = 1 - exp(-l t);
series edges work with the product of 1 - q, parallel ones fail with the
product of q; the bridge is factored on its middle edge. The listings are
the minimal cut and path sets of the graph, in the order in which a
depth-first walk of the diagram (else branch first) meets them, with
variables ordered from the last edge first needed to the first.

Usage: reference.py CASE  (prints the expected output of that case)
"""
import math
import sys

SEP = "-------------------------------------------\n\n"


def q(rate, t):
    return 1.0 - math.exp(-rate * t)


def line(text, value):
    return "%s:   %.4e\n" % (text, value)


def bridge(t):
    sa, sb, at, bt, ab = (q(r, t) for r in (1, 2, 3, 4, 5))
    # middle edge working: (s-a or s-b) and (a-t or b-t)
    up_works = (1 - sa * sb) * (1 - at * bt)
    # middle edge failed: two disjoint series paths
    down_works = 1 - (1 - (1 - sa) * (1 - at)) * (1 - (1 - sb) * (1 - bt))
    return 1 - ((1 - ab) * up_works + ab * down_works)


def bridge_closed_form():
    u = bridge(0.3)
    return SEP.join([
        line("value(0.3; br)", u) + line("tvalue(0.3; br)", u) + "\n",
        line("value(0.3; br)", u) + "\n",
        line("ubound(0.3; br)", u) + line("lbound(0.3; br)", u) + "\n",
    ])


def listings():
    header = lambda kind: "\n%s for system g:\n\n" % kind
    cuts = "{a->t, s->t}\n{s->a, s->t}\n\n"
    paths = "{s->t}\n{s->a, a->t}\n\n"
    pq = "[Q(1:a,t)*P(2:s,t)] +\n[Q(0:s,a)*P(1:a,t)*P(2:s,t)] +\n[P(0:s,a)*P(1:a,t)]\n\n"
    # paths by length; the second made disjoint from the first
    pq_cubes = "1 - ([P(2:s,t)]+\n[P(0:s,a)*P(1:a,t)*Q(2:s,t)])\n\n"
    down = 0.3 * (1 - 0.9 * 0.8)
    return SEP.join([
        header("Mincuts") + cuts,
        header("Minpaths") + paths,
        header("PQCDF") + pq,
        header("Minpaths") + paths,
        header("PQCDF") + pq_cubes,
        line("value(0; g)", down) + "\n",
    ])


def importance():
    t = 0.5
    q0, q1, q2 = q(1, t), q(2, t), q(3, t)
    path_down = 1 - (1 - q0) * (1 - q1)
    top = q2 * path_down
    birnbaum_st = path_down - 0.0
    birnbaum_sa = q2 * 1.0 - q2 * q1
    crit_sa = birnbaum_sa * q0 / top
    struct_at = 0.5 * 1.0 - 0.5 * 0.5
    return SEP.join([
        line("bimpt(0.5; g, 2)", birnbaum_st) + line("cimpt(0.5; g, 0)", crit_sa) + line("simpt(g, 1)", struct_at) + "\n",
        "Warning: no criticality importance measurs at this time point\n" + line("cimpt(1; sure, 0)", 0.0) + "\n",
    ])


def perfect_edges_bounds():
    return line("ubound(1; g)", 0.0) + line("lbound(1; g)", 0.0) + "\n"


def bounds_need_bdd():
    return "to use 'lbound' and 'ubound' function, bdd needs to be enabled.\n"


def bounds_sources_sinks():
    u = q(1, 1) * q(2, 1)
    return line("value(1; rg)", u) + line("ubound(1; rg)", u) + line("lbound(1; rg)", u) + "\n"


CASES = {f.__name__: f for f in (bounds_sources_sinks, bridge_closed_form, listings, importance, perfect_edges_bounds, bounds_need_bdd)}

if __name__ == "__main__":
    sys.stdout.write(CASES[sys.argv[1]]())
