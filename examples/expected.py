#!/usr/bin/env python3
"""Writes the expected output of every example model, computed independently.

Nothing here runs corvel. Each number comes from the model's own mathematics:
closed forms and exact exponomial algebra with fractions for the
combinatorial models, brute-force enumeration of component states, phases
and product-form populations, and dense generator matrices (built from the
model's rules, solved exactly with fractions for steady state and by a
Taylor-series matrix exponential for transient values) for the state-space
models. The text around the numbers follows the documented output formats.

Usage: expected.py            write every NAME.out beside this script
       expected.py --check    exit 1 when a NAME.out differs from what it
                              would write (the tests run this)
"""
import itertools
import math
import os
import sys
from fractions import Fraction as Fr

HERE = os.path.dirname(os.path.abspath(__file__))
SEP = "-------------------------------------------\n\n"
RESULTS_EPSILON = 1e-12
EPSILON = 1e-11


# ---------------------------------------------------------------------------
# Output formats (precision 4, width 10)

def num(v):
    """A value of an expression statement: %10.4e, tiny magnitudes as +0."""
    v = float(v)
    if abs(v) < RESULTS_EPSILON:
        v = 0.0
    return "%10.4e" % v


def cell(v):
    """A table entry: ' %10.4e ' with a blank put in front of the 'e'."""
    v = float(v)
    if abs(v) < RESULTS_EPSILON:
        v = 0.0
    text = " %10.4e " % v
    i = text.rindex("e")
    return text[:i] + " " + text[i:]


def exprs(pairs):
    """An expression statement: one 'text:   value' line each, then a blank line."""
    return "".join("%s:   %s\n" % (text, num(v)) for text, v in pairs) + "\n"


def eval_table(system, points, values, node=None):
    """eval of a distribution: header with F(t), one row per point, blank line."""
    out = "      system %s\n" % system
    if node is not None:
        out += "        node %s\n" % node
    out += "%6s%c%6s" % ("", "t", "") + "%3sF(%c)%6s\n\n" % ("", "t", "")
    for t, v in zip(points, values):
        out += cell(t) + cell(v) + "\n"
    return out + "\n"


def measure_table(system, label, points, values, place=None):
    """eval of a time-dependent measure: t and the measure in two columns,
    after the place measured when there is one."""
    out = "      system %s\n" % system
    if place is not None:
        out += "       place %s\n" % place
    out += "%6st%6s" % ("", "") + "%3s%s%6s\n\n" % ("", label, "")
    for t, v in zip(points, values):
        out += cell(t) + "        " + cell(v) + "\n"
    return out + "\n"


def steps(low, high, inc):
    n = int(round((high - low) / inc))
    return [low + i * inc for i in range(n + 1)]


def run(results):
    """Results of one run: the first has no separator line, the others do."""
    return SEP.join(results)


# ---------------------------------------------------------------------------
# Exponomials with real terms a * t^k * e^(b t), exact in fractions.

class Expo:
    def __init__(self, terms=None):
        self.terms = {}
        for key, a in (terms or {}).items():
            if a != 0:
                self.terms[key] = Fr(a)

    @staticmethod
    def const(c):
        return Expo({(0, Fr(0)): Fr(c)})

    @staticmethod
    def exp_cdf(rate):
        """1 - e^(-rate t)"""
        return Expo({(0, Fr(0)): 1, (0, -Fr(rate)): -1})

    def __add__(self, other):
        other = other if isinstance(other, Expo) else Expo.const(other)
        out = dict(self.terms)
        for key, a in other.terms.items():
            out[key] = out.get(key, 0) + a
        return Expo(out)

    __radd__ = __add__

    def __neg__(self):
        return Expo({k: -a for k, a in self.terms.items()})

    def __sub__(self, other):
        return self + (-(other if isinstance(other, Expo) else Expo.const(other)))

    def __rsub__(self, other):
        return Expo.const(other) - self

    def __mul__(self, other):
        if not isinstance(other, Expo):
            return Expo({k: a * Fr(other) for k, a in self.terms.items()})
        out = {}
        for (k1, b1), a1 in self.terms.items():
            for (k2, b2), a2 in other.terms.items():
                key = (k1 + k2, b1 + b2)
                out[key] = out.get(key, 0) + a1 * a2
        return Expo(out)

    __rmul__ = __mul__

    def __call__(self, t):
        return sum(float(a) * t ** k * math.exp(float(b) * t)
                   for (k, b), a in self.terms.items())

    def at_zero(self):
        return sum(a for (k, b), a in self.terms.items() if k == 0)

    def at_infinity(self):
        return sum(a for (k, b), a in self.terms.items() if k == 0 and b == 0)

    def tail_moment(self, n):
        """n * integral of t^(n-1) (L - F(t)) dt, L the limit of F: the n-th
        moment of the distribution F / L when F(0) = 0."""
        total = Fr(0)
        for (k, b), a in self.terms.items():
            if b == 0:
                continue
            # integral of t^(k+n-1) e^(b t) from 0 to infinity
            m = k + n - 1
            total -= a * math.factorial(m) / (-b) ** (m + 1)
        return n * total

    def derivative(self):
        out = Expo()
        for (k, b), a in self.terms.items():
            if b != 0:
                out = out + Expo({(k, b): a * b})
            if k > 0:
                out = out + Expo({(k - 1, b): a * k})
        return out

    def listing(self, var="t"):
        """Terms in canonical order: power descending, then rate descending."""
        out = ""
        keys = sorted(self.terms, key=lambda kb: (-kb[0], -kb[1]))
        for i, (k, b) in enumerate(keys):
            out += ("   " if i == 0 else " + ")
            out += "%11.4e %c(%3d) exp(%11.4e %c)\n" % (
                float(self.terms[(k, b)]), var, k, float(b), var)
        return out


