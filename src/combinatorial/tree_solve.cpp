// Solving block diagrams, fault trees without repeated events and
// series-parallel graphs: binding the components for the request, then the
// tree analysis (or the per-path analysis of a "multpath" graph).

#include <cmath>

#include "combinatorial/importance.h"
#include "combinatorial/tree.h"
#include "symbols/counts.h"
#include "combinatorial/tree_stable.h"
#include "expo/guarded.h"
#include "model/context.h"

namespace corvel {

namespace {

bool is_weibull(const SymbolTable& symbols, const DistSpec& spec) {
    const DistSpec* s = &spec;
    for (int depth = 0; depth < 64 && s != nullptr; ++depth) {
        if (s->type == kDistWeibull) return true;
        if (s->type != kDistNamed || s->symbol < 0 || s->symbol >= symbols.size()) return false;
        s = symbols[s->symbol].dist.get();
    }
    return false;
}

// The rate of an exponential distribution 1 − e^(−λt), checked term by term.
bool exponential_rate(const Exponomial& F, double& rate, const Tolerances& tol) {
    const double eps = tol.epsilon;
    if (F.size() != 2) return false;
    const Term& one = F[0];
    const Term& decay = F[1];
    if (one.e_xpower != 0 || std::fabs(one.e_b) >= eps || one.e_b_complex != 0.0 || one.e_a_complex != 0.0 ||
        std::fabs(one.e_a - 1.0) >= eps)
        return false;
    if (decay.e_xpower != 0 || !(decay.e_b <= -eps) || decay.e_b_complex != 0.0 || decay.e_a_complex != 0.0 ||
        std::fabs(decay.e_a + 1.0) >= eps)
        return false;
    rate = -decay.e_b;
    return true;
}

// The stable route of the system behind a cdf(name) distribution (also
// through named distributions such as binomial), as that system was just
// analysed for this binding; null for any other distribution.
std::shared_ptr<const NumericDist> referenced_stable(AnalysisContext& in, const DistSpec& spec) {
    const DistSpec* s = &spec;
    for (int depth = 0; depth < 64 && s != nullptr; ++depth) {
        if (s->type == kDistSystem || s->type == kDistSystemState) {
            if (!s->subsystem) return nullptr;
            // A state of a chain: the route its distribution was handed over with.
            if (s->subsystem->has_node) return s->subsystem->node_stable;
            const int sys = s->subsystem->system;
            if (sys < 0 || sys >= in.systems.size()) return nullptr;
            return in.systems[sys].s_stable;
        }
        if (s->type != kDistNamed || s->symbol < 0 || s->symbol >= in.symbols.size()) return nullptr;
        s = in.symbols[s->symbol].dist.get();
    }
    return nullptr;
}

[[noreturn]] void only_exponential(AnalysisContext& in) {
    in.out.write("Currently only exponential distribution is accepted.\n");
    in.err.exit_program(kExitFailure);
}

// A component with a repair distribution: its unavailability in the form the
// measure needs, from the failure rate l and the repair rate m.
void combine_repair(AnalysisContext& in, NodeInfo& info, const std::string& name, const AnalysisRequest& req) {
    const Tolerances& tol = in.settings.tol;
    in.dist_binder.bind_distribution(*info.rudist, info.rdist, kFatal, name, "");
    double l = 0.0, m = 0.0;
    if (!exponential_rate(info.dist, l, tol) || !exponential_rate(info.rdist, m, tol)) only_exponential(in);
    info.failure_rate = l;
    info.repair_rate = m;
    const double u = l / (l + m);
    switch (req.measure) {
        case Kw::Sysprob:
        case Kw::Ss_unavail:
            info.dist = Exponomial::constant(u);
            break;
        case Kw::Tvalue:
            info.dist = Exponomial::constant((1.0 - std::exp(-(l + m) * req.time)) * u);
            break;
        case Kw::Mttf:
            break;
        default: {
            Exponomial F;
            insert_term(u, 0.0, 0, 0.0, 0.0, F, tol);
            insert_term(-u, 0.0, 0, -(l + m), 0.0, F, tol);
            info.dist = std::move(F);
            break;
        }
    }
}

void bind_component(AnalysisContext& in, SystemRecord& sys, int index, const AnalysisRequest& req) {
    NodeInfo& info = sys.nodes[static_cast<size_t>(index)];
    const std::string name = real_name(sys, index);
    info.stable.reset();
    if (!info.udist) {
        info.dist.clear();
        return;
    }
    if (is_weibull(in.symbols, *info.udist)) {
        if (req.transient)
            info.dist = in.dist_binder.tvalue_weibull(req.time, *info.udist);
        else if (req.measure != Kw::Pqcdf)
            in.err.error(61, kFatal, "", true);
        else
            info.dist.clear();
    } else {
        in.dist_binder.bind_distribution(*info.udist, info.dist, kFatal, name, "");
        if (!info.rudist) info.stable = referenced_stable(in, *info.udist);
    }
    NodeInfo& bound = info;
    if (bound.rudist) {
        combine_repair(in, bound, name, req);
    } else if (req.measure == Kw::Sysprob || req.measure == Kw::Ss_unavail) {
        // Never repaired: in steady state the component is failed with the
        // probability that it ever fails.
        bound.dist = Exponomial::constant(lim_at_inf(bound.dist, in.settings.tol));
    }
    if (req.measure == Kw::Tvalue || is_timed_importance(req.measure)) {
        // Every component at the call's time, as a one-term constant; a
        // closed form whose terms cancel is replaced by its stable route;
        // before time zero nothing has failed yet (both routes give 0).
        const Tolerances& tol = in.settings.tol;
        const Guarded closed = guarded_evaluate(bound.dist, req.time, tol);
        StableRoute route;
        if (bound.stable) route = [&]() -> std::optional<Guarded> { return bound.stable->at(req.time).f; };
        const std::string what = "component " + name + " of system " + sys.name;
        const Guarded value = settle(closed, route, trust_policy(in.settings),
                                     [&](const Guarded& w) { print_trust_warning(in.out, what, w); });
        bound.dist = Exponomial::constant(value.value);
        bound.stable.reset();
    }
}

}  // namespace

void bind_tree_components(AnalysisContext& in, SystemRecord& sys, const AnalysisRequest& req) {
    if (sys.type == kSysGraph) {
        for (int v = 1; v < static_cast<int>(sys.nodes.size()); ++v) {
            if (!sys.nodes[static_cast<size_t>(v)].udist) in.err.error(44, kFatal, sys.names[v], true);
            bind_component(in, sys, v, req);
        }
        if (!sys.nodes.empty()) sys.nodes[0].dist = Exponomial::constant(1.0);
        return;
    }
    const TreeModel& tm = tree_model(sys);
    for (int index : tm.map) bind_component(in, sys, index, req);
}

void check_probabilities(AnalysisContext& in, SystemRecord& sys) {
    const TreeModel& tm = tree_model(sys);
    const double eps = in.settings.tol.epsilon;
    for (size_t v = 0; v < sys.nodes.size() && v < tm.exit_type.size(); ++v) {
        if (tm.exit_type[v] != NT_PROB) continue;
        const std::string& from = sys.names[static_cast<int>(v)];
        double sum = 0.0;
        for (int s : sys.nodes[v].succ) {
            NodeInfo& branch = sys.nodes[static_cast<size_t>(s)];
            std::string arc = format_string("(%s to %s)", from.c_str(), sys.names[s].c_str());
            if (!branch.has_prob) in.err.error(42, kFatal, arc, true);
            if (branch.prob_sym) branch.prob = in.eval.bind_expression(*branch.prob_sym);
            check_finite(in.err, branch.prob, "probability " + arc, kFatal);
            if (branch.prob < -eps) in.err.error(117, kFatal, " " + arc, true);
            if (branch.prob > 1.0 + eps) in.err.error(118, kFatal, " " + arc, true);
            sum += branch.prob;
        }
        std::string where = format_string("(node %s)", from.c_str());
        if (sum > 1.0 + eps) in.err.error(50, kFatal, where, true);
        if (sum < 1.0 - eps) in.err.error(51, kWarning, where, true);
    }
}

bool numbers_only(const AnalysisRequest& req) {
    if (req.table) return true;
    switch (req.measure) {
        case Kw::Value:
        case Kw::Tvalue:
        case Kw::Mean:
        case Kw::Variance:
        case Kw::Pzero:
        case Kw::Pinf:
        case Kw::Pcont:
        case Kw::Sysprob:
        case Kw::Ss_unavail:
            return true;
        default:
            return false;
    }
}

namespace {

// The tree node that stands for node-table record `node` (the root when none does).
int tree_index_of(const TreeModel& tm, int node, int root) {
    std::vector<int> stack{root};
    while (!stack.empty()) {
        int t = stack.back();
        stack.pop_back();
        const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
        if (tn.first_node == node) return t;
        for (auto it = tn.kids.rbegin(); it != tn.kids.rend(); ++it) stack.push_back(*it);
    }
    return root;
}

}  // namespace

void analyze_tree_system(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req) {
    TreeModel& tm = tree_model(sys);
    sys.s_dist.clear();
    sys.has_dist = false;
    sys.s_stable.reset();
    sys.numpaths = 0;
    tm.paths.clear();
    if (tm.root < 0) in.err.error(80, kFatal, sys.name, true);

    if (sys.type == kSysFtreeNoRepeat) {
        if (in.settings.use_bdd && in.settings.user_turned_bdd_on) {
            in.err.error(208, kWarning, sys.name, true);
            in.out.write("To use bdd, use repeat to declare one of the event names that appears only once.\n");
        }
        if (!sys.coherent) {
            in.out.write("To use not, nor, nand, or nkofn gates, use repeat to declare\n"
                         "an event name that appears only once and leave bdd on.\n");
            in.err.error(210, kFatal, sys.name, true);
        }
        if (in.settings.verbose)
            in.out.printf("  analyzing %s combinatorially (no bdd, no factoring)\n", sys.name.c_str());
    }

    bind_k_n(in, sys, tm.root, kFatal);
    bind_tree_components(in, sys, req);
    if (sys.type == kSysGraph) check_probabilities(in, sys);

    // The stable route, for the node asked about or the whole system.
    int start = tm.root;
    if (req.node >= 0) start = tree_index_of(tm, req.node, tm.root);
    sys.s_stable = build_structure_dist(in, sys, start, req);
    // A graph that is one sum of phases or one phase chain has its numbers,
    // moments included, from sums of positive terms: its closed form (whose
    // convolutions of nearly equal rates can lose every digit) adds nothing.
    const bool exact_route = sys.type == kSysGraph && sys.s_stable && sys.s_stable->known_moments();
    if (numbers_only(req) && !(sys.type == kSysGraph && sys.multpath) &&
        (exact_route || predicted_term_count(sys, start) > kClosedFormTermLimit)) {
        // Only numbers are asked and the closed form would be huge: it is
        // not built, the numbers come from the stable route.
        return;
    }

    if (sys.type == kSysGraph && sys.multpath) {
        sys.s_dist = mult_path_cdf(in, sys);
        sys.numpaths = static_cast<int>(tm.paths.size());
    } else {
        analyze_tree(in, sys, tm.root, sys.type, req.node);
        const Exponomial* kept = req.node >= 0 ? tree_node_cdf(sys, req.node) : nullptr;
        sys.s_dist = kept ? *kept : tm.tree[static_cast<size_t>(tm.root)].cdf;
    }
    sys.has_dist = true;
}

}  // namespace corvel
