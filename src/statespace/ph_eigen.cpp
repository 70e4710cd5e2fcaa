#include "statespace/ph_eigen.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Eigenvalues>

namespace corvel {

bool eigen_cg(const Eigen::MatrixXd& a, std::vector<cplx>& values) {
    values.clear();
    if (a.rows() == 0) return true;
    Eigen::ComplexSchur<Eigen::MatrixXcd> schur(a.rows());
    schur.compute(a.cast<cplx>(), false);
    if (schur.info() != Eigen::Success) return false;
    const Eigen::MatrixXcd& t = schur.matrixT();
    for (Eigen::Index i = 0; i < t.rows(); ++i) values.push_back(t(i, i));
    return true;
}

bool eigen_new_cg(const Eigen::MatrixXd& a, std::vector<cplx>& values) {
    values.clear();
    if (a.rows() == 0) return true;
    Eigen::EigenSolver<Eigen::MatrixXd> solver(a.rows());
    solver.compute(a, false);
    if (solver.info() != Eigen::Success) return false;
    const Eigen::VectorXcd ev = solver.eigenvalues();
    for (Eigen::Index i = 0; i < ev.size(); ++i) values.push_back(ev(i));
    return true;
}

std::vector<MergedEigen> merge_eigenvalues(const std::vector<cplx>& values, const Tolerances& tol) {
    std::vector<MergedEigen> out;
    std::vector<cplx> sum;
    for (cplx v : values) {
        // An imaginary part negligible against the modulus is rounding noise.
        const double size = std::abs(v);
        if (std::fabs(v.imag()) < tol.epsilon * std::max(1.0, size)) v.imag(0.0);
        bool merged = false;
        for (size_t k = 0; k < out.size(); ++k) {
            const cplx u = out[k].value;
            // 0 (the absorbing pole) is exact and stays apart from the
            // eigenvalues of the transient block, which is never singular.
            if ((u == cplx(0.0)) != (v == cplx(0.0))) continue;
            const double near = tol.sort_epsilon * std::max(std::abs(u), size);
            if (std::fabs(u.real() - v.real()) <= near && std::fabs(u.imag() - v.imag()) <= near) {
                sum[k] += v;
                ++out[k].count;
                const cplx mean = sum[k] / static_cast<double>(out[k].count);
                out[k].value = {mean.real(), u.imag() == 0.0 ? 0.0 : mean.imag()};
                merged = true;
                break;
            }
        }
        if (!merged) {
            out.push_back({v, 1});
            sum.push_back(v);
        }
    }
    return out;
}

double eigen_scale(const std::vector<MergedEigen>& eig) {
    double scale = 1.0;
    for (const MergedEigen& e : eig) scale = std::max(scale, std::abs(e.value));
    return scale;
}

bool hessenberg_solve(Eigen::MatrixXcd g, Eigen::VectorXcd& b) {
    const Eigen::Index n = g.rows();
    for (Eigen::Index k = 0; k + 1 < n; ++k) {
        if (std::abs(g(k + 1, k)) > std::abs(g(k, k))) {
            g.row(k).swap(g.row(k + 1));
            std::swap(b(k), b(k + 1));
        }
        if (g(k, k) == cplx(0.0)) continue;  // column already reduced; singular unless later rows help
        const cplx f = g(k + 1, k) / g(k, k);
        if (f != cplx(0.0)) {
            for (Eigen::Index j = k; j < n; ++j) g(k + 1, j) -= f * g(k, j);
            b(k + 1) -= f * b(k);
        }
    }
    for (Eigen::Index i = n - 1; i >= 0; --i) {
        if (g(i, i) == cplx(0.0)) return false;
        cplx s = b(i);
        for (Eigen::Index j = i + 1; j < n; ++j) s -= g(i, j) * b(j);
        b(i) = s / g(i, i);
        if (!std::isfinite(b(i).real()) || !std::isfinite(b(i).imag())) return false;
    }
    return true;
}

cplx det_over_product(const Eigen::MatrixXcd& m, const std::vector<cplx>& divisors) {
    const Eigen::Index n = m.rows();
    cplx r = 1.0;
    size_t next = 0;
    if (n > 0) {
        Eigen::FullPivLU<Eigen::MatrixXcd> lu(m);
        const Eigen::MatrixXcd& u = lu.matrixLU();
        for (Eigen::Index i = 0; i < n; ++i) {
            r *= u(i, i);
            if (next < divisors.size()) r /= divisors[next++];
        }
        r *= static_cast<double>(lu.permutationP().determinant() * lu.permutationQ().determinant());
    }
    for (; next < divisors.size(); ++next) r /= divisors[next];
    return r;
}

}  // namespace corvel
