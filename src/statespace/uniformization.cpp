// Transient probabilities by uniformization: π(t) = Σ_k w_k·π_0·P^k with
// P = I + Q/Λ and Poisson weights w_k = e^(−Λt)(Λt)^k/k!. The truncation
// points come from the precision alone (the discarded Poisson mass is at
// most precision/2 on each side); the weights are computed in the log domain
// so that large Λt neither underflows nor overflows. One pass over the arcs
// per step; five vectors of the number of states.

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include <Eigen/Dense>

#include "model/context.h"
#include "statespace/chain_moments.h"
#include "statespace/markov_solve.h"
#include "statespace/sor.h"
#include "symbols/output.h"
#include "symbols/progress.h"

namespace corvel {

namespace {

int reset_interval(long k) {
    if (k <= 99) return 5;
    if (k <= 499) return 10;
    if (k <= 999) return 20;
    return 50;
}

// Steady when every entry that matters changed by less than eps, relatively.
bool check_sstate(const std::vector<double>& a, const std::vector<double>& b, double eps) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] >= eps || b[i] > eps) {
            if (a[i] <= 0.0 || std::fabs(a[i] - b[i]) / a[i] >= eps) return false;
        }
    }
    return true;
}

}  // namespace

ChainArcsView arcs_view(const ChainModel& m) {
    return {m.num_states(), m.arcs, m.pred_off, m.pred};
}

UniformStats uniform(AnalysisContext& in, const ChainModel& m, std::vector<double>& prob, std::vector<double>* cum,
                     double precision, double time) {
    return uniform(arcs_view(m), prob, cum, precision, time, in.settings.tol.epsilon,
                   in.settings.verbose ? &in.out : nullptr);
}

