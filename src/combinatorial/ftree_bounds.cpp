// Pruned diagrams and the threshold search of the bounds of a coherent tree.
//
// Why the numbers are bounds. Write LO(h) and HI(h) for the functions a
// pruned diagram gives a node whose own function is h.
//  1. A node computes x·a + x̄·b from the functions a and b on its two edges,
//     which is monotone in a and in b. LO replaces an edge function by 0 at a
//     cut and by LO of the node below otherwise (by ¬HI of it through a
//     complemented edge, since ¬HI(h) ≤ ¬h); by induction from the bottom,
//     LO(h) ≤ h pointwise, and in the same way h ≤ HI(h).
//  2. and and or are monotone, so a gate built from inputs that lie below
//     (above) the true inputs lies below (above) the true gate, and pruning
//     its diagram keeps it there.
//  3. A module stands in its parent for one variable y. The parent's true
//     function G(x, y) of its own events x and module variables y is built
//     from and/or over uncomplemented inputs (the tree is coherent), so it
//     is monotone in y; its pruned diagram G_lo satisfies G_lo ≤ G pointwise
//     but need not be monotone itself. The module's lower pass produced a
//     Boolean function M_lo(z) ≤ M(z) of the module's own events z, which
//     share nothing with x or with the other modules; so the parent's
//     diagram evaluated with P(y) = P(M_lo) is the probability of
//     G_lo(x, M_lo(z)), and G_lo(x, M_lo(z)) ≤ G(x, M_lo(z)) ≤ G(x, M(z)).
//     Module by module up to the top, the lower pass computes the exact
//     probability of a Boolean function that implies the top event, and the
//     upper pass (1 at the cuts, HI in place of LO) one of a function that
//     the top event implies.
//  4. That probability is evaluated with sums of products of non-negative
//     numbers only, so each value carries a relative rounding error of at
//     most two units in the last place per level of diagram it passed
//     through; the two ends are widened outward by that much before they are
//     printed.
// The gap between the two is at most the reach of everything cut away in
// both passes, which is why cutting only below a small threshold gives
// close bounds.

#include "combinatorial/ftree_bounds.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>

#include "expo/results.h"
#include "model/context.h"

namespace corvel {

namespace {

constexpr int kLo = 0, kHi = 1;

// The regular nodes below f, each after its children, with their edges.
struct Walk {
    std::vector<bdd> node;                    // regular handle
    std::vector<std::array<bdd, 2>> edge;     // then, else (borrowed handles)
    std::unordered_map<std::uint32_t, std::uint32_t> number;  // node index -> position in `node`

