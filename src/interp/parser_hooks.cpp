// Statement forms that hand over to the model and measure layers.

#include "interp/interpreter.h"
#include "interp/parser.h"

namespace corvel {

bool Parser::statement_hook() {
    const Token& t = peek();
    if (t.kind != Tok::Keyword) return false;
    if (read_block(t.kw)) return true;
    if (auto st = output_statement(); st) {
        in_.run_output(*st->output, -1);
        return true;
    }
    return false;
}



}  // namespace corvel
