#pragma once
// Exponomials: finite sums of terms a·t^k·e^(b·t) with real or complex a and b.
// Every distribution, density and reliability function that the solvers build
// in closed form is one of these, and this is the algebra they are built with.
//
// Value of one term at t, with a = e_a, a' = e_a_complex, k = e_xpower,
// b = e_b, c = e_b_complex:
//   real term (c exactly 0):  a·t^k·e^(b·t)            (a' is carried, never counted)
//   complex term (c != 0):    t^k·e^(b·t)·(a·cos(c·t) − a'·sin(c·t)),
//                             the real part of (a + i·a')·t^k·e^((b + i·c)·t).
// Complex terms come in conjugate pairs, so the sum of the real parts equals
// the complex sum; products, derivatives and antiderivatives therefore work
// term by term in complex arithmetic.
//
// Canonical order (terms()[0] first):
//   1. larger e_xpower first;
//   2. equal powers: larger e_b first;
//   3. equal powers and e_b within epsilon: larger e_b_complex first.
// Two terms are alike when their powers are equal and both rate parts differ
// by at most epsilon; alike terms never coexist: adding a term alike to an
// existing one adds the coefficients into the existing term, which keeps its
// own rate.
//
// Tolerances. Rates use the absolute tolerance `epsilon` (Tolerances::epsilon).
// Coefficients use a relative one: wherever two coefficients are combined, a
// part whose magnitude is below epsilon·max(1e-300, largest coefficient
// magnitude of the operands) is set to exactly 0, and a term whose two parts
// are then 0 is removed. Terms that are not combined with anything are never
// removed, even when their coefficient is 0 (the "never happens" distribution
// is a single zero constant term). Scalar multipliers keep the absolute test:
// multiplying-and-adding by |s| < epsilon does nothing.
//
// Every operation is alias-safe (the destination may be one of the sources),
// never frees or changes its inputs, and accumulating operations add to what
// the destination already holds. Merges are linear in the number of terms.
// Nothing here keeps global state; the tolerance comes in as an argument.

#include <complex>
#include <cstddef>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "symbols/output.h"
#include "symbols/settings.h"

namespace corvel {

// One term a·t^k·e^(b·t).
struct Term {
    double e_a = 0.0;          // real part of the coefficient
    double e_a_complex = 0.0;  // imaginary part of the coefficient
    int e_xpower = 0;          // power k of t, >= 0
    double e_b = 0.0;          // real part of the rate
    double e_b_complex = 0.0;  // imaginary part of the rate

    std::complex<double> coef() const { return {e_a, e_a_complex}; }
    std::complex<double> rate() const { return {e_b, e_b_complex}; }
    bool is_complex() const { return e_b_complex != 0.0; }

    bool operator==(const Term&) const = default;
};

// Errors of the algebra. `number` is the message number of the error table,
// `text` the text printed after the message; the caller reports it (the
// algebra's errors are internal errors, level 4):
//   130 "trying to evaluate null distribution"   (require_expo)
//   150 "can't allocate memory in " + text       (k-out-of-n working arrays
//        "kn_iid"/"kn_gen"; a result too large to build, e.g. a power of t
//        beyond the int range: "exponomial power", or an absurd term count)
//    60 "power of t must be non-negative"         (insert_term with k < 0)
struct ExpoError : std::runtime_error {
    ExpoError(int number_, std::string text_)
        : std::runtime_error("exponomial error " + std::to_string(number_) + ": " + text_),
          number(number_), text(std::move(text_)) {}
    int number;
    std::string text;
};

// What dropping or zeroing terms under the coefficient tolerance discarded
// from an exponomial, as bounds on the discarded part d(t), t >= 0:
//   sup  the largest |d(t)|;
//   l0   the integral of |d(t)|     (what the mean may have lost);
//   l1   the integral of t·|d(t)|   (half of what E[T^2] may have lost).
// Constant terms have no integral (the moments do not count them): a dropped
// constant only raises sup. The operations carry the bounds of their
// operands forward to first order (sums add them, products weight each
// operand's bound with the other's term magnitudes, convolutions of
// distributions add them as the sum of two times does).
struct DropBound {
    double sup = 0.0, l0 = 0.0, l1 = 0.0;
    bool any() const { return sup != 0.0 || l0 != 0.0 || l1 != 0.0; }
    // this += s·other (nothing is added for a part of other that is 0).
    void add(const DropBound& other, double s = 1.0);
};

// The bounds of one term a·t^k·e^(b·t) as if it were dropped.
DropBound term_drop_bound(const Term& t, double eps);

// A value type: a vector of terms in canonical order. Default-constructed it
// is the empty exponomial, whose value is 0 everywhere. Build it with
// insert_term (or the operations below); the terms are read-only from outside
// so that the canonical order cannot be broken.
class Exponomial {
public:
    Exponomial() = default;

