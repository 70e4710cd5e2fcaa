#include "statespace/sor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "symbols/errors.h"
#include "symbols/output.h"

namespace corvel {
namespace {

// Small dense reference solver: Gaussian elimination with partial pivoting
// on a row-major n x n matrix.
std::vector<double> dense_solve(int n, std::vector<double> a, std::vector<double> b) {
    for (int p = 0; p < n; ++p) {
        int best = p;
        for (int i = p + 1; i < n; ++i)
            if (std::fabs(a[i * n + p]) > std::fabs(a[best * n + p])) best = i;
        for (int j = 0; j < n; ++j) std::swap(a[p * n + j], a[best * n + j]);
        std::swap(b[p], b[best]);
        for (int i = p + 1; i < n; ++i) {
            double f = a[i * n + p] / a[p * n + p];
            for (int j = p; j < n; ++j) a[i * n + j] -= f * a[p * n + j];
            b[i] -= f * b[p];
        }
    }
    std::vector<double> x(n);
    for (int i = n - 1; i >= 0; --i) {
        double s = b[i];
        for (int j = i + 1; j < n; ++j) s -= a[i * n + j] * x[j];
        x[i] = s / a[i * n + i];
    }
    return x;
}

SparseChain chain_of_arcs(int n, const std::vector<SparseArc>& arcs) {
    return setupsp(n, static_cast<std::int64_t>(arcs.size()), [&](std::int64_t k) { return arcs[k]; });
}

// Independent reference: pi Q = 0, sum pi = 1, by a dense solve with one
// balance equation replaced by the normalization.
std::vector<double> dense_steady_state(int n, const std::vector<SparseArc>& arcs) {
    std::vector<double> qt(static_cast<size_t>(n) * n, 0.0), rhs(n, 0.0);
    for (const SparseArc& a : arcs) {
        qt[a.to * n + a.from] += a.value;
        qt[a.from * n + a.from] -= a.value;
    }
    for (int j = 0; j < n; ++j) qt[(n - 1) * n + j] = 1.0;
    rhs[n - 1] = 1.0;
    return dense_solve(n, qt, rhs);
}

TEST(Setupsp, RowsHoldIncomingArcsSortedByColumnAndSkipZeroRates) {
    std::vector<SparseArc> arcs = {{2, 0, 1.5}, {1, 0, 2.0}, {0, 1, 3.0}, {0, 2, 0.0}, {1, 2, 4.0}, {2, 0, 0.5}};
    SparseChain m = chain_of_arcs(3, arcs);
    ASSERT_EQ(m.rowptr, (std::vector<std::int64_t>{0, 3, 4, 5}));
    EXPECT_EQ(m.colind, (std::vector<int>{1, 2, 2, 0, 1}));
    EXPECT_EQ(m.q, (std::vector<double>{2.0, 1.5, 0.5, 3.0, 4.0}));
    EXPECT_EQ(state_without_outflow(m), -1);
    SparseChain absorbing = chain_of_arcs(3, {{0, 1, 1.0}, {1, 2, 1.0}});
    EXPECT_EQ(state_without_outflow(absorbing), 2);
}

TEST(Setupsp, IndexOutsideTheChainIsInternalError186) {
    std::string text;
    Output out(&text);
    ErrorReporter err(out);
    std::vector<SparseArc> arcs = {{0, 5, 1.0}};
    EXPECT_THROW(setupsp(2, 1, [&](std::int64_t k) { return arcs[k]; }, &err), ProgramExit);
    EXPECT_EQ(text, "internal error: array index out of bounds: array colind, max 3, index 10\n");
}

TEST(Sor, TwoStateChainMatchesClosedForm) {
    const double a = 0.3, b = 2.0;
    SparseChain m = chain_of_arcs(2, {{0, 1, a}, {1, 0, b}});
    std::vector<double> x;
    SorResult r = sor(m, 1e-7, x, SolverIo{});
    ASSERT_TRUE(r.converged);
    EXPECT_NEAR(x[0], b / (a + b), 1e-9);
    EXPECT_NEAR(x[1], a / (a + b), 1e-9);
    EXPECT_DOUBLE_EQ(x[0] + x[1], 1.0);
    EXPECT_EQ(r.products, static_cast<std::int64_t>(r.iterations) * 2);
}

TEST(Sor, RandomIrreducibleChainsMatchDenseSolve) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> rate(0.1, 10.0);
    for (int trial = 0; trial < 5; ++trial) {
        const int n = 8 + trial * 5;
        std::vector<SparseArc> arcs;
        for (int i = 0; i < n; ++i) arcs.push_back({i, (i + 1) % n, rate(gen)});  // a cycle: irreducible
        std::uniform_int_distribution<int> pick(0, n - 1);
        for (int k = 0; k < 3 * n; ++k) {
            int f = pick(gen), t = pick(gen);
            if (f != t) arcs.push_back({f, t, rate(gen)});
        }
        std::vector<double> x;
        SorResult r = sor(chain_of_arcs(n, arcs), 1e-10, x, SolverIo{});
        ASSERT_TRUE(r.converged) << "n=" << n;
        std::vector<double> ref = dense_steady_state(n, arcs);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], ref[i], 1e-7 * std::max(1.0, ref[i])) << i;
        EXPECT_GE(r.omega, 0.9);
        EXPECT_LT(r.omega, 2.0);
    }
}

