#!/usr/bin/env python3
"""Writes the golden cases of this folder: counts, rates and bounds that come
from expressions and are not a number, infinite, negative, fractional or far
too large. Each expected output is built here from the message formats and,
for the values that are accepted, from hand arithmetic noted beside the case;
nothing is taken from the program's own output.

Run from this folder: python3 make_cases.py
"""
import math
import pathlib

HERE = pathlib.Path(__file__).resolve().parent
BANNER = "".join((HERE.parent / "distributions" / "interactive_bad_terms.out")
                 .read_text().splitlines(keepends=True)[:25])

# The five kinds of bad or borderline value, as written in a model.
VALUES = {
    "nan": ("sqrt(-1)", math.nan),
    "inf": ("1e308*10", math.inf),
    "neg": ("-1", -1.0),
    "half": ("0.5", 0.5),
    "huge": ("1e300", 1e300),
}


def g(v):
    return "nan" if math.isnan(v) else "%g" % v


def loc(name, line):
    return " (%s.crv: line %4d)" % (name, line)


def err(message, name=None, line=None):
    """An error report: message and text, the location in batch mode."""
    return "error: %s%s.\n" % (message, loc(name, line) if name else "")


def fpe(place, v):
    return "floating point exception: %s is %s" % (place, g(v))


def oom(place, v):
    return "out of memory: %s is %s" % (place, g(v))


def value_line(text, v):
    return "%s:   %10.4e\n" % (text, v)


def write(name, model, expected, status=0, stdin=None):
    (HERE / (name + ".crv")).write_text(model)
    (HERE / (name + ".out")).write_text(expected)
    status_file = HERE / (name + ".status")
    if status:
        status_file.write_text("%d\n" % status)
    elif status_file.exists():
        status_file.unlink()
    stdin_file = HERE / (name + ".stdin")
    if stdin is not None:
        stdin_file.write_text(stdin)
    elif stdin_file.exists():
        stdin_file.unlink()


def batch(family, model_of, expect_of):
    """One case per value: each bad value ends the run, so each needs a file."""
    for key, (text, v) in VALUES.items():
        name = "%s_%s" % (family, key)
        model = model_of(text)
        line = model.count("\n")  # the measure is the last line
        expected, status = expect_of(name, line, v, text)
        write(name, model, expected, status)


# k and n of a k-of-n gate, bound when the tree is analysed.
def ftree_k():
    def model(t):
        return ("* k of a k-of-n gate given as a parameter\n"
                "ftree f(k)\nbasic x exp(1)\nkofn top k, 3, x\nend\n"
                "expr mean(f; %s)\n" % t)

    def expect(name, line, v, t):
        if math.isnan(v) or math.isinf(v):
            return err(fpe("k of node top", v), name, line), 255
        if v > 1e9:
            return err(oom("k of node top", v), name, line), 255
        # -1 and 0.5 (truncated to 0) are below one.
        return err("K must be at least 1: node top", name, line), 255
    batch("ftree_k", model, expect)


def ftree_n():
    def model(t):
        return ("* n of a k-of-n gate given as a parameter\n"
                "ftree f(n)\nbasic x exp(1)\nkofn top 2, n, x\nend\n"
                "expr mean(f; %s)\n" % t)

    def expect(name, line, v, t):
        if math.isnan(v) or math.isinf(v):
            return err(fpe("n of node top", v), name, line), 255
        if v > 1e9:
            return err(oom("n of node top", v), name, line), 255
        # -1 and 0.5 (truncated to 0) are below k = 2.
        return err("K must be <= N: node top", name, line), 255
    batch("ftree_n", model, expect)


# The stages of the built-in Erlang distribution are the passes of the loop
# i = 0 .. n-1 of its chain.
def erlang():
    def model(t):
        return ("* stages of the built-in Erlang distribution\n"
                "block b(n)\ncomp a Erlang(n, 1)\nend\n"
                "expr mean(b; %s)\n" % t)

    def expect(name, line, v, t):
        if math.isnan(v) or math.isinf(v):
            return err(fpe("bound of loop i", v), name, line), 255
        if v > 1e9:
            # passes = (n - 1 - 0)/1 + 1 = n
            return err(oom("passes of loop i", v), name, line), 255
        # n - 1 = -2 or -0.5 lies below the lower bound 0.
        return err("lower limit is greater than upper limit", name, line), 255
    batch("erlang", model, expect)
    name = "erlang_beyond_int"
    model = model("2147483648")
    write(name, model, err(oom("passes of loop i", 2147483648.0), name, model.count("\n")), 255)


