// Reading large generated models: the time per line should not grow with the
// size of the model (hashed name tables, no rescans).

#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "interp/interpreter.h"
#include "statespace/chain.h"

namespace {

// A chain of n transitions written by one loop group.
std::string markov_loop_model(long n) {
    std::ostringstream m;
    m << "markov big\nloop i, 1, " << n << "\ns$(i) s$(i+1) 1.5\nend\nend\ns1 1\nend\n";
    return m.str();
}

// A fault tree of n basic events under and gates of ten inputs each.
std::string ftree_model(long n) {
    std::ostringstream m;
    m << "ftree big\n";
    for (long i = 0; i < n; ++i) m << "basic e" << i << " exp(0.001)\n";
    long gates = 0;
    for (long i = 0; i < n; i += 10, ++gates) {
        m << "and g" << gates;
        for (long j = i; j < i + 10 && j < n; ++j) m << " e" << j;
        m << "\n";
    }
    m << "or top";
    for (long g = 0; g < gates; ++g) m << " g" << g;
    m << "\nend\n";
    return m.str();
}

void read_model(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        std::string captured;
        corvel::Interpreter in(&captured);
        in.err.interactive = false;
        in.install_builtins();
        std::istringstream input(text);
        in.parse_stream(input, "bench.crv");
        // A chain's loop groups are expanded when it is analysed.
        if (in.systems.size() > 0) {
            corvel::SystemRecord& sys = in.systems[in.systems.size() - 1];
            if (corvel::find_chain(sys) != nullptr) corvel::expand_chain(in, sys);
        }
        benchmark::DoNotOptimize(in.systems.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReadMarkovLoop(benchmark::State& state) { read_model(state, markov_loop_model(state.range(0))); }
void BM_ReadFaultTree(benchmark::State& state) { read_model(state, ftree_model(state.range(0))); }

}  // namespace

BENCHMARK(BM_ReadMarkovLoop)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFaultTree)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
