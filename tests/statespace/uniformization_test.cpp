// Transient solution of chains: uniformization and the dense route against a
// matrix exponential computed here, the truncation at small and large Λt,
// the step budget, and the acyclic closed forms against the same reference.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include <Eigen/Dense>
#include <unsupported/Eigen/MatrixFunctions>

#include "interp/interpreter.h"
#include "statespace/markov_solve.h"

namespace corvel {
namespace {

struct Model {
    std::string out;
    Interpreter in{&out};
    explicit Model(const std::string& text) {
        in.err.interactive = false;
        std::istringstream s(text);
        in.parse_stream(s, "t.crv");
    }
    // The chain as an analysis sees it: expanded, its start vector set.
    ChainModel& chain(const std::string& n) {
        SystemRecord& sys = in.systems[in.systems.find(n)];
        expand_chain(in, sys);
        rebind_markov(in, sys, false);
        check_starting_probs(in, sys);
        return *find_chain(sys);
    }
};

// p0·exp(Q t) and its integral from the augmented generator, straight from
// the arcs.
void reference(const ChainModel& m, const std::vector<double>& p0, double t, std::vector<double>& p,
               std::vector<double>& c) {
    const int n = m.num_states();
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(2 * n, 2 * n);
    for (const ChainArc& a : m.arcs) {
        A(a.from, a.to) += a.rate;
        A(a.from, a.from) -= a.rate;
    }
    for (int i = 0; i < n; ++i) A(i, n + i) = 1.0;
    Eigen::MatrixXd E = (A * t).exp();
    p.assign(n, 0.0);
    c.assign(n, 0.0);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            p[j] += p0[i] * E(i, j);
            c[j] += p0[i] * E(i, n + j);
        }
}

const char* kCycle =
    "markov c\na b 2.5\nb c 0.7\nc a 1.3\nb a 0.4\nc d 0.2\nd b 3.0\nend\na 0.6\nd 0.4\nend\n";

TEST(Uniformization, MatchesMatrixExponentialOverShortAndLongTimes) {
    Model mod(kCycle);
    ChainModel& m = mod.chain("c");
    for (double t : {0.01, 0.3, 2.0, 15.0, 400.0}) {
        std::vector<double> p = m.start_prob, cum, rp, rc;
        UniformStats st = uniform(arcs_view(m), p, &cum, 1e-12, t, 1e-11, nullptr);
        reference(m, m.start_prob, t, rp, rc);
        double mass = 0.0;
        for (int i = 0; i < m.num_states(); ++i) {
            EXPECT_NEAR(p[i], rp[i], 1e-10) << "t=" << t << " state " << i;
            EXPECT_NEAR(cum[i], rc[i], 1e-10 * std::max(1.0, t)) << "t=" << t << " state " << i;
            mass += p[i];
        }
        EXPECT_NEAR(mass, 1.0, 1e-11);
        EXPECT_FALSE(st.incomplete);
        // A long horizon settles before its right truncation point.
        if (t == 400.0) {
            EXPECT_TRUE(st.steady);
            EXPECT_LT(st.steps, st.right);
        }
    }
}

TEST(Uniformization, TimeZeroAndTruncationPoints) {
    Model mod(kCycle);
    ChainModel& m = mod.chain("c");
    std::vector<double> p = m.start_prob, cum;
    uniform(arcs_view(m), p, &cum, 1e-11, 0.0, 1e-11, nullptr);
    EXPECT_EQ(p, m.start_prob);
    for (double x : cum) EXPECT_EQ(x, 0.0);
    // Small Λt: no left truncation; large Λt: a positive left point.
    p = m.start_prob;
    EXPECT_EQ(uniform(arcs_view(m), p, nullptr, 1e-11, 0.1, 1e-11, nullptr).left, 0);
    Model big("markov s\nu d 1000\nend\nu 1\nend\n");
    ChainModel& b = big.chain("s");
    p = b.start_prob;
    UniformStats st = uniform(arcs_view(b), p, nullptr, 1e-11, 0.2, 1e-11, nullptr);
    EXPECT_GT(st.left, 0);
    EXPECT_NEAR(p[b.names.find("u")], std::exp(-200.0), 1e-11);
    EXPECT_NEAR(p[b.names.find("d")], 1.0, 1e-11);
}

TEST(Uniformization, TwoStateChainKeepsTinyProbabilities) {
    // e^(-20) is about 2e-9: no fixed cutoff of small Poisson terms may lose it.
    Model mod("markov s\nu d 1\nend\nu 1\nend\n");
    ChainModel& m = mod.chain("s");
    std::vector<double> p = m.start_prob, cum;
    uniform(arcs_view(m), p, &cum, 1e-11, 20.0, 1e-11, nullptr);
    const int u = m.names.find("u");
    EXPECT_NEAR(p[u], std::exp(-20.0), 1e-12);
    EXPECT_NEAR(cum[u], 1.0 - std::exp(-20.0), 1e-10);
}

TEST(Uniformization, BudgetStopsAndTheDenseRouteTakesOver) {
    Model mod(kCycle);
    ChainModel& m = mod.chain("c");
    std::vector<double> p = m.start_prob;
    UniformStats st = uniform(arcs_view(m), p, nullptr, 1e-11, 1e4, 1e-11, nullptr, 10);
    EXPECT_TRUE(st.incomplete);
    // Infinite time is refused at once, not stepped.
    p = m.start_prob;
    EXPECT_TRUE(uniform(arcs_view(m), p, nullptr, 1e-11, INFINITY, 1e-11, nullptr).incomplete);
    // Λt of 1e11 on a stiff chain: the dense route keeps the slow rate
    // exactly, and its bound covers what it gives.
    Model stiff("markov s\na b 1e6\nb c 1e-6\nend\na 1\nend\n");
    ChainModel& s = stiff.chain("s");
    TransientResult r = transient_solution(arcs_view(s), s.start_prob, 1e5, 1e-11, 1e-11, nullptr);
    const double pb = 1e6 / (1e6 - 1e-6) * std::exp(-0.1);
    EXPECT_NEAR(r.prob[s.names.find("b")], pb, std::max(r.error, 1e-300));
    EXPECT_NEAR(r.prob[s.names.find("b")], pb, 1e-13);
    EXPECT_LT(r.error, 1e-11);
    // Its integral: ∫ p_b = r1/(r1 − r2)·((1 − e^(−r2 t))/r2 − (1 − e^(−r1 t))/r1).
    const double cb = 1e6 / (1e6 - 1e-6) * ((1.0 - std::exp(-0.1)) / 1e-6 - 1.0 / 1e6);
    EXPECT_NEAR(r.cum[s.names.find("b")], cb, 1e-13 * cb);
}

TEST(Uniformization, SteadyStateIsDeclaredOnlyWithAnHonestBound) {
    // a -> b at 1e9, b -> c at 1e-6: after a few steps b changes by about
    // 1e-15 per step, below any relative test, yet by 1 % over t = 1e4.
    Model mod("markov w\na b 1e9\nb c 1e-6\nend\na 1\nend\n");
    ChainModel& m = mod.chain("w");
    const int b = m.names.find("b");
    const double exact = 1e9 / (1e9 - 1e-6) * std::exp(-1e-2);
    std::vector<double> p = m.start_prob;
    UniformStats st = uniform(arcs_view(m), p, nullptr, 1e-11, 1e4, 1e-11, nullptr, 100000);
    if (st.steady) EXPECT_GE(st.steady_error, std::fabs(p[b] - exact));
    else EXPECT_TRUE(st.incomplete);
    // The transient solution takes the stable route and is right.
    TransientResult r = transient_solution(arcs_view(m), m.start_prob, 1e4, 1e-11, 1e-11, nullptr);
    EXPECT_NEAR(r.prob[b], exact, 1e-12);
    EXPECT_LT(r.error, 1e-10);
    // A fast repairable pair is in its steady state long before t: the
    // stepping stops there with a bound that is tiny.
    Model pair("markov f\nu d 1e9\nd u 2e9\nend\nu 1\nend\n");
    ChainModel& f = pair.chain("f");
    TransientResult q = transient_solution(arcs_view(f), f.start_prob, 1e4, 1e-11, 1e-11, nullptr);
    EXPECT_NEAR(q.prob[f.names.find("u")], 2.0 / 3.0, 1e-12);
    EXPECT_NEAR(q.cum[f.names.find("d")], 1e4 / 3.0, 1e-7);
    EXPECT_LT(q.error, 1e-10);
}

TEST(Uniformization, StiffChainBeyondReachIsExactByTheDenseRoute) {
    // Λt = 1.05e13: p_b(1e4) = r1/(r1 − r2)(e^(−10) − e^(−1e13)).
    Model mod("markov m\na b 1e9\nb c 1e-3\nend\na 1\nend\n");
    ChainModel& m = mod.chain("m");
    for (double t : {1.0, 1e4}) {
        TransientResult r = transient_solution(arcs_view(m), m.start_prob, t, 1e-11, 1e-11, nullptr);
        const double pb = 1e9 / (1e9 - 1e-3) * std::exp(-1e-3 * t);
        EXPECT_NEAR(r.prob[m.names.find("b")], pb, 1e-12 * pb) << t;
        EXPECT_NEAR(r.prob[m.names.find("c")], 1.0 - pb, 1e-12) << t;
        EXPECT_LT(r.error, 1e-10) << t;
    }
}

TEST(AcyclicChain, ClosedFormsAgreeWithTheTransientSolution) {
    Model mod("markov g\na b 2\na c 1\nb d 4\nc d 0.5\nb e 1\nend\na 1\nend\nexpr value(0.7; g)\n");
    SystemRecord& sys = mod.in.systems[mod.in.systems.find("g")];
    ChainModel& m = *find_chain(sys);
    ASSERT_EQ(sys.type, kSysMarkovAcyclic);
    std::vector<double> rp, rc;
    for (double t : {0.2, 1.0, 5.0}) {
        reference(m, m.start_prob, t, rp, rc);
        for (int i = 0; i < m.num_states(); ++i)
            EXPECT_NEAR(evaluate_expo(m.dists[i].dist, t, mod.in.settings.tol), rp[i], 1e-12) << i;
        double absorbed = rp[m.names.find("d")] + rp[m.names.find("e")];
        EXPECT_NEAR(evaluate_expo(sys.s_dist, t, mod.in.settings.tol), absorbed, 1e-12);
    }
    // Absorption probabilities: e gets 2/3·1/5.
    EXPECT_NEAR(m.prob[m.names.find("e")], 2.0 / 15.0, 1e-14);
    EXPECT_NEAR(m.prob[m.names.find("d")], 13.0 / 15.0, 1e-14);
}

}  // namespace
}  // namespace corvel
