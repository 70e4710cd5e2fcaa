// Semi-Markov chains: branch probabilities and sojourn distributions of the
// states, the closed-form solution of acyclic chains and the preparation of
// the embedded chain of irreducible ones.

#include "statespace/semimark.h"

#include <cmath>
#include <cstdio>

#include "model/context.h"
#include "statespace/chain.h"
#include "statespace/irreducible.h"
#include "statespace/markov_solve.h"

namespace corvel {

namespace {

// 1 - F
Exponomial survival_of(const Exponomial& F, const Tolerances& tol) {
    Exponomial S = F;
    negate_and_add_scalar(S, 1.0, tol);
    return S;
}

Exponomial product(const Exponomial& a, const Exponomial& b, const Tolerances& tol) {
    Exponomial p;
    multiply_expos(a, b, p, tol);
    return p;
}

// The integral from 0 to t of F.
Exponomial integral_from_zero(const Exponomial& F, const Tolerances& tol) {
    Exponomial I;
    integrate_expo(F, I, tol);
    subtract_value_at_zero(I, tol);
    return I;
}

Exponomial derivative(const Exponomial& F, const Tolerances& tol) {
    Exponomial d;
    diff_expo(F, d, tol);
    return d;
}

// F(t / r): the time of an arc measured in reward accumulated at rate r.
Exponomial in_reward_units(const Exponomial& F, double r, const Tolerances& tol) {
    Exponomial G;
    for (const Term& t : F) {
        double scale = std::pow(r, -t.e_xpower);
        insert_term(t.e_a * scale, t.e_a_complex * scale, t.e_xpower, t.e_b / r, t.e_b_complex / r, G, tol);
    }
    return G;
}

bool is_weibull_spec(const AnalysisContext& in, const DistSpec& spec) {
    const DistSpec* s = &spec;
    for (int depth = 0; depth < 64 && s != nullptr; ++depth) {
        if (s->type == kDistWeibull) return true;
        if (s->type != kDistNamed || s->symbol < 0 || s->symbol >= in.symbols.size()) return false;
        s = in.symbols[s->symbol].dist.get();
    }
    return false;
}

// The arc distributions of state s, in the order of its successor list.
std::vector<const Exponomial*> arc_dists(const SystemRecord& sys, const ChainModel& m, int s) {
    // Every arc of a semi-Markov chain has its edge record; an arc without
    // one (none is made today) would never be left through.
    static const Exponomial never = Exponomial::constant(0.0);
    std::vector<const Exponomial*> F;
    for (std::uint32_t e : m.out_arcs(s)) F.push_back(e < sys.edges.size() ? &sys.edges[e].dist : &never);
    return F;
}

}  // namespace

void make_min_terms(std::span<const Exponomial* const> F, std::vector<Exponomial>& min_all_but,
                    const Tolerances& tol) {
    const size_t k = F.size();
    min_all_but.assign(k, Exponomial{});
    if (k == 0) return;
    // prefix[i] = prod_{f < i} (1 - F_f); the suffix product is carried down.
    std::vector<Exponomial> prefix(k);
    prefix[0] = Exponomial::constant(1.0);
    for (size_t i = 1; i < k; ++i) prefix[i] = product(prefix[i - 1], survival_of(*F[i - 1], tol), tol);
    Exponomial suffix = Exponomial::constant(1.0);
    for (size_t i = k; i-- > 0;) {
        min_all_but[i] = product(prefix[i], suffix, tol);
        if (i > 0) suffix = product(suffix, survival_of(*F[i], tol), tol);
    }
}

void compute_probs_and_dist(Exponomial& H, std::span<const Exponomial* const> F, bool conditional,
                            std::vector<double>& probs, std::vector<Exponomial>* exits, const Tolerances& tol) {
    const size_t k = F.size();
    H.clear();
    probs.assign(k, 0.0);
    if (exits) exits->assign(k, Exponomial{});
    if (k == 0) return;
    if (k == 1 || !conditional) {
        for (size_t e = 0; e < k; ++e) {
            probs[e] = lim_at_inf(*F[e], tol);
            add_expos(*F[e], H, tol);
            if (exits) (*exits)[e] = *F[e];
        }
        return;
    }
    std::vector<Exponomial> min_all_but;
    make_min_terms(F, min_all_but, tol);
    // The CDF of the minimum of independent delays.
    H = product(survival_of(*F[0], tol), min_all_but[0], tol);
    negate_and_add_scalar(H, 1.0, tol);
    for (size_t e = 0; e < k; ++e) {
        probs[e] = special_integral(*F[e], min_all_but[e], tol);
        if (exits) (*exits)[e] = integral_from_zero(product(min_all_but[e], derivative(*F[e], tol), tol), tol);
    }
}

void rebind_semimark(AnalysisContext& in, SystemRecord& sys, bool computing_reward) {
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    const double eps = tol.epsilon;
    for (size_t e = 0; e < sys.edges.size() && e < m.arcs.size(); ++e) {
        EdgeRecord& arc = sys.edges[e];
        const std::string from(m.names[m.arcs[e].from]), to(m.names[m.arcs[e].to]);
        if (!arc.udist) {
            arc.dist.clear();
            continue;
        }
        if (is_weibull_spec(in, *arc.udist)) in.err.error(61, kFatal, "", true);
        in.dist_binder.bind_distribution(*arc.udist, arc.dist, kFatal, from, to);
        if (std::fabs(evaluate_expo(arc.dist, 0.0, tol)) >= eps) in.err.ERR(98, kFatal, from, to);
    }
    if (!computing_reward) return;
    for (int s = 0; s < m.num_states(); ++s) {
        if (!m.has_successors(s)) continue;
        double r = m.reward.empty() ? 0.0 : m.reward[static_cast<size_t>(s)];
        if (std::fabs(r) < eps) in.err.error(147, kFatal, std::string(m.names[s]), true);
        for (std::uint32_t e : m.out_arcs(s))
            if (e < sys.edges.size()) sys.edges[e].dist = in_reward_units(sys.edges[e].dist, r, tol);
    }
}

void analyze_acyclic_semimark(AnalysisContext& in, SystemRecord& sys, int start, bool computing_reward) {
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    const double eps = tol.epsilon;
    const int n = m.num_states();
    m.prob.assign(static_cast<size_t>(n), 0.0);
    m.dists.assign(static_cast<size_t>(n), StateDists{});
    m.mean_time.assign(static_cast<size_t>(n), 0.0);
    // Per state, the CDF of having entered it through an arc (weighted by
    // probability, start mass excluded); per arc, its own exit CDF.
    std::vector<Exponomial> entered(static_cast<size_t>(n));
    std::vector<Exponomial> exit_cdf(m.arcs.size());
    std::vector<double> probs;
    std::vector<Exponomial> exits;

    for (int i = start; i < n; ++i) {
        StateDists& d = m.dists[static_cast<size_t>(i)];
        const Exponomial& H = d.own_dist;
        if (m.has_successors(i)) {
            std::vector<const Exponomial*> F = arc_dists(sys, m, i);
            compute_probs_and_dist(d.own_dist, F, sys.semi_conditional, probs, &exits, tol);
            std::span<const std::uint32_t> out = m.out_arcs(i);
            for (size_t k = 0; k < out.size(); ++k) {
                if (out[k] < sys.edges.size()) sys.edges[out[k]].prob = probs[k];
                exit_cdf[out[k]] = std::move(exits[k]);
            }
        }
        double& p = m.prob[static_cast<size_t>(i)];
        const double p0 = m.start_prob[static_cast<size_t>(i)];
        p = p0;
        Exponomial& T = entered[static_cast<size_t>(i)];
        bool incoming = false;
        for (std::uint32_t e : m.in_arcs(i)) {
            const int from = m.arcs[e].from;
            const double pf = m.prob[static_cast<size_t>(from)];
            if (std::fabs(pf) < eps) continue;
            p += pf * (e < sys.edges.size() ? sys.edges[e].prob : 0.0);
            // Entering the from-state (density, plus its start mass) followed
            // by leaving it through this arc.
            const Exponomial& G = exit_cdf[e];
            convolute_expos(derivative(entered[static_cast<size_t>(from)], tol), G, T, tol);
            const double pf0 = m.start_prob[static_cast<size_t>(from)];
            if (std::fabs(pf0) >= eps) scalar_mult_and_add(G, pf0, T, tol);
            incoming = true;
        }
        if (p < eps) p = 0.0;
        if (p > 1.0 - eps) p = 1.0;
        if (!m.has_successors(i)) {
            d.dist = T;
            if (std::fabs(p0) >= eps) insert_term(p0, 0, 0, 0, 0, d.dist, tol);
        } else {
            m.mean_time[static_cast<size_t>(i)] = moment_of_expo(H, 1, tol);
            if (incoming) convolute_expos(derivative(H, tol), T, d.ldist, tol);
            if (std::fabs(p0) >= eps) scalar_mult_and_add(H, p0, d.ldist, tol);
            if (!computing_reward) {
                Exponomial stay = survival_of(H, tol);
                if (std::fabs(p0) >= eps) scalar_mult_and_add(stay, p0, d.dist, tol);
                if (incoming) convolute_expos(derivative(T, tol), stay, d.dist, tol);
            }
        }
        d.has_dist = true;
    }
    for (int i = 0; i < start; ++i) m.dists[static_cast<size_t>(i)].has_dist = true;
}

void prepare_embedded_chain(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    const double eps = tol.epsilon;
    const int n = m.num_states();
    m.dists.assign(static_cast<size_t>(n), StateDists{});
    m.mean_time.assign(static_cast<size_t>(n), 0.0);
    std::vector<double> probs;
    for (int s = 0; s < n; ++s) {
        StateDists& d = m.dists[static_cast<size_t>(s)];
        std::vector<const Exponomial*> F = arc_dists(sys, m, s);
        compute_probs_and_dist(d.own_dist, F, sys.semi_conditional, probs, nullptr, tol);
        std::span<const std::uint32_t> out = m.out_arcs(s);
        for (size_t k = 0; k < out.size(); ++k)
            if (out[k] < sys.edges.size()) sys.edges[out[k]].prob = probs[k];
        double lim = lim_at_inf(d.own_dist, tol);
        if (std::fabs(lim - 1.0) >= eps) {
            in.out.printf("lim is %12.6e\n", lim);
            in.err.error(154, kFatal, sys.name, true);
        }
        m.mean_time[static_cast<size_t>(s)] = moment_of_expo(d.own_dist, 1, tol);
    }
}

void solve_semimark(AnalysisContext& in, SystemRecord& sys, bool computing_reward) {
    rebind_semimark(in, sys, computing_reward);
    if (sys.type == kSysSemimarkAcyclic) {
        int start = check_starting_probs(in, sys);
        analyze_acyclic_semimark(in, sys, start, computing_reward);
        add_absorbing_cdfs(in, sys);
        sys.s_sbound = true;
        return;
    }
    check_irreducible(in, sys);
    prepare_embedded_chain(in, sys);
    analyze_irred(in, sys);
    sys.s_ibound = true;
}

}  // namespace corvel
