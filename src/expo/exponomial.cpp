#include "expo/exponomial.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

namespace corvel {

// The algebra's own write access to the terms of an exponomial.
struct ExpoAccess {
    static std::vector<Term>& terms(Exponomial& F) { return F.terms_; }
    static DropBound& dropped(Exponomial& F) { return F.dropped_; }
};

void DropBound::add(const DropBound& other, double s) {
    s = std::abs(s);
    if (s == 0.0) return;
    auto acc = [s](double& x, double y) {
        if (y != 0.0) x += std::isnan(y) ? HUGE_VAL : s * y;
    };
    acc(sup, other.sup);
    acc(l0, other.l0);
    acc(l1, other.l1);
}

DropBound term_drop_bound(const Term& t, double eps) {
    DropBound d;
    const double a = std::hypot(t.e_a, t.e_a_complex);
    if (a == 0.0) return d;
    if (!std::isfinite(a)) {
        d.sup = d.l0 = d.l1 = HUGE_VAL;
        return d;
    }
    const int k = t.e_xpower;
    const double lambda = -t.e_b;
    if (!(lambda >= eps)) {
        // Not decaying: a constant (no integral counted) or unbounded.
        if (k == 0 && std::abs(t.e_b) < eps) {
            d.sup = a;
            if (std::abs(t.e_b_complex) >= eps) d.l0 = d.l1 = HUGE_VAL;
            return d;
        }
        d.sup = d.l0 = d.l1 = HUGE_VAL;
        return d;
    }
    const double la = std::log(a), ll = std::log(lambda), kk = static_cast<double>(k);
    // sup of t^k·e^(−λt) is at t = k/λ; the integrals are k!/λ^(k+1) and (k+1)!/λ^(k+2).
    d.sup = k == 0 ? a : std::exp(la + kk * (std::log(kk) - ll) - kk);
    d.l0 = std::exp(la + std::lgamma(kk + 1.0) - (kk + 1.0) * ll);
    d.l1 = std::exp(la + std::lgamma(kk + 2.0) - (kk + 2.0) * ll);
    return d;
}

namespace {

using cplx = std::complex<double>;

// Largest number of terms one operation may generate, and the largest amount
// of work a convolution may take on; beyond them the request is refused
// (ExpoError 150) instead of exhausting memory or running for hours.
constexpr std::size_t kMaxGeneratedTerms = std::size_t{1} << 24;
constexpr double kMaxConvolutionWork = 2e8;
// Largest working array of the k-out-of-n recursion.
constexpr long long kMaxKofNArray = 1LL << 22;
// Most term products of the whole k-out-of-n recursion.
constexpr double kMaxKofNWork = 2e7;

// The ceiling `most` on term products, lowered to the tolerances' cap.
double work_ceiling(double most, const Tolerances& tol) {
    return tol.work_limit >= 0.0 ? std::min(most, tol.work_limit) : most;
}

std::vector<Term>& T_(Exponomial& F) { return ExpoAccess::terms(F); }
DropBound& D_(Exponomial& F) { return ExpoAccess::dropped(F); }

// Records what cleaning took from a combined term: all of it when it was
// removed, the zeroed part otherwise.
void note_discard(DropBound* drop, const Term& before, const Term* kept, double eps) {
    if (drop == nullptr) return;
    Term lost = before;
    if (kept != nullptr) {
        lost.e_a -= kept->e_a;
        lost.e_a_complex -= kept->e_a_complex;
    }
    if (lost.e_a == 0.0 && lost.e_a_complex == 0.0) return;
    drop->add(term_drop_bound(lost, eps));
}

// The sum of the largest magnitudes of the terms: a bound on |F(t)|, t >= 0.
double sup_sum(const Exponomial& F, double eps) {
    double s = 0.0;
    for (const Term& t : F) {
        const double a = std::hypot(t.e_a, t.e_a_complex);
        if (a == 0.0) continue;
        if (t.e_xpower == 0 && t.e_b <= eps) {
            s += a;
            continue;
        }
        s += term_drop_bound(t, eps).sup;
    }
    return s;
}

// The bounds of s·F as if all of it were dropped.
DropBound whole_drop_bound(const Exponomial& F, double s, double eps) {
    DropBound d;
    for (const Term& t : F) d.add(term_drop_bound(t, eps), s);
    d.add(F.dropped(), s);
    return d;
}

double mag(const Term& t) { return std::max(std::abs(t.e_a), std::abs(t.e_a_complex)); }
double mag(cplx z) { return std::max(std::abs(z.real()), std::abs(z.imag())); }

// Largest finite coefficient magnitude of a term list.
double max_mag(const std::vector<Term>& v) {
    double m = 0.0;
    for (const Term& t : v) {
        double x = mag(t);
        if (std::isfinite(x) && x > m) m = x;
    }
    return m;
}

// The coefficient tolerance for combining coefficients of magnitude up to `scale`.
double coef_threshold(double eps, double scale) {
    if (!std::isfinite(scale)) scale = 0.0;
    return eps * std::max(1e-300, scale);
}

int checked_power(long long k) {
    if (k < 0 || k > INT_MAX) throw ExpoError(150, "exponomial power");
    return static_cast<int>(k);
}

Term make_term(cplx a, int k, cplx z) { return Term{a.real(), a.imag(), k, z.real(), z.imag()}; }

// Order of a term with power xk and rate xb + i·xc against y.
int order(long long xk, double xb, double xc, const Term& y, double eps) {
    if (xk != y.e_xpower) return xk > y.e_xpower ? 1 : -1;
    double db = xb - y.e_b;
    if (std::abs(db) > eps) return db > 0 ? 1 : -1;
    double dc = xc - y.e_b_complex;
    if (std::abs(dc) > eps) return dc > 0 ? 1 : -1;
    return 0;
}

int cmp(const Term& x, const Term& y, double eps) {
    return order(x.e_xpower, x.e_b, x.e_b_complex, y, eps);
}

// How a combined coefficient is cleaned.
enum class Clean {
    ZeroParts,      // each part below the tolerance becomes 0; removed when both are 0
    DropNegligible  // removed when both parts are below the tolerance, otherwise kept as is
};

// True when the combined term stays.
bool clean(Term& t, double thr, Clean how) {
    if (how == Clean::ZeroParts) {
        if (std::abs(t.e_a) < thr) t.e_a = 0.0;
        if (std::abs(t.e_a_complex) < thr) t.e_a_complex = 0.0;
        return !(t.e_a == 0.0 && t.e_a_complex == 0.0);
    }
    return !(std::abs(t.e_a) < thr && std::abs(t.e_a_complex) < thr);
}

// Appends the canonical merge of a (the existing terms, which keep their
// rates) and s·b to out.
void merge_into(std::vector<Term>& out, const Term* a, std::size_t na, const Term* b,
                std::size_t nb, double s, double thr, double eps, Clean how, DropBound* drop) {
    std::size_t i = 0, j = 0;
    auto scaled = [s](Term t) {
        t.e_a *= s;
        t.e_a_complex *= s;
        return t;
    };
    while (i < na && j < nb) {
        int c = cmp(a[i], b[j], eps);
        if (c > 0) {
            out.push_back(a[i++]);
        } else if (c < 0) {
            out.push_back(s == 1.0 ? b[j] : scaled(b[j]));
            ++j;
        } else {
            Term t = a[i++];
            t.e_a += s * b[j].e_a;
            t.e_a_complex += s * b[j].e_a_complex;
            ++j;
            const Term before = t;
            if (clean(t, thr, how)) {
                out.push_back(t);
                if (how == Clean::ZeroParts && !(t == before)) note_discard(drop, before, &t, eps);
            } else {
                note_discard(drop, before, nullptr, eps);
            }
        }
    }
    for (; i < na; ++i) out.push_back(a[i]);
    for (; j < nb; ++j) out.push_back(s == 1.0 ? b[j] : scaled(b[j]));
}

std::vector<Term> merged(const std::vector<Term>& a, const std::vector<Term>& b, double s,
                         double thr, double eps, Clean how, DropBound* drop) {
    std::vector<Term> out;
    out.reserve(a.size() + b.size());
    merge_into(out, a.data(), a.size(), b.data(), b.size(), s, thr, eps, how, drop);
    return out;
}

// Sorted runs of terms stored back to back: run r is [bounds[r], bounds[r+1]).
struct Runs {
    std::vector<Term> buf;
    std::vector<std::size_t> bounds{0};
    double max_coef = 0.0;

