// Series-parallel task graphs: reading, the reduction to a tree, the
// completion-time distributions of each exit type, multiple paths, and the
// refusals of graphs and attribute lines.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

// Survival of a sum of exponentials with distinct rates.
double hypo_survival(std::initializer_list<double> rates, double t) {
    double s = 0.0;
    for (double li : rates) {
        double c = 1.0;
        for (double lj : rates)
            if (lj != li) c *= lj / (lj - li);
        s += c * std::exp(-li * t);
    }
    return s;
}

std::string graph(const std::string& arcs, const std::string& info) {
    return "graph g\n" + arcs + "end\n" + info + "end\n";
}

const double kTimes[] = {0.2, 1.0, 3.0};

TEST(SpGraph, SequenceIsAConvolution) {
    TreeRun r(graph("a b\nb c\n", "dist a exp(1)\ndist b exp(2)\ndist c exp(3)\n"));
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& sys = r.sys("g");
    EXPECT_EQ(sys.type, kSysGraph);
    EXPECT_EQ(sys.names[0], "E.g");
    const TreeModel* tm = find_tree_model(sys);
    const TreeNode& root = tm->tree[static_cast<size_t>(tm->root)];
    EXPECT_EQ(root.type, NT_SERIAL);
    ASSERT_EQ(root.kids.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const TreeNode& leaf = tm->tree[static_cast<size_t>(root.kids[static_cast<size_t>(i)])];
        EXPECT_EQ(leaf.type, NT_LEAF);
        EXPECT_EQ(sys.names[leaf.first_node], std::string(1, static_cast<char>('a' + i)));
    }
    ASSERT_TRUE(r.solve("g"));
    for (double t : kTimes) EXPECT_NEAR(r.F("g", t), 1 - hypo_survival({1, 2, 3}, t), 1e-10);
}

TEST(SpGraph, ForkJoinWithMaxAndMinExits) {
    const std::string arcs = "a b\na c\nb d\nc d\n";
    const std::string dists = "dist a exp(1)\ndist b exp(2)\ndist c exp(3)\ndist d exp(4)\n";
    TreeRun mx(graph(arcs, dists + "exit a max\n"));
    ASSERT_EQ(mx.status, 0) << mx.out;
    const TreeModel* tm = find_tree_model(mx.sys("g"));
    const TreeNode& root = tm->tree[static_cast<size_t>(tm->root)];
    ASSERT_EQ(root.kids.size(), 3u);
    EXPECT_EQ(tm->tree[static_cast<size_t>(root.kids[1])].type, NT_MAX);
    ASSERT_TRUE(mx.solve("g"));
    const Tolerances& tol = mx.in.settings.tol;
    const Exponomial& F = mx.sys("g").s_dist;
    // Moments: a, then the later of b and c, then d.
    double max_mean = 1 / 2.0 + 1 / 3.0 - 1 / 5.0;
    double max_second = 2 / 4.0 + 2 / 9.0 - 2 / 25.0;
    double mean = 1 + max_mean + 0.25;
    double var = 1 + (max_second - max_mean * max_mean) + 1 / 16.0;
    EXPECT_NEAR(moment_of_expo(F, 1, tol), mean, 1e-10);
    EXPECT_NEAR(moment_of_expo(F, 2, tol) - mean * mean, var, 1e-10);

    // The first of b (rate 1) and c (rate 1) to finish takes exp(2).
    TreeRun mn(graph(arcs, "dist a exp(1)\ndist b exp(1)\ndist c exp(1)\ndist d exp(3)\nexit a min\n"));
    ASSERT_TRUE(mn.solve("g")) << mn.out;
    for (double t : kTimes) EXPECT_NEAR(mn.F("g", t), 1 - hypo_survival({1, 2, 3}, t), 1e-10);
}

TEST(SpGraph, ProbabilisticBranching) {
    TreeRun r(graph("a b\na c\n", "dist a zero\ndist b exp(1)\ndist c exp(5)\nexit a prob\nprob a b 0.3\nprob a c 0.7\n"));
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(r.solve("g")) << r.out;
    for (double t : kTimes) EXPECT_NEAR(r.F("g", t), 0.3 * expF(1, t) + 0.7 * expF(5, t), 1e-12);

    // Branch probabilities written with the graph's parameters.
    TreeRun p("graph g(q)\na b\na c\nend\ndist a zero\ndist b exp(1)\ndist c exp(5)\n"
              "exit a prob\nprob a b q\nprob a c 1-q\nend\n");
    ASSERT_EQ(p.status, 0) << p.out;
    std::vector<std::unique_ptr<Expr>> args;
    args.push_back(Expr::constant(0.9));
    p.in.eval.bind_parameters(p.sys("g").params, args);
    ASSERT_TRUE(p.solve("g")) << p.out;
    EXPECT_NEAR(p.F("g", 1.0), 0.9 * expF(1, 1.0) + 0.1 * expF(5, 1.0), 1e-12);
}

