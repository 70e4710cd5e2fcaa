#include "statespace/chain_moments.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "statespace/sor.h"

namespace corvel {
namespace {

// Dense reference: with the states `block` given by hand, N = (-Q_RR)^-1,
// b = N r (r the rates into the targets), u = N b, w = N u; the moments are
// p·b, p·u and 2 p·w.
struct Reference {
    double hit, first, second;
};
Reference dense_reference(int n, const std::vector<ChainArc>& arcs, const std::vector<double>& start,
                          const std::vector<int>& block, const std::vector<int>& targets) {
    Eigen::MatrixXd q = Eigen::MatrixXd::Zero(n, n);
    for (const ChainArc& a : arcs) {
        q(a.from, a.to) += a.rate;
        q(a.from, a.from) -= a.rate;
    }
    const int k = static_cast<int>(block.size());
    Eigen::MatrixXd a(k, k);
    Eigen::VectorXd r = Eigen::VectorXd::Zero(k), p(k);
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j < k; ++j) a(i, j) = -q(block[i], block[j]);
        for (int t : targets) r(i) += q(block[i], t);
        p(i) = start[block[i]];
    }
    Eigen::MatrixXd nn = a.inverse();
    Eigen::VectorXd b = nn * r, u = nn * b, w = nn * u;
    return {p.dot(b), p.dot(u), 2.0 * p.dot(w)};
}

TargetMoments moments(int n, const std::vector<ChainArc>& arcs, const std::vector<double>& start,
                      const std::vector<int>& targets, double eps = 1e-11) {
    std::string warnings;
    SolverIo io;
    io.warn = &warnings;
    return target_moments(n, arcs, start, targets, eps, io);
}

void expect_close(const Guarded& g, double want, double rel, const char* what) {
    EXPECT_NEAR(g.value, want, rel * std::fabs(want)) << what;
    // The bound covers the actual error and is small for a well-posed chain.
    EXPECT_LE(std::fabs(g.value - want), g.error + 1e-15 * std::fabs(want)) << what;
    EXPECT_LT(g.error, 1e-9 * std::fabs(want)) << what;
}

// a <-> b with an exit from b to c: a cycle, one absorbing state.
TEST(TargetMoments, CycleMatchesFundamentalMatrixAndClosedForm) {
    std::vector<ChainArc> arcs = {{0, 1, 2.0}, {1, 0, 1.0}, {1, 2, 3.0}};
    std::vector<double> start = {1.0, 0.0, 0.0};
    TargetMoments m = moments(3, arcs, start, {2});
    Reference ref = dense_reference(3, arcs, start, {0, 1}, {2});
    // By hand: h_a = 1/2 + h_b, h_b = 1/4 + h_a/4, so h_b = 1/2, h_a = 1.
    EXPECT_NEAR(ref.first, 1.0, 1e-14);
    expect_close(m.hit, 1.0, 1e-12, "hit");
    expect_close(m.first, ref.first, 1e-12, "first");
    expect_close(m.second, ref.second, 1e-12, "second");
    GuardedMoments c = continuous_target_moments(m);
    EXPECT_NEAR(c.mean.value, 1.0, 1e-12);
    EXPECT_NEAR(c.variance.value, ref.second - 1.0, 1e-11);
}

// Two exits, one of them the target: the moments count only the paths that
// end in the target, and the mass that starts there or can never get there
// counts in none of them.
TEST(TargetMoments, OneOfSeveralExitsWithStartMassOutsideTheBlock) {
    // 0 -> 1 -> 0 cycle; 1 -> 3 (target) and 0 -> 4 (other exit); 2 -> 4
    // only, so state 2 never reaches the target; 5 is unreachable.
    std::vector<ChainArc> arcs = {{0, 1, 1.5}, {1, 0, 0.5}, {1, 3, 2.0}, {0, 4, 0.25}, {2, 4, 7.0}};
    std::vector<double> start = {0.4, 0.2, 0.15, 0.25, 0.0, 0.0};
    TargetMoments m = moments(6, arcs, start, {3});
    Reference ref = dense_reference(6, arcs, start, {0, 1}, {3});
    expect_close(m.hit, ref.hit, 1e-12, "hit");
    expect_close(m.first, ref.first, 1e-12, "first");
    expect_close(m.second, ref.second, 1e-12, "second");
    // The hit probability by hand: from 1, b1 = (2 + 0.5 b0)/2.5; from 0,
    // b0 = 1.5 b1 / 1.75. So b1 = 2/(2.5 - 0.75/1.75) and b0 = (6/7) b1.
    const double b1 = 2.0 / (2.5 - 0.75 / 1.75), b0 = 1.5 * b1 / 1.75;
    EXPECT_NEAR(m.hit.value, 0.4 * b0 + 0.2 * b1, 1e-12);

    // Both exits together: every path out of the block ends there, and the
    // state that only leads to the other exit joins the block.
    TargetMoments all = moments(6, arcs, start, {3, 4});
    Reference ref_all = dense_reference(6, arcs, start, {0, 1, 2}, {3, 4});
    EXPECT_NEAR(ref_all.hit, 0.75, 1e-14);
    expect_close(all.hit, 0.75, 1e-12, "hit, both exits");
    expect_close(all.first, ref_all.first, 1e-12, "first, both exits");
    expect_close(all.second, ref_all.second, 1e-12, "second, both exits");
}