    void push(const Term& t) {
        if (buf.size() >= kMaxGeneratedTerms) throw ExpoError(150, "exponomial nodes");
        buf.push_back(t);
        double m = mag(t);
        if (std::isfinite(m) && m > max_coef) max_coef = m;
    }
    void end_run() {
        if (bounds.back() != buf.size()) bounds.push_back(buf.size());
    }
};

// Merges all runs pairwise (a balanced tree of linear merges) into one
// canonical list; earlier runs keep their rates on alike terms.
std::vector<Term> merge_runs(Runs&& runs, double thr, double eps, DropBound* drop) {
    runs.end_run();
    std::vector<Term> buf = std::move(runs.buf);
    std::vector<std::size_t> bounds = std::move(runs.bounds);
    std::vector<Term> out;
    std::vector<std::size_t> next;
    while (bounds.size() > 2) {
        out.clear();
        out.reserve(buf.size());
        next.assign(1, 0);
        std::size_t r = 0;
        for (; r + 2 < bounds.size(); r += 2) {
            const Term* a = buf.data() + bounds[r];
            const Term* b = buf.data() + bounds[r + 1];
            merge_into(out, a, bounds[r + 1] - bounds[r], b, bounds[r + 2] - bounds[r + 1], 1.0,
                       thr, eps, Clean::ZeroParts, drop);
            next.push_back(out.size());
        }
        if (r + 1 < bounds.size()) {
            // the odd run left over
            out.insert(out.end(), buf.begin() + static_cast<std::ptrdiff_t>(bounds[r]),
                       buf.begin() + static_cast<std::ptrdiff_t>(bounds[r + 1]));
            next.push_back(out.size());
        }
        std::swap(buf, out);
        std::swap(bounds, next);
    }
    return buf;
}

// dst += the terms of the runs; combined coefficients are cleaned relative to
// the largest coefficient of dst and of the runs.
void accumulate(Exponomial& dst, Runs&& runs, double eps) {
    std::vector<Term>& d = T_(dst);
    double thr = coef_threshold(eps, std::max(runs.max_coef, max_mag(d)));
    std::vector<Term> sum = merge_runs(std::move(runs), thr, eps, &D_(dst));
    if (d.empty()) {
        d = std::move(sum);
        return;
    }
    d = merged(d, sum, 1.0, thr, eps, Clean::ZeroParts, &D_(dst));
}

// Index of the constant term (alike to power 0, rate 0) and whether it exists;
// when missing, the index is where it belongs.
std::pair<std::size_t, bool> find_constant(const std::vector<Term>& v, double eps) {
    const Term zero{};
    for (std::size_t i = 0; i < v.size(); ++i) {
        int c = cmp(zero, v[i], eps);
        if (c == 0) return {i, true};
        if (c > 0) return {i, false};
    }
    return {v.size(), false};
}

Term complex_product(const Term& x, const Term& y) {
    Term t;
    t.e_a = x.e_a * y.e_a - x.e_a_complex * y.e_a_complex;
    t.e_a_complex = x.e_a * y.e_a_complex + x.e_a_complex * y.e_a;
    t.e_xpower = checked_power(static_cast<long long>(x.e_xpower) + y.e_xpower);
    t.e_b = x.e_b + y.e_b;
    t.e_b_complex = x.e_b_complex + y.e_b_complex;
    return t;
}

// Sets to 0 each part of z below eps relative to z's larger part.
cplx clean_self(cplx z, double eps) {
    double thr = coef_threshold(eps, mag(z));
    double re = std::abs(z.real()) < thr ? 0.0 : z.real();
    double im = std::abs(z.imag()) < thr ? 0.0 : z.imag();
    return {re, im};
}

bool is_finite(cplx z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

// ---------------------------------------------------------------------------
// Convolution

void plain_print(Output& out, const Exponomial& F) {
    if (F.empty()) {
        out.printf("   0\n");
        return;
    }
    for (const Term& t : F)
        out.printf("   %16.10e %16.10e  %5d  %16.10e %16.10e\n", t.e_a, t.e_a_complex, t.e_xpower,
                   t.e_b, t.e_b_complex);
}

cplx rate_difference(cplx z1, cplx z2, double eps) {
    cplx d = z1 - z2;
    return {std::abs(d.real()) < eps ? 0.0 : d.real(), std::abs(d.imag()) < eps ? 0.0 : d.imag()};
}

// The convolution done step by step with the general operations, printing the
// trace; used when the trace is asked for.
void convolute_traced(const Exponomial& p, const Exponomial& q, Exponomial& dst,
                      const Tolerances& tol, const ExpoDiagnostics& diag) {
    Output& out = *diag.out;
    auto print = [&](const Exponomial& F) {
        if (diag.print) diag.print(out, F);
        else plain_print(out, F);
    };
    const double eps = tol.epsilon;
    out.printf("first cdf in convolution:\n");
    print(p);
    out.printf("second cdf in convolution:\n");
    print(q);
    out.printf("current accumulated sum:\n");
    print(dst);
    for (const Term& pt : p) {
        for (const Term& qt : q) {
            out.printf("p's node %16.10e  %5d  %16.10e\n", pt.e_a, pt.e_xpower, pt.e_b);
            out.printf("q's node %16.10e  %5d  %16.10e\n", qt.e_a, qt.e_xpower, qt.e_b);
            const int k1 = pt.e_xpower, k2 = qt.e_xpower;
            cplx coef = pt.coef() * qt.coef();
            if (k2 % 2 != 0) coef = -coef;
            out.printf("coeff_r %16.10e\n", coef.real());
            const cplx delta = rate_difference(pt.rate(), qt.rate(), eps);
            double r = 1.0;
            for (int m = k2; m >= 0; --m) {
                Exponomial w1, v1, tmp;
                T_(w1).push_back(make_term(coef, k2 - m, qt.rate()));
                T_(v1).push_back(make_term(1.0, checked_power(static_cast<long long>(k1) + m), delta));
                out.printf("w1 %16.10e  %5d  %16.10e\n", w1[0].e_a, w1[0].e_xpower, w1[0].e_b);
                out.printf("v1 %16.10e  %5d  %16.10e\n", v1[0].e_a, v1[0].e_xpower, v1[0].e_b);
                coef = -(static_cast<double>(m) / r) * coef;
                r += 1.0;
                out.printf("new coeff_r %16.10e\n", coef.real());
                integrate_expo(v1, tmp, tol);
                out.printf("integral of v1:\n");
                print(tmp);
                subtract_value_at_zero(tmp, tol);
                out.printf("integral of v1-value at zero:\n");
                print(tmp);
                multiply_expos(tmp, w1, dst, tol);
                out.printf("added in w1*integral(v1):\n");
                print(dst);
            }
        }
    }
}

struct Slot {
    cplx sum{0.0, 0.0};
    int count = 0;
};

// The same sums accumulated directly: every contribution of a pair (p_i, q_j)
// lands either at the rate of p_i or at the rate of q_j, so they are summed
// per (term, power) slot and merged once at the end.
void convolute_direct(const Exponomial& p, const Exponomial& q, Exponomial& dst,
                      const Tolerances& tol) {
    const double eps = tol.epsilon;
    long long kq = 0;
    for (const Term& t : q) kq = std::max<long long>(kq, t.e_xpower);
    double work = 0.0;
    for (const Term& pt : p)
        for (const Term& qt : q)
            work += (qt.e_xpower + 1.0) * (static_cast<double>(pt.e_xpower) + qt.e_xpower + 2.0);
    if (work > work_ceiling(kMaxConvolutionWork, tol)) throw ExpoError(150, "convolute_expos");
    checked_power(kq + 1);

    // Slots of p_i: powers 0 .. k1 + kq + 1; slots of q_j: powers 0 .. k2.
    std::vector<std::size_t> poff(p.size() + 1, 0), qoff(q.size() + 1, 0);
    for (std::size_t i = 0; i < p.size(); ++i)
        poff[i + 1] = poff[i] + static_cast<std::size_t>(checked_power(p[i].e_xpower + kq + 1)) + 1;
    for (std::size_t j = 0; j < q.size(); ++j)
        qoff[j + 1] = qoff[j] + static_cast<std::size_t>(q[j].e_xpower) + 1;
    std::vector<Slot> pslots(poff.back()), qslots(qoff.back());
    DropBound lost;
    double max_contrib = 0.0;
    auto add = [&](Slot& s, cplx v) {
        s.sum += v;
        ++s.count;
        double m = mag(v);
        if (std::isfinite(m) && m > max_contrib) max_contrib = m;
    };

    for (std::size_t i = 0; i < p.size(); ++i) {
        const Term& pt = p[i];
        const int k1 = pt.e_xpower;
        const cplx alpha = pt.coef(), z1 = pt.rate();
        Slot* ps = pslots.data() + poff[i];
        for (std::size_t j = 0; j < q.size(); ++j) {
            const Term& qt = q[j];
            const int k2 = qt.e_xpower;
            Slot* qs = qslots.data() + qoff[j];
            cplx coef = alpha * qt.coef();
            if (k2 % 2 != 0) coef = -coef;
            const cplx delta = rate_difference(z1, qt.rate(), eps);
            const bool polynomial = delta.real() == 0.0 && delta.imag() == 0.0;
            cplx inv_delta{0.0, 0.0};
            if (!polynomial)
                inv_delta = delta.imag() == 0.0 ? cplx(1.0 / delta.real(), 0.0)
                                                : clean_self(1.0 / delta, eps);
            double r = 1.0;
            for (int m = k2; m >= 0; --m) {
                const int n = k1 + m;  // power of s in v1
                const int shift = k2 - m;  // power of t in w1
                if (polynomial) {
                    // ∫ s^n ds = s^(n+1)/(n+1); nothing at zero.
                    add(ps[k1 + k2 + 1], coef / static_cast<double>(n + 1));
                } else {
                    // ∫ s^n·e^(Δs) ds: c_n = 1/Δ, c_j = −(j+1)/Δ·c_(j+1).
                    cplx c = inv_delta;
                    double cmax = mag(c);
                    add(ps[n + shift], coef * c);
                    for (int jj = n - 1; jj >= 0; --jj) {
                        c = (-static_cast<double>(jj + 1)) * c * inv_delta;
                        double cm = mag(c);
                        if (std::isfinite(cm) && cm > cmax) cmax = cm;
                        add(ps[jj + shift], coef * c);
                    }
                    // minus the value at zero, c_0, times w1
                    double thr = coef_threshold(eps, cmax);
                    if (!(std::abs(c.real()) < thr && std::abs(c.imag()) < thr))
                        add(qs[shift], -coef * c);
                    else
                        lost.add(term_drop_bound(make_term(-coef * c, shift, qt.rate()), eps));
                }
                coef = -(static_cast<double>(m) / r) * coef;
                r += 1.0;
            }
        }
    }

    const double thr = coef_threshold(eps, std::max(max_contrib, max_mag(T_(dst))));
    Runs runs;
    auto emit = [&](const Slot* slots, std::size_t count, cplx rate) {
        for (std::size_t pw = count; pw-- > 0;) {
            const Slot& s = slots[pw];
            if (s.count == 0) continue;
            Term t = make_term(s.sum, static_cast<int>(pw), rate);
            const Term before = t;
            if (s.count > 1 && !clean(t, thr, Clean::ZeroParts)) {
                note_discard(&lost, before, nullptr, eps);
                continue;
            }
            if (!(t == before)) note_discard(&lost, before, &t, eps);
            runs.push(t);
        }
        runs.end_run();
    };
    for (std::size_t i = 0; i < p.size(); ++i)
        emit(pslots.data() + poff[i], poff[i + 1] - poff[i], p[i].rate());
    for (std::size_t j = 0; j < q.size(); ++j)
        emit(qslots.data() + qoff[j], qoff[j + 1] - qoff[j], q[j].rate());
    runs.max_coef = std::max(runs.max_coef, max_contrib);
    accumulate(dst, std::move(runs), eps);
    D_(dst).add(lost);
}

// t^k·e^(b·t) directly, falling back on logarithms when that overflows or
// underflows in one factor.
double power_exp(double t, int k, double b) {
    if (std::isinf(t) && t > 0) {
        if (b < 0) return 0.0;
        if (b == 0 && k == 0) return 1.0;
        return HUGE_VAL;
    }
    double d = k == 0 ? std::exp(b * t) : std::pow(t, k) * std::exp(b * t);
    if ((!std::isfinite(d) || (d == 0.0 && k > 0)) && t > 0)
        d = std::exp(static_cast<double>(k) * std::log(t) + b * t);
    return d;
}

double log_power_exp(double t, int k, double b, double log_a = 0.0) {
    if (std::isinf(t)) return power_exp(t, k, b);
    return std::exp(log_a + static_cast<double>(k) * std::log(t) + b * t);
}

// (n−1)! / z^n-like products by repeated exact division: x := x·j/z for
// j = from .. to, stopping once x is 0 or no longer finite (it stays so).
double divide_down(double x, double z, long long from, long long to) {
    for (long long j = from; j <= to; ++j) {
        if (x == 0.0) return 0.0;
        if (!std::isfinite(x)) {
            // the magnitude stays infinite; only the sign still changes
            if (z < 0 && ((to - j + 1) % 2 != 0)) x = -x;
            return x;
        }
        x = static_cast<double>(j) * x / z;
    }
    return x;
}

cplx divide_down(cplx x, cplx z, long long from, long long to) {
    for (long long j = from; j <= to; ++j) {
        if (x == cplx(0.0, 0.0) || !is_finite(x)) return x;
        x = static_cast<double>(j) * x / z;
    }
    return x;
}

}  // namespace

// ---------------------------------------------------------------------------

Exponomial Exponomial::constant(double value) {
    Exponomial F;
    F.terms_.push_back(Term{value, 0.0, 0, 0.0, 0.0});
    return F;
}

const Exponomial& require_expo(const Exponomial* F) {
    if (F == nullptr) throw ExpoError(130, "");
    return *F;
}

void insert_term(double a_re, double a_im, int k, double b_re, double b_im, Exponomial& F,
                 const Tolerances& tol) {
    if (k < 0) throw ExpoError(60, "");
    std::vector<Term>& v = T_(F);
    const Term nt{a_re, a_im, k, b_re, b_im};
    std::size_t i = 0;
    for (; i < v.size(); ++i) {
        int c = cmp(nt, v[i], tol.epsilon);
        if (c > 0) break;
        if (c == 0) {
            double thr = coef_threshold(tol.epsilon, std::max(max_mag(v), mag(nt)));
            v[i].e_a += a_re;
            v[i].e_a_complex += a_im;
            if (!clean(v[i], thr, Clean::DropNegligible)) {
                note_discard(&D_(F), v[i], nullptr, tol.epsilon);
                v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
            }
            return;
        }
    }
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(i), nt);
}

int compare(const Term& x, const Term& y, const Tolerances& tol) { return cmp(x, y, tol.epsilon); }

int compare_sum(const Term& x, const Term& y, const Term& z, const Tolerances& tol) {
    return order(static_cast<long long>(x.e_xpower) + y.e_xpower, x.e_b + y.e_b,
                 x.e_b_complex + y.e_b_complex, z, tol.epsilon);
}

void copy_expo(const Exponomial& src, Exponomial& dst) {
    if (&src != &dst) dst = src;
}

void add_expos(const Exponomial& src, Exponomial& dst, const Tolerances& tol) {
    const DropBound carried = src.dropped();
    D_(dst).add(carried);
    if (src.empty()) return;
    std::vector<Term>& d = T_(dst);
    double thr = coef_threshold(tol.epsilon, std::max(max_mag(src.terms()), max_mag(d)));
    d = merged(d, src.terms(), 1.0, thr, tol.epsilon, Clean::ZeroParts, &D_(dst));
}

void subtract_expos(const Exponomial& src, Exponomial& dst, const Tolerances& tol) {
    const DropBound carried = src.dropped();
    D_(dst).add(carried);
    if (src.empty()) return;
    std::vector<Term>& d = T_(dst);
    double thr = coef_threshold(tol.epsilon, std::max(max_mag(src.terms()), max_mag(d)));
    d = merged(d, src.terms(), -1.0, thr, tol.epsilon, Clean::ZeroParts, &D_(dst));
}

void multiply_expos(const Exponomial& x, const Exponomial& y, Exponomial& dst,
                    const Tolerances& tol) {
    if (x.empty() || y.empty()) return;
    // Each operand's discarded part times the other's magnitude.
    DropBound carried;
    if (x.dropped().any()) carried.add(x.dropped(), sup_sum(y, tol.epsilon));
    if (y.dropped().any()) carried.add(y.dropped(), sup_sum(x, tol.epsilon));
    if (static_cast<double>(x.size()) * static_cast<double>(y.size()) >
        work_ceiling(static_cast<double>(kMaxGeneratedTerms), tol))
        throw ExpoError(150, "exponomial nodes");
    Runs runs;
    runs.buf.reserve(x.size() * y.size());
    runs.bounds.reserve(x.size() + 1);
    // Each term of x times all of y is already in canonical order.
    for (const Term& xt : x) {
        for (const Term& yt : y) runs.push(complex_product(xt, yt));
        runs.end_run();
    }
    accumulate(dst, std::move(runs), tol.epsilon);
    D_(dst).add(carried);
}

void scalar_multiply(Exponomial& F, double s) {
    for (Term& t : T_(F)) {
        t.e_a *= s;
        t.e_a_complex *= s;
    }
    DropBound scaled;
    scaled.add(F.dropped(), s);
    D_(F) = scaled;
}

void scalar_mult_and_add(const Exponomial& src, double s, Exponomial& dst, const Tolerances& tol) {
    if (std::abs(s) < tol.epsilon) {
        // s·src is left out entirely.
        const DropBound lost = whole_drop_bound(src, s, tol.epsilon);
        D_(dst).add(lost);
        return;
    }
    const DropBound carried = src.dropped();
    D_(dst).add(carried, s);
    if (src.empty()) return;
    std::vector<Term>& d = T_(dst);
    double thr = coef_threshold(tol.epsilon, std::max(std::abs(s) * max_mag(src.terms()), max_mag(d)));
    d = merged(d, src.terms(), s, thr, tol.epsilon, Clean::DropNegligible, &D_(dst));
}

void negate_and_add_scalar(Exponomial& F, double s, const Tolerances& tol) {
    std::vector<Term>& v = T_(F);
    double thr = coef_threshold(tol.epsilon, std::max(max_mag(v), std::abs(s)));
    for (Term& t : v) {
        t.e_a = -t.e_a;
        t.e_a_complex = -t.e_a_complex;
    }
    auto [i, found] = find_constant(v, tol.epsilon);
    if (found) {
        v[i].e_a += s;
        if (!clean(v[i], thr, Clean::DropNegligible)) {
            note_discard(&D_(F), v[i], nullptr, tol.epsilon);
            v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
        }
    } else if (std::abs(s) >= tol.epsilon) {
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(i), Term{s, 0.0, 0, 0.0, 0.0});
    } else {
        note_discard(&D_(F), Term{s, 0.0, 0, 0.0, 0.0}, nullptr, tol.epsilon);
    }
}

