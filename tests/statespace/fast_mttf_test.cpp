// Mean time between state sets with holding times other than 1/outflow (the
// semi-Markov case) and two start states.

#include "statespace/fast_mttf.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

TEST(FastMttf, ExcursionsMatchTheFundamentalMatrix) {
    // A = {0, 1}, R = {2, 3}, F = {4}; branching probabilities and mean
    // holding times per visit. Expected: h = (I - P_TT)^-1 holding over the
    // non-F states, solved exactly with fractions: h0 = 454/51, h1 = 20/3.
    MttfChain c;
    c.n = 5;
    c.arcs = {{0, 2, 0.5}, {0, 1, 0.5}, {1, 3, 1.0}, {2, 0, 0.3}, {2, 3, 0.7}, {3, 4, 0.6}, {3, 1, 0.4}, {4, 0, 1.0}};
    c.holding = {2.0, 1.0, 0.5, 3.0, 7.0};
    c.set_a = {0, 1};
    c.set_f = {4};
    c.start = {1.0, 0.0, 0.0, 0.0, 0.0};
    EXPECT_NEAR(mean_time_between_sets(c, false), 454.0 / 51.0, 1e-8);
    c.start = {0.25, 0.75, 0.0, 0.0, 0.0};
    EXPECT_NEAR(mean_time_between_sets(c, false), 0.25 * 454.0 / 51.0 + 0.75 * 20.0 / 3.0, 1e-8);
    // The order of A does not matter.
    c.set_a = {1, 0};
    EXPECT_NEAR(mean_time_between_sets(c, false), 0.25 * 454.0 / 51.0 + 0.75 * 20.0 / 3.0, 1e-8);
}

}  // namespace
}  // namespace corvel
