// Classification of chains, starting probabilities, rate binding and the
// reachability predicates.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "interp/interpreter.h"
#include "statespace/chain.h"

namespace corvel {
namespace {

struct Model {
    std::string out;
    Interpreter in{&out};
    int status = 0;
    explicit Model(const std::string& text) {
        in.err.interactive = false;
        std::istringstream s(text);
        try {
            in.parse_stream(s, "t.crv");
        } catch (const ProgramExit& e) {
            status = e.status;
        }
    }
    SystemRecord& sys(const std::string& n = "m") { return in.systems[in.systems.find(n)]; }
    ChainModel& chain(const std::string& n = "m") { return *find_chain(sys(n)); }
    // Runs f, returning the exit status it ends the run with, or -1.
    template <class F>
    int guarded(F f) {
        try {
            f();
        } catch (const ProgramExit& e) {
            return e.status;
        }
        return -1;
    }
};

std::string markov(const std::string& arcs, const std::string& probs = "") {
    return "markov m\n" + arcs + "end\n" + probs + "end\n";
}

TEST(Classification, AcyclicIrreducibleAndPhaseType) {
    Model acyclic(markov("c d 1\na b 1\nb c 1\na c 2\n"));
    EXPECT_EQ(acyclic.sys().type, kSysMarkovAcyclic);
    // Topological order: in-degree-zero names in name order, then FIFO.
    ChainModel& m = acyclic.chain();
    ASSERT_EQ(m.num_states(), 4);
    EXPECT_EQ(m.state_name(0), "a");
    EXPECT_EQ(m.state_name(1), "b");
    EXPECT_EQ(m.state_name(2), "c");
    EXPECT_EQ(m.state_name(3), "d");
    for (const ChainArc& a : m.arcs) EXPECT_LT(a.from, a.to);

    // One arc back: every state has a successor -> irreducible.
    Model irred(markov("a b 1\nb c 1\nc a 1\n"));
    EXPECT_EQ(irred.sys().type, kSysMarkovIrreducible);
    // One arc back, and a state without successors -> phase-type, absorbing
    // states at the end in reverse name order.
    Model ph(markov("a b 1\nx y 1\nb a 1\nb z 1\n"));
    EXPECT_EQ(ph.sys().type, kSysMarkovPhase);
    ChainModel& p = ph.chain();
    EXPECT_EQ(p.state_name(0), "a");
    EXPECT_EQ(p.state_name(1), "b");
    EXPECT_EQ(p.state_name(2), "x");
    EXPECT_EQ(p.state_name(3), "z");
    EXPECT_EQ(p.state_name(4), "y");
    // The offset arrays agree with the renumbered arcs.
    for (int s = 0; s < p.num_states(); ++s) {
        for (std::uint32_t e : p.out_arcs(s)) EXPECT_EQ(p.arcs[e].from, s);
        for (std::uint32_t e : p.in_arcs(s)) EXPECT_EQ(p.arcs[e].to, s);
    }
}

TEST(Classification, DuplicateArcsCountOnceAndSemiMarkovRejection) {
    Model dup(markov("a b 1\na b 2\nb c 1\n"));
    EXPECT_EQ(dup.sys().type, kSysMarkovAcyclic);
    EXPECT_EQ(dup.chain().arcs.size(), 3u);
    const std::string d = "gen 1,0,0, -1,0,-1";
    Model semi("semimark m\na b " + d + "\nb a " + d + "\nb c " + d + "\nend\na 1\nend\n");
    EXPECT_EQ(semi.status, 255);
    EXPECT_NE(semi.out.find("error: PH-type semi-Markov chains are not supported: m"), std::string::npos) << semi.out;
    Model verbose("verbose on\n" + markov("a b 1\nb a 1\nb c 1\n"));
    EXPECT_NE(verbose.out.find("absorbing states in chain m:\n   c\n"), std::string::npos) << verbose.out;
}

TEST(StartingProbabilities, DefaultsWarningsAndErrors) {
    Model def(markov("a b 1\nb c 1\n"));
    int first = -2;
    def.chain().start_prob.assign(3, 0.0);
    EXPECT_EQ(def.guarded([&] { first = check_starting_probs(def.in, def.sys()); }), -1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(def.chain().start_prob[0], 1.0);

    // State 1 without an incoming arc: no default.
    Model none(markov("a b 1\nc b 1\n"));
    none.chain().start_prob.assign(3, 0.0);
    EXPECT_EQ(none.guarded([&] { check_starting_probs(none.in, none.sys()); }), 255);
    EXPECT_NE(none.out.find("error: need starting probabilities for chain m"), std::string::npos);

    Model half(markov("a b 1\nb c 1\n", "b 0.5\n"));
    half.out.clear();
    EXPECT_EQ(half.guarded([&] {
        expand_chain(half.in, half.sys());
        first = check_starting_probs(half.in, half.sys());
    }), -1);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(half.out, "warning: initial state probabilities don't add up to one: (0.500000000000000 for system m) (t.crv: line    7).\n");

    Model range(markov("a b 1\nb c 1\n", "a -0.5\nb 1.5\n"));
    range.out.clear();
    EXPECT_EQ(range.guarded([&] {
        expand_chain(range.in, range.sys());
        check_starting_probs(range.in, range.sys());
    }), -1);
    EXPECT_NE(range.out.find("warning: probability is less than zero (-0.500000000000000 for node a)"),
              std::string::npos) << range.out;
    EXPECT_NE(range.out.find("warning: probability is greater than one (1.500000000000000 for node b)"),
              std::string::npos);
}

TEST(RebindMarkov, RatesOutflowAndErrors) {
    Model r("var k 2\nmarkov m(x)\na b x\nb a k*3\nb c 1\nend\na 1\nend\n");
    SystemRecord& s = r.sys();
    s.params[0]->value = 4;
    EXPECT_EQ(r.guarded([&] {
        expand_chain(r.in, s);
        rebind_markov(r.in, s, false);
    }), -1);
    ChainModel& m = r.chain();
    EXPECT_DOUBLE_EQ(m.rate_out[static_cast<size_t>(find_chain_state(s, "a"))], 4.0);
    EXPECT_DOUBLE_EQ(m.rate_out[static_cast<size_t>(find_chain_state(s, "b"))], 7.0);
    EXPECT_TRUE(is_absorbing(m, find_chain_state(s, "c"), 1e-11));
    EXPECT_FALSE(has_non_transient_states(m, 1e-11));
    // Zero reward on a state with outflow, when computing rewards.
    EXPECT_EQ(r.guarded([&] { rebind_markov(r.in, s, true); }), 255);
    EXPECT_NE(r.out.find("zero reward not allowed for nonabsorbing state a"), std::string::npos) << r.out;

    Model neg("markov m(x)\na b x\nend\na 1\nend\n");
    neg.sys().params[0]->value = -1;
    EXPECT_EQ(neg.guarded([&] {
        expand_chain(neg.in, neg.sys());
        rebind_markov(neg.in, neg.sys(), false);
    }), 255);
    EXPECT_NE(neg.out.find("error: rate must be positive: edge a to b"), std::string::npos) << neg.out;
}

TEST(Reachability, TrapsAndIrreducibility) {
    // From a, the pair b <-> c is a trap that never reaches absorption in d.
    Model trap(markov("a b 1\nb c 1\nc b 1\na d 1\n", "a 1\n"));
    EXPECT_EQ(trap.guarded([&] {
        expand_chain(trap.in, trap.sys());
        rebind_markov(trap.in, trap.sys(), false);
    }), -1);
    EXPECT_TRUE(has_non_transient_states(trap.chain(), 1e-11));

    Model ring(markov("a b 1\nb c 1\nc a 1\n", "a 1\n"));
    EXPECT_EQ(ring.guarded([&] { expand_chain(ring.in, ring.sys()); }), -1);
    EXPECT_FALSE(not_irreducible(ring.chain(), 1e-11));
    // A zero-rate arc is not followed.
    ring.chain().arcs[2].rate = 0.0;
    EXPECT_TRUE(not_irreducible(ring.chain(), 1e-11));
    EXPECT_FALSE(not_irreducible(ring.chain(), 1e-11, true));
}

TEST(ChainStorage, CompactNamesAndArcs) {
    ChainNames names;
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(names.add("s" + std::to_string(i)), i);
    EXPECT_EQ(names.add("s17"), 17);
    EXPECT_EQ(names.find("s999"), 999);
    EXPECT_EQ(names.find("s1000"), -1);
    std::vector<std::int32_t> reverse(1000);
    for (int i = 0; i < 1000; ++i) reverse[static_cast<size_t>(i)] = 999 - i;
    names.permute(reverse);
    EXPECT_EQ(names[0], "s999");
    EXPECT_EQ(names.find("s0"), 999);
    EXPECT_EQ(names.find("s500"), 499);
}

}  // namespace
}  // namespace corvel
