// Mean value analysis against the product-form solution computed by
// enumerating every network state, the population enumeration, and the
// analysis of queueing systems through the interpreter.

#include "statespace/mva.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "statespace/run_text.h"

namespace corvel {
namespace {

TEST(Populations, LevelByLevelInDecreasingOrder) {
    std::vector<int> bound{2, 1}, n;
    std::vector<std::vector<int>> seen;
    for (int level = 1; level <= 3; ++level)
        for (bool more = first_population(n, bound, level); more; more = next_population(n, bound)) seen.push_back(n);
    std::vector<std::vector<int>> want{{1, 0}, {0, 1}, {2, 0}, {1, 1}, {2, 1}};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(population_address({2, 1}, bound), 5u);
    EXPECT_EQ(population_address({1, 0}, bound), 2u);
}

TEST(Populations, EveryVectorOnceAtItsLevel) {
    std::vector<int> bound{3, 0, 2, 4}, n;
    std::vector<int> hits(4 * 1 * 3 * 5, 0);
    for (int level = 1; level <= 9; ++level) {
        for (bool more = first_population(n, bound, level); more; more = next_population(n, bound)) {
            int sum = 0;
            for (size_t k = 0; k < n.size(); ++k) {
                EXPECT_LE(n[k], bound[k]);
                sum += n[k];
            }
            EXPECT_EQ(sum, level);
            ++hits[population_address(n, bound)];
        }
    }
    EXPECT_EQ(hits[0], 0);  // the empty network is not enumerated
    for (size_t a = 1; a < hits.size(); ++a) EXPECT_EQ(hits[a], 1) << a;
    EXPECT_FALSE(first_population(n, bound, 10));
}

Station make_station(int type, int servers, std::vector<std::vector<double>> rates, std::vector<double> visits) {
    Station st;
    st.type = type;
    st.servers = servers;
    st.rates = std::move(rates);
    st.visit_count = std::move(visits);
    return st;
}

double factorial(int n) { return std::tgamma(n + 1.0); }

// The product-form station function in closed form: x_k = v_k / mu_k,
// f(jv) = c(|jv|) * prod_k x_k^jv_k / jv_k!, with c(j) = 1 (is), j! (fcfs,
// ps, lcfspr), j! / prod_{i<=j} min(i, S) (ms), j! / prod_{i<=j} alpha(i)
// (lds with rates mu_k * alpha(j)).
struct ClosedForm {
    const std::vector<Station>& st;
    std::vector<double> alpha;  // of the lds station

