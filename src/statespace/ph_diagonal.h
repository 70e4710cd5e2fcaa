#pragma once
// Diagonalisations of a chain's transient block A_TT (rates scaled to order
// 1), the two routes of the dense closed forms: the symmetrisation of a
// reversible block and the general real eigen-decomposition.

#include <Eigen/Dense>

#include "statespace/ph_eigen.h"

namespace corvel {

// A_TT = V·diag(lam)·W with W = V^(-1), kept as the two parts the closed
// forms use: the start vector in eigen-coordinates, a = p0_T·V, and the
// rows of W. Complex pairs appear as conjugate neighbours.
struct PhDiagonal {
    Eigen::VectorXcd lam;
    Eigen::VectorXcd a;
    Eigen::MatrixXcd w;
};

// A block is reversible when its transient-to-transient arcs come in pairs
// i→j, j→i whose rates balance a weight π (π_i·a_ij = π_j·a_ji on every
// pair: every birth-death block, every tree of two-way arcs). Then
// S = diag(√π) makes T = S·A_TT·S^(-1) symmetric with off-diagonal entries
// √(a_ij·a_ji), whose orthonormal eigenvectors U give V = S^(-1)·U and
// W = U^T·S: no inverse, no loss to non-normality, and a repeated
// eigenvalue is as harmless as any other. A block that is a path (after
// reordering) is tridiagonal and costs O(n^2) for the eigenvalues. False
// when the block is not reversible or its weights span too many decades
// for double precision.
bool ph_reversible_diagonal(const Eigen::MatrixXd& att, const Eigen::VectorXd& p0t, PhDiagonal& d);

}  // namespace corvel