def convolve(f, g):
    """CDF of the sum of two independent times with CDFs f and g (no mass at
    zero): the integral of f'(s) g(t - s) ds over (0, t), term by term."""
    out = Expo()
    for (k1, b1), a1 in f.derivative().terms.items():
        for (k2, b2), a2 in g.terms.items():
            # a1 s^k1 e^(b1 s) * a2 (t-s)^k2 e^(b2 (t-s)), expand (t-s)^k2
            for j in range(k2 + 1):
                c = a1 * a2 * math.comb(k2, j) * (-1) ** j
                # c t^(k2-j) e^(b2 t) * integral_0^t s^(k1+j) e^((b1-b2) s) ds
                p, d = k1 + j, b1 - b2
                if d == 0:
                    out = out + Expo({(k2 - j + p + 1, b2): c / (p + 1)})
                    continue
                # integral s^p e^(d s) = e^(d t) sum_i (-1)^i p!/(p-i)! t^(p-i)/d^(i+1)
                #                        - (-1)^p p!/d^(p+1)
                for i in range(p + 1):
                    coef = Fr((-1) ** i * math.factorial(p), math.factorial(p - i)) / d ** (i + 1)
                    out = out + Expo({(k2 - j + p - i, b1): c * coef})
                out = out + Expo({(k2 - j, b2): -c * (-1) ** p * math.factorial(p) / d ** (p + 1)})
    return out


def cdf_result(system, F, var="t", header=None):
    """A cdf statement: heading, masses that differ from their defaults, the
    terms, and the moments of the continuous part."""
    out = header if header is not None else "\nCDF for system %s:\n\n" % system
    pz = F.at_zero()
    pi = 1 - F.at_infinity()
    pc = 1 - pz - pi
    if pz != 0:
        out += "probability at 0:        %s\n" % num(pz)
    if pi != 0:
        out += "probability at infinity: %s\n" % num(pi)
    if pc != 1:
        out += "continuous probability:  %s\n\n" % num(pc)
    if pc != 0:
        out += F.listing(var)
        if pi != 0:
            out += "\nmean and variance are conditional on finite time\n"
        m1 = F.tail_moment(1) / pc
        m2 = F.tail_moment(2) / pc
        out += "\nmean: %9.4e\n" % float(m1)
        out += "variance: %9.4e\n\n" % float(m2 - m1 * m1)
    return out


def mean_var(F):
    m1 = F.tail_moment(1)
    return m1, F.tail_moment(2) - m1 * m1


# ---------------------------------------------------------------------------
# Dense Markov chains

def solve_exact(A, b):
    """Gauss-Jordan elimination in fractions."""
    n = len(A)
    M = [[Fr(x) for x in row] + [Fr(y)] for row, y in zip(A, b)]
    for c in range(n):
        p = next(r for r in range(c, n) if M[r][c] != 0)
        M[c], M[p] = M[p], M[c]
        for r in range(n):
            if r != c and M[r][c] != 0:
                f = M[r][c] / M[c][c]
                M[r] = [x - f * y for x, y in zip(M[r], M[c])]
    return [M[i][n] / M[i][i] for i in range(n)]


def steady_state(Q):
    """pi Q = 0, sum pi = 1, for an irreducible generator Q (list of rows)."""
    n = len(Q)
    A = [[Q[j][i] for j in range(n)] for i in range(n)]
    A[-1] = [1] * n
    return solve_exact(A, [0] * (n - 1) + [1])


