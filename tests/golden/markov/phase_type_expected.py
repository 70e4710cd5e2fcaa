# Writes the phase_type_* golden cases (run: python3 phase_type_expected.py DIR).
# Expected outputs of the phase-type golden cases, from exact arithmetic:
# sympy partial fractions of the Laplace transform for closed forms,
# mpmath's 40-digit matrix exponential for values, fractions for moments.
import sympy as sp, mpmath as mp, os, sys
mp.mp.dps = 40
out = sys.argv[1]

def chain(arcs, states):
    n = len(states); idx = {s: i for i, s in enumerate(states)}
    A = sp.zeros(n, n)
    for f, t, r in arcs:
        A[idx[f], idx[t]] += sp.Rational(r); A[idx[f], idx[f]] -= sp.Rational(r)
    return A, idx

def values(A, p0, t):
    M = mp.matrix(A.tolist()) if False else mp.matrix([[mp.mpf(sp.Rational(x).p) / sp.Rational(x).q for x in row] for row in A.tolist()])
    E = mp.expm(M * t)
    v = mp.matrix(1, A.rows)
    for j in range(A.rows):
        v[0, j] = sum(p0[i] * E[i, j] for i in range(A.rows))
    return v

def moments(A, p0, absorbing):
    tr = [i for i in range(A.rows) if i not in absorbing]
    T = A.extract(tr, tr); N = (-T).inv(); one = sp.ones(len(tr), 1)
    p = sp.Matrix([[p0[i] for i in tr]])
    m1 = (p * N * one)[0]; m2 = 2 * (p * N * N * one)[0]
    return m1, m2 - m1 ** 2

def fmt(x): return '%.4e' % float(x)
def sfmt(x): return '% .4e' % float(x)

def listing(A, p0, absorbing, name):
    s = sp.symbols('s')
    X = sp.Matrix([p0]) * (s * sp.eye(A.rows) - A).inv()
    F = sp.cancel(sp.together(sum(X[j] for j in absorbing)))
    num, den = sp.fraction(F)
    terms = []
    for lam, m in sp.roots(sp.Poly(den, s)).items():
        g = sp.cancel(F * (s - lam) ** m)
        for r in range(1, m + 1):
            if m == 1:
                c = num.subs(s, lam) / sp.diff(den, s).subs(s, lam)
            else:
                c = sp.diff(g, s, m - r).subs(s, lam) / sp.factorial(m - r)
            c = sp.N(c / sp.factorial(r - 1), 30)
            if c != 0:
                terms.append((r - 1, float(sp.re(lam)), float(c)))
    terms.sort(key=lambda x: (-x[0], -x[1]))
    lines = ['', 'CDF for system %s:' % name, '']
    for i, (k, b, c) in enumerate(terms):
        lines.append(('   ' if i == 0 else ' + ') + sfmt(c) + ' t(%3d) exp(%s t)' % (k, sfmt(b)))
    return lines

def case(name, sysname, arcs, states, start, absorbing_names, requests, cdf=True, variants=()):
    A, idx = chain(arcs, states)
    p0 = [sp.Integer(0)] * len(states); p0[idx[start]] = sp.Integer(1)
    absorbing = [idx[a] for a in absorbing_names]
    crv = ['* Phase-type chain %s: expected numbers from exact arithmetic (closed form by' % sysname,
           '* partial fractions, values by a 40-digit matrix exponential, moments from the',
           '* fundamental matrix N = (-A_TT)^-1: mean p0 N 1, second moment 2 p0 N^2 1).',
           'markov %s' % sysname] + ['%s %s %s' % a for a in arcs] + ['end', '%s 1' % start, 'end']
    lines = []
    m1, var = moments(A, p0, absorbing)
    if cdf:
        crv.append('cdf(%s)' % sysname)
        lines += listing(A, p0, absorbing, sysname)
        lines += ['', 'mean: ' + fmt(m1), 'variance: ' + fmt(var)]
    first = not cdf
    for r in requests:
        if r[0] == 'mean': txt, v = 'mean(%s)' % sysname, m1
        elif r[0] == 'variance': txt, v = 'variance(%s)' % sysname, var
        else:
            _, tt, node = r
            vec = values(A, p0, mp.mpf(tt))
            if node is None: txt, v = 'value(%s; %s)' % (tt, sysname), sum(vec[0, j] for j in absorbing)
            else: txt, v = 'value(%s; %s, %s)' % (tt, sysname, node), vec[0, idx[node]]
        crv.append('expr ' + txt)
        if not first: lines += ['', '-' * 43, '']
        first = False
        lines.append('%s:   %s' % (txt, fmt(v)))
    text = '\n'.join(lines) + '\n\n'
    for suffix, args in [('', None)] + list(variants):
        base = os.path.join(out, name + suffix)
        open(base + '.crv', 'w').write('\n'.join(crv) + '\n')
        open(base + '.out', 'w').write(text)
        if args: open(base + '.args', 'w').write(args + '\n')

pn = [('_pn', '-pn'), ('_pn_voronoi', '-pn -vo'), ('_eigen2', '-e2')]
case('phase_type_cycle', 'cyc', [('a', 'b', 2), ('b', 'a', 1), ('b', 'c', 3)], ['a', 'b', 'c'], 'a', ['c'],
     [('mean',), ('variance',), ('v', '0.5', None), ('v', '0.5', 'a'), ('v', '2', 'b')], variants=pn)
case('phase_type_complex', 'rot', [('a', 'b', 1), ('b', 'c', 1), ('c', 'a', 1), ('a', 'd', 1)], ['a', 'b', 'c', 'd'], 'a', ['d'],
     [('mean',), ('variance',), ('v', '0.5', None), ('v', '1', None), ('v', '3', None), ('v', '8', None), ('v', '1', 'b'), ('v', '4', 'c')],
     cdf=False, variants=pn)
case('phase_type_repeated', 'rep', [('a', 'b', 1), ('b', 'a', 1), ('a', 'c', 2), ('b', 'c', 2), ('c', 'd', 2), ('d', 'e', 4)],
     ['a', 'b', 'c', 'd', 'e'], 'a', ['e'],
     [('mean',), ('variance',), ('v', '0.25', None), ('v', '1', None), ('v', '3', None), ('v', '1', 'c'), ('v', '1', 'd')], variants=pn)
