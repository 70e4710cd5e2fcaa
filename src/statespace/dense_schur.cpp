#include "statespace/dense_schur.h"
#include "statespace/side_thread.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include <Eigen/Eigenvalues>

namespace corvel {

namespace {

using Eigen::Index;
using Eigen::MatrixXd;
using cplx = std::complex<double>;

constexpr double kUlp = std::numeric_limits<double>::epsilon();
constexpr double kSafeMin = std::numeric_limits<double>::min();

// Clears the entries below the subdiagonal (left over by the routines that
// produced the matrix, or never meant to be read).
void clear_below_subdiagonal(MatrixXd& m) {
    for (Index c = 0; c + 2 < m.cols(); ++c) m.col(c).tail(m.rows() - c - 2).setZero();
}

// A Householder reflector I − τ·v·v^T of order 2 or 3 with v = (1, v1, v2).
struct Reflector {
    double v1 = 0.0, v2 = 0.0, tau = 0.0, beta = 0.0;
    int order = 3;
};

// The reflector taking (x0, x1, x2) (or (x0, x1)) to (beta, 0, 0).
Reflector make_reflector(double x0, double x1, double x2, int order) {
    Reflector r;
    r.order = order;
    if (order == 2) x2 = 0.0;
    r.beta = x0;
    const double big = std::max({std::fabs(x0), std::fabs(x1), std::fabs(x2)});
    if (x1 == 0.0 && x2 == 0.0) return r;
    double norm;
    if (big > 1e-150 && big < 1e150) {
        norm = std::sqrt(x0 * x0 + x1 * x1 + x2 * x2);
    } else {
        norm = std::hypot(x0, std::hypot(x1, x2));
    }
    const double beta = -std::copysign(norm, x0);
    r.tau = (beta - x0) / beta;
    const double scale = 1.0 / (x0 - beta);
    r.v1 = x1 * scale;
    r.v2 = order == 3 ? x2 * scale : 0.0;
    r.beta = beta;
    return r;
}

// Rows row.. of m times the reflector from the left, over columns c0..c1.
void apply_left(MatrixXd& m, const Reflector& p, Index row, Index c0, Index c1) {
    if (p.tau == 0.0) return;
    for (Index c = c0; c <= c1; ++c) {
        double* x = &m(row, c);
        if (p.order == 3) {
            const double s = p.tau * (x[0] + p.v1 * x[1] + p.v2 * x[2]);
            x[0] -= s;
            x[1] -= s * p.v1;
            x[2] -= s * p.v2;
        } else {
            const double s = p.tau * (x[0] + p.v1 * x[1]);
            x[0] -= s;
            x[1] -= s * p.v1;
        }
    }
}

// Columns col.. of m times the reflector from the right, over rows r0..r1.
void apply_right(MatrixXd& m, const Reflector& p, Index col, Index r0, Index r1) {
    if (p.tau == 0.0 || r1 < r0) return;
    double* a = &m(0, col);
    double* b = &m(0, col + 1);
    if (p.order == 3) {
        double* c = &m(0, col + 2);
        for (Index r = r0; r <= r1; ++r) {
            const double s = p.tau * (a[r] + p.v1 * b[r] + p.v2 * c[r]);
            a[r] -= s;
            b[r] -= s * p.v1;
            c[r] -= s * p.v2;
        }
    } else {
        for (Index r = r0; r <= r1; ++r) {
            const double s = p.tau * (a[r] + p.v1 * b[r]);
            a[r] -= s;
            b[r] -= s * p.v1;
        }
    }
}


// The orthogonal q of a diagonal window lo..lo+q.rows()-1 of the
// Hessenberg matrix, applied to the rest of it and to z: the rows to its
// right, the columns above it, and z's columns.
void apply_window(MatrixXd& h, MatrixXd& z, Index lo, const MatrixXd& q, SideThread& side) {
    const Index n = h.rows(), w = q.rows(), right = n - lo - w;
    side.both([&] { z.middleCols(lo, w) = z.middleCols(lo, w) * q; },
              [&] {
                  if (right > 0) h.block(lo, lo + w, w, right) = q.transpose() * h.block(lo, lo + w, w, right);
                  if (lo > 0) h.block(0, lo, lo, w) = h.block(0, lo, lo, w) * q;
              });
}

// Eigenvalues of the 2×2 block [a b; c d] when they are complex: the
// positive imaginary part first. False when they are real.
bool complex_pair(double a, double b, double c, double d, cplx& first) {
    const double p = 0.5 * (a - d);
    const double disc = p * p + b * c;
    if (disc >= 0.0) return false;
    first = cplx(d + p, std::sqrt(-disc));
    return true;
}

// A 2×2 block at i whose eigenvalues are real is rotated to upper
// triangular form (over the whole of t and into z).
void split_real_pair(MatrixXd& t, MatrixXd& z, Index i) {
    const Index n = t.rows();
    const double p = 0.5 * (t(i, i) - t(i + 1, i + 1));
    const double q = p * p + t(i, i + 1) * t(i + 1, i);
    if (q < 0.0) return;
    const double root = std::sqrt(q);
    // The first column of the rotation is the eigenvector of the eigenvalue
    // that goes to the upper position.
    Eigen::JacobiRotation<double> rot;
    rot.makeGivens(p >= 0.0 ? p + root : p - root, t(i + 1, i));
    t.rightCols(n - i).applyOnTheLeft(i, i + 1, rot.adjoint());
    t.topRows(i + 2).applyOnTheRight(i, i + 1, rot);
    if (z.rows() > 0) z.applyOnTheRight(i, i + 1, rot);
    t(i + 1, i) = 0.0;
}

// The first column of (H − s1)(H − s2) at ktop (s1, s2 both real or a
// conjugate pair), scaled.
void shift_column(const MatrixXd& h, Index k, cplx s1, cplx s2, double v[3]) {
    const double h00 = h(k, k), h10 = h(k + 1, k), h01 = h(k, k + 1), h11 = h(k + 1, k + 1), h21 = h(k + 2, k + 1);
    const double scale = std::fabs(h00 - s2.real()) + std::fabs(s2.imag()) + std::fabs(h10);
    if (scale == 0.0) {
        v[0] = v[1] = v[2] = 0.0;
        return;
    }
    const double h10s = h10 / scale;
    v[0] = h10s * h01 + (h00 - s1.real()) * ((h00 - s2.real()) / scale) - s1.imag() * (s2.imag() / scale);
    v[1] = h10s * (h00 + h11 - s1.real() - s2.real());
    v[2] = h10s * h21;
}

// The reflector of a bulge at column k of the active block top..bottom:
// from the shift pair (s1, s2) when it enters (k = top − 1), else the one
// that clears column k below its subdiagonal (cleared here).
Reflector bulge_reflector(MatrixXd& h, Index k, Index top, Index bottom, cplx s1, cplx s2) {
    const int order = static_cast<int>(std::min<Index>(3, bottom - k));
    if (k == top - 1) {
        double v[3];
        shift_column(h, top, s1, s2, v);
        return make_reflector(v[0], v[1], v[2], order);
    }
    const Reflector p = make_reflector(h(k + 1, k), h(k + 2, k), order == 3 ? h(k + 3, k) : 0.0, order);
    h(k + 1, k) = p.beta;
    h(k + 2, k) = 0.0;
    if (order == 3) h(k + 3, k) = 0.0;
    return p;
}

// The double-shift QR iteration on the block lo..hi of h, which must be
// isolated (zero subdiagonal entries at its edges): every transformation
// goes to the whole of h and to z (which may have no rows). Subdiagonal
// entries are negligible by the test of Ahues and Tisseur; exceptional
// shifts at the 10th and 20th iteration of an eigenvalue. False when it
// does not converge.
bool double_shift_qr(MatrixXd& h, MatrixXd& z, Index lo, Index hi) {
    const Index n = h.rows();
    long budget = 30L * std::max<Index>(10, hi - lo + 1);
    Index i = hi;
    while (i >= lo) {
        Index l = lo;
        for (int its = 0;; ++its) {
            for (l = i; l > lo; --l) {
                const double sub = std::fabs(h(l, l - 1));
                if (sub <= kSafeMin) break;
                double near = std::fabs(h(l - 1, l - 1)) + std::fabs(h(l, l));
                if (near == 0.0) {
                    if (l - 2 >= lo) near += std::fabs(h(l - 1, l - 2));
                    if (l + 1 <= hi) near += std::fabs(h(l + 1, l));
                }
                if (sub <= kUlp * near) {
                    const double ab = std::max(sub, std::fabs(h(l - 1, l)));
                    const double ba = std::min(sub, std::fabs(h(l - 1, l)));
                    const double aa = std::max(std::fabs(h(l, l)), std::fabs(h(l - 1, l - 1) - h(l, l)));
                    const double bb = std::min(std::fabs(h(l, l)), std::fabs(h(l - 1, l - 1) - h(l, l)));
                    const double sum = aa + ab;
                    if (ba * (ab / sum) <= std::max(kSafeMin, kUlp * (bb * (aa / sum)))) break;
                }
            }
            if (l > lo) h(l, l - 1) = 0.0;
            if (l >= i - 1) break;
            if (--budget < 0) return false;
            double h11, h12, h21, h22;
            if (its == 10 || its == 20) {
                const double ss = its == 10 ? std::fabs(h(l + 1, l)) + std::fabs(h(l + 2, l + 1))
                                            : std::fabs(h(i, i - 1)) + std::fabs(h(i - 1, i - 2));
                h11 = 0.75 * ss + (its == 10 ? h(l, l) : h(i, i));
                h12 = -0.4375 * ss;
                h21 = ss;
                h22 = h11;
            } else {
                h11 = h(i - 1, i - 1);
                h12 = h(i - 1, i);
                h21 = h(i, i - 1);
                h22 = h(i, i);
            }
            cplx s1, s2;
            if (complex_pair(h11, h12, h21, h22, s1)) {
                s2 = std::conj(s1);
            } else {
                // Two real shifts: the one closer to h22, twice.
                const double p = 0.5 * (h11 - h22);
                const double root = std::sqrt(p * p + h12 * h21);
                const double a = h22 + p + root, b = h22 + p - root;
                s1 = s2 = std::fabs(a - h22) <= std::fabs(b - h22) ? a : b;
            }
            for (Index k = l - 1; k <= i - 2; ++k) {
                const Reflector p = bulge_reflector(h, k, l, i, s1, s2);
                apply_left(h, p, k + 1, k + 1, n - 1);
                apply_right(h, p, k + 1, 0, std::min(k + 4, i));
                if (z.rows() > 0) apply_right(z, p, k + 1, 0, z.rows() - 1);
            }
        }
        if (l == i - 1) split_real_pair(h, z, l);
        i = l - 1;
    }
    return true;
}

// Swaps the adjacent diagonal blocks of t at j (order p) and j+p (order q),
// so that the lower block's eigenvalues come first, and multiplies v by the
// transformation. Uses the invariant subspace [−X; I] of the lower block,
// X from the Sylvester equation T11·X − X·T22 = T12. False (t and v
// unchanged) when the swapped form would not be accurate.
bool swap_blocks(MatrixXd& t, MatrixXd& v, Index j, int p, int q) {
    // Blocks of at most 2 rows: everything local fits in 4×4 matrices on
    // the stack.
    using Small = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::ColMajor, 4, 4>;
    using SmallVector = Eigen::Matrix<double, Eigen::Dynamic, 1, Eigen::ColMajor, 4, 1>;
    const Index n = t.rows();
    const int s = p + q;
    const Small d = t.block(j, j, s, s);
    Small k = Small::Zero(p * q, p * q);
    SmallVector rhs(p * q);
    for (int c = 0; c < q; ++c)
        for (int r = 0; r < p; ++r) {
            const int row = r + c * p;
            rhs(row) = d(r, p + c);
            for (int r2 = 0; r2 < p; ++r2) k(row, r2 + c * p) += d(r, r2);
            for (int c2 = 0; c2 < q; ++c2) k(row, r + c2 * p) -= d(p + c2, p + c);
        }
    const Eigen::FullPivLU<Small> lu(k);
    if (!lu.isInvertible()) return false;
    const SmallVector x = lu.solve(rhs);
    if (!x.allFinite()) return false;
    Small basis(s, q);
    for (int c = 0; c < q; ++c)
        for (int r = 0; r < p; ++r) basis(r, c) = -x(r + c * p);
    basis.bottomRows(q).setIdentity();
    const Eigen::HouseholderQR<Small> qr(basis);
    const Small u = qr.householderQ();
    Small dn = u.transpose() * d * u;
    const double limit = std::max(10.0 * kUlp * d.cwiseAbs().maxCoeff(), kSafeMin);
    if (dn.bottomLeftCorner(p, q).cwiseAbs().maxCoeff() > limit) return false;
    dn.bottomLeftCorner(p, q).setZero();
    t.block(j, j, s, s) = dn;
    if (j + s < n) t.block(j, j + s, s, n - j - s) = u.transpose() * t.block(j, j + s, s, n - j - s);
    if (j > 0) t.block(0, j, j, s) = t.block(0, j, j, s) * u;
    v.middleCols(j, s) = v.middleCols(j, s) * u;
    return true;
}

// Moves the block of order size at from up to the block boundary to by
// adjacent swaps; false when a swap is refused (the block stays where it
// got to).
bool move_block_up(MatrixXd& t, MatrixXd& v, Index from, int size, Index to) {
    Index here = from;
    while (here > to) {
        const int above = here >= 2 && t(here - 1, here - 2) != 0.0 ? 2 : 1;
        if (!swap_blocks(t, v, here - above, above, size)) return false;
        here -= above;
    }
    return true;
}

// Eigenvalues of the leading order rows of a quasi-triangular t (a 2×2
// block whose eigenvalues are real gives both).
void leading_eigenvalues(const MatrixXd& t, Index order, std::vector<cplx>& out) {
    for (Index i = 0; i < order; ++i) {
        if (i + 1 < order && t(i + 1, i) != 0.0) {
            cplx z;
            if (complex_pair(t(i, i), t(i, i + 1), t(i + 1, i), t(i + 1, i + 1), z)) {
                out.push_back(z);
                out.push_back(std::conj(z));
            } else {
                const double p = 0.5 * (t(i, i) - t(i + 1, i + 1));
                const double root = std::sqrt(p * p + t(i, i + 1) * t(i + 1, i));
                out.push_back(t(i + 1, i + 1) + p + root);
                out.push_back(t(i + 1, i + 1) + p - root);
            }
            ++i;
        } else {
            out.push_back(t(i, i));
        }
    }
}

struct Deflation {
    Index deflated = 0;
    std::vector<cplx> shifts;  // eigenvalues of the window that stayed
};

// Aggressive early deflation of the trailing window of order nw of the
// active block ktop..kbot: the window's Schur form, then every eigenvalue
// whose coupling to the rest (the spike s·V(0, ·)) is negligible splits off
// at the bottom; the others are moved up and become the next shifts.
Deflation early_deflation(MatrixXd& h, MatrixXd& z, Index ktop, Index kbot, Index nw, SideThread& side) {
    Deflation out;
    nw = std::min(nw, kbot - ktop + 1);
    const Index top = kbot - nw + 1;
    const double s = top == ktop ? 0.0 : h(top, top - 1);
    if (nw == 1) {
        if (std::fabs(s) <= std::max(kSafeMin, kUlp * std::fabs(h(top, top)))) {
            out.deflated = 1;
            if (top > ktop) h(top, top - 1) = 0.0;
        } else {
            out.shifts.push_back(h(top, top));
        }
        return out;
    }
    MatrixXd t = h.block(top, top, nw, nw);
    clear_below_subdiagonal(t);
    MatrixXd v = MatrixXd::Identity(nw, nw);
    if (!double_shift_qr(t, v, 0, nw - 1)) return out;

    Index kept = nw, next = 0;  // blocks above next are undeflatable
    while (next < kept) {
        const bool pair = kept >= 2 && kept - 2 >= next && t(kept - 1, kept - 2) != 0.0;
        if (!pair) {
            double size = std::fabs(t(kept - 1, kept - 1));
            if (size == 0.0) size = std::fabs(s);
            if (std::fabs(s * v(0, kept - 1)) <= std::max(kSafeMin, kUlp * size)) {
                --kept;
                continue;
            }
            move_block_up(t, v, kept - 1, 1, next);
            next += 1;
        } else {
            double size = std::fabs(t(kept - 1, kept - 1)) +
                          std::sqrt(std::fabs(t(kept - 1, kept - 2))) * std::sqrt(std::fabs(t(kept - 2, kept - 1)));
            if (size == 0.0) size = std::fabs(s);
            const double coupling = std::max(std::fabs(s * v(0, kept - 1)), std::fabs(s * v(0, kept - 2)));
            if (coupling <= std::max(kSafeMin, kUlp * size)) {
                kept -= 2;
                continue;
            }
            move_block_up(t, v, kept - 2, 2, next);
            next += 2;
        }
    }
    out.deflated = nw - kept;
    leading_eigenvalues(t, kept, out.shifts);
    if (out.deflated == 0 && s != 0.0) return out;  // nothing gained: the window stays as it was

    double spike = 0.0;
    if (kept > 0 && s != 0.0) {
        // The coupling of the kept part, s·V(0, 0..kept−1), reflected onto
        // its first entry; the kept part is then brought back to
        // Hessenberg form.
        Eigen::VectorXd w = s * v.row(0).head(kept).transpose();
        Eigen::VectorXd essential(std::max<Index>(kept - 1, 0));
        double tau = 0.0;
        w.makeHouseholder(essential, tau, spike);
        Eigen::VectorXd work(nw);
        t.topRows(kept).applyHouseholderOnTheLeft(essential, tau, work.data());
        t.topLeftCorner(kept, kept).applyHouseholderOnTheRight(essential, tau, work.data());
        v.leftCols(kept).applyHouseholderOnTheRight(essential, tau, work.data());
        if (kept > 2) {
            const Eigen::HessenbergDecomposition<MatrixXd> hess(t.topLeftCorner(kept, kept));
            const MatrixXd q = hess.matrixQ();
            t.topLeftCorner(kept, kept) = hess.matrixH();
            if (kept < nw) t.topRightCorner(kept, nw - kept) = q.transpose() * t.topRightCorner(kept, nw - kept);
            v.leftCols(kept) = v.leftCols(kept) * q;
        }
        clear_below_subdiagonal(t);
    }
    if (top > ktop) h(top, top - 1) = spike;
    h.block(top, top, nw, nw) = t;
    apply_window(h, z, top, v, side);
    // The window's own rows and columns are already in t; apply_window only
    // touched what lies outside it.
    return out;
}

// The product of a slab's bulge reflectors: each touches three
// neighbouring rows, so far from its diagonal the product is exactly zero
// (for 32 bulges, a sixth of it in each of two corners). Its columns are
// taken in blocks, each with the range of rows that can be nonzero, and the
// products with it skip the zeros.
class WindowProduct {
public:
    explicit WindowProduct(MatrixXd u) : u_(std::move(u)) {
        const Index nw = u_.rows();
        for (Index c0 = 0; c0 < nw; c0 += kColumns) {
            const Index c1 = std::min(nw, c0 + kColumns);
            Index r0 = nw, r1 = 0;
            for (Index j = c0; j < c1; ++j)
                for (Index i = 0; i < nw; ++i)
                    if (u_(i, j) != 0.0) {
                        r0 = std::min(r0, i);
                        r1 = std::max(r1, i + 1);
                    }
            if (r1 <= r0) r0 = r1 = 0;
            blocks_.push_back({c0, c1, r0, r1});
        }
    }
    // m ← m·u (m has the window's columns).
    template <typename Cols>
    void right(Cols m) const {
        if (m.rows() == 0) return;
        const MatrixXd in = m;
        for (const Block& b : blocks_) {
            if (b.r1 == b.r0) m.middleCols(b.c0, b.c1 - b.c0).setZero();
            else
                m.middleCols(b.c0, b.c1 - b.c0).noalias() =
                    in.middleCols(b.r0, b.r1 - b.r0) * u_.block(b.r0, b.c0, b.r1 - b.r0, b.c1 - b.c0);
        }
    }
    // m ← u^T·m (m has the window's rows): m^T ← m^T·u.
    template <typename Rows>
    void left_transposed(Rows m) const {
        right(m.transpose());
    }

private:
    static constexpr Index kColumns = 16;
    struct Block {
        Index c0, c1, r0, r1;
    };
    MatrixXd u_;
    std::vector<Block> blocks_;
};

// One multishift QR sweep over the active block ktop..kbot with the shift
// pairs of shifts: a chain of bulges three columns apart, chased down in
// windows whose transformations are gathered and applied to the rest of
// the matrix at once.
void multishift_sweep(MatrixXd& h, MatrixXd& z, Index ktop, Index kbot, const std::vector<cplx>& shifts,
                      SideThread& side) {
    const Index bulges = static_cast<Index>(shifts.size() / 2);
    if (bulges == 0) return;
    const Index first = ktop - 1, last = kbot - 2;  // columns a bulge is chased from
    const Index steps = last - first + 1 + 3 * (bulges - 1);
    const Index slab = std::max<Index>(3 * bulges, 8);
    for (Index t0 = 0; t0 < steps; t0 += slab) {
        const Index t1 = std::min(steps, t0 + slab);
        const Index kmin = std::max(first, first + t0 - 3 * (bulges - 1));
        const Index kmax = std::min(last, first + t1 - 1);
        const Index w0 = std::max(ktop, kmin + 1), w1 = std::min(kbot, kmax + 4);
        const Index nw = w1 - w0 + 1;
        MatrixXd u = MatrixXd::Identity(nw, nw);
        for (Index step = t0; step < t1; ++step) {
            // The leading bulge first: each bulge reads the column the one
            // behind it has not yet touched in this step.
            for (Index b = 0; b < bulges; ++b) {
                const Index k = first + step - 3 * b;
                if (k < first || k > last) continue;
                const Reflector p = bulge_reflector(h, k, ktop, kbot, shifts[static_cast<size_t>(2 * b)],
                                                    shifts[static_cast<size_t>(2 * b + 1)]);
                apply_left(h, p, k + 1, k + 1, w1);
                apply_right(h, p, k + 1, w0, std::min(k + 4, kbot));
                apply_right(u, p, k + 1 - w0, 0, nw - 1);
            }
        }
        // The rows right of the window are read by the next windows: now.
        // The columns above it and z are not read again in this sweep: on
        // the side thread, while the next window is chased.
        // The rows of z are shared so that both threads have about as much
        // to do: this one the rows right of the window and z's first rows,
        // the other the columns above the window and z's other rows.
        const Index n = h.rows(), right = n - w0 - nw, split = std::min(n, (w0 + w1) / 2);
        auto q = std::make_shared<const WindowProduct>(std::move(u));
        side.start([&h, &z, w0, nw, split, n, q] {
            if (w0 > 0) q->right(h.block(0, w0, w0, nw));
            q->right(z.block(split, w0, n - split, nw));
        });
        if (right > 0) q->left_transposed(h.block(w0, w0 + nw, nw, right));
        if (split > 0) q->right(z.block(0, w0, split, nw));
    }
    side.wait();
}

// Finishes the isolated block ktop..kbot by the double-shift iteration on
// a copy, applied to the rest at once.
bool small_block_schur(MatrixXd& h, MatrixXd& z, Index ktop, Index kbot, SideThread& side) {
    const Index m = kbot - ktop + 1;
    if (m <= 1) return true;
    MatrixXd b = h.block(ktop, ktop, m, m);
    clear_below_subdiagonal(b);
    MatrixXd u = MatrixXd::Identity(m, m);
    if (!double_shift_qr(b, u, 0, m - 1)) return false;
    h.block(ktop, ktop, m, m) = b;
    apply_window(h, z, ktop, u, side);
    return true;
}

// The number of shifts per sweep and the deflation window for an active
// block of order nh.
Index shift_count(Index nh) {
    Index ns;
    if (nh < 30) ns = 2;
    else if (nh < 60) ns = 4;
    else if (nh < 150) ns = 10;
    else if (nh < 590) ns = std::max<Index>(10, nh / std::lround(std::log2(static_cast<double>(nh))));
    else if (nh < 3000) ns = 64;
    else if (nh < 6000) ns = 128;
    else ns = 256;
    return std::max<Index>(2, ns - ns % 2);
}

// Orders shifts as pairs for the bulges: conjugate pairs together, real
// shifts two by two (an odd one out is dropped).
std::vector<cplx> pair_shifts(const std::vector<cplx>& in) {
    std::vector<cplx> pairs, reals;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i].imag() != 0.0 && i + 1 < in.size() && in[i + 1] == std::conj(in[i])) {
            pairs.push_back(in[i]);
            pairs.push_back(in[i + 1]);
            ++i;
        } else if (in[i].imag() == 0.0) {
            reals.push_back(in[i]);
        }
    }
    for (size_t i = reals.size() % 2; i + 1 < reals.size(); i += 2) {
        pairs.push_back(reals[i]);
        pairs.push_back(reals[i + 1]);
    }
    return pairs;
}

}  // namespace