void subtract_scalar(Exponomial& F, double s, const Tolerances& tol) {
    if (std::abs(s) < tol.epsilon) {
        note_discard(&D_(F), Term{s, 0.0, 0, 0.0, 0.0}, nullptr, tol.epsilon);
        return;
    }
    std::vector<Term>& v = T_(F);
    double thr = coef_threshold(tol.epsilon, std::max(max_mag(v), std::abs(s)));
    auto [i, found] = find_constant(v, tol.epsilon);
    if (found) {
        v[i].e_a -= s;
        if (!clean(v[i], thr, Clean::DropNegligible)) {
            note_discard(&D_(F), v[i], nullptr, tol.epsilon);
            v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
        }
    } else {
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(i), Term{-s, 0.0, 0, 0.0, 0.0});
    }
}

void subtract_value_at_zero(Exponomial& F, const Tolerances& tol) {
    std::vector<Term>& v = T_(F);
    double re = 0.0, im = 0.0;
    for (const Term& t : v) {
        if (t.e_xpower == 0) {
            re += t.e_a;
            im += t.e_a_complex;
        }
    }
    double thr = coef_threshold(tol.epsilon, max_mag(v));
    if (std::abs(re) < thr && std::abs(im) < thr) {
        note_discard(&D_(F), Term{re, im, 0, 0.0, 0.0}, nullptr, tol.epsilon);
        return;
    }
    auto [i, found] = find_constant(v, tol.epsilon);
    if (found) {
        v[i].e_a -= re;
        v[i].e_a_complex -= im;
        const Term before = v[i];
        if (!clean(v[i], thr, Clean::ZeroParts)) {
            note_discard(&D_(F), before, nullptr, tol.epsilon);
            v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
        } else if (!(v[i] == before)) {
            note_discard(&D_(F), before, &v[i], tol.epsilon);
        }
    } else {
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(i), Term{-re, -im, 0, 0.0, 0.0});
    }
}

