# Writes the closed-form golden cases of nets (run: python3 closed_forms_expected.py DIR).
# Each net's tangible chain is written down by hand below (markings numbered as
# the net's documentation says: tangible ones in discovery order, then the
# absorbing ones), and every expected number comes from that chain alone:
# closed forms p0*exp(Q t) by 40-digit eigendecomposition (mpmath), absorption
# probabilities and moments by exact fundamental matrices (fractions), block
# and tree values from the component values.
import mpmath as mp, os, sys
from fractions import Fraction as Fr
mp.mp.dps = 40
out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
SEP = '-------------------------------------------'

def generator(n, arcs):
    Q = [[Fr(0)] * n for _ in range(n)]
    for f, t, r in arcs:
        Q[f][t] += Fr(r); Q[f][f] -= Fr(r)
    return Q

def closed_forms(Q, p0):
    """Per state: list of (rate, coefficient) with p_j(t) = sum c e^(rate t)."""
    n = len(Q)
    M = mp.matrix([[mp.mpf(x.numerator) / x.denominator for x in row] for row in Q])
    E, V = mp.eig(M)
    W = mp.inverse(V)
    a = [sum(p0[i] * V[i, k] for i in range(n)) for k in range(n)]
    forms = []
    for j in range(n):
        terms = {}
        for k in range(n):
            lam = mp.re(E[k]) if abs(mp.im(E[k])) < mp.mpf(10) ** -30 else E[k]
            assert mp.im(lam) == 0, 'complex eigenvalue'
            if abs(lam) < mp.mpf(10) ** -25: lam = mp.mpf(0)  # the generator's own zero
            key = mp.nstr(lam, 25)
            c = mp.re(a[k] * W[k, j])
            terms.setdefault(key, [lam, mp.mpf(0)])[1] += c
        forms.append([(lam, c) for lam, c in terms.values()])
    return forms

def combine(forms, weights):
    terms = {}
    for form, w in zip(forms, weights):
        if w == 0: continue
        for lam, c in form:
            key = mp.nstr(lam, 25)
            terms.setdefault(key, [lam, mp.mpf(0)])[1] += w * c
    return [(lam, c) for lam, c in terms.values()]

def value(form, t): return sum(c * mp.exp(lam * t) for lam, c in form)

def sfmt(x): return '% .4e' % float(x)

def listing(form):
    # canonical order: larger rates first; coefficients below 1e-11 are dropped
    kept = sorted([(lam, c) for lam, c in form if abs(c) >= 1e-11], key=lambda x: -float(x[0]))
    return [('   ' if i == 0 else ' + ') + sfmt(c) + ' t(  0) exp(' + sfmt(lam) + ' t)'
            for i, (lam, c) in enumerate(kept)]

def entry(x):
    s = '%10.4e' % (0.0 if abs(x) < 1e-12 else float(x))
    return ' ' + s.replace('e', ' e') + ' '

def points(lo, hi, inc):
    k, pts = 0, []
    while lo + k * inc <= hi + 1e-9 * inc:
        pts.append(lo + k * inc); k += 1
    return pts

def measure_table(system, element_line, label, f, lo, hi, inc):
    lines = ['      system %s' % system, element_line, '      t         %s      ' % label, '']
    lines += [entry(t) + '        ' + entry(f(t)) for t in points(lo, hi, inc)]
    return lines + ['']

def cdf_table(system, node, f, lo, hi, inc):
    lines = ['      system %s' % system]
    if node is not None: lines.append('        node %s' % node)
    lines += ['      t         F(t)      ', '']
    lines += [entry(t) + entry(f(t)) for t in points(lo, hi, inc)]
    return lines + ['']