// Birth-death chain whose rates span 1e-6..1e6: probabilities spread over
// decades (log10 pi_k/pi_0 = k^2 - 13k). The relative-change test of sor
// stops while the small components are still off by orders of magnitude; the
// balance check catches that and the elimination gives every component.
TEST(Sor, StiffChainIsCaughtByBalanceCheckAndResolvedExactly) {
    const int n = 13;
    std::vector<SparseArc> arcs;
    for (int i = 0; i + 1 < n; ++i) {
        arcs.push_back({i, i + 1, std::pow(10.0, -6.0 + i)});
        arcs.push_back({i + 1, i, std::pow(10.0, 6.0 - i)});
    }
    SparseChain m = chain_of_arcs(n, arcs);
    std::vector<double> raw;
    SorResult plain = sor(m, 1e-7, raw, SolverIo{});
    EXPECT_GT(balance_error(m, raw), 1e-3);  // the quiet failure being guarded

    std::vector<double> x;
    SteadyStateResult r = steady_state(m, 1e-7, x, SolverIo{});
    EXPECT_TRUE(r.stable_route);
    EXPECT_FALSE(r.inaccurate);
    EXPECT_LT(r.balance, 1e-12);
    double z = 0.0;
    for (int k = 0; k < n; ++k) z += std::pow(10.0, k * k - 13.0 * k);
    for (int k = 0; k < n; ++k) {
        double expect = std::pow(10.0, k * k - 13.0 * k) / z;
        EXPECT_NEAR(x[k], expect, 1e-12 * expect) << k;
    }
    (void)plain;
}

TEST(Sor, GthMatchesSorOnWellConditionedChainsAndGuardStaysQuiet) {
    std::vector<SparseArc> arcs = {{0, 1, 1.0}, {1, 2, 2.0}, {2, 0, 3.0}, {1, 0, 0.5}};
    SparseChain m = chain_of_arcs(3, arcs);
    std::vector<double> g, x;
    gth_steady_state(m, g);
    SteadyStateResult r = steady_state(m, 1e-10, x, SolverIo{});
    EXPECT_FALSE(r.stable_route);
    std::vector<double> ref = dense_steady_state(3, arcs);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(g[i], ref[i], 1e-14);
        EXPECT_NEAR(x[i], ref[i], 1e-8);
    }
}

