// Partial-fraction expansions of the Laplace transforms of a chain's state
// probabilities (see phase_type.h), and their closed forms.

#include "statespace/phase_type.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "expo/guarded.h"
#include "statespace/side_thread.h"

namespace corvel {

namespace {

constexpr int kContourPoints = 64;

double factorial(int k) {
    double f = 1.0;
    for (int i = 2; i <= k; ++i) f *= i;
    return f;
}

// A block without absorbing positions: every row of its generator sums to 0.
bool closed_block(const PhBlock& b) { return b.nt > 0 && b.nt == b.size(); }

// Finds the eigenvalues of the transient block, appends 0 (the pole of the
// absorbing positions; a closed block has its own) and merges them;
// lays out one entry per pole counted with multiplicity.
bool find_poles(const PhBlock& b, EigenRoutine routine, const Tolerances& tol, const PhTrace& trace,
                PhExpansion& x) {
    const Eigen::MatrixXd att = b.a.topLeftCorner(b.nt, b.nt);
    std::vector<cplx> values;
    if (trace.out && trace.verbose)
        trace.out->write(routine == EigenRoutine::Cg ? "NOTE: using eigen1 algorithm\n" : "NOTE: using eigen2 algorithm\n");
    bool found = routine == EigenRoutine::Cg ? eigen_cg(att, values) : eigen_new_cg(att, values);
    for (const cplx& v : values)
        if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) found = false;
    if (!found) {
        x.eigen_failed = true;
        return false;
    }
    if (closed_block(b) && !values.empty()) {
        // The generator of a closed chain is singular: its eigenvalue of
        // least modulus is 0 up to rounding, and it is the pole of the
        // limiting probabilities.
        size_t least = 0;
        for (size_t i = 1; i < values.size(); ++i)
            if (std::abs(values[i]) < std::abs(values[least])) least = i;
        values[least] = 0.0;
    } else {
        values.push_back(0.0);
    }
    x.eig = merge_eigenvalues(values, tol);
    if (trace.out && trace.debug) {
        trace.out->printf("number of unique eigenvalues: %d\n", static_cast<int>(x.eig.size()));
        trace.out->write("                  eigenvalues                  count\n");
        for (const MergedEigen& e : x.eig)
            trace.out->printf("  %20.12e %20.12e   %5d\n", e.value.real(), e.value.imag(), e.count);
    }
    for (int k = 0; k < static_cast<int>(x.eig.size()); ++k)
        for (int r = 1; r <= x.eig[static_cast<size_t>(k)].count; ++r) x.entries.push_back({k, r});
    x.coef = Eigen::MatrixXcd::Zero(b.size(), static_cast<Eigen::Index>(x.entries.size()));
    return true;
}

int zero_pole(const std::vector<MergedEigen>& eig) {
    int best = 0;
    for (int k = 1; k < static_cast<int>(eig.size()); ++k)
        if (std::abs(eig[static_cast<size_t>(k)].value) < std::abs(eig[static_cast<size_t>(best)].value)) best = k;
    return best;
}

int entry_index(const PhExpansion& x, int k, int r) {
    for (int e = 0; e < static_cast<int>(x.entries.size()); ++e)
        if (x.entries[static_cast<size_t>(e)].eig == k && x.entries[static_cast<size_t>(e)].order == r) return e;
    return -1;
}

// The closed forms of every position at t (real parts) and the sums of
// their terms' magnitudes: one product of the coefficients with the terms'
// time factors t^k/k!·e^(λ·t).
// |coef| is passed in: the check evaluates at several times, and the moduli
// of a large block's coefficients cost more than the products.
void closed_values(const PhExpansion& x, const Eigen::MatrixXd& abs_coef, double t, Eigen::VectorXd& value,
                   Eigen::VectorXd& magnitude) {
    Eigen::VectorXcd f(static_cast<Eigen::Index>(x.entries.size()));
    for (size_t e = 0; e < x.entries.size(); ++e) {
        const cplx l = x.eig[static_cast<size_t>(x.entries[e].eig)].value;
        const int k = x.entries[e].order - 1;
        f(static_cast<Eigen::Index>(e)) = std::pow(t, k) / factorial(k) * std::exp(l * t);
    }
    value = (x.coef * f).real();
    magnitude = abs_coef * f.cwiseAbs();
}

}  // namespace

