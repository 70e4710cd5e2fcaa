// Closed forms of single chain states and the numbers read from them: the
// rebuild of an acyclic chain's forms when sojourn rates nearly coincide,
// the absorption probabilities behind prob and sreward of phase-type
// chains, and the moments of a distribution whose complement is lost in
// noise far out in time.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "expo/guarded.h"
#include "expo/numeric_dist.h"
#include "statespace/chain.h"
#include "statespace/run_text.h"

namespace corvel {
namespace {

const Tolerances kTol{};

// Runs the program and returns the value printed for `label` in an expr line.
double printed(const std::string& out, const std::string& label) {
    const std::string key = label + ":   ";
    const size_t at = out.find(key);
    EXPECT_NE(at, std::string::npos) << label << "\n" << out;
    if (at == std::string::npos) return NAN;
    return std::stod(out.substr(at + key.size()));
}

// P(a sum of exponential stages with these distinct rates <= t), from the
// closed form of the hypoexponential distribution (fine for rates far apart).
double hypo_cdf(const std::vector<double>& r, double t) {
    double s = 0.0;
    for (size_t i = 0; i < r.size(); ++i) {
        double c = 1.0;
        for (size_t j = 0; j < r.size(); ++j)
            if (j != i) c *= r[j] / (r[j] - r[i]);
        s += c * std::exp(-r[i] * t);
    }
    return 1.0 - s;
}

struct Chain3 {
    RunText run;
    ChainModel* m = nullptr;
    explicit Chain3(const std::string& rates)
        : run("markov m\na b 1\nb c " + rates.substr(0, rates.find(' ')) + "\nc d " +
              rates.substr(rates.find(' ') + 1) + "\nend\na 1\nend\nexpr value(1; m)\n") {
        SystemRecord* sys = run.sys("m");
        if (sys != nullptr) m = &chain_of(*sys);
    }
    const Exponomial& form(const std::string& state) {
        SystemRecord& sys = *run.sys("m");
        return m->dists[static_cast<size_t>(find_chain_state(sys, state))].dist;
    }
};

TEST(AcyclicStateForms, NearlyEqualRatesAreRebuiltAsRepeatedOnes) {
    // Rates 1, 1 + 1e-9, 1 - 1e-9: the plain forms cancel to nine digits;
    // the rebuilt ones are those of three equal rates, Erlang-like, and do
    // not cancel.
    Chain3 c("1.000000001 0.999999999");
    ASSERT_NE(c.m, nullptr);
    EXPECT_EQ(c.run.status, 0) << c.run.out;
    for (const char* s : {"b", "c", "d"}) {
        const Guarded worst = worst_evaluation(c.form(s), kTol);
        EXPECT_LT(worst.error, 1e-12) << s;
    }
    for (double t : {0.3, 1.0, 2.5, 7.0}) {
        const double e = std::exp(-t);
        EXPECT_NEAR(evaluate_expo(c.form("b"), t, kTol), t * e, 1e-9) << t;
        EXPECT_NEAR(evaluate_expo(c.form("c"), t, kTol), t * t / 2 * e, 1e-9) << t;
        EXPECT_NEAR(evaluate_expo(c.form("d"), t, kTol), 1 - e * (1 + t + t * t / 2), 1e-9) << t;
    }
    // The difference to the exact chain is far below the recompute level.
    EXPECT_LT(c.m->form_error, 1e-9);
}

TEST(AcyclicStateForms, DistinctRatesKeepTheirExactForms) {
    // Rates 1, 2, 3 do not cancel: no rebuild, the forms are the
    // hypoexponential ones term for term.
    Chain3 c("2 3");
    ASSERT_NE(c.m, nullptr);
    EXPECT_EQ(c.m->form_error, 0.0);
    EXPECT_EQ(c.form("d").size(), 4u);
    for (double t : {0.1, 1.0, 4.0})
        EXPECT_NEAR(evaluate_expo(c.form("d"), t, kTol), hypo_cdf({1, 2, 3}, t), 1e-13) << t;
}

TEST(AcyclicStateForms, RatesTooFarApartToMergeStillGiveExactNumbers) {
    // Rates 2e-6 apart: merging them would move the values by more than the
    // rebuild accepts, so the cancelling forms stay, and every number read
    // from them comes from the stable routes.
    RunText r(
        "markov m\na b 1\nb c 1.000002\nc d 0.999998\nend\na 1\nend\n"
        "expr value(1; m, c), value(2; m, d), mean(m, d)\n");
    EXPECT_EQ(r.status, 0) << r.out;
    // By uniformization in long double: the Erlang values move only to
    // second order in the spread of the rates (their sum is symmetric), and
    // the occupancy of c by about 1e-6 of itself.
    const double e1 = std::exp(-1.0), e2 = std::exp(-2.0);
    EXPECT_NEAR(printed(r.out, "value(1; m, c)"), 0.5 * e1, 1e-5);
    EXPECT_NEAR(printed(r.out, "value(2; m, d)"), 1 - e2 * (1 + 2 + 2), 1e-5);
    EXPECT_NEAR(printed(r.out, "mean(m, d)"), 1 + 1 / 1.000002 + 1 / 0.999998, 1e-4);
    EXPECT_EQ(r.out.find("may be inaccurate"), std::string::npos) << r.out;
}

TEST(PhaseTypeStateMeasures, ProbAndSrewardFollowTheAbsorptionProbabilities) {
    // Two absorbing states reached from a cycle; by hand P(f) = 2/3, P(g) = 1/3.
    RunText r(
        "markov ph\ns0 s1 1\ns1 s0 2\ns1 f 0.5\ns1 g 0.25\nreward\ns1 4\nf 3\ng 6\nend\ns0 1\nend\n"
        "expr prob(ph, f), prob(ph, g), prob(ph, s1), sreward(ph, f), sreward(ph, g), sreward(ph, s1)\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(printed(r.out, "prob(ph, f)"), 2.0 / 3, 1e-4);
    EXPECT_NEAR(printed(r.out, "prob(ph, g)"), 1.0 / 3, 1e-4);
    EXPECT_EQ(printed(r.out, "prob(ph, s1)"), 0.0);
    EXPECT_NEAR(printed(r.out, "sreward(ph, f)"), 2.0, 1e-4);
    EXPECT_NEAR(printed(r.out, "sreward(ph, g)"), 2.0, 1e-4);
    // A state that is always left earns nothing in the limit.
    EXPECT_EQ(printed(r.out, "sreward(ph, s1)"), 0.0);
}

TEST(PhaseTypeStateMeasures, StartingMassOnAnAbsorbingStateCounts) {
    // Mass 0.25 starts in f; the rest leaves s0 for f or g with 1/2 each.
    RunText r("markov ph\ns0 s1 1\ns1 s0 1\ns1 f 1\ns1 g 1\nend\ns0 0.75\nf 0.25\nend\n"
              "expr prob(ph, f), prob(ph, g)\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NEAR(printed(r.out, "prob(ph, f)"), 0.25 + 0.75 / 2, 1e-4);
    EXPECT_NEAR(printed(r.out, "prob(ph, g)"), 0.75 / 2, 1e-4);
}

TEST(PhaseTypeStateMeasures, TinyValuesOfAFlaggedClosedFormNeedNoWarning) {
    // Six rings of ten states in series, every rate within a ring equal
    // (defective eigenvalues: the closed form is flagged and the values come
    // from uniformization). By a 40-digit matrix exponential the chain is
    // absorbed by 0.01 with probability 5.609e-18 (printed as 0) and by 0.2
    // with 2.75208e-10; the truncation of the uniformization must not be
    // left to cast doubt on either.
    std::string text = "markov m\n";
    for (int g = 0; g < 6; ++g) {
        for (int i = 0; i < 10; ++i) {
            const std::string from = "s" + std::to_string(10 * g + i);
            text += from + " s" + std::to_string(10 * g + (i + 1) % 10) + " 1\n";
            text += from + " s" + std::to_string(10 * g + (i + 9) % 10) + " 0.25\n";
        }
        text += "s" + std::to_string(10 * g) + (g < 5 ? " s" + std::to_string(10 * g + 10) : std::string(" f")) +
                " 0.4\n";
    }
    text += "end\ns0 1\nend\nexpr value(0.01; m), value(0.2; m)\n";
    RunText r(text);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(printed(r.out, "value(0.01; m)"), 0.0);
    EXPECT_NEAR(printed(r.out, "value(0.2; m)"), 2.75208e-10, 1e-14);
    EXPECT_EQ(r.out.find("value of system m may be inaccurate"), std::string::npos) << r.out;
}

// Exp(1) whose complement is computed as 1 − F with an absolute error of
// 1e-12, as a transient solution gives it: far out the complement is only
// noise.
class NoisyExp final : public NumericDist {
public:
    mutable int calls = 0;
    GuardedProb at(double t) const override {
        ++calls;
        if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
        const double f = -std::expm1(-t);
        // The noise of a truncated sum: a fixed offset that does not decay.
        const double r = 1.0 - f + 3e-13;
        return {Guarded{f, 1e-12, Route::Uniformization}, Guarded{r, 1e-12, Route::Uniformization}};
    }
    double mass_at_zero() const override { return 0.0; }
    double mass_at_infinity() const override { return 0.0; }
    double time_scale() const override { return 1.0; }
};

TEST(QuadratureMoments, StopsWhereTheComplementIsLostInItsNoise) {
    NoisyExp d;
    const GuardedMoments m = quadrature_moments(d);
    EXPECT_NEAR(m.mean.value, 1.0, 1e-9);
    EXPECT_NEAR(m.variance.value, 1.0, 1e-7);
    // The noise shows in the bounds, and the integration ends after a
    // bounded number of evaluations instead of doubling out to huge times.
    EXPECT_GT(m.mean.error, 0.0);
    EXPECT_LT(d.calls, 5000);
}

}  // namespace
}  // namespace corvel
