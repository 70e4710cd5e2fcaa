#include "combinatorial/relgraph_bounds.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <set>
#include <unordered_map>

#include "bdd/bdd.h"
#include "bdd/bdd_walk.h"
#include "combinatorial/relgraph_bdd.h"
#include "combinatorial/relgraph_blocks.h"
#include "combinatorial/relgraph_solve.h"
#include "model/context.h"

namespace corvel {

BoundParams bound_params(const AnalysisContext& in, Kw kind) {
    const Settings& s = in.settings;
    BoundParams p;
    const long limit = kind == Kw::Ubound ? s.pathnum : s.cutnum;
    const double factor = kind == Kw::Ubound ? s.alpha : s.beta;
    p.limit = limit > 0 ? limit : 1000;
    p.user_factor = factor >= 0.0;
    p.factor = p.user_factor ? factor : 0.05;
    p.check_time = s.runtime > 0;
    p.seconds = s.runtime > 0 ? static_cast<double>(s.runtime) : 60.0;
    return p;
}

namespace {

constexpr double kHuge = 1e99;
constexpr double kTiny = 1e-99;
constexpr size_t kCutStackLimit = 5000;

using Clock = std::chrono::steady_clock;

// The graph the bounds search: the relgraph's nodes, plus a virtual source
// and sink when there are several, joined by arcs of edge -1 that never fail.
struct SearchGraph {
    struct Arc {
        int from, to, edge;
    };
    int nodes = 0, source = -1, target = -1;
    std::vector<Arc> arcs;
    std::vector<std::vector<int>> out;

    void add(int from, int to, int edge) {
        out[static_cast<size_t>(from)].push_back(static_cast<int>(arcs.size()));
        arcs.push_back({from, to, edge});
    }
};

SearchGraph make_search_graph(const SystemRecord& sys, const RelgraphModel& g) {
    SearchGraph sg;
    const int n = static_cast<int>(g.succ.size());
    std::vector<int> sources, sinks;
    for (int v = 0; v < n; ++v) {
        if (g.pred[static_cast<size_t>(v)].empty()) sources.push_back(v);
        if (g.succ[static_cast<size_t>(v)].empty()) sinks.push_back(v);
    }
    sg.nodes = n;
    sg.source = sources.size() == 1 ? sources[0] : sg.nodes++;
    sg.target = sinks.size() == 1 ? sinks[0] : sg.nodes++;
    sg.out.assign(static_cast<size_t>(sg.nodes), {});
    for (int v = 0; v < n; ++v)
        for (const RelgraphLink& link : g.succ[static_cast<size_t>(v)]) {
            const EdgeRecord& e = sys.edges[static_cast<size_t>(link.edge)];
            sg.add(v, link.back ? e.from : e.to, link.edge);
        }
    if (sources.size() != 1)
        for (int s : sources) sg.add(sg.source, s, -1);
    if (sinks.size() != 1)
        for (int t : sinks) sg.add(t, sg.target, -1);
    return sg;
}

// One bound computation: its manager and the edges' functions.
struct BoundRun {
    AnalysisContext& in;
    const SystemRecord& sys;
    SearchGraph sg;
    BoundParams params;
    Clock::time_point start = Clock::now();
    BddManager* m = bdd_init();
    std::vector<double> p;        // per edge: failure probability at t
    std::vector<bdd> fn;          // per edge: works (variable or constant)
    std::vector<int> id_edge;     // variable identifier - 1 -> owning edge

    BoundRun(AnalysisContext& i, const SystemRecord& s, SearchGraph g, BoundParams bp)
        : in(i), sys(s), sg(std::move(g)), params(bp) {}
    ~BoundRun() { bdd_quit(m); }
    BoundRun(const BoundRun&) = delete;
    BoundRun& operator=(const BoundRun&) = delete;

    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
    bool out_of_time() const { return elapsed() > params.seconds; }

    void check(bdd f) {
        if (f == kBddNull) in.err.error(150, kInternal, "PathEval", false);
    }

