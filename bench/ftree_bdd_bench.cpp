// Fault trees with repeated events and shared gates solved with decision
// diagrams, read as model text; and the node creation rate of the package
// alone. Counters: events, gates, BDD nodes of the top event, peak resident
// memory of the process (MB, so far); the nodes are those of the order-free
// route's module diagrams, which a cdf request uses, and for the package nodes per second.
// Run: build-bench/bench/corvel_bench --benchmark_filter=Bdd

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <sstream>
#include <string>

#include "bdd/bdd.h"
#include "bench_models.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "interp/dispatch.h"
#include "interp/interpreter.h"

namespace {

double peak_megabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// n repeated events; a first layer of gates over four neighbouring events,
// the event two windows on, and for every third gate one event from the far
// half of the tree; then layers of gates each naming three consecutive gates
// of the layer below with a stride of two, so every inner gate is shared by
// two parents; alternating or / and / 2-of-3 gates; the last gate is the top.
std::string shared_ftree(long n, long& gates) {
    std::ostringstream m;
    m << "ftree big\n";
    for (long i = 0; i < n; ++i) m << "repeat e" << i << " prob(0.0" << 1 + i % 9 << ")\n";
    std::vector<std::string> layer;
    gates = 0;
    for (long j = 0; j < n / 4; ++j) {
        std::string name = "a" + std::to_string(j);
        m << (j % 2 ? "or " : "and ") << name;
        for (long k = 0; k < 4; ++k) m << " e" << 4 * j + k;
        m << " e" << (4 * j + 6) % n;
        if (j % 3 == 0) m << " e" << (j * 37 + n / 2) % n;
        m << "\n";
        layer.push_back(name);
        ++gates;
    }
    for (int level = 1; layer.size() > 1; ++level) {
        std::vector<std::string> next;
        for (size_t j = 0; j + 1 < layer.size(); j += 2) {
            const size_t take = std::min<size_t>(3, layer.size() - j);
            std::string name = "l" + std::to_string(level) + "_" + std::to_string(j);
            const int kind = take == 3 ? static_cast<int>((j / 2 + static_cast<size_t>(level)) % 3) : 0;
            m << (kind == 0 ? "or " : kind == 1 ? "and " : "kofn ") << name << (kind == 2 ? " 2, 3," : "");
            for (size_t k = j; k < j + take; ++k) m << " " << layer[k];
            m << "\n";
            next.push_back(name);
            ++gates;
        }
        layer = std::move(next);
    }
    m << "end\n";
    return m.str();
}

void BM_BddSharedFaultTree(benchmark::State& state) {
    long gates = 0;
    const std::string text = shared_ftree(state.range(0), gates);
    long nodes = 0;
    corvel::bench::run_model(state, text, [&](corvel::Interpreter& in) {
        corvel::SystemRecord& sys = in.systems[in.systems.find("big")];
        corvel::AnalysisRequest req;
        req.measure = corvel::Kw::Cdf;
        corvel::analyze_repeated_ftree(in, sys, req);
        benchmark::DoNotOptimize(sys.s_dist.size());
        // Counting the nodes is the benchmark's business, not the solver's.
        state.PauseTiming();
        nodes = corvel::fast_ftree_size(*corvel::repeated_state(sys).fast);
        state.ResumeTiming();
    });
    state.counters["events"] = static_cast<double>(state.range(0));
    state.counters["gates"] = static_cast<double>(gates);
    state.counters["bdd_nodes"] = static_cast<double>(nodes);
    state.counters["peak_MB"] = peak_megabytes();
}

// The package alone: OR over i of (x_i AND y_i) with every x before every y
// has 2^(n+1) nodes or so, all of them created by the operations.
void BM_BddPackageNodeRate(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    long created = 0;
    for (auto _ : state) {
        corvel::BddManager* m = corvel::bdd_init();
        std::vector<corvel::bdd> x, y;
        for (int i = 0; i < n; ++i) x.push_back(corvel::bdd_new_var_last(m));
        for (int i = 0; i < n; ++i) y.push_back(corvel::bdd_new_var_last(m));
        corvel::bdd f = corvel::bdd_identity(m, corvel::bdd_zero(m));
        for (int i = 0; i < n; ++i) {
            corvel::bdd p = corvel::bdd_and(m, x[static_cast<size_t>(i)], y[static_cast<size_t>(i)]);
            corvel::bdd g = corvel::bdd_or(m, f, p);
            corvel::bdd_free(m, f);
            corvel::bdd_free(m, p);
            f = g;
        }
        created += corvel::bdd_nodes_created(m);
        benchmark::DoNotOptimize(f);
        corvel::bdd_quit(m);
    }
    state.counters["nodes_per_s"] = benchmark::Counter(static_cast<double>(created), benchmark::Counter::kIsRate);
    state.counters["peak_MB"] = peak_megabytes();
}

}  // namespace

BENCHMARK(BM_BddSharedFaultTree)->Arg(200)->Arg(500)->Arg(1000)->Arg(1500)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BddPackageNodeRate)->Arg(18)->Arg(21)->Unit(benchmark::kMillisecond);
