#include "interp/block_lines.h"

#include <climits>
#include <cmath>

#include "interp/interpreter.h"

namespace corvel {

bool section_end(Parser& p) {
    for (;;) {
        if (p.at(Tok::Eol) || p.at(Tok::Comment)) {
            p.take();
            continue;
        }
        if (p.at(Tok::EndOfInput)) p.syntax_error();
        if (!p.accept_kw(Kw::End)) return false;
        p.expect_eol();
        return true;
    }
}

double constant_value(Parser& p, const Expr& e) { return p.interp().eval.bind_expression(e); }

std::string element_name(Parser& p, int error_number) {
    if (!p.at_word()) p.interp().err.error(error_number, kInputError, "", true);
    return significant_name(p.word());
}

}  // namespace corvel
