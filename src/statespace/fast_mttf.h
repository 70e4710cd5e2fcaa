#pragma once
// Mean time from a start set A to a target set F of a chain, by excursions:
// from each state u of A the chain wanders through the other states R until
// it enters A or F again; the mean length of one excursion and the
// probabilities of the A-state it ends in give a small linear system over A.
// Only |A| sparse solves over R and one dense |A| x |A| system, so large
// chains with small sets stay cheap.

#include <cstdint>
#include <vector>

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// The chain as the computation sees it: for each arc its branching
// probability, and per state the mean holding time.
struct MttfChain {
    int n = 0;
    struct Arc {
        int from = -1, to = -1;
        double prob = 0.0;
    };
    std::vector<Arc> arcs;
    std::vector<double> holding;     // mean time per visit
    std::vector<double> start;       // starting probabilities
    std::vector<int> set_a, set_f;   // state indices, in the order written
};

// The mean time to reach F from the starting vector over A. `verbose`
// passes to the solvers.
double mean_time_between_sets(const MttfChain& c, bool verbose);

// For a chain with a fastmttf section; the result goes to s_mttf.
// Markov chain: branching probabilities rate / total outflow, holding time
// 1 / total outflow (0 for a state without outflow); the rates are bound
// first. Semi-Markov chain: the branch probabilities and mean sojourn times
// its solver stored (the chain must have been analysed for the current
// parameters), so the result is a time and not a number of steps; a state
// without arcs holds 0.
void fast_mttf(AnalysisContext& in, SystemRecord& sys);

}  // namespace corvel
