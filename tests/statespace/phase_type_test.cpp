#include "statespace/phase_type.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include <unsupported/Eigen/MatrixFunctions>

#include "expo/guarded.h"
#include "statespace/ph_block_fixture.h"

namespace corvel {
namespace {

using Arc = PhArc;

PhBlock block(int n, int nt, const std::vector<Arc>& arcs) { return ph_test_block(n, nt, arcs); }

// Reference: p(t) = p0·e^(A·t) by Eigen's dense matrix exponential.
Eigen::VectorXd reference(const PhBlock& b, const Eigen::VectorXd& p0, double t) {
    Eigen::MatrixXd e = (b.a * t).exp();
    return e.transpose() * p0;
}

Eigen::VectorXd unit(int n, int i) {
    Eigen::VectorXd v = Eigen::VectorXd::Zero(n);
    v(i) = 1.0;
    return v;
}

struct Closed {
    std::vector<Exponomial> dist;
    std::vector<double> limit;
    std::vector<double> error;
};

Closed closed_forms(const PhBlock& b, const PhExpansion& x) {
    Tolerances tol;
    Closed c;
    EXPECT_TRUE(x.ok);
    for (int p = 0; p < b.size(); ++p) {
        Exponomial F;
        c.limit.push_back(ph_add_terms(x, p, 1.0, F, tol, tol.epsilon));
        c.dist.push_back(F);
        c.error.push_back(x.error.empty() ? 0.0 : x.error[static_cast<size_t>(p)]);
    }
    return c;
}

Closed old_variant(const PhBlock& b, int start, EigenRoutine r = EigenRoutine::Cg) {
    return closed_forms(b, ph_old_expansion(b, start, r, Tolerances{}, PhTrace{}));
}
Closed new_variant(const PhBlock& b, const Eigen::VectorXd& p0, bool voronoi = false) {
    return closed_forms(b, ph_new_expansion(b, p0, voronoi, Tolerances{}, PhTrace{}));
}

void expect_matches(const PhBlock& b, const Eigen::VectorXd& p0, const Closed& c, double tol_abs,
                    const std::string& what) {
    Tolerances tol;
    for (double t : {0.0, 0.05, 0.3, 1.0, 2.5, 7.0}) {
        Eigen::VectorXd ref = reference(b, p0, t);
        for (int p = 0; p < b.size(); ++p)
            EXPECT_NEAR(evaluate_expo(c.dist[static_cast<size_t>(p)], t, tol), ref(p), tol_abs)
                << what << " position " << p << " t " << t;
    }
}

void expect_agree(const PhBlock& b, const Closed& x, const Closed& y, const std::string& what) {
    Tolerances tol;
    for (double t : {0.0, 0.1, 0.7, 2.0, 5.0, 20.0})
        for (int p = 0; p < b.size(); ++p)
            EXPECT_NEAR(evaluate_expo(x.dist[static_cast<size_t>(p)], t, tol),
                        evaluate_expo(y.dist[static_cast<size_t>(p)], t, tol), 1e-9)
                << what << " position " << p << " t " << t;
}

// 0 <-> 1 with an exit 1 -> 2: a cycle before absorption.
PhBlock cycle_chain() { return block(3, 2, {{0, 1, 2.0}, {1, 0, 1.0}, {1, 2, 3.0}}); }

TEST(PhaseType, CycleWithAbsorptionMatchesMatrixExponentialAndFundamentalMatrix) {
    PhBlock b = cycle_chain();
    Closed old = old_variant(b, 0);
    expect_matches(b, unit(3, 0), old, 1e-12, "old");
    // Eigenvalues of [[-2, 2], [1, -4]]: -3 ± √3, both real.
    EXPECT_EQ(old.dist[2].size(), 3u);
    EXPECT_NEAR(old.limit[2], 1.0, 1e-12);
    EXPECT_NEAR(old.limit[0], 0.0, 1e-12);
    // Mean time to absorption from state 0: the row sum of (−A_TT)^(-1) =
    // (1/6)·[[4, 2], [1, 2]], i.e. (4 + 2)/6 = 1.
    EXPECT_NEAR(moment_of_expo(old.dist[2], 1, Tolerances{}), 1.0, 1e-12);
    // Second moment: 2·p0·N²·1 with N·1 = (1, 1/2), N·(1, 1/2) = (5/6, 1/3): 5/3.
    EXPECT_NEAR(moment_of_expo(old.dist[2], 2, Tolerances{}), 5.0 / 3.0, 1e-12);
    for (double e : old.error) EXPECT_LT(e, 1e-12);

    Closed nw = new_variant(b, unit(3, 0));
    expect_matches(b, unit(3, 0), nw, 1e-12, "new");
    expect_agree(b, old, nw, "old vs new");
    expect_agree(b, old, new_variant(b, unit(3, 0), true), "old vs voronoi");
    expect_agree(b, old, old_variant(b, 0, EigenRoutine::NewCg), "eigen1 vs eigen2");
}

TEST(PhaseType, StartVectorOverSeveralStatesIncludingAnAbsorbingOne) {
    PhBlock b = cycle_chain();
    Eigen::VectorXd p0(3);
    p0 << 0.5, 0.3, 0.2;
    Closed nw = new_variant(b, p0);
    expect_matches(b, p0, nw, 1e-12, "new");
    EXPECT_NEAR(nw.limit[2], 1.0, 1e-12);
    // The old variant is linear in the start vector: the weighted sum of the
    // per-state solutions (the absorbing start is a constant).
    Tolerances tol;
    Closed s0 = old_variant(b, 0), s1 = old_variant(b, 1);
    for (double t : {0.0, 0.4, 3.0}) {
        double v = 0.5 * evaluate_expo(s0.dist[2], t, tol) + 0.3 * evaluate_expo(s1.dist[2], t, tol) + 0.2;
        EXPECT_NEAR(v, evaluate_expo(nw.dist[2], t, tol), 1e-12);
    }
}

// 0 -> 1 -> 2 -> 0 at rate 1 with an exit 0 -> 3 at rate 1: the transient
// block has a pair of complex eigenvalues.
PhBlock rotating_chain() { return block(4, 3, {{0, 1, 1.0}, {1, 2, 1.0}, {2, 0, 1.0}, {0, 3, 1.0}}); }

TEST(PhaseType, ComplexEigenvaluesGiveRealConjugateTerms) {
    PhBlock b = rotating_chain();
    Closed old = old_variant(b, 0);
    int complex_terms = 0;
    for (const Term& t : old.dist[3]) {
        if (t.is_complex()) ++complex_terms;
    }
    EXPECT_EQ(complex_terms, 2);
    // Each complex term has its conjugate partner.
    for (const Term& t : old.dist[3]) {
        if (!t.is_complex()) continue;
        bool partner = false;
        for (const Term& u : old.dist[3])
            partner = partner || (std::fabs(u.e_b - t.e_b) < 1e-12 && std::fabs(u.e_b_complex + t.e_b_complex) < 1e-12 &&
                                  std::fabs(u.e_a - t.e_a) < 1e-12 && std::fabs(u.e_a_complex + t.e_a_complex) < 1e-12);
        EXPECT_TRUE(partner);
    }
    expect_matches(b, unit(4, 0), old, 1e-12, "old");
    expect_matches(b, unit(4, 0), old_variant(b, 0, EigenRoutine::NewCg), 1e-12, "old eigen2");
    Closed nw = new_variant(b, unit(4, 0));
    expect_matches(b, unit(4, 0), nw, 1e-12, "new");
    expect_agree(b, old, nw, "old vs new");
    expect_agree(b, old, new_variant(b, unit(4, 0), true), "old vs voronoi");
    // Mean time to absorption: m0 = 1/2 + m1/2, m1 = 1 + m2, m2 = 1 + m0,
    // so m0 = 1/2 + (2 + m0)/2 and m0 = 3.
    EXPECT_NEAR(moment_of_expo(old.dist[3], 1, Tolerances{}), 3.0, 1e-11);
}

TEST(PhaseType, RepeatedEigenvaluesGivePowersOfT) {
    // Erlang-3 at rate 2: absorbed by t with probability
    // 1 − e^(−2t)·(1 + 2t + 2t²).
    PhBlock b = block(4, 3, {{0, 1, 2.0}, {1, 2, 2.0}, {2, 3, 2.0}});
    Tolerances tol;
    auto erlang = [](double t) { return 1.0 - std::exp(-2.0 * t) * (1.0 + 2.0 * t + 2.0 * t * t); };
    for (Closed c : {old_variant(b, 0), old_variant(b, 0, EigenRoutine::NewCg), new_variant(b, unit(4, 0)),
                     new_variant(b, unit(4, 0), true)}) {
        int top = 0;
        for (const Term& t : c.dist[3]) top = std::max(top, t.e_xpower);
        EXPECT_EQ(top, 2);
        for (double t : {0.0, 0.2, 1.0, 3.0, 10.0}) EXPECT_NEAR(evaluate_expo(c.dist[3], t, tol), erlang(t), 1e-10);
        // In the middle state: 2t·e^(−2t) (one arrival of rate 2 by t, none after).
        for (double t : {0.3, 1.5}) EXPECT_NEAR(evaluate_expo(c.dist[1], t, tol), 2 * t * std::exp(-2 * t), 1e-10);
        EXPECT_NEAR(c.limit[3], 1.0, 1e-10);
    }
    expect_agree(b, old_variant(b, 0), new_variant(b, unit(4, 0)), "old vs new");
}

TEST(PhaseType, RepeatedEigenvaluesInsideACycle) {
    // A cycle 0 <-> 1 (rates 1) leaving at rate 2 from both states into an
    // Erlang-like tail 2 -> 3 (rate 2) -> 4 (rate 4). The cycle's block
    // [[-3, 1], [1, -3]] has eigenvalues -2 and -4, the tail -2 and -4 again:
    // two double eigenvalues, coupled through the cycle.
    PhBlock b = block(5, 4, {{0, 1, 1.0}, {1, 0, 1.0}, {1, 2, 2.0}, {0, 2, 2.0}, {2, 3, 2.0}, {3, 4, 4.0}});
    Closed old = old_variant(b, 0);
    expect_matches(b, unit(5, 0), old, 1e-11, "old");
    Closed nw = new_variant(b, unit(5, 0));
    expect_matches(b, unit(5, 0), nw, 1e-11, "new");
    expect_agree(b, old, nw, "old vs new");
}

TEST(PhaseType, NearlyRepeatedEigenvaluesAreAccurateOrFlagged) {
    // Two stages with rates 1 and 1 + 1e-9: too far apart to merge, so the
    // coefficients are about ±1e9 and cancel.
    PhBlock b = block(3, 2, {{0, 1, 1.0}, {1, 2, 1.0 + 1e-9}});
    Tolerances tol;
    for (Closed c : {old_variant(b, 0), new_variant(b, unit(3, 0))}) {
        for (double t : {0.5, 2.0, 6.0}) {
            const double ref = reference(b, unit(3, 0), t)(2);
            Guarded g = guarded_evaluate(c.dist[2], t, tol, c.error[2]);
            // The bound covers the actual error: never a silently wrong number.
            EXPECT_GE(g.error * 1.0001 + 1e-15, std::fabs(g.value - ref)) << t;
            EXPECT_GT(g.error, 1e-9) << "the cancellation is visible in the bound";
        }
    }
}

TEST(PhaseType, RatesOverManyDecadesStayExact) {
    // A slow repair cycle with a fast failure path: rates 1e-6 .. 1e3.
    PhBlock b = block(3, 2, {{0, 1, 1e-3}, {1, 0, 1e3}, {1, 2, 1e-6 * 1e3}});
    Closed old = old_variant(b, 0);
    Tolerances tol;
    for (double t : {1.0, 1e3, 1e6, 1e7}) {
        const double ref = reference(b, unit(3, 0), t)(2);
        Guarded g = guarded_evaluate(old.dist[2], t, tol, old.error[2]);
        EXPECT_GE(g.error * 1.0001 + 1e-15, std::fabs(g.value - ref)) << t;
        EXPECT_NEAR(g.value, ref, 1e-9 * std::max(1.0, ref)) << t;
    }
}

TEST(PhaseType, ClosedChainsTendToTheirSteadyState) {
    // No absorbing position: the generator is singular and its own zero is
    // the pole of the limits. A cycle 0 -> 1 -> 2 -> 0 (rate 1) with a
    // shortcut 0 -> 2 (rate 1/2) has a complex pair besides 0. Balance:
    // π2 = 1.5·π0 (state 0), π1 = π0 (state 1), so π ∝ (1, 1, 1.5).
    PhBlock b = block(3, 3, {{0, 1, 1.0}, {1, 2, 1.0}, {2, 0, 1.0}, {0, 2, 0.5}});
    const double pi[3] = {1.0 / 3.5, 1.0 / 3.5, 1.5 / 3.5};
    // A reversible birth and death chain has real eigenvalues.
    PhBlock bd = block(3, 3, {{0, 1, 2.0}, {1, 0, 1.0}, {1, 2, 2.0}, {2, 1, 3.0}});
    Eigen::VectorXd p0(3);
    p0 << 0.2, 0.0, 0.8;
    for (const PhBlock* c : {&b, &bd}) {
        for (const Closed& x : {old_variant(*c, 0), old_variant(*c, 0, EigenRoutine::NewCg), new_variant(*c, unit(3, 0)),
                                new_variant(*c, unit(3, 0), true)})
            expect_matches(*c, unit(3, 0), x, 1e-12, "from 0");
        expect_matches(*c, p0, new_variant(*c, p0), 1e-12, "spread start");
    }
    Closed old = old_variant(b, 0), nw = new_variant(b, unit(3, 0));
    for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(old.limit[static_cast<size_t>(j)], pi[j], 1e-12) << j;
        EXPECT_NEAR(nw.limit[static_cast<size_t>(j)], pi[j], 1e-12) << j;
        EXPECT_LT(old.error[static_cast<size_t>(j)], 1e-10);
    }
    // Exactly one term of each closed form is constant: no second, spurious
    // pole next to 0.
    for (const Exponomial& F : old.dist) {
        int constants = 0;
        for (const Term& t : F) constants += t.e_b == 0.0 && !t.is_complex();
        EXPECT_EQ(constants, 1);
    }
}

TEST(PhaseTypeEigen, MergingIsRelativeToTheLargestEigenvalue) {
    Tolerances tol;
    // Slow rates are kept apart and not zeroed.
    auto slow = merge_eigenvalues({{-1e-7, 0}, {-2e-7, 0}, {0, 0}}, tol);
    ASSERT_EQ(slow.size(), 3u);
    EXPECT_EQ(slow[0].value.real(), -1e-7);
    // Fast rates within sort_epsilon of the scale merge, with their count.
    auto fast = merge_eigenvalues({{-1e6, 0}, {-1e6 + 1e-5, 0}, {-3, 1}, {-3, -1}, {0, 0}}, tol);
    ASSERT_EQ(fast.size(), 4u);
    EXPECT_EQ(fast[0].count, 2);
    EXPECT_NEAR(fast[0].value.real(), -1e6 + 0.5e-5, 1e-9);
    EXPECT_EQ(fast[1].value, cplx(-3, 1));
    EXPECT_EQ(fast[2].value, cplx(-3, -1));
    // A part below epsilon·scale becomes exactly 0.
    auto tiny = merge_eigenvalues({{-2, 1e-13}}, tol);
    EXPECT_EQ(tiny[0].value.imag(), 0.0);
}

TEST(PhaseTypeEigen, BothRoutinesFindTheSameSpectrum) {
    Eigen::MatrixXd a(3, 3);
    a << -2, 1, 1, 0, -1, 1, 1, 0, -1;  // a 3-cycle part with complex eigenvalues
    std::vector<cplx> x, y;
    ASSERT_TRUE(eigen_cg(a, x));
    ASSERT_TRUE(eigen_new_cg(a, y));
    ASSERT_EQ(x.size(), 3u);
    ASSERT_EQ(y.size(), 3u);
    // The characteristic polynomial vanishes at every eigenvalue.
    for (const auto& list : {x, y})
        for (cplx l : list) {
            Eigen::MatrixXcd m = a.cast<cplx>() - l * Eigen::MatrixXcd::Identity(3, 3);
            EXPECT_LT(std::abs(m.determinant()), 1e-12);
        }
    // eigen2 delivers a conjugate pair with the positive imaginary part first.
    for (size_t i = 0; i + 1 < y.size(); ++i)
        if (y[i].imag() != 0.0 && y[i + 1] == std::conj(y[i])) {
            EXPECT_GT(y[i].imag(), 0.0);
        }
}

TEST(PhaseTypeEigen, HessenbergSolveMatchesADenseSolve) {
    Eigen::MatrixXcd g(4, 4);
    g << cplx(1, 1), 2, 3, 4, cplx(0.1, 0), 5, 6, 7, 0, cplx(8, -1), 0.01, 9, 0, 0, 2, cplx(3, 3);
    Eigen::VectorXcd b(4);
    b << 1, cplx(0, 2), -1, 4;
    Eigen::VectorXcd x = b;
    ASSERT_TRUE(hessenberg_solve(g, x));
    EXPECT_LT((g * x - b).norm(), 1e-12);
    Eigen::MatrixXcd singular = Eigen::MatrixXcd::Zero(2, 2);
    Eigen::VectorXcd y = Eigen::VectorXcd::Ones(2);
    EXPECT_FALSE(hessenberg_solve(singular, y));
}

TEST(PhaseType, TraceLinesOfTheNewVariant) {
    std::string text;
    Output out(&text);
    PhTrace trace{&out, true, true};
    PhBlock b = cycle_chain();
    PhExpansion x = ph_new_expansion(b, unit(3, 0), false, Tolerances{}, trace);
    ASSERT_TRUE(x.ok);
    EXPECT_NE(text.find("NOTE: using eigen2 algorithm\n"), std::string::npos);
    EXPECT_NE(text.find("NOTE: NOT using voronoi algorithm\n"), std::string::npos);
    EXPECT_NE(text.find("number of unique eigenvalues: 3\n"), std::string::npos);
    EXPECT_NE(text.find("Approximate condition number: "), std::string::npos);
    EXPECT_GT(x.rcond, 0.0);
}


// 0 -> 1 -> 2 -> 0 at rates 1, 2, 3: an irreducible generator with no
// absorbing state. Its eigenvalues are 0 and the roots of s² + 6s + 11
// (from (s+1)(s+2)(s+3) = 6), −3 ± i√2; the limit of every state is its
// steady-state probability, proportional to the mean holding time: (6, 3, 2)/11.
TEST(PhaseType, IrreducibleCycleMatchesMatrixExponentialWithSteadyStateLimits) {
    PhBlock b = block(3, 3, {{0, 1, 1.0}, {1, 2, 2.0}, {2, 0, 3.0}});
    const double pi[3] = {6.0 / 11.0, 3.0 / 11.0, 2.0 / 11.0};
    Eigen::VectorXd mixed(3);
    mixed << 0.2, 0.3, 0.5;
    for (int start = 0; start < 3; ++start) {
        const std::string tag = "start " + std::to_string(start);
        for (EigenRoutine r : {EigenRoutine::Cg, EigenRoutine::NewCg}) {
            Closed old = old_variant(b, start, r);
            expect_matches(b, unit(3, start), old, 1e-12, "old " + tag);
            for (int p = 0; p < 3; ++p) {
                EXPECT_NEAR(old.limit[static_cast<size_t>(p)], pi[p], 1e-12) << tag;
                // A constant and one complex pair.
                EXPECT_EQ(old.dist[static_cast<size_t>(p)].size(), 3u) << tag;
                EXPECT_LT(old.error[static_cast<size_t>(p)], 1e-10) << tag;
            }
            expect_agree(b, old, new_variant(b, unit(3, start)), "old vs new " + tag);
            expect_agree(b, old, new_variant(b, unit(3, start), true), "old vs voronoi " + tag);
        }
    }
    Closed nw = new_variant(b, mixed);
    expect_matches(b, mixed, nw, 1e-12, "new, mixed start");
    for (int p = 0; p < 3; ++p) EXPECT_NEAR(nw.limit[static_cast<size_t>(p)], pi[p], 1e-12);
}


// ---- The dense decomposition route and the change of time unit

Closed dense_route(const PhBlock& b, const Eigen::VectorXd& p0) {
    return closed_forms(b, ph_dense_expansion(b, p0, PhTrace{}));
}

// A ring of n transient states with jumps ahead and back, two exits into
// absorbing positions n and n + 1: complex eigenvalues, no symmetry.
PhBlock ring_with_exits(int n) {
    std::vector<Arc> arcs;
    for (int i = 0; i < n; ++i) {
        arcs.push_back({i, (i + 1) % n, 1.0 + 0.01 * i});
        arcs.push_back({i, (i + 7) % n, 0.3});
        if (i % 3 == 0) arcs.push_back({i, (i + n - 1) % n, 0.5});
    }
    arcs.push_back({n / 2, n, 0.4});
    arcs.push_back({n - 1, n + 1, 0.7});
    return block(n + 2, n, arcs);
}

TEST(PhaseTypeDense, LargeBlockMatchesMatrixExponentialAndFundamentalMatrix) {
    const int n = 60;
    PhBlock b = ring_with_exits(n);
    Eigen::VectorXd p0 = Eigen::VectorXd::Zero(n + 2);
    p0(0) = 0.7;
    p0(n / 3) = 0.2;
    p0(n + 1) = 0.1;  // some mass starts absorbed
    Closed c = dense_route(b, p0);
    Tolerances tol;
    for (double t : {0.0, 0.2, 3.0, 40.0, 400.0}) {
        const Eigen::VectorXd ref = reference(b, p0, t);
        for (int p = 0; p < b.size(); ++p)
            EXPECT_NEAR(evaluate_expo(c.dist[static_cast<size_t>(p)], t, tol), ref(p), 1e-10) << p << " t " << t;
    }
    // Absorption probabilities: p0_T·(−A_TT)^(-1)·r plus the absorbed start.
    const Eigen::MatrixXd att = b.a.topLeftCorner(n, n);
    const Eigen::VectorXd y = (-att.transpose()).partialPivLu().solve(p0.head(n));
    EXPECT_NEAR(c.limit[static_cast<size_t>(n)], y.dot(b.a.col(n).head(n)), 1e-12);
    EXPECT_NEAR(c.limit[static_cast<size_t>(n + 1)], 0.1 + y.dot(b.a.col(n + 1).head(n)), 1e-12);
    for (double e : c.error) EXPECT_LT(e, 1e-9);
    // The mean time to absorption: the integral of the survival, p0_T N 1.
    Exponomial absorbed;
    add_expos(c.dist[static_cast<size_t>(n)], absorbed, tol);
    add_expos(c.dist[static_cast<size_t>(n + 1)], absorbed, tol);
    subtract_scalar(absorbed, 0.1, tol);
    scalar_multiply(absorbed, 1.0 / 0.9);
    EXPECT_NEAR(moment_of_expo(absorbed, 1, tol), y.sum() / 0.9, 1e-9 * y.sum());
}

TEST(PhaseTypeDense, ClosedBlockTendsToItsSteadyState) {
    // The ring without exits: irreducible, the zero eigenvalue carries the
    // steady state, found here from πQ = 0 with Σπ = 1.
    const int n = 55;
    PhBlock ring = ring_with_exits(n);
    PhBlock b = block(n, n, {});
    b.a = ring.a.topLeftCorner(n, n);
    for (int i = 0; i < n; ++i) {
        b.a(i, i) = 0.0;
        b.a(i, i) = -b.a.row(i).sum();
    }
    Eigen::MatrixXd m = b.a.transpose();
    m.row(n - 1).setOnes();
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(n);
    rhs(n - 1) = 1.0;
    const Eigen::VectorXd pi = m.partialPivLu().solve(rhs);
    Closed c = dense_route(b, unit(n, 4));
    for (int p = 0; p < n; ++p) EXPECT_NEAR(c.limit[static_cast<size_t>(p)], pi(p), 1e-12) << p;
    expect_matches(b, unit(n, 4), c, 1e-10, "dense closed ring");
}

TEST(PhaseTypeDense, AgreesWithBothVariantsOnSmallBlocks) {
    // Complex pairs (the 3-cycle with an exit) and real poles (the cycle).
    PhBlock complex3 = block(4, 3, {{0, 1, 1.0}, {1, 2, 1.0}, {2, 0, 1.0}, {0, 3, 1.0}});
    for (const PhBlock& b : {cycle_chain(), complex3}) {
        Closed d = dense_route(b, unit(b.size(), 0));
        expect_matches(b, unit(b.size(), 0), d, 1e-12, "dense");
        expect_agree(b, d, old_variant(b, 0), "dense vs old");
    }
}

TEST(PhaseTypeDense, NearlyDefectiveBlockIsFlagged) {
    // Stages of rates 1 and 1 + 1e-9: eigenvectors nearly parallel, so the
    // coefficients cancel; the check must see it and the bound cover it.
    PhBlock b = block(3, 2, {{0, 1, 1.0}, {1, 2, 1.0 + 1e-9}});
    Closed c = dense_route(b, unit(3, 0));
    Tolerances tol;
    for (double t : {0.5, 2.0, 6.0}) {
        const double ref = reference(b, unit(3, 0), t)(2);
        Guarded g = guarded_evaluate(c.dist[2], t, tol, c.error[2]);
        EXPECT_GE(g.error * 1.0001 + 1e-15, std::fabs(g.value - ref)) << t;
    }
}

TEST(PhaseType, NewVariantIsExactInAnyTimeUnit) {
    // The same chains with every rate times 1e-7: the coefficients of t^0
    // stay, those of t^1 take the factor, the rates take it too. The new
    // variant's evaluation points and its voronoi midpoints are in the
    // block's own time unit, so both must give the scaled answer.
    const double f = 1e-7;
    const std::vector<Arc> cyc = {{0, 1, 1.0}, {1, 0, 2.0}, {1, 2, 0.5}, {0, 3, 0.1}};
    const std::vector<Arc> rep = {{0, 1, 1.0}, {1, 0, 1.0}, {0, 2, 2.0}, {1, 2, 2.0}, {2, 3, 2.0}, {3, 4, 4.0}};
    for (const auto& [arcs, n, nt] : {std::tuple{cyc, 4, 2}, std::tuple{rep, 5, 4}}) {
        std::vector<Arc> slow = arcs;
        for (Arc& a : slow) a.rate *= f;
        PhBlock unit_block = block(n, nt, arcs), slow_block = block(n, nt, slow);
        for (bool voronoi : {false, true}) {
            Closed u = new_variant(unit_block, unit(n, 0), voronoi);
            Closed s = new_variant(slow_block, unit(n, 0), voronoi);
            Tolerances tol;
            for (double t : {0.0, 0.3, 1.0, 4.0})
                for (int p = 0; p < n; ++p) {
                    const double want = reference(unit_block, unit(n, 0), t)(p);
                    EXPECT_NEAR(evaluate_expo(s.dist[static_cast<size_t>(p)], t / f, tol), want, 1e-11)
                        << "position " << p << " t " << t << " voronoi " << voronoi;
                    EXPECT_NEAR(evaluate_expo(u.dist[static_cast<size_t>(p)], t, tol), want, 1e-11);
                }
            for (int p = 0; p < n; ++p) {
                EXPECT_NEAR(s.limit[static_cast<size_t>(p)], u.limit[static_cast<size_t>(p)], 1e-12) << p;
                // No spurious constant term in a transient position.
                if (p < nt) {
                    EXPECT_NEAR(s.limit[static_cast<size_t>(p)], 0.0, 1e-12) << p;
                }
            }
        }
    }
}

}  // namespace
}  // namespace corvel