// Reflecting birth-death chain, birth 1, death 2: pi_k = 2^-k / Z with Z = 2
// (up to 2^-n). Sweeps in state order move the surplus of the uniform start
// down by about one state per sweep, so the sweeps alone may not settle such
// a long chain; whatever they reach is a normalised vector, and the steady
// state entry still answers exactly through the sparse elimination. Its tail
// underflows past 2^-1074, which must not count as imbalance of the exact
// answer.
TEST(Sor, LongBirthDeathChainIsAnsweredExactlyAndItsUnderflowedTailIsNotImbalance) {
    const int n = 6000;
    std::vector<SparseArc> arcs;
    for (int i = 0; i + 1 < n; ++i) {
        arcs.push_back({i, i + 1, 1.0});
        arcs.push_back({i + 1, i, 2.0});
    }
    SparseChain m = chain_of_arcs(n, arcs);
    std::vector<double> x;
    sor(m, 1e-7, x, SolverIo{});
    double sum = 0.0;
    for (double v : x) {
        EXPECT_GE(v, 0.0);
        sum += v;
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);

    std::vector<double> exact;
    ASSERT_TRUE(sparse_gth_steady_state(m, exact, kSparseGthFill));
    EXPECT_EQ(exact[2000], 0.0);  // underflowed
    EXPECT_GT(exact[1060], 0.0);  // subnormal
    EXPECT_LT(balance_error(m, exact), 1e-13);

    SteadyStateResult s = steady_state(m, 1e-7, x, SolverIo{});
    EXPECT_FALSE(s.inaccurate);
    for (int k = 0; k < 60; ++k) EXPECT_NEAR(x[k], std::ldexp(1.0, -(k + 1)), 1e-12 * std::ldexp(1.0, -(k + 1))) << k;
}

// A chain whose relative change stalls above the tolerance walks the whole
// fallback ladder: 3000 -> Gauss-Seidel, 6000 -> 0.98, 12000 -> message 139.
TEST(Sor, FallbackLadderAndMessage139) {
    const int n = 1000;  // long cycle with uneven rates: mixes far too slowly to stall exactly
    std::vector<SparseArc> arcs;
    for (int i = 0; i < n; ++i) {
        arcs.push_back({i, (i + 1) % n, 1.0 + i % 7});
        arcs.push_back({(i + 1) % n, i, 1.0});
    }
    std::string text;
    Output out(&text);
    ErrorReporter err(out);
    SolverIo io;
    io.err = &err;
    io.out = &out;
    io.verbose = true;
    std::vector<double> x;
    SorResult r = sor(chain_of_arcs(n, arcs), 1e-300, x, io);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(r.iterations, 12001);
    EXPECT_NE(text.find("max iterations: 3000\n"), std::string::npos);
    EXPECT_NE(text.find("SOR switching to omega = 1.000000 after 3001 iterations\n"), std::string::npos);
    EXPECT_NE(text.find("SOR switching to omega = 0.980000 after 6001 iterations\n"), std::string::npos);
    EXPECT_NE(text.find("**** internal consistency check failed:\n    could not solve linear system, iterations: "
                        "12001, relaxation "),
              std::string::npos);
    EXPECT_EQ(text.find("SOR converged"), std::string::npos);
    double sum = 0.0;
    for (double v : x) sum += v;
    EXPECT_NEAR(sum, 1.0, 1e-12);
    for (double v : x) EXPECT_GE(v, 0.0);
}

