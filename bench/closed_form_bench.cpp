// Closed forms of large phase-type chains by the dense eigen-decomposition
// route: a ring of N transient states (a step ahead, a jump of seven ahead,
// a step back from every third state) with two exits, read and printed with
// cdf(ring) once per iteration. The counters give the printed terms and the
// process's peak memory so far; the time grows with N^3.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <sstream>
#include <string>

#include "bench_models.h"

namespace {

std::string ring(long n) {
    std::ostringstream m;
    m << "markov ring\nloop i, 0, " << n - 2 << "\ns$(i) s$(i+1) 1+0.001*i\nend\n";
    m << "s" << n - 1 << " s0 1\n";
    m << "loop i, 0, " << n - 8 << "\ns$(i) s$(i+7) 0.3\nend\n";
    m << "loop i, 1, " << (n - 1) / 3 << "\ns$(3*i) s$(3*i-1) 0.5\nend\n";
    m << "s" << n / 2 << " out1 0.4\ns" << n - 1 << " out2 0.7\nend\ns0 1\nend\n";
    return m.str();
}

double peak_mb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void BM_DenseClosedFormCdf(benchmark::State& state) {
    const long n = state.range(0);
    const std::string text = ring(n) + "cdf(ring)\n";
    size_t printed = 0;
    corvel::bench::run_model(state, text, [&](corvel::Interpreter& in) {
        in.out.flush();
        printed = in.systems[in.systems.find("ring")].s_dist.size();
    });
    state.counters["terms"] = static_cast<double>(printed);
    state.counters["peak_MB"] = peak_mb();
}

}  // namespace

BENCHMARK(BM_DenseClosedFormCdf)->Arg(250)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