    // Variables in node order and, within a node, in successor-list order.
    void order(const RelgraphModel& g) {
        const size_t ne = sys.edges.size();
        p.assign(ne, 0.0);
        fn.assign(ne, kBddNull);
        long vars = 0;
        for (size_t e = 0; e < ne; ++e) {
            const Exponomial& F = sys.edges[e].dist;
            p[e] = F.empty() ? 0.0 : F[0].e_a;
            if (!sys.edges[e].is_repeat && p[e] > kTiny && p[e] < 1.0) ++vars;
        }
        if (vars > kMaxRelgraphVariables)
            in.err.error(150, kInternal, format_string("BDDInit (%ld edges, at most %ld)", vars, kMaxRelgraphVariables),
                         false);
        for (const auto& links : g.succ)
            for (const RelgraphLink& link : links) {
                const int owner = owner_edge(sys, link.edge);
                if (fn[static_cast<size_t>(owner)] != kBddNull) continue;
                const double q = p[static_cast<size_t>(owner)];
                if (q <= kTiny) {
                    fn[static_cast<size_t>(owner)] = bdd_one(m);
                } else if (q >= 1.0) {
                    fn[static_cast<size_t>(owner)] = bdd_zero(m);
                } else {
                    fn[static_cast<size_t>(owner)] = bdd_new_var_last(m);
                    id_edge.push_back(owner);
                }
            }
        for (size_t e = 0; e < ne; ++e) fn[e] = fn[static_cast<size_t>(owner_edge(sys, static_cast<int>(e)))];
    }

    bdd edge_fn(int arc) const {
        const int e = sg.arcs[static_cast<size_t>(arc)].edge;
        return e < 0 ? bdd_one(m) : fn[static_cast<size_t>(e)];
    }

    // P(f true), each variable true (its edge working) with 1 − p.
    double value(bdd f) const {
        if (bdd_is_constant(m, f)) return f == bdd_one(m) ? 1.0 : 0.0;
        std::unordered_map<bdd, double> memo;
        auto of = [&](bdd h) {
            if (bdd_is_constant(m, h)) return h == bdd_one(m) ? 1.0 : 0.0;
            const double v = memo.at(bdd_regular(h));
            return bdd_is_complemented(h) ? 1.0 - v : v;
        };
        bdd_walk_bottom_up(m, f, [&](bdd h) {
            const bdd hi = bdd_then(m, h), lo = bdd_else(m, h);
            const double q = p[static_cast<size_t>(id_edge[static_cast<size_t>(bdd_if_id(m, h) - 1)])];
            memo.emplace(h, q * of(lo) + (1.0 - q) * of(hi));
        });
        return of(f);
    }

    // P(f | the literals of `cube`), 0 when the cube cannot hold.
    double conditional(bdd f, bdd cube) {
        if (cube == bdd_zero(m)) return 0.0;
        bdd c = bdd_cofactor(m, f, cube);
        check(c);
        const double v = value(c);
        bdd_free(m, c);
        return v;
    }

    std::string arc_text(int arc) const {
        const SearchGraph::Arc& a = sg.arcs[static_cast<size_t>(arc)];
        return sys.names[a.from] + "-" + sys.names[a.to] + "  ";
    }
    void print_arcs(const std::vector<int>& arcs) const {
        std::string line = "  ";
        for (int a : arcs)
            if (sg.arcs[static_cast<size_t>(a)].edge >= 0) line += arc_text(a);
        in.out.write(line + "\n");
    }
};

// ------------------------------------------------------------------ path candidates

// Dijkstra's shortest paths by −ln(1 − p); every edge of a path found is
// then blocked, so successive paths share no edge.
struct ShortestPaths {
    BoundRun& run;
    std::vector<double> weight;  // per edge
    bool done = false;

    explicit ShortestPaths(BoundRun& r) : run(r) {
        for (double q : run.p) {
            const double up = 1.0 - q;
            weight.push_back(up <= 0.0 ? kHuge : up >= 1.0 ? 0.0 : -std::log(up));
        }
    }

    double arc_weight(int arc) const {
        const int e = run.sg.arcs[static_cast<size_t>(arc)].edge;
        return e < 0 ? 0.0 : weight[static_cast<size_t>(e)];
    }

