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

# ---------------------------------------------------------------------------
# Nets whose chains are not written down by hand. A small generator follows
# the firing rules of nets: priorities (immediate 1, timed 0 unless an srn
# line says otherwise), enabling by input and inhibitor arcs and guards,
# rates times the tokens of a dep place, marking-dependent multiplicities
# rounded to nearest. Vanishing markings are removed by solving their
# first-passage probabilities exactly, one linear system over all of them.
class Tr:
    def __init__(self, name, kind, rate, dep=None, guard=None, prio=None, inp=(), out=(), inh=()):
        self.name, self.kind, self.rate, self.dep, self.guard = name, kind, rate, dep, guard
        self.prio = prio if prio is not None else (1 if kind == 'imm' else 0)
        self.inp, self.out, self.inh = inp, out, inh

class Ctx:
    def __init__(self, net, m): self.net, self.m = net, m
    def n(self, p): return self.m[self.net.places.index(p)]
    def en(self, t): return 1 if self.net.enabled(self.net.tr(t), self.m) else 0
    def rate(self, t): return self.net.rate(self.net.tr(t), self.m) if self.en(t) else 0

def solve(A, B):
    """A X = B over fractions (B a list of rows)."""
    n = len(A); M = [list(A[i]) + list(B[i]) for i in range(n)]
    for c in range(n):
        p = next(r for r in range(c, n) if M[r][c] != 0)
        M[c], M[p] = M[p], M[c]
        piv = M[c][c]; M[c] = [x / piv for x in M[c]]
        for r in range(n):
            if r != c and M[r][c] != 0:
                f = M[r][c]; M[r] = [x - f * y for x, y in zip(M[r], M[c])]
    return [row[n:] for row in M]

