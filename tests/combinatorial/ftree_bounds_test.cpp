// Bounds of coherent fault trees out of exact reach: pruned diagrams lie
// below / above the function they come from, the threshold search keeps the
// finest pair that fits, and on random coherent trees with shared gates and
// repeated events, built under a node budget too small for the exact
// diagrams, lower <= exact <= upper.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bdd/bdd.h"
#include "combinatorial/ftree_bounds.h"
#include "combinatorial/ftree_modules.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/random_ftree.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

// P(f) with independent variables, p by order position.
double probability_of(BddManager* m, bdd f, const std::vector<double>& p, std::unordered_map<bdd, double>& memo) {
    if (f == bdd_one(m)) return 1.0;
    if (f == bdd_zero(m)) return 0.0;
    if (auto it = memo.find(f); it != memo.end()) return it->second;
    const double x = p[static_cast<size_t>(bdd_if_index(m, f))];
    const double v = x * probability_of(m, bdd_then(m, f), p, memo) +
                     (1.0 - x) * probability_of(m, bdd_else(m, f), p, memo);
    memo[f] = v;
    return v;
}
double probability_of(BddManager* m, bdd f, const std::vector<double>& p) {
    std::unordered_map<bdd, double> memo;
    return probability_of(m, f, p, memo);
}

// g implies f.
bool implies(BddManager* m, bdd g, bdd f) {
    const bdd both = bdd_and(m, g, f ^ 1u);
    const bool none = both == bdd_zero(m);
    bdd_free(m, both);
    return none;
}

// A random function of and/or/not over the variables, with sharing.
bdd random_function(BddManager* m, std::mt19937& rng, const std::vector<bdd>& vars, int steps) {
    std::vector<bdd> pool;
    for (bdd v : vars) pool.push_back(bdd_identity(m, v));
    for (int s = 0; s < steps; ++s) {
        const bdd a = pool[rng() % pool.size()] ^ (rng() % 3 == 0 ? 1u : 0u);
        const bdd b = pool[rng() % pool.size()] ^ (rng() % 3 == 0 ? 1u : 0u);
        pool.push_back(rng() % 2 ? bdd_and(m, a, b) : bdd_or(m, a, b));
    }
    const bdd f = bdd_identity(m, pool.back());
    for (bdd h : pool) bdd_free(m, h);
    return f;
}

TEST(FtreeBounds, PrunedDiagramsLieBelowAndAboveTheirFunction) {
    std::mt19937 rng(9601);
    int pruned = 0;
    for (int round = 0; round < 200; ++round) {
        BddManager* m = bdd_init();
        const int n = 4 + static_cast<int>(rng() % 9);
        std::vector<bdd> vars;
        std::vector<double> p;
        for (int i = 0; i < n; ++i) {
            vars.push_back(bdd_new_var_last(m));
            p.push_back(0.01 + 0.98 * static_cast<double>(rng() % 1000) / 1000.0);
        }
        // Both polarities of the root: a complemented root asks for the
        // other bound of its node.
        const bdd f = random_function(m, rng, vars, 3 * n) ^ (round % 2 ? 1u : 0u);
        const double pf = probability_of(m, f, p);
        for (double threshold : {0.3, 0.05, 0.01, 1e-3}) {
            double cut_lo = 0.0, cut_hi = 0.0;
            const bdd lo = ft_prune(m, f, p, threshold, FtBound::Lower, &cut_lo);
            const bdd hi = ft_prune(m, f, p, threshold, FtBound::Upper, &cut_hi);
            ASSERT_NE(lo, kBddNull);
            ASSERT_NE(hi, kBddNull);
            EXPECT_TRUE(implies(m, lo, f)) << round << " " << threshold;
            EXPECT_TRUE(implies(m, f, hi)) << round << " " << threshold;
            // What is lost is at most the reach of the nodes cut.
            const double plo = probability_of(m, lo, p), phi = probability_of(m, hi, p);
            EXPECT_LE(pf - plo, cut_lo + 1e-12);
            EXPECT_LE(phi - pf, cut_hi + 1e-12);
            if (cut_lo == 0.0) {
                EXPECT_EQ(lo, f);
            } else {
                ++pruned;
            }
            bdd_free(m, lo);
            bdd_free(m, hi);
        }
        // Nothing lies below a threshold of 0; everything but the root lies
        // below one above 1, which leaves the constants.
        const bdd same = ft_prune(m, f, p, 0.0, FtBound::Lower, nullptr);
        EXPECT_EQ(same, f);
        bdd_free(m, same);
        if (!bdd_is_constant(m, f)) {
            const bdd zero = ft_prune(m, f, p, 2.0, FtBound::Lower, nullptr);
            const bdd one = ft_prune(m, f, p, 2.0, FtBound::Upper, nullptr);
            EXPECT_EQ(zero, bdd_zero(m));
            EXPECT_EQ(one, bdd_one(m));
        }
        bdd_free(m, f);
        bdd_quit(m);
    }
    EXPECT_GT(pruned, 100);
}

