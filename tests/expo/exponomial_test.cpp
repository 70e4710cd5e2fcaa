#include "expo/exponomial.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

namespace corvel {
namespace {

using cplx = std::complex<double>;
const Tolerances tol;

struct T5 {
    double a, ai;
    int k;
    double b, c;
};

Exponomial make(std::initializer_list<T5> terms) {
    Exponomial F;
    for (const T5& t : terms) insert_term(t.a, t.ai, t.k, t.b, t.c, F, tol);
    return F;
}

Exponomial exponential(double rate) { return make({{1, 0, 0, 0, 0}, {-1, 0, 0, -rate, 0}}); }

// Independent reference: the real part of the complex sum (valid for
// conjugate-paired exponomials), and the sum of the term magnitudes as the
// scale of the rounding error.
double ref(const Exponomial& F, double t) {
    cplx s = 0;
    for (const Term& x : F) s += x.coef() * std::pow(t, x.e_xpower) * std::exp(x.rate() * t);
    return s.real();
}
double magnitude(const Exponomial& F, double t) {
    double s = 0;
    for (const Term& x : F) s += std::abs(x.coef()) * std::pow(t, x.e_xpower) * std::exp(x.e_b * t);
    return s;
}
double ref_derivative(const Exponomial& F, double t) {
    cplx s = 0;
    for (const Term& x : F) {
        cplx d = x.rate() * std::pow(t, x.e_xpower);
        if (x.e_xpower > 0) d += double(x.e_xpower) * std::pow(t, x.e_xpower - 1);
        s += x.coef() * d * std::exp(x.rate() * t);
    }
    return s.real();
}

// Composite 5-point Gauss-Legendre quadrature.
template <class F>
double quad(F f, double lo, double hi, int pieces = 200) {
    static const double x[] = {0.0, 0.5384693101056831, -0.5384693101056831, 0.9061798459386640,
                               -0.9061798459386640};
    static const double w[] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665,
                               0.2369268850561891, 0.2369268850561891};
    double h = (hi - lo) / pieces, sum = 0;
    for (int i = 0; i < pieces; ++i) {
        double mid = lo + (i + 0.5) * h;
        for (int j = 0; j < 5; ++j) sum += w[j] * f(mid + 0.5 * h * x[j]);
    }
    return sum * 0.5 * h;
}

// Terms on a rate grid, so that two exponomials often share rates exactly
// (the equal-rate branches); powers 0..2, some conjugate pairs, sometimes a
// constant or a polynomial term.
Exponomial random_expo(std::mt19937& rng, int n, bool polynomials = false) {
    std::uniform_real_distribution<double> coef(-2, 2);
    std::uniform_int_distribution<int> idx(0, 9), pw(0, 2), pick(0, 9);
    Exponomial F;
    for (int i = 0; i < n; ++i) {
        double b = -(0.4 + 0.35 * idx(rng));
        int k = pw(rng), kind = pick(rng);
        if (kind < 3) {
            double c = 0.7 + 0.6 * (kind % 3), a = coef(rng), ai = coef(rng);
            insert_term(a, ai, k, b, c, F, tol);
            insert_term(a, -ai, k, b, -c, F, tol);
        } else if (kind == 3) {
            insert_term(coef(rng), 0, polynomials ? k : 0, 0, 0, F, tol);
        } else {
            insert_term(coef(rng), 0, k, b, 0, F, tol);
        }
    }
    return F;
}

// Strictly canonical: each term sorts before the next, none alike, and every
// complex term has its conjugate.
void expect_canonical(const Exponomial& F) {
    for (std::size_t i = 0; i + 1 < F.size(); ++i) EXPECT_EQ(compare(F[i], F[i + 1], tol), 1) << i;
    for (const Term& x : F) {
        if (!x.is_complex()) continue;
        bool found = false;
        for (const Term& y : F)
            found |= y.e_xpower == x.e_xpower && std::abs(y.e_b - x.e_b) <= 1e-9 &&
                     std::abs(y.e_b_complex + x.e_b_complex) <= 1e-9 &&
                     std::abs(y.e_a - x.e_a) <= 1e-9 * (1 + std::abs(x.e_a)) &&
                     std::abs(y.e_a_complex + x.e_a_complex) <= 1e-9 * (1 + std::abs(x.e_a_complex));
        EXPECT_TRUE(found) << "unpaired complex term";
    }
}

#define EXPECT_REL(got, want, scale) EXPECT_NEAR(got, want, 1e-9 * std::max(1.0, scale))

TEST(ExpoOrder, InsertMergesAlikeAndKeepsCanonicalOrder) {
    Exponomial F = make({{-2, 0, 0, -(1 + 5e-12), 0}});
    insert_term(2, 0, 0, -1, 0, F, tol);
    EXPECT_TRUE(F.empty());

    Exponomial G;
    add_expos(make({{1, 0, 0, -1, 0}}), G, tol);
    add_expos(make({{1, 0, 1, -1, 0}}), G, tol);
    ASSERT_EQ(G.size(), 2u);
    EXPECT_EQ(G[0].e_xpower, 1);

    Exponomial H = make({{1, 0, 0, -3, 0}, {1, 0, 2, -5, 0}, {1, 0, 0, 0, 0}, {1, 2, 0, -3, 1},
                         {1, -2, 0, -3, -1}, {1, 0, 2, -1, 0}});
    std::vector<std::pair<int, double>> got;
    for (const Term& t : H) got.push_back({t.e_xpower, t.e_b + t.e_b_complex / 10});
    std::vector<std::pair<int, double>> want{{2, -1}, {2, -5}, {0, 0}, {0, -2.9}, {0, -3}, {0, -3.1}};
    EXPECT_EQ(got, want);

    // an alike term keeps the existing rate and absorbs the coefficient
    insert_term(0.5, 0, 2, -1 - 4e-12, 0, H, tol);
    EXPECT_EQ(H[0].e_b, -1.0);
    EXPECT_EQ(H[0].e_a, 1.5);
    Term x{1, 0, 1, -1, 0}, y{1, 0, 1, -1 + 1e-12, 0.5}, z{1, 0, 2, -3, 0.5};
    EXPECT_EQ(compare(x, y, tol), -1);  // rates alike in b: decided by c
    EXPECT_EQ(compare(y, x, tol), 1);
    EXPECT_EQ(compare(x, Term{2, 0, 1, -1 - 1e-12, 0}, tol), 0);
    EXPECT_EQ(compare_sum(x, y, z, tol), 1);  // power 2, rate -2+0.5i before -3+0.5i
    EXPECT_EQ(compare_sum(x, Term{1, 0, 1, -2, 0.5}, z, tol), 0);

    Exponomial Z;
    insert_term(0, 0, 0, 0, 0, Z, tol);  // zero coefficients are inserted as they are
    EXPECT_EQ(Z.size(), 1u);
    EXPECT_THROW(insert_term(1, 0, -1, 0, 0, Z, tol), ExpoError);
}

// Coefficients are dropped relative to the operands, so small probabilities survive.
TEST(ExpoOrder, RelativeCoefficientTolerance) {
    Exponomial p = Exponomial::constant(1e-6), q;
    multiply_expos(p, p, q, tol);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_DOUBLE_EQ(q[0].e_a, 1e-12);

    Exponomial small = make({{3e-13, 0, 0, -1, 0}});
    insert_term(-1e-13, 0, 0, -1, 0, small, tol);
    ASSERT_EQ(small.size(), 1u);
    EXPECT_NEAR(small[0].e_a, 2e-13, 1e-28);

    Exponomial big = make({{1, 0, 0, -1, 0}, {1, 0, 0, -2, 0}});
    subtract_expos(make({{1 - 1e-14, 0, 0, -1, 0}}), big, tol);  // cancels to noise
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].e_b, -2.0);
}