void diff_expo(const Exponomial& F, Exponomial& dst, const Tolerances& tol) {
    Runs runs;
    for (const Term& t : F) {
        const cplx alpha = t.coef(), z = t.rate();
        const int k = t.e_xpower;
        if (t.e_b == 0.0 && t.e_b_complex == 0.0) {
            if (k == 0) continue;  // a constant
            runs.push(make_term(static_cast<double>(k) * alpha, k - 1, z));
        } else {
            runs.push(make_term(alpha * z, k, z));
            if (k > 0) runs.push(make_term(static_cast<double>(k) * alpha, k - 1, z));
        }
        runs.end_run();
    }
    if (runs.buf.empty()) return;
    accumulate(dst, std::move(runs), tol.epsilon);
}

void integrate_expo(const Exponomial& F, Exponomial& dst, const Tolerances& tol) {
    const double eps = tol.epsilon;
    double total = 0.0;
    for (const Term& t : F) total += t.e_xpower + 1.0;
    if (total > static_cast<double>(kMaxGeneratedTerms)) throw ExpoError(150, "exponomial nodes");
    Runs runs;
    for (const Term& t : F) {
        const cplx alpha = t.coef();
        const int k = t.e_xpower;
        if (std::abs(t.e_b) < eps && std::abs(t.e_b_complex) < eps) {
            int k1 = checked_power(static_cast<long long>(k) + 1);
            runs.push(make_term(alpha / static_cast<double>(k1), k1, 0.0));
        } else {
            const cplx z = t.rate();
            cplx c = clean_self(alpha / z, eps);
            runs.push(make_term(c, k, z));
            for (int j = k - 1; j >= 0; --j) {
                c = (-static_cast<double>(j + 1)) * c / z;
                runs.push(make_term(c, j, z));
            }
        }
        runs.end_run();
    }
    if (runs.buf.empty()) return;
    accumulate(dst, std::move(runs), eps);
}

