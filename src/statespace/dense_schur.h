#pragma once
// The real Schur form of large dense matrices: Hessenberg reduction, then a
// multishift QR iteration whose bulges travel as a tight chain (their
// transformations gathered per window and applied to the rest of the matrix
// as matrix products) with aggressive early deflation of the trailing
// window. Small blocks go to the double-shift iteration. Then the
// eigenvalues and pseudo-eigenvectors of the quasi-triangular form.

#include <Eigen/Dense>

namespace corvel {

// Active blocks of at most this order are finished by the double-shift
// iteration.
constexpr int kSchurSmallBlock = 75;

// Brings the upper Hessenberg h (entries below the subdiagonal are ignored)
// to real Schur form T = Q^T·h·Q in place and multiplies z by Q on the
// right. On return every 2×2 diagonal block holds a complex pair and every
// entry below the quasi-diagonal is 0. False when the iteration does not
// converge.
bool hessenberg_schur(Eigen::MatrixXd& h, Eigen::MatrixXd& z, int small_block = kSchurSmallBlock);

// Reduces a to upper Hessenberg form H = Q^T·a·Q in place (entries below
// the subdiagonal set to 0) by blocked Householder reflections.
void hessenberg_reduce(Eigen::MatrixXd& a, Eigen::MatrixXd& q);

// a = Z·T·Z^T with T quasi-triangular (as hessenberg_schur leaves it).
bool real_schur(const Eigen::MatrixXd& a, Eigen::MatrixXd& t, Eigen::MatrixXd& z,
                int small_block = kSchurSmallBlock);

// The eigenvalues of a quasi-triangular t, top to bottom; a 2×2 block gives
// its pair with the positive imaginary part first.
Eigen::VectorXcd schur_eigenvalues(const Eigen::MatrixXd& t);

// Y with t·Y = Y·Λ_r: column k is the eigenvector of a real eigenvalue;
// for a pair at k, k+1 (λ at k with positive imaginary part) columns k and
// k+1 are the real and imaginary parts of λ's eigenvector. Each eigenvector
// has norm 1.
Eigen::MatrixXd schur_pseudo_eigenvectors(const Eigen::MatrixXd& t, const Eigen::VectorXcd& lam);

// V^(-1) for V = z·y, y from schur_pseudo_eigenvectors of t: y^(-1)·z^T by
// triangular solves (y is block upper triangular), on two threads when
// large. Row k is the left eigenvector matching column k of V.
Eigen::MatrixXd schur_eigenvector_inverse(const Eigen::MatrixXd& t, const Eigen::MatrixXd& y,
                                          const Eigen::MatrixXd& z);

}  // namespace corvel