TEST(ExpoArithmetic, ConstantOperations) {
    Exponomial F = exponential(1);
    negate_and_add_scalar(F, 1, tol);  // 1 − (1 − e^-t)
    EXPECT_EQ(F, make({{1, 0, 0, -1, 0}}));
    negate_and_add_scalar(F, 2, tol);  // 2 − e^-t
    EXPECT_EQ(F, make({{2, 0, 0, 0, 0}, {-1, 0, 0, -1, 0}}));
    subtract_scalar(F, 2, tol);
    EXPECT_EQ(F, make({{-1, 0, 0, -1, 0}}));
    subtract_scalar(F, 0.5, tol);
    EXPECT_EQ(F, make({{-0.5, 0, 0, 0, 0}, {-1, 0, 0, -1, 0}}));

    Exponomial E;
    negate_and_add_scalar(E, 1e-12, tol);
    EXPECT_TRUE(E.empty());
    negate_and_add_scalar(E, 1, tol);
    EXPECT_EQ(E, Exponomial::constant(1));

    Exponomial G = make({{1, 0, 0, 0, 0}, {2, 0, 0, -1, 0}, {3, 0, 1, -2, 0}, {1, 0.5, 0, -1, 2},
                         {1, -0.5, 0, -1, -2}});
    subtract_value_at_zero(G, tol);  // G(0) = 1 + 2 + 2·1
    EXPECT_NEAR(evaluate_expo(G, 0, tol), 0, 1e-15);
    EXPECT_NEAR(evaluate_expo(G, 0.7, tol), ref(G, 0.7), 1e-14);
    EXPECT_DOUBLE_EQ(G[1].e_a, -4);  // the constant term took the difference

    Exponomial S = exponential(2);
    scalar_mult_and_add(exponential(3), 5e-12, S, tol);  // scalar below epsilon: nothing
    EXPECT_EQ(S, exponential(2));
    scalar_mult_and_add(exponential(2), -1, S, tol);
    EXPECT_TRUE(S.empty());
}

