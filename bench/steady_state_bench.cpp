// Steady state of a large sparse irreducible chain by the shared SOR solver:
// N states on a ring, each with five arcs out (to i+1, i-1, i+97, i-1013,
// i+4099, modulo N), solved to the default tolerance 1e-7.
// Counters: sweeps, nonzeros, the sweep rate in nonzeros per second, the
// time of the compression (setupsp), the largest relative imbalance of a
// state in the answer (balance) and peak resident memory.
// Run: build-bench/bench/corvel_bench --benchmark_filter=SteadyState

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "statespace/sor.h"

namespace {

using corvel::SparseArc;

constexpr int kOffsets[] = {1, -1, 97, -1013, 4099};
constexpr double kRates[] = {1.0, 0.7, 0.3, 0.2, 0.05};
constexpr int kArcsPerState = 5;

SparseArc ring_arc(int n, std::int64_t k) {
    int from = static_cast<int>(k / kArcsPerState);
    int j = static_cast<int>(k % kArcsPerState);
    long to = (static_cast<long>(from) + kOffsets[j]) % n;
    if (to < 0) to += n;
    // Rates vary a little with the state so that the solution is not uniform.
    double rate = kRates[j] * (1.0 + 0.5 * static_cast<double>(from % 7) / 7.0);
    return SparseArc{from, static_cast<int>(to), rate};
}

void BM_SteadyStateRing(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const std::int64_t arcs = static_cast<std::int64_t>(n) * kArcsPerState;
    corvel::SolverIo io;  // no reports: the run prints only the counters
    double setup_s = 0.0, solve_s = 0.0;
    corvel::SorResult last;
    double balance = 0.0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        corvel::SparseChain m = corvel::setupsp(n, arcs, [n](std::int64_t k) { return ring_arc(n, k); });
        auto t1 = std::chrono::steady_clock::now();
        std::vector<double> x;
        last = corvel::sor(m, 1e-7, x, io);
        auto t2 = std::chrono::steady_clock::now();
        setup_s = std::chrono::duration<double>(t1 - t0).count();
        solve_s = std::chrono::duration<double>(t2 - t1).count();
        balance = corvel::balance_error(m, x);
        benchmark::DoNotOptimize(x.data());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["states"] = n;
    state.counters["nonzeros"] = static_cast<double>(arcs);
    state.counters["sweeps"] = last.iterations;
    state.counters["converged"] = last.converged ? 1 : 0;
    state.counters["setup_s"] = setup_s;
    state.counters["solve_s"] = solve_s;
    state.counters["nnz_per_s"] = solve_s > 0 ? static_cast<double>(last.products) / solve_s : 0.0;
    state.counters["balance"] = balance;
    state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

BENCHMARK(BM_SteadyStateRing)
    ->Arg(100000)
    ->Arg(300000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
