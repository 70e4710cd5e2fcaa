#pragma once
// Generated models shared by the benchmarks, and one loop that reads a model
// (optionally solving it) once per benchmark iteration.

#include <benchmark/benchmark.h>

#include <functional>
#include <sstream>
#include <string>

#include "interp/interpreter.h"

namespace corvel::bench {

// A fault tree of n basic events with the given distribution, under and
// gates of ten inputs each, all under one or gate.
inline std::string ftree_model(long n, const char* dist) {
    std::ostringstream m;
    m << "ftree big\n";
    for (long i = 0; i < n; ++i) m << "basic e" << i << " " << dist << "\n";
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

// Reads `text` in a fresh interpreter per iteration, then runs `after` on it.
inline void run_model(benchmark::State& state, const std::string& text,
                      const std::function<void(Interpreter&)>& after) {
    for (auto _ : state) {
        std::string captured;
        Interpreter in(&captured);
        in.install_builtins();
        in.err.interactive = false;
        std::istringstream input(text);
        try {
            in.parse_stream(input, "bench.crv");
            after(in);
        } catch (const ProgramExit&) {
            state.SkipWithError(captured.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace corvel::bench
