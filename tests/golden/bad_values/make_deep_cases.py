#!/usr/bin/env python3
"""Writes the deep_* cases: chains of definitions and of systems one level past
the nesting limits (4000 definitions, 200 systems) and well within them. The
expected outputs follow from the message format and from counting levels."""


def defs(name, n, comment):
    lines = ["* " + comment, "var v0 1"] + ["var v%d v%d+1" % (i, i - 1) for i in range(1, n + 1)]
    lines.append("expr v%d" % n)
    open(name + ".crv", "w").write("\n".join(lines) + "\n")
    return len(lines)


def systems(name, n, comment):
    lines = ["* " + comment, "block b0", "comp a exp(1)", "end"]
    for i in range(1, n):
        lines += ["block b%d" % i, "comp a cdf(b%d)" % (i - 1), "end"]
    lines.append("expr mean(b%d)" % (n - 1))
    open(name + ".crv", "w").write("\n".join(lines) + "\n")
    return len(lines)


line = defs("deep_definitions", 4100, "4100 definitions each using the one before")
# v4100 is evaluated at depth 0, v(4100 - d) at depth d: v100 meets the limit.
open("deep_definitions.out", "w").write(
    "error: stackptr exceeds stacktop: definitions nested more than 4000 deep at v100"
    " (deep_definitions.crv: line %4d).\n" % line)
open("deep_definitions.status", "w").write("255\n")
defs("deep_definitions_ok", 3000, "3000 definitions each using the one before: v3000 = 3001")
open("deep_definitions_ok.out", "w").write("v3000:   3.0010e+03\n\n")

line = systems("deep_systems", 210, "210 blocks each using the one before")
# b209 is analysed at depth 0, b(209 - d) at depth d: b9 meets the limit.
open("deep_systems.out", "w").write(
    "error: stackptr exceeds stacktop: systems nested more than 200 deep at b9"
    " (deep_systems.crv: line %4d).\n" % line)
open("deep_systems.status", "w").write("255\n")
systems("deep_systems_ok", 150, "150 blocks each using the one before: all are exp(1)")
open("deep_systems_ok.out", "w").write("mean(b149):   1.0000e+00\n\n")