bool hessenberg_schur(MatrixXd& h, MatrixXd& z, int small_block) {
    const Index n = h.rows();
    clear_below_subdiagonal(h);
    Index kbot = n - 1;
    long iterations = 0;
    const long limit = 30L * std::max<Index>(10, n);
    Index stale = 1;  // iterations since the last deflation
    // Products with z are worth a thread of their own from a few hundred
    // rows on.
    SideThread side(n >= 300);
    Index window = 0;
    while (kbot >= 0) {
        if (++iterations > limit) return false;
        Index ktop = kbot;
        for (; ktop > 0; --ktop) {
            double& sub = h(ktop, ktop - 1);
            if (sub == 0.0) break;
            double near = std::fabs(h(ktop - 1, ktop - 1)) + std::fabs(h(ktop, ktop));
            if (near == 0.0) {
                if (ktop >= 2) near += std::fabs(h(ktop - 1, ktop - 2));
                if (ktop + 1 < n) near += std::fabs(h(ktop + 1, ktop));
            }
            if (std::fabs(sub) <= std::max(kSafeMin, kUlp * near)) {
                sub = 0.0;
                break;
            }
        }
        const Index nh = kbot - ktop + 1;
        if (nh <= small_block) {
            if (!small_block_schur(h, z, ktop, kbot, side)) return false;
            kbot = ktop - 1;
            stale = 1;
            continue;
        }
        const Index ns = std::min(shift_count(nh), nh - 1 - (nh - 1) % 2);
        const Index recommended = nh <= 500 ? ns : 3 * ns / 2;
        const Index upper = std::min(nh, std::max<Index>(recommended, (n - 1) / 3));
        window = stale < 5 ? std::min(upper, recommended) : std::min(upper, 2 * std::max(window, recommended));
        const Deflation d = early_deflation(h, z, ktop, kbot, window, side);
        kbot -= d.deflated;
        stale = d.deflated > 0 ? 1 : stale + 1;
        if (d.deflated > 0 && 100 * d.deflated > 14 * window) continue;
        if (kbot - ktop + 1 <= small_block) continue;

        const Index room = std::min(ns, kbot - ktop - (kbot - ktop) % 2);
        std::vector<cplx> shifts;
        if (stale % 6 == 0) {
            // Exceptional shifts, against cycling.
            for (Index i = kbot; i >= ktop + 2 && static_cast<Index>(shifts.size()) < room; i -= 2) {
                const double ss = std::fabs(h(i, i - 1)) + std::fabs(h(i - 1, i - 2));
                const cplx s(0.75 * ss + h(i, i), std::sqrt(0.4375) * ss);
                shifts.push_back(s);
                shifts.push_back(std::conj(s));
            }
        } else {
            const size_t take = std::min<size_t>(d.shifts.size(), static_cast<size_t>(room));
            std::vector<cplx> from(d.shifts.end() - static_cast<std::ptrdiff_t>(take), d.shifts.end());
            // Never split a conjugate pair at the cut.
            if (!from.empty() && from.front().imag() != 0.0 && take < d.shifts.size() &&
                from.front() == std::conj(d.shifts[d.shifts.size() - take - 1]))
                from.erase(from.begin());
            shifts = pair_shifts(from);
            if (static_cast<Index>(shifts.size()) < room / 2) {
                // Too few: the eigenvalues of the trailing submatrix.
                const Index m = room;
                MatrixXd tail = h.block(kbot - m + 1, kbot - m + 1, m, m);
                clear_below_subdiagonal(tail);
                MatrixXd none;
                std::vector<cplx> ev;
                if (double_shift_qr(tail, none, 0, m - 1)) leading_eigenvalues(tail, m, ev);
                shifts = pair_shifts(ev);
            }
        }
        if (shifts.size() < 2) {
            const double ss = std::fabs(h(kbot, kbot - 1)) + std::fabs(h(kbot - 1, kbot - 2));
            const cplx s(0.75 * ss + h(kbot, kbot), std::sqrt(0.4375) * ss);
            shifts = {s, std::conj(s)};
        }
        multishift_sweep(h, z, ktop, kbot, shifts, side);
    }
    for (Index i = 0; i + 1 < n; ++i)
        if (h(i + 1, i) != 0.0) {
            split_real_pair(h, z, i);
            ++i;
        }
    return true;
}

