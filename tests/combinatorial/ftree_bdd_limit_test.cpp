// Fault trees whose diagram outgrows the node limit stop with a message
// instead of exhausting the memory; trees just below it are solved.

#include <gtest/gtest.h>

#include <string>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

// n events under and gates of ten, all under one or gate; the first
// `repeats` events are repeated and also enter one later gate each. The
// ordering gives the first gates (lighter by one event) their variables
// first, so below them the diagram must tell apart every subset of the
// repeated events that failed: about 2^repeats nodes per later level.
std::string spread_repeats(int n, int repeats) {
    std::string m = "ftree spread\n";
    for (int i = 0; i < n; ++i)
        m += std::string(i < repeats ? "repeat e" : "basic e") + std::to_string(i) + " prob(0.1)\n";
    int gates = 0;
    for (int i = 0; i < n; i += 10, ++gates) {
        m += "and g" + std::to_string(gates);
        for (int j = i; j < i + 10; ++j) m += " e" + std::to_string(j);
        if (i >= repeats) m += " e" + std::to_string(gates % repeats);
        m += "\n";
    }
    m += "or top";
    for (int g = 0; g < gates; ++g) m += " g" + std::to_string(g);
    return m + "\nend\n";
}

struct Built {
    int status = 0;
    std::string out;
    long nodes = 0;
};

Built build(int n, int repeats, long limit) {
    TreeRun run(spread_repeats(n, repeats));
    Built b;
    if (run.status != 0) {
        ADD_FAILURE() << run.out;
        return b;
    }
    SystemRecord& sys = run.sys("spread");
    run.out.clear();
    try {
        bind_k_n(run.in, sys, tree_model(sys).root, kFatal);
        auto info = analyze_ftree_with_bdd(run.in, sys, limit);
        b.nodes = bdd_size(info->m, info->root, 0);
    } catch (const ProgramExit& e) {
        b.status = e.status;
    }
    b.out = run.out;
    return b;
}

TEST(FtreeBddLimit, SpreadRepeatsStopAtTheNodeLimitWithAMessage) {
    // Four spread repeats: a few thousand nodes, well inside the limit.
    Built small = build(400, 4, 20000);
    EXPECT_EQ(small.status, 0) << small.out;
    EXPECT_GT(small.nodes, 400);
    // Twenty: about a million nodes per level; the limit stops it.
    Built big = build(400, 20, 20000);
    EXPECT_EQ(big.status, kExitFailure);
    EXPECT_EQ(big.out, "internal error: can't allocate memory in s_ftbdd for BDD (more than 20000 nodes)\n");
}

}  // namespace
}  // namespace corvel
