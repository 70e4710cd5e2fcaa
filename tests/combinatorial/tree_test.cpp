// Block diagrams and fault trees without repeated events: what the readers
// build and refuse, and the failure-time distributions the tree solver gives,
// checked against closed forms.

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

const double kTimes[] = {0.1, 0.5, 1.0, 2.5};

TEST(TreeSolve, SeriesParallelAndNestedBlocks) {
    TreeRun r(
        "block ser\n"
        "comp a exp(1)\n"
        "comp b exp(2)\n"
        "series s a b\n"
        "end\n"
        "block par\n"
        "comp a exp(1)\n"
        "comp b exp(2)\n"
        "parallel p a b\n"
        "end\n"
        "block nest\n"
        "comp a exp(1)\n"
        "comp b exp(2)\n"
        "comp c exp(3)\n"
        "parallel p a b\n"
        "series top p c\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.sys("ser").type, kSysBlock);
    ASSERT_TRUE(r.solve("ser"));
    ASSERT_TRUE(r.solve("par"));
    ASSERT_TRUE(r.solve("nest"));
    for (double t : kTimes) {
        EXPECT_NEAR(r.F("ser", t), 1.0 - std::exp(-3.0 * t), 1e-12);
        EXPECT_NEAR(r.F("par", t), expF(1, t) * expF(2, t), 1e-12);
        double up = (1.0 - expF(1, t) * expF(2, t)) * std::exp(-3.0 * t);
        EXPECT_NEAR(r.F("nest", t), 1.0 - up, 1e-12);
    }
    EXPECT_TRUE(r.sys("nest").has_dist);

    // Asked for one node, the solver gives that node's distribution.
    AnalysisRequest req;
    req.node = r.sys("nest").names.find("p");
    analyze_tree_system(r.in, r.sys("nest"), req);
    EXPECT_NEAR(r.F("nest", 1.0), expF(1, 1.0) * expF(2, 1.0), 1e-12);
}

// A block kofn counts working components, a fault-tree kofn failures.
TEST(TreeSolve, KOutOfNInBlocksAndTrees) {
    TreeRun r(
        "block two\n"
        "comp a exp(1)\n"
        "comp b exp(1)\n"
        "comp c exp(1)\n"
        "kofn k 2, 3, a b c\n"
        "end\n"
        "block one\n"
        "comp a exp(1)\n"
        "comp b exp(1)\n"
        "comp c exp(1)\n"
        "kofn k 1, 3, a, b, c\n"
        "end\n"
        "ftree f\n"
        "basic a exp(1)\n"
        "basic b exp(1)\n"
        "basic c exp(1)\n"
        "kofn top 2, 3, a b c\n"
        "end\n"
        "ftree short\n"
        "basic x exp(1)\n"
        "kofn top 2, 3, x\n"
        "end\n"
        "block bshort\n"
        "comp x exp(1)\n"
        "kofn top 1, 3, x\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.sys("f").type, kSysFtreeNoRepeat);
    for (const char* s : {"two", "one", "f", "short", "bshort"}) ASSERT_TRUE(r.solve(s)) << s << r.out;
    for (double t : kTimes) {
        double F = expF(1, t);
        double two_fail = 3 * F * F * (1 - F) + F * F * F;
        EXPECT_NEAR(r.F("two", t), two_fail, 1e-12);
        EXPECT_NEAR(r.F("f", t), two_fail, 1e-12);
        EXPECT_NEAR(r.F("short", t), two_fail, 1e-12);
        EXPECT_NEAR(r.F("one", t), F * F * F, 1e-12);
        EXPECT_NEAR(r.F("bshort", t), F * F * F, 1e-12);
    }
}

TEST(TreeSolve, BasicEventUnderTwoGatesIsTwoIndependentEvents) {
    TreeRun r(
        "ftree f\n"
        "basic x exp(1)\n"
        "basic y exp(2)\n"
        "basic z exp(3)\n"
        "and g1 x y\n"
        "and g2 x z\n"
        "or top g1 g2\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.sys("f").type, kSysFtreeNoRepeat);
    ASSERT_TRUE(r.solve("f"));
    for (double t : kTimes) {
        double g1 = expF(1, t) * expF(2, t), g2 = expF(1, t) * expF(3, t);
        EXPECT_NEAR(r.F("f", t), 1 - (1 - g1) * (1 - g2), 1e-12);
    }
}

// With a repeated event in the tree, a basic event's further occurrences
// become copy records that print as "x(1)", "x(2)".
TEST(TreeBuild, CopiesOfBasicEventsInTreesWithRepeats) {
    TreeRun r(
        "ftree f\n"
        "repeat r exp(1)\n"
        "basic x exp(2)\n"
        "and g1 r x\n"
        "and g2 r x\n"
        "and g3 x r\n"
        "or top g1 g2 g3\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& sys = r.sys("f");
    EXPECT_EQ(sys.type, kSysFtreeRepeated);
    const TreeModel* tm = find_tree_model(sys);
    ASSERT_NE(tm, nullptr);
    int x = sys.names.find("x");
    int c1 = sys.names.find(";" + std::to_string(x) + ";1");
    int c2 = sys.names.find(";" + std::to_string(x) + ";2");
    ASSERT_GE(c1, 0);
    ASSERT_GE(c2, 0);
    EXPECT_EQ(real_name(sys, c1), "x(1)");
    EXPECT_EQ(real_name(sys, c2), "x(2)");
    EXPECT_EQ(real_name(sys, x), "x");
    EXPECT_EQ(sys.nodes[static_cast<size_t>(x)].num_copies, 3);
    EXPECT_EQ(sys.nodes[static_cast<size_t>(c1)].udist, sys.nodes[static_cast<size_t>(x)].udist);
    // The components: r, x, then the copies in tree order.
    ASSERT_EQ(tm->map.size(), 4u);
    EXPECT_EQ(tm->map[2], c1);
    EXPECT_EQ(tm->map[3], c2);
    // g2's second input stands for the first copy.
    const TreeNode& top = tm->tree[static_cast<size_t>(tm->root)];
    ASSERT_EQ(top.kids.size(), 3u);
    const TreeNode& g2 = tm->tree[static_cast<size_t>(top.kids[1])];
    EXPECT_EQ(tm->tree[static_cast<size_t>(g2.kids[1])].first_node, c1);
}

TEST(TreeBuild, TransferToAGateIsRefused) {
    TreeRun r(
        "ftree f\n"
        "basic x exp(1)\n"
        "basic y exp(1)\n"
        "and g x y\n"
        "transfer t g\n"
        "end\n");
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_TRUE(r.printed("Transferring to a gate is not allowed.\n"
                          "To get a \"repeated gate\", use repeated events \n"
                          "beneath the gate.\n"
                          "error: transfer allowed only to event or transfer, node g"))
        << r.out;
}

TEST(TreeBuild, TransferToAnEventMakesTheTreeRepeated) {
    TreeRun r(
        "ftree f\n"
        "basic x exp(1)\n"
        "basic y exp(1)\n"
        "transfer t x\n"
        "and g t y\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& sys = r.sys("f");
    EXPECT_EQ(sys.type, kSysFtreeRepeated);
    int t = sys.names.find("t"), x = sys.names.find("x");
    EXPECT_EQ(sys.nodes[static_cast<size_t>(t)].transfer_index, x);
    EXPECT_TRUE(sys.nodes[static_cast<size_t>(x)].transferred_to);
    EXPECT_EQ(resolve_transfer(sys, t), x);
}

TEST(TreeBuild, StatementErrors) {
    const char* head = "basic x exp(1)\nbasic y exp(1)\n";
    struct Case {
        std::string lines;
        std::string message;
    } cases[] = {
        {"and g x w\n", "error: cannot find node name w"},
        {"and g x g\n", "error: a block cannot be a subblock of itself"},
        {"kofn g 1, 1,\n", "error: not enough components"},
        {"not g x y\n", "error: not enough components"},
        {"basic x exp(2)\n", "error: duplicate name: x"},
        {"kofn g 3, 2, x y\n", "error: K must be <= N: node g"},
        {"kofn g 0, 2, x y\n", "error: K must be at least 1: node g"},
    };
    for (const Case& c : cases) {
        TreeRun r("ftree f\n" + std::string(head) + c.lines + "end\n");
        EXPECT_EQ(r.status, kExitFailure) << c.lines;
        EXPECT_TRUE(r.printed(c.message)) << c.lines << r.out;
    }
    // A gate with one input does not match its line form.
    TreeRun single("ftree f\n" + std::string(head) + "or g x\nend\n");
    EXPECT_EQ(single.status, 0);
    EXPECT_TRUE(single.printed("parse error in file t.crv, line 4")) << single.out;
    TreeRun block("block b\ncomp x exp(1)\ntransfer t x\nend\n");
    EXPECT_TRUE(block.printed("error: system must be a fault tree: b")) << block.out;
    TreeRun empty("block b\nend\n");
    EXPECT_EQ(empty.status, 0);
    EXPECT_TRUE(empty.printed("warning: system is empty: b")) << empty.out;
}

// Interactively a rejected statement is dropped and the block goes on.
TEST(TreeBuild, InteractiveErrorDropsOnlyTheStatement) {
    TreeRun r(TreeRun::kInteractive);
    r.run(
        "block b\n"
        "comp a exp(1)\n"
        "series s a missing\n"
        "comp c exp(2)\n"
        "series s a c\n"
        "end\n");
    EXPECT_TRUE(r.printed("cannot find node name missing.  Try again.")) << r.out;
    ASSERT_TRUE(r.solve("b")) << r.out;
    EXPECT_NEAR(r.F("b", 1.0), 1 - std::exp(-3.0), 1e-12);
}

TEST(TreeSolve, RepairDistributionsByMeasure) {
    const char* text =
        "block b\n"
        "comp a exp(1) exp(3)\n"
        "comp c exp(2)\n"
        "series s a c\n"
        "end\n";
    const double u = 0.25;  // l / (l + m)
    auto series_with = [](double qa, double qc) { return 1 - (1 - qa) * (1 - qc); };
    TreeRun r(text);
    // sysprob: a repaired component is down with l/(l+m); c, never repaired,
    // is down for good (probability 1 that it ever fails), so the series is down.
    ASSERT_TRUE(r.solve("b", Kw::Sysprob));
    EXPECT_EQ(r.sys("b").s_dist.size(), 1u);
    EXPECT_NEAR(r.F("b", 1.0), series_with(u, 1.0), 1e-12);
    const NodeInfo& a = r.sys("b").nodes[0];
    EXPECT_DOUBLE_EQ(a.failure_rate, 1.0);
    EXPECT_DOUBLE_EQ(a.repair_rate, 3.0);

    ASSERT_TRUE(r.solve("b", Kw::Cdf));
    for (double t : kTimes) EXPECT_NEAR(r.F("b", t), series_with(u - u * std::exp(-4 * t), expF(2, t)), 1e-12);

    ASSERT_TRUE(r.solve("b", Kw::Mttf));
    EXPECT_NEAR(r.F("b", 0.7), 1 - std::exp(-3 * 0.7), 1e-12);

    // tvalue: every component is its value at the time; the result is a constant.
    ASSERT_TRUE(r.solve("b", Kw::Tvalue, true, 0.5));
    EXPECT_EQ(r.sys("b").s_dist.size(), 1u);
    EXPECT_NEAR(r.F("b", 99.0), series_with((1 - std::exp(-2.0)) * u, expF(2, 0.5)), 1e-12);
    ASSERT_TRUE(r.solve("b", Kw::Tvalue, true, 0.0));
    EXPECT_NEAR(r.F("b", 0.0), 0.0, 1e-15);
}

TEST(TreeSolve, RepairNeedsExponentialDistributions) {
    TreeRun ignored("block b\ncomp a exp(1) gen 1,0,0\ncomp c exp(2)\nseries s a c\nend\n");
    EXPECT_TRUE(ignored.printed("Currently only exponential distribution is accepted.\n"));
    EXPECT_EQ(ignored.sys("b").nodes[0].rudist, nullptr);

    TreeRun r("block b\ncomp a gen 1,0,0, -1,1,-1 exp(1)\ncomp c exp(2)\nseries s a c\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(r.solve("b"));
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_TRUE(r.printed("Currently only exponential distribution is accepted.\n")) << r.out;
}

TEST(TreeSolve, WeibullOnlyAtATimePoint) {
    const char* text = "ftree f\nbasic w weibull(2, 1.5)\nbasic x exp(1)\nand top w x\nend\n";
    TreeRun r(text);
    ASSERT_TRUE(r.solve("f", Kw::Tvalue, true, 0.8)) << r.out;
    double w = 1 - std::exp(-std::pow(0.8, 1.5) / 2);
    EXPECT_NEAR(r.F("f", 0.8), w * expF(1, 0.8), 1e-12);
    EXPECT_FALSE(r.solve("f", Kw::Cdf));
    EXPECT_TRUE(r.printed("error: Weibull not supported except for tvalue")) << r.out;
}

TEST(TreeSolve, FaultTreeWarningsAndNonCoherentRefusal) {
    TreeRun r("ftree f\nbasic x exp(1)\nbasic y exp(1)\nand top x y\nend\n");
    r.in.settings.use_bdd = true;
    r.in.settings.user_turned_bdd_on = true;
    ASSERT_TRUE(r.solve("f"));
    EXPECT_TRUE(r.printed("warning: can't use bdd on ftree without repeated events: system f")) << r.out;
    EXPECT_TRUE(r.printed(".\nTo use bdd, use repeat to declare one of the event names that appears only once.\n"))
        << r.out;

    TreeRun quiet("ftree f\nbasic x exp(1)\nbasic y exp(1)\nand top x y\nend\n");
    quiet.in.settings.user_turned_bdd_on = false;
    ASSERT_TRUE(quiet.solve("f"));
    EXPECT_FALSE(quiet.printed("warning"));

    TreeRun nand("ftree f\nbasic x exp(1)\nbasic y exp(1)\nnand top x y\nend\n");
    EXPECT_FALSE(nand.sys("f").coherent);
    EXPECT_FALSE(nand.solve("f"));
    EXPECT_TRUE(nand.printed("To use not, nor, nand, or nkofn gates, use repeat to declare\n"
                             "an event name that appears only once and leave bdd on.\n"
                             "error: can't use not, nor, nand or nkofn without a repeated event\nand bdd: system f"))
        << nand.out;
}

// k and n written with the block's parameters are bound before each analysis.
TEST(TreeSolve, SymbolicKAndN) {
    TreeRun r(
        "block b(k, n)\n"
        "comp x exp(1)\n"
        "comp y exp(1)\n"
        "comp z exp(1)\n"
        "kofn top k, n, x y z\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& sys = r.sys("b");
    auto bind = [&](double k, double n) {
        std::vector<std::unique_ptr<Expr>> args;
        args.push_back(Expr::constant(k));
        args.push_back(Expr::constant(n));
        r.in.eval.bind_parameters(sys.params, args);
    };
    const double F = expF(1, 1.0);
    bind(3, 3);
    ASSERT_TRUE(r.solve("b"));
    EXPECT_NEAR(r.F("b", 1.0), 1 - std::pow(1 - F, 3), 1e-12);  // all must work
    bind(1.9, 3);  // truncated to 1
    ASSERT_TRUE(r.solve("b"));
    EXPECT_NEAR(r.F("b", 1.0), F * F * F, 1e-12);
    bind(2, 4);
    EXPECT_FALSE(r.solve("b"));
    EXPECT_TRUE(r.printed("error: k out of n exit must be followed by 1 or n subgraphs: node top")) << r.out;
    bind(4, 3);
    EXPECT_FALSE(r.solve("b"));
    EXPECT_TRUE(r.printed("error: K must be <= N: node top")) << r.out;
}

TEST(TreePqcdf, FormulasOfGates) {
    TreeRun r(
        "block b\ncomp a exp(1)\ncomp c exp(2)\nseries s a c\nend\n"
        "ftree f\nbasic a exp(1)\nbasic b exp(1)\nand top a b\nend\n"
        "ftree k\nbasic a exp(1)\nbasic b exp(1)\nbasic c exp(1)\nkofn top 3, 3, a b c\nend\n");
    ASSERT_TRUE(r.solve("b"));
    r.out.clear();
    print_tree_pqcdf(r.in, r.sys("b"));
    EXPECT_EQ(r.out, "  1 - ((1 - (Q(c))) * (1 - (Q(a))))\n\n");
    ASSERT_TRUE(r.solve("f"));
    r.out.clear();
    print_tree_pqcdf(r.in, r.sys("f"));
    EXPECT_EQ(r.out, "  (Q(b)) * (Q(a))\n\n");
    ASSERT_TRUE(r.solve("k"));
    r.out.clear();
    print_tree_pqcdf(r.in, r.sys("k"));
    EXPECT_EQ(r.out, "  (Q(c)) * ((Q(b)) * (Q(a)))\n\n");
}

// The linear-time AND/OR texts are the ones the general k-of-n text algebra writes.
TEST(TreePqcdf, WideAndOrGatesMatchTheGeneralFormula) {
    for (int n = 2; n <= 6; ++n) {
        std::string text = "ftree f\n";
        std::vector<std::string> leaves;
        for (int i = 0; i < n; ++i) {
            text += "basic e" + std::to_string(i) + " exp(1)\n";
            leaves.push_back("Q(e" + std::to_string(i) + ")");
        }
        for (const char* gate : {"and", "or"}) {
            TreeRun r(text + gate + " top" + [&] {
                std::string m;
                for (int i = 0; i < n; ++i) m += " e" + std::to_string(i);
                return m;
            }() + "\nend\n");
            ASSERT_TRUE(r.solve("f")) << r.out;
            SymFormula got = analyze_tree_pqcdf(r.in, r.sys("f"), find_tree_model(r.sys("f"))->root, kSysFtreeNoRepeat);
            SymFormula want;
            sym_k_of_n_gen(leaves, want, std::string(gate) == "and" ? n : 1, n);
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(*got, *want) << gate << " " << n;
        }
    }
}

TEST(TreeRewrite, KOutOfNBecomesOrOfAnds) {
    TreeRun r(
        "ftree f\nrepeat a exp(1)\nrepeat b exp(1)\nrepeat c exp(1)\nrepeat d exp(1)\n"
        "kofn top 2, 4, a b c d\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& sys = r.sys("f");
    TreeModel& tm = tree_model(sys);
    bind_k_n(r.in, sys, tm.root, kFatal);
    const int live = tm.live_nodes();
    rewrite_kofn(r.in, sys, tm.root);
    const TreeNode& top = tm.tree[static_cast<size_t>(tm.root)];
    EXPECT_EQ(top.type, NT_MIN);
    ASSERT_EQ(top.kids.size(), 6u);
    std::set<std::set<int>> pairs;
    for (int kid : top.kids) {
        const TreeNode& g = tm.tree[static_cast<size_t>(kid)];
        EXPECT_EQ(g.type, NT_MAX);
        std::set<int> members;
        for (int leaf : g.kids) members.insert(tm.tree[static_cast<size_t>(leaf)].first_node);
        EXPECT_EQ(members.size(), 2u);
        pairs.insert(members);
    }
    EXPECT_EQ(pairs.size(), 6u);  // every pair once
    // Binding again restores the declared gate and gives back the rewritten nodes.
    bind_k_n(r.in, sys, tm.root, kFatal);
    EXPECT_EQ(tm.tree[static_cast<size_t>(tm.root)].type, NT_KOFN);
    EXPECT_EQ(tm.tree[static_cast<size_t>(tm.root)].kids.size(), 4u);
    EXPECT_EQ(tm.live_nodes(), live);
}

TEST(TreeRewrite, ShorthandCannotBeRewritten) {
    TreeRun r("ftree f\nrepeat a exp(1)\nkofn top 2, 3, a\nend\n");
    SystemRecord& sys = r.sys("f");
    TreeModel& tm = tree_model(sys);
    bind_k_n(r.in, sys, tm.root, kFatal);
    EXPECT_THROW(rewrite_kofn(r.in, sys, tm.root), ProgramExit);
    EXPECT_TRUE(r.printed("error: shorthand k-of-n gates prohibited in system f")) << r.out;
}

// Deep and wide trees: no recursion, and ten thousand components solve.
TEST(TreeScale, DeepChainAndTenThousandComponents) {
    std::string deep = "ftree f\nbasic x0 exp(1)\n";
    const int depth = 20000;
    for (int i = 1; i <= depth; ++i) {
        deep += "basic x" + std::to_string(i) + " exp(1)\n";
        deep += "or g" + std::to_string(i) + " " + (i == 1 ? "x0" : "g" + std::to_string(i - 1)) + " x" +
                std::to_string(i) + "\n";
    }
    TreeRun r(deep + "end\n");
    ASSERT_EQ(r.status, 0) << r.out.substr(0, 500);
    ASSERT_TRUE(r.solve("f"));
    EXPECT_NEAR(r.F("f", 1e-4), 1 - std::exp(-(depth + 1) * 1e-4), 1e-10);

    // Ten series blocks, each a parallel pair of series of 500 components
    // exp(0.001): every pair survives with 2e^(-t/2) - e^(-t).
    std::string wide = "block b\n";
    std::string top = "series top";
    for (int blk = 0; blk < 10; ++blk) {
        std::string pair = "parallel p" + std::to_string(blk);
        for (int side = 0; side < 2; ++side) {
            std::string chain = "s" + std::to_string(blk) + "_" + std::to_string(side);
            std::string line = "series " + chain;
            for (int c = 0; c < 500; ++c) {
                std::string name = "c" + std::to_string(blk) + "_" + std::to_string(side) + "_" + std::to_string(c);
                wide += "comp " + name + " exp(0.001)\n";
                line += " " + name;
            }
            wide += line + "\n";
            pair += " " + chain;
        }
        wide += pair + "\n";
        top += " p" + std::to_string(blk);
    }
    TreeRun w(wide + top + "\nend\n");
    ASSERT_EQ(w.status, 0);
    ASSERT_TRUE(w.solve("b"));
    for (double t : {0.5, 2.0, 5.0})
        EXPECT_NEAR(w.F("b", t), 1 - std::pow(2 * std::exp(-t / 2) - std::exp(-t), 10), 1e-9);
}

}  // namespace
}  // namespace corvel
