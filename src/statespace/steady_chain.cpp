// Analysis of irreducible chains in steady state and of semi-Markov chains,
// with the cache of their results.

#include "statespace/steady_chain.h"

#include "model/context.h"
#include "statespace/irreducible.h"
#include "statespace/semimark.h"

namespace corvel {

namespace {

bool is_semimark_type(int type) { return type == kSysSemimarkAcyclic || type == kSysSemimarkIrreducible; }

}  // namespace

bool is_semimark_system(const SystemRecord& sys) { return is_semimark_type(sys.type); }

bool is_steady_chain_request(const SystemRecord& sys, const AnalysisRequest& req) {
    if (is_semimark_type(sys.type)) return true;
    if (sys.type != kSysMarkovIrreducible || req.transient) return false;
    return req.measure == Kw::Prob || req.measure == Kw::Sreward || req.measure == Kw::Exrss;
}

void analyze_steady_chain(AnalysisContext& in, SystemRecord& sys, const AnalysisRequest& req, bool unchanged) {
    const bool acyclic = sys.type == kSysSemimarkAcyclic;
    bool cached = unchanged && sys.s_vbound &&
                  (acyclic ? sys.s_sbound && sys.s_reward == req.computing_reward : sys.s_ibound);
    if (cached) {
        if (in.settings.verbose) in.out.printf("  using previous analysis for %s\n", sys.name.c_str());
        return;
    }
    if (is_semimark_type(sys.type))
        solve_semimark(in, sys, acyclic && req.computing_reward);
    else
        solve_irreducible_markov(in, sys);
    sys.s_vbound = true;
    sys.s_reward = acyclic && req.computing_reward;
    sys.s_tbound = false;
}

}  // namespace corvel
