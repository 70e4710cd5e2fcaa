#pragma once
// Closed forms of Markov chains (classes 140, 141 and 142): which chains get
// them, the check of those a symbolic solution left, and the stable route of
// the absorption time that stands beside them.

#include <memory>
#include <vector>

#include "expo/numeric_dist.h"
#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct ChainModel;
struct SystemRecord;

// Rates as the closed forms were built: per reward unit when computing rewards.
std::vector<double> solved_rates(const ChainModel& m, bool computing_reward);
// The absorbing states of a chain, in state order.
std::vector<int> absorbing_states(const ChainModel& m, double eps);

// A system whose block is a markov block (classified 140, 141 or 142).
bool is_markov_system(const SystemRecord& sys);

// Whether a request on a Markov chain is answered by the transient solution
// at req.time (tvalue, exrt, cexrt; value of an irreducible chain) rather
// than by the closed forms.
bool markov_request_is_transient(const SystemRecord& sys, const AnalysisRequest& req);

// The stable route of the chain's overall distribution (absorption by t, in
// reward units when the last analysis computed rewards): uniformization on a
// copy of the arcs. Null when nothing is absorbed.
std::shared_ptr<const NumericDist> markov_absorbing_route(AnalysisContext& in, SystemRecord& sys, bool computing_reward);

// Phase-type and irreducible chains of more states than this get no closed
// forms: their dense eigen-decomposition costs the cube of the size (about
// 5 s for 2 000 states, a minute for 5 000). The numbers of a phase-type
// chain (moments, values at t, tables) come from the stable route alone;
// requests that print or hand on a closed form are refused with the size
// (require_closed_forms).
inline constexpr int kMaxChainClosedFormStates = 3000;
bool chain_has_closed_forms(const SystemRecord& sys);
void require_closed_forms(AnalysisContext& in, const SystemRecord& sys);

// The solution of a phase-type chain too large for closed forms: no state
// forms and no overall closed form, only the stable route of the absorption
// time (every state reaches an absorbing one, so all starting mass is
// absorbed).
void solve_large_phase_chain(AnalysisContext& in, SystemRecord& sys, bool computing_reward);

// Checks the closed forms a symbolic solution left against what is known
// without them: every state's form at 0 is its starting probability, and
// the mean time to absorption is the one of the fundamental matrix (through
// the stable route, when the chain has one). The discrepancy, when it is
// beyond rounding, becomes the coefficient error of the chain's closed forms
// (ChainModel::closed_form_error), so that the numbers read from them take
// the stable routes and printed listings carry a warning.
void check_closed_forms(AnalysisContext& in, SystemRecord& sys);

}  // namespace corvel
