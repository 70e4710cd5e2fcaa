#include "expo/guarded.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace corvel {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double u = kUnitRoundoff;

// |t^k·e^(b·t)| without overflow in the intermediate power.
double term_scale(double t, int k, double b) {
    if (k == 0) return std::exp(b * t);
    if (t == 0.0) return 0.0;
    return std::exp(static_cast<double>(k) * std::log(t) + b * t);
}

double sanitize(double e) { return std::isnan(e) ? kInf : e; }

}  // namespace

const char* route_name(Route route) {
    switch (route) {
        case Route::ClosedForm: return "closed form";
        case Route::Structure: return "structure function";
        case Route::Quadrature: return "quadrature";
        case Route::Parts: return "moments of the parts";
        case Route::Convolution: return "numeric convolution";
        case Route::Uniformization: return "uniformization";
        case Route::Iteration: return "iteration";
        case Route::Exact: return "exact";
    }
    return "unknown";
}

bool Guarded::finite() const { return std::isfinite(value) && std::isfinite(error); }

double Guarded::relative_error() const {
    if (!finite()) return kInf;
    if (error == 0.0) return 0.0;
    if (value == 0.0) return kInf;
    return error / std::fabs(value);
}

Guarded g_add(const Guarded& x, const Guarded& y) {
    const double v = x.value + y.value;
    return {v, sanitize(x.error + y.error + u * std::fabs(v)), x.route};
}

Guarded g_sub(const Guarded& x, const Guarded& y) {
    const double v = x.value - y.value;
    return {v, sanitize(x.error + y.error + u * std::fabs(v)), x.route};
}

Guarded g_mul(const Guarded& x, const Guarded& y) {
    const double v = x.value * y.value;
    const double e = std::fabs(x.value) * y.error + std::fabs(y.value) * x.error + x.error * y.error +
                     u * std::fabs(v);
    return {v, sanitize(e), x.route};
}

Guarded g_div(const Guarded& x, const Guarded& y) {
    const double v = x.value / y.value;
    const double ay = std::fabs(y.value);
    if (!(ay > y.error)) return {v, kInf, x.route};
    const double e = (x.error + std::fabs(v) * y.error) / (ay - y.error) + u * std::fabs(v);
    return {v, sanitize(e), x.route};
}

Guarded g_scale(const Guarded& x, double s) {
    const double v = x.value * s;
    return {v, sanitize(x.error * std::fabs(s) + u * std::fabs(v)), x.route};
}

Guarded GuardedSum::result(Route route) const {
    const double e = u * static_cast<double>(count_ + 1) * magnitude_ + extra_;
    Guarded g{sum_, sanitize(e), route};
    if (!std::isfinite(sum_)) g.error = kInf;
    return g;
}

// ---------------------------------------------------------------------------

TrustPolicy trust_policy(const Settings& settings) {
    TrustPolicy p;
    const int digits = std::clamp(settings.precision, 0, 17);
    p.warn_rel = 0.5 * std::pow(10.0, -digits);
    p.floor = settings.tol.results_epsilon;
    return p;
}

Trust assess(const Guarded& g, const TrustPolicy& policy) {
    if (!g.finite()) return Trust::Warn;
    if (g.error <= policy.floor * 1e-3) return Trust::Fine;
    const double scale = std::fabs(g.value);
    if (g.error <= policy.recompute_rel * scale) return Trust::Fine;
    if (g.error <= policy.warn_rel * scale || g.error <= policy.floor) return Trust::Recompute;
    return Trust::Warn;
}

Guarded settle(const Guarded& closed, const StableRoute& stable, const TrustPolicy& policy,
               const TrustWarning& warn) {
    const Trust first = assess(closed, policy);
    if (first == Trust::Fine) return closed;
    Guarded best = closed;
    Trust verdict = first;
    if (stable) {
        if (std::optional<Guarded> again = stable()) {
            const Trust second = assess(*again, policy);
            if (second == Trust::Fine) return *again;
            if (!best.finite() || (again->finite() && again->error < best.error)) {
                best = *again;
                verdict = second;
            }
        }
    }
    if (verdict == Trust::Warn && warn) warn(best);
    return best;
}

void print_trust_warning(Output& out, std::string_view what, const Guarded& g) {
    if (std::isfinite(g.value) && std::isfinite(g.error))
        out.printf("warning: %.*s may be inaccurate (estimated error %.1e).\n", static_cast<int>(what.size()),
                   what.data(), g.error);
    else
        out.printf("warning: %.*s is not a finite number.\n", static_cast<int>(what.size()), what.data());
}

// ---------------------------------------------------------------------------

Guarded guarded_evaluate(const Exponomial& F, double t, const Tolerances& tol, double coef_rel_error) {
    if (t < 0.0) return Guarded::exact(0.0);
    const double value = evaluate_expo(F, t, tol);
    double magnitude = 0.0, exponent = 0.0;
    for (const Term& term : F) {
        const double a = term.is_complex() ? std::hypot(term.e_a, term.e_a_complex) : std::fabs(term.e_a);
        if (a == 0.0) continue;
        const double m = a * term_scale(t, term.e_xpower, term.e_b);
        magnitude += m;
        exponent = std::max(exponent, (std::fabs(term.e_b * t) + term.e_xpower + 2.0) * m);
    }
    const double n = static_cast<double>(F.size());
    double error = u * (n + 2.0) * magnitude + u * exponent + coef_rel_error * magnitude + F.dropped().sup;
    Guarded g{value, sanitize(error), Route::ClosedForm};
    if (!std::isfinite(value)) g.error = kInf;
    return g;
}

