#pragma once
// Importance measures read from the two cofactors of a system's failure
// function with respect to one component: Q the probability that the system
// has failed, Q1 the same given that the component has failed, Q0 given that
// it works, p the component's own failure probability (all at the request's
// time). Fault trees and reliability graphs compute the cofactors from their
// decision diagrams; the measures themselves are the same for both.

#include "model/keywords.h"

namespace corvel {

struct CofactorProbabilities {
    double q = 0.0;   // system failed
    double q1 = 0.0;  // system failed, component failed
    double q0 = 0.0;  // system failed, component working
    double p = 0.0;   // component failed
};

// The measures evaluated at the call's time, whose components are bound at it.
bool is_timed_importance(Kw kw);
// Fussell-Vesely, risk achievement worth and risk reduction worth.
bool is_risk_importance(Kw kw);
// Every importance measure of a single component (simpt included).
bool is_component_importance(Kw kw);

// bimpt, cimpt, fvimpt, rawimpt or rrwimpt from the cofactors. A measure
// whose denominator is zero has no value: `undefined` is set and 0 returned.
//   bimpt   Q1 − Q0
//   cimpt   (Q1 − Q0)·p / Q
//   fvimpt  (Q − Q0) / Q, computed as p·(Q1 − Q0) / Q (the same number
//           without the cancellation of two close probabilities)
//   rawimpt Q1 / Q
//   rrwimpt Q / Q0
double cofactor_importance(Kw kind, const CofactorProbabilities& c, bool& undefined);

// The warning printed when a measure has no value at the time point.
const char* importance_warning(Kw kind);

}  // namespace corvel
