#pragma once
// Steady state of irreducible chains: irreducible Markov chains (class 141)
// with their rates, and irreducible semi-Markov chains (class 144) through
// their embedded chain weighted by the mean sojourn times. Both go through
// the shared solver of sor.h; the chain is compressed once per analysis.

#include <string>

#include "model/keywords.h"
#include "statespace/sor.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;
struct ChainModel;

// Error 114 "chain or network is not irreducible: " (level 2) unless every
// state reaches every other one (over all arcs for semi-Markov chains, over
// the arcs of rate >= epsilon otherwise).
void check_irreducible(AnalysisContext& in, SystemRecord& sys);

// The compressed transposed chain `sor` solves: the arc rates (Markov) or the
// branch probabilities in the system's edges (semi-Markov).
SparseChain irreducible_matrix(AnalysisContext& in, const SystemRecord& sys);

// Solves the chain of `sys` for its steady-state probabilities into the
// chain's `prob`. For class 144 the semi-Markov preparation (sojourn
// distributions, branch probabilities, mean times; error 154) must have run.
// A state without outflow is error 114 (the iteration would divide by zero).
// Reports 121 and 122 for totals and values out of range (and clamps), 139
// from the solver when it does not converge, and a trust warning when the
// balance of the answer cannot be vouched for. Returns the solver's report.
SteadyStateResult analyze_irred(AnalysisContext& in, SystemRecord& sys);

// Steady-state (or limiting) measures read from the chain's `prob` and
// rewards: prob(sys, s), sreward(sys, s) = reward(s) * prob(s), and exrss =
// sum of reward * prob. `node` is the state index (-1 for exrss).
double chain_steady_measure(AnalysisContext& in, SystemRecord& sys, Kw measure, int node);

// The steady-state solution of a class 141 chain as the dispatch runs it:
// rates bound without rewards, irreducibility checked, analyze_irred; sets
// s_ibound.
void solve_irreducible_markov(AnalysisContext& in, SystemRecord& sys);

}  // namespace corvel