class Net:
    def __init__(self, places, init, trans):
        self.places, self.init, self.trans = places, tuple(init), trans
    def tr(self, name): return next(t for t in self.trans if t.name == name)
    def mult(self, k, m):
        v = k(Ctx(self, m)) if callable(k) else k
        return int(mp.floor(mp.mpf(v) + mp.mpf(1) / 2))
    def enabled(self, t, m):
        ix = self.places.index
        if any(self.mult(k, m) > m[ix(p)] for p, k in t.inp): return False
        for p, k in t.inh:
            k = self.mult(k, m)
            if k > 0 and m[ix(p)] >= k: return False
        return not t.guard or bool(t.guard(Ctx(self, m)))
    def rate(self, t, m):
        r = t.rate(Ctx(self, m)) if callable(t.rate) else t.rate
        return Fr(r) * (m[self.places.index(t.dep)] if t.dep else 1)
    def fire(self, t, m):
        x = list(m); ix = self.places.index
        for p, k in t.inp: x[ix(p)] -= self.mult(k, m)
        for p, k in t.out: x[ix(p)] += self.mult(k, m)
        return tuple(x)
    def explore(self):
        order = sorted(self.trans, key=lambda t: -t.prio)  # stable: index order within a level
        marks, kind, arcs, seen = [self.init], [], [], {self.init: 0}
        i = 0
        while i < len(marks):
            m = marks[i]; level = None; a = []
            for t in order:
                if level is not None and t.prio < level: break
                if not self.enabled(t, m): continue
                if level is None: level = t.prio; k = t.kind
                assert t.kind == k
                n = self.fire(t, m)
                if n not in seen: seen[n] = len(marks); marks.append(n)
                a.append((t.name, self.rate(t, m), seen[n]))
            kind.append('abs' if level is None else ('van' if k == 'imm' else 'tan'))
            arcs.append(a); i += 1
        self.marks, self.kind, self.arcs = marks, kind, arcs
        tan = [i for i, k in enumerate(kind) if k == 'tan'] + [i for i, k in enumerate(kind) if k == 'abs']
        van = [i for i, k in enumerate(kind) if k == 'van']
        self.states, self.ntan = tan, sum(1 for k in kind if k == 'tan')
        S = {m: j for j, m in enumerate(tan)}; V = {m: j for j, m in enumerate(van)}
        X = {}
        if van:
            A = [[Fr(int(i == j)) for j in range(len(van))] for i in range(len(van))]
            B = [[Fr(0)] * len(tan) for _ in van]
            for v in van:
                tot = sum(r for _, r, _ in arcs[v])
                for _, r, w in arcs[v]:
                    if w in V: A[V[v]][V[w]] -= r / tot
                    else: B[V[v]][S[w]] += r / tot
            Xs = solve(A, B); X = {v: Xs[V[v]] for v in van}
        n = len(tan); Q = [[Fr(0)] * n for _ in range(n)]
        for i in tan:
            for _, r, w in arcs[i]:
                row = X[w] if w in X else [Fr(int(j == S[w])) for j in range(n)]
                for j in range(n):
                    if j != S[i]: Q[S[i]][j] += r * row[j]; Q[S[i]][S[i]] -= r * row[j]
        self.Q = Q
        self.p0 = X[0] if 0 in X else [Fr(int(j == S[0])) for j in range(n)]
        return self

    # weights over the chain states
    def steady(self):
        n = len(self.Q)
        A = [[self.Q[j][i] for j in range(n)] for i in range(n)]
        A[-1] = [Fr(1)] * n
        return [x[0] for x in solve(A, [[Fr(0)] for _ in range(n - 1)] + [[Fr(1)]])]
    def fundamental(self):
        t = self.ntan
        A = [[-self.Q[i][j] for j in range(t)] for i in range(t)]
        N = solve(A, [[Fr(int(i == j)) for j in range(t)] for i in range(t)])
        times = [sum(self.p0[i] * N[i][j] for i in range(t)) for j in range(t)]
        return N, times
    def limit(self):
        if self.ntan == len(self.Q): return self.steady()
        N, times = self.fundamental()
        return [Fr(0)] * self.ntan + [self.p0[j] + sum(times[i] * self.Q[i][j] for i in range(self.ntan))
                                      for j in range(self.ntan, len(self.Q))]
    def at(self, t):
        Qm = mp.matrix([[mp.mpf(x.numerator) / x.denominator for x in r] for r in self.Q])
        E = mp.expm(Qm * t); n = len(self.Q)
        return [sum(mp.mpf(self.p0[i].numerator) / self.p0[i].denominator * E[i, j] for i in range(n)) for j in range(n)]
    def cum(self, t):
        n = len(self.Q); A = mp.zeros(2 * n, 2 * n)
        for i in range(n):
            for j in range(n): A[i, j] = mp.mpf(self.Q[i][j].numerator) / self.Q[i][j].denominator
            A[i, n + i] = 1
        E = mp.expm(A * t)
        return [sum(mp.mpf(self.p0[i].numerator) / self.p0[i].denominator * E[i, n + j] for i in range(n)) for j in range(n)]
    # per-state factors
    def marking(self, s): return self.marks[self.states[s]]
    def tokens(self, p): return [self.marking(s)[self.places.index(p)] for s in range(len(self.Q))]
    def empty(self, p): return [int(x == 0) for x in self.tokens(p)]
    def tput(self, t): return [sum(r for n, r, _ in self.arcs[self.states[s]] if n == t) for s in range(len(self.Q))]
    def util(self, t): return [int(any(n == t for n, _, _ in self.arcs[self.states[s]])) for s in range(len(self.Q))]
    def reward(self, f): return [f(Ctx(self, self.marking(s))) for s in range(len(self.Q))]

def dot(w, f): return sum(tomp(x) * tomp(y) for x, y in zip(w, f))
def tomp(x): return mp.mpf(x.numerator) / x.denominator if isinstance(x, Fr) else mp.mpf(x)
def num(x): return '%10.4e' % (0.0 if abs(x) < 1e-12 else float(x))
def exprs(pairs): return [text + ':   ' + num(v) for text, v in pairs] + ['']

