// The logical operations and the package's own extensions: minimal
// solutions and the group-aware operations of phased missions and
// multi-state components.

#include <utility>
#include <vector>

#include "bdd/bdd_internal.h"

namespace corvel {

namespace {

constexpr bdd kOne = 0;
constexpr bdd kZero = 1;

// The cofactors of f for the variable at order position `pos`: f itself for
// both when f's top variable lies below.
inline void split(const BddManager* m, bdd f, std::uint32_t pos, bdd& f1, bdd& f0) {
    if (m->pos_of(f) == pos) {
        f1 = m->then_of(f);
        f0 = m->else_of(f);
    } else {
        f1 = f0 = f;
    }
}

inline std::uint32_t top_pos(const BddManager* m, bdd f, bdd g) {
    std::uint32_t pf = m->pos_of(f), pg = m->pos_of(g);
    return pf < pg ? pf : pg;
}

inline std::uint16_t id_at(const BddManager* m, std::uint32_t pos) { return m->id_at[pos]; }

// Generalized cofactor; for a cube c the ordinary restriction.
bdd cofactor_step(BddManager* m, bdd f, bdd c) {
    if (c == kOne || m->is_const(f)) return f;
    if (f == c) return kOne;
    if (f == (c ^ 1u)) return kZero;
    bdd r;
    if (m->cache_lookup(kTagCofactor, f, c, r)) return r;
    const std::uint32_t x = top_pos(m, f, c);
    bdd f1, f0, c1, c0;
    split(m, f, x, f1, f0);
    split(m, c, x, c1, c0);
    if (c1 == kZero)
        r = cofactor_step(m, f0, c0);
    else if (c0 == kZero)
        r = cofactor_step(m, f1, c1);
    else {
        bdd t = cofactor_step(m, f1, c1);
        bdd e = cofactor_step(m, f0, c0);
        r = m->find(id_at(m, x), t, e);
    }
    m->cache_insert(kTagCofactor, f, c, r);
    return r;
}

// without_p1 (p1 = true) and without_p0 share their shape: the constants
// swap roles, and so does the cofactor of g followed when f skips the split
// variable.
bdd without_step(BddManager* m, bdd f, bdd g, bool p1) {
    const bdd stop = p1 ? kOne : kZero;   // g equal to this removes everything
    if (g == stop) return p1 ? kZero : kOne;
    if (m->is_const(g)) return f;
    if (m->is_const(f)) return f;
    const std::uint32_t tag = p1 ? kTagWithoutP1 : kTagWithoutP0;
    bdd r;
    if (m->cache_lookup(tag, f, g, r)) return r;
    const std::uint32_t x = top_pos(m, f, g);
    bdd g1, g0;
    split(m, g, x, g1, g0);
    if (m->pos_of(f) == x) {
        bdd t = without_step(m, m->then_of(f), g1, p1);
        bdd e = without_step(m, m->else_of(f), g0, p1);
        r = m->find(id_at(m, x), t, e);
    } else {
        r = without_step(m, f, p1 ? g0 : g1, p1);
    }
    m->cache_insert(tag, f, g, r);
    return r;
}

bdd minsol_step(BddManager* m, bdd f, int mode, std::uint32_t tag) {
    if (m->is_const(f)) return f;
    bdd r;
    if (m->cache_lookup(tag, f, 0, r)) return r;
    const std::uint16_t id = m->node(f).id;
    const bdd f1 = m->then_of(f), f0 = m->else_of(f);
    if (mode == 1) {
        bdd s1 = minsol_step(m, f1, mode, tag);
        bdd t = without_step(m, s1, f0, true);
        bdd e = minsol_step(m, f0, mode, tag);
        r = m->find(id, t, e);
    } else {
        bdd t = minsol_step(m, f1, mode, tag);
        bdd s0 = minsol_step(m, f0, mode, tag);
        bdd e = without_step(m, s0, f1, false);
        r = m->find(id, t, e);
    }
    m->cache_insert(tag, f, 0, r);
    return r;
}

// The part of h compatible with the split variable at `pos` being true when
// at most one variable of its group is true: h's else-edges followed through
// the group.
bdd skip_group(const BddManager* m, bdd h, std::uint32_t group, int n) {
    while (!m->is_const(h) && m->pos_of(h) / static_cast<std::uint32_t>(n) == group) h = m->else_of(h);
    return h;
}

bdd ms_step(BddManager* m, bdd f, bdd g, int n, bool is_or, std::uint32_t tag) {
    bdd r;
    if (bdd_terminal_rule(f, g, is_or, r)) return r;
    if (f > g) std::swap(f, g);
    if (m->cache_lookup(tag, f, g, r)) return r;
    const std::uint32_t pf = m->pos_of(f), pg = m->pos_of(g);
    const std::uint32_t x = pf < pg ? pf : pg;
    const auto un = static_cast<std::uint32_t>(n);
    bdd f1, f0, g1, g0;
    if (pf / un != pg / un || pf == pg) {
        split(m, f, x, f1, f0);
        split(m, g, x, g1, g0);
    } else if (pf == x) {
        f1 = m->then_of(f);
        f0 = m->else_of(f);
        g1 = skip_group(m, g, x / un, n);
        g0 = g;
    } else {
        g1 = m->then_of(g);
        g0 = m->else_of(g);
        f1 = skip_group(m, f, x / un, n);
        f0 = f;
    }
    bdd t = ms_step(m, f1, g1, n, is_or, tag);
    bdd e = ms_step(m, f0, g0, n, is_or, tag);
    r = m->find(id_at(m, x), t, e);
    m->cache_insert(tag, f, g, r);
    return r;
}

// The dir rule for the operand h that does not split on x.
inline void dir_parts(const BddManager* m, bdd h, int dir, bdd& h1, bdd& h0) {
    if (dir != 0) {
        h1 = h;
        h0 = m->else_of(h);
    } else {
        h1 = m->then_of(h);
        h0 = h;
    }
}

bdd dor_step(BddManager* m, bdd f, bdd g, int n, int dir, std::uint32_t tag) {
    bdd r;
    if (bdd_terminal_rule(f, g, true, r)) return r;
    if (m->cache_lookup(tag, f, g, r)) return r;
    const std::uint32_t pf = m->pos_of(f), pg = m->pos_of(g);
    const std::uint32_t x = pf < pg ? pf : pg;
    const auto un = static_cast<std::uint32_t>(n);
    bdd f1, f0, g1, g0;
    if (pf / un != pg / un) {
        split(m, f, x, f1, f0);
        split(m, g, x, g1, g0);
    } else if (pf == x) {
        f1 = m->then_of(f);
        f0 = m->else_of(f);
        dir_parts(m, g, dir, g1, g0);
    } else {
        g1 = m->then_of(g);
        g0 = m->else_of(g);
        dir_parts(m, f, dir, f1, f0);
    }
    bdd t = dor_step(m, f1, g1, n, dir, tag);
    bdd e = dor_step(m, f0, g0, n, dir, tag);
    r = m->find(id_at(m, x), t, e);
    m->cache_insert(tag, f, g, r);
    return r;
}

}  // namespace

bdd bdd_and(BddManager* m, bdd f, bdd g) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, g)) return kBddNull;
    return bdd_run(m, [&] { return bdd_and_levels(m, f, g); });
}

