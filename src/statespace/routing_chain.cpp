// Irreducibility and visit ratios of routing chains.

#include "statespace/routing_chain.h"

#include <cmath>

#include "model/context.h"
#include "statespace/sor.h"

namespace corvel {

namespace {

// Marks every state reachable from state 0 along the arcs (forward) or
// against them.
int reach_count(int n, const std::vector<RoutingArc>& arcs, double epsilon, bool forward) {
    std::vector<int> start(static_cast<size_t>(n) + 1, 0), next(arcs.size());
    for (const RoutingArc& a : arcs)
        if (std::fabs(a.prob) >= epsilon) ++start[static_cast<size_t>(forward ? a.from : a.to) + 1];
    for (int i = 0; i < n; ++i) start[static_cast<size_t>(i) + 1] += start[static_cast<size_t>(i)];
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (const RoutingArc& a : arcs) {
        if (std::fabs(a.prob) < epsilon) continue;
        int s = forward ? a.from : a.to;
        next[static_cast<size_t>(fill[static_cast<size_t>(s)]++)] = forward ? a.to : a.from;
    }
    std::vector<char> seen(static_cast<size_t>(n), 0);
    std::vector<int> stack{0};
    seen[0] = 1;
    int count = 1;
    while (!stack.empty()) {
        int s = stack.back();
        stack.pop_back();
        for (int e = start[static_cast<size_t>(s)]; e < start[static_cast<size_t>(s) + 1]; ++e) {
            int t = next[static_cast<size_t>(e)];
            if (seen[static_cast<size_t>(t)]) continue;
            seen[static_cast<size_t>(t)] = 1;
            ++count;
            stack.push_back(t);
        }
    }
    return count;
}

}  // namespace

bool routing_irreducible(int n, const std::vector<RoutingArc>& arcs, double epsilon) {
    if (n < 2) return false;
    return reach_count(n, arcs, epsilon, true) == n && reach_count(n, arcs, epsilon, false) == n;
}

std::vector<double> routing_visit_ratios(AnalysisContext& in, int n, const std::vector<RoutingArc>& arcs) {
    // The shared steady-state solver, with the routing probabilities as rates
    // (arcs of negligible probability are left out, as for reachability).
    const double eps = in.settings.tol.epsilon;
    SparseChain m = setupsp(
        n, static_cast<std::int64_t>(arcs.size()),
        [&](std::int64_t k) {
            const RoutingArc& a = arcs[static_cast<size_t>(k)];
            return SparseArc{a.from, a.to, std::fabs(a.prob) < eps ? 0.0 : a.prob};
        },
        &in.err);
    std::vector<double> x;
    steady_state(m, 1e-7, x, solver_io(in));
    return x;
}

}  // namespace corvel
