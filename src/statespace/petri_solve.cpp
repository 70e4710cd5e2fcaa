// Solutions of the tangible chain: steady state by SOR, mean times before
// absorption from the fundamental matrix of the tangible states (or one
// exact pass in topological order for acyclic chains), absorption
// probabilities from the mean times.

#include "statespace/petri_solve.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "statespace/chain_forms.h"
#include "model/context.h"
#include "statespace/markov_solve.h"
#include "statespace/petri_net.h"
#include "statespace/phase_type.h"
#include "statespace/sor.h"

namespace corvel {

namespace {

// The transposed chain of `sor` and `GenSor` (row = target state).
SparseChain transposed(const TangibleChain& c, ErrorReporter& err) {
    std::uint32_t row = 0;
    return setupsp(
        static_cast<int>(c.num_states()), static_cast<std::int64_t>(c.num_arcs()),
        [&c, &row](std::int64_t k) {
            if (k == 0) row = 0;
            while (c.row_start[row + 1] <= static_cast<std::uint64_t>(k)) ++row;
            return SparseArc{static_cast<int>(row), static_cast<int>(c.col[static_cast<std::size_t>(k)]),
                             c.rate[static_cast<std::size_t>(k)]};
        },
        &err);
}

std::vector<double> outflow(const TangibleChain& c) {
    std::vector<double> out(c.num_states(), 0.0);
    for (std::uint32_t s = 0; s < c.num_states(); ++s)
        for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e) out[s] += c.rate[e];
    return out;
}

std::vector<double> start_vector(const TangibleChain& c) {
    std::vector<double> p(c.num_states(), 0.0);
    for (auto [s, q] : c.initial) p[s] += q;
    return p;
}

// The chain's arcs by their target state: arcs entering s are
// from[in_start[s] .. in_start[s + 1]).
struct Predecessors {
    std::vector<std::uint64_t> in_start;
    std::vector<std::uint32_t> from;

    explicit Predecessors(const TangibleChain& c) : in_start(c.num_states() + 1, 0), from(c.num_arcs()) {
        const std::uint32_t n = c.num_states();
        for (std::uint64_t e = 0; e < c.num_arcs(); ++e) ++in_start[c.col[e] + 1];
        for (std::uint32_t s = 0; s < n; ++s) in_start[s + 1] += in_start[s];
        std::vector<std::uint64_t> fill(in_start.begin(), in_start.end() - 1);
        for (std::uint32_t s = 0; s < n; ++s)
            for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e) from[fill[c.col[e]]++] = s;
    }
};

// Every tangible state reaches an absorbing one (113 otherwise).
void check_transient_states(AnalysisContext& in, SystemRecord& sys, const TangibleChain& c) {
    const std::uint32_t n = c.num_states();
    const Predecessors pred(c);
    const std::vector<std::uint64_t>& in_start = pred.in_start;
    const std::vector<std::uint32_t>& from = pred.from;
    std::vector<std::uint8_t> reaches(n, 0);
    std::vector<std::uint32_t> stack;
    for (std::uint32_t s = c.num_tangible; s < n; ++s) {
        reaches[s] = 1;
        stack.push_back(s);
    }
    while (!stack.empty()) {
        std::uint32_t s = stack.back();
        stack.pop_back();
        for (std::uint64_t e = in_start[s]; e < in_start[s + 1]; ++e)
            if (!reaches[from[e]]) {
                reaches[from[e]] = 1;
                stack.push_back(from[e]);
            }
    }
    for (std::uint32_t s = 0; s < c.num_tangible; ++s)
        if (!reaches[s]) in.err.error(113, kFatal, sys.name, true);
}

// Expected times to absorption from each tangible state, by one pass in
// reverse topological order (acyclic chains).
std::vector<double> acyclic_remaining(const TangibleChain& c) {
    const std::uint32_t n = c.num_states();
    std::vector<double> out = outflow(c), h(n, 0.0);
    std::vector<std::uint32_t> left(n, 0), ready;
    const Predecessors pred(c);
    for (std::uint32_t s = 0; s < n; ++s) {
        left[s] = static_cast<std::uint32_t>(c.row_start[s + 1] - c.row_start[s]);
        if (left[s] == 0) ready.push_back(s);
    }
    while (!ready.empty()) {
        std::uint32_t s = ready.back();
        ready.pop_back();
        if (s < c.num_tangible) {
            double sum = 1.0;
            for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e) sum += c.rate[e] * h[c.col[e]];
            h[s] = sum / out[s];
        }
        for (std::uint64_t e = pred.in_start[s]; e < pred.in_start[s + 1]; ++e)
            if (--left[pred.from[e]] == 0) ready.push_back(pred.from[e]);
    }
    return h;
}

