#!/usr/bin/env python3
"""Writes the models of this folder and their expected output.

The numbers come from arithmetic done here, independently of the program:
structure functions evaluated directly, Erlang and Poisson sums in 60-digit
decimal arithmetic, harmonic sums in fractions, and an adaptive Simpson
quadrature of the survival function for means and variances.
Run it from this folder: python3 expected.py
"""
import math
from decimal import Decimal, getcontext
from fractions import Fraction

getcontext().prec = 60
PREC = 8           # the models set format 8
WIDTH = PREC + 6
RESULTS_EPS = 1e-12


def line(text, value):
    v = 0.0 if abs(value) < RESULTS_EPS else value
    return "%s:   %*.*e\n" % (text, WIDTH, PREC, v)


def gauss_legendre(n):
    """Nodes and weights of the n-point Gauss-Legendre rule on [-1, 1] (Newton on P_n)."""
    nodes, weights = [], []
    for i in range(1, n + 1):
        x = math.cos(math.pi * (i - 0.25) / (n + 0.5))
        for _ in range(100):
            p0, p1 = 1.0, x
            for k in range(2, n + 1):
                p0, p1 = p1, ((2 * k - 1) * x * p1 - (k - 1) * p0) / k
            dp = n * (x * p1 - p0) / (x * x - 1)
            dx = p1 / dp
            x -= dx
            if abs(dx) < 1e-16:
                break
        nodes.append(x)
        weights.append(2 / ((1 - x * x) * dp * dp))
    return nodes, weights


NODES, WEIGHTS = gauss_legendre(30)


def piece(f, a, b):
    c, h = 0.5 * (a + b), 0.5 * (b - a)
    return h * math.fsum(w * f(c + h * x) for x, w in zip(NODES, WEIGHTS))


def integral_to_infinity(f, scale):
    """Integral of a non-negative decaying f over [0, inf): pieces that double
    in width, each split in 8 and summed with 30-point Gauss-Legendre."""
    total, a, w = 0.0, 0.0, scale / 64
    while True:
        part = math.fsum(piece(f, a + j * w / 8, a + (j + 1) * w / 8) for j in range(8))
        total += part
        a += w
        w *= 2
        if part < 1e-17 * total and f(a) * a < 1e-17 * total:
            return total


def moments(R, scale):
    mean = integral_to_infinity(R, scale)
    second = 2 * integral_to_infinity(lambda t: t * R(t), scale)
    return mean, second - mean * mean


def rates(n):
    return [0.001 * (1 + 0.37 * k) for k in range(1, n + 1)]


def fail(rate, t):
    return -math.expm1(-rate * t)


def write(name, model, out):
    with open(name + ".crv", "w") as f:
        f.write(model)
    with open(name + ".out", "w") as f:
        f.write(out)


def pairs(n):
    rs = rates(2 * n)
    model = "format 8\nblock b\n"
    for i, r in enumerate(rs, 1):
        model += "comp c%d exp(%r)\n" % (i, r)
    for p in range(n):
        model += "parallel p%d c%d c%d\n" % (p, 2 * p + 1, 2 * p + 2)
    model += "series top " + " ".join("p%d" % p for p in range(n)) + "\nend\n"
    model += "expr value(10; b), mean(b), variance(b)\n"

    def R(t):
        prod = 1.0
        for p in range(n):
            prod *= 1.0 - fail(rs[2 * p], t) * fail(rs[2 * p + 1], t)
        return prod
    mean, var = moments(R, 1.0 / rs[0])
    out = line("value(10; b)", 1.0 - R(10.0)) + line("mean(b)", mean) + line("variance(b)", var) + "\n"
    write("pairs%d" % n, model, out)


def or_of_ands(gates):
    rs = rates(3 * gates)
    model = "format 8\nftree f\n"
    for g in range(gates):
        for j in range(3):
            i = 3 * g + j + 1
            model += "basic e%d exp(%r)\n" % (i, rs[i - 1])
        model += "and g%d e%d e%d e%d\n" % (g, 3 * g + 1, 3 * g + 2, 3 * g + 3)
    model += "or top " + " ".join("g%d" % g for g in range(gates)) + "\nend\n"
    model += "expr value(100; f), mean(f), variance(f)\n"

    def R(t):
        prod = 1.0
        for g in range(gates):
            prod *= 1.0 - fail(rs[3 * g], t) * fail(rs[3 * g + 1], t) * fail(rs[3 * g + 2], t)
        return prod
    mean, var = moments(R, 1.0 / rs[0])
    out = line("value(100; f)", 1.0 - R(100.0)) + line("mean(f)", mean) + line("variance(f)", var) + "\n"
    write("or%d_of_and3" % gates, model, out)