    bool next(std::vector<int>& path) {
        if (done) return false;
        const SearchGraph& sg = run.sg;
        std::vector<double> dist(static_cast<size_t>(sg.nodes), kHuge * 4);
        std::vector<int> via(static_cast<size_t>(sg.nodes), -1);
        std::vector<char> settled(static_cast<size_t>(sg.nodes), 0);
        // Smallest distance first, the first node of equal ones.
        using Item = std::pair<double, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
        dist[static_cast<size_t>(sg.source)] = 0.0;
        queue.push({0.0, sg.source});
        while (!queue.empty()) {
            auto [d, u] = queue.top();
            queue.pop();
            if (settled[static_cast<size_t>(u)]) continue;
            settled[static_cast<size_t>(u)] = 1;
            if (u == sg.target) break;
            for (int a : sg.out[static_cast<size_t>(u)]) {
                const int w = sg.arcs[static_cast<size_t>(a)].to;
                const double nd = d + arc_weight(a);
                if (nd < dist[static_cast<size_t>(w)]) {
                    dist[static_cast<size_t>(w)] = nd;
                    via[static_cast<size_t>(w)] = a;
                    queue.push({nd, w});
                }
            }
        }
        const double dt = dist[static_cast<size_t>(sg.target)];
        if (!(2.0 * dt < kHuge)) {
            done = true;
            return false;
        }
        path.clear();
        for (int v = sg.target; v != sg.source;) {
            const int a = via[static_cast<size_t>(v)];
            path.push_back(a);
            v = sg.arcs[static_cast<size_t>(a)].from;
        }
        std::reverse(path.begin(), path.end());
        for (int a : path) {
            const int e = sg.arcs[static_cast<size_t>(a)].edge;
            if (e >= 0) weight[static_cast<size_t>(e)] = kHuge;
        }
        return true;
    }
};

// Every simple source-target path, depth first with an explicit stack,
// resumed at each call; gives up when the time limit has passed.
struct AllPaths {
    BoundRun& run;
    struct Frame {
        int node;
        size_t next;
        int arc;
    };
    std::vector<Frame> stack;
    std::vector<char> on_path;
    bool done = false;

    explicit AllPaths(BoundRun& r) : run(r), on_path(static_cast<size_t>(r.sg.nodes), 0) {
        stack.push_back({r.sg.source, 0, -1});
        on_path[static_cast<size_t>(r.sg.source)] = 1;
    }

    bool next(std::vector<int>& path) {
        const SearchGraph& sg = run.sg;
        long steps = 0;
        while (!done && !stack.empty()) {
            if ((++steps & 4095) == 0 && run.out_of_time()) break;
            Frame& f = stack.back();
            const auto& out = sg.out[static_cast<size_t>(f.node)];
            if (f.next >= out.size()) {
                on_path[static_cast<size_t>(f.node)] = 0;
                stack.pop_back();
                continue;
            }
            const int a = out[f.next++];
            const int w = sg.arcs[static_cast<size_t>(a)].to;
            if (on_path[static_cast<size_t>(w)]) continue;
            if (w == sg.target) {
                path.clear();
                for (size_t i = 1; i < stack.size(); ++i) path.push_back(stack[i].arc);
                path.push_back(a);
                return true;
            }
            on_path[static_cast<size_t>(w)] = 1;
            stack.push_back({w, 0, a});
        }
        done = true;
        return false;
    }
};

// ------------------------------------------------------------------ cut candidates

// Successive minimum cuts by −ln p: a maximum flow by breadth-first
// augmenting paths, the saturated edges leaving the nodes still reachable,
// then the cut's largest capacity raised so that the next cut differs.
struct MinimumCuts {
    BoundRun& run;
    std::vector<double> capacity;  // per edge
    bool done = false;

    explicit MinimumCuts(BoundRun& r) : run(r) {
        for (double q : run.p) capacity.push_back(q <= kTiny ? kHuge : q >= 1.0 ? 0.0 : -std::log(q));
    }

    double arc_capacity(int arc) const {
        const int e = run.sg.arcs[static_cast<size_t>(arc)].edge;
        return e < 0 ? kHuge : capacity[static_cast<size_t>(e)];
    }

