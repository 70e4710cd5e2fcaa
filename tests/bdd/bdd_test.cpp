// The BDD package against truth tables, brute-force minimal solutions and
// hand-derived small cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bdd/bdd.h"
#include "bdd/bdd_internal.h"
#include "symbols/errors.h"

namespace corvel {
namespace {

struct Manager {
    BddManager* m = bdd_init();
    ~Manager() { bdd_quit(m); }
};

// f under the assignment `bits` (bit i = variable at order position i).
bool eval(BddManager* m, bdd f, std::uint32_t bits) {
    while (!bdd_is_constant(m, f)) {
        long pos = bdd_if_index(m, f);
        f = (bits >> pos) & 1u ? bdd_then(m, f) : bdd_else(m, f);
    }
    return f == bdd_one(m);
}

using Table = std::vector<bool>;

Table table_of(BddManager* m, bdd f, int nvars) {
    Table t(size_t{1} << nvars);
    for (std::uint32_t a = 0; a < t.size(); ++a) t[a] = eval(m, f, a);
    return t;
}

// A random function built by the package, together with its truth table
// computed independently.
struct Built {
    bdd f;
    Table t;
};

Built random_function(BddManager* m, const std::vector<bdd>& vars, std::mt19937& rng, int depth, bool coherent) {
    const size_t size = size_t{1} << vars.size();
    if (depth == 0 || rng() % 4 == 0) {
        size_t v = rng() % vars.size();
        Table t(size);
        for (size_t a = 0; a < size; ++a) t[a] = (a >> v) & 1u;
        Built b{bdd_identity(m, vars[v]), t};
        if (!coherent && rng() % 3 == 0) {
            bdd n = bdd_not(m, b.f);
            bdd_free(m, b.f);
            b.f = n;
            b.t.flip();
        }
        return b;
    }
    Built x = random_function(m, vars, rng, depth - 1, coherent);
    Built y = random_function(m, vars, rng, depth - 1, coherent);
    const bool use_and = rng() % 2 == 0;
    Built r{use_and ? bdd_and(m, x.f, y.f) : bdd_or(m, x.f, y.f), Table(size)};
    for (size_t a = 0; a < size; ++a) r.t[a] = use_and ? (x.t[a] && y.t[a]) : (x.t[a] || y.t[a]);
    bdd_free(m, x.f);
    bdd_free(m, y.f);
    if (!coherent && rng() % 4 == 0) {
        bdd n = bdd_not(m, r.f);
        bdd_free(m, r.f);
        r.f = n;
        r.t.flip();
    }
    return r;
}

std::vector<bdd> make_vars(BddManager* m, int n) {
    std::vector<bdd> v;
    for (int i = 0; i < n; ++i) v.push_back(bdd_new_var_last(m));
    return v;
}

TEST(BddPackage, ConstantsAndTerminalQueries) {
    Manager g;
    BddManager* m = g.m;
    EXPECT_NE(bdd_one(m), bdd_zero(m));
    EXPECT_EQ(bdd_if_index(m, bdd_one(m)), -1);
    EXPECT_EQ(bdd_if_index(m, kBddNull), -1);
    EXPECT_EQ(bdd_get_prefs(m, bdd_zero(m)), 65535u);
    int x = 3;
    bdd_set_value(m, bdd_one(m), &x);
    EXPECT_EQ(bdd_get_value(m, bdd_one(m)), nullptr);
    EXPECT_EQ(bdd_minsol(m, bdd_one(m), 1), bdd_one(m));
    EXPECT_EQ(bdd_minsol(m, bdd_zero(m), 0), bdd_zero(m));
    EXPECT_EQ(bdd_satisfying_fraction(m, bdd_one(m)), 1.0);
    EXPECT_EQ(bdd_satisfying_fraction(m, bdd_zero(m)), 0.0);
    bdd a = bdd_new_var_last(m);
    EXPECT_EQ(bdd_satisfying_fraction(m, a), 0.5);
    EXPECT_EQ(bdd_then(m, a), bdd_one(m));
    EXPECT_EQ(bdd_else(m, a), bdd_zero(m));
    // Null propagates through the building operations.
    EXPECT_EQ(bdd_and(m, a, kBddNull), kBddNull);
    EXPECT_EQ(bdd_not(m, kBddNull), kBddNull);
}

TEST(BddPackage, RandomFunctionsMatchTruthTablesAndAreCanonical) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 60; ++round) {
        Manager g;
        BddManager* m = g.m;
        const int n = 2 + round % 8;
        std::vector<bdd> vars = make_vars(m, n);
        Built a = random_function(m, vars, rng, 6, false);
        ASSERT_EQ(table_of(m, a.f, n), a.t);
        // De Morgan gives the same handle: one handle per function.
        Built b = random_function(m, vars, rng, 5, false);
        bdd lhs = bdd_not(m, a.f);
        bdd nb = bdd_not(m, b.f);
        bdd o = bdd_or(m, lhs, nb);
        bdd an = bdd_and(m, a.f, b.f);
        bdd rhs = bdd_not(m, an);
        EXPECT_EQ(o, rhs);
        // f AND NOT f is zero; f OR NOT f is one.
        EXPECT_EQ(bdd_and(m, a.f, lhs), bdd_zero(m));
        EXPECT_EQ(bdd_or(m, a.f, lhs), bdd_one(m));
        // Satisfying fraction is the share of true rows.
        double count = static_cast<double>(std::count(a.t.begin(), a.t.end(), true));
        EXPECT_DOUBLE_EQ(bdd_satisfying_fraction(m, a.f), count / static_cast<double>(a.t.size()));
        for (bdd h : {lhs, nb, o, an, rhs, a.f, b.f}) bdd_free(m, h);
    }
}

