// Transient solutions of nets against a dense matrix exponential of the
// generator written out by hand.

#include "statespace/petri_net.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "statespace/petri_blocks.h"
#include "statespace/run_text.h"

namespace corvel {
namespace {

using Matrix = std::vector<std::vector<double>>;

Matrix multiply(const Matrix& a, const Matrix& b) {
    const size_t n = a.size();
    Matrix c(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < n; ++k)
            for (size_t j = 0; j < n; ++j) c[i][j] += a[i][k] * b[k][j];
    return c;
}

// e^A by scaling, a Taylor series of 30 terms, and squaring.
Matrix expm(Matrix a) {
    const size_t n = a.size();
    double norm = 0.0;
    for (const auto& row : a)
        for (double x : row) norm = std::max(norm, std::fabs(x));
    int squarings = 0;
    while (norm * static_cast<double>(n) > 0.5) {
        norm /= 2;
        ++squarings;
    }
    for (auto& row : a)
        for (double& x : row) x = std::ldexp(x, -squarings);
    Matrix sum(n, std::vector<double>(n, 0.0)), term = sum;
    for (size_t i = 0; i < n; ++i) sum[i][i] = term[i][i] = 1.0;
    for (int k = 1; k <= 30; ++k) {
        term = multiply(term, a);
        for (auto& row : term)
            for (double& x : row) x /= k;
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j) sum[i][j] += term[i][j];
    }
    for (int s = 0; s < squarings; ++s) sum = multiply(sum, sum);
    return sum;
}

// Arrivals at rate 2 reach a vanishing place and join the queue with
// weight 3 or are lost with weight 1; one server at rate 5; an inhibitor
// arc of multiplicity 3 bounds the queue. The net starts in a vanishing
// marking (one customer deciding, one queued). The tangible chain is the
// birth-death chain on q = 0..3 with birth 1.5 and death 5, started from
// (0, 1/4, 3/4, 0).
const char* kNet =
    "gspn lossy\n"
    "q 1\nchoose 1\nend\n"
    "arrive ind 2\nserve ind 5\nend\n"
    "join ind 3\nlose ind 1\nend\n"
    "arrive choose 1\njoin q 1\nend\n"
    "choose join 1\nchoose lose 1\nq serve 1\nend\n"
    "q arrive 3\nend\n";

TEST(PetriSolve, TransientAndCumulativeMatchTheMatrixExponential) {
    RunText r(kNet);
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("lossy");
    ASSERT_NE(sys, nullptr);
    const double t = 0.7;
    // Q on q = 0..3, then the augmented [[Q, I], [0, 0]]: the upper right
    // block of its exponential is the integral of e^(Qs) over (0, t).
    Matrix aug(8, std::vector<double>(8, 0.0));
    for (int k = 0; k < 3; ++k) {
        aug[k][k + 1] = 1.5 * t;
        aug[k + 1][k] = 5.0 * t;
    }
    for (int k = 0; k < 4; ++k) {
        double out = 0.0;
        for (int j = 0; j < 4; ++j) out += aug[k][j];
        aug[k][k] = -out;
        aug[k][4 + k] = t;
    }
    Matrix e = expm(aug);
    const double start[4] = {0.0, 0.25, 0.75, 0.0};
    double expect_p[4] = {}, expect_cum[4] = {};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            expect_p[j] += start[i] * e[i][j];
            expect_cum[j] += start[i] * e[i][4 + j];
        }

    AnalysisRequest req;
    req.measure = Kw::Etokt;
    req.transient = true;
    req.time = t;
    try {
        analyze_petri_net(r.in, *sys, req, false);
    } catch (const ProgramExit&) {
        FAIL() << r.out;
    }
    const NetAnalysis& a = *petri_model(*sys)->analysis;
    ASSERT_EQ(a.chain.num_states(), 4u);
    ASSERT_EQ(a.tprob.size(), 4u);
    ASSERT_EQ(a.tcumprob.size(), 4u);
    double total = 0.0;
    for (std::uint32_t s = 0; s < 4; ++s) {
        int q = a.graph.tokens(a.chain.marking_of_state[s], 0);
        EXPECT_NEAR(a.tprob[s], expect_p[q], 1e-9) << "q = " << q;
        EXPECT_NEAR(a.tcumprob[s], expect_cum[q], 1e-9) << "q = " << q;
        total += a.tcumprob[s];
    }
    EXPECT_NEAR(total, t, 1e-9);
}

