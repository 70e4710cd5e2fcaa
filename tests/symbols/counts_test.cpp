#include "symbols/counts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvel {
namespace {

struct Reporter {
    std::string captured;
    Output out{&captured};
    ErrorReporter err{out};
    Reporter() {
        err.interactive = false;
        err.location_source = [] { return SourceLocation{"m.crv", 7}; };
    }
};

// The status of the run after `f`, 0 when it went on.
template <class F>
int status_of(F f) {
    try {
        f();
    } catch (const ProgramExit& e) {
        return e.status;
    }
    return 0;
}

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(Counts, RoundingRulesAndTheRangeBelow) {
    Reporter r;
    EXPECT_EQ(checked_count(r.err, 2.9, CountRounding::Truncate, "k", kFatal), 2);
    EXPECT_EQ(checked_count(r.err, -2.9, CountRounding::Truncate, "k", kFatal), -2);
    EXPECT_EQ(checked_count(r.err, 0.5, CountRounding::Truncate, "k", kFatal), 0);
    EXPECT_EQ(checked_count(r.err, 0.5, CountRounding::Nearest, "k", kFatal), 1);
    EXPECT_EQ(checked_count(r.err, 2.5, CountRounding::Nearest, "k", kFatal), 3);
    EXPECT_EQ(checked_count(r.err, -0.5, CountRounding::Nearest, "k", kFatal), 0);
    EXPECT_EQ(checked_count(r.err, kMaxCount, CountRounding::Truncate, "k", kFatal), kMaxCount);
    // Far below the range: one below -limit, so the caller's own check fires.
    EXPECT_EQ(checked_count(r.err, -1e300, CountRounding::Truncate, "k", kFatal, 100), -101);
    EXPECT_EQ(checked_count(r.err, -1e300, CountRounding::Truncate, "k", kFatal), -kMaxCount - 1);
    EXPECT_EQ(r.captured, "");
}

TEST(Counts, NotANumberInfiniteAndHugeAreRefusedNamingPlaceAndValue) {
    for (double v : {kNan, -kNan, kInf, -kInf}) {
        Reporter r;
        EXPECT_EQ(status_of([&] { checked_count(r.err, v, CountRounding::Nearest, "n of node top", kFatal); }), 255);
        const std::string shown = std::isnan(v) ? "nan" : v > 0 ? "inf" : "-inf";
        EXPECT_EQ(r.captured, "error: floating point exception: n of node top is " + shown + " (m.crv: line    7).\n");
    }
    Reporter big;
    EXPECT_EQ(status_of([&] { checked_count(big.err, 2147483648.0, CountRounding::Truncate, "k", kFatal); }), 255);
    EXPECT_EQ(big.captured, "error: out of memory: k is 2.14748e+09 (m.crv: line    7).\n");

    // Interactive input errors abandon the command instead.
    Reporter typed;
    typed.err.interactive = true;
    EXPECT_THROW(checked_count(typed.err, kNan, CountRounding::Truncate, "k", kInputError), CommandAbandoned);
    EXPECT_EQ(typed.captured, "error: floating point exception: k is nan.  Try again.\n");
}

TEST(Counts, ClampLeavesTheTooLargeMessageToTheCaller) {
    Reporter r;
    EXPECT_EQ(checked_count(r.err, 1e300, CountRounding::Truncate, "p", kFatal, 99, CountBeyond::Clamp), 100);
    EXPECT_EQ(checked_count(r.err, 99.4, CountRounding::Nearest, "p", kFatal, 99, CountBeyond::Clamp), 99);
    EXPECT_EQ(r.captured, "");
    // Not a number is refused all the same.
    EXPECT_EQ(status_of([&] { checked_count(r.err, kInf, CountRounding::Truncate, "p", kFatal, 99, CountBeyond::Clamp); }),
              255);
}

TEST(Counts, LoopPasses) {
    Reporter r;
    EXPECT_EQ(checked_loop_passes(r.err, 0, 9, 1, "loop i", kFatal, 100), 10);
    EXPECT_EQ(checked_loop_passes(r.err, 0, 1, 0.1, "loop i", kFatal, 100), 11);  // 0.1 steps reach 1
    EXPECT_EQ(checked_loop_passes(r.err, 0, 0.95, 0.5, "loop i", kFatal, 100), 2);
    EXPECT_EQ(checked_loop_passes(r.err, 3, 2, 1, "loop i", kFatal, 100), 0);
    EXPECT_EQ(checked_loop_passes(r.err, 1, 100, 1, "loop i", kFatal, 100), 100);
    EXPECT_EQ(r.captured, "");
    EXPECT_EQ(status_of([&] { checked_loop_passes(r.err, 1, 101, 1, "loop i", kFatal, 100); }), 255);
    EXPECT_EQ(r.captured, "error: out of memory: passes of loop i is 101 (m.crv: line    7).\n");
    Reporter step;
    EXPECT_EQ(status_of([&] { checked_loop_passes(step.err, 0, 1, kNan, "loop j", kFatal, 100); }), 255);
    EXPECT_EQ(step.captured, "error: floating point exception: bound of loop j is nan (m.crv: line    7).\n");
}

TEST(Counts, FiniteChecksAndIndexTexts) {
    Reporter r;
    EXPECT_TRUE(check_finite(r.err, -1e308, "rate", kWarning));
    EXPECT_FALSE(check_finite(r.err, kNan, "rate", kWarning, ": node a"));
    EXPECT_EQ(r.captured, "warning: floating point exception: rate is nan: node a (m.crv: line    7).\n");

    EXPECT_EQ(substitution_text(r.err, 3.99), "3");
    EXPECT_EQ(substitution_text(r.err, -2.5), "-2");
    EXPECT_EQ(substitution_text(r.err, 9007199254740992.0), "9007199254740992");
    Reporter huge;
    EXPECT_EQ(status_of([&] { substitution_text(huge.err, 1e19); }), 255);
    EXPECT_EQ(huge.captured, "error: out of memory: index substitution is 1e+19 (m.crv: line    7).\n");
}

}  // namespace
}  // namespace corvel