def expm(M, t):
    """e^(M t) by scaling and squaring of a Taylor series, in floats."""
    n = len(M)
    norm = max(sum(abs(float(x)) for x in row) for row in M) * t
    s = max(0, int(math.ceil(math.log2(norm))) + 4) if norm > 0 else 0
    h = t / 2 ** s
    A = [[float(x) * h for x in row] for row in M]
    E = [[float(i == j) for j in range(n)] for i in range(n)]
    term = [row[:] for row in E]
    for k in range(1, 30):
        term = [[sum(term[i][l] * A[l][j] for l in range(n)) / k for j in range(n)]
                for i in range(n)]
        E = [[E[i][j] + term[i][j] for j in range(n)] for i in range(n)]
    for _ in range(s):
        E = [[sum(E[i][l] * E[l][j] for l in range(n)) for j in range(n)] for i in range(n)]
    return E


def transient(Q, p0, t):
    E = expm(Q, t)
    n = len(Q)
    return [sum(p0[i] * E[i][j] for i in range(n)) for j in range(n)]


def cumulative(Q, p0, t):
    """The integral of p(s) over (0, t): the upper right block of
    e^(B t) with B = [[Q, I], [0, 0]]."""
    n = len(Q)
    B = [[0.0] * (2 * n) for _ in range(2 * n)]
    for i in range(n):
        for j in range(n):
            B[i][j] = float(Q[i][j])
        B[i][n + i] = 1.0
    E = expm(B, t)
    return [sum(p0[i] * E[i][n + j] for i in range(n)) for j in range(n)]


def absorption_moments(T):
    """Mean and variance of the absorption time from state 0 of the transient
    sub-generator T: m1 = -T^-1 1, m2 = 2 T^-2 1."""
    n = len(T)
    negT = [[-Fr(x) for x in row] for row in T]
    m1 = solve_exact(negT, [1] * n)
    m2 = solve_exact(negT, [2 * x for x in m1])
    return m1[0], m2[0] - m1[0] ** 2


def generator(states, arcs):
    """Generator matrix from arcs (from, to, rate)."""
    idx = {s: i for i, s in enumerate(states)}
    Q = [[Fr(0)] * len(states) for _ in states]
    for a, b, r in arcs:
        Q[idx[a]][idx[b]] += Fr(r)
        Q[idx[a]][idx[a]] -= Fr(r)
    return Q


# ---------------------------------------------------------------------------
# Brute force over component states

def enumerate_states(probs, works):
    """Probability that works(up) holds, over independent components with the
    given probabilities of being up (name -> p); up is the set of working ones."""
    names = list(probs)
    total = 0
    for bits in itertools.product((0, 1), repeat=len(names)):
        p = 1
        up = set()
        for name, bit in zip(names, bits):
            if bit:
                p = p * probs[name]
                up.add(name)
            else:
                p = p * (1 - probs[name])
        if works(up):
            total = total + p
    return total


def expo_of_structure(rates, works):
    """Failure-time CDF of a coherent structure of exponential components,
    as an exact exponomial (component reliability e^(-rate t))."""
    rel = {n: Expo({(0, -Fr(r)): 1}) for n, r in rates.items()}
    return 1 - enumerate_states(rel, works)


def repairable(rates, works):
    """Steady-state availability A and failure frequency nu of a structure
    whose components fail and are repaired at exponential rates
    (name -> (failure rate, repair rate)); nu sums over the components the
    rate at which a component failure takes the system down."""
    avail = {n: Fr(m) / (Fr(l) + Fr(m)) for n, (l, m) in rates.items()}
    A = enumerate_states(avail, works)
    nu = 0
    for n, (l, m) in rates.items():
        up = enumerate_states(dict(avail, **{n: Fr(1)}), works)
        down = enumerate_states(dict(avail, **{n: Fr(0)}), works)
        nu += Fr(l) * avail[n] * (up - down)
    return A, nu


# ---------------------------------------------------------------------------
# The examples

def block():
    lp, lv = Fr(1, 10000), Fr(2, 100000)
    works = lambda up: ("pump1" in up or "pump2" in up) and "valve" in up
    F = expo_of_structure({"pump1": lp, "pump2": lp, "valve": lv}, works)
    A, nu = repairable({"pump1": (lp, Fr(5, 100)), "pump2": (lp, Fr(5, 100)),
                        "valve": (lv, Fr(1, 10))}, works)
    pts = steps(0, 20000, 4000)
    return run([
        cdf_result("station", F),
        exprs([("value(8760; station)", F(8760)), ("mean(station)", F.tail_moment(1))]),
        eval_table("station", pts, [F(t) for t in pts]),
        exprs([("sysprob(station_r)", 1 - A), ("mttf(station_r)", A / nu)]),
    ])


