// Chains at scale: expanding loop-built chains of 10^5 to 10^7 arcs (arcs per
// second, bytes per arc of the built chain) and uniformization on a
// birth-death chain of 10^6 states (time per Poisson step, arcs per second
// per step, peak memory). Memory of both grows linearly with the chain.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <sstream>
#include <string>

#include "bench_models.h"
#include "interp/interpreter.h"
#include "statespace/chain.h"
#include "statespace/markov_solve.h"

namespace {

// A birth-death chain of `states` states written by one loop group.
std::string birth_death(long states) {
    std::ostringstream m;
    m << "markov bd\nloop i, 0, " << states - 2 << "\ns$(i) s$(i+1) 1.5\ns$(i+1) s$(i) 2.5\nend\nend\ns0 1\nend\n";
    return m.str();
}

double peak_mb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

corvel::SystemRecord& last_system(corvel::Interpreter& in) { return in.systems[in.systems.size() - 1]; }

void BM_ExpandChainArcs(benchmark::State& state) {
    const long arcs = state.range(0);
    const std::string text = birth_death(arcs / 2 + 1);
    double bytes_per_arc = 0.0;
    corvel::bench::run_model(state, text, [&](corvel::Interpreter& in) {
        corvel::SystemRecord& sys = last_system(in);
        corvel::expand_chain(in, sys);
        const corvel::ChainModel& m = *corvel::find_chain(sys);
        bytes_per_arc = static_cast<double>(m.bytes()) / static_cast<double>(m.arcs.size());
    });
    state.counters["arcs/s"] = benchmark::Counter(static_cast<double>(arcs) * state.iterations(),
                                                  benchmark::Counter::kIsRate);
    state.counters["bytes/arc"] = bytes_per_arc;
    state.counters["peak_MB"] = peak_mb();
}

void BM_UniformBirthDeath(benchmark::State& state) {
    const long states = state.range(0);
    std::string captured;
    corvel::Interpreter in(&captured);
    in.err.interactive = false;
    std::istringstream input(birth_death(states));
    in.parse_stream(input, "bench.crv");
    corvel::SystemRecord& sys = last_system(in);
    corvel::expand_chain(in, sys);
    corvel::rebind_markov(in, sys, false);
    corvel::check_starting_probs(in, sys);
    const corvel::ChainModel& m = *corvel::find_chain(sys);
    long steps = 0;
    for (auto _ : state) {
        std::vector<double> p = m.start_prob, cum;
        // Λ = 4.2, t = 20: about 120 Poisson steps.
        corvel::UniformStats st = corvel::uniform(corvel::arcs_view(m), p, &cum, 1e-11, 20.0, 1e-11, nullptr);
        steps += st.steps;
        benchmark::DoNotOptimize(p.data());
    }
    state.counters["steps"] = static_cast<double>(steps) / state.iterations();
    state.counters["arcs/s/step"] = benchmark::Counter(static_cast<double>(m.arcs.size()) * static_cast<double>(steps),
                                                       benchmark::Counter::kIsRate);
    state.counters["peak_MB"] = peak_mb();
}

}  // namespace

BENCHMARK(BM_ExpandChainArcs)->Arg(100000)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_UniformBirthDeath)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
