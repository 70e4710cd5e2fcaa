#pragma once
// Moments of the time to absorption of a chain without its closed form: by
// first-step analysis for acyclic chains (a sum of positive terms per
// state), by the fundamental matrix of the transient states for any chain
// (sparse solves of the shared iterative solver). Chains whose closed forms
// cancel keep their digits either way.

#include <optional>
#include <span>
#include <vector>

#include "expo/guarded.h"
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

struct SolverIo;

// Moments of the time T at which a chain enters one of the `targets`
// (states without outflow), counted on the paths that end there. Only arcs
// of rate at least `epsilon` take part (as in the closed forms). With R the
// states that can reach a target, N = (-Q_RR)^-1 their fundamental matrix
// and r_i the rate from i into the targets:
//   b = N r  (the probability of ending in a target; 1 when R leaks nowhere else),
//   u = N b, w = N u,
//   hit = p·b, first = E[T; ends there] = p·u, second = E[T^2; ends there] = 2 p·w,
// p the starting vector on R (mass already on a target is T = 0 and counts in
// none of them). Each solve is solve_transient_block's; the errors are bounded
// by ||N||·residual with ||N|| = max(N 1)/(1 - its own residual), so a solve
// that did not settle shows as a large (or infinite) error, never as a
// clean-looking number.
struct TargetMoments {
    Guarded hit, first, second;
};
TargetMoments target_moments(int num_states, std::span<const ChainArc> arcs, std::span<const double> start,
                             std::span<const int> targets, double epsilon, const SolverIo& io);

// Mean and variance of the continuous part of the time to enter the targets
// (the moments divided by `hit`), both 0 when it is 0.
GuardedMoments continuous_target_moments(const TargetMoments& t);

}  // namespace corvel
