// Regenerative processes: analyses repeated for new parameter values, and
// general distributions without a finite mean or total mass.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "statespace/run_text.h"

namespace corvel {
namespace {

// Runs `text` with the built-in distributions installed.
struct MrgpRun : RunText {
    explicit MrgpRun(const std::string& text) {
        in.install_builtins();
        run(text);
    }
};

TEST(Mrgp, EachBindingIsAnalysedAfresh) {
    // Hypoexponential up time (rates 1 and 3: mean 4/3) and repair at rate
    // r: P(up) = (4/3) / (4/3 + 1/r). The subordinated chains are internal,
    // so analysing again for a new r neither clashes nor keeps old numbers.
    MrgpRun r(
        "mrgp two(r)\n"
        "up @ down hypoexp(1, 3)\n"
        "down - up exp(r)\n"
        "end\n"
        "expr prob(two, up; 2), prob(two, up; 4), prob(two, up; 2)\n");
    ASSERT_EQ(r.status, 0) << r.out;
    auto p = [](double rate) { return (4.0 / 3.0) / (4.0 / 3.0 + 1.0 / rate); };
    char expect[300];
    std::snprintf(expect, sizeof expect,
                  "prob(two, up; 2):   %.4e\nprob(two, up; 4):   %.4e\nprob(two, up; 2):   %.4e\n", p(2), p(4), p(2));
    EXPECT_NE(r.out.find(expect), std::string::npos) << r.out << "\nexpected\n" << expect;
}

TEST(Mrgp, GeneralDistributionWithoutFullMassIsRefused) {
    // A defective distribution never fires with probability 1/2: the
    // embedded row cannot add up to one and the expected time is infinite.
    MrgpRun r(
        "mrgp leak\n"
        "a @ b defective(0.5, 2)\n"
        "b - a exp(1)\n"
        "end\n"
        "expr prob(leak, a)\n");
    EXPECT_EQ(r.status, kExitFailure) << r.out;
    EXPECT_NE(r.out.find("steady-state probabilities don't add to one"), std::string::npos) << r.out;
}

TEST(Mrgp, SlowGeneralTransitionOverAFastSubordinatedChain) {
    // Exponential arcs at rate 50 flip between a and b while an Erlang-2 of
    // rate 0.01 (mean 200) runs; both end in c, which returns at rate 1.
    // Within the long general period a and b split 1/2 each by symmetry up
    // to the start transient, whose excess time in a is 1/(2 * 100): so
    // time(a) = 100 + 1/200, time(b) = 100 - 1/200, time(c) = 1.
    MrgpRun r(
        "mrgp fast\n"
        "a @ c gen 1,0,0, -1,0,-0.01, -0.01,1,-0.01\n"
        "b @ c gen 1,0,0, -1,0,-0.01, -0.01,1,-0.01\n"
        "a - b exp(50)\n"
        "b - a exp(50)\n"
        "c - a exp(1)\n"
        "end\n"
        "format 8\n"
        "expr prob(fast, a), prob(fast, c)\n");
    ASSERT_EQ(r.status, 0) << r.out;
    // E[(1 - e^(-100 T)) / 100] for T ~ Erlang-2(0.01): (1 - (0.01/100.01)^2) / 100.
    const double excess = 0.5 * (1.0 - (0.01 / 100.01) * (0.01 / 100.01)) / 100.0;
    const double ta = 100.0 + excess, total = 201.0;
    char expect[200];
    std::snprintf(expect, sizeof expect, "prob(fast, a):   %.8e\nprob(fast, c):   %.8e\n", ta / total, 1.0 / total);
    EXPECT_NE(r.out.find(expect), std::string::npos) << r.out << "\nexpected\n" << expect;
}

}  // namespace
}  // namespace corvel