TEST(GenSor, SolvesRowAndColumnStoredSystemsWithRightHandSide) {
    // Diagonally dominant 4x4 system, solution checked against Eigen.
    const double rows[4][4] = {{4, -1, 0, -1}, {-1, 5, -2, 0}, {0, -1, 3, -1}, {-1, 0, -2, 6}};
    auto dense = [&](int i, int j) { return rows[i][j]; };
    std::vector<double> flat;
    for (auto& row : rows) flat.insert(flat.end(), row, row + 4);
    std::vector<double> ref = dense_solve(4, flat, {1, 2, 3, 4});
    for (MAT_TYPE order : {MAT_ROW2COL, MAT_COL2ROW}) {
        rpci m;
        m.order = order;
        m.first = 0;
        m.last = 3;
        m.diag = {4, 5, 3, 6};
        m.IP.push_back(0);
        for (int o = 0; o < 4; ++o) {
            for (int p = 0; p < 4; ++p) {
                int row = order == MAT_ROW2COL ? o : p, col = order == MAT_ROW2COL ? p : o;
                if (row != col && dense(row, col) != 0.0) {
                    m.JA.push_back(p);
                    m.A.push_back(dense(row, col));
                }
            }
            m.IP.push_back(static_cast<std::int64_t>(m.JA.size()));
        }
        m.entries = static_cast<std::int64_t>(m.JA.size());
        std::vector<double> b = {1, 2, 3, 4}, x;
        int iter = 1000, method = VAL_SSSOR;
        double prec = 1e-12;
        std::string text;
        Output out(&text);
        SolverIo io;
        io.out = &out;
        double omega = GenSor(m, x, &b, nullptr, iter, prec, method, DoNotNormalize, 1.0, io);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(x[i], ref[i], 1e-10) << i;
        EXPECT_LE(prec, 1e-12);
        EXPECT_GT(iter, 0);
        EXPECT_GE(omega, 1.0);
        EXPECT_LT(omega, 2.0);
        EXPECT_EQ(text.rfind("iterations: \t", 0), 0u) << text;
        EXPECT_NE(text.find("SOR operations: "), std::string::npos);
    }
}

TEST(GenSor, MaskLeavesRowsAndColumnsOutAndSumToOneGivesSteadyState) {
    // Q^T x = 0 for a 3-state chain stored by rows of Q^T, states 0..2, plus a
    // masked fourth row that would otherwise pull mass.
    const double a = 1.0, b = 2.0, c = 3.0;  // 0->1 a, 1->2 b, 2->0 c
    rpci m;
    m.first = 0;
    m.last = 3;
    m.diag = {-a, -b, -c, -1.0};
    m.IP = {0, 1, 2, 4, 4};
    m.JA = {2, 0, 1, 3};
    m.A = {c, a, b, 7.0};
    std::vector<double> mask = {1, 1, 1, 0};
    std::vector<double> x = {0.25, 0.25, 0.25, 0.0};
    int iter = 5000, method = VAL_GASEI;
    double prec = 1e-12;
    std::string warn;
    SolverIo io;
    io.warn = &warn;
    GenSor(m, x, nullptr, &mask, iter, prec, method, DoNotNormalize, 1.0, io);
    // Without normalization Gauss-Seidel keeps the scale; compare shapes.
    double s = x[0] + x[1] + x[2];
    ASSERT_GT(s, 0.0);
    double ta = 1 / a, tb = 1 / b, tc = 1 / c, t = ta + tb + tc;
    EXPECT_NEAR(x[0] / s, ta / t, 1e-9);
    EXPECT_NEAR(x[1] / s, tb / t, 1e-9);
    EXPECT_EQ(x[3], 0.0);
    EXPECT_EQ(method, VAL_GASEI);

    std::vector<double> y;
    iter = 5000;
    prec = 1e-12;
    method = VAL_SSSOR;
    GenSor(m, y, nullptr, nullptr, iter, prec, method, SumToOne, 1.0, io);
    // Unmasked, state 3 feeds 0 and 2 but nothing enters it: it drains to 0.
    EXPECT_NEAR(y[0] + y[1] + y[2] + y[3], 1.0, 1e-12);
    EXPECT_NEAR(y[0], ta / t, 1e-8);
    EXPECT_NEAR(y[3], 0.0, 1e-12);
}

