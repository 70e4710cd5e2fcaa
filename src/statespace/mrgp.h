#pragma once
// Steady state of Markov regenerative processes (mrgp blocks).
//
// Each arc is exponential (its distribution is exactly 1 - e^(-r t)) or
// general; a state has at most one general arc. While the general transition
// of a state i runs, exponential arcs move the process through the states
// reachable from i by them (Omega(i)), each of which must keep a general arc.
// Per general state the subordinated chain on {i} + Omega(i) gives
//   K_ij     = integral of P_ij(t) dG_i(t)        (probability to end in j)
//   alpha_ij = integral of P_ij(t) (1 - G_i(t)) dt  (expected time in j)
// computed by uniformization of the subordinated chain: every term
// a t^k e^(b t) of an exponomial integrates against the Poisson weights in
// closed form, so the integrals are series of the chain's vectors with no
// dense matrix and no time grid. The embedded chain (row i: K_ij added into
// the column of j's general target; exponential states: branch
// probabilities) covers the regeneration states reached from the first
// state and is solved by the shared steady-state solver; the state
// probabilities are the embedded ones weighted by the alpha times.

#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// The whole analysis; leaves every state's probability in the chain's
// `prob`. Errors end the run with exit status 255: "Error! double GEN is not
// allowed in MRGP!!" and "Error! Firing of a concurrent transition disables
// Gen distribution at state NAME"; 121 (fatal) when a row of the embedded
// chain does not add up to one; 114 when the embedded chain has a state it
// never leaves.
void MRGP_mrgp(AnalysisContext& in, SystemRecord& sys);

// prob(sys, state) and exrss(sys) after the analysis.
double mrgp_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);

}  // namespace corvel
