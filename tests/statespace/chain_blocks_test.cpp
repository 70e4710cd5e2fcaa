// Reading markov, semimark and mrgp blocks into their system records, and the
// expansion of loop groups, initial probabilities and rewards.

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "interp/interpreter.h"
#include "statespace/chain.h"

namespace corvel {
namespace {

struct Chain {
    std::string out;
    Interpreter in{&out};
    int status = 0;

    explicit Chain(const std::string& text, bool builtins = false) {
        in.err.interactive = false;
        if (builtins) in.install_builtins();
        std::istringstream s(text);
        try {
            in.parse_stream(s, "t.crv");
        } catch (const ProgramExit& e) {
            status = e.status;
        }
    }
    SystemRecord& sys(const std::string& name = "m") { return in.systems[in.systems.find(name)]; }
    ChainModel& chain(const std::string& name = "m") { return *find_chain(sys(name)); }
    // The exit status when the expansion ends the run, else -1.
    int expand(const std::string& name = "m") {
        try {
            expand_chain(in, sys(name));
        } catch (const ProgramExit& e) {
            return e.status;
        }
        return -1;
    }
    // "from>to:rate" for every arc, in order.
    std::string arcs(const std::string& name = "m") {
        ChainModel& m = chain(name);
        std::string r;
        for (const ChainArc& e : m.arcs)
            r += (r.empty() ? "" : " ") + std::string(m.names[e.from]) + ">" + std::string(m.names[e.to]) + ":" +
                 std::to_string(int(e.rate));
        return r;
    }
    int state(const std::string& st, const std::string& name = "m") {
        int k = find_chain_state(sys(name), st);
        EXPECT_GE(k, 0) << st;
        return k;
    }
    double start(const std::string& st, const std::string& name = "m") {
        return chain(name).start_prob.at(static_cast<size_t>(state(st, name)));
    }
    double reward(const std::string& st, const std::string& name = "m") {
        return chain(name).reward.at(static_cast<size_t>(state(st, name)));
    }
};

TEST(MarkovBlock, ArcsStatesAndSuccessorLists) {
    Chain r("markov m(lam) readprobs\n"
            "  up   down lam \n"
            "* a comment line\n"
            "\n"
            "down\tup 3\n"
            "up down 2*lam\n"
            "down gone (lam + 1)/2\n"
            "end\n"
            "end\n"
            "type m\n");
    ASSERT_EQ(r.status, 0) << r.out;
    // Cyclic with the absorbing state gone: phase-type, gone numbered last.
    EXPECT_EQ(r.out, "system m: phase-type Markov chain\n");
    EXPECT_TRUE(r.sys().readprobs);
    EXPECT_EQ(r.arcs(), "up>down:0 down>up:3 up>down:0 down>gone:0");
    ChainModel& m = r.chain();
    EXPECT_TRUE(m.direct_rates[3] && !m.direct_rates[1]);
    ASSERT_EQ(m.num_states(), 3);
    EXPECT_EQ(r.state("gone"), 2);
    // Both up->down arcs are kept.
    EXPECT_EQ(m.out_arcs(r.state("up")).size(), 2u);
    EXPECT_EQ(m.in_arcs(r.state("down")).size(), 2u);
    // An initial-probability section that is just "end"; no default reward.
    EXPECT_EQ(r.expand(), -1);
    EXPECT_EQ(r.start("up"), 0.0);
    EXPECT_EQ(r.reward("gone"), 0.0);
}

TEST(MarkovBlock, CompositeWordsAndLoopGroups) {
    Chain r("markov m\n"
            "loop i, 1, 3\n"
            "a$(i) a$(i+1) 2*i\n"
            "end\n"
            "a$(2)b c 1\n"
            "end\n"
            "end\n"
            "markov w(n)\n"
            "loop  i ,  1 ,  n  \n"
            "  loop j,1,2\n"
            "$(i) x$( i * 10 + j )y max(i, j) \n"
            "  end\n"
            "end\n"
            "end\n"
            "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.arcs(), "a2b>c:1");
    EXPECT_EQ(r.expand(), -1);
    EXPECT_EQ(r.arcs(), "a2b>c:1 a1>a2:2 a2>a3:4 a3>a4:6");
    EXPECT_EQ(r.chain().num_states(), 6);
    EXPECT_EQ(r.expand(), -1);
    EXPECT_EQ(r.arcs(), "a2b>c:1 a1>a2:2 a2>a3:4 a3>a4:6");

    r.sys("w").params[0]->value = 2;
    EXPECT_EQ(r.expand("w"), -1);
    EXPECT_EQ(r.arcs("w"), "1>x11y:1 1>x12y:2 2>x21y:2 2>x22y:2");
    r.sys("w").params[0]->value = 1;
    EXPECT_EQ(r.expand("w"), -1);
    EXPECT_EQ(r.arcs("w"), "1>x11y:1 1>x12y:2");
    EXPECT_EQ(find_chain_state(r.sys("w"), "2"), -1);
}

TEST(MarkovBlock, InitialProbabilitiesRewardsAndSets) {
    Chain r("markov m(p)\n"
            "a b 1\n"
            "loop k, 0, 1, 0.25\n"
            "b d$(k*4) 1\n"
            "end\n"
            "reward default 0.5\n"
            "b 2\n"
            "loop i, 1, 2\n"
            "d$(i) i*10\n"
            "end\n"
            "end\n"
            "  a  p \n"
            "loop i,1,2\n"
            "d$(i) 0.125\n"
            "end\n"
            "d2 0.25\n"
            "end\n"
            "\n"
            "fastmttf\n"
            "a reada\n"
            "  d4   readf\n"
            "b reada\n"
            "end\n"
            "type m\n");
    ASSERT_EQ(r.status, 0) << r.out;
    r.sys().params[0]->value = 0.5;
    r.out.clear();
    EXPECT_EQ(r.expand(), -1);
    // The step's rounding does not lose the last index value.
    EXPECT_EQ(r.chain().num_states(), 7);
    EXPECT_EQ(r.start("a"), 0.5);
    EXPECT_EQ(r.start("d1"), 0.125);
    // Loop groups come first: the direct line for d2 wins, with a warning.
    EXPECT_EQ(r.start("d2"), 0.25);
    EXPECT_EQ(r.out, "warning: duplicate probability specification for node d2 (system m) (t.crv: line   25).\n");
    EXPECT_EQ(r.reward("a"), 0.5);
    EXPECT_EQ(r.reward("b"), 2.0);
    EXPECT_EQ(r.reward("d2"), 20.0);
    EXPECT_EQ(r.chain().set_a_states, (std::vector<int>{r.state("a"), r.state("b")}));
    EXPECT_EQ(r.chain().set_f_states, (std::vector<int>{r.state("d4")}));
}

TEST(MarkovBlock, SyntaxErrors) {
    struct Case {
        const char* lines;
        int line;
    };
    const Case cases[] = {{"a b 2 * x\n", 2}, {"a b\n", 2},          {"a b 1 c\n", 2},
                          {"a b f (2)\n", 2}, {"a$(1) $ b 1\n", 2},  {"exp b 1\n", 2},
                          {"loop i, 1\n", 2}, {"a b 1\nend\na 1\nb\n", 5}};
    for (const Case& c : cases) {
        Chain r(std::string("markov m\n") + c.lines + "end\nend\n");
        EXPECT_EQ(r.status, 0) << c.lines;
        EXPECT_EQ(r.out, "parse error in file t.crv, line " + std::to_string(c.line) + "\n") << c.lines;
    }
    Chain cut("markov m\na b 1\nend\n");
    EXPECT_EQ(cut.out, "parse error in file t.crv, line 4\n");
    Chain fast("markov m\na b 1\nend\nend\nfastmttf\n$(1) reada\nend\n");
    EXPECT_EQ(fast.out, "Error: Evaluated words cannot be used here\n");
}

TEST(MarkovBlock, ErrorsOfTheExpansion) {
    struct Case {
        const char* text;
        const char* out;
    };
    const Case cases[] = {
        {"a b 1\nend\nx 1\nend\n", "error: cannot find node name x (t.crv: line    6).\n"},
        {"a b 1\nreward\nloop i,1,1\nq$(i) 1\nend\nend\nend\n", "error: cannot find node name q1 (t.crv: line    9).\n"},
        {"loop i, 1, 0\na$(i) b 1\nend\nend\nend\n", "error: lower limit is greater than upper limit (t.crv: line    7).\n"},
        {"loop i, 1, 3, 0\na$(i) b 1\nend\nend\nend\n", "error: invalid increment (t.crv: line    7).\n"},
        {"loop i,1,2\ns$(i) s$(i*1) 1\nend\nend\nend\n", "error: self-loops are not allowed: system m (t.crv: line    7).\n"},
        {"end\nend\n", "error: system is empty: m (t.crv: line    4).\n"},
    };
    for (const Case& c : cases) {
        Chain r(std::string("markov m\n") + c.text);
        ASSERT_EQ(r.status, 0) << c.text << r.out;
        EXPECT_EQ(r.expand(), 255) << c.text;
        EXPECT_EQ(r.out, c.out) << c.text;
    }
    Chain direct("markov m\na a 1\nend\nend\n");
    EXPECT_EQ(direct.status, 255);
    EXPECT_EQ(direct.out, "error: self-loops are not allowed: system m (t.crv: line    2).\n");
}

TEST(SemimarkAndMrgpBlocks, DistributionsMarksAndOptions) {
    Chain r("semimark m cond\n"
            "a b exp(2)\n"
            "a c gen 1,0,0, -1,0,-3 exp(1)\n"
            "c b exp (4) gen 1,0,0\n"
            "reward\n"
            "a 2 * 3\n"
            "end\n"
            "a 1\n"
            "end\n"
            "semimark u uncond\nx y inf\nend\nend\n"
            "mrgp g\n"
            "up - down exp(2)\n"
            "down @ up gen 1,0,0, -1,0,-1, -1,1,-1\n"
            "reward default 1\n"
            "down 0\n"
            "end\n"
            "type u\n",
            true);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "Currently only exponential distribution is accepted.\nsystem u: acyclic semi-Markov chain\n");
    EXPECT_TRUE(r.sys().semi_conditional);
    EXPECT_FALSE(r.sys("u").semi_conditional);
    const std::vector<EdgeRecord>& e = r.sys().edges;
    ASSERT_EQ(r.arcs(), "a>b:0 a>c:0 c>b:0");
    ASSERT_EQ(r.sys().edges.size(), 3u);
    EXPECT_EQ(e[0].udist->type, kDistNamed);
    EXPECT_EQ(e[1].udist->type, kDistGenConst);
    EXPECT_TRUE(e[1].rudist && !e[0].rudist && !e[2].rudist);
    EXPECT_EQ(r.expand(), -1);
    EXPECT_EQ(r.reward("a"), 6.0);
    EXPECT_EQ(r.start("a"), 1.0);

    EXPECT_EQ(r.sys("g").type, kSysMrgp);
    EXPECT_EQ(r.arcs("g"), "up>down:0 down>up:0");
    EXPECT_TRUE(!r.sys("g").edges[0].regen && r.sys("g").edges[1].regen);
    EXPECT_EQ(r.expand("g"), -1);
    EXPECT_EQ(r.reward("up", "g"), 1.0);
    EXPECT_EQ(r.reward("down", "g"), 0.0);

    Chain zero("semimark m\na b zero\nend\nend\n", true);
    EXPECT_EQ(zero.out, "error: distribution cannot have zero part: edge a to b.\n");
    Chain loop("semimark m\nloop i,1,2\n$(i) $(i+1) exp(1)\nend\nend\nend\n", true);
    EXPECT_EQ(loop.out, "parse error in file t.crv, line 2\n");
    Chain mark("mrgp m\nup down exp(2)\nend\n", true);
    EXPECT_EQ(mark.out, "parse error in file t.crv, line 2\n");
}

// Loop expansion and name lookup are hashed: a hundred thousand arcs, also
// all leaving one state, expand far faster than a quadratic pass could.
TEST(MarkovBlock, LargeLoopGroupsExpandInLinearTime) {
    Chain r("markov line\nloop i, 1, 100000\ns$(i) s$(i+1) 1\nend\nend\nend\n"
            "markov star\nloop i, 1, 100000\nhub leaf$(i) i\nleaf$(i) hub 1\nend\nend\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(r.expand("line"), -1);
    EXPECT_EQ(r.expand("star"), -1);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10.0);
    EXPECT_EQ(r.chain("line").num_states(), 100001);
    EXPECT_EQ(r.sys("line").type, kSysMarkovAcyclic);
    EXPECT_EQ(r.chain("star").arcs.size(), 200000u);
    EXPECT_EQ(r.sys("star").type, kSysMarkovIrreducible);
    EXPECT_EQ(r.chain("star").out_arcs(r.state("hub", "star")).size(), 100000u);
    EXPECT_EQ(r.chain("star").arcs[199998].rate, 100000.0);
}

}  // namespace
}  // namespace corvel
