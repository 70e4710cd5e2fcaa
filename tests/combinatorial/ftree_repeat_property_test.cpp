// Random coherent fault trees of up to 40 events with repeated events and
// shared gates: the decision diagram, factoring and cut sets with disjoint
// products give the same top-event probability, and on the smaller trees it
// equals the brute-force sum over every component state.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
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
    for (int round = 0; round < 40; ++round) {
        const int events = 3 + static_cast<int>(rng() % 38);
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

// A gate declaration of a generated tree.
struct GateDef {
    std::string op;                 // "and", "or" or "kofn k, n,"
    std::vector<std::string> kids;  // events or earlier gates
};

// The same model with every further use of a gate replaced by a fresh copy
// of its definition (copies of the gates below it included), i.e. the tree a
// reader that expands shared gates would see.
std::string expanded_text(const std::string& events, const std::vector<std::pair<std::string, GateDef>>& gates) {
    std::map<std::string, GateDef> def(gates.begin(), gates.end());
    std::map<std::string, int> uses;
    std::string text = events;
    int copies = 0;
    std::function<std::string(const std::string&)> emit = [&](const std::string& name) -> std::string {
        auto it = def.find(name);
        if (it == def.end()) return name;  // an event
        const bool first = uses[name]++ == 0;
        std::vector<std::string> kids;
        for (const std::string& k : it->second.kids) kids.push_back(emit(k));
        const std::string fresh = first ? name : name + "_c" + std::to_string(++copies);
        const std::string& op = it->second.op;
        const size_t space = op.find(' ');
        text += op.substr(0, space) + " " + fresh + (space == std::string::npos ? "" : op.substr(space));
        for (const std::string& k : kids) text += " " + k;
        text += "\n";
        return fresh;
    };
    emit(gates.back().first);
    return text;
}

TEST(RepeatedFaultTreeProperty, SharedGatesReadLikeTheirExpansion) {
    std::mt19937 rng(77);
    int shared_trees = 0;
    for (int round = 0; round < 25; ++round) {
        const int events = 4 + static_cast<int>(rng() % 12);
        std::string decl = "ftree f\n";
        std::vector<std::string> pool;
        for (int i = 0; i < events; ++i) {
            const bool basic = rng() % 4 == 0;
            double p = 0.05 + 0.9 * static_cast<double>(rng() % 1000) / 1000.0;
            decl += std::string(basic ? "basic e" : "repeat e") + std::to_string(i) + " prob(" + std::to_string(p) + ")\n";
            pool.push_back("e" + std::to_string(i));
        }
        // Each gate takes two or three distinct children among the events and
        // the earlier gates, so later gates reuse earlier ones.
        std::vector<std::pair<std::string, GateDef>> gates;
        std::map<std::string, int> used;
        const int count = 3 + static_cast<int>(rng() % 6);
        for (int g = 0; g < count; ++g) {
            GateDef d;
            const int take = 2 + static_cast<int>(rng() % 2);
            while (static_cast<int>(d.kids.size()) < take) {
                const std::string& k = pool[rng() % pool.size()];
                if (std::find(d.kids.begin(), d.kids.end(), k) == d.kids.end()) d.kids.push_back(k);
            }
            if (g > 0 && std::find(d.kids.begin(), d.kids.end(), gates.back().first) == d.kids.end())
                d.kids.back() = gates.back().first;  // keep the gates connected
            const int kind = static_cast<int>(rng() % 3);
            const int n = static_cast<int>(d.kids.size());
            d.op = kind == 0 ? "or" : kind == 1 ? "and"
                                                : "kofn " + std::to_string(1 + static_cast<int>(rng() % static_cast<unsigned>(n))) +
                                                      ", " + std::to_string(n) + ",";
            for (const std::string& k : d.kids) ++used[k];
            const std::string name = "g" + std::to_string(g);
            gates.emplace_back(name, d);
            pool.push_back(name);
        }
        bool shares = false;
        for (auto& [name, n] : used)
            if (name[0] == 'g' && n > 1) shares = true;
        shared_trees += shares;
        std::string dag = decl;
        for (auto& [name, d] : gates) {
            dag += d.op.substr(0, d.op.find(' ')) + " " + name +
                   (d.op.find(' ') == std::string::npos ? "" : d.op.substr(d.op.find(' ')));
            for (const std::string& k : d.kids) dag += " " + k;
            dag += "\n";
        }
        const std::string queries =
            "end\ncdf(f)\nmincuts(f)\nminpaths(f)\npqcdf(f)\nexpr bimpt(1; f, e0), cimpt(1; f, e1), simpt(f, e2)\n"
            "bdd off\nmincuts(f)\ncdf(f)\nfactor off\ncdf(f)\n";
        TreeRun shared(dag + queries);
        TreeRun expanded(expanded_text(decl, gates) + queries);
        ASSERT_EQ(shared.status, 0) << dag << shared.out;
        ASSERT_EQ(expanded.status, 0) << expanded_text(decl, gates) << expanded.out;
        EXPECT_EQ(shared.out, expanded.out) << dag << "----\n" << expanded_text(decl, gates);
    }
    EXPECT_GT(shared_trees, 10);
}

// A gate graph whose expansion would hold about 10^31 nodes: each gate is
// two of three among the two gates before it and one fresh event. It is read, ordered and solved
// on the graph. Since e_i occurs in no earlier gate, the pair
// (g_{i-1}, g_{i-2}) is a Markov chain, which gives the exact top probability.
TEST(RepeatedFaultTreeProperty, DeepSharingCostsTheGraphNotTheExpansion) {
    const int n = 150;
    std::string text = "ftree deep\n";
    for (int i = 0; i < n; ++i) text += "repeat e" + std::to_string(i) + " prob(0.5)\n";
    text += "or g1 e0 e1\n";
    text += "and g2 g1 e0 e2\n";
    for (int i = 3; i < n; ++i)
        text += "kofn g" + std::to_string(i) + " 2, 3, g" + std::to_string(i - 1) + " g" + std::to_string(i - 2) +
                " e" + std::to_string(i) + "\n";
    text += "end\n";
    TreeRun run(text);
    ASSERT_EQ(run.status, 0) << run.out;
    SystemRecord& sys = run.sys("deep");
    AnalysisRequest req;
    req.measure = Kw::Cdf;
    analyze_repeated_ftree(run.in, sys, req);
    const double top = evaluate_expo(sys.s_dist, 0.0, run.in.settings.tol);
    // joint[a][b] = P(g_{i-1} = a, g_{i-2} = b), from i = 3: g1 = e0 or e1 and
    // g2 = e0 and e2 (g2 implies g1).
    double joint[2][2];
    joint[0][0] = 0.25;
    joint[0][1] = 0.5;
    joint[1][0] = 0.0;
    joint[1][1] = 0.25;
    for (int i = 3; i < n; ++i) {
        double next[2][2] = {{0, 0}, {0, 0}};
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 2; ++b)
                for (int e = 0; e < 2; ++e) {
                    const int g = a + b + e >= 2 ? 1 : 0;
                    next[g][a] += joint[a][b] * 0.5;
                }
        std::copy(&next[0][0], &next[0][0] + 4, &joint[0][0]);
    }
    // Near the root the diagram's cofactors differ by less than the basic
    // epsilon (1e-11) relative to their size, and the exponomial arithmetic
    // drops such differences: a few 1e-12 in all.
    EXPECT_NEAR(top, joint[1][0] + joint[1][1], 1e-10);
    // The probability came by the order-free route; the ordered diagram of
    // the listings is built on the same graph.
    EXPECT_EQ(repeated_state(sys).bdd, nullptr);
    const auto ordered = analyze_ftree_with_bdd(run.in, sys);
    FtBddInfo& info = *ordered;
    EXPECT_NEAR(evaluate_expo(ftbdd_evaluate(run.in, sys, info, info.root), 0.0, run.in.settings.tol), top, 1e-10);
    EXPECT_EQ(static_cast<int>(info.listvar.size()), n);
    EXPECT_LT(info.st.size(), static_cast<size_t>(8 * n));
}

}  // namespace
}  // namespace corvel
