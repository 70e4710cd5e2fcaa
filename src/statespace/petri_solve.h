#pragma once
// Solutions of the tangible chain of a net, by the shared solvers.

#include <cstdint>

namespace corvel {

class AnalysisContext;
struct SystemRecord;
struct NetAnalysis;
struct TangibleChain;

// Steady-state probabilities (irreducible nets) or absorption probabilities
// (acyclic and phase-type nets) into `limit`. Errors: 114 for an irreducible
// chain with a state without outflow, 113 when some tangible state cannot
// reach an absorbing one.
void solve_limit(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a);

// Expected time spent in each tangible state before absorption, from the
// starting vector, into `mean_time`. Without absorbing states:
// "ERROR: 'accumulated' requires at least one absorbing state" on the
// standard error stream and exit status 2.
void solve_mean_times(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a);

// Variance of the time to absorption from the starting vector (computes the
// mean times first when needed).
double absorption_time_variance(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a);

// Transient and cumulative probabilities at t into `tprob`, `tcumprob`.
void solve_transient(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a, double t);

// The closed forms of the net by the Markov chain solvers: every state's
// probability at t into `state_dist` (its limit into `state_limit`), and for
// an acyclic or phase-type net the distribution of the time to absorption
// into the system's s_dist with its stable route in s_stable. Cyclic chains
// are solved by a dense eigenvalue method, so one of more than
// kMaxClosedFormStates states gets error 169 (see closed_form_fits). Error
// 113 when some tangible state cannot reach an absorbing one.
inline constexpr std::uint32_t kMaxClosedFormStates = 1500;
void solve_distribution(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a);
bool closed_form_fits(const NetAnalysis& a);

// Only the stable route of the absorption CDF (uniformization over the
// sparse chain) into s_stable, for tables of nets too large for closed
// forms; nothing for an irreducible net.
void solve_absorption_route(AnalysisContext& in, SystemRecord& sys, NetAnalysis& a);

// Every state reaches every other over the chain's arcs.
bool chain_is_irreducible(const TangibleChain& c);

}  // namespace corvel
