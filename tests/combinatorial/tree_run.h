#pragma once
// Runs a model text through the real parser (with the built-in distributions
// installed) and solves its trees directly through the tree solver.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "combinatorial/tree.h"
#include "interp/dispatch.h"
#include "interp/interpreter.h"

namespace corvel {

struct TreeRun {
    std::string out;
    Interpreter in{&out};
    int status = 0;  // exit status of a run-ending error, else 0

    enum Mode { kBatch, kInteractive };
    explicit TreeRun(Mode mode = kBatch) {
        in.install_builtins();
        out.clear();
        in.err.interactive = mode == kInteractive;
    }
    explicit TreeRun(const std::string& text) : TreeRun() { run(text); }

    void run(const std::string& text) {
        std::istringstream s(text);
        try {
            in.parse_stream(s, "t.crv");
        } catch (const ProgramExit& e) {
            status = e.status;
        }
    }

    SystemRecord& sys(const std::string& name) {
        int i = in.systems.find(name);
        if (i < 0) {
            ADD_FAILURE() << "no system " << name << "\n" << out;
            i = 0;
        }
        return in.systems[i];
    }

    // Solves the system for the measure; false when the run was ended.
    bool solve(const std::string& name, Kw measure = Kw::Cdf, bool transient = false, double t = 0.0) {
        AnalysisRequest req;
        req.measure = measure;
        req.computing_cdf = true;
        req.transient = transient;
        req.time = t;
        try {
            analyze_tree_system(in, sys(name), req);
        } catch (const ProgramExit& e) {
            status = e.status;
            return false;
        }
        return true;
    }

    // The solved distribution at t.
    double F(const std::string& name, double t) { return evaluate_expo(sys(name).s_dist, t, in.settings.tol); }

    bool printed(const std::string& text) const { return out.find(text) != std::string::npos; }
};

inline double expF(double rate, double t) { return 1.0 - std::exp(-rate * t); }

}  // namespace corvel
