// The forward systems x A = b of a transient block (the expected times spent
// in each state) from the elimination factors, against a dense solution with
// partial pivoting, and the residual of the same factors on large banded
// blocks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "statespace/sor.h"

namespace corvel {
namespace {

struct Block {
    int nt = 0;
    std::vector<SparseArc> arcs;  // targets nt and beyond leave the block
    SparseChain chain() const {
        return setupsp(nt + 1, static_cast<std::int64_t>(arcs.size()),
                       [this](std::int64_t k) { return arcs[static_cast<size_t>(k)]; });
    }
    std::vector<double> outflow() const {
        std::vector<double> out(static_cast<size_t>(nt), 0.0);
        for (const SparseArc& a : arcs) out[static_cast<size_t>(a.from)] += a.value;
        return out;
    }
    // |b - x A| largest component, A = -Q_TT.
    double forward_residual(const std::vector<double>& x, const std::vector<double>& b) const {
        std::vector<double> y(static_cast<size_t>(nt), 0.0);
        const std::vector<double> out = outflow();
        for (int i = 0; i < nt; ++i) y[i] = out[i] * x[i];
        for (const SparseArc& a : arcs)
            if (a.to < nt) y[a.to] -= a.value * x[a.from];
        double r = 0.0;
        for (int i = 0; i < nt; ++i) r = std::max(r, std::fabs(b[i] - y[i]));
        return r;
    }
};

// A block with every state one step from the exit or from a state that is,
// plus random arcs among the states; rates spread over several decades.
Block random_block(std::mt19937& gen, int nt, int extra, int band) {
    std::uniform_real_distribution<double> u(-3.0, 2.0);
    Block b;
    b.nt = nt;
    for (int i = 0; i < nt; ++i) {
        b.arcs.push_back({i, i == 0 ? nt : i - 1, std::pow(10.0, u(gen))});
        if (gen() % 4 == 0) b.arcs.push_back({i, nt, std::pow(10.0, u(gen))});
        for (int k = 0; k < extra; ++k) {
            int j = band > 0 ? std::clamp(i + static_cast<int>(gen() % (2 * band + 1)) - band, 0, nt - 1)
                             : static_cast<int>(gen() % static_cast<unsigned>(nt));
            if (j != i) b.arcs.push_back({i, j, std::pow(10.0, u(gen))});
        }
    }
    return b;
}

std::vector<double> dense_forward(const Block& blk, std::vector<double> b) {
    const int n = blk.nt;
    std::vector<std::vector<double>> A(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n), 0.0));
    // A^T: row j holds column j of A.
    const std::vector<double> out = blk.outflow();
    for (int i = 0; i < n; ++i) A[i][i] = out[i];
    for (const SparseArc& a : blk.arcs)
        if (a.to < n) A[a.to][a.from] -= a.value;
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(A[r][c]) > std::fabs(A[p][c])) p = r;
        std::swap(A[c], A[p]);
        std::swap(b[c], b[p]);
        for (int r = c + 1; r < n; ++r) {
            const double f = A[r][c] / A[c][c];
            for (int j = c; j < n; ++j) A[r][j] -= f * A[c][j];
            b[r] -= f * b[c];
        }
    }
    for (int c = n - 1; c >= 0; --c) {
        for (int j = c + 1; j < n; ++j) b[c] -= A[c][j] * b[j];
        b[c] /= A[c][c];
    }
    return b;
}

TEST(BlockElimination, ForwardSolvesAgreeWithDensePivoting) {
    std::mt19937 gen(7);
    for (int trial = 0; trial < 20; ++trial) {
        const int nt = 2 + static_cast<int>(gen() % 40);
        const Block blk = random_block(gen, nt, 2, 0);
        const SparseChain t = blk.chain();
        std::vector<double> b(static_cast<size_t>(nt), 0.0);
        b[gen() % static_cast<unsigned>(nt)] = 1.0;  // a starting state
        b[gen() % static_cast<unsigned>(nt)] += 0.5;
        const std::vector<double> want = dense_forward(blk, b);
        const std::vector<double> dense = BlockElimination(t, nt).solve_transposed(b);
        auto sparse = SparseBlockElimination::build(t, nt, 1'000'000);
        ASSERT_TRUE(sparse.has_value());
        const std::vector<double> spx = sparse->solve_transposed(b);
        for (int i = 0; i < nt; ++i) {
            EXPECT_NEAR(dense[i], want[i], 1e-9 * std::fabs(want[i])) << trial << " " << i;
            EXPECT_NEAR(spx[i], want[i], 1e-9 * std::fabs(want[i])) << trial << " " << i;
            EXPECT_GE(dense[i], 0.0);
        }
    }
}