TEST(ExpoArithmetic, RandomSumsAndProductsMatchPointwise) {
    std::mt19937 rng(20240611);
    for (int trial = 0; trial < 40; ++trial) {
        Exponomial x = random_expo(rng, 1 + trial % 6, true), y = random_expo(rng, 1 + trial % 5, true);
        Exponomial sum = x, diff = x, prod = make({{0.25, 0, 0, 0, 0}}), sm = y;
        add_expos(y, sum, tol);
        subtract_expos(y, diff, tol);
        multiply_expos(x, y, prod, tol);
        scalar_mult_and_add(x, -1.75, sm, tol);
        for (const Exponomial* F : {&sum, &diff, &prod, &sm}) expect_canonical(*F);
        for (double t : {0.0, 0.3, 1.7, 4.0, 9.5}) {
            double sc = magnitude(x, t) + magnitude(y, t);
            EXPECT_REL(evaluate_expo(sum, t, tol), ref(x, t) + ref(y, t), sc);
            EXPECT_REL(evaluate_expo(diff, t, tol), ref(x, t) - ref(y, t), sc);
            EXPECT_REL(evaluate_expo(sm, t, tol), ref(y, t) - 1.75 * ref(x, t), 2 * sc);
            EXPECT_REL(evaluate_expo(prod, t, tol), 0.25 + ref(x, t) * ref(y, t),
                       magnitude(x, t) * magnitude(y, t));
        }
        // the destination may be one of the operands
        Exponomial sq = x;
        multiply_expos(sq, sq, sq, tol);
        EXPECT_REL(evaluate_expo(sq, 1.1, tol), ref(x, 1.1) * (1 + ref(x, 1.1)),
                   magnitude(x, 1.1) * (1 + magnitude(x, 1.1)));
    }
}

TEST(ExpoCalculus, DerivativeAndAntiderivative) {
    Exponomial d;
    diff_expo(Exponomial::constant(1), d, tol);
    EXPECT_TRUE(d.empty());
    diff_expo(make({{3, 0, 2, 0, 0}}), d, tol);  // 3t² → 6t
    EXPECT_EQ(d, make({{6, 0, 1, 0, 0}}));
    Exponomial I;
    integrate_expo(make({{3, 0, 0, 0, 0}, {2, 0, 1, 1e-12, 0}}), I, tol);  // both polynomial
    EXPECT_EQ(I, make({{1, 0, 2, 0, 0}, {3, 0, 1, 0, 0}}));

    std::mt19937 rng(77);
    for (int trial = 0; trial < 40; ++trial) {
        Exponomial F = random_expo(rng, 1 + trial % 7, true);
        Exponomial dF, iF;
        diff_expo(F, dF, tol);
        integrate_expo(F, iF, tol);
        expect_canonical(dF);
        expect_canonical(iF);
        for (double t : {0.5, 1.3, 3.0, 7.0}) {
            const double h = 1e-3;
            double fd = (ref(F, t - 2 * h) - 8 * ref(F, t - h) + 8 * ref(F, t + h) - ref(F, t + 2 * h)) /
                        (12 * h);
            EXPECT_REL(evaluate_expo(dF, t, tol), fd, 10 * magnitude(F, t));
            double area = quad([&](double s) { return ref(F, s); }, 0.2, t);
            EXPECT_REL(evaluate_expo(iF, t, tol) - evaluate_expo(iF, 0.2, tol), area,
                       quad([&](double s) { return magnitude(F, s); }, 0.2, t));
        }
        subtract_value_at_zero(iF, tol);
        EXPECT_NEAR(evaluate_expo(iF, 0, tol), 0, 1e-12 * std::max(1.0, magnitude(iF, 0)));
    }
}