# Customers and servers of a closed network of two stations, a (ms, rate 1)
# and b (fcfs, rate 1), routed a -> b -> a.
QUEUE = ("pfqn q(n, s)\na b 1\nb a 1\nend\na ms s, 1\nb fcfs 1\nend\n"
         "jobs n\nend\n")


def customers():
    def model(t):
        return "* customers of a chain\n" + QUEUE + "expr tput(q, a; %s, 1)\n" % t

    def expect(name, line, v, t):
        if math.isnan(v) or math.isinf(v):
            return err(fpe("customers of chain jobs", v), name, line), 255
        if v > 1e9:
            return err("too many customers: system q", name, line), 255
        if v < 0:
            return err("number of customers not positive: system q", name, line), 255
        # 0.5 rounds to one customer: it spends mean time 1 at each station,
        # so the throughput is 1/(1 + 1).
        return value_line("tput(q, a; %s, 1)" % t, 0.5) + "\n", 0
    batch("queue_customers", model, expect)


def servers():
    def model(t):
        return "* servers of an ms station, two customers\n" + QUEUE + "expr tput(q, a; 2, %s)\n" % t

    def expect(name, line, v, t):
        text = "tput(q, a; 2, %s)" % t
        if math.isnan(v) or math.isinf(v):
            return err(fpe("servers of station a", v), name, line), 255
        if v < 0:
            return err("number of servers less than one: station a", name, line), 255
        if v < 1:
            # 0.5 rounds to one server: two single servers in a cycle, MVA
            # n=1: X = 1/2, queues 1/2; n=2: R = 1.5 at each, X = 2/3.
            return value_line(text, 2.0 / 3.0) + "\n", 0
        # More servers than customers: reduced to 2. Balance of the states
        # (2,0), (1,1), (0,2): 2 p20 = p11, p11 = p02, so p = 1/5, 2/5, 2/5 and
        # the throughput at a is 2*(1/5) + 1*(2/5) = 4/5.
        out = ("warning: number of servers is > number of customers%s.\n" % loc(name, line) +
               "changing number of servers for station a\n" +
               "   from %.0f to number of customers (2)\n" % math.floor(v + 0.5) +
               value_line(text, 0.8) + "\n")
        return out, 0
    batch("queue_servers", model, expect)


# A net of one token moving p -> q (t) and back (u) at rate 1; place r holds
# one token and feeds the inhibitor arc of t.
def net(kind, params, p_tokens, inhibitor, input_mult):
    head = "%s g(%s)" % (kind, params) if params else "%s g" % kind
    return ("%s\np %s\nq 0\nr 1\nend\nt ind 1\nu ind 1\nend\nend\n"
            "t q 1\nu p 1\nend\np t %s\nq u 1\nend\nr t %s\nend\n"
            % (head, p_tokens, input_mult, inhibitor))


def tokens():
    def model(t):
        return "* initial tokens given as a parameter\n" + net("gspn", "a", "a", "5", "1") + \
            "expr etok(g, p; %s)\n" % t

    def expect(name, line, v, t):
        if math.isnan(v) or math.isinf(v):
            return err(fpe("initial tokens of place p", v), name, line), 255
        if v > 1e9:
            return err("too many initial tokens in place p", name, line), 255
        if v < 0:
            return err("number of tokens is negative: place p", name, line), 255
        # 0.5 rounds to one token, which is in p half of the time.
        return value_line("etok(g, p; %s)" % t, 0.5) + "\n", 0
    batch("net_tokens", model, expect)


def constant_multiplicity():
    def model(t):
        return "* constant inhibitor multiplicity of a gspn\n" + net("gspn", "", "1", t, "1") + \
            "expr etok(g, p)\n"

    def expect(name, line, v, t):
        arc_line = 17  # the inhibitor arc "r t ..." is read and evaluated there
        place = "multiplicity of an arc of transition t"
        if math.isnan(v) or math.isinf(v):
            return err(fpe(place, v), name, arc_line), 255
        if v > 1e9:
            return err(oom(place, v), name, arc_line), 255
        if v < 0:
            return err("arc multiplicity is negative: arc t", name, line), 255
        # A gspn truncates 0.5 to 0: no inhibition, the token alternates.
        return value_line("etok(g, p)", 0.5) + "\n", 0
    batch("net_multiplicity", model, expect)


