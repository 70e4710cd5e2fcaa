#include "statespace/chain_moments.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "statespace/sor.h"

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

TargetMoments target_moments(int num_states, std::span<const ChainArc> arcs, std::span<const double> start,
                             std::span<const int> targets, double epsilon, const SolverIo& io) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const auto n = static_cast<size_t>(num_states);
    auto live = [epsilon](const ChainArc& a) { return a.rate >= epsilon && a.rate > 0.0; };
    std::vector<char> target(n, 0);
    for (int s : targets) target[static_cast<size_t>(s)] = 1;

    // R: the states that reach a target backwards over the live arcs.
    std::vector<std::uint32_t> in_off(n + 1, 0), in_from;
    for (const ChainArc& a : arcs)
        if (live(a)) ++in_off[static_cast<size_t>(a.to) + 1];
    for (size_t s = 0; s < n; ++s) in_off[s + 1] += in_off[s];
    in_from.resize(in_off[n]);
    {
        std::vector<std::uint32_t> fill(in_off.begin(), in_off.end() - 1);
        for (const ChainArc& a : arcs)
            if (live(a)) in_from[fill[static_cast<size_t>(a.to)]++] = static_cast<std::uint32_t>(a.from);
    }
    std::vector<int> pos(n, -1);
    std::vector<int> order;
    std::vector<char> seen(target);
    std::vector<std::uint32_t> stack;
    for (int s : targets) stack.push_back(static_cast<std::uint32_t>(s));
    while (!stack.empty()) {
        const std::uint32_t s = stack.back();
        stack.pop_back();
        for (std::uint32_t k = in_off[s]; k < in_off[s + 1]; ++k) {
            const std::uint32_t f = in_from[k];
            if (seen[f]) continue;
            seen[f] = 1;
            pos[f] = static_cast<int>(order.size());
            order.push_back(static_cast<int>(f));
            stack.push_back(f);
        }
    }
    const int nr = static_cast<int>(order.size());
    TargetMoments r{Guarded::exact(0.0), Guarded::exact(0.0), Guarded::exact(0.0)};
    r.hit.route = r.first.route = r.second.route = Route::Iteration;
    if (nr == 0) return r;

    // The block over R; every arc leaving R goes to index nr.
    std::vector<double> out(static_cast<size_t>(nr), 0.0), into(static_cast<size_t>(nr), 0.0);
    bool leaks = false;
    for (const ChainArc& a : arcs) {
        const int f = pos[static_cast<size_t>(a.from)];
        if (f < 0 || !live(a)) continue;
        out[static_cast<size_t>(f)] += a.rate;
        if (target[static_cast<size_t>(a.to)]) into[static_cast<size_t>(f)] += a.rate;
        else if (pos[static_cast<size_t>(a.to)] < 0) leaks = true;
    }
    const SparseChain t = setupsp(nr + 1, static_cast<std::int64_t>(arcs.size()), [&](std::int64_t k) {
        const ChainArc& a = arcs[static_cast<size_t>(k)];
        const int f = pos[static_cast<size_t>(a.from)];
        if (f < 0 || !live(a)) return SparseArc{};
        const int to = pos[static_cast<size_t>(a.to)];
        return SparseArc{f, to < 0 ? nr : to, a.rate};
    });
    // About 10^9 arc visits per phase of the solver at most: a chain that
    // mixes too slowly for that shows it in its residual. A block that the
    // elimination below can take gets far fewer: beyond them elimination is
    // the cheaper way.
    const bool small = nr <= kGthLimit;
    const int sweeps = small ? 20'000
                             : static_cast<int>(std::clamp<std::int64_t>(
                                   1'000'000'000 / std::max<std::int64_t>(1, t.nonzeros()), 10'000, 3'000'000));
    auto solve = [&](const std::vector<double>& rhs) {
        return solve_transient_block(t, nr, out, rhs, true, io, 1e-13, sweeps);
    };

    // The three moments from the solutions b, u, w with their bounds.
    const auto moments_of = [&](const std::vector<double>& bx, const std::vector<double>& ux,
                                const std::vector<double>& wx, double eb, double eu, double ew) {
        GuardedSum hit, first, second;
        double mass = 0.0;
        for (int i = 0; i < nr; ++i) {
            const double p = start[static_cast<size_t>(order[static_cast<size_t>(i)])];
            if (p == 0.0) continue;
            mass += std::fabs(p);
            hit.add(p * bx[static_cast<size_t>(i)]);
            first.add(p * ux[static_cast<size_t>(i)]);
            second.add(2.0 * p * wx[static_cast<size_t>(i)]);
        }
        // Relative bounds (negative) scale with each sum, absolute ones with the mass.
        auto add = [mass](GuardedSum& g, double e) { g.add_error(e < 0.0 ? -e * std::fabs(g.sum()) : mass * e); };
        add(hit, eb);
        add(first, eu);
        add(second, 2.0 * ew);
        return TargetMoments{hit.result(Route::Iteration), first.result(Route::Iteration),
                             second.result(Route::Iteration)};
    };
    const std::vector<double> ones(static_cast<size_t>(nr), 1.0);

    // A large block whose elimination stays sparse (banded, path-like
    // chains) is eliminated at once: the sweeps would carry the boundary
    // values across it one state per sweep. So is a smaller block with few
    // arcs per state beyond a few hundred states, where the sweeps of a
    // slowly mixing path cost more than its elimination.
    const double big = 4.0 * nr * kUnitRoundoff;
    const bool sparse_block = nr >= 200 && t.nonzeros() <= 8 * static_cast<std::int64_t>(nr);
    if (!small || sparse_block)
        if (std::optional<SparseBlockElimination> lu = SparseBlockElimination::build(t, nr, kSparseGthFill)) {
            const std::vector<double> be = leaks ? lu->solve(into) : ones;
            const std::vector<double> ue = lu->solve(be);
            const std::vector<double> we = lu->solve(ue);
            return moments_of(be, ue, we, -big, -2.0 * big, -3.0 * big);
        }

    // ||N|| from h = N 1; a residual near 1 leaves it unknown.
    BlockSolution h = solve(ones);
    double hmax = 0.0;
    for (double x : h.x) hmax = std::max(hmax, std::fabs(x));
    const double norm = h.residual < 0.5 ? hmax / (1.0 - h.residual) : kInf;
    const bool h_settled = std::isfinite(norm) && norm * h.residual <= 1e-10 * hmax;
    if (h_settled || !small) {
        // The error of a solve whose right-hand side itself carries `rhs_error`.
        auto bound = [norm](const BlockSolution& s, double rhs_error) {
            const double e = norm * (s.residual + rhs_error);
            return std::isfinite(e) ? e : kInf;
        };
        BlockSolution bs;
        double eb = 0.0;
        if (leaks) {
            bs = solve(into);
            eb = bound(bs, 0.0);
        } else {
            bs.x = ones;  // every path out of R ends in a target
        }
        BlockSolution us = leaks ? solve(bs.x) : h;
        const double eu = bound(us, eb);
        BlockSolution ws = solve(us.x);
        const double ew = bound(ws, eu);
        r = moments_of(bs.x, us.x, ws.x, eb, eu, ew);
        const auto settled = [](const Guarded& g) { return g.finite() && g.error <= 1e-10 * std::fabs(g.value); };
        if ((settled(r.hit) && settled(r.first) && settled(r.second)) || !small) return r;
    }
    // Solves that do not settle (stiff cycles mix too slowly for the
    // sweeps): a block small enough is eliminated instead, which keeps the
    // relative accuracy of every component. Each elimination adds a
    // relative error of the order of the block size times the unit roundoff.
    const BlockElimination lu(t, nr);
    const std::vector<double> be = leaks ? lu.solve(into) : ones;
    const std::vector<double> ue = lu.solve(be);
    const std::vector<double> we = lu.solve(ue);
    const double rel = 4.0 * nr * kUnitRoundoff;
    return moments_of(be, ue, we, -rel, -2.0 * rel, -3.0 * rel);
}

GuardedMoments continuous_target_moments(const TargetMoments& t) {
    GuardedMoments m{Guarded::exact(0.0), Guarded::exact(0.0)};
    if (t.hit.value == 0.0) return m;
    m.mean = g_div(t.first, t.hit);
    const Guarded m2 = g_div(t.second, t.hit);
    m.variance = g_sub(m2, g_mul(m.mean, m.mean));
    // A variance is never below 0: a negative value is rounding of a nearly
    // deterministic time, within its bound.
    if (m.variance.value < 0.0) {
        m.variance.error = std::max(m.variance.error, -m.variance.value);
        m.variance.value = 0.0;
    }
    return m;
}

}  // namespace corvel
