// Multiple-chain mean value analysis: 3 chains of N customers over 10
// stations. The work grows with the number of population vectors
// prod (N_k + 1) (counter "vectors"); an ms station adds its class
// probabilities for every jv <= n, prod (N_k + 1)(N_k + 2)/2 entries.
// Run: build-bench/bench/corvel_bench --benchmark_filter=Mva

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <vector>

#include "statespace/mva.h"

namespace {

std::vector<corvel::Station> network(bool with_ms) {
    using namespace corvel;
    std::vector<Station> st(10);
    const int types[] = {kStationPs, kStationFcfs, kStationIs, kStationLcfspr, kStationPs,
                         kStationFcfs, kStationPs, kStationFcfs, kStationLcfspr, kStationIs};
    for (size_t m = 0; m < st.size(); ++m) {
        st[m].type = types[m];
        st[m].servers = 1;
        st[m].rates.assign(3, {});
        st[m].visit_count.assign(3, 0.1);
        for (size_t k = 0; k < 3; ++k)
            st[m].rates[k] = {st[m].type == kStationFcfs ? 2.0 : 1.0 + 0.5 * static_cast<double>(k + m % 3)};
    }
    if (with_ms) {
        st[1].type = kStationMs;
        st[1].servers = 3;
    }
    return st;
}

void solve(benchmark::State& state, bool with_ms) {
    const int n = static_cast<int>(state.range(0));
    std::vector<int> customers(3, n);
    std::vector<corvel::Station> st = network(with_ms);
    for (auto _ : state) {
        corvel::solve_mva(st, customers, corvel::MvaOptions{});
        benchmark::DoNotOptimize(st[0].tput[0]);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["vectors"] = static_cast<double>((n + 1) * (n + 1) * (n + 1));
    state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_MvaThreeChains(benchmark::State& state) { solve(state, false); }
void BM_MvaThreeChainsWithMs(benchmark::State& state) { solve(state, true); }

}  // namespace

BENCHMARK(BM_MvaThreeChains)->Arg(5)->Arg(10)->Arg(15)->Arg(20)->Arg(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MvaThreeChainsWithMs)->Arg(5)->Arg(10)->Arg(15)->Arg(20)->Unit(benchmark::kMillisecond);

// One chain of N customers over an lds station (rates for 1, 2 and 3 or
// more customers), an ms station of four servers, an lds station whose rate
// changes over its first 40 customers and an fcfs station. The work per
// level is the number of leading probabilities each load-dependent station
// carries, so the time grows linearly in N; memory too (counter peak_MB).
namespace {

void BM_MvaOneChainPopulation(benchmark::State& state) {
    using namespace corvel;
    const int n = static_cast<int>(state.range(0));
    auto make = [](int type, int servers, std::vector<double> rates, double visits) {
        Station s;
        s.type = type;
        s.servers = servers;
        s.rates = {std::move(rates)};
        s.visit_count = {visits};
        return s;
    };
    std::vector<double> ramp{0.0};
    for (int j = 1; j <= 40; ++j) ramp.push_back(0.1 * j);
    std::vector<Station> st{make(kStationLds, 1, {0.0, 1.0, 2.0, 2.5}, 0.25), make(kStationMs, 4, {0.8}, 0.25),
                            make(kStationLds, 1, ramp, 0.25), make(kStationFcfs, 1, {2.0}, 0.25)};
    for (Station& s : st)
        if (s.type == kStationLds) {
            s.rates[0].resize(static_cast<size_t>(n) + 1, s.rates[0].back());
            s.rates[0][0] = s.rates[0][1];
        }
    for (auto _ : state) {
        solve_mva(st, {n}, MvaOptions{});
        benchmark::DoNotOptimize(st[0].tput[0]);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["customers_per_s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_MvaOneChainPopulation)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
