// Solving a reliability graph for a request: the edges are bound, then the
// exact solution (decision diagram or disjoint products of the paths) fills
// the graph's unreliability. The listings and importance measures read the
// same kept results.

#include "combinatorial/relgraph_solve.h"

#include <cmath>
#include <cstdlib>

#include "combinatorial/relgraph_blocks.h"
#include "model/context.h"

namespace corvel {

RelgraphModel& relgraph_graph(AnalysisContext& in, SystemRecord& sys) {
    RelgraphModel* g = relgraph_model(sys);
    if (g == nullptr) in.err.error(94, kInternal, "", false);
    return *g;
}

RelgraphState& relgraph_state(SystemRecord& sys) {
    RelgraphModel* g = relgraph_model(sys);
    if (!g->state) g->state = std::make_shared<RelgraphState>();
    return *g->state;
}

RgBddInfo& relgraph_bdd(AnalysisContext& in, SystemRecord& sys) {
    RelgraphState& st = relgraph_state(sys);
    if (!st.rgbdd) st.rgbdd = rgbdd_generate(in, sys, relgraph_graph(in, sys));
    return *st.rgbdd;
}

namespace {

// The rate of 1 - e^(-l t), read from its two terms.
bool exponential_rate(const Exponomial& F, double& rate) {
    if (F.size() != 2) return false;
    const Term& c = F[0];
    const Term& d = F[1];
    if (c.e_xpower != 0 || c.e_b != 0.0 || std::fabs(c.e_a - 1.0) > 1e-11) return false;
    if (d.e_xpower != 0 || !(d.e_b < 0.0) || std::fabs(d.e_a + 1.0) > 1e-11 || d.e_b_complex != 0.0) return false;
    rate = -d.e_b;
    return true;
}

void bind_edges(AnalysisContext& in, SystemRecord& sys, const AnalysisRequest& req) {
    for (size_t i = 0; i < sys.edges.size(); ++i) {
        EdgeRecord& e = sys.edges[i];
        // Errors name the edge as ": edge A to B".
        const std::string& from = sys.names[e.from];
        const std::string& to = sys.names[e.to];
        in.dist_binder.bind_distribution(*e.udist, e.dist, kFatal, from, to);
        const bool steady = req.measure == Kw::Sysprob || req.measure == Kw::Ss_unavail;
        if (e.rudist) {
            // A repaired edge is down with its unavailability l/(l+m)(1 - e^(-(l+m)t)).
            in.dist_binder.bind_distribution(*e.rudist, e.rdist, kFatal, from, to);
            double l = 0.0, m = 0.0;
            if (!exponential_rate(e.dist, l) || !exponential_rate(e.rdist, m)) {
                in.out.write("Currently only exponential distribution is accepted.\n");
                in.err.exit_program(kExitFailure);
            }
            e.failure_rate = l;
            e.repair_rate = m;
            const double u = l / (l + m);
            if (steady) {
                e.dist = Exponomial::constant(u);
            } else if (req.measure != Kw::Mttf) {
                Exponomial F;
                insert_term(u, 0.0, 0, 0.0, 0.0, F, in.settings.tol);
                insert_term(-u, 0.0, 0, -(l + m), 0.0, F, in.settings.tol);
                e.dist = std::move(F);
            }
        } else if (steady) {
            e.dist = Exponomial::constant(lim_at_inf(e.dist, in.settings.tol));
        }
        if (req.transient) e.dist = Exponomial::constant(evaluate_expo(e.dist, req.time, in.settings.tol));
    }
}

bool is_listing(Kw kw) { return kw == Kw::Mincuts || kw == Kw::Minpaths || kw == Kw::Pqcdf; }

void solve_without_bdd(AnalysisContext& in, SystemRecord& sys, RelgraphState& st, Kw kw) {
    if (!st.has_paths) {
        st.paths = find_all_paths(sys, relgraph_graph(in, sys));
        st.has_paths = true;
    } else if (in.settings.verbose) {
        in.out.printf("  using previous minsum (cuts or paths) for %s\n", sys.name.c_str());
    }
    if (kw == Kw::Mincuts || kw == Kw::Minpaths) return;
    if (!st.has_cubes) {
        TermList terms;
        terms.reserve(st.paths.size());
        for (const RgPath& p : st.paths) terms.push_back(p.edges);
        st.cubes = gkg_cubes(in, sys.name, sys.edges.size(), terms);
        st.has_cubes = true;
    }
}

}  // namespace

void analyze_relgraph_system(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req) {
    relgraph_graph(in, sys);
    RelgraphState& st = relgraph_state(sys);
    bind_edges(in, sys, req);
    sys.s_dist.clear();
    sys.has_dist = false;
    const Kw kw = req.measure;
    if (kw == Kw::Lbound || kw == Kw::Ubound) return;
    if (in.settings.use_bdd || kw == Kw::Mttf) {
        if (!st.rgbdd) {
            if (in.settings.verbose) in.out.printf("  analyzing %s with bdd\n", sys.name.c_str());
        } else if (in.settings.verbose) {
            in.out.printf("  using previous bdd analysis for %s\n", sys.name.c_str());
        }
        RgBddInfo& info = relgraph_bdd(in, sys);
        if (is_listing(kw) || kw == Kw::Mttf) return;
        info.b_cdf = rgbdd_evaluate(in, sys, info, info.root);
        sys.s_dist = info.b_cdf;
    } else {
        if (in.settings.verbose) in.out.printf("  analyzing %s without bdd\n", sys.name.c_str());
        solve_without_bdd(in, sys, st, kw);
        if (is_listing(kw)) return;
        sys.s_dist = relgraph_paths_exponomial(in, sys, st.cubes);
    }
    sys.has_dist = true;
}

void print_relgraph_listing(AnalysisContext& in, SystemRecord& sys, Kw kind) {
    RelgraphState& st = relgraph_state(sys);
    if (in.settings.use_bdd || kind == Kw::Mincuts) {
        // Cut sets of a graph come from its decision diagram.
        RgBddInfo& info = relgraph_bdd(in, sys);
        if (kind == Kw::Mincuts) rgbdd_print_mincuts(in, sys, info);
        if (kind == Kw::Minpaths) rgbdd_print_minpaths(in, sys, info);
        if (kind == Kw::Pqcdf) rgbdd_print_p_q_form(in, sys, info);
        return;
    }
    solve_without_bdd(in, sys, st, kind);
    if (kind == Kw::Minpaths) {
        for (const RgPath& p : st.paths) {
            std::string line = "{";
            for (size_t i = 0; i < p.edges.size(); ++i) {
                const EdgeRecord& e = sys.edges[static_cast<size_t>(p.edges[i])];
                const int a = p.back[i] ? e.to : e.from, b = p.back[i] ? e.from : e.to;
                if (i) line += ", ";
                line += sys.names[a] + "->" + sys.names[b];
            }
            in.out.write(line + "}\n");
        }
        in.out.write("\n");
        return;
    }
    in.out.write("1 - (");
    write_p_q_cubes(
        in, st.cubes,
        [&](size_t p) {
            const EdgeRecord& e = sys.edges[p];
            return format_string("%d:%s,%s", static_cast<int>(p), sys.names[e.from].c_str(), sys.names[e.to].c_str());
        },
        'P', 'Q');
    in.out.write(")\n\n");
}

double relgraph_importance(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call) {
    // An edge is named by its number, as the listings show it.
    char* end = nullptr;
    const long e = std::strtol(call.second.c_str(), &end, 10);
    if (call.second.empty() || *end != '\0' || e < 0 || e >= static_cast<long>(sys.edges.size()))
        in.err.error(35, kFatal, call.second, true);
    if (!is_risk_importance(call.kw)) return rgbdd_importance(in, sys, relgraph_bdd(in, sys), static_cast<int>(e), call.kw);
    bool undefined = false;
    const double value = relgraph_importance_value(in, sys, static_cast<int>(e), call.kw, undefined);
    if (undefined) in.out.write(importance_warning(call.kw));
    return value;
}

std::vector<int> relgraph_ranked_components(const SystemRecord& sys) {
    std::vector<int> edges;
    for (int e = 0; e < static_cast<int>(sys.edges.size()); ++e)
        if (owner_edge(sys, e) == e) edges.push_back(e);
    return edges;
}

double relgraph_importance_value(AnalysisContext& in, SystemRecord& sys, int e, Kw kind, bool& undefined) {
    undefined = false;
    RgBddInfo& info = relgraph_bdd(in, sys);
    if (kind == Kw::Simpt) return rgbdd_importance(in, sys, info, e, kind);
    return cofactor_importance(kind, rgbdd_cofactor_probabilities(in, sys, info, e), undefined);
}

}  // namespace corvel
