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
