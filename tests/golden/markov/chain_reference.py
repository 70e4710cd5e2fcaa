# Writes the chain golden cases listed at the end (run: python3 chain_reference.py DIR).
# Every expected number comes from arithmetic written here, independent of the
# program: exact fractions for fundamental matrices (mean p N 1, second moment
# 2 p N^2 1, conditional ones through N r), and a 60-digit matrix exponential
# (Taylor series with scaling and squaring in decimal arithmetic) for values at
# t; cumulative values from the exponential of the augmented matrix
# [[Q t, I t], [0, 0]]. The text layout follows the documented formats:
# expression lines "%s:   %10.4e", table entries " %10.4e " with a blank before
# the exponent, headers with h1 = 6 and h2 = 7 at the default width 10, and the
# separator line before every result but the first.
import os, sys
from decimal import Decimal as D, getcontext
from fractions import Fraction as Fr

getcontext().prec = 60


def generator(states, arcs):
    idx = {s: i for i, s in enumerate(states)}
    n = len(states)
    q = [[Fr(0)] * n for _ in range(n)]
    for f, t, r in arcs:
        r = Fr(r)
        q[idx[f]][idx[t]] += r
        q[idx[f]][idx[f]] -= r
    return q, idx


def solve(a, b):
    """Exact Gauss-Jordan elimination."""
    n = len(b)
    m = [list(row) + [b[i]] for i, row in enumerate(a)]
    for p in range(n):
        piv = next(i for i in range(p, n) if m[i][p] != 0)
        m[p], m[piv] = m[piv], m[p]
        for i in range(n):
            if i != p and m[i][p] != 0:
                f = m[i][p] / m[p][p]
                m[i] = [x - f * y for x, y in zip(m[i], m[p])]
    return [m[i][n] / m[i][i] for i in range(n)]


def absorption_moments(q, p0, transient, targets):
    """Hit probability, E[T; ends in targets], E[T^2; ends in targets]."""
    a = [[-q[i][j] for j in transient] for i in transient]
    r = [sum(q[i][t] for t in targets) for i in transient]
    b = solve(a, r)
    u = solve(a, b)
    w = solve(a, u)
    p = [p0[i] for i in transient]
    return (sum(x * y for x, y in zip(p, b)), sum(x * y for x, y in zip(p, u)),
            2 * sum(x * y for x, y in zip(p, w)))


def continuous_moments(q, p0, transient, targets):
    hit, m1, m2 = absorption_moments(q, p0, transient, targets)
    mean = m1 / hit
    return mean, m2 / hit - mean * mean


def expm(a):
    """exp(a) for a small matrix of Fractions, in 60-digit decimals."""
    n = len(a)
    m = [[D(x.numerator) / D(x.denominator) for x in row] for row in a]
    norm = max(sum(abs(x) for x in row) for row in m)
    s = 0
    while norm > D('0.5'):
        norm /= 2
        s += 1
    m = [[x / (D(2) ** s) for x in row] for row in m]
    result = [[D(int(i == j)) for j in range(n)] for i in range(n)]
    term = [row[:] for row in result]
    for k in range(1, 40):
        term = [[sum(term[i][l] * m[l][j] for l in range(n)) / k for j in range(n)] for i in range(n)]
        result = [[result[i][j] + term[i][j] for j in range(n)] for i in range(n)]
    for _ in range(s):
        result = [[sum(result[i][l] * result[l][j] for l in range(n)) for j in range(n)] for i in range(n)]
    return result


def transient(q, p0, t, cumulative=True):
    """Probabilities at t and (when asked) their integrals over [0, t]."""
    n = len(q)
    t = Fr(t)
    size = 2 * n if cumulative else n
    aug = [[Fr(0)] * size for _ in range(size)]
    for i in range(n):
        for j in range(n):
            aug[i][j] = q[i][j] * t
        if cumulative:
            aug[i][n + i] = t
    e = expm(aug)
    p = [D(x.numerator) / D(x.denominator) for x in map(Fr, p0)]
    prob = [sum(p[i] * e[i][j] for i in range(n)) for j in range(n)]
    cum = [sum(p[i] * e[i][n + j] for i in range(n)) for j in range(n)] if cumulative else None
    return prob, cum


def per_reward(arcs, reward):
    """Rates per unit of accumulated reward (reward-unit clock)."""
    return [(f, t, Fr(r) / Fr(reward[f])) for f, t, r in arcs]


# ---- formats

def num(x):
    x = float(x)
    if abs(x) < 1e-12:
        x = 0.0
    return '%10.4e' % x


def entry(x):
    x = float(x)
    if abs(x) < 1e-12:
        x = 0.0
    s = ' %10.4e ' % x
    i = s.index('e')
    return s[:i] + ' ' + s[i:]


class Out:
    def __init__(self):
        self.text = ''
        self.first = True

    def result(self):
        if not self.first:
            self.text += '-------------------------------------------\n\n'
        self.first = False

    def exprs(self, pairs):
        self.result()
        for label, value in pairs:
            self.text += '%s:   %s\n' % (label, num(value))
        self.text += '\n'

    def table(self, system, node, var, rows, label=None):
        self.result()
        self.text += '      system %s\n' % system
        if node:
            self.text += '        node %s\n' % node
        if label is None:
            self.text += '%6s%s%6s%3sF(%s)%6s\n\n' % ('', var, '', '', var, '')
            for t, v in rows:
                self.text += entry(t) + entry(v) + '\n'
        else:
            self.text += '%6st%6s%3s%s%6s\n\n' % ('', '', '', label, '')
            for t, v in rows:
                self.text += entry(t) + '        ' + entry(v) + '\n'
        self.text += '\n'

    def summary(self, terms, pz, pi, mean, var, variable='t'):
        """A distribution summary of real terms (coefficient, power, rate) in canonical order."""
        pc = 1 - pz - pi
        if pz != 0:
            self.text += 'probability at 0:        %s\n' % num(pz)
        if pi != 0:
            self.text += 'probability at infinity: %s\n' % num(pi)
        if pc != 1:
            self.text += 'continuous probability:  %s\n\n' % num(pc)
        for k, (a, power, b) in enumerate(sorted(terms, key=lambda x: (-x[1], -x[2]))):
            self.text += '%s%11.4e %s(%3d) exp(%11.4e %s)\n' % ('   ' if k == 0 else ' + ', float(a), variable,
                                                                power, float(b), variable)
        if pi != 0:
            self.text += '\nmean and variance are conditional on finite time\n'
        self.text += '\nmean: %9.4e\n' % float(mean)
        self.text += 'variance: %9.4e\n\n' % float(var)


    def state(self, system, node):
        self.text += 'information about system %s node %5s\n' % (system, node)

    def leaving(self, system, node, entered, terms=None, mean=None, var=None):
        """lcdf: heading, probability of entering, and the conditional leaving CDF
        (terms None: a state that is never left, whose leaving CDF is empty)."""
        self.result()
        self.state(system, node)
        self.text += '\nprobability of entering node: %s\n\n' % num(entered)
        if entered == 0:
            return
        self.text += 'conditional CDF for time of leaving this node\n\n'
        if terms is None:
            # The empty distribution: all of its mass at infinity.
            self.text += 'probability at infinity: %s\n' % num(1)
            self.text += 'continuous probability:  %s\n\n' % num(0)
        else:
            self.summary(terms, 0, 0, mean, var)

    def occupancy(self, system, node, terms):
        """cdf of a state that is left again: its closed form as listed."""
        self.result()
        self.state(system, node)
        self.text += 'transient state probability:\n\n'
        for k, (a, power, b) in enumerate(sorted(terms, key=lambda x: (-x[1], -x[2]))):
            self.text += '%s%11.4e t(%3d) exp(%11.4e t)\n' % ('   ' if k == 0 else ' + ', float(a), power, float(b))