TEST(ExpoConvolution, ExponentialDistributions) {
    const double lam = 1.7;
    Exponomial same;
    convolution_dists(exponential(lam), exponential(lam), same, tol);
    Exponomial want = make({{1, 0, 0, 0, 0}, {-1, 0, 0, -lam, 0}, {-lam, 0, 1, -lam, 0}});
    ASSERT_EQ(same.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(same[i].e_xpower, want[i].e_xpower);
        EXPECT_NEAR(same[i].e_a, want[i].e_a, 1e-12);
        EXPECT_NEAR(same[i].e_b, want[i].e_b, 1e-12);
    }
    Exponomial unequal;
    convolution_dists(exponential(1), exponential(2), unequal, tol);
    ASSERT_EQ(unequal.size(), 3u);
    EXPECT_NEAR(unequal[0].e_a, 1, 1e-12);
    EXPECT_NEAR(unequal[1].e_a, -2, 1e-12);
    EXPECT_NEAR(unequal[2].e_a, 1, 1e-12);
    EXPECT_EQ(unequal[2].e_b, -2.0);

    // never finishing, the unit step, and a distribution with no continuous part
    Exponomial none;
    convolution_dists(Exponomial::constant(0), exponential(1), none, tol);
    convolution_dists(exponential(1), Exponomial(), none, tol);
    EXPECT_TRUE(none.empty());
    Exponomial copy;
    convolution_dists(Exponomial::constant(1), exponential(3), copy, tol);
    EXPECT_EQ(copy, exponential(3));
    Exponomial scaled;
    convolution_dists(Exponomial::constant(0.3), exponential(3), scaled, tol);
    EXPECT_NEAR(evaluate_expo(scaled, 0.8, tol), 0.3 * (1 - std::exp(-2.4)), 1e-15);

    // mass 0.2 at zero plus a continuous part: 0.2·G(t) + ∫ 0.8e^-s G(t−s) ds
    Exponomial mixed, F = make({{1, 0, 0, 0, 0}, {-0.8, 0, 0, -1, 0}}), G = exponential(2.5);
    convolution_dists(F, G, mixed, tol);
    for (double t : {0.0, 0.4, 2.0, 6.0}) {
        double want_t = 0.2 * ref(G, t) + quad([&](double s) { return 0.8 * std::exp(-s) * ref(G, t - s); }, 0, t);
        EXPECT_NEAR(evaluate_expo(mixed, t, tol), want_t, 1e-12);
    }

    // lists: hypoexponential with rates 1, 2, 3 and Erlang with three phases
    std::vector<Exponomial> list{exponential(1), exponential(2), exponential(3)};
    Exponomial hypo;
    convolution_list(list, hypo, tol);
    for (double t : {0.5, 2.0}) {
        double w = 1 - 3 * std::exp(-t) + 3 * std::exp(-2 * t) - std::exp(-3 * t);
        EXPECT_NEAR(evaluate_expo(hypo, t, tol), w, 1e-13);
    }
    std::vector<Exponomial> phases(3, exponential(0.9));
    Exponomial erlang;
    convolution_list(phases, erlang, tol);
    double x = 0.9 * 2.2;
    EXPECT_NEAR(evaluate_expo(erlang, 2.2, tol), 1 - std::exp(-x) * (1 + x + x * x / 2), 1e-13);
    EXPECT_EQ(erlang.size(), 4u);
    Exponomial unit;
    convolution_list(std::span<const Exponomial>(), unit, tol);
    EXPECT_EQ(unit, Exponomial::constant(1));
    std::vector<const Exponomial*> with_null{&list[0], nullptr};
    try {
        convolution_list(with_null, unit, tol);
        ADD_FAILURE() << "no error for a null distribution";
    } catch (const ExpoError& e) {
        EXPECT_EQ(e.number, 130);
    }
}