void ph_check_expansion(const PhBlock& b, const Eigen::VectorXd& p0, PhExpansion& x, const PhReference& reference) {
    const int n = b.size();
    double fast = 0.0, slow = INFINITY;
    for (const MergedEigen& e : x.eig) {
        const double r = std::fabs(e.value.real());
        if (r == 0.0) continue;
        fast = std::max(fast, r);
        slow = std::min(slow, r);
    }
    std::vector<double> times{0.0};
    if (fast > 0.0) {
        for (double f : {0.5, 2.0}) times.push_back(f / fast);
        times.push_back(1.0 / std::sqrt(fast * slow));
        for (double f : {0.5, 2.0, 6.0}) times.push_back(f / slow);
    }
    // Discrepancy and magnitude per check time. A discrepancy within the
    // rounding of the largest true value counts as none (an exact 0 summed
    // from rounding-sized coefficients is not an inaccurate closed form).
    std::vector<Eigen::VectorXd> diff, mag;
    Eigen::VectorXd largest = Eigen::VectorXd::Constant(n, 1e-300);
    // The reference solutions on a second thread (large blocks) while the
    // closed forms are evaluated here.
    std::vector<Eigen::VectorXd> refs, values(times.size()), sizes(times.size());
    SideThread side(n >= 300);
    side.both([&] { reference(std::vector<double>(times.begin() + 1, times.end()), refs); },
              [&] {
                  const Eigen::MatrixXd abs_coef = x.coef.unaryExpr([](const cplx& c) { return modulus(c); });
                  for (size_t q = 0; q < times.size(); ++q) closed_values(x, abs_coef, times[q], values[q], sizes[q]);
              });
    refs.insert(refs.begin(), p0);
    for (size_t q = 0; q < times.size(); ++q) {
        const Eigen::VectorXd& ref = refs[q];
        if (ref.size() == 0) continue;  // beyond the reference's reach
        const Eigen::VectorXd &v = values[q], &m = sizes[q];
        Eigen::VectorXd d = (v - ref).cwiseAbs();
        for (int j = 0; j < n; ++j)
            if (!std::isfinite(d(j))) d(j) = INFINITY;
        diff.push_back(d);
        mag.push_back(m.cwiseMax(ref.cwiseAbs()));
        largest = largest.cwiseMax(ref.cwiseAbs());
    }
    x.error.assign(static_cast<size_t>(n), kUnitRoundoff * n);
    for (int j = 0; j < n; ++j) {
        const double floor = 16.0 * kUnitRoundoff * n * largest(j);
        for (size_t q = 0; q < diff.size(); ++q) {
            const double d = diff[q](j);
            if (!(d <= floor)) {
                x.error[static_cast<size_t>(j)] = std::max(x.error[static_cast<size_t>(j)], d / std::max(mag[q](j), floor));
                x.value_error = std::max(x.value_error, d);
            }
        }
    }
}