def write(folder, name, model, out, comment):
    with open(os.path.join(folder, name + '.crv'), 'w') as f:
        f.write(''.join('* ' + line + '\n' for line in comment.strip().split('\n')))
        f.write(model.lstrip('\n'))
    with open(os.path.join(folder, name + '.out'), 'w') as f:
        f.write(out.text)


# ---- the cases

def cycle40(folder):
    # 40 stages with rates 1 + 0.37 k, a shortcut back from s20 to s3 and a
    # restart from s39 to s0: a phase-type chain whose closed form cancels.
    states = ['s%d' % k for k in range(41)]
    arcs = [('s%d' % k, 's%d' % (k + 1), Fr(1) + Fr(37, 100) * k) for k in range(40)]
    arcs += [('s20', 's3', Fr(8, 10)), ('s39', 's0', Fr(1, 2))]
    q, idx = generator(states, arcs)
    p0 = [Fr(1)] + [Fr(0)] * 40
    tr = list(range(40))
    mean, var = continuous_moments(q, p0, tr, [40])
    reward = {s: 2 for s in states}
    qr, _ = generator(states, per_reward(arcs, reward))
    rmean, rvar = continuous_moments(qr, p0, tr, [40])
    out = Out()
    out.exprs([('mean(c)', mean), ('variance(c)', var), ('mean(c, s40)', mean), ('variance(c, s40)', var)])
    vals = [(t, transient(q, p0, t, False)[0][40]) for t in (5, 10, 20)]
    out.exprs([('value(%d; c)' % t, v) for t, v in vals])
    out.table('c', None, 't', [(0, 0)] + [(t, v) for t, v in vals if t in (10, 20)])
    out.exprs([('rmean(c)', rmean), ('rvariance(c)', rvar)])
    model = '''
markov c
loop k, 0, 39
s$(k) s$(k+1) 1+0.37*k
end
s20 s3 0.8
s39 s0 0.5
reward default 2
end
s0 1
end
expr mean(c), variance(c), mean(c, s40), variance(c, s40)
expr value(5; c), value(10; c), value(20; c)
eval(c) 0 20 10
expr rmean(c), rvariance(c)
'''
    write(folder, 'cycle40_moments', model, out, '''
Phase-type chain of 40 stages with a shortcut and a restart: its closed form
cancels, so its moments come from the fundamental matrix and its values from
uniformization. Expected: chain_reference.py (exact fundamental matrix; values
by a 60-digit matrix exponential). Every state earns 2, so rmean = 2 mean and
rvariance = 4 variance.''')


def acyclic_values(folder):
    # a -> b 2, a -> c 1, b -> d 3 with mass on a, b and the absorbing d.
    states = ['a', 'b', 'c', 'd']
    arcs = [('a', 'b', 2), ('a', 'c', 1), ('b', 'd', 3)]
    q, idx = generator(states, arcs)
    p0 = [Fr(6, 10), Fr(3, 10), Fr(0), Fr(1, 10)]
    out = Out()
    # Leaving a: 0.6 (1 - e^-3t). Leaving b: entered from a with 0.4 (1 - e^-3t),
    # then Exp(3), plus the start mass 0.3: 0.7 - 0.7 e^-3t - 1.2 t e^-3t.
    # lcdf prints the probability of entering the state and the leaving CDF
    # divided by it: a is entered with 0.6 and left after Exp(3); b with 0.7.
    out.leaving('m', 'a', Fr(6, 10), [(Fr(1), 0, 0), (Fr(-1), 0, -3)], Fr(1, 3), Fr(1, 9))
    m1 = (Fr(4, 10) * Fr(2, 3) + Fr(3, 10) * Fr(1, 3)) / Fr(7, 10)
    m2 = (Fr(4, 10) * Fr(6, 9) + Fr(3, 10) * Fr(2, 9)) / Fr(7, 10)
    out.leaving('m', 'b', Fr(7, 10), [(Fr(-12, 7), 1, -3), (Fr(1), 0, 0), (Fr(-1), 0, -3)], m1, m2 - m1 * m1)
    for t in ('0.5', '2'):
        lines = []
        prob = transient(q, p0, Fr(t), False)[0]
        for s in states:
            lines.append(('value(%s; m, %s)' % (t, s), prob[idx[s]]))
            lines.append(('tvalue(%s; m, %s)' % (t, s), prob[idx[s]]))
        lines.append(('value(%s; m)' % t, prob[2] + prob[3]))
        lines.append(('tvalue(%s; m)' % t, prob[2] + prob[3]))
        out.exprs(lines)
    # One expression statement per time: the closed forms (value) and
    # uniformization (tvalue) side by side, node by node and overall.
    model = """
markov m
a b 2
a c 1
b d 3
end
a 0.6
b 0.3
d 0.1
end
lcdf(m, a)
lcdf(m, b)
"""
    for t in ('0.5', '2'):
        items = ['value(%s; m, %s), tvalue(%s; m, %s)' % (t, s, t, s) for s in states]
        items.append('value(%s; m), tvalue(%s; m)' % (t, t))
        model += 'expr ' + ', '.join(items) + '\n'
    write(folder, 'acyclic_lcdf_values', model, out, """
Acyclic chain with starting mass on a transient, a middle and an absorbing
state: lcdf of the first two (convolutions by hand, see chain_reference.py),
and value (closed forms) beside tvalue (uniformization) for every state and
overall at two times, both against a 60-digit matrix exponential.""")


