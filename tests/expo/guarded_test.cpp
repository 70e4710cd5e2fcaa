// The error-bound mechanism: the bounds of closed-form readers against the
// true error of exponomials that cancel, and the decision of the one check.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "expo/guarded.h"

namespace corvel {
namespace {

Tolerances tol;

// 1 − Π (1 − (1 − e^(−λ_i t))²): series of n parallel pairs of exponentials,
// built as the algebra builds it.
Exponomial series_of_pairs(int n, std::vector<double>& rates) {
    Exponomial surv = Exponomial::constant(1.0);
    for (int i = 0; i < n; ++i) {
        double a = 0.001 * (1 + 0.37 * (2 * i + 1)), b = 0.001 * (1 + 0.37 * (2 * i + 2));
        rates.push_back(a);
        rates.push_back(b);
        // pair survival: e^-at + e^-bt - e^-(a+b)t
        Exponomial p;
        insert_term(1.0, 0, 0, -a, 0, p, tol);
        insert_term(1.0, 0, 0, -b, 0, p, tol);
        insert_term(-1.0, 0, 0, -(a + b), 0, p, tol);
        Exponomial next;
        multiply_expos(surv, p, next, tol);
        surv = std::move(next);
    }
    negate_and_add_scalar(surv, 1.0, tol);
    return surv;
}

double true_series_of_pairs(const std::vector<double>& rates, double t) {
    double s = 1.0;
    for (size_t i = 0; i < rates.size(); i += 2) {
        double fa = -std::expm1(-rates[i] * t), fb = -std::expm1(-rates[i + 1] * t);
        s *= 1.0 - fa * fb;
    }
    return 1.0 - s;
}

TEST(Guarded, BoundCoversTheTrueErrorOfACancellingExponomial) {
    for (int n : {3, 20, 40}) {
        std::vector<double> rates;
        Exponomial F = series_of_pairs(n, rates);
        for (double t : {0.1, 1.0, 10.0}) {
            Guarded g = guarded_evaluate(F, t, tol);
            double truth = true_series_of_pairs(rates, t);
            EXPECT_GE(g.error * 10, std::fabs(g.value - truth)) << n << " " << t;
            if (n == 3 && t == 10.0) {
                EXPECT_LT(g.relative_error(), 1e-9);
            }
        }
    }
    std::vector<double> rates;
    Exponomial F = series_of_pairs(40, rates);
    EXPECT_GT(guarded_evaluate(F, 10.0, tol).relative_error(), 1e-9);
}

TEST(Guarded, NegativeTimeIsExactlyZeroAndNonFiniteIsNeverFine) {
    Exponomial F;
    insert_term(1.0, 0, 0, 0.0, 0, F, tol);
    insert_term(-1.0, 0, 0, -2.0, 0, F, tol);
    Guarded g = guarded_evaluate(F, -1.0, tol);
    EXPECT_EQ(g.value, 0.0);
    EXPECT_EQ(g.error, 0.0);
    TrustPolicy p;
    EXPECT_EQ(assess({std::nan(""), 0.0}, p), Trust::Warn);
    EXPECT_EQ(assess({INFINITY, 0.0}, p), Trust::Warn);
    // exponential moments: mean 1/2, E[T^2] = 2/4
    EXPECT_DOUBLE_EQ(guarded_moment(F, 1, tol).value, 0.5);
    GuardedMoments m = guarded_moments(F, tol);
    EXPECT_NEAR(m.variance.value, 0.25, 1e-15);
    EXPECT_LT(m.variance.relative_error(), 1e-13);
}

TEST(Guarded, AFormWithoutAContinuousPartHasNoMomentsWhenItsCoefficientsAreOff) {
    // F ≡ 0: all the mass at infinity. Exact as it stands (mean 0), but a
    // chain whose check found its coefficients wrong gets no moments from
    // it: the stable route must decide.
    Exponomial F;
    GuardedMoments exact = guarded_moments(F, tol);
    EXPECT_EQ(exact.mean.value, 0.0);
    EXPECT_EQ(exact.mean.error, 0.0);
    GuardedMoments off = guarded_moments(F, tol, 0.99);
    EXPECT_FALSE(off.mean.finite());
    EXPECT_FALSE(off.variance.finite());
}

TEST(Guarded, SettleTakesTheStableRouteOnlyWhenNeededAndWarnsOtherwise) {
    TrustPolicy p;  // recompute 1e-9, warn 5e-5
    int calls = 0, warnings = 0;
    StableRoute stable = [&]() -> std::optional<Guarded> {
        ++calls;
        return Guarded{2.0, 1e-14, Route::Structure};
    };
    TrustWarning warn = [&](const Guarded&) { ++warnings; };
    Guarded fine = settle({1.0, 1e-12}, stable, p, warn);
    EXPECT_EQ(fine.value, 1.0);
    EXPECT_EQ(calls, 0);
    Guarded redone = settle({1.0, 1e-3}, stable, p, warn);
    EXPECT_EQ(redone.route, Route::Structure);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(warnings, 0);
    // No stable route: the closed form with a warning when a digit is at stake.
    Guarded kept = settle({1.0, 1e-3}, nullptr, p, warn);
    EXPECT_EQ(kept.value, 1.0);
    EXPECT_EQ(warnings, 1);
    // Beyond the recomputation threshold but within the printed digits: no warning.
    settle({1.0, 1e-7}, nullptr, p, warn);
    EXPECT_EQ(warnings, 1);
    // A stable route that is worse than the closed form is not taken.
    StableRoute worse = []() -> std::optional<Guarded> { return Guarded{5.0, 1.0, Route::Quadrature}; };
    Guarded best = settle({1.0, 1e-3}, worse, p, warn);
    EXPECT_EQ(best.value, 1.0);
    EXPECT_EQ(warnings, 2);
}

TEST(Guarded, PropagationBoundsTheCancellationOfADifference) {
    Guarded a{1.0, 1e-16}, b{1.0 - 1e-10, 1e-16};
    Guarded d = g_sub(a, b);
    EXPECT_GT(d.relative_error(), 1e-7);
    Guarded q = g_div({1.0, 0.0}, {1e-20, 1e-19});
    EXPECT_FALSE(q.finite());
    GuardedSum s;
    s.add(1e20);
    s.add(1.0);
    s.add(-1e20);
    EXPECT_GE(s.result().error, 1e4);
}

}  // namespace
}  // namespace corvel
