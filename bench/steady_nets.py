#!/usr/bin/env python3
"""Benchmark nets for the steady-state methods, written as corvel input.

  steady_nets.py kanban N [--dep] > kanban.crv
  steady_nets.py fms N > fms.crv
  steady_nets.py count kanban|fms N      # tangible markings by a small BFS

kanban: the four-cell kanban line (Ciardo and Tilgner). Every cell i has a
kanban place (N tokens at the start), a machining place, a rework place and
an output place. tin1 brings a part into cell 1; in every cell a part is
finished (tok) or sent to rework (tredo), and reworked parts return (tback);
tsynch1 moves a part of cell 1 into cells 2 and 3 together, tsynch4 the
two parts of cells 2 and 3 into cell 4, tout4 takes the product out. With
--dep the machining and rework rates are multiplied by the tokens waiting.
Tangible markings: 160, 4 600, 58 400, 454 475, 2 546 432 for N = 1..5.

fms: the flexible manufacturing system (Ciardo and Trivedi): N pallets of
each of three part kinds, three machines M1 for parts 1, one machine M2
shared by parts 2 and 3, two machines M3 for the assembled 1+2 parts.
Parts 3 queue at M2 and are machined while it is free (a test arc);
immediate transitions grab machines for the other kinds, route finished parts and join parts 1
and 2; finished parts are shipped all at once (arcs whose multiplicity is
the number of tokens waiting), so the net is an srn.
Tangible markings: 54, 810, 6 520, 35 910, 152 712, 537 768 for N = 1..6.
"""

import sys


class Net:
    def __init__(self, kind, name):
        self.kind, self.name = kind, name
        self.places = []          # (name, tokens)
        self.timed = []           # (name, rate, dep place or None)
        self.immediate = []       # (name, weight)
        self.inputs = []          # (place, transition, multiplicity: int or "#place")
        self.outputs = []         # (transition, place, multiplicity)

    def text(self):
        out = [f"{self.kind} {self.name}"]
        out += [f"{p} {k}" for p, k in self.places] + ["end"]
        dep_word = "placedep" if self.kind == "srn" else "dep"
        flushed = {t: m[1:] for p, t, m in self.inputs if not isinstance(m, int)}
        for t, r, dep in self.timed:
            line = f"{t} {dep_word} {dep} {r}" if dep else f"{t} ind {r}"
            if t in flushed:  # a flush needs a token to move
                line += f" guard #({flushed[t]}) > 0"
            out.append(line)
        out.append("end")
        out += [f"{t} ind {w}" for t, w in self.immediate] + ["end"]
        out += [f"{t} {p} {self.mult(m)}" for t, p, m in self.outputs] + ["end"]
        out += [f"{p} {t} {self.mult(m)}" for p, t, m in self.inputs] + ["end"]
        out += ["end"]  # no inhibitor arcs
        return "\n".join(out) + "\n"

    @staticmethod
    def mult(m):
        return m if isinstance(m, int) else f"#({m[1:]})"


def kanban(n, dep=False):
    net = Net("gspn", "kanban")
    for i in range(1, 5):
        net.places += [(f"m{i}", 0), (f"back{i}", 0), (f"kan{i}", n), (f"out{i}", 0)]
    net.timed.append(("tin1", 1.0, None))
    for i in range(1, 5):
        net.timed += [(f"tredo{i}", 0.36, f"m{i}" if dep else None),
                      (f"tok{i}", 0.84, f"m{i}" if dep else None),
                      (f"tback{i}", 0.3, f"back{i}" if dep else None)]
    net.timed += [("tsynch1", 0.4, None), ("tsynch4", 0.5, None), ("tout4", 0.9, None)]
    net.inputs.append(("kan1", "tin1", 1))
    net.outputs.append(("tin1", "m1", 1))
    for i in range(1, 5):
        net.inputs += [(f"m{i}", f"tredo{i}", 1), (f"m{i}", f"tok{i}", 1), (f"back{i}", f"tback{i}", 1)]
        net.outputs += [(f"tredo{i}", f"back{i}", 1), (f"tok{i}", f"out{i}", 1), (f"tback{i}", f"m{i}", 1)]
    net.inputs += [("out1", "tsynch1", 1), ("kan2", "tsynch1", 1), ("kan3", "tsynch1", 1)]
    net.outputs += [("tsynch1", "kan1", 1), ("tsynch1", "m2", 1), ("tsynch1", "m3", 1)]
    net.inputs += [("out2", "tsynch4", 1), ("out3", "tsynch4", 1), ("kan4", "tsynch4", 1)]
    net.outputs += [("tsynch4", "kan2", 1), ("tsynch4", "kan3", 1), ("tsynch4", "m4", 1)]
    net.inputs.append(("out4", "tout4", 1))
    net.outputs.append(("tout4", "kan4", 1))
    return net


