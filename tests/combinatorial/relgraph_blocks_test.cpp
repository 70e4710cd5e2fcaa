// Reading relgraph blocks into the system's nodes and edges.

#include "combinatorial/relgraph_blocks.h"

#include <gtest/gtest.h>

#include "statespace/run_text.h"

namespace corvel {
namespace {

TEST(RelgraphBlocks, TransferPairsAndTwoWayEdges) {
    RunText r(
        "relgraph g\n"
        "s a gen 1,0,0, -1,0,-1 transfer a t b t\n"
        "s b inf\n"
        "bidirect\n"
        "a b zero\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("g");
    ASSERT_NE(sys, nullptr);
    RelgraphModel* g = relgraph_model(*sys);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(sys->edges.size(), 5u);
    EXPECT_TRUE(sys->is_relgraph_repeat);

    // Edges 1 and 2 repeat edge 0 and share its distribution.
    const auto& e = sys->edges;
    EXPECT_FALSE(e[0].is_repeat);
    for (int i : {1, 2}) {
        EXPECT_TRUE(e[i].is_repeat);
        EXPECT_EQ(e[i].repeat, 0);
        EXPECT_EQ(e[i].udist, e[0].udist);
    }
    EXPECT_EQ(sys->names[e[2].from] + sys->names[e[2].to], "bt");
    EXPECT_TRUE(!e[3].bidirect && e[4].bidirect);

    // Lists run from the last declared edge; a two-way edge appears both ways.
    int a = sys->names.find("a"), b = sys->names.find("b"), s = sys->names.find("s");
    auto list = [](const std::vector<RelgraphLink>& l) {
        std::string s;
        for (const RelgraphLink& x : l) s += std::to_string(x.edge) + (x.back ? "b " : " ");
        return s;
    };
    EXPECT_EQ(list(g->succ[static_cast<size_t>(a)]), "4 1 ");
    EXPECT_EQ(list(g->succ[static_cast<size_t>(b)]), "4b 2 ");
    EXPECT_EQ(list(g->pred[static_cast<size_t>(a)]), "4b 0 ");
    EXPECT_TRUE(g->pred[static_cast<size_t>(s)].empty());
    EXPECT_TRUE(g->succ[static_cast<size_t>(sys->names.find("t"))].empty());
}

TEST(RelgraphBlocks, OnlyAnExponentialSecondDistributionIsKept) {
    RunText r;
    r.in.install_builtins();
    r.run("relgraph g\na b gen 1,0,0 exp(2)\nb c gen 1,0,0 gen 1,0,0, -1,0,-2\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("g");
    ASSERT_NE(sys, nullptr);
    EXPECT_NE(sys->edges[0].rudist, nullptr);
    EXPECT_EQ(sys->edges[1].rudist, nullptr);
    EXPECT_NE(r.out.find("Currently only exponential distribution is accepted.\n"), std::string::npos);
}

TEST(RelgraphBlocks, ReadingErrors) {
    expect_error("relgraph g\na b zero\nb a zero\nend\n", "relgraph must have source and sink: g");
    // A two-way edge at the end leaves the graph without a sink.
    expect_error("relgraph g\na b zero\nbidirect\nb c zero\nend\n", "relgraph must have source and sink: g");
    expect_error("relgraph g\nend\n", "relgraph must have source and sink: g");
    expect_error("relgraph g\na\n", "node name expected");
    expect_error("relgraph g\na a zero\n", "self-loops are not allowed: system g");
    expect_error("relgraph g\na b zero transfer c\n", "node name expected");
    expect_error("relgraph g\na b zero transfer c c\n", "self-loops are not allowed: system g");
    expect_error("relgraph g\na b\n", "missing distribution type");
}

}  // namespace
}  // namespace corvel
