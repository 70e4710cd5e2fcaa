// The route of a fault tree with repeated events: decision diagrams when bdd
// is on; otherwise factoring up to the factoring limit, else minimal cut sets
// with disjoint products. The listings and importance measures read the
// result of whichever route ran.

#include <algorithm>
#include <cmath>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/ftree_stable.h"
#include "combinatorial/tree.h"
#include "combinatorial/tree_stable.h"
#include "expo/constant_expo.h"
#include "model/context.h"

namespace corvel {

RepeatedTreeState& repeated_state(SystemRecord& sys) {
    TreeModel& tm = tree_model(sys);
    if (!tm.repeated) tm.repeated = std::make_shared<RepeatedTreeState>();
    return *tm.repeated;
}

namespace {

bool is_listing(Kw kw) { return kw == Kw::Mincuts || kw == Kw::Minpaths || kw == Kw::Pqcdf; }

// Listings, mttf and the diagram statistics read the diagram in the
// depth-first order; every other request only needs the function's numbers,
// which any order gives.
bool needs_ordered_diagram(AnalysisContext& in, Kw kw) {
    return is_listing(kw) || kw == Kw::Mttf || in.settings.debug[kDebugFtree];
}

// Every one of the records has a constant probability: the closed form is
// that constant, and nothing in it depends on t.
bool constant_components(const SystemRecord& sys, const std::vector<int>& records) {
    for (int v : records)
        if (v >= 0 && !ConstantExpo::fits(sys.nodes[static_cast<size_t>(v)].dist)) return false;
    return true;
}

bool constant_events(const SystemRecord& sys, const std::vector<FtModule>& modules) {
    for (const FtModule& mod : modules)
        if (!constant_components(sys, mod.vars)) return false;
    return true;
}

void analyze_with_bdd(AnalysisContext& in, SystemRecord& sys, RepeatedTreeState& st, AnalysisRequest& req) {
    TreeModel& tm = tree_model(sys);
    if (tm.symbolic_kn) {
        st.bdd.reset();
        st.fast.reset();
    }
    if (!needs_ordered_diagram(in, req.measure)) {
        if (!st.fast) {
            if (in.settings.verbose) in.out.printf("  analyzing %s with bdd\n", sys.name.c_str());
            bind_k_n(in, sys, tm.root, kFatal);
            st.fast = build_fast_ftree(in, sys);
        } else if (in.settings.verbose) {
            in.out.printf("  using previous bdd analysis for %s\n", sys.name.c_str());
        }
        bind_tree_components(in, sys, req);
        const FtFastTree& t = *st.fast;
        if (!t.out_of_reach && t.constant < 0 && !constant_events(sys, t.modules)) {
            sys.s_stable = diagram_stable_dist(in, sys, t.m, t.modules, t.top_negated, st.fast);
            // Numbers only, and a closed form too large to expand: the
            // numbers come from the stable route alone.
            if (numbers_only(req) && predicted_diagram_terms(sys, t.m, t.modules) > kClosedFormTermLimit) return;
        }
        // A tree out of exact reach is bounded at the request's time.
        sys.s_dist = fast_ftree_evaluate(in, sys, *st.fast, req.transient ? std::optional<double>(req.time) : std::nullopt);
        sys.has_dist = true;
        return;
    }
    if (!st.bdd) {
        if (in.settings.verbose) in.out.printf("  analyzing %s with bdd\n", sys.name.c_str());
        bind_k_n(in, sys, tm.root, kFatal);
        st.bdd = analyze_ftree_with_bdd(in, sys);
    } else if (in.settings.verbose) {
        in.out.printf("  using previous bdd analysis for %s\n", sys.name.c_str());
    }
    bind_tree_components(in, sys, req);
    // mttf reads the diagram and the component rates, not the distribution.
    if (is_listing(req.measure) || req.measure == Kw::Mttf) return;
    FtBddInfo& info = *st.bdd;
    std::vector<FtModule> whole{FtModule{info.root, info.listvar, 0}};
    if (!constant_events(sys, whole)) sys.s_stable = diagram_stable_dist(in, sys, info.m, std::move(whole), false, st.bdd);
    st.bdd->b_cdf = ftbdd_evaluate(in, sys, *st.bdd, st.bdd->root);
    sys.s_dist = st.bdd->b_cdf;
    sys.has_dist = true;
}

void analyze_without_bdd(AnalysisContext& in, SystemRecord& sys, RepeatedTreeState& st, AnalysisRequest& req) {
    TreeModel& tm = tree_model(sys);
    if (!sys.coherent) {
        in.out.write("To use not, nor, nand, or nkofn gates, leave bdd on.\n");
        in.err.error(210, kFatal, sys.name, true);
    }
    const Kw kw = req.measure;
    if (in.settings.use_factoring && kw != Kw::Pqcdf && kw != Kw::Mincuts && kw != Kw::Minpaths) {
        // Factoring evaluates the tree once for each of the 2^r states of
        // the repeated components; under a work cap that many evaluations
        // count like a factoring limit.
        const int repeats = count_repeated_components(sys);
        const double evaluations = std::ldexp(static_cast<double>(sys.nodes.size()), std::min(repeats, 1000));
        if (repeats <= in.settings.factorlimit && !beyond_work_limit(in.settings, evaluations)) {
            if (in.settings.verbose) in.out.printf("  analyzing %s without bdd, with factoring\n", sys.name.c_str());
            bind_tree_components(in, sys, req);
            sys.s_dist = analyze_ftree_with_factoring(in, sys);
            sys.has_dist = true;
            return;
        }
        in.out.printf("more than %d repeated components\n", in.settings.factorlimit);
        in.out.write("using GKG algorithm instead of factoring\n");
        in.out.write("to increase limit to n, say 'factorlimit n'\n");
    }
    if (tm.symbolic_kn) {
        st.has_minsum = st.has_cubes = false;
        st.minsum.clear();
        st.cubes.clear();
    }
    if (st.has_minsum && st.has_cubes) {
        if (in.settings.verbose) in.out.printf("  using previous minsum and cubes for %s\n", sys.name.c_str());
    } else {
        if (in.settings.verbose) in.out.printf("  analyzing %s without bdd, without factoring\n", sys.name.c_str());
        if (st.has_minsum) {
            if (in.settings.verbose) in.out.printf("  using previous minsum (cuts or paths) for %s\n", sys.name.c_str());
        } else {
            bind_k_n(in, sys, tm.root, kFatal);
            st.minsum = compute_minsum(in, sys);
            st.has_minsum = true;
        }
        if (kw != Kw::Mincuts && kw != Kw::Minpaths) {
            st.cubes = gkg_algorithm(in, sys, tm.map, st.minsum);
            st.has_cubes = true;
        }
    }
    bind_tree_components(in, sys, req);
    if (is_listing(kw)) return;
    if (!constant_components(sys, tm.map)) {
        sys.s_stable = disjoint_sum_dist(in, sys, tm.map, st.cubes);
        if (numbers_only(req) && predicted_cube_terms(sys, tm.map, st.cubes) > kClosedFormTermLimit) return;
    }
    sys.s_dist = form_exponomial(in, sys, tm.map, st.cubes);
    sys.has_dist = true;
}

}  // namespace

void analyze_repeated_ftree(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req) {
    TreeModel& tm = tree_model(sys);
    if (tm.root < 0) in.err.error(80, kFatal, sys.name, true);
    RepeatedTreeState& st = repeated_state(sys);
    sys.s_dist.clear();
    sys.has_dist = false;
    sys.s_stable.reset();
    if (in.settings.use_bdd)
        analyze_with_bdd(in, sys, st, req);
    else
        analyze_without_bdd(in, sys, st, req);
}

void print_repeated_listing(AnalysisContext& in, SystemRecord& sys, Kw kind) {
    RepeatedTreeState& st = repeated_state(sys);
    TreeModel& tm = tree_model(sys);
    // A cached analysis by another route may not have left what the listing reads.
    if (in.settings.use_bdd && !st.bdd) {
        bind_k_n(in, sys, tm.root, kFatal);
        st.bdd = analyze_ftree_with_bdd(in, sys);
    }
    if (!in.settings.use_bdd && !st.has_minsum && kind != Kw::Minpaths) {
        bind_k_n(in, sys, tm.root, kFatal);
        st.minsum = compute_minsum(in, sys);
        st.has_minsum = true;
    }
    if (!in.settings.use_bdd && kind == Kw::Pqcdf && !st.has_cubes) {
        st.cubes = gkg_algorithm(in, sys, tm.map, st.minsum);
        st.has_cubes = true;
    }
    if (in.settings.use_bdd) {
        if (kind == Kw::Mincuts) ftbdd_print_mincuts(in, sys, *st.bdd);
        if (kind == Kw::Minpaths) ftbdd_print_minpaths(in, sys, *st.bdd);
        if (kind == Kw::Pqcdf) ftbdd_print_p_q_form(in, sys, *st.bdd);
        return;
    }
    if (kind == Kw::Mincuts) print_mincuts(in, sys, st.minsum);
    if (kind == Kw::Minpaths) {
        bind_k_n(in, sys, tm.root, kFatal);
        print_mincuts(in, sys, compute_minpaths(in, sys));
    }
    if (kind == Kw::Pqcdf) print_p_q_form(in, sys, tm.map, st.cubes);
}

namespace {

// The depth-first diagram importance measures read; a request answered by
// the order-free route leaves none, so it is built on first use.
RepeatedTreeState& importance_state(AnalysisContext& in, SystemRecord& sys) {
    RepeatedTreeState& st = repeated_state(sys);
    if (!in.settings.use_bdd || (!st.bdd && !st.fast)) in.err.error(209, kFatal, sys.name, true);
    if (!st.bdd) {
        bind_k_n(in, sys, tree_model(sys).root, kFatal);
        st.bdd = analyze_ftree_with_bdd(in, sys);
    }
    return st;
}

}  // namespace

double repeated_importance(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call) {
    RepeatedTreeState& st = importance_state(in, sys);
    int comp = sys.names.find(call.second);
    if (comp < 0) in.err.error(35, kFatal, call.second, true);
    int rec = resolve_transfer(sys, comp);
    if (rec < 0) in.err.error(212, kFatal, format_string("node %s", call.second.c_str()), true);
    if (!is_risk_importance(call.kw)) return ftbdd_importance(in, sys, *st.bdd, rec, call.kw);
    bool undefined = false;
    const double value = repeated_importance_value(in, sys, rec, call.kw, undefined);
    if (undefined) in.out.write(importance_warning(call.kw));
    return value;
}

std::vector<int> repeated_ranked_components(const SystemRecord& sys) {
    std::vector<int> comps;
    const TreeModel* tm = find_tree_model(sys);
    if (!tm) return comps;
    for (int rec : tm->map)
        if (rec >= 0 && rec < static_cast<int>(sys.nodes.size())) comps.push_back(rec);
    return comps;
}

double repeated_importance_value(AnalysisContext& in, SystemRecord& sys, int rec, Kw kind, bool& undefined) {
    RepeatedTreeState& st = importance_state(in, sys);
    undefined = false;
    if (kind == Kw::Simpt) return ftbdd_importance(in, sys, *st.bdd, rec, kind);
    return cofactor_importance(kind, ftbdd_cofactor_probabilities(in, sys, *st.bdd, rec), undefined);
}

}  // namespace corvel
