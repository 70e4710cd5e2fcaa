// Models whose closed forms cancel or overflow in double precision, solved
// through the interpreter as a user would: mean, variance and a 100-point
// eval table of
//   - an or of 80 and gates of three events with distinct rates,
//   - a series of 200 parallel pairs with distinct rates,
//   - a series graph of 2 001 exp(1) activities (Erlang 2001).
// Each iteration reads the generated text in a fresh interpreter and runs the
// three commands; the printed output is captured and discarded.
// Run: build-bench/bench/corvel_bench --benchmark_filter=Trusted

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <sstream>
#include <string>

#include "bench_models.h"

namespace {

double peak_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Component k = 1, 2, ... fails at rate 0.001·(1 + 0.37·k).
std::string rate(long k) {
    std::ostringstream s;
    s.precision(17);
    s << 0.001 * (1 + 0.37 * static_cast<double>(k));
    return s.str();
}

// The three measure commands on system s; the table has 100 points.
std::string queries(double step) {
    std::ostringstream s;
    s.precision(17);
    s << "expr mean(s), variance(s)\neval(s) 0 " << 99 * step << " " << step << "\n";
    return s.str();
}

std::string or_of_and3(long gates) {
    std::ostringstream m;
    m << "ftree s\n";
    for (long k = 1; k <= 3 * gates; ++k) m << "basic e" << k << " exp(" << rate(k) << ")\n";
    for (long g = 0; g < gates; ++g) m << "and g" << g << " e" << 3 * g + 1 << " e" << 3 * g + 2 << " e" << 3 * g + 3 << "\n";
    m << "or top";
    for (long g = 0; g < gates; ++g) m << " g" << g;
    m << "\nend\n" << queries(0.5);
    return m.str();
}

std::string series_of_pairs(long pairs) {
    std::ostringstream m;
    m << "block s\n";
    for (long k = 1; k <= 2 * pairs; ++k) m << "comp c" << k << " exp(" << rate(k) << ")\n";
    for (long p = 0; p < pairs; ++p) m << "parallel p" << p << " c" << 2 * p + 1 << " c" << 2 * p + 2 << "\n";
    m << "series top";
    for (long p = 0; p < pairs; ++p) m << " p" << p;
    m << "\nend\n" << queries(0.1);
    return m.str();
}

std::string series_graph(long activities) {
    std::ostringstream m;
    m << "graph s\n";
    for (long a = 1; a < activities; ++a) m << "a" << a << " a" << a + 1 << "\n";
    m << "end\n";
    for (long a = 1; a <= activities; ++a) m << "dist a" << a << " exp(1)\n";
    m << "end\n" << queries(40.0 * static_cast<double>(activities) / 2000.0);
    return m.str();
}

void run(benchmark::State& state, const std::string& text) {
    corvel::bench::run_model(state, text, [](corvel::Interpreter&) {});
    state.counters["peak_MB"] = peak_mb();
}

void BM_TrustedOrOfAnd3(benchmark::State& state) { run(state, or_of_and3(state.range(0))); }
void BM_TrustedSeriesOfPairs(benchmark::State& state) { run(state, series_of_pairs(state.range(0))); }
void BM_TrustedSeriesGraph(benchmark::State& state) { run(state, series_graph(state.range(0))); }

}  // namespace

BENCHMARK(BM_TrustedOrOfAnd3)->Arg(80)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrustedSeriesOfPairs)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrustedSeriesGraph)->Arg(2001)->Unit(benchmark::kMillisecond);
