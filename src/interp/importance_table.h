#pragma once
// One table of every component of a fault tree with repeated events or of a
// reliability graph, ranked by one importance measure at a time point.

#include "interp/tokens.h"

namespace corvel {

class Interpreter;
struct SystemRecord;

// Prints the ranking (largest value first, ties in declaration order) and,
// with -csv, saves it. A measure without a value at this time point prints
// its warning once and ranks every component with 0.
void print_importance_ranking(Interpreter& in, SystemRecord& sys, Kw kind, double time);

}  // namespace corvel
