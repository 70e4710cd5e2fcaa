// Multi-state fault trees: components and their states from the event
// names, the top events, the variable order, the diagrams of every gate
// with the multi-state operations, and the evaluation into exponomials.

#include "combinatorial/mstree_solve.h"

#include <algorithm>
#include <cctype>

#include "combinatorial/tree.h"
#include "model/context.h"

namespace corvel {

MstreeAnalysis::MstreeAnalysis() : m(bdd_init()) {}

MstreeAnalysis::~MstreeAnalysis() { bdd_quit(m); }

bool split_state_name(const std::string& name, std::string& comp, int& state) {
    const size_t colon = name.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= name.size() || name.size() - colon - 1 > 6)
        return false;
    int k = 0;
    for (size_t i = colon + 1; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
        k = k * 10 + (name[i] - '0');
    }
    comp = name.substr(0, colon);
    state = k;
    return true;
}

namespace {

bool is_component(int type) { return type == NT_LEAF || type == NT_REPEAT; }
bool is_gate(int type) { return type == NT_MIN || type == NT_MAX || type == NT_KOFN; }

bool is_top_name(const std::string& name) { return name.rfind("top", 0) == 0 || name.rfind("TOP", 0) == 0; }

std::string event_text(const SystemRecord& sys, int rec) {
    return format_string("system %s, event %s", sys.name.c_str(), sys.names[rec].c_str());
}

// The record an input refers to: transfers followed to their event.
int input_record(AnalysisContext& in, const SystemRecord& sys, int rec) {
    if (rec < 0 || rec >= static_cast<int>(sys.nodes.size())) in.err.error(213, kFatal, sys.name, true);
    const int r = resolve_transfer(sys, rec);
    if (r < 0) in.err.error(212, kFatal, event_text(sys, rec), true);
    return r;
}

// Components and states from the names, top events by name.
void count_components(AnalysisContext& in, SystemRecord& sys, MstreeAnalysis& a) {
    const size_t records = sys.nodes.size();
    a.record_comp.assign(records, -1);
    a.record_state.assign(records, 0);
    std::vector<std::string> comp_of(records);
    int largest = 0;
    for (size_t r = 0; r < records; ++r) {
        const NodeInfo& info = sys.nodes[r];
        const std::string& name = sys.names[static_cast<int>(r)];
        if (is_component(info.entry)) {
            int k = 0;
            if (!split_state_name(name, comp_of[r], k)) comp_of[r] = name;
            a.record_state[r] = k;
            largest = std::max(largest, k);
        } else if (info.entry != NT_TRANSFER && is_top_name(name)) {
            a.tops.push_back(static_cast<int>(r));
        }
    }
    a.ncpstate = largest + 1;
    // Components numbered depth first from the top events, inputs in order,
    // so that the states of components used together sit close; components
    // no top event reaches come last.
    auto add = [&](const std::string& c) {
        if (a.comp_index.emplace(c, a.num_comp()).second) a.comp_names.push_back(c);
    };
    std::vector<char> seen(records, 0);
    for (int top : a.tops) {
        std::vector<int> stack{top};
        while (!stack.empty()) {
            const int r = stack.back();
            stack.pop_back();
            if (seen[static_cast<size_t>(r)]) continue;
            seen[static_cast<size_t>(r)] = 1;
            const NodeInfo& info = sys.nodes[static_cast<size_t>(r)];
            if (is_component(info.entry)) {
                add(comp_of[static_cast<size_t>(r)]);
                continue;
            }
            for (auto k = info.succ.rbegin(); k != info.succ.rend(); ++k) stack.push_back(input_record(in, sys, *k));
        }
    }
    for (size_t r = 0; r < records; ++r)
        if (is_component(sys.nodes[r].entry)) add(comp_of[r]);
    const long vars = static_cast<long>(a.num_comp()) * a.ncpstate;
    if (vars >= 65535) in.err.error(150, kFatal, "comp states", true);
    a.state_record.assign(static_cast<size_t>(vars), -1);
    for (size_t r = 0; r < records; ++r) {
        if (!is_component(sys.nodes[r].entry)) continue;
        const int c = a.comp_index.at(comp_of[r]);
        a.record_comp[r] = c;
        const size_t pos = static_cast<size_t>(c) * a.ncpstate + static_cast<size_t>(a.record_state[r]);
        // Two events naming the same state of a component are one event.
        if (a.state_record[pos] < 0) a.state_record[pos] = static_cast<int>(r);
    }
}

// At least k of the inputs, over the multi-state operations.
bdd at_least(BddManager* m, const std::vector<bdd>& inputs, int k, int n) {
    // cur[r] = at least r of the inputs after the current one.
    std::vector<bdd> cur(static_cast<size_t>(k) + 1, bdd_zero(m));
    cur[0] = bdd_one(m);
    for (size_t j = inputs.size(); j-- > 0;) {
        std::vector<bdd> next(cur.size());
        next[0] = bdd_one(m);
        for (size_t r = 1; r < cur.size(); ++r) {
            bdd both = bdd_ms_and(m, inputs[j], cur[r - 1], n);
            next[r] = bdd_ms_or(m, both, cur[r], n);
            bdd_free(m, both);
        }
        for (size_t r = 1; r < cur.size(); ++r) bdd_free(m, cur[r]);
        cur = std::move(next);
    }
    for (size_t r = 0; r + 1 < cur.size(); ++r) bdd_free(m, cur[r]);
    return cur[static_cast<size_t>(k)];
}

// k and n of a k-of-n gate under the current bindings.
void gate_k_n(AnalysisContext& in, SystemRecord& sys, int rec, int& k, int& n) {
    NodeInfo& info = sys.nodes[static_cast<size_t>(rec)];
    auto as_int = [](double v) { return static_cast<int>(std::clamp(v, -1e9, 1e9)); };
    if (info.k_sym) info.k = as_int(in.eval.bind_expression(*info.k_sym));
    if (info.n_sym) info.n = as_int(in.eval.bind_expression(*info.n_sym));
    const std::string& name = sys.names[rec];
    if (info.k < 1) in.err.ERR(46, kFatal, name, "");
    if (info.k > info.n) in.err.ERR(47, kFatal, name, "");
    if (static_cast<int>(info.succ.size()) != info.n) in.err.ERR(49, kFatal, name, "");
    k = info.k;
    n = info.n;
}

// The function of gate `top` and of every gate below it not built yet.
void generate(AnalysisContext& in, SystemRecord& sys, MstreeAnalysis& a, int top) {
    BddManager* m = a.m;
    const int n = a.ncpstate;
    // 0 not started, 1 inputs pending; a gate met again while pending is a loop.
    std::vector<char> state(sys.nodes.size(), 0);
    std::vector<int> stack{top};
    while (!stack.empty()) {
        const int r = stack.back();
        const NodeInfo& info = sys.nodes[static_cast<size_t>(r)];
        if (a.gate_bdd[static_cast<size_t>(r)] != kBddNull) {
            stack.pop_back();
            continue;
        }
        if (!is_gate(info.entry)) in.err.error(213, kFatal, event_text(sys, r), true);
        if (state[static_cast<size_t>(r)] == 0) {
            state[static_cast<size_t>(r)] = 1;
            for (auto k = info.succ.rbegin(); k != info.succ.rend(); ++k) {
                const int c = input_record(in, sys, *k);
                if (is_component(sys.nodes[static_cast<size_t>(c)].entry)) continue;
                if (state[static_cast<size_t>(c)] == 1 && a.gate_bdd[static_cast<size_t>(c)] == kBddNull)
                    in.err.error(212, kFatal, event_text(sys, c), true);
                stack.push_back(c);
            }
            continue;
        }
        stack.pop_back();
        std::vector<bdd> inputs;
        inputs.reserve(info.succ.size());
        for (int kid : info.succ) {
            const int c = input_record(in, sys, kid);
            if (is_component(sys.nodes[static_cast<size_t>(c)].entry)) {
                const long pos = static_cast<long>(a.record_comp[static_cast<size_t>(c)]) * n +
                                 a.record_state[static_cast<size_t>(c)];
                inputs.push_back(bdd_var_with_index(m, pos));
            } else {
                const bdd g = a.gate_bdd[static_cast<size_t>(c)];
                if (g == kBddNull) in.err.error(213, kFatal, event_text(sys, c), true);
                inputs.push_back(g);
            }
        }
        bdd f;
        if (info.entry == NT_KOFN) {
            int k = 0, count = 0;
            gate_k_n(in, sys, r, k, count);
            f = at_least(m, inputs, k, n);
        } else {
            const bool is_or = info.entry == NT_MIN;
            f = bdd_identity(m, is_or ? bdd_zero(m) : bdd_one(m));
            for (bdd x : inputs) {
                bdd next = is_or ? bdd_ms_or(m, f, x, n) : bdd_ms_and(m, f, x, n);
                bdd_free(m, f);
                f = next;
            }
        }
        if (f == kBddNull) in.err.error(150, kFatal, "bdd result", true);
        a.gate_bdd[static_cast<size_t>(r)] = f;
    }
}

std::string variable_name(const SystemRecord& sys, const MstreeAnalysis& a, long pos) {
    if (pos < 0 || pos >= static_cast<long>(a.state_record.size())) return "?";
    const int rec = a.state_record[static_cast<size_t>(pos)];
    if (rec >= 0) return sys.names[rec];
    return format_string("%s:%ld", a.comp_names[static_cast<size_t>(pos / a.ncpstate)].c_str(), pos % a.ncpstate);
}

bool needs_rebuild(const SystemRecord& sys, const TreeModel& tm) {
    if (!tm.mstree || !tm.mstree->built) return true;
    if (tm.symbolic_kn > 0) return true;
    return tm.mstree->gate_bdd.size() != sys.nodes.size();
}

}  // namespace