void hessenberg_reduce(MatrixXd& a, MatrixXd& q) {
    const Index n = a.rows();
    q = MatrixXd::Identity(n, n);
    if (n < 3) return;
    // Panels of kPanel columns: each column is brought up to date with the
    // reflectors of its panel so far (Y = A·V·T from the right, I − V·T^T·V^T
    // from the left), then the rest of the matrix takes the whole panel at
    // once as matrix products. The only pass over the matrix per column is
    // the product of the not yet updated columns with the new reflector.
    constexpr Index kPanel = 32;
    // Products with the matrix of at least this many entries are shared
    // between the two threads.
    constexpr Index kThreadedProduct = 2000000;
    MatrixXd v = MatrixXd::Zero(n, n);  // column c: reflector c, rows c+1..
    std::vector<MatrixXd> panels;       // T of each panel
    Eigen::VectorXd col(n), w, s, ess, yj;
    SideThread side(n >= 300);
    for (Index k = 0; k < n - 2; k += kPanel) {
        const Index ib = std::min(kPanel, n - 2 - k), below = n - k - 1;
        MatrixXd y = MatrixXd::Zero(n, ib), t = MatrixXd::Zero(ib, ib);
        for (Index j = 0; j < ib; ++j) {
            const Index c = k + j, m = n - c - 1;
            col = a.col(c);
            if (j > 0) {
                col.noalias() -= y.leftCols(j) * v.row(c).segment(k, j).transpose();
                const auto vb = v.block(k + 1, k, below, j);
                w.noalias() = vb.transpose() * col.tail(below);
                w = t.topLeftCorner(j, j).transpose().triangularView<Eigen::Lower>() * w;
                col.tail(below).noalias() -= vb * w;
            }
            ess.resize(m - 1);
            double tau = 0.0, beta = 0.0;
            col.tail(m).makeHouseholder(ess, tau, beta);
            v(c + 1, c) = 1.0;
            v.col(c).tail(m - 1) = ess;
            col(c + 1) = beta;
            col.tail(m - 1).setZero();
            a.col(c) = col;
            // y_j = τ·(A·v_j − Y_j·V_j^T·v_j) over the columns not yet updated.
            const auto vj = v.col(c).tail(m);
            yj.resize(n);
            if (n * m < kThreadedProduct) {
                yj.noalias() = a.rightCols(m) * vj;
            } else {
                const Index top = n / 2;
                side.both([&] { yj.head(top).noalias() = a.topRightCorner(top, m) * vj; },
                          [&] { yj.tail(n - top).noalias() = a.bottomRightCorner(n - top, m) * vj; });
            }
            if (j > 0) {
                s.noalias() = v.block(c + 1, k, m, j).transpose() * vj;
                yj.noalias() -= y.leftCols(j) * s;
                w.noalias() = t.topLeftCorner(j, j).triangularView<Eigen::Upper>() * s;
                t.col(j).head(j) = -tau * w;
            }
            t(j, j) = tau;
            y.col(j) = tau * yj;
        }
        const Index rest = n - k - ib;
        const auto vp = v.block(k + 1, k, below, ib);
        // The trailing columns c0.. (count of them), from the right and then
        // from the left.
        auto update = [&](Index c0, Index count) {
            if (count <= 0) return;
            a.middleCols(k + ib + c0, count).noalias() -= y * v.block(k + ib + c0, k, count, ib).transpose();
            MatrixXd wp = vp.transpose() * a.block(k + 1, k + ib + c0, below, count);
            wp = t.transpose().triangularView<Eigen::Lower>() * wp;
            a.block(k + 1, k + ib + c0, below, count).noalias() -= vp * wp;
        };
        side.both([&] { update(0, rest / 2); }, [&] { update(rest / 2, rest - rest / 2); });
        panels.push_back(std::move(t));
    }
    // Q = (I − V_1·T_1·V_1^T)·(I − V_2·T_2·V_2^T)···, built from the last
    // panel back: each acts on the rows and columns below its start.
    for (Index p = static_cast<Index>(panels.size()) - 1; p >= 0; --p) {
        const MatrixXd& t = panels[static_cast<size_t>(p)];
        const Index k = p * kPanel, ib = t.cols(), below = n - k - 1;
        const auto vp = v.block(k + 1, k, below, ib);
        auto update = [&](Index c0, Index count) {
            if (count <= 0) return;
            MatrixXd wq = vp.transpose() * q.block(k + 1, k + 1 + c0, below, count);
            wq = t.triangularView<Eigen::Upper>() * wq;
            q.block(k + 1, k + 1 + c0, below, count).noalias() -= vp * wq;
        };
        side.both([&] { update(0, below / 2); }, [&] { update(below / 2, below - below / 2); });
    }
}