TEST(FtreeBounds, SearchKeepsTheFinestThresholdThatFits) {
    // A pass that fits down to 1e-9 and whose bounds close in with the
    // threshold.
    std::vector<double> tried;
    auto closing = [&](double threshold, FtBound way, FtPassInfo& info) -> std::optional<double> {
        tried.push_back(threshold);
        if (threshold < 1e-9) return std::nullopt;
        info.cut = true;
        return way == FtBound::Lower ? 0.5 - threshold : 0.5 + threshold;
    };
    std::optional<FtBoundPair> b = ft_bound_search(closing);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->exact);
    EXPECT_NEAR(b->lower, 0.5 - 1e-8, 1e-15);
    EXPECT_NEAR(b->upper, 0.5 + 1e-8, 1e-15);
    // 1e-4, 1e-6, 1e-8 fit (two passes each); 1e-10 is the first that fails.
    EXPECT_EQ(tried.size(), 7u);

    // A start that does not fit is made coarser, and the first fit is kept.
    tried.clear();
    auto coarse = [&](double threshold, FtBound way, FtPassInfo& info) -> std::optional<double> {
        tried.push_back(threshold);
        if (threshold < 0.5e-1) return std::nullopt;
        info.cut = true;
        return way == FtBound::Lower ? 0.1 : 0.9;
    };
    b = ft_bound_search(coarse);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->lower, 0.1);
    EXPECT_EQ(b->upper, 0.9);
    EXPECT_NEAR(tried.back(), 1.0, 1e-12);

    // The upper pass failing counts as not fitting; nothing fits at all.
    auto never = [](double, FtBound way, FtPassInfo& info) -> std::optional<double> {
        info.cut = true;
        if (way == FtBound::Upper) return std::nullopt;
        return 0.2;
    };
    EXPECT_FALSE(ft_bound_search(never));

    // A pass that cuts nothing gives the probability itself.
    auto exact = [](double threshold, FtBound way, FtPassInfo& info) -> std::optional<double> {
        info.cut = threshold > 1e-6;
        if (!info.cut) return 0.25;
        return way == FtBound::Lower ? 0.2 : 0.3;
    };
    b = ft_bound_search(exact);
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->exact);
    EXPECT_EQ(b->lower, 0.25);
    EXPECT_EQ(b->upper, 0.25);

    // A pass that filled a tenth of the memory is the last one tried.
    tried.clear();
    auto crowded = [&](double threshold, FtBound way, FtPassInfo& info) -> std::optional<double> {
        tried.push_back(threshold);
        info.cut = true;
        info.crowded = threshold < 1e-5;
        return way == FtBound::Lower ? 0.5 - threshold : 0.5 + threshold;
    };
    b = ft_bound_search(crowded);
    ASSERT_TRUE(b);
    EXPECT_EQ(tried.size(), 4u);
    EXPECT_NEAR(b->upper - b->lower, 2e-6, 1e-15);
}

// Sets the node budget of the order-free route for the life of the guard.
struct NodeBudget {
    explicit NodeBudget(long n) { setenv("CORVEL_FTREE_NODE_BUDGET", std::to_string(n).c_str(), 1); }
    ~NodeBudget() { unsetenv("CORVEL_FTREE_NODE_BUDGET"); }
};

// Coherent gates only (or, and, k-of-n).
std::string random_coherent_tree(std::mt19937& rng, int events, int gates, bool exponential) {
    static const RandomTreeShape shape{{"or", "and", "kofn", "or", "and"}, 0.01, 0.4, 4, 8};
    return random_ftree(rng, events, gates, exponential, shape);
}

struct Prepared {
    TreeRun run;
    SystemRecord* sys;
    explicit Prepared(const std::string& text, double t) : run(text), sys(&run.sys("f")) {
        bind_k_n(run.in, *sys, tree_model(*sys).root, kFatal);
        AnalysisRequest req;
        req.measure = Kw::Value;
        req.transient = true;
        req.time = t;
        bind_tree_components(run.in, *sys, req);
    }
};