MstreeAnalysis& analyze_mstree_with_bdd(AnalysisContext& in, SystemRecord& sys) {
    TreeModel& tm = tree_model(sys);
    tm.mstree = std::make_shared<MstreeAnalysis>();
    MstreeAnalysis& a = *tm.mstree;
    if (in.settings.work_limit >= 0) bdd_node_limit(a.m, std::max(1L, in.settings.work_limit));
    count_components(in, sys, a);
    for (long v = 0; v < static_cast<long>(a.state_record.size()); ++v) bdd_new_var_last(a.m);
    a.gate_bdd.assign(sys.nodes.size(), kBddNull);
    for (int top : a.tops) generate(in, sys, a, top);
    bdd_gc(a.m);
    a.built = true;
    if (in.settings.debug[kDebugMstree]) {
        in.out.write("BDD Statistics:\n");
        for (int top : a.tops)
            in.out.printf("Size of BDD for Tree %s = %ld\n", sys.names[top].c_str(),
                          bdd_size(a.m, a.gate_bdd[static_cast<size_t>(top)], 0));
        in.out.write(bdd_stats(a.m));
        for (int top : a.tops) {
            in.out.printf("==== BDD for %s:\n", sys.names[top].c_str());
            bdd_print_bdd(
                a.m, a.gate_bdd[static_cast<size_t>(top)], [&](long pos) { return variable_name(sys, a, pos); },
                [&](const std::string& text) { in.out.write(text); });
        }
    }
    return a;
}

