// Symbolic solution of acyclic Markov chains: the states are visited in
// topological order, and each state's closed form is built by convolution
// from those of its predecessors.

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "expo/guarded.h"

#include "model/context.h"
#include "statespace/markov_solve.h"

namespace corvel {

namespace {

// The recurrences of the symbolic solution. `sojourn` (when not empty) gives
// the rate of leaving each state in place of its total outflow; the branch
// probabilities always come from the arcs.
void solve_acyclic(AnalysisContext& in, SystemRecord& sys, int start, bool computing_reward,
                   std::span<const double> sojourn) {
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    const double eps = tol.epsilon;
    const int n = m.num_states();
    m.prob.assign(static_cast<size_t>(n), 0.0);
    m.dists.assign(static_cast<size_t>(n), StateDists{});
    for (int i = start; i < n; ++i) {
        StateDists& d = m.dists[static_cast<size_t>(i)];
        double& p = m.prob[static_cast<size_t>(i)];
        const double p0 = m.start_prob[static_cast<size_t>(i)];
        p = p0;
        Exponomial T;
        bool incoming = false;
        for (std::uint32_t e : m.in_arcs(i)) {
            const ChainArc& a = m.arcs[e];
            const size_t from = static_cast<size_t>(a.from);
            if (m.prob[from] < eps || !(a.rate > 0.0)) continue;
            double q = a.rate / m.rate_out[from];
            if (computing_reward) q /= m.reward[from];
            p += q * m.prob[from];
            scalar_mult_and_add(m.dists[from].ldist, q, T, tol);
            incoming = true;
        }
        if (p < eps) p = 0.0;
        if (p >= 1.0 - eps) p = 1.0;
        const double out_rate = m.rate_out[static_cast<size_t>(i)];
        const double lambda = sojourn.empty() || std::fabs(out_rate) < eps ? out_rate : sojourn[static_cast<size_t>(i)];
        bool entered = incoming && !T.empty();
        if (m.has_successors(i) && std::fabs(out_rate) >= eps) {
            Exponomial density, survival;
            insert_term(lambda, 0, 0, -lambda, 0, density, tol);
            insert_term(1.0, 0, 0, -lambda, 0, survival, tol);
            if (entered) convolute_expos(T, density, d.ldist, tol);
            if (std::fabs(p0) >= eps) {
                Exponomial leave = Exponomial::constant(1.0);
                insert_term(-1.0, 0, 0, -lambda, 0, leave, tol);
                scalar_mult_and_add(leave, p0, d.ldist, tol);
            }
            if (!computing_reward) {
                if (entered) {
                    Exponomial dT;
                    diff_expo(T, dT, tol);
                    convolute_expos(dT, survival, d.dist, tol);
                }
                if (std::fabs(p0) >= eps) scalar_mult_and_add(survival, p0, d.dist, tol);
            }
        } else {
            d.dist = T;
            if (std::fabs(p0) >= eps) insert_term(p0, 0, 0, 0, 0, d.dist, tol);
        }
        d.has_dist = true;
    }
    for (int i = 0; i < start; ++i) m.dists[static_cast<size_t>(i)].has_dist = true;
}

// The largest evaluation bound of the states' closed forms over their time
// scales (absolute: the forms are probabilities).
double forms_bound(const ChainModel& m, const Tolerances& tol) {
    double worst = 0.0;
    for (const StateDists& d : m.dists) {
        if (!d.has_dist) continue;
        const Guarded g = worst_evaluation(d.dist, tol);
        if (!g.finite()) return INFINITY;
        worst = std::max(worst, g.error);
    }
    return worst;
}

// The sojourn rates with every group of rates within relative distance
// `width` of the group's smallest made equal to the group's mean.
std::vector<double> merged_rates(const ChainModel& m, double width, double eps) {
    std::vector<double> rates(m.rate_out);
    std::vector<double> sorted;
    for (double r : rates)
        if (std::fabs(r) >= eps) sorted.push_back(r);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::vector<double> lo, mean;
    for (size_t k = 0; k < sorted.size();) {
        size_t j = k;
        double sum = 0.0;
        while (j < sorted.size() && sorted[j] - sorted[k] <= width * std::fabs(sorted[k])) sum += sorted[j++];
        lo.push_back(sorted[k]);
        mean.push_back(sum / static_cast<double>(j - k));
        k = j;
    }
    for (double& r : rates) {
        if (std::fabs(r) < eps) continue;
        const size_t g = static_cast<size_t>(std::upper_bound(lo.begin(), lo.end(), r) - lo.begin()) - 1;
        r = mean[g];
    }
    return rates;
}

// The largest difference between the states' closed forms and the transient
// solution of the chain (with the rates as solved) at time points spread
// over the chain's time scale, plus the bounds of both.
double forms_discrepancy(const ChainModel& m, bool computing_reward, const Tolerances& tol) {
    std::vector<ChainArc> arcs(m.arcs);
    double total_time = 0.0;
    for (ChainArc& a : arcs) {
        if (computing_reward) {
            const double w = m.reward[static_cast<size_t>(a.from)];
            a.rate = w > 0.0 ? a.rate / w : 0.0;
        }
    }
    for (int i = 0; i < m.num_states(); ++i) {
        const double r = m.rate_out[static_cast<size_t>(i)];
        if (std::fabs(r) >= tol.epsilon) total_time += 1.0 / std::fabs(r);
    }
    if (!(total_time > 0.0) || !std::isfinite(total_time)) return INFINITY;
    const ChainArcsView view{m.num_states(), arcs, m.pred_off, m.pred};
    // Transient states of a reward-unit solution have no forms of their own.
    const bool absorbing_only = computing_reward;
    double worst = 0.0;
    for (double f : {0.05, 0.2, 0.5, 1.0, 2.0}) {
        const double t = f * total_time;
        const TransientResult r = transient_solution(view, m.start_prob, t, 1e-14, tol.epsilon, nullptr);
        if (!std::isfinite(r.error)) return INFINITY;
        for (int i = 0; i < m.num_states(); ++i) {
            const StateDists& d = m.dists[static_cast<size_t>(i)];
            if (!d.has_dist || (absorbing_only && !is_absorbing(m, i, tol.epsilon))) continue;
            const Guarded g = guarded_evaluate(d.dist, t, tol);
            if (!g.finite()) return INFINITY;
            worst = std::max(worst, std::fabs(g.value - r.prob[static_cast<size_t>(i)]) + g.error +
                                         r.bound(r.prob[static_cast<size_t>(i)]));
        }
    }
    return worst;
}

}  // namespace

void analyze_acyclic_markov(AnalysisContext& in, SystemRecord& sys, int start, bool computing_reward) {
    solve_acyclic(in, sys, start, computing_reward, {});
    // Sojourn rates that differ by a tiny fraction give closed forms whose
    // terms cancel (coefficients of the order of the inverse differences).
    // Such forms are rebuilt with the nearly equal rates made equal, which
    // turns the cancelling pairs into terms t^k·e^(−λt), for ever wider
    // groups until the rebuilt forms agree with the transient solution of
    // the chain at points spread over its time scale. Forms that no rebuild
    // makes agree are kept as they are: the numbers read from them then take
    // the stable routes of the guard. The rebuilt forms must agree far below
    // the printed digits; what difference remains is kept as the forms'
    // coefficient error (form_error), so that the guard reads numbers
    // beyond it from the stable routes.
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    m.form_error = 0.0;
    const TrustPolicy policy = trust_policy(in.settings);
    if (!(forms_bound(m, tol) > policy.recompute_rel)) return;
    const double agree = std::max(policy.recompute_rel, 0.01 * policy.warn_rel);
    std::vector<StateDists> original = m.dists;
    std::vector<double> original_prob = m.prob;
    for (double width : {1e-9, 1e-7, 1e-5}) {
        const std::vector<double> rates = merged_rates(m, width, tol.epsilon);
        if (rates == m.rate_out) continue;  // nothing that close: the same forms again
        solve_acyclic(in, sys, start, computing_reward, rates);
        if (!(forms_bound(m, tol) <= policy.recompute_rel)) continue;
        const double off = forms_discrepancy(m, computing_reward, tol);
        if (off <= agree) {
            m.form_error = off;
            return;
        }
    }
    m.dists = std::move(original);
    m.prob = std::move(original_prob);
}

void add_absorbing_cdfs(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    const double eps = tol.epsilon;
    const bool markov = sys.type == kSysMarkovAcyclic;
    sys.s_dist.clear();
    double total = 0.0;
    for (int i = 0; i < m.num_states(); ++i) {
        bool absorbing = !m.has_successors(i) ||
                         (markov && std::fabs(m.rate_out[static_cast<size_t>(i)]) < eps);
        if (!absorbing) continue;
        add_expos(m.dists[static_cast<size_t>(i)].dist, sys.s_dist, tol);
        double p = m.prob[static_cast<size_t>(i)];
        total += p;
        if (p < -eps || p > 1.0 + eps)
            in.err.error(126, kConsistency,
                         format_string(",\n   system %s state %s prob %13.10f", sys.name.c_str(),
                                       std::string(m.names[i]).c_str(), p),
                         false);
    }
    bool bad = sys.type == kSysSemimarkAcyclic ? (total < -eps || total > 1.0 + eps) : std::fabs(total - 1.0) >= eps;
    if (bad)
        in.err.error(127, kConsistency, format_string(",\n    system %s, total is %13.12f", sys.name.c_str(), total),
                     false);
    sys.has_dist = true;
}

}  // namespace corvel