    // The one-term constant `value` (kept even when value is 0: the constant
    // 0 term is the distribution of an event that never happens).
    static Exponomial constant(double value);

    const std::vector<Term>& terms() const { return terms_; }
    std::size_t size() const { return terms_.size(); }
    bool empty() const { return terms_.empty(); }
    const Term& operator[](std::size_t i) const { return terms_[i]; }
    std::vector<Term>::const_iterator begin() const { return terms_.begin(); }
    std::vector<Term>::const_iterator end() const { return terms_.end(); }

    void clear() {
        terms_.clear();
        dropped_ = DropBound{};
    }

    // What the tolerances discarded while this exponomial was built.
    const DropBound& dropped() const { return dropped_; }
    // Adds to it what an algorithm working outside the algebra discarded.
    void note_dropped(const DropBound& d) { dropped_.add(d); }

    // Exact, term-by-term equality (no tolerance; the drop bounds are not compared).
    bool operator==(const Exponomial& other) const { return terms_ == other.terms_; }

private:
    friend struct ExpoAccess;  // the algebra's own access to the terms
    std::vector<Term> terms_;
    DropBound dropped_;
};

// Where the optional diagnostics of the convolution operations go.
struct ExpoDiagnostics {
    Output* out = nullptr;  // nothing is printed when null
    bool verbose = false;   // warnings of separate() called by convolution_dists
    bool debug = false;     // the convolution trace (debug expo)
    // Prints an exponomial in the results format; a plain term dump is used
    // when this is empty.
    std::function<void(Output&, const Exponomial&)> print;
};

// ---------------------------------------------------------------------------
// Handles, terms and order

// A caller that holds a distribution by pointer (possibly absent) gets the
// exponomial through this: a null pointer throws ExpoError 130.
const Exponomial& require_expo(const Exponomial* F);

// Empties F (the value becomes 0).
inline void free_expo(Exponomial& F) { F.clear(); }

// Inserts a·t^k·e^(b·t) (a = a_re + i·a_im, b = b_re + i·b_im) at its
// canonical place. An alike term absorbs the coefficients and is removed when
// both parts are then below the relative coefficient tolerance. A new term
// with zero coefficients is inserted as it is. k < 0 throws ExpoError 60.
void insert_term(double a_re, double a_im, int k, double b_re, double b_im, Exponomial& F,
                 const Tolerances& tol);

// 1 when x sorts before y, -1 when after, 0 when alike.
int compare(const Term& x, const Term& y, const Tolerances& tol);
// The same for the product term of x and y (powers added, rates added)
// against z.
int compare_sum(const Term& x, const Term& y, const Term& z, const Tolerances& tol);

// ---------------------------------------------------------------------------
// Arithmetic

// dst := src (whatever dst held is replaced).
void copy_expo(const Exponomial& src, Exponomial& dst);
// dst += src.
void add_expos(const Exponomial& src, Exponomial& dst, const Tolerances& tol);
// dst −= src.
void subtract_expos(const Exponomial& src, Exponomial& dst, const Tolerances& tol);
// dst += x·y.
void multiply_expos(const Exponomial& x, const Exponomial& y, Exponomial& dst,
                    const Tolerances& tol);
// Every coefficient (both parts) times s; no term is removed.
void scalar_multiply(Exponomial& F, double s);
// dst += s·src; nothing when |s| < epsilon. A combined term is removed when
// both parts are below the relative coefficient tolerance.
void scalar_mult_and_add(const Exponomial& src, double s, Exponomial& dst, const Tolerances& tol);
// F := s − F. The constant term becomes s − a (removed when negligible); a
// missing constant s is inserted unless |s| < epsilon.
void negate_and_add_scalar(Exponomial& F, double s, const Tolerances& tol);
// F := F − s; nothing when |s| < epsilon.
void subtract_scalar(Exponomial& F, double s, const Tolerances& tol);
// F := F − F(0), F(0) being the sum of the power-0 coefficients (both parts);
// nothing when F(0) is negligible. The constant term (power 0, both rate parts
// below epsilon) takes the difference and is inserted when missing.
void subtract_value_at_zero(Exponomial& F, const Tolerances& tol);

// ---------------------------------------------------------------------------
// Calculus

// dst += dF/dt. Constant terms (power 0, rate exactly 0) contribute nothing;
// a polynomial term α·t^k (rate exactly 0) gives k·α·t^(k−1); any other term
// α·t^k·e^(z·t) gives α·z·t^k·e^(z·t) + k·α·t^(k−1)·e^(z·t).
void diff_expo(const Exponomial& F, Exponomial& dst, const Tolerances& tol);
// dst += an antiderivative of F, without constant of integration (callers that
// want the integral from 0 follow with subtract_value_at_zero). A term whose
// rate parts are both below epsilon is a polynomial: α·t^k → α/(k+1)·t^(k+1)
// with rate exactly 0. Otherwise the closed form with the same rate z:
// coefficient of t^k is α/z, of t^j (j < k) −(j+1)/z times that of t^(j+1).
void integrate_expo(const Exponomial& F, Exponomial& dst, const Tolerances& tol);

// ---------------------------------------------------------------------------
// Convolution and k out of n

// dst += ∫_0^t p(s)·q(t−s) ds (convolution of functions, not distributions).
// With diag->debug the step-by-step trace is printed to diag->out.
void convolute_expos(const Exponomial& p, const Exponomial& q, Exponomial& dst,
                     const Tolerances& tol, const ExpoDiagnostics* diag = nullptr);

// dst += the distribution of X + Y, X ~ F and Y ~ G independent, by the masses
// of F and G (separate() with tolerance epsilon), first case that applies:
//   either never finishes (mass 1 at infinity)    nothing
//   F is the unit step at 0                        dst := G
//   G is the unit step at 0                        dst := F
//   F has no continuous part                       dst += pzF·G
//   G has no continuous part                       dst += pzG·F
//   otherwise                                      dst += F' * G (+ pzF·G when pzF >= epsilon)
// The two copy cases replace dst, which callers pass empty.
void convolution_dists(const Exponomial& F, const Exponomial& G, Exponomial& dst,
                       const Tolerances& tol, const ExpoDiagnostics* diag = nullptr);

// result := the distribution of the sum of all distributions of the list,
// convolved from the first to the last. An empty list gives the unit step
// (the constant 1: a sum of nothing is 0). A null pointer throws ExpoError 130.
void convolution_list(std::span<const Exponomial> list, Exponomial& result, const Tolerances& tol,
                      const ExpoDiagnostics* diag = nullptr);
void convolution_list(std::span<const Exponomial* const> list, Exponomial& result,
                      const Tolerances& tol, const ExpoDiagnostics* diag = nullptr);

// result := P(at least k of n independent components with distribution F have
// finished by t), by the recursion P[i] += F·(P[i−1] − P[i]) over n − k + 1
// passes (k·(n − k + 1) products). k <= 0 gives the constant 1; k > n the
// zero constant (never). Working-array failure throws ExpoError 150 "kn_iid".
void k_of_n_iid(const Exponomial& F, Exponomial& result, int k, int n, const Tolerances& tol);
// The same for n components with their own distributions list[0..n−1]; when
// the list is shorter than n only its members are counted. Errors as above
// with "kn_gen"; a null pointer throws ExpoError 130.
void k_of_n_gen(std::span<const Exponomial> list, Exponomial& result, int k, int n,
                const Tolerances& tol);
void k_of_n_gen(std::span<const Exponomial* const> list, Exponomial& result, int k, int n,
                const Tolerances& tol);

// ---------------------------------------------------------------------------
// Queries

// Masses of the distribution F, clamped with `tolerance` (callers pass
// epsilon, or results_epsilon when printing):
//   pz  mass at zero, F(0) = sum of the real power-0 coefficients;
//   pi  mass at infinity, 1 − sum of the real coefficients of the constant
//       terms (power 0, |b| < epsilon);
//   pc  continuous mass 1 − pz − pi.
// pz and pi are snapped to 0 or 1 within the tolerance; beyond it the returned
// code says which was clamped: '9' pz set to 1, '8' pz set to 0, ':' pi set to
// 1, ';' pi set to 0 (the last one set wins; 0 when none). pc is snapped to 1
// when >= 1 − tolerance and to 0 when < tolerance. When `warnings` is not
// null (verbose), each clamping prints its two warning lines there.
int separate(const Exponomial& F, double& pz, double& pi, double& pc, double tolerance,
             Output* warnings, const Tolerances& tol);

// F(t). Terms of power > 9 at t > epsilon (and any term whose direct value
// overflows) are computed through logarithms, so large powers do not overflow.
double evaluate_expo(const Exponomial& F, double t, const Tolerances& tol);

// Limit of F for t → ∞: the sum L of the real coefficients of the power-0
// terms with |b| < epsilon, returned as exactly 1 when |L − 1| < epsilon and
// exactly 0 when |L| < epsilon.
double lim_at_inf(const Exponomial& F, const Tolerances& tol);

// n-th moment E[T^n] = n·∫ t^(n−1)·(1 − F(t)) dt of the distribution whose
// CDF is F (proper when its constant part is 1): n times the real part of the
// sum over the non-constant terms (|b| >= epsilon) of −α·(n+k−1)!/(−z)^(n+k).
// Constant terms do not count; n < 1 gives 0.
double moment_of_expo(const Exponomial& F, int n, const Tolerances& tol);

// ∫_0^∞ G(t)·F'(t) dt (derivative of the FIRST argument), over the pairs of a
// non-constant term of F (|b| >= epsilon) and any term of G, real part.
double special_integral(const Exponomial& F, const Exponomial& G, const Tolerances& tol);

}  // namespace corvel