def entry(value):
    """One eval table entry at the default format: %10.4e with a blank before the exponent."""
    v = 0.0 if abs(value) < RESULTS_EPS else value
    text = " %10.4e " % v
    return text.replace("e", " e", 1)


def eval_or_of_ands(gates, times):
    """The eval table of an OR of AND gates, the closed form far too large to build."""
    rs = rates(3 * gates)
    model = "ftree f\n"
    for g in range(gates):
        for j in range(3):
            i = 3 * g + j + 1
            model += "basic e%d exp(%r)\n" % (i, rs[i - 1])
        model += "and g%d e%d e%d e%d\n" % (g, 3 * g + 1, 3 * g + 2, 3 * g + 3)
    model += "or top " + " ".join("g%d" % g for g in range(gates)) + "\nend\n"
    model += "eval(f) %g %g %g\n" % times

    def F(t):
        prod = 1.0
        for g in range(gates):
            prod *= 1.0 - fail(rs[3 * g], t) * fail(rs[3 * g + 1], t) * fail(rs[3 * g + 2], t)
        return 1.0 - prod
    out = "      system f\n      t         F(t)      \n\n"
    low, high, step = times
    k = 0
    while low + k * step <= high + 1e-9 * step:
        t = low + k * step
        out += entry(t) + entry(F(t)) + "\n"
        k += 1
    out += "\n"
    write("eval_or%d_of_and3" % gates, model, out)


def erlang_cdf(n, x):
    """P(Poisson(x) >= n), the Erlang-n CDF at rate*t = x, in 60 digits."""
    x = Decimal(x)
    term, below = Decimal(1), Decimal(0)
    for k in range(n):
        if k > 0:
            term = term * x / k
        below += term
    return float(1 - below * (-x).exp())


def chain(n):
    model = "format 8\ngraph g\n"
    for i in range(1, n):
        model += "a%d a%d\n" % (i, i + 1)
    model += "end\n"
    for i in range(1, n + 1):
        model += "dist a%d exp(1)\n" % i
    model += "end\nexpr mean(g), variance(g), value(%d; g)\n" % n
    out = line("mean(g)", n) + line("variance(g)", n) + line("value(%d; g)" % n, erlang_cdf(n, n)) + "\n"
    write("chain%d" % n, model, out)