// OR over i of (x_i AND y_i) with every x above every y: the x levels hold
// one node per subset of the x's above (2^n - 1 in all), the y levels one per
// nonempty OR of the remaining y's (2^n - 1), plus the terminal; a quarter of
// each pair's rows are false, so the satisfying fraction is 1 - (3/4)^n. The
// operations need far more pairs than the cache holds, and the x's are made
// with new_var_first, so the order positions are not the creation order.
TEST(BddPackage, LargeOperationsBuildTheCanonicalDiagram) {
    Manager g;
    BddManager* m = g.m;
    const int n = 14;
    std::vector<bdd> x(n), y(n);
    for (int i = 0; i < n; ++i) y[static_cast<size_t>(i)] = bdd_new_var_last(m);
    for (int i = n - 1; i >= 0; --i) x[static_cast<size_t>(i)] = bdd_new_var_first(m);
    bdd f = bdd_identity(m, bdd_zero(m));
    bdd h = bdd_identity(m, bdd_one(m));  // AND over i of (NOT x_i OR NOT y_i), built from the other end
    for (int i = 0; i < n; ++i) {
        bdd p = bdd_and(m, x[static_cast<size_t>(i)], y[static_cast<size_t>(i)]);
        bdd next = bdd_or(m, f, p);
        bdd_free(m, f);
        bdd_free(m, p);
        f = next;
        const size_t j = static_cast<size_t>(n - 1 - i);
        bdd q = bdd_or(m, bdd_not(m, x[j]), bdd_not(m, y[j]));
        bdd hn = bdd_and(m, q, h);
        bdd_free(m, q);
        bdd_free(m, h);
        h = hn;
    }
    EXPECT_EQ(bdd_size(m, f, 0), (2L << n) - 1);
    double rest = 1.0;
    for (int i = 0; i < n; ++i) rest *= 0.75;
    EXPECT_DOUBLE_EQ(bdd_satisfying_fraction(m, f), 1.0 - rest);
    EXPECT_EQ(h, bdd_not(m, f));
    // Spot rows: true exactly when some pair is all true.
    for (std::uint32_t bits : {0u, 1u, (1u << n) | 1u, (1u << (2 * n - 1)) | (1u << (n - 1)), (1u << (2 * n - 1)) | 1u})
        EXPECT_EQ(eval(m, f, bits), (bits & (bits >> n) & ((1u << n) - 1)) != 0) << bits;
    bdd_free(m, f);
    bdd_free(m, h);
}

