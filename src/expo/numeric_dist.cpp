#include "expo/numeric_dist.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace corvel {

namespace {

constexpr double u = kUnitRoundoff;

// ∫ of a function that comes with its own error bound: the value and the
// bound are integrated by the same rule.
struct Pair {
    double v = 0.0, e = 0.0;
};
using Integrand = std::function<Pair(double)>;

// Gauss-Kronrod 7-15 nodes and weights.
constexpr double xgk[8] = {0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
                           0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
                           0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
                           0.207784955007898467600689403773245, 0.000000000000000000000000000000000};
constexpr double wgk[8] = {0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
                           0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
                           0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
                           0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
constexpr double wg[4] = {0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
                          0.381830050505118944950369775488975, 0.417959183673469387755102040816327};

struct Rule {
    double value, error, bound;  // Kronrod value, |K − G|, integrated bound
};

Rule gk15(const Integrand& f, double a, double b) {
    const double c = 0.5 * (a + b), h = 0.5 * (b - a);
    Pair fc = f(c);
    double k = fc.v * wgk[7], g = fc.v * wg[3], e = fc.e * wgk[7];
    for (int j = 0; j < 7; ++j) {
        Pair f1 = f(c - h * xgk[j]), f2 = f(c + h * xgk[j]);
        k += wgk[j] * (f1.v + f2.v);
        e += wgk[j] * (f1.e + f2.e);
        if (j % 2 == 1) g += wg[j / 2] * (f1.v + f2.v);
    }
    return {k * h, std::fabs((k - g) * h), e * std::fabs(h)};
}

// Adaptive bisection until the Kronrod-Gauss difference is below `tol`, or
// below the integrand's own error bound integrated over the piece: there the
// difference is noise of the integrand, which halving cannot remove (and
// which the result's bound already carries).
void adapt(const Integrand& f, double a, double b, double tol, int depth, Pair& sum) {
    Rule r = gk15(f, a, b);
    const double est = r.error;
    if (est <= tol || est <= 4.0 * r.bound || depth >= 40 || !(b - a > 1e-12 * std::fabs(a))) {
        sum.v += r.value;
        sum.e += r.bound + std::min(est, std::fabs(r.value));
        return;
    }
    const double m = 0.5 * (a + b);
    adapt(f, a, m, tol * 0.5, depth + 1, sum);
    adapt(f, m, b, tol * 0.5, depth + 1, sum);
}

// ∫_start^∞ of a non-negative, eventually decaying integrand, on intervals
// that double in width from `first`; stops when an interval adds less than
// rel of the total and the integrand at its end is negligible, or when two
// intervals in a row are no more than the integrand's own error bound: past
// that point the integrand is lost in its noise (a complement computed as
// 1 − F, say), and wider intervals would only integrate the noise (whose
// bound the sum carries).
Pair integrate_to_infinity(const Integrand& f, double start, double first, double rel, double scale_hint) {
    Pair sum;
    double a = start, w = first;
    int noise = 0;
    for (int i = 0; i < 2000; ++i) {
        const double b = a + w;
        Pair part;
        adapt(f, a, b, std::max(rel * std::fabs(sum.v) * 1e-2, 1e-300) + rel * 1e-2 * scale_hint, 0, part);
        sum.v += part.v;
        sum.e += part.e;
        const Pair at_end = f(b);
        const double end = std::fabs(at_end.v) * w;
        if (std::fabs(part.v) <= rel * 1e-3 * std::fabs(sum.v) && end <= rel * 1e-3 * std::fabs(sum.v)) break;
        noise = std::fabs(part.v) <= part.e && std::fabs(at_end.v) <= at_end.e ? noise + 1 : 0;
        if (noise >= 2 && sum.v > 0.0) break;
        if (sum.v == 0.0 && end == 0.0 && i > 60) break;
        a = b;
        w *= 2.0;
        if (!std::isfinite(a)) break;
    }
    return sum;
}

Pair integrate_interval(const Integrand& f, double a, double b, double rel, double scale_hint) {
    Pair sum;
    if (!(b > a)) return sum;
    // Pieces doubling from a small first one, so that a steep start is resolved.
    const int pieces = 8;
    double edges[pieces + 1];
    edges[0] = a;
    const double span = b - a;
    for (int i = 1; i <= pieces; ++i) edges[i] = a + span * std::ldexp(1.0, i - pieces);
    for (int i = 0; i < pieces; ++i) adapt(f, edges[i], edges[i + 1], rel * 1e-2 * scale_hint, 0, sum);
    return sum;
}

bool exponential_phase(const Exponomial& F, double& rate, const Tolerances& tol) {
    if (F.size() != 2) return false;
    const Term& one = F[0];
    const Term& decay = F[1];
    if (one.e_xpower != 0 || std::fabs(one.e_b) >= tol.epsilon || one.is_complex() || one.e_a != 1.0) return false;
    if (decay.e_xpower != 0 || !(decay.e_b <= -tol.epsilon) || decay.is_complex() || decay.e_a != -1.0) return false;
    rate = -decay.e_b;
    return true;
}

// The rates of F when it is the closed form of a sum of independent
// exponential phases: 1 − Σ_i c_i·e^(−λ_i t) with distinct rates and
// c_i = Π_(j≠i) λ_j/(λ_j − λ_i), or 1 − Σ_(j<k) (λt)^j/j!·e^(−λt) for k
// phases of one rate. The coefficients must agree to 1e-9.
bool phase_sum_rates(const Exponomial& F, std::vector<double>& rates, const Tolerances& tol) {
    constexpr size_t kMostPhases = 64;
    constexpr double kAgree = 1e-9;
    if (F.size() < 3 || F.size() > kMostPhases + 1) return false;
    bool one = false;
    std::vector<const Term*> decays;
    for (const Term& t : F) {
        if (t.is_complex() || t.e_a_complex != 0.0) return false;
        if (t.e_xpower == 0 && std::fabs(t.e_b) < tol.epsilon) {
            if (one || t.e_a != 1.0) return false;
            one = true;
        } else if (t.e_b <= -tol.epsilon) {
            decays.push_back(&t);
        } else {
            return false;
        }
    }
    if (!one || decays.empty()) return false;
    auto agrees = [](double have, double want) { return std::fabs(have - want) <= kAgree * std::max(1.0, std::fabs(want)); };
    bool same_rate = true, no_powers = true;
    for (const Term* t : decays) {
        same_rate = same_rate && t->e_b == decays[0]->e_b;
        no_powers = no_powers && t->e_xpower == 0;
    }
    rates.clear();
    if (same_rate) {
        // Erlang: powers 0 .. k−1, each once, coefficients −λ^j/j!.
        const double lambda = -decays[0]->e_b;
        const size_t k = decays.size();
        std::vector<bool> seen(k, false);
        for (const Term* t : decays) {
            const size_t j = static_cast<size_t>(t->e_xpower);
            if (j >= k || seen[j]) return false;
            seen[j] = true;
            const double want = -std::exp(static_cast<double>(j) * std::log(lambda) - std::lgamma(static_cast<double>(j) + 1.0));
            if (!agrees(t->e_a, want)) return false;
        }
        rates.assign(k, lambda);
        return true;
    }
    if (!no_powers) return false;
    for (size_t i = 0; i < decays.size(); ++i) {
        const double li = -decays[i]->e_b;
        double want = -1.0;
        for (size_t j = 0; j < decays.size(); ++j) {
            if (j == i) continue;
            const double lj = -decays[j]->e_b;
            if (lj == li) return false;
            want *= lj / (lj - li);
        }
        if (!std::isfinite(want) || !agrees(decays[i]->e_a, want)) return false;
        rates.push_back(li);
    }
    return true;
}

}  // namespace

GuardedMoments quadrature_moments(const NumericDist& d, double rel) {
    GuardedMoments m;
    m.mean = m.variance = Guarded{0.0, 0.0, Route::Quadrature};
    const double pz = d.mass_at_zero(), pi = d.mass_at_infinity();
    double pc = 1.0 - pz - pi;
    if (pc < 1e-11) return m;
    if (pc >= 1.0 - 1e-11) pc = 1.0;
    const double scale = std::max(d.time_scale(), 1e-300);
    // Survival of the part that finishes: F(∞) − F(t) = R(t) − pi.
    Integrand survival = [&](double t) {
        GuardedProb p = d.at(t);
        return Pair{std::max(p.r.value - pi, 0.0), p.r.error};
    };
    Pair i1 = integrate_to_infinity(survival, 0.0, scale / 16, rel, pc * scale);
    const double mean = i1.v / pc;
    Integrand upper = [&](double t) {
        Pair s = survival(t);
        return Pair{(t - mean) * s.v, (t - mean) * s.e};
    };
    Integrand lower = [&](double t) {
        GuardedProb p = d.at(t);
        const double rising = std::max(p.f.value - pz, 0.0);
        return Pair{(mean - t) * rising, (mean - t) * p.f.error};
    };
    const double sq = pc * std::max(mean, scale) * std::max(mean, scale);
    Pair hi = integrate_to_infinity(upper, mean, std::max(mean, scale) / 16, rel, sq);
    Pair lo = integrate_interval(lower, 0.0, mean, rel, sq);
    // The lower integrand is steep near the mean from below as well: split there.
    const double variance = 2.0 * (hi.v + lo.v) / pc;
    m.mean = {mean, i1.e / pc + 4 * u * std::fabs(mean), Route::Quadrature};
    // An error in the mean changes the variance only to second order.
    m.variance = {variance, 2.0 * (hi.e + lo.e) / pc + m.mean.error * m.mean.error + 4 * u * variance,
                  Route::Quadrature};
    return m;
}

GuardedMoments stable_moments(const NumericDist& d) {
    if (std::optional<GuardedMoments> known = d.known_moments()) return *known;
    return quadrature_moments(d);
}

// ---------------------------------------------------------------------------

ExpoDist::ExpoDist(Exponomial F, const Tolerances& tol) : F_(std::move(F)), R_(F_), tol_(tol) {
    negate_and_add_scalar(R_, 1.0, tol_);
    double pc = 0.0;
    separate(F_, pz_, pi_, pc, tol_.epsilon, nullptr, tol_);
    double slow = 0.0;
    for (const Term& t : F_)
        if (t.e_b < -tol_.epsilon) slow = slow == 0.0 ? -t.e_b : std::min(slow, -t.e_b);
    // Terms t^k·e^(−λt) peak near k/λ.
    int power = 0;
    for (const Term& t : F_) power = std::max(power, t.e_xpower);
    scale_ = slow > 0.0 ? (1.0 + power) / slow : 1.0;
    double rate = 0.0;
    if (exponential_phase(F_, rate, tol_)) {
        phases_.push_back(rate);
    } else if (phase_sum_rates(F_, phases_, tol_)) {
        sum_ = std::make_shared<PhaseSumDist>(phases_, 1.0);
    } else {
        phases_.clear();
    }
}

std::optional<GuardedMoments> ExpoDist::known_moments() const {
    return sum_ ? sum_->known_moments() : std::nullopt;
}

GuardedProb ExpoDist::at(double t) const {
    if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
    if (std::isinf(t)) return {Guarded::exact(1.0 - pi_), Guarded::exact(pi_)};
    if (sum_) return sum_->at(t);
    if (!phases_.empty()) {
        // Both sides are relative-accurate; the rounding of x moves them by x·e^(−x)·u.
        const double x = phases_[0] * t;
        const double f = -std::expm1(-x), r = std::exp(-x);
        return {{f, 2 * u * (f + x * r), Route::ClosedForm}, {r, 2 * u * (1.0 + x) * r, Route::ClosedForm}};
    }
    return {guarded_evaluate(F_, t, tol_), guarded_evaluate(R_, t, tol_)};
}

// ---------------------------------------------------------------------------

GuardedProb poisson_tail(int n, double x) {
    GuardedProb p;
    p.f.route = p.r.route = Route::ClosedForm;
    if (n <= 0) return {Guarded::exact(1.0), Guarded::exact(0.0)};
    if (!(x > 0.0)) return {Guarded::exact(0.0), Guarded::exact(1.0)};
    if (std::isinf(x)) return {Guarded::exact(1.0), Guarded::exact(0.0)};
    // Weights relative to the mode, summed downwards and upwards from it.
    const double mode = std::floor(x);
    const double log_w0 = -x + mode * std::log(x) - std::lgamma(mode + 1.0);
    double below = 0.0, above = 0.0, total = 0.0;
    const long long m = static_cast<long long>(mode);
    double w = 1.0;
    for (long long k = m; k >= 0; --k) {
        if (k < n) below += w; else above += w;
        total += w;
        if (w < 1e-20 * total && k < n) break;
        w *= static_cast<double>(k) / x;
        if (w == 0.0) break;
    }
    w = 1.0;
    for (long long k = m + 1;; ++k) {
        w *= x / static_cast<double>(k);
        if (k < n) below += w; else above += w;
        total += w;
        if (w < 1e-20 * total && k >= n) break;
        if (w == 0.0) break;
    }
    const double norm = std::exp(log_w0);
    const double terms = std::sqrt(x) * 20 + 40;
    const double rel = u * (terms + std::fabs(log_w0) + std::fabs(x) * 0 + 10.0);
    const double lo = below * norm, hi = above * norm;
    p.f = {std::min(hi, 1.0), rel * hi + 1e-20 * norm * total, Route::ClosedForm};
    p.r = {std::min(lo, 1.0), rel * lo + 1e-20 * norm * total, Route::ClosedForm};
    return p;
}

PhaseSumDist::PhaseSumDist(std::vector<double> rates, double scale) : rates_(std::move(rates)), scale_(scale) {
    for (double r : rates_) {
        max_rate_ = std::max(max_rate_, r);
        if (r != rates_[0]) equal_ = false;
    }
}

double PhaseSumDist::time_scale() const {
    double mean = 0.0;
    for (double r : rates_) mean += 1.0 / r;
    return mean > 0.0 ? mean : 1.0;
}

std::optional<GuardedMoments> PhaseSumDist::known_moments() const {
    GuardedSum mean, variance;
    for (double r : rates_) {
        mean.add(1.0 / r);
        variance.add(1.0 / (r * r));
    }
    GuardedMoments m;
    m.mean = mean.result(Route::Parts);
    m.variance = variance.result(Route::Parts);
    if (scale_ < 1e-11) m.mean = m.variance = Guarded{0.0, 0.0, Route::Parts};
    return m;
}


namespace {

// Uniformized steps after which a sum of phases is not followed further: the
// rest of the Poisson mass is counted as error.
constexpr double kMaxPhaseSteps = 5e7;

}  // namespace

GuardedProb PhaseSumDist::distinct_phases_at(double t) const {
    const double x = max_rate_ * t;
    const size_t n = rates_.size();
    // Where uniformization would take many steps, the survival function as
    // a sum of exponentials, R(t) = Σ c_i e^(−λ_i t), is tried first: at
    // large t it is a sum of small terms and its rounding bound tells whether
    // it may be used.
    if (x > 1e4) {
        if (std::optional<GuardedProb> p = exponential_sum_at(t)) return *p;
    }
    // Uniformization at the largest rate: the chain of phases after k
    // steps of the uniformized chain, weighted by Poisson(Λt).
    std::vector<double> v(n, 0.0);
    v[0] = 1.0;
    const double limit = x + 12.0 * std::sqrt(x) + 40.0;
    double finished = 0.0, waiting = 0.0, weights = 0.0;
    size_t reach = 1;  // phases that can hold mass
    double absorbed = 0.0;
    double k = 0.0;
    const double log_x = std::log(x > 0 ? x : 1.0);
    for (; k <= limit && k * static_cast<double>(n) <= kMaxPhaseSteps; k += 1.0) {
        const double w = (x > 0 || k == 0.0) ? std::exp(-x + k * log_x - std::lgamma(k + 1.0)) : 0.0;
        double transient = 0.0;
        for (size_t i = 0; i < reach; ++i) transient += v[i];
        finished += w * absorbed;
        waiting += w * transient;
        weights += w;
        if (transient < 1e-300) {
            // Everything has finished: the rest of the Poisson mass finishes too.
            finished += std::max(0.0, 1.0 - weights);
            weights = 1.0;
            break;
        }
        // One step: phase i moves on with probability λ_i/Λ.
        for (size_t i = reach; i-- > 0;) {
            const double move = v[i] * (rates_[i] / max_rate_);
            v[i] -= move;
            if (i + 1 < n) v[i + 1] += move;
            else absorbed += move;
        }
        if (reach < n) ++reach;
    }
    const double lost = std::max(0.0, 1.0 - weights);
    const double rel = u * (k + 20.0);
    GuardedProb p;
    p.f = {finished, rel * finished + lost, Route::Uniformization};
    p.r = {waiting, rel * waiting + lost, Route::Uniformization};
    return p;
}

std::optional<GuardedProb> PhaseSumDist::exponential_sum_at(double t) const {
    const size_t n = rates_.size();
    // c_i = Π_{j≠i} λ_j / (λ_j − λ_i), in logs with its sign; rates too close
    // for the sum to be meaningful are left to uniformization.
    double sum = 0.0, magnitude = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double log_c = 0.0;
        bool negative = false;
        for (size_t j = 0; j < n; ++j) {
            if (j == i) continue;
            const double gap = rates_[j] - rates_[i];
            if (std::fabs(gap) <= 1e-6 * std::max(rates_[i], rates_[j])) return std::nullopt;
            log_c += std::log(rates_[j]) - std::log(std::fabs(gap));
            if (gap < 0) negative = !negative;
        }
        const double term = std::exp(log_c - rates_[i] * t);
        sum += negative ? -term : term;
        magnitude += term;
    }
    const double error = u * (4.0 * static_cast<double>(n) + 4.0) * magnitude;
    if (!std::isfinite(sum) || !std::isfinite(error)) return std::nullopt;
    // A survival function known to about 1e-10 of itself, or one that is
    // below anything a double holds.
    if (!(error <= 1e-10 * std::fabs(sum) || error < 1e-300)) return std::nullopt;
    const double r = std::clamp(sum, 0.0, 1.0);
    GuardedProb p;
    p.r = {r, error, Route::ClosedForm};
    p.f = {1.0 - r, error + u, Route::ClosedForm};
    return p;
}

GuardedProb PhaseSumDist::at(double t) const {
    GuardedProb p;
    if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
    if (rates_.empty() || std::isinf(t)) {
        p = {Guarded::exact(1.0), Guarded::exact(0.0)};
    } else if (equal_) {
        p = poisson_tail(static_cast<int>(rates_.size()), rates_[0] * t);
    } else {
        p = distinct_phases_at(t);
    }
    // Scaled by the probability of finishing at all.
    if (scale_ != 1.0) {
        p.r = {(1.0 - scale_) + scale_ * p.r.value, scale_ * p.r.error + u, p.r.route};
        p.f = g_scale(p.f, scale_);
    }
    return p;
}

}  // namespace corvel
