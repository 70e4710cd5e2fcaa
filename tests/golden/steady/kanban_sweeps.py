#!/usr/bin/env python3
"""Independent re-statement of kanban_sweeps: the expected verbose SOR trace
and measures of the four-cell kanban line with two kanbans per cell.

It generates the reachability graph itself (breadth-first from the initial
marking, the enabled transitions of a marking tried in the order they are
declared; every transition is timed, so every marking is tangible), numbers
the states in discovery order, stores row i as the arcs entering state i
sorted by from-state, and runs the adaptive over-relaxation schedule:
uniform start, omega 1, step 0.1, history 1e5/1e4/1e3, an adaptation every
10 sweeps (every third one lowering omega by the trend of the last three
windows), convergence when the largest change of a sweep is at most 1e-7 of
the largest value, fallbacks after 3000 and 6000 sweeps. It prints the lines
the verbose run prints about the solution and the measures asked for.

  python3 kanban_sweeps.py > kanban_sweeps.out
"""

N = 2

PLACES = []
for c in range(1, 5):
    PLACES += [f"m{c}", f"back{c}", f"kan{c}", f"out{c}"]
INIT = {f"kan{c}": N for c in range(1, 5)}

# (name, rate, inputs, outputs), in the order the .crv declares them.
TRANS = [("tin1", 1.0, ["kan1"], ["m1"])]
for c in range(1, 5):
    TRANS += [(f"tredo{c}", 0.36, [f"m{c}"], [f"back{c}"]),
              (f"tok{c}", 0.84, [f"m{c}"], [f"out{c}"]),
              (f"tback{c}", 0.3, [f"back{c}"], [f"m{c}"])]
TRANS += [("tsynch1", 0.4, ["out1", "kan2", "kan3"], ["kan1", "m2", "m3"]),
          ("tsynch4", 0.5, ["out2", "out3", "kan4"], ["kan2", "kan3", "m4"]),
          ("tout4", 0.9, ["out4"], ["kan4"])]

IX = {p: i for i, p in enumerate(PLACES)}


def reach():
    start = tuple(INIT.get(p, 0) for p in PLACES)
    index = {start: 0}
    marks = [start]
    arcs = []  # (from, to, rate)
    i = 0
    while i < len(marks):
        m = marks[i]
        for _, rate, ins, outs in TRANS:
            if all(m[IX[p]] >= 1 for p in ins):
                nxt = list(m)
                for p in ins:
                    nxt[IX[p]] -= 1
                for p in outs:
                    nxt[IX[p]] += 1
                nxt = tuple(nxt)
                if nxt not in index:
                    index[nxt] = len(marks)
                    marks.append(nxt)
                arcs.append((i, index[nxt], rate))
        i += 1
    return marks, arcs


def rows_of(n, arcs):
    rows = [[] for _ in range(n)]
    for f, t, r in arcs:
        rows[t].append((f, r))
    for r in rows:
        r.sort(key=lambda e: e[0])
    return rows


def sor(n, rows, tol, out):
    x = [1.0 / n] * n
    d = [0.0] * n
    for r in rows:
        for c, v in r:
            d[c] -= v
    omega, step = 1.0, 0.1
    d1, d2, d3, acc, counter = 1e5, 1e4, 1e3, 0.0, 0
    next_adapt, limit, fallbacks = 10, 3000, 0
    out.append("max iterations: %d" % limit)
    it = 0
    while True:
        it += 1
        delta, largest = 0.0, 0.0
        old = list(x)
        for i in range(n):
            s = 0.0
            for c, v in rows[i]:
                s += v * x[c]
            xi = x[i]
            if d[i] != 0.0:
                s = -s - d[i] * xi
                if abs(s) < 1e-30:
                    s = 0.0
                xi += omega * s / d[i]
                if xi < 1e-30:
                    xi = 0.0
                x[i] = xi
            delta = max(delta, abs(xi - old[i]))
            largest = max(largest, xi)
        if max(1e-25, largest) > 1e25 or max(1e-25, largest) < 1e-10:
            tot = sum(x)
            x = [v / tot for v in x]
            delta = max(abs(a - b) for a, b in zip(x, old))
            largest = max(x)
        if it == next_adapt:
            d1, d2, d3, acc = d2, d3, acc, 0.0
            counter += 1
            next_adapt += 10
            if counter < 3:
                omega += step
                if step < 1e-7:
                    next_adapt = 3000
            else:
                counter = 0
                if d1 <= d2 <= d3:
                    omega -= 4 * step
                    step *= 0.97
                elif d2 < d3 or d2 < d1:
                    if d2 <= d3 and d2 <= d1:
                        step *= 0.5
                        omega -= 3 * step
                    elif d1 >= d2 >= d3:
                        omega -= step
                        step *= 0.97
                else:
                    omega -= 3 * step if d1 < d3 else step
                    step *= 0.89
            if omega < 0.9:
                omega = 1.0
            if omega >= 2.0:
                omega = 2.0 - 1e-11
            if it % 10 == 0:
                out.append("at %d iterations, setting omega = %f" % (it, omega))
        vec = max(1e-25, largest)
        change = delta / vec
        if change <= tol:
            tot = 0.0
            for v in x:
                tot += v
            x = [v / tot for v in x]
            out.append("SOR converged after %d iterations" % it)
            return x
        if it > limit:
            fallbacks += 1
            if fallbacks == 3:
                raise SystemExit("no convergence")
            omega = 1.0 if fallbacks == 1 else 0.98
            out.append("SOR switching to omega = %f after %d iterations" % (omega, it))
            limit *= 2
            if fallbacks == 1:
                next_adapt = 0
            else:
                next_adapt = it + 10
                d1, d2, d3, acc, counter = 1e5, 1e4, 1e3, 0.0, 0
                acc += 1.0 / vec
        else:
            acc += change


def header(kind):
    return ["", "analyzing the following system:", "  system kanban: " + kind,
            "  computing_reward:\tno", "  computing_cdf:\tno", "  transient:\t\tno"]


def main():
    marks, arcs = reach()
    n = len(marks)
    assert n == 4600, n
    rows = rows_of(n, arcs)
    values = sorted({v for r in rows for _, v in r})
    trace = []
    p = sor(n, rows, 1e-7, trace)
    out = header("generalized stochastic petri net")
    out.append("  kanban: %d tangible, 0 vanishing, 0 absorbing markings, %d arcs" % (n, len(arcs)))
    out.append("  tangible chain: %d states, %d arcs, 0 vanishing loops" % (n, len(arcs)))
    # 32-bit column and an 8-bit code per arc while there are at most 256 values.
    out.append("  sweep matrix: %d distinct values, %d bytes per arc" % (len(values), 5 if len(values) <= 256 else 6))
    out += trace
    on = lambda s, q: marks[s][IX[q]]
    results = [
        ("tput(kanban, tout4)", sum(p[s] * 0.9 for s in range(n) if on(s, "out4") >= 1)),
        ("etok(kanban, m1)", sum(p[s] * on(s, "m1") for s in range(n))),
        ("prempty(kanban, kan4)", sum(p[s] for s in range(n) if on(s, "kan4") == 0)),
        ("util(kanban, tsynch1)", sum(p[s] for s in range(n) if all(on(s, q) >= 1 for q in ("out1", "kan2", "kan3")))),
    ]
    for k, (name, value) in enumerate(results):
        if k > 0:
            out += header("irreducible gspn")
            out.append("  using previous reachability graph for kanban")
        out.append("%s:   %.4e" % (name, value))
    out.append("")  # the blank line that ends an expr statement
    print("\n".join(out))


if __name__ == "__main__":
    main()
