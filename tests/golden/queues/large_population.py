#!/usr/bin/env python3
"""Expected output of large_population.crv (run: python3 large_population.py > large_population.out).

With one bottleneck station c of a closed product-form ring, the normalising
constant over N customers is rho_c^N * sum_{k<=N} h(k), where h is the
convolution of the other stations' functions f_m(j) = prod_{i<=j} lam/mu_m(i)
with lam = v/rho_c the bottleneck's capacity. These decay geometrically (lam
is below every other station's capacity), so for N = 100000 the finite sums
equal the infinite ones far beyond double precision: the throughput is lam,
every other station is the open station fed at rate lam, and the bottleneck
holds the remaining customers. The sums below are exact fractions truncated
where the geometric tail is below 1e-30.
"""
from fractions import Fraction as F

N = 100000
SEP = '-------------------------------------------'


def open_station(lam, rate, tail_ratio):
    """P0, mean and utilisation of a station with rates rate(j) fed at lam."""
    terms, f, j = [F(1)], F(1), 0
    while True:
        j += 1
        f = f * lam / rate(j)
        terms.append(f)
        if j > 50 and float(f) * j / (1 - tail_ratio) ** 2 < 1e-30:
            break
    total = sum(terms)
    mean = sum(i * t for i, t in enumerate(terms)) / total
    p0 = terms[0] / total
    return p0, mean


def lds(rates):
    return lambda j: F(rates[min(j, len(rates)) - 1])


def ms(servers, mu):
    return lambda j: min(j, servers) * F(mu)


def e4(x):
    return '%.4e' % float(x)


def out(lines):
    return '\n'.join('%s:   %s' % (t, e4(v)) for t, v in lines) + '\n'


blocks = []
# q: c (fcfs 2) is the bottleneck, lam = 2.
lam = F(2)
p0a, qa = open_station(lam, lds([1, 2, F(5, 2)]), lam / F(5, 2))
p0b, qb = open_station(lam, ms(3, F(6, 5)), lam / F(18, 5))
blocks.append(out([('tput(q, a)', lam), ('util(q, a)', 1 - p0a), ('qlength(q, a)', qa), ('rtime(q, a)', qa / lam),
                   ('util(q, b)', 1 - p0b), ('qlength(q, b)', qb), ('rtime(q, b)', qb / lam),
                   ('util(q, c)', lam / 2), ('qlength(q, c)', N - qa - qb)]))
# r: a (lds, 2.5 from three customers on) is the bottleneck, lam = 5/2.
lam = F(5, 2)
p0b, qb = open_station(lam, ms(3, F(6, 5)), lam / F(18, 5))
p0c, qc = open_station(lam, lambda j: F(3), lam / 3)
blocks.append(out([('tput(r, c)', lam), ('util(r, a)', 1), ('qlength(r, a)', N - qb - qc), ('util(r, b)', 1 - p0b),
                   ('qlength(r, b)', qb), ('util(r, c)', 1 - p0c), ('qlength(r, c)', qc)]))
# m: the network q as one chain of an mpfqn.
lam = F(2)
p0a, qa = open_station(lam, lds([1, 2, F(5, 2)]), lam / F(5, 2))
p0b, qb = open_station(lam, ms(3, F(6, 5)), lam / F(18, 5))
blocks.append(out([('mtput(m, a)', lam), ('mutil(m, a)', 1 - p0a), ('mqlength(m, a)', qa), ('mutil(m, b)', 1 - p0b),
                   ('mqlength(m, b)', qb), ('mqlength(m, c)', N - qa - qb)]))
print(('\n' + SEP + '\n\n').join(blocks))
