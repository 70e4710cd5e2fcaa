# One-off check of loop-built chains of a few hundred thousand states against
# closed forms (run: python3 bench/chain_scale_check.py BUILD/corvel [N]).
# Prints each measure, the program's value, the expected one, and the wall
# time and peak memory of the run. Not part of the timed test suite.
#
# Reflecting birth-death chain, birth 1, death 2, N states: pi_k = (1/2)^k / Z
# (truncation below 2^-N), so prob(s0) = 1/2 and the mean level sum k pi_k = 1.
# Its value at t = 5 from s0 hardly sees beyond level 40, so a 41-state
# truncation through the 60-digit exponential of chain_reference.py gives it.
# Absorbing birth-death chain, birth 2, death 1 (reflecting at s0), absorbed
# at sN: the step times from k to k+1 are T_k = 1 - 2^-(k+1), so the mean time
# to absorption is N - 1 + 2^-N.
import os, re, resource, subprocess, sys, tempfile, time
from fractions import Fraction as Fr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'golden', 'markov'))
from chain_reference import generator, transient  # noqa: E402


def run(binary, text):
    path = os.path.join(tempfile.mkdtemp(), 'scale.crv')
    with open(path, 'w') as f:
        f.write(text)
    start = time.time()
    res = subprocess.run([binary, path], capture_output=True, text=True, timeout=3600)
    took = time.time() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
    values = dict(re.findall(r'^(\S.*?):\s+(\S+)$', res.stdout, re.M))
    return res.returncode, values, took, peak, res.stdout + res.stderr


def main():
    binary = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 300000
    small = ['s%d' % k for k in range(41)]
    arcs = [(small[k], small[k + 1], 1) for k in range(40)] + [(small[k + 1], small[k], 2) for k in range(40)]
    q, _ = generator(small, arcs)
    p5 = transient(q, [Fr(1)] + [Fr(0)] * 40, 5, False)[0]
    model = ('markov bd\nloop i, 0, %d\ns$(i) s$(i+1) 1\ns$(i+1) s$(i) 2\nend\nreward\nloop i, 0, %d\ns$(i) i\nend\n'
             'end\ns0 1\nend\nexpr prob(bd, s0), exrss(bd), tvalue(5; bd, s0), tvalue(5; bd, s1)\n'
             'markov ab\nloop i, 0, %d\ns$(i) s$(i+1) 2\nend\nloop i, 1, %d\ns$(i) s$(i-1) 1\nend\nend\n'
             's0 1\nend\nexpr mean(ab)\n') % (n - 2, n - 1, n - 1, n - 1)
    expected = {'prob(bd, s0)': 0.5, 'exrss(bd)': 1.0, 'tvalue(5; bd, s0)': float(p5[0]),
                'tvalue(5; bd, s1)': float(p5[1]), 'mean(ab)': n - 1.0}
    rc, values, took, peak, text = run(binary, model)
    print('states %d, exit %d, %.1f s, peak %.0f MB' % (n, rc, took, peak))
    bad = 0
    for label, want in expected.items():
        got = values.get(label)
        ok = got is not None and abs(float(got) - want) <= 5e-4 * abs(want)
        bad += not ok
        print('%-20s %-12s expected %.4e %s' % (label, got, want, '' if ok else 'MISMATCH'))
    if bad:
        print(text[-2000:])
    sys.exit(1 if bad or rc else 0)


if __name__ == '__main__':
    main()