    Walk(BddManager* m, bdd f) {
        constexpr std::uint32_t kOpen = 0xFFFFFFFFu;
        std::vector<std::pair<bdd, bool>> stack{{bdd_regular(f), false}};
        while (!stack.empty()) {
            const auto [h, expanded] = stack.back();
            stack.pop_back();
            if (expanded) {
                number[h >> 1] = static_cast<std::uint32_t>(node.size());
                node.push_back(h);
                edge.push_back({bdd_then(m, h), bdd_else(m, h)});
                continue;
            }
            if (!number.try_emplace(h >> 1, kOpen).second) continue;
            stack.push_back({h, true});
            for (bdd c : {bdd_then(m, h), bdd_else(m, h)})
                if (!bdd_is_constant(m, c) && number.find(c >> 1) == number.end())
                    stack.push_back({bdd_regular(c), false});
        }
    }
    std::uint32_t of(bdd h) const { return number.at(h >> 1); }
};

// x·t + x̄·e for the variable x at `position`, above both t and e.
bdd make_node(BddManager* m, long position, bdd t, bdd e) {
    if (t == e) return bdd_identity(m, t);
    const bdd x = bdd_var_with_index(m, position);
    const bdd a = bdd_and(m, x, t);
    if (a == kBddNull) return kBddNull;
    const bdd b = bdd_and(m, x ^ 1u, e);
    if (b == kBddNull) {
        bdd_free(m, a);
        return kBddNull;
    }
    const bdd r = bdd_or(m, a, b);
    bdd_free(m, a);
    bdd_free(m, b);
    return r;
}

}  // namespace

bdd ft_prune(BddManager* m, bdd f, const std::vector<double>& p, double threshold, FtBound way, double* cut) {
    if (f == kBddNull) return kBddNull;
    if (bdd_is_constant(m, f)) return bdd_identity(m, f);
    const Walk w(m, f);
    const size_t n = w.node.size();
    // Reach through the nodes kept, parents (later in the walk) first.
    std::vector<double> reach(n, 0.0);
    std::vector<char> cut_here(n, 0);
    reach[n - 1] = 1.0;
    double cut_mass = 0.0;
    bool any = false;
    for (size_t k = n; k-- > 0;) {
        if (reach[k] < threshold) {
            cut_here[k] = 1;
            cut_mass += reach[k];
            any = true;
            continue;
        }
        const double x = p[static_cast<size_t>(bdd_if_index(m, w.node[k]))];
        const bdd t = w.edge[k][0], e = w.edge[k][1];
        if (!bdd_is_constant(m, t)) reach[w.of(t)] += reach[k] * x;
        if (!bdd_is_constant(m, e)) reach[w.of(e)] += reach[k] * (1.0 - x);
    }
    if (cut != nullptr) *cut += cut_mass;
    if (!any) return bdd_identity(m, f);
    // A threshold above 1 cuts the root itself.
    if (cut_here[n - 1]) return way == FtBound::Lower ? bdd_zero(m) : bdd_one(m);
    // Which of LO and HI each kept node must provide: a complemented edge
    // asks for the other one.
    std::vector<std::uint8_t> need(n, 0);
    const int root_version = (way == FtBound::Lower) != bdd_is_complemented(f) ? kLo : kHi;
    need[n - 1] = static_cast<std::uint8_t>(1u << root_version);
    for (size_t k = n; k-- > 0;) {
        if (cut_here[k] || need[k] == 0) continue;
        for (bdd c : w.edge[k]) {
            if (bdd_is_constant(m, c)) continue;
            const std::uint32_t j = w.of(c);
            if (cut_here[j]) continue;
            std::uint8_t v = need[k];
            if (bdd_is_complemented(c)) v = static_cast<std::uint8_t>(((v & 1u) << 1) | ((v >> 1) & 1u));
            need[j] |= v;
        }
    }
    std::vector<std::array<bdd, 2>> built(n, {kBddNull, kBddNull});
    auto release = [&]() {
        for (auto& b : built)
            for (bdd h : b)
                if (h != kBddNull) bdd_free(m, h);
    };
    auto edge_value = [&](bdd c, int version) -> bdd {
        if (bdd_is_constant(m, c)) return c;
        const std::uint32_t j = w.of(c);
        if (cut_here[j]) return version == kLo ? bdd_zero(m) : bdd_one(m);
        const int v = bdd_is_complemented(c) ? 1 - version : version;
        return built[j][static_cast<size_t>(v)] ^ (c & 1u);
    };
    for (size_t k = 0; k < n; ++k) {
        if (cut_here[k]) continue;
        for (int v : {kLo, kHi}) {
            if ((need[k] & (1u << v)) == 0) continue;
            const bdd r = make_node(m, bdd_if_index(m, w.node[k]), edge_value(w.edge[k][0], v),
                                    edge_value(w.edge[k][1], v));
            if (r == kBddNull) {
                release();
                return kBddNull;
            }
            built[k][static_cast<size_t>(v)] = r;
        }
    }
    const bdd r = bdd_identity(m, built[n - 1][static_cast<size_t>(root_version)] ^ (f & 1u));
    release();
    return r;
}

std::optional<FtBoundPair> ft_bound_search(const FtBoundPass& pass) {
    // Every step cuts a hundred times less reach than the one before; the
    // search ends when the bounds agree to far more digits than are printed.
    constexpr double kStart = 1e-4, kStep = 1e-2, kFinest = 1e-300, kGap = 1e-10;
    std::optional<FtBoundPair> best;
    double threshold = kStart;
    bool coarser = false;
    for (;;) {
        FtPassInfo lo, hi;
        std::optional<double> lower = pass(threshold, FtBound::Lower, lo);
        std::optional<double> upper;
        if (lower) upper = pass(threshold, FtBound::Upper, hi);
        if (!lower || !upper) {
            // The previous threshold was the finest that fits.
            if (best) break;
            if (threshold >= 1.0) return std::nullopt;
            coarser = true;
            threshold = std::min(1.0, threshold / kStep);
            continue;
        }
        FtBoundPair b{std::max(0.0, *lower), std::min(1.0, *upper), !lo.cut && !hi.cut};
        if (best) {
            b.lower = std::max(b.lower, best->lower);
            b.upper = std::min(b.upper, best->upper);
        }
        best = b;
        if (b.exact || coarser || lo.crowded || hi.crowded || b.upper - b.lower <= kGap * b.upper ||
            threshold <= kFinest)
            break;
        threshold *= kStep;
    }
    return best;
}

void print_ft_bounds(AnalysisContext& in, const std::string& system, const FtBoundPair& b) {
    in.err.error(226, kWarning, system, true);
    print_expression_value(in.out, in.settings, "lower bound", b.lower);
    print_expression_value(in.out, in.settings, "upper bound", b.upper);
}

}  // namespace corvel
