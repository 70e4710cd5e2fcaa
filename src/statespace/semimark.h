#pragma once
// Semi-Markov chains: arcs carry distributions instead of rates.
//
// Meaning of the arc distributions F_e of one state (the system's
// semi_conditional flag):
//   unconditional: F_e(t) is the probability of leaving through e by t;
//                  F_e(inf) is the branch probability, H = sum of the F_e;
//   conditional:   each F_e is an independent competing delay, the state is
//                  left through the first to end: H = 1 - prod (1 - F_f).
// Acyclic chains (143) are solved in closed form state by state; irreducible
// chains (144) through the embedded chain of branch probabilities, weighted
// by the mean sojourn times (irreducible.h).

#include <span>
#include <vector>

#include "expo/exponomial.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// For each arc e of one state: min_all_but[e] = prod over the other arcs f of
// (1 - F_f). Built from prefix and suffix products (3k products for k arcs).
void make_min_terms(std::span<const Exponomial* const> F, std::vector<Exponomial>& min_all_but,
                    const Tolerances& tol);

// The sojourn distribution H of a state with the arc distributions F (at
// least one), the branch probability of each arc into probs, and, when
// `exits` is not null, each arc's own exit CDF G_e (the probability of having
// left through e by t): F_e when unconditional, the integral from 0 to t of
// prod_{f != e} (1 - F_f) dF_e when conditional.
void compute_probs_and_dist(Exponomial& H, std::span<const Exponomial* const> F, bool conditional,
                            std::vector<double>& probs, std::vector<Exponomial>* exits, const Tolerances& tol);

// Binds the arc distributions of the chain for the current parameters; with
// `computing_reward` each arc's time is measured in accumulated reward of its
// from-state (F(t) becomes F(t / r)). Errors (level 2): 61 for a Weibull
// arc, 98 for an arc distribution with a mass at zero, 147 for a state with
// arcs and reward 0 when computing rewards.
void rebind_semimark(AnalysisContext& in, SystemRecord& sys, bool computing_reward);

// Class 143: every state's visit probability, its closed form (probability
// of being in it at t; for an absorbing state the CDF of having reached it)
// and its leaving-time CDF, in topological order from state `start` on. The
// time of entering a state through an arc is the entering time of the
// from-state (its density plus its start mass) convolved with that arc's own
// exit CDF, which keeps arcs with differently shaped delays apart.
void analyze_acyclic_semimark(AnalysisContext& in, SystemRecord& sys, int start, bool computing_reward);

// Class 144 preparation: every state's sojourn distribution, branch
// probabilities (into the system's edges) and mean sojourn time. A sojourn
// distribution that does not reach 1 prints "lim is %12.6e\n" and stops with
// error 154.
void prepare_embedded_chain(AnalysisContext& in, SystemRecord& sys);

// The whole solution of a semi-Markov chain as the dispatch runs it: 143 by
// the closed form and the absorption checks, 144 by the embedded chain
// (irreducibility checked first; sets s_ibound).
void solve_semimark(AnalysisContext& in, SystemRecord& sys, bool computing_reward);

}  // namespace corvel