// The plain elimination, one pivot at a time, row by row: the reference of
// the blocked one, including states that cannot leave (pivot 0, value 0).
std::vector<double> plain_backward(const Block& blk, std::vector<double> b) {
    const auto n = static_cast<size_t>(blk.nt);
    std::vector<double> g(n * n, 0.0), leave(n, 0.0), pivot(n, 0.0);
    for (const SparseArc& a : blk.arcs) {
        if (a.to < blk.nt) g[static_cast<size_t>(a.from) * n + static_cast<size_t>(a.to)] += a.value;
        else leave[static_cast<size_t>(a.from)] += a.value;
    }
    for (size_t k = 0; k < n; ++k) {
        double d = leave[k];
        for (size_t j = k + 1; j < n; ++j) d += g[k * n + j];
        pivot[k] = d;
        if (!(d > 0.0)) continue;
        for (size_t i = k + 1; i < n; ++i) {
            if (g[i * n + k] == 0.0) continue;
            const double f = g[i * n + k] / d;
            g[i * n + k] = f;
            for (size_t j = k + 1; j < n; ++j) g[i * n + j] += f * g[k * n + j];
            leave[i] += f * leave[k];
        }
    }
    for (size_t i = 1; i < n; ++i)
        for (size_t k = 0; k < i; ++k) b[i] += g[i * n + k] * b[k];
    for (size_t k = n; k-- > 0;) {
        double s = b[k];
        for (size_t j = k + 1; j < n; ++j) s += g[k * n + j] * b[j];
        b[k] = pivot[k] > 0.0 ? s / pivot[k] : 0.0;
    }
    return b;
}

// Blocks large enough for the panels of the dense elimination and for the
// sparse one to fill up and finish densely: every solve as the plain
// elimination's and, forward, as dense pivoting's.
TEST(BlockElimination, BlockedAndDenselyFinishedEliminationsMatchThePlainOne) {
    std::mt19937 gen(23);
    for (int nt : {65, 150, 333}) {
        Block blk = random_block(gen, nt, 3, 0);
        // Two states with nothing out of them, one early and one in the
        // part the sparse elimination finishes densely.
        for (int dead : {nt / 5, nt - 20})
            std::erase_if(blk.arcs, [dead](const SparseArc& a) { return a.from == dead; });
        const SparseChain t = blk.chain();
        std::vector<double> b(static_cast<size_t>(nt));
        for (double& v : b) v = 0.25 + static_cast<double>(gen() % 100) / 50.0;
        const std::vector<double> want = plain_backward(blk, b);
        const BlockElimination dense(t, nt);
        auto sparse = SparseBlockElimination::build(t, nt, 1'000'000);
        ASSERT_TRUE(sparse.has_value());
        const std::vector<double> bx = dense.solve(b), sx = sparse->solve(b);
        // The sparse elimination leaves a dead state's column out of the
        // rows below it, the dense one keeps it: they agree on the dead
        // states themselves and stay finite and non-negative elsewhere.
        for (int i = 0; i < nt; ++i) {
            EXPECT_NEAR(bx[i], want[i], 1e-10 * std::fabs(want[i])) << nt << " " << i;
            EXPECT_TRUE(std::isfinite(sx[i]) && sx[i] >= 0.0) << nt << " " << i;
        }
        for (int dead : {nt / 5, nt - 20}) {
            EXPECT_EQ(bx[static_cast<size_t>(dead)], 0.0);
            EXPECT_EQ(sx[static_cast<size_t>(dead)], 0.0);
        }
        // Without the dead states every solve, both ways, is the plain
        // elimination's and (forward) dense pivoting's.
        std::vector<double> f(static_cast<size_t>(nt), 0.0);
        f[static_cast<size_t>(nt - 1)] = 1.0;
        const Block whole = random_block(gen, nt, 3, 0);
        const SparseChain tw = whole.chain();
        const std::vector<double> pivoted = dense_forward(whole, f);
        auto sw = SparseBlockElimination::build(tw, nt, 1'000'000);
        ASSERT_TRUE(sw.has_value());
        const std::vector<double> wx = BlockElimination(tw, nt).solve_transposed(f), swx = sw->solve_transposed(f);
        const std::vector<double> backward = plain_backward(whole, b), swb = sw->solve(b);
        for (int i = 0; i < nt; ++i) {
            EXPECT_NEAR(wx[i], pivoted[i], 1e-9 * std::fabs(pivoted[i])) << nt << " " << i;
            EXPECT_NEAR(swx[i], pivoted[i], 1e-9 * std::fabs(pivoted[i])) << nt << " " << i;
            EXPECT_NEAR(swb[i], backward[i], 1e-10 * std::fabs(backward[i])) << nt << " " << i;
        }
    }
}

TEST(BlockElimination, LargeBandedForwardSolvesLeaveRoundoffResiduals) {
    std::mt19937 gen(11);
    const int nt = 20000;
    const Block blk = random_block(gen, nt, 2, 3);
    auto lu = SparseBlockElimination::build(blk.chain(), nt, kSparseGthFill);
    ASSERT_TRUE(lu.has_value());
    std::vector<double> b(static_cast<size_t>(nt), 0.0);
    b[static_cast<size_t>(nt - 1)] = 1.0;
    const std::vector<double> x = lu->solve_transposed(b);
    // Relative to the size of the terms the residual sums.
    double scale = 0.0;
    const std::vector<double> out = blk.outflow();
    for (int i = 0; i < nt; ++i) scale = std::max(scale, out[i] * x[i]);
    EXPECT_LT(blk.forward_residual(x, b), 1e-10 * std::max(1.0, scale));
    for (double v : x) EXPECT_GE(v, 0.0);
}

}  // namespace
}  // namespace corvel
