#include "expo/constant_expo.h"

#include <algorithm>
#include <cmath>

namespace corvel {

namespace {

Term term_of(double a) { return Term{a, 0.0, 0, 0.0, 0.0}; }

// The largest finite coefficient magnitude (0 without a term).
double magnitude(const ConstantExpo& F) {
    if (!F.has) return 0.0;
    const double m = std::abs(F.a);
    return std::isfinite(m) && m > 0.0 ? m : 0.0;
}

double threshold(double eps, double scale) {
    if (!std::isfinite(scale)) scale = 0.0;
    return eps * std::max(1e-300, scale);
}

// Records a discarded constant term of coefficient x.
void lose(ConstantExpo& F, double x, double eps) {
    if (x == 0.0) return;
    F.dropped.add(term_drop_bound(term_of(x), eps));
}

// A term whose coefficient is below the tolerance is dropped; its imaginary
// part is always zero, so it is negligible exactly when the threshold is
// positive and the real part is below it.
bool negligible(double a, double thr) { return std::abs(a) < thr && 0.0 < thr; }

// The largest magnitude of F over t >= 0.
double sup_of(const ConstantExpo& F, double eps) {
    if (!F.has) return 0.0;
    const double a = std::hypot(F.a, 0.0);
    if (a == 0.0) return 0.0;
    if (0.0 <= eps) return a;
    return term_drop_bound(term_of(F.a), eps).sup;
}

// dst gets the term b added to its own (or b itself when it has none);
// a sum below thr is removed and recorded.
void merge_term(ConstantExpo& dst, double b, double thr, double eps) {
    if (!dst.has) {
        dst.has = true;
        dst.a = b;
        return;
    }
    const double sum = dst.a + b;
    if (std::abs(sum) < thr || sum == 0.0) {
        dst.has = false;
        dst.a = 0.0;
        lose(dst, sum, eps);
        return;
    }
    dst.a = sum;
}

void combine(const ConstantExpo& src, double s, ConstantExpo& dst, double eps) {
    dst.dropped.add(src.dropped);
    if (!src.has) return;
    const double thr = threshold(eps, std::max(magnitude(src), magnitude(dst)));
    merge_term(dst, s == 1.0 ? src.a : src.a * s, thr, eps);
}

}  // namespace

bool ConstantExpo::fits(const Exponomial& F) {
    if (F.empty()) return true;
    if (F.size() != 1) return false;
    const Term& t = F[0];
    return t.e_xpower == 0 && t.e_b == 0.0 && t.e_b_complex == 0.0 && t.e_a_complex == 0.0 &&
           std::isfinite(t.e_a);
}

ConstantExpo ConstantExpo::of(const Exponomial& F) {
    ConstantExpo c;
    c.has = !F.empty();
    c.a = c.has ? F[0].e_a : 0.0;
    c.dropped = F.dropped();
    return c;
}

Exponomial ConstantExpo::to_exponomial() const {
    Exponomial F = has ? Exponomial::constant(a) : Exponomial{};
    F.note_dropped(dropped);
    return F;
}

bool ConstantExpo::finite() const { return std::isfinite(a); }

void add_expos(const ConstantExpo& src, ConstantExpo& dst, const Tolerances& tol) {
    combine(src, 1.0, dst, tol.epsilon);
}

void subtract_expos(const ConstantExpo& src, ConstantExpo& dst, const Tolerances& tol) {
    combine(src, -1.0, dst, tol.epsilon);
}

void multiply_expos(const ConstantExpo& x, const ConstantExpo& y, ConstantExpo& dst, const Tolerances& tol) {
    if (!x.has || !y.has) return;
    const double eps = tol.epsilon;
    DropBound carried;
    if (x.dropped.any()) carried.add(x.dropped, sup_of(y, eps));
    if (y.dropped.any()) carried.add(y.dropped, sup_of(x, eps));
    ConstantExpo p;
    p.has = true;
    p.a = x.a * y.a;
    const double thr = threshold(eps, std::max(magnitude(p), magnitude(dst)));
    merge_term(dst, p.a, thr, eps);
    dst.dropped.add(carried);
}

void negate_and_add_scalar(ConstantExpo& F, double s, const Tolerances& tol) {
    const double eps = tol.epsilon;
    const double thr = threshold(eps, std::max(magnitude(F), std::abs(s)));
    if (F.has) {
        F.a = -F.a + s;
        if (negligible(F.a, thr)) {
            lose(F, F.a, eps);
            F.has = false;
            F.a = 0.0;
        }
    } else if (std::abs(s) >= eps) {
        F.has = true;
        F.a = s;
    } else {
        lose(F, s, eps);
    }
}

void subtract_scalar(ConstantExpo& F, double s, const Tolerances& tol) {
    const double eps = tol.epsilon;
    if (std::abs(s) < eps) {
        lose(F, s, eps);
        return;
    }
    const double thr = threshold(eps, std::max(magnitude(F), std::abs(s)));
    if (F.has) {
        F.a -= s;
        if (negligible(F.a, thr)) {
            lose(F, F.a, eps);
            F.has = false;
            F.a = 0.0;
        }
    } else {
        F.has = true;
        F.a = -s;
    }
}

}  // namespace corvel
