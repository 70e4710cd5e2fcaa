// Closed forms of Markov chains as the solvers leave them: which chains get
// them, their checks against what is known without them, and the stable
// route of the absorption time by uniformization.

#include "statespace/chain_forms.h"

#include <algorithm>
#include <cmath>

#include "expo/guarded.h"
#include "model/context.h"
#include "statespace/markov_solve.h"

namespace corvel {

// Rates as the closed forms were built: per reward unit when computing rewards.
std::vector<double> solved_rates(const ChainModel& m, bool computing_reward) {
    std::vector<double> rates(m.arcs.size());
    for (size_t e = 0; e < m.arcs.size(); ++e) {
        double r = m.arcs[e].rate;
        if (computing_reward) {
            const double w = m.reward[static_cast<size_t>(m.arcs[e].from)];
            r = w > 0.0 ? r / w : 0.0;
        }
        rates[e] = r;
    }
    return rates;
}

std::vector<int> absorbing_states(const ChainModel& m, double eps) {
    std::vector<int> out;
    for (int i = 0; i < m.num_states(); ++i)
        if (is_absorbing(m, i, eps)) out.push_back(i);
    return out;
}

bool is_markov_system(const SystemRecord& sys) {
    return sys.type == kSysMarkovAcyclic || sys.type == kSysMarkovIrreducible || sys.type == kSysMarkovPhase;
}

bool markov_request_is_transient(const SystemRecord& sys, const AnalysisRequest& req) {
    if (!req.transient) return false;
    switch (req.measure) {
        case Kw::Tvalue:
        case Kw::Exrt:
        case Kw::Cexrt: return true;
        // An irreducible chain has no closed form to read a value from.
        case Kw::Value: return sys.type == kSysMarkovIrreducible;
        default: return false;
    }
}

std::shared_ptr<const NumericDist> markov_absorbing_route(AnalysisContext& in, SystemRecord& sys, bool computing_reward) {
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    std::vector<int> targets = absorbing_states(m, eps);
    if (targets.empty()) return nullptr;
    double absorbed = 0.0;
    for (int s : targets) absorbed += m.prob[static_cast<size_t>(s)];
    return make_chain_dist(m, solved_rates(m, computing_reward), std::move(targets), 1.0,
                           std::max(0.0, 1.0 - absorbed), in.settings.tol.u_epsilon, eps,
                           in.settings.work_limit);
}

bool chain_has_closed_forms(const SystemRecord& sys) {
    if (sys.type != kSysMarkovPhase && sys.type != kSysMarkovIrreducible) return true;
    const ChainModel* m = find_chain(sys);
    return m == nullptr || m->num_states() <= kMaxChainClosedFormStates;
}

// A request that needs closed forms of a chain too large for them is
// refused with the chain's size (nothing ran out of memory).
void require_closed_forms(AnalysisContext& in, const SystemRecord& sys) {
    if (chain_has_closed_forms(sys)) return;
    in.err.error(21, kFatal,
                 format_string("closed form of system %s (%d states; closed forms are given for at most %d states)",
                               sys.name.c_str(), find_chain(sys)->num_states(), kMaxChainClosedFormStates),
                 true);
}

void solve_large_phase_chain(AnalysisContext& in, SystemRecord& sys, bool computing_reward) {
    ChainModel& m = chain_of(sys);
    const auto n = static_cast<size_t>(m.num_states());
    m.dists.assign(n, StateDists{});
    m.need_node.assign(n, 0);
    m.prob.assign(n, 0.0);
    m.closed_form_error = 0.0;
    sys.s_dist.clear();
    sys.has_dist = false;
    double mass = 0.0;
    for (double p : m.start_prob) mass += p;
    const double eps = in.settings.tol.epsilon;
    sys.s_stable = make_chain_dist(m, solved_rates(m, computing_reward), absorbing_states(m, eps), 1.0,
                                   std::max(0.0, 1.0 - mass), in.settings.tol.u_epsilon, eps,
                                   in.settings.work_limit);
}

void check_closed_forms(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    const Tolerances& tol = in.settings.tol;
    double worst = 0.0;
    // The acyclic solution in reward units leaves the transient states'
    // forms empty.
    const bool absorbing_only = sys.s_reward && sys.type == kSysMarkovAcyclic;
    for (int s = 0; s < m.num_states() && static_cast<size_t>(s) < m.dists.size(); ++s) {
        const StateDists& d = m.dists[static_cast<size_t>(s)];
        if (!d.has_dist) continue;
        if (absorbing_only && !is_absorbing(m, s, tol.epsilon)) continue;
        const Guarded at0 = guarded_evaluate(d.dist, 0.0, tol);
        const double p0 = m.start_prob[static_cast<size_t>(s)];
        const double off = std::fabs(at0.value - p0) - at0.error;
        if (!at0.finite()) worst = INFINITY;
        else if (off > 0.0) worst = std::max(worst, off);
    }
    if (sys.has_dist && sys.s_stable) {
        const GuardedMoments closed = guarded_moments(sys.s_dist, tol);
        const std::optional<GuardedMoments> known = sys.s_stable->known_moments();
        if (known && known->mean.finite() && closed.mean.finite()) {
            const double scale = std::max(std::fabs(known->mean.value), 1e-300);
            const double off = std::fabs(closed.mean.value - known->mean.value) - closed.mean.error -
                               known->mean.error;
            if (off > 0.0) worst = std::max(worst, off / scale);
        } else if (known && known->mean.finite() && !closed.mean.finite()) {
            worst = INFINITY;
        }
    }
    // An acyclic chain's forms rebuilt with nearly equal rates merged carry
    // the difference found against the transient solution.
    if (sys.type == kSysMarkovAcyclic) worst = std::max(worst, m.form_error);
    // Rounding-level differences leave the closed forms as they are.
    m.closed_form_error = worst > trust_policy(in.settings).recompute_rel ? worst : 0.0;
}

}  // namespace corvel