bool real_schur(const MatrixXd& a, MatrixXd& t, MatrixXd& z, int small_block) {
    t = a;
    hessenberg_reduce(t, z);
    return hessenberg_schur(t, z, small_block);
}

MatrixXd schur_eigenvector_inverse(const MatrixXd& t, const MatrixXd& y, const MatrixXd& z) {
    const Index n = y.rows();
    // Y = U·D with D block diagonal (Y's own 1×1 and 2×2 diagonal blocks)
    // and U unit upper triangular, so Y^(-1) = D^(-1)·U^(-1).
    std::vector<Index> block_start;
    MatrixXd u = y;
    std::vector<Eigen::Matrix2d> dinv;
    for (Index k = 0; k < n; ++k) {
        block_start.push_back(k);
        if (k + 1 < n && t(k + 1, k) != 0.0) {
            const Eigen::Matrix2d d = y.block<2, 2>(k, k);
            const double det = d(0, 0) * d(1, 1) - d(0, 1) * d(1, 0);
            Eigen::Matrix2d inv;
            inv << d(1, 1) / det, -d(0, 1) / det, -d(1, 0) / det, d(0, 0) / det;
            dinv.push_back(inv);
            u.middleCols(k, 2) = (y.middleCols(k, 2) * inv).eval();
            ++k;
        } else {
            Eigen::Matrix2d inv = Eigen::Matrix2d::Zero();
            inv(0, 0) = 1.0 / y(k, k);
            dinv.push_back(inv);
            u.col(k) *= inv(0, 0);
        }
    }
    // X = U^(-1), upper triangular: column block c0..c1 from the leading
    // c1 rows only, a third of the work of a solve against the identity.
    // The blocks go to two threads, the costly last ones alternating.
    MatrixXd x = MatrixXd::Zero(n, n);
    constexpr Index kBlock = 64;
    auto solve_blocks = [&](Index parity) {
        Index index = 0;
        for (Index c1 = n; c1 > 0; c1 -= kBlock, ++index) {
            if (index % 2 != parity) continue;
            const Index c0 = std::max<Index>(0, c1 - kBlock);
            auto blk = x.block(0, c0, c1, c1 - c0);
            blk.bottomRows(c1 - c0).setIdentity();
            u.topLeftCorner(c1, c1).triangularView<Eigen::UnitUpper>().solveInPlace(blk);
        }
    };
    SideThread side(n >= 300);
    side.both([&] { solve_blocks(1); }, [&] { solve_blocks(0); });
    // Y^(-1)·Z^T = D^(-1)·X·Z^T; rows r0.. of X are zero left of r0. The
    // rows are split where both threads have as much to do.
    MatrixXd w(n, n);
    auto rows_times_zt = [&](Index r0, Index r1) {
        for (Index a = r0; a < r1; a += kBlock) {
            const Index m = std::min(kBlock, r1 - a);
            w.middleRows(a, m).noalias() = x.block(a, a, m, n - a) * z.middleCols(a, n - a).transpose();
        }
    };
    const Index split = static_cast<Index>(static_cast<double>(n) * (1.0 - std::sqrt(0.5)));
    side.both([&] { rows_times_zt(split, n); }, [&] { rows_times_zt(0, split); });
    for (size_t b = 0; b < block_start.size(); ++b) {
        const Index k = block_start[b];
        if (k + 1 < n && t(k + 1, k) != 0.0) {
            w.middleRows(k, 2) = (dinv[b] * w.middleRows(k, 2)).eval();
        } else {
            w.row(k) *= dinv[b](0, 0);
        }
    }
    return w;
}