    bool next(std::vector<int>& cut) {
        if (done) return false;
        const SearchGraph& sg = run.sg;
        const size_t na = sg.arcs.size();
        // Residual arcs: 2a is arc a, 2a + 1 its reverse.
        std::vector<double> flow(na, 0.0);
        std::vector<std::vector<int>> adj(static_cast<size_t>(sg.nodes));
        for (size_t a = 0; a < na; ++a) {
            adj[static_cast<size_t>(sg.arcs[a].from)].push_back(static_cast<int>(2 * a));
            adj[static_cast<size_t>(sg.arcs[a].to)].push_back(static_cast<int>(2 * a + 1));
        }
        auto residual = [&](int r) {
            const size_t a = static_cast<size_t>(r / 2);
            return r % 2 == 0 ? arc_capacity(static_cast<int>(a)) - flow[a] : flow[a];
        };
        auto head = [&](int r) {
            const SearchGraph::Arc& a = sg.arcs[static_cast<size_t>(r / 2)];
            return r % 2 == 0 ? a.to : a.from;
        };
        std::vector<int> via(static_cast<size_t>(sg.nodes));
        std::vector<char> seen(static_cast<size_t>(sg.nodes));
        auto search = [&]() {
            std::fill(seen.begin(), seen.end(), 0);
            std::deque<int> queue{sg.source};
            seen[static_cast<size_t>(sg.source)] = 1;
            while (!queue.empty()) {
                const int u = queue.front();
                queue.pop_front();
                for (int r : adj[static_cast<size_t>(u)]) {
                    const int w = head(r);
                    if (seen[static_cast<size_t>(w)] || residual(r) <= kTiny) continue;
                    seen[static_cast<size_t>(w)] = 1;
                    via[static_cast<size_t>(w)] = r;
                    queue.push_back(w);
                }
            }
            return seen[static_cast<size_t>(sg.target)] != 0;
        };
        while (search()) {
            double aug = kHuge * 4;
            for (int v = sg.target; v != sg.source;) {
                const int r = via[static_cast<size_t>(v)];
                aug = std::min(aug, residual(r));
                v = r % 2 == 0 ? sg.arcs[static_cast<size_t>(r / 2)].from : sg.arcs[static_cast<size_t>(r / 2)].to;
            }
            if (!(aug > 0.0)) break;
            if (aug >= 5e98) {
                done = true;
                return false;
            }
            for (int v = sg.target; v != sg.source;) {
                const int r = via[static_cast<size_t>(v)];
                flow[static_cast<size_t>(r / 2)] += r % 2 == 0 ? aug : -aug;
                v = r % 2 == 0 ? sg.arcs[static_cast<size_t>(r / 2)].from : sg.arcs[static_cast<size_t>(r / 2)].to;
            }
        }
        // `seen` now marks the nodes reachable from the source.
        cut.clear();
        int widest = -1;
        for (size_t a = 0; a < na; ++a) {
            const SearchGraph::Arc& arc = sg.arcs[a];
            if (!seen[static_cast<size_t>(arc.from)] || seen[static_cast<size_t>(arc.to)]) continue;
            if (arc_capacity(static_cast<int>(a)) - flow[a] > kTiny) continue;
            cut.push_back(static_cast<int>(a));
            if (arc.edge >= 0 && (widest < 0 || capacity[static_cast<size_t>(arc.edge)] > capacity[static_cast<size_t>(widest)]))
                widest = arc.edge;
        }
        if (cut.empty() || widest < 0) {
            done = true;
            return false;
        }
        capacity[static_cast<size_t>(widest)] = kHuge;
        return true;
    }
};

// Every cut leaving a connected node set around the source: a stack of node
// sets, each grown by one neighbour at a time, sets and cuts met once.
struct AllCuts {
    BoundRun& run;
    std::vector<std::vector<int>> stack;  // node sets, ascending
    std::set<std::vector<int>> seen_sets;
    std::set<std::vector<int>> seen_cuts;
    bool done = false;

    explicit AllCuts(BoundRun& r) : run(r) {
        std::vector<int> s{r.sg.source};
        seen_sets.insert(s);
        stack.push_back(std::move(s));
    }

