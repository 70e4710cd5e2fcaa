#!/usr/bin/env python3
"""Converts a fault tree written in the Open-PSA model exchange format (one
define-fault-tree, gates with and / or / not / xor / atleast formulas over
gates and basic events, basic events with float probabilities) into a corvel
ftree block, followed by a probability request.

    mef_to_corvel.py tree.xml [system_name] > tree.crv

Every event is declared `repeat` (the trees share events and gates). Gates
are written children first, the top gate last. A formula nested inside a
gate becomes a gate of its own; a one-input and / or is replaced by its
input; xor of two inputs becomes (a and not b) or (not a and b); atleast k
of n becomes kofn (and / or when k is n / 1).
"""
import sys
import xml.etree.ElementTree as ET


class Converter:
    def __init__(self, root):
        self.gates = {}      # name -> formula element
        self.order = []      # gate names in definition order
        self.probs = {}      # event name -> probability text
        self.lines = []      # output gate lines
        self.events = []     # events in first-use order
        self.done = {}       # gate name -> emitted name (aliases resolved)
        self.fresh = 0
        for g in root.iter("define-gate"):
            formula = [c for c in g if c.tag not in ("label", "attributes")]
            self.gates[g.get("name")] = formula[0]
            self.order.append(g.get("name"))
        for e in root.iter("define-basic-event"):
            f = e.find("float")
            self.probs[e.get("name")] = f.get("value") if f is not None else "0.01"

    def new_name(self, base):
        self.fresh += 1
        return "%s_%d" % (base, self.fresh)

    def event(self, name):
        if name not in self.probs:
            self.probs[name] = "0.01"
        if name not in self.events:
            self.events.append(name)
        return name

    def arg(self, el, hint):
        """The emitted name standing for argument element el."""
        if el.tag == "basic-event" or el.tag == "event" and el.get("name") in self.probs:
            return self.event(el.get("name"))
        if el.tag in ("gate", "event"):
            return self.gate(el.get("name"))
        return self.formula(el, self.new_name(hint))

    def gate(self, name):
        if name in self.done:
            return self.done[name]
        # Iterative pre-pass: make sure deep chains of gates are emitted
        # children first without exhausting Python's recursion.
        stack = [name]
        while stack:
            g = stack[-1]
            pending = [c.get("name") for c in self.gates[g].iter("gate")
                       if c.get("name") not in self.done and c.get("name") not in stack]
            if pending:
                stack.append(pending[0])
                continue
            stack.pop()
            if g not in self.done:
                self.done[g] = self.formula(self.gates[g], g)
        return self.done[name]

    def formula(self, el, name):
        tag = el.tag
        kids = [self.arg(c, name) for c in el]
        if tag in ("and", "or"):
            if len(kids) == 1:
                return kids[0]
            self.lines.append("%s %s %s" % (tag, name, " ".join(kids)))
            return name
        if tag == "not":
            self.lines.append("not %s %s" % (name, kids[0]))
            return name
        if tag == "xor":
            if len(kids) != 2:
                raise SystemExit("xor of %d inputs is not handled" % len(kids))
            a, b = kids
            na, nb = self.new_name(name + "_n"), self.new_name(name + "_n")
            x1, x2 = self.new_name(name + "_x"), self.new_name(name + "_x")
            self.lines.append("not %s %s" % (na, a))
            self.lines.append("not %s %s" % (nb, b))
            self.lines.append("and %s %s %s" % (x1, a, nb))
            self.lines.append("and %s %s %s" % (x2, na, b))
            self.lines.append("or %s %s %s" % (name, x1, x2))
            return name
        if tag == "atleast":
            k = int(el.get("min"))
            n = len(kids)
            if k == n:
                self.lines.append("and %s %s" % (name, " ".join(kids)))
            elif k == 1:
                self.lines.append("or %s %s" % (name, " ".join(kids)))
            else:
                self.lines.append("kofn %s %d, %d, %s" % (name, k, n, " ".join(kids)))
            return name
        raise SystemExit("formula %s is not handled" % tag)

    def top(self):
        used = set()
        for f in self.gates.values():
            for c in f.iter("gate"):
                used.add(c.get("name"))
        tops = [g for g in self.order if g not in used]
        return tops[0] if tops else self.order[0]


def main():
    path = sys.argv[1]
    root = ET.parse(path).getroot()
    tree = root.find("define-fault-tree")
    name = sys.argv[2] if len(sys.argv) > 2 else tree.get("name")
    c = Converter(root)
    top = c.gate(c.top())
    if top in c.probs or top not in [l.split()[1] for l in c.lines[-1:]]:
        # The top stands for a single event or an earlier gate: give the
        # system a top line of its own.
        c.lines.append("or %s_top %s %s" % (name, top, top))
    out = ["ftree %s" % name]
    out += ["repeat %s prob(%s)" % (e, c.probs[e]) for e in c.events]
    out += c.lines
    out.append("end")
    out.append("format 8")
    out.append("expr value(0; %s)" % name)
    print("\n".join(out))


if __name__ == "__main__":
    main()
