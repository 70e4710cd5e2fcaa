// Analysis, value measures and printouts of irreducible chains in steady
// state and of semi-Markov chains.

#include "statespace/steady_measures.h"

#include <cmath>

#include "expo/distribution.h"
#include "expo/results.h"
#include "interp/interpreter.h"
#include "interp/trusted_numbers.h"
#include "statespace/chain.h"
#include "statespace/irreducible.h"
#include "statespace/semimark.h"

namespace corvel {

namespace {

bool is_semimark_type(int type) { return type == kSysSemimarkAcyclic || type == kSysSemimarkIrreducible; }

// The distribution a node-less or node request of an acyclic semi-Markov
// chain is about: the absorption CDF, or the conditional time of reaching
// (absorbing node) or leaving (other node) the named state.
Exponomial subject_distribution(Interpreter& in, SystemRecord& sys, int node) {
    if (node < 0) return sys.s_dist;
    const ChainModel& m = chain_of(sys);
    const StateDists& d = m.dists[static_cast<size_t>(node)];
    const Exponomial& F = m.has_successors(node) ? d.ldist : d.dist;
    Exponomial out;
    conditional_absorption(F, m.prob[static_cast<size_t>(node)], out, in.settings.tol);
    return out;
}

}  // namespace

bool is_steady_chain_request(const SystemRecord& sys, const AnalysisRequest& req) {
    if (is_semimark_type(sys.type)) return true;
    if (sys.type != kSysMarkovIrreducible || req.transient) return false;
    return req.measure == Kw::Prob || req.measure == Kw::Sreward || req.measure == Kw::Exrss;
}

void analyze_steady_chain(Interpreter& in, SystemRecord& sys, const AnalysisRequest& req, bool unchanged) {
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

double steady_chain_value(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    switch (call.kw) {
        case Kw::Prob:
        case Kw::Sreward:
        case Kw::Exrss: return chain_steady_measure(in, sys, call.kw, req.node);
        default: break;
    }
    if (sys.type != kSysSemimarkAcyclic) {
        in.err.error(21, kFatal, sys.name, true);
        return 0.0;
    }
    const Tolerances& tol = in.settings.tol;
    const ChainModel& m = chain_of(sys);
    if (call.kw == Kw::Exrt || call.kw == Kw::Cexrt) {
        // The reward rates weighted by the probabilities of being in each
        // state at t, or by their integrals over (0, t).
        double total = 0.0;
        for (int s = 0; s < m.num_states(); ++s) {
            double r = m.reward.empty() ? 0.0 : m.reward[static_cast<size_t>(s)];
            if (r == 0.0) continue;
            const Exponomial& F = m.dists[static_cast<size_t>(s)].dist;
            if (call.kw == Kw::Exrt) {
                total += r * evaluate_expo(F, req.time, tol);
            } else {
                Exponomial I;
                integrate_expo(F, I, tol);
                subtract_value_at_zero(I, tol);
                total += r * evaluate_expo(I, req.time, tol);
            }
        }
        return total;
    }
    // Numbers of a closed form go through the shared guard (a warning when
    // its terms cancel beyond the printed digits). The reward measures read
    // the absorption distribution computed in reward units.
    if (call.kw == Kw::Value || call.kw == Kw::Tvalue) {
        const Exponomial& F = req.node < 0 ? sys.s_dist : m.dists[static_cast<size_t>(req.node)].dist;
        return trusted_value_of(in, sys.name, &F, nullptr, Kw::Value, req.time);
    }
    Kw kw = call.kw;
    if (kw == Kw::Rvalue) kw = Kw::Value;
    if (kw == Kw::Rmean) kw = Kw::Mean;
    if (kw == Kw::Rvariance) kw = Kw::Variance;
    if (!is_distribution_number(kw)) {
        in.err.error(21, kFatal, sys.name, true);
        return 0.0;
    }
    Exponomial F = subject_distribution(in, sys, kw == Kw::Value ? -1 : req.node);
    return trusted_value_of(in, sys.name, &F, nullptr, kw, req.time);
}

void steady_chain_distribution(Interpreter& in, SystemRecord& sys, const AnalysisRequest& req, Exponomial& out) {
    if (sys.type != kSysSemimarkAcyclic) in.err.error(21, kFatal, sys.name, true);
    out = subject_distribution(in, sys, req.node);
}

void print_steady_chain_result(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                               const AnalysisRequest& req) {
    if (sys.type != kSysSemimarkAcyclic || (call.kw != Kw::Cdf && call.kw != Kw::Lcdf && call.kw != Kw::Reward)) {
        in.err.error(21, kFatal, sys.name, true);
        return;
    }
    if (req.node < 0) {
        print_system_result_header(in.out, call.kw == Kw::Reward ? SystemResult::RewardCdf : SystemResult::Cdf,
                                   sys.name);
        TrustedSummary trusted(in, sys.name, sys.s_dist, nullptr);
        print_distribution_info(in.out, in.settings, in.err, sys.s_dist, call.kw == Kw::Reward ? 'r' : 't',
                                trusted.guard());
        return;
    }
    const ChainModel& m = chain_of(sys);
    const double p = m.prob[static_cast<size_t>(req.node)];
    print_state_header(in.out, sys.name, m.state_name(req.node));
    if (call.kw == Kw::Cdf && m.has_successors(req.node)) {
        // A state that is left again: the probability of being in it at t.
        print_transient_state_label(in.out);
        expo_print(in.out, in.settings, m.dists[static_cast<size_t>(req.node)].dist, 't');
        in.out.write("\n");
        return;
    }
    print_absorbing_state(in.out, in.settings, p, true);
    if (p == 0.0) return;
    const Exponomial F = subject_distribution(in, sys, req.node);
    TrustedSummary trusted(in, sys.name, F, nullptr);
    print_distribution_info(in.out, in.settings, in.err, F, 't', trusted.guard());
}

}  // namespace corvel