# mill: two jobs; start (dep, 1.5 per waiting job) sends one into a loop of
# immediate transitions a <-> b (weights 1, 2) that is left to q (weight 1)
# or, while q is empty, straight back (weight 3); serve takes two from q at
# once, leak one, and tick fires in place. Irreducible.
mill = Net(['src', 'a', 'b', 'q'], [2, 0, 0, 0], [
    Tr('start', 'timed', Fr(3, 2), dep='src', inp=[('src', 1)], out=[('a', 1)]),
    Tr('serve', 'timed', 3, inp=[('q', 2)], out=[('src', 2)]),
    Tr('leak', 'timed', Fr(1, 2), inp=[('q', 1)], out=[('src', 1)]),
    Tr('tick', 'timed', 4, inp=[('src', 1)], out=[('src', 1)]),
    Tr('ab', 'imm', 1, inp=[('a', 1)], out=[('b', 1)]),
    Tr('ba', 'imm', 2, inp=[('b', 1)], out=[('a', 1)]),
    Tr('bq', 'imm', 1, inp=[('b', 1)], out=[('q', 1)]),
    Tr('bskip', 'imm', 3, inp=[('b', 1)], out=[('src', 1)], inh=[('q', 1)])]).explore()
mill_crv = ['gspn mill', 'src 2', 'a 0', 'b 0', 'q 0', 'end',
            'start dep src 1.5', 'serve ind 3', 'leak ind 0.5', 'tick ind 4', 'end',
            'ab ind 1', 'ba ind 2', 'bq ind 1', 'bskip ind 3', 'end',
            'start a 1', 'serve src 2', 'leak src 1', 'tick src 1', 'ab b 1', 'ba a 1', 'bq q 1', 'bskip src 1', 'end',
            'src start 1', 'q serve 2', 'q leak 1', 'src tick 1', 'a ab 1', 'b ba 1', 'b bq 1', 'b bskip 1', 'end',
            'q bskip 1', 'end']
pi = mill.limit(); T = mp.mpf('0.7'); pt = mill.at(T); ct = mill.cum(T)
o = exprs([('etok(mill, q)', dot(pi, mill.tokens('q'))), ('prempty(mill, src)', dot(pi, mill.empty('src'))),
           ('tput(mill, serve)', dot(pi, mill.tput('serve'))), ('tput(mill, tick)', dot(pi, mill.tput('tick'))),
           ('util(mill, leak)', dot(pi, mill.util('leak'))), ('tput(mill, start)', dot(pi, mill.tput('start'))),
           ('util(mill, ab)', 0)])
o += [SEP, ''] + exprs([('etokt(0.7; mill, q)', dot(pt, mill.tokens('q'))), ('premptyt(0.7; mill, src)', dot(pt, mill.empty('src'))),
           ('tputt(0.7; mill, serve)', dot(pt, mill.tput('serve'))), ('utilt(0.7; mill, leak)', dot(pt, mill.util('leak'))),
           ('etoku(0.7; mill, q)', dot(pt, mill.tokens('q'))), ('premptyu(0.7; mill, src)', dot(pt, mill.empty('src'))),
           ('tputu(0.7; mill, tick)', dot(pt, mill.tput('tick'))), ('utilu(0.7; mill, start)', dot(pt, mill.util('start'))),
           ('tavetokt(0.7; mill, q)', dot(ct, mill.tokens('q')) / T), ('tavtputt(0.7; mill, serve)', dot(ct, mill.tput('serve')) / T)])
o += [SEP, ''] + measure_table('mill', '       place q', 'time average of number of tokens at t',
                               lambda t: dot(mill.cum(t), mill.tokens('q')) / t if t else 0, 0.5, 1.5, 0.5)