def reward_measures(folder):
    # Reward rates on chains of the three kinds: exrt(t) = sum r p(t) and
    # cexrt(t) = sum r * integral of p, from the time-domain solution; rmean
    # and rvariance from the reward-unit clock (rates divided by the reward).
    out = Out()
    model = ''
    # acyclic absorbing: a -> b 2, a -> c 1, b -> d 3; rewards a 3, b 1
    st = ['a', 'b', 'c', 'd']
    arcs = [('a', 'b', 2), ('a', 'c', 1), ('b', 'd', 3)]
    rw = {'a': 3, 'b': 1}
    q, idx = generator(st, arcs)
    p0 = [Fr(1), 0, 0, 0]
    prob, cum = transient(q, p0, Fr(1, 2))
    qr, _ = generator(st, per_reward(arcs, rw))
    m1, v1 = absorption_moments(qr, p0, [0, 1], [2, 3])[1:]
    out.exprs([('exrt(0.5; ac)', 3 * prob[0] + prob[1]), ('cexrt(0.5; ac)', 3 * cum[0] + cum[1]),
               ('rmean(ac)', m1), ('rvariance(ac)', v1 - m1 * m1)])
    model += """
markov ac
a b 2
a c 1
b d 3
reward
a 3
b 1
end
a 1
end
expr exrt(0.5; ac), cexrt(0.5; ac), rmean(ac), rvariance(ac)
"""
    # irreducible: up -> deg 2, deg -> dn 1, deg -> up 3, dn -> up 4
    st = ['up', 'deg', 'dn']
    arcs = [('up', 'deg', 2), ('deg', 'dn', 1), ('deg', 'up', 3), ('dn', 'up', 4)]
    r = [Fr(2), Fr(1), Fr(0)]
    q, idx = generator(st, arcs)
    # steady state: pi Q = 0 with sum 1 (replace the last balance equation)
    a = [[q[j][i] for j in range(3)] for i in range(3)]
    a[2] = [Fr(1)] * 3
    pi = solve(a, [Fr(0), Fr(0), Fr(1)])
    p0 = [Fr(1), 0, 0]
    rows_e, rows_c = [], []
    for t in (Fr(0), Fr(1, 2), Fr(1), Fr(3, 2), Fr(2)):
        prob, cum = transient(q, p0, t) if t else ([D(1), D(0), D(0)], [D(0)] * 3)
        rows_e.append((t, sum(D(float(x)) * y for x, y in zip(r, prob))))
        rows_c.append((t, sum(D(float(x)) * y for x, y in zip(r, cum))))
    out.exprs([('exrss(ir)', sum(x * y for x, y in zip(r, pi))), ('exrt(1; ir)', rows_e[2][1]),
               ('cexrt(2; ir)', rows_c[4][1])])
    out.table('ir', None, None, rows_e, 'expected reward at t')
    out.table('ir', None, None, rows_c, 'expected cumulative reward at t')
    model += """markov ir
up deg 2
deg dn 1
deg up 3
dn up 4
reward
up 2
deg 1
end
up 1
end
expr exrss(ir), exrt(1; ir), cexrt(2; ir)
eval(ir) 0 2 0.5 exrt
eval(ir) 0 2 0.5 cexrt
"""
    # absorbing with a cycle: s0 <-> s1, s1 -> f; rewards s0 1, s1 3
    st = ['s0', 's1', 'f']
    arcs = [('s0', 's1', 1), ('s1', 's0', 2), ('s1', 'f', Fr(1, 2))]
    rw = {'s0': 1, 's1': 3}
    q, idx = generator(st, arcs)
    p0 = [Fr(1), 0, 0]
    prob, cum = transient(q, p0, Fr(3))
    qr, _ = generator(st, per_reward(arcs, rw))
    m1, m2 = absorption_moments(qr, p0, [0, 1], [2])[1:]
    out.exprs([('exrt(3; cy)', prob[0] + 3 * prob[1]), ('cexrt(3; cy)', cum[0] + 3 * cum[1]),
               ('rmean(cy)', m1), ('rvariance(cy)', m2 - m1 * m1)])
    model += """markov cy
s0 s1 1
s1 s0 2
s1 f 0.5
reward
s0 1
s1 3
end
s0 1
end
expr exrt(3; cy), cexrt(3; cy), rmean(cy), rvariance(cy)
"""
    write(folder, 'reward_measures', model, out, """
Reward rates on an acyclic absorbing chain, an irreducible chain and an
absorbing chain with a cycle: exrt and cexrt from the probabilities in time
(60-digit exponential of the augmented generator), rmean and rvariance from
the exact fundamental matrix of the chain with rates divided by the reward,
exrss from the exact balance equations. Expected: chain_reference.py.""")


def near_repeated(folder):
    # Two stages with rates 1 and 1 + 1e-9: the two-exponential closed form
    # (e^-t - e^-(1+d)t)/d cancels to nine digits; the values must still be
    # those of the exact chain.
    st = ['a', 'b', 'c']
    arcs = [('a', 'b', 1), ('b', 'c', 1 + Fr(1, 10 ** 9))]
    q, idx = generator(st, arcs)
    p0 = [Fr(1), 0, 0]
    mean, var = continuous_moments(q, p0, [0, 1], [2])
    lines = [('mean(nr)', mean), ('variance(nr)', var)]
    for t in ('0.5', '2', '6'):
        prob = transient(q, p0, Fr(t), False)[0]
        lines += [('value(%s; nr)' % t, prob[2]), ('tvalue(%s; nr)' % t, prob[2]),
                  ('value(%s; nr, b)' % t, prob[1])]
    out = Out()
    out.exprs(lines)
    model = """
markov nr
a b 1
b c 1+1e-9
end
a 1
end
expr mean(nr), variance(nr), value(0.5; nr), tvalue(0.5; nr), value(0.5; nr, b), value(2; nr), tvalue(2; nr), value(2; nr, b), value(6; nr), tvalue(6; nr), value(6; nr, b)
"""
    write(folder, 'near_repeated_rates', model, out, """
Two stages whose rates differ by 1e-9 relative: the closed form cancels,
the printed values must match the exact chain (60-digit matrix exponential
in chain_reference.py).""")


def stiff_cumulative(folder):
    # Failure 1e-3, repair 1e4, t = 100: the uniformization rate times t is
    # above 1e6. Exact two-state solution: p_dn(t) = l/(l+m) (1 - e^-(l+m)t).
    st = ['up', 'dn']
    arcs = [('up', 'dn', Fr(1, 1000)), ('dn', 'up', 10000)]
    r = [Fr(1), Fr(0)]
    q, idx = generator(st, arcs)
    p0 = [Fr(1), 0]
    prob, cum = transient(q, p0, 100)
    out = Out()
    out.exprs([('tvalue(100; sf, up)', prob[0]), ('exrt(100; sf)', prob[0]),
               ('cexrt(100; sf)', cum[0]), ('exrss(sf)', Fr(10000) / (10000 + Fr(1, 1000)))])
    model = """
markov sf
up dn 1e-3
dn up 1e4
reward
up 1
end
up 1
end
expr tvalue(100; sf, up), exrt(100; sf), cexrt(100; sf), exrss(sf)
"""
    write(folder, 'stiff_cumulative', model, out, """
A repairable unit with failure 1e-3 and repair 1e4 at t = 100, where the
uniformization rate times t exceeds 1e6: transient and cumulative values
against a 60-digit matrix exponential (chain_reference.py).""")