def ftree():
    rates = {"det1": Fr(2, 10000), "det2": Fr(2, 10000), "det3": Fr(2, 10000),
             "pumpA": Fr(5, 10000), "pumpB": Fr(5, 10000)}

    def works(up):
        detectors = len(up & {"det1", "det2", "det3"}) >= 2
        return detectors and ("pumpA" in up or "pumpB" in up)

    F = expo_of_structure(rates, works)
    mean, var = mean_var(F)
    pts = steps(0, 8000, 2000)
    return run([
        exprs([("value(720; fire)", F(720)), ("value(8760; fire)", F(8760)),
               ("mean(fire)", mean), ("variance(fire)", var)]),
        eval_table("fire", pts, [F(t) for t in pts]),
    ])


def ftree_repeat():
    rates = {"power": Fr(1, 10000), "pumpA": Fr(1, 1000), "pumpB": Fr(1, 1000)}

    def fails(failed):
        return "power" in failed or {"pumpA", "pumpB"} <= failed

    works = lambda up: not fails(set(rates) - up)
    F = expo_of_structure(rates, works)
    t = 1000
    q = {n: 1 - math.exp(-float(r) * t) for n, r in rates.items()}

    def top(given):
        probs = dict({n: 1 - p for n, p in q.items()}, **given)
        return 1 - enumerate_states(probs, works)

    birn = {n: top({n: 0.0}) - top({n: 1.0}) for n in ("power", "pumpA")}
    crit = {n: birn[n] * q[n] / F(t) for n in birn}
    # Cut sets from the decision diagram with the order pumpA, power, pumpB
    # (at each gate events used once first, then repeated ones): the walk
    # takes the branch pumpA = 0 first, where {power} is the only cut set.
    cuts = "\nMincuts for system cooling:\n\n[(power)],\n[(pumpA)(pumpB)]\n\n"
    return run([
        cuts,
        exprs([("value(1000; cooling)", F(t)), ("mean(cooling)", F.tail_moment(1))]),
        exprs([("bimpt(1000; cooling, power)", birn["power"]),
               ("bimpt(1000; cooling, pumpA)", birn["pumpA"]),
               ("cimpt(1000; cooling, power)", crit["power"]),
               ("cimpt(1000; cooling, pumpA)", crit["pumpA"])]),
    ])


def relgraph():
    edges = {("src", "a"): Fr(2, 1000), ("src", "b"): Fr(3, 1000),
             ("a", "dst"): Fr(3, 1000), ("b", "dst"): Fr(2, 1000),
             ("a", "b"): Fr(1, 1000)}
    two_way = {("a", "b")}

    def connected(up):
        reach, todo = {"src"}, ["src"]
        while todo:
            n = todo.pop()
            for (x, y) in up:
                for p, q in ((x, y), (y, x)) if (x, y) in two_way else ((x, y),):
                    if p == n and q not in reach:
                        reach.add(q)
                        todo.append(q)
        return "dst" in reach

    F = expo_of_structure(edges, connected)
    pts = steps(0, 500, 100)
    return run([
        exprs([("value(100; net)", F(100)), ("mean(net)", F.tail_moment(1))]),
        eval_table("net", pts, [F(t) for t in pts]),
    ])


def graph():
    design, hw, sw, integ = (Expo.exp_cdf(r) for r in (Fr(1, 2), Fr(1, 4), Fr(1, 5), Fr(1)))
    F = convolve(convolve(design, hw * sw), integ)
    return run([
        cdf_result("project", F),
        exprs([("value(10; project)", F(10)), ("value(15; project)", F(15))]),
        eval_table("project", steps(0, 20, 5), [F(t) for t in steps(0, 20, 5)]),
    ])


