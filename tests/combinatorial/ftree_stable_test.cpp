// The stable route of fault trees with repeated events: the diagrams
// evaluated at t from the events' own values agree with the closed form
// wherever the closed form holds its digits, under both the order-free
// modules and the ordered diagram, complements and masses included; and a
// request for numbers only takes that route when the closed form would be
// too large to expand.

#include "combinatorial/ftree_stable.h"

#include <gtest/gtest.h>

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

// The tree "f" of the run with its k-of-n gates and components bound as
// request `kw` binds them.
SystemRecord& bound(TreeRun& run, Kw kw) {
    SystemRecord& sys = run.sys("f");
    bind_k_n(run.in, sys, tree_model(sys).root, kFatal);
    AnalysisRequest req;
    req.measure = kw;
    bind_tree_components(run.in, sys, req);
    return sys;
}

struct Solved {
    Exponomial closed;
    std::shared_ptr<const NumericDist> fast, ordered;
};

Solved solve(TreeRun& run) {
    SystemRecord& sys = bound(run, Kw::Cdf);
    Solved s;
    std::shared_ptr<FtFastTree> fast = build_fast_ftree(run.in, sys);
    s.closed = fast_ftree_evaluate(run.in, sys, *fast);
    if (fast->constant < 0) s.fast = diagram_stable_dist(run.in, sys, fast->m, fast->modules, fast->top_negated, fast);
    std::shared_ptr<FtBddInfo> info = analyze_ftree_with_bdd(run.in, sys);
    s.ordered = diagram_stable_dist(run.in, sys, info->m, {FtModule{info->root, info->listvar, 0}}, false, info);
    return s;
}

void expect_agrees(const NumericDist& d, const Exponomial& F, const Tolerances& tol, const std::string& text) {
    for (double t : {0.0, 0.05, 0.4, 1.3, 6.0}) {
        const GuardedProb g = d.at(t);
        const double want = evaluate_expo(F, t, tol);
        EXPECT_NEAR(g.f.value, want, 1e-12) << "t = " << t << "\n" << text;
        EXPECT_NEAR(g.r.value, 1.0 - want, 1e-12) << "t = " << t << "\n" << text;
        EXPECT_GE(g.f.value, 0.0);
        EXPECT_LE(g.f.value, 1.0);
        // Both sides are summed on their own, so together they make 1.
        EXPECT_NEAR(g.f.value + g.r.value, 1.0, 1e-14);
        EXPECT_LT(g.f.error, 1e-12);
    }
    EXPECT_NEAR(d.mass_at_zero(), evaluate_expo(F, 0.0, tol), 1e-12) << text;
    EXPECT_NEAR(d.mass_at_infinity(), 1.0 - evaluate_expo(F, 1e6, tol), 1e-9) << text;
}

TEST(FtreeStable, DiagramsAtTAgreeWithTheClosedFormOnRandomTrees) {
    static const RandomTreeShape shape{{"or", "and", "nor", "nand", "kofn", "not", "or", "and"}, 0.02, 0.9, 3, 6};
    std::mt19937 rng(1210);
    for (int round = 0; round < 150; ++round) {
        const int events = 2 + static_cast<int>(rng() % 12);
        const int gates = 1 + static_cast<int>(rng() % 20);
        const std::string text = random_ftree(rng, events, gates, true, shape);
        TreeRun run(text);
        ASSERT_EQ(run.status, 0) << text << run.out;
        const Solved s = solve(run);
        const Tolerances& tol = run.in.settings.tol;
        if (s.fast) expect_agrees(*s.fast, s.closed, tol, text);
        expect_agrees(*s.ordered, s.closed, tol, text);
    }
}