// Arcs below the tolerance are not there (as in the closed forms); no state
// reaching the target leaves nothing to solve.
TEST(TargetMoments, NegligibleArcsAndEmptyBlocks) {
    std::vector<ChainArc> arcs = {{0, 1, 4.0}, {1, 2, 1e-13}};
    std::vector<double> start = {1.0, 0.0, 0.0};
    TargetMoments m = moments(3, arcs, start, {2});
    EXPECT_EQ(m.hit.value, 0.0);
    EXPECT_EQ(m.first.value, 0.0);
    GuardedMoments c = continuous_target_moments(m);
    EXPECT_EQ(c.mean.value, 0.0);
    EXPECT_EQ(c.variance.value, 0.0);
    // With the arc counted, the time is Exp(4) then Exp(1e-13).
    TargetMoments with = moments(3, arcs, start, {2}, 1e-14);
    EXPECT_NEAR(with.first.value, 0.25 + 1e13, 1e-12 * 1e13);
}

// Rates twelve decades apart: the fundamental matrix is badly scaled, but
// every entry is positive and the solves keep their relative accuracy.
TEST(TargetMoments, StiffRatesKeepRelativeAccuracy) {
    std::vector<ChainArc> arcs = {{0, 1, 1e6}, {1, 2, 1e-6}, {2, 0, 1.0}, {2, 3, 1.0}};
    std::vector<double> start = {1.0, 0.0, 0.0, 0.0};
    TargetMoments m = moments(4, arcs, start, {3});
    // By hand (a dense inverse loses the digits here): h = N 1 and w = N h
    // from h0 = 1e-6 + h1, h1 = 1e6 + h2, h2 = (1 + h0)/2, and the same
    // recurrences with h/rate in place of 1/rate.
    const double h0 = 2.0 * (1e-6 + 1e6 + 0.5), h1 = h0 - 1e-6, h2 = (1.0 + h0) / 2.0;
    const double w0 = 2.0 * (h0 * 1e-6 + h1 * 1e6 + h2 / 2.0);
    expect_close(m.first, h0, 1e-12, "first");
    expect_close(m.second, 2.0 * w0, 1e-12, "second");
    GuardedMoments c = continuous_target_moments(m);
    EXPECT_GE(c.variance.value, 0.0);
}

// Two states swapping at 1e6 with an exit at 1e-6: Gauss-Seidel contracts by
// about 1 - 1e-12 a sweep, so no sweep budget settles it; the block is then
// eliminated, and the numbers keep their digits.
TEST(TargetMoments, UnsettledStiffCycleIsEliminated) {
    std::vector<ChainArc> arcs = {{0, 1, 1e6}, {1, 0, 1e6}, {1, 2, 1e-6}};
    std::vector<double> start = {1.0, 0.0, 0.0};
    TargetMoments m = moments(3, arcs, start, {2});
    // By hand: h1 (1e6 + 1e-6) = 1 + 1e6 h0 with h0 = 1e-6 + h1 gives
    // h1 = 2e6; w = N h the same way: w1 = 1e6 (h0 + h1), w0 = h0/1e6 + w1.
    const double h1 = 2e6, h0 = 1e-6 + h1, w1 = 1e6 * (h0 + h1), w0 = h0 / 1e6 + w1;
    expect_close(m.first, h0, 1e-12, "first");
    expect_close(m.second, 2.0 * w0, 1e-12, "second");
    expect_close(m.hit, 1.0, 1e-12, "hit");
}

// Forward and backward solves of a random block against dense solves, and
// the residual bound against the actual error.
TEST(SolveTransientBlock, BothOrientationsMatchDenseSolves) {
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> rate(0.1, 5.0);
    const int nt = 30, n = nt + 2;
    std::vector<SparseArc> arcs;
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(nt, nt);
    std::vector<double> out(nt, 0.0);
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < n; ++j) {
            if (i == j || (j < nt && gen() % 4 != 0) || (j >= nt && gen() % 3 != 0 && i != 0)) continue;
            const double r = rate(gen);
            arcs.push_back({i, j, r});
            out[i] += r;
            a(i, i) += r;
            if (j < nt) a(i, j) -= r;
        }
    // Arcs from outside the block are ignored.
    arcs.push_back({nt, 3, 9.0});
    SparseChain t = setupsp(n, static_cast<std::int64_t>(arcs.size()), [&](std::int64_t k) { return arcs[k]; });
    Eigen::VectorXd b(nt);
    for (int i = 0; i < nt; ++i) b(i) = 1.0 + 0.1 * i;
    std::vector<double> bv(b.data(), b.data() + nt);
    std::string warnings;
    SolverIo io;
    io.warn = &warnings;
    const Eigen::MatrixXd inv = a.inverse().cwiseAbs();
    for (bool backward : {true, false}) {
        // ||A^-1|| in the infinity norm of the solve's orientation.
        const double norm = backward ? inv.rowwise().sum().maxCoeff() : inv.colwise().sum().maxCoeff();
        BlockSolution s = solve_transient_block(t, nt, out, bv, backward, io, 1e-13);
        Eigen::VectorXd want = backward ? Eigen::VectorXd(a.partialPivLu().solve(b))
                                        : Eigen::VectorXd(a.transpose().partialPivLu().solve(b));
        ASSERT_EQ(static_cast<int>(s.x.size()), nt);
        double worst = 0.0;
        for (int i = 0; i < nt; ++i) worst = std::max(worst, std::fabs(s.x[i] - want(i)));
        EXPECT_LT(worst, 1e-10 * want.cwiseAbs().maxCoeff()) << (backward ? "backward" : "forward");
        EXPECT_LE(worst, norm * s.residual + 1e-15 * want.cwiseAbs().maxCoeff());
        EXPECT_LE(s.change, 1e-13);
    }
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

