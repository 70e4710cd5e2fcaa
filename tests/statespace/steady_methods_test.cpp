#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "statespace/sor.h"
#include "statespace/sweep_matrix.h"
#include "symbols/errors.h"
#include "symbols/output.h"

namespace corvel {
namespace {

SparseChain chain_of_arcs(int n, const std::vector<SparseArc>& arcs) {
    return setupsp(n, static_cast<std::int64_t>(arcs.size()), [&](std::int64_t k) { return arcs[k]; });
}

// Reference: pi Q = 0, sum pi = 1 by dense Gaussian elimination with partial
// pivoting, the last balance equation replaced by the normalisation.
std::vector<double> dense_reference(int n, const std::vector<SparseArc>& arcs) {
    std::vector<double> a(static_cast<size_t>(n) * n, 0.0), b(n, 0.0);
    for (const SparseArc& e : arcs) {
        a[e.to * n + e.from] += e.value;
        a[e.from * n + e.from] -= e.value;
    }
    for (int j = 0; j < n; ++j) a[(n - 1) * n + j] = 1.0;
    b[n - 1] = 1.0;
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

// A cycle through all states (irreducible) plus random chords; the rates are
// drawn from `values` distinct numbers (0: continuous).
std::vector<SparseArc> random_chain(int n, int values, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> rate(0.1, 10.0);
    std::vector<double> pool;
    for (int k = 0; k < values; ++k) pool.push_back(rate(gen));
    auto draw = [&]() {
        if (values == 0) return rate(gen);
        return pool[std::uniform_int_distribution<int>(0, values - 1)(gen)];
    };
    std::vector<SparseArc> arcs;
    for (int i = 0; i < n; ++i) arcs.push_back({i, (i + 1) % n, draw()});
    std::uniform_int_distribution<int> pick(0, n - 1);
    for (int k = 0; k < 3 * n; ++k) {
        int f = pick(gen), t = pick(gen);
        if (f != t) arcs.push_back({f, t, draw()});
    }
    return arcs;
}

// The compact copy keeps every row, every column and every value bit for
// bit, whichever width the codes take; the diagonal is the negative column
// sum of the stored values.
TEST(SweepMatrix, CodesWidenWithTheDistinctValuesAndKeepEveryValueExactly) {
    struct Case {
        int n, values, bytes;
    };
    for (Case c : {Case{50, 4, 1}, Case{400, 300, 2}, Case{30000, 0, 8}}) {
        SparseChain m = chain_of_arcs(c.n, random_chain(c.n, c.values, 11));
        SweepMatrix a = compact_chain(m);
        ASSERT_EQ(a.n, m.n);
        EXPECT_EQ(a.code_bytes, c.bytes) << c.n;
        EXPECT_DOUBLE_EQ(a.bytes_per_arc(), 4.0 + c.bytes);
        ASSERT_EQ(a.nonzeros(), static_cast<std::uint64_t>(m.nonzeros()));
        std::vector<double> out(static_cast<size_t>(m.n), 0.0);
        for (int i = 0; i <= m.n; ++i) ASSERT_EQ(a.rowptr[i], static_cast<std::uint32_t>(m.rowptr[i]));
        for (std::int64_t k = 0; k < m.nonzeros(); ++k) {
            ASSERT_EQ(a.col[k], static_cast<std::uint32_t>(m.colind[k]));
            ASSERT_EQ(a.value(static_cast<std::uint64_t>(k)), m.q[k]) << k;
            out[m.colind[k]] += m.q[k];
        }
        for (int j = 0; j < m.n; ++j) EXPECT_NEAR(a.diag[j], -out[j], 1e-12 * out[j]);
        if (c.values > 0) {
            EXPECT_LE(a.table.size(), static_cast<size_t>(c.values));
        }
    }
}

struct Captured {
    std::string text;
    Output out{&text};
    ErrorReporter err{out};
    SolverIo io;
    explicit Captured(SteadyMethod method) {
        io.err = &err;
        io.out = &out;
        io.verbose = true;
        io.method = method;
    }
};

// Every method solves the same chains to the accuracy its test promises,
// names itself in verbose mode, and leaves a normalised vector.
TEST(SteadyMethods, EveryMethodMatchesTheDenseSolutionAndReportsItself) {
    const char* banner[] = {"SOR converged after ", "Gauss-Seidel converged after ",
                            "BiCGSTAB with incomplete LU converged after "};
    const SteadyMethod methods[] = {SteadyMethod::Sor, SteadyMethod::GaussSeidel, SteadyMethod::Bicgstab};
    for (int trial = 0; trial < 4; ++trial) {
        const int n = 10 + 37 * trial;
        std::vector<SparseArc> arcs = random_chain(n, trial == 3 ? 0 : 5, 100 + trial);
        SparseChain m = chain_of_arcs(n, arcs);
        std::vector<double> ref = dense_reference(n, arcs);
        for (int k = 0; k < 3; ++k) {
            Captured c(methods[k]);
            std::vector<double> x;
            SorResult r = steady_iterate(m, 1e-10, x, c.io);
            ASSERT_TRUE(r.converged) << k << " n=" << n;
            EXPECT_NE(c.text.find(banner[k]), std::string::npos) << c.text;
            double sum = 0.0;
            for (int i = 0; i < n; ++i) {
                EXPECT_NEAR(x[i], ref[i], 1e-7 * ref[i]) << k << " n=" << n << " i=" << i;
                EXPECT_GE(x[i], 0.0);
                sum += x[i];
            }
            EXPECT_NEAR(sum, 1.0, 1e-13);
            EXPECT_LE(r.last_change, 1e-10);
        }
    }
}

// Gauss-Seidel keeps omega 1 for its single phase of 12000 sweeps and then
// reports message 139, as the last rung of the relaxation ladder does.
TEST(SteadyMethods, GaussSeidelHasOnePhaseAndThenMessage139) {
    const int n = 200;
    std::vector<SparseArc> arcs;
    for (int i = 0; i < n; ++i) {
        arcs.push_back({i, (i + 1) % n, 1.0 + i % 7});
        arcs.push_back({(i + 1) % n, i, 1.0});
    }
    Captured c(SteadyMethod::GaussSeidel);
    std::vector<double> x;
    SorResult r = steady_iterate(chain_of_arcs(n, arcs), 1e-300, x, c.io);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(r.iterations, 12001);
    EXPECT_EQ(r.omega, 1.0);
    EXPECT_NE(c.text.find("max iterations: 12000\n"), std::string::npos);
    EXPECT_EQ(c.text.find("setting omega"), std::string::npos);
    EXPECT_EQ(c.text.find("switching"), std::string::npos);
    EXPECT_NE(c.text.find("could not solve linear system, iterations: 12001, relaxation 1.0000000"),
              std::string::npos);
    double sum = 0.0;
    for (double v : x) sum += v;
    EXPECT_NEAR(sum, 1.0, 1e-12);
}

// A long, slowly mixing birth-death chain (birth 1, death 1.002): the sweeps
// move the surplus of the uniform start about one state per sweep, while the
// incomplete factors of a tridiagonal matrix are exact and BiCGSTAB settles
// in a few iterations: pi_k = r^k (1 - r) / (1 - r^n), r = 1 / 1.002.
// With death 2 instead the probabilities span 900 decades; the factors then
// overflow, and the method hands over to the sweeps, which still return a
// normalised vector.
TEST(SteadyMethods, BicgstabSettlesALongBirthDeathChainAndHandsOverWhenItCannot) {
    const int n = 3000;
    auto chain = [n](double death) {
        std::vector<SparseArc> arcs;
        for (int i = 0; i + 1 < n; ++i) {
            arcs.push_back({i, i + 1, 1.0});
            arcs.push_back({i + 1, i, death});
        }
        return chain_of_arcs(n, arcs);
    };
    {
        Captured c(SteadyMethod::Bicgstab);
        std::vector<double> x;
        SorResult r = steady_iterate(chain(1.002), 1e-7, x, c.io);
        ASSERT_TRUE(r.converged);
        EXPECT_LT(r.iterations, 50);
        EXPECT_NE(c.text.find("BiCGSTAB with incomplete LU converged after "), std::string::npos);
        const double ratio = 1.0 / 1.002;
        const double z = (1.0 - std::pow(ratio, n)) / (1.0 - ratio);
        for (int k = 0; k < n; k += 37) EXPECT_NEAR(x[k], std::pow(ratio, k) / z, 1e-6 * std::pow(ratio, k) / z) << k;
    }
    {
        Captured c(SteadyMethod::Bicgstab);
        std::vector<double> x;
        steady_iterate(chain(2.0), 1e-7, x, c.io);
        EXPECT_NE(c.text.find("did not converge"), std::string::npos);
        EXPECT_NE(c.text.find("max iterations: 3000"), std::string::npos);  // the sweeps took over
        double sum = 0.0;
        for (double v : x) sum += v;
        EXPECT_NEAR(sum, 1.0, 1e-12);
    }
}

// The accuracy check behind the methods does not depend on the method: a
// stiff chain whose small components the iteration cannot resolve is
// re-solved by the elimination under BiCGSTAB and Gauss-Seidel alike.
TEST(SteadyMethods, StiffChainGoesThroughTheSameBalanceCheckWhateverTheMethod) {
    const int n = 13;
    std::vector<SparseArc> arcs;
    for (int i = 0; i + 1 < n; ++i) {
        arcs.push_back({i, i + 1, std::pow(10.0, -6.0 + i)});
        arcs.push_back({i + 1, i, std::pow(10.0, 6.0 - i)});
    }
    SparseChain m = chain_of_arcs(n, arcs);
    double z = 0.0;
    for (int k = 0; k < n; ++k) z += std::pow(10.0, k * k - 13.0 * k);
    for (SteadyMethod method : {SteadyMethod::GaussSeidel, SteadyMethod::Bicgstab}) {
        SolverIo io;
        io.method = method;
        std::vector<double> x;
        SteadyStateResult r = steady_state(m, 1e-7, x, io);
        EXPECT_FALSE(r.inaccurate);
        EXPECT_LT(r.balance, 1e-12);
        for (int k = 0; k < n; ++k) {
            double expect = std::pow(10.0, k * k - 13.0 * k) / z;
            EXPECT_NEAR(x[k], expect, 1e-11 * expect) << k;
        }
    }
}

}  // namespace
}  // namespace corvel
