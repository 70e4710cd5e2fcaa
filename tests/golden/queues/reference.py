#!/usr/bin/env python3
"""Independent reference for the queueing golden cases.

Exact rational arithmetic over the product-form solution: visit ratios from
the routing chain's balance equations, the station functions
    f(jv) = sum_k v_k / rate_k(|jv|) * f(jv - e_k),  f(0) = 1
(rate_k(j) = mu_k for fcfs/ps/lcfspr, j*mu_k for is, min(j,S)*mu_k for ms,
mu_k(j) for lds), the normalising constant G(N) by enumerating every state
of the network, and the measures
    X_mk = v_mk G(N - e_k) / G(N),   Q_mk = E[n_mk],   R_mk = Q_mk / X_mk,
    U_mk = X_mk / mu_mk (ms, lds: sum_jv jv_k/|jv| P(jv)).
No mean value recursion is used.

Usage: reference.py CASE  (prints the expected lines of that case)
"""
from fractions import Fraction as F
from itertools import product
import sys


def visit_ratios(arcs):
    """Stationary vector of the chain with the routing probabilities as rates."""
    names = []
    for a, b, _ in arcs:
        for s in (a, b):
            if s not in names:
                names.append(s)
    n = len(names)
    idx = {s: i for i, s in enumerate(names)}
    A = [[F(0)] * n for _ in range(n)]
    for a, b, p in arcs:
        A[idx[b]][idx[a]] += F(p)
        A[idx[a]][idx[a]] -= F(p)
    A[n - 1] = [F(1)] * n
    rhs = [F(0)] * (n - 1) + [F(1)]
    for c in range(n):
        piv = next(r for r in range(c, n) if A[r][c] != 0)
        A[c], A[piv] = A[piv], A[c]
        rhs[c], rhs[piv] = rhs[piv], rhs[c]
        for r in range(n):
            if r != c and A[r][c] != 0:
                f = A[r][c] / A[c][c]
                A[r] = [x - f * y for x, y in zip(A[r], A[c])]
                rhs[r] -= f * rhs[c]
    return {s: rhs[idx[s]] / A[idx[s]][idx[s]] for s in names}


class Net:
    def __init__(self, chains, stations):
        """chains: {name: (arcs, N)}; stations: {name: (type, servers, {chain: rates})}."""
        self.chains = list(chains)
        self.N = [chains[c][1] for c in self.chains]
        self.v = {c: visit_ratios(chains[c][0]) for c in self.chains}
        self.stations = stations
        self.L = sum(self.N)
        self.f = {m: {} for m in stations}

    def rate(self, m, k, j):
        typ, S, rates = self.stations[m]
        r = [F(x) for x in rates[self.chains[k]]]
        if typ == 'lds':
            return r[min(j, len(r)) - 1]
        mu = r[0]
        if typ == 'is':
            return j * mu
        if typ == 'ms':
            return min(j, S) * mu
        return mu

    def visit(self, m, k):
        return self.v[self.chains[k]].get(m, F(0))

    def fun(self, m, jv):
        memo = self.f[m]
        if jv in memo:
            return memo[jv]
        j = sum(jv)
        if j == 0:
            val = F(1)
        else:
            val = F(0)
            for k, c in enumerate(jv):
                if c:
                    prev = jv[:k] + (c - 1,) + jv[k + 1:]
                    val += self.visit(m, k) / self.rate(m, k, j) * self.fun(m, prev)
        memo[jv] = val
        return val

    def states(self, pop):
        """Every assignment of each chain's customers to the stations it visits."""
        per_chain = []
        for k, n in enumerate(pop):
            visited = [m for m in self.stations if self.visit(m, k) != 0]
            ways = []
            for combo in product(range(n + 1), repeat=len(visited)):
                if sum(combo) == n:
                    ways.append(dict(zip(visited, combo)))
            per_chain.append(ways)
        for choice in product(*per_chain):
            yield {m: tuple(choice[k].get(m, 0) for k in range(len(pop))) for m in self.stations}

    def G(self, pop):
        if any(n < 0 for n in pop):
            return F(0)
        total = F(0)
        for s in self.states(pop):
            w = F(1)
            for m, jv in s.items():
                w *= self.fun(m, jv)
            total += w
        return total

    def solve(self):
        N = tuple(self.N)
        G = self.G(N)
        res = {}
        Q = {(m, k): F(0) for m in self.stations for k in range(len(N))}
        U = dict(Q)
        P = {m: [F(0)] * (self.L + 1) for m in self.stations}
        for s in self.states(N):
            w = F(1)
            for m, jv in s.items():
                w *= self.fun(m, jv)
            p = w / G
            for m, jv in s.items():
                j = sum(jv)
                P[m][j] += p
                for k, c in enumerate(jv):
                    Q[(m, k)] += c * p
                    if j:
                        U[(m, k)] += F(c, j) * p
        for m, (typ, S, rates) in self.stations.items():
            for k in range(len(N)):
                v = self.visit(m, k)
                minus = N[:k] + (N[k] - 1,) + N[k + 1:]
                X = v * self.G(minus) / G
                R = Q[(m, k)] / X if X else F(0)
                if typ in ('ms', 'lds'):
                    u = U[(m, k)]
                else:
                    u = X / self.rate(m, k, 1) if X else F(0)
                res[(m, self.chains[k])] = dict(tput=X, qlength=Q[(m, k)], rtime=R, util=u)
            res[(m, None)] = dict(prblty=P[m])
        return res