TEST(ExpoConvolution, RandomConvolutionsMatchQuadrature) {
    std::mt19937 rng(4242);
    for (int trial = 0; trial < 30; ++trial) {
        Exponomial p = random_expo(rng, 1 + trial % 5), q = random_expo(rng, 1 + (trial / 5) % 4);
        Exponomial c = make({{0.5, 0, 0, -1, 0}});
        convolute_expos(p, q, c, tol);
        expect_canonical(c);
        for (double t : {0.0, 0.6, 2.5, 8.0}) {
            double want = 0.5 * std::exp(-t) + quad([&](double s) { return ref(p, s) * ref(q, t - s); }, 0, t);
            double sc = quad([&](double s) { return magnitude(p, s) * magnitude(q, t - s); }, 0, t);
            EXPECT_REL(evaluate_expo(c, t, tol), want, sc);
        }
        // the traced, step-by-step route gives the same function
        std::string trace;
        Output out(&trace);
        ExpoDiagnostics diag;
        diag.out = &out;
        diag.debug = true;
        Exponomial traced = make({{0.5, 0, 0, -1, 0}});
        convolute_expos(p, q, traced, tol, &diag);
        for (double t : {0.6, 8.0})
            EXPECT_REL(evaluate_expo(traced, t, tol), evaluate_expo(c, t, tol), magnitude(c, t));
        EXPECT_NE(trace.find("first cdf in convolution:\n"), std::string::npos);
        EXPECT_NE(trace.find("added in w1*integral(v1):\n"), std::string::npos);
    }
}

double binomial_tail(double F, int k, int n) {
    double s = 0;
    for (int j = k; j <= n; ++j) s += std::tgamma(n + 1.0) / (std::tgamma(j + 1.0) * std::tgamma(n - j + 1.0)) *
                                     std::pow(F, j) * std::pow(1 - F, n - j);
    return s;
}

TEST(ExpoKofN, IdenticalAndGeneralComponents) {
    Exponomial F = make({{1, 0, 0, 0, 0}, {-2, 0, 0, -0.7, 0}, {1, 0, 0, -1.4, 0}});  // hypoexponential
    for (int n : {1, 3, 5}) {
        for (int k = 1; k <= n; ++k) {
            Exponomial R;
            k_of_n_iid(F, R, k, n, tol);
            for (double t : {0.3, 1.5, 6.0}) {
                double f = ref(F, t);
                EXPECT_NEAR(evaluate_expo(R, t, tol), binomial_tail(f, k, n), 1e-12) << k << " of " << n;
                if (k == 1) {
                    EXPECT_NEAR(evaluate_expo(R, t, tol), 1 - std::pow(1 - f, n), 1e-12);
                }
                if (k == n) {
                    EXPECT_NEAR(evaluate_expo(R, t, tol), std::pow(f, n), 1e-12);
                }
            }
        }
    }
    Exponomial R;
    k_of_n_iid(F, R, 0, 3, tol);
    EXPECT_EQ(R, Exponomial::constant(1));
    k_of_n_iid(F, R, 4, 3, tol);
    EXPECT_EQ(R, Exponomial::constant(0));
    EXPECT_THROW(k_of_n_iid(F, R, INT_MAX, INT_MAX, tol), ExpoError);
    // Many copies: the recursion's products grow with every pass and are
    // refused long before they would run for minutes; a cap on the work of
    // one operation refuses smaller requests too, and lets through what fits.
    EXPECT_THROW(k_of_n_iid(F, R, 3, 100000, tol), ExpoError);
    Tolerances capped = tol;
    capped.work_limit = 1000.0;
    EXPECT_THROW(k_of_n_iid(F, R, 3, 200, capped), ExpoError);
    k_of_n_iid(F, R, 2, 4, capped);
    EXPECT_NEAR(evaluate_expo(R, 1.5, tol), binomial_tail(ref(F, 1.5), 2, 4), 1e-12);
    Exponomial self = exponential(1);
    k_of_n_iid(self, self, 2, 2, tol);  // result may be the input
    EXPECT_NEAR(evaluate_expo(self, 1, tol), std::pow(1 - std::exp(-1), 2), 1e-14);

    // four different components, two of four: against enumeration of the states
    std::vector<Exponomial> comps{exponential(0.5), exponential(1.1), F, make({{0.6, 0, 0, 0, 0}})};
    for (int k = 1; k <= 4; ++k) {
        Exponomial G;
        k_of_n_gen(comps, G, k, 4, tol);
        for (double t : {0.4, 2.0}) {
            double want = 0;
            for (int mask = 0; mask < 16; ++mask) {
                double pr = 1;
                for (int i = 0; i < 4; ++i) pr *= (mask >> i & 1) ? ref(comps[i], t) : 1 - ref(comps[i], t);
                if (__builtin_popcount(mask) >= k) want += pr;
            }
            EXPECT_NEAR(evaluate_expo(G, t, tol), want, 1e-12);
        }
    }
}

