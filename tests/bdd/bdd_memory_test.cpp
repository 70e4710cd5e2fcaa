// The manager's ceiling of live nodes follows the memory the process may
// use; reaching it is an overflow that the fault-tree solver reports with the
// size reached; and the statistics report the real cache size and no node
// limit unless the caller set one.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bdd/bdd.h"
#include "bdd/bdd_internal.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree_run.h"
#include "symbols/errors.h"

namespace corvel {
namespace {

// OR over i of (x_i AND y_i) with every x before every y: about 2^(n+1)
// nodes. Null once the manager overflows.
bdd interleaving_unfriendly(BddManager* m, int n) {
    std::vector<bdd> x, y;
    for (int i = 0; i < n; ++i) x.push_back(bdd_new_var_last(m));
    for (int i = 0; i < n; ++i) y.push_back(bdd_new_var_last(m));
    bdd f = bdd_identity(m, bdd_zero(m));
    for (int i = 0; i < n && f != kBddNull; ++i) {
        bdd p = bdd_and(m, x[static_cast<size_t>(i)], y[static_cast<size_t>(i)]);
        bdd next = bdd_or(m, f, p);
        bdd_free(m, p);
        bdd_free(m, f);
        f = next;
    }
    return f;
}

bool has_line(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

TEST(BddMemory, CeilingFollowsTheAddressSpaceLimit) {
    const long unlimited = bdd_memory_node_ceiling();
    EXPECT_GT(unlimited, 100000);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    // 256 MiB is below the memory any machine running the tests has free.
    const rlim_t cap = rlim_t{256} << 20;
    if (old.rlim_max != RLIM_INFINITY && old.rlim_max < cap) GTEST_SKIP() << "hard limit below the test's";
    rlimit lowered = old;
    lowered.rlim_cur = cap;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
    const long capped = bdd_memory_node_ceiling();
    ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);
    // Three quarters of it at 100 bytes per live node.
    EXPECT_EQ(capped, static_cast<long>(cap / 4 * 3 / 100));
    EXPECT_LE(capped, unlimited);
}

TEST(BddMemory, ReachingTheCeilingIsAnOverflowTheManagerSurvives) {
    BddManager* m = bdd_init();
    // The memory available moves with the other processes of the machine,
    // so the ceiling of a new manager is only known to be set.
    EXPECT_GT(bdd_memory_limit(m), 100000);
    bdd_set_memory_limit(m, 3000);
    EXPECT_EQ(interleaving_unfriendly(m, 14), kBddNull);
    EXPECT_TRUE(bdd_overflow(m));
    EXPECT_LE(bdd_total_nodes(m), 3001);
    // No node limit was set: the ceiling is not reported as one.
    EXPECT_TRUE(has_line(bdd_stats(m), "Node limit: ---"));
    bdd a = bdd_and(m, bdd_var_with_index(m, 0), bdd_var_with_index(m, 1));
    EXPECT_NE(a, kBddNull);
    bdd_quit(m);
}

TEST(BddMemory, PairsAndKeptResultsShareTheCeilingWithTheNodes) {
    BddManager* m = bdd_init();
    bdd f = interleaving_unfriendly(m, 12);
    ASSERT_NE(f, kBddNull);
    // The large conjunctions kept their pairs' memory and their results.
    const long scratch = m->scratch_nodes;
    EXPECT_GT(scratch, 100);
    EXPECT_EQ(scratch, static_cast<long>((m->apply.pairs_held * kBytesPerPair + m->apply.kept_bytes) /
                                         kBytesPerLiveNode));
    // Fresh variables, and room for the nodes there are and 50 more: the
    // scratch memory is not free, so a function of about 2^7 new nodes
    // overflows (it would fit in the room the scratch memory takes).
    std::vector<bdd> x, y;
    for (int i = 0; i < 6; ++i) x.push_back(bdd_new_var_last(m));
    for (int i = 0; i < 6; ++i) y.push_back(bdd_new_var_last(m));
    bdd_gc(m);
    bdd_set_memory_limit(m, bdd_total_nodes(m) + scratch + 50);
    bdd g = bdd_identity(m, bdd_zero(m));
    for (int i = 0; i < 6 && g != kBddNull; ++i) {
        bdd p = bdd_and(m, x[static_cast<size_t>(i)], y[static_cast<size_t>(i)]);
        bdd next = p == kBddNull ? kBddNull : bdd_or(m, g, p);
        if (p != kBddNull) bdd_free(m, p);
        bdd_free(m, g);
        g = next;
    }
    EXPECT_EQ(g, kBddNull);
    EXPECT_TRUE(bdd_overflow(m));
    // With the scratch memory's room added the same function fits.
    bdd_set_memory_limit(m, bdd_total_nodes(m) + 2 * scratch + 200);
    g = bdd_identity(m, bdd_zero(m));
    for (int i = 0; i < 6 && g != kBddNull; ++i) {
        bdd p = bdd_and(m, x[static_cast<size_t>(i)], y[static_cast<size_t>(i)]);
        bdd next = bdd_or(m, g, p);
        bdd_free(m, p);
        bdd_free(m, g);
        g = next;
    }
    EXPECT_NE(g, kBddNull);
    if (g != kBddNull) bdd_free(m, g);
    bdd_free(m, f);
    bdd_quit(m);
}

TEST(BddMemory, StatisticsShowTheCacheSizeAndOnlyACallersLimit) {
    BddManager* m = bdd_init();
    std::string s = bdd_stats(m);
    EXPECT_TRUE(has_line(s, "Cache size: 8179")) << s;
    EXPECT_TRUE(has_line(s, "Node limit: ---")) << s;
    bdd_node_limit(m, 5000);
    EXPECT_TRUE(has_line(bdd_stats(m), "Node limit: 5000"));
    bdd_node_limit(m, 0);
    // A diagram of 2^13 nodes and more grows the cache to a size of the prime list.
    bdd f = interleaving_unfriendly(m, 13);
    ASSERT_NE(f, kBddNull);
    s = bdd_stats(m);
    const size_t at = s.find("Cache size: ");
    ASSERT_NE(at, std::string::npos);
    const long size = std::stol(s.substr(at + 12));
    const std::vector<long> primes = {11587, 16369, 23143, 32749, 46349, 65521, 92683, 131063};
    EXPECT_NE(std::find(primes.begin(), primes.end(), size), primes.end()) << size;
    bdd_free(m, f);
    bdd_quit(m);
}

TEST(BddMemory, FaultTreeSolverNamesTheSizeReached) {
    TreeRun run;
    BddManager* m = bdd_init();
    bdd_set_memory_limit(m, 2000);
    const bdd f = interleaving_unfriendly(m, 14);
    const long reached = bdd_total_nodes(m);
    int status = 0;
    try {
        ftbdd_checked(run.in, m, f);
    } catch (const ProgramExit& e) {
        status = e.status;
    }
    bdd_quit(m);
    EXPECT_EQ(status, kExitFailure);
    EXPECT_EQ(run.out, "decision diagram stopped at " + std::to_string(reached) +
                           " live nodes, the most the available memory holds\n"
                           "internal error: can't allocate memory in s_ftbdd for BDD\n");
}

TEST(BddMemory, DebugStatisticsOfAFaultTree) {
    TreeRun run("debug ftree\nftree f\nrepeat a prob(0.1)\nrepeat b prob(0.2)\nand g a b\nor top g a\nend\ncdf(f)\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(has_line(run.out, "Node limit: ---")) << run.out;
    EXPECT_TRUE(has_line(run.out, "Cache size: 8179")) << run.out;
    // (a and b) or a = a: one node and the terminal.
    EXPECT_TRUE(has_line(run.out, "Size of BDD for Tree = 2")) << run.out;
}

}  // namespace
}  // namespace corvel