def pms():
    # (duration, component rates, failure condition on the failed set)
    phases = [
        (10, {"engine": 0.01, "compA": 0.001, "compB": 0.001},
         lambda f: "engine" in f or {"compA", "compB"} <= f),
        (100, {"compA": 0.0001, "compB": 0.0001},
         lambda f: {"compA", "compB"} <= f),
        (5, {"engine": 0.005, "compA": 0.0005, "compB": 0.0005, "radar": 0.002},
         lambda f: "engine" in f or "radar" in f or {"compA", "compB"} <= f),
    ]
    comps = ["engine", "compA", "compB", "radar"]

    def failed_by(t):
        """Enumerate, per component, the phase in which it fails (or none)."""
        start, used = 0.0, []
        for d, rates, fails in phases:
            used.append((min(d, t - start), rates, fails))
            if t <= start + d:
                break
            start += d
        # prob[c][j]: probability that c fails within phase j
        prob = {}
        for c in comps:
            P, row = 0.0, []
            for tau, rates, _ in used:
                new = 1 - (1 - P) * (math.exp(-rates[c] * tau) if c in rates else 1.0)
                row.append(new - P)
                P = new
            prob[c] = row + [1 - P]          # the last entry: never fails
        total = 0.0
        for choice in itertools.product(range(len(used) + 1), repeat=len(comps)):
            p = math.prod(prob[c][j] for c, j in zip(comps, choice))
            for j, (_, _, fails) in enumerate(used):
                failed = {c for c, k in zip(comps, choice) if k <= j}
                if fails(failed):
                    total += p
                    break
        return total

    pts = [10, 60, 110, 115]
    return exprs([("tvalue(%d; mission)" % t, failed_by(t)) for t in pts])


def mstree():
    u = Fr(1, 1000)
    fail = Expo.exp_cdf(u)                 # the valve has failed, either mode
    stuck_open, stuck_closed = Fr(4, 10) * fail, Fr(6, 10) * fail
    noflow = 1 - (1 - stuck_closed) * (1 - stuck_closed)
    noshut = stuck_open * stuck_open
    valve1 = stuck_open + stuck_closed     # exclusive states add up
    t = 1000
    return run([
        cdf_result("pipe", noflow),
        exprs([("value(1000; pipe, top_noflow)", noflow(t)),
               ("value(1000; pipe, top_noshut)", noshut(t)),
               ("value(1000; pipe, top_valve1)", valve1(t))]),
    ])


def markov():
    lam, mu = Fr(1, 1000), Fr(1, 10)
    states = ["up2", "up1", "dn"]
    Q = generator(states, [("up2", "up1", 2 * lam), ("up1", "dn", lam),
                           ("up1", "up2", mu), ("dn", "up1", mu)])
    pi = steady_state(Q)
    reward = [1, 1, 0]
    p0 = [1.0, 0.0, 0.0]

    def exrt(t):
        return sum(r * p for r, p in zip(reward, transient(Q, p0, t)))

    cum = cumulative(Q, p0, 24)
    pts = steps(0, 40, 10)
    # The absorbing chain: transient states up2 and up1.
    T = [[-2 * lam, 2 * lam], [mu, -(lam + mu)]]
    mean, var = absorption_moments(T)
    R = generator(states, [("up2", "up1", 2 * lam), ("up1", "dn", lam), ("up1", "up2", mu)])
    return run([
        exprs([("prob(avail, up2)", pi[0]), ("prob(avail, up1)", pi[1]),
               ("prob(avail, dn)", pi[2]), ("exrss(avail)", pi[0] + pi[1])]),
        exprs([("exrt(24; avail)", exrt(24)), ("cexrt(24; avail)", cum[0] + cum[1]),
               ("tvalue(24; avail, dn)", transient(Q, p0, 24)[2])]),
        measure_table("avail", "expected reward at t", pts, [exrt(t) for t in pts]),
        exprs([("mean(rel)", mean), ("variance(rel)", var),
               ("value(8760; rel)", transient(R, p0, 8760)[2])]),
    ])


def semimark():
    a, b = Fr(1, 100), Fr(4, 1000)
    # Minor first: integral of a e^(-a t) times the Erlang-2 survival
    # e^(-b t)(1 + b t); the sojourn in up is the integral of both survivals.
    p_minor = a / (a + b) + a * b / (a + b) ** 2
    m_up = 1 / (a + b) + b / (a + b) ** 2
    m_minor = Fr(1) + Fr(1, 2)
    m_major = 3 / Fr(1, 2)
    # Embedded chain: up -> minor p, up -> major 1 - p, both back to up.
    w = {"up": m_up, "minor": p_minor * m_minor, "major": (1 - p_minor) * m_major}
    total = sum(w.values())
    p = {s: v / total for s, v in w.items()}
    return exprs([("prob(machine, up)", p["up"]), ("prob(machine, minor)", p["minor"]),
                  ("prob(machine, major)", p["major"]), ("exrss(machine)", p["up"])])