# mill's serve throughput as the failure rate of a two-state chain
lam = dot(pi, mill.tput('serve'))
o += [SEP, ''] + exprs([('prob(mk, u)', 1 / (1 + lam))])
write('reach_irreducible', ['* A net checked against its own reachability: a vanishing loop, weights,',
                            '* an inhibitor arc, a batch arc, a self-loop; every place and transition measure.'] + mill_crv + [
    'expr etok(mill, q), prempty(mill, src), tput(mill, serve), tput(mill, tick), util(mill, leak), tput(mill, start), util(mill, ab)',
    'expr etokt(0.7; mill, q), premptyt(0.7; mill, src), tputt(0.7; mill, serve), utilt(0.7; mill, leak), etoku(0.7; mill, q), premptyu(0.7; mill, src), tputu(0.7; mill, tick), utilu(0.7; mill, start), tavetokt(0.7; mill, q), tavtputt(0.7; mill, serve)',
    'eval(mill, q) 0.5 1.5 0.5 tavetokt',
    'markov mk', 'u d tput(mill, serve)', 'd u 1', 'end', 'end',
    'expr prob(mk, u)'], o)

# cell: three tokens; mv moves one p -> r at 0.5 per token; flush (rate
# 1 + #(r), guard #(r) >= 2) moves all of r to s; back returns one s -> p
# at 1 + 2·?(mv). With all three in s, dump (weight 1) and dump2 (weight 3)
# at priority 3 preempt keep (weight 2, priority 1).
cell = Net(['p', 'r', 's'], [3, 0, 0], [
    Tr('mv', 'timed', Fr(1, 2), dep='p', inp=[('p', 1)], out=[('r', 1)]),
    Tr('flush', 'timed', lambda k: 1 + k.n('r'), guard=lambda k: k.n('r') >= 2,
       inp=[('r', lambda k: k.n('r'))], out=[('s', lambda k: k.n('r'))]),
    Tr('back', 'timed', lambda k: 2 * k.en('mv') + 1, inp=[('s', 1)], out=[('p', 1)]),
    Tr('dump', 'imm', 1, guard=lambda k: k.n('s') == 3, prio=3, inp=[('s', 1)], out=[('p', 1)]),
    Tr('dump2', 'imm', 3, guard=lambda k: k.n('s') == 3, prio=3, inp=[('s', 1)], out=[('r', 1)]),
    Tr('keep', 'imm', 2, guard=lambda k: k.n('s') == 3, inp=[('s', 1)], out=[('p', 1)])]).explore()
cell_crv = ['func rw() #(r)*#(s) + 2*?(flush)', 'func rr() Rate(back)', 'srn cell', 'p 3', 'r 0', 's 0', 'end',
            'mv placedep p 0.5', 'flush gendep 1 + #(r) guard #(r) >= 2', 'back gendep 2*?(mv) + 1', 'end',
            'dump ind 1 guard #(s) == 3 priority 3', 'dump2 ind 3 guard #(s) == 3 priority 3', 'keep ind 2 guard #(s) == 3', 'end',
            'mv r 1', 'flush s #(r)', 'back p 1', 'dump p 1', 'dump2 r 1', 'keep p 1', 'end',
            'p mv 1', 'r flush #(r)', 's back 1', 's dump 1', 's dump2 1', 's keep 1', 'end', 'end']
rw = lambda k: k.n('r') * k.n('s') + 2 * k.en('flush'); rr = lambda k: k.rate('back')
pi = cell.limit(); T = mp.mpf('0.8'); pt = cell.at(T); ct = cell.cum(T)
o = exprs([('srn_exrss(cell; rw)', dot(pi, cell.reward(rw))), ('srn_exrss(cell; rr)', dot(pi, cell.reward(rr))),
           ('tput(cell, back)', dot(pi, cell.tput('back'))), ('etok(cell, s)', dot(pi, cell.tokens('s'))),
           ('transenabled(cell)', sum(tomp(x) for x in pi[:cell.ntan])), ('util(cell, flush)', dot(pi, cell.util('flush'))),
           ('prempty(cell, r)', dot(pi, cell.empty('r')))])
