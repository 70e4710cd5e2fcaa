// The order-free route of fault trees (modules, simplified graph, heuristic
// orders) against the depth-first route of the listings: random trees with
// shared gates, repeated events, complemented gates and k-of-n gates give
// the same probabilities and the same distributions under every heuristic;
// and the cases where simplification alone decides the answer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "combinatorial/ftree_modules.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/random_ftree.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

// Trees with complemented gates (nor, nand, not) and k-of-n gates.
std::string random_tree(std::mt19937& rng, int events, int gates, bool exponential) {
    static const RandomTreeShape shape{{"or", "and", "nor", "nand", "kofn", "not", "or", "and"}, 0.02, 0.9, 3, 6};
    return random_ftree(rng, events, gates, exponential, shape);
}

struct Routes {
    Exponomial ordered, free;
    std::vector<Exponomial> heuristics;
};

Routes solve_both(TreeRun& run, long trial_nodes = kFtTrialNodes) {
    SystemRecord& sys = run.sys("f");
    TreeModel& tm = tree_model(sys);
    bind_k_n(run.in, sys, tm.root, kFatal);
    AnalysisRequest req;
    req.measure = Kw::Cdf;
    bind_tree_components(run.in, sys, req);
    Routes r;
    // Both on the same system, as a cdf request followed by a listing does.
    for (FtOrder order : {FtOrder::DepthFirst, FtOrder::Weight, FtOrder::RepeatedFirst, FtOrder::Leftmost,
                          FtOrder::LeftmostWeight, FtOrder::Force, FtOrder::Adaptive}) {
        auto fast = build_fast_ftree(run.in, sys, order, trial_nodes);
        r.heuristics.push_back(fast_ftree_evaluate(run.in, sys, *fast));
    }
    auto info = analyze_ftree_with_bdd(run.in, sys);
    r.ordered = ftbdd_evaluate(run.in, sys, *info, info->root);
    return r;
}

TEST(FtreeModules, OrderFreeRouteEqualsTheOrderedRouteOnRandomTrees) {
    std::mt19937 rng(27);
    int with_modules = 0;
    for (int round = 0; round < 300; ++round) {
        const bool exponential = round % 3 == 2;
        const int events = 2 + static_cast<int>(rng() % 14);
        const int gates = 1 + static_cast<int>(rng() % 25);
        const std::string text = random_tree(rng, events, gates, exponential);
        TreeRun run(text);
        ASSERT_EQ(run.status, 0) << text << run.out;
        Routes r;
        try {
            r = solve_both(run);
        } catch (const ProgramExit& e) {
            FAIL() << "status " << e.status << "\n" << text << run.out;
        }
        const Tolerances& tol = run.in.settings.tol;
        for (double t : exponential ? std::vector<double>{0.1, 0.7, 2.5} : std::vector<double>{0.0}) {
            const double want = evaluate_expo(r.ordered, t, tol);
            ASSERT_GE(want, -1e-12) << text;
            ASSERT_LE(want, 1.0 + 1e-12) << text;
            for (const Exponomial& F : r.heuristics)
                EXPECT_NEAR(evaluate_expo(F, t, tol), want, 1e-11 + 1e-9 * want) << "t = " << t << "\n" << text;
        }
        TreeRun count(text);
        SystemRecord& sys = count.sys("f");
        bind_k_n(count.in, sys, tree_model(sys).root, kFatal);
        if (build_fast_ftree(count.in, sys)->modules.size() > 1) ++with_modules;
    }
    // The generator must exercise both kinds of trees.
    EXPECT_GT(with_modules, 10);
    EXPECT_LT(with_modules, 290);
}

// Modules large enough for the adaptive order's trials, under budgets that
// stop every attempt at once, stop them part way (the order that got
// furthest is built again without a budget), or let them complete (the
// smallest diagram is kept): the same numbers as the ordered route.
TEST(FtreeModules, AdaptiveOrderEqualsTheOrderedRouteOnLargeModules) {
    std::mt19937 rng(2709);
    for (int round = 0; round < 36; ++round) {
        const bool exponential = round % 4 == 3;
        const int events = 8 + static_cast<int>(rng() % 12);
        const int gates = 40 + static_cast<int>(rng() % 40);
        const std::string text = random_tree(rng, events, gates, exponential);
        const long budget = round % 3 == 0 ? 1 : round % 3 == 1 ? 40 : kFtTrialNodes;
        TreeRun run(text);
        ASSERT_EQ(run.status, 0) << text << run.out;
        Routes r;
        try {
            r = solve_both(run, budget);
        } catch (const ProgramExit& e) {
            FAIL() << "status " << e.status << "\n" << text << run.out;
        }
        const Tolerances& tol = run.in.settings.tol;
        for (double t : exponential ? std::vector<double>{0.3, 1.9} : std::vector<double>{0.0}) {
            const double want = evaluate_expo(r.ordered, t, tol);
            for (const Exponomial& F : r.heuristics)
                EXPECT_NEAR(evaluate_expo(F, t, tol), want, 1e-11 + 1e-9 * want)
                    << "budget " << budget << ", t = " << t << "\n" << text;
        }
    }
}

