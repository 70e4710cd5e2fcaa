#pragma once
// The one entry through which every measure gets its system solved.

#include "model/measure_call.h"

namespace corvel {

class Interpreter;
struct SystemRecord;

// Binds the call's arguments to the system's parameters, checks the request
// against the compatibility table, prints the verbose report, reuses a cached
// result when it is still valid or runs the solver of the system's type; the
// results are left in the system record.
void analyze_system(Interpreter& in, MeasureCall& call, AnalysisRequest& req);
// Solves the call's system for an eval table of the given kind (cdf, reward or
// a timed measure), asking for numbers only; the call keeps its own keyword.
AnalysisRequest analyze_for_table(Interpreter& in, MeasureCall& call, Kw kind);

}  // namespace corvel