// The cut-set route (bdd off): the disjoint products at t, groups of zeros
// included, against their closed form on coherent random trees.
TEST(FtreeStable, DisjointProductsAtTAgreeWithTheirClosedForm) {
    static const RandomTreeShape shape{{"or", "and", "kofn", "or", "and"}, 0.02, 0.9, 3, 6};
    std::mt19937 rng(1012);
    int groups = 0;
    for (int round = 0; round < 100; ++round) {
        const int events = 2 + static_cast<int>(rng() % 10);
        const int gates = 1 + static_cast<int>(rng() % 12);
        const std::string text = random_ftree(rng, events, gates, true, shape);
        TreeRun run(text);
        ASSERT_EQ(run.status, 0) << text << run.out;
        SystemRecord& sys = bound(run, Kw::Cdf);
        const TreeModel& tm = tree_model(sys);
        const std::vector<Cube> cubes = gkg_algorithm(run.in, sys, tm.map, compute_minsum(run.in, sys));
        for (const Cube& c : cubes)
            for (const Coordinate& x : c)
                if (x.value == 0 && !x.unique) ++groups;
        const Exponomial closed = form_exponomial(run.in, sys, tm.map, cubes);
        const auto d = disjoint_sum_dist(run.in, sys, tm.map, cubes);
        expect_agrees(*d, closed, run.in.settings.tol, text);
    }
    // Some cubes must have zeros that are not unique.
    EXPECT_GT(groups, 0);
}

TEST(FtreeStable, AComplementedTopAndAnEventThatNeverFails) {
    // nor over a and b: the top holds while neither has failed, e^(-3t);
    // with c, which never fails, the or below cannot reach 1 at infinity.
    TreeRun run(
        "ftree f\nrepeat a exp(1)\nrepeat b exp(2)\nrepeat c prob(0)\n"
        "or g a c\nnor top g b\nend\n");
    ASSERT_EQ(run.status, 0) << run.out;
    const Solved s = solve(run);
    for (const auto& d : {s.fast, s.ordered}) {
        ASSERT_TRUE(d);
        EXPECT_NEAR(d->at(0.5).f.value, std::exp(-1.5), 1e-15);
        EXPECT_NEAR(d->at(0.5).r.value, -std::expm1(-1.5), 1e-15);
        EXPECT_DOUBLE_EQ(d->mass_at_zero(), 1.0);
        EXPECT_DOUBLE_EQ(d->mass_at_infinity(), 1.0);
        EXPECT_EQ(d->at(-1.0).f.value, 0.0);
    }
}

TEST(FtreeStable, PredictedTermsGrowWithDistinctRatesOnly) {
    // Twenty and gates of three events under an or: every gate multiplies
    // the closed form's terms.
    std::string text = "ftree f\n";
    for (int i = 0; i < 60; ++i) text += "repeat e" + std::to_string(i) + " exp(" + std::to_string(1 + i) + ")\n";
    for (int g = 0; g < 20; ++g)
        text += "and a" + std::to_string(g) + " e" + std::to_string(3 * g) + " e" + std::to_string(3 * g + 1) + " e" +
                std::to_string(3 * g + 2) + "\n";
    text += "or top";
    for (int g = 0; g < 20; ++g) text += " a" + std::to_string(g);
    text += "\nend\n";
    TreeRun run(text);
    ASSERT_EQ(run.status, 0) << run.out;
    SystemRecord& sys = bound(run, Kw::Value);
    std::shared_ptr<FtFastTree> fast = build_fast_ftree(run.in, sys);
    EXPECT_GT(predicted_diagram_terms(sys, fast->m, fast->modules), 1e6);

    TreeRun small("ftree f\nrepeat a exp(1)\nrepeat b exp(2)\nand top a b\nend\n");
    SystemRecord& two = bound(small, Kw::Value);
    std::shared_ptr<FtFastTree> pair = build_fast_ftree(small.in, two);
    // (1 - e^-t)(1 - e^-2t): at most 2·2 terms from the two factors.
    const double terms = predicted_diagram_terms(two, pair->m, pair->modules);
    EXPECT_GE(terms, 4.0);
    EXPECT_LE(terms, 9.0);
}

}  // namespace
}  // namespace corvel
