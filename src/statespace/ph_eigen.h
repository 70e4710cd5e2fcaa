#pragma once
// Dense helpers of the symbolic phase-type solution: the two eigenvalue
// routines, the merging of nearly equal eigenvalues, and small complex
// solves (upper Hessenberg elimination, determinants by LU).

#include <complex>
#include <vector>

#include <Eigen/Dense>

#include "symbols/settings.h"

namespace corvel {

using cplx = std::complex<double>;

// |c| by the square root of its norm where that cannot overflow or lose
// digits to underflow (std::abs's scaled hypot elsewhere): the checks of
// large closed forms take millions of moduli.
inline double modulus(const cplx& c) {
    const double n = std::norm(c);
    return n > 1e-290 && n < 1e290 ? std::sqrt(n) : std::abs(c);
}

// Eigenvalues of a real square matrix in the order the routine delivers them
// (the diagonal of the triangular form, top to bottom). False when not all
// eigenvalues were found.
//   eigen_cg:     unitary reduction to Hessenberg form, then complex QR.
//   eigen_new_cg: orthogonal reduction to Hessenberg form, then real QR;
//                 conjugate pairs come positive imaginary part first.
bool eigen_cg(const Eigen::MatrixXd& a, std::vector<cplx>& values);
bool eigen_new_cg(const Eigen::MatrixXd& a, std::vector<cplx>& values);

// One distinct eigenvalue and how many times it occurs.
struct MergedEigen {
    cplx value;
    int count = 1;
};

// Merges eigenvalues that agree in both parts within sort_epsilon times
// their modulus, so that slow and fast chains (and stiff ones, whose
// eigenvalues span many decades) are treated alike; an imaginary part below
// epsilon times the modulus becomes 0. An exact 0 is never merged with a
// nonzero value. The merged value is the mean of its cluster; order is that
// of first occurrence.
std::vector<MergedEigen> merge_eigenvalues(const std::vector<cplx>& values, const Tolerances& tol);

// The scale max(1, largest modulus) of a list of eigenvalues.
double eigen_scale(const std::vector<MergedEigen>& eig);

// Solves G·x = b for an upper Hessenberg G (entries below the subdiagonal
// are ignored) by elimination with pivoting between adjacent rows. False
// when G is singular.
bool hessenberg_solve(Eigen::MatrixXcd g, Eigen::VectorXcd& b);

// det(M) / Π d_i, the division interleaved with the pivots of the LU
// factorization so that neither the determinant nor the product overflows.
cplx det_over_product(const Eigen::MatrixXcd& m, const std::vector<cplx>& divisors);

}  // namespace corvel
