// Reading large generated models: the time per line should not grow with the
// size of the model (hashed name tables, no rescans).

#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "bench_models.h"
#include "interp/interpreter.h"
#include "statespace/chain.h"

namespace {

// A chain of n transitions written by one loop group.
std::string markov_loop_model(long n) {
    std::ostringstream m;
    m << "markov big\nloop i, 1, " << n << "\ns$(i) s$(i+1) 1.5\nend\nend\ns1 1\nend\n";
    return m.str();
}

void read_model(benchmark::State& state, const std::string& text) {
    corvel::bench::run_model(state, text, [](corvel::Interpreter& in) {
        // A chain's loop groups are expanded when it is analysed.
        corvel::SystemRecord& sys = in.systems[in.systems.size() - 1];
        if (corvel::find_chain(sys) != nullptr) corvel::expand_chain(in, sys);
        benchmark::DoNotOptimize(in.systems.size());
    });
}

void BM_ReadMarkovLoop(benchmark::State& state) { read_model(state, markov_loop_model(state.range(0))); }
void BM_ReadFaultTree(benchmark::State& state) { read_model(state, corvel::bench::ftree_model(state.range(0), "exp(0.001)")); }

}  // namespace

BENCHMARK(BM_ReadMarkovLoop)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFaultTree)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