o += [SEP, ''] + exprs([('srn_exrt(0.8; cell, rw)', dot(pt, cell.reward(rw))), ('srn_cexrt(0.8; cell, rw)', dot(ct, cell.reward(rw))),
                        ('srn_ave_cexrt(0.8; cell, rr)', dot(ct, cell.reward(rr)) / T)])
write('reach_srn_rewards', ['* A reward net checked against its own reachability: guards, priorities,',
                            '* weights, arcs that move every token, ? and Rate in rates and rewards.'] + cell_crv + [
    'expr srn_exrss(cell; rw), srn_exrss(cell; rr), tput(cell, back), etok(cell, s), transenabled(cell), util(cell, flush), prempty(cell, r)',
    'expr srn_exrt(0.8; cell, rw), srn_cexrt(0.8; cell, rw), srn_ave_cexrt(0.8; cell, rr)'], o)

# wear: two units degrade (1 per unit ok), are restored (3) or fail (0.5 per
# degraded unit); the first failure stops everything (guards): phase-type.
wear = Net(['ok', 'deg', 'fail'], [2, 0, 0], [
    Tr('d', 'timed', 1, dep='ok', guard=lambda k: k.n('fail') == 0, inp=[('ok', 1)], out=[('deg', 1)]),
    Tr('r', 'timed', 3, guard=lambda k: k.n('fail') == 0, inp=[('deg', 1)], out=[('ok', 1)]),
    Tr('f', 'timed', Fr(1, 2), dep='deg', guard=lambda k: k.n('fail') == 0, inp=[('deg', 1)], out=[('fail', 1)])]).explore()
wear_crv = ['func up() #(ok)', 'srn wear', 'ok 2', 'deg 0', 'fail 0', 'end',
            'd placedep ok 1 guard #(fail) == 0', 'r ind 3 guard #(fail) == 0', 'f placedep deg 0.5 guard #(fail) == 0', 'end', 'end',
            'd deg 1', 'r ok 1', 'f fail 1', 'end', 'ok d 1', 'deg r 1', 'deg f 1', 'end', 'end']
N, times = wear.fundamental(); lim = wear.limit()
mean = sum(times); second = 2 * sum(times[i] * N[i][j] for i in range(wear.ntan) for j in range(wear.ntan))
T = mp.mpf('1.2'); pt = wear.at(T)
o = exprs([('mtta(wear)', mean), ('srn_cexrinf(wear; up)', dot(times, wear.reward(lambda k: k.n('ok'))[:wear.ntan])),
           ('mean(wear)', mean), ('variance(wear)', second - mean * mean),
           ('value(1.2; wear)', sum(pt[wear.ntan:])), ('etok(wear, ok)', dot(lim, wear.tokens('ok'))),
           ('prempty(wear, deg)', dot(lim, wear.empty('deg'))), ('etoku(1.2; wear, deg)', dot(pt, wear.tokens('deg'))),
           ('srn_exrss(wear; up)', dot(lim, wear.reward(lambda k: k.n('ok'))))])
write('reach_srn_absorbing', ['* An absorbing reward net with a cycle, checked against its own reachability.'] + wear_crv + [
    'expr mtta(wear), srn_cexrinf(wear; up), mean(wear), variance(wear), value(1.2; wear), etok(wear, ok), prempty(wear, deg), etoku(1.2; wear, deg), srn_exrss(wear; up)'], o)

# launch: the initial marking is vanishing (x with weight 1, y with 3); x
# and y then end in z at rates 2 and 1. The chain starts from the
# first-passage probabilities 1/4, 3/4, not from its first state.
launch = Net(['go', 'x', 'y', 'z'], [1, 0, 0, 0], [
    Tr('xz', 'timed', 2, inp=[('x', 1)], out=[('z', 1)]), Tr('yz', 'timed', 1, inp=[('y', 1)], out=[('z', 1)]),
    Tr('gx', 'imm', 1, inp=[('go', 1)], out=[('x', 1)]), Tr('gy', 'imm', 3, inp=[('go', 1)], out=[('y', 1)])]).explore()
