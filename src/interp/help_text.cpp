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

void print_functions(Output& out) {
    out.write(
        "\nFunctions are:\n"
        "   prob  (system,node<;args>)\n"
        "   pcont (system<,node><;args>)\n"
        "   pzero (system<,node><;args>)\n"
        "   pinf  (system<,node><;args>)\n"
        "   mean  (system<,node><;args>)\n"
        "   variance  (system<,node><;args>)\n"
        "   value  (t;system<,node><;args>)\n"
        "   rmean  (system<;args>)\n"
        "   rvariance  (system<;args>)\n"
        "   rvalue  (r;system<;args>)\n"
        "   exrss  (system<;args>)\n"
        "   exrt  (t;system<;args>)\n"
        "   cexrt  (t;system<;args>)\n"
        "   tput  (system,station)\n"
        "   rtime  (system,station)\n"
        "   qlength  (system,station)\n"
        "   util  (system,station)\n"
        "   etok  (system,place)\n"
        "   prempty (system,place)\n"
        "   premptyu (t;system,place)\n"
        "   etoku  (t;system,place)\n"
        "   utilu  (t;system,transition)\n"
        "   tputu  (t;system,transition)\n"
        "   etokt (t;system,place)\n"
        "   premptyt (t;system,place)\n"
        "   tputt (t;system,transition)\n"
        "   utilt (t;system,transition)\n"
        "   tavetokt (t;system,place)\n"
        "   tavtputt (t;system,transition)\n"
        "   sum(index, low, high, expression)\n");
}

void print_constants(Output& out) {
    out.printf("size of input line: %d\n", 512);
    out.printf("maximum number of intervals for eval: %d\n", 100);
    out.printf("number of significant characters in words: %d\n", 30);
}

}  // namespace corvel
