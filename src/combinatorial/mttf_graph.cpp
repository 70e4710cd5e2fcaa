// Mean time to failure of a reliability graph from its decision diagram:
// a variable true means the edge works, the function true that the graph
// works, so an edge's up branch is the then-branch.

#include "combinatorial/mttf.h"
#include "combinatorial/relgraph_solve.h"
#include "model/context.h"

namespace corvel {

double relgraph_mttf_with_bdd(AnalysisContext& in, SystemRecord& sys) {
    RgBddInfo& info = relgraph_bdd(in, sys);
    const AvailFreq r = bdd_avail_freq(info.m, info.root, true, bdd_one(info.m), [&](bdd node) {
        const EdgeRecord& e = sys.edges[static_cast<size_t>(info.edge_of(node))];
        if (!e.rudist) {
            in.out.write("Please input edge's repair rate to compute mttf \n");
            in.err.exit_program(kExitFailure);
        }
        DiagramRates c;
        c.lambda = e.failure_rate;
        c.a = e.repair_rate / (e.failure_rate + e.repair_rate);
        return c;
    });
    if (!(r.freq > 0.0)) in.err.error(128, kFatal, "", true);
    return r.avail / r.freq;
}

}  // namespace corvel
