#pragma once
// The list of measure functions, printed before the error for a name used
// as a function that is none.

namespace corvel {

class Output;

void print_functions(Output& out);

}  // namespace corvel