    double f(size_t m, const std::vector<int>& jv) const {
        const Station& s = st[m];
        int j = 0;
        double w = 1.0;
        for (size_t k = 0; k < jv.size(); ++k) {
            if (jv[k] == 0) continue;
            double mu = s.type == kStationLds ? s.rates[k][1] / alpha[1] : s.rates[k][0];
            w *= std::pow(s.visit_count[k] / mu, jv[k]) / factorial(jv[k]);
            j += jv[k];
        }
        if (s.type == kStationIs) return w;
        w *= factorial(j);
        for (int i = 1; i <= j; ++i) {
            if (s.type == kStationMs) w /= std::min(i, s.servers);
            if (s.type == kStationLds) w /= alpha[static_cast<size_t>(i)];
        }
        return w;
    }
};

// Calls `visit(counts, weight)` for every state of the network with
// population `pop`: counts[m][k] customers of chain k at station m.
void for_each_state(const std::vector<Station>& st, const ClosedForm& cf, const std::vector<int>& pop,
                    const std::function<void(const std::vector<std::vector<int>>&, double)>& visit) {
    size_t M = st.size(), K = pop.size();
    std::vector<std::vector<int>> counts(M, std::vector<int>(K, 0));
    std::function<void(size_t, size_t, int)> place = [&](size_t k, size_t m, int left) {
        if (k == K) {
            double w = 1.0;
            for (size_t i = 0; i < M; ++i) w *= cf.f(i, counts[i]);
            visit(counts, w);
            return;
        }
        if (m == M) {
            if (left == 0) place(k + 1, 0, k + 1 < K ? pop[k + 1] : 0);
            return;
        }
        int most = st[m].visit_count[k] > 0 ? left : 0;
        for (int c = 0; c <= most; ++c) {
            counts[m][k] = c;
            place(k, m + 1, left - c);
        }
        counts[m][k] = 0;
    };
    place(0, 0, pop[0]);
}

double normalising_constant(const std::vector<Station>& st, const ClosedForm& cf, const std::vector<int>& pop) {
    double G = 0.0;
    for_each_state(st, cf, pop, [&](const std::vector<std::vector<int>>&, double w) { G += w; });
    return G;
}

TEST(MeanValueAnalysis, ThreeChainsAgreeWithStateEnumeration) {
    const std::vector<double> alpha{0.0, 1.0, 1.6, 2.0, 2.0, 2.0, 2.0, 2.0};  // j = 0 .. 7
    auto lds_rates = [&](double mu) {
        std::vector<double> r;
        for (double a : alpha) r.push_back(mu * a);
        r[0] = r[1];
        return r;
    };
    std::vector<Station> st{
        make_station(kStationPs, 1, {{2.0}, {3.0}, {1.5}}, {0.3, 0.25, 0.5}),
        make_station(kStationFcfs, 1, {{1.7}, {1.7}, {}}, {0.2, 0.25, 0.0}),
        make_station(kStationIs, 1, {{0.5}, {}, {1.0}}, {0.1, 0.0, 0.3}),
        make_station(kStationMs, 2, {{1.1}, {1.1}, {}}, {0.15, 0.3, 0.0}),
        make_station(kStationLcfspr, 1, {{0.9}, {2.5}, {}}, {0.05, 0.1, 0.0}),
        make_station(kStationLds, 1, {lds_rates(1.0), lds_rates(2.0), lds_rates(0.7)}, {0.2, 0.1, 0.2}),
    };
    const std::vector<int> N{2, 3, 2};
    solve_mva(st, N, MvaOptions{});

    ClosedForm cf{st, alpha};
    const size_t M = st.size(), K = N.size();
    double G = normalising_constant(st, cf, N);
    std::vector<std::vector<double>> Q(M, std::vector<double>(K, 0.0)), U = Q;
    std::vector<std::vector<double>> P(M, std::vector<double>(8, 0.0));
    for_each_state(st, cf, N, [&](const std::vector<std::vector<int>>& c, double w) {
        double p = w / G;
        for (size_t m = 0; m < M; ++m) {
            int j = 0;
            for (size_t k = 0; k < K; ++k) j += c[m][k];
            P[m][static_cast<size_t>(j)] += p;
            for (size_t k = 0; k < K; ++k) {
                Q[m][k] += c[m][k] * p;
                if (j > 0) U[m][k] += static_cast<double>(c[m][k]) / j * p;
            }
        }
    });
    for (size_t k = 0; k < K; ++k) {
        std::vector<int> less = N;
        --less[k];
        double ratio = normalising_constant(st, cf, less) / G;
        for (size_t m = 0; m < M; ++m) {
            const Station& s = st[m];
            double X = s.visit_count[k] * ratio;
            EXPECT_NEAR(s.tput[k], X, 1e-10) << m << " " << k;
            EXPECT_NEAR(s.qlength[k], Q[m][k], 1e-10) << m << " " << k;
            EXPECT_NEAR(s.rtime[k], X > 0 ? Q[m][k] / X : 0.0, 1e-10) << m << " " << k;
            bool ld = s.type == kStationMs || s.type == kStationLds;
            double util = ld ? U[m][k] : (X > 0 ? X / s.rates[k][0] : 0.0);
            EXPECT_NEAR(s.util[k], util, 1e-10) << m << " " << k;
        }
    }
    for (size_t m : {size_t{3}, size_t{5}}) {
        ASSERT_EQ(st[m].prblty.size(), 8u);
        for (size_t j = 0; j < 8; ++j) EXPECT_NEAR(st[m].prblty[j], P[m][j], 1e-10) << m << " " << j;
    }
}

TEST(MeanValueAnalysis, OneChainIsTheClosedFormOfTwoStations) {
    // fcfs rates 1 and 3, visit ratios 1/2: P(j at the first) ~ 3^j.
    std::vector<Station> st{make_station(kStationFcfs, 1, {{1.0}}, {0.5}),
                            make_station(kStationFcfs, 1, {{3.0}}, {0.5})};
    solve_mva(st, {4}, MvaOptions{});
    double G = 1 + 3 + 9 + 27 + 81;
    EXPECT_NEAR(st[0].util[0], 1 - 1 / G, 1e-12);
    EXPECT_NEAR(st[0].tput[0], 1 - 1 / G, 1e-12);
    EXPECT_NEAR(st[1].qlength[0], (4 * 1 + 3 * 3 + 2 * 9 + 1 * 27) / G, 1e-12);
}

TEST(MeanValueAnalysis, LostDigitsAreReportedOnce) {
    // A four-server station against a nearly balanced fcfs station, as two
    // identical chains of 50: the probability of the empty ms station is
    // found by subtraction and goes negative.
    std::vector<Station> st{make_station(kStationMs, 4, {{1.0}, {1.0}}, {0.5, 0.5}),
                            make_station(kStationFcfs, 1, {{3.9}, {3.9}}, {0.5, 0.5})};
    int reports = 0;
    double worst = 0.0;
    MvaOptions opt;
    opt.lost_precision = [&](const Station&, double empty, int) {
        ++reports;
        worst = empty;
    };
    solve_mva(st, {50, 50}, opt);
    EXPECT_EQ(reports, 1);
    EXPECT_LT(worst, -opt.tolerance);
    // What the run still prints is the adjusted, normalised distribution.
    double total = 0.0;
    for (double p : st[0].prblty) {
        EXPECT_GE(p, 0.0);
        total += p;
    }
    EXPECT_NEAR(total, 1.0, 1e-12);

    // Light load: nothing to report.
    reports = 0;
    st[1].rates = {{0.5}, {0.5}};
    solve_mva(st, {15, 15}, opt);
    EXPECT_EQ(reports, 0);
}

TEST(MeanValueAnalysis, OneChainKeepsTheDigitsOfTheEmptyStation) {
    // The same network as one chain of 100: the empty-station probability
    // comes from the product form, so nothing is lost. Expected values from
    // the two station functions, f_ms(j) = prod_{i<=j} 0.5/min(i, 4) and
    // f_fcfs(k) = (0.5/3.9)^k, in logarithms.
    std::vector<Station> st{make_station(kStationMs, 4, {{1.0}}, {0.5}),
                            make_station(kStationFcfs, 1, {{3.9}}, {0.5})};
    int reports = 0;
    MvaOptions opt;
    opt.lost_precision = [&](const Station&, double, int) { ++reports; };
    const int N = 100;
    solve_mva(st, {N}, opt);
    EXPECT_EQ(reports, 0);
    std::vector<double> lw(N + 1);
    double lf = 0.0, top = -INFINITY;
    for (int j = 0; j <= N; ++j) {
        if (j > 0) lf += std::log(0.5 / std::min(j, 4));
        lw[j] = lf + (N - j) * std::log(0.5 / 3.9);
        top = std::max(top, lw[j]);
    }
    double G = 0.0, Q = 0.0;
    for (int j = 0; j <= N; ++j) {
        G += std::exp(lw[j] - top);
        Q += j * std::exp(lw[j] - top);
    }
    EXPECT_NEAR(st[0].util[0], 1.0 - std::exp(lw[0] - top) / G, 1e-12);
    EXPECT_NEAR(st[0].qlength[0], Q / G, 1e-9 * Q / G);
    ASSERT_EQ(st[0].prblty.size(), static_cast<size_t>(N) + 1);
    double total = 0.0;
    for (int j = 0; j <= N; ++j) {
        EXPECT_NEAR(st[0].prblty[j], std::exp(lw[j] - top) / G, 1e-9) << j;
        total += st[0].prblty[j];
    }
    EXPECT_NEAR(total, 1.0, 1e-9);
}

const char* kNet =
    "pfqn q(n, s)\n"
    "a b 1\nb a 1\nend\n"
    "a ms s, 1\nb lds 1, loop(i, 2, 3, 1, i)\nend\n"
    "jobs n\nend\n";

TEST(QueueAnalysis, BindingOfServersAndLoadDependentRates) {
    RunText r(std::string(kNet) + "expr tput(q, a; 5, 9)\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("warning: number of servers is > number of customers (t.crv: line   10).\n"
                         "changing number of servers for station a\n"
                         "   from 9 to number of customers (5)\n"),
              std::string::npos)
        << r.out;
    QueueModel* q = queue_model(*r.sys("q"));
    const Station& a = *q->station_at(r.sys("q")->names.find("a"));
    const Station& b = *q->station_at(r.sys("q")->names.find("b"));
    EXPECT_EQ(a.servers, 5);
    // Rates for 1..5 customers: 1, then the loop's 2 and 3, the last repeated.
    std::vector<double> want{1, 1, 2, 3, 3, 3};
    EXPECT_EQ(b.rates[0], want);
    EXPECT_NEAR(a.visit_count[0], 0.5, 1e-12);
    EXPECT_NEAR(b.visit_count[0], 0.5, 1e-12);
}

TEST(QueueAnalysis, SameArgumentsReuseTheSolution) {
    RunText r(std::string(kNet) + "verbose on\nexpr tput(q, a; 3, 1)\nexpr util(q, a; 3, 1)\nexpr util(q, a; 4, 1)\n");
    ASSERT_EQ(r.status, 0) << r.out;
    size_t first = r.out.find("using previous analysis for q");
    EXPECT_NE(first, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("using previous analysis for q", first + 1), std::string::npos) << r.out;
}

TEST(QueueAnalysis, MeasuresOfAllChainsTogether) {
    RunText r(
        "mpfqn m\nchain x\na b 1\nb a 1\nend\nchain y\na b 1\nb a 1\nend\nend\n"
        "a ps 2\nend\nb fcfs 1\nend\nend\nx 2\ny 1\nend\n"
        "expr mtput(m, a), mtput(m, a, x) + mtput(m, a, y), mrtime(m, a), mqlength(m, a) / mtput(m, a)\n"
        "expr mutil(m, b, y), mtput(m, b, y)\n"
        "expr mtput(m, a, z)\n");
    EXPECT_EQ(r.status, kExitFailure);
    double v[6];
    const char* heads[] = {"mtput(m, a):", "mtput(m, a, x) + mtput(m, a, y):", "mrtime(m, a):",
                           "mqlength(m, a) / mtput(m, a):", "mutil(m, b, y):", "mtput(m, b, y):"};
    for (int i = 0; i < 6; ++i) {
        size_t at = r.out.find(heads[i]);
        ASSERT_NE(at, std::string::npos) << heads[i] << "\n" << r.out;
        v[i] = std::strtod(r.out.c_str() + at + std::string(heads[i]).size(), nullptr);
    }
    EXPECT_DOUBLE_EQ(v[0], v[1]);
    EXPECT_DOUBLE_EQ(v[2], v[3]);
    EXPECT_DOUBLE_EQ(v[4], v[5]);  // fcfs rate 1: utilization equals throughput
    EXPECT_NE(r.out.find("error: can't find chain name: z"), std::string::npos) << r.out;
}

TEST(QueueAnalysis, TablesThatDoNotFitAreRefused) {
    // One chain needs tables linear in its population: 20000 customers at
    // an ms and an lds station solve. The two servers of rate 1 are the
    // bottleneck (the lds station serves at 3 from three customers on), so
    // the throughput is 2.
    RunText one(std::string(kNet) + "expr tput(q, a; 20000, 2)\n");
    EXPECT_EQ(one.status, 0) << one.out;
    EXPECT_NE(one.out.find("tput(q, a; 20000, 2):   2.0000e+00"), std::string::npos) << one.out;
    // Several chains need the whole population lattice.
    RunText r(
        "mpfqn m\nchain x\na b 1\nb a 1\nend\nchain y\na b 1\nb a 1\nend\nend\n"
        "a ms 2, 1\nend\nb fcfs 1\nend\nend\nx 5000\ny 5000\nend\nexpr mtput(m, a)\n");
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.out.find("error: too many customers: system m"), std::string::npos) << r.out;
    RunText huge(std::string(kNet) + "expr tput(q, a; 1e300, 2)\n");
    EXPECT_NE(huge.out.find("error: too many customers: system q"), std::string::npos) << huge.out;
}

}  // namespace
}  // namespace corvel
