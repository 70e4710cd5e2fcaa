#pragma once
// The line-oriented expression reader: reads one expression from the
// characters of a line (the interactive value prompt and the dialogues).
// Unlike the statement grammar its "^" associates to the left, numbers have
// no exponent, and names must start with a letter.

#include <memory>
#include <string_view>
#include <vector>

#include "symbols/expression.h"

namespace corvel {

class ErrorReporter;
class Output;

enum LineReadResult {
    kReadEmpty = 4,
    kReadError = 5,      // reported; partial nodes and new pending symbols dropped
    kReadStopParen = 8,  // stopped at an unmatched ")" (only when allowed)
    kReadComplete = 9,
};

struct LineReadOptions {
    // Parameters visible in the expression; the first one is the loop's own
    // index when `index_forbidden` is set.
    std::vector<Param*> params;
    bool paren_may_end = false;
    bool index_forbidden = false;
    bool loop_allowed = false;
    // When set and the expression refers to no identifier, it is evaluated at
    // once into *value and no expression is returned.
    double* value = nullptr;
};

class LineReader {
public:
    LineReader(SymbolTable& symbols, ErrorReporter& err, Output& out, Evaluator& eval)
        : symbols_(symbols), err_(err), out_(out), eval_(eval) {}

    // Reads one expression from `line` starting at `pos` (advanced past what
    // was read, including a terminating "," ";" or "}").
    int get_expression(std::string_view line, size_t& pos, std::unique_ptr<Expr>& result,
                       const LineReadOptions& options);

private:
    SymbolTable& symbols_;
    ErrorReporter& err_;
    Output& out_;
    Evaluator& eval_;
};

}  // namespace corvel