namespace {

// The check with the dense transient solution as reference (small blocks:
// exact at every time scale).
void estimate_errors(const PhBlock& b, const Eigen::VectorXd& p0, PhExpansion& x) {
    ph_check_expansion(b, p0, x, [&](const std::vector<double>& times, std::vector<Eigen::VectorXd>& out) {
        out.clear();
        for (double t : times) out.push_back(ph_transient(b, p0, t));
    });
}

// Evaluation points of the new variant: distinct points s = 1 + i·k.
std::vector<cplx> plain_points(int count) {
    std::vector<cplx> s;
    for (int k = -(count / 2); static_cast<int>(s.size()) < count; ++k)
        if (k != 0) s.emplace_back(1.0, static_cast<double>(k));
    return s;
}

// Evaluation points placed between the poles: midpoints of neighbouring real
// poles, then points on circles around complex and repeated poles (radius
// half the distance to the nearest other pole), then the plain points.
std::vector<cplx> voronoi_points(const PhExpansion& x, int count) {
    const double scale = eigen_scale(x.eig);
    std::vector<cplx> cand;
    std::vector<double> real;
    for (const MergedEigen& e : x.eig)
        if (e.value.imag() == 0.0) real.push_back(e.value.real());
    std::sort(real.begin(), real.end());
    for (size_t i = 0; i + 1 < real.size(); ++i)
        if (real[i + 1] - real[i] >= 1e-6) cand.emplace_back(0.5 * (real[i] + real[i + 1]), 0.0);
    for (size_t k = 0; k < x.eig.size(); ++k) {
        const MergedEigen& e = x.eig[k];
        double rho = 0.5 * scale;
        for (size_t i = 0; i < x.eig.size(); ++i)
            if (i != k) rho = std::min(rho, 0.5 * std::abs(e.value - x.eig[i].value));
        const int pts = e.value.imag() != 0.0 ? e.count : e.count - 1;
        for (int r = 0; r < pts; ++r) {
            const double theta = std::numbers::pi * (0.5 + 2.0 * r / (pts + 1));
            cand.push_back(e.value + std::polar(rho, theta));
        }
    }
    for (const cplx& s : plain_points(count)) cand.push_back(s * scale);
    std::vector<cplx> s;
    for (const cplx& c : cand) {
        if (static_cast<int>(s.size()) == count) break;
        bool clash = false;
        for (const cplx& t : s) clash = clash || std::abs(c - t) < 1e-9 * scale;
        for (const MergedEigen& e : x.eig) clash = clash || std::abs(c - e.value) < 1e-9 * scale;
        if (!clash) s.push_back(c);
    }
    return s;
}

}  // namespace

Eigen::VectorXd ph_transient(const PhBlock& b, const Eigen::VectorXd& p0, double t, int* squarings_out) {
    const int n = b.size();
    double rate = 0.0;
    for (int i = 0; i < b.nt; ++i) rate = std::max(rate, -b.a(i, i));
    int squarings = 0;
    Eigen::VectorXd p = p0;
    if (t > 0.0 && rate > 0.0) {
        const double lambda = 1.05 * rate, lt = lambda * t;
        while (std::ldexp(lt, -squarings) > 0.5 && squarings < 2000) ++squarings;
        const double y = std::ldexp(lt, -squarings);
        const Eigen::MatrixXd step = Eigen::MatrixXd::Identity(n, n) + b.a / lambda;
        Eigen::MatrixXd e = Eigen::MatrixXd::Zero(n, n), pk = Eigen::MatrixXd::Identity(n, n);
        double w = std::exp(-y), used = 0.0;
        for (int k = 0; k < 60 && 1.0 - used > 1e-18; ++k) {
            e += w * pk;
            used += w;
            pk = pk * step;
            w *= y / (k + 1);
        }
        for (int s = 0; s < squarings; ++s) e = e * e;
        p = e.transpose() * p0;
    }
    if (squarings_out) *squarings_out = squarings;
    return p;
}

Eigen::VectorXcd ph_laplace(const PhBlock& b, const Eigen::VectorXd& p0, cplx s) {
    const int n = b.size();
    Eigen::MatrixXcd m = -b.a.cast<cplx>();
    for (int i = 0; i < n; ++i) m(i, i) += s;
    return m.transpose().partialPivLu().solve(p0.cast<cplx>());
}

