#include "combinatorial/relgraph_solve.h"

#include <cmath>
#include <unordered_map>
#include <vector>

#include "bdd/bdd.h"
#include "combinatorial/relgraph_blocks.h"
#include "interp/interpreter.h"

namespace corvel {

namespace {

// Owns one manager for the length of an analysis.
struct Manager {
    BddManager* m = bdd_init();
    ~Manager() { bdd_quit(m); }
};

struct PathBdd {
    bdd root = kBddNull;
    std::vector<int> var_edge;  // variable identifier - 1 -> edge index
    std::vector<bdd> edge_var;  // edge index -> its variable (repeats share)
};

bdd edge_variable(BddManager* m, const SystemRecord& sys, PathBdd& pb, int edge) {
    int owner = sys.edges[static_cast<size_t>(edge)].is_repeat ? sys.edges[static_cast<size_t>(edge)].repeat : edge;
    bdd& v = pb.edge_var[static_cast<size_t>(owner)];
    if (v == kBddNull) {
        v = bdd_new_var_first(m);
        pb.var_edge.push_back(owner);
    }
    return v;
}

// The BDD of the event that a working path leads from `start` to a sink,
// over the simple paths from start. Each frame holds the OR of the terms of
// its node so far; a finished frame hands its BDD to its parent, which ANDs
// it with the edge variable it came through.
bdd paths_from(BddManager* m, const SystemRecord& sys, const RelgraphModel& g, PathBdd& pb, int start) {
    struct Frame {
        int node;
        size_t next = 0;  // next successor entry
        bdd acc;
        bdd via = kBddNull;  // variable of the edge into this node
    };
    std::vector<char> on_path(g.succ.size(), 0);
    std::vector<Frame> stack;
    stack.push_back({start, 0, bdd_identity(m, bdd_zero(m)), kBddNull});
    on_path[static_cast<size_t>(start)] = 1;
    for (;;) {
        Frame& f = stack.back();
        const auto& links = g.succ[static_cast<size_t>(f.node)];
        if (f.next < links.size()) {
            const RelgraphLink& link = links[f.next++];
            const EdgeRecord& e = sys.edges[static_cast<size_t>(link.edge)];
            int w = link.back ? e.from : e.to;
            if (on_path[static_cast<size_t>(w)]) continue;
            bdd var = edge_variable(m, sys, pb, link.edge);
            if (g.succ[static_cast<size_t>(w)].empty()) {
                bdd r = bdd_or(m, f.acc, var);
                bdd_free(m, f.acc);
                f.acc = r;
            } else {
                on_path[static_cast<size_t>(w)] = 1;
                stack.push_back({w, 0, bdd_identity(m, bdd_zero(m)), var});
            }
            continue;
        }
        on_path[static_cast<size_t>(f.node)] = 0;
        bdd done = f.acc, via = f.via;
        stack.pop_back();
        if (stack.empty()) return done;
        Frame& parent = stack.back();
        if (done != bdd_zero(m)) {
            bdd term = bdd_and(m, via, done);
            bdd r = bdd_or(m, parent.acc, term);
            bdd_free(m, term);
            bdd_free(m, parent.acc);
            parent.acc = r;
        }
        bdd_free(m, done);
    }
}

// Failure probability of the graph: a variable 1 means the edge works; the
// terminal "graph down" is 1. Regular nodes only, children from the regular
// node, complement applied once per edge; post-order with an explicit stack.
Exponomial evaluate(BddManager* m, const SystemRecord& sys, const PathBdd& pb, bdd root, const Tolerances& tol) {
    std::unordered_map<bdd, Exponomial> value;  // P(graph down) of the regular node
    auto down = [&](bdd f) -> Exponomial {
        // value of f as a handle (complement flips working and failed)
        Exponomial v;
        if (bdd_is_constant(m, f)) return Exponomial::constant(f == bdd_one(m) ? 0.0 : 1.0);
        v = value.at(bdd_regular(f));
        if (bdd_is_complemented(f)) negate_and_add_scalar(v, 1.0, tol);
        return v;
    };
    if (bdd_is_constant(m, root)) return down(root);
    std::vector<std::pair<bdd, bool>> stack{{bdd_regular(root), false}};
    while (!stack.empty()) {
        auto [f, expanded] = stack.back();
        stack.pop_back();
        if (value.count(f)) continue;
        bdd hi = bdd_then(m, f), lo = bdd_else(m, f);
        if (!expanded) {
            stack.push_back({f, true});
            if (!bdd_is_constant(m, hi) && !value.count(bdd_regular(hi))) stack.push_back({bdd_regular(hi), false});
            if (!bdd_is_constant(m, lo) && !value.count(bdd_regular(lo))) stack.push_back({bdd_regular(lo), false});
            continue;
        }
        Exponomial L = down(lo), R = down(hi);
        int edge = pb.var_edge[static_cast<size_t>(bdd_if_id(m, f) - 1)];
        const Exponomial& F = sys.edges[static_cast<size_t>(edge)].dist;
        // F·(L − R) + R
        Exponomial diff = L;
        subtract_expos(R, diff, tol);
        Exponomial out = R;
        multiply_expos(F, diff, out, tol);
        value.emplace(f, std::move(out));
    }
    return down(root);
}

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

void bind_edges(Interpreter& in, SystemRecord& sys, const AnalysisRequest& req) {
    for (size_t i = 0; i < sys.edges.size(); ++i) {
        EdgeRecord& e = sys.edges[i];
        const std::string where = sys.names[e.from] + "->" + sys.names[e.to];
        in.dist_binder.bind_distribution(*e.udist, e.dist, kFatal, where, "");
        const bool steady = req.measure == Kw::Sysprob || req.measure == Kw::Ss_unavail;
        if (e.rudist) {
            // A repaired edge is down with its unavailability l/(l+m)(1 - e^(-(l+m)t)).
            in.dist_binder.bind_distribution(*e.rudist, e.rdist, kFatal, where, "");
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

}  // namespace

void analyze_relgraph_system(Interpreter& in, SystemRecord& sys, AnalysisRequest& req) {
    RelgraphModel* g = relgraph_model(sys);
    if (g == nullptr) in.err.error(94, kInternal, "", false);
    if (in.settings.verbose) in.out.printf("  analyzing %s with bdd\n", sys.name.c_str());
    bind_edges(in, sys, req);
    Manager mgr;
    PathBdd pb;
    pb.edge_var.assign(sys.edges.size(), kBddNull);
    pb.root = bdd_identity(mgr.m, bdd_zero(mgr.m));
    for (size_t v = 0; v < g->pred.size(); ++v) {
        if (!g->pred[v].empty() || g->succ[v].empty()) continue;
        bdd b = paths_from(mgr.m, sys, *g, pb, static_cast<int>(v));
        bdd r = bdd_or(mgr.m, pb.root, b);
        bdd_free(mgr.m, b);
        bdd_free(mgr.m, pb.root);
        pb.root = r;
    }
    if (pb.root == kBddNull) in.err.error(150, kInternal, "s_rgbdd for BDD", false);
    sys.s_dist = evaluate(mgr.m, sys, pb, pb.root, in.settings.tol);
    sys.has_dist = true;
}

}  // namespace corvel