Exponomial mstbdd_form_exponomial(AnalysisContext& in, SystemRecord& sys, int rec) {
    TreeModel& tm = tree_model(sys);
    if (!tm.mstree || rec < 0 || rec >= static_cast<int>(tm.mstree->gate_bdd.size()) ||
        tm.mstree->gate_bdd[static_cast<size_t>(rec)] == kBddNull)
        in.err.error(214, kFatal, event_text(sys, rec), true);
    const MstreeAnalysis& a = *tm.mstree;
    BddManager* m = a.m;
    const Tolerances& tol = in.settings.tol;
    const int n = a.ncpstate;
    std::unordered_map<bdd, Exponomial> memo;
    auto value_of = [&](bdd h) {
        if (h == bdd_one(m)) return Exponomial::constant(1.0);
        if (h == bdd_zero(m)) return Exponomial::constant(0.0);
        Exponomial v = memo.at(bdd_regular(h));
        if (bdd_is_complemented(h)) negate_and_add_scalar(v, 1.0, tol);
        return v;
    };
    auto group = [&](bdd h) { return bdd_if_index(m, h) / n; };
    // The first node on the else chain of h that tests another component
    // than `comp` (a terminal counts as another).
    auto next_component = [&](bdd h, long comp) {
        while (!bdd_is_constant(m, h) && group(h) == comp) h = bdd_else(m, h);
        return h;
    };
    const bdd f = a.gate_bdd[static_cast<size_t>(rec)];
    if (bdd_is_constant(m, f)) return value_of(f);
    std::vector<bdd> stack{bdd_regular(f)};
    while (!stack.empty()) {
        const bdd node = stack.back();
        if (memo.count(node)) {
            stack.pop_back();
            continue;
        }
        const long comp = group(node);
        const bdd R = bdd_then(m, node), L = bdd_else(m, node);
        const bool chain = !bdd_is_constant(m, L) && group(L) == comp;
        const bdd NL = chain ? next_component(L, comp) : L;
        bool ready = true;
        for (bdd c : {R, L, NL}) {
            if (!bdd_is_constant(m, c) && !memo.count(bdd_regular(c))) {
                stack.push_back(bdd_regular(c));
                ready = false;
            }
        }
        if (!ready) continue;
        stack.pop_back();
        // A state event's value is the probability that its component is in
        // that state; given another state of it, the else side ends where the
        // component's chain of states ends.
        const int srec = a.state_record[static_cast<size_t>(bdd_if_index(m, node))];
        const Exponomial& F = sys.nodes[static_cast<size_t>(srec)].dist;
        Exponomial D = value_of(R);
        subtract_expos(value_of(NL), D, tol);
        Exponomial v;
        multiply_expos(F, D, v, tol);
        add_expos(value_of(L), v, tol);
        memo.emplace(node, std::move(v));
    }
    return value_of(f);
}

