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
