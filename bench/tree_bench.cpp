// Reading and solving large series-parallel trees: ten thousand components
// should take well under a second (hashed names, linear tree walks).
// Run: build-tree/bench/corvel_bench --benchmark_filter=Tree

#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "bench_models.h"
#include "combinatorial/tree.h"
#include "interp/dispatch.h"
#include "interp/interpreter.h"

namespace {

// A block diagram of n exponential components: series of n/1000 blocks, each
// a parallel pair of series of 500 components.
std::string block_model(long n) {
    std::ostringstream m;
    m << "block big\n";
    long blocks = n / 1000;
    for (long b = 0; b < blocks; ++b) {
        for (int side = 0; side < 2; ++side) {
            for (int c = 0; c < 500; ++c) m << "comp c" << b << "_" << side << "_" << c << " exp(0.001)\n";
            m << "series s" << b << "_" << side;
            for (int c = 0; c < 500; ++c) m << " c" << b << "_" << side << "_" << c;
            m << "\n";
        }
        m << "parallel p" << b << " s" << b << "_0 s" << b << "_1\n";
    }
    m << "series top";
    for (long b = 0; b < blocks; ++b) m << " p" << b;
    m << "\nend\n";
    return m.str();
}

void read_and_solve(benchmark::State& state, const std::string& text) {
    corvel::bench::run_model(state, text, [](corvel::Interpreter& in) {
        corvel::AnalysisRequest req;
        corvel::SystemRecord& sys = in.systems[in.systems.find("big")];
        corvel::analyze_tree_system(in, sys, req);
        benchmark::DoNotOptimize(sys.s_dist.size());
    });
}

void BM_TreeBlockDiagram(benchmark::State& state) { read_and_solve(state, block_model(state.range(0))); }
void BM_TreeProbFaultTree(benchmark::State& state) { read_and_solve(state, corvel::bench::ftree_model(state.range(0), "prob(0.01)")); }

}  // namespace

BENCHMARK(BM_TreeBlockDiagram)->Arg(2000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeProbFaultTree)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
