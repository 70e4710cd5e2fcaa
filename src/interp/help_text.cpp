#include "interp/help_text.h"

#include "symbols/output.h"

namespace corvel {

void print_forms(Output& out) {
    out.write(
        "      info epsilons|constants|dist\n"
        "      var      name          expression\n"
        "      func     name(params)  expression\n"
        "      poly     name(params)  distribution\n\n"
        "      graph    name(params)\n"
        "      markov   name(params) [readprobs]\n"
        "      semimark name(params) [cond|uncond]\n"
        "      block    name(params)\n"
        "      relgraph name(params)\n"
        "      ftree    name(params)\n"
        "      pfqn     name(params)\n"
        "      mpfqn     name(params)\n"
        "      gspn     name(params)\n\n"
        "      bind\n"
        "      format  p\n\n"
        "      cdf     (name<,node><;args>)\n"
        "      reward  (name<,node><;args>)\n"
        "      eval (name<,node><;args>) low high increment <cdf|reward|exrt|cexrt>\n"
        "      expr  expression\n\n");
}

void print_solver_options(Output& out) {
    out.write(
        "      command line: -ss sor|gs|bicgstab   steady-state method of chains and nets\n"
        "                    (sor: adaptive over-relaxation, the default; gs: Gauss-Seidel;\n"
        "                    bicgstab: BiCGSTAB with incomplete-LU preconditioning)\n\n");
}

void print_constants(Output& out) {
    out.printf("size of input line: %d\n", 512);
    out.printf("maximum number of intervals for eval: %d\n", 100);
    out.printf("number of significant characters in words: %d\n", 30);
}

}  // namespace corvel