def absorbing_stats(Q, p0, transient, target):
    """P(absorbed in target), and E[T], E[T^2] of the time of that absorption."""
    m = len(transient)
    T = [[Q[i][j] for j in transient] for i in transient]
    # N = (-T)^(-1) by Gauss-Jordan over fractions
    A = [[-T[i][j] for j in range(m)] + [Fr(int(i == j)) for j in range(m)] for i in range(m)]
    for c in range(m):
        p = next(r for r in range(c, m) if A[r][c] != 0)
        A[c], A[p] = A[p], A[c]
        piv = A[c][c]; A[c] = [x / piv for x in A[c]]
        for r in range(m):
            if r != c and A[r][c] != 0:
                f = A[r][c]; A[r] = [x - f * y for x, y in zip(A[r], A[c])]
    N = [row[m:] for row in A]
    r = [Q[i][target] for i in transient]
    p = [p0[i] for i in transient]
    def vecmat(v, M): return [sum(v[i] * M[i][j] for i in range(m)) for j in range(m)]
    pN = vecmat(p, N); pNN = vecmat(pN, N); pNNN = vecmat(pNN, N)
    prob = sum(pN[j] * r[j] for j in range(m))
    m1 = sum(pNN[j] * r[j] for j in range(m))
    m2 = 2 * sum(pNNN[j] * r[j] for j in range(m))
    return prob, m1, m2

def write(name, crv, out_lines, status=None):
    with open(os.path.join(out, name + '.crv'), 'w') as f: f.write('\n'.join(crv) + '\n')
    with open(os.path.join(out, name + '.out'), 'w') as f: f.write('\n'.join(out_lines) + '\n')
    if status is not None:
        with open(os.path.join(out, name + '.status'), 'w') as f: f.write('%d\n' % status)

# ---------------------------------------------------------------------------
# shop: M/M/1/3 queue (arrivals blocked by an inhibitor arc of multiplicity 3)
# whose service passes through a vanishing marking: weight 3 leaves, weight 1
# returns the customer to the same marking. The tangible chain is the birth
# and death chain q = 0..3 (markings 1..4), birth 2, death 3 * 3/4.
shop_net = '''gspn shop
q 0
done 0
end
arrive ind 2
serve ind 3
end
leave ind 3
again ind 1
end
arrive q 1
serve done 1
again q 1
end
q serve 1
done leave 1
done again 1
end
q arrive 3
end'''.split('\n')
Q = generator(4, [(0, 1, 2), (1, 2, 2), (2, 3, 2), (1, 0, Fr(9, 4)), (2, 1, Fr(9, 4)), (3, 2, Fr(9, 4))])
P = closed_forms(Q, [1, 0, 0, 0])
tokens = combine(P, [0, 1, 2, 3])
empty = P[0]
serve_tput = combine(P, [0, 3, 3, 3])
arrive_util = combine(P, [1, 1, 1, 0])
crv = ['* Closed forms in t of an irreducible net, and the eval tables read from them.'] + shop_net + [
    'fetok(shop, q)', 'fprempty(shop, q)', 'ftput(shop, serve)', 'futil(shop, arrive)',
    'eval(shop, q) 0 2 0.5 etokt', 'eval(shop, serve) 0 2 0.5 tputt', 'eval(shop, arrive) 0 2 0.5 utilt',
    'eval(shop, q) 0 2 0.5 premptyt', 'eval(shop, 1) 0 2 0.5']
o = ['average number of tokens in system shop place q:'] + listing(tokens)
o += [SEP, '', 'probability that system shop place q is empty:'] + listing(empty)
o += [SEP, '', 'throughput of system shop transition serve'] + listing(serve_tput)
o += [SEP, '', 'utilization of system shop transition arrive'] + listing(arrive_util)
o += [SEP, ''] + measure_table('shop', '       place q', 'expected number of tokens at t', lambda t: value(tokens, t), 0, 2, 0.5)
o += [SEP, ''] + measure_table('shop', '  transition serve', 'expected throughput of transition at t', lambda t: value(serve_tput, t), 0, 2, 0.5)
o += [SEP, ''] + measure_table('shop', '  transition arrive', 'expected utilization of transition at t', lambda t: value(arrive_util, t), 0, 2, 0.5)
o += [SEP, ''] + measure_table('shop', '       place q', 'probability of place being empty at t', lambda t: value(empty, t), 0, 2, 0.5)
o += [SEP, ''] + cdf_table('shop', '1', lambda t: value(empty, t), 0, 2, 0.5)
write('irreducible_forms', crv, o)