def mrgp():
    # The inspection timer expanded into its four exponential stages: state
    # (condition, stage); the last stage ends in the inspection.
    k, r = 4, Fr(2, 5)
    conds = ["new", "worn", "failed"]
    states = [(c, i) for c in conds for i in range(k)] + ["inspect"]
    arcs = []
    for c in conds:
        for i in range(k):
            arcs.append(((c, i), (c, i + 1) if i + 1 < k else "inspect", r))
        nxt = {"new": ("worn", Fr(1, 10)), "worn": ("failed", Fr(1, 5))}.get(c)
        if nxt:
            for i in range(k):
                arcs.append(((c, i), (nxt[0], i), nxt[1]))
    arcs.append(("inspect", ("new", 0), Fr(2)))
    pi = dict(zip(states, steady_state(generator(states, arcs))))
    p = {c: sum(pi[(c, i)] for i in range(k)) for c in conds}
    p["inspect"] = pi["inspect"]
    return exprs([("prob(machine, %s)" % s, p[s]) for s in ("new", "worn", "failed", "inspect")]
                 + [("exrss(machine)", p["new"] + p["worn"])])


def product_form(stations, chains, populations):
    """Exact closed multi-chain product-form network by enumerating every
    placement of the customers. stations: name -> (kind, servers, rates per
    chain); chains: name -> visit ratios per station. Returns per station
    and chain the throughput, mean queue length, and the probability that
    the station is empty."""
    names = list(stations)
    chain_names = list(chains)

    def factor(st, counts):
        kind, servers, rates = stations[st]
        f = Fr(1)
        n = 0
        for c, nc in zip(chain_names, counts):
            if nc:
                d = chains[c][st] / rates[c]
                f *= d ** nc / math.factorial(nc)
                n += nc
        if kind == "is":
            return f
        # single or multiple servers: n! / prod min(j, servers)
        f *= math.factorial(n)
        for j in range(1, n + 1):
            f /= min(j, servers)
        return f

    def placements(pop):
        per_chain = []
        for c, n in zip(chain_names, pop):
            visited = [s for s in names if chains[c].get(s, 0)]
            opts = []
            for combo in itertools.product(range(n + 1), repeat=len(visited)):
                if sum(combo) == n:
                    opts.append({s: x for s, x in zip(visited, combo)})
            per_chain.append(opts)
        for choice in itertools.product(*per_chain):
            yield {s: tuple(ch.get(s, 0) for ch in choice) for s in names}

    def G(pop):
        if min(pop) < 0:
            return Fr(0)
        return sum(math.prod(factor(s, st[s]) for s in names) for st in placements(pop))

    pop = tuple(populations[c] for c in chain_names)
    g = G(pop)
    res = {}
    for s in names:
        for ci, c in enumerate(chain_names):
            less = tuple(n - (i == ci) for i, n in enumerate(pop))
            res[(s, c, "tput")] = chains[c].get(s, 0) * G(less) / g
            res[(s, c, "qlength")] = Fr(0)
        res[(s, "empty")] = Fr(0)
    for st in placements(pop):
        p = math.prod(factor(s, st[s]) for s in names) / g
        for s in names:
            for ci, c in enumerate(chain_names):
                res[(s, c, "qlength")] += st[s][ci] * p
            if sum(st[s]) == 0:
                res[(s, "empty")] += p
    return res


def pfqn():
    r = product_form(
        {"users": ("is", 0, {"c": Fr(1, 5)}), "web": ("ms", 2, {"c": Fr(10)}),
         "db": ("fcfs", 1, {"c": Fr(8)})},
        {"c": {"users": Fr(2, 5), "web": Fr(1), "db": Fr(3, 5)}}, {"c": 6})
    X = lambda s: r[(s, "c", "tput")]
    Qn = lambda s: r[(s, "c", "qlength")]
    return run([
        exprs([("tput(shop, users)", X("users")), ("6/tput(shop, users) - 5", 6 / X("users") - 5)]),
        exprs([("util(shop, web)", 1 - r[("web", "empty")]), ("qlength(shop, web)", Qn("web")),
               ("rtime(shop, web)", Qn("web") / X("web"))]),
        exprs([("util(shop, db)", X("db") / 8), ("qlength(shop, db)", Qn("db")),
               ("rtime(shop, db)", Qn("db") / X("db")), ("tput(shop, db)", X("db"))]),
    ])


