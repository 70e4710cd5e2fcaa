// The dense eigen-decomposition route of the closed forms (see
// phase_type.h): a diagonalisation of the transient block (symmetric when
// the block is reversible, see ph_diagonal.h; the real Schur form and
// pseudo-eigenvectors otherwise), and the coefficients of every position in
// O(n^2) from it. Its check compares with uniformization of the block
// (sparse, cheap at the fast and middle time scales) and with the
// fundamental matrix, which holds the integrals of the transient
// probabilities (the slow time scales).

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <Eigen/Sparse>
#include <Eigen/SparseLU>

#include "expo/guarded.h"
#include "statespace/dense_schur.h"
#include "statespace/ph_diagonal.h"
#include "statespace/phase_type.h"

namespace corvel {

namespace {

// Reference steps of the check: times whose Poisson range is longer are
// left to the fundamental-matrix part of the check.
constexpr double kCheckSteps = 20000.0;

// p0·e^(A·t) by uniformization over the nonzero entries of the block, or
// false when Λt is beyond kCheckSteps.
class SparseTransient {
public:
    explicit SparseTransient(const PhBlock& b) : n_(b.size()) {
        for (int i = 0; i < b.nt; ++i) rate_ = std::max(rate_, -b.a(i, i));
        lambda_ = 1.05 * rate_;
        std::vector<Eigen::Triplet<double>> t;
        for (int i = 0; i < b.nt; ++i)
            for (int j = 0; j < n_; ++j)
                if (b.a(i, j) != 0.0 && i != j) t.emplace_back(j, i, b.a(i, j) / lambda_);
        step_.resize(n_, n_);
        step_.setFromTriplets(t.begin(), t.end());
        diag_ = Eigen::VectorXd::Ones(n_);
        for (int i = 0; i < b.nt; ++i) diag_(i) = 1.0 + b.a(i, i) / lambda_;
    }
    // out[i] = p0·e^(A·times[i]), empty when Λt is beyond kCheckSteps. One
    // pass of the iterates p0·P^k serves every time; each time's sum adds
    // its own Poisson weights in the order of k.
    void operator()(const Eigen::VectorXd& p0, const std::vector<double>& times, std::vector<Eigen::VectorXd>& out) const {
        out.assign(times.size(), Eigen::VectorXd());
        if (!(rate_ > 0.0)) {
            for (Eigen::VectorXd& o : out) o = p0;
            return;
        }
        std::vector<double> lt(times.size());
        std::vector<long> last(times.size(), -1);
        long steps = -1;
        for (size_t i = 0; i < times.size(); ++i) {
            lt[i] = lambda_ * times[i];
            if (!(lt[i] <= kCheckSteps)) continue;
            // The tail beyond the last weight is below 1e-16 of the mass.
            last[i] = static_cast<long>(lt[i] + 12.0 * std::sqrt(lt[i]) + 40.0);
            out[i] = Eigen::VectorXd::Zero(n_);
            steps = std::max(steps, last[i]);
        }
        Eigen::VectorXd pi = p0, next(n_);
        for (long k = 0; k <= steps; ++k) {
            for (size_t i = 0; i < times.size(); ++i) {
                if (k > last[i]) continue;
                // Poisson weights from k = 0 in the log domain.
                const double w = std::exp(-lt[i] + static_cast<double>(k) * std::log(lt[i]) -
                                          std::lgamma(static_cast<double>(k) + 1.0));
                out[i] += w * pi;
            }
            next = step_ * pi;
            next += diag_.cwiseProduct(pi);
            pi.swap(next);
        }
    }

private:
    int n_;
    double rate_ = 0.0, lambda_ = 1.0;
    Eigen::SparseMatrix<double> step_;  // transposed off-diagonal part of P = I + A/Λ
    Eigen::VectorXd diag_;
};

// Balancing by powers of 2 (no rounding): B = D^(-1)·A·D with every row
// and column of B of about the same size. Chains whose rates change
// steadily along a path (a birth-death chain with births twice the deaths)
// have eigenvectors graded over hundreds of decades; on the balanced block
// they are of one size and the decomposition keeps their digits. The
// factors stay within 2^(±400), far inside the double range.
Eigen::VectorXd balance(Eigen::MatrixXd& b) {
    const Eigen::Index n = b.rows();
    Eigen::VectorXd d = Eigen::VectorXd::Ones(n);
    for (int sweep = 0; sweep < 100; ++sweep) {
        bool changed = false;
        for (Eigen::Index i = 0; i < n; ++i) {
            double c = b.col(i).cwiseAbs().sum() - std::fabs(b(i, i));
            double r = b.row(i).cwiseAbs().sum() - std::fabs(b(i, i));
            if (c == 0.0 || r == 0.0) continue;
            const double s = c + r;
            double f = 1.0;
            while (c < r / 2.0 && d(i) * f < 0x1p400) {
                f *= 2.0;
                c *= 4.0;
            }
            while (c >= r * 2.0 && d(i) * f > 0x1p-400) {
                f /= 2.0;
                c /= 4.0;
            }
            if (f != 1.0 && (c + r) / f < 0.95 * s) {
                d(i) *= f;
                b.row(i) /= f;
                b.col(i) *= f;
                changed = true;
            }
        }
        if (!changed) break;
    }
    return d;
}


// The general route: balancing, then the real Schur form and the
// pseudo-eigenvectors of B = D^(-1)·A·D, B = V_r·Λ_r·V_r^(-1) with Λ_r
// block diagonal. A complex pair at k, k+1 has the eigenvectors
// V_r e_k ± i·V_r e_(k+1) and the rows (r_k ∓ i·r_(k+1))/2 of V^(-1). Those
// of A_TT = D·B·D^(-1) are D·V and V^(-1)·D^(-1): the factors go to the
// start vector and the columns. False when the iterations fail.
bool general_diagonal(Eigen::MatrixXd att, const Eigen::VectorXd& p0t, PhDiagonal& out) {
    const int nt = static_cast<int>(att.rows());
    const Eigen::VectorXd d = balance(att);
    Eigen::MatrixXd t, z;
    if (!real_schur(att, t, z)) return false;
    out.lam = schur_eigenvalues(t);
    for (Eigen::Index k = 0; k < out.lam.size(); ++k)
        if (!std::isfinite(out.lam(k).real()) || !std::isfinite(out.lam(k).imag())) return false;
    // V_r = Z·Y is never formed: its inverse is Y^(-1)·Z^T, and the start
    // vector needs only (p0·D)·Z·Y.
    const Eigen::MatrixXd y = schur_pseudo_eigenvectors(t, out.lam);
    const Eigen::MatrixXd wr = schur_eigenvector_inverse(t, y, z) * d.cwiseInverse().asDiagonal();
    const Eigen::RowVectorXd ar = (p0t.cwiseProduct(d).transpose() * z) * y;
    out.a.resize(nt);
    out.w.resize(nt, nt);
    for (int k = 0; k < nt; ++k) {
        if (out.lam(k).imag() != 0.0 && k + 1 < nt) {
            out.a(k) = cplx(ar(k), ar(k + 1));
            out.a(k + 1) = std::conj(out.a(k));
            out.w.row(k) = 0.5 * (wr.row(k).cast<cplx>() - cplx(0.0, 1.0) * wr.row(k + 1).cast<cplx>());
            out.w.row(k + 1) = out.w.row(k).conjugate();
            ++k;
        } else {
            out.a(k) = ar(k);
            out.w.row(k) = wr.row(k).cast<cplx>();
        }
    }
    return true;
}

// What the fundamental matrix N = (−A_TT)^(-1) gives, independently of the
// eigenvalues: the integrals p0_T·N of the transient probabilities and the
// absorption probabilities G = N·A_TA. Sparse LU (a chain's block has few
// arcs per state), dense LU when the sparse one finds the block singular.
struct Fundamental {
    Eigen::VectorXd integral;
    Eigen::MatrixXd g;
};

Fundamental fundamental(const PhBlock& b, const Eigen::VectorXd& p0t) {
    const int nt = b.nt, na = b.size() - b.nt;
    Fundamental f;
    const Eigen::MatrixXd exits = b.a.block(0, nt, nt, na);
    std::vector<Eigen::Triplet<double>> t;
    for (int j = 0; j < nt; ++j)
        for (int i = 0; i < nt; ++i)
            if (b.a(i, j) != 0.0) t.emplace_back(i, j, -b.a(i, j));
    Eigen::SparseMatrix<double> m(nt, nt);
    m.setFromTriplets(t.begin(), t.end());
    m.makeCompressed();
    Eigen::SparseLU<Eigen::SparseMatrix<double>> lu;
    lu.compute(m);
    if (lu.info() == Eigen::Success) {
        f.integral = lu.transpose().solve(p0t);
        f.g = lu.solve(exits);
        if (f.integral.allFinite() && f.g.allFinite()) return f;
    }
    const Eigen::PartialPivLU<Eigen::MatrixXd> dense(-b.a.topLeftCorner(nt, nt));
    f.integral = dense.transpose().solve(p0t);
    f.g = dense.solve(exits);
    return f;
}

// The closed forms of every position from a diagonalisation of the block
// divided by sigma, and their check against the transient solution and the
// fundamental matrix.
PhExpansion assemble(const PhBlock& b, const Eigen::VectorXd& p0, PhDiagonal d, double sigma, const Fundamental* f,
                     const SparseTransient& reference) {
    PhExpansion x;
    const int nt = b.nt, n = b.size(), na = n - nt;
    const bool closed = na == 0;
    if (closed) {
        // The generator of a closed chain is singular: its eigenvalue of
        // least modulus is 0 up to rounding (the steady-state pole).
        Eigen::Index least = 0;
        for (Eigen::Index k = 1; k < d.lam.size(); ++k)
            if (std::abs(d.lam(k)) < std::abs(d.lam(least))) least = k;
        d.lam(least) = 0.0;
    }
    // One pole per eigenvalue (real ones have no imaginary part left), and 0
    // for the absorbing positions.
    for (int k = 0; k < nt; ++k) {
        cplx v = d.lam(k) * sigma;
        if (std::fabs(v.imag()) < 1e-14 * std::abs(v)) v.imag(0.0);
        x.eig.push_back({v, 1});
        x.entries.push_back({k, 1});
    }
    if (!closed) {
        x.eig.push_back({0.0, 1});
        x.entries.push_back({nt, 1});
    }
    const auto entries = static_cast<Eigen::Index>(x.entries.size());
    x.coef = Eigen::MatrixXcd::Zero(n, entries);
    // Transient positions: a_k·W(k, j).
    x.coef.topLeftCorner(nt, nt) = (d.a.asDiagonal() * d.w).transpose();
    if (!closed) {
        // Absorbing position q: p0_q + ∫ p_T·r_q, with r_q the rates into it:
        // terms a_k·(W·r_q)_k·(e^(λ_k t) − 1)/λ_k. With g_q = (−A_TT)^(-1)·r_q
        // (the probability of ending in q from each transient state) the
        // coefficient a_k·(W·r_q)_k/λ_k is −a_k·(W·g_q)_k: the same number,
        // but the closed form is then exactly p0_q at t = 0 and exactly the
        // absorption probability p0_q + p0_T·g_q at infinity, whatever the
        // rounding of slow eigenvalues.
        const Eigen::MatrixXcd wg = d.w * f->g.cast<cplx>();
        for (int q = 0; q < na; ++q) {
            for (int k = 0; k < nt; ++k) x.coef(nt + q, k) = -d.a(k) * wg(k, q);
            x.coef(nt + q, nt) = p0(nt + q) + p0.head(nt).dot(f->g.col(q));
        }
    }
    for (Eigen::Index i = 0; i < x.coef.size(); ++i)
        if (!std::isfinite(x.coef(i).real()) || !std::isfinite(x.coef(i).imag())) x.coef(i) = INFINITY;
    ph_check_expansion(b, p0, x, [&](const std::vector<double>& times, std::vector<Eigen::VectorXd>& out) {
        reference(p0, times, out);
    });
    // The integrals of the transient positions' closed forms, −Σ c/λ, against
    // the fundamental matrix: the slow time scales that uniformization
    // cannot reach.
    if (!closed) {
        for (int j = 0; j < nt; ++j) {
            cplx sum = 0.0;
            double mag = std::fabs(f->integral(j));
            for (int k = 0; k < nt; ++k) {
                const cplx term = -x.coef(j, k) / x.eig[static_cast<size_t>(k)].value;
                sum += term;
                mag += modulus(term);
            }
            const double off = std::fabs(sum.real() - f->integral(j));
            const double floor = 16.0 * kUnitRoundoff * nt * mag;
            double& e = x.error[static_cast<size_t>(j)];
            if (!std::isfinite(off)) e = INFINITY;
            else if (off > floor) e = std::max(e, off / std::max(mag, 1e-300));
        }
    }
    x.ok = true;
    return x;
}

// Whether an expansion's check found every coefficient finite.
bool finite_check(const PhExpansion& x) {
    if (!std::isfinite(x.value_error)) return false;
    for (double e : x.error)
        if (!std::isfinite(e)) return false;
    return true;
}

}  // namespace

PhExpansion ph_dense_expansion(const PhBlock& b, const Eigen::VectorXd& p0, const PhTrace& trace) {
    const int nt = b.nt, n = b.size();
    if (nt == 0) {
        // Nothing moves: every position keeps its starting probability.
        PhExpansion x;
        x.eig.push_back({0.0, 1});
        x.entries.push_back({0, 1});
        x.coef = p0.cast<cplx>();
        x.error.assign(static_cast<size_t>(n), 0.0);
        x.ok = true;
        return x;
    }
    // In time units where the rates are of order 1 (exact: a power of 2).
    const double sigma = ph_rate_scale(b);
    const Eigen::MatrixXd att = b.a.topLeftCorner(nt, nt) / sigma;
    const Eigen::VectorXd p0t = p0.head(nt);
    Fundamental f;
    if (nt < n) f = fundamental(b, p0t);
    const SparseTransient reference(b);
    if (trace.out && trace.verbose) trace.out->printf("NOTE: dense eigen-decomposition of %d transient states\n", nt);
    PhDiagonal d;
    if (ph_reversible_diagonal(att, p0t, d)) {
        // Its eigenvectors are orthonormal and found to the rounding of
        // the entries, so its coefficients are as accurate as the closed form
        // itself allows: where it cancels (weights growing steeply from the
        // start) the general route cancels as much, and the check reports
        // it. Only a form that overflowed is tried again.
        PhExpansion x = assemble(b, p0, std::move(d), sigma, &f, reference);
        if (finite_check(x)) return x;
    }
    if (!general_diagonal(att, p0t, d)) {
        PhExpansion failed;
        failed.eigen_failed = true;
        return failed;
    }
    return assemble(b, p0, std::move(d), sigma, &f, reference);
}

}  // namespace corvel
