#include "model/context.h"

namespace corvel {

AnalysisContext::AnalysisContext(EvalHooks& hooks, std::string* capture)
    : out(capture), err(out), eval(symbols, settings, err, hooks), dist_binder(symbols, settings, err, eval) {
    dist_binder.system_hook = [this](const DistSpec& spec, Exponomial& result, int) {
        return system_distribution(*spec.subsystem, result);
    };
}

void AnalysisContext::print_allocations() {
    // Records are owned values rather than pooled nodes, so nothing is
    // counted per block; the report keeps its layout.
    out.printf("\nexponomial allocations: %d\n", 0);
    out.printf("successor allocations: %d\n", 0);
    out.printf("tree allocations: %d\n", 0);
    out.printf("ee allocations: %d\n", 0);
    out.printf("sym allocations: %d\n", 0);
    out.printf("param allocations: %d\n", 0);
    out.printf("path allocations: %d\n", 0);
    out.printf("term_list allocations: %d\n", 0);
}

}  // namespace corvel
