// Steady state of irreducible Markov chains through analyze_irred, against
// closed forms.

#include "statespace/irreducible.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "statespace/chain.h"
#include "statespace/run_text.h"

namespace corvel {
namespace {

// Solves the chain `m` defined by `text` for its steady state; returns the
// exit status of a run-ending error, or -1.
int solve(RunText& r, const std::string& name = "m") {
    SystemRecord* sys = r.sys(name);
    if (sys == nullptr) return -2;
    try {
        expand_chain(r.in, *sys);
        solve_irreducible_markov(r.in, *sys);
    } catch (const ProgramExit& e) {
        return e.status;
    }
    return -1;
}

double prob(RunText& r, const std::string& state) {
    SystemRecord& sys = *r.sys("m");
    return chain_steady_measure(r.in, sys, Kw::Prob, find_chain_state(sys, state));
}

TEST(AnalyzeIrred, TwoUnitsOneRepairmanAvailability) {
    // Two units failing at rate l each, one repairman at rate u:
    // pi ∝ (1, 2l/u, 2l²/u²) for (both up, one up, both down).
    const double l = 0.01, u = 0.5;
    RunText r(
        "markov m\n"
        "up2 up1 0.02\nup1 dn 0.01\nup1 up2 0.5\ndn up1 0.5\n"
        "reward\nup2 1\nup1 1\nend\nup2 1\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(solve(r), -1) << r.out;
    const double w1 = 2 * l / u, w2 = 2 * l * l / (u * u), z = 1 + w1 + w2;
    EXPECT_NEAR(prob(r, "up2"), 1 / z, 1e-6);
    EXPECT_NEAR(prob(r, "up1"), w1 / z, 1e-6);
    EXPECT_NEAR(prob(r, "dn"), w2 / z, 1e-8);
    SystemRecord& sys = *r.sys("m");
    EXPECT_NEAR(chain_steady_measure(r.in, sys, Kw::Exrss, -1), (1 + w1) / z, 1e-6);
    EXPECT_NEAR(chain_steady_measure(r.in, sys, Kw::Sreward, find_chain_state(sys, "up1")), w1 / z, 1e-6);
    EXPECT_EQ(chain_steady_measure(r.in, sys, Kw::Sreward, find_chain_state(sys, "dn")), 0.0);
    EXPECT_TRUE(sys.s_ibound);
    EXPECT_EQ(r.out.find("steady-state"), std::string::npos) << r.out;
}

TEST(AnalyzeIrred, BirthDeathQueueMatchesProductForm) {
    // M/M/1/K with K = 6: pi_k = rho^k (1 - rho) / (1 - rho^(K+1)).
    const double lam = 3.0, mu = 4.0, rho = lam / mu;
    std::string text = "markov m\n";
    for (int k = 0; k < 6; ++k) {
        text += std::to_string(k) + " " + std::to_string(k + 1) + " 3\n";
        text += std::to_string(k + 1) + " " + std::to_string(k) + " 4\n";
    }
    text += "end\n0 1\nend\n";
    RunText r(text);
    ASSERT_EQ(solve(r), -1) << r.out;
    for (int k = 0; k <= 6; ++k)
        EXPECT_NEAR(prob(r, std::to_string(k)), std::pow(rho, k) * (1 - rho) / (1 - std::pow(rho, 7)), 1e-6) << k;
}

TEST(AnalyzeIrred, ChainThatIsNotIrreducibleIsError114) {
    RunText r("markov m\na b 1\nb a 1\nc d 1\nd c 1\nend\na 1\nend\n");
    ASSERT_EQ(r.sys("m")->type, kSysMarkovIrreducible);
    EXPECT_EQ(solve(r), 255);
    EXPECT_NE(r.out.find("error: chain or network is not irreducible: m"), std::string::npos) << r.out;
    // An arc of rate 0 does not connect.
    RunText zero("markov m\na b 1\nb a 0\nend\na 1\nend\n");
    EXPECT_EQ(solve(zero), 255);
    EXPECT_NE(zero.out.find("not irreducible"), std::string::npos) << zero.out;
}

TEST(AnalyzeIrred, StiffRingIsAccurateOrSaysSo) {
    // A ring i -> i+1 with rates alternating 1e-6 and 1e6: pi_i ∝ 1/rate_i,
    // twelve decades apart. Small rings take the exact elimination when the
    // iteration's balance is poor; a large one must be accurate or warned.
    for (int n : {6, 1200}) {
        std::string text = "markov m\n";
        for (int i = 0; i < n; ++i)
            text += "s" + std::to_string(i) + " s" + std::to_string((i + 1) % n) + (i % 2 ? " 1e6\n" : " 1e-6\n");
        text += "end\ns0 1\nend\n";
        RunText r(text);
        ASSERT_EQ(solve(r), -1) << r.out;
        const double z = (n / 2) * (1e6 + 1e-6);
        double worst = 0.0;
        for (int i = 0; i < n; ++i) {
            double expect = (i % 2 ? 1e-6 : 1e6) / z;
            worst = std::max(worst, std::fabs(prob(r, "s" + std::to_string(i)) - expect) / expect);
        }
        bool reported = r.out.find("warning") != std::string::npos ||
                        r.out.find("could not solve linear system") != std::string::npos;
        EXPECT_TRUE(worst < 1e-5 || reported) << "n " << n << " worst " << worst << "\n" << r.out;
        if (n == 6) {
            EXPECT_LT(worst, 1e-9);
        }
    }
}

TEST(AnalyzeIrred, MatrixHoldsIncomingArcsByColumn) {
    RunText r("markov m\na b 2\nb c 3\nc a 5\nb a 7\nend\na 1\nend\n");
    SystemRecord& sys = *r.sys("m");
    expand_chain(r.in, sys);
    rebind_markov(r.in, sys, false);
    SparseChain q = irreducible_matrix(r.in, sys);
    ASSERT_EQ(q.n, 3);
    EXPECT_EQ(q.nonzeros(), 4);
    // Row of a: from b (7) and from c (5); every column sums to the outflow.
    std::vector<double> out(3, 0.0);
    for (std::int64_t k = 0; k < q.nonzeros(); ++k) out[q.colind[k]] += q.q[k];
    EXPECT_DOUBLE_EQ(out[find_chain_state(sys, "a")], 2.0);
    EXPECT_DOUBLE_EQ(out[find_chain_state(sys, "b")], 10.0);
    EXPECT_DOUBLE_EQ(out[find_chain_state(sys, "c")], 5.0);
}

}  // namespace
}  // namespace corvel