// Results of earlier operations are taken again by later ones, also after
// collections have freed and reused node records: every result still has the
// truth table of its operands, and an operation repeated at once is
// answered by one look-up whenever the first one was large enough to keep.
TEST(BddPackage, LaterOperationsReuseEarlierResultsSafely) {
    std::mt19937 rng(777);
    Manager g;
    BddManager* m = g.m;
    const int n = 14;
    std::vector<bdd> vars = make_vars(m, n);
    // Sums of random products of three literals: diagrams of some hundreds
    // of nodes, whose conjunctions expand more pairs than are kept at least.
    auto dnf = [&]() {
        Built f{bdd_identity(m, bdd_zero(m)), Table(size_t{1} << n, false)};
        for (int term = 0; term < 24; ++term) {
            bdd p = bdd_identity(m, bdd_one(m));
            Table t(f.t.size(), true);
            for (int k = 0; k < 3; ++k) {
                const size_t v = rng() % n;
                const bool positive = rng() % 2 == 0;
                bdd lit = positive ? bdd_identity(m, vars[v]) : bdd_not(m, vars[v]);
                bdd q = bdd_and(m, p, lit);
                bdd_free(m, p);
                bdd_free(m, lit);
                p = q;
                for (size_t a = 0; a < t.size(); ++a) t[a] = t[a] && (((a >> v) & 1u) == (positive ? 1u : 0u));
            }
            bdd h = bdd_or(m, f.f, p);
            bdd_free(m, f.f);
            bdd_free(m, p);
            f.f = h;
            for (size_t a = 0; a < t.size(); ++a) f.t[a] = f.t[a] || t[a];
        }
        return f;
    };
    std::vector<Built> pool;
    for (int i = 0; i < 6; ++i) pool.push_back(dnf());
    int repeated = 0;
    for (int step = 0; step < 120; ++step) {
        Built& x = pool[rng() % pool.size()];
        Built& y = pool[rng() % pool.size()];
        const bool use_and = rng() % 2 == 0;
        const long before = m->finds;
        Built r{use_and ? bdd_and(m, x.f, y.f) : bdd_or(m, x.f, y.f), Table(x.t.size())};
        const long pairs = m->finds - before;  // one find per pair expanded
        for (size_t a = 0; a < r.t.size(); ++a) r.t[a] = use_and ? (x.t[a] && y.t[a]) : (x.t[a] || y.t[a]);
        ASSERT_EQ(table_of(m, r.f, n), r.t) << "step " << step;
        if (pairs >= 256 && repeated % 4 == 0) {
            // The cache doubles in between: the kept entries move with it.
            const long live = m->entries;
            m->entries = static_cast<long>(m->cache.size()) + 1;
            const size_t size = m->cache.size();
            m->maybe_grow_cache();
            m->entries = live;
            EXPECT_GT(m->cache.size(), size);
        }
        const long finds = m->finds, lookups = m->lookups;
        bdd again = use_and ? bdd_and(m, x.f, y.f) : bdd_or(m, x.f, y.f);
        EXPECT_EQ(again, r.f);
        if (pairs >= 256) {
            ++repeated;
            EXPECT_EQ(m->finds, finds) << "step " << step;
            EXPECT_EQ(m->lookups - lookups, 1) << "step " << step;
        }
        bdd_free(m, again);
        if (rng() % 3 == 0) {
            bdd complement = bdd_not(m, r.f);
            bdd_free(m, r.f);
            r.f = complement;
            r.t.flip();
        }
        // Results go back into the pool next to fresh functions, so that
        // later operations meet pairs of earlier ones.
        Built& out = pool[rng() % pool.size()];
        bdd_free(m, out.f);
        if (rng() % 2 == 0) {
            out = std::move(r);
        } else {
            bdd_free(m, r.f);
            out = dnf();
        }
        if (step % 7 == 0) bdd_gc(m);
    }
    EXPECT_GE(repeated, 10);  // enough operations were large enough to be kept
    for (Built& b : pool) {
        EXPECT_EQ(table_of(m, b.f, n), b.t);
        bdd_free(m, b.f);
    }
}

