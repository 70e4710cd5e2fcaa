// Reachability graphs and the elimination of vanishing markings, on small
// nets whose graphs and chains are worked out by hand.

#include "statespace/petri_elim.h"
#include "statespace/petri_reach.h"

#include <gtest/gtest.h>

#include <map>

#include "symbols/errors.h"
#include "symbols/output.h"

namespace corvel {
namespace {

struct NetBuilder {
    BoundNet net;
    int place(const std::string& name, long tokens) {
        net.place_names.push_back(name);
        net.init_tokens.push_back(tokens);
        return static_cast<int>(net.place_names.size()) - 1;
    }
    BoundTransition& trans(const std::string& name, bool immediate, double rate) {
        BoundTransition t;
        t.name = name;
        t.kind = immediate ? 1 : 2;
        t.priority = immediate ? 1 : 0;
        t.rate = rate;
        net.transitions.push_back(t);
        return net.transitions.back();
    }
};

void arc(std::vector<BoundArc>& list, int place, int mult = 1) { list.push_back({place, mult, nullptr}); }

struct NetRun {
    std::string text;
    Output out{&text};
    ErrorReporter err{out};
    int status = -1;
    ReachGraph g;
    TangibleChain c;
    NetRun() { err.interactive = false; }
    ReachLimits limits;
    bool go(const BoundNet& net) {
        try {
            g = generate_reach_graph(net, nullptr, err, nullptr, limits);
            c = eliminate_vanishing(g, err);
            return true;
        } catch (const ProgramExit& e) {
            status = e.status;
            return false;
        }
    }
    // Chain rates keyed by the token vectors of both ends.
    std::map<std::pair<std::vector<int>, std::vector<int>>, double> rates() const {
        std::map<std::pair<std::vector<int>, std::vector<int>>, double> r;
        for (std::uint32_t s = 0; s < c.num_states(); ++s)
            for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e)
                r[{tokens(c.marking_of_state[s]), tokens(c.marking_of_state[c.col[e]])}] = c.rate[e];
        return r;
    }
    std::vector<int> tokens(std::uint32_t m) const {
        std::vector<int> v;
        for (int p = 0; p < g.num_places; ++p) v.push_back(g.tokens(m, p));
        return v;
    }
};

TEST(PetriReach, BirthDeathWithInhibitorBound) {
    // M/M/1/3: arrivals blocked by an inhibitor arc of multiplicity 3.
    NetBuilder b;
    int q = b.place("q", 0);
    auto& arrive = b.trans("arrive", false, 2.0);
    arc(arrive.output, q);
    arc(arrive.inhibitor, q, 3);
    auto& serve = b.trans("serve", false, 5.0);
    arc(serve.input, q);
    NetRun r;
    ASSERT_TRUE(r.go(b.net)) << r.text;
    EXPECT_EQ(r.g.size(), 4u);
    EXPECT_EQ(r.g.num_tangible, 4u);
    EXPECT_EQ(r.g.num_arcs(), 6u);
    auto rates = r.rates();
    EXPECT_EQ(rates.size(), 6u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_DOUBLE_EQ((rates[{{k}, {k + 1}}]), 2.0);
        EXPECT_DOUBLE_EQ((rates[{{k + 1}, {k}}]), 5.0);
    }
    ASSERT_EQ(r.c.initial.size(), 1u);
    EXPECT_EQ(r.c.initial[0].first, 0u);
}

TEST(PetriReach, InhibitorOfMultiplicityTwoAndMarkingDependentRate) {
    // Two tokens move from up to down; fail is inhibited once down holds 2,
    // so the last token never fails. fail is dep on up.
    NetBuilder b;
    int up = b.place("up", 3), down = b.place("down", 0);
    auto& fail = b.trans("fail", false, 0.5);
    fail.dependent = 3;
    fail.place_index = up;
    arc(fail.input, up);
    arc(fail.output, down);
    arc(fail.inhibitor, down, 2);
    NetRun r;
    ASSERT_TRUE(r.go(b.net)) << r.text;
    ASSERT_EQ(r.g.size(), 3u);  // (3,0) (2,1) (1,2)
    EXPECT_EQ(r.g.num_absorbing, 1u);
    auto rates = r.rates();
    EXPECT_DOUBLE_EQ((rates[{{3, 0}, {2, 1}}]), 1.5);
    EXPECT_DOUBLE_EQ((rates[{{2, 1}, {1, 2}}]), 1.0);
    EXPECT_EQ(rates.size(), 2u);
    // The absorbing marking is numbered after the tangible ones.
    EXPECT_EQ(r.c.num_tangible, 2u);
    EXPECT_EQ(r.tokens(r.c.marking_of_state[2]), (std::vector<int>{1, 2}));
}

TEST(PetriReach, ImmediateChoiceSplitsByWeight) {
    NetBuilder b;
    int a = b.place("a", 1), v = b.place("v", 0), c = b.place("c", 0), d = b.place("d", 0);
    auto& go = b.trans("go", false, 2.0);
    arc(go.input, a);
    arc(go.output, v);
    auto& left = b.trans("left", true, 1.0);
    arc(left.input, v);
    arc(left.output, c);
    auto& right = b.trans("right", true, 3.0);
    arc(right.input, v);
    arc(right.output, d);
    for (int from : {c, d}) {
        auto& back = b.trans(from == c ? "bc" : "bd", false, 1.0);
        arc(back.input, from);
        arc(back.output, a);
    }
    NetRun r;
    ASSERT_TRUE(r.go(b.net)) << r.text;
    EXPECT_EQ(r.g.num_vanishing, 1u);
    EXPECT_EQ(r.c.num_states(), 3u);
    auto rates = r.rates();
    EXPECT_DOUBLE_EQ((rates[{{1, 0, 0, 0}, {0, 0, 1, 0}}]), 0.5);
    EXPECT_DOUBLE_EQ((rates[{{1, 0, 0, 0}, {0, 0, 0, 1}}]), 1.5);
    EXPECT_DOUBLE_EQ((rates[{{0, 0, 1, 0}, {1, 0, 0, 0}}]), 1.0);
}

// b chooses c or e evenly; e goes back to b (weight 1) or on to d (weight 2).
// P(b reaches c first) = 1/2 + 1/2 * 1/3 * P  =>  P = 3/5.
BoundNet vanishing_loop_net(bool initial_vanishing) {
    NetBuilder b;
    int s = b.place("s", initial_vanishing ? 0 : 1), pb = b.place("b", initial_vanishing ? 1 : 0),
        pe = b.place("e", 0), pc = b.place("c", 0), pd = b.place("d", 0);
    auto& start = b.trans("start", false, 4.0);
    arc(start.input, s);
    arc(start.output, pb);
    auto pair = [&](const char* name, int from, int to, double w) {
        auto& t = b.trans(name, true, w);
        arc(t.input, from);
        arc(t.output, to);
    };
    pair("bc", pb, pc, 1.0);
    pair("be", pb, pe, 1.0);
    pair("eb", pe, pb, 1.0);
    pair("ed", pe, pd, 2.0);
    return b.net;
}

TEST(PetriReach, VanishingLoopIsEliminated) {
    NetRun r;
    ASSERT_TRUE(r.go(vanishing_loop_net(false))) << r.text;
    EXPECT_EQ(r.g.num_vanishing, 2u);
    EXPECT_EQ(r.c.num_vanishing_loops, 1u);
    EXPECT_EQ(r.c.num_tangible, 1u);
    EXPECT_EQ(r.c.num_absorbing, 2u);
    auto rates = r.rates();
    EXPECT_NEAR((rates[{{1, 0, 0, 0, 0}, {0, 0, 0, 1, 0}}]), 4.0 * 3 / 5, 1e-14);
    EXPECT_NEAR((rates[{{1, 0, 0, 0, 0}, {0, 0, 0, 0, 1}}]), 4.0 * 2 / 5, 1e-14);
    // The loop occupies consecutive negative indices.
    std::vector<int> idx;
    for (std::uint32_t m = 0; m < r.g.size(); ++m)
        if (r.c.index_of_marking[m] < 0) idx.push_back(-r.c.index_of_marking[m]);
    std::sort(idx.begin(), idx.end());
    EXPECT_EQ(idx, (std::vector<int>{1, 2}));
}

TEST(PetriReach, VanishingInitialMarkingStartsFromItsFirstPassage) {
    NetRun r;
    ASSERT_TRUE(r.go(vanishing_loop_net(true))) << r.text;
    EXPECT_TRUE(r.c.initial_vanishing);
    std::map<std::vector<int>, double> start;
    for (auto [s, p] : r.c.initial) start[r.tokens(r.c.marking_of_state[s])] = p;
    EXPECT_NEAR((start[{0, 0, 0, 1, 0}]), 0.6, 1e-14);
    EXPECT_NEAR((start[{0, 0, 0, 0, 1}]), 0.4, 1e-14);
}

TEST(PetriReach, RefusedNets) {
    {
        // A loop of vanishing markings that nothing leaves.
        NetBuilder b;
        int x = b.place("x", 1), y = b.place("y", 0);
        auto& xy = b.trans("xy", true, 1.0);
        arc(xy.input, x);
        arc(xy.output, y);
        auto& yx = b.trans("yx", true, 1.0);
        arc(yx.input, y);
        arc(yx.output, x);
        NetRun r;
        EXPECT_FALSE(r.go(b.net));
        EXPECT_NE(r.text.find("error: absorbing loops in GSPN not implemented"), std::string::npos) << r.text;
    }
    {
        // An immediate and a timed transition enabled at the same priority:
        // whichever is found second decides the message.
        for (bool immediate_first : {true, false}) {
            NetBuilder b;
            int x = b.place("x", 1);
            arc(b.trans("t1", immediate_first, 1.0).input, x);
            arc(b.trans("t2", !immediate_first, 1.0).input, x);
            for (auto& t : b.net.transitions) t.priority = 0;
            NetRun r;
            EXPECT_FALSE(r.go(b.net));
            EXPECT_NE(r.text.find(immediate_first ? "transition should not be immediate"
                                                  : "transition should not be timed"),
                      std::string::npos)
                << r.text;
        }
    }
    {
        // A dep transition whose place is empty.
        NetBuilder b;
        int x = b.place("x", 1), e = b.place("e", 0);
        auto& t = b.trans("t", false, 1.0);
        t.dependent = 3;
        t.place_index = e;
        arc(t.input, x);
        NetRun r;
        EXPECT_FALSE(r.go(b.net));
        EXPECT_NE(r.text.find("transition implicitly inhibited"), std::string::npos) << r.text;
    }
}

TEST(PetriReach, PriorityPreemptsAndOrderIsStable) {
    NetBuilder b;
    int x = b.place("x", 1), y = b.place("y", 0), z = b.place("z", 0);
    auto& low = b.trans("low", false, 1.0);
    arc(low.input, x);
    arc(low.output, y);
    auto& high = b.trans("high", false, 1.0);
    high.priority = 5;
    arc(high.input, x);
    arc(high.output, z);
    b.trans("other", false, 1.0).priority = 5;
    EXPECT_EQ(priority_order(b.net), (std::vector<int>{1, 2, 0}));
    NetRun r;
    ASSERT_TRUE(r.go(b.net)) << r.text;
    // "other" has no input arc and is always enabled: x -> z and self-loops.
    auto rates = r.rates();
    EXPECT_EQ(rates.count({{1, 0, 0}, {0, 1, 0}}), 0u);
    EXPECT_DOUBLE_EQ((rates[{{1, 0, 0}, {0, 0, 1}}]), 1.0);
}

TEST(PetriReach, CountsBeyondOneByteWidenTheStore) {
    NetBuilder b;
    int q = b.place("q", 0);
    auto& add = b.trans("add", false, 1.0);
    arc(add.output, q);
    arc(add.inhibitor, q, 300);
    auto& take = b.trans("take", false, 1.0);
    arc(take.input, q, 2);
    NetRun r;
    ASSERT_TRUE(r.go(b.net)) << r.text;
    EXPECT_EQ(r.g.size(), 301u);
    EXPECT_EQ(r.g.width, 2);
    for (std::uint32_t m = 0; m < r.g.size(); ++m) EXPECT_EQ(r.g.tokens(m, 0), static_cast<int>(m));
    auto rates = r.rates();
    EXPECT_DOUBLE_EQ((rates[{{299}, {300}}]), 1.0);
    EXPECT_DOUBLE_EQ((rates[{{300}, {298}}]), 1.0);
}

TEST(PetriReach, MarkingsThatOnlyReturnToThemselvesAreAbsorbing) {
    // From a, tx leads to x, which t1 and the vanishing v return to x, and
    // ty to y, where nothing is enabled. x is found before y; both end in
    // the absorbing block in that order, after the one tangible marking a.
    NetBuilder b;
    int a = b.place("a", 1), x = b.place("x", 0), v = b.place("v", 0), y = b.place("y", 0);
    auto& tx = b.trans("tx", false, 2.0);
    arc(tx.input, a);
    arc(tx.output, x);
    auto& ty = b.trans("ty", false, 3.0);
    arc(ty.input, a);
    arc(ty.output, y);
    auto& t1 = b.trans("t1", false, 1.0);
    arc(t1.input, x);
    arc(t1.output, v);
    auto& t2 = b.trans("t2", true, 1.0);
    arc(t2.input, v);
    arc(t2.output, x);
    NetRun r;
    ASSERT_TRUE(r.go(b.net)) << r.text;
    EXPECT_EQ(r.c.num_tangible, 1u);
    ASSERT_EQ(r.c.num_absorbing, 2u);
    EXPECT_EQ(r.tokens(r.c.marking_of_state[0]), (std::vector<int>{1, 0, 0, 0}));
    EXPECT_EQ(r.tokens(r.c.marking_of_state[1]), (std::vector<int>{0, 1, 0, 0}));
    EXPECT_EQ(r.tokens(r.c.marking_of_state[2]), (std::vector<int>{0, 0, 0, 1}));
    // The absorbing states have no arcs; the rates out of a keep their targets.
    EXPECT_EQ(r.c.row_start[1], r.c.row_start[3]);
    auto rates = r.rates();
    EXPECT_EQ(rates.size(), 2u);
    EXPECT_DOUBLE_EQ((rates[{{1, 0, 0, 0}, {0, 1, 0, 0}}]), 2.0);
    EXPECT_DOUBLE_EQ((rates[{{1, 0, 0, 0}, {0, 0, 0, 1}}]), 3.0);
    // The index of each marking follows its state.
    EXPECT_EQ(r.c.index_of_marking[r.c.marking_of_state[1]], 2);
    EXPECT_EQ(r.c.index_of_marking[r.c.marking_of_state[2]], 3);
    ASSERT_EQ(r.c.initial.size(), 1u);
    EXPECT_EQ(r.c.initial[0].first, 0u);
}

TEST(PetriReach, UnboundedNetsNameAPlaceThatGrows) {
    {
        // A transition without inputs.
        NetBuilder b;
        int p = b.place("p", 0);
        arc(b.trans("t", false, 1.0).output, p);
        NetRun r;
        EXPECT_FALSE(r.go(b.net));
        EXPECT_EQ(r.status, kExitFailure);
        EXPECT_NE(r.text.find("error: net is unbounded: place p grows without limit"), std::string::npos) << r.text;
    }
    {
        // A producer cycling between idle and busy, leaving an item in the
        // buffer each time; the other places stay bounded. Found while the
        // graph is still small.
        NetBuilder b;
        int idle = b.place("idle", 1), busy = b.place("busy", 0), buf = b.place("buf", 0), ci = b.place("ci", 1);
        auto& make = b.trans("make", false, 1.0);
        arc(make.input, idle);
        arc(make.output, busy);
        auto& put = b.trans("put", false, 2.0);
        arc(put.input, busy);
        arc(put.output, idle);
        arc(put.output, buf);
        auto& take = b.trans("take", false, 3.0);
        arc(take.input, buf);
        arc(take.input, ci);
        arc(take.output, ci);
        NetRun r;
        r.limits.system = "pc";
        EXPECT_FALSE(r.go(b.net));
        EXPECT_NE(r.text.find("error: net is unbounded: place buf in system pc grows without limit"),
                  std::string::npos)
            << r.text;
    }
    {
        // Many tokens exchanged between two places: large counts, bounded.
        NetBuilder b;
        int x = b.place("x", 2000), y = b.place("y", 0);
        auto& xy = b.trans("xy", false, 1.0);
        arc(xy.input, x);
        arc(xy.output, y);
        auto& yx = b.trans("yx", false, 1.0);
        arc(yx.input, y, 2);
        arc(yx.output, x, 2);
        NetRun r;
        ASSERT_TRUE(r.go(b.net)) << r.text;
        EXPECT_EQ(r.g.size(), 2001u);
    }
}

TEST(PetriReach, NetsThatCannotBeJudgedStopAtTheMemoryBudget) {
    // Unbounded, but the inhibitor arc makes growth from a covered marking
    // no proof: the exploration runs until the budget is spent.
    NetBuilder b;
    int p = b.place("p", 0), q = b.place("q", 1);
    auto& t = b.trans("t", false, 1.0);
    arc(t.input, q);
    arc(t.output, p);
    arc(t.output, q);
    arc(t.inhibitor, p, 1 << 30);
    EXPECT_FALSE(net_is_monotone(b.net));
    NetRun r;
    r.limits.system = "grow";
    r.limits.max_bytes = 1 << 20;
    int reports = 0;
    r.limits.allocation_report = [&]() {
        ++reports;
        r.out.write("report\n");
    };
    EXPECT_FALSE(r.go(b.net));
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_EQ(reports, 1);
    const std::string head = "error: out of memory: reachability graph in system grow stopped at ";
    const std::size_t at = r.text.find(head);
    ASSERT_NE(at, std::string::npos) << r.text;
    EXPECT_LT(r.text.find("report\n"), at);
    // The count is the number of markings held, a multiple of the check
    // interval past the first one, and within the budget's reach.
    unsigned long reached = std::stoul(r.text.substr(at + head.size()));
    EXPECT_GT(reached, 4096u);
    EXPECT_LT(reached, (1u << 20) / 8);
    EXPECT_EQ(reached % 4096, 1u);
}

TEST(PetriReach, MonotoneNets) {
    NetBuilder b;
    int p = b.place("p", 1);
    auto& t = b.trans("t", false, 1.0);
    arc(t.input, p);
    EXPECT_TRUE(net_is_monotone(b.net));
    b.trans("i", true, 1.0);  // immediate: a second priority
    EXPECT_FALSE(net_is_monotone(b.net));
    b.net.transitions[1].priority = 0;
    EXPECT_TRUE(net_is_monotone(b.net));
    b.net.transitions[1].inhibitor.push_back({p, 0, nullptr});  // multiplicity 0 inhibits nothing
    EXPECT_TRUE(net_is_monotone(b.net));
    b.net.transitions[1].inhibitor[0].multiplicity = 2;
    EXPECT_FALSE(net_is_monotone(b.net));
}

}  // namespace
}  // namespace corvel