UniformStats uniform(const ChainArcsView& m, std::vector<double>& prob, std::vector<double>* cum, double precision,
                     double time, double epsilon, Output* trace, long max_steps) {
    UniformStats st;
    const size_t n = static_cast<size_t>(m.num_states);
    const bool verbose = trace != nullptr;
    if (cum) cum->assign(n, 0.0);
    if (std::fabs(time) < epsilon) return st;
    // Outflow of each state over the arcs (zero-rate arcs do nothing).
    std::vector<double> d(n, 0.0);
    for (const ChainArc& a : m.arcs)
        if (a.rate > 0.0) d[static_cast<size_t>(a.from)] += a.rate;
    double dmax = 0.0;
    for (double x : d) dmax = std::max(dmax, x);
    if (dmax == 0.0) {
        if (cum)
            for (size_t i = 0; i < n; ++i) (*cum)[i] = time * prob[i];
        return st;
    }
    const double Lambda = 1.05 * dmax;
    const double lt = Lambda * time;
    if (!std::isfinite(lt) || lt > 1e17) {
        // Beyond any step count (and the exactness of the step index).
        st.incomplete = true;
        return st;
    }
    const double log_lt = std::log(lt);
    for (double& x : d) x = 1.0 - x / Lambda;  // diagonal of P

    std::vector<double> pi = prob, next(n), result(n, 0.0), check = prob, acc;
    if (cum) acc.assign(n, 0.0);
    auto step = [&]() {
        for (size_t j = 0; j < n; ++j) {
            double s = pi[j] * d[j];
            for (std::uint32_t k = m.pred_off[j]; k < m.pred_off[j + 1]; ++k) {
                const std::uint32_t e = m.pred[k];
                const ChainArc& a = m.arcs[e];
                if (a.rate > 0.0) s += pi[static_cast<size_t>(a.from)] * (a.rate / Lambda);
            }
            next[j] = s;
        }
        pi.swap(next);
    };
    auto weight = [&](long k) { return std::exp(-lt + static_cast<double>(k) * log_lt - std::lgamma(static_cast<double>(k) + 1.0)); };

    // Left truncation point: Poisson mass below L at most precision/2.
    // The search starts where the mass below is far under the precision (a
    // normal bound with a margin), so that huge Λt costs O(√(Λt)) here. It
    // is made only when the stepping gets there: a chain that settles (or a
    // step budget that ends) before that point needs neither L nor R.
    double left_mass = 0.0;
    const double z = std::sqrt(2.0 * std::log(2.0 / precision)) + 4.0;
    const long left_low = lt > 100.0 ? static_cast<long>(std::max(0.0, lt - z * std::sqrt(lt) - 10.0)) : 0;
    long L = left_low, R = left_low;
    bool truncation_known = false;
    auto find_truncation = [&]() {
        for (;; ++L) {
            double w = weight(L);
            if (left_mass + w >= precision / 2) break;
            left_mass += w;
        }
        // Right truncation point: mass above R at most precision/2 (or the
        // whole precision when L = 0).
        const double eps_r = L == 0 ? precision : precision / 2;
        double used = left_mass;
        R = L;
        const long stop = static_cast<long>(lt + 40.0 * std::sqrt(lt) + 100.0);
        for (; R < stop; ++R) {
            used += weight(R);
            if (1.0 - used <= eps_r) break;
        }
        if (verbose) trace->printf("uniformization: l = %ld, k = %ld\n", L, R);
        truncation_known = true;
    };
    const long guard = static_cast<long>(lt + 40.0 * std::sqrt(lt) + 100.0);
    // The expected number of Poisson steps beyond step k, E[(N − k)^+]: at
    // most (Λt − k)^+ plus the standard deviation √(Λt).
    auto steps_beyond = [&](long k) { return std::max(0.0, lt - static_cast<double>(k)) + std::sqrt(lt); };
    // The largest steady-state error admitted: a vector whose last step
    // changed it by δ (1-norm) moves by at most δ·E[(N − k)^+] in the steps
    // that the steady state stands for, since the per-step change of a
    // stochastic matrix's iterates never grows.
    const double steady_budget = precision / 4;

    // Cumulative: ∫π = (1/Λ)·Σ_k π_k·P(N > k); extend while the remaining
    // part (Λt − Σ tail)/Λ is above the precision.
    double tail = 1.0, total = 0.0;
    const double cum_target = precision * std::max(1.0, time);
    bool prob_done = false, cum_done = cum == nullptr;
    double mass = 0.0;  // weights summed into result
    long interval = 50, since_check = 0;
    for (long k = 0;; ++k) {
        progress::update("uniformization", "steps", static_cast<std::uint64_t>(k) + 1);
        if (!truncation_known && k + 1 >= left_low) find_truncation();
        double w = weight(k);
        if (!prob_done && truncation_known && k >= L) {
            for (size_t i = 0; i < n; ++i) result[i] += w * pi[i];
            mass += w;
            if (k >= R) prob_done = true;
        }
        if (!cum_done) {
            tail -= w;
            if (tail < 0.0) tail = 0.0;
            for (size_t i = 0; i < n; ++i) acc[i] += tail * pi[i];
            total += tail;
            if ((lt - total) / Lambda <= cum_target || (k > guard)) cum_done = true;
        }
        if (prob_done && cum_done) {
            st.steps = k;
            break;
        }
        if (k >= max_steps) {
            // Out of budget: the current vector is the best estimate left
            // (the chain is then usually close to its limit); the caller
            // reports it as untrusted.
            st.incomplete = true;
            st.steps = k;
            if (!prob_done) result = pi;
            break;
        }
        step();
        if (++since_check >= interval) {
            since_check = 0;
            interval = reset_interval(k);
            const bool settled = check_sstate(pi, check, precision / 4);
            // The change of the last step (`next` holds the vector before it).
            double drift = 0.0, size = 0.0;
            if (settled)
                for (size_t i = 0; i < n; ++i) {
                    drift += std::fabs(pi[i] - next[i]);
                    size += std::fabs(pi[i]);
                }
            const double moved = drift * steps_beyond(k + 1);
            // A change at the rounding level of one step is all the stepping
            // can resolve; its bound, however large, is the honest one.
            if (settled && (moved <= steady_budget || drift <= 8.0 * kUnitRoundoff * size)) {
                st.steady = true;
                st.steady_error = moved;
                st.steps = k + 1;
                if (!prob_done) {
                    if (!truncation_known || k + 1 < L) {
                        if (verbose) trace->printf("uniformization: steady state reached before left truncation at l = %ld\n", k + 1);
                        result = pi;
                    } else {
                        if (verbose) trace->printf("uniformization: steady state reached before right truncation at k = %ld\n", k + 1);
                        for (size_t i = 0; i < n; ++i) result[i] += (1.0 - mass - left_mass) * pi[i];
                    }
                    prob_done = true;
                }
                if (!cum_done) {
                    if (verbose) trace->printf("SS reached before RTP in Cumulative Unif.  %ld\n", k + 1);
                    double rest = time - total / Lambda;
                    for (size_t i = 0; i < n; ++i) (*cum)[i] = acc[i] / Lambda + rest * pi[i];
                    cum_done = true;
                    cum = nullptr;  // already stored
                }
                break;
            }
            check = pi;
        }
    }
    if (cum) {
        double rest = std::max(0.0, time - total / Lambda);
        for (size_t i = 0; i < n; ++i) (*cum)[i] = acc[i] / Lambda + rest * pi[i];
    }
    st.left = L;
    st.right = R;
    prob.swap(result);
    return st;
}

