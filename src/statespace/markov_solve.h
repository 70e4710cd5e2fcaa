#pragma once
// Solution of Markov chains: the symbolic solution of acyclic chains and
// transient numbers by uniformization (with a dense matrix exponential as the
// stable route of small stiff chains).

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "expo/numeric_dist.h"
#include "model/measure_call.h"
#include "statespace/chain.h"

namespace corvel {

class AnalysisContext;
class Output;

// Symbolic solution of an acyclic chain from state `start` on: every state's
// visit probability, its closed form and its leaving-time CDF; with
// `computing_reward` in accumulated-reward units.
void analyze_acyclic_markov(AnalysisContext& in, SystemRecord& sys, int start, bool computing_reward);
// s_dist = the sum of the absorbing states' closed forms, with the checks of
// the absorption probabilities (reports 126, 127).
void add_absorbing_cdfs(AnalysisContext& in, SystemRecord& sys);

// The arcs of a chain as uniformization reads them: the incoming arcs of
// state j are arcs[pred[k]] for k in [pred_off[j], pred_off[j+1]).
struct ChainArcsView {
    int num_states = 0;
    std::span<const ChainArc> arcs;
    std::span<const std::uint32_t> pred_off, pred;
};
ChainArcsView arcs_view(const ChainModel& m);

// Uniformization over the chain's arcs. `prob` holds the initial vector and
// receives the vector at `time`; `cum` (when not null) receives the time
// integrals over [0, time]. Memory O(states + arcs). The truncated Poisson
// mass is at most `precision`. More than `max_steps` steps are not taken: the
// result is then the last vector reached and `incomplete` is set.
struct UniformStats {
    long left = 0, right = 0, steps = 0;
    bool steady = false;
    bool incomplete = false;
    // When the stepping stopped at a steady state: how far the vector can
    // still move in the Poisson steps it stands for (last change per step
    // times their expected number).
    double steady_error = 0.0;
};
UniformStats uniform(const ChainArcsView& chain, std::vector<double>& prob, std::vector<double>* cum,
                     double precision, double time, double epsilon, Output* trace,
                     long max_steps = std::numeric_limits<long>::max());
// The same with the interpreter's tolerance and verbose trace, unbounded.
UniformStats uniform(AnalysisContext& in, const ChainModel& m, std::vector<double>& prob, std::vector<double>* cum,
                     double precision, double time);

// The step budget of a transient solution on a chain of this size (about
// 2·10^10 arc visits, never fewer than 10^7 steps).
long uniform_step_budget(const ChainArcsView& chain);

// Transient probabilities and their integrals at `time`, with an absolute
// error bound of each: uniformization within the step budget; a chain of at
// most kDenseTransientStates states that would exceed it (stiff rates over
// a long time) is solved by a dense matrix exponential instead. A bound is
// infinite when neither route finished. A work cap (not negative) bounds the
// steps further, to 50 times the cap in states and arcs visited.
struct TransientResult {
    std::vector<double> prob, cum;
    // Absolute bounds (truncation, steady state, the dense route), and a
    // relative part: each entry of prob and cum is also off by at most
    // rel_error times itself. Uniformization adds and multiplies only
    // non-negative numbers, so its rounding is relative to each entry and a
    // tiny probability keeps its digits.
    double error = 0.0, cum_error = 0.0, rel_error = 0.0;
    double bound(double entry) const { return error + rel_error * std::fabs(entry); }
    double cum_bound(double entry) const { return cum_error + rel_error * std::fabs(entry); }
};
inline constexpr int kDenseTransientStates = 200;
TransientResult transient_solution(const ChainArcsView& chain, const std::vector<double>& start, double time,
                                   double precision, double epsilon, Output* trace, long work_limit = -1);

// Transient probabilities and their integrals at `time` into tprob/tcumprob
// (error 211 for a negative time); their error bound into terror.
void m_transient(AnalysisContext& in, SystemRecord& sys, double time);

// The distribution of reaching a set of states of a chain, as a function of
// time computed by uniformization: F(t) = Σ_{i in targets} p_i(t) / scale.
// It keeps its own copy of the arcs, so it outlives re-expansions of the
// chain (a component distribution of another system keeps it).
// `mass_at_infinity` is 1 − (the targets' limiting probability)/scale, given
// by the caller from its probability propagation.
std::shared_ptr<const NumericDist> make_chain_dist(const ChainModel& m, std::span<const double> rates,
                                                   std::vector<int> targets, double scale,
                                                   double mass_at_infinity, double precision, double epsilon,
                                                   long work_limit = -1);

}  // namespace corvel