// Mean times by one pass in topological order (acyclic chains).
std::vector<double> acyclic_times(const TangibleChain& c) {
    const std::uint32_t n = c.num_states();
    std::vector<double> out = outflow(c), inflow = start_vector(c), tau(c.num_tangible, 0.0);
    std::vector<std::uint32_t> indeg(n, 0), ready;
    for (std::uint64_t e = 0; e < c.num_arcs(); ++e) ++indeg[c.col[e]];
    for (std::uint32_t s = 0; s < n; ++s)
        if (indeg[s] == 0) ready.push_back(s);
    while (!ready.empty()) {
        std::uint32_t s = ready.back();
        ready.pop_back();
        if (s >= c.num_tangible) continue;
        tau[s] = inflow[s] / out[s];
        for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e) {
            inflow[c.col[e]] += tau[s] * c.rate[e];
            if (--indeg[c.col[e]] == 0) ready.push_back(c.col[e]);
        }
    }
    return tau;
}

// By GenSor over the tangible states (the transient block of the chain):
// the expected times spent in each state from the starting vector,
// sum_j tau_j q_ji - out_i tau_i = -p0_i; or (`remaining`) the expected
// times to absorption from each state, sum_j q_ij h_j - out_i h_i = -1.
std::vector<double> sor_times(AnalysisContext& in, const TangibleChain& c, bool remaining) {
    const int nt = static_cast<int>(c.num_tangible);
    std::vector<double> out = outflow(c);
    for (int i = 0; i < nt; ++i)
        if (out[static_cast<std::size_t>(i)] == 0.0) {
            in.out.flush();
            std::fprintf(stderr, "Missing diagonal entries\n");
            in.err.exit_program(kExitAssert);
        }
    std::vector<double> b = remaining ? std::vector<double>(static_cast<std::size_t>(nt), 1.0) : start_vector(c);
    SolverIo io = solver_io(in);
    if (!in.settings.verbose) io.out = nullptr;  // the summary lines are a verbose report
    const double prec = 1e-9;
    BlockSolution s = solve_transient_block(transposed(c, in.err), nt, out, b, remaining, io, prec);
    if (s.change > prec) {
        in.out.flush();
        std::fprintf(stderr, "WARNING: required precision not reached in 'mtta'\n");
    }
    return std::move(s.x);
}

// The fundamental matrix N = (-Q_TT)^-1 of the tangible block, applied by
// elimination: the expected times spent in each state from the starting
// vector (p N), or (`remaining`) the expected times to absorption from each
// state (N 1). Blocks too large for the elimination are left to the sweeps
// of GenSor; a result that is not finite there is refused (139), never
// passed on to a measure.
std::vector<double> block_times(AnalysisContext& in, SystemRecord& sys, const TangibleChain& c, bool remaining) {
    const int nt = static_cast<int>(c.num_tangible);
    const SparseChain t = transposed(c, in.err);
    std::vector<double> b = remaining ? std::vector<double>(static_cast<std::size_t>(nt), 1.0) : start_vector(c);
    b.resize(static_cast<std::size_t>(nt));
    std::vector<double> x;
    if (nt <= kGthLimit) {
        const BlockElimination lu(t, nt);
        x = remaining ? lu.solve(std::move(b)) : lu.solve_transposed(std::move(b));
    } else if (std::optional<SparseBlockElimination> lu = SparseBlockElimination::build(t, nt, kSparseGthFill)) {
        x = remaining ? lu->solve(std::move(b)) : lu->solve_transposed(std::move(b));
    } else {
        x = sor_times(in, c, remaining);
    }
    for (double v : x)
        if (!std::isfinite(v) || v < 0.0) in.err.error(139, kFatal, ": system " + sys.name, true);
    return x;
}

}  // namespace

