#pragma once
// From the reachability graph to the tangible chain: marking indices,
// strongly connected regions of vanishing markings, and the elimination of
// the vanishing markings region by region.

#include <cstdint>
#include <utility>
#include <vector>

#include "statespace/petri_reach.h"

namespace corvel {

class ErrorReporter;

// The continuous-time chain over the tangible and absorbing markings.
// States 0 .. num_tangible-1 are the tangible markings in discovery order,
// then the absorbing ones; state s is named s + 1. Rows hold the rates out
// of each state (no diagonal, one entry per target, ordered by target).
struct TangibleChain {
    std::uint32_t num_tangible = 0, num_absorbing = 0;
    std::vector<std::uint64_t> row_start;  // size states + 1
    std::vector<std::uint32_t> col;
    std::vector<double> rate;
    // Starting probabilities: 1 on the initial marking's state, or the
    // probabilities with which a vanishing initial marking first reaches
    // each tangible or absorbing marking.
    std::vector<std::pair<std::uint32_t, double>> initial;
    bool initial_vanishing = false;
    std::vector<std::uint32_t> marking_of_state;
    // Per marking: its index (1, 2, ... for tangible and absorbing markings,
    // -1, -2, ... for vanishing ones, in the order their regions complete).
    std::vector<std::int32_t> index_of_marking;
    std::uint32_t num_vanishing = 0;
    std::uint32_t num_vanishing_loops = 0;  // regions of more than one vanishing marking

    std::uint32_t num_states() const { return num_tangible + num_absorbing; }
    std::uint64_t num_arcs() const { return col.size(); }
};

// Numbers the markings, finds the regions of vanishing markings (strongly
// connected components over the arcs between vanishing markings), refuses a
// region that no arc leaves (error 173, fatal), and builds the chain: an arc
// into a vanishing marking is replaced by arcs to the tangible and absorbing
// markings it reaches first, with its rate split by the probabilities of
// reaching them. Returns to the same state are dropped; parallel arcs add.
TangibleChain eliminate_vanishing(const ReachGraph& g, ErrorReporter& err);

}  // namespace corvel
