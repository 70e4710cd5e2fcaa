#!/usr/bin/env python3
"""Writes pairs_out_of_reach.crv and prints its expected output from exact
fractions; it never runs the program.

The tree is or(x_i and y_i, i = 1..20) or (w and x_1 and ... and x_20). The
last gate is met first, so every x comes before every y in the order and the
exact diagram has about 2^21 nodes, far beyond the case's node budget
(pairs_out_of_reach.budget): the probability is out of reach and bounds are
printed. The bounds are guaranteed to hold the probability and to lie within
a relative 1e-10 of each other, so at eight digits both print as the exact
probability rounded; the check below makes sure that no value within that
distance rounds differently.
"""
import sys
from fractions import Fraction as Fr
from pathlib import Path

N = 20
px = [Fr(10 + i, 10**5) for i in range(1, N + 1)]
py = [Fr(1, 2)] * N
pw = Fr(1, 2)

if "--write" in sys.argv:
    text = "ftree pairs\n"
    text += "repeat w prob(0.5)\n"
    text += "".join("repeat x%d prob(%s)\n" % (i + 1, "%.5f" % float(px[i])) for i in range(N))
    text += "".join("repeat y%d prob(0.5)\n" % (i + 1) for i in range(N))
    text += "and d w " + " ".join("x%d" % (i + 1) for i in range(N)) + "\n"
    text += "".join("and c%d x%d y%d\n" % (i + 1, i + 1, i + 1) for i in range(N))
    text += "or top d " + " ".join("c%d" % (i + 1) for i in range(N)) + "\n"
    text += "end\nformat 8\nexpr value(1; pairs)\n"
    Path(__file__).with_suffix(".crv").write_text(text)

# P(no pair fails) and P(w and every x, no pair).
none = Fr(1)
for a, b in zip(px, py):
    none *= 1 - a * b
all_x = pw
for a, b in zip(px, py):
    all_x *= a * (1 - b)
p = 1 - none + all_x


# format 8: eight digits in a field of fourteen, as a value line prints.
def shown(v):
    return "%14.8e" % v


for v in (p * (1 - Fr(1, 10**10)), p * (1 + Fr(1, 10**10))):
    assert shown(float(v)) == shown(float(p)), "the bounds could print differently"

# The warning names the bounds and the input line of the request; the
# request itself has no value (the undefined value, with the two warnings
# every value line that is not a number gets).
line = 7 + 3 * N  # the expr line: ftree, w, the x and y events, d, the pairs, top, end, format
out = "warning: exact probability out of reach within memory; bounds given for system pairs"
out += " (pairs_out_of_reach.crv: line %4d).\n" % line
out += "lower bound:   %s\n" % shown(float(p))
out += "upper bound:   %s\n" % shown(float(p))
out += "warning: value of system pairs is not a finite number.\n"
out += "value(1; pairs):   %s\n" % shown(float("nan"))
out += "warning: value(1; pairs) is not a finite number.\n\n"
print(out, end="")