bool chain_is_irreducible(const TangibleChain& c) {
    const std::uint32_t n = c.num_states();
    if (n == 0) return false;
    auto reach_all = [n](auto&& next) {
        std::vector<std::uint8_t> seen(n, 0);
        std::vector<std::uint32_t> stack{0};
        seen[0] = 1;
        std::uint32_t count = 1;
        while (!stack.empty()) {
            std::uint32_t s = stack.back();
            stack.pop_back();
            next(s, [&](std::uint32_t t) {
                if (!seen[t]) {
                    seen[t] = 1;
                    ++count;
                    stack.push_back(t);
                }
            });
        }
        return count == n;
    };
    bool forward = reach_all([&c](std::uint32_t s, auto&& visit) {
        for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e) visit(c.col[e]);
    });
    if (!forward) return false;
    const Predecessors pred(c);
    const std::vector<std::uint64_t>& in_start = pred.in_start;
    const std::vector<std::uint32_t>& from = pred.from;
    return reach_all([&](std::uint32_t s, auto&& visit) {
        for (std::uint64_t e = in_start[s]; e < in_start[s + 1]; ++e) visit(from[e]);
    });
}

void solve_mean_times(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a) {
    const TangibleChain& c = a.chain;
    if (c.num_absorbing == 0) {
        in.out.flush();
        std::fprintf(stderr, "ERROR: 'accumulated' requires at least one absorbing state\n");
        in.err.exit_program(kExitAssert);
    }
    check_transient_states(in, sys, c);
    a.mean_time = a.klass == kSysGspnAcyclic ? acyclic_times(c) : block_times(in, sys, c, false);
    a.mean_time.resize(c.num_states(), 0.0);
    a.has_times = true;
}

double absorption_time_variance(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a) {
    if (!a.has_times) solve_mean_times(in, sys, a);
    const TangibleChain& c = a.chain;
    std::vector<double> h = a.klass == kSysGspnAcyclic ? acyclic_remaining(c) : block_times(in, sys, c, true);
    // E[T^2] = 2 sum_i tau_i h_i: each moment spent in i is followed by h_i.
    double mean = 0.0, second = 0.0;
    for (std::uint32_t s = 0; s < c.num_tangible; ++s) {
        mean += a.mean_time[s];
        second += 2.0 * a.mean_time[s] * h[s];
    }
    double v = second - mean * mean;
    // Rounding can leave a tiny negative difference for a nearly
    // deterministic time; a variance is never below 0.
    return v < 0.0 ? 0.0 : v;
}

void solve_limit(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a) {
    const TangibleChain& c = a.chain;
    if (a.klass == kSysGspnIrreducible) {
        SparseChain m = transposed(c, in.err);
        if (state_without_outflow(m) >= 0) in.err.error(114, kFatal, sys.name, true);
        std::vector<double> x;
        steady_iterate(m, 1e-7, x, solver_io(in));
        a.limit = std::move(x);
        return;
    }
    if (!a.has_times) solve_mean_times(in, sys, a);
    // The limit lives on the absorbing states: what flows into each of them
    // over the time spent in the tangible ones. A tangible state is left
    // with probability 1, so its limit is 0.
    a.limit = start_vector(c);
    for (std::uint32_t s = 0; s < c.num_tangible; ++s) {
        a.limit[s] = 0.0;
        for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e)
            if (c.col[e] >= c.num_tangible) a.limit[c.col[e]] += a.mean_time[s] * c.rate[e];
    }
}


void solve_transient(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a, double t) {
    if (t < 0.0) in.err.error(211, kFatal, sys.name, true);
    // The tangible chain's arcs with their incoming-arc index, as the shared
    // transient solver reads them.
    const TangibleChain& c = a.chain;
    const std::uint32_t n = c.num_states();
    std::vector<ChainArc> arcs;
    arcs.reserve(c.num_arcs());
    for (std::uint32_t s = 0; s < n; ++s)
        for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e)
            arcs.push_back({static_cast<std::int32_t>(s), static_cast<std::int32_t>(c.col[e]), c.rate[e]});
    std::vector<std::uint32_t> pred_off(static_cast<std::size_t>(n) + 1, 0), pred(arcs.size());
    for (const ChainArc& arc : arcs) ++pred_off[static_cast<std::size_t>(arc.to) + 1];
    for (std::uint32_t s = 0; s < n; ++s) pred_off[s + 1] += pred_off[s];
    std::vector<std::uint32_t> fill(pred_off.begin(), pred_off.end() - 1);
    for (std::size_t e = 0; e < arcs.size(); ++e) pred[fill[static_cast<std::size_t>(arcs[e].to)]++] = static_cast<std::uint32_t>(e);
    ChainArcsView view;
    view.num_states = static_cast<int>(n);
    view.arcs = arcs;
    view.pred_off = pred_off;
    view.pred = pred;
    TransientResult r = transient_solution(view, start_vector(c), t, in.settings.tol.u_epsilon, in.settings.tol.epsilon,
                                           in.settings.verbose ? &in.out : nullptr, in.settings.work_limit);
    a.tprob = std::move(r.prob);
    a.tcumprob = std::move(r.cum);
    // The nets' sums take one absolute bound (probabilities are at most 1).
    a.terror = r.error + r.rel_error;
    a.tcumerror = r.cum_error + r.rel_error * t;
}