void convolute_expos(const Exponomial& p, const Exponomial& q, Exponomial& dst,
                     const Tolerances& tol, const ExpoDiagnostics* diag) {
    if (&dst == &p || &dst == &q) {
        const Exponomial pc = p, qc = q;
        convolute_expos(pc, qc, dst, tol, diag);
        return;
    }
    if (diag != nullptr && diag->debug && diag->out != nullptr) {
        convolute_traced(p, q, dst, tol, *diag);
        return;
    }
    if (p.empty() || q.empty()) return;
    convolute_direct(p, q, dst, tol);
}

int separate(const Exponomial& F, double& pz, double& pi, double& pc, double tolerance,
             Output* warnings, const Tolerances& tol) {
    double at_zero = 0.0, constant = 0.0;
    for (const Term& t : F) {
        if (t.e_xpower != 0) continue;
        at_zero += t.e_a;
        if (std::abs(t.e_b) < tol.epsilon) constant += t.e_a;
    }
    int code = 0;
    auto clamp = [&](double& x, const char* where, const char* name, int to_one, int to_zero) {
        const double value = x;
        if (value >= tolerance && value >= 1.0 - tolerance) {
            x = 1.0;
            if (value >= 1.0 + tolerance) {
                code = to_one;
                if (warnings != nullptr) {
                    warnings->printf("*** warning: mass of distribution at %s: %16.8e.\n", where, value);
                    warnings->printf("*** setting mass at %s to 1.\n", name);
                }
            }
        } else if (value < tolerance) {
            x = 0.0;
            if (value < -tolerance) {
                code = to_zero;
                if (warnings != nullptr) {
                    warnings->printf("*** warning: mass of distribution at %s: %16.8e.\n", where, value);
                    warnings->printf("*** setting mass at %s to %s.\n", name,
                                     to_zero == '8' ? "zero" : "0");
                }
            }
        }
    };
    pz = at_zero;
    pi = 1.0 - constant;
    clamp(pz, "0", "zero", '9', '8');
    clamp(pi, "infinity", "infinity", ':', ';');
    pc = 1.0 - pz - pi;
    if (pc >= 1.0 - tolerance) pc = 1.0;
    else if (pc < tolerance) pc = 0.0;
    return code;
}

