// Single-chain networks with populations too large for the full population
// tables, against the product form computed by convolution of the station
// functions in logarithms (so that nothing over- or underflows).

#include "statespace/mva.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace corvel {
namespace {

Station station(int type, int servers, std::vector<double> rates, double visits) {
    Station st;
    st.type = type;
    st.servers = servers;
    st.rates = {std::move(rates)};
    st.visit_count = {visits};
    return st;
}

// The rate of a station holding j customers, as the product form reads it.
double rate_at(const Station& s, int j) {
    const std::vector<double>& r = s.rates[0];
    switch (s.type) {
        case kStationIs: return j * r[0];
        case kStationMs: return std::min(j, s.servers) * r[0];
        case kStationLds: return r[std::min<size_t>(static_cast<size_t>(j), r.size() - 1)];
        default: return r[0];
    }
}

double log_add(double a, double b) {
    if (a == -INFINITY) return b;
    if (b == -INFINITY) return a;
    const double hi = std::max(a, b);
    return hi + std::log1p(std::exp(std::min(a, b) - hi));
}

using LogVec = std::vector<double>;

LogVec log_station(const Station& s, int N) {
    LogVec f(static_cast<size_t>(N) + 1, 0.0);
    for (int j = 1; j <= N; ++j) f[j] = f[j - 1] + std::log(s.visit_count[0] / rate_at(s, j));
    return f;
}

LogVec convolve(const LogVec& a, const LogVec& b) {
    LogVec c(a.size(), -INFINITY);
    for (size_t n = 0; n < a.size(); ++n)
        for (size_t j = 0; j <= n; ++j) c[n] = log_add(c[n], a[j] + b[n - j]);
    return c;
}

struct Expected {
    double tput, qlength, util;
};

std::vector<Expected> product_form(const std::vector<Station>& st, int N) {
    const size_t M = st.size();
    std::vector<LogVec> f(M);
    for (size_t m = 0; m < M; ++m) f[m] = log_station(st[m], N);
    // Per station, the constant of all the others; and of the whole network.
    std::vector<LogVec> others(M);
    for (size_t m = 0; m < M; ++m) {
        LogVec g(static_cast<size_t>(N) + 1, -INFINITY);
        g[0] = 0.0;
        for (size_t i = 0; i < M; ++i)
            if (i != m) g = convolve(g, f[i]);
        others[m] = std::move(g);
    }
    const LogVec all = convolve(others[0], f[0]);
    std::vector<Expected> e(M);
    for (size_t m = 0; m < M; ++m) {
        double q = 0.0, empty = 0.0;
        for (int j = 0; j <= N; ++j) {
            const double p = std::exp(f[m][j] + others[m][N - j] - all[N]);
            q += j * p;
            if (j == 0) empty = p;
        }
        const double X = st[m].visit_count[0] * std::exp(all[N - 1] - all[N]);
        const bool ld = st[m].type == kStationMs || st[m].type == kStationLds;
        e[m] = {X, q, ld ? 1.0 - empty : X / st[m].rates[0][0]};
    }
    return e;
}

void expect_agreement(std::vector<Station> st, int N, const std::string& what) {
    // lds rates are indexed 1 .. N as the binder leaves them.
    for (Station& s : st)
        if (s.type == kStationLds) {
            std::vector<double>& r = s.rates[0];
            r.resize(static_cast<size_t>(N) + 1, r.back());
            r[0] = r[1];
        }
    const std::vector<Expected> want = product_form(st, N);
    solve_mva(st, {N}, MvaOptions{});
    for (size_t m = 0; m < st.size(); ++m) {
        EXPECT_NEAR(st[m].tput[0], want[m].tput, 1e-9 * want[m].tput) << what << " station " << m;
        EXPECT_NEAR(st[m].qlength[0], want[m].qlength, 1e-9 * std::max(1.0, want[m].qlength)) << what << " station " << m;
        EXPECT_NEAR(st[m].util[0], want[m].util, 1e-9) << what << " station " << m;
        EXPECT_NEAR(st[m].rtime[0], want[m].qlength / want[m].tput, 1e-9 * want[m].qlength / want[m].tput + 1e-12)
            << what << " station " << m;
        if (st[m].type == kStationMs || st[m].type == kStationLds) {
            ASSERT_EQ(st[m].prblty.size(), static_cast<size_t>(N) + 1);
            double mean = 0.0;
            for (int j = 0; j <= N; ++j) mean += j * st[m].prblty[static_cast<size_t>(j)];
            EXPECT_NEAR(mean, want[m].qlength, 1e-6 * std::max(1.0, want[m].qlength)) << what << " station " << m;
        }
    }
}

TEST(LargePopulations, EachStationAsBottleneckAgreesWithTheProductForm) {
    const int N = 1500;  // beyond the full tables with two load-dependent stations
    // The fcfs station as bottleneck, then the lds one, then the ms one, and
    // a balanced network where every station holds a share of the customers.
    expect_agreement({station(kStationLds, 1, {0.0, 1.0, 2.0, 2.5}, 1.0), station(kStationMs, 3, {1.2}, 1.0),
                      station(kStationFcfs, 1, {2.0}, 1.0)},
                     N, "fcfs bottleneck");
    expect_agreement({station(kStationLds, 1, {0.0, 1.0, 2.0, 2.5}, 1.0), station(kStationMs, 3, {1.2}, 1.0),
                      station(kStationFcfs, 1, {3.0}, 1.0)},
                     N, "lds bottleneck");
    expect_agreement({station(kStationLds, 1, {0.0, 1.0, 2.0, 4.5}, 1.0), station(kStationMs, 3, {1.2}, 1.0),
                      station(kStationIs, 1, {0.01}, 1.0)},
                     N, "ms bottleneck");
    expect_agreement({station(kStationLds, 1, {0.0, 2.0}, 0.5), station(kStationMs, 2, {1.0}, 0.25),
                      station(kStationFcfs, 1, {1.0}, 0.25)},
                     N, "balanced");
}

TEST(LargePopulations, RandomNetworksAgreeWithTheProductForm) {
    std::mt19937 gen(31);
    std::uniform_real_distribution<double> u(0.2, 3.0);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<Station> st;
        // An lds station whose rates change over the first dozens of
        // customers, an ms station with several servers, and a simple one.
        std::vector<double> lds{0.0};
        const int steps = 1 + static_cast<int>(gen() % 40);
        for (int j = 1; j <= steps; ++j) lds.push_back(u(gen) * std::sqrt(static_cast<double>(j)));
        st.push_back(station(kStationLds, 1, lds, u(gen)));
        st.push_back(station(kStationMs, 1 + static_cast<int>(gen() % 6), {u(gen)}, u(gen)));
        st.push_back(station(trial % 2 ? kStationPs : kStationIs, 1, {u(gen)}, u(gen)));
        expect_agreement(st, 1200 + 300 * trial, "trial " + std::to_string(trial));
    }
}

TEST(LargePopulations, TablesStayLinearInThePopulation) {
    std::vector<Station> st{station(kStationLds, 1, {0.0, 1.0, 2.0}, 1.0), station(kStationMs, 4, {1.0}, 1.0),
                            station(kStationFcfs, 1, {1.0}, 1.0)};
    const double one = mva_table_entries(st, {100000});
    const double ten = mva_table_entries(st, {1000000});
    EXPECT_GT(one, 0.0);
    EXPECT_LT(one, 1e6);
    EXPECT_NEAR(ten / one, 10.0, 0.01);
    // Several chains still need the population lattice.
    EXPECT_GT(mva_table_entries(st, {1000, 1000}), 1e9);
}

}  // namespace
}  // namespace corvel