// Every conjunction takes a temporary cache tag; when they run out the cache
// is emptied and the tags start again, so entries left by earlier operations
// (which hold request numbers) never answer for a later one.
TEST(BddPackage, TemporaryTagsStartAgainWithAnEmptyCache) {
    std::mt19937 rng(777);
    Manager g;
    BddManager* m = g.m;
    const int n = 6;
    std::vector<bdd> vars = make_vars(m, n);
    m->temp_op = 0x80000000u + 2;  // three tags left
    for (int round = 0; round < 12; ++round) {
        Built a = random_function(m, vars, rng, 5, false);
        Built b = random_function(m, vars, rng, 5, false);
        bdd both = bdd_and(m, a.f, b.f);
        bdd either = bdd_or(m, a.f, b.f);
        Table tb = table_of(m, both, n), te = table_of(m, either, n);
        for (size_t r = 0; r < tb.size(); ++r) {
            ASSERT_EQ(tb[r], a.t[r] && b.t[r]) << round << " " << r;
            ASSERT_EQ(te[r], a.t[r] || b.t[r]) << round << " " << r;
        }
        for (bdd h : {both, either, a.f, b.f}) bdd_free(m, h);
    }
    EXPECT_GE(m->temp_op, 0x80000000u - 1);
    EXPECT_LT(m->temp_op, kBddNoTag);
}

TEST(BddPackage, AndOfComplementsTouchesNoCache) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 3);
    bdd f = bdd_or(m, v[0], v[2]);
    bdd nf = bdd_not(m, f);
    std::string before = bdd_stats(m);
    EXPECT_EQ(bdd_and(m, f, nf), bdd_zero(m));
    std::string after = bdd_stats(m);
    auto lookups = [](const std::string& s) { return s.substr(s.find("Cache look ups:"), 30); };
    EXPECT_EQ(lookups(before), lookups(after));
}

TEST(BddPackage, CofactorByLiteralsAndCubes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        Manager g;
        BddManager* m = g.m;
        const int n = 6;
        std::vector<bdd> vars = make_vars(m, n);
        Built a = random_function(m, vars, rng, 6, false);
        const int x = static_cast<int>(rng() % n), y = (x + 1 + static_cast<int>(rng() % (n - 1))) % n;
        bdd nx = bdd_not(m, vars[static_cast<size_t>(y)]);
        bdd cube = bdd_and(m, vars[static_cast<size_t>(x)], nx);
        bdd c = bdd_cofactor(m, a.f, cube);
        for (std::uint32_t bits = 0; bits < (1u << n); ++bits) {
            std::uint32_t fixed = (bits | (1u << x)) & ~(1u << y);
            ASSERT_EQ(eval(m, c, bits), static_cast<bool>(a.t[fixed]));
        }
        bdd c1 = bdd_cofactor(m, a.f, vars[static_cast<size_t>(x)]);
        EXPECT_EQ(bdd_if_index(m, c1) == x, false);
        for (bdd h : {nx, cube, c, c1, a.f}) bdd_free(m, h);
    }
}

// Minimal solutions read from a minsol diagram: mode 1 gives the sets of the
// paths to 1 that end on a then-edge (variables on then-edges), mode 0 the
// sets of paths to 0 ending on an else-edge (variables on else-edges).
std::set<std::uint32_t> solutions(BddManager* m, bdd f, int mode) {
    std::set<std::uint32_t> out;
    std::function<void(bdd, std::uint32_t)> walk = [&](bdd g, std::uint32_t set) {
        if (bdd_is_constant(m, g)) return;
        const long pos = bdd_if_index(m, g);
        bdd t = bdd_then(m, g), e = bdd_else(m, g);
        if (mode == 1) {
            if (t == bdd_one(m)) out.insert(set | (1u << pos));
            walk(t, set | (1u << pos));
            walk(e, set);
        } else {
            if (e == bdd_zero(m)) out.insert(set | (1u << pos));
            walk(t, set);
            walk(e, set | (1u << pos));
        }
    };
    walk(f, 0);
    return out;
}

