#pragma once
// Analysis of gspn and srn systems: binding, generation, elimination,
// classification and solution of the tangible chain, and the net measures.

#include <memory>
#include <string>
#include <vector>

#include "expo/exponomial.h"
#include "expo/guarded.h"
#include "model/measure_call.h"
#include "statespace/petri_elim.h"
#include "statespace/petri_reach.h"

namespace corvel {

class AnalysisContext;
class Output;
struct SystemRecord;
struct PetriModel;

// What the last analysis of a net holds. Per-state vectors follow the
// numbering of the tangible chain (tangible markings, then absorbing ones).
struct NetAnalysis {
    BoundNet net;
    ReachGraph graph;
    TangibleChain chain;
    int klass = 0;                         // 148 irreducible, 149 acyclic, 150 phase-type
    std::vector<int> dependent_symbols;    // srn: symbols recomputed in every marking

    bool has_limit = false;
    std::vector<double> limit;             // steady-state or absorption probabilities
    bool has_times = false;
    std::vector<double> mean_time;         // expected time in each state before absorption
    bool has_transient = false;
    double time = 0.0;
    std::vector<double> tprob, tcumprob;   // at `time`
    double terror = 0.0, tcumerror = 0.0;  // absolute error bounds of tprob and tcumprob
    // Closed forms: each state's probability of being there at t (for an
    // absorbing state, of having been absorbed there by t), and for an
    // absorbing net also the system's s_dist, the absorption CDF.
    bool has_forms = false;
    std::vector<Exponomial> state_dist;
    std::vector<double> state_limit;       // absorbing states: the probability of ending there
    double form_error = 0.0;               // relative error estimate of their coefficients

    // Wall-clock seconds of the phases, for the verbose report.
    double generate_seconds = 0.0, eliminate_seconds = 0.0, solve_seconds = 0.0;
    // Bytes held by the reachability graph and by the tangible chain.
    std::size_t graph_bytes() const;
    std::size_t chain_bytes() const;
};

// Binds the net's parameters: initial tokens (rounded; 177 when negative),
// and for a gspn rates (52 when negative; 0 is refused with 172 where the
// transition is enabled), weights (117 when negative),
// arc multiplicities (truncated; 178 when negative); for an srn the
// marking-independent parts, the rest stays an expression.
BoundNet bind_net(AnalysisContext& in, SystemRecord& sys, PetriModel& model);

// The analysis entry of the dispatch. `params_same`: the binding did not
// change since the last analysis.
void analyze_petri_net(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req, bool params_same);

// The value of a net measure after `analyze_petri_net`.
double petri_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);

// The closed form in t of fprempty, fetok, ftput or futil after an analysis
// that built the net's closed forms (error 21 otherwise).
Exponomial petri_measure_form(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call);

// The factor of each chain state in a place or transition measure (tokens
// in the place, 1 when it is empty, the transition's rate or 1 where it is
// enabled); false for any other measure. After an analysis.
bool petri_state_factors(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, std::vector<double>& factor);

// Σ factor(s)·p_s(t) from the transient solution at t, with its error bound.
Guarded petri_transient_sum(AnalysisContext& in, SystemRecord& sys, const std::vector<double>& factor, double t);

// The chain state a node argument names: the marking index as decimal text
// (tangible markings 1, 2, ..., then the absorbing ones). Error 35 for any
// other name.
std::uint32_t petri_node_state(AnalysisContext& in, const NetAnalysis& a, const std::string& node);

// #(place), ?(transition) and Rate(transition) in the marking being
// evaluated; outside an srn evaluation "srn_enabled cannot be called on
// other system!" and -1.
double srn_reference(AnalysisContext& in, const Expr& ref);

// The debug printout of a reachability graph (markings in discovery order).
void print_reachgraph(Output& out, const BoundNet& net, const ReachGraph& g);

// The class of the tangible chain: 148 when it has no absorbing state (114
// unless it is irreducible), 149 when it has absorbing states and no cycle,
// 150 otherwise. 80 for a chain without states.
int classify_tangible_chain(AnalysisContext& in, SystemRecord& sys, const TangibleChain& c);

}  // namespace corvel
