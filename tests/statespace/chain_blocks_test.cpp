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
        parse(text);
    }
    void parse(const std::string& text) {
        std::istringstream s(text);
        try {
            in.parse_stream(s, "t.crv");
        } catch (const ProgramExit& e) {
            status = e.status;
        }
    }
    SystemRecord& sys(const std::string& name) {
        int i = in.systems.find(name);
        if (i < 0) throw std::runtime_error("no system " + name);
        return in.systems[i];
    }
    ChainModel& chain(const std::string& name) { return *find_chain(sys(name)); }
    // Runs the expansion; the exit status when it ends the run, else -1.
    int expand(const std::string& name) {
        try {
            expand_chain(in, sys(name));
        } catch (const ProgramExit& e) {
            return e.status;
        }
        return -1;
    }
    // "from>to" for every arc, in order, with the rate when `rates`.
    std::string arcs(const std::string& name, bool rates = false) {
        SystemRecord& s = sys(name);
        std::string r;
        for (const EdgeRecord& e : s.edges) {
            if (!r.empty()) r += " ";
            r += s.names[e.from] + ">" + s.names[e.to];
            if (rates) r += ":" + std::to_string(static_cast<int>(e.rate));
        }
        return r;
    }
    double start(const std::string& name, const std::string& state) {
        return chain(name).states.at(static_cast<size_t>(find_chain_state(sys(name), state))).start_prob;
    }
    double reward(const std::string& name, const std::string& state) {
        return chain(name).states.at(static_cast<size_t>(find_chain_state(sys(name), state))).reward;
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
    EXPECT_EQ(r.out, "system m: Markov chain\n");
    SystemRecord& s = r.sys("m");
    EXPECT_EQ(s.type, kSysMarkov);
    EXPECT_TRUE(s.readprobs);
    EXPECT_EQ(r.arcs("m"), "up>down down>up up>down down>gone");
    // Constant rates are evaluated at once; the others stay expressions.
    EXPECT_EQ(s.edges[1].rate, 3.0);
    EXPECT_TRUE(s.edges[0].symrate && !s.edges[0].symrate->is_constant());
    ChainModel& m = r.chain("m");
    EXPECT_EQ(m.num_direct_arcs, 4);
    ASSERT_TRUE(m.numbered);
    ASSERT_EQ(m.states.size(), 3u);
    EXPECT_EQ(m.states[0].name, "up");
    // The second up->down arc is flagged and leaves the in-degree alone.
    ASSERT_EQ(m.states[0].succ.size(), 2u);
    EXPECT_FALSE(m.states[0].succ[0].dup);
    EXPECT_TRUE(m.states[0].succ[1].dup);
    EXPECT_EQ(m.links[1].count_pred, 1);
    EXPECT_EQ(m.states[1].pred.size(), 2u);
    EXPECT_EQ(m.states[2].pred.size(), 1u);
    EXPECT_EQ(m.links[2].count_pred, 1);
    EXPECT_TRUE(m.start_probs.empty());

    s.params[0]->value = 1.0;
    EXPECT_EQ(r.expand("m"), -1);
    EXPECT_EQ(r.arcs("m"), "up>down down>up up>down down>gone");
}