void convolution_dists(const Exponomial& F, const Exponomial& G, Exponomial& dst,
                       const Tolerances& tol, const ExpoDiagnostics* diag) {
    if (&dst == &F || &dst == &G) {
        const Exponomial Fc = F, Gc = G;
        convolution_dists(Fc, Gc, dst, tol, diag);
        return;
    }
    const double eps = tol.epsilon;
    Output* out = diag != nullptr ? diag->out : nullptr;
    const bool debug = out != nullptr && diag->debug;
    Output* warnings = (out != nullptr && diag->verbose) ? out : nullptr;
    if (debug) out->printf("======= convolution_dists start ========\n");
    double lpz, lpi, lpc, rpz, rpi, rpc;
    separate(F, lpz, lpi, lpc, eps, warnings, tol);
    separate(G, rpz, rpi, rpc, eps, warnings, tol);
    if (debug) {
        out->printf("lpz %16.10e, lpi %16.10e, lpc %16.10e\n", lpz, lpi, lpc);
        out->printf("rpz %16.10e, rpi %16.10e, rpc %16.10e\n", rpz, rpi, rpc);
    }
    // What F and G lost carries over to the sum of the two times: the CDF
    // errors add, and so do the mean errors; E[(X+Y)^2] adds the cross terms.
    DropBound carried;
    auto carry = [&](const Exponomial& A, const Exponomial& B) {
        DropBound d = A.dropped();
        if (!d.any()) return;
        if (d.l0 != 0.0) d.l1 += d.l0 * std::abs(moment_of_expo(B, 1, tol));
        carried.add(d);
    };
    carry(F, G);
    carry(G, F);
    if (std::abs(lpz - 1.0) < eps) {
        // A time that is 0 adds nothing (whatever the other one is).
        dst = G;
    } else if (std::abs(rpz - 1.0) < eps) {
        dst = F;
    } else if (std::abs(lpi - 1.0) < eps || std::abs(rpi - 1.0) < eps) {
        // One of them never finishes. When that verdict was read from terms
        // that cancel, the part that does finish may be lost with it: its
        // size (at most the rounding of the terms' sum) is the result's
        // error, and the moments are unknown.
        auto doubt = [&](const Exponomial& A, double pi) {
            if (!(std::abs(pi - 1.0) < eps)) return 0.0;
            double magnitude = 0.0;
            for (const Term& t : A) magnitude += std::abs(t.e_a) + std::abs(t.e_a_complex);
            return (0.5 * std::numeric_limits<double>::epsilon()) * (static_cast<double>(A.size()) + 2.0) * magnitude + A.dropped().sup;
        };
        const double lost = std::max(doubt(F, lpi), doubt(G, rpi));
        if (lost > 1e-12) {
            DropBound d;
            d.sup = std::min(1.0, lost);
            d.l0 = d.l1 = HUGE_VAL;
            carried.add(d);
        }
    } else if (std::abs(lpc) < eps) {
        scalar_mult_and_add(G, lpz, dst, tol);
    } else if (std::abs(rpc) < eps) {
        scalar_mult_and_add(F, rpz, dst, tol);
    } else {
        Exponomial density;
        diff_expo(F, density, tol);
        convolute_expos(density, G, dst, tol, diag);
        D_(dst).add(density.dropped());
        if (std::abs(lpz) >= eps) scalar_mult_and_add(G, lpz, dst, tol);
    }
    if (!(std::abs(lpz - 1.0) < eps) && !(std::abs(rpz - 1.0) < eps)) D_(dst).add(carried);
    if (debug) out->printf("======= convolution_dists end ========\n");
}