long uniform_step_budget(const ChainArcsView& chain) {
    const double work = static_cast<double>(chain.num_states) + static_cast<double>(chain.arcs.size());
    return static_cast<long>(std::max(1e7, 2e10 / std::max(1.0, work)));
}

namespace {

// exp(Q·t) − I and ∫₀ᵗ exp(Q·s) ds of a small chain by doubling from a
// short step h = t/2^s (‖Q·h‖ ≤ 1/2, Taylor series there):
//     D(2h) = 2·D(h) + D(h)², C(2h) = 2·C(h) + D(h)·C(h).
// Keeping the deviation D from the identity, not exp(Q·h) itself, keeps the
// slow rates of a stiff chain: exp(−10⁻³·h) rounds to 1 long before
// 10⁻³·h is lost from D. Every entry of a row of D is of the size of that
// row's own rates, so nothing fast swamps the slow rows.
struct Doubled {
    std::vector<double> prob, cum;
};

bool doubling_transient(const Eigen::MatrixXd& q, const std::vector<double>& start, double time, int extra,
                        Doubled& r) {
    const Eigen::Index n = q.rows();
    double rate = 0.0;
    for (Eigen::Index i = 0; i < n; ++i) rate = std::max(rate, -q(i, i));
    int s = 0;
    while (std::ldexp(rate * time, -s) > 0.25 && s < 2000) ++s;
    s += extra;
    const double h = std::ldexp(time, -s);
    const Eigen::MatrixXd qh = q * h;
    Eigen::MatrixXd term = qh, D = qh, C = Eigen::MatrixXd::Identity(n, n) * h + qh * (h / 2.0);
    for (int k = 2; k <= 24; ++k) {
        term = term * qh / static_cast<double>(k);
        D += term;
        C += term * (h / static_cast<double>(k + 1));
    }
    for (int i = 0; i < s; ++i) {
        C = 2.0 * C + D * C;
        D = 2.0 * D + D * D;
    }
    Eigen::RowVectorXd p0(n);
    for (Eigen::Index i = 0; i < n; ++i) p0(i) = start[static_cast<size_t>(i)];
    const Eigen::RowVectorXd p = p0 + p0 * D, c = p0 * C;
    r.prob.assign(static_cast<size_t>(n), 0.0);
    r.cum.assign(static_cast<size_t>(n), 0.0);
    for (Eigen::Index i = 0; i < n; ++i) {
        if (!std::isfinite(p(i)) || !std::isfinite(c(i))) return false;
        // Round-off may leave tiny negatives where a probability is 0.
        r.prob[static_cast<size_t>(i)] = std::max(0.0, p(i));
        r.cum[static_cast<size_t>(i)] = std::max(0.0, c(i));
    }
    return true;
}

Eigen::MatrixXd dense_generator(const ChainArcsView& chain) {
    const int n = chain.num_states;
    Eigen::MatrixXd q = Eigen::MatrixXd::Zero(n, n);
    for (const ChainArc& a : chain.arcs) {
        if (!(a.rate > 0.0)) continue;
        q(a.from, a.to) += a.rate;
        q(a.from, a.from) -= a.rate;
    }
    return q;
}

// The dense route: the doubling from two step lengths, h and h/2. Their
// rounding and truncation differ, so their difference (with a margin)
// estimates the error of either; the finer one is returned.
bool dense_transient(const ChainArcsView& chain, const std::vector<double>& start, double time,
                     TransientResult& r) {
    const Eigen::MatrixXd q = dense_generator(chain);
    Doubled coarse, fine;
    if (!doubling_transient(q, start, time, 0, coarse) || !doubling_transient(q, start, time, 1, fine)) return false;
    double mass = 0.0, dp = 0.0, dc = 0.0;
    for (size_t i = 0; i < fine.prob.size(); ++i) {
        mass += std::fabs(start[i]);
        dp = std::max(dp, std::fabs(fine.prob[i] - coarse.prob[i]));
        dc = std::max(dc, std::fabs(fine.cum[i] - coarse.cum[i]));
    }
    const double n = static_cast<double>(chain.num_states);
    r.prob = std::move(fine.prob);
    r.cum = std::move(fine.cum);
    r.error = 4.0 * dp + 16.0 * kUnitRoundoff * n * std::max(1.0, mass);
    r.cum_error = 4.0 * dc + 16.0 * kUnitRoundoff * n * std::max(1.0, mass) * time;
    return true;
}

// The work of the dense route in steps of uniformization: two doublings of
// about log2(Λt) + 26 products of n × n matrices each.
double dense_cost_in_steps(const ChainArcsView& chain, double lt) {
    const double n = chain.num_states;
    const double products = 2.0 * 2.0 * (std::log2(std::max(2.0, lt)) + 26.0);
    return products * 2.0 * n * n * n / std::max(1.0, n + static_cast<double>(chain.arcs.size()));
}

}  // namespace