def marking_multiplicity():
    def model(t):
        return ("* marking-dependent input multiplicity of an srn\n" +
                net("srn", "m", "1", "5", "m + 0*#(q)") + "expr etok(g, p; %s)\n" % t)

    def expect(name, line, v, t):
        if math.isnan(v) or math.isinf(v):
            return err(fpe("arc multiplicity", v), name, line), 255
        if v > 1e9:
            return err(oom("arc multiplicity", v), name, line), 255
        if v < 0:
            return err("arc multiplicity is negative", name, line), 255
        # An srn rounds 0.5 to 1: the ordinary alternating token.
        return value_line("etok(g, p; %s)" % t, 0.5) + "\n", 0
    batch("net_marking_multiplicity", model, expect)


def phases():
    def model(t):
        return ("* phase number of a phased mission\n"
                "ftree f\nbasic a exp(1)\nend\npms p\n%s f 1\nend\n" % t)

    def expect(name, line, v, t):
        line = 6  # the phase line
        if math.isnan(v) or math.isinf(v):
            return err(fpe("phase number", v), name, line), 255
        if v > 1e9:
            return err("phase number too large: %.15g" % math.trunc(v), name, line), 255
        # -1 and 0.5 (truncated to 0) are not positive.
        return err("phase number must be positive", name, line), 255
    batch("pms_phase", model, expect)


def substitutions():
    for key in ("nan", "inf", "huge"):
        text, v = VALUES[key]
        name = "index_%s" % key
        model = "* an index substitution that names no integer\nexpr $(%s)\n" % text
        message = fpe("index substitution", v) if key != "huge" else oom("index substitution", v)
        write(name, model, err(message, name, 2), 255)


# Console sessions: a rejected line is dropped and the session goes on.
def interactive_kofn():
    stdin = ("block b\ncomp a exp(1)\n"
             "kofn top sqrt(-1), 3, a\n"
             "kofn top 1e308*10, 3, a\n"
             "kofn top 1e300, 3, a\n"
             "kofn top -1, 3, a\n"
             "kofn top 0.5, 3, a\n"
             "kofn top 2, sqrt(-1), a\n"
             "kofn top 2, 1e308*10, a\n"
             "kofn top 2, 1e300, a\n"
             "kofn top 2, -1, a\n"
             "kofn top 2, 0.5, a\n"
             "kofn top 2, 3, a\n"
             "end\nexpr mean(b)\n")
    again = ".  Try again.\n"
    out = BANNER
    for which, v in (("k", math.nan), ("k", math.inf)):
        out += "error: " + fpe("%s of node top" % which, v) + again
    out += "error: " + oom("k of node top", 1e300) + again
    out += "error: K must be at least 1: node top" + again
    out += "error: K must be at least 1: node top" + again
    for v in (math.nan, math.inf):
        out += "error: " + fpe("n of node top", v) + again
    out += "error: " + oom("n of node top", 1e300) + again
    out += "error: K must be <= N: node top" + again
    out += "error: K must be <= N: node top" + again
    # 2 of 3 exponential(1) components working: the system fails at the
    # second failure, mean 1/3 + 1/2 = 5/6.
    out += value_line("mean(b)", 5.0 / 6.0) + "\n"
    write("kofn_interactive", "* k and n of k-of-n gates typed at the console\n", out, 0, stdin)


def interactive_settings():
    stdin = ("truncate pathnum sqrt(-1)\n"
             "truncate cutsetnum 1e308*10\n"
             "truncate runtime 1e300\n"
             "truncate pathnum -1\n"
             "truncate cutsetnum 0.5\n"
             "truncate alpha sqrt(-1)\n"
             "factorlimit 1e400\n"
             "factorlimit 1e300\n"
             "factorlimit 0.5\n"
             "echo settings done\n")
    again = ".  Try again.\n"
    out = BANNER
    out += "error: " + fpe("truncate pathnum", math.nan) + again
    out += "error: " + fpe("truncate cutsetnum", math.inf) + again
    out += "error: " + oom("truncate runtime", 1e300) + again
    # -1 (the default) and 0.5 (truncated to 0) are accepted silently.
    out += "error: " + fpe("truncate alpha", math.nan) + again
    out += "error: " + fpe("factorlimit", math.inf) + again
    out += "error: " + oom("factorlimit", 1e300) + again
    out += " settings done\n"
    write("settings_interactive", "* bound options and factorlimit typed at the console\n", out, 0, stdin)


def main():
    for make in (ftree_k, ftree_n, erlang, customers, servers, tokens, constant_multiplicity,
                 marking_multiplicity, phases, substitutions, interactive_kofn, interactive_settings):
        make()


if __name__ == "__main__":
    main()
