// Mean time to failure of repairable systems against the component CTMC:
// with independent components the stationary probability of a state is the
// product of the components' a or 1 − a; the failure frequency is the flow
// from up states into down states through single component failures.

#include "combinatorial/mttf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

struct Rates {
    double lambda, mu;
};

// A/ν over every state of the components; `up(state)` tells whether the
// system works with the components of the set bits failed.
double ctmc_mttf(const std::vector<Rates>& comps, const std::function<bool(unsigned)>& up) {
    double A = 0.0, nu = 0.0;
    const size_t n = comps.size();
    for (unsigned s = 0; s < (1u << n); ++s) {
        if (!up(s)) continue;
        double pi = 1.0;
        for (size_t i = 0; i < n; ++i) {
            const double a = comps[i].mu / (comps[i].lambda + comps[i].mu);
            pi *= (s >> i) & 1u ? 1.0 - a : a;
        }
        A += pi;
        for (size_t i = 0; i < n; ++i)
            if (!((s >> i) & 1u) && !up(s | (1u << i))) nu += pi * comps[i].lambda;
    }
    return A / nu;
}

int popcount(unsigned s) { return __builtin_popcount(s); }

TEST(MttfKofN, RecurrenceMatchesTheChain) {
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        const int n = 2 + static_cast<int>(rng() % 5);
        const int k = 1 + static_cast<int>(rng() % static_cast<unsigned>(n));
        std::vector<Rates> comps;
        std::vector<MttfPair> kids;
        for (int i = 0; i < n; ++i) {
            Rates r{0.1 + static_cast<double>(rng() % 100) / 20.0, 0.5 + static_cast<double>(rng() % 100) / 10.0};
            comps.push_back(r);
            kids.push_back({r.mu / (r.lambda + r.mu), 1.0 / r.lambda});
        }
        const double want = ctmc_mttf(comps, [&](unsigned s) { return n - popcount(s) >= k; });
        const MttfPair got = k_of_n_gen_mttf(kids, k);
        EXPECT_NEAR(got.mttf, want, 1e-10 * want) << n << " " << k;
        // The same child n times.
        const std::vector<Rates> same(static_cast<size_t>(n), comps[0]);
        const double iid = ctmc_mttf(same, [&](unsigned s) { return n - popcount(s) >= k; });
        EXPECT_NEAR(k_of_n_iid_mttf(kids[0], k, n).mttf, iid, 1e-10 * iid);
    }
}

TEST(MttfKofN, ConditionedChildrenGiveMarksNotNaN) {
    const MttfPair c{0.9, 2.0}, up{kMarkUp, -1.0}, down{kMarkDown, -1.0};
    // 2-of-3 with one child up: the other two form a 1-of-2.
    const MttfPair one_of_two = k_of_n_gen_mttf({c, c}, 1);
    const MttfPair with_up = k_of_n_gen_mttf({c, up, c}, 2);
    EXPECT_DOUBLE_EQ(with_up.avail, one_of_two.avail);
    EXPECT_DOUBLE_EQ(with_up.mttf, one_of_two.mttf);
    // An OR of up children (all must be up) is certainly up; an AND with
    // every child down certainly down.
    EXPECT_EQ(k_of_n_gen_mttf({up, up}, 2).avail, kMarkUp);
    EXPECT_EQ(k_of_n_gen_mttf({down, down}, 1).avail, kMarkDown);
    EXPECT_EQ(k_of_n_gen_mttf({c, down}, 2).avail, kMarkDown);
    EXPECT_EQ(k_of_n_iid_mttf(up, 2, 3).avail, kMarkUp);
}

// A random coherent fault tree over repairable events, some repeated.
struct RandomTree {
    std::string text;
    std::vector<std::string> names;
    std::vector<Rates> rates;
};