TransientResult transient_solution(const ChainArcsView& chain, const std::vector<double>& start, double time,
                                   double precision, double epsilon, Output* trace, long work_limit) {
    TransientResult r;
    r.prob = start;
    r.prob.resize(static_cast<size_t>(chain.num_states), 0.0);
    // Under a work cap a step counts as the states and arcs it visits.
    const double visits = std::max(1.0, static_cast<double>(chain.num_states) + static_cast<double>(chain.arcs.size()));
    const long budget = work_limit >= 0
                            ? std::min(uniform_step_budget(chain),
                                       std::max(1L, static_cast<long>(50.0 * static_cast<double>(work_limit) / visits)))
                            : uniform_step_budget(chain);
    double dmax = 0.0;
    {
        std::vector<double> out(static_cast<size_t>(chain.num_states), 0.0);
        for (const ChainArc& a : chain.arcs)
            if (a.rate > 0.0) out[static_cast<size_t>(a.from)] += a.rate;
        for (double x : out) dmax = std::max(dmax, x);
    }
    const double lt = 1.05 * dmax * time;
    // The error of a finished uniformization: the truncated mass, the
    // rounding of the vector products and what a steady state stands for.
    bool nonnegative = true;
    double start_mass = 0.0;
    for (double x : start) {
        if (x < 0.0) nonnegative = false;
        start_mass += std::fabs(x);
    }
    auto uniform_error = [&](const UniformStats& st) {
        const double rounding = 4.0 * kUnitRoundoff * static_cast<double>(st.steps + 1);
        r.error = precision + st.steady_error;
        // The integral over [0, time] of a pointwise bound.
        r.cum_error = r.error * time;
        if (nonnegative) {
            r.rel_error = rounding;
        } else {
            r.error += rounding * std::max(1.0, start_mass);
            r.cum_error += rounding * std::max(1.0, start_mass) * time;
        }
    };
    // A small chain whose Poisson range costs more steps than the dense
    // route's products takes the dense route, after a short attempt: a
    // chain that settles early is still cheapest by uniformization (its
    // steady-state check stops the stepping).
    if (chain.num_states <= kDenseTransientStates && std::isfinite(lt)) {
        const double dense_steps = dense_cost_in_steps(chain, lt);
        if (lt + 10.0 * std::sqrt(lt) > dense_steps) {
            const long attempt = static_cast<long>(std::clamp(dense_steps, 1000.0, static_cast<double>(budget)));
            UniformStats st = uniform(chain, r.prob, &r.cum, precision, time, epsilon, trace, attempt);
            if (!st.incomplete && st.steady_error <= precision) {
                uniform_error(st);
                return r;
            }
            TransientResult d;
            if (dense_transient(chain, start, time, d)) return d;
            r.prob = start;
            r.prob.resize(static_cast<size_t>(chain.num_states), 0.0);
        }
    }
    UniformStats st = uniform(chain, r.prob, &r.cum, precision, time, epsilon, trace, budget);
    uniform_error(st);
    if (!st.incomplete && !(chain.num_states <= kDenseTransientStates && st.steady_error > precision)) return r;
    if (chain.num_states <= kDenseTransientStates) {
        TransientResult d;
        if (dense_transient(chain, start, time, d) && (st.incomplete || d.error < r.error + r.rel_error)) return d;
        if (!st.incomplete) return r;
    }
    r.error = r.cum_error = std::numeric_limits<double>::infinity();
    return r;
}