Eigen::VectorXcd schur_eigenvalues(const MatrixXd& t) {
    std::vector<cplx> ev;
    leading_eigenvalues(t, t.rows(), ev);
    return Eigen::Map<const Eigen::VectorXcd>(ev.data(), static_cast<Index>(ev.size()));
}

MatrixXd schur_pseudo_eigenvectors(const MatrixXd& t, const Eigen::VectorXcd& lam) {
    const Index n = t.rows();
    MatrixXd y = MatrixXd::Zero(n, n);
    if (n == 0) return y;
    // Divisors smaller than this are raised to it: an eigenvalue repeated
    // to the rounding then still gets a (nearly parallel) eigenvector.
    const double tiny = std::max(kUlp * t.cwiseAbs().maxCoeff(), kSafeMin);
    // Columns k0..k1−1 (k0 at the start of a diagonal block); each column is
    // solved on its own.
    auto columns = [&](Index k0, Index k1) {
        Eigen::VectorXd re(n), im(n);
        for (Index k = k0; k < k1; ++k) {
            const bool pair = k + 1 < n && t(k + 1, k) != 0.0;
            const cplx l = lam(k);
            re.setZero();
            im.setZero();
            Index top;  // rows top.. are set; rows above are solved for
            if (!pair) {
                re(k) = 1.0;
                top = k;
            } else {
                // The eigenvector of the 2×2 block: (b, λ − a) or (λ − d, c).
                const double a = t(k, k), b = t(k, k + 1), c = t(k + 1, k), d = t(k + 1, k + 1);
                cplx x0 = b, x1 = l - a;
                if (std::abs(x0) + std::abs(x1) < std::abs(l - d) + std::fabs(c)) {
                    x0 = l - d;
                    x1 = c;
                }
                re(k) = x0.real();
                im(k) = x0.imag();
                re(k + 1) = x1.real();
                im(k + 1) = x1.imag();
                top = k;
            }
            const Index last = pair ? k + 1 : k;
            Eigen::VectorXd rr, ri;
            // Keeps the entries inside the double range when they grow (nearly
            // equal eigenvalues).
            auto rescale = [&](double size) {
                if (size <= 1e150) return 1.0;
                re /= size;
                im /= size;
                rr /= size;
                ri /= size;
                return 1.0 / size;
            };
            // rhs = −T(0..top−1, top..last)·x(top..last), then back substitution.
            rr = Eigen::VectorXd::Zero(top);
            ri = Eigen::VectorXd::Zero(top);
            for (Index j = top; j <= last; ++j) {
                rr -= re(j) * t.col(j).head(top);
                ri -= im(j) * t.col(j).head(top);
            }
            Index j = top - 1;
            while (j >= 0) {
                if (j >= 1 && t(j, j - 1) != 0.0) {
                    // A 2×2 block in rows j−1, j: Cramer's rule on (B − λ)·x = r.
                    const cplx a = t(j - 1, j - 1) - l, b = t(j - 1, j), c = t(j, j - 1), d = t(j, j) - l;
                    cplx det = a * d - b * c;
                    if (std::abs(det) < tiny * tiny) det = tiny * tiny;
                    const cplx r0(rr(j - 1), ri(j - 1)), r1(rr(j), ri(j));
                    cplx x0 = (d * r0 - b * r1) / det, x1 = (a * r1 - c * r0) / det;
                    const double f = rescale(std::max(std::abs(x0), std::abs(x1)));
                    x0 *= f;
                    x1 *= f;
                    re(j - 1) = x0.real();
                    im(j - 1) = x0.imag();
                    re(j) = x1.real();
                    im(j) = x1.imag();
                    rr.head(j - 1) -= x0.real() * t.col(j - 1).head(j - 1) + x1.real() * t.col(j).head(j - 1);
                    ri.head(j - 1) -= x0.imag() * t.col(j - 1).head(j - 1) + x1.imag() * t.col(j).head(j - 1);
                    j -= 2;
                } else {
                    cplx div = t(j, j) - l;
                    if (std::abs(div) < tiny) div = tiny;
                    cplx x = cplx(rr(j), ri(j)) / div;
                    x *= rescale(std::abs(x));
                    re(j) = x.real();
                    im(j) = x.imag();
                    rr.head(j) -= x.real() * t.col(j).head(j);
                    ri.head(j) -= x.imag() * t.col(j).head(j);
                    --j;
                }
            }
            const double norm = std::sqrt(re.head(last + 1).squaredNorm() + im.head(last + 1).squaredNorm());
            y.col(k).head(last + 1) = re.head(last + 1) / norm;
            if (pair) {
                y.col(k + 1).head(last + 1) = im.head(last + 1) / norm;
                ++k;
            }
        }
    };
    // Column k costs about k^2: the split at n/√2 halves the work, moved off
    // the second row of a 2×2 block.
    Index split = static_cast<Index>(static_cast<double>(n) * std::sqrt(0.5));
    if (split > 0 && split < n && t(split, split - 1) != 0.0) ++split;
    SideThread side(n >= 300);
    side.both([&] { columns(split, n); }, [&] { columns(0, split); });
    return y;
}

}  // namespace corvel
