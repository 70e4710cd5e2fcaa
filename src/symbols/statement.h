#pragma once
// Statements that are kept and run later: the bodies of block functions and
// of loop and while statements. Top-level statements run as soon as they are
// read and are not kept.

#include <memory>
#include <string>
#include <vector>

#include "symbols/expression.h"

namespace corvel {

struct Binding {
    int symbol = -1;
    std::unique_ptr<Expr> expr;
    std::string text;  // expression source, written to the data file
};

struct Stmt;
using StmtList = std::vector<std::unique_ptr<Stmt>>;

struct IfBranch {
    std::unique_ptr<Expr> cond;  // null for else
    StmtList body;
};

// An output statement (cdf, eval, ...) kept in a body; the measure layer owns
// its meaning.
struct OutputRequest {
    virtual ~OutputRequest() = default;
};

struct Stmt {
    enum Kind { Bind, Epsilon, Expression, ExprList, Output, Loop, While, If };
    Kind kind = Expression;
    std::vector<Binding> bindings;              // Bind
    int epsilon_which = 0;                      // Epsilon: index into the epsilon names
    std::string epsilon_name;                   // Epsilon: the keyword as written
    std::vector<std::unique_ptr<Expr>> exprs;   // Expression/ExprList; Epsilon value; Loop low, high, increment
    std::unique_ptr<Param> index;               // Loop
    StmtList body;                              // Loop, While
    std::unique_ptr<Expr> cond;                 // While
    std::vector<IfBranch> branches;             // If
    std::shared_ptr<OutputRequest> output;      // Output
};

}  // namespace corvel
