#pragma once
// Fixed texts: the statement summary, the list of measure functions and the
// compile-time limits.

#include "symbols/function_list.h"

namespace corvel {

class Output;

void print_forms(Output& out);
// The command-line options that choose solvers, after the forms of `help`.
void print_solver_options(Output& out);
void print_constants(Output& out);

}  // namespace corvel
