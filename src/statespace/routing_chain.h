#pragma once
// The routing chain of a queueing network: stations as states, routing
// probabilities as arcs. Its steady-state probabilities are the stations'
// visit ratios.

#include <vector>

namespace corvel {

class AnalysisContext;

struct RoutingArc {
    int from = -1, to = -1;  // station indices 0 .. n-1 within the chain
    double prob = 0.0;
};

// True when every station reaches every other one; arcs whose probability is
// below `epsilon` in magnitude are not followed.
bool routing_irreducible(int n, const std::vector<RoutingArc>& arcs, double epsilon);

// The steady-state probabilities of the chain with the routing probabilities
// in place of rates (summing to one). The chain must be irreducible.
std::vector<double> routing_visit_ratios(AnalysisContext& in, int n, const std::vector<RoutingArc>& arcs);

}  // namespace corvel