TEST(MarkovBlock, CompositeWordsAndLoopGroups) {
    Chain r("markov m\n"
          "loop i, 1, 3\n"
          "a$(i) a$(i+1) 2*i\n"
          "end\n"
          "a$(2)b c 1\n"
          "end\n"
          "end\n"
          "markov w\n"
          "loop i , 1 , 3\n"
          "  loop j,1,2\n"
          "$(i) x$( i * 10 + j )y i+j \n"
          "  end\n"
          "end\n"
          "end\n"
          "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    // Loop groups wait for the expansion; the direct arc is there at once.
    EXPECT_EQ(r.arcs("m"), "a2b>c");
    EXPECT_EQ(r.expand("m"), -1);
    EXPECT_EQ(r.arcs("m", true), "a2b>c:1 a1>a2:2 a2>a3:4 a3>a4:6");
    EXPECT_EQ(r.chain("m").states.size(), 6u);
    EXPECT_EQ(r.sys("m").type, kSysMarkov);
    // Expanding again gives the same chain, not a second copy.
    EXPECT_EQ(r.expand("m"), -1);
    EXPECT_EQ(r.arcs("m"), "a2b>c a1>a2 a2>a3 a3>a4");

    EXPECT_EQ(r.expand("w"), -1);
    EXPECT_EQ(r.arcs("w", true), "1>x11y:2 1>x12y:3 2>x21y:3 2>x22y:4 3>x31y:4 3>x32y:5");
}

TEST(MarkovBlock, LoopRangesFollowTheParameters) {
    Chain r("markov er(n,u)\n"
          "loop i,0,n-1,1\n"
          "$(i) $(i+1) u\n"
          "end\n"
          "end\n"
          "end\n"
          "markov stepped\n"
          "loop k, 0, 1, 0.25\n"
          "s$(k*4) t$(k*4) 1\n"
          "end\n"
          "end\n"
          "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& s = r.sys("er");
    s.params[0]->value = 3;
    s.params[1]->value = 2;
    EXPECT_EQ(r.expand("er"), -1);
    EXPECT_EQ(r.arcs("er", true), "0>1:2 1>2:2 2>3:2");
    EXPECT_EQ(r.chain("er").states.size(), 4u);
    s.params[0]->value = 1;
    EXPECT_EQ(r.expand("er"), -1);
    EXPECT_EQ(r.arcs("er"), "0>1");
    EXPECT_EQ(r.chain("er").states.size(), 2u);
    EXPECT_EQ(find_chain_state(s, "2"), -1);

    // The end point is reached despite the rounding of the step.
    EXPECT_EQ(r.expand("stepped"), -1);
    EXPECT_EQ(r.arcs("stepped"), "s0>t0 s1>t1 s2>t2 s3>t3 s4>t4");
}

TEST(MarkovBlock, LoopRangeErrorsAtExpansion) {
    Chain r("markov m(n)\n"
          "loop i, 1, n\n"
          "a$(i) b 1\n"
          "end\n"
          "end\n"
          "end\n"
          "markov z(n)\n"
          "loop i, 1, 3, n\n"
          "a$(i) b 1\n"
          "end\n"
          "end\n"
          "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    r.sys("m").params[0]->value = 0;
    EXPECT_EQ(r.expand("m"), 255);
    EXPECT_EQ(r.out, "error: lower limit is greater than upper limit (t.crv: line   13).\n");
    r.out.clear();
    EXPECT_EQ(r.expand("z"), 255);
    EXPECT_EQ(r.out, "error: invalid increment (t.crv: line   13).\n");
}

TEST(MarkovBlock, InitialProbabilitiesAndRewards) {
    Chain r("markov m(p)\n"
          "a b 1\n"
          "b c 2\n"
          "loop i,1,2\n"
          "c d$(i) 1\n"
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
          "markov empty\n"
          "a b 1\n"
          "end\n"
          "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    r.sys("m").params[0]->value = 0.5;
    EXPECT_EQ(r.expand("m"), -1);
    EXPECT_EQ(r.start("m", "a"), 0.5);
    EXPECT_EQ(r.start("m", "b"), 0.0);
    EXPECT_EQ(r.start("m", "d1"), 0.125);
    // Loop groups come first: the direct line for d2 overrides, with a warning.
    EXPECT_EQ(r.start("m", "d2"), 0.25);
    EXPECT_EQ(r.out,
              "warning: duplicate probability specification for node d2 (system m) (t.crv: line   23).\n");
    EXPECT_EQ(r.reward("m", "a"), 0.5);
    EXPECT_EQ(r.reward("m", "b"), 2.0);
    EXPECT_EQ(r.reward("m", "c"), 0.5);
    EXPECT_EQ(r.reward("m", "d2"), 20.0);

    // An initial-probability section that is just "end"; no default reward.
    EXPECT_EQ(r.expand("empty"), -1);
    EXPECT_EQ(r.start("empty", "a"), 0.0);
    EXPECT_EQ(r.reward("empty", "b"), 0.0);
    EXPECT_TRUE(r.chain("empty").start_probs.empty());
}

TEST(MarkovBlock, UnknownStateIsErrorAtExpansion) {
    Chain r("markov m\n"
          "a b 1\n"
          "end\n"
          "x 1\n"
          "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.expand("m"), 255);
    EXPECT_EQ(r.out, "error: cannot find node name x (t.crv: line    6).\n");

    Chain rw("markov m\n"
           "a b 1\n"
           "reward\n"
           "loop i,1,1\n"
           "q$(i) 1\n"
           "end\n"
           "end\n"
           "end\n");
    ASSERT_EQ(rw.status, 0) << rw.out;
    EXPECT_EQ(rw.expand("m"), 255);
    EXPECT_EQ(rw.out, "error: cannot find node name q1 (t.crv: line    9).\n");
}

TEST(MarkovBlock, FastMttfSets) {
    Chain r("markov m\n"
          "a b 1\n"
          "b c 1\n"
          "end\n"
          "a 1\n"
          "end\n"
          "\n"
          "fastmttf\n"
          "a reada\n"
          "  c   readf\n"
          "b reada\n"
          "end\n"
          "type m\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "system m: Markov chain\n");
    ChainModel& m = r.chain("m");
    EXPECT_EQ(m.set_a, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(m.set_f, (std::vector<std::string>{"c"}));
    EXPECT_EQ(r.expand("m"), -1);
    EXPECT_EQ(m.set_a_states, (std::vector<int>{0, 1}));
    EXPECT_EQ(m.set_f_states, (std::vector<int>{2}));

    Chain e("markov m\na b 1\nend\nend\nfastmttf\n$(1) reada\nend\n");
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.out, "Error: Evaluated words cannot be used here\n");
}

TEST(MarkovBlock, BlankSeparatorsAndSyntaxErrors) {
    struct Case {
        const char* line;
        const char* out;
    };
    const Case cases[] = {
        {"a b 2 * x\n", "parse error in file t.crv, line 2\n"},
        {"a b\n", "parse error in file t.crv, line 2\n"},
        {"a b 1 c\n", "parse error in file t.crv, line 2\n"},
        {"a b f (2)\n", "parse error in file t.crv, line 2\n"},
        {"a$(1) $ b 1\n", "parse error in file t.crv, line 2\n"},
        {"exp b 1\n", "parse error in file t.crv, line 2\n"},
        {"loop i, 1\n", "parse error in file t.crv, line 2\n"},
    };
    for (const Case& c : cases) {
        Chain r(std::string("markov m\n") + c.line + "end\nend\n");
        EXPECT_EQ(r.status, 0) << c.line;
        EXPECT_EQ(r.out, c.out) << c.line;
    }
    // Blanks inside parentheses and around keyword lines are not separators.
    Chain ok("markov m\n"
           "a b (2 * 3)\n"
           "loop  i ,  1 ,  2  \n"
           "x$(i + 1) y$( i ) max(i, 2)\n"
           "  end  \n"
           "end\n"
           "end\n");
    ASSERT_EQ(ok.status, 0) << ok.out;
    EXPECT_EQ(ok.out, "");
    EXPECT_EQ(ok.sys("m").edges[0].rate, 6.0);
    EXPECT_EQ(ok.expand("m"), -1);
    EXPECT_EQ(ok.arcs("m", true), "a>b:6 x2>y1:2 x3>y2:2");

    // The block may not end inside a section.
    Chain cut("markov m\na b 1\nend\n");
    EXPECT_EQ(cut.out, "parse error in file t.crv, line 4\n");
}

TEST(MarkovBlock, SelfLoopsAndEmptyChains) {
    Chain direct("markov m\na a 1\nend\nend\n");
    EXPECT_EQ(direct.status, 255);
    EXPECT_EQ(direct.out, "error: self-loops are not allowed: system m (t.crv: line    2).\n");

    Chain looped("markov m\nloop i,1,2\ns$(i) s$(i*1) 1\nend\nend\nend\n");
    ASSERT_EQ(looped.status, 0);
    EXPECT_EQ(looped.expand("m"), 255);
    EXPECT_EQ(looped.out, "error: self-loops are not allowed: system m (t.crv: line    7).\n");

    Chain empty("markov m\nend\nend\n");
    ASSERT_EQ(empty.status, 0);
    EXPECT_EQ(empty.expand("m"), 255);
    EXPECT_EQ(empty.out, "error: system is empty: m (t.crv: line    4).\n");
}

TEST(SemimarkBlock, DistributionsAndConditionality) {
    Chain r("semimark c cond\n"
          "a b exp(2)\n"
          "a c gen 1,0,0, -1,0,-3 exp(1)\n"
          "c b exp (4) gen 1,0,0\n"
          "reward\n"
          "a 2 * 3\n"
          "end\n"
          "a 1\n"
          "end\n"
          "semimark u uncond\n"
          "x y inf\n"
          "end\n"
          "end\n"
          "semimark d\n"
          "x y exp(1)\n"
          "end\n"
          "end\n"
          "type u\n",
          true);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "Currently only exponential distribution is accepted.\n"
              "system u: semi-Markov chain\n");
    SystemRecord& c = r.sys("c");
    EXPECT_EQ(c.type, kSysSemimark);
    EXPECT_TRUE(c.semi_conditional);
    EXPECT_FALSE(r.sys("u").semi_conditional);
    EXPECT_TRUE(r.sys("d").semi_conditional);
    ASSERT_EQ(r.arcs("c"), "a>b a>c c>b");
    EXPECT_EQ(c.edges[0].udist->type, kDistNamed);
    EXPECT_FALSE(c.edges[0].rudist);
    EXPECT_EQ(c.edges[1].udist->type, kDistGenConst);
    ASSERT_TRUE(c.edges[1].rudist);
    EXPECT_EQ(c.edges[1].rudist->type, kDistNamed);
    EXPECT_FALSE(c.edges[2].rudist);
    EXPECT_EQ(r.expand("c"), -1);
    EXPECT_EQ(r.reward("c", "a"), 6.0);
    EXPECT_EQ(r.start("c", "a"), 1.0);

    // A distribution with a mass at zero is refused; loop groups are markov only.
    Chain zero("semimark z\na b zero\nend\nend\n", true);
    EXPECT_EQ(zero.status, 255);
    EXPECT_EQ(zero.out, "error: distribution cannot have zero part: edge a to b.\n");
    Chain loop("semimark z\nloop i,1,2\n$(i) $(i+1) exp(1)\nend\nend\nend\n", true);
    EXPECT_EQ(loop.out, "parse error in file t.crv, line 2\n");
}

TEST(MrgpBlock, MarksAndRewards) {
    Chain r("mrgp g\n"
          "up - down exp(2)\n"
          "down @ up gen 1,0,0, -1,0,-1, -1,1,-1\n"
          "reward default 1\n"
          "down 0\n"
          "end\n"
          "type g\n",
          true);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "system g: ");
    SystemRecord& g = r.sys("g");
    EXPECT_EQ(g.type, kSysMrgp);
    EXPECT_EQ(r.arcs("g"), "up>down down>up");
    EXPECT_FALSE(g.edges[0].regen);
    EXPECT_TRUE(g.edges[1].regen);
    EXPECT_EQ(g.edges[1].udist->type, kDistGenConst);
    EXPECT_EQ(r.expand("g"), -1);
    EXPECT_EQ(r.reward("g", "up"), 1.0);
    EXPECT_EQ(r.reward("g", "down"), 0.0);

    Chain bad("mrgp g\nup down exp(2)\nend\n", true);
    EXPECT_EQ(bad.out, "parse error in file t.crv, line 2\n");
}

// Loop expansion and name lookup are hashed: a hundred thousand arcs, also
// all leaving one state, expand in well under the time a quadratic pass needs.
TEST(MarkovBlock, LargeLoopGroupsExpandInLinearTime) {
    Chain r("markov line\n"
          "loop i, 1, 100000\n"
          "s$(i) s$(i+1) 1\n"
          "end\n"
          "end\n"
          "end\n"
          "markov star\n"
          "loop i, 1, 100000\n"
          "hub leaf$(i) i\n"
          "leaf$(i) hub 1\n"
          "end\n"
          "end\n"
          "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(r.expand("line"), -1);
    EXPECT_EQ(r.expand("star"), -1);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(r.sys("line").edges.size(), 100000u);
    EXPECT_EQ(r.chain("line").states.size(), 100001u);
    EXPECT_EQ(r.sys("star").edges.size(), 200000u);
    ChainModel& star = r.chain("star");
    EXPECT_EQ(star.states[static_cast<size_t>(find_chain_state(r.sys("star"), "hub"))].succ.size(), 100000u);
    EXPECT_EQ(r.sys("star").edges.back().rate, 1.0);
    EXPECT_EQ(r.sys("star").edges[199998].rate, 100000.0);
}

}  // namespace
}  // namespace corvel
