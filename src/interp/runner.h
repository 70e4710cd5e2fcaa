#pragma once
// Runs kept statements: loop, while and function bodies, binding lists and
// epsilon assignments.

#include "symbols/statement.h"

namespace corvel {

class Interpreter;

class Runner {
public:
    explicit Runner(Interpreter& in) : in_(in) {}

    // A loop or while at top level (indent 0) or nested in a body.
    void run_loop(Stmt& loop, int indent, bool top_level);
    void run_while(Stmt& loop, int indent);
    // Statements of a loop or while body.
    void run_body(StmtList& body, int indent);
    // Statements of a block function; the value of the last expression run.
    double run_function_body(StmtList& body, bool& returned);

    // Applies bindings in order; prints each at indent + 5 when indent >= 0.
    void do_binding(std::vector<Binding>& list, int indent, bool write_data);
    // Sets a tolerance; prints the assignment at the given indent.
    void assign_epsilon(Stmt& st, int indent);
    // A top-level expression statement.
    void run_expression_statement(Stmt& st);
    // "%*s%s:   %*.*e\n" for one expression value.
    void print_value_line(int indent, const std::string& text, double value);

private:
    double run_function_list(StmtList& body, bool& returned);
    Interpreter& in_;
};

// Names of the five tolerances in their table order, and access by index.
extern const char* const kEpsilonNames[5];
double& epsilon_by_index(struct Tolerances& tol, int index);

}  // namespace corvel