PhExpansion ph_old_expansion(const PhBlock& b, int start, EigenRoutine routine, const Tolerances& tol,
                             const PhTrace& trace) {
    PhExpansion x;
    if (!find_poles(b, routine, tol, trace, x)) return x;
    const int nt = b.nt, n = b.size();
    const int nk = static_cast<int>(x.eig.size());
    const int zero = zero_pole(x.eig);
    const double scale = eigen_scale(x.eig);
    for (int j = 0; j < n; ++j) {
        if (trace.out && trace.debug && (j == 0 || j == nt))
            trace.out->write(j < nt ? "analyzing for transient states\n" : "analyzing for absorbing states\n");
        const bool transient = j < nt;
        const int size = transient ? nt : nt + 1;
        const int replaced = transient ? j : nt;
        // sI − A over the transient states (and state j when absorbing), with
        // the row of state j replaced by the start vector: by Cramer's rule
        // its determinant over det(sI − A) is x_j(s).
        auto replaced_matrix = [&](cplx s) {
            Eigen::MatrixXcd m(size, size);
            for (int i = 0; i < nt; ++i)
                for (int l = 0; l < nt; ++l) m(i, l) = (i == l ? s : cplx(0.0)) - b.a(i, l);
            if (!transient) {
                for (int i = 0; i < nt; ++i) m(i, nt) = -b.a(i, j);
                for (int l = 0; l < nt; ++l) m(nt, l) = 0.0;
                m(nt, nt) = s;
            }
            for (int l = 0; l < size; ++l) m(replaced, l) = (l == start && l < nt) ? 1.0 : 0.0;
            return m;
        };
        std::vector<int> mult(static_cast<size_t>(nk));
        for (int k = 0; k < nk; ++k) mult[static_cast<size_t>(k)] = x.eig[static_cast<size_t>(k)].count;
        // The transient positions of an absorbing chain have no pole at 0;
        // those of a closed chain have their limiting probability there.
        if (transient && !closed_block(b)) --mult[static_cast<size_t>(zero)];
        for (int k = 0; k < nk; ++k) {
            const int mk = mult[static_cast<size_t>(k)];
            if (mk < 1) continue;
            const cplx lk = x.eig[static_cast<size_t>(k)].value;
            if (mk == 1) {
                std::vector<cplx> div;
                for (int i = 0; i < nk; ++i)
                    if (i != k)
                        for (int c = 0; c < mult[static_cast<size_t>(i)]; ++c) div.push_back(lk - x.eig[static_cast<size_t>(i)].value);
                cplx c = det_over_product(replaced_matrix(lk), div);
                if (!std::isfinite(c.real()) || !std::isfinite(c.imag())) c = 0.0;
                x.coef(j, entry_index(x, k, 1)) = c;
                continue;
            }
            // A repeated pole: the coefficients of its principal part are
            // contour integrals of x_j(s)·(s − λ)^(r−1) on a circle that
            // encloses no other pole.
            double rho = 0.5 * scale;
            for (int i = 0; i < nk; ++i)
                if (i != k && mult[static_cast<size_t>(i)] > 0)
                    rho = std::min(rho, 0.5 * std::abs(lk - x.eig[static_cast<size_t>(i)].value));
            std::vector<cplx> acc(static_cast<size_t>(mk), 0.0);
            for (int q = 0; q < kContourPoints; ++q) {
                const cplx w = std::polar(rho, 2.0 * std::numbers::pi * q / kContourPoints);
                const cplx s = lk + w;
                std::vector<cplx> div;
                for (int i = 0; i < nk; ++i)
                    for (int c = 0; c < mult[static_cast<size_t>(i)]; ++c) div.push_back(s - x.eig[static_cast<size_t>(i)].value);
                const cplx v = det_over_product(replaced_matrix(s), div);
                cplx wr = w;
                for (int r = 1; r <= mk; ++r, wr *= w) acc[static_cast<size_t>(r - 1)] += v * wr;
            }
            for (int r = 1; r <= mk; ++r) x.coef(j, entry_index(x, k, r)) = acc[static_cast<size_t>(r - 1)] / static_cast<double>(kContourPoints);
        }
    }
    Eigen::VectorXd p0 = Eigen::VectorXd::Zero(n);
    p0(start) = 1.0;
    estimate_errors(b, p0, x);
    x.ok = true;
    return x;
}

