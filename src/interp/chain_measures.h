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
#include "model/measure_call.h"
#include "statespace/chain_forms.h"

namespace corvel {

class Interpreter;
struct SystemRecord;
struct OutputStatement;
struct EvalKind;

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
