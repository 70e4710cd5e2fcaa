#!/usr/bin/env python3
"""Expected output of modules_and_complements.crv by enumerating every
state of the events in exact fractions; it never runs the program."""
from fractions import Fraction as Fr
from itertools import product


def prob(probs, fails):
    total = Fr(0)
    names = list(probs)
    for bits in product((0, 1), repeat=len(names)):
        s = dict(zip(names, bits))
        w = Fr(1)
        for n in names:
            w *= probs[n] if s[n] else 1 - probs[n]
        if fails(s):
            total += w
    return total


f = prob({"a": Fr(1, 10), "b": Fr(2, 10), "c": Fr(3, 10), "d": Fr(4, 10), "e": Fr(5, 10), "g": Fr(6, 10)},
         lambda s: ((s["a"] or s["b"]) and (s["c"] or s["d"])) or not (s["a"] or s["g"] or s["e"]))
t = prob({"p": Fr(1, 10**4), "q": Fr(1, 10**4), "r": Fr(1, 10**4)},
         lambda s: not ((not s["p"] or not s["q"]) or s["r"]))
# A tree with complemented gates prints its distribution term by term: the
# prefix "   ", the coefficient in 11 columns, " t(  0) exp(", the rate 0
# in 11 columns, " t)".
out = "\nCDF for system f:\n\n"
out += "   %11.4e t(%3d) exp(%11.4e t)\n" % (f, 0, 0)
out += "-------------------------------------------\n\n"
out += "value(0; f):   %.8e\n\n" % f
out += "-------------------------------------------\n\n"
out += "value(0; tiny):   %.8e\n\n" % t
print(out, end="")
