#pragma once
// Requests on irreducible Markov chains in steady state (prob, sreward and
// exrss of 141) and on semi-Markov chains (143, 144): their
// analysis with its cache, their value measures, their printouts and their
// distributions as components of other models.

#include "interp/measure_call.h"

namespace corvel {

class Interpreter;
class Exponomial;
struct SystemRecord;

// True when the request is one this module answers.
bool is_steady_chain_request(const SystemRecord& sys, const AnalysisRequest& req);

// Runs (or reuses, "  using previous analysis for %s\n" when verbose) the
// analysis. A steady-state result is valid while the binding is unchanged
// and s_ibound holds; a semi-Markov closed form while s_sbound holds for the
// same reward setting.
void analyze_steady_chain(Interpreter& in, SystemRecord& sys, const AnalysisRequest& req, bool unchanged);

// The number a value measure yields: prob, sreward, exrss; for acyclic
// semi-Markov chains also value/tvalue (the node's closed form, or the
// absorption CDF, at t) and mean, variance, pzero, pinf, pcont (of the
// absorption distribution, or with a node of the conditional time of
// reaching it).
double steady_chain_value(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);

// The distribution of cdf(sys) (absorption) or cdf(sys, node) (the
// conditional time of reaching the node) of an acyclic semi-Markov chain.
void steady_chain_distribution(Interpreter& in, SystemRecord& sys, const AnalysisRequest& req, Exponomial& out);

// The printouts of cdf (with or without a node) and lcdf.
void print_steady_chain_result(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                               const AnalysisRequest& req);

}  // namespace corvel
