// Reliability graphs: the decision diagram, the paths with disjoint products
// and an enumeration of every edge state agree on random graphs (two-way and
// repeated edges, several sources and sinks); the bounds bracket the exact
// value; long chains and very large grids end cleanly.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "combinatorial/relgraph_blocks.h"
#include "combinatorial/relgraph_bounds.h"
#include "combinatorial/relgraph_solve.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

struct RandomEdge {
    int from, to;
    double p;        // failure probability
    bool two_way;
    int owner;       // the edge whose state it shares
};

// Random edges over `nodes` nodes; the later ones are two-way.
std::vector<RandomEdge> random_edges(std::mt19937& rng, int nodes, int count, bool repeats) {
    std::vector<RandomEdge> edges;
    for (int i = 0; i < count; ++i) {
        RandomEdge e;
        e.from = static_cast<int>(rng() % static_cast<unsigned>(nodes));
        do e.to = static_cast<int>(rng() % static_cast<unsigned>(nodes));
        while (e.to == e.from);
        e.p = 0.05 + 0.9 * static_cast<double>(rng() % 1000) / 1000.0;
        e.two_way = i >= count - 2 && rng() % 2 == 0;
        e.owner = i;
        edges.push_back(e);
    }
    // Two-way edges follow "bidirect", so they close the list.
    for (size_t i = 1; i < edges.size(); ++i) edges[i].two_way = edges[i].two_way || edges[i - 1].two_way;
    if (repeats && count > 2) {
        // The last one-way edge repeats the first.
        for (int i = count - 1; i > 0; --i)
            if (!edges[static_cast<size_t>(i)].two_way) {
                edges[static_cast<size_t>(i)].owner = 0;
                break;
            }
    }
    return edges;
}

std::string graph_text(const std::vector<RandomEdge>& edges) {
    std::string text = "relgraph g\n";
    auto line = [&](const RandomEdge& e, size_t i) {
        std::string s = "n" + std::to_string(e.from) + " n" + std::to_string(e.to) + " prob(" + std::to_string(e.p) + ")";
        for (size_t j = i + 1; j < edges.size(); ++j)
            if (edges[j].owner == static_cast<int>(i) && j != i)
                s += " transfer n" + std::to_string(edges[j].from) + " n" + std::to_string(edges[j].to);
        return s + "\n";
    };
    bool two_way = false;
    for (size_t i = 0; i < edges.size(); ++i) {
        if (edges[i].owner != static_cast<int>(i)) continue;
        if (edges[i].two_way && !two_way) {
            text += "bidirect\n";
            two_way = true;
        }
        text += line(edges[i], i);
    }
    return text + "end\n";
}

// P(no working path from a source to a sink), summed over every state of
// the independent edges; sources have no incoming, sinks no outgoing edges.
double enumerate_unreliability(const std::vector<RandomEdge>& edges, int nodes) {
    std::vector<int> in_deg(static_cast<size_t>(nodes)), out_deg(static_cast<size_t>(nodes)), used(static_cast<size_t>(nodes));
    for (const RandomEdge& e : edges) {
        used[static_cast<size_t>(e.from)] = used[static_cast<size_t>(e.to)] = 1;
        ++out_deg[static_cast<size_t>(e.from)];
        ++in_deg[static_cast<size_t>(e.to)];
        if (e.two_way) {
            ++out_deg[static_cast<size_t>(e.to)];
            ++in_deg[static_cast<size_t>(e.from)];
        }
    }
    std::vector<int> owners;
    for (size_t i = 0; i < edges.size(); ++i)
        if (edges[i].owner == static_cast<int>(i)) owners.push_back(static_cast<int>(i));
    double down = 0.0;
    for (unsigned s = 0; s < (1u << owners.size()); ++s) {
        std::vector<char> works(edges.size());
        double w = 1.0;
        for (size_t k = 0; k < owners.size(); ++k) {
            const bool up = (s >> k) & 1u;
            w *= up ? 1.0 - edges[static_cast<size_t>(owners[k])].p : edges[static_cast<size_t>(owners[k])].p;
            for (size_t i = 0; i < edges.size(); ++i)
                if (edges[i].owner == owners[k]) works[i] = up;
        }
        std::vector<char> reach(static_cast<size_t>(nodes));
        for (int v = 0; v < nodes; ++v) reach[static_cast<size_t>(v)] = used[static_cast<size_t>(v)] && in_deg[static_cast<size_t>(v)] == 0;
        for (bool grew = true; grew;) {
            grew = false;
            for (size_t i = 0; i < edges.size(); ++i) {
                if (!works[i]) continue;
                const RandomEdge& e = edges[i];
                auto cross = [&](int a, int b) {
                    if (reach[static_cast<size_t>(a)] && !reach[static_cast<size_t>(b)]) reach[static_cast<size_t>(b)] = grew = true;
                };
                cross(e.from, e.to);
                if (e.two_way) cross(e.to, e.from);
            }
        }
        bool up = false;
        for (int v = 0; v < nodes; ++v) up = up || (used[static_cast<size_t>(v)] && out_deg[static_cast<size_t>(v)] == 0 && reach[static_cast<size_t>(v)]);
        if (!up) down += w;
    }
    return down;
}