void convolution_list(std::span<const Exponomial> list, Exponomial& result, const Tolerances& tol,
                      const ExpoDiagnostics* diag) {
    if (list.empty()) {
        result = Exponomial::constant(1.0);
        return;
    }
    Exponomial running = list[0];
    for (std::size_t i = 1; i < list.size(); ++i) {
        Exponomial next;
        convolution_dists(running, list[i], next, tol, diag);
        running = std::move(next);
    }
    result = std::move(running);
}

void convolution_list(std::span<const Exponomial* const> list, Exponomial& result,
                      const Tolerances& tol, const ExpoDiagnostics* diag) {
    std::vector<Exponomial> copies;
    copies.reserve(list.size());
    for (const Exponomial* F : list) copies.push_back(require_expo(F));
    convolution_list(std::span<const Exponomial>(copies), result, tol, diag);
}

namespace {

// The k-out-of-n recursion over n − k + 1 passes; component(r, i) is the
// distribution used in pass r at index i.
template <class Component>
Exponomial k_of_n(int k, int n, const char* where, const Tolerances& tol, Component component) {
    if (k <= 0) return Exponomial::constant(1.0);
    if (k > n) return Exponomial::constant(0.0);
    if (k >= kMaxKofNArray) throw ExpoError(150, where);
    std::vector<Exponomial> P;
    try {
        P.assign(static_cast<std::size_t>(k) + 1, Exponomial::constant(0.0));
    } catch (const std::bad_alloc&) {
        throw ExpoError(150, where);
    }
    P[0] = Exponomial::constant(1.0);
    // The products grow with every pass: past this many term products in
    // all the closed form is out of reach (and its sums would cancel anyway).
    double work = 0.0;
    for (int r = 0; r <= n - k; ++r) {
        for (int i = 1; i <= k; ++i) {
            Exponomial diff = P[i - 1];
            subtract_expos(P[i], diff, tol);
            const Exponomial& f = component(r, i);
            work += static_cast<double>(diff.size()) * static_cast<double>(f.size());
            if (work > work_ceiling(kMaxKofNWork, tol)) throw ExpoError(150, where);
            multiply_expos(f, diff, P[i], tol);
        }
    }
    return std::move(P[k]);
}

}  // namespace