def line(text, value, prec=4, width=10):
    return "%s:   %*.*e" % (text, width, prec, float(value))


def print_cases(lines, sep=True):
    out = []
    for i, l in enumerate(lines):
        if i and sep:
            out.append("")
            out.append("-------------------------------------------")
            out.append("")
        out.append(l)
    # The run ends with an empty line.
    print("\n".join(out) + "\n")


def single(arcs, n, stations):
    return Net({'c': (arcs, n)}, {m: (t, s, {'c': r}) for m, (t, s, r) in stations.items()}).solve()


def pf_lines(res, calls, system='q'):
    lines = []
    for meas, m in calls:
        lines.append(line("%s(%s, %s)" % (meas, system, m), res[(m, 'c')][meas]))
    return lines


CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


@case
def two_station_cyclic():
    cyc = [('s1', 's2', 1), ('s2', 's1', 1)]
    r = single(cyc, 3, {'s1': ('fcfs', 1, [1]), 's2': ('fcfs', 1, [2])})
    lines = pf_lines(r, [('tput', 's1'), ('util', 's1'), ('util', 's2'), ('qlength', 's1'),
                         ('qlength', 's2'), ('rtime', 's1'), ('rtime', 's2')])
    r = single(cyc, 4, {'s1': ('is', 1, [0.5]), 's2': ('fcfs', 1, [1])})
    lines += pf_lines(r, [('tput', 's2'), ('util', 's2'), ('qlength', 's1'), ('rtime', 's2')], 'd')
    return lines


@case
def central_server():
    arcs = [('cpu', 'disk1', 0.5), ('cpu', 'disk2', 0.3), ('cpu', 'term', 0.2),
            ('disk1', 'cpu', 1), ('disk2', 'cpu', 1), ('term', 'cpu', 1)]
    r = single(arcs, 5, {'cpu': ('ps', 1, [10]), 'disk1': ('fcfs', 1, [4]),
                         'disk2': ('fcfs', 1, [3]), 'term': ('is', 1, [0.25])})
    calls = [(meas, m) for m in ('cpu', 'disk1', 'disk2', 'term')
             for meas in ('tput', 'util', 'qlength', 'rtime')]
    return pf_lines(r, calls)


@case
def ms_station_as_delay():
    cyc = [('a', 'b', 1), ('b', 'a', 1)]
    # The ms station's utilization is the probability that it is busy.
    r = single(cyc, 3, {'a': ('ms', 3, [1.5]), 'b': ('ps', 1, [2])})
    lines = pf_lines(r, [('tput', 'a'), ('qlength', 'a'), ('rtime', 'a'), ('util', 'a'), ('qlength', 'b')])
    r = single(cyc, 3, {'a': ('is', 1, [1.5]), 'b': ('ps', 1, [2])})
    return lines + pf_lines(r, [('tput', 'a'), ('qlength', 'a'), ('rtime', 'a'), ('qlength', 'b')], 'd')


