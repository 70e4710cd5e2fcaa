#pragma once
// Mean time to failure of repairable block diagrams, fault trees and
// reliability graphs: the steady-state mean up time A/ν, where A is the
// system's steady-state availability and ν its steady-state failure
// frequency. Every component has an exponential failure rate λ and an
// exponential repair rate μ, so it is up with a = μ/(λ + μ).
//
// Solvers: a bottom-up pass over a tree without repeated events (k-of-n
// recurrence on availabilities and frequencies), conditioning on the
// repeated components of a fault tree (factoring), and a pass over the
// decision diagram of a fault tree or a reliability graph.

#include <functional>
#include <vector>

#include "bdd/bdd.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// Marks of a sub-system whose state is fixed by conditioning (t_avail).
constexpr double kMarkUp = 2.0;
constexpr double kMarkDown = -2.0;

// Availability and mean up time of a sub-system (`mttf` −1 when it is
// marked up or down).
struct MttfPair {
    double avail = 0.0;
    double mttf = 0.0;
};

// The k-of-n combination: `kids` are the children's (availability, mean up
// time); the result is up while at least k of them are. Children marked up
// reduce k and n, children marked down reduce n; a result that is certain
// comes back marked.
MttfPair k_of_n_gen_mttf(const std::vector<MttfPair>& kids, int k);
// n identical copies of one child.
MttfPair k_of_n_iid_mttf(const MttfPair& kid, int k, int n);

// Availability and failure frequency of a diagram's function. `up_child`
// gives the branch of a node in which its component is up; `up_terminal`
// is the constant that means the system is up; `component(node)` gives the
// node's (a, λ). Walked with an explicit stack, each node once.
struct AvailFreq {
    double avail = 0.0;
    double freq = 0.0;
};
struct DiagramRates {
    double a = 1.0, lambda = 0.0;
};
AvailFreq bdd_avail_freq(BddManager* m, bdd root, bool var_true_is_up, bdd up_terminal,
                         const std::function<DiagramRates(bdd node)>& component);

// The mttf measure of a block diagram, fault tree or reliability graph,
// after the system was analysed for the request.
double system_mttf(AnalysisContext& in, SystemRecord& sys);
// The reliability-graph variant (its diagram: then-branch = edge up).
double relgraph_mttf_with_bdd(AnalysisContext& in, SystemRecord& sys);

}  // namespace corvel