TEST(ExpoQueries, MassesLimitsAndMoments) {
    const double lam = 2.5;
    Exponomial F = exponential(lam);
    EXPECT_NEAR(moment_of_expo(F, 1, tol), 1 / lam, 1e-15);
    EXPECT_NEAR(moment_of_expo(F, 2, tol), 2 / (lam * lam), 1e-15);
    EXPECT_EQ(moment_of_expo(F, 0, tol), 0.0);
    EXPECT_EQ(lim_at_inf(F, tol), 1.0);
    double pz, pi, pc;
    EXPECT_EQ(separate(F, pz, pi, pc, tol.epsilon, nullptr, tol), 0);
    EXPECT_EQ(pz, 0.0);
    EXPECT_EQ(pi, 0.0);
    EXPECT_EQ(pc, 1.0);

    Exponomial erlang2 = make({{1, 0, 0, 0, 0}, {-1, 0, 0, -lam, 0}, {-lam, 0, 1, -lam, 0}});
    EXPECT_NEAR(moment_of_expo(erlang2, 1, tol), 2 / lam, 1e-14);
    EXPECT_NEAR(moment_of_expo(erlang2, 2, tol), 6 / (lam * lam), 1e-14);
    // 1 − e^-t·cos 2t: ∫(1 − F) = 1/5, 2∫t(1 − F) = 2·Re(1/(1 − 2i)²) = −0.24
    Exponomial osc = make({{1, 0, 0, 0, 0}, {-0.5, 0, 0, -1, 2}, {-0.5, 0, 0, -1, -2}});
    EXPECT_NEAR(moment_of_expo(osc, 1, tol), 0.2, 1e-15);
    EXPECT_NEAR(moment_of_expo(osc, 2, tol), -0.24, 1e-15);

    EXPECT_EQ(lim_at_inf(make({{1 + 5e-12, 0, 0, 0, 0}, {-1, 0, 0, -1, 0}}), tol), 1.0);
    EXPECT_EQ(lim_at_inf(make({{3e-12, 0, 0, 0, 0}}), tol), 0.0);

    Exponomial defective = make({{0.7, 0, 0, 0, 0}, {-0.5, 0, 0, -1, 0}});
    separate(defective, pz, pi, pc, tol.epsilon, nullptr, tol);
    EXPECT_NEAR(pz, 0.2, 1e-15);
    EXPECT_NEAR(pi, 0.3, 1e-15);
    EXPECT_NEAR(pc, 0.5, 1e-15);
    EXPECT_EQ(separate(Exponomial::constant(1 - 5e-12), pz, pi, pc, tol.epsilon, nullptr, tol), 0);
    EXPECT_EQ(pz, 1.0);  // snapped within the tolerance, silently
    EXPECT_EQ(pi, 0.0);
    separate(Exponomial(), pz, pi, pc, tol.epsilon, nullptr, tol);
    EXPECT_EQ(pz + pc, 0.0);
    EXPECT_EQ(pi, 1.0);

    std::string text;
    Output out(&text);
    EXPECT_EQ(separate(Exponomial::constant(1.5), pz, pi, pc, tol.epsilon, &out, tol), ';');
    EXPECT_EQ(pz, 1.0);
    EXPECT_EQ(pi, 0.0);
    EXPECT_EQ(text,
              "*** warning: mass of distribution at 0:   1.50000000e+00.\n*** setting mass at zero to 1.\n"
              "*** warning: mass of distribution at infinity:  -5.00000000e-01.\n"
              "*** setting mass at infinity to 0.\n");
    EXPECT_EQ(separate(make({{-0.25, 0, 0, -1, 0}}), pz, pi, pc, tol.epsilon, nullptr, tol), '8');
}