def large_phase_chain(folder):
    # Reflecting birth-death chain s0..s60, birth 2, death 1, absorbed at s60:
    # past the size of the per-eigenvalue variants, so its closed form comes
    # from the dense decomposition, checked against the fundamental matrix
    # and uniformization.
    n = 60
    states = ['s%d' % k for k in range(n + 1)]
    arcs = [('s%d' % k, 's%d' % (k + 1), 2) for k in range(n)]
    arcs += [('s%d' % k, 's%d' % (k - 1), 1) for k in range(1, n)]
    q, idx = generator(states, arcs)
    p0 = [Fr(1)] + [Fr(0)] * n
    mean, var = continuous_moments(q, p0, list(range(n)), [n])
    # Independent check of the mean: the step times from k to k + 1 have
    # means 1 - 2^-(k+1).
    assert mean == sum(1 - Fr(1, 2 ** (k + 1)) for k in range(n))
    vals = [(t, transient(q, p0, t, False)[0][n]) for t in (50, 70)]
    out = Out()
    out.exprs([('mean(ab)', mean), ('variance(ab)', var)])
    out.exprs([('value(%d; ab)' % t, v) for t, v in vals])
    out.table('ab', None, 't', [(50, vals[0][1]), (70, vals[1][1])])
    model = """
markov ab
loop i, 0, 59
s$(i) s$(i+1) 2
end
loop i, 1, 59
s$(i) s$(i-1) 1
end
end
s0 1
end
expr mean(ab), variance(ab)
expr value(50; ab), value(70; ab)
eval(ab) 50 70 20
"""
    comment = """
Phase-type birth-death chain of 61 states (birth 2, death 1, absorbed at
s60), past the size of the per-eigenvalue variants: moments from the exact
fundamental matrix (mean also as the sum of the step means 1 - 2^-(k+1)),
values by a 60-digit matrix exponential (chain_reference.py)."""
    write(folder, 'large_phase_chain', model, out, comment)
    status = os.path.join(folder, 'large_phase_chain.status')
    if os.path.exists(status):
        os.remove(status)


# ---- decimal sine and cosine for the spectral closed forms

PI = D('3.14159265358979323846264338327950288419716939937510582097494459')


def dsin(x):
    x = D(x) % (2 * PI)  # the series only near 0: no cancellation of huge terms
    if x > PI:
        x -= 2 * PI
    term, total, k = x, x, 1
    while abs(term) > D(10) ** -70:
        term = -term * x * x / ((2 * k) * (2 * k + 1))
        total += term
        k += 1
    return total


def dcos(x):
    return dsin(PI / 2 - D(x))


def dterms_summary(out, terms, mean, var, pz=0, pi=0):
    """Like Out.summary, with Decimal coefficients and rates."""
    out.summary([(a, k, b) for a, k, b in terms], pz, pi, mean, var)


def gamblers_ruin(folder):
    # Symmetric walk on s1..s60 (rate 1 each way), absorbed at s0 and s61,
    # started at s20. The transient block is tridiagonal Toeplitz (diagonal
    # -2, neighbours 1): eigenvalues -2 + 2 cos(k pi/61) with the orthonormal
    # eigenvectors u_k(j) = sqrt(2/61) sin(j k pi/61), so
    #   survival S(t) = sum_k e^(theta_k t) u_k(20) sum_j u_k(j),
    #   p_s0(t) = P(s0) - sum_k u_k(20) u_k(1) (1 - e^(theta_k t)) / (-theta_k).
    # The sums over j vanish for even k, so half the poles carry no weight.
    N, j0 = 61, 20
    ks = range(1, N)
    theta = {k: -2 + 2 * dcos(PI * k / N) for k in ks}
    u = {(k, j): (D(2) / N).sqrt() * dsin(PI * j * k / N) for k in ks for j in range(1, N)}
    surv = {k: u[k, j0] * sum(u[k, j] for j in range(1, N)) for k in ks}
    cdf_terms = [(D(1), 0, D(0))] + [(-surv[k], 0, theta[k]) for k in ks if abs(surv[k]) > D(10) ** -30]
    states = ['s%d' % k for k in range(N + 1)]
    arcs = [('s%d' % k, 's%d' % (k + 1), 1) for k in range(1, N)] + [('s%d' % k, 's%d' % (k - 1), 1) for k in range(1, N)]
    q, idx = generator(states, arcs)
    p0 = [Fr(0)] * (N + 1)
    p0[j0] = Fr(1)
    tr = list(range(1, N))
    mean, var = continuous_moments(q, p0, tr, [0, N])
    assert mean == Fr(j0 * (N - j0), 2)  # embedded walk: j (N - j) steps of mean 1/2
    # Ending in s0: probability (N - j0)/N, its own closed form and moments.
    hit0 = Fr(N - j0, N)
    assert absorption_moments(q, p0, tr, [0])[0] == hit0
    m0, v0 = continuous_moments(q, p0, tr, [0])
    s0_terms = [(D(1), 0, D(0))]
    for k in ks:
        c = u[k, j0] * u[k, 1] / theta[k] / (D(hit0.numerator) / D(hit0.denominator))
        if abs(c) > D(10) ** -30:
            s0_terms.append((c, 0, theta[k]))

    def cdf_at(t):
        return 1 - sum(surv[k] * (theta[k] * t).exp() for k in ks)

    def s0_at(t):
        h = D(hit0.numerator) / D(hit0.denominator)
        return h + sum(u[k, j0] * u[k, 1] / theta[k] * (theta[k] * t).exp() for k in ks)

    # The closed form against a 60-digit matrix exponential at one time.
    prob = transient(q, p0, 400, False)[0]
    assert abs(prob[0] + prob[N] - cdf_at(D(400))) < D(10) ** -40
    assert abs(prob[0] - s0_at(D(400))) < D(10) ** -40
    out = Out()
    out.result()
    out.text += '\nCDF for system gr:\n\n'
    dterms_summary(out, cdf_terms, mean, var)
    out.exprs([('mean(gr)', mean), ('variance(gr)', var), ('value(400; gr)', cdf_at(D(400))),
               ('value(400; gr, s0)', s0_at(D(400)))])
    out.result()
    out.text += 'information about system gr node    s0\n'
    out.text += '\nprobability of entering node: %s\n\n' % num(hit0)
    out.text += 'conditional CDF for time of reaching this absorbing state\n\n'
    dterms_summary(out, s0_terms, m0, v0)
    # As a component in series with exp(0.01): value 1 - S(t) e^(-0.01 t),
    # mean = integral of S(t) e^(-0.01 t) = sum_k c_k / (0.01 - theta_k).
    lam_e = D('0.01')
    out.exprs([('value(400; sb)', 1 - (1 - cdf_at(D(400))) * (-lam_e * 400).exp()),
               ('mean(sb)', sum(surv[k] / (lam_e - theta[k]) for k in ks))])
    model = """
markov gr
loop i, 1, 60
s$(i) s$(i+1) 1
s$(i) s$(i-1) 1
end
end
s20 1
end
cdf(gr)
expr mean(gr), variance(gr), value(400; gr), value(400; gr, s0)
cdf(gr, s0)
block sb
comp g cdf(gr)
comp e exp(0.01)
series top g e
end
expr value(400; sb), mean(sb)
"""
    write(folder, 'gamblers_ruin_dense', model, out, """
Symmetric walk on 60 transient states between two absorbing ones: its closed
form comes from the dense decomposition. Expected: chain_reference.py, from
the known spectrum of the tridiagonal Toeplitz block (60-digit decimal sines),
checked there against a 60-digit matrix exponential; moments from the exact
fundamental matrix.""")