# ---------------------------------------------------------------------------
# job: work (marking 1) fails at rate 1 to broken (2) or finishes at rate 3
# (done, 3); broken is fixed at rate 2 or crashes at rate 1 (dead, 4).
job_net = '''gspn job
work 1
broken 0
done 0
dead 0
end
fail ind 1
fix ind 2
crash ind 1
finish ind 3
end
end
fail broken 1
fix work 1
crash dead 1
finish done 1
end
work fail 1
broken fix 1
broken crash 1
work finish 1
end
end'''.split('\n')
Q = generator(4, [(0, 1, 1), (0, 2, 3), (1, 0, 2), (1, 3, 1)])
p0 = [1, 0, 0, 0]
P = closed_forms(Q, p0)

def summary(prob_target, target):
    prob, m1, m2 = absorbing_stats(Q, [Fr(x) for x in p0], [0, 1], target)
    cond = [(lam, c / (float(prob))) for lam, c in P[target]]
    mean = m1 / prob; var = m2 / prob - mean * mean
    return prob, cond, ['', 'mean: %9.4e' % float(mean), 'variance: %9.4e' % float(var), '']

prob3, cond3, tail3 = summary(None, 2)
prob4, cond4, tail4 = summary(None, 3)
crv = ['* The printouts of single markings of an absorbing net, their tables, and the',
       '* net as a component: cdf of an absorbing marking and fprempty of a place.'] + job_net + [
    'ftree ft', 'basic x fprempty(job, work)', 'basic y cdf(job, 4)', 'and top x y', 'end',
    'block bl', 'comp a cdf(job, 3)', 'comp b exp(1)', 'series top a b', 'end',
    'cdf(job, 3)', 'cdf(job, 2)', 'eval(job, 4) 0 2 1', 'eval(job, work) 0 2 1 premptyt',
    'expr value(1; ft), value(1; bl)']
o = ['information about system job node     3', '', 'probability of entering node: %10.4e' % float(prob3), '',
     'conditional CDF for time of reaching this absorbing state', ''] + listing(cond3) + tail3
o += [SEP, '', 'information about system job node     2', 'transient state probability:', ''] + listing(P[1])
o += [SEP, ''] + cdf_table('job', '4', lambda t: value(P[3], t), 0, 2, 1)
o += [SEP, ''] + measure_table('job', '       place work', 'probability of place being empty at t', lambda t: 1 - value(P[0], t), 0, 2, 1)
x1 = 1 - value(P[0], 1); y1 = value(cond4, 1)
a1 = value(cond3, 1); b1 = 1 - mp.exp(-1)
o += [SEP, '', 'value(1; ft):   %10.4e' % float(x1 * y1), 'value(1; bl):   %10.4e' % float(1 - (1 - a1) * (1 - b1)), '']
write('marking_cdf', crv, o)

# Refusals: a node that is no marking index, and a tangible marking where
# only an absorbing one has a CDF of its own.
write('marking_unknown', ['* A node of a net is a marking index.'] + job_net + ['cdf(job, 5)'],
      ['error: cannot find node name 5 (marking_unknown.crv: line %4d).' % (len(job_net) + 2)], 255)
write('marking_not_absorbing', ['* Only an absorbing marking has a CDF to give to another model.'] + job_net +
      ['block bl', 'comp a cdf(job, 1)', 'comp b exp(1)', 'series top a b', 'end', 'expr value(1; bl)'],
      ['error: state must be absorbing: 1 (marking_not_absorbing.crv: line %4d).' % (len(job_net) + 7)], 255)