def fms(n):
    net = Net("srn", "fms")
    net.places = [("P1", n), ("P1wM1", 0), ("P1M1", 0), ("M1", 3), ("P1d", 0), ("P1s", 0), ("P1wP2", 0),
                  ("P2", n), ("P2wM2", 0), ("P2M2", 0), ("M2", 1), ("P2d", 0), ("P2s", 0), ("P2wP1", 0),
                  ("P3", n), ("P3M2", 0), ("P3s", 0),
                  ("P12", 0), ("P12wM3", 0), ("P12M3", 0), ("M3", 2), ("P12s", 0)]
    # Timed: arrivals of parts at the machines, machining, shipping.
    net.timed = [("tP1", 0.25, "P1"), ("tP1M1", 0.25, "P1M1"), ("tP1s", 0.2, None),
                 ("tP2", 0.2, "P2"), ("tP2M2", 1.0, None), ("tP2s", 0.2, None),
                 ("tP3", 0.3, "P3"), ("tP3M2", 0.5, None), ("tP3s", 0.2, None),
                 ("tP12", 0.2, "P12"), ("tP12M3", 0.5, "P12M3"), ("tP12s", 0.8, None)]
    net.immediate = [("tM1", 1), ("tM2", 1), ("tM3", 1),
                     ("tP1e", 0.2), ("tP1j", 0.8), ("tP2e", 0.6), ("tP2j", 0.4), ("tx", 1)]
    net.inputs = [("P1", "tP1", 1), ("P1wM1", "tM1", 1), ("M1", "tM1", 1), ("P1M1", "tP1M1", 1),
                  ("P1d", "tP1e", 1), ("P1d", "tP1j", 1), ("P1s", "tP1s", "#P1s"),
                  ("P2", "tP2", 1), ("P2wM2", "tM2", 1), ("M2", "tM2", 1), ("P2M2", "tP2M2", 1),
                  ("P2d", "tP2e", 1), ("P2d", "tP2j", 1), ("P2s", "tP2s", "#P2s"),
                  ("P3", "tP3", 1), ("P3M2", "tP3M2", 1), ("M2", "tP3M2", 1), ("P3s", "tP3s", "#P3s"),
                  ("P1wP2", "tx", 1), ("P2wP1", "tx", 1), ("P12", "tP12", 1),
                  ("P12wM3", "tM3", 1), ("M3", "tM3", 1), ("P12M3", "tP12M3", 1), ("P12s", "tP12s", "#P12s")]
    net.outputs = [("tP1", "P1wM1", 1), ("tM1", "P1M1", 1), ("tP1M1", "P1d", 1), ("tP1M1", "M1", 1),
                   ("tP1e", "P1s", 1), ("tP1j", "P1wP2", 1), ("tP1s", "P1", "#P1s"),
                   ("tP2", "P2wM2", 1), ("tM2", "P2M2", 1), ("tP2M2", "P2d", 1), ("tP2M2", "M2", 1),
                   ("tP2e", "P2s", 1), ("tP2j", "P2wP1", 1), ("tP2s", "P2", "#P2s"),
                   ("tP3", "P3M2", 1), ("tP3M2", "P3s", 1), ("tP3M2", "M2", 1), ("tP3s", "P3", "#P3s"),
                   ("tx", "P12", 1), ("tP12", "P12wM3", 1), ("tM3", "P12M3", 1), ("tP12M3", "P12s", 1),
                   ("tP12M3", "M3", 1), ("tP12s", "P1", "#P12s"), ("tP12s", "P2", "#P12s")]
    return net


def count_tangible(net):
    """Tangible markings reachable from the initial one (immediate first)."""
    names = [p for p, _ in net.places]
    ix = {p: i for i, p in enumerate(names)}

    def mult(m, mark):
        return m if isinstance(m, int) else mark[ix[m[1:]]]

    trans = [(t, False) for t, _, _ in net.timed] + [(t, True) for t, _ in net.immediate]
    ins = {t: [(ix[p], m) for p, tt, m in net.inputs if tt == t] for t, _ in trans}
    outs = {t: [(ix[p], m) for tt, p, m in net.outputs if tt == t] for t, _ in trans}

    def enabled(t, mark):
        # A flush arc needs at least one token (the srn guards it so).
        for p, m in ins[t]:
            k = mult(m, mark)
            if mark[p] < k or (not isinstance(m, int) and k == 0):
                return False
        return True

    start = tuple(k for _, k in net.places)
    seen, queue, tangible = {start}, [start], 0
    while queue:
        mark = queue.pop()
        imm = [t for t, i in trans if i and enabled(t, mark)]
        fire = imm or [t for t, i in trans if not i and enabled(t, mark)]
        if not imm:
            tangible += 1
        for t in fire:
            nxt = list(mark)
            for p, m in ins[t]:
                nxt[p] -= mult(m, mark)
            for p, m in outs[t]:
                nxt[p] += mult(m, mark)
            nxt = tuple(nxt)
            if nxt not in seen:
                seen.add(nxt)
                queue.append(nxt)
    return tangible


def main(argv):
    if len(argv) >= 3 and argv[0] == "count":
        net = kanban(int(argv[2])) if argv[1] == "kanban" else fms(int(argv[2]))
        print(count_tangible(net))
        return
    n = int(argv[1])
    net = kanban(n, "--dep" in argv) if argv[0] == "kanban" else fms(n)
    sys.stdout.write(net.text())


if __name__ == "__main__":
    main(sys.argv[1:])
