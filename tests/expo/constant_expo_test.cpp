#include "expo/constant_expo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace corvel {
namespace {

// Bitwise equality, so that 0 and NaN bounds compare as the algebra left them.
bool same(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0 || (x == 0.0 && y == 0.0); }

void expect_same(const ConstantExpo& c, const Exponomial& F, const char* where) {
    const Exponomial G = c.to_exponomial();
    ASSERT_EQ(G.size(), F.size()) << where;
    if (!F.empty()) {
        EXPECT_TRUE(same(G[0].e_a, F[0].e_a)) << where << ": " << G[0].e_a << " vs " << F[0].e_a;
        EXPECT_EQ(F[0].e_xpower, 0) << where;
        EXPECT_EQ(F[0].e_b, 0.0) << where;
        EXPECT_EQ(F[0].e_a_complex, 0.0) << where;
    }
    EXPECT_TRUE(same(G.dropped().sup, F.dropped().sup)) << where << ": " << G.dropped().sup << " vs " << F.dropped().sup;
    EXPECT_TRUE(same(G.dropped().l0, F.dropped().l0)) << where;
    EXPECT_TRUE(same(G.dropped().l1, F.dropped().l1)) << where;
}

// Values that exercise the tolerance: exact cancellations, differences just
// above and below the relative threshold, tiny scalars, zero.
double pick(std::mt19937_64& rng, const std::vector<double>& seen) {
    static const double special[] = {0.0, 1.0, 0.5, 1e-12, 5e-12, 2e-11, 1e-300, 0.999999999999, 1.0 + 1e-11};
    std::uniform_int_distribution<int> kind(0, 4);
    switch (kind(rng)) {
        case 0: return special[std::uniform_int_distribution<size_t>(0, std::size(special) - 1)(rng)];
        case 1:
            if (!seen.empty()) return seen[std::uniform_int_distribution<size_t>(0, seen.size() - 1)(rng)];
            return 0.25;
        case 2: {
            if (seen.empty()) return 1e-3;
            const double x = seen[std::uniform_int_distribution<size_t>(0, seen.size() - 1)(rng)];
            return x * (1.0 + std::uniform_real_distribution<double>(-3e-11, 3e-11)(rng));
        }
        default: return std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
    }
}

// The same random sequence of operations on pairs (constant, exponomial)
// leaves both with the same coefficient, the same dropped terms and the
// same drop bounds.
TEST(ConstantExpo, EveryOperationMatchesTheExponomialAlgebra) {
    const Tolerances tol;
    std::mt19937_64 rng(20261208);
    int drops = 0, removals = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<ConstantExpo> cs(4);
        std::vector<Exponomial> es(4);
        std::vector<double> seen;
        for (size_t i = 0; i < cs.size(); ++i) {
            if (i == 0) continue;  // one starts empty
            const double v = pick(rng, seen);
            seen.push_back(v);
            es[i] = Exponomial::constant(v);
            ASSERT_TRUE(ConstantExpo::fits(es[i]));
            cs[i] = ConstantExpo::of(es[i]);
        }
        for (int step = 0; step < 40; ++step) {
            const size_t d = std::uniform_int_distribution<size_t>(0, 3)(rng);
            const size_t s = std::uniform_int_distribution<size_t>(0, 3)(rng);
            const size_t t = std::uniform_int_distribution<size_t>(0, 3)(rng);
            const int op = std::uniform_int_distribution<int>(0, 5)(rng);
            const double x = pick(rng, seen);
            switch (op) {
                case 0: add_expos(ConstantExpo(cs[s]), cs[d], tol); add_expos(Exponomial(es[s]), es[d], tol); break;
                case 1: subtract_expos(ConstantExpo(cs[s]), cs[d], tol); subtract_expos(Exponomial(es[s]), es[d], tol); break;
                case 2:
                    multiply_expos(ConstantExpo(cs[s]), ConstantExpo(cs[t]), cs[d], tol);
                    multiply_expos(Exponomial(es[s]), Exponomial(es[t]), es[d], tol);
                    break;
                case 3: negate_and_add_scalar(cs[d], x, tol); negate_and_add_scalar(es[d], x, tol); break;
                case 4: subtract_scalar(cs[d], x, tol); subtract_scalar(es[d], x, tol); break;
                default:
                    cs[d] = ConstantExpo{};
                    es[d] = Exponomial{};
                    break;
            }
            ASSERT_TRUE(ConstantExpo::fits(es[d])) << "op " << op;
            expect_same(cs[d], es[d], "after an operation");
            if (!es[d].empty()) seen.push_back(es[d][0].e_a);
            if (es[d].dropped().sup > 0.0) ++drops;
            if (es[d].empty() && op != 5) ++removals;
            if (HasFailure()) return;
        }
    }
    // The sequences reached the tolerance rules, not only plain arithmetic.
    EXPECT_GT(drops, 100);
    EXPECT_GT(removals, 100);
}

TEST(ConstantExpo, OnlyRealConstantsFit) {
    const Tolerances tol;
    Exponomial rate;
    insert_term(1.0, 0.0, 0, -2.0, 0.0, rate, tol);
    EXPECT_FALSE(ConstantExpo::fits(rate));
    Exponomial power;
    insert_term(1.0, 0.0, 1, 0.0, 0.0, power, tol);
    EXPECT_FALSE(ConstantExpo::fits(power));
    Exponomial two = Exponomial::constant(1.0);
    insert_term(-1.0, 0.0, 0, -1.0, 0.0, two, tol);
    EXPECT_FALSE(ConstantExpo::fits(two));
    EXPECT_FALSE(ConstantExpo::fits(Exponomial::constant(HUGE_VAL)));
    EXPECT_TRUE(ConstantExpo::fits(Exponomial{}));
    EXPECT_TRUE(ConstantExpo::fits(Exponomial::constant(0.0)));
}

}  // namespace
}  // namespace corvel
