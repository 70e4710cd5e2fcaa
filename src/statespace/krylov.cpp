// Steady state by preconditioned BiCGSTAB (Eigen's sparse iterative solver).
//
// The balance equations Q^T x = 0 are singular; the last one is replaced by
// the normalisation sum x = 1, which makes the system regular for an
// irreducible chain. The preconditioner is an incomplete LU factorisation
// without fill on the matrix's own pattern: the leading blocks of Q^T are
// nonsingular M-matrices, so its pivots do not vanish in exact arithmetic;
// when one does numerically, the diagonal (Jacobi) takes its place.

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <limits>

#include "statespace/sor.h"
#include "symbols/errors.h"
#include "symbols/output.h"

namespace corvel {

namespace {

using SpMat = Eigen::SparseMatrix<double, Eigen::RowMajor, int>;

// Q^T with its diagonal, rows in the order of `m`, the last row all ones.
SpMat normalised_system(const SparseChain& m, const std::vector<double>& d) {
    const int n = m.n;
    SpMat a(n, n);
    std::int64_t total = 0;
    for (int i = 0; i + 1 < n; ++i) {
        bool diagonal_stored = false;
        for (std::int64_t k = m.rowptr[i]; k < m.rowptr[i + 1]; ++k) diagonal_stored |= m.colind[k] == i;
        total += m.rowptr[i + 1] - m.rowptr[i] + (diagonal_stored ? 0 : 1);
    }
    total += n;
    if (total > std::numeric_limits<int>::max()) return SpMat();
    a.resizeNonZeros(static_cast<Eigen::Index>(total));
    int* outer = a.outerIndexPtr();
    int* inner = a.innerIndexPtr();
    double* val = a.valuePtr();
    int at = 0;
    outer[0] = 0;
    for (int i = 0; i + 1 < n; ++i) {
        bool placed = false;
        auto put_diagonal = [&](double extra) {
            inner[at] = i;
            val[at] = d[static_cast<std::size_t>(i)] + extra;
            ++at;
            placed = true;
        };
        for (std::int64_t k = m.rowptr[i]; k < m.rowptr[i + 1]; ++k) {
            const int c = m.colind[k];
            if (c == i) {
                put_diagonal(m.q[k]);  // a stored return to the state folds into its diagonal
                continue;
            }
            if (c > i && !placed) put_diagonal(0.0);
            inner[at] = c;
            val[at] = m.q[k];
            ++at;
        }
        if (!placed) put_diagonal(0.0);
        outer[i + 1] = at;
    }
    for (int j = 0; j < n; ++j) {
        inner[at] = j;
        val[at] = 1.0;
        ++at;
    }
    outer[n] = at;
    return a;
}

// Incomplete LU without fill, on the pattern of the row-major matrix it is
// computed from (which must outlive it). L has a unit diagonal; both factors
// share one value array. The last row (the normalisation) keeps only its
// diagonal: eliminating it would build multipliers that grow like the
// inverse probabilities (2^k on a birth-death chain) and overflow, while the
// factors of the balance rows alone are exact where the chain allows.
class Ilu0 {
public:
    using StorageIndex = int;
    enum { ColsAtCompileTime = Eigen::Dynamic, MaxColsAtCompileTime = Eigen::Dynamic };

    template <class Mat>
    Ilu0& analyzePattern(const Mat&) {
        return *this;
    }

    template <class Mat>
    Ilu0& factorize(const Mat& a) {
        n_ = static_cast<int>(a.rows());
        outer_ = a.outerIndexPtr();
        inner_ = a.innerIndexPtr();
        lu_.assign(a.valuePtr(), a.valuePtr() + a.nonZeros());
        diag_.assign(static_cast<std::size_t>(n_), -1);
        ok_ = true;
        std::vector<int> pos(static_cast<std::size_t>(n_), -1);
        for (int i = 0; i < n_ && ok_; ++i) {
            for (int p = outer_[i]; p < outer_[i + 1]; ++p) {
                pos[static_cast<std::size_t>(inner_[p])] = p;
                if (inner_[p] == i) diag_[static_cast<std::size_t>(i)] = p;
            }
            if (diag_[static_cast<std::size_t>(i)] < 0) ok_ = false;
            if (i == n_ - 1 && ok_) {
                for (int p = outer_[i]; p < diag_[static_cast<std::size_t>(i)]; ++p) lu_[static_cast<std::size_t>(p)] = 0.0;
            }
            for (int p = outer_[i]; p < outer_[i + 1] && ok_ && i < n_ - 1; ++p) {
                const int k = inner_[p];
                if (k >= i) break;
                const double pivot = lu_[static_cast<std::size_t>(diag_[static_cast<std::size_t>(k)])];
                const double f = lu_[static_cast<std::size_t>(p)] / pivot;
                lu_[static_cast<std::size_t>(p)] = f;
                if (f == 0.0) continue;
                for (int q = diag_[static_cast<std::size_t>(k)] + 1; q < outer_[k + 1]; ++q) {
                    const int at = pos[static_cast<std::size_t>(inner_[q])];
                    if (at >= 0) lu_[static_cast<std::size_t>(at)] -= f * lu_[static_cast<std::size_t>(q)];
                }
            }
            if (ok_) {
                const double u = lu_[static_cast<std::size_t>(diag_[static_cast<std::size_t>(i)])];
                if (!std::isfinite(u) || u == 0.0) ok_ = false;
            }
            for (int p = outer_[i]; p < outer_[i + 1]; ++p) pos[static_cast<std::size_t>(inner_[p])] = -1;
        }
        return *this;
    }

    template <class Mat>
    Ilu0& compute(const Mat& a) {
        return factorize(a);
    }