namespace {

// The tangible chain as a Markov chain of a scratch record, bound and
// classified, so that the chain solvers work on it; state s is named by its
// number, and the names give the states back after mtopsort renumbered them.
void scratch_chain(AnalysisContext& in, const SystemRecord& sys, const TangibleChain& c, SystemRecord& chain_sys) {
    chain_sys.name = sys.name;
    chain_sys.block_kind = kSysMarkov;
    ChainModel& m = chain_of(chain_sys);
    const std::uint32_t n = c.num_states();
    for (std::uint32_t s = 0; s < n; ++s) m.names.add(std::to_string(s));
    m.arcs.reserve(c.num_arcs());
    for (std::uint32_t s = 0; s < n; ++s)
        for (std::uint64_t e = c.row_start[s]; e < c.row_start[s + 1]; ++e)
            m.arcs.push_back({static_cast<std::int32_t>(s), static_cast<std::int32_t>(c.col[e]), c.rate[e]});
    chain_sys.type = mtopsort(in, chain_sys, kSysMarkov);
    m.start_prob.assign(n, 0.0);
    m.reward.assign(n, 0.0);
    for (auto [s, q] : c.initial) m.start_prob[static_cast<std::size_t>(m.names.find(std::to_string(s)))] += q;
    rebind_markov(in, chain_sys, false);
}

std::uint32_t net_state(const ChainModel& m, int i) {
    return static_cast<std::uint32_t>(std::stoul(std::string(m.names[i])));
}

}  // namespace

bool closed_form_fits(const NetAnalysis& a) {
    return a.klass == kSysGspnAcyclic || a.chain.num_states() <= kMaxClosedFormStates;
}

void solve_absorption_route(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a) {
    if (a.klass == kSysGspnIrreducible) return;
    if (!a.has_limit) {
        solve_limit(in, sys, a);
        a.has_limit = true;
    }
    SystemRecord chain_sys;
    scratch_chain(in, sys, a.chain, chain_sys);
    ChainModel& m = chain_of(chain_sys);
    m.prob.assign(static_cast<std::size_t>(m.num_states()), 0.0);
    for (int i = 0; i < m.num_states(); ++i) m.prob[static_cast<std::size_t>(i)] = a.limit[net_state(m, i)];
    sys.s_stable = markov_absorbing_route(in, chain_sys, false);
}

void solve_distribution(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a) {
    const TangibleChain& c = a.chain;
    const std::uint32_t n = c.num_states();
    if (!closed_form_fits(a)) in.err.error(169, kFatal, ": closed form of system " + sys.name, true);
    const bool closed = a.klass == kSysGspnIrreducible;
    if (!closed) check_transient_states(in, sys, c);
    SystemRecord chain_sys;
    scratch_chain(in, sys, c, chain_sys);
    ChainModel& m = chain_of(chain_sys);
    const int start = check_starting_probs(in, chain_sys);
    if (chain_sys.type == kSysMarkovAcyclic) {
        analyze_acyclic_markov(in, chain_sys, start, false);
        add_absorbing_cdfs(in, chain_sys);
    } else {
        // Phase-type and irreducible chains alike, by their eigenvalues; the
        // probabilities of an irreducible one tend to its steady state.
        m.dists.assign(n, StateDists{});
        m.need_node.assign(n, 1);
        solve_ph_chain(in, chain_sys, false, !closed);
    }
    // Each net state's closed form (the scratch chain has renumbered them).
    a.state_dist.assign(n, Exponomial{});
    a.state_limit.assign(n, 0.0);
    for (int i = 0; i < m.num_states() && static_cast<std::size_t>(i) < m.dists.size(); ++i) {
        const std::uint32_t s = net_state(m, i);
        a.state_dist[s] = m.dists[static_cast<std::size_t>(i)].dist;
        if (static_cast<std::size_t>(i) < m.prob.size()) a.state_limit[s] = m.prob[static_cast<std::size_t>(i)];
    }
    a.form_error = m.form_error;
    if (!closed) {
        sys.s_dist = std::move(chain_sys.s_dist);
        sys.has_dist = true;
        // The stable route keeps its own copy of the arcs.
        sys.s_stable = markov_absorbing_route(in, chain_sys, false);
    }
    a.has_forms = true;
}

}  // namespace corvel