Guarded guarded_moment(const Exponomial& F, int n, const Tolerances& tol, double coef_rel_error) {
    const double value = moment_of_expo(F, n, tol);
    if (n < 1) return Guarded::exact(0.0);
    // Magnitude of each term's contribution |α|·(n+k−1)!/|z|^(n+k), in logs.
    double magnitude = 0.0;
    for (const Term& term : F) {
        if (std::fabs(term.e_b) < tol.epsilon) continue;
        const double a = term.is_complex() ? std::hypot(term.e_a, term.e_a_complex) : std::fabs(term.e_a);
        if (a == 0.0) continue;
        const double z = std::hypot(term.e_b, term.e_b_complex);
        const double order = static_cast<double>(n) + term.e_xpower;
        magnitude += std::exp(std::log(a) + std::lgamma(order) - order * std::log(z));
    }
    magnitude *= n;
    const double count = static_cast<double>(F.size()) + n + 2.0;
    double error = u * count * magnitude + coef_rel_error * magnitude;
    // What the tolerances dropped: n·∫t^(n−1)·|d(t)| dt.
    const DropBound& lost = F.dropped();
    if (n == 1) error += lost.l0;
    else if (n == 2) error += 2.0 * lost.l1;
    else if (lost.any()) error = kInf;
    Guarded g{value, sanitize(error), Route::ClosedForm};
    if (!std::isfinite(value)) g.error = kInf;
    return g;
}

GuardedMasses guarded_masses(const Exponomial& F, double tolerance, const Tolerances& tol) {
    GuardedMasses m;
    double pz = 0.0, pi = 0.0, pc = 0.0;
    separate(F, pz, pi, pc, tolerance, nullptr, tol);
    GuardedSum zero, constant;
    for (const Term& t : F) {
        if (t.e_xpower != 0) continue;
        zero.add(t.e_a);
        if (std::fabs(t.e_b) < tol.epsilon) constant.add(t.e_a);
    }
    // Snapping to 0 or 1 within the tolerance is part of the definition, not
    // an error; the bounds are those of the sums.
    const double lost = F.dropped().sup;
    const double ez = zero.result().error + lost, ei = constant.result().error + lost;
    m.pz = {pz, ez, Route::ClosedForm};
    m.pi = {pi, ei, Route::ClosedForm};
    m.pc = {pc, ez + ei + 2 * u, Route::ClosedForm};
    return m;
}

GuardedMoments guarded_moments(const Exponomial& F, const Tolerances& tol, double coef_rel_error) {
    GuardedMoments r;
    GuardedMasses m = guarded_masses(F, tol.epsilon, tol);
    r.mean = r.variance = Guarded::exact(0.0);
    if (m.pc.value == 0.0) {
        // No continuous part, unless what the tolerances dropped hid it, or
        // the form's coefficients are known to be off (a chain's check found
        // them wrong): then its moments say nothing.
        if (m.pc.error > 1e-9 || coef_rel_error > 0.0) r.mean.error = r.variance.error = kInf;
        return r;
    }
    // The same arithmetic as the distribution summary: F scaled by 1/pc.
    Exponomial G = F;
    scalar_multiply(G, 1.0 / m.pc.value);
    Guarded m1 = guarded_moment(G, 1, tol, coef_rel_error);
    Guarded m2 = guarded_moment(G, 2, tol, coef_rel_error);
    r.mean = m1;
    const double mean = m1.value;
    const double variance = m2.value - mean * mean;
    const double e = m2.error + 2.0 * std::fabs(mean) * m1.error + m1.error * m1.error +
                     u * (std::fabs(m2.value) + mean * mean);
    r.variance = {variance, sanitize(e), Route::ClosedForm};
    if (!std::isfinite(variance)) r.variance.error = kInf;
    return r;
}

Guarded worst_evaluation(const Exponomial& F, const Tolerances& tol, double coef_rel_error) {
    // The time scale: the slowest decay among the non-constant terms.
    double slow = 0.0;
    for (const Term& t : F)
        if (t.e_b < -tol.epsilon) slow = slow == 0.0 ? -t.e_b : std::min(slow, -t.e_b);
    Guarded worst = guarded_evaluate(F, 0.0, tol, coef_rel_error);
    if (slow == 0.0) return worst;
    const double scale = 1.0 / slow;
    for (double f = 1.0 / 64; f <= 64.0; f *= 2.0) {
        Guarded g = guarded_evaluate(F, f * scale, tol, coef_rel_error);
        if (!g.finite() || g.error > worst.error) worst = g;
        if (!worst.finite()) break;
    }
    return worst;
}

}  // namespace corvel
