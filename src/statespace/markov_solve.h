#pragma once
// Solution of Markov chains: the symbolic solution of acyclic chains and
// transient numbers by uniformization. Not yet reached from the dispatch.

#include <vector>

#include "interp/measure_call.h"
#include "statespace/chain.h"

namespace corvel {

class Interpreter;

// Symbolic solution of an acyclic chain from state `start` on: every state's
// visit probability, its closed form and its leaving-time CDF; with
// `computing_reward` in accumulated-reward units.
void analyze_acyclic_markov(Interpreter& in, SystemRecord& sys, int start, bool computing_reward);
// s_dist = the sum of the absorbing states' closed forms, with the checks of
// the absorption probabilities (reports 126, 127).
void add_absorbing_cdfs(Interpreter& in, SystemRecord& sys);

// Uniformization over the chain's arcs. `prob` holds the initial vector and
// receives the vector at `time`; `cum` (when not null) receives the time
// integrals over [0, time]. Memory O(states + arcs).
struct UniformStats {
    long left = 0, right = 0, steps = 0;
    bool steady = false;
};
UniformStats uniform(Interpreter& in, const ChainModel& m, std::vector<double>& prob, std::vector<double>* cum,
                     double precision, double time);
// Transient probabilities and their integrals at `time` into tprob/tcumprob.
void m_transient(Interpreter& in, SystemRecord& sys, double time);

}  // namespace corvel