    bool next(std::vector<int>& cut) {
        const SearchGraph& sg = run.sg;
        long steps = 0;
        while (!done && !stack.empty()) {
            if ((++steps & 255) == 0 && run.out_of_time()) break;
            std::vector<int> s = std::move(stack.back());
            stack.pop_back();
            std::vector<char> inside(static_cast<size_t>(sg.nodes), 0);
            for (int v : s) inside[static_cast<size_t>(v)] = 1;
            std::vector<int> arcs, edges, grow;
            for (int v : s)
                for (int a : sg.out[static_cast<size_t>(v)]) {
                    const int w = sg.arcs[static_cast<size_t>(a)].to;
                    if (inside[static_cast<size_t>(w)]) continue;
                    arcs.push_back(a);
                    edges.push_back(sg.arcs[static_cast<size_t>(a)].edge);
                    if (w != sg.target) grow.push_back(w);
                }
            std::sort(grow.begin(), grow.end());
            grow.erase(std::unique(grow.begin(), grow.end()), grow.end());
            for (auto it = grow.rbegin(); it != grow.rend(); ++it) {
                std::vector<int> bigger = s;
                bigger.insert(std::upper_bound(bigger.begin(), bigger.end(), *it), *it);
                if (!seen_sets.insert(bigger).second) continue;
                if (stack.size() >= kCutStackLimit) {
                    run.in.out.write("stack overflow for cutset truncation!\n");
                    done = true;
                    break;
                }
                stack.push_back(std::move(bigger));
            }
            std::sort(edges.begin(), edges.end());
            if (arcs.empty() || !seen_cuts.insert(edges).second) continue;
            cut = std::move(arcs);
            return true;
        }
        done = true;
        return false;
    }
};

// ------------------------------------------------------------------ the two bounds

void print_summary(AnalysisContext& in, const char* what, const BoundReport& r, const char* factor_name) {
    in.out.printf("total %s generated by heuristic algorithm: %d\n", what, r.heuristic);
    in.out.printf("total %s generated by exhaustive search: %d\n", what, r.exhaustive);
    in.out.printf("selected %s: %d\n", what, r.selected);
    in.out.printf("%s: %E\n", factor_name, r.factor);
    in.out.write("========================================\n");
}

BoundReport upper_bound(BoundRun& run) {
    AnalysisContext& in = run.in;
    BddManager* m = run.m;
    const bool verbose = in.settings.verbose;
    BoundReport rep;
    ShortestPaths heuristic(run);
    AllPaths exhaustive(run);
    CandidateHeap heap;
    bdd U = bdd_identity(m, bdd_zero(m));
    double remaining = 1.0, a = run.params.factor;
    const long N = run.params.limit;
    std::vector<int> path;
    for (;;) {
        if (run.params.check_time && run.out_of_time()) break;
        bool have = false;
        if (rep.heuristic < N && heuristic.next(path)) {
            ++rep.heuristic;
            have = true;
        } else if (rep.exhaustive < N && exhaustive.next(path)) {
            ++rep.exhaustive;
            have = true;
        }
        if (!have) {
            // A waiting path is looked at again only while it could still
            // exceed the threshold: at a tie it would go straight back.
            if (!heap.empty() && heap.max_value() > 0.0 && heap.max_value() > remaining * a) {
                path = heap.pop().arcs;
            } else {
                if (run.params.user_factor || run.out_of_time()) break;
                a /= 2.0;
                if (a <= kTiny) break;
                continue;
            }
        }
        // g = P(path works and no selected path works).
        bdd works = bdd_identity(m, bdd_one(m)), cube = bdd_identity(m, bdd_one(m));
        for (int arc : path) {
            bdd f = run.edge_fn(arc);
            bdd w2 = bdd_and(m, works, f);
            run.check(w2);
            bdd_free(m, works);
            works = w2;
            if (!bdd_is_constant(m, f)) {
                bdd c2 = bdd_and(m, cube, f);
                run.check(c2);
                bdd_free(m, cube);
                cube = c2;
            }
        }
        const double pw = run.value(works);
        const double g = pw == 0.0 ? 0.0 : (1.0 - run.conditional(U, cube)) * pw;
        bdd_free(m, cube);
        if (g <= remaining * a) {
            heap.push({g, path});
        } else {
            bdd u2 = bdd_or(m, U, works);
            run.check(u2);
            bdd_free(m, U);
            U = u2;
            remaining -= g;
            ++rep.selected;
            if (verbose) {
                in.out.printf("Selected Path No.%d:\n", rep.selected);
                run.print_arcs(path);
                in.out.printf("Contribution to reliability: %.8E\n", g);
                in.out.write("========================================\n");
            }
        }
        bdd_free(m, works);
    }
    rep.factor = a;
    rep.value = 1.0 - run.value(U);
    bdd_free(m, U);
    if (verbose) print_summary(in, "paths", rep, "alpha");
    return rep;
}

BoundReport lower_bound(BoundRun& run) {
    AnalysisContext& in = run.in;
    BddManager* m = run.m;
    const bool verbose = in.settings.verbose;
    BoundReport rep;
    MinimumCuts heuristic(run);
    AllCuts exhaustive(run);
    CandidateHeap heap;
    bdd C = bdd_identity(m, bdd_one(m));  // no selected cut has failed
    double B = 0.0, b = run.params.factor;
    const long N = run.params.limit;
    std::vector<int> cut;
    for (;;) {
        if (run.params.check_time && run.out_of_time()) break;
        bool have = false, fresh = false;
        double stored = 0.0;
        if (rep.heuristic < N && heuristic.next(cut)) {
            ++rep.heuristic;
            have = fresh = true;
        } else if (rep.exhaustive < N && exhaustive.next(cut)) {
            ++rep.exhaustive;
            have = fresh = true;
        }
        if (!have) {
            if (!heap.empty() && heap.max_value() > 0.0 && heap.max_value() > B * b) {
                BoundCandidate c = heap.pop();
                cut = std::move(c.arcs);
                stored = c.value;
            } else {
                if (run.params.user_factor || run.out_of_time()) break;
                b /= 2.0;
                if (b <= kTiny) break;
                continue;
            }
        }
        // The cut's function: some edge of it works; its failure cube.
        bdd works = bdd_identity(m, bdd_zero(m)), cube = bdd_identity(m, bdd_one(m));
        for (int arc : cut) {
            bdd f = run.edge_fn(arc);
            bdd w2 = bdd_or(m, works, f);
            run.check(w2);
            bdd_free(m, works);
            works = w2;
            bdd nf = bdd_not(m, f);
            bdd c2 = bdd_and(m, cube, nf);
            run.check(c2);
            bdd_free(m, nf);
            bdd_free(m, cube);
            cube = c2;
        }
        const double fails = 1.0 - run.value(works);
        if (fresh) stored = fails;
        double v = stored;
        if (v > B * b) v = fails == 0.0 ? 0.0 : fails * run.conditional(C, cube);
        if (v > B * b) {
            bdd c2 = bdd_and(m, C, works);
            run.check(c2);
            bdd_free(m, C);
            C = c2;
            B += v;
            ++rep.selected;
            if (verbose) {
                in.out.printf("Selected CutSet No.%d:\n", rep.selected);
                run.print_arcs(cut);
                in.out.printf("Contribution to unreliability: %.8E\n", v);
                in.out.write("========================================\n");
            }
        } else {
            heap.push({v, cut});
        }
        bdd_free(m, works);
        bdd_free(m, cube);
    }
    rep.factor = b;
    rep.value = 1.0 - run.value(C);
    bdd_free(m, C);
    if (verbose) print_summary(in, "cutsets", rep, "beta");
    return rep;
}

}  // namespace

double relgraph_bound(AnalysisContext& in, SystemRecord& sys, Kw kind, double t, BoundReport* report) {
    (void)t;  // the edges were bound at t by the analysis
    if (!in.settings.use_bdd) {
        in.out.write("to use 'lbound' and 'ubound' function, bdd needs to be enabled.\n");
        in.err.exit_program(kExitFailure);
    }
    RelgraphModel& g = relgraph_graph(in, sys);
    RelgraphState& st = relgraph_state(sys);
    std::shared_ptr<RgBoundInfo>& slot = kind == Kw::Ubound ? st.ubdd : st.lbdd;
    if (!slot) slot = std::make_shared<RgBoundInfo>();
    BoundRun run(in, sys, make_search_graph(sys, g), bound_params(in, kind));
    run.order(g);
    if (in.settings.verbose)
        in.out.printf("verbose output for %s of system %s:\n", kind == Kw::Ubound ? "ubound" : "lbound", sys.name.c_str());
    BoundReport rep = kind == Kw::Ubound ? upper_bound(run) : lower_bound(run);
    double value = std::clamp(rep.value, 0.0, 1.0);
    rep.value = value;
    slot->last = rep;
    if (report) *report = rep;
    sys.s_dist = Exponomial::constant(value);
    sys.has_dist = true;
    return value;
}

}  // namespace corvel