TEST(PetriSolve, AbsorptionByTimeAndMomentsOfAnErlangNet) {
    // Three stages at rate 2 in a row: Erlang-3, P(T <= t) = 1 - e^(-2t)
    // (1 + 2t + 2t^2), mean 3/2, variance 3/4.
    RunText r(
        "gspn erl\na 1\nb 0\nc 0\nd 0\nend\n"
        "s1 ind 2\ns2 ind 2\ns3 ind 2\nend\nend\n"
        "s1 b 1\ns2 c 1\ns3 d 1\nend\n"
        "a s1 1\nb s2 1\nc s3 1\nend\nend\n"
        "expr value(0.8; erl), mean(erl), variance(erl)\n");
    ASSERT_EQ(r.status, 0) << r.out;
    const double t = 0.8;
    const double cdf = 1.0 - std::exp(-2 * t) * (1 + 2 * t + 2 * t * t);
    char expect[200];
    std::snprintf(expect, sizeof expect,
                  "value(0.8; erl):   %.4e\nmean(erl):   %.4e\nvariance(erl):   %.4e\n", cdf, 1.5, 0.75);
    EXPECT_NE(r.out.find(expect), std::string::npos) << r.out << "\nexpected\n" << expect;
}

// The numbers of a printed table, in order (the second column of each row).
std::vector<double> table_values(const std::string& out) {
    std::vector<double> v;
    std::istringstream s(out);
    std::string line;
    while (std::getline(s, line)) {
        double tm, m;
        int te, me;
        char e1, e2;
        if (std::sscanf(line.c_str(), " %lf %c%d %lf %c%d", &tm, &e1, &te, &m, &e2, &me) == 6 && e1 == 'e' && e2 == 'e')
            v.push_back(m * std::pow(10.0, me));
    }
    return v;
}

TEST(PetriSolve, ClosedFormsOfAnIrreducibleNetAndTheirTables) {
    // Two places exchange one token: up -> down at rate 1, back at rate 3.
    // p_up(t) = 3/4 + 1/4·e^(-4t); throughput of fail = p_up(t).
    RunText r(
        "format 8\n"
        "gspn av\nup 1\ndown 0\nend\nfail ind 1\nrepair ind 3\nend\nend\n"
        "fail down 1\nrepair up 1\nend\nup fail 1\ndown repair 1\nend\nend\n"
        "eval(av, up) 0 1 0.25 etokt\neval(av, fail) 0 1 0.25 tputt\neval(av, down) 0 1 0.25 premptyt\n");
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<double> v = table_values(r.out);
    ASSERT_EQ(v.size(), 15u) << r.out;
    for (int k = 0; k < 5; ++k) {
        const double t = 0.25 * k, up = 0.75 + 0.25 * std::exp(-4 * t);
        EXPECT_NEAR(v[static_cast<size_t>(k)], up, 5e-9) << t;
        EXPECT_NEAR(v[static_cast<size_t>(5 + k)], up, 5e-9) << t;
        EXPECT_NEAR(v[static_cast<size_t>(10 + k)], up, 5e-9) << t;
    }
    const NetAnalysis& a = *petri_model(*r.sys("av"))->analysis;
    ASSERT_TRUE(a.has_forms);
    EXPECT_NEAR(evaluate_expo(a.state_dist[1], 0.3, Tolerances{}), 0.25 - 0.25 * std::exp(-1.2), 1e-14);
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
}

TEST(PetriSolve, TablesOfCancellingClosedFormsComeFromTheTransientSolution) {
    // Stages at rates 1 and 1 + 1e-9 in a row: the plain closed form of the
    // middle place has coefficients of about ±1e9 that cancel to 8 digits or
    // worse; the table must still give the true t·e^(-t)·(1 - 5e-10·t) to 8
    // digits.
    RunText r(
        "format 8\n"
        "gspn ser\np 1\nq 0\nr 0\nend\nfirst ind 1\nsecond ind 1.000000001\nend\nend\n"
        "first q 1\nsecond r 1\nend\np first 1\nq second 1\nend\nend\n"
        "eval(ser, q) 0 4 0.5 etokt\n");
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<double> v = table_values(r.out);
    ASSERT_EQ(v.size(), 9u) << r.out;
    for (int k = 0; k < 9; ++k) {
        const double t = 0.5 * k, exact = t * std::exp(-t) * (1.0 - 5e-10 * t);
        EXPECT_NEAR(v[static_cast<size_t>(k)], exact, 5e-9 * std::max(exact, 1e-3)) << t;
    }
    const NetAnalysis& a = *petri_model(*r.sys("ser"))->analysis;
    // The closed form of the middle marking (state 2 of the chain) is the
    // one rebuilt with the two rates made one: it no longer cancels, and it
    // stays within 1e-9 of the exact values.
    ASSERT_TRUE(a.has_forms);
    for (double t : {0.5, 1.0, 3.0}) {
        const Guarded g = guarded_evaluate(a.state_dist[1], t, Tolerances{});
        EXPECT_LT(g.relative_error(), 1e-12) << t;
        EXPECT_NEAR(g.value, t * std::exp(-t) * (1.0 - 5e-10 * t), 1e-9) << t;
    }
    // No warning: every value came from a route that met the precision.
    EXPECT_EQ(r.out.find("warning: eval table"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace corvel
