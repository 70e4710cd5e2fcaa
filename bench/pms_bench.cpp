// A phased mission of P phases over fault trees of N repeated components
// each: every phase's tree is an or of and gates of ten components, the
// groups shifted by the phase number so that no two phases share a gate, and
// the rates change from phase to phase. Reports the time to read, build and
// evaluate the mission at its end, the nodes of the mission diagram, and the
// peak resident memory of the process.
// Run: build-bench/bench/corvel_bench --benchmark_filter=Pms

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <sstream>
#include <string>

#include "bench_models.h"
#include "combinatorial/pms_blocks.h"
#include "combinatorial/pms_solve.h"
#include "interp/interpreter.h"

namespace {

std::string mission_model(long phases, long n) {
    std::ostringstream m;
    for (long j = 0; j < phases; ++j) {
        m << "ftree f" << j << "\n";
        for (long i = 0; i < n; ++i) m << "repeat c" << i << " exp(" << 0.02 * (1 + (i + j) % 7) << ")\n";
        long gates = 0;
        for (long g = 0; g < n; g += 10, ++gates) {
            m << "and g" << gates;
            for (long i = g; i < g + 10 && i < n; ++i) m << " c" << (i + j) % n;
            m << "\n";
        }
        m << "or top";
        for (long g = 0; g < gates; ++g) m << " g" << g;
        m << "\nend\n";
    }
    m << "pms big\n";
    for (long j = 0; j < phases; ++j) m << j + 1 << " f" << j << " 10\n";
    m << "end\n";
    return m.str();
}

void BM_PmsMission(benchmark::State& state) {
    const long phases = state.range(0), n = state.range(1);
    double nodes = 0.0, result = 0.0;  // the probability is only kept alive
    corvel::bench::run_model(state, mission_model(phases, n), [&](corvel::Interpreter& in) {
        corvel::SystemRecord& sys = in.systems[in.systems.find("big")];
        corvel::PmsAnalysis& a = corvel::analyze_pms_with_bdd(in, sys, 10.0 * static_cast<double>(phases));
        nodes = static_cast<double>(corvel::bdd_size(a.m, a.b_root, 0));
        result = a.p_res;
        benchmark::DoNotOptimize(result);
    });
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["bdd_nodes"] = nodes;
    state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

BENCHMARK(BM_PmsMission)->Args({2, 500})->Args({5, 500})->Args({10, 100})->Args({10, 500})->Unit(benchmark::kMillisecond);