    Eigen::ComputationInfo info() const { return ok_ ? Eigen::Success : Eigen::NumericalIssue; }

    template <class Rhs>
    Eigen::VectorXd solve(const Eigen::MatrixBase<Rhs>& b) const {
        Eigen::VectorXd y = b;
        for (int i = 0; i < n_; ++i) {
            double s = y[i];
            for (int p = outer_[i]; p < diag_[static_cast<std::size_t>(i)]; ++p) s -= lu_[static_cast<std::size_t>(p)] * y[inner_[p]];
            y[i] = s;
        }
        for (int i = n_ - 1; i >= 0; --i) {
            const int dp = diag_[static_cast<std::size_t>(i)];
            double s = y[i];
            for (int p = dp + 1; p < outer_[i + 1]; ++p) s -= lu_[static_cast<std::size_t>(p)] * y[inner_[p]];
            y[i] = s / lu_[static_cast<std::size_t>(dp)];
        }
        return y;
    }

private:
    int n_ = 0;
    const int* outer_ = nullptr;
    const int* inner_ = nullptr;
    std::vector<double> lu_;
    std::vector<int> diag_;
    bool ok_ = false;
};

// The test of `sor` applied to x: the largest change one Gauss-Seidel step
// (Jacobi form) would make, relative to the largest component.
double step_change(const SparseChain& m, const std::vector<double>& d, const std::vector<double>& x) {
    double worst = 0.0, largest = 0.0;
    for (int i = 0; i < m.n; ++i) {
        largest = std::max(largest, x[static_cast<std::size_t>(i)]);
        if (d[static_cast<std::size_t>(i)] == 0.0) continue;
        double sum = 0.0;
        for (std::int64_t k = m.rowptr[i]; k < m.rowptr[i + 1]; ++k) sum += m.q[k] * x[static_cast<std::size_t>(m.colind[k])];
        const double s = -sum - d[static_cast<std::size_t>(i)] * x[static_cast<std::size_t>(i)];
        worst = std::max(worst, std::fabs(s / d[static_cast<std::size_t>(i)]));
    }
    return worst / std::max(1e-25, largest);
}

// Small negative or denormal components (rounding) become 0, as in the
// sweeps; then the vector is scaled to sum 1. False when nothing is left.
bool clean(std::vector<double>& x) {
    double sum = 0.0;
    for (double& v : x) {
        if (!(v >= 1e-30)) v = 0.0;
        sum += v;
    }
    if (!(sum > 0.0) || !std::isfinite(sum)) return false;
    for (double& v : x) v /= sum;
    return true;
}

struct Attempt {
    bool ok = false;
    int iterations = 0;
    double change = 0.0;
};

template <class Pre>
Attempt run(const SpMat& a, const SparseChain& m, const std::vector<double>& d, double tolerance,
            std::vector<double>& x, bool& factor_ok) {
    Attempt r;
    Eigen::BiCGSTAB<SpMat, Pre> solver;
    solver.setMaxIterations(std::max<Eigen::Index>(100, std::min<Eigen::Index>(20000, 2 * a.rows())));
    solver.compute(a);
    factor_ok = solver.preconditioner().info() == Eigen::Success;
    if (!factor_ok) return r;
    Eigen::VectorXd b = Eigen::VectorXd::Zero(a.rows());
    b[a.rows() - 1] = 1.0;
    Eigen::VectorXd guess = Eigen::Map<const Eigen::VectorXd>(x.data(), a.rows());
    double target = tolerance;
    // The residual target tightens when the answer fails the check.
    for (int round = 0; round < 3; ++round, target *= 1e-2) {
        solver.setTolerance(target);
        Eigen::VectorXd y = solver.solveWithGuess(b, guess);
        r.iterations += static_cast<int>(solver.iterations());
        if (!y.allFinite()) return r;
        guess = y;
        std::vector<double> v(y.data(), y.data() + y.size());
        if (!clean(v)) continue;
        r.change = step_change(m, d, v);
        if (r.change <= tolerance) {
            x = std::move(v);
            r.ok = true;
            return r;
        }
        if (solver.info() != Eigen::Success && solver.iterations() >= solver.maxIterations()) break;
    }
    return r;
}

}  // namespace

SorResult bicgstab_steady_state(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io) {
    const int n = m.n;
    SorResult res;
    x.assign(static_cast<std::size_t>(n), n > 0 ? 1.0 / n : 0.0);
    if (n == 0) return res;
    if (n == 1) {
        x[0] = 1.0;
        res.converged = true;
        return res;
    }
    std::vector<double> d(static_cast<std::size_t>(n), 0.0);
    for (std::int64_t k = 0; k < m.nonzeros(); ++k) d[static_cast<std::size_t>(m.colind[k])] -= m.q[k];
    const SpMat a = normalised_system(m, d);
    const bool talk = io.verbose && io.out;
    Attempt at;
    bool factor_ok = false;
    const char* pre = "incomplete LU";
    if (a.rows() == n) {
        at = run<Ilu0>(a, m, d, tolerance, x, factor_ok);
        if (!factor_ok) {
            pre = "Jacobi";
            at = run<Eigen::DiagonalPreconditioner<double>>(a, m, d, tolerance, x, factor_ok);
        }
    }
    if (at.ok) {
        res.iterations = at.iterations;
        res.converged = true;
        res.last_change = at.change;
        if (talk) io.out->printf("BiCGSTAB with %s converged after %d iterations\n", pre, at.iterations);
        return res;
    }
    // The sweeps always reach an answer (or report why not).
    if (talk)
        io.out->printf("BiCGSTAB with %s did not converge after %d iterations; solving by SOR\n", pre, at.iterations);
    return sor(m, tolerance, x, io);
}

}  // namespace corvel
