// Reading pms blocks: phases in order, with their fault trees and durations.

#include "combinatorial/pms_blocks.h"

#include <gtest/gtest.h>

#include "statespace/run_text.h"

namespace corvel {
namespace {

// Fault trees as their own block would leave them: a and b have repeated
// events, c has none; other records for the refusals.
void add_trees(RunText& r) {
    r.in.systems.create("a", kSysFtreeRepeated);
    r.in.systems.create("b", kSysFtreeRepeated);
    r.in.systems.create("c", kSysFtreeNoRepeat);
    r.in.systems.create("g", kSysRelgraph);
    r.in.systems[r.in.systems.create("nc", kSysFtreeRepeated)].coherent = false;
    r.in.systems[r.in.systems.create("par", kSysFtreeRepeated)].params.push_back(std::make_unique<Param>());
}

TEST(PmsBlocks, PhasesAreOrderedByNumber) {
    RunText r;
    add_trees(r);
    r.run("pms m(d)\n2 b d\n1 a 10\n3 c 2.5\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    PmsModel* pms = pms_model(*r.sys("m"));
    ASSERT_NE(pms, nullptr);
    ASSERT_EQ(pms->phases.size(), 3u);
    EXPECT_EQ(pms->phases[0].order, 1);
    EXPECT_EQ(pms->phases[0].sys_index, r.in.systems.find("a"));
    EXPECT_DOUBLE_EQ(pms->phases[0].duration, 10.0);
    EXPECT_EQ(pms->phases[0].sym_duration, nullptr);
    EXPECT_EQ(pms->phases[1].sys_index, r.in.systems.find("b"));
    ASSERT_NE(pms->phases[1].sym_duration, nullptr);
    EXPECT_EQ(pms->phases[1].sym_duration->code, kParamRef);
    EXPECT_FALSE(pms->constant_durations);
    EXPECT_DOUBLE_EQ(pms->phases[2].duration, 2.5);
    // A tree without repeated events is noted once, when its phase is read.
    EXPECT_NE(r.out.find("\n*** NOTE:\n*** fault tree c will be treated in pms m as if all events were repeated.\n\n"),
              std::string::npos)
        << r.out;
}

void expect_pms_error(const std::string& text, const std::string& message) {
    RunText r;
    add_trees(r);
    r.run(text);
    EXPECT_EQ(r.status, kExitFailure) << text << "\n" << r.out;
    EXPECT_NE(r.out.find(message), std::string::npos) << text << "\n" << r.out;
}

TEST(PmsBlocks, ReadingErrors) {
    expect_pms_error("pms m\n0 a 1\n", "error: phase number must be positive (");
    expect_pms_error("pms m\n-2 a 1\n", "error: phase number must be positive (");
    expect_pms_error("pms m\n100 a 1\n", "error: phase number too large: 100 (t.crv: line    2).");
    expect_pms_error("pms m\n1 a 1\n1 b 1\n", "error: duplicate phase number: 1");
    expect_pms_error("pms m\n1 a 1\n3 b 1\nend\n", "error: missing a phase, system m");
    expect_pms_error("pms m\n2 a 1\nend\n", "error: missing a phase, system m");
    expect_pms_error("pms m\nend\n", "error: missing a phase, system m");
    expect_pms_error("pms m\n1 x 1\n", "error: cannot find system x");
    expect_pms_error("pms m\n1 g 1\n", "error: system must be a fault tree: g");
    expect_pms_error("pms m\n1 a -1\n", "error: expect non-negative value");
    expect_pms_error("pms m\n1 nc 1\n", "phases in pms can't use not, nor, nand, or nkofn gates.\n");
    expect_pms_error("pms m\n1 par 1\n", "phases in pms can't have system parameters.\n");
}

}  // namespace
}  // namespace corvel