launch_crv = ['gspn launch', 'go 1', 'x 0', 'y 0', 'z 0', 'end', 'xz ind 2', 'yz ind 1', 'end', 'gx ind 1', 'gy ind 3', 'end',
              'xz z 1', 'yz z 1', 'gx x 1', 'gy y 1', 'end', 'x xz 1', 'y yz 1', 'go gx 1', 'go gy 1', 'end', 'end']
N, times = launch.fundamental(); mean = sum(times)
second = 2 * sum(times[i] * N[i][j] for i in range(launch.ntan) for j in range(launch.ntan))
T = mp.mpf('0.5'); pt = launch.at(T)
crv = ['* A net whose initial marking is vanishing: the chain starts from where it leads.'] + launch_crv + [
    'block bl', 'comp a cdf(launch)', 'comp b exp(1)', 'parallel top a b', 'end',
    'expr etokt(0.5; launch, y), tputt(0.5; launch, xz), value(0.5; launch), mean(launch), variance(launch), etoku(0.5; launch, x), value(1; bl)']
F1 = sum(launch.at(1)[launch.ntan:])
warn = 'warning: initial marking is not tangible: measures may be incorrect: (reach_vanishing_start.crv: line %4d).' % len(crv)
o = [warn] + exprs([('etokt(0.5; launch, y)', dot(pt, launch.tokens('y'))), ('tputt(0.5; launch, xz)', dot(pt, launch.tput('xz'))),
           ('value(0.5; launch)', sum(pt[launch.ntan:])), ('mean(launch)', mean), ('variance(launch)', second - mean * mean),
           ('etoku(0.5; launch, x)', 0), ('value(1; bl)', F1 * (1 - mp.exp(-1)))])
write('reach_vanishing_start', crv, o)
assert launch.p0[:2] == [Fr(1, 4), Fr(3, 4)] and launch.kind[0] == 'van'

# Refusals and marking references outside a net, with the documented texts.
loop3 = ['* Three immediate transitions pass the token round for ever once it is kicked.',
         'gspn spin', 's 1', 'x 0', 'y 0', 'z 0', 'end', 'kick ind 2', 'end', 'xy ind 1', 'yz ind 1', 'zx ind 1', 'end',
         'kick x 1', 'xy y 1', 'yz z 1', 'zx x 1', 'end', 's kick 1', 'x xy 1', 'y yz 1', 'z zx 1', 'end', 'end',
         'expr etok(spin, s)']
write('reach_absorbing_loop3', loop3,
      ['error: absorbing loops in GSPN not implemented (reach_absorbing_loop3.crv: line %4d).' % len(loop3)], 255)
neg = ['* An input multiplicity that evaluates below zero in the initial marking.',
       'srn neg', 'p 2', 'q 1', 'end', 't ind 1', 'u ind 1', 'end', 'end', 't q 1', 'u p 1', 'end',
       'p t 1 - 2*#(q)', 'q u 1', 'end', 'end', 'expr etok(neg, p)']
write('reach_negative_multiplicity', neg,
      ['error: arc multiplicity is negative (reach_negative_multiplicity.crv: line %4d).' % len(neg)], 255)
mix = ['* A timed and an immediate transition enabled together at one priority (0):',
       '* the timed one is met first, so the immediate one is refused.',
       'srn mix', 'p 1', 'q 0', 'end', 't ind 1', 'end', 'i ind 1 priority 0', 'end',
       't q 1', 'i q 1', 'end', 'p t 1', 'p i 1', 'end', 'end', 'expr etok(mix, q)']