namespace {

// A component is in at most one of its states at a time: the probabilities of
// its states may not add up to more than one, at time zero, at the requested
// time or in the limit. The value is still computed, after the warning.
// Each component is reported once per analysis of the tree.
void check_state_sums(AnalysisContext& in, SystemRecord& sys, const AnalysisRequest& req) {
    TreeModel& tm = tree_model(sys);
    if (!tm.mstree) return;
    MstreeAnalysis& a = *tm.mstree;
    a.sum_warned.resize(static_cast<size_t>(a.num_comp()), 0);
    const Tolerances& tol = in.settings.tol;
    std::vector<Exponomial> sums(static_cast<size_t>(a.num_comp()), Exponomial::constant(0.0));
    for (size_t pos = 0; pos < a.state_record.size(); ++pos) {
        const int srec = a.state_record[pos];
        const size_t comp = pos / static_cast<size_t>(a.ncpstate);
        if (srec < 0 || comp >= sums.size()) continue;
        add_expos(sys.nodes[static_cast<size_t>(srec)].dist, sums[comp], tol);
    }
    for (size_t c = 0; c < sums.size(); ++c) {
        double worst = std::max(evaluate_expo(sums[c], 0.0, tol), lim_at_inf(sums[c], tol));
        if (req.transient && req.time > 0.0) worst = std::max(worst, evaluate_expo(sums[c], req.time, tol));
        if (worst > 1.0 + tol.epsilon && !a.sum_warned[c]) {
            a.sum_warned[c] = 1;
            in.err.error(50, kWarning, format_string("for the states of component %s (%.6f)", a.comp_names[c].c_str(), worst),
                         true);
        }
    }
}

}  // namespace

void analyze_mstree_system(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, AnalysisRequest& req) {
    const int rec = sys.names.find(call.node);
    if (rec < 0) in.err.error(35, kFatal, call.node, true);
    TreeModel& tm = tree_model(sys);
    if (needs_rebuild(sys, tm)) analyze_mstree_with_bdd(in, sys);
    bind_tree_components(in, sys, req);
    check_state_sums(in, sys, req);
    sys.s_dist = mstbdd_form_exponomial(in, sys, rec);
    sys.has_dist = true;
    sys.s_stable.reset();
}

}  // namespace corvel