@case
def lds_last_rate_repeated():
    cyc = [('a', 'b', 1), ('b', 'a', 1)]
    r = single(cyc, 5, {'a': ('lds', 1, [1, 2]), 'b': ('fcfs', 1, [1.5])})
    return pf_lines(r, [('tput', 'a'), ('util', 'a'), ('qlength', 'a'), ('rtime', 'a'), ('qlength', 'b')])


@case
def servers_lowered_to_customers():
    cyc = [('a', 'b', 1), ('b', 'a', 1)]
    r = single(cyc, 3, {'a': ('ms', 3, [1]), 'b': ('fcfs', 1, [2])})
    lines = pf_lines(r, [('tput', 'a'), ('rtime', 'a'), ('util', 'a')])
    lines[0] = ("warning: number of servers is > number of customers"
                " (servers_lowered_to_customers.crv: line   11).\n"
                "changing number of servers for station a\n"
                "   from 5 to number of customers (3)\n" + lines[0])
    return lines


@case
def ms_station_queueing():
    arcs = [('a', 'b', 0.6), ('a', 'c', 0.4), ('b', 'a', 1), ('c', 'a', 1)]
    r = single(arcs, 6, {'a': ('ms', 2, [3]), 'b': ('fcfs', 1, [2]), 'c': ('lds', 1, [1, 1.8, 2.1])})
    calls = [(meas, m) for m in ('a', 'c') for meas in ('tput', 'util', 'qlength', 'rtime')]
    return pf_lines(r, calls)


def mp_lines(res, calls, system='m'):
    lines = []
    for meas, m, c in calls:
        key = meas[1:]
        if c is None:
            X = sum(res[(m, k)]['tput'] for k in CHAINS)
            Q = sum(res[(m, k)]['qlength'] for k in CHAINS)
            val = {'tput': X, 'qlength': Q, 'util': sum(res[(m, k)]['util'] for k in CHAINS),
                   'rtime': Q / X}[key]
            lines.append(line("%s(%s, %s)" % (meas, system, m), val))
        else:
            lines.append(line("%s(%s, %s, %s)" % (meas, system, m, c), res[(m, c)][key]))
    return lines


CHAINS = []


@case
def two_chains():
    global CHAINS
    CHAINS = ['batch', 'inter']
    net = Net({'batch': ([('cpu', 'disk', 0.7), ('disk', 'cpu', 1), ('cpu', 'io', 0.3), ('io', 'cpu', 1)], 3),
               'inter': ([('cpu', 'term', 1), ('term', 'cpu', 1)], 2)},
              {'cpu': ('ps', 1, {'batch': [5], 'inter': [8]}),
               'disk': ('fcfs', 1, {'batch': [2]}),
               'io': ('lcfspr', 1, {'batch': [1.5]}),
               'term': ('is', 1, {'inter': [0.5]})})
    r = net.solve()
    calls = [(meas, 'cpu', c) for c in ('batch', 'inter') for meas in ('mtput', 'mrtime', 'mqlength', 'mutil')]
    calls += [('mtput', 'disk', 'batch'), ('mqlength', 'io', 'batch'), ('mrtime', 'term', 'inter'),
              ('mutil', 'term', 'inter'), ('mtput', 'disk', 'inter')]
    calls += [(meas, 'cpu', None) for meas in ('mtput', 'mrtime', 'mqlength', 'mutil')]
    return mp_lines(r, calls)


@case
def population_two_one():
    global CHAINS
    CHAINS = ['x', 'y']
    net = Net({'x': ([('a', 'b', 1), ('b', 'a', 1)], 2),
               'y': ([('a', 'c', 1), ('c', 'a', 1)], 1)},
              {'a': ('lds', 1, {'x': [1, 1.5], 'y': [2, 3]}),
               'b': ('ms', 2, {'x': [0.8]}),
               'c': ('ps', 1, {'y': [1.2]})})
    r = net.solve()
    calls = [(meas, 'a', c) for c in ('x', 'y') for meas in ('mtput', 'mrtime', 'mqlength', 'mutil')]
    calls += [(meas, 'b', 'x') for meas in ('mtput', 'mqlength', 'mutil')]
    calls += [('mqlength', 'c', 'y')]
    return mp_lines(r, calls)


if __name__ == '__main__':
    print_cases(CASES[sys.argv[1]]())