# ---------------------------------------------------------------------------
# big: 1600 tokens that each flip between a (to b at rate 1) and b (back at
# rate 3) independently: 1601 tangible markings, more than closed forms are
# built for. Tables come from the transient solution: E[#a](t) =
# 1600·(3/4 + e^(-4t)/4); the closed form itself is refused.
big_net = ['gspn big', 'a 1600', 'b 0', 'end', 'go dep a 1', 'back dep b 3', 'end', 'end',
           'go b 1', 'back a 1', 'end', 'a go 1', 'b back 1', 'end', 'end']
write('large_net_table', ['* A net too large for closed forms still has its tables.'] + big_net +
      ['eval(big, a) 0 1 0.25 etokt'],
      measure_table('big', '       place a', 'expected number of tokens at t',
                    lambda t: 1600 * (mp.mpf(3) / 4 + mp.exp(-4 * t) / 4), 0, 1, 0.25))
write('large_net_form', ['* The closed form of a net of 1601 markings is not built.'] + big_net + ['fetok(big, a)'],
      ['error: out of memory: closed form of system big (large_net_form.crv: line %4d).' % (len(big_net) + 2)], 255)

# ---------------------------------------------------------------------------
# avs: a reward net whose failure rate is an expression of the marking:
# up fails at rate 2·#(up), down is repaired at rate 1, so p_up(t) =
# 1/3 + 2/3·e^(-3t); fail is enabled with p_up and fires at rate 2 there.
avs_net = ['srn avs', 'up 1', 'down 0', 'end', 'fail gendep 2*#(up)', 'repair ind 1', 'end', 'end',
           'fail down 1', 'repair up 1', 'end', 'up fail 1', 'down repair 1', 'end', 'end']
Q = generator(2, [(0, 1, 2), (1, 0, 1)])
P = closed_forms(Q, [1, 0])
crv = ['* Closed forms of an irreducible reward net with a marking-dependent rate.'] + avs_net + [
    'futil(avs, fail)', 'ftput(avs, fail)', 'eval(avs, fail) 0 1 0.5 utilt']
o = ['utilization of system avs transition fail'] + listing(P[0])
o += [SEP, '', 'throughput of system avs transition fail'] + listing(combine(P, [2, 0]))
o += [SEP, ''] + measure_table('avs', '  transition fail', 'expected utilization of transition at t',
                               lambda t: value(P[0], t), 0, 1, 0.5)
write('srn_forms', crv, o)
write('large_net_marking_table', ['* A table of one marking of a net too large for closed forms is refused.'] + big_net +
      ['eval(big, 1) 0 1 0.5'],
      ['error: out of memory: closed form of system big (large_net_marking_table.crv: line %4d).' % (len(big_net) + 2)], 255)

# ---------------------------------------------------------------------------
# swarm: 54 tokens that each move a -> b (rate 1), b -> a (rate 1) and
# b -> c (rate 1) independently; the net is absorbed when all are in c.
# 1540 markings, a cycle: more than the eigenvalue route takes, so the table
# of the absorption CDF comes from the transient solution alone. F(t) =
# G(t)^54 with G the absorption CDF of one token, 1 - (1, 0)·exp(T t)·1 for
# T = [[-1, 1], [1, -2]].
swarm_net = ['gspn swarm', 'a 54', 'b 0', 'c 0', 'end', 'go dep a 1', 'back dep b 1', 'fin dep b 1', 'end', 'end',
             'go b 1', 'back a 1', 'fin c 1', 'end', 'a go 1', 'b back 1', 'b fin 1', 'end', 'end']
T = mp.matrix([[-1, 1], [1, -2]])
def swarm_cdf(t):
    E = mp.expm(T * t)
    return (1 - (E[0, 0] + E[0, 1])) ** 54
write('large_net_cdf_table', ['* The absorption CDF of a net too large for closed forms, tabulated.'] + swarm_net +
      ['eval(swarm) 0 20 5'], cdf_table('swarm', None, swarm_cdf, 0, 20, 5))