RandomTree random_tree(std::mt19937& rng, int events, int repeats) {
    RandomTree t;
    t.text = "ftree f\n";
    for (int i = 0; i < events; ++i) {
        Rates r{0.2 + static_cast<double>(rng() % 50) / 10.0, 1.0 + static_cast<double>(rng() % 50) / 5.0};
        std::string name = "e" + std::to_string(i);
        t.text += std::string(i < repeats ? "repeat " : "basic ") + name + " exp(" + std::to_string(r.lambda) + ") exp(" +
                  std::to_string(r.mu) + ")\n";
        t.names.push_back(name);
        t.rates.push_back(r);
    }
    std::vector<std::string> open(t.names.begin() + repeats, t.names.end());
    int g = 0;
    while (open.size() > 1 || g == 0) {
        std::vector<std::string> kids;
        for (int j = 0; j < 2 && !open.empty(); ++j) {
            const size_t at = rng() % open.size();
            kids.push_back(open[at]);
            open.erase(open.begin() + static_cast<long>(at));
        }
        if (repeats > 0) {
            const std::string r = t.names[rng() % static_cast<unsigned>(repeats)];
            if (std::find(kids.begin(), kids.end(), r) == kids.end()) kids.push_back(r);
        }
        const std::string name = "g" + std::to_string(g++);
        const int kind = static_cast<int>(rng() % 3);
        const int n = static_cast<int>(kids.size());
        if (kind == 0) t.text += "or " + name;
        if (kind == 1) t.text += "and " + name;
        if (kind == 2) t.text += "kofn " + name + " " + std::to_string(1 + static_cast<int>(rng() % static_cast<unsigned>(n))) + ", " + std::to_string(n) + ",";
        for (const std::string& k : kids) t.text += " " + k;
        t.text += "\n";
        open.push_back(name);
    }
    t.text += "end\n";
    return t;
}

double solve_mttf(TreeRun& run, bool bdd) {
    run.in.settings.use_bdd = bdd;
    run.in.settings.use_factoring = true;
    run.in.settings.factorlimit = 40;
    SystemRecord& sys = run.sys("f");
    tree_model(sys).repeated.reset();
    AnalysisRequest req;
    req.measure = Kw::Mttf;
    analyze_repeated_ftree(run.in, sys, req);
    return system_mttf(run.in, sys);
}

TEST(MttfFaultTrees, DiagramAndFactoringMatchTheChain) {
    std::mt19937 rng(11);
    for (int round = 0; round < 25; ++round) {
        const int events = 3 + static_cast<int>(rng() % 8);
        const int repeats = 1 + static_cast<int>(rng() % 3);
        RandomTree t = random_tree(rng, events, repeats);
        TreeRun run(t.text);
        ASSERT_EQ(run.status, 0) << t.text << run.out;
        SystemRecord& sys = run.sys("f");
        if (sys.type != kSysFtreeRepeated) continue;
        // The structure function from the tree itself.
        TreeModel& tm = tree_model(sys);
        bind_k_n(run.in, sys, tm.root, kFatal);
        std::vector<int> bit(sys.nodes.size(), -1);
        for (size_t i = 0; i < t.names.size(); ++i) bit[static_cast<size_t>(sys.names.find(t.names[i]))] = static_cast<int>(i);
        std::function<bool(int, unsigned)> failed = [&](int node, unsigned s) {
            const TreeNode& tn = tm.tree[static_cast<size_t>(node)];
            if (tn.type == NT_LEAF || tn.type == NT_REPEAT || tn.type == NT_TRANSFER)
                return ((s >> bit[static_cast<size_t>(resolve_transfer(sys, tn.first_node))]) & 1u) != 0;
            int count = 0;
            for (int k : tn.kids) count += failed(k, s);
            if (tn.type == NT_MIN) return count >= 1;
            if (tn.type == NT_MAX) return count == static_cast<int>(tn.kids.size());
            return count >= tn.k;
        };
        const double want = ctmc_mttf(t.rates, [&](unsigned s) { return !failed(tm.root, s); });
        double by_bdd = 0, by_factoring = 0;
        try {
            by_bdd = solve_mttf(run, true);
            by_factoring = solve_mttf(run, false);
        } catch (const ProgramExit& e) {
            FAIL() << "status " << e.status << "\n" << t.text << run.out;
        }
        EXPECT_NEAR(by_bdd, want, 1e-9 * want) << t.text;
        EXPECT_NEAR(by_factoring, want, 1e-9 * want) << t.text;
    }
}

TEST(MttfFaultTrees, MissingRepairStopsTheRun) {
    TreeRun run("ftree f\nrepeat a exp(1) exp(2)\nbasic b exp(1)\nand top a b\nend\n");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_THROW(solve_mttf(run, true), ProgramExit);
    EXPECT_TRUE(run.printed("Please input repair rate for b to compute mttf \n")) << run.out;
}

}  // namespace
}  // namespace corvel