def mpfqn():
    r = product_form(
        {"term": ("is", 0, {"inter": Fr(1, 10), "batch": Fr(1, 10)}),
         "cpu": ("ps", 1, {"inter": Fr(4), "batch": Fr(2)}),
         "disk": ("fcfs", 1, {"inter": Fr(5), "batch": Fr(5)})},
        {"inter": {"term": Fr(1), "cpu": Fr(2), "disk": Fr(1)},
         "batch": {"cpu": Fr(1), "disk": Fr(1)}},
        {"inter": 4, "batch": 2})
    X = lambda s, c: r[(s, c, "tput")]
    Qn = lambda s, c: r[(s, c, "qlength")]
    return run([
        exprs([("mtput(host, term, inter)", X("term", "inter")),
               ("4/mtput(host, term, inter) - 10", 4 / X("term", "inter") - 10)]),
        exprs([("mtput(host, cpu, inter)", X("cpu", "inter")),
               ("mrtime(host, cpu, inter)", Qn("cpu", "inter") / X("cpu", "inter")),
               ("mqlength(host, cpu, inter)", Qn("cpu", "inter"))]),
        exprs([("mtput(host, cpu, batch)", X("cpu", "batch")),
               ("mrtime(host, cpu, batch)", Qn("cpu", "batch") / X("cpu", "batch")),
               ("mqlength(host, cpu, batch)", Qn("cpu", "batch"))]),
        exprs([("mutil(host, disk, inter)", X("disk", "inter") / 5),
               ("mutil(host, disk, batch)", X("disk", "batch") / 5)]),
    ])


class Net:
    """A Petri net by the firing rules: a transition is enabled when every
    input place holds its multiplicity, no inhibitor place reaches its
    multiplicity and its guard is non-zero; immediate transitions (weights)
    take precedence over timed ones (rates). Markings in which an immediate
    transition is enabled vanish: their probability passes on at once."""

    def __init__(self, places, initial):
        self.places = places
        self.initial = tuple(initial[p] for p in places)
        self.timed, self.immediate = [], []

    def add(self, kind, name, rate, inputs, outputs, inhib=None, guard=None):
        (self.timed if kind == "timed" else self.immediate).append(
            (name, rate, inputs, outputs, inhib or {}, guard))

    def tokens(self, m):
        return dict(zip(self.places, m))

    def enabled(self, m, tr):
        name, rate, inputs, outputs, inhib, guard = tr
        tk = self.tokens(m)
        if any(tk[p] < n for p, n in inputs.items()):
            return False
        if any(tk[p] >= n for p, n in inhib.items()):
            return False
        return guard is None or guard(tk) != 0

    def fire(self, m, tr):
        tk = self.tokens(m)
        for p, n in tr[2].items():
            tk[p] -= n
        for p, n in tr[3].items():
            tk[p] += n
        return tuple(tk[p] for p in self.places)

    def resolve(self, m):
        """Tangible markings reached from m, with their probabilities."""
        imm = [tr for tr in self.immediate if self.enabled(m, tr)]
        if not imm:
            return {m: Fr(1)}
        total = sum(Fr(tr[1](self.tokens(m))) for tr in imm)
        out = {}
        for tr in imm:
            w = Fr(tr[1](self.tokens(m))) / total
            for t, p in self.resolve(self.fire(m, tr)).items():
                out[t] = out.get(t, 0) + w * p
        return out

    def chain(self):
        start = self.resolve(self.initial)
        states, arcs, todo = list(start), [], list(start)
        while todo:
            m = todo.pop(0)
            for tr in self.timed:
                if self.enabled(m, tr):
                    rate = Fr(tr[1](self.tokens(m)))
                    for t, p in self.resolve(self.fire(m, tr)).items():
                        if t not in states:
                            states.append(t)
                            todo.append(t)
                        if t != m:
                            arcs.append((m, t, rate * p))
        Q = generator(states, arcs)
        p0 = [float(start.get(s, 0)) for s in states]
        return states, Q, p0

    def rate_if_enabled(self, m, name):
        for tr in self.timed:
            if tr[0] == name:
                return Fr(tr[1](self.tokens(m))) if self.enabled(m, tr) else Fr(0)
        raise KeyError(name)


