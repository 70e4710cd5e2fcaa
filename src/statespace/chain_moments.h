#pragma once
// Moments of the time to absorption of an acyclic chain by first-step
// analysis, without the closed form: a sum of positive terms per state, so
// chains whose closed forms cancel keep every digit.

#include <optional>
#include <vector>

#include "statespace/chain.h"

namespace corvel {

struct AbsorptionMoments {
    double mean = 0.0, variance = 0.0;
};

// Mean and variance of the time until the chain enters a state without
// successors, from the chain's starting probabilities, with `rates[e]` the
// rate of arc e. Nothing (nullopt) when the chain has a cycle, when some
// starting mass sits on a state without successors or when the starting
// probabilities do not sum to 1: the closed form answers those.
std::optional<AbsorptionMoments> acyclic_absorption_moments(const ChainModel& m, const std::vector<double>& rates);

}  // namespace corvel
