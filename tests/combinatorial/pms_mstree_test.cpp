// Phased missions and multi-state trees: rebuilding when the phase of the
// time point changes, the traces of the debug switches and of verbose mode,
// variables per component state, and the criticality warning.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bdd/bdd.h"
#include "combinatorial/mstree_solve.h"
#include "combinatorial/pms_blocks.h"
#include "combinatorial/pms_solve.h"
#include "combinatorial/tree_run.h"

namespace corvel {
namespace {

const char* kMission =
    "ftree f1\nrepeat a exp(0.5)\nrepeat b exp(1)\nand top a b\nend\n"
    "ftree f2\nrepeat a exp(0.5)\nrepeat c exp(2)\nor top a c\nend\n"
    "pms m\n1 f1 1\n2 f2 1\n3 f1 2\nend\n";

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

TEST(PmsSolve, DiagramFollowsThePhaseOfTheTimePoint) {
    TreeRun r(kMission);
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& m = r.sys("m");
    const double early = analyze_pms_with_bdd(r.in, m, 0.5).p_res;
    EXPECT_EQ(pms_model(m)->analysis->nphase, 1);
    // By hand: phase 1 alone is a and b.
    EXPECT_NEAR(early, (1 - std::exp(-0.25)) * (1 - std::exp(-0.5)), 1e-14);
    PmsAnalysis& late = analyze_pms_with_bdd(r.in, m, 3.0);
    EXPECT_EQ(late.nphase, 3);
    EXPECT_EQ(late.ncomp(), 3);
    EXPECT_EQ(bdd_vars(late.m), 9);
    // By hand at t = 3 (one unit into phase 3): phase 1's failure implies
    // a failed, which phase 2 counts, so the mission survives when a and c
    // survive phase 2 and not both a fails in phase 3 and b has failed by its
    // end (b runs one unit in phase 1 and one in phase 3).
    const double survive = std::exp(-1.0) * std::exp(-2.0) * (1 - (1 - std::exp(-0.5)) * (1 - std::exp(-2.0)));
    EXPECT_NEAR(late.p_res, 1 - survive, 1e-14);
    EXPECT_EQ(analyze_pms_with_bdd(r.in, m, 0.5).p_res, early);
}

TEST(PmsSolve, EndOfMissionBelongsToTheLastPhaseUnderRtimep) {
    TreeRun r(std::string(kMission) + "rtimep\n");
    ASSERT_EQ(r.status, 0) << r.out;
    // No phase ends after t = 4, the end of the mission: t stays in phase 3
    // instead of being out of range. By hand: a and c survive phase 2, and
    // not both a fails in phase 3 (two units) and b has failed by its end
    // (one unit in phase 1, two in phase 3).
    PmsAnalysis& a = analyze_pms_with_bdd(r.in, r.sys("m"), 4.0);
    EXPECT_EQ(a.last_phase, 2);
    const double survive = std::exp(-1.0) * std::exp(-2.0) * (1 - (1 - std::exp(-1.0)) * (1 - std::exp(-3.0)));
    EXPECT_NEAR(a.p_res, 1 - survive, 1e-14);
}

TEST(PmsSolve, TracesOfVerboseAndDebug) {
    TreeRun r(std::string(kMission) + "verbose on\ndebug pms\n");
    ASSERT_EQ(r.status, 0) << r.out;
    r.out.clear();
    analyze_pms_with_bdd(r.in, r.sys("m"), 1.5);
    EXPECT_TRUE(contains(r.out, "time point 1.500000 in phase 2\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "BDD Statistics:\nSize of BDD for Tree = ")) << r.out;
    EXPECT_TRUE(contains(r.out, "========= bdd tree\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "a(2)")) << r.out;
    // Phase 1's failure (a and b) implies phase 2's (a or c): b drops out.
    EXPECT_TRUE(contains(r.out, "c(2)")) << r.out;
    EXPECT_FALSE(contains(r.out, "b(1)")) << r.out;
}

TEST(PmsSolve, CriticalityWithoutFailureWarns) {
    TreeRun r(kMission);
    analyze_pms_with_bdd(r.in, r.sys("m"), 0.0);
    r.out.clear();
    EXPECT_EQ(pms_importance(r.in, r.sys("m"), "a", 1, Kw::Cimpt), 0.0);
    EXPECT_EQ(r.out, "Warning: no criticality importance measurs at this time point\n");
    // Structural importance ignores time: a decides when b has failed.
    EXPECT_GT(pms_importance(r.in, r.sys("m"), "a", 1, Kw::Simpt), 0.0);
}

// The model of tests/golden/pms/only_in_phase_two.crv; the expected values
// are printed by tests/golden/pms/reference.py --importance, which enumerates
// the phase variables (c's Birnbaum importance in phase 2 is by hand
// e^(-0.6), a surviving to t = 3; a's is e^(-1), c surviving its unit of
// phase 2).
const char* kTwoPhases =
    "ftree f1\nrepeat a exp(0.2)\nrepeat b exp(0.4)\nand top a b\nend\n"
    "ftree f2\nrepeat a exp(0.2)\nrepeat c exp(1)\nor top a c\nend\n"
    "pms m\n1 f1 2\n2 f2 1.5\nend\n";

TEST(PmsSolve, ImportancePerPhaseMatchesEnumeration) {
    TreeRun r(kTwoPhases);
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord& m = r.sys("m");
    analyze_pms_with_bdd(r.in, m, 3.0);
    EXPECT_NEAR(pms_importance(r.in, m, "c", 2, Kw::Bimpt), 0.54881163609402639, 1e-14);
    EXPECT_NEAR(pms_importance(r.in, m, "c", 2, Kw::Bimpt), std::exp(-0.6), 1e-14);
    EXPECT_NEAR(pms_importance(r.in, m, "c", 2, Kw::Cimpt), 0.43467435729975656, 1e-14);
    EXPECT_NEAR(pms_importance(r.in, m, "a", 2, Kw::Bimpt), std::exp(-1.0), 1e-14);
    EXPECT_NEAR(pms_importance(r.in, m, "b", 1, Kw::Bimpt), 0.0, 1e-14);
    analyze_pms_with_bdd(r.in, m, 3.5);
    EXPECT_NEAR(pms_importance(r.in, m, "a", 2, Kw::Simpt), 0.25, 1e-14);
    EXPECT_NEAR(pms_importance(r.in, m, "b", 1, Kw::Simpt), 0.0, 1e-14);
}

TEST(PmsSolve, ComponentsOutsideTheirPhasesAreRefused) {
    TreeRun r(kTwoPhases);
    analyze_pms_with_bdd(r.in, r.sys("m"), 3.0);
    try {
        pms_importance(r.in, r.sys("m"), "c", 1, Kw::Bimpt);
        ADD_FAILURE() << "no error";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.status, kExitFailure);
    }
    EXPECT_TRUE(contains(r.out, "error: component doesn't exist in this phase, system m")) << r.out;
    TreeRun s(std::string(kTwoPhases) + "expr bimpt(3; m, c)\n");
    EXPECT_TRUE(contains(s.out, "error: inappropriate information requested: m")) << s.out;
}

const char* kMulti =
    "mstree ms\nrepeat p:0 exp(0.1)\nrepeat p:1 exp(0.2)\nrepeat p:2 exp(0.3)\nrepeat q exp(1)\n"
    "and g p:1 q\nor top1 g p:2\nor top2 g p:0\nend\n";

TEST(MstreeSolve, EveryStateOwnsAVariable) {
    TreeRun r(kMulti);
    ASSERT_EQ(r.status, 0) << r.out;
    MstreeAnalysis& a = analyze_mstree_with_bdd(r.in, r.sys("ms"));
    EXPECT_EQ(a.ncpstate, 3);
    EXPECT_EQ(a.num_comp(), 2);
    EXPECT_EQ(bdd_vars(a.m), 6);
    ASSERT_EQ(a.tops.size(), 2u);
    // The gate both top events use was built once and kept.
    EXPECT_NE(a.gate_bdd[static_cast<size_t>(r.sys("ms").names.find("g"))], kBddNull);
}

TEST(MstreeSolve, DebugTraceNamesEachTopEvent) {
    TreeRun r(std::string(kMulti) + "debug mstree\n");
    r.out.clear();
    analyze_mstree_with_bdd(r.in, r.sys("ms"));
    EXPECT_TRUE(contains(r.out, "BDD Statistics:\nSize of BDD for Tree top1 = ")) << r.out;
    EXPECT_TRUE(contains(r.out, "Size of BDD for Tree top2 = ")) << r.out;
    EXPECT_TRUE(contains(r.out, "==== BDD for top1:\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "==== BDD for top2:\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "p:2")) << r.out;
}

TEST(MstreeSolve, QueriesNeedATopEventOrGate) {
    TreeRun r(std::string(kMulti) + "expr tvalue(1; ms, g)\nexpr tvalue(1; ms, q)\n");
    EXPECT_EQ(r.status, kExitFailure);
    const double g = (1 - std::exp(-0.2)) * (1 - std::exp(-1.0));
    EXPECT_TRUE(contains(r.out, format_string("tvalue(1; ms, g):   %.4e\n", g))) << r.out;
    EXPECT_TRUE(contains(r.out, "error: event not at top of fault tree: system ms, event q")) << r.out;
}

}  // namespace
}  // namespace corvel
