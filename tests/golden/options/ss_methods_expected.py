#!/usr/bin/env python3
"""Expected values of ss_gs / ss_bicgstab, by exact fractions.

Chain q: M/M/1/4, arrivals 2, service 3: p_k = (2/3)^k / sum_j (2/3)^j.
Net ring: three tokens moving a -> b at rate 2 and b -> a at rate 3: the
number in b is the same birth-death process truncated at 3.
"""
from fractions import Fraction as F


def geometric(top):
    w = [F(2, 3) ** k for k in range(top + 1)]
    z = sum(w)
    return [v / z for v in w]


p = geometric(4)
r = geometric(3)
lines = [f"prob(q, {k}):   {float(p[k]):.4e}" for k in range(5)]
lines.append(f"exrss(q):   {float(sum(k * p[k] for k in range(5))):.4e}")
lines.append(f"etok(ring, b):   {float(sum(k * r[k] for k in range(4))):.4e}")
lines.append(f"tput(ring, back):   {float(3 * (1 - r[0])):.4e}")
lines.append(f"prempty(ring, a):   {float(r[3]):.4e}")
print("\n".join(lines))