void m_transient(AnalysisContext& in, SystemRecord& sys, double time) {
    ChainModel& m = chain_of(sys);
    if (time < 0.0) in.err.error(211, kFatal, sys.name, true);
    TransientResult r = transient_solution(arcs_view(m), m.start_prob, time, in.settings.tol.u_epsilon,
                                           in.settings.tol.epsilon, in.settings.verbose ? &in.out : nullptr,
                                           in.settings.work_limit);
    m.tprob = std::move(r.prob);
    m.tcumprob = std::move(r.cum);
    m.terror = r.error;
    m.tcumerror = r.cum_error;
    m.trelerror = r.rel_error;
}

}  // namespace corvel

namespace corvel {

namespace {

// The distribution of reaching a set of states, evaluated by uniformization
// on its own copy of the arcs.
class ChainDist final : public NumericDist {
public:
    ChainDist(const ChainModel& m, std::span<const double> rates, std::vector<int> targets, double scale,
              double mass_at_infinity, double precision, double epsilon, long work_limit)
        : n_(m.num_states()),
          pred_off_(m.pred_off),
          pred_(m.pred),
          start_(m.start_prob),
          targets_(std::move(targets)),
          scale_(scale),
          pinf_(mass_at_infinity),
          precision_(precision),
          epsilon_(epsilon),
          work_limit_(work_limit) {
        arcs_.reserve(m.arcs.size());
        double slowest = 0.0;
        for (size_t e = 0; e < m.arcs.size(); ++e) {
            ChainArc a = m.arcs[e];
            a.rate = e < rates.size() ? rates[e] : a.rate;
            arcs_.push_back(a);
        }
        std::vector<double> out(static_cast<size_t>(n_), 0.0);
        for (const ChainArc& a : arcs_)
            if (a.rate > 0.0) out[static_cast<size_t>(a.from)] += a.rate;
        for (double r : out)
            if (r > 0.0 && (slowest == 0.0 || r < slowest)) slowest = r;
        scale_time_ = slowest > 0.0 ? static_cast<double>(std::max(1, n_)) / slowest : 1.0;
        start_.resize(static_cast<size_t>(n_), 0.0);
        for (int s : targets_) pz_ += start_[static_cast<size_t>(s)];
        pz_ /= scale_;
    }
    GuardedProb at(double t) const override {
        if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
        if (!std::isfinite(t)) return {Guarded{1.0 - pinf_, 1e-15, Route::Exact}, Guarded{pinf_, 1e-15, Route::Exact}};
        // At 0 the chain is in its starting vector: no truncation to bound.
        if (t == 0.0)
            return {Guarded{pz_, kUnitRoundoff * pz_, Route::Exact},
                    Guarded{1.0 - pz_, kUnitRoundoff, Route::Exact}};
        ChainArcsView view{n_, arcs_, pred_off_, pred_};
        auto solve = [&](double precision, double& f) {
            TransientResult r = transient_solution(view, start_, t, precision, epsilon_, nullptr, work_limit_);
            f = 0.0;
            for (int s : targets_) f += r.prob[static_cast<size_t>(s)];
            f /= scale_;
            return r.bound(f * scale_) / scale_;
        };
        double f = 0.0;
        double err = solve(precision_, f);
        // A probability far below the truncation bound (a long way to the
        // targets) is solved again with the tail cut a thousand times
        // finer, so that a value that is 0 to the printed digits is not left
        // with the bound of a coarse truncation.
        // A finer solve that could not finish leaves the first one.
        if (err > 1e-3 * precision_ && f < 1e3 * precision_ && precision_ > 1e-290) {
            double fine = 0.0;
            const double fine_err = solve(1e-3 * precision_, fine);
            if (fine_err < err) {
                f = fine;
                err = fine_err;
            }
        }
        return {Guarded{f, err, Route::Uniformization}, Guarded{1.0 - f, err, Route::Uniformization}};
    }
    double mass_at_zero() const override { return pz_; }
    double mass_at_infinity() const override { return pinf_; }
    double time_scale() const override { return scale_time_; }
    // The moments from the fundamental matrix of the states that reach the
    // targets, solved once. Never nullopt: a quadrature over transient
    // solutions would cost one uniformization per point, and a solve that
    // failed carries its (infinite) bound.
    std::optional<GuardedMoments> known_moments() const override {
        if (!moments_) {
            std::string dropped;  // the solver's fallback notes: nobody asked for this solve
            SolverIo io;
            io.warn = &dropped;
            io.epsilon = epsilon_;
            moments_ = continuous_target_moments(target_moments(n_, arcs_, start_, targets_, epsilon_, io));
        }
        return moments_;
    }

private:
    mutable std::optional<GuardedMoments> moments_;
    int n_;
    std::vector<ChainArc> arcs_;
    std::vector<std::uint32_t> pred_off_, pred_;
    std::vector<double> start_;
    std::vector<int> targets_;
    double scale_, pinf_, precision_, epsilon_;
    long work_limit_;
    double pz_ = 0.0, scale_time_ = 1.0;
};

}  // namespace

std::shared_ptr<const NumericDist> make_chain_dist(const ChainModel& m, std::span<const double> rates,
                                                   std::vector<int> targets, double scale,
                                                   double mass_at_infinity, double precision, double epsilon,
                                                   long work_limit) {
    if (!(scale > 0.0)) return nullptr;
    return std::make_shared<ChainDist>(m, rates, std::move(targets), scale, mass_at_infinity, precision, epsilon,
                                       work_limit);
}

}  // namespace corvel
