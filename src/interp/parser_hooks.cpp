// Statement forms that hand over to the model and measure layers.

#include "interp/interpreter.h"
#include "interp/parser.h"

namespace corvel {

bool Parser::statement_hook() { return false; }

std::unique_ptr<Stmt> Parser::output_statement() { return nullptr; }

std::unique_ptr<Expr> Parser::measure_primary() { return nullptr; }

bool Parser::distribution_measure(const std::string&, DistSpec&) { return false; }

}  // namespace corvel