def size_refused(folder):
    # 3001 states: more than any closed form is given for. The refusal names
    # the size; nothing ran out of memory.
    model = """
markov big
loop i, 0, 2999
s$(i) s$(i+1) 1
end
loop i, 1, 2999
s$(i) s$(i-1) 2
end
end
s0 1
end
cdf(big)
"""
    comment = """
A phase-type chain of 3001 states asked for its closed form: refused with
its size."""
    lines = len(comment.strip().split('\n')) + len(model.lstrip('\n').split('\n')) - 1
    out = Out()
    out.text += ('error: inappropriate information requested: closed form of system big (3001 states; closed '
                 'forms are given for at most 3000 states) (closed_form_size_refused.crv: line %4d).\n' % lines)
    write(folder, 'closed_form_size_refused', model, out, comment)
    with open(os.path.join(folder, 'closed_form_size_refused.status'), 'w') as f:
        f.write('255\n')


def small_rates(folder):
    # The same chains in a time unit 10^7 (10^6) times longer: every rate
    # divided, so the closed forms have the same coefficients of t^0, the
    # coefficients of t^k times the factor^k, rates divided, means
    # multiplied. The new variant must give them exactly, with and without
    # its voronoi points and with the second eigenvalue routine.
    # Chain 1: s0 <-> s1 (1e-7, 2e-7), s1 -> f 0.5e-7, s0 -> g 0.1e-7, from s0.
    sig = D('1e-7')
    a = [[D('-1.1'), D(1)], [D(2), D('-2.5')]]       # transient block / sig
    tr_, det = a[0][0] + a[1][1], a[0][0] * a[1][1] - a[0][1] * a[1][0]
    disc = (tr_ * tr_ - 4 * det).sqrt()
    lam = [(tr_ + disc) / 2, (tr_ - disc) / 2]
    # e^(At) = sum_k (A - l_o I)/(l_k - l_o) e^(l_k t): row s0 of it.
    def row0(k):
        lo = lam[1 - k]
        return [(a[0][0] - lo) / (lam[k] - lo), a[0][1] / (lam[k] - lo)]
    surv = [sum(row0(k)) for k in range(2)]
    terms = [(D(1), 0, D(0))] + [(-surv[k], 0, lam[k] * sig) for k in range(2)]
    states = ['s0', 's1', 'f', 'g']
    arcs = [('s0', 's1', Fr(1, 10 ** 7)), ('s1', 's0', Fr(2, 10 ** 7)), ('s1', 'f', Fr(5, 10 ** 8)),
            ('s0', 'g', Fr(1, 10 ** 8))]
    q, idx = generator(states, arcs)
    p0 = [Fr(1), Fr(0), Fr(0), Fr(0)]
    mean, var = continuous_moments(q, p0, [0, 1], [2, 3])
    hit_f = absorption_moments(q, p0, [0, 1], [2])[0]
    t7 = D(10) ** 7

    def s0_at(t):
        return sum(row0(k)[0] * (lam[k] * sig * t).exp() for k in range(2))

    def cdf_at(t):
        return 1 - sum(surv[k] * (lam[k] * sig * t).exp() for k in range(2))

    prob = transient(q, p0, 10 ** 7, False)[0]
    assert abs(prob[0] - s0_at(t7)) < D(10) ** -40 and abs(prob[2] + prob[3] - cdf_at(t7)) < D(10) ** -40
    out = Out()
    out.result()
    out.text += '\nCDF for system c:\n\n'
    dterms_summary(out, terms, mean, var)
    out.exprs([('pinf(c)', 0), ('value(1e7; c, s0)', s0_at(t7)), ('value(1e7; c)', cdf_at(t7)),
               ('mean(c)', mean)])
    # Chain 2: repeated eigenvalues -2e-6 and -4e-6 (twice each): a <-> b
    # (1e-6), both to c at 2e-6, c -> d 2e-6, d -> e 4e-6. By hand, with
    # s = 1e-6: p_a = (e^-2st + e^-4st)/2, p_b = (e^-2st - e^-4st)/2,
    # p_c = 2s t e^-2st, p_d = 2s t e^-2st - e^-2st + e^-4st, and
    # F = 1 - 4s t e^-2st - e^-4st.
    s6 = D('1e-6')
    half = D(1) / 2
    arcs2 = [('a', 'b', Fr(1, 10 ** 6)), ('b', 'a', Fr(1, 10 ** 6)), ('a', 'c', Fr(2, 10 ** 6)),
             ('b', 'c', Fr(2, 10 ** 6)), ('c', 'd', Fr(2, 10 ** 6)), ('d', 'e', Fr(4, 10 ** 6))]
    q2, idx2 = generator(['a', 'b', 'c', 'd', 'e'], arcs2)
    p02 = [Fr(1), Fr(0), Fr(0), Fr(0), Fr(0)]
    mean2, var2 = continuous_moments(q2, p02, [0, 1, 2, 3], [4])
    t6 = D(10) ** 6
    e2, e4 = (-2 * s6 * t6).exp(), (-4 * s6 * t6).exp()
    prob2 = transient(q2, p02, 10 ** 6, False)[0]
    by_hand = [(e2 + e4) / 2, (e2 - e4) / 2, 2 * s6 * t6 * e2, 2 * s6 * t6 * e2 - e2 + e4]
    for i in range(4):
        assert abs(prob2[i] - by_hand[i]) < D(10) ** -40
    out.result()
    out.text += '\nCDF for system rep:\n\n'
    dterms_summary(out, [(-4 * s6, 1, -2 * s6), (D(1), 0, D(0)), (D(-1), 0, -4 * s6)], mean2, var2)
    for node, terms2 in (('a', [(half, 0, -2 * s6), (half, 0, -4 * s6)]),
                         ('c', [(2 * s6, 1, -2 * s6)]),
                         ('d', [(2 * s6, 1, -2 * s6), (D(-1), 0, -2 * s6), (D(1), 0, -4 * s6)])):
        out.result()
        out.text += 'information about system rep node %5s\ntransient state probability:\n\n' % node
        for k, (c, power, b) in enumerate(sorted(terms2, key=lambda x: (-x[1], -x[2]))):
            out.text += '%s%11.4e t(%3d) exp(%11.4e t)\n' % ('   ' if k == 0 else ' + ', float(c), power, float(b))
    out.exprs([('value(1e6; rep, %s)' % n_, v) for n_, v in zip('abcd', by_hand)] +
              [('value(1e6; rep)', 1 - sum(by_hand))])
    model = """
markov c
s0 s1 1e-7
s1 s0 2e-7
s1 f 0.5e-7
s0 g 0.1e-7
end
s0 1
end
cdf(c)
expr pinf(c), value(1e7; c, s0), value(1e7; c), mean(c)
markov rep
a b 1e-6
b a 1e-6
a c 2e-6
b c 2e-6
c d 2e-6
d e 4e-6
end
a 1
end
cdf(rep)
cdf(rep, a)
cdf(rep, c)
cdf(rep, d)
expr value(1e6; rep, a), value(1e6; rep, b), value(1e6; rep, c), value(1e6; rep, d), value(1e6; rep)
"""
    for name, args in (('small_rates_pn', '-pn'), ('small_rates_pn_voronoi', '-pn -vo'),
                       ('small_rates_pn_eigen2', '-pn -e2'), ('small_rates', None)):
        write(folder, name, model, out, """
Phase-type chains with rates of 1e-7 and 1e-6 (a repeated pair of eigenvalues
in the second), in every solver variant. Expected: chain_reference.py (2 x 2
eigen-decomposition in 60-digit decimals, closed forms of the second chain by
hand, both checked there against a 60-digit matrix exponential; moments from
the exact fundamental matrix).""")
        if args:
            with open(os.path.join(folder, name + '.args'), 'w') as f:
                f.write(args + '\n')