TEST(SpGraph, KOutOfNExits) {
    TreeRun r(graph("a b\na c\na d\nb e\nc e\nd e\n",
                    "dist a zero\ndist b exp(1)\ndist c exp(1)\ndist d exp(1)\ndist e zero\nexit a kofn 2, 3\n"));
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(r.solve("g")) << r.out;
    // One successor with a kofn exit: k of n identical copies of it.
    TreeRun s(graph("a b\n", "dist a zero\ndist b exp(1)\nexit a kofn 2, 3\n"));
    ASSERT_EQ(s.status, 0) << s.out;
    ASSERT_TRUE(s.solve("g")) << s.out;
    for (double t : kTimes) {
        double F = expF(1, t);
        EXPECT_NEAR(r.F("g", t), 3 * F * F * (1 - F) + F * F * F, 1e-12);
        EXPECT_NEAR(s.F("g", t), 3 * F * F * (1 - F) + F * F * F, 1e-12);
    }
}

// Several sources start together; the graph needs all of them.
TEST(SpGraph, SeveralSources) {
    TreeRun r(graph("a c\nb c\n", "dist a exp(1)\ndist b exp(2)\ndist c zero\n"));
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(r.solve("g")) << r.out;
    for (double t : kTimes) EXPECT_NEAR(r.F("g", t), expF(1, t) * expF(2, t), 1e-12);
}