double exact(TreeRun& run, bool bdd) {
    run.in.settings.use_bdd = bdd;
    SystemRecord& sys = run.sys("g");
    relgraph_state(sys) = RelgraphState{};
    AnalysisRequest req;
    req.measure = Kw::Value;
    req.transient = true;
    req.time = 1.0;
    analyze_relgraph_system(run.in, sys, req);
    return evaluate_expo(sys.s_dist, 1.0, run.in.settings.tol);
}

double bound(TreeRun& run, Kw kind, double t = 1.0) {
    run.in.settings.use_bdd = true;
    SystemRecord& sys = run.sys("g");
    AnalysisRequest req;
    req.measure = kind;
    req.transient = true;
    req.time = t;
    analyze_relgraph_system(run.in, sys, req);
    return relgraph_bound(run.in, sys, kind, t);
}

TEST(RelgraphSolve, DiagramPathsAndEnumerationAgreeAndBoundsBracket) {
    std::mt19937 rng(77);
    int checked = 0;
    for (int round = 0; round < 60; ++round) {
        const int nodes = 3 + static_cast<int>(rng() % 5);
        const int count = 3 + static_cast<int>(rng() % 9);
        const bool repeats = round % 3 == 0;
        std::vector<RandomEdge> edges = random_edges(rng, nodes, count, repeats);
        const std::string text = graph_text(edges);
        TreeRun run(text);
        if (run.status != 0) continue;  // no source or no sink
        ++checked;
        const double want = enumerate_unreliability(edges, nodes);
        try {
            EXPECT_NEAR(exact(run, true), want, 1e-12) << text;
            if (!repeats) {
                EXPECT_NEAR(exact(run, false), want, 1e-12) << text;
            }
            const double ub = bound(run, Kw::Ubound), lb = bound(run, Kw::Lbound);
            EXPECT_LE(lb, want + 1e-12) << text;
            EXPECT_GE(ub, want - 1e-12) << text;
            // Alpha keeps halving until every contributing path is in.
            EXPECT_NEAR(ub, want, 1e-9) << text;
        } catch (const ProgramExit& e) {
            FAIL() << "status " << e.status << "\n" << text << run.out;
        }
    }
    EXPECT_GT(checked, 10);
}

TEST(RelgraphSolve, FixedAlphaStopsEarlyAndStaysAnUpperBound) {
    // Four disjoint two-edge paths: with alpha 0.5 a path is selected only
    // when it adds more than half of what remains, which only s-a-t does.
    TreeRun run(
        "relgraph g\n"
        "s a prob(0.1)\na t prob(0.1)\ns b prob(0.5)\nb t prob(0.5)\n"
        "s c prob(0.6)\nc t prob(0.6)\ns d prob(0.7)\nd t prob(0.7)\nend\n"
        "truncate alpha 0.5\n");
    ASSERT_EQ(run.status, 0) << run.out;
    BoundReport rep;
    SystemRecord& sys = run.sys("g");
    AnalysisRequest req;
    req.measure = Kw::Ubound;
    req.transient = true;
    req.time = 1.0;
    analyze_relgraph_system(run.in, sys, req);
    const double ub = relgraph_bound(run.in, sys, Kw::Ubound, 1.0, &rep);
    EXPECT_EQ(rep.selected, 1);
    EXPECT_NEAR(ub, 1.0 - 0.81, 1e-12);
    const double all = (1 - 0.81) * (1 - 0.25) * (1 - 0.16) * (1 - 0.09);
    EXPECT_GE(ub, all);
}

std::string chain(int n, double rate) {
    std::string text = "relgraph g\n";
    for (int i = 0; i < n; ++i)
        text += "n" + std::to_string(i) + " n" + std::to_string(i + 1) + " exp(" + std::to_string(rate) + ")\n";
    return text + "end\n";
}