void k_of_n_iid(const Exponomial& F, Exponomial& result, int k, int n, const Tolerances& tol) {
    result = k_of_n(k, n, "kn_iid", tol, [&F](int, int) -> const Exponomial& { return F; });
}

void k_of_n_gen(std::span<const Exponomial> list, Exponomial& result, int k, int n,
                const Tolerances& tol) {
    int count = n < 0 ? 0 : static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(n), list.size()));
    std::vector<Exponomial> comps;
    if (k > 0 && k <= count) {
        try {
            comps.assign(list.begin(), list.begin() + count);
        } catch (const std::bad_alloc&) {
            throw ExpoError(150, "kn_gen");
        }
    }
    result = k_of_n(k, count, "kn_gen", tol,
                    [&comps](int r, int i) -> const Exponomial& { return comps[static_cast<std::size_t>(r + i - 1)]; });
}

void k_of_n_gen(std::span<const Exponomial* const> list, Exponomial& result, int k, int n,
                const Tolerances& tol) {
    std::size_t count = n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), list.size());
    std::vector<Exponomial> copies;
    copies.reserve(count);
    for (std::size_t i = 0; i < count; ++i) copies.push_back(require_expo(list[i]));
    k_of_n_gen(std::span<const Exponomial>(copies), result, k, n, tol);
}

double evaluate_expo(const Exponomial& F, double t, const Tolerances& tol) {
    const bool logs = t > tol.epsilon;
    double sum = 0.0;
    for (const Term& term : F) {
        const int k = term.e_xpower;
        const double a = term.e_a, b = term.e_b, c = term.e_b_complex;
        if (c == 0.0) {
            if (a == 0.0) continue;
            if (k > 9 && logs && std::abs(a) >= 100.0) {
                sum += a > 0 ? log_power_exp(t, k, b, std::log(a)) : -log_power_exp(t, k, b, std::log(-a));
            } else {
                double m = power_exp(t, k, b);
                if (m != 0.0) sum += a * m;
            }
        } else {
            double m = (k > 9 && logs) ? log_power_exp(t, k, b) : power_exp(t, k, b);
            if (m != 0.0) sum += m * (a * std::cos(c * t) - term.e_a_complex * std::sin(c * t));
        }
    }
    return sum;
}

double lim_at_inf(const Exponomial& F, const Tolerances& tol) {
    double L = 0.0;
    for (const Term& t : F)
        if (t.e_xpower == 0 && std::abs(t.e_b) < tol.epsilon) L += t.e_a;
    if (std::abs(L - 1.0) < tol.epsilon) return 1.0;
    if (std::abs(L) < tol.epsilon) return 0.0;
    return L;
}

double moment_of_expo(const Exponomial& F, int n, const Tolerances& tol) {
    if (n < 1) return 0.0;
    double real_sum = 0.0;
    cplx complex_sum{0.0, 0.0};
    for (const Term& t : F) {
        if (std::abs(t.e_b) < tol.epsilon) continue;
        const long long order = static_cast<long long>(n) + t.e_xpower;  // n + k
        const bool add = order % 2 != 0;
        if (std::abs(t.e_b_complex) < tol.epsilon) {
            double x = divide_down(t.e_a / t.e_b, t.e_b, 1, order - 1);
            real_sum += add ? x : -x;
        } else {
            cplx x = divide_down(t.coef() / t.rate(), t.rate(), 1, order - 1);
            complex_sum += add ? x : -x;
        }
    }
    return static_cast<double>(n) * (real_sum + complex_sum.real());
}

double special_integral(const Exponomial& F, const Exponomial& G, const Tolerances& tol) {
    cplx sum{0.0, 0.0};
    for (const Term& f : F) {
        if (std::abs(f.e_b) < tol.epsilon) continue;
        const cplx a1 = f.is_complex() ? f.coef() : cplx(f.e_a, 0.0);
        const cplx b1 = f.rate();
        const long long k1 = f.e_xpower;
        for (const Term& g : G) {
            const cplx a2 = g.is_complex() ? g.coef() : cplx(g.e_a, 0.0);
            const cplx b2 = g.rate();
            const long long k2 = g.e_xpower;
            const long long m = k1 + k2;
            const cplx S = b1 + b2;
            if (m == 0) {
                sum += -(a1 * a2 * b1) / S;
                continue;
            }
            // (−1)^(m+1)·a1·a2·(m−1)!·(k2·b1 − k1·b2)/S^(m+1)
            cplx y = a1 * a2 * (static_cast<double>(k2) * b1 - static_cast<double>(k1) * b2) / S / S;
            y = divide_down(y, S, 1, m - 1);
            sum += (m % 2 != 0) ? y : -y;
        }
    }
    return sum.real();
}

}  // namespace corvel
