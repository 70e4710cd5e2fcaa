#pragma once
// Line-level helpers shared by the model block readers: section ends, the
// values of constant expressions, and safe conversions of bound values.

#include <string>

#include "interp/parser.h"

namespace corvel {

// Skips empty and comment lines. True when the next line is "end" (consumed
// with its line end); false when another line starts. The end of the input
// inside a block is a syntax error.
bool section_end(Parser& p);

// The value of a constant expression, evaluated at once.
double constant_value(Parser& p, const Expr& e);

// Reads the name of a line's element: a word, or the numbered input error
// `error_number` when none stands there.
std::string element_name(Parser& p, int error_number);

}  // namespace corvel