std::set<std::uint32_t> brute_minimal(const Table& t, int n, bool cuts) {
    // Cut sets: sets S whose failure (S true, rest false) makes f true.
    // Path sets: sets S whose working (S false, rest true) makes f false.
    std::vector<std::uint32_t> hits;
    for (std::uint32_t s = 0; s < (1u << n); ++s) {
        std::uint32_t a = cuts ? s : (~s & ((1u << n) - 1));
        if (t[a] == cuts) hits.push_back(s);
    }
    std::set<std::uint32_t> minimal;
    for (std::uint32_t s : hits) {
        bool min = true;
        for (std::uint32_t r : hits)
            if (r != s && (r & s) == r) min = false;
        if (min) minimal.insert(s);
    }
    return minimal;
}

TEST(BddPackage, MinsolGivesMinimalCutAndPathSets) {
    std::mt19937 rng(99);
    for (int round = 0; round < 60; ++round) {
        Manager g;
        BddManager* m = g.m;
        const int n = 3 + round % 6;
        std::vector<bdd> vars = make_vars(m, n);
        Built a = random_function(m, vars, rng, 6, true);
        bdd cuts = bdd_minsol(m, a.f, 1);
        bdd paths = bdd_minsol(m, a.f, 0);
        EXPECT_EQ(solutions(m, cuts, 1), brute_minimal(a.t, n, true)) << "round " << round;
        EXPECT_EQ(solutions(m, paths, 0), brute_minimal(a.t, n, false)) << "round " << round;
        for (bdd h : {cuts, paths, a.f}) bdd_free(m, h);
    }
}

TEST(BddPackage, MinsolOfAbsorbedTerm) {
    // (a AND b) OR a has the single minimal cut set {a}.
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 2);
    bdd ab = bdd_and(m, v[0], v[1]);
    bdd f = bdd_or(m, ab, v[0]);
    bdd c = bdd_minsol(m, f, 1);
    EXPECT_EQ(c, v[0]);
}

TEST(BddPackage, MultiStateOperationsOnValidAssignments) {
    // Groups of three consecutive positions; at most one variable per group
    // is true. On such assignments ms_or and ms_and are OR and AND.
    std::mt19937 rng(5);
    const int n = 9, group = 3;
    for (int round = 0; round < 30; ++round) {
        Manager g;
        BddManager* m = g.m;
        std::vector<bdd> vars = make_vars(m, n);
        Built a = random_function(m, vars, rng, 5, false);
        Built b = random_function(m, vars, rng, 5, false);
        bdd o = bdd_ms_or(m, a.f, b.f, group);
        bdd an = bdd_ms_and(m, a.f, b.f, group);
        for (std::uint32_t bits = 0; bits < (1u << n); ++bits) {
            bool valid = true;
            for (int k = 0; k < n; k += group) {
                std::uint32_t part = (bits >> k) & 7u;
                if (part & (part - 1)) valid = false;
            }
            if (!valid) continue;
            ASSERT_EQ(eval(m, o, bits), a.t[bits] || b.t[bits]);
            ASSERT_EQ(eval(m, an, bits), a.t[bits] && b.t[bits]);
        }
        for (bdd h : {o, an, a.f, b.f}) bdd_free(m, h);
    }
}

TEST(BddPackage, GroupOrDirectionRule) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 4);
    // Same group (n = 2): x0 splits; x1 keeps itself on one side.
    EXPECT_EQ(bdd_dor(m, v[0], v[1], 2, 1), v[0]);
    bdd both = bdd_or(m, v[0], v[1]);
    EXPECT_EQ(bdd_dor(m, v[0], v[1], 2, 0), both);
    // Different groups: ordinary OR.
    bdd o = bdd_or(m, v[1], v[2]);
    EXPECT_EQ(bdd_dor(m, v[1], v[2], 2, 1), o);
}

