#pragma once
// Requests on irreducible Markov chains in steady state (prob, sreward and
// exrss of 141) and on semi-Markov chains (143, 144): their
// analysis with its cache, their value measures, their printouts and their
// distributions as components of other models.

#include "model/measure_call.h"
#include "statespace/steady_chain.h"

namespace corvel {

class Interpreter;
class Exponomial;
struct SystemRecord;
struct OutputStatement;
struct EvalKind;

// The number a value measure yields: prob, sreward, exrss; for acyclic
// semi-Markov chains also exrt/cexrt, the reward measures, and value, tvalue,
// mean, variance, pzero, pinf, pcont of the absorption distribution or of
// the named state's closed form (as for Markov chains).
double steady_chain_value(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);

// The distribution of cdf(sys) (absorption) or cdf(sys, state) (the time of
// absorption in that state given that the chain ends there; error 111 for a
// state that is left again) of an acyclic semi-Markov chain.
void steady_chain_distribution(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                               const AnalysisRequest& req, Exponomial& out);

// The distribution table (cdf or reward kind) of an eval statement on a
// semi-Markov chain: the absorption CDF, or the named state's closed form.
void print_steady_chain_eval_table(Interpreter& in, OutputStatement& st, const EvalKind& kind);

// The printouts of cdf (with or without a node) and lcdf.
void print_steady_chain_result(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                               const AnalysisRequest& req);

}  // namespace corvel
