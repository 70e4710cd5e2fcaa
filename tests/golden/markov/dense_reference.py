# Writes the golden cases of reversible chains past the per-eigenvalue size
# (run: python3 dense_reference.py DIR). Expected numbers: chain_reference.py's
# exact fractions (fundamental matrix) and 60-digit matrix exponential.
import os, sys
from fractions import Fraction as Fr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from chain_reference import Out, generator, transient, continuous_moments, write


def reversible_grid(folder):
    # A 7 x 7 grid of two-way arcs whose rates balance the weights
    # pi = 1, 2, 4 (by position): rate i->j = c_ij / pi_i with a conductance
    # c_ij shared by both directions, so pi_i * rate(i, j) = pi_j * rate(j, i)
    # around every cycle. Two exits; the start split over two states.
    w = 7
    name = lambda i: 's%d' % i
    pi = [Fr([1, 2, 4][(i * 5 + i // w) % 3]) for i in range(w * w)]
    arcs = []
    for r in range(w):
        for c in range(w):
            i = r * w + c
            for j in ([i + 1] if c + 1 < w else []) + ([i + w] if r + 1 < w else []):
                cond = 1 + Fr((i + 2 * j) % 4, 2)
                arcs.append((name(i), name(j), cond / pi[i]))
                arcs.append((name(j), name(i), cond / pi[j]))
    arcs.append((name(0), 'out1', Fr(1, 2)))
    arcs.append((name(w * w - 1), 'out2', Fr(3, 4)))
    states = [name(i) for i in range(w * w)] + ['out1', 'out2']
    q, idx = generator(states, arcs)
    p0 = [Fr(0)] * len(states)
    p0[idx['s24']] = Fr(3, 5)
    p0[idx['s40']] = Fr(2, 5)
    transient_states = list(range(w * w))
    mean, var = continuous_moments(q, p0, transient_states, [idx['out1'], idx['out2']])
    out = Out()
    out.exprs([('mean(g)', mean), ('variance(g)', var)])
    values = []
    for t in (5, 40):
        prob, _ = transient(q, p0, t, False)
        values.append(('value(%d; g)' % t, prob[idx['out1']] + prob[idx['out2']]))
        values.append(('value(%d; g, s24)' % t, prob[idx['s24']]))
        values.append(('value(%d; g, out2)' % t, prob[idx['out2']]))
    out.exprs(values)

    def dec(x):
        s = '%.6f' % float(x)
        assert Fr(s) == x, x  # every rate is a short decimal
        return s.rstrip('0').rstrip('.')

    model = 'markov g\n' + ''.join('%s %s %s\n' % (f, t, dec(r)) for f, t, r in arcs) + 'end\ns24 0.6\ns40 0.4\nend\n'
    model += 'expr mean(g), variance(g)\n'
    model += 'expr ' + ', '.join(label for label, _ in values) + '\n'
    write(folder, 'dense_reversible_grid', model, out, """
Reversible chain of 51 states (a 7 x 7 grid of two-way arcs balancing the
weights 1, 2, 4, two exits, two start states): its closed form comes from the
symmetrised dense decomposition. Expected: exact fundamental matrix for the
moments, 60-digit matrix exponential for the values (dense_reference.py).""")


def rings_in_series(folder):
    # Nine rings of ten states, each turning one way faster than the other
    # (forward 1 + g/10, back 1/4: no detailed balance around the ring), each
    # feeding the next from its first state at 1/2; the last ring leaves
    # from its sixth state at 7/10. 90 transient states: past the size where
    # the general route changes from the double-shift to the multishift QR.
    name = lambda i: 's%d' % i
    arcs = []
    rings, size = 9, 10
    for g in range(rings):
        for i in range(size):
            arcs.append((name(g * size + i), name(g * size + (i + 1) % size), 1 + Fr(g, 10)))
            arcs.append((name(g * size + i), name(g * size + (i - 1) % size), Fr(1, 4)))
        if g + 1 < rings:
            arcs.append((name(g * size), name((g + 1) * size), Fr(1, 2)))
    arcs.append((name((rings - 1) * size + 5), 'out', Fr(7, 10)))
    states = [name(i) for i in range(rings * size)] + ['out']
    q, idx = generator(states, arcs)
    p0 = [Fr(0)] * len(states)
    p0[idx['s3']] = Fr(1)
    mean, var = continuous_moments(q, p0, list(range(rings * size)), [idx['out']])
    out = Out()
    out.exprs([('mean(r)', mean), ('variance(r)', var)])
    values = []
    for t in (20, 60):
        prob, _ = transient(q, p0, t, False)
        values.append(('value(%d; r)' % t, prob[idx['out']]))
        values.append(('value(%d; r, s13)' % t, prob[idx['s13']]))
    out.exprs(values)

    def dec(x):
        s = '%.6f' % float(x)
        assert Fr(s) == x, x
        return s.rstrip('0').rstrip('.')

    model = 'markov r\n' + ''.join('%s %s %s\n' % (f, t, dec(r)) for f, t, r in arcs) + 'end\ns3 1\nend\n'
    model += 'expr mean(r), variance(r)\n'
    model += 'expr ' + ', '.join(label for label, _ in values) + '\n'
    write(folder, 'dense_rings_in_series', model, out, """
Non-reversible chain of 91 states (nine rings of ten states turning faster
one way than the other, each feeding the next): its closed form comes from
the general dense decomposition by the multishift QR iteration. Expected:
exact fundamental matrix for the moments, 60-digit matrix exponential for
the values (dense_reference.py).""")


if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    reversible_grid(folder)
    rings_in_series(folder)
