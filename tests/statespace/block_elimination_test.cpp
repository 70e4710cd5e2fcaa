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
