#include "combinatorial/relgraph_bdd.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

#include "combinatorial/relgraph_blocks.h"
#include "model/context.h"

namespace corvel {

RgBddInfo::RgBddInfo() : m(bdd_init()) {}
RgBddInfo::~RgBddInfo() { bdd_quit(m); }

int RgBddInfo::edge_of(bdd f) const { return id_edge[static_cast<size_t>(bdd_if_id(m, f) - 1)]; }

int owner_edge(const SystemRecord& sys, int e) {
    const EdgeRecord& rec = sys.edges[static_cast<size_t>(e)];
    return rec.is_repeat ? rec.repeat : e;
}

std::string rg_edge_label(const SystemRecord& sys, int e) {
    const EdgeRecord& rec = sys.edges[static_cast<size_t>(e)];
    return format_string("(%d:%s->%s)", e, sys.names[rec.from].c_str(), sys.names[rec.to].c_str());
}

namespace {

// A variable is made when an edge is first met; each new one goes to the top
// of the order.
bdd edge_variable(const SystemRecord& sys, RgBddInfo& info, int e) {
    const int owner = owner_edge(sys, e);
    bdd& v = info.edge[static_cast<size_t>(owner)];
    if (v == kBddNull) {
        v = bdd_new_var_first(info.m);
        info.id_edge.push_back(owner);
    }
    info.edge[static_cast<size_t>(e)] = v;
    return v;
}

bdd or_into(BddManager* m, bdd acc, bdd term) {
    bdd r = bdd_or(m, acc, term);
    bdd_free(m, acc);
    return r;
}

// Enumerates the simple paths from `start` depth first. Each frame carries
// the conjunction of the edges on the path so far (built from the source
// edge upward, so each new variable lands above it and a long chain costs
// linear work) and the OR of the complete paths found below it, which is
// handed to the parent frame when the node is left.
void paths_from(AnalysisContext& in, const SystemRecord& sys, const RelgraphModel& g, RgBddInfo& info, int start,
                std::vector<char>& on_path) {
    BddManager* m = info.m;
    struct Frame {
        int node;
        size_t next;
        bdd prefix;
        bdd found;
    };
    const bool verbose = in.settings.verbose;
    auto checked = [&](bdd f) {
        if (f == kBddNull) in.err.error(150, kInternal, "s_rgbdd for BDD", false);
        return f;
    };
    std::vector<Frame> stack;
    stack.push_back({start, 0, bdd_identity(m, bdd_one(m)), bdd_identity(m, bdd_zero(m))});
    on_path[static_cast<size_t>(start)] = 1;
    auto print_path = [&](int last) {
        std::string line;
        for (const Frame& f : stack) line += sys.names[f.node] + "->";
        line += sys.names[last] + "\n";
        in.out.write(line);
    };
    for (;;) {
        Frame& f = stack.back();
        const auto& links = g.succ[static_cast<size_t>(f.node)];
        if (f.next < links.size()) {
            const RelgraphLink& link = links[f.next++];
            const EdgeRecord& e = sys.edges[static_cast<size_t>(link.edge)];
            const int w = link.back ? e.from : e.to;
            if (on_path[static_cast<size_t>(w)]) continue;
            bdd var = edge_variable(sys, info, link.edge);
            bdd p = checked(bdd_and(m, f.prefix, var));
            if (g.succ[static_cast<size_t>(w)].empty()) {
                f.found = checked(or_into(m, f.found, p));
                bdd_free(m, p);
                ++info.paths;
                if (verbose) print_path(w);
            } else {
                on_path[static_cast<size_t>(w)] = 1;
                stack.push_back({w, 0, p, bdd_identity(m, bdd_zero(m))});
            }
            continue;
        }
        on_path[static_cast<size_t>(f.node)] = 0;
        bdd_free(m, f.prefix);
        const bdd found = f.found;
        stack.pop_back();
        if (stack.empty()) {
            info.root = checked(or_into(m, info.root, found));
            bdd_free(m, found);
            return;
        }
        Frame& parent = stack.back();
        if (found != bdd_zero(m)) parent.found = checked(or_into(m, parent.found, found));
        bdd_free(m, found);
    }
}

}  // namespace

std::unique_ptr<RgBddInfo> rgbdd_generate(AnalysisContext& in, SystemRecord& sys, const RelgraphModel& g) {
    long distinct = 0;
    for (size_t e = 0; e < sys.edges.size(); ++e)
        if (!sys.edges[e].is_repeat) ++distinct;
    if (distinct > kMaxRelgraphVariables)
        in.err.error(150, kInternal,
                     format_string("s_rgbdd for BDD (%ld edges, at most %ld)", distinct, kMaxRelgraphVariables), false);
    auto info = std::make_unique<RgBddInfo>();
    if (in.settings.work_limit >= 0) bdd_node_limit(info->m, std::max(1L, in.settings.work_limit));
    BddManager* m = info->m;
    info->edge.assign(sys.edges.size(), kBddNull);
    info->root = bdd_identity(m, bdd_zero(m));
    const bool verbose = in.settings.verbose;
    if (verbose) in.out.printf("===========paths in relgraph %s===========\n", sys.name.c_str());
    std::vector<char> on_path(g.succ.size(), 0);
    for (size_t v = 0; v < g.pred.size(); ++v)
        if (g.pred[v].empty()) paths_from(in, sys, g, *info, static_cast<int>(v), on_path);
    for (size_t e = 0; e < sys.edges.size(); ++e) edge_variable(sys, *info, static_cast<int>(e));
    bdd_gc(m);
    if (verbose) {
        in.out.write("=============================================\n");
        in.out.printf("total paths in the relgraph: %ld\n", info->paths);
        in.out.printf("===========paths in relgraph %s===========\n", sys.name.c_str());
    }
    if (in.settings.debug[kDebugRelgraph]) {
        in.out.write("BDD Statistics:\n");
        in.out.printf("Size of BDD for Tree = %ld\n", bdd_size(m, info->root, 0));
        in.out.write(bdd_stats(m));
        in.out.write("========= bdd tree\n");
        const RgBddInfo& i = *info;
        bdd_print_bdd(
            m, info->root,
            [&](long pos) {
                bdd v = bdd_var_with_index(i.m, pos);
                return v == kBddNull ? std::string("?") : rg_edge_label(sys, i.edge_of(v));
            },
            [&](const std::string& text) { in.out.write(text); });
    }
    return info;
}

Exponomial rgbdd_evaluate(AnalysisContext& in, const SystemRecord& sys, const RgBddInfo& info, bdd f) {
    BddManager* m = info.m;
    const Tolerances& tol = in.settings.tol;
    std::unordered_map<bdd, Exponomial> value;  // P(down) of each regular node
    auto down = [&](bdd h) -> Exponomial {
        if (bdd_is_constant(m, h)) return Exponomial::constant(h == bdd_one(m) ? 0.0 : 1.0);
        Exponomial v = value.at(bdd_regular(h));
        if (bdd_is_complemented(h)) negate_and_add_scalar(v, 1.0, tol);
        return v;
    };
    if (bdd_is_constant(m, f)) return down(f);
    std::vector<std::pair<bdd, bool>> stack{{bdd_regular(f), false}};
    while (!stack.empty()) {
        auto [h, expanded] = stack.back();
        stack.pop_back();
        if (value.count(h)) continue;
        bdd hi = bdd_then(m, h), lo = bdd_else(m, h);
        if (!expanded) {
            stack.push_back({h, true});
            if (!bdd_is_constant(m, hi) && !value.count(bdd_regular(hi))) stack.push_back({bdd_regular(hi), false});
            if (!bdd_is_constant(m, lo) && !value.count(bdd_regular(lo))) stack.push_back({bdd_regular(lo), false});
            continue;
        }
        Exponomial L = down(lo), R = down(hi);
        const Exponomial& F = sys.edges[static_cast<size_t>(info.edge_of(h))].dist;
        // F·(L − R) + R
        Exponomial diff = L;
        subtract_expos(R, diff, tol);
        Exponomial out = R;
        multiply_expos(F, diff, out, tol);
        value.emplace(h, std::move(out));
    }
    return down(f);
}

namespace {

double first_coefficient(const Exponomial& F) { return F.empty() ? 0.0 : F[0].e_a; }

}  // namespace

double rgbdd_importance(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info, int e, Kw kind) {
    BddManager* m = info.m;
    bdd x = info.edge[static_cast<size_t>(owner_edge(sys, e))];
    if (x == kBddNull) return 0.0;
    bdd up = bdd_cofactor(m, info.root, x);
    bdd nx = bdd_not(m, x);
    bdd dn = bdd_cofactor(m, info.root, nx);
    double result = 0.0;
    if (kind == Kw::Simpt) {
        // Every edge working with probability one half: Q(down) − Q(up).
        result = bdd_satisfying_fraction(m, up) - bdd_satisfying_fraction(m, dn);
    } else {
        result = first_coefficient(rgbdd_evaluate(in, sys, info, dn)) - first_coefficient(rgbdd_evaluate(in, sys, info, up));
        if (kind == Kw::Cimpt) {
            const double top = first_coefficient(rgbdd_evaluate(in, sys, info, info.root));
            const double p = first_coefficient(sys.edges[static_cast<size_t>(e)].dist);
            if (top == 0.0) {
                in.out.write("Warning: no criticality importance measurs at this time point\n");
                result = 0.0;
            } else {
                result = result * p / top;
            }
        }
    }
    bdd_free(m, up);
    bdd_free(m, dn);
    bdd_free(m, nx);
    return result;
}

CofactorProbabilities rgbdd_cofactor_probabilities(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info, int e) {
    BddManager* m = info.m;
    CofactorProbabilities c;
    c.q = first_coefficient(rgbdd_evaluate(in, sys, info, info.root));
    c.p = first_coefficient(sys.edges[static_cast<size_t>(e)].dist);
    const bdd x = info.edge[static_cast<size_t>(owner_edge(sys, e))];
    if (x == kBddNull) {
        c.q1 = c.q0 = c.q;
        return c;
    }
    // The variable is true while the edge works.
    bdd up = bdd_cofactor(m, info.root, x);
    bdd nx = bdd_not(m, x);
    bdd dn = bdd_cofactor(m, info.root, nx);
    c.q1 = first_coefficient(rgbdd_evaluate(in, sys, info, dn));
    c.q0 = first_coefficient(rgbdd_evaluate(in, sys, info, up));
    bdd_free(m, up);
    bdd_free(m, dn);
    bdd_free(m, nx);
    return c;
}

namespace {

// Depth first over f, else-branch first, with each owning edge's state on
// the path (1 then, −1 else); `reach(terminal_is_one, via_then)` at every
// terminal. Handles from then/else carry the complement, so a terminal is
// read directly.
void walk_paths(const RgBddInfo& info, bdd f, std::vector<int>& state, const std::function<void(bool, bool)>& reach) {
    BddManager* m = info.m;
    struct Frame {
        bdd node;
        int stage;
    };
    if (bdd_is_constant(m, f)) return;
    std::vector<Frame> stack{{f, 0}};
    while (!stack.empty()) {
        Frame& fr = stack.back();
        const int e = info.edge_of(fr.node);
        if (fr.stage == 2) {
            state[static_cast<size_t>(e)] = 0;
            stack.pop_back();
            continue;
        }
        const bool then_side = fr.stage == 1;
        ++fr.stage;
        state[static_cast<size_t>(e)] = then_side ? 1 : -1;
        bdd child = then_side ? bdd_then(m, fr.node) : bdd_else(m, fr.node);
        if (bdd_is_constant(m, child)) {
            reach(child == bdd_one(m), then_side);
            continue;
        }
        stack.push_back({child, 0});
    }
}

std::string arrow_name(const SystemRecord& sys, int e) {
    const EdgeRecord& rec = sys.edges[static_cast<size_t>(e)];
    return sys.names[rec.from] + "->" + sys.names[rec.to];
}

// Cut sets (mode 0: the failing edges that bring the graph down) or path
// sets (mode 1: the working edges that keep it up), edges in edge order.
void print_sets(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info, int mode) {
    BddManager* m = info.m;
    bdd s = bdd_minsol(m, info.root, mode);
    if (s == kBddNull) in.err.error(150, kInternal, "s_rgbdd for BDD", false);
    if (in.settings.debug[kDebugRelgraph]) {
        in.out.printf(mode == 0 ? "Size of minimal BDD (C) for Tree = %ld\n" : "Size of minimal BDD (P) for Tree = %ld\n",
                      bdd_size(m, s, 0));
        bdd_print_bdd(
            m, s,
            [&](long pos) {
                bdd v = bdd_var_with_index(m, pos);
                return v == kBddNull ? std::string("?") : rg_edge_label(sys, info.edge_of(v));
            },
            [&](const std::string& text) { in.out.write(text); });
    }
    std::vector<int> state(sys.edges.size(), 0);
    bool first = true;
    const int want = mode == 0 ? -1 : 1;
    walk_paths(info, s, state, [&](bool one, bool via_then) {
        const bool hit = mode == 0 ? (!one && !via_then) : (one && via_then);
        if (!hit) return;
        std::string line = first ? "{" : "\n{";
        first = false;
        bool first_edge = true;
        for (size_t e = 0; e < state.size(); ++e) {
            if (state[e] != want) continue;
            if (!first_edge) line += ", ";
            first_edge = false;
            line += arrow_name(sys, static_cast<int>(e));
        }
        in.out.write(line + "}");
    });
    in.out.write("\n\n");
    bdd_free(m, s);
}

}  // namespace

void rgbdd_print_mincuts(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info) { print_sets(in, sys, info, 0); }
void rgbdd_print_minpaths(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info) { print_sets(in, sys, info, 1); }

void rgbdd_print_p_q_form(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info) {
    std::vector<int> state(sys.edges.size(), 0);
    bool first = true;
    walk_paths(info, info.root, state, [&](bool one, bool) {
        if (!one) return;
        std::string line = first ? "[" : " +\n[";
        first = false;
        bool first_factor = true;
        for (size_t e = 0; e < state.size(); ++e) {
            if (state[e] == 0) continue;
            if (!first_factor) line += "*";
            first_factor = false;
            const EdgeRecord& rec = sys.edges[e];
            line += format_string("%c(%d:%s,%s)", state[e] == 1 ? 'P' : 'Q', static_cast<int>(e),
                                  sys.names[rec.from].c_str(), sys.names[rec.to].c_str());
        }
        in.out.write(line + "]");
    });
    in.out.write("\n\n");
}

}  // namespace corvel