TEST(BddPackage, VariableOrderFirstAndLast) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 30);
    bdd f = bdd_and(m, v[3], v[29]);
    bdd extra = bdd_new_var_last(m);  // the 31st grows the arrays
    EXPECT_EQ(bdd_vars(m), 31);
    EXPECT_EQ(bdd_if_index(m, extra), 30);
    EXPECT_EQ(bdd_if_index(m, v[29]), 29);
    EXPECT_EQ(bdd_if_index(m, f), 3);
    bdd top = bdd_new_var_first(m);
    EXPECT_EQ(bdd_if_index(m, top), 0);
    EXPECT_EQ(bdd_if_index(m, v[0]), 1);
    EXPECT_EQ(bdd_if_index(m, f), 4);
    EXPECT_EQ(bdd_var_with_index(m, 0), top);
    bdd tf = bdd_and(m, f, top);
    EXPECT_EQ(bdd_if_index(m, tf), 0);
    EXPECT_EQ(bdd_then(m, tf), f);
}

TEST(BddPackage, NodeLimitOverflowReturnsNullAndManagerStaysUsable) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 40);
    bdd_node_limit(m, 1200);
    // A function with many nodes: the hidden-weighted-bit-like sum of
    // pairwise products over an interleaving-unfriendly order.
    bdd f = bdd_zero(m);
    bdd_identity(m, f);
    for (int i = 0; i < 20 && f != kBddNull; ++i) {
        bdd p = bdd_and(m, v[static_cast<size_t>(i)], v[static_cast<size_t>(39 - i)]);
        bdd next = bdd_or(m, f, p);
        bdd_free(m, p);
        bdd_free(m, f);
        f = next;
    }
    EXPECT_EQ(f, kBddNull);
    EXPECT_TRUE(bdd_overflow(m));
    EXPECT_EQ(bdd_print_bdd(m, f), "overflow\n");
    bdd_node_limit(m, 0);
    bdd a = bdd_and(m, v[0], v[1]);
    EXPECT_EQ(table_of(m, a, 2), (Table{false, false, false, true}));
}

TEST(BddPackage, GarbageCollectionReclaimsAndKeepsLiveFunctions) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 10);
    std::mt19937 rng(3);
    Built keep = random_function(m, v, rng, 7, false);
    for (int i = 0; i < 20; ++i) {
        Built junk = random_function(m, v, rng, 7, false);
        bdd_free(m, junk.f);
    }
    long before = bdd_total_nodes(m);
    bdd_gc(m);
    EXPECT_LT(bdd_total_nodes(m), before);
    EXPECT_EQ(table_of(m, keep.f, 10), keep.t);
    // Rebuilding after a collection gives the same handles.
    bdd x = bdd_and(m, v[1], v[2]);
    bdd y = bdd_and(m, v[2], v[1]);
    EXPECT_EQ(x, y);
    EXPECT_NE(bdd_stats(m).find("Number of garbage collections: 1\n"), std::string::npos);
}

TEST(BddPackage, ParentCountsAndValueSlots) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 3);
    // f = a ? (b AND c) : c -- node c is shared by both branches.
    bdd bc = bdd_and(m, v[1], v[2]);
    bdd na = bdd_not(m, v[0]);
    bdd left = bdd_and(m, v[0], bc);
    bdd right = bdd_and(m, na, v[2]);
    bdd f = bdd_or(m, left, right);
    bdd_set_all_prefs(m, f);
    EXPECT_EQ(bdd_get_prefs(m, f), 1u);
    bdd t = bdd_then(m, f);  // b AND c
    EXPECT_EQ(t, bc);
    EXPECT_EQ(bdd_get_prefs(m, bdd_else(m, f)), 2u);  // c: from f and from b AND c
    bdd_dec_prefs(m, v[2]);
    bdd_dec_prefs(m, v[2]);
    bdd_dec_prefs(m, v[2]);
    EXPECT_EQ(bdd_get_prefs(m, v[2]), 0u);
    bdd_clear_prefs(m, f);
    EXPECT_EQ(bdd_get_prefs(m, f), 0u);
    static int freed = 0;
    bdd_set_value(m, f, new int(1));
    bdd_set_value(m, bc, new int(2));
    bdd_clear_value(m, f, [](void* p) {
        delete static_cast<int*>(p);
        ++freed;
    });
    EXPECT_EQ(freed, 2);
    EXPECT_EQ(bdd_get_value(m, bc), nullptr);
    EXPECT_EQ(bdd_size(m, f, 0), 4);  // a, b, c and the terminal
}

