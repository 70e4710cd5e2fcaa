# Expected output of pn_ill_conditioned.crv (run: /usr/bin/python3 pn_reference.py > pn_ill_conditioned.out).
# F(t) = 1 − Σ_k (p0·v_k)(w_k·1) e^(λ_k t) from the eigen-decomposition of the
# transient block; mean p0 N 1 and second moment 2 p0 N² 1 with N = (−T)^-1.
# Layout: the cdf heading, terms "%11.4e t(%3d) exp(%11.4e t)" joined by " + ",
# then the mean and variance lines.
import re
import numpy as np

arcs = []
for line in open("pn_ill_conditioned.crv"):
    f = line.split()
    if len(f) == 3 and not line.startswith("*"):
        arcs.append((f[0], f[1], float(f[2])))
states = []
for a, b, _ in arcs:
    for s in (a, b):
        if s not in states:
            states.append(s)
trans = [s for s in states if any(a == s for a, _, _ in arcs)]
idx = {s: i for i, s in enumerate(trans)}
n = len(trans)
T = np.zeros((n, n))
for a, b, r in arcs:
    T[idx[a], idx[a]] -= r
    if b in idx:
        T[idx[a], idx[b]] += r
p0 = np.zeros(n)
p0[idx["s0"]] = 1.0
lam, V = np.linalg.eig(T)
W = np.linalg.inv(V)
c = (p0 @ V) * (W @ np.ones(n))
assert np.all(np.abs(lam.imag) < 1e-12)
order = np.argsort(-lam.real)
terms = [(1.0, 0.0)] + [(-c[k].real, lam[k].real) for k in order]
N = np.linalg.inv(-T)
m1 = p0 @ N @ np.ones(n)
m2 = 2 * p0 @ N @ N @ np.ones(n)
print("\nCDF for system m:\n")
print("   " + "\n + ".join("%11.4e t(%3d) exp(%11.4e t)" % (a, 0, r) for a, r in terms).replace("exp( 0.0000e+00", "exp( 0.0000e+00"))
print()
print("mean: %10.4e" % m1)
print("variance: %10.4e" % (m2 - m1 * m1))
print()
