// A regenerative process of N + 1 states with one general transition: a
// birth-death degradation chain s1..sN (exponential arcs both ways) during
// which an Erlang-2 maintenance timer runs in every state and resets to r;
// r returns to s1. The subordinated chain of s1 spans all N states.
// Run: build-bench/bench/corvel_bench --benchmark_filter=Mrgp

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <sstream>
#include <string>

#include "interp/interpreter.h"

namespace {

std::string maintenance_model(long n) {
    std::ostringstream m;
    m << "mrgp maint\n";
    for (long i = 1; i <= n; ++i) m << "s" << i << " @ r gen 1,0,0, -1,0,-0.2, -0.2,1,-0.2\n";
    for (long i = 1; i < n; ++i) m << "s" << i << " - s" << i + 1 << " exp(1)\ns" << i + 1 << " - s" << i << " exp(0.8)\n";
    m << "r - s1 exp(2)\nend\nexpr prob(maint, r), prob(maint, s1)\n";
    return m.str();
}

void BM_MrgpMaintenance(benchmark::State& state) {
    const std::string text = maintenance_model(state.range(0));
    for (auto _ : state) {
        std::string captured;
        corvel::Interpreter in(&captured);
        in.install_builtins();
        in.err.interactive = false;
        std::istringstream input(text);
        try {
            in.parse_stream(input, "bench.crv");
        } catch (const corvel::ProgramExit&) {
            state.SkipWithError(captured.c_str());
            break;
        }
        benchmark::DoNotOptimize(captured.size());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["states"] = static_cast<double>(state.range(0) + 1);
    state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

BENCHMARK(BM_MrgpMaintenance)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
