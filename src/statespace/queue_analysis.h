#pragma once
// Analysis of pfqn and mpfqn systems for the measure calls: binding of the
// routing probabilities and station parameters, the checks of a valid
// network, the visit ratios and the mean value analysis; and the values of
// the queueing measures read from the solved stations.

#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

bool is_queue_system(int type);

// Solves the network unless the cached solution still holds (`unchanged`:
// the call did not change the parameter values). Errors, all ending the run:
// 52 and 118 for a routing probability below zero or above one, 114 for a
// routing chain that is not irreducible, 160 for a customer count below one,
// 162 for populations whose tables do not fit, 163 for an ms station with no
// server, 161 for a rate that is not positive. Warning 199 when an ms station
// has more servers than there are customers (the count is lowered), and
// warning 122 when a marginal probability of an ms or lds station lost its
// digits to cancellation.
void analyze_queue_system(AnalysisContext& in, SystemRecord& sys, bool unchanged);

// tput, rtime, qlength, util of a station of a pfqn; mtput, mrtime, mqlength,
// mutil of a station of an mpfqn, for the chain named second or, without
// one, for all chains together.
double queue_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req);

}  // namespace corvel
