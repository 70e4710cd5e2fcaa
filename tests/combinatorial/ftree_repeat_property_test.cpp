// Random coherent fault trees of up to 40 events with repeated events and
// shared gates: the decision diagram, factoring and cut sets with disjoint
// products give the same top-event probability, and on the smaller trees it
// equals the brute-force sum over every component state.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

std::string random_ftree(std::mt19937& rng, int events, int repeats) {
    std::string text = "ftree f\n";
    std::vector<std::string> names;
    for (int i = 0; i < events; ++i) {
        double p = 0.05 + 0.9 * static_cast<double>(rng() % 1000) / 1000.0;
        std::string name = "e" + std::to_string(i);
        text += std::string(i < repeats ? "repeat " : "basic ") + name + " prob(" + std::to_string(p) + ")\n";
        names.push_back(name);
    }
    // Gates over unused events; every gate may also take an earlier gate,
    // and repeated events appear under several gates.
    std::vector<std::string> open;
    for (int i = repeats; i < events; ++i) open.push_back(names[static_cast<size_t>(i)]);
    std::vector<std::string> gates;
    int g = 0;
    for (int guard = 0; guard < 60 && (open.size() + gates.size() > 1 || gates.empty()); ++guard) {
        std::vector<std::string> kids;
        const int take = 2 + static_cast<int>(rng() % 2);
        for (int j = 0; j < take && !open.empty(); ++j) {
            size_t at = rng() % open.size();
            kids.push_back(open[at]);
            open.erase(open.begin() + static_cast<long>(at));
        }
        if (repeats > 0 && rng() % 2 == 0) kids.push_back(names[rng() % static_cast<unsigned>(repeats)]);
        if (!gates.empty() && (kids.size() < 2 || rng() % 2 == 0)) {
            // Take an earlier gate; keep it available (a shared gate) sometimes.
            size_t at = rng() % gates.size();
            kids.push_back(gates[at]);
            if (rng() % 3 != 0) gates.erase(gates.begin() + static_cast<long>(at));
        }
        while (kids.size() < 2 && repeats > 0) kids.push_back(names[rng() % static_cast<unsigned>(repeats)]);
        // No child twice under one gate.
        std::sort(kids.begin(), kids.end());
        kids.erase(std::unique(kids.begin(), kids.end()), kids.end());
        if (kids.size() < 2) {
            for (auto& k : kids) open.push_back(k);
            if (open.size() + gates.size() <= 1 && !gates.empty()) break;
            continue;
        }
        std::string name = "g" + std::to_string(g++);
        const int kind = static_cast<int>(rng() % 3);
        const int n = static_cast<int>(kids.size());
        if (kind == 0) text += "or " + name;
        if (kind == 1) text += "and " + name;
        if (kind == 2) text += "kofn " + name + " " + std::to_string(1 + static_cast<int>(rng() % static_cast<unsigned>(n))) + ", " + std::to_string(n) + ",";
        for (auto& k : kids) text += " " + k;
        text += "\n";
        gates.push_back(name);
        if (open.empty() && gates.size() == 1) break;
    }
    text += "end\n";
    return text;
}

double solve_with(TreeRun& run, bool bdd, bool factor) {
    run.in.settings.use_bdd = bdd;
    run.in.settings.use_factoring = factor;
    run.in.settings.factorlimit = 40;
    AnalysisRequest req;
    req.measure = Kw::Cdf;
    SystemRecord& sys = run.sys("f");
    analyze_repeated_ftree(run.in, sys, req);
    return evaluate_expo(sys.s_dist, 0.0, run.in.settings.tol);
}

// The failure probability of the expanded tree by enumerating every state of
// its components.
double brute_force(TreeRun& run) {
    SystemRecord& sys = run.sys("f");
    TreeModel& tm = tree_model(sys);
    bind_k_n(run.in, sys, tm.root, kFatal);
    const std::vector<int>& comps = tm.map;
    std::vector<int> slot(sys.nodes.size(), -1);
    for (size_t i = 0; i < comps.size(); ++i) slot[static_cast<size_t>(comps[i])] = static_cast<int>(i);
    std::vector<double> p;
    for (int c : comps) p.push_back(evaluate_expo(sys.nodes[static_cast<size_t>(c)].dist, 0.0, run.in.settings.tol));
    std::function<bool(int, std::uint64_t)> failed = [&](int t, std::uint64_t state) {
        const TreeNode& node = tm.tree[static_cast<size_t>(t)];
        if (node.type == NT_LEAF || node.type == NT_REPEAT || node.type == NT_TRANSFER) {
            int rec = resolve_transfer(sys, node.first_node);
            return ((state >> slot[static_cast<size_t>(rec)]) & 1u) != 0;
        }
        int count = 0;
        for (int k : node.kids) count += failed(k, state);
        const int n = static_cast<int>(node.kids.size());
        if (node.type == NT_MIN) return count >= 1;
        if (node.type == NT_MAX) return count == n;
        return count >= node.k;
    };
    double total = 0.0;
    for (std::uint64_t s = 0; s < (std::uint64_t{1} << comps.size()); ++s) {
        double w = 1.0;
        for (size_t i = 0; i < comps.size(); ++i) w *= (s >> i) & 1u ? p[i] : 1.0 - p[i];
        if (failed(tm.root, s)) total += w;
    }
    return total;
}

TEST(RepeatedFaultTreeProperty, ThreeMethodsAgreeAndMatchEnumeration) {
    std::mt19937 rng(2024);
    int enumerated = 0;
    for (int round = 0; round < 30; ++round) {
        const int events = 3 + static_cast<int>(rng() % 23);
        const int repeats = 1 + static_cast<int>(rng() % std::min(events, 10));
        const std::string text = random_ftree(rng, events, repeats);
        TreeRun run(text);
        ASSERT_EQ(run.status, 0) << text << run.out;
        if (tree_model(run.sys("f")).map.size() > 40) continue;
        double via_bdd = 0, via_factoring = 0, via_cuts = 0;
        try {
            via_bdd = solve_with(run, true, false);
            via_factoring = solve_with(run, false, true);
            via_cuts = solve_with(run, false, false);
        } catch (const ProgramExit& e) {
            FAIL() << "status " << e.status << "\n" << text << run.out;
        }
        EXPECT_NEAR(via_bdd, via_factoring, 1e-12) << text;
        EXPECT_NEAR(via_bdd, via_cuts, 1e-12) << text;
        EXPECT_GE(via_bdd, 0.0);
        EXPECT_LE(via_bdd, 1.0);
        if (tree_model(run.sys("f")).map.size() <= 16) {
            ++enumerated;
            EXPECT_NEAR(via_bdd, brute_force(run), 1e-12) << text;
        }
    }
    EXPECT_GT(enumerated, 10);
}

}  // namespace
}  // namespace corvel
