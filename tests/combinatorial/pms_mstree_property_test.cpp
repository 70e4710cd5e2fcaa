// Phased missions and multi-state trees against brute-force enumeration:
// random missions over random phase trees (failure phase of every
// component enumerated), and random multi-state trees (state of every
// component enumerated).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "combinatorial/mstree_solve.h"
#include "combinatorial/pms_solve.h"
#include "combinatorial/tree.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

// A two-level tree: top = op0(g1, g2), gi = opi(components).
struct SmallTree {
    bool top_or = true;
    bool g_or[2] = {true, false};
    std::vector<int> g_comps[2];

    bool eval(const std::function<bool(int)>& failed) const {
        bool g[2];
        for (int i = 0; i < 2; ++i) {
            bool acc = !g_or[i];
            for (int c : g_comps[i]) acc = g_or[i] ? (acc || failed(c)) : (acc && failed(c));
            g[i] = acc;
        }
        return top_or ? (g[0] || g[1]) : (g[0] && g[1]);
    }
};

// The value as the model text writes it.
double written(double x) { return std::strtod(format_string("%.12g", x).c_str(), nullptr); }

SmallTree random_tree(std::mt19937& rng, int ncomp, int prefix_states, std::uniform_int_distribution<int>& coin) {
    SmallTree t;
    t.top_or = coin(rng) != 0;
    for (int i = 0; i < 2; ++i) {
        t.g_or[i] = coin(rng) != 0;
        std::vector<int> pool(static_cast<size_t>(ncomp * prefix_states));
        for (size_t k = 0; k < pool.size(); ++k) pool[k] = static_cast<int>(k);
        std::shuffle(pool.begin(), pool.end(), rng);
        const int size = 2 + coin(rng);
        t.g_comps[i].assign(pool.begin(), pool.begin() + size);
    }
    return t;
}

TEST(PmsProperty, MissionMatchesEnumerationOverFailurePhases) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> coin(0, 1);
    std::uniform_real_distribution<double> rate(0.05, 0.8), dur(0.5, 2.0);
    for (int trial = 0; trial < 40; ++trial) {
        const int ncomp = 3 + trial % 3, nph = 1 + trial % 4;
        std::vector<SmallTree> trees;
        std::vector<std::map<int, double>> rates(static_cast<size_t>(nph));
        std::vector<double> d;
        std::string text;
        for (int j = 0; j < nph; ++j) {
            trees.push_back(random_tree(rng, ncomp, 1, coin));
            text += "ftree f" + std::to_string(j) + "\n";
            for (int i = 0; i < 2; ++i)
                for (int c : trees.back().g_comps[i]) rates[static_cast<size_t>(j)][c] = 0.0;
            for (auto& [c, r] : rates[static_cast<size_t>(j)]) {
                r = written(rate(rng));
                text += format_string("repeat c%d exp(%.12g)\n", c, r);
            }
            for (int i = 0; i < 2; ++i) {
                text += format_string("%s g%d", trees.back().g_or[i] ? "or" : "and", i);
                for (int c : trees.back().g_comps[i]) text += format_string(" c%d", c);
                text += "\n";
            }
            text += format_string("%s top g0 g1\nend\n", trees.back().top_or ? "or" : "and");
            d.push_back(written(dur(rng)));
        }
        text += "pms m\n";
        for (int j = 0; j < nph; ++j) text += format_string("%d f%d %.12g\n", j + 1, j, d[static_cast<size_t>(j)]);
        text += "end\n";
        TreeRun r(text);
        ASSERT_EQ(r.status, 0) << text << r.out;
        double total = 0.0;
        for (double x : d) total += x;
        for (double t : {0.3 * total, 0.75 * total, total}) {
            const double got = analyze_pms_with_bdd(r.in, r.sys("m"), t).p_res;
            // Phase containing t, and each component's failure probability by
            // the end of every phase up to it.
            int last = 0;
            for (double end = d[0]; end < t && last + 1 < nph; end += d[static_cast<size_t>(++last)]) {}
            std::vector<std::vector<double>> P(static_cast<size_t>(last + 1), std::vector<double>(ncomp));
            double start = 0.0;
            for (int j = 0; j <= last; ++j) {
                const double tau = std::min(d[static_cast<size_t>(j)], t - start);
                for (int c = 0; c < ncomp; ++c) {
                    const double prev = j ? P[static_cast<size_t>(j - 1)][c] : 0.0;
                    auto it = rates[static_cast<size_t>(j)].find(c);
                    P[static_cast<size_t>(j)][c] =
                        it == rates[static_cast<size_t>(j)].end() ? prev : 1 - (1 - prev) * std::exp(-it->second * tau);
                }
                start += d[static_cast<size_t>(j)];
            }
            // fail[c] = phase in which c fails, last + 1 for never.
            std::vector<int> fail(static_cast<size_t>(ncomp), 0);
            double want = 0.0;
            for (;;) {
                double pr = 1.0;
                for (int c = 0; c < ncomp; ++c) {
                    const int k = fail[static_cast<size_t>(c)];
                    const double upto = k > 0 ? P[static_cast<size_t>(k - 1)][c] : 0.0;
                    pr *= k > last ? 1 - P[static_cast<size_t>(last)][c] : P[static_cast<size_t>(k)][c] - upto;
                }
                bool down = false;
                for (int j = 0; j <= last && !down; ++j)
                    down = trees[static_cast<size_t>(j)].eval([&](int c) { return fail[static_cast<size_t>(c)] <= j; });
                if (down) want += pr;
                int c = 0;
                while (c < ncomp && ++fail[static_cast<size_t>(c)] > last + 1) fail[static_cast<size_t>(c++)] = 0;
                if (c == ncomp) break;
            }
            EXPECT_NEAR(got, want, 1e-12) << text << "t = " << t;
        }
    }
}

