// Semi-Markov chains: branch probabilities and sojourn distributions in both
// modes, the acyclic closed form against numerical convolution, and the
// embedded-chain steady state against mean-time weighting.

#include "statespace/semimark.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "statespace/chain.h"
#include "statespace/irreducible.h"
#include "statespace/run_text.h"

namespace corvel {
namespace {

const Tolerances kTol{};

Exponomial exp_cdf(double a) {
    Exponomial F = Exponomial::constant(1.0);
    insert_term(-1.0, 0, 0, -a, 0, F, kTol);
    return F;
}

// Simpson's rule on [lo, hi] with n (even) panels.
double simpson(const std::function<double(double)>& f, double lo, double hi, int n = 2000) {
    double h = (hi - lo) / n, s = f(lo) + f(hi);
    for (int i = 1; i < n; ++i) s += f(lo + i * h) * (i % 2 ? 4 : 2);
    return s * h / 3;
}

int solve(RunText& r, bool reward = false) {
    SystemRecord* sys = r.sys("m");
    if (sys == nullptr) return -2;
    try {
        expand_chain(r.in, *sys);
        solve_semimark(r.in, *sys, reward);
    } catch (const ProgramExit& e) {
        return e.status;
    }
    return -1;
}

const StateDists& dists(RunText& r, const std::string& state) {
    SystemRecord& sys = *r.sys("m");
    return chain_of(sys).dists[static_cast<size_t>(find_chain_state(sys, state))];
}

double prob(RunText& r, const std::string& state) {
    SystemRecord& sys = *r.sys("m");
    return chain_of(sys).prob[static_cast<size_t>(find_chain_state(sys, state))];
}

TEST(SemiMarkovState, CompetingExponentialsInBothModes) {
    const double a = 2.0, b = 3.0;
    Exponomial Fa = exp_cdf(a), Fb = exp_cdf(b);
    const Exponomial* F[] = {&Fa, &Fb};
    Exponomial H;
    std::vector<double> probs;
    std::vector<Exponomial> exits;
    compute_probs_and_dist(H, F, true, probs, &exits, kTol);
    EXPECT_NEAR(probs[0], a / (a + b), 1e-12);
    EXPECT_NEAR(probs[1], b / (a + b), 1e-12);
    for (double t : {0.1, 0.5, 2.0}) {
        EXPECT_NEAR(evaluate_expo(H, t, kTol), 1 - std::exp(-(a + b) * t), 1e-12);
        // Leaving through a by t: a/(a+b) (1 - e^-(a+b)t).
        EXPECT_NEAR(evaluate_expo(exits[0], t, kTol), a / (a + b) * (1 - std::exp(-(a + b) * t)), 1e-12);
    }
    compute_probs_and_dist(H, F, false, probs, &exits, kTol);
    EXPECT_EQ(probs[0], 1.0);
    EXPECT_EQ(probs[1], 1.0);
    EXPECT_NEAR(evaluate_expo(H, 0.4, kTol), 2 - std::exp(-a * 0.4) - std::exp(-b * 0.4), 1e-12);
}

TEST(SemiMarkovState, MinTermsAndExitOfErlangAgainstExponential) {
    // Three delays: min_all_but[e] is the product of the other survivals.
    Exponomial F1 = exp_cdf(1.0), F2 = exp_cdf(0.5), F3 = exp_cdf(4.0);
    const Exponomial* F[] = {&F1, &F2, &F3};
    std::vector<Exponomial> m;
    make_min_terms(F, m, kTol);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_NEAR(evaluate_expo(m[0], 0.3, kTol), std::exp(-4.5 * 0.3), 1e-12);
    EXPECT_NEAR(evaluate_expo(m[1], 0.3, kTol), std::exp(-5.0 * 0.3), 1e-12);
    EXPECT_NEAR(evaluate_expo(m[2], 0.3, kTol), std::exp(-1.5 * 0.3), 1e-12);

    // exp(l) against Erlang(2, u): P(exp first) = 1 - (u/(l+u))^2, and the
    // exit CDF through the exponential is the integral of
    // (1 - Erlang(s)) l e^(-ls) from 0 to t.
    const double l = 1.5, u = 2.0;
    Exponomial E = exp_cdf(l), Er = Exponomial::constant(1.0);
    insert_term(-1.0, 0, 0, -u, 0, Er, kTol);
    insert_term(-u, 0, 1, -u, 0, Er, kTol);
    const Exponomial* G[] = {&E, &Er};
    Exponomial H;
    std::vector<double> probs;
    std::vector<Exponomial> exits;
    compute_probs_and_dist(H, G, true, probs, &exits, kTol);
    EXPECT_NEAR(probs[0], 1 - std::pow(u / (l + u), 2), 1e-12);
    EXPECT_NEAR(probs[0] + probs[1], 1.0, 1e-12);
    auto erl_surv = [&](double s) { return std::exp(-u * s) * (1 + u * s); };
    for (double t : {0.2, 1.0, 3.0}) {
        double through_exp = simpson([&](double s) { return erl_surv(s) * l * std::exp(-l * s); }, 0, t);
        double through_erl =
            simpson([&](double s) { return std::exp(-l * s) * u * u * s * std::exp(-u * s); }, 0, t);
        EXPECT_NEAR(evaluate_expo(exits[0], t, kTol), through_exp, 1e-9) << t;
        EXPECT_NEAR(evaluate_expo(exits[1], t, kTol), through_erl, 1e-9) << t;
        EXPECT_NEAR(evaluate_expo(H, t, kTol), 1 - std::exp(-l * t) * erl_surv(t), 1e-12);
    }
}

// Erlang(2, 2) then hypoexponential(1, 3): a -> b -> c.
const char* kSeries =
    "semimark m\n"
    "a b gen 1,0,0, -1,0,-2, -2,1,-2\n"
    "b c gen 1,0,0, -1.5,0,-1, 0.5,0,-3\n"
    "end\na 1\nend\n";

TEST(AcyclicSemiMarkov, ErlangThenHypoexponentialSeries) {
    RunText r(kSeries);
    ASSERT_EQ(r.sys("m")->type, kSysSemimarkAcyclic);
    ASSERT_EQ(solve(r), -1) << r.out;
    EXPECT_EQ(prob(r, "a"), 1.0);
    EXPECT_EQ(prob(r, "c"), 1.0);
    // Absorption time = Erlang + hypo: mean 2/2 + 1 + 1/3.
    const Exponomial& C = dists(r, "c").dist;
    EXPECT_NEAR(moment_of_expo(C, 1, kTol), 1.0 + 1.0 + 1.0 / 3, 1e-10);
    auto erl_density = [](double s) { return 4 * s * std::exp(-2 * s); };
    auto hypo_cdf = [](double s) { return 1 - 1.5 * std::exp(-s) + 0.5 * std::exp(-3 * s); };
    for (double t : {0.5, 2.0, 5.0}) {
        double expect = simpson([&](double s) { return erl_density(s) * hypo_cdf(t - s); }, 0, t);
        EXPECT_NEAR(evaluate_expo(C, t, kTol), expect, 1e-9) << t;
        // In b at t: entered by t and not left.
        double in_b = simpson([&](double s) { return erl_density(s) * (1 - hypo_cdf(t - s)); }, 0, t);
        EXPECT_NEAR(evaluate_expo(dists(r, "b").dist, t, kTol), in_b, 1e-9) << t;
        EXPECT_NEAR(evaluate_expo(dists(r, "a").dist, t, kTol), std::exp(-2 * t) * (1 + 2 * t), 1e-12);
    }
    SystemRecord& sys = *r.sys("m");
    EXPECT_TRUE(sys.has_dist);
    EXPECT_NEAR(evaluate_expo(sys.s_dist, 2.0, kTol), evaluate_expo(C, 2.0, kTol), 1e-14);
}

TEST(AcyclicSemiMarkov, EachBranchKeepsItsOwnTimeShape) {
    // a races exp(1.5) to b against Erlang(2, 2) to c. Reaching b by t is the
    // integral of (1 - Erlang(s)) 1.5 e^(-1.5 s), not P(b) H(t).
    RunText r(
        "semimark m cond\n"
        "a b gen 1,0,0, -1,0,-1.5\n"
        "a c gen 1,0,0, -1,0,-2, -2,1,-2\n"
        "end\na 1\nend\n");
    ASSERT_EQ(solve(r), -1) << r.out;
    const double l = 1.5, u = 2.0;
    EXPECT_NEAR(prob(r, "b"), 1 - std::pow(u / (l + u), 2), 1e-12);
    EXPECT_NEAR(prob(r, "b") + prob(r, "c"), 1.0, 1e-12);
    for (double t : {0.3, 1.0, 4.0}) {
        double b = simpson([&](double s) { return std::exp(-u * s) * (1 + u * s) * l * std::exp(-l * s); }, 0, t);
        EXPECT_NEAR(evaluate_expo(dists(r, "b").dist, t, kTol), b, 1e-9) << t;
    }
    EXPECT_EQ(r.out.find("total is"), std::string::npos) << r.out;
}

TEST(AcyclicSemiMarkov, UnconditionalOverfullAndDefectiveSojourns) {
    // Two full CDFs read unconditionally: both branch probabilities are 1 and
    // the absorption total 2 is reported.
    RunText over(
        "semimark m uncond\n"
        "a b gen 1,0,0, -1,0,-2\n"
        "a c gen 1,0,0, -1,0,-3\n"
        "end\na 1\nend\n");
    ASSERT_EQ(solve(over), -1) << over.out;
    EXPECT_EQ(prob(over, "b"), 1.0);
    EXPECT_EQ(prob(over, "c"), 1.0);
    EXPECT_NE(over.out.find("total is 2.000000000000"), std::string::npos) << over.out;
    // A defective sojourn (limit 0.9): the missing mass never leaves.
    RunText def("semimark m uncond\na b gen 0.9,0,0, -0.9,0,-1\nend\na 1\nend\n");
    ASSERT_EQ(solve(def), -1) << def.out;
    EXPECT_NEAR(prob(def, "b"), 0.9, 1e-12);
    EXPECT_NEAR(evaluate_expo(dists(def, "a").dist, 50.0, kTol), 0.1, 1e-12);
    EXPECT_EQ(def.out.find("total is"), std::string::npos) << def.out;
}

TEST(IrreducibleSemiMarkov, SteadyStateIsMeanTimeWeightedEmbeddedSolution) {
    // a -> b Erlang(2, 1) (mean 2), b -> a hypoexponential(1, 3) (mean 4/3),
    // b -> c exp(2) competing (cond), c -> a exp(1).
    RunText r(
        "semimark m\n"
        "a b gen 1,0,0, -1,0,-1, -1,1,-1\n"
        "b a gen 1,0,0, -1.5,0,-1, 0.5,0,-3\n"
        "b c gen 1,0,0, -1,0,-2\n"
        "c a gen 1,0,0, -1,0,-1\n"
        "reward\na 1\nb 2\nend\na 1\nend\n");
    ASSERT_EQ(r.sys("m")->type, kSysSemimarkIrreducible);
    ASSERT_EQ(solve(r), -1) << r.out;
    // In b: hypo H1 against exp(2). P(b->a) = integral of e^(-2s) dH1 =
    // 1.5 * 1/3 - 0.5 * 3/5 = 0.2; mean sojourn = integral of e^(-2s)(1 - H1).
    const double pba = 1.5 * 1.0 / 3 - 0.5 * 3.0 / 5;
    const double mb = 1.5 / 3 - 0.5 / 5;
    const double ma = 2.0, mc = 1.0;
    // Embedded chain: x_a = x_b, x_c = (1 - pba) x_b.
    const double xa = 1, xb = 1, xc = 1 - pba;
    const double d = xa * ma + xb * mb + xc * mc;
    EXPECT_NEAR(prob(r, "a"), xa * ma / d, 1e-6);
    EXPECT_NEAR(prob(r, "b"), xb * mb / d, 1e-6);
    EXPECT_NEAR(prob(r, "c"), xc * mc / d, 1e-6);
    SystemRecord& sys = *r.sys("m");
    EXPECT_NEAR(chain_steady_measure(r.in, sys, Kw::Exrss, -1), (xa * ma + 2 * xb * mb) / d, 1e-6);
    EXPECT_NEAR(chain_of(sys).mean_time[find_chain_state(sys, "b")], mb, 1e-12);
}

TEST(IrreducibleSemiMarkov, DefectiveSojournIsError154) {
    RunText r(
        "semimark m uncond\n"
        "a b gen 0.9,0,0, -0.9,0,-1\n"
        "b a gen 1,0,0, -1,0,-1\n"
        "end\na 1\nend\n");
    EXPECT_EQ(solve(r), 255);
    EXPECT_NE(r.out.find("lim is 9.000000e-01\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("error: distribution in irreducible semi-Markov chain must reach 1: m"), std::string::npos)
        << r.out;
}

TEST(SemiMarkovRewards, ArcTimesAreMeasuredInAccumulatedReward) {
    // Erlang(2, 2) in a at reward rate 4: the reward to absorption is 4 times
    // the time, Erlang(2, 0.5) with mean 4.
    RunText r("semimark m\na b gen 1,0,0, -1,0,-2, -2,1,-2\nreward\na 4\nend\na 1\nend\n");
    ASSERT_EQ(solve(r, true), -1) << r.out;
    const Exponomial& B = dists(r, "b").dist;
    EXPECT_NEAR(moment_of_expo(B, 1, kTol), 4.0, 1e-12);
    EXPECT_NEAR(evaluate_expo(B, 3.0, kTol), 1 - std::exp(-1.5) * (1 + 1.5), 1e-12);
    RunText zero("semimark m\na b gen 1,0,0, -1,0,-2\nend\na 1\nend\n");
    EXPECT_EQ(solve(zero, true), 255);
    EXPECT_NE(zero.out.find("zero reward not allowed for nonabsorbing state a"), std::string::npos) << zero.out;
}

}  // namespace
}  // namespace corvel