def stiff_horizons(folder):
    # Rates 1e9 and 1e-3 (and 1e-6): the uniformization rate times the time
    # is 1e9 to 1e13. p_b(t) = r1/(r1 - r2) (e^-r2 t - e^-r1 t) exactly.
    out = Out()
    lines = []
    for r2, times in ((D('1e-3'), ('1', '1e4')), (D('1e-6'), ('1e4',))):
        r1 = D('1e9')
        for t in times:
            tt = D(t)
            pb = r1 / (r1 - r2) * ((-r2 * tt).exp() - (-r1 * tt).exp())
            pa = (-r1 * tt).exp()
            name = 'm' if r2 == D('1e-3') else 'w'
            lines += [('tvalue(%s; %s, b)' % (t, name), pb), ('tvalue(%s; %s)' % (t, name), 1 - pa - pb)]
    # A fast repairable pair in its steady state: 2/3 + e^(-3e9 t)/3.
    lines += [('tvalue(1e4; f, u)', Fr(2, 3)), ('tvalue(1e4; f, d)', Fr(1, 3))]
    out.exprs(lines)
    model = """
markov m
a b 1e9
b c 1e-3
end
a 1
end
markov w
a b 1e9
b c 1e-6
end
a 1
end
markov f
u d 1e9
d u 2e9
end
u 1
end
expr tvalue(1; m, b), tvalue(1; m), tvalue(1e4; m, b), tvalue(1e4; m), tvalue(1e4; w, b), tvalue(1e4; w), tvalue(1e4; f, u), tvalue(1e4; f, d)
"""
    write(folder, 'stiff_horizons', model, out, """
Stiff chains over horizons where the uniformization rate times the time is
1e9 to 1e13: p_b(t) = r1/(r1 - r2)(e^(-r2 t) - e^(-r1 t)) in 60-digit
decimals (chain_reference.py); the repairable pair is in its steady state
(2/3, 1/3) to every printed digit.""")


def long_steady_chains(folder):
    # Beyond the size of the dense elimination. A birth-death chain of 3000
    # states, birth 1, death 2: pi_k = 2^-k / Z. Two independent queues on a
    # 40 x 40 grid (births 1, deaths 2 and 3): product form.
    n = 3000
    z = sum(Fr(1, 2 ** k) for k in range(n))
    pi = lambda k: Fr(1, 2 ** k) / z
    # sum k x^k for k < n, x = 1/2, in closed form: x (1 - n x^(n-1) + (n-1) x^n) / (1 - x)^2
    level = 2 * (1 - Fr(n, 2 ** (n - 1)) + Fr(n - 1, 2 ** n)) / z
    assert level == sum(k * pi(k) for k in range(n))
    m = 40
    za = sum(Fr(1, 2 ** k) for k in range(m))
    zb = sum(Fr(1, 3 ** k) for k in range(m))
    grid = lambda a, b: Fr(1, 2 ** a) / za * Fr(1, 3 ** b) / zb
    out = Out()
    out.exprs([('prob(bd, s0)', pi(0)), ('prob(bd, s5)', pi(5)), ('exrss(bd)', level)])
    out.exprs([('prob(g, a0b0)', grid(0, 0)), ('prob(g, a2b3)', grid(2, 3)), ('prob(g, a10b5)', grid(10, 5))])
    model = """
markov bd
loop i, 0, 2998
s$(i) s$(i+1) 1
s$(i+1) s$(i) 2
end
reward
loop i, 0, 2999
s$(i) i
end
end
s0 1
end
expr prob(bd, s0), prob(bd, s5), exrss(bd)
markov g
loop i, 0, 38
loop j, 0, 39
a$(i)b$(j) a$(i+1)b$(j) 1
a$(i+1)b$(j) a$(i)b$(j) 2
end
end
loop i, 0, 39
loop j, 0, 38
a$(i)b$(j) a$(i)b$(j+1) 1
a$(i)b$(j+1) a$(i)b$(j) 3
end
end
end
a0b0 1
end
expr prob(g, a0b0), prob(g, a2b3), prob(g, a10b5)
"""
    write(folder, 'long_steady_chains', model, out, """
Steady states beyond the dense elimination: a birth-death chain of 3000
states (pi_k = 2^-k / Z, mean level in closed form) and a 40 x 40 grid of two
independent queues (product form); exact fractions (chain_reference.py).""")


def absorption_probability(q, p0, transient, target):
    """Starting mass on the target plus the mass that reaches it."""
    return Fr(p0[target]) + absorption_moments(q, p0, transient, [target])[0]