// Paths carry their conditional distributions; the weights apply once.
TEST(SpGraph, MultiplePaths) {
    TreeRun r(graph("a b\na c\nb d\nc d\n",
                    "dist a zero\ndist b exp(1)\ndist c exp(3)\ndist d exp(2)\n"
                    "exit a prob\nprob a b 0.3\nprob a c 0.7\nmultpath\n"));
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& sys = r.sys("g");
    EXPECT_TRUE(sys.multpath);
    ASSERT_TRUE(r.solve("g")) << r.out;
    ASSERT_EQ(sys.numpaths, 2);
    const std::vector<PathResult>* paths = tree_paths(sys);
    ASSERT_NE(paths, nullptr);
    const Tolerances& tol = r.in.settings.tol;
    EXPECT_EQ(path_node_names(sys, (*paths)[0]), (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(path_node_names(sys, (*paths)[1]), (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_DOUBLE_EQ((*paths)[0].probability, 0.3);
    EXPECT_DOUBLE_EQ((*paths)[1].probability, 0.7);
    for (double t : kTimes) {
        double p1 = 1 - hypo_survival({1, 2}, t), p2 = 1 - hypo_survival({3, 2}, t);
        EXPECT_NEAR(evaluate_expo((*paths)[0].dist, t, tol), p1, 1e-12);
        EXPECT_NEAR(evaluate_expo((*paths)[1].dist, t, tol), p2, 1e-12);
        EXPECT_NEAR(r.F("g", t), 0.3 * p1 + 0.7 * p2, 1e-12);
    }
}

TEST(SpGraph, GraphRefusals) {
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {graph("a c\na d\nb d\n", "dist a exp(1)\ndist b exp(1)\ndist c exp(1)\ndist d exp(1)\nexit a max\n"),
         "error: graph is not series-parallel: system g"},
        {graph("a b\nb a\n", ""), "error: system contains a loop: g"},
        {graph("a b\na c\n", "dist a exp(1)\n"), "error: exit type needed for node a"},
        {graph("a b\nb c\n", "prob a c 0.5\n"), "error: second node is not a successor of the first (c of a)"},
        {graph("a b\na c\n", "exit a prob\nprob a b 1.5\n"), "error: probability is greater than one"},
        {graph("a b\na c\n", "exit a prob\nprob a b\n"), "error: probability expected"},
        {graph("a b\na c\n", "exit a first\n"), "error: invalid exit type (use MAX, MIN, PROB or KOFN)"},
        {graph("a b\n", "rate a 2\n"), "error: invalid line syntax"},
        {graph("a b\n", "dist x exp(1)\n"), "error: cannot find node name x"},
        {graph("a b\na c\n", "exit a kofn 3, 2\n"), "error: K must be <= N: node b"},
    };
    for (const Case& c : cases) {
        TreeRun r(c.text);
        EXPECT_EQ(r.status, kExitFailure) << c.text;
        EXPECT_TRUE(r.printed(c.message)) << c.text << r.out;
    }
}

TEST(SpGraph, AttributeWarningsAndAnalysisChecks) {
    TreeRun r(graph("a b\na c\n",
                    "dist E.g exp(1)\nexit b max\nexit a prob\nprob a b 0.2\nprob a b 0.4\nprob a c 0.3\n"
                    "dist a zero\ndist b exp(1)\ndist c exp(1)\n"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.printed("warning: the dummy entrance node cannot be assigned a distribution")) << r.out;
    EXPECT_TRUE(r.printed("warning: node does not need an exit type")) << r.out;
    EXPECT_TRUE(r.printed("warning: duplicate probability specification (a to b)")) << r.out;
    ASSERT_TRUE(r.solve("g")) << r.out;
    EXPECT_TRUE(r.printed("warning: probabilities don't add up to one (node a)")) << r.out;
    EXPECT_NEAR(r.F("g", 1.0), 0.5 * expF(1, 1.0), 1e-12);

    // A probability without a "prob" exit is dropped.
    TreeRun stray(graph("a b\nb c\n", "prob a b 0.5\ndist a exp(1)\ndist b exp(2)\ndist c exp(3)\n"));
    EXPECT_TRUE(stray.printed("warning: node does not need probability: node b")) << stray.out;
    ASSERT_TRUE(stray.solve("g"));
    EXPECT_NEAR(stray.F("g", 2.0), 1 - hypo_survival({1, 2, 3}, 2.0), 1e-10);

    TreeRun missing(graph("a b\na c\n", "exit a prob\nprob a b 1\ndist a exp(1)\ndist b exp(1)\ndist c exp(1)\n"));
    EXPECT_FALSE(missing.solve("g"));
    EXPECT_TRUE(missing.printed("error: probability needed (a to c)")) << missing.out;

    TreeRun nodist(graph("a b\n", "dist a exp(1)\n"));
    EXPECT_FALSE(nodist.solve("g"));
    EXPECT_TRUE(nodist.printed("error: no distribution specified for node b")) << nodist.out;

    TreeRun empty(graph("", ""));
    EXPECT_EQ(empty.status, 0);
    EXPECT_TRUE(empty.printed("warning: system is empty: g")) << empty.out;
}

// A long chain, a wide fork and nested forks reduce without recursion.
TEST(SpGraph, LargeGraphs) {
    std::string arcs, info;
    const int n = 3000;
    for (int i = 1; i < n; ++i) arcs += "n" + std::to_string(i - 1) + " n" + std::to_string(i) + "\n";
    for (int i = 0; i < n; ++i) info += "dist n" + std::to_string(i) + " zero\n";
    TreeRun chain(graph(arcs, info));
    ASSERT_EQ(chain.status, 0);
    ASSERT_TRUE(chain.solve("g"));
    EXPECT_NEAR(chain.F("g", 0.0), 1.0, 1e-12);

    std::string fork = "s j\n", finfo = "dist s zero\ndist j zero\nexit s min\n";
    for (int i = 0; i < 500; ++i) {
        fork += "s b" + std::to_string(i) + "\nb" + std::to_string(i) + " j\n";
        finfo += "dist b" + std::to_string(i) + " exp(1)\n";
    }
    // s j is an arc straight to the join: an empty branch, not series-parallel.
    TreeRun bad(graph(fork, finfo));
    EXPECT_EQ(bad.status, kExitFailure);
    EXPECT_TRUE(bad.printed("not series-parallel")) << bad.out.substr(0, 300);
    TreeRun wide(graph(fork.substr(4), finfo));
    ASSERT_EQ(wide.status, 0) << wide.out.substr(0, 300);
    ASSERT_TRUE(wide.solve("g"));
    EXPECT_NEAR(wide.F("g", 0.003), expF(500, 0.003), 1e-12);  // the first of 500 exp(1)
}

}  // namespace
}  // namespace corvel