TEST(GenSor, NonConvergenceSwitchesMethodsAndReportsError) {
    // Jacobi-unfriendly system with too few sweeps: both switches happen.
    rpci m;
    m.first = 0;
    m.last = 1;
    m.diag = {1.0, 1.0};
    m.IP = {0, 1, 2};
    m.JA = {1, 0};
    m.A = {-0.999, -0.999};
    std::vector<double> b = {1.0, 1.0}, x = {0.0, 0.0};
    int iter = 5, method = VAL_SSSOR;
    double prec = 1e-14;
    std::string warn;
    SolverIo io;
    io.warn = &warn;
    double omega = GenSor(m, x, &b, nullptr, iter, prec, method, DoNotNormalize, 1.0, io);
    EXPECT_EQ(method, VAL_GASEI);
    EXPECT_EQ(omega, 0.98);
    EXPECT_EQ(iter, 15);
    EXPECT_GT(prec, 1e-14);  // the error reached is reported back
    EXPECT_NE(warn.find("WARNING: switching from SOR to Gauss-Seidel!\n"), std::string::npos);
    EXPECT_NE(warn.find("WARNING: switching from Gauss-Seidel to Under Relaxation!\n"), std::string::npos);
}

TEST(GenSor, SumToZeroWithoutWeightsStopsWithAssertion) {
    std::string text;
    Output out(&text);
    ErrorReporter err(out);
    SolverIo io;
    io.err = &err;
    rpci m;
    m.last = 0;
    m.IP = {0, 0};
    m.diag = {1.0};
    std::vector<double> x;
    int iter = 10, method = VAL_GASEI;
    double prec = 1e-6;
    try {
        GenSor(m, x, nullptr, nullptr, iter, prec, method, SumToZero, 1.0, io);
        FAIL() << "expected the assertion";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.status, kExitAssert);
    }
}

TEST(Mttf, SorAndGaussAgreeWithDenseSolve) {
    // Mean time to absorption of a 3-transient-state chain: states 0,1,2
    // transient, 3 absorbing. Rates: 0->1 2, 1->0 1, 1->2 3, 2->3 4, 2->0 0.5.
    // mttfsor form: sum_j a_ij sol_j + d_i sol_i = -rhs_i with a_ij = rate j->i
    // and d_i = -outflow_i: (Q^T restricted) sol = -rhs, i.e. the expected
    // time spent in each state starting from state 0 (rhs = start vector).
    std::vector<std::int64_t> ip = {0, 2, 3, 4, 5};
    std::vector<int> ja = {1, 2, 0, 1, 2};
    std::vector<double> a = {1.0, 0.5, 2.0, 3.0, 4.0};
    std::vector<int> setC = {1, 1, 1, 0};
    std::vector<double> rhs = {1.0, 0.0, 0.0, 0.0}, sol;
    mttfsor(ip, ja, a, setC, 4, sol, rhs, 1e-12, false, false);
    std::vector<double> ref = dense_solve(3, {-2, 1, 0.5, 2, -4, 0, 0, 3, -4.5}, {-1, 0, 0});
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(sol[i], ref[i], 1e-9) << i;

    // (I - h) sol = rhs, h substochastic.
    std::vector<double> h = {0.0, 0.5, 0.2, 0.3, 0.0, 0.4, 0.1, 0.1, 0.0};
    std::vector<double> r2 = {1.0, 2.0, 3.0}, s2;
    mttfygauss(h, 3, s2, r2, false);
    std::vector<double> ih(9);
    for (int i = 0; i < 9; ++i) ih[i] = (i % 4 == 0 ? 1.0 : 0.0) - h[i];
    std::vector<double> ref2 = dense_solve(3, ih, r2);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(s2[i], ref2[i], 1e-12) << i;
}