write('reach_same_priority', mix, ['error: transition should not be timed (reach_same_priority.crv: line %4d).' % len(mix)], 255)
# tw: p -> q at 1, back at 2, so the two markings hold 2/3 and 1/3; an
# unknown place reads -1 in each of them, once printed per marking.
outside = ['* Marking references outside an srn evaluation, and of an unknown place.',
           'func bad() #(nowhere)', 'srn tw', 'p 1', 'q 0', 'end', 't ind 1', 'u ind 2', 'end', 'end',
           't q 1', 'u p 1', 'end', 'p t 1', 'q u 1', 'end', 'end', 'expr ?(t), srn_exrss(tw; bad)']
write('reach_marking_refs', outside, ['srn_enabled cannot be called on other system!', '?(t):   ' + num(-1),
                                      'place nowhere undefined', 'place nowhere undefined',
                                      'srn_exrss(tw; bad):   ' + num(-Fr(2, 3) - Fr(1, 3)), ''])

# lp: a vanishing initial marking splits evenly into a phase-type chain
# x <-> y (rates 1 and 2) absorbed from y at rate 1; the absorbing marking's
# CDF starts from (1/2, 1/2).
lp = Net(['go', 'x', 'y', 'z'], [1, 0, 0, 0], [
    Tr('xy', 'timed', 1, inp=[('x', 1)], out=[('y', 1)]), Tr('yx', 'timed', 2, inp=[('y', 1)], out=[('x', 1)]),
    Tr('yz', 'timed', 1, inp=[('y', 1)], out=[('z', 1)]),
    Tr('gx', 'imm', 1, inp=[('go', 1)], out=[('x', 1)]), Tr('gy', 'imm', 1, inp=[('go', 1)], out=[('y', 1)])]).explore()
lp_crv = ['gspn lp', 'go 1', 'x 0', 'y 0', 'z 0', 'end', 'xy ind 1', 'yx ind 2', 'yz ind 1', 'end', 'gx ind 1', 'gy ind 1', 'end',
          'xy y 1', 'yx x 1', 'yz z 1', 'gx x 1', 'gy y 1', 'end', 'x xy 1', 'y yx 1', 'y yz 1', 'go gx 1', 'go gy 1', 'end', 'end']
crv = ['* A vanishing initial marking in front of a cycle: transient values and the CDF.'] + lp_crv + [
    'expr etokt(0; lp, x), etokt(0.4; lp, z), mean(lp)', 'cdf(lp, 3)']
N, times = lp.fundamental()
P = closed_forms(lp.Q, [tomp(x) for x in lp.p0])
prob, m1, m2 = absorbing_stats(lp.Q, lp.p0, [0, 1], 2)
o = ['warning: initial marking is not tangible: measures may be incorrect: (reach_vanishing_cycle.crv: line %4d).' % (len(crv) - 1)]
o += exprs([('etokt(0; lp, x)', dot(lp.at(0), lp.tokens('x'))), ('etokt(0.4; lp, z)', dot(lp.at(mp.mpf('0.4')), lp.tokens('z'))),
            ('mean(lp)', sum(times))])
o += [SEP, '', 'information about system lp node     3', '', 'probability of entering node: %10.4e' % float(prob), '',
      'conditional CDF for time of reaching this absorbing state', ''] + listing([(lam, c / tomp(prob)) for lam, c in P[2]])
o += ['', 'mean: %9.4e' % float(m1 / prob), 'variance: %9.4e' % float(m2 / prob - (m1 / prob) ** 2), '']
write('reach_vanishing_cycle', crv, o)

# g(lam, k): k tokens move p -> q at lam per token, back one at a time at 1;
# each new binding builds the net again (birth-death chain on #q).
def bd_tokens(lam, k):
    w = [Fr(1)]
    for q in range(k): w.append(w[-1] * lam * (k - q))
    return sum(q * x for q, x in enumerate(w)) / sum(w)
