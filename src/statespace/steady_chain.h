#pragma once
// Analysis of irreducible Markov chains in steady state (prob, sreward and
// exrss of 141) and of semi-Markov chains (143, 144), with its cache.

#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// A system whose block is a semimark block (classified 143 or 144).
bool is_semimark_system(const SystemRecord& sys);

// True when the request is one this module answers.
bool is_steady_chain_request(const SystemRecord& sys, const AnalysisRequest& req);

// Runs (or reuses, "  using previous analysis for %s\n" when verbose) the
// analysis. A steady-state result is valid while the binding is unchanged
// and s_ibound holds; a semi-Markov closed form while s_sbound holds for the
// same reward setting.
void analyze_steady_chain(AnalysisContext& in, SystemRecord& sys, const AnalysisRequest& req, bool unchanged);

}  // namespace corvel