TEST(BddPackage, PrintedGraph) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 2);
    bdd f = bdd_or(m, v[0], v[1]);
    const char* expected =
        "if var.1\n"
        "  1\n"
        "else if !var.1\n"
        "  if var.2\n"
        "    1\n"
        "  else if !var.2\n"
        "    0\n"
        "  endif var.2\n"
        "endif var.1\n";
    EXPECT_EQ(bdd_print_bdd(m, f), expected);
    // A node reached twice is numbered once, referred to afterwards.
    std::vector<bdd> w = make_vars(m, 1);
    bdd x = bdd_and(m, v[0], w[0]);
    bdd nw = bdd_not(m, w[0]);
    bdd y = bdd_and(m, bdd_not(m, v[0]), nw);
    bdd h = bdd_or(m, x, y);  // a ? c : !c
    std::string s = bdd_print_bdd(m, h, [](long pos) { return std::string(1, static_cast<char>('a' + pos)); });
    EXPECT_NE(s.find("1: if c\n"), std::string::npos) << s;
    EXPECT_NE(s.find("!subformula 1\n"), std::string::npos) << s;
}

TEST(BddPackage, FatalErrorsExitWithStatusOne) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 2);
    bdd f = bdd_and(m, v[0], v[1]);
    bdd_free(m, f);
    testing::internal::CaptureStderr();
    int status = 0;
    try {
        bdd_free(m, f);
    } catch (const ProgramExit& e) {
        status = e.status;
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "BDD library: error: bdd_free: attempt to free node with zero references\n");
    testing::internal::CaptureStderr();
    status = 0;
    try {
        bdd_then(m, bdd_one(m));
    } catch (const ProgramExit& e) {
        status = e.status;
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "BDD library: error: bdd_then: argument is a constant\n");
    testing::internal::CaptureStderr();
    status = 0;
    try {
        bdd_cofactor(m, v[0], bdd_zero(m));
    } catch (const ProgramExit& e) {
        status = e.status;
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "BDD library: error: bdd_cofactor: second argument is false\n");
}

// OR over i < k of (v[i] AND v[2k-1-i]): the pairs cross, so the diagram
// has about 2^(k+1) nodes.
bdd crossed_pairs(BddManager* m, const std::vector<bdd>& v, size_t first, int k) {
    bdd f = bdd_identity(m, bdd_zero(m));
    for (int i = 0; i < k && f != kBddNull; ++i) {
        bdd p = bdd_and(m, v[first + static_cast<size_t>(i)], v[first + static_cast<size_t>(2 * k - 1 - i)]);
        bdd next = bdd_or(m, f, p);
        bdd_free(m, p);
        bdd_free(m, f);
        f = next;
    }
    return f;
}

TEST(BddPackage, PostorderListsEveryNodeOnceAfterItsChildren) {
    std::mt19937 rng(77);
    for (int round = 0; round < 30; ++round) {
        Manager g;
        BddManager* m = g.m;
        std::vector<bdd> vars = make_vars(m, 3 + round % 7);
        Built a = random_function(m, vars, rng, 7, false);
        const BddPostorder order(m, a.f);
        if (bdd_is_constant(m, a.f)) {
            EXPECT_TRUE(order.nodes.empty());
            continue;
        }
        EXPECT_EQ(static_cast<long>(order.nodes.size()) + 1, bdd_size(m, a.f, 0));
        EXPECT_EQ(order.nodes.back(), bdd_regular(a.f));
        for (size_t k = 0; k < order.nodes.size(); ++k) {
            const bdd h = order.nodes[k];
            EXPECT_FALSE(bdd_is_complemented(h));
            EXPECT_EQ(order.of(h), k);
            for (bdd c : {bdd_then(m, h), bdd_else(m, h)}) {
                if (bdd_is_constant(m, c)) continue;
                ASSERT_TRUE(order.contains(c));
                EXPECT_LT(order.of(c), k) << "a child listed after its parent";
            }
            // The recorded children and variable are the node's own.
            const BddPostorder::Kids& kid = order.kids[k];
            EXPECT_EQ(kid.position, static_cast<std::uint32_t>(bdd_if_index(m, h)));
            for (auto [ref, c] : {std::pair{kid.then_ref, bdd_then(m, h)}, std::pair{kid.else_ref, bdd_else(m, h)}}) {
                if (bdd_is_constant(m, c)) {
                    EXPECT_EQ(ref, c == bdd_one(m) ? BddPostorder::kRefOne : BddPostorder::kRefZero);
                } else {
                    EXPECT_EQ(ref >> 1, order.of(c));
                    EXPECT_EQ((ref & 1u) != 0, bdd_is_complemented(c));
                }
            }
        }
        bdd_free(m, a.f);
    }
}

