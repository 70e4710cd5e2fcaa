#pragma once
// The stable route of block diagrams, fault trees without repeated events and
// series-parallel graphs: the structure evaluated at t from the component
// values, never through the expanded closed form.
//
// Gates combine F and 1 − F of their children as products of the side that
// is not cancelled (series: the survivals multiply, parallel: the failure
// probabilities multiply, k of n: a count distribution of positive terms).
// A sequence of activities that are exponential phases (directly, or through
// cdf(...) of a system that is one) is a sum of phases, evaluated by its own
// route; a graph sequence of forks over such activities is the graph's phase
// chain (graph_chain.h); any other sequence falls back to its closed form,
// whose bound then tells whether it can be trusted. A component cdf(name) evaluates through
// that system's own stable route.

#include <memory>

#include "expo/numeric_dist.h"
#include "model/measure_call.h"
#include "model/system_store.h"

namespace corvel {

class AnalysisContext;

// The numeric form of one component as bound: the stable route of the
// system behind a cdf(name), else its closed form.
std::shared_ptr<const NumericDist> component_dist(AnalysisContext& in, const NodeInfo& info);

// The numeric form of the tree below `root` (a tree node index) with the
// components as bound for `req`.
std::shared_ptr<const NumericDist> build_structure_dist(AnalysisContext& in, SystemRecord& sys, int root,
                                                        const AnalysisRequest& req);

// An upper estimate of the term count of the closed form below `root`
// (products for gates, capped at 1e300).
double predicted_term_count(const SystemRecord& sys, int root);

// Requests that want numbers only, never the listing of the distribution.
bool numbers_only(const AnalysisRequest& req);

// Above this predicted count, requests for numbers skip the closed form.
inline constexpr double kClosedFormTermLimit = 2000.0;

}  // namespace corvel
