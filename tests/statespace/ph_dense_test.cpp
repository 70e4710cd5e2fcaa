// The dense closed forms of large blocks, symmetric and general routes,
// against an independent computation: Eigen's matrix exponential (Padé with
// scaling and squaring) for the values at t and a dense LU of −A_TT for the
// absorption probabilities. The expansion is evaluated here term by term,
// not through the exponomial printer.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <unsupported/Eigen/MatrixFunctions>

#include "statespace/ph_diagonal.h"
#include "statespace/phase_type.h"
#include "statespace/ph_block_fixture.h"

namespace corvel {
namespace {

using Arc = PhArc;

PhBlock block(int n, int nt, const std::vector<Arc>& arcs) { return ph_test_block(n, nt, arcs); }

// Σ_e c·t^(r−1)/(r−1)!·e^(λt) of position p.
double closed_value(const PhExpansion& x, int p, double t) {
    cplx v = 0.0;
    for (size_t e = 0; e < x.entries.size(); ++e) {
        const int k = x.entries[e].order - 1;
        const cplx l = x.eig[static_cast<size_t>(x.entries[e].eig)].value;
        v += x.coef(p, static_cast<Eigen::Index>(e)) * std::pow(t, k) / std::tgamma(k + 1.0) * std::exp(l * t);
    }
    return v.real();
}

// Every position at every time within `tol` of the matrix exponential, the
// absorbing ones' limits equal to the fundamental matrix's, and no error
// estimate above `claimed`.
void expect_exact(const PhBlock& b, const Eigen::VectorXd& p0, const PhExpansion& x, const std::vector<double>& times,
                  double tol, double claimed, const std::string& tag) {
    ASSERT_TRUE(x.ok) << tag;
    for (double t : times) {
        const Eigen::VectorXd ref = (b.a * t).exp().transpose() * p0;
        for (int p = 0; p < b.size(); ++p) EXPECT_NEAR(closed_value(x, p, t), ref(p), tol) << tag << " pos " << p << " t " << t;
    }
    const int nt = b.nt;
    if (nt < b.size()) {
        const Eigen::MatrixXd g =
            (-b.a.topLeftCorner(nt, nt)).partialPivLu().solve(b.a.block(0, nt, nt, b.size() - nt));
        for (int q = nt; q < b.size(); ++q)
            EXPECT_NEAR(closed_value(x, q, 1e12), p0(q) + p0.head(nt).dot(g.col(q - nt)), tol) << tag << " limit " << q;
    }
    for (double e : x.error) EXPECT_LE(e, claimed) << tag;
}

Eigen::VectorXd start_at(int n, int i) {
    Eigen::VectorXd p0 = Eigen::VectorXd::Zero(n);
    p0(i) = 1.0;
    return p0;
}

// Birth-death over nt transient positions, exits below 0 (position nt) and
// above the last (nt + 1); births `up`, deaths `down`, both faster along
// the line.
PhBlock birth_death(int nt, double up, double down) {
    std::vector<Arc> arcs;
    for (int i = 0; i < nt; ++i) {
        arcs.push_back({i, i + 1 < nt ? i + 1 : nt + 1, up * (1.0 + 0.01 * i)});
        arcs.push_back({i, i > 0 ? i - 1 : nt, down * (1.0 + 0.01 * i)});
    }
    return block(nt + 2, nt, arcs);
}

// A grid of w × w transient positions whose two-way rates balance the
// weight π = (random), with exits from two corners: reversible, not a path.
PhBlock balanced_grid(int w, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(0.2, 3.0);
    const int nt = w * w;
    std::vector<double> pi(static_cast<size_t>(nt));
    for (double& p : pi) p = u(gen);
    std::vector<Arc> arcs;
    auto pair = [&](int i, int j) {
        const double c = u(gen);  // a_ij = c·√(π_j/π_i), a_ji = c·√(π_i/π_j)
        arcs.push_back({i, j, c * std::sqrt(pi[static_cast<size_t>(j)] / pi[static_cast<size_t>(i)])});
        arcs.push_back({j, i, c * std::sqrt(pi[static_cast<size_t>(i)] / pi[static_cast<size_t>(j)])});
    };
    for (int r = 0; r < w; ++r)
        for (int c = 0; c < w; ++c) {
            if (c + 1 < w) pair(r * w + c, r * w + c + 1);
            if (r + 1 < w) pair(r * w + c, (r + 1) * w + c);
        }
    arcs.push_back({0, nt, 0.5});
    arcs.push_back({nt - 1, nt + 1, 0.8});
    return block(nt + 2, nt, arcs);
}

TEST(PhaseTypeDenseRoutes, ReversibleBlocksMatchTheMatrixExponential) {
    // A birth-death chain with drift (weights over 1.2^90), started inside
    // with some mass already absorbed.
    PhBlock bd = birth_death(90, 1.2, 1.0);
    Eigen::VectorXd p0 = Eigen::VectorXd::Zero(92);
    p0(40) = 0.6;
    p0(75) = 0.3;
    p0(91) = 0.1;
    expect_exact(bd, p0, ph_dense_expansion(bd, p0, PhTrace{}), {0.0, 0.3, 4.0, 40.0, 300.0}, 1e-10, 1e-9, "birth-death");
    // Two-way arcs over a grid (cycles): the dense symmetric solver.
    PhBlock grid = balanced_grid(8, 7);
    expect_exact(grid, start_at(66, 27), ph_dense_expansion(grid, start_at(66, 27), PhTrace{}), {0.0, 0.5, 5.0, 60.0},
                 1e-10, 1e-9, "grid");
    // Two identical birth-death components (every eigenvalue double), the
    // start split between them, and a closed two-way cycle of equal rates
    // (eigenvalues 0 and a double −3) with no absorbing position.
    std::vector<Arc> twin;
    for (int c = 0; c < 2; ++c) {
        const int o = 30 * c;
        for (int i = 0; i < 30; ++i) {
            twin.push_back({o + i, i + 1 < 30 ? o + i + 1 : 60 + c, 1.5});
            if (i > 0) twin.push_back({o + i, o + i - 1, 1.0});
        }
    }
    PhBlock tw = block(62, 60, twin);
    Eigen::VectorXd half = Eigen::VectorXd::Zero(62);
    half(3) = 0.5;
    half(33) = 0.5;
    expect_exact(tw, half, ph_dense_expansion(tw, half, PhTrace{}), {0.0, 1.0, 10.0, 100.0}, 1e-10, 1e-9, "twins");
    // A symmetric line of 120 whose two halves hang by a link of 1e-9: its
    // eigenvalues come in pairs closer than the rounding of the QL shifts,
    // so the inverse iteration has to keep each pair's vectors apart.
    std::vector<Arc> weak;
    for (int i = 0; i < 120; ++i) {
        const double r = i == 59 ? 1e-9 : 1.0;
        weak.push_back({i, i + 1 < 120 ? i + 1 : 121, r});
        if (i > 0) weak.push_back({i, i - 1, i == 60 ? 1e-9 : 1.0});
    }
    weak.push_back({0, 120, 1.0});
    PhBlock wk = block(122, 120, weak);
    Eigen::VectorXd ends = Eigen::VectorXd::Zero(122);
    ends(10) = 0.5;
    ends(100) = 0.5;
    expect_exact(wk, ends, ph_dense_expansion(wk, ends, PhTrace{}), {0.0, 1.0, 30.0, 300.0}, 1e-10, 1e-9, "weak link");
    PhBlock ring3 = block(3, 3, {{0, 1, 1.0}, {1, 0, 1.0}, {1, 2, 1.0}, {2, 1, 1.0}, {2, 0, 1.0}, {0, 2, 1.0}});
    expect_exact(ring3, start_at(3, 1), ph_dense_expansion(ring3, start_at(3, 1), PhTrace{}), {0.0, 0.2, 2.0, 20.0},
                 1e-12, 1e-9, "closed ring");
}

TEST(PhaseTypeDenseRoutes, GeneralBlocksMatchTheMatrixExponential) {
    // One-way ring with jumps ahead: complex eigenvalues.
    std::vector<Arc> ring;
    const int n = 70;
    for (int i = 0; i < n; ++i) {
        ring.push_back({i, (i + 1) % n, 1.0 + 0.01 * i});
        ring.push_back({i, (i + 5) % n, 0.2});
    }
    ring.push_back({n / 2, n, 0.3});
    PhBlock rb = block(n + 1, n, ring);
    expect_exact(rb, start_at(n + 1, 0), ph_dense_expansion(rb, start_at(n + 1, 0), PhTrace{}), {0.0, 0.5, 8.0, 90.0, 900.0},
                 1e-10, 1e-9, "ring");
    // The same shape with 160 states and some steps back: the multishift
    // iteration with early deflation instead of the double-shift one. Its
    // eigenvectors are far from orthogonal, so the closed form holds about
    // eight digits (as it does by Eigen's own eigenvalue routine) and the
    // check says so.
    std::vector<Arc> longRing;
    const int m = 160;
    for (int i = 0; i < m; ++i) {
        longRing.push_back({i, (i + 1) % m, 1.0 + 0.01 * i});
        longRing.push_back({i, (i + 5) % m, 0.2});
        if (i % 3 == 0) longRing.push_back({i, (i + m - 1) % m, 0.4});
    }
    longRing.push_back({m / 2, m, 0.3});
    longRing.push_back({m - 1, m, 0.5});
    PhBlock lb = block(m + 1, m, longRing);
    expect_exact(lb, start_at(m + 1, 0), ph_dense_expansion(lb, start_at(m + 1, 0), PhTrace{}), {0.0, 0.5, 8.0, 90.0},
                 5e-9, 5e-7, "long ring");
    // Block triangular: a one-way cycle of 20 feeds a birth-death line of
    // 40, which feeds a second cycle; absorbed from the line and the last
    // cycle. Complex and real eigenvalues, no reversibility.
    std::vector<Arc> chainArcs;
    for (int i = 0; i < 20; ++i) chainArcs.push_back({i, (i + 1) % 20, 2.0 + 0.1 * i});
    chainArcs.push_back({7, 20, 0.6});
    for (int i = 20; i < 60; ++i) {
        chainArcs.push_back({i, i + 1 < 60 ? i + 1 : 60, 1.0});
        if (i > 20) chainArcs.push_back({i, i - 1, 0.7});
    }
    chainArcs.push_back({40, 72, 0.05});
    for (int i = 60; i < 72; ++i) chainArcs.push_back({i, i + 1 < 72 ? i + 1 : 60, 1.3});
    chainArcs.push_back({66, 73, 0.9});
    PhBlock tri = block(74, 72, chainArcs);
    Eigen::VectorXd p0 = Eigen::VectorXd::Zero(74);
    p0(0) = 0.8;
    p0(50) = 0.2;
    expect_exact(tri, p0, ph_dense_expansion(tri, p0, PhTrace{}), {0.0, 0.4, 6.0, 60.0, 600.0}, 1e-10, 1e-8, "triangular");
    // Detailed balance broken by a part in 10^6 on one arc of the grid
    // (around its cycles): not reversible, so the general route, still exact.
    PhBlock near = balanced_grid(7, 11);
    near.a(10, 11) *= 1.000001;
    near.a(10, 10) = 0.0;
    near.a(10, 10) = -near.a.row(10).sum();
    PhDiagonal d;
    EXPECT_FALSE(ph_reversible_diagonal(near.a.topLeftCorner(49, 49), start_at(49, 5), d));
    expect_exact(near, start_at(51, 5), ph_dense_expansion(near, start_at(51, 5), PhTrace{}), {0.0, 1.0, 20.0, 200.0},
                 1e-10, 1e-9, "nearly reversible");
}

// Closed forms that cancel: a defective block (two identical one-way
// cycles in series: repeated eigenvalues with a single eigenvector each, no
// eigenvector basis) and a birth-death chain whose weights grow by 2^60
// above its start (true coefficients near 10^14). The expansion either
// still matches or its check owns up to the discrepancy.
void expect_honest(const PhBlock& b, const Eigen::VectorXd& p0, const std::string& tag) {
    const PhExpansion x = ph_dense_expansion(b, p0, PhTrace{});
    ASSERT_TRUE(x.ok) << tag;
    double worst = 0.0;
    for (double t : {0.5, 5.0, 50.0}) {
        const Eigen::VectorXd ref = (b.a * t).exp().transpose() * p0;
        for (int p = 0; p < b.size(); ++p) worst = std::max(worst, std::fabs(closed_value(x, p, t) - ref(p)));
    }
    EXPECT_LE(worst, 1e-10 + 10.0 * x.value_error) << tag;
    if (worst > 1e-6) {
        EXPECT_GT(x.value_error, 1e-6) << tag;  // a wrong number never passes as right
    }
}

TEST(PhaseTypeDenseRoutes, CancellingFormsReportTheirError) {
    std::vector<Arc> arcs;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 30; ++i) arcs.push_back({30 * c + i, 30 * c + (i + 1) % 30, 1.0});
    arcs.push_back({29, 30, 0.5});
    arcs.push_back({59, 60, 0.5});
    expect_honest(block(61, 60, arcs), start_at(61, 0), "defective");
    expect_honest(birth_death(90, 2.0, 1.0), start_at(92, 30), "graded");
}

TEST(PhaseTypeDenseRoutes, SymmetrisationIsASimilarity) {
    PhBlock bd = birth_death(40, 1.5, 1.0);
    PhBlock grid = balanced_grid(5, 3);
    for (const PhBlock* b : {&bd, &grid}) {
        const int nt = b->nt;
        const Eigen::MatrixXd att = b->a.topLeftCorner(nt, nt);
        Eigen::VectorXd p0 = Eigen::VectorXd::Zero(nt);
        p0(nt / 2) = 0.7;
        p0(nt - 1) = 0.3;
        PhDiagonal d;
        ASSERT_TRUE(ph_reversible_diagonal(att, p0, d));
        // Rows of W are left eigenvectors, and a·W gives back the start.
        const Eigen::MatrixXcd lhs = d.w * att.cast<cplx>();
        const Eigen::MatrixXcd rhs = d.lam.asDiagonal() * d.w;
        EXPECT_LT((lhs - rhs).cwiseAbs().maxCoeff(), 1e-12 * std::max(1.0, d.w.cwiseAbs().maxCoeff()) * 10.0);
        EXPECT_LT((d.a.transpose() * d.w - p0.transpose().cast<cplx>()).cwiseAbs().maxCoeff(), 1e-12);
        for (Eigen::Index k = 0; k < d.lam.size(); ++k) EXPECT_LT(d.lam(k).real(), 0.0);
    }
    // One-way arcs are not reversible, nor is a cycle whose rates do not
    // balance around it.
    PhDiagonal d;
    Eigen::MatrixXd oneway(2, 2);
    oneway << -1.0, 1.0, 0.0, -1.0;
    EXPECT_FALSE(ph_reversible_diagonal(oneway, Eigen::VectorXd::Ones(2), d));
    Eigen::MatrixXd unbalanced(3, 3);
    unbalanced << -3.0, 1.0, 2.0, 1.0, -2.0, 1.0, 1.0, 1.0, -2.0;
    EXPECT_FALSE(ph_reversible_diagonal(unbalanced, Eigen::VectorXd::Ones(3), d));
}

}  // namespace
}  // namespace corvel
