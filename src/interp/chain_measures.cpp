#include "interp/chain_measures.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "expo/distribution.h"
#include "expo/guarded.h"
#include "expo/results.h"
#include "interp/dispatch.h"
#include "interp/eval_table.h"
#include "interp/interpreter.h"
#include "interp/measures.h"
#include "interp/trusted_numbers.h"
#include "statespace/chain_moments.h"
#include "statespace/markov_solve.h"
#include "statespace/sor.h"

namespace corvel {

namespace {

// The overall closed form, or null when the chain has none (too large):
// the numbers then come from the stable route alone.
const Exponomial* overall_form(const SystemRecord& sys) { return sys.has_dist ? &sys.s_dist : nullptr; }


const StateDists& state_dists(Interpreter& in, const ChainModel& m, int node) {
    if (node < 0 || static_cast<size_t>(node) >= m.dists.size() || !m.dists[static_cast<size_t>(node)].has_dist)
        in.err.error(130, kInternal, "", false);
    return m.dists[static_cast<size_t>(node)];
}

// A transient number read from a transient solution (`read` takes the
// probabilities, their integrals and their bounds). At time 0 the solution
// is the start vector, exact. A bound that could change a printed digit is
// tightened first by solving again with a truncation far below the printed
// resolution: the bound of the default truncation is the requested
// precision, not the error actually made, and a warning is due only when
// the tighter solution still cannot vouch for the digits.
using TransientRead = std::function<Guarded(const TransientResult&)>;

double trusted_transient(Interpreter& in, const SystemRecord& sys, const char* what, double time,
                         const TransientRead& read) {
    const ChainModel& m = *find_chain(sys);
    const Tolerances& tol = in.settings.tol;
    TransientResult held;
    held.prob = m.tprob;
    held.cum = m.tcumprob;
    held.error = m.terror;
    held.cum_error = m.tcumerror;
    held.rel_error = m.trelerror;
    if (std::fabs(time) < tol.epsilon) held.error = held.cum_error = held.rel_error = 0.0;
    const Guarded first = read(held);
    const TrustPolicy policy = trust_policy(in.settings);
    StableRoute again;
    if (assess(first, policy) == Trust::Warn && std::isfinite(first.error)) {
        again = [&]() -> std::optional<Guarded> {
            const double tight = std::min(tol.u_epsilon, tol.results_epsilon) * 1e-3;
            return read(transient_solution(arcs_view(m), m.start_prob, time, tight, tol.epsilon, nullptr));
        };
    }
    const std::string text = std::string(what) + " of system " + sys.name;
    return settle(first, again, policy, [&](const Guarded& w) { print_trust_warning(in.out, text, w); }).value;
}

double max_abs_reward(const ChainModel& m) {
    double r = 0.0;
    for (double x : m.reward) r = std::max(r, std::fabs(x));
    return r;
}

// The closed form that a value measure with a node reads, with its stable
// route: the state's own closed form (probability of being there, or of
// having been absorbed there, by t) and the same probability by
// uniformization. The route of a state that is left again answers values at
// t only: its form is an occupancy probability, whose "moments" are not those
// of a time to reach the state, so `values_only` requests nothing else.
struct NodeForm {
    const Exponomial* F = nullptr;
    std::shared_ptr<const NumericDist> stable;
};

NodeForm node_form(Interpreter& in, SystemRecord& sys, int node, bool values_only) {
    require_closed_forms(in, sys);
    ChainModel& m = chain_of(sys);
    NodeForm f;
    f.F = &state_dists(in, m, node).dist;
    const double eps = in.settings.tol.epsilon;
    const bool absorbing = is_absorbing(m, node, eps);
    if (!absorbing && !values_only) return f;
    // The limit of the form: the absorption probability, the steady-state
    // probability of an irreducible chain's state, 0 for a state that is
    // always left.
    double limit = 0.0;
    if (absorbing || sys.type == kSysMarkovIrreducible) limit = m.prob[static_cast<size_t>(node)];
    f.stable = make_chain_dist(m, solved_rates(m, sys.s_reward), {node}, 1.0, std::max(0.0, 1.0 - limit),
                               in.settings.tol.u_epsilon, eps, in.settings.work_limit);
    return f;
}

// The probability of ending in an absorbing state, from the fundamental
// matrix of the states that reach it (sparse solves, no closed form): the
// starting mass already there plus the mass that gets there. A bound that
// could change a printed digit is reported.
double absorption_probability(Interpreter& in, SystemRecord& sys, int node) {
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    if (sys.type == kSysMarkovAcyclic) return m.prob[static_cast<size_t>(node)];
    std::string dropped;
    SolverIo io;
    io.warn = &dropped;
    io.epsilon = eps;
    const int targets[] = {node};
    const TargetMoments t = target_moments(m.num_states(), m.arcs, m.start_prob, targets, eps, io);
    const Guarded p = g_add(Guarded::exact(m.start_prob[static_cast<size_t>(node)]), t.hit);
    const std::string what = "prob of system " + sys.name;
    const Guarded g = settle(p, {}, trust_policy(in.settings),
                             [&](const Guarded& w) { print_trust_warning(in.out, what, w); });
    return std::clamp(g.value, 0.0, 1.0);
}

// The limiting probability of a state of an acyclic or phase-type chain: its
// absorption probability, or 0 for a state that is always left (all the
// mass ends in absorbing states).
double limiting_probability(Interpreter& in, SystemRecord& sys, int node) {
    const ChainModel& m = chain_of(sys);
    if (!is_absorbing(m, node, in.settings.tol.epsilon)) return 0.0;
    return absorption_probability(in, sys, node);
}

}  // namespace

double markov_measure_value(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    const int node = call.has_node ? req.node : -1;
    const bool transient = markov_request_is_transient(sys, req);
    switch (call.kw) {
        case Kw::Tvalue:
        case Kw::Value:
            if (transient) {
                const std::vector<int> absorbing = absorbing_states(m, eps);
                auto read = [&](const TransientResult& r) {
                    if (node >= 0) {
                        const double p = r.prob[static_cast<size_t>(node)];
                        return Guarded{p, r.bound(p), Route::Uniformization};
                    }
                    GuardedSum sum;
                    for (int s : absorbing) sum.add(r.prob[static_cast<size_t>(s)]);
                    Guarded g = sum.result(Route::Uniformization);
                    g.error += r.bound(g.value);
                    return g;
                };
                return trusted_transient(in, sys, call.kw == Kw::Tvalue ? "tvalue" : "value", req.time, read);
            }
            break;
        case Kw::Exrt:
        case Kw::Cexrt: {
            // Expected reward rate at t and reward accumulated by t, from the
            // time-domain probabilities.
            const bool rate = call.kw == Kw::Exrt;
            const double rmax = max_abs_reward(m);
            auto read = [&](const TransientResult& r) {
                const std::vector<double>& p = rate ? r.prob : r.cum;
                GuardedSum sum;
                double magnitude = 0.0;
                for (size_t i = 0; i < p.size() && i < m.reward.size(); ++i) {
                    sum.add(m.reward[i] * p[i]);
                    magnitude += std::fabs(m.reward[i] * p[i]);
                }
                Guarded g = sum.result(Route::Uniformization);
                g.error += (rate ? r.error : r.cum_error) * rmax + r.rel_error * magnitude;
                return g;
            };
            return trusted_transient(in, sys, rate ? "exrt" : "cexrt", req.time, read);
        }
        case Kw::Prob:
            // An acyclic chain's state: the probability of ever visiting it;
            // a phase-type chain's: its limit (absorption probability, or 0).
            if (node < 0) in.err.error(13, kFatal, "", true);
            if (sys.type == kSysMarkovAcyclic) return m.prob[static_cast<size_t>(node)];
            return limiting_probability(in, sys, node);
        case Kw::Sreward: {
            // The state's term of the expected reward rate in the limit.
            if (node < 0) in.err.error(13, kFatal, "", true);
            const double r = m.reward.empty() ? 0.0 : m.reward[static_cast<size_t>(node)];
            return r == 0.0 ? 0.0 : r * limiting_probability(in, sys, node);
        }
        case Kw::Rvalue:
            return trusted_value_of(in, sys.name, overall_form(sys), sys.s_stable.get(), Kw::Value, req.time,
                                    m.closed_form_error);
        case Kw::Rmean:
            return trusted_value_of(in, sys.name, overall_form(sys), sys.s_stable.get(), Kw::Mean, 0.0,
                                    m.closed_form_error);
        case Kw::Rvariance:
            return trusted_value_of(in, sys.name, overall_form(sys), sys.s_stable.get(), Kw::Variance, 0.0,
                                    m.closed_form_error);
        default:
            break;
    }
    if (!is_distribution_number(call.kw)) in.err.error(21, kFatal, sys.name, true);
    // The moments of an acyclic chain's absorption time come from first-step
    // analysis, exact where the closed form's terms cancel.
    if ((call.kw == Kw::Mean || call.kw == Kw::Variance) && node < 0 && sys.type == kSysMarkovAcyclic &&
        !sys.s_reward) {
        if (auto mo = acyclic_absorption_moments(m, solved_rates(m, false)))
            return call.kw == Kw::Mean ? mo->mean : mo->variance;
    }
    // Where the closed form cannot be trusted, the stable route gives the
    // moments from the fundamental matrix and the values by uniformization.
    if (node >= 0) {
        NodeForm f = node_form(in, sys, node, call.kw == Kw::Value || call.kw == Kw::Tvalue);
        return trusted_value_of(in, sys.name, f.F, f.stable.get(), call.kw, req.time, m.closed_form_error);
    }
    if (!sys.has_dist && !sys.s_stable) in.err.error(130, kInternal, "", false);
    return trusted_value_of(in, sys.name, overall_form(sys), sys.s_stable.get(), call.kw, req.time, m.closed_form_error);
}

void markov_measure_distribution(Interpreter& in, SystemRecord& sys, const MeasureCall& call,
                                 const AnalysisRequest& req, Exponomial& out,
                                 std::shared_ptr<const NumericDist>* stable) {
    require_closed_forms(in, sys);
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    if (stable) stable->reset();
    if (!call.has_node) {
        if (!sys.has_dist) in.err.error(130, kInternal, "", false);
        out = sys.s_dist;
        if (stable) *stable = sys.s_stable;
        return;
    }
    const int node = req.node;
    if (!is_absorbing(m, node, eps)) in.err.error(111, kFatal, call.node, true);
    const double p = m.prob[static_cast<size_t>(node)];
    out = state_dists(in, m, node).dist;
    // Given absorption there: divided by the probability of ending there.
    if (std::fabs(p) >= eps) {
        scalar_multiply(out, 1.0 / p);
        if (stable)
            *stable = make_chain_dist(m, solved_rates(m, sys.s_reward), {node}, p, 0.0, in.settings.tol.u_epsilon, eps,
                                      in.settings.work_limit);
    } else {
        out.clear();
    }
}

void check_handed_form(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const Exponomial& F) {
    const Guarded worst = worst_evaluation(F, in.settings.tol, chain_of(sys).closed_form_error);
    if (assess(worst, trust_policy(in.settings)) != Trust::Warn) return;
    std::string what = "closed form of system " + sys.name;
    if (call.has_node) what += " node " + call.node;
    print_trust_warning(in.out, what, worst);
}

void print_markov_result(Interpreter& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    ChainModel& m = chain_of(sys);
    const Settings& s = in.settings;
    const double eps = s.tol.epsilon;
    if (call.kw != Kw::Analyze) require_closed_forms(in, sys);
    switch (call.kw) {
        case Kw::Analyze:
            return;
        case Kw::Reward: {
            print_system_result_header(in.out, SystemResult::RewardCdf, sys.name);
            TrustedSummary trusted(in, sys.name, sys.s_dist, sys.s_stable, chain_of(sys).closed_form_error);
            print_distribution_info(in.out, s, in.err, sys.s_dist, 'r', trusted.guard());
            return;
        }
        case Kw::Cdf:
        case Kw::Lcdf:
            break;
        default:
            in.err.error(21, kFatal, sys.name, true);
    }
    if (!call.has_node) {
        if (call.kw == Kw::Lcdf) in.err.error(13, kFatal, "", true);
        print_system_result_header(in.out, SystemResult::Cdf, sys.name);
        TrustedSummary trusted(in, sys.name, sys.s_dist, sys.s_stable, chain_of(sys).closed_form_error);
        print_distribution_info(in.out, s, in.err, sys.s_dist, 't', trusted.guard());
        return;
    }
    const int node = req.node;
    const StateDists& d = state_dists(in, m, node);
    if (call.kw == Kw::Lcdf) {
        print_leaving_time(in, sys.name, m.state_name(node), m.prob[static_cast<size_t>(node)], d.ldist,
                           !is_absorbing(m, node, eps), m.closed_form_error);
        return;
    }
    in.out.printf("information about system %s node %5s\n", sys.name.c_str(), std::string(m.names[node]).c_str());
    if (!is_absorbing(m, node, eps)) {
        in.out.write("transient state probability:\n\n");
        expo_print(in.out, s, d.dist, 't');
        warn_if_terms_cancel(in, d.dist, m.closed_form_error);
        return;
    }
    const double p = m.prob[static_cast<size_t>(node)];
    in.out.printf("\nprobability of entering node: %*.*e\n\n", s.width, s.precision, p);
    if (std::fabs(p) < eps) return;
    in.out.write("conditional CDF for time of reaching this absorbing state\n\n");
    Exponomial conditional;
    std::shared_ptr<const NumericDist> stable;
    markov_measure_distribution(in, sys, call, req, conditional, &stable);
    TrustedSummary trusted(in, sys.name, conditional, stable, chain_of(sys).closed_form_error);
    print_distribution_info(in.out, s, in.err, conditional, 't', trusted.guard());
}

void print_leaving_time(Interpreter& in, const std::string& system, std::string_view state, double entered,
                        const Exponomial& ldist, bool left, double coef_rel_error) {
    print_state_header(in.out, system, state);
    print_absorbing_state(in.out, in.settings, entered, true);
    if (entered == 0.0) return;
    Exponomial conditional;
    if (left) conditional_absorption(ldist, entered, conditional, in.settings.tol);
    TrustedSummary trusted(in, system, conditional, nullptr, coef_rel_error);
    print_distribution_info(in.out, in.settings, in.err, conditional, 't', trusted.guard());
}

void print_markov_eval_table(Interpreter& in, OutputStatement& st, const EvalKind& kind) {
    MeasureCall& call = st.call;
    SystemRecord& sys = in.systems[call.system];
    AnalysisRequest req = analyze_for_table(in, call, kind.kind);
    print_eval_title(in.out, sys.name, call.has_node ? std::optional<std::string_view>(call.node) : std::nullopt);
    const Exponomial* F = &sys.s_dist;
    std::shared_ptr<const NumericDist> stable = sys.s_stable;
    NodeForm f;
    if (call.has_node) {
        f = node_form(in, sys, req.node, true);
        F = f.F;
        stable = f.stable;
    }
    // A chain without closed forms tabulates its stable route alone.
    const Exponomial none;
    if (!call.has_node && !sys.has_dist) F = &none;
    TrustedEval trusted(in, sys.name, call.has_node || sys.has_dist ? F : nullptr, stable, {},
                        chain_of(sys).closed_form_error);
    print_eval_table(in.out, in.settings, in.err, st.low, st.high, st.increment, {}, *F, kind.variable,
                     trusted.function());
    trusted.report_warnings();
}

}  // namespace corvel