namespace {

// The new variant on a block whose rates are of order 1 (its evaluation
// points lie at a distance of order 1 from the poles).
PhExpansion new_expansion_unit_scale(const PhBlock& b, const Eigen::VectorXd& p0, bool voronoi, const Tolerances& tol,
                                     const PhTrace& trace) {
    PhExpansion x;
    if (!find_poles(b, EigenRoutine::NewCg, tol, trace, x)) return x;
    const int nt = b.nt, n = b.size();
    const int count = static_cast<int>(x.entries.size());
    // Hessenberg form of the transient block, A = Q·H·Qᵀ; the start vector
    // in its coordinates.
    Eigen::MatrixXd h, q;
    if (nt > 0) {
        Eigen::HessenbergDecomposition<Eigen::MatrixXd> hd(b.a.topLeftCorner(nt, nt));
        h = hd.matrixH();
        q = hd.matrixQ();
    }
    const Eigen::VectorXd c = nt > 0 ? Eigen::VectorXd(q.transpose() * p0.head(nt)) : Eigen::VectorXd();
    if (trace.out && trace.verbose)
        trace.out->write(voronoi ? "NOTE: using voronoi algorithm\n" : "NOTE: NOT using voronoi algorithm\n");
    const std::vector<cplx> pts = voronoi ? voronoi_points(x, count) : plain_points(count);
    if (static_cast<int>(pts.size()) != count) return x;
    // x(s) at every point: x_T solves (sI − A_TT)ᵀ·x_T = p0_T, i.e. with
    // the reversed order of rows and columns an upper Hessenberg system.
    Eigen::MatrixXcd values(count, n);
    for (int p = 0; p < count; ++p) {
        const cplx s = pts[static_cast<size_t>(p)];
        Eigen::MatrixXcd g(nt, nt);
        Eigen::VectorXcd z(nt);
        for (int i = 0; i < nt; ++i) {
            for (int l = 0; l < nt; ++l) {
                const int r = nt - 1 - l, col = nt - 1 - i;
                g(i, l) = (r == col ? s : cplx(0.0)) - h(r, col);
            }
            z(i) = c(nt - 1 - i);
        }
        if (!hessenberg_solve(g, z)) return x;
        Eigen::VectorXcd y(nt);
        for (int i = 0; i < nt; ++i) y(i) = z(nt - 1 - i);
        const Eigen::VectorXcd xt = nt > 0 ? Eigen::VectorXcd(q.cast<cplx>() * y) : Eigen::VectorXcd();
        for (int j = 0; j < n; ++j) {
            if (j < nt) {
                values(p, j) = xt(j);
            } else {
                cplx in = p0(j);
                for (int i = 0; i < nt; ++i) in += xt(i) * b.a(i, j);
                values(p, j) = in / s;
            }
        }
    }
    Eigen::MatrixXcd m(count, count);
    for (int p = 0; p < count; ++p)
        for (int e = 0; e < count; ++e)
            m(p, e) = 1.0 / std::pow(pts[static_cast<size_t>(p)] - x.eig[static_cast<size_t>(x.entries[static_cast<size_t>(e)].eig)].value,
                                     x.entries[static_cast<size_t>(e)].order);
    Eigen::PartialPivLU<Eigen::MatrixXcd> lu(m);
    x.rcond = lu.rcond();
    if (!std::isfinite(x.rcond)) x.rcond = 0.0;
    if (trace.out && trace.verbose) trace.out->printf("Approximate condition number: %24.20f\n", 1.0 / x.rcond);
    if (x.rcond == 0.0) {
        if (trace.out) {
            trace.out->write("ERROR: Condition number too big in zgeco.\n");
            trace.out->write("Please report this problem to the developers.\n");
            trace.out->write("Also indicate where your test file is located.\n");
        }
        return x;
    }
    x.coef = lu.solve(values).transpose();
    estimate_errors(b, p0, x);
    x.ok = true;
    return x;
}

}  // namespace