def erlang_by_doubling():
    model = "format 8\ngraph g1\na b\nend\ndist a exp(1)\ndist b exp(1)\nend\n"
    for level in (2, 4, 8):
        model += "graph g%d\na b\nend\ndist a cdf(g%d)\ndist b cdf(g%d)\nend\n" % (level, level // 2, level // 2)
    model += "expr mean(g8), variance(g8), value(16; g8), value(4; g8)\n"
    out = (line("mean(g8)", 16) + line("variance(g8)", 16) + line("value(16; g8)", erlang_cdf(16, 16)) +
           line("value(4; g8)", erlang_cdf(16, 4)) + "\n")
    write("erlang16_by_doubling", model, out)


def parallel_by_doubling():
    model = "format 8\nblock p2\ncomp a exp(1)\ncomp c exp(1)\nparallel top a c\nend\n"
    for size in (4, 8, 16, 32):
        model += "block p%d\ncomp a cdf(p%d)\ncomp c cdf(p%d)\nparallel top a c\nend\n" % (size, size // 2, size // 2)
    model += "block p41\ncomp a cdf(p32)\ncomp c cdf(p8)\ncomp d exp(1)\nparallel top a c d\nend\n"
    model += "expr mean(p41), variance(p41), value(10; p41), value(2; p41)\n"
    # The largest of 41 independent exp(1) times: mean H41, variance sum 1/k^2.
    mean = float(sum(Fraction(1, k) for k in range(1, 42)))
    var = float(sum(Fraction(1, k * k) for k in range(1, 42)))
    out = (line("mean(p41)", mean) + line("variance(p41)", var) +
           line("value(10; p41)", fail(1.0, 10.0) ** 41) + line("value(2; p41)", fail(1.0, 2.0) ** 41) + "\n")
    write("parallel41_by_doubling", model, out)


def binomial_component():
    model = "format 8\nblock b\ncomp x binomial(1, 2, 50)\nend\n"
    model += "expr value(0.5; b), value(3; b), mean(b), variance(b)\n"
    # 49 of 50 exp(1) components failed: P = p^50 + 50 p^49 q; the time of
    # the 49th failure is a sum of exponential stages of rates 50, 49, ..., 2.
    def F(t):
        p = Decimal(1) - (Decimal(-t)).exp()
        return float(p ** 50 + 50 * p ** 49 * (1 - p))
    mean = float(sum(Fraction(1, k) for k in range(2, 51)))
    var = float(sum(Fraction(1, k * k) for k in range(2, 51)))
    out = (line("value(0.5; b)", F(0.5)) + line("value(3; b)", F(3)) + line("mean(b)", mean) +
           line("variance(b)", var) + "\n")
    write("binomial_component", model, out)


def negative_time():
    model = "format 8\nblock q\ncomp a exp(1)\ncomp c exp(2)\nparallel top a c\nend\n"
    model += "expr value(-1; q), value(-1e-300; q), value(0.5; q)\n"
    out = (line("value(-1; q)", 0.0) + line("value(-1e-300; q)", 0.0) +
           line("value(0.5; q)", fail(1.0, 0.5) * fail(2.0, 0.5)) + "\n")
    write("negative_time", model, out)


# ---- A graph: a random fork, a chain, then a max fork with a join of no
# time. Its completion time is phase-type; the chain of phases is built here
# from the structure, the moments by first-step analysis in exact fractions
# and F(t) by uniformization in 40-digit arithmetic (sums of positive terms).

def ph_leaf(rate):
    return {"next": [[]], "done": [rate], "start": [Fraction(1)]}


def ph_seq(a, b):
    off = len(a["done"])
    c = {"next": [list(x) for x in a["next"]], "done": list(a["done"]), "start": list(a["start"])}
    for i in range(off):
        for j, p in enumerate(b["start"]):
            if p:
                c["next"][i].append((off + j, c["done"][i] * p))
        c["done"][i] = Fraction(0)
    for j in range(len(b["done"])):
        c["next"].append([(off + k, r) for k, r in b["next"][j]])
        c["done"].append(b["done"][j])
        c["start"].append(Fraction(0))
    return c


def ph_mix(parts):
    c = {"next": [], "done": [], "start": []}
    for p, a in parts:
        off = len(c["done"])
        for j in range(len(a["done"])):
            c["next"].append([(off + k, r) for k, r in a["next"][j]])
            c["done"].append(a["done"][j])
            c["start"].append(p * a["start"][j])
    return c


def ph_all(kids):
    """All of the branches side by side: a tuple of branch states (None when done)."""
    index, states = {}, []
    c = {"next": [], "done": [], "start": []}

    def find(s):
        if s not in index:
            index[s] = len(states)
            states.append(s)
            c["next"].append([])
            c["done"].append(Fraction(0))
            c["start"].append(Fraction(0))
        return index[s]
    starts = [((), Fraction(1))]
    for k in kids:
        starts = [(t + (j,), p * q) for t, p in starts for j, q in enumerate(k["start"]) if q]
    for t, p in starts:
        c["start"][find(t)] += p
    at = 0
    while at < len(states):
        s = states[at]
        for b, k in enumerate(kids):
            j = s[b]
            if j is None:
                continue
            for to, r in k["next"][j]:
                c["next"][at].append((find(s[:b] + (to,) + s[b + 1:]), r))
            u = s[:b] + (None,) + s[b + 1:]
            if all(x is None for x in u):
                c["done"][at] += k["done"][j]
            else:
                c["next"][at].append((find(u), k["done"][j]))
        at += 1
    return c


def ph_moments(c):
    n = len(c["done"])
    m, s = [None] * n, [None] * n

    def solve(i):
        if m[i] is None:
            rate = c["done"][i] + sum(r for _, r in c["next"][i])
            for j, _ in c["next"][i]:
                solve(j)
            m[i] = (1 + sum(r * m[j] for j, r in c["next"][i])) / rate
            s[i] = (2 * m[i] + sum(r * s[j] for j, r in c["next"][i])) / rate
    for i in range(n):
        solve(i)
    pc = sum(c["start"])
    mean = sum(p * m[i] for i, p in enumerate(c["start"])) / pc
    second = sum(p * s[i] for i, p in enumerate(c["start"])) / pc
    return float(mean), float(second - mean * mean)


def ph_cdf(c, t):
    from mpmath import mp, mpf, exp, log, loggamma
    mp.dps = 40
    n = len(c["done"])
    out = [c["done"][i] + sum(r for _, r in c["next"][i]) for i in range(n)]
    lam = mpf(max(out).numerator) / max(out).denominator * mpf("1.02")
    x = lam * t
    v = [mpf(p.numerator) / p.denominator for p in c["start"]]
    rate = lambda f: mpf(f.numerator) / f.denominator
    finished, F, k = mpf(0), mpf(0), 0
    while True:
        w = exp(-x + k * log(x) - loggamma(k + 1))
        F += w * finished
        if k > x and w < mpf(10) ** -45:
            return float(F)
        nv = [mpf(0)] * n
        for i in range(n):
            if v[i] == 0:
                continue
            finished += v[i] * rate(c["done"][i]) / lam
            for j, r in c["next"][i]:
                nv[j] += v[i] * rate(r) / lam
            nv[i] += v[i] * (1 - rate(out[i]) / lam)
        v = nv
        k += 1


def graph_forks_after_random_branch():
    rates = ["1.6138318993345369", "2.1067827388577562", "0.86034037188978951", "1.5700026692662226",
             "1.7932254718489735", "1.4860444102535189", "1.9106707173961595", "1.4422137014767191",
             "0.90493555178309815", "1.893049067055474", "1.0414670477395143", "0.83904159340777151",
             "1.1600359080801352", "2.0365805251552906", "0.77390308026278987", "1.9833216972805217",
             "2.2043791401817074", "1.060895441653491", "1.9275821824589292", "1.3601037476458677",
             "1.8154289751021757", "1.7338595311848468", "0.74159102000418187", "1.9441390898862638",
             "1.3816200316046285", "1.5325298818956212", "0.67439183659494772"]
    probs = ["0.38095238095238093", "0.33333333333333331", "0.2857142857142857"]
    arcs = [(2, 3), (3, 4), (5, 6), (6, 7), (8, 9), (1, 2), (1, 5), (1, 8), (4, 10), (7, 10), (9, 10)]
    arcs += [(i, i + 1) for i in range(10, 20)]
    arcs += [(21, 22), (23, 24), (25, 26), (20, 21), (20, 23), (20, 25), (20, 27), (22, 28), (24, 28), (26, 28), (27, 28)]
    model = "format 8\ngraph s\n" + "".join("a%d a%d\n" % a for a in arcs) + "end\n"
    model += "".join("dist a%d exp(%s)\n" % (i + 1, r) for i, r in enumerate(rates))
    model += "dist a28 zero\n"
    model += "".join("prob a1 a%d %s\n" % (b, p) for b, p in zip((2, 5, 8), probs))
    model += "exit a1 prob\nexit a20 max\nend\n"
    model += "expr mean(s), variance(s), value(10; s), value(20; s)\n"
    R = [Fraction(r) for r in rates]
    leaf = lambda i: ph_leaf(R[i - 1])

    def chain(*ids):
        c = leaf(ids[0])
        for i in ids[1:]:
            c = ph_seq(c, leaf(i))
        return c
    P = [Fraction(p) for p in probs]
    g = ph_seq(leaf(1), ph_mix([(P[0], chain(2, 3, 4)), (P[1], chain(5, 6, 7)), (P[2], chain(8, 9))]))
    g = ph_seq(g, chain(*range(10, 21)))
    g = ph_seq(g, ph_all([chain(21, 22), chain(23, 24), chain(25, 26), leaf(27)]))
    mean, var = ph_moments(g)
    out = (line("mean(s)", mean) + line("variance(s)", var) + line("value(10; s)", ph_cdf(g, 10)) +
           line("value(20; s)", ph_cdf(g, 20)) + "\n")
    write("graph_forks_after_random_branch", model, out)


if __name__ == "__main__":
    for n in (30, 40, 60):
        pairs(n)
    or_of_ands(20)
    eval_or_of_ands(80, (0, 20, 5))
    chain(173)
    erlang_by_doubling()
    parallel_by_doubling()
    binomial_component()
    negative_time()
    graph_forks_after_random_branch()
