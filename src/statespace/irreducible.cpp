// Steady state of irreducible Markov and semi-Markov chains through the
// shared SOR solver.

#include "statespace/irreducible.h"

#include <cmath>

#include "expo/guarded.h"
#include "model/context.h"
#include "statespace/chain.h"

namespace corvel {

namespace {

bool is_semimark(const SystemRecord& sys) { return sys.type == kSysSemimarkIrreducible; }

void report_range(AnalysisContext& in, const SystemRecord& sys, const ChainModel& m, int s, double p) {
    in.err.error(122, kConsistency,
                 format_string(", system %s state %s prob %9.6f", sys.name.c_str(), std::string(m.names[s]).c_str(), p),
                 false);
}

void report_total(AnalysisContext& in, const SystemRecord& sys, double total) {
    in.err.error(121, kConsistency, format_string(", system %s, total is %9.6f", sys.name.c_str(), total), false);
}

}  // namespace

void check_irreducible(AnalysisContext& in, SystemRecord& sys) {
    const ChainModel& m = chain_of(sys);
    const bool all_arcs = sys.type == kSysSemimarkIrreducible;
    if (m.num_states() < 2 || not_irreducible(m, in.settings.tol.epsilon, all_arcs))
        in.err.error(114, kFatal, sys.name, true);
}

SparseChain irreducible_matrix(AnalysisContext& in, const SystemRecord& sys) {
    const ChainModel& m = *find_chain(sys);
    const bool semi = is_semimark(sys);
    return setupsp(
        m.num_states(), static_cast<std::int64_t>(m.arcs.size()),
        [&](std::int64_t k) {
            const ChainArc& a = m.arcs[static_cast<size_t>(k)];
            double value = !semi ? a.rate : static_cast<size_t>(k) < sys.edges.size() ? sys.edges[static_cast<size_t>(k)].prob : 0.0;
            return SparseArc{a.from, a.to, value};
        },
        &in.err);
}

SteadyStateResult analyze_irred(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    const int n = m.num_states();
    const bool semi = is_semimark(sys);

    SparseChain q = irreducible_matrix(in, sys);
    // A state that is never left makes the balance equations singular for
    // the iteration; it is also no irreducible chain.
    if (state_without_outflow(q) >= 0) in.err.error(114, kFatal, sys.name, true);

    std::vector<double> x;
    SteadyStateResult res = steady_state(q, 1e-7, x, solver_io(in));
    if (res.inaccurate) print_trust_warning(in.out, "steady state of system " + sys.name, res.estimate);

    double weight = 1.0;  // D: the mean-time weighting of the embedded chain
    if (semi) {
        weight = 0.0;
        double total = 0.0;
        for (int s = 0; s < n; ++s) {
            double xs = x[static_cast<size_t>(s)];
            if (xs < -eps || xs > 1.0 + eps) report_range(in, sys, m, s, xs);
            weight += xs * m.mean_time[static_cast<size_t>(s)];
            total += xs;
        }
        if (std::fabs(total - 1.0) >= eps) report_total(in, sys, total);
    }

    m.prob.assign(static_cast<size_t>(n), 0.0);
    double sum = 0.0;
    for (int s = 0; s < n; ++s) {
        double xs = x[static_cast<size_t>(s)];
        if (xs < -eps || xs > 1.0 + eps) report_range(in, sys, m, s, xs);
        double p = xs;
        if (semi) p = weight > 0.0 ? xs * m.mean_time[static_cast<size_t>(s)] / weight : 0.0;
        if (p < 0.0) p = 0.0;
        if (p > 1.0) p = 1.0;
        m.prob[static_cast<size_t>(s)] = p;
        sum += p;
    }
    if (std::fabs(sum - 1.0) >= eps) report_total(in, sys, sum);
    return res;
}

double chain_steady_measure(AnalysisContext& in, SystemRecord& sys, Kw measure, int node) {
    const ChainModel& m = chain_of(sys);
    auto reward = [&](int s) { return m.reward.empty() ? 0.0 : m.reward[static_cast<size_t>(s)]; };
    switch (measure) {
        case Kw::Prob: return m.prob[static_cast<size_t>(node)];
        case Kw::Sreward: return reward(node) * m.prob[static_cast<size_t>(node)];
        case Kw::Exrss: {
            double total = 0.0;
            for (int s = 0; s < m.num_states(); ++s) total += reward(s) * m.prob[static_cast<size_t>(s)];
            return total;
        }
        default:
            in.err.error(21, kFatal, sys.name, true);
            return 0.0;
    }
}

void solve_irreducible_markov(AnalysisContext& in, SystemRecord& sys) {
    rebind_markov(in, sys, false);
    check_irreducible(in, sys);
    analyze_irred(in, sys);
    sys.s_ibound = true;
}

}  // namespace corvel