TEST(MstreeProperty, TopEventsMatchEnumerationOverStates) {
    std::mt19937 rng(8122026);
    std::uniform_int_distribution<int> coin(0, 1);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    for (int trial = 0; trial < 40; ++trial) {
        const int ncomp = 2 + trial % 3, nstates = 2 + trial % 2;
        // Event e = c·nstates + k is component c in state k.
        std::vector<double> p(static_cast<size_t>(ncomp * nstates));
        std::string text = "mstree ms\n";
        for (int c = 0; c < ncomp; ++c) {
            double left = 1.0;
            for (int k = 0; k < nstates; ++k) {
                // exp(r) with F(1) close to v.
                const double r = written(-std::log1p(-left * share(rng) * 0.9));
                const double v = -std::expm1(-r);
                left -= v;
                p[static_cast<size_t>(c * nstates + k)] = v;
                text += format_string("repeat c%d:%d exp(%.12g)\n", c, k, r);
            }
        }
        std::vector<SmallTree> tops;
        for (int top = 0; top < 2; ++top) {
            tops.push_back(random_tree(rng, ncomp, nstates, coin));
            for (int i = 0; i < 2; ++i) {
                text += format_string("%s g%d_%d", tops.back().g_or[i] ? "or" : "and", top, i);
                for (int e : tops.back().g_comps[i]) text += format_string(" c%d:%d", e / nstates, e % nstates);
                text += "\n";
            }
            text += format_string("%s top%d g%d_0 g%d_1\n", tops.back().top_or ? "or" : "and", top, top, top);
        }
        text += "end\n";
        TreeRun r(text);
        ASSERT_EQ(r.status, 0) << text << r.out;
        SystemRecord& sys = r.sys("ms");
        ASSERT_GT(sys.nodes.size(), 0u) << text << r.out;
        MstreeAnalysis& a = analyze_mstree_with_bdd(r.in, sys);
        EXPECT_EQ(a.ncpstate, nstates);
        EXPECT_EQ(a.num_comp(), ncomp);
        AnalysisRequest req;
        req.measure = Kw::Tvalue;
        req.transient = true;
        req.time = 1.0;
        bind_tree_components(r.in, sys, req);
        for (int top = 0; top < 2; ++top) {
            const int rec = sys.names.find("top" + std::to_string(top));
            const double got = evaluate_expo(mstbdd_form_exponomial(r.in, sys, rec), 1.0, r.in.settings.tol);
            // state[c] = nstates means none of the named states.
            std::vector<int> state(static_cast<size_t>(ncomp), 0);
            double want = 0.0;
            for (;;) {
                double pr = 1.0;
                for (int c = 0; c < ncomp; ++c) {
                    const int k = state[static_cast<size_t>(c)];
                    if (k < nstates) {
                        pr *= p[static_cast<size_t>(c * nstates + k)];
                    } else {
                        double rest = 1.0;
                        for (int s = 0; s < nstates; ++s) rest -= p[static_cast<size_t>(c * nstates + s)];
                        pr *= rest;
                    }
                }
                if (tops[static_cast<size_t>(top)].eval(
                        [&](int e) { return state[static_cast<size_t>(e / nstates)] == e % nstates; }))
                    want += pr;
                int c = 0;
                while (c < ncomp && ++state[static_cast<size_t>(c)] > nstates) state[static_cast<size_t>(c++)] = 0;
                if (c == ncomp) break;
            }
            EXPECT_NEAR(got, want, 1e-12) << text << "top" << top;
        }
    }
}

TEST(MstreeNames, StateNumbersAfterTheLastColon) {
    std::string comp;
    int k = -1;
    EXPECT_TRUE(split_state_name("pump:2", comp, k));
    EXPECT_EQ(comp, "pump");
    EXPECT_EQ(k, 2);
    EXPECT_TRUE(split_state_name("a:b:10", comp, k));
    EXPECT_EQ(comp, "a:b");
    EXPECT_EQ(k, 10);
    EXPECT_FALSE(split_state_name("pump", comp, k));
    EXPECT_FALSE(split_state_name("pump:", comp, k));
    EXPECT_FALSE(split_state_name(":3", comp, k));
    EXPECT_FALSE(split_state_name("pump:x1", comp, k));
    EXPECT_FALSE(split_state_name("pump:1234567", comp, k));
}

}  // namespace
}  // namespace corvel
