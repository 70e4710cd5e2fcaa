#pragma once
// Measures of Markov chains (classes 140, 141 and 142): the numbers, the
// distributions a chain yields where one is expected (cdf(chain) and
// cdf(chain, state) as components of other systems), the printed results and
// the eval tables. Every number read from a closed form goes through the
// guard, with uniformization of the chain as its stable route.

#include <memory>
#include <string>
#include <string_view>

#include "expo/exponomial.h"
#include "expo/numeric_dist.h"
#include "interp/measure_call.h"

namespace corvel {

class Interpreter;
struct SystemRecord;
struct OutputStatement;
struct EvalKind;

// A system whose block is a markov block (classified 140, 141 or 142).
bool is_markov_system(const SystemRecord& sys);

// Whether a request on a Markov chain is answered by the transient solution
// at req.time (tvalue, exrt, cexrt; value of an irreducible chain) rather
// than by the closed forms.
bool markov_request_is_transient(const SystemRecord& sys, const AnalysisRequest& req);

// The stable route of the chain's overall distribution (absorption by t, in
// reward units when the last analysis computed rewards): uniformization on a
// copy of the arcs. Null when nothing is absorbed.
std::shared_ptr<const NumericDist> markov_absorbing_route(Interpreter& in, SystemRecord& sys, bool computing_reward);

// Phase-type and irreducible chains of more states than this get no closed
// forms: their dense eigen-decomposition costs the cube of the size (about
// 5 s for 2 000 states, a minute for 5 000). The numbers of a phase-type
// chain (moments, values at t, tables) come from the stable route alone;
// requests that print or hand on a closed form are refused with the size
// (require_closed_forms).
inline constexpr int kMaxChainClosedFormStates = 3000;
bool chain_has_closed_forms(const SystemRecord& sys);
void require_closed_forms(Interpreter& in, const SystemRecord& sys);

// The solution of a phase-type chain too large for closed forms: no state
// forms and no overall closed form, only the stable route of the absorption
// time (every state reaches an absorbing one, so all starting mass is
// absorbed).
void solve_large_phase_chain(Interpreter& in, SystemRecord& sys, bool computing_reward);

// Checks the closed forms a symbolic solution left against what is known
// without them: every state's form at 0 is its starting probability, and
// the mean time to absorption is the one of the fundamental matrix (through
// the stable route, when the chain has one). The discrepancy, when it is
// beyond rounding, becomes the coefficient error of the chain's closed forms
// (ChainModel::closed_form_error), so that the numbers read from them take
// the stable routes and printed listings carry a warning.
void check_closed_forms(Interpreter& in, SystemRecord& sys);

// The value of a measure of an analysed chain.
double markov_measure_value(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);
// The distribution a chain yields: cdf(chain) the absorption CDF,
// cdf(chain, state) the CDF of absorption in that state divided by its
// probability (error 111 for a state that is not absorbing), reward the
// reward CDF. `stable` receives its stable route (may be null).
void markov_measure_distribution(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                                 const AnalysisRequest& req, Exponomial& out,
                                 std::shared_ptr<const NumericDist>* stable = nullptr);
// A chain's closed form handed to another model (cdf(chain) or
// cdf(chain, state) as a component): when its terms cancel beyond the
// printed digits the handover says so. Models that take the stable route
// along (block diagrams, fault trees and graphs) evaluate through it; the
// warning tells that the closed form itself is not to be trusted.
void check_handed_form(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const Exponomial& F);
// Prints the result of an output statement on an analysed chain.
void print_markov_result(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);
// The printout of lcdf(chain, state), for Markov and semi-Markov chains
// alike: the state's heading, the probability of entering it and, when that
// is not 0, the CDF of the time of leaving it given that it is entered
// (`ldist`, the unconditional one, divided by that probability). A state
// without outgoing arcs is never left: its leaving CDF is empty.
void print_leaving_time(Interpreter& in, const std::string& system, std::string_view state, double entered,
                        const Exponomial& ldist, bool left, double coef_rel_error = 0.0);
// The distribution table (cdf or reward kind) of an eval statement on a chain.
void print_markov_eval_table(Interpreter& in, OutputStatement& st, const EvalKind& kind);

}  // namespace corvel
