// Mean time between state sets.

#include "statespace/fast_mttf.h"

#include <algorithm>

#include "model/context.h"
#include "statespace/chain.h"
#include "statespace/sor.h"

namespace corvel {

double mean_time_between_sets(const MttfChain& c, bool verbose) {
    const int n = c.n;
    const int na = static_cast<int>(c.set_a.size());
    // 0: in R; 1: in A; 2: in F. The visit counts are solved over R only.
    std::vector<int> kind(static_cast<std::size_t>(n), 0), in_r(static_cast<std::size_t>(n), 1);
    std::vector<int> a_pos(static_cast<std::size_t>(n), -1);
    for (int k = 0; k < na; ++k) {
        int s = c.set_a[static_cast<std::size_t>(k)];
        kind[static_cast<std::size_t>(s)] = 1;
        in_r[static_cast<std::size_t>(s)] = 0;
        if (a_pos[static_cast<std::size_t>(s)] < 0) a_pos[static_cast<std::size_t>(s)] = k;
    }
    for (int s : c.set_f) {
        kind[static_cast<std::size_t>(s)] = 2;
        in_r[static_cast<std::size_t>(s)] = 0;
    }
    // Rows by target: a[i][j] = P(j -> i), j in R (mttfsor skips other columns).
    std::vector<std::int64_t> ip(static_cast<std::size_t>(n) + 1, 0);
    for (const auto& arc : c.arcs) ++ip[static_cast<std::size_t>(arc.to) + 1];
    for (int i = 0; i < n; ++i) ip[static_cast<std::size_t>(i) + 1] += ip[static_cast<std::size_t>(i)];
    std::vector<int> ja(c.arcs.size());
    std::vector<double> av(c.arcs.size());
    {
        std::vector<std::int64_t> fill(ip.begin(), ip.end() - 1);
        for (const auto& arc : c.arcs) {
            std::int64_t k = fill[static_cast<std::size_t>(arc.to)]++;
            ja[static_cast<std::size_t>(k)] = arc.from;
            av[static_cast<std::size_t>(k)] = arc.prob;
        }
    }
    std::vector<double> h(static_cast<std::size_t>(na) * na, 0.0), mean(static_cast<std::size_t>(na), 0.0);
    std::vector<double> rhs(static_cast<std::size_t>(n), 0.0), sol;
    for (int k = 0; k < na; ++k) {
        const int u = c.set_a[static_cast<std::size_t>(k)];
        std::fill(rhs.begin(), rhs.end(), 0.0);
        for (const auto& arc : c.arcs)
            if (arc.from == u) rhs[static_cast<std::size_t>(arc.to)] += arc.prob;
        sol.assign(static_cast<std::size_t>(n), 0.0);
        mttfsor(ip, ja, av, in_r, n, sol, rhs, 1e-10, verbose, true);
        for (int i = 0; i < n; ++i)
            if (!in_r[static_cast<std::size_t>(i)]) sol[static_cast<std::size_t>(i)] = 0.0;
        sol[static_cast<std::size_t>(u)] = 1.0;
        double m_u = 0.0;
        for (int i = 0; i < n; ++i) m_u += sol[static_cast<std::size_t>(i)] * c.holding[static_cast<std::size_t>(i)];
        mean[static_cast<std::size_t>(k)] = m_u;
        // The A-state the excursion ends in: straight from u, or from R.
        for (const auto& arc : c.arcs) {
            if (kind[static_cast<std::size_t>(arc.to)] != 1) continue;
            double w = arc.from == u ? 1.0 : in_r[static_cast<std::size_t>(arc.from)] ? sol[static_cast<std::size_t>(arc.from)] : 0.0;
            h[static_cast<std::size_t>(k) * na + a_pos[static_cast<std::size_t>(arc.to)]] += w * arc.prob;
        }
    }
    std::vector<double> x;
    mttfygauss(h, na, x, mean, verbose);
    double mttf = 0.0;
    for (int k = 0; k < na; ++k)
        mttf += x[static_cast<std::size_t>(k)] * c.start[static_cast<std::size_t>(c.set_a[static_cast<std::size_t>(k)])];
    return mttf;
}

namespace {

// Branching probabilities and holding times of a Markov chain, from the rates.
void markov_steps(AnalysisContext& in, SystemRecord& sys, MttfChain& c) {
    // The rates are bound for the current parameters; the outflows kept in
    // the chain stay those of the reward setting of its cached analysis.
    rebind_markov(in, sys, sys.s_vbound && sys.s_reward);
    const ChainModel& m = chain_of(sys);
    std::vector<double> out(static_cast<std::size_t>(c.n), 0.0);
    for (const ChainArc& a : m.arcs)
        if (a.rate > 0.0) out[static_cast<std::size_t>(a.from)] += a.rate;
    c.holding.assign(static_cast<std::size_t>(c.n), 0.0);
    for (int s = 0; s < c.n; ++s)
        if (out[static_cast<std::size_t>(s)] > 0.0) c.holding[static_cast<std::size_t>(s)] = 1.0 / out[static_cast<std::size_t>(s)];
    c.arcs.reserve(m.arcs.size());
    for (const ChainArc& a : m.arcs) {
        double d = out[static_cast<std::size_t>(a.from)];
        if (a.rate > 0.0 && d > 0.0) c.arcs.push_back({a.from, a.to, a.rate / d});
    }
}

// The same from a solved semi-Markov chain: its arcs' branch probabilities
// (edge records, index for index with the arcs) and its states' mean
// sojourn times.
void semimark_steps(const SystemRecord& sys, const ChainModel& m, MttfChain& c) {
    c.holding.assign(static_cast<std::size_t>(c.n), 0.0);
    for (int s = 0; s < c.n && static_cast<std::size_t>(s) < m.mean_time.size(); ++s)
        if (m.has_successors(s)) c.holding[static_cast<std::size_t>(s)] = m.mean_time[static_cast<std::size_t>(s)];
    c.arcs.reserve(m.arcs.size());
    for (std::size_t e = 0; e < m.arcs.size() && e < sys.edges.size(); ++e)
        if (sys.edges[e].prob > 0.0) c.arcs.push_back({m.arcs[e].from, m.arcs[e].to, sys.edges[e].prob});
}

}  // namespace

void fast_mttf(AnalysisContext& in, SystemRecord& sys) {
    MttfChain c;
    c.n = chain_of(sys).num_states();
    if (sys.type == kSysSemimarkAcyclic || sys.type == kSysSemimarkIrreducible)
        semimark_steps(sys, chain_of(sys), c);
    else
        markov_steps(in, sys, c);
    const ChainModel& m = chain_of(sys);
    c.start = m.start_prob;
    c.start.resize(static_cast<std::size_t>(c.n), 0.0);
    c.set_a = m.set_a_states;
    c.set_f = m.set_f_states;
    sys.s_mttf = mean_time_between_sets(c, in.settings.verbose);
}

}  // namespace corvel
