// Stochastic Petri nets at scale: nets written in corvel input, generated,
// eliminated and solved to steady state. One iteration per size; the
// counters give the tangible markings, the arcs of the reachability graph
// and of the tangible chain, the time of each phase, the exploration rate,
// the bytes held per tangible marking and per arc, and the peak memory of
// the process so far (sizes run in increasing order).
// Run: build-bench/bench/corvel_bench --benchmark_filter=Net

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <sstream>
#include <string>

#include "interp/interpreter.h"
#include "statespace/petri_blocks.h"
#include "statespace/petri_net.h"

namespace {

// A kanban line of four stations with n kanbans each. Station i holds
// machining (m), rework (back), kanban (kan) and output (out) places;
// station 1 feeds stations 2 and 3 together, which feed station 4.
std::string kanban_net(long n) {
    std::ostringstream m;
    m << "gspn kanban\n";
    for (int i = 1; i <= 4; ++i)
        m << "m" << i << " 0\nback" << i << " 0\nkan" << i << " " << n << "\nout" << i << " 0\n";
    m << "end\n";
    m << "tin1 ind 1.0\n";
    for (int i = 1; i <= 4; ++i)
        m << "tredo" << i << " dep m" << i << " 0.36\ntok" << i << " dep m" << i << " 0.84\ntback" << i
          << " dep back" << i << " 0.3\n";
    m << "tsynch1 ind 0.4\ntsynch4 ind 0.5\ntout4 ind 0.9\nend\nend\n";
    // Output arcs.
    m << "tin1 m1 1\n";
    for (int i = 1; i <= 4; ++i)
        m << "tredo" << i << " back" << i << " 1\ntok" << i << " out" << i << " 1\ntback" << i << " m" << i << " 1\n";
    m << "tsynch1 kan1 1\ntsynch1 m2 1\ntsynch1 m3 1\ntsynch4 kan2 1\ntsynch4 kan3 1\ntsynch4 m4 1\ntout4 kan4 1\nend\n";
    // Input arcs.
    m << "kan1 tin1 1\n";
    for (int i = 1; i <= 4; ++i)
        m << "m" << i << " tredo" << i << " 1\nm" << i << " tok" << i << " 1\nback" << i << " tback" << i << " 1\n";
    m << "out1 tsynch1 1\nkan2 tsynch1 1\nkan3 tsynch1 1\nout2 tsynch4 1\nout3 tsynch4 1\nkan4 tsynch4 1\n"
         "out4 tout4 1\nend\nend\nend\n";
    return m.str();
}

// A flexible manufacturing system: n parts of each of three kinds, machines
// M1 (three), M2 (one, shared by parts 2 and 3) and M3 (two, for the
// assembled 1+2 parts). Immediate transitions grab machines, route finished
// parts and join parts 1 and 2; finished parts return to their pools all at
// once, through arcs whose multiplicity is the number of tokens waiting.
std::string fms_net(long n) {
    std::ostringstream m;
    m << "srn fms\n";
    m << "P1 " << n << "\nP1wM1 0\nP1M1 0\nP1d 0\nP1s 0\nP1wP2 0\nM1 3\n";
    m << "P2 " << n << "\nP2wM2 0\nP2M2 0\nP2d 0\nP2s 0\nP2wP1 0\nM2 1\n";
    m << "P3 " << n << "\nP3wM2 0\nP3M2 0\nP3s 0\n";
    m << "P12 0\nP12wM3 0\nP12M3 0\nM3 2\nP12s 0\nend\n";
    // Timed transitions.
    m << "tP1 placedep P1 0.25\ntP1M1 placedep P1M1 0.25\ntP1s ind 0.5 guard #(P1s) > 0\n";
    m << "tP2 placedep P2 0.2\ntP2M2 ind 1.0\ntP2s ind 0.5 guard #(P2s) > 0\n";
    m << "tP3 placedep P3 0.3\ntP3M2 ind 0.5\ntP3s ind 0.5 guard #(P3s) > 0\n";
    m << "tP12 placedep P12 0.2\ntP12M3 placedep P12M3 0.5\ntP12s ind 0.8 guard #(P12s) > 0\nend\n";
    // Immediate transitions.
    m << "tM1 ind 1\ntM2 ind 1\ntM2b ind 1\ntM3 ind 1\n";
    m << "tP1e ind 0.2\ntP1x ind 0.8\ntP2e ind 0.6\ntP2x ind 0.4\ntP1j ind 1\nend\n";
    // Output arcs.
    m << "tP1 P1wM1 1\ntM1 P1M1 1\ntP1M1 P1d 1\ntP1M1 M1 1\ntP1e P1s 1\ntP1x P1wP2 1\ntP1s P1 #(P1s)\n";
    m << "tP2 P2wM2 1\ntM2 P2M2 1\ntP2M2 P2d 1\ntP2M2 M2 1\ntP2e P2s 1\ntP2x P2wP1 1\ntP2s P2 #(P2s)\n";
    m << "tP3 P3wM2 1\ntM2b P3M2 1\ntP3M2 P3s 1\ntP3M2 M2 1\ntP3s P3 #(P3s)\n";
    m << "tP1j P12 1\ntP12 P12wM3 1\ntM3 P12M3 1\ntP12M3 P12s 1\ntP12M3 M3 1\ntP12s P1 #(P12s)\ntP12s P2 #(P12s)\nend\n";
    // Input arcs.
    m << "P1 tP1 1\nP1wM1 tM1 1\nM1 tM1 1\nP1M1 tP1M1 1\nP1d tP1e 1\nP1d tP1x 1\nP1s tP1s #(P1s)\n";
    m << "P2 tP2 1\nP2wM2 tM2 1\nM2 tM2 1\nP2M2 tP2M2 1\nP2d tP2e 1\nP2d tP2x 1\nP2s tP2s #(P2s)\n";
    m << "P3 tP3 1\nP3wM2 tM2b 1\nM2 tM2b 1\nP3M2 tP3M2 1\nP3s tP3s #(P3s)\n";
    m << "P1wP2 tP1j 1\nP2wP1 tP1j 1\nP12 tP12 1\nP12wM3 tM3 1\nM3 tM3 1\nP12M3 tP12M3 1\nP12s tP12s #(P12s)\nend\n";
    m << "end\nend\n";
    return m.str();
}

double peak_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void solve_net(benchmark::State& state, const std::string& text, corvel::Kw measure) {
    for (auto _ : state) {
        std::string captured;
        corvel::Interpreter in(&captured);
        in.install_builtins();
        in.err.interactive = false;
        std::istringstream input(text);
        try {
            in.parse_stream(input, "bench.crv");
            corvel::SystemRecord& sys = in.systems[in.systems.size() - 1];
            corvel::AnalysisRequest req;
            req.measure = measure;
            auto start = std::chrono::steady_clock::now();
            corvel::analyze_petri_net(in, sys, req, false);
            double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const corvel::NetAnalysis& a = *corvel::petri_model(sys)->analysis;
            const double tangible = a.graph.num_tangible;
            const double arcs = static_cast<double>(a.graph.num_arcs());
            const double chain_arcs = static_cast<double>(a.chain.num_arcs());
            state.counters["tangible"] = tangible;
            state.counters["vanishing"] = a.graph.num_vanishing;
            state.counters["arcs"] = arcs;
            state.counters["chain_arcs"] = chain_arcs;
            state.counters["gen_s"] = a.generate_seconds;
            state.counters["elim_s"] = a.eliminate_seconds;
            state.counters["solve_s"] = a.solve_seconds;
            state.counters["total_s"] = total;
            state.counters["markings_per_s"] = a.graph.size() / a.generate_seconds;
            // Per marking: the packed marking, its type and arc offset; per
            // arc: target, transition and rate (graph), target and rate (chain).
            const double markings = a.graph.size();
            const double per_marking = static_cast<double>(a.graph.packed.size() + a.graph.type.size()) / markings +
                                       sizeof(a.graph.arc_start[0]);
            state.counters["B_per_marking"] = per_marking;
            state.counters["B_per_arc"] =
                (static_cast<double>(a.graph_bytes() + a.chain_bytes()) - per_marking * markings) / arcs;
            state.counters["peak_MB"] = peak_mb();
            benchmark::DoNotOptimize(a.limit.data());
        } catch (const corvel::ProgramExit&) {
            state.SkipWithError(captured.c_str());
            break;
        }
    }
}

void BM_NetKanban(benchmark::State& state) { solve_net(state, kanban_net(state.range(0)), corvel::Kw::Tput); }
void BM_NetFms(benchmark::State& state) { solve_net(state, fms_net(state.range(0)), corvel::Kw::Tput); }

}  // namespace

BENCHMARK(BM_NetKanban)->DenseRange(1, 5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetFms)->DenseRange(1, 6)->Iterations(1)->Unit(benchmark::kMillisecond);