def gspn():
    net = Net(["up", "detect", "down", "crashed"], {"up": 3, "detect": 0, "down": 0, "crashed": 0})
    net.add("timed", "fail", lambda k: Fr(2, 1000) * k["up"], {"up": 1}, {"detect": 1})
    net.add("timed", "repair", lambda k: Fr(1, 2), {"down": 1}, {"up": 1})
    net.add("timed", "reboot", lambda k: Fr(2), {"crashed": 1}, {"up": 1})
    net.add("immediate", "cover", lambda k: 95, {"detect": 1}, {"down": 1})
    net.add("immediate", "nocover", lambda k: 5, {"detect": 1}, {"crashed": 1})
    states, Q, _ = net.chain()
    pi = dict(zip(states, steady_state(Q)))
    up = net.places.index("up")
    tput = lambda n: sum(p * net.rate_if_enabled(m, n) for m, p in pi.items())
    util = lambda n: sum(p for m, p in pi.items() if net.rate_if_enabled(m, n) > 0)
    return exprs([("etok(multi, up)", sum(m[up] * p for m, p in pi.items())),
                  ("prempty(multi, up)", sum(p for m, p in pi.items() if m[up] == 0)),
                  ("tput(multi, repair)", tput("repair")), ("util(multi, repair)", util("repair")),
                  ("tput(multi, reboot)", tput("reboot"))])


def srn():
    net = Net(["up", "down"], {"up": 4, "down": 0})
    net.add("timed", "fail", lambda k: Fr(1, 100) * k["up"], {"up": 1}, {"down": 1})
    net.add("timed", "repair", lambda k: Fr(1, 5), {"down": 1}, {"up": 1}, guard=lambda k: k["up"])
    net.add("timed", "emergency", lambda k: Fr(1), {"down": 1}, {"up": 1},
            guard=lambda k: 1 - min(k["up"], 1))
    states, Q, p0 = net.chain()
    pi = steady_state(Q)
    cap = [m[0] for m in states]
    isup = [min(m[0], 1) for m in states]
    pt = transient(Q, p0, 100)
    cum = cumulative(Q, p0, 100)
    cexrt = sum(c * x for c, x in zip(cap, cum))
    emergency = sum(p * net.rate_if_enabled(m, "emergency") for m, p in zip(states, pi))
    pts = steps(0, 100, 25)
    return run([
        exprs([("srn_exrss(cluster; capacity)", sum(c * p for c, p in zip(cap, pi))),
               ("srn_exrss(cluster; isup)", sum(c * p for c, p in zip(isup, pi)))]),
        exprs([("srn_exrt(100; cluster; capacity)", sum(c * p for c, p in zip(cap, pt))),
               ("srn_cexrt(100; cluster; capacity)", cexrt),
               ("srn_ave_cexrt(100; cluster; capacity)", cexrt / 100)]),
        exprs([("etok(cluster, down)", sum(m[1] * p for m, p in zip(states, pi))),
               ("tput(cluster, emergency)", emergency)]),
        measure_table("cluster", "expected number of tokens at t", pts,
                      [sum(m[0] * p for m, p in zip(states, transient(Q, p0, t))) for t in pts],
                      place="up"),
    ])


def demo():
    lam = Fr(1, 1000)
    avail = lambda l, m: m / (l + m)
    loop = ""
    m = 0.05
    while m <= 0.2 + EPSILON:
        a = avail(float(lam), m)
        loop += "\nm=%f\n" % m
        loop += "     1 - (1 - avail(lambda, m))^2:   %s\n" % num(1 - (1 - a) ** 2)
        m += 0.05
    works = lambda up: ("unit1" in up or "unit2" in up) and "ctrl" in up
    F = expo_of_structure({"unit1": lam, "unit2": lam, "ctrl": Fr(1, 10000)}, works)
    pts = steps(0, 5000, 1000)
    a = avail(lam, Fr(1, 10))
    return run([
        exprs([("avail(lambda, mu)", a), ("1 - avail(lambda, mu)", 1 - a)]),
        loop,
        cdf_result("plant", F),
        exprs([("mean(plant)", F.tail_moment(1)), ("value(1000; plant)", F(1000))]),
        eval_table("plant", pts, [F(t) for t in pts]),
    ])


EXAMPLES = {
    "demo": demo,
    "block": block,
    "ftree": ftree,
    "ftree_repeat": ftree_repeat,
    "relgraph": relgraph,
    "graph": graph,
    "pms": pms,
    "mstree": mstree,
    "markov": markov,
    "semimark": semimark,
    "mrgp": mrgp,
    "pfqn": pfqn,
    "mpfqn": mpfqn,
    "gspn": gspn,
    "srn": srn,
}


def main():
    check = "--check" in sys.argv[1:]
    bad = 0
    for name, make in EXAMPLES.items():
        text = make()
        path = os.path.join(HERE, name + ".out")
        if check:
            try:
                with open(path) as f:
                    old = f.read()
            except OSError:
                old = None
            if old != text:
                print("%s.out is not what expected.py computes" % name)
                bad = 1
        else:
            with open(path, "w") as f:
                f.write(text)
    return bad


if __name__ == "__main__":
    sys.exit(main())
