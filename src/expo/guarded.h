#pragma once
// Numbers that carry their own error bound, and the one check that decides
// whether such a number may be printed as it is.
//
// How a solver reports its estimate
// ---------------------------------
// Every number a solver hands to the measure layer is a `Guarded`: the value,
// an absolute error bound and the route that produced it. The bound is what
// the solver knows about its own arithmetic:
//   - a sum of terms: unit roundoff × term count × the sum of the terms'
//     magnitudes (GuardedSum does this), plus whatever merging or dropping
//     terms under a tolerance discarded;
//   - an iteration: the last change, or the truncated mass (uniformization);
//   - a quadrature: its error estimate.
// The exponomial readers below (guarded_evaluate, guarded_moments, ...) give
// the bound of a closed-form result; a solver whose coefficients carry more
// error than rounding passes it as `coef_rel_error`.
//
// The measure layer then calls `settle(closed, stable, policy, warn)`:
//   1. the closed-form number is used when its relative bound is at most
//      policy.recompute_rel (about 1e-9): well-conditioned results print
//      exactly as they always did;
//   2. otherwise the solver's stable route runs (`stable`, may be empty) and
//      its number is used when it meets the same test;
//   3. otherwise the better of the two is used, and when even that one's
//      bound could change a printed digit, `warn` is called with it; the
//      usual sink prints print_trust_warning's line.
// A kind without a stable route passes an empty `stable` and so gets the
// warning instead of a clean-looking wrong number.
//
// Non-finite values are never "fine": their bound is infinite.

#include <functional>
#include <optional>
#include <string_view>

#include "expo/exponomial.h"
#include "symbols/output.h"
#include "symbols/settings.h"

namespace corvel {

// Which computation produced a number.
enum class Route {
    ClosedForm,      // summed from the terms of an exponomial
    Structure,       // structure function evaluated from component values
    Quadrature,      // adaptive quadrature of a survival function
    Parts,           // combined from the moments of independent parts
    Convolution,     // numeric convolution
    Uniformization,  // transient solution by uniformization
    Iteration,       // iterative solver (SOR, Gauss-Seidel, ...)
    Exact,           // an input or a value without rounding worth counting
};
const char* route_name(Route route);

// Unit roundoff of double.
inline constexpr double kUnitRoundoff = 1.1102230246251565e-16;

struct Guarded {
    double value = 0.0;
    double error = 0.0;  // absolute bound, >= 0 (infinite when value is not finite)
    Route route = Route::ClosedForm;

    static Guarded exact(double v) { return {v, 0.0, Route::Exact}; }
    bool finite() const;
    // error / |value|; 0 for an exact 0, infinite for a nonzero bound on 0.
    double relative_error() const;
};

// First-order propagation of the bounds (the result's route is the first
// operand's; each adds the rounding of the operation itself).
Guarded g_add(const Guarded& x, const Guarded& y);
Guarded g_sub(const Guarded& x, const Guarded& y);
Guarded g_mul(const Guarded& x, const Guarded& y);
Guarded g_div(const Guarded& x, const Guarded& y);
Guarded g_scale(const Guarded& x, double s);

// A sum of many terms with its rounding bound: u × count × Σ|term| plus the
// bounds of guarded summands and any extra error added.
class GuardedSum {
public:
    void add(double x) {
        sum_ += x;
        magnitude_ += x < 0 ? -x : x;
        ++count_;
    }
    void add(const Guarded& x) {
        add(x.value);
        extra_ += x.error;
    }
    void add_error(double e) { extra_ += e; }
    double sum() const { return sum_; }
    double magnitude() const { return magnitude_; }
    Guarded result(Route route = Route::ClosedForm) const;

private:
    double sum_ = 0.0, magnitude_ = 0.0, extra_ = 0.0;
    long long count_ = 0;
};

// ---------------------------------------------------------------------------
// The check

struct TrustPolicy {
    double recompute_rel = 1e-9;  // beyond this a stable route is taken
    double warn_rel = 5e-5;       // beyond this (and the floor) a warning is due
    double floor = 1e-12;         // absolute errors below this never matter
};
// recompute at 1e-9; warn when the bound could change the last printed digit
// (half a unit of the precision setting) or a value printed as 0
// (results_epsilon).
TrustPolicy trust_policy(const Settings& settings);

enum class Trust { Fine, Recompute, Warn };
Trust assess(const Guarded& g, const TrustPolicy& policy);

using StableRoute = std::function<std::optional<Guarded>()>;
using TrustWarning = std::function<void(const Guarded&)>;

// The one check (see the header comment). Returns the number to use.
Guarded settle(const Guarded& closed, const StableRoute& stable, const TrustPolicy& policy,
               const TrustWarning& warn);

// "warning: <what> may be inaccurate (estimated error %.1e).\n"
void print_trust_warning(Output& out, std::string_view what, const Guarded& g);

// ---------------------------------------------------------------------------
// Closed-form readers of an exponomial, with bounds

// F(t) as evaluate_expo computes it (the same value, bit for bit), with the
// bound u·(count + exponent size)·Σ|term(t)| + coef_rel_error·Σ|term(t)|.
// A distribution of a non-negative time is 0 before 0: t < 0 gives exactly 0.
Guarded guarded_evaluate(const Exponomial& F, double t, const Tolerances& tol,
                         double coef_rel_error = 0.0);

// E[T^n] as moment_of_expo computes it, with its bound.
Guarded guarded_moment(const Exponomial& F, int n, const Tolerances& tol,
                       double coef_rel_error = 0.0);

// The masses of separate() with the bounds of the sums they come from.
struct GuardedMasses {
    Guarded pz, pi, pc;
};
GuardedMasses guarded_masses(const Exponomial& F, double tolerance, const Tolerances& tol);

// Mean and variance of the continuous part (the distribution summary's
// moments), the moments divided by the continuous mass; both 0 when it is 0.
struct GuardedMoments {
    Guarded mean, variance;
};
GuardedMoments guarded_moments(const Exponomial& F, const Tolerances& tol, double coef_rel_error = 0.0);

// The largest bound of guarded_evaluate over a spread of points covering the
// time scale of F (for the warning after a printed exponomial whose terms
// cancel beyond double precision); its value is F at that point.
Guarded worst_evaluation(const Exponomial& F, const Tolerances& tol, double coef_rel_error = 0.0);

}  // namespace corvel
