// Analysis, value measures and printouts of irreducible chains in steady
// state and of semi-Markov chains.

#include "interp/steady_measures.h"

#include <cmath>

#include "expo/distribution.h"
#include "expo/results.h"
#include "interp/chain_measures.h"
#include "interp/dispatch.h"
#include "interp/eval_table.h"
#include "interp/interpreter.h"
#include "interp/measures.h"
#include "interp/trusted_numbers.h"
#include "statespace/chain.h"
#include "statespace/irreducible.h"
#include "statespace/semimark.h"
#include "statespace/steady_chain.h"

namespace corvel {

namespace {

// The closed form a number of an acyclic semi-Markov chain is read from:
// the absorption CDF, or the named state's own closed form (probability of
// being in it at t, or of having reached it by t for an absorbing state).
const Exponomial& number_form(SystemRecord& sys, int node) {
    if (node < 0) return sys.s_dist;
    return chain_of(sys).dists[static_cast<size_t>(node)].dist;
}

// The conditional distribution of a state's printout: the time of reaching
// an absorbing state, or of leaving another one, given that it happens.
Exponomial conditional_form(Interpreter& in, SystemRecord& sys, int node) {
    const ChainModel& m = chain_of(sys);
    const StateDists& d = m.dists[static_cast<size_t>(node)];
    Exponomial out;
    conditional_absorption(m.has_successors(node) ? d.ldist : d.dist, m.prob[static_cast<size_t>(node)], out,
                           in.settings.tol);
    return out;
}

}  // namespace

double steady_chain_value(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    if (call.kw == Kw::Sreward && sys.type == kSysSemimarkAcyclic) {
        // The reward rate times the limiting probability of the state: the
        // mass that ends there (absorbing states) or never leaves it (a
        // defective sojourn).
        const ChainModel& m = chain_of(sys);
        const double r = m.reward.empty() ? 0.0 : m.reward[static_cast<size_t>(req.node)];
        return r * lim_at_inf(m.dists[static_cast<size_t>(req.node)].dist, in.settings.tol);
    }
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
    Kw kw = call.kw;
    if (kw == Kw::Tvalue || kw == Kw::Rvalue) kw = Kw::Value;
    if (kw == Kw::Rmean) kw = Kw::Mean;
    if (kw == Kw::Rvariance) kw = Kw::Variance;
    if (!is_distribution_number(kw)) {
        in.err.error(21, kFatal, sys.name, true);
        return 0.0;
    }
    const int node = call.kw == Kw::Rvalue ? -1 : req.node;
    return trusted_value_of(in, sys.name, &number_form(sys, node), nullptr, kw, req.time);
}

void steady_chain_distribution(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                               const AnalysisRequest& req, Exponomial& out) {
    if (sys.type != kSysSemimarkAcyclic) in.err.error(21, kFatal, sys.name, true);
    if (req.node < 0) {
        out = sys.s_dist;
        return;
    }
    // cdf(chain, state): the time of absorption in that state, given that
    // the chain ends there.
    const ChainModel& m = chain_of(sys);
    if (m.has_successors(req.node)) in.err.error(111, kFatal, call.node, true);
    out = conditional_form(in, sys, req.node);
}

void print_steady_chain_eval_table(Interpreter& in, OutputStatement& st, const EvalKind& kind) {
    MeasureCall& call = st.call;
    SystemRecord& sys = in.systems[call.system];
    AnalysisRequest req = analyze_for_table(in, call, kind.kind);
    print_eval_title(in.out, sys.name, call.has_node ? std::optional<std::string_view>(call.node) : std::nullopt);
    const Exponomial& F = number_form(sys, call.has_node ? req.node : -1);
    TrustedEval trusted(in, sys.name, &F, nullptr);
    print_eval_table(in.out, in.settings, in.err, st.low, st.high, st.increment, {}, F, kind.variable,
                     trusted.function());
    trusted.report_warnings();
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
    if (call.kw == Kw::Lcdf) {
        print_leaving_time(in, sys.name, m.state_name(req.node), p, m.dists[static_cast<size_t>(req.node)].ldist,
                           m.has_successors(req.node));
        return;
    }
    print_state_header(in.out, sys.name, m.state_name(req.node));
    if (m.has_successors(req.node)) {
        // A state that is left again: the probability of being in it at t.
        print_transient_state_label(in.out);
        expo_print(in.out, in.settings, m.dists[static_cast<size_t>(req.node)].dist, 't');
        warn_if_terms_cancel(in, m.dists[static_cast<size_t>(req.node)].dist);
        return;
    }
    print_absorbing_state(in.out, in.settings, p, true);
    if (p == 0.0) return;
    const Exponomial F = conditional_form(in, sys, req.node);
    TrustedSummary trusted(in, sys.name, F, nullptr);
    print_distribution_info(in.out, in.settings, in.err, F, 't', trusted.guard());
}

}  // namespace corvel