par = ['* A net with parameters, analysed again for each binding and back.',
       'gspn g(lam, k)', 'p k', 'q 0', 'end', 't dep p lam', 'u ind 1', 'end', 'end', 't q 1', 'u p 1', 'end',
       'p t 1', 'q u 1', 'end', 'end', 'expr etok(g, q; 1, 2), etok(g, q; 2, 1), etok(g, q; 1, 2), etok(g, q; 0.5, 3)']
write('reach_rebinding', par, exprs([('etok(g, q; 1, 2)', bd_tokens(1, 2)), ('etok(g, q; 2, 1)', bd_tokens(2, 1)),
                                     ('etok(g, q; 1, 2)', bd_tokens(1, 2)), ('etok(g, q; 0.5, 3)', bd_tokens(Fr(1, 2), 3))]))

# ih: an inhibitor arc whose multiplicity is #(a): m stops once #(b) >= #(a).
ih = Net(['a', 'b'], [3, 0], [
    Tr('m', 'timed', 1, dep='a', inp=[('a', 1)], out=[('b', 1)], inh=[('b', lambda k: k.n('a'))]),
    Tr('n', 'timed', 2, inp=[('b', 1)], out=[('a', 1)])]).explore()
pi = ih.limit(); pt = ih.at(mp.mpf('0.3'))
crv = ['* An inhibitor arc with a marking-dependent multiplicity.', 'func two() 2*#(b)', 'srn ih', 'a 3', 'b 0', 'end',
       'm placedep a 1', 'n ind 2', 'end', 'end', 'm b 1', 'n a 1', 'end', 'a m 1', 'b n 1', 'end', 'b m #(a)', 'end',
       'expr etok(ih, b), srn_exrt(0.3; ih, two), tput(ih, m), utilt(0.3; ih, m)']
write('reach_inhibitor_expression', crv, exprs([('etok(ih, b)', dot(pi, ih.tokens('b'))),
      ('srn_exrt(0.3; ih, two)', dot(pt, ih.reward(lambda k: 2 * k.n('b')))), ('tput(ih, m)', dot(pi, ih.tput('m'))),
      ('utilt(0.3; ih, m)', dot(pt, ih.util('m')))]))
assert pi == [Fr(1, 4), Fr(3, 8), Fr(3, 8)]

# pr(hi): the token in s goes to a (weight 1, priority hi) or to b (weight
# 9, priority 5); priorities above 1001 still order the transitions.
def pr_net(hi):
    return Net(['s', 'a', 'b'], [1, 0, 0], [
        Tr('ta', 'timed', 1, inp=[('a', 1)], out=[('s', 1)]), Tr('tb', 'timed', 1, inp=[('b', 1)], out=[('s', 1)]),
        Tr('ab', 'timed', 1, inp=[('a', 1)], out=[('b', 1)]),
        Tr('ia', 'imm', 1, prio=hi, inp=[('s', 1)], out=[('a', 1)]),
        Tr('ib', 'imm', 9, prio=5, inp=[('s', 1)], out=[('b', 1)])]).explore()
crv = ['* Immediate priorities from a parameter, above and at the level of a rival.', 'srn pr(hi)', 's 1', 'a 0', 'b 0', 'end',
       'ta ind 1', 'tb ind 1', 'ab ind 1', 'end', 'ia ind 1 priority hi', 'ib ind 9 priority 5', 'end',
       'ia a 1', 'ib b 1', 'ta s 1', 'tb s 1', 'ab b 1', 'end', 's ia 1', 's ib 1', 'a ta 1', 'b tb 1', 'a ab 1', 'end', 'end',
       'expr etok(pr, a; 2000), etok(pr, a; 5), etok(pr, a; 1002)']
vals = []
for hi in (2000, 5, 1002):
    n = pr_net(hi); vals.append(('etok(pr, a; %d)' % hi, dot(n.limit(), n.tokens('a'))))
o = exprs(vals)
write('reach_priority_parameter', crv, o)
