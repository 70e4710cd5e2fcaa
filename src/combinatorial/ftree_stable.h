#pragma once
// The stable route of a fault tree with repeated events: its decision
// diagrams evaluated at t from every event's own F(t) and 1 − F(t), each
// node from sums of non-negative products, never through the expanded
// closed form. On large trees that closed form cancels far beyond double
// precision (forty triples of equal rates under an or already lose every
// digit), and with distinct rates its terms grow with their product.
//
// A module's diagram over its events and the modules below it stands for
// one variable of its parent, as in the order-free route; the ordered
// route's single diagram is one such module.

#include <memory>
#include <vector>

#include "combinatorial/ftree_modules.h"
#include "expo/numeric_dist.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// The distribution of the top event of `modules` (bottom-up, the last is
// the top) in manager `m`, complemented when `top_negated`. `owner` keeps
// the manager and the diagrams alive as long as the distribution is used.
std::shared_ptr<const NumericDist> diagram_stable_dist(AnalysisContext& in, const SystemRecord& sys, BddManager* m,
                                                       std::vector<FtModule> modules, bool top_negated,
                                                       std::shared_ptr<const void> owner);

// An upper estimate of the term count of the closed form of the top module
// (each node: the terms of its variable's F times those of its then child,
// plus those of 1 − F times those of its else child; capped at 1e300).
double predicted_diagram_terms(const SystemRecord& sys, BddManager* m, const std::vector<FtModule>& modules);

}  // namespace corvel