// A block of 1500 states (beyond the dense elimination) with arcs to the
// next three states, back to the previous one, and exits from every tenth
// state: the sparse elimination fills within the band and must agree with
// the dense one; a budget below the band's fill is refused.
TEST(SparseBlockElimination, BandedBlockMatchesDenseEliminationAndHonoursItsBudget) {
    const int nt = 1500;
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> rate(0.5, 3.0);
    std::vector<SparseArc> arcs;
    for (int i = 0; i < nt; ++i) {
        for (int d = 1; d <= 3; ++d)
            if (i + d < nt) arcs.push_back({i, i + d, rate(gen)});
        if (i > 0) arcs.push_back({i, i - 1, rate(gen)});
        if (i % 10 == 9 || i == nt - 1) arcs.push_back({i, nt, rate(gen)});
    }
    const SparseChain t = setupsp(nt + 1, static_cast<std::int64_t>(arcs.size()),
                                  [&](std::int64_t k) { return arcs[static_cast<size_t>(k)]; });
    std::optional<SparseBlockElimination> sparse = SparseBlockElimination::build(t, nt, kSparseGthFill);
    ASSERT_TRUE(sparse.has_value());
    const BlockElimination dense(t, nt);
    std::vector<double> b(static_cast<size_t>(nt));
    for (int i = 0; i < nt; ++i) b[static_cast<size_t>(i)] = 1.0 + (i % 5);
    const std::vector<double> xs = sparse->solve(b), xd = dense.solve(b);
    for (int i = 0; i < nt; i += 37) EXPECT_NEAR(xs[static_cast<size_t>(i)], xd[static_cast<size_t>(i)], 1e-11 * xd[static_cast<size_t>(i)]) << i;
    // Residual of A x = b, A = diag(outflow) - rates within the block.
    std::vector<double> ax(static_cast<size_t>(nt), 0.0);
    for (const SparseArc& a : arcs) {
        ax[static_cast<size_t>(a.from)] += a.value * xs[static_cast<size_t>(a.from)];
        if (a.to < nt) ax[static_cast<size_t>(a.from)] -= a.value * xs[static_cast<size_t>(a.to)];
    }
    for (int i = 0; i < nt; ++i) EXPECT_NEAR(ax[static_cast<size_t>(i)], b[static_cast<size_t>(i)], 1e-9 * b[static_cast<size_t>(i)]) << i;
    // A budget below the block's own arcs is refused.
    std::int64_t inside = 0;
    for (const SparseArc& a : arcs) inside += a.to < nt;
    EXPECT_TRUE(SparseBlockElimination::build(t, nt, inside).has_value());
    EXPECT_FALSE(SparseBlockElimination::build(t, nt, inside - 1).has_value());
}

// An absorbing birth-death chain of 20000 states (birth 2, death 1,
// reflecting at 0, absorbed at the top): the step from k to k + 1 takes
// 1 - 2^-(k+1) on average, so the mean is N - 1 + 2^-N. Sweeps would need
// about as many passes as states; the sparse elimination answers at once.
TEST(TargetMoments, LongPathChainIsEliminatedSparsely) {
    const int n = 20000;
    std::vector<ChainArc> arcs;
    for (int k = 0; k < n; ++k) arcs.push_back({k, k + 1, 2.0});
    for (int k = 1; k < n; ++k) arcs.push_back({k, k - 1, 1.0});
    std::vector<double> start(static_cast<size_t>(n) + 1, 0.0);
    start[0] = 1.0;
    TargetMoments m = moments(n + 1, arcs, start, {n});
    EXPECT_NEAR(m.hit.value, 1.0, 1e-12);
    expect_close(m.first, n - 1.0, 1e-10, "first");
    GuardedMoments c = continuous_target_moments(m);
    EXPECT_TRUE(c.variance.finite());
    EXPECT_GT(c.variance.value, 0.0);
}

}  // namespace
}  // namespace corvel