TEST(FtreeBounds, RandomCoherentTreesUnderASmallBudgetAreBracketed) {
    std::mt19937 rng(1515);
    int bounded = 0, refused = 0, exact_anyway = 0;
    for (int round = 0; round < 150; ++round) {
        const bool exponential = round % 4 == 3;
        const double t = exponential ? 0.3 + 0.1 * (round % 7) : 0.0;
        const std::string text =
            random_coherent_tree(rng, 15 + static_cast<int>(rng() % 20), 30 + static_cast<int>(rng() % 50), exponential);
        Prepared exact(text, t);
        ASSERT_EQ(exact.run.status, 0) << text << exact.run.out;
        auto whole = build_fast_ftree(exact.run.in, *exact.sys);
        ASSERT_FALSE(whole->out_of_reach);
        const double want = evaluate_expo(fast_ftree_evaluate(exact.run.in, *exact.sys, *whole), t, exact.run.in.settings.tol);
        const long vars = bdd_vars(whole->m);
        if (whole->peak_nodes < vars + 40) continue;  // too small to leave room between the two
        // The peak counts garbage not yet collected: the budget is lowered
        // until the exact diagrams no longer fit.
        std::optional<FtBoundPair> b;
        bool beyond = false;
        for (long share = 2; share <= 64 && !beyond; share *= 2) {
            NodeBudget budget(vars + (whole->peak_nodes - vars) / share);
            Prepared small(text, t);
            std::unique_ptr<FtFastTree> tree;
            try {
                tree = build_fast_ftree(small.run.in, *small.sys);
            } catch (const ProgramExit& e) {
                FAIL() << "a coherent tree is never refused while building\n" << text << small.run.out;
            }
            if (!tree->out_of_reach) continue;
            beyond = true;
            b = fast_ftree_bounds(small.run.in, *small.sys, *tree, t);
        }
        if (!beyond) continue;
        if (!b) {
            ++refused;
            continue;
        }
        EXPECT_LE(b->lower, want * (1.0 + 1e-14)) << text;
        EXPECT_GE(b->upper, want * (1.0 - 1e-14)) << text;
        EXPECT_GE(b->lower, 0.0);
        EXPECT_LE(b->upper, 1.0);
        if (b->exact) {
            EXPECT_NEAR(b->lower, want, 1e-13 + 1e-12 * want);
            ++exact_anyway;
        } else {
            ++bounded;
        }
    }
    // The generator and the budget must produce real bounds most of the time.
    EXPECT_GT(bounded, 30) << "refused " << refused << ", exact " << exact_anyway;
}

TEST(FtreeBounds, RequestsPrintTheBoundsAndNoValue) {
    std::mt19937 rng(26);
    // A coherent tree large enough for a small budget to cut into it.
    std::string text;
    long peak = 0, vars = 0;
    for (int tries = 0; tries < 50 && peak < vars + 200; ++tries) {
        text = random_coherent_tree(rng, 25, 60, false);
        Prepared p(text, 0.0);
        auto whole = build_fast_ftree(p.run.in, *p.sys);
        peak = whole->peak_nodes;
        vars = bdd_vars(whole->m);
    }
    ASSERT_GE(peak, vars + 200);
    NodeBudget budget(vars + (peak - vars) / 8);
    TreeRun run(text + "format 8\nsysprob(f)\n");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(run.printed("warning: exact probability out of reach within memory; bounds given for system f"))
        << run.out;
    EXPECT_TRUE(run.printed("lower bound:")) << run.out;
    EXPECT_TRUE(run.printed("upper bound:")) << run.out;
    EXPECT_TRUE(run.printed("is not a finite number")) << run.out;
}

TEST(FtreeBounds, NonCoherentTreesOutOfReachAreRefused) {
    // Every pair of events joined by an exclusive or, then all of them:
    // not coherent, and larger than the budget.
    std::string text = "ftree f\n";
    for (int i = 0; i < 16; ++i) text += "repeat e" + std::to_string(i) + " prob(0.3)\n";
    std::string top = "or top";
    for (int i = 0; i < 15; ++i) {
        const std::string a = "e" + std::to_string(i), b = "e" + std::to_string(i + 1), k = std::to_string(i);
        text += "not n" + k + " " + a + "\nand x" + k + " n" + k + " " + b + "\n";
        top += " x" + k;
    }
    text += top + "\nand both top e0\nend\nsysprob(f)\n";
    NodeBudget budget(20);
    TreeRun run(text);
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(run.printed("decision diagram stopped at")) << run.out;
    EXPECT_FALSE(run.printed("bounds given")) << run.out;
}

}  // namespace
}  // namespace corvel