TEST(VectorHelpers, NormalizeNormsAndErrors) {
    std::vector<double> v = {1.0, 3.0, 4.0, 100.0};
    EXPECT_TRUE(Normalize(v, 0, 2, 1.0));
    EXPECT_DOUBLE_EQ(v[0], 0.125);
    EXPECT_DOUBLE_EQ(v[3], 100.0);  // outside the range
    std::vector<double> bad = {-1.0, 0.5};
    EXPECT_FALSE(Normalize(bad, 0, 1, 1.0));
    std::vector<double> z = {1.0, 2.0}, w = {0.5, 0.5};
    EXPECT_TRUE(Normalize(z, 0, 1, 0.0, w));  // subtracts sum * w
    EXPECT_DOUBLE_EQ(z[0], -0.5);
    EXPECT_DOUBLE_EQ(z[1], 0.5);
    std::vector<double> a = {1.0, -4.0, 0.0}, b = {2.0, -4.0, 0.0};
    EXPECT_DOUBLE_EQ(VectorNormInfinity(a, 0, 2), 4.0);
    EXPECT_DOUBLE_EQ(VectorNormOne(a, 0, 2), 5.0);
    EXPECT_DOUBLE_EQ(VectorAbsoluteError(a, b, 0, 2), 1.0);
    EXPECT_DOUBLE_EQ(VectorRelativeError(a, b, 0, 2), 0.5);
    std::vector<double> u;
    InitVector(INITIAL_UNIF, u, 1, 4);
    EXPECT_EQ(u, (std::vector<double>{0.0, 0.25, 0.25, 0.25, 0.25}));
    InitVector(INITIAL_ONE, u, 1, 4);
    EXPECT_EQ(u, (std::vector<double>{0.0, 1.0, 0.0, 0.0, 0.0}));
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

TEST(SparseGth, AgreesWithDenseEliminationAndKeepsItsBudget) {
    // A random sparse chain (ring for irreducibility plus random arcs with
    // rates over twelve decades).
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, 199);
    std::uniform_real_distribution<double> decade(-6.0, 6.0);
    std::vector<SparseArc> arcs;
    for (int i = 0; i < 200; ++i) arcs.push_back({i, (i + 1) % 200, std::pow(10.0, decade(rng))});
    for (int k = 0; k < 400; ++k) {
        int a = pick(rng), b = pick(rng);
        if (a != b) arcs.push_back({a, b, std::pow(10.0, decade(rng))});
    }
    SparseChain m = chain_of_arcs(200, arcs);
    std::vector<double> dense, sparse;
    gth_steady_state(m, dense);
    ASSERT_TRUE(sparse_gth_steady_state(m, sparse, 1'000'000));
    for (int i = 0; i < 200; ++i) EXPECT_NEAR(sparse[i], dense[i], 1e-12 * dense[i]) << i;
    // Too small a budget for the fill: refused, not truncated.
    EXPECT_FALSE(sparse_gth_steady_state(m, sparse, 10));
    EXPECT_FALSE(sparse_gth_steady_state(m, sparse, 2 * m.nonzeros() + 5));
}

TEST(SparseGth, LargeStiffRingIsRecoveredBeyondTheDenseLimit) {
    // 3000 states, forward rates alternating 1e-6 and 1e6, backward 1e-3:
    // the iteration cannot settle it; the elimination balances every state.
    const int n = 3000;
    std::vector<SparseArc> arcs;
    for (int i = 0; i < n; ++i) {
        arcs.push_back({i, (i + 1) % n, i % 2 ? 1e6 : 1e-6});
        arcs.push_back({(i + 1) % n, i, 1e-3});
    }
    SparseChain m = chain_of_arcs(n, arcs);
    std::vector<double> x;
    SteadyStateResult r = steady_state(m, 1e-7, x, SolverIo{});
    EXPECT_TRUE(r.stable_route);
    EXPECT_FALSE(r.inaccurate);
    EXPECT_LT(balance_error(m, x), 1e-9);
    double sum = 0.0;
    for (double v : x) sum += v;
    EXPECT_NEAR(sum, 1.0, 1e-12);
}

}  // namespace
}  // namespace corvel