TEST(RelgraphSolve, LongChainsAnswerOrStopCleanly) {
    TreeRun ok(chain(20000, 1e-5));
    ASSERT_EQ(ok.status, 0);
    // Series edges: 1 − e^(−n λ t).
    EXPECT_NEAR(exact(ok, true), 1.0 - std::exp(-20000 * 1e-5), 1e-9);
    EXPECT_NEAR(exact(ok, false), 1.0 - std::exp(-20000 * 1e-5), 1e-9);

    TreeRun big(chain(100000, 1e-6));
    ASSERT_EQ(big.status, 0);
    big.in.settings.use_bdd = true;
    AnalysisRequest req;
    req.measure = Kw::Cdf;
    try {
        analyze_relgraph_system(big.in, big.sys("g"), req);
        FAIL() << "a graph with more edges than variables was solved";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.status, 255);
    }
    EXPECT_TRUE(big.printed("more than") || big.printed("at most 65534")) << big.out.substr(0, 200);
}

std::string grid(int n, double p) {
    std::string text = "relgraph g\n";
    auto v = [](int i, int j) { return "v" + std::to_string(i) + "_" + std::to_string(j); };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            if (j + 1 < n) text += v(i, j) + " " + v(i, j + 1) + " prob(" + std::to_string(p) + ")\n";
            if (i + 1 < n) text += v(i, j) + " " + v(i + 1, j) + " prob(" + std::to_string(p) + ")\n";
        }
    return text + "end\n";
}

TEST(RelgraphSolve, GridBoundsBracketAndHonourTheLimits) {
    TreeRun small(grid(5, 0.3));
    ASSERT_EQ(small.status, 0);
    const double want = exact(small, true);
    EXPECT_NEAR(exact(small, false), want, 1e-12);
    EXPECT_LE(bound(small, Kw::Lbound), want + 1e-12);
    EXPECT_GE(bound(small, Kw::Ubound), want - 1e-12);

    // 13 x 13: C(24, 12) = 2 704 156 source-sink paths, far beyond the exact
    // solver; the bounds stop at their one-second limit or candidate caps.
    TreeRun big(grid(13, 0.3));
    ASSERT_EQ(big.status, 0);
    big.run("truncate runtime 1\ntruncate pathnum 50\ntruncate cutsetnum 50\n");
    ASSERT_EQ(big.status, 0) << big.out;
    const double ub = bound(big, Kw::Ubound), lb = bound(big, Kw::Lbound);
    EXPECT_GE(lb, 0.0);
    EXPECT_LE(lb, ub);
    EXPECT_LE(ub, 1.0);
}

TEST(RelgraphSolve, ImportanceOfTheBridgeEdge) {
    // Bridge s-a, s-b, a-t, b-t with a two-way a-b edge; the Birnbaum value
    // of a-b is Q(a-b down) − Q(a-b up), each the enumeration of the others.
    const double q[4] = {0.1, 0.2, 0.3, 0.4};
    auto Q = [&](bool ab) {
        double down = 0.0;
        for (unsigned s = 0; s < 16; ++s) {
            double w = 1.0;
            bool up[4];
            for (int i = 0; i < 4; ++i) {
                up[i] = (s >> i) & 1u;
                w *= up[i] ? 1.0 - q[i] : q[i];
            }
            const bool works = (up[0] && up[2]) || (up[1] && up[3]) || (ab && ((up[0] && up[3]) || (up[1] && up[2])));
            if (!works) down += w;
        }
        return down;
    };
    TreeRun run(
        "relgraph g\ns a prob(0.1)\ns b prob(0.2)\na t prob(0.3)\nb t prob(0.4)\nbidirect\na b prob(0.5)\nend\n");
    ASSERT_EQ(run.status, 0);
    exact(run, true);
    MeasureCall call;
    call.kw = Kw::Bimpt;
    call.second = "4";
    SystemRecord& sys = run.sys("g");
    EXPECT_NEAR(relgraph_importance(run.in, sys, call), Q(false) - Q(true), 1e-12);
    call.kw = Kw::Cimpt;
    const double top = 0.5 * Q(false) + 0.5 * Q(true);
    EXPECT_NEAR(relgraph_importance(run.in, sys, call), (Q(false) - Q(true)) * 0.5 / top, 1e-12);
    call.kw = Kw::Simpt;
    // All edges at one half: a-b decides in 2 of the 16 states of the others.
    EXPECT_NEAR(relgraph_importance(run.in, sys, call), 2.0 / 16.0, 1e-12);
    call.second = "9";
    EXPECT_THROW(relgraph_importance(run.in, sys, call), ProgramExit);
}

}  // namespace
}  // namespace corvel
