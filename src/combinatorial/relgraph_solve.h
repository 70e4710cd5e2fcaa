#pragma once
// Exact solution of a reliability graph: a BDD of "some working path leads
// from a source to a sink", built by enumerating the simple paths with an
// explicit stack (no recursion, so long chains cannot exhaust the stack), and
// evaluated into the failure-time CDF of the graph.

#include "interp/measure_call.h"

namespace corvel {

class Interpreter;
struct SystemRecord;

// Binds the edge distributions for the request and leaves the graph's
// unreliability in sys.s_dist.
void analyze_relgraph_system(Interpreter& in, SystemRecord& sys, AnalysisRequest& req);

}  // namespace corvel