def ph_state_measures(folder):
    # prob and sreward of phase-type chains: the limit of each state's
    # probability (absorption probability, 0 for states always left) and
    # the reward rate times it; also through a block diagram.
    out = Out()
    model = ''
    st = ['s0', 's1', 'f', 'g']
    arcs = [('s0', 's1', 1), ('s1', 's0', 2), ('s1', 'f', Fr(1, 2)), ('s1', 'g', Fr(1, 4))]
    rw = {'s0': 1, 's1': 3, 'f': 5, 'g': 2}
    q, idx = generator(st, arcs)
    p0 = [Fr(1), 0, 0, 0]
    pf = absorption_probability(q, p0, [0, 1], 2)
    pg = absorption_probability(q, p0, [0, 1], 3)
    # by hand: from s1 the chain ends in f with 0.5/2.75 per visit and returns
    # to s0 (then surely to s1) with 2/2.75, so P(f) = (0.5/2.75)/(0.75/2.75).
    assert pf == Fr(2, 3) and pg == Fr(1, 3)
    lim = {'s0': 0, 's1': 0, 'f': pf, 'g': pg}
    out.exprs([('prob(ph, %s)' % x, lim[x]) for x in st])
    out.exprs([('sreward(ph, %s)' % x, rw[x] * lim[x]) for x in st])
    # parallel block of the constant prob(ph, g) and prob(0.5): both must fail
    out.exprs([('value(1; bl)', pg / 2), ('value(5; bl)', pg / 2)])
    model += """
markov ph
s0 s1 1
s1 s0 2
s1 f 0.5
s1 g 0.25
reward
s0 1
s1 3
f 5
g 2
end
s0 1
end
expr prob(ph, s0), prob(ph, s1), prob(ph, f), prob(ph, g)
expr sreward(ph, s0), sreward(ph, s1), sreward(ph, f), sreward(ph, g)
block bl
comp y prob(ph, g)
comp z prob(0.5)
parallel top y z
end
expr value(1; bl), value(5; bl)
"""
    # two cycles among three transient states, three absorbing states, mass
    # started on two states
    st = ['x0', 'x1', 'x2', 'ab', 'ac', 'ad']
    arcs = [('x0', 'x1', 3), ('x1', 'x2', 2), ('x2', 'x0', 1), ('x1', 'x0', Fr(3, 2)), ('x2', 'x1', Fr(1, 2)),
            ('x0', 'ab', Fr(1, 5)), ('x1', 'ac', Fr(7, 10)), ('x2', 'ad', Fr(2, 5)), ('x2', 'ab', Fr(1, 10))]
    rw = {'x0': 0, 'x1': 9, 'x2': 0, 'ab': 2, 'ac': 3, 'ad': 4}
    q, idx = generator(st, arcs)
    p0 = [Fr(7, 10), 0, Fr(3, 10), 0, 0, 0]
    lim = {x: 0 for x in st}
    for x in ('ab', 'ac', 'ad'):
        lim[x] = absorption_probability(q, p0, [0, 1, 2], idx[x])
    assert sum(lim.values()) == 1
    out.exprs([('prob(cy, %s)' % x, lim[x]) for x in st])
    out.exprs([('sreward(cy, %s)' % x, rw[x] * lim[x]) for x in st])
    model += """markov cy
x0 x1 3
x1 x2 2
x2 x0 1
x1 x0 1.5
x2 x1 0.5
x0 ab 0.2
x1 ac 0.7
x2 ad 0.4
x2 ab 0.1
reward
x1 9
ab 2
ac 3
ad 4
end
x0 0.7
x2 0.3
end
expr prob(cy, x0), prob(cy, x1), prob(cy, x2), prob(cy, ab), prob(cy, ac), prob(cy, ad)
expr sreward(cy, x0), sreward(cy, x1), sreward(cy, x2), sreward(cy, ab), sreward(cy, ac), sreward(cy, ad)
"""
    # gambler's ruin on r0..r60 (up 2, down 1) from r10: beyond the size of
    # the closed forms; P(r60) = (1 - 2^-10) / (1 - 2^-60)
    n = 60
    st = ['r%d' % k for k in range(n + 1)]
    arcs = [('r%d' % k, 'r%d' % (k + 1), 2) for k in range(1, n)] + [('r%d' % k, 'r%d' % (k - 1), 1) for k in range(1, n)]
    q, idx = generator(st, arcs)
    p0 = [Fr(0)] * (n + 1)
    p0[10] = Fr(1)
    top = absorption_probability(q, p0, list(range(1, n)), n)
    assert top == (1 - Fr(1, 2 ** 10)) / (1 - Fr(1, 2 ** 60))
    out.exprs([('prob(ga, r60)', top), ('prob(ga, r0)', 1 - top), ('prob(ga, r30)', 0),
               ('sreward(ga, r60)', 7 * top), ('sreward(ga, r0)', 3 * (1 - top))])
    model += """markov ga
loop i, 1, 59
r$(i) r$(i+1) 2
r$(i) r$(i-1) 1
end
reward
r0 3
r60 7
end
r10 1
end
expr prob(ga, r60), prob(ga, r0), prob(ga, r30), sreward(ga, r60), sreward(ga, r0)
"""
    write(folder, 'ph_state_measures', model, out, """
prob and sreward of phase-type chains: the limiting probability of each
state (absorption probability, 0 for states that are always left) and the
reward rate times it, directly and as a block component; the last chain has
61 states. Expected: exact fundamental matrices (chain_reference.py).""")


def acyclic_sreward(folder):
    # sreward of an acyclic chain weighs each reward by the state's limiting
    # probability: 0 for the states that are left, the absorption probability
    # for the others; prob stays the probability of ever visiting the state.
    # The same chain as a semi-Markov chain of competing exponential delays
    # gives the same numbers.
    st = ['a', 'b', 'c', 'd', 'e']
    visit = {'a': Fr(1), 'b': Fr(2, 3), 'c': Fr(1, 3), 'd': Fr(2, 3) * Fr(3, 4), 'e': Fr(2, 3) * Fr(1, 4)}
    limit = {'a': 0, 'b': 0, 'c': visit['c'], 'd': visit['d'], 'e': visit['e']}
    rw = {'a': 3, 'b': 1, 'c': 4, 'd': 2, 'e': 0}
    out = Out()
    model = ''
    for sys, arc in (('ac', ['a b 2', 'a c 1', 'b d 3', 'b e 1']),
                     ('sm', ['a b exp(2)', 'a c exp(1)', 'b d exp(3)', 'b e exp(1)'])):
        out.exprs([('sreward(%s, %s)' % (sys, x), rw[x] * limit[x]) for x in st])
        out.exprs([('prob(%s, %s)' % (sys, x), visit[x]) for x in st])
        model += ('markov %s\n' % sys if sys == 'ac' else 'semimark %s cond\n' % sys) + '\n'.join(arc) + '\n'
        model += 'reward\na 3\nb 1\nc 4\nd 2\nend\na 1\nend\n'
        model += 'expr ' + ', '.join('sreward(%s, %s)' % (sys, x) for x in st) + '\n'
        model += 'expr ' + ', '.join('prob(%s, %s)' % (sys, x) for x in st) + '\n'
    write(folder, 'acyclic_sreward', model, out, """
sreward of acyclic Markov and semi-Markov chains: the reward rate times the
limiting probability (absorption probability, 0 for the states that are
left), beside prob, the probability of ever visiting the state. Branch
probabilities by hand: a -> b 2/3, a -> c 1/3, b -> d 3/4, b -> e 1/4.""")