TEST(ExpoQueries, EvaluationAndSpecialIntegral) {
    double direct = 1000 * std::pow(50.0, 12) * std::exp(-50.0);
    EXPECT_NEAR(evaluate_expo(make({{1000, 0, 12, -1, 0}}), 50, tol), direct, 1e-13 * direct);
    EXPECT_NEAR(evaluate_expo(make({{-1000, 0, 12, -1, 0}}), 50, tol), -direct, 1e-13 * direct);
    // t^150 overflows on its own; the logarithmic route does not
    EXPECT_NEAR(evaluate_expo(make({{1e-300, 0, 150, -1, 0}}), 150, tol),
                std::exp(std::log(1e-300) + 150 * std::log(150.0) - 150), 1e-12 * 1.7e-39);
    Exponomial osc = make({{0.5, 0.25, 11, -1, 3}, {0.5, -0.25, 11, -1, -3}});
    EXPECT_NEAR(evaluate_expo(osc, 20, tol), ref(osc, 20), 1e-12 * magnitude(osc, 20));
    Exponomial F = make({{1, 0, 0, 0, 0}, {-1, 0, 0, -1, 0}, {2, 0, 3, -1, 0}});
    EXPECT_EQ(evaluate_expo(F, 1e300, tol), 1.0);
    EXPECT_EQ(evaluate_expo(F, HUGE_VAL, tol), 1.0);

    // ∫ G dF for F = 1 − e^-λt: λ/(λ+μ) for G = e^-μt, 1/λ for G = t, 1 for G = 1
    EXPECT_NEAR(special_integral(exponential(2), make({{1, 0, 0, -3, 0}}), tol), 0.4, 1e-15);
    EXPECT_NEAR(special_integral(exponential(2), make({{1, 0, 1, 0, 0}}), tol), 0.5, 1e-15);
    std::mt19937 rng(99);
    for (int trial = 0; trial < 20; ++trial) {
        Exponomial A = random_expo(rng, 1 + trial % 4), B = random_expo(rng, 1 + trial % 3);
        double want = quad([&](double t) { return ref(B, t) * ref_derivative(A, t); }, 0, 80, 800);
        double sc = quad([&](double t) { return magnitude(B, t) * magnitude(A, t) * 5; }, 0, 80, 800);
        EXPECT_REL(special_integral(A, B, tol), want, sc);
    }
}

// Odd input: empty operands, powers at the edge of int, absurd work.
TEST(ExpoRobustness, EmptyAndHugeInputs) {
    Exponomial E, dst;
    add_expos(E, dst, tol);
    multiply_expos(E, exponential(1), dst, tol);
    diff_expo(E, dst, tol);
    integrate_expo(E, dst, tol);
    convolute_expos(E, exponential(1), dst, tol);
    subtract_value_at_zero(dst, tol);
    EXPECT_TRUE(dst.empty());

    Exponomial huge = make({{1, 0, INT_MAX, -1, 0}});
    EXPECT_THROW(multiply_expos(huge, make({{1, 0, 1, 0, 0}}), dst, tol), ExpoError);
    EXPECT_THROW(integrate_expo(huge, dst, tol), ExpoError);
    EXPECT_THROW(convolute_expos(huge, huge, dst, tol), ExpoError);
    // (k)! overflows: the moment is +inf, found without a billion divisions
    double m = moment_of_expo(make({{-1, 0, 1000000000, -1, 0}}), 1, tol);
    EXPECT_TRUE(std::isinf(m) && m > 0);
    EXPECT_EQ(evaluate_expo(huge, 0, tol), 0.0);
    EXPECT_EQ(evaluate_expo(huge, 0.5, tol), 0.0);
    EXPECT_EQ(evaluate_expo(huge, 1e300, tol), 0.0);
    EXPECT_THROW(require_expo(nullptr), ExpoError);
}

}  // namespace
}  // namespace corvel
