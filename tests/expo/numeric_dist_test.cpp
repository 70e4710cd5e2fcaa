// Closed forms recognised as sums of exponential phases: the rates found,
// the values and moments they give, and the near misses left alone.

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "expo/numeric_dist.h"

namespace corvel {
namespace {

Tolerances tol;

Exponomial closed_form(std::initializer_list<std::array<double, 3>> terms) {  // {a, power, exponent}
    Exponomial F;
    for (const auto& t : terms) insert_term(t[0], 0, static_cast<int>(t[1]), t[2], 0, F, tol);
    return F;
}

TEST(ExpoDistPhases, HypoexponentialAndErlangAreTheirPhases) {
    // 1 − 2e^(−t) + e^(−2t): phases 1 and 2.
    ExpoDist hypo(closed_form({{1, 0, 0}, {-2, 0, -1}, {1, 0, -2}}), tol);
    ASSERT_NE(hypo.phases(), nullptr);
    EXPECT_EQ(hypo.phases()->size(), 2u);
    const std::optional<GuardedMoments> m = hypo.known_moments();
    ASSERT_TRUE(m.has_value());
    EXPECT_NEAR(m->mean.value, 1.5, 1e-14);
    EXPECT_NEAR(m->variance.value, 1.25, 1e-14);
    // Far in the tail the phase sum keeps the survival's digits: R(40) =
    // 2e^(−40) − e^(−80).
    const GuardedProb p = hypo.at(40.0);
    EXPECT_NEAR(p.r.value / (2 * std::exp(-40.0) - std::exp(-80.0)), 1.0, 1e-12);

    // Three phases of rate 2: 1 − (1 + 2t + 2t²)e^(−2t).
    ExpoDist erlang(closed_form({{1, 0, 0}, {-1, 0, -2}, {-2, 1, -2}, {-2, 2, -2}}), tol);
    ASSERT_NE(erlang.phases(), nullptr);
    EXPECT_EQ(*erlang.phases(), std::vector<double>(3, 2.0));
    EXPECT_NEAR(erlang.at(1.0).f.value, 1 - 5 * std::exp(-2.0), 1e-14);
}

TEST(ExpoDistPhases, OtherClosedFormsKeepNoPhases) {
    // A coefficient a little off, a mixture, a missing power, a defective
    // distribution: none is a phase sum.
    EXPECT_EQ(ExpoDist(closed_form({{1, 0, 0}, {-2.001, 0, -1}, {1.001, 0, -2}}), tol).phases(), nullptr);
    EXPECT_EQ(ExpoDist(closed_form({{1, 0, 0}, {-0.5, 0, -1}, {-0.5, 0, -2}}), tol).phases(), nullptr);
    EXPECT_EQ(ExpoDist(closed_form({{1, 0, 0}, {-1, 0, -2}, {-2, 2, -2}}), tol).phases(), nullptr);
    EXPECT_EQ(ExpoDist(closed_form({{0.5, 0, 0}, {-1, 0, -1}, {0.5, 0, -2}}), tol).phases(), nullptr);
    EXPECT_FALSE(ExpoDist(closed_form({{1, 0, 0}, {-0.5, 0, -1}, {-0.5, 0, -2}}), tol).known_moments().has_value());
}

}  // namespace
}  // namespace corvel
