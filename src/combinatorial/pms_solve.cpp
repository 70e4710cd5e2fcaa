// Phased missions: the phase containing the time point, the components of
// every phase matched by name, the variable order, one diagram for the
// mission built phase by phase, the in-phase failure probabilities and the
// numeric evaluation, and the importance of a component in a phase.

#include "combinatorial/pms_solve.h"

#include <algorithm>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/pms_blocks.h"
#include "combinatorial/tree.h"
#include "model/context.h"

namespace corvel {

PmsAnalysis::PmsAnalysis() : m(bdd_init()) {}

PmsAnalysis::~PmsAnalysis() { bdd_quit(m); }

namespace {

bool is_event(int type) { return type == NT_LEAF || type == NT_REPEAT || type == NT_TRANSFER; }

// The durations under the current bindings.
std::vector<double> bind_durations(AnalysisContext& in, PmsModel& pms) {
    std::vector<double> d;
    d.reserve(pms.phases.size());
    for (PmsPhase& ph : pms.phases) {
        if (ph.sym_duration) {
            ph.duration = in.eval.bind_expression(*ph.sym_duration);
            if (!(ph.duration >= 0.0)) in.err.error(19, kFatal, "", true);
        }
        d.push_back(ph.duration);
    }
    return d;
}

// The phase (0-based) containing t: the first whose end is at or after t
// (after t when the time point is taken on the right). At the end of the
// last phase there is no later phase, so t belongs to the last one either way.
int phase_of_time(AnalysisContext& in, const SystemRecord& sys, const std::vector<double>& d, double t) {
    double total = 0.0;
    for (double x : d) total += x;
    if (!(t >= 0.0) || t > total) in.err.error(211, kFatal, sys.name, true);
    const bool left = in.settings.time_point_left;
    double end = 0.0;
    for (size_t j = 0; j < d.size(); ++j) {
        end += d[j];
        if (left ? end >= t : end > t) return static_cast<int>(j);
    }
    return static_cast<int>(d.size()) - 1;
}

// The event records of a tree in tree order, transfers followed, each once.
std::vector<int> tree_events(AnalysisContext& in, SystemRecord& tsys) {
    TreeModel& tm = tree_model(tsys);
    std::vector<int> events;
    std::vector<char> seen(tsys.nodes.size(), 0);
    std::vector<int> stack{tm.root};
    while (!stack.empty()) {
        const TreeNode& tn = tm.tree[static_cast<size_t>(stack.back())];
        stack.pop_back();
        if (is_event(tn.type)) {
            int rec = resolve_transfer(tsys, tn.first_node);
            if (rec < 0) in.err.error(212, kFatal, format_string("node %s", tsys.names[tn.first_node].c_str()), true);
            if (!seen[static_cast<size_t>(rec)]) {
                seen[static_cast<size_t>(rec)] = 1;
                events.push_back(rec);
            }
            continue;
        }
        for (auto k = tn.kids.rbegin(); k != tn.kids.rend(); ++k) stack.push_back(*k);
    }
    return events;
}

// The phase tree's function over the variables of `phase`, built bottom-up
// with an explicit stack.
bdd phase_function(AnalysisContext& in, SystemRecord& tsys, PmsAnalysis& a, int phase) {
    BddManager* m = a.m;
    TreeModel& tm = tree_model(tsys);
    std::vector<bdd> result(tm.tree.size(), kBddNull);
    std::vector<std::pair<int, bool>> stack{{tm.root, false}};
    while (!stack.empty()) {
        auto [t, expanded] = stack.back();
        const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
        if (!expanded && !is_event(tn.type)) {
            stack.back().second = true;
            for (auto k = tn.kids.rbegin(); k != tn.kids.rend(); ++k) stack.emplace_back(*k, false);
            continue;
        }
        stack.pop_back();
        bdd f = kBddNull;
        if (is_event(tn.type)) {
            const int rec = resolve_transfer(tsys, tn.first_node);
            const int comp = a.comp_index.at(real_name(tsys, rec));
            f = bdd_identity(m, bdd_var_with_index(m, a.position(comp, phase)));
        } else if (tn.type == NT_MIN || tn.type == NT_MAX) {
            for (int k : tn.kids) {
                bdd c = result[static_cast<size_t>(k)];
                result[static_cast<size_t>(k)] = kBddNull;
                if (f == kBddNull) {
                    f = c;
                    continue;
                }
                bdd next = tn.type == NT_MIN ? bdd_or(m, f, c) : bdd_and(m, f, c);
                bdd_free(m, f);
                bdd_free(m, c);
                f = next;
            }
            if (f == kBddNull) f = bdd_identity(m, tn.type == NT_MIN ? bdd_zero(m) : bdd_one(m));
        } else {
            in.err.error(2, kInternal, "", false);
        }
        if (f == kBddNull) in.err.error(150, kFatal, "bdd result", true);
        result[static_cast<size_t>(t)] = f;
    }
    return result[static_cast<size_t>(tm.root)];
}

// Components numbered by the order of the last phase's tree (the fault-tree
// heuristic), then those absent from it in the order the phases, newest
// first, name them; compmap filled for every phase.
void map_components(AnalysisContext& in, PmsModel& pms, PmsAnalysis& a) {
    const int n = a.nphase;
    std::vector<std::vector<int>> events(static_cast<size_t>(n));
    auto add = [&](const std::string& name) {
        if (a.comp_index.emplace(name, a.ncomp()).second) a.comp_names.push_back(name);
    };
    for (int j = n - 1; j >= 0; --j) {
        SystemRecord& tsys = in.systems[pms.phases[static_cast<size_t>(j)].sys_index];
        TreeModel& tm = tree_model(tsys);
        bind_k_n(in, tsys, tm.root, kFatal);
        if (j == n - 1) {
            // The order the tree alone would get; its diagram is discarded.
            std::unique_ptr<FtBddInfo> alone = analyze_ftree_with_bdd(in, tsys);
            for (int rec : alone->listvar) add(real_name(tsys, rec));
        } else {
            rewrite_kofn(in, tsys, tm.root);
        }
        events[static_cast<size_t>(j)] = tree_events(in, tsys);
    }
    for (int j = n - 1; j >= 0; --j) {
        SystemRecord& tsys = in.systems[pms.phases[static_cast<size_t>(j)].sys_index];
        for (int rec : events[static_cast<size_t>(j)]) add(real_name(tsys, rec));
    }
    a.compmap.assign(static_cast<size_t>(a.ncomp()) * n, 0);
    for (int j = 0; j < n; ++j) {
        SystemRecord& tsys = in.systems[pms.phases[static_cast<size_t>(j)].sys_index];
        for (int rec : events[static_cast<size_t>(j)]) {
            const int c = a.comp_index.at(real_name(tsys, rec));
            a.compmap[static_cast<size_t>(c) * n + j] = rec + 1;
        }
    }
}

std::unique_ptr<PmsAnalysis> build_mission(AnalysisContext& in, SystemRecord& sys, PmsModel& pms, int nphase) {
    auto a = std::make_unique<PmsAnalysis>();
    if (in.settings.work_limit >= 0) bdd_node_limit(a->m, std::max(1L, in.settings.work_limit));
    a->nphase = nphase;
    map_components(in, pms, *a);
    const long vars = static_cast<long>(a->ncomp()) * nphase;
    if (vars >= 65535) in.err.error(150, kFatal, "var mapping", true);
    for (long v = 0; v < vars; ++v) bdd_new_var_last(a->m);
    BddManager* m = a->m;
    bdd root = bdd_identity(m, bdd_zero(m));
    for (int j = nphase - 1; j >= 0; --j) {
        SystemRecord& tsys = in.systems[pms.phases[static_cast<size_t>(j)].sys_index];
        TreeModel& tm = tree_model(tsys);
        // The last phase's tree was rewritten while its order was taken; an
        // earlier phase may share a tree with a later one, so rewrite anew.
        bind_k_n(in, tsys, tm.root, kFatal);
        rewrite_kofn(in, tsys, tm.root);
        bdd f = phase_function(in, tsys, *a, j);
        bdd next = bdd_dor(m, f, root, nphase, 1);
        if (next == kBddNull) in.err.error(150, kFatal, "bdd result", true);
        bdd_free(m, f);
        bdd_free(m, root);
        root = next;
    }
    a->b_root = root;
    bdd_gc(m);
    if (in.settings.debug[kDebugPms]) {
        in.out.write("BDD Statistics:\n");
        in.out.printf("Size of BDD for Tree = %ld\n", bdd_size(m, root, 0));
        in.out.write(bdd_stats(m));
        in.out.write("========= bdd tree\n");
        const PmsAnalysis& ar = *a;
        bdd_print_bdd(
            m, root,
            [&](long pos) {
                const int c = static_cast<int>(pos / ar.nphase);
                const int j = ar.nphase - 1 - static_cast<int>(pos % ar.nphase);
                return format_string("%s(%d)", ar.comp_names[static_cast<size_t>(c)].c_str(), j + 1);
            },
            [&](const std::string& text) { in.out.write(text); });
    }
    (void)sys;
    return a;
}

// Failure probabilities by the end of every phase up to the one containing
// t; each phase restarts the component's clock for its own time in it.
void pms_bind(AnalysisContext& in, PmsModel& pms, PmsAnalysis& a, const std::vector<double>& d, double t) {
    const int nc = a.ncomp();
    a.p.assign(static_cast<size_t>(a.nphase) * nc, 0.0);
    double start = 0.0;
    for (int j = 0; j < a.nphase; ++j) {
        const double dur = d[static_cast<size_t>(j)];
        const double tau = start + dur < t ? dur : t - start;
        SystemRecord& tsys = in.systems[pms.phases[static_cast<size_t>(j)].sys_index];
        AnalysisRequest at;
        at.measure = Kw::Tvalue;
        at.transient = true;
        at.time = tau;
        bind_tree_components(in, tsys, at);
        for (int c = 0; c < nc; ++c) {
            const double prev = j > 0 ? a.p[static_cast<size_t>(j - 1) * nc + c] : 0.0;
            double value = prev;
            if (a.present(c, j)) {
                const int rec = a.compmap[static_cast<size_t>(c) * a.nphase + j] - 1;
                double q = evaluate_expo(tsys.nodes[static_cast<size_t>(rec)].dist, tau, in.settings.tol);
                q = std::clamp(q, 0.0, 1.0);
                value = 1.0 - (1.0 - prev) * (1.0 - q);
            }
            a.p[static_cast<size_t>(j) * nc + c] = value;
        }
        start += dur;
    }
}

}  // namespace

double pms_evaluate(const PmsAnalysis& a, bdd f) {
    BddManager* m = a.m;
    std::unordered_map<bdd, double> memo;
    auto value_of = [&](bdd h) {
        if (h == bdd_one(m)) return 1.0;
        if (h == bdd_zero(m)) return 0.0;
        const double v = memo.at(bdd_regular(h));
        return bdd_is_complemented(h) ? 1.0 - v : v;
    };
    if (bdd_is_constant(m, f)) return f == bdd_one(m) ? 1.0 : 0.0;
    std::vector<bdd> stack{bdd_regular(f)};
    while (!stack.empty()) {
        const bdd node = stack.back();
        if (memo.count(node)) {
            stack.pop_back();
            continue;
        }
        const bdd T = bdd_then(m, node), E = bdd_else(m, node);
        bool ready = true;
        for (bdd c : {T, E}) {
            if (!bdd_is_constant(m, c) && !memo.count(bdd_regular(c))) {
                stack.push_back(bdd_regular(c));
                ready = false;
            }
        }
        if (!ready) continue;
        stack.pop_back();
        const long pos = bdd_if_index(m, node);
        const int comp = static_cast<int>(pos / a.nphase);
        const int phase = a.nphase - 1 - static_cast<int>(pos % a.nphase);
        const double q = 1.0 - a.failed_by(comp, phase);
        const double e = value_of(E), t = value_of(T);
        // Under the then-edge the component has failed by the end of this
        // phase; when an earlier phase of it is tested next, only the part of
        // that failure after the earlier phase separates the two branches.
        const bool same = !bdd_is_constant(m, T) && bdd_if_index(m, T) / a.nphase == comp;
        const double diff = same ? e - value_of(bdd_else(m, T)) : e - t;
        memo.emplace(node, q * diff + t);
    }
    return value_of(f);
}

PmsAnalysis& analyze_pms_with_bdd(AnalysisContext& in, SystemRecord& sys, double t) {
    PmsModel* pms = pms_model(sys);
    if (pms == nullptr || pms->phases.empty()) in.err.error(94, kInternal, "", false);
    const std::vector<double> d = bind_durations(in, *pms);
    const int phase = phase_of_time(in, sys, d, t);
    if (in.settings.verbose) in.out.printf("time point %f in phase %d\n", t, phase + 1);
    const int nphase = phase + 1;
    if (!pms->analysis || pms->analysis->nphase != nphase || pms->symbolic_kn)
        pms->analysis = build_mission(in, sys, *pms, nphase);
    PmsAnalysis& a = *pms->analysis;
    pms_bind(in, *pms, a, d, t);
    a.time = t;
    a.last_phase = phase;
    a.p_res = std::clamp(pms_evaluate(a, a.b_root), 0.0, 1.0);
    return a;
}

double pms_importance(AnalysisContext& in, SystemRecord& sys, const std::string& comp, int phase, Kw kind) {
    PmsModel* pms = pms_model(sys);
    if (pms == nullptr || !pms->analysis) in.err.error(94, kInternal, "", false);
    PmsAnalysis& a = *pms->analysis;
    BddManager* m = a.m;
    auto it = a.comp_index.find(significant_name(comp));
    const int j = phase - 1;
    if (it == a.comp_index.end() || j < 0 || !a.present(it->second, j)) in.err.error(215, kFatal, sys.name, true);
    const int c = it->second;
    const bdd x = bdd_var_with_index(m, a.position(c, j));
    // Failed in phase j means failed in every later phase that uses it.
    bdd c1 = bdd_identity(m, x);
    for (int k = j + 1; k < a.nphase; ++k) {
        if (!a.present(c, k)) continue;
        bdd next = bdd_and(m, c1, bdd_var_with_index(m, a.position(c, k)));
        bdd_free(m, c1);
        c1 = next;
    }
    bdd f1 = bdd_cofactor(m, a.b_root, c1);
    bdd nx = bdd_not(m, x);
    bdd f0 = bdd_cofactor(m, a.b_root, nx);
    double result = 0.0;
    if (kind == Kw::Simpt) {
        result = (bdd_satisfying_fraction(m, f1) - bdd_satisfying_fraction(m, f0)) / 2.0;
    } else {
        result = pms_evaluate(a, f1) - pms_evaluate(a, f0);
        if (kind == Kw::Cimpt) {
            const double top = pms_evaluate(a, a.b_root);
            if (top == 0.0) {
                in.out.write("Warning: no criticality importance measurs at this time point\n");
                result = 0.0;
            } else {
                result = result * a.failed_by(c, j) / top;
            }
        }
    }
    for (bdd h : {f1, f0, nx, c1}) bdd_free(m, h);
    bdd_gc(m);
    return result;
}

void analyze_pms_system(AnalysisContext& in, SystemRecord& sys, const MeasureCall&, AnalysisRequest& req) {
    analyze_pms_with_bdd(in, sys, req.time);
}

double pms_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest&) {
    PmsModel* pms = pms_model(sys);
    if (pms == nullptr || !pms->analysis) in.err.error(94, kInternal, "", false);
    const PmsAnalysis& a = *pms->analysis;
    // A mission answers the probability that it has failed by t.
    if (call.kw != Kw::Tvalue) in.err.error(21, kFatal, sys.name, true);
    return a.p_res;
}

}  // namespace corvel
