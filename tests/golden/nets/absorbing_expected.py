# Writes the expected outputs of the nets that cycle before they are absorbed
# (run: python3 absorbing_expected.py DIR). The markings are enumerated here
# from the net written below, and every number comes from the fundamental
# matrix N = (-Q_TT)^-1 of the transient markings in exact fractions:
# tau = p0 N (time spent in each marking), absorption probabilities tau Q_TA,
# mean p0 N 1 and second moment 2 p0 N^2 1.
import math, os, sys
from fractions import Fraction as Fr
out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
SEP = '-------------------------------------------'

def e4(x):
    return '%.4e' % float(x)

def solve(A, b):
    n = len(A)
    M = [row[:] + [b[i]] for i, row in enumerate(A)]
    for c in range(n):
        p = next(r for r in range(c, n) if M[r][c] != 0)
        M[c], M[p] = M[p], M[c]
        for r in range(n):
            if r != c and M[r][c] != 0:
                f = M[r][c] / M[c][c]
                M[r] = [x - f * y for x, y in zip(M[r], M[c])]
    return [M[i][n] / M[i][i] for i in range(n)]

def analyse(places, trans, m0):
    """trans: list of (rate, inputs {p: k}, outputs {p: k}, inhibitors {p: k})."""
    def moves(m):
        res = []
        for rate, ins, outs, inh in trans:
            if any(m[p] < k for p, k in ins.items()): continue
            if any(m[p] >= k for p, k in inh.items()): continue
            n = list(m)
            for p, k in ins.items(): n[p] -= k
            for p, k in outs.items(): n[p] += k
            res.append((tuple(n), Fr(rate)))
        return res
    marks = [tuple(m0)]; seen = {marks[0]}
    for m in marks:
        for n, r in moves(m):
            if n not in seen: seen.add(n); marks.append(n)
    T = [m for m in marks if moves(m)]
    idx = {m: i for i, m in enumerate(T)}
    nt = len(T)
    A = [[Fr(0)] * nt for _ in range(nt)]
    for m in T:
        for n, r in moves(m):
            A[idx[m]][idx[m]] += r
            if n in idx: A[idx[m]][idx[n]] -= r
    At = [[A[j][i] for j in range(nt)] for i in range(nt)]
    p0 = [Fr(1) if m == tuple(m0) else Fr(0) for m in T]
    tau = solve(At, p0)
    h = solve(A, [Fr(1)] * nt)
    w = solve(A, h)
    absorbed = {}
    for m in T:
        for n, r in moves(m):
            if n not in idx: absorbed[n] = absorbed.get(n, Fr(0)) + tau[idx[m]] * r
    mean = sum(p * x for p, x in zip(p0, h))
    var = 2 * sum(p * x for p, x in zip(p0, w)) - mean * mean
    return dict(T=T, tau=tau, absorbed=absorbed, mean=mean, var=var)

# The ring a -> b -> c -> a, a = 1 and c = 1, ta inhibited by 2 tokens in a.
A_, B_, C_ = 0, 1, 2
def ring(r):
    return [(r[0], {A_: 1}, {B_: 1}, {A_: 2}), (r[1], {B_: 1}, {C_: 1}, {}), (r[2], {C_: 1}, {A_: 1}, {})]

lines = []
for name, rates in (('ones', (1, 1, 1)), ('twos', (2, 2, 2)), ('mixed', (1, Fr(5, 2), Fr(1, 4)))):
    r = analyse(3, ring(rates), (1, 0, 1))
    etok = sum(q * m[A_] for m, q in r['absorbed'].items())
    pe = sum(q for m, q in r['absorbed'].items() if m[B_] == 0)
    lines.append('etok(%s, a):   %s\nprempty(%s, b):   %s\nmean(%s):   %s\nvariance(%s):   %s\n' % (
        name, e4(etok), name, e4(pe), name, e4(r['mean']), name, e4(r['var'])))
# The reward net: the same ring with rates 2, reward 1 + #(b) per marking.
r = analyse(3, ring((2, 2, 2)), (1, 0, 1))
cum = sum(t * (1 + m[B_]) for m, t in zip(r['T'], r['tau']))
ss = sum(q * (1 + m[B_]) for m, q in r['absorbed'].items())
lines.append('mtta(rs):   %s\nsrn_cexrinf(rs; rw):   %s\nsrn_exrss(rs; rw):   %s\ntransenabled(rs):   %s\n' % (
    e4(r['mean']), e4(cum), e4(ss), e4(0)))
open(os.path.join(out, 'cycling_then_absorbed.out'), 'w').write(('\n' + SEP + '\n\n').join(lines) + '\n')

# A tangible marking that only returns to itself is absorbing: a leaves at
# rate 2 into c, where t1 (and t2 through the vanishing b) brings c back.
v = 1 - math.exp(-1.0)
text = ''
for name in ('viavanishing', 'selfloop'):
    text += 'etokt(0.5; %s, c):   %s\nmean(%s):   %s\netok(%s, c):   %s\nprempty(%s, a):   %s\n' % (
        name, e4(v), name, e4(Fr(1, 2)), name, e4(1), name, e4(1))
    text += '\n' + SEP + '\n\n'
text = text[: -len('\n' + SEP + '\n\n')] + '\n'
open(os.path.join(out, 'returns_to_itself.out'), 'w').write(text)