double ph_rate_scale(const PhBlock& b) {
    double rate = 0.0;
    for (int i = 0; i < b.nt; ++i) rate = std::max(rate, std::fabs(b.a(i, i)));
    if (!(rate > 0.0) || !std::isfinite(rate)) return 1.0;
    int e = 0;
    std::frexp(rate, &e);
    return std::ldexp(1.0, e - 1);
}

void ph_unscale(PhExpansion& x, double sigma) {
    if (sigma == 1.0) return;
    for (MergedEigen& e : x.eig) e.value *= sigma;
    for (size_t e = 0; e < x.entries.size(); ++e) {
        const int k = x.entries[e].order - 1;
        if (k > 0) x.coef.col(static_cast<Eigen::Index>(e)) *= std::pow(sigma, k);
    }
}

PhExpansion ph_new_expansion(const PhBlock& b, const Eigen::VectorXd& p0, bool voronoi, const Tolerances& tol,
                             const PhTrace& trace) {
    // The probabilities in time units of 1/sigma are those of the block
    // divided by sigma (a power of 2: the division is exact); the closed
    // form is found there and taken back.
    const double sigma = ph_rate_scale(b);
    if (sigma == 1.0) return new_expansion_unit_scale(b, p0, voronoi, tol, trace);
    PhBlock scaled = b;
    scaled.a /= sigma;
    PhExpansion x = new_expansion_unit_scale(scaled, p0, voronoi, tol, trace);
    if (x.ok) ph_unscale(x, sigma);
    return x;
}

namespace {

struct PendingTerm {
    double re, im;
    int k;
    cplx rate;
};

// The exponomial of many terms by pairwise merging: n·log n comparisons
// where inserting one by one would take n^2.
Exponomial merge_terms(const std::vector<PendingTerm>& t, size_t lo, size_t hi, const Tolerances& tol) {
    Exponomial e;
    if (hi - lo == 1) {
        insert_term(t[lo].re, t[lo].im, t[lo].k, t[lo].rate.real(), t[lo].rate.imag(), e, tol);
        return e;
    }
    const size_t mid = lo + (hi - lo) / 2;
    e = merge_terms(t, lo, mid, tol);
    add_expos(merge_terms(t, mid, hi, tol), e, tol);
    return e;
}

constexpr size_t kMergeTermsFrom = 64;

}  // namespace

double ph_add_terms(const PhExpansion& x, int pos, double scale, Exponomial& dst, const Tolerances& tol,
                    double zero) {
    double limit = 0.0;
    std::vector<PendingTerm> pending;
    const bool bulk = x.entries.size() >= kMergeTermsFrom;
    for (size_t e = 0; e < x.entries.size(); ++e) {
        const cplx lk = x.eig[static_cast<size_t>(x.entries[e].eig)].value;
        if (lk.imag() < 0.0) continue;  // its conjugate partner supplies it
        const cplx c = x.coef(pos, static_cast<Eigen::Index>(e));
        double re = std::fabs(c.real()) < zero ? 0.0 : c.real();
        double im = std::fabs(c.imag()) < zero || lk.imag() == 0.0 ? 0.0 : c.imag();
        if (re == 0.0 && im == 0.0) continue;
        const int k = x.entries[e].order - 1;
        const double f = scale / factorial(k);
        if (bulk) {
            pending.push_back({re * f, im * f, k, lk});
            if (lk.imag() > 0.0) pending.push_back({re * f, -im * f, k, std::conj(lk)});
        } else {
            insert_term(re * f, im * f, k, lk.real(), lk.imag(), dst, tol);
            if (lk.imag() > 0.0) insert_term(re * f, -im * f, k, lk.real(), -lk.imag(), dst, tol);
        }
        if (lk == cplx(0.0)) limit += re * f;
    }
    if (!pending.empty()) add_expos(merge_terms(pending, 0, pending.size(), tol), dst, tol);
    return limit;
}

}  // namespace corvel