bdd bdd_or(BddManager* m, bdd f, bdd g) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, g)) return kBddNull;
    return bdd_run(m, [&] { return bdd_and_levels(m, f ^ 1u, g ^ 1u) ^ 1u; });
}

bdd bdd_not(BddManager* m, bdd f) {
    if (!bdd_check_arguments(m, f)) return kBddNull;
    return bdd_run(m, [&] { return f ^ 1u; });
}

bdd bdd_cofactor(BddManager* m, bdd f, bdd c) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, c)) return kBddNull;
    if (c == kZero) bdd_fatal("bdd_cofactor: second argument is false");
    return bdd_run(m, [&] { return cofactor_step(m, f, c); });
}

double bdd_satisfying_fraction(BddManager* m, bdd f) {
    if (f == kBddNull) return 0.0;
    if (m->is_const(f)) return f == kOne ? 1.0 : 0.0;
    // Bottom-up over the regular nodes: fraction(n) = ½·fraction(then) +
    // ½·fraction(else), a complemented edge giving 1 − fraction.
    const BddPostorder order(m, f);
    std::vector<double> value(order.nodes.size());
    auto of = [&](std::uint32_t ref) {
        if (!BddPostorder::is_node(ref)) return ref == BddPostorder::kRefOne ? 1.0 : 0.0;
        const double v = value[ref >> 1];
        return (ref & 1u) ? 1.0 - v : v;
    };
    for (size_t k = 0; k < order.nodes.size(); ++k)
        value[k] = 0.5 * of(order.kids[k].then_ref) + 0.5 * of(order.kids[k].else_ref);
    return of(order.ref(f));
}

bdd bdd_without_p1(BddManager* m, bdd f, bdd g) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, g)) return kBddNull;
    return bdd_run(m, [&] { return without_step(m, f, g, true); });
}

bdd bdd_without_p0(BddManager* m, bdd f, bdd g) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, g)) return kBddNull;
    return bdd_run(m, [&] { return without_step(m, f, g, false); });
}

bdd bdd_minsol(BddManager* m, bdd f, int mode) {
    if (!bdd_check_arguments(m, f)) return kBddNull;
    const std::uint32_t tag = m->new_temp_tag();
    return bdd_run(m, [&] { return minsol_step(m, f, mode == 1 ? 1 : 0, tag); });
}

bdd bdd_ms_or(BddManager* m, bdd f, bdd g, int n) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, g)) return kBddNull;
    if (n < 1) n = 1;
    const std::uint32_t tag = kTagMsOr | (static_cast<std::uint32_t>(n) << 15);
    return bdd_run(m, [&] { return ms_step(m, f, g, n, true, tag); });
}

bdd bdd_ms_and(BddManager* m, bdd f, bdd g, int n) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, g)) return kBddNull;
    if (n < 1) n = 1;
    const std::uint32_t tag = kTagMsAnd | (static_cast<std::uint32_t>(n) << 15);
    return bdd_run(m, [&] { return ms_step(m, f, g, n, false, tag); });
}

bdd bdd_dor(BddManager* m, bdd f, bdd g, int n, int dir) {
    if (!bdd_check_arguments(m, f) || !bdd_check_arguments(m, g)) return kBddNull;
    if (n < 1) n = 1;
    const std::uint32_t tag = m->new_temp_tag();
    return bdd_run(m, [&] { return dor_step(m, f, g, n, dir, tag); });
}

}  // namespace corvel
