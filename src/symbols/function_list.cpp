#include "symbols/function_list.h"

#include "symbols/output.h"

namespace corvel {

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

}  // namespace corvel