def near_equal_states(folder):
    # Three stages whose rates differ by 1e-9: every closed form of a state
    # cancels to nine digits. Values at t of a state, its eval table and the
    # chain's state distribution used as a component must all be those of the
    # exact chain.
    st = ['a', 'b', 'c', 'd']
    rates = [Fr(1), 1 + Fr(1, 10 ** 9), 1 - Fr(1, 10 ** 9)]
    arcs = [('a', 'b', rates[0]), ('b', 'c', rates[1]), ('c', 'd', rates[2])]
    q, idx = generator(st, arcs)
    p0 = [Fr(1), 0, 0, 0]
    pt = {t: transient(q, p0, Fr(t), False)[0] for t in (1, 2)}
    out = Out()
    mean = sum(1 / r for r in rates)
    out.exprs([('value(1; m, c)', pt[1][2]), ('value(1; m, b)', pt[1][1]), ('value(2; m, d)', pt[2][3]),
               ('mean(m, d)', mean)])
    out.table('m', 'c', 't', [(0, 0), (1, pt[1][2]), (2, pt[2][2])])
    # u: the absorption time alone (in series with a component that never
    # fails); w: in series with an Exp(2) component,
    # so w fails at min(X, Y): F_w = 1 - (1 - F_X) e^(-2t) and
    # E[min] = (1 - prod r/(r + 2)) / 2 (Laplace transform of X at 2).
    lap = 1
    for r in rates:
        lap *= r / (r + 2)
    fw2 = 1 - (1 - pt[2][3]) * D(-4).exp()
    out.exprs([('value(2; u)', pt[2][3]), ('tvalue(2; u)', pt[2][3]), ('mean(u)', mean),
               ('value(2; w)', fw2), ('mean(w)', (1 - lap) / 2)])
    model = """
markov m
a b 1
b c 1.000000001
c d 0.999999999
end
a 1
end
expr value(1; m, c), value(1; m, b), value(2; m, d), mean(m, d)
eval(m, c) 0 2 1
block u
comp x cdf(m, d)
comp z prob(0)
series top x z
end
block w
comp x cdf(m, d)
comp y exp(2)
series top x y
end
expr value(2; u), tvalue(2; u), mean(u), value(2; w), mean(w)
"""
    write(folder, 'near_equal_states', model, out, """
Three stages with rates 1, 1 + 1e-9 and 1 - 1e-9, whose closed forms cancel:
values of single states, a state's eval table, and the absorbing state's
distribution as a block component, against a 60-digit matrix exponential
and exact Laplace transforms (chain_reference.py).""")


def lcdf_layout(folder):
    # lcdf of a Markov chain and of the same semi-Markov chain (competing
    # exponential delays): the probability of entering the state, then the
    # CDF of leaving it given that it is entered; a state without outgoing
    # arcs has an empty leaving CDF, a state never entered only its
    # probability. cdf of a state that is left lists its occupancy form.
    out = Out()
    model = ''
    for sys, kind, arc in (('mk', 'markov mk', ['a b 2', 'a c 1', 'b d 3', 'e d 1']),
                           ('sm', 'semimark sm cond', ['a b exp(2)', 'a c exp(1)', 'b d exp(3)', 'e d exp(1)'])):
        # a: left after Exp(3); b entered with 2/3, left after Exp(3) + Exp(3);
        # d entered with 2/3 (e is never entered).
        out.leaving(sys, 'a', Fr(1), [(Fr(1), 0, 0), (Fr(-1), 0, -3)], Fr(1, 3), Fr(1, 9))
        out.leaving(sys, 'b', Fr(2, 3), [(Fr(-3), 1, -3), (Fr(1), 0, 0), (Fr(-1), 0, -3)], Fr(2, 3), Fr(2, 9))
        out.leaving(sys, 'd', Fr(2, 3))
        out.leaving(sys, 'e', Fr(0))
        # in b at t: entered by t minus left by t, (2/3)(3 t e^-3t)
        out.occupancy(sys, 'b', [(Fr(2), 1, -3)])
        model += kind + '\n' + '\n'.join(arc) + '\nend\na 1\nend\n'
        model += ''.join('lcdf(%s, %s)\n' % (sys, x) for x in 'abde') + 'cdf(%s, b)\n' % sys
    write(folder, 'lcdf_layout', model, out, """
lcdf of Markov and semi-Markov chains in one layout: probability of entering
the state, then the conditional CDF of leaving it (empty for a state without
outgoing arcs, nothing for a state never entered); cdf of a state that is
left lists its occupancy. Convolutions of exponentials by hand.""")


def tvalue_exact(folder):
    # Transient values that are exact (time 0 gives the start vector) or
    # far below 1e-11 (short times): no warning, the digits of the exact chain.
    st = ['a', 'b', 'c', 'd']
    arcs = [('a', 'b', 2), ('b', 'c', 1), ('c', 'd', 1)]
    q, idx = generator(st, arcs)
    p0 = [Fr(1), 0, 0, 0]
    r = [Fr(1)] * 4
    out = Out()
    out.exprs([('tvalue(0; m, a)', 1), ('tvalue(0; m, b)', 0), ('tvalue(0; m)', 0), ('exrt(0; m)', 1),
               ('cexrt(0; m)', 0)])
    lines = []
    for t in ('2e-6', '3e-4', '1e-3'):
        prob, cum = transient(q, p0, Fr(t))
        lines += [('tvalue(%s; m, c)' % t, prob[2]), ('tvalue(%s; m)' % t, prob[3]),
                  ('cexrt(%s; m)' % t, sum(x * y for x, y in zip(map(D, map(int, r)), cum)))]
    out.exprs(lines)
    qi, _ = generator(['up', 'dn'], [('up', 'dn', 2), ('dn', 'up', 3)])
    pi = transient(qi, [Fr(1), 0], Fr('1e-6'), False)[0]
    out.exprs([('tvalue(0; ir, up)', 1), ('tvalue(0; ir, dn)', 0), ('tvalue(1e-6; ir, dn)', pi[1])])
    model = """
markov m
a b 2
b c 1
c d 1
reward default 1
end
a 1
end
expr tvalue(0; m, a), tvalue(0; m, b), tvalue(0; m), exrt(0; m), cexrt(0; m)
expr tvalue(2e-6; m, c), tvalue(2e-6; m), cexrt(2e-6; m), tvalue(3e-4; m, c), tvalue(3e-4; m), cexrt(3e-4; m), tvalue(1e-3; m, c), tvalue(1e-3; m), cexrt(1e-3; m)
markov ir
up dn 2
dn up 3
end
up 1
end
expr tvalue(0; ir, up), tvalue(0; ir, dn), tvalue(1e-6; ir, dn)
"""
    write(folder, 'tvalue_exact', model, out, """
Transient values that are exact (the start vector at time 0) or tiny (short
times, values down to 1e-12) print without a warning and with the digits
of a 60-digit matrix exponential (chain_reference.py).""")


CASES = [cycle40, acyclic_values, reward_measures, near_repeated, stiff_cumulative, large_phase_chain,
         long_steady_chains, ph_state_measures, acyclic_sreward, near_equal_states, lcdf_layout, tvalue_exact,
         gamblers_ruin, size_refused, small_rates, stiff_horizons]

if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for case in (CASES if len(sys.argv) < 3 else [c for c in CASES if c.__name__ in sys.argv[2:]]):
        case(folder)
