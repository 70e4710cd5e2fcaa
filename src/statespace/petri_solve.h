#pragma once
// Solutions of the tangible chain of a net, by the shared solvers.

namespace corvel {

class Interpreter;
struct SystemRecord;
struct NetAnalysis;
struct TangibleChain;

// Steady-state probabilities (irreducible nets) or absorption probabilities
// (acyclic and phase-type nets) into `limit`. Errors: 114 for an irreducible
// chain with a state without outflow, 113 when some tangible state cannot
// reach an absorbing one.
void solve_limit(Interpreter& in, SystemRecord& sys, NetAnalysis& a);

// Expected time spent in each tangible state before absorption, from the
// starting vector, into `mean_time`. Without absorbing states:
// "ERROR: 'accumulated' requires at least one absorbing state" on the
// standard error stream and exit status 2.
void solve_mean_times(Interpreter& in, SystemRecord& sys, NetAnalysis& a);

// Variance of the time to absorption from the starting vector (computes the
// mean times first when needed).
double absorption_time_variance(Interpreter& in, SystemRecord& sys, NetAnalysis& a);

// Transient and cumulative probabilities at t into `tprob`, `tcumprob`.
void solve_transient(Interpreter& in, SystemRecord& sys, NetAnalysis& a, double t);

// The distribution of the time to absorption of an acyclic or phase-type
// net (error 21 for an irreducible one), in closed form by the Markov chain
// solvers, into the system's s_dist with its stable route in s_stable.
// Error 113 when some tangible state cannot reach an absorbing one.
void solve_distribution(Interpreter& in, SystemRecord& sys, NetAnalysis& a);

// Every state reaches every other over the chain's arcs.
bool chain_is_irreducible(const TangibleChain& c);

}  // namespace corvel
