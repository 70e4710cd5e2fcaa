#pragma once
// Guaranteed bounds on the probability of a coherent fault tree whose exact
// diagram does not fit in memory.
//
// A diagram is made smaller by replacing the sub-diagrams that a random
// assignment is least likely to reach by a constant: 0 gives a function that
// implies the original (a lower bound), 1 one that the original implies (an
// upper bound). Why the result stays a bound after the gates above it and
// the modules that use it as a variable is set out in ftree_bounds.cpp.

#include <functional>
#include <optional>
#include <vector>

#include "bdd/bdd.h"

namespace corvel {

class AnalysisContext;

// Which way a pruned diagram moves its function.
enum class FtBound { Lower, Upper };

// f with every node whose reach probability lies below `threshold` replaced
// by 0 (Lower) or 1 (Upper), as seen from the edge that leads to it; the
// reach of the root is 1, and a node passes to its then-child its reach
// times the probability `p[position]` of its variable, to its else-child its
// reach times 1 − p. The result carries one new reference; `cut` (when not
// null) grows by the reach of the nodes replaced. Null when the manager ran
// out of nodes.
bdd ft_prune(BddManager* m, bdd f, const std::vector<double>& p, double threshold, FtBound way, double* cut);

struct FtBoundPair {
    double lower = 0.0, upper = 1.0;
    bool exact = false;  // the last passes cut nothing: lower == upper is the probability
};

// What a pass tells the search besides its probability.
struct FtPassInfo {
    bool cut = false;      // something was cut: the probability is a bound only
    bool crowded = false;  // the pass used so much of the memory that a finer one will not fit
};

// One pass: the probability of the tree built with every diagram pruned at
// the threshold, or nullopt when it did not fit in memory.
using FtBoundPass = std::function<std::optional<double>(double threshold, FtBound way, FtPassInfo& info)>;

// The search over thresholds: it starts coarse, lowers the threshold step by
// step while both passes fit (and leave room for a finer one), and keeps the
// best pair; a start that does not fit is made coarser instead. nullopt when
// no threshold fits at all.
std::optional<FtBoundPair> ft_bound_search(const FtBoundPass& pass);

// The warning and the two bounds, in the layout of a value line.
void print_ft_bounds(AnalysisContext& in, const std::string& system, const FtBoundPair& b);

}  // namespace corvel