// The limit counts garbage that no collection has reclaimed yet; an
// operation that reaches it collects and tries again, so it fails only when
// the live nodes really are too many.
TEST(BddPackage, NodeLimitCollectsGarbageBeforeGivingUp) {
    Manager g;
    BddManager* m = g.m;
    std::vector<bdd> v = make_vars(m, 60);
    bdd_node_limit(m, 12000);
    // No collection at the start of operations: the garbage stays until an
    // operation runs into the limit.
    m->gc_limit = 1L << 30;
    bdd junk = crossed_pairs(m, v, 0, 12);  // about 8 000 nodes
    ASSERT_NE(junk, kBddNull);
    bdd_free(m, junk);
    const long before = bdd_total_nodes(m);
    ASSERT_GT(before, 7000);  // still there: nothing collected yet
    bdd f = crossed_pairs(m, v, 30, 11);  // about 4 000 more
    ASSERT_NE(f, kBddNull);
    EXPECT_FALSE(bdd_overflow(m));
    EXPECT_EQ(bdd_stats(m).find("Number of garbage collections: 0\n"), std::string::npos);
    EXPECT_LT(bdd_total_nodes(m), before);
    // f is the crossed-pairs function of v[30..51]: check it on assignments.
    std::mt19937 rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<bool> x(60);
        for (size_t i = 0; i < 60; ++i) x[i] = rng() % 2 == 0;
        bool want = false;
        for (int i = 0; i < 11; ++i) want = want || (x[static_cast<size_t>(30 + i)] && x[static_cast<size_t>(30 + 21 - i)]);
        bdd h = f;
        while (!bdd_is_constant(m, h)) h = x[static_cast<size_t>(bdd_if_index(m, h))] ? bdd_then(m, h) : bdd_else(m, h);
        EXPECT_EQ(h == bdd_one(m), want);
    }
    // Live nodes beyond the limit still give null.
    bdd big = crossed_pairs(m, v, 0, 14);
    EXPECT_EQ(big, kBddNull);
    EXPECT_TRUE(bdd_overflow(m));
}

TEST(BddPackage, PrintingStreamsLinesAndHandlesDeepDiagrams) {
    Manager g;
    BddManager* m = g.m;
    const int n = 300;
    std::vector<bdd> v = make_vars(m, n);
    bdd f = bdd_identity(m, bdd_one(m));
    for (int i = n - 1; i >= 0; --i) {
        bdd next = bdd_and(m, v[static_cast<size_t>(i)], f);
        bdd_free(m, f);
        f = next;
    }
    std::vector<std::string> lines;
    bdd_print_bdd(m, f, nullptr, [&](const std::string& text) { lines.push_back(text); });
    std::string joined;
    for (const std::string& l : lines) joined += l;
    EXPECT_EQ(joined, bdd_print_bdd(m, f));
    // A chain of n tests: per variable "if", "else if", "endif" and its
    // else-part "0", and the one "1" at the bottom; nested two spaces deeper
    // per level, so the last "1" is indented by 2n.
    ASSERT_EQ(lines.size(), static_cast<size_t>(4 * n + 1));
    for (const std::string& l : lines) EXPECT_EQ(l.back(), '\n');
    EXPECT_EQ(lines[0], "if var.1\n");
    EXPECT_EQ(lines[static_cast<size_t>(n)], std::string(static_cast<size_t>(2 * n), ' ') + "1\n");
    EXPECT_EQ(lines.back(), "endif var.1\n");
    EXPECT_DOUBLE_EQ(bdd_satisfying_fraction(m, f), std::ldexp(1.0, -n));
}

}  // namespace
}  // namespace corvel
