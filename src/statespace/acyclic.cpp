// Symbolic solution of acyclic Markov chains: the states are visited in
// topological order, and each state's closed form is built by convolution
// from those of its predecessors.

#include <cmath>

#include "interp/interpreter.h"
#include "statespace/markov_solve.h"

namespace corvel {

void analyze_acyclic_markov(Interpreter& in, SystemRecord& sys, int start, bool computing_reward) {
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
        const double lambda = m.rate_out[static_cast<size_t>(i)];
        bool entered = incoming && !T.empty();
        if (m.has_successors(i) && std::fabs(lambda) >= eps) {
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

void add_absorbing_cdfs(Interpreter& in, SystemRecord& sys) {
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
