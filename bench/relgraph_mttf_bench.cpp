// Exact decision-diagram solution of directed n x n grid graphs (C(2n-2, n-1)
// source-sink paths), and the mean time to failure of a repairable fault tree
// of 2 000 events by the tree pass, and the same tree with spread repeated
// events, whose diagram outgrows the node limit.
// Run: build-bench/bench/corvel_bench --benchmark_filter='Relgraph|Mttf'

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <sstream>
#include <string>

#include "bench_models.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/mttf.h"
#include "combinatorial/relgraph_solve.h"
#include "combinatorial/tree.h"
#include "interp/dispatch.h"
#include "interp/interpreter.h"

namespace {

std::string grid_model(long n) {
    std::ostringstream m;
    m << "relgraph big\n";
    auto v = [](long i, long j) { return "v" + std::to_string(i) + "_" + std::to_string(j); };
    for (long i = 0; i < n; ++i)
        for (long j = 0; j < n; ++j) {
            if (j + 1 < n) m << v(i, j) << " " << v(i, j + 1) << " exp(0.1)\n";
            if (i + 1 < n) m << v(i, j) << " " << v(i + 1, j) << " exp(0.1)\n";
        }
    m << "end\n";
    return m.str();
}

double peak_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_RelgraphGridExact(benchmark::State& state) {
    long nodes = 0, paths = 0;
    corvel::bench::run_model(state, grid_model(state.range(0)), [&](corvel::Interpreter& in) {
        corvel::SystemRecord& sys = in.systems[in.systems.find("big")];
        corvel::AnalysisRequest req;
        req.measure = corvel::Kw::Value;
        req.transient = true;
        req.time = 1.0;
        corvel::analyze_relgraph_system(in, sys, req);
        corvel::RgBddInfo& info = corvel::relgraph_bdd(in, sys);
        nodes = corvel::bdd_size(info.m, info.root, 0);
        paths = info.paths;
        benchmark::DoNotOptimize(sys.s_dist.size());
    });
    state.counters["bdd_nodes"] = static_cast<double>(nodes);
    state.counters["paths"] = static_cast<double>(paths);
    state.counters["peak_MB"] = peak_mb();
}

// 2 000 repairable events under and gates of ten; the first `repeats` events
// are repeated and also enter a second and gate each.
std::string repairable_tree(long n, long repeats) {
    std::ostringstream m;
    m << "ftree big\n";
    for (long i = 0; i < n; ++i)
        m << (i < repeats ? "repeat e" : "basic e") << i << " exp(0.00" << 1 + i % 9 << ") exp(0." << 1 + i % 7 << ")\n";
    long gates = 0;
    for (long i = 0; i < n; i += 10, ++gates) {
        m << "and g" << gates;
        for (long j = i; j < i + 10 && j < n; ++j) m << " e" << j;
        if (repeats > 0 && i >= repeats) m << " e" << gates % repeats;
        m << "\n";
    }
    m << "or top";
    for (long g = 0; g < gates; ++g) m << " g" << g;
    m << "\nend\n";
    return m.str();
}

void BM_MttfFaultTree(benchmark::State& state) {
    const long repeats = state.range(1);
    corvel::bench::run_model(state, repairable_tree(state.range(0), repeats), [&](corvel::Interpreter& in) {
        corvel::SystemRecord& sys = in.systems[in.systems.find("big")];
        corvel::AnalysisRequest req;
        req.measure = corvel::Kw::Mttf;
        if (sys.type == corvel::kSysFtreeRepeated)
            corvel::analyze_repeated_ftree(in, sys, req);
        else
            corvel::analyze_tree_system(in, sys, req);
        benchmark::DoNotOptimize(corvel::system_mttf(in, sys));
    });
    state.counters["peak_MB"] = peak_mb();
}

}  // namespace

BENCHMARK(BM_RelgraphGridExact)->Arg(4)->Arg(6)->Arg(7)->Arg(8)->Unit(benchmark::kMillisecond);
// {2000, 20}: twenty repeated events spread over the gates. The variable
// order gives them their variables in the first two gates, so the diagram
// below must remember which of them failed (about 2^20 nodes per level);
// the analysis stops at the fault-tree node limit with error 150, which the
// benchmark reports as its error.
BENCHMARK(BM_MttfFaultTree)->Args({2000, 0})->Args({2000, 20})->Iterations(1)->Unit(benchmark::kMillisecond);
