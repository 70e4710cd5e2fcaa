#pragma once
// The stable route of a series-parallel graph whose activities are sums of
// exponential phases: the graph's completion time as an acyclic Markov chain.
//
// A sequence joins the chains of its parts end to start; a max, min or k-of-n
// fork runs its branches' chains side by side (a state per combination of
// branch states, each branch running or done, finished once enough are
// done); a random fork starts each branch's chain with its probability.
// F(t) and 1 − F(t) come from uniformization as separate sums of positive
// terms, the mean and variance from first-step analysis over the acyclic
// states, so nothing cancels however the closed form would.

#include <functional>
#include <memory>
#include <vector>

#include "expo/numeric_dist.h"
#include "model/system_store.h"

namespace corvel {

// The phases of the activity behind tree node `t`: its rates and the
// probability of taking it at all (its branch probability); false when the
// activity is not a sum of exponential phases.
using LeafPhases = std::function<bool(int t, std::vector<double>& rates, double& scale)>;

// The most states the chain of one graph may have (fewer under a work limit
// of at least 0, which also caps the uniformization steps of one time);
// beyond it (or with an activity that is not a phase sum) there is no chain
// and nullptr is returned.
inline constexpr int kMaxGraphChainStates = 200000;

std::shared_ptr<const NumericDist> graph_phase_chain(const SystemRecord& sys, int root, const LeafPhases& leaf,
                                                     long work_limit = -1);

}  // namespace corvel
