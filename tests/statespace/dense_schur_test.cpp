// The real Schur form by multishift QR with early deflation: on chain
// generators, dense random matrices, matrices with a known spectrum and
// degenerate shapes, the form must be a similarity by an orthogonal matrix,
// quasi-triangular with a complex pair in every 2×2 block, and carry the
// eigenvalues that Eigen's own eigenvalue routine finds. The blocks handed
// to the double-shift iteration are kept small so that the multishift
// sweeps, the deflation window and its block swaps all run.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Eigenvalues>

#include "statespace/dense_schur.h"

namespace corvel {
namespace {

using Eigen::MatrixXd;
using cplx = std::complex<double>;

std::vector<cplx> sorted(const Eigen::VectorXcd& v) {
    std::vector<cplx> out(v.data(), v.data() + v.size());
    std::sort(out.begin(), out.end(), [](cplx a, cplx b) {
        return a.real() != b.real() ? a.real() < b.real() : a.imag() < b.imag();
    });
    return out;
}

// Every property of the form, and its eigenvalues against `expected`
// within tol times the matrix's size (not compared when tol is 0).
void expect_schur(const MatrixXd& a, int small_block, const std::vector<cplx>& expected, double tol,
                  const std::string& tag) {
    SCOPED_TRACE(tag);
    const Eigen::Index n = a.rows();
    MatrixXd t, z;
    ASSERT_TRUE(real_schur(a, t, z, small_block));
    const double size = std::max(a.norm(), 1e-300);
    EXPECT_LT((a * z - z * t).norm() / size, 1e-13 * std::max<Eigen::Index>(n, 10) / 10);
    EXPECT_LT((z.transpose() * z - MatrixXd::Identity(n, n)).norm(), 1e-14 * n + 1e-14);
    for (Eigen::Index c = 0; c < n; ++c)
        for (Eigen::Index r = c + 2; r < n; ++r) ASSERT_EQ(t(r, c), 0.0) << r << "," << c;
    for (Eigen::Index i = 0; i + 1 < n; ++i) {
        if (t(i + 1, i) == 0.0) continue;
        ASSERT_TRUE(i + 2 >= n || t(i + 2, i + 1) == 0.0) << "blocks overlap at " << i;
        // A 2×2 block holds a complex pair.
        const double p = 0.5 * (t(i, i) - t(i + 1, i + 1));
        EXPECT_LT(p * p + t(i, i + 1) * t(i + 1, i), 0.0) << "real pair left in a block at " << i;
        ++i;
    }
    const Eigen::VectorXcd lam = schur_eigenvalues(t);
    ASSERT_EQ(lam.size(), n);
    for (Eigen::Index k = 0; k + 1 < n; ++k)
        if (lam(k).imag() != 0.0) {
            EXPECT_GT(lam(k).imag(), 0.0);
            EXPECT_EQ(lam(k + 1), std::conj(lam(k)));
            ++k;
        }
    // Each expected eigenvalue against the nearest one not yet matched
    // (sorting cannot pair them: real parts that agree to the rounding
    // come in either order).
    if (tol > 0.0) {
        ASSERT_EQ(static_cast<size_t>(n), expected.size());
        std::vector<bool> used(expected.size(), false);
        double worst = 0.0;
        for (const cplx e : expected) {
            size_t best = 0;
            double gap = INFINITY;
            for (size_t i = 0; i < used.size(); ++i)
                if (!used[i] && std::abs(lam(static_cast<Eigen::Index>(i)) - e) < gap) {
                    gap = std::abs(lam(static_cast<Eigen::Index>(i)) - e);
                    best = i;
                }
            used[best] = true;
            worst = std::max(worst, gap);
        }
        EXPECT_LT(worst, tol * size);
    }
    // Pseudo-eigenvectors: t·Y = Y·Λ_r with unit eigenvectors.
    const MatrixXd y = schur_pseudo_eigenvectors(t, lam);
    MatrixXd blocks = MatrixXd::Zero(n, n);
    for (Eigen::Index k = 0; k < n; ++k) {
        if (lam(k).imag() != 0.0) {
            blocks(k, k) = blocks(k + 1, k + 1) = lam(k).real();
            blocks(k, k + 1) = lam(k).imag();
            blocks(k + 1, k) = -lam(k).imag();
            EXPECT_NEAR(y.col(k).squaredNorm() + y.col(k + 1).squaredNorm(), 1.0, 1e-12);
            ++k;
        } else {
            blocks(k, k) = lam(k).real();
            EXPECT_NEAR(y.col(k).norm(), 1.0, 1e-12);
        }
    }
    EXPECT_LT((t * y - y * blocks).norm() / std::max(t.norm(), 1e-300), 1e-12);
    // The inverse of the eigenvectors of a: W·V = I to the rounding of an
    // inverse of V's condition.
    const MatrixXd v = z * y, w = schur_eigenvector_inverse(t, y, z);
    const double cond = w.norm() * v.norm();
    ASSERT_TRUE(w.allFinite());
    EXPECT_LT((w * v - MatrixXd::Identity(n, n)).norm(), 1e-14 * n * cond + 1e-14);
}

std::vector<cplx> eigen_reference(const MatrixXd& a) {
    Eigen::EigenSolver<MatrixXd> es(a, false);
    return sorted(es.eigenvalues());
}

// A chain generator: `arcs` random arcs per state and a leak of 0.01.
MatrixXd random_generator(int n, int arcs, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    MatrixXd a = MatrixXd::Zero(n, n);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < arcs; ++k) {
            const int j = static_cast<int>(g() % static_cast<unsigned>(n));
            if (j != i) a(i, j) += u(g);
        }
    for (int i = 0; i < n; ++i) a(i, i) = -a.row(i).sum() - 0.01;
    return a;
}

TEST(DenseSchur, ChainGeneratorsAndDenseMatrices) {
    for (int small : {12, 30}) {
        for (unsigned seed : {1u, 2u}) {
            const MatrixXd a = random_generator(170, 3, seed);
            expect_schur(a, small, eigen_reference(a), 1e-11, "generator " + std::to_string(seed));
        }
        // Degradation with a reset: a step ahead and a jump back to the
        // start from every state. Its eigenvalues are those of a companion
        // matrix, so sensitive that two backward-stable routes disagree in
        // the first digit: only the form itself is checked.
        MatrixXd reset = MatrixXd::Zero(160, 160);
        for (int i = 0; i < 160; ++i) {
            if (i + 1 < 160) reset(i, i + 1) = 1.0 + 0.01 * i;
            reset(i, 0) += 0.3;
            reset(i, i) -= reset.row(i).sum() + 0.02;
        }
        expect_schur(reset, small, {}, 0.0, "reset");
        std::mt19937 g(5);
        std::normal_distribution<double> nd;
        MatrixXd dense(140, 140);
        for (Eigen::Index i = 0; i < dense.size(); ++i) dense.data()[i] = nd(g);
        expect_schur(dense, small, eigen_reference(dense), 1e-11, "dense");
    }
    // The default split, with 44 shifts per sweep and the second thread.
    const MatrixXd big = random_generator(400, 4, 9);
    expect_schur(big, kSchurSmallBlock, eigen_reference(big), 1e-11, "400 states");
}

TEST(DenseSchur, KnownSpectrumThroughAnOrthogonalSimilarity) {
    // Block diagonal: real eigenvalues −1..−60 and pairs −0.5k ± i·k, turned
    // by a random orthogonal matrix.
    const int pairs = 40, reals = 60, n = reals + 2 * pairs;
    MatrixXd d = MatrixXd::Zero(n, n);
    std::vector<cplx> expected;
    for (int k = 0; k < reals; ++k) {
        d(k, k) = -(k + 1.0);
        expected.emplace_back(-(k + 1.0), 0.0);
    }
    for (int k = 0; k < pairs; ++k) {
        const int i = reals + 2 * k;
        const double re = -0.5 * (k + 1), im = k + 1.0;
        d(i, i) = d(i + 1, i + 1) = re;
        d(i, i + 1) = 4.0 * im;
        d(i + 1, i) = -im / 4.0;
        expected.emplace_back(re, im);
        expected.emplace_back(re, -im);
    }
    std::sort(expected.begin(), expected.end(), [](cplx a, cplx b) {
        return a.real() != b.real() ? a.real() < b.real() : a.imag() < b.imag();
    });
    std::mt19937 g(3);
    std::normal_distribution<double> nd;
    MatrixXd r(n, n);
    for (Eigen::Index i = 0; i < r.size(); ++i) r.data()[i] = nd(g);
    const MatrixXd q = Eigen::HouseholderQR<MatrixXd>(r).householderQ();
    expect_schur(q * d * q.transpose(), 16, expected, 1e-12, "known spectrum");
}

TEST(DenseSchur, DegenerateShapes) {
    expect_schur(MatrixXd(0, 0), 12, {}, 1e-14, "empty");
    expect_schur(MatrixXd::Constant(1, 1, -2.5), 12, {cplx(-2.5)}, 1e-14, "single");
    MatrixXd rot(2, 2);
    rot << 0.0, 1.0, -1.0, 0.0;
    expect_schur(rot, 12, {cplx(0.0, -1.0), cplx(0.0, 1.0)}, 1e-14, "rotation");
    // Already upper triangular with a repeated eigenvalue; and the zero
    // matrix (every subdiagonal entry exactly 0 from the start).
    MatrixXd tri = MatrixXd::Zero(100, 100);
    for (int i = 0; i < 100; ++i) {
        tri(i, i) = -1.0 - (i % 7);
        if (i + 1 < 100) tri(i, i + 1) = 1.0;
    }
    expect_schur(tri, 12, eigen_reference(tri), 1e-12, "triangular");
    expect_schur(MatrixXd::Zero(90, 90), 12, std::vector<cplx>(90, cplx(0.0)), 1e-14, "zero");
    // Two isolated halves (a zero subdiagonal entry in the middle) and a
    // one-way cycle (all eigenvalues on a circle: slow for the shifts).
    MatrixXd halves = random_generator(120, 3, 4);
    halves.bottomLeftCorner(60, 60).setZero();
    expect_schur(halves, 12, eigen_reference(halves), 1e-11, "halves");
    MatrixXd cycle = MatrixXd::Zero(100, 100);
    for (int i = 0; i < 100; ++i) {
        cycle(i, (i + 1) % 100) = 1.0;
        cycle(i, i) = -1.0;
    }
    expect_schur(cycle, 12, eigen_reference(cycle), 1e-11, "cycle");
}

}  // namespace
}  // namespace corvel