double probability(const std::string& text) {
    TreeRun run(text);
    EXPECT_EQ(run.status, 0) << run.out;
    SystemRecord& sys = run.sys("f");
    bind_k_n(run.in, sys, tree_model(sys).root, kFatal);
    AnalysisRequest req;
    req.measure = Kw::Cdf;
    bind_tree_components(run.in, sys, req);
    auto fast = build_fast_ftree(run.in, sys);
    return evaluate_expo(fast_ftree_evaluate(run.in, sys, *fast), 0.0, run.in.settings.tol);
}

TEST(FtreeModules, SimplificationDecidesConstantsAndComplements) {
    // a and not a never happens; its complement always does.
    const std::string never =
        "ftree f\nrepeat a prob(0.3)\nrepeat b prob(0.6)\nnot na a\nand g a na\nand g2 b na\nor top g g2\nend\n";
    // top = (a and not a) or (b and not a) = b·(1 − a)
    EXPECT_NEAR(probability(never), 0.6 * 0.7, 1e-15);
    const std::string always =
        "ftree f\nrepeat a prob(0.3)\nrepeat b prob(0.6)\nnot na a\nor g a na\nand top g b\nend\n";
    EXPECT_NEAR(probability(always), 0.6, 1e-15);
    const std::string constant_top =
        "ftree f\nrepeat a prob(0.3)\nrepeat b prob(0.6)\nnot na a\nor g a na\nnot top g\nend\n";
    EXPECT_EQ(probability(constant_top), 0.0);
    // A nor of two modules, one of them shared by two gates of the other side.
    const std::string shared =
        "ftree f\nrepeat a prob(0.1)\nrepeat b prob(0.2)\nrepeat c prob(0.3)\nrepeat d prob(0.4)\n"
        "and m a b\nor x m c\nor y m d\nand z x y\nnor top z c\nend\n";
    // z = m or (c and d); top = not(z or c) = (1 − c)·(1 − m), with m = ab.
    EXPECT_NEAR(probability(shared), 0.7 * (1.0 - 0.02), 1e-15);
}

TEST(FtreeModules, ModulesAreTheIndependentSubtrees) {
    // top = (a or b) and (c or d) and (e and (a or f)): the first and the
    // last share a, so they form one module with their parent; c or d is a
    // module of its own.
    TreeRun run(
        "ftree f\nrepeat a prob(0.1)\nrepeat b prob(0.2)\nrepeat c prob(0.3)\nrepeat d prob(0.4)\n"
        "repeat e prob(0.5)\nrepeat f prob(0.6)\nor ab a b\nor cd c d\nor af a f\nand eaf e af\n"
        "and top ab cd eaf\nend\n");
    SystemRecord& sys = run.sys("f");
    bind_k_n(run.in, sys, tree_model(sys).root, kFatal);
    AnalysisRequest req;
    req.measure = Kw::Cdf;
    bind_tree_components(run.in, sys, req);
    auto fast = build_fast_ftree(run.in, sys);
    ASSERT_EQ(fast->modules.size(), 2u);
    // The module c or d has the two events; the top has a, b, e, f and it.
    EXPECT_EQ(fast->modules[0].vars.size(), 2u);
    EXPECT_EQ(fast->modules[1].vars.size(), 5u);
    const double cd = 1 - 0.7 * 0.6;
    // (a or b) and (a or f) = a + (1 − a)·b·f
    const double joint = 0.1 + 0.9 * 0.2 * 0.6;
    EXPECT_NEAR(evaluate_expo(fast_ftree_evaluate(run.in, sys, *fast), 0.0, run.in.settings.tol),
                joint * cd * 0.5, 1e-15);
}

TEST(FtreeModules, SmallProbabilitiesKeepTheirDigitsThroughComplements) {
    // Two ors of 20 events of probability 1e-9, joined through complements:
    // not (not o or not p) = o and p, about 4e-16, whose diagram reaches
    // it through nodes of value close to 1.
    std::string text = "ftree f\n";
    for (int i = 0; i < 40; ++i) text += "repeat e" + std::to_string(i) + " prob(1e-9)\n";
    text += "or o";
    for (int i = 0; i < 40; i += 2) text += " e" + std::to_string(i);
    text += "\nor p";
    for (int i = 1; i < 40; i += 2) text += " e" + std::to_string(i);
    text += "\nnot no o\nnot np p\nor either no np\nnot top either\nend\n";
    const double one = -std::expm1(20.0 * std::log1p(-1e-9));  // 1 − (1 − 1e-9)^20
    EXPECT_NEAR(probability(text), one * one, 1e-13 * one * one);
}

}  // namespace
}  // namespace corvel
