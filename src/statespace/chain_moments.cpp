#include "statespace/chain_moments.h"

#include <cmath>

namespace corvel {

std::optional<AbsorptionMoments> acyclic_absorption_moments(const ChainModel& m, const std::vector<double>& rates) {
    const int n = m.num_states();
    if (!m.numbered || static_cast<int>(m.start_prob.size()) != n) return std::nullopt;
    // Kahn's order over the arcs; a state left unordered lies on a cycle.
    std::vector<int> order;
    order.reserve(static_cast<size_t>(n));
    std::vector<int> indeg(static_cast<size_t>(n), 0);
    for (const ChainArc& a : m.arcs) ++indeg[static_cast<size_t>(a.to)];
    for (int s = 0; s < n; ++s)
        if (indeg[static_cast<size_t>(s)] == 0) order.push_back(s);
    for (size_t k = 0; k < order.size(); ++k)
        for (std::uint32_t e : m.out_arcs(order[k]))
            if (--indeg[static_cast<size_t>(m.arcs[e].to)] == 0) order.push_back(m.arcs[e].to);
    if (static_cast<int>(order.size()) != n) return std::nullopt;

    // Backwards: h = mean remaining time, v = its variance. With X the sojourn
    // and J the next state, Var T = Var X + E[Var T_J] + Var(h_J), the last
    // term summed as squares around the mean so that nothing cancels.
    std::vector<double> h(static_cast<size_t>(n), 0.0), v(static_cast<size_t>(n), 0.0);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const int s = *it;
        double out = 0.0;
        for (std::uint32_t e : m.out_arcs(s)) out += rates[e];
        if (!m.has_successors(s)) continue;
        if (!(out > 0.0)) return std::nullopt;  // a state never left: the time is infinite
        double hbar = 0.0, vbar = 0.0;
        for (std::uint32_t e : m.out_arcs(s)) {
            const double p = rates[e] / out;
            hbar += p * h[static_cast<size_t>(m.arcs[e].to)];
            vbar += p * v[static_cast<size_t>(m.arcs[e].to)];
        }
        double spread = 0.0;
        for (std::uint32_t e : m.out_arcs(s)) {
            const double d = h[static_cast<size_t>(m.arcs[e].to)] - hbar;
            spread += rates[e] / out * d * d;
        }
        h[static_cast<size_t>(s)] = 1.0 / out + hbar;
        v[static_cast<size_t>(s)] = 1.0 / (out * out) + vbar + spread;
    }

    double total = 0.0;
    AbsorptionMoments r;
    for (int s = 0; s < n; ++s) {
        const double p = m.start_prob[static_cast<size_t>(s)];
        if (p == 0.0) continue;
        if (!m.has_successors(s)) return std::nullopt;
        total += p;
        r.mean += p * h[static_cast<size_t>(s)];
    }
    if (std::fabs(total - 1.0) > 1e-12) return std::nullopt;
    for (int s = 0; s < n; ++s) {
        const double p = m.start_prob[static_cast<size_t>(s)];
        if (p == 0.0) continue;
        const double d = h[static_cast<size_t>(s)] - r.mean;
        r.variance += p * (v[static_cast<size_t>(s)] + d * d);
    }
    return r;
}

}  // namespace corvel
