// Fault trees solved with decision diagrams: the structure tree read from the
// rewritten tree, the depth-first variable order, generation of the top event
// and of every named gate, evaluation by F·(R − L) + L with parent counts,
// importance, and the cut-set, path-set and p-q listings.

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "expo/constant_expo.h"
#include "expo/results.h"
#include "model/context.h"

namespace corvel {

namespace {

std::uint64_t add_sat(std::uint64_t a, std::uint64_t b) {
    std::uint64_t s = a + b;
    return s < a ? UINT64_MAX : s;
}

bool is_event(int type) { return type == NT_LEAF || type == NT_REPEAT; }

// ------------------------------------------------------------------ structure tree

// Resolves NOT gates above tree node t: each flips the polarity and becomes
// the parent record of what it complements.
void skip_not(const TreeModel& tm, int& t, bool& inverse, int& parent_record) {
    while (tm.tree[static_cast<size_t>(t)].type == NT_NOT) {
        const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
        if (tn.kids.empty()) return;
        parent_record = tn.first_node;
        inverse = !inverse;
        t = tn.kids[0];
    }
}

// The structure graph of the rewritten tree, built depth first with one node
// per (tree node, polarity); children are created before their parents.
void read_tree(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info) {
    TreeModel& tm = tree_model(sys);
    std::vector<int> memo(2 * tm.tree.size(), -1);
    struct Frame {
        int t;
        bool inverse;
        int parent_record;
        size_t next = 0;
        std::vector<int> kids;
    };
    std::vector<Frame> stack;
    auto add = [&](StructureNode s, int key) {
        const int index = static_cast<int>(info.st.size());
        info.st.push_back(std::move(s));
        memo[static_cast<size_t>(key)] = index;
        return index;
    };
    // The structure node of tree node t, or -1 when a frame was opened for it.
    auto open = [&](int t, bool inverse, int parent_record) -> int {
        skip_not(tm, t, inverse, parent_record);
        const int key = 2 * t + (inverse ? 1 : 0);
        if (memo[static_cast<size_t>(key)] >= 0) return memo[static_cast<size_t>(key)];
        const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
        switch (tn.type) {
            case NT_MIN:
            case NT_MAX:
            case NT_NMIN:
            case NT_NMAX:
                stack.push_back(Frame{t, inverse, parent_record, 0, {}});
                return -1;
            case NT_LEAF:
            case NT_REPEAT:
            case NT_TRANSFER: {
                int rec = resolve_transfer(sys, tn.first_node);
                if (rec < 0)
                    in.err.error(212, kFatal, format_string("node %s", sys.names[tn.first_node].c_str()), true);
                const int type = sys.nodes[static_cast<size_t>(rec)].entry;
                if (!is_event(type)) {
                    in.out.printf("%s cannot be transferred\n", sys.names[tn.first_node].c_str());
                    in.err.exit_program(kExitFailure);
                }
                StructureNode s;
                s.type = type;
                s.n_id = rec;
                s.weight = 1;
                s.inverse = inverse;
                s.through_transfer = rec != tn.first_node;
                return add(std::move(s), key);
            }
            default:
                in.err.error(2, kInternal, "", false);
                return -1;
        }
    };
    int first = open(tm.root, false, -2);
    if (first >= 0) info.st_root = first;
    while (!stack.empty()) {
        const size_t top = stack.size() - 1;
        const TreeNode& tn = tm.tree[static_cast<size_t>(stack[top].t)];
        if (stack[top].next < tn.kids.size()) {
            const int kid = tn.kids[stack[top].next++];
            const int index = open(kid, false, tn.first_node);
            if (index >= 0) stack[top].kids.push_back(index);
            continue;
        }
        Frame f = std::move(stack[top]);
        stack.pop_back();
        StructureNode s;
        s.inverse = f.inverse;
        switch (tn.type) {
            case NT_MIN: s.type = NT_MIN; break;
            case NT_MAX: s.type = NT_MAX; break;
            case NT_NMIN: s.type = NT_MIN; s.inverse = !s.inverse; break;
            default: s.type = NT_MAX; s.inverse = !s.inverse; break;  // NT_NMAX
        }
        s.n_id = tn.first_node == f.parent_record ? -1 : tn.first_node;
        s.kids = std::move(f.kids);
        const int index = add(std::move(s), 2 * f.t + (f.inverse ? 1 : 0));
        if (stack.empty())
            info.st_root = index;
        else
            stack.back().kids.push_back(index);
    }
    // Occurrences in the expanded tree: parents before children, so in
    // descending index order.
    info.st[static_cast<size_t>(info.st_root)].paths = 1;
    for (size_t i = info.st.size(); i-- > 0;) {
        const StructureNode& s = info.st[i];
        for (int k : s.kids) {
            StructureNode& c = info.st[static_cast<size_t>(k)];
            c.paths = add_sat(c.paths, s.paths);
        }
    }
    // Every occurrence of a record counts in its fanout, an event reached
    // through a transfer once more.
    for (const StructureNode& s : info.st) {
        if (s.n_id < 0) continue;
        std::uint64_t& fan = info.fanout[static_cast<size_t>(s.n_id)];
        fan = add_sat(fan, s.paths);
        if (s.through_transfer) fan = add_sat(fan, s.paths);
    }
}

// Weights, bottom-up (children have smaller indices).
void fix_tree(FtBddInfo& info) {
    for (StructureNode& s : info.st) {
        if (is_event(s.type)) {
            s.weight = 1;
            continue;
        }
        std::uint64_t w = 0;
        for (int k : s.kids) w = add_sat(w, info.st[static_cast<size_t>(k)].weight);
        s.weight = w;
    }
}

void new_variable(FtBddInfo& info, int rec) {
    bdd v = bdd_new_var_last(info.m);
    info.v_bdd[static_cast<size_t>(rec)] = v;
    info.listvar.push_back(rec);
}

// Depth first from the root: at each gate the children sorted by weight;
// events used once get variables first, then repeated events, then the
// sub-gates are ordered from the lightest to the heaviest.
void fbdd_ordering(FtBddInfo& info) {
    const StructureNode& root = info.st[static_cast<size_t>(info.st_root)];
    if (is_event(root.type)) {
        if (info.v_bdd[static_cast<size_t>(root.n_id)] == kBddNull) new_variable(info, root.n_id);
        return;
    }
    // A gate met again (a shared gate) has every event below it ordered
    // already, so its later occurrences add nothing.
    std::vector<char> seen(info.st.size(), 0);
    std::vector<int> stack{info.st_root};
    while (!stack.empty()) {
        const int gi = stack.back();
        stack.pop_back();
        if (seen[static_cast<size_t>(gi)]) continue;
        seen[static_cast<size_t>(gi)] = 1;
        StructureNode& g = info.st[static_cast<size_t>(gi)];
        std::vector<int>& a = g.kids;
        const size_t m = a.size();
        for (size_t i = 0; i < m; ++i)
            for (size_t j = i; j < m; ++j)
                if (info.st[static_cast<size_t>(a[i])].weight > info.st[static_cast<size_t>(a[j])].weight)
                    std::swap(a[i], a[j]);
        for (int pass = 0; pass < 2; ++pass) {
            for (int k : a) {
                const StructureNode& c = info.st[static_cast<size_t>(k)];
                if (c.weight > 1) break;
                if (!is_event(c.type)) continue;
                const size_t rec = static_cast<size_t>(c.n_id);
                const bool wanted = pass == 0 ? info.fanout[rec] < 2 : info.fanout[rec] != 1;
                if (wanted && info.v_bdd[rec] == kBddNull) new_variable(info, c.n_id);
            }
        }
        for (auto k = a.rbegin(); k != a.rend(); ++k)
            if (!is_event(info.st[static_cast<size_t>(*k)].type)) stack.push_back(*k);
    }
}

}  // namespace

// A null result means the diagram reached the caller's node limit or the
// number of nodes the available memory holds.
bdd ftbdd_checked(AnalysisContext& in, BddManager* m, bdd f) {
    if (f != kBddNull) return f;
    const long limit = bdd_node_limit(m, 0);
    bdd_node_limit(m, limit);
    const long reached = bdd_total_nodes(m);
    if (limit > 0 && reached >= limit - 1000)
        in.err.error(150, kInternal, format_string("s_ftbdd for BDD (more than %ld nodes)", limit), false);
    in.out.printf("decision diagram stopped at %ld live nodes, the most the available memory holds\n", reached);
    in.err.error(150, kInternal, "s_ftbdd for BDD", false);
    return f;
}

namespace {

// Generation in index order (children first); a child's diagram is freed
// once its last parent has used it, and every named gate keeps its function.
void fbdd_generate(AnalysisContext& in, FtBddInfo& info) {
    BddManager* m = info.m;
    std::vector<int> users(info.st.size(), 0);
    for (const StructureNode& s : info.st)
        for (int k : s.kids) ++users[static_cast<size_t>(k)];
    for (size_t i = 0; i < info.st.size(); ++i) {
        StructureNode& s = info.st[i];
        bdd f;
        if (is_event(s.type)) {
            bdd v = info.v_bdd[static_cast<size_t>(s.n_id)];
            f = v == kBddNull ? bdd_zero(m) : bdd_identity(m, v);
        } else {
            f = kBddNull;
            for (int k : s.kids) {
                StructureNode& c = info.st[static_cast<size_t>(k)];
                if (f == kBddNull) {
                    f = bdd_identity(m, c.b);
                } else {
                    bdd next = ftbdd_checked(in, m, s.type == NT_MIN ? bdd_or(m, f, c.b) : bdd_and(m, f, c.b));
                    bdd_free(m, f);
                    f = next;
                }
                if (--users[static_cast<size_t>(k)] == 0) {
                    bdd_free(m, c.b);
                    c.b = kBddNull;
                }
            }
            if (f == kBddNull) f = bdd_identity(m, s.type == NT_MIN ? bdd_zero(m) : bdd_one(m));
        }
        if (s.inverse) f ^= 1u;  // the complement mark
        s.b = f;
        if (!is_event(s.type) && s.n_id >= 0) {
            bdd& slot = info.v_bdd[static_cast<size_t>(s.n_id)];
            if (slot != kBddNull) bdd_free(m, slot);
            slot = bdd_identity(m, f);
        }
    }
    StructureNode& root = info.st[static_cast<size_t>(info.st_root)];
    info.root = root.b;
    root.b = kBddNull;
    bdd_gc(m);
}

std::string var_name(const SystemRecord& sys, const FtBddInfo& info, long pos) {
    if (pos < 0 || pos >= static_cast<long>(info.listvar.size())) return "?";
    return real_name(sys, info.listvar[static_cast<size_t>(pos)]);
}

// ------------------------------------------------------------------ evaluation

// One node's value F·(R − L) + L from its children's values (null for a
// constant child, whose value lv or rv is given); R's value is used up as
// the difference. Value is an Exponomial, or a ConstantExpo when every
// event of the tree has a constant probability.
template <class Value>
Value node_value(const Value& F, double lv, double rv, const Value* Lx, Value* Rx, const Tolerances& tol) {
    Value value;
    if (!Lx && !Rx) {
        value = F;
        if (lv == 1.0) negate_and_add_scalar(value, 1.0, tol);
        return value;
    }
    Value D;
    if (!Lx) {
        D = std::move(*Rx);
        subtract_scalar(D, lv, tol);
    } else if (!Rx) {
        D = *Lx;
        negate_and_add_scalar(D, rv, tol);
    } else {
        D = std::move(*Rx);
        subtract_expos(*Lx, D, tol);
    }
    multiply_expos(F, D, value, tol);
    if (!Lx)
        subtract_scalar(value, -lv, tol);
    else
        add_expos(*Lx, value, tol);
    return value;
}

bool usable(const Exponomial&) { return true; }
bool usable(const ConstantExpo& c) { return c.finite(); }

// Bottom-up over the regular nodes of f in postorder: each node's parent
// count within f (the root counts one more), and its value, kept in a pool
// slot while other parents still need it; the last parent takes it over and
// the slot is reused. `dist(position)` is the distribution of the variable
// at that order position. Empty when a value is not usable.
template <class Value, class Dist>
std::optional<Value> evaluate_diagram(BddManager* m, bdd f, Dist&& dist, const Tolerances& tol) {
    const BddPostorder order(m, f);
    const size_t n = order.nodes.size();
    std::vector<std::uint32_t> parents(n, 0);
    for (const BddPostorder::Kids& k : order.kids)
        for (std::uint32_t c : {k.then_ref, k.else_ref})
            if (BddPostorder::is_node(c)) ++parents[c >> 1];
    const std::uint32_t root = order.ref(f);
    ++parents[root >> 1];
    std::vector<std::uint32_t> slot(n);
    std::vector<Value> pool;
    std::vector<std::uint32_t> free_slots;
    // The value of a child (through a complemented edge 1 − value).
    auto take = [&](std::uint32_t ref) {
        const std::uint32_t c = ref >> 1;
        Value& held = pool[slot[c]];
        Value r;
        if (--parents[c] > 0) {
            r = held;
        } else {
            r = std::move(held);
            free_slots.push_back(slot[c]);
        }
        if (ref & 1u) negate_and_add_scalar(r, 1.0, tol);
        return r;
    };
    auto constant = [](std::uint32_t ref) { return ref == BddPostorder::kRefOne ? 1.0 : 0.0; };
    Value Lx, Rx;
    for (size_t k = 0; k < n; ++k) {
        const BddPostorder::Kids& kid = order.kids[k];
        const bool lc = !BddPostorder::is_node(kid.else_ref), rc = !BddPostorder::is_node(kid.then_ref);
        if (!lc) Lx = take(kid.else_ref);
        if (!rc) Rx = take(kid.then_ref);
        Value v = node_value(dist(static_cast<long>(kid.position)), constant(kid.else_ref), constant(kid.then_ref),
                             lc ? nullptr : &Lx, rc ? nullptr : &Rx, tol);
        if (!usable(v)) return std::nullopt;
        if (free_slots.empty()) {
            slot[k] = static_cast<std::uint32_t>(pool.size());
            pool.push_back(std::move(v));
        } else {
            slot[k] = free_slots.back();
            free_slots.pop_back();
            pool[slot[k]] = std::move(v);
        }
    }
    return take(root);
}

}  // namespace

FtBddInfo::FtBddInfo() : m(bdd_init()) {}

FtBddInfo::~FtBddInfo() { bdd_quit(m); }

std::unique_ptr<FtBddInfo> ftbdd_structure(AnalysisContext& in, SystemRecord& sys) {
    TreeModel& tm = tree_model(sys);
    rewrite_kofn(in, sys, tm.root);
    auto info = std::make_unique<FtBddInfo>();
    const size_t records = sys.nodes.size();
    info->v_bdd.assign(records, kBddNull);
    info->fanout.assign(records, 0);
    for (const NodeInfo& rec : sys.nodes)
        if (is_event(rec.entry)) ++info->nvar;
    read_tree(in, sys, *info);
    fix_tree(*info);
    return info;
}

Exponomial ftbdd_evaluate_with(BddManager* m, bdd f, const std::function<const Exponomial&(long)>& dist,
                               const Tolerances& tol) {
    if (f == bdd_zero(m)) return Exponomial::constant(0.0);
    if (f == bdd_one(m)) return Exponomial::constant(1.0);
    return *evaluate_diagram<Exponomial>(m, f, dist, tol);
}

std::unique_ptr<FtBddInfo> analyze_ftree_with_bdd(AnalysisContext& in, SystemRecord& sys, long node_limit) {
    std::unique_ptr<FtBddInfo> info = ftbdd_structure(in, sys);
    fbdd_ordering(*info);
    if (in.settings.work_limit >= 0 && (node_limit <= 0 || node_limit > in.settings.work_limit))
        node_limit = std::max(1L, in.settings.work_limit);
    bdd_node_limit(info->m, node_limit);
    fbdd_generate(in, *info);
    if (in.settings.debug[kDebugFtree]) {
        in.out.write("BDD Statistics:\n");
        in.out.printf("Size of BDD for Tree = %ld\n", bdd_size(info->m, info->root, 0));
        in.out.write(bdd_stats(info->m));
        in.out.write("========= bdd tree\n");
        const FtBddInfo& i = *info;
        bdd_print_bdd(
            info->m, info->root, [&](long pos) { return var_name(sys, i, pos); },
            [&](const std::string& text) { in.out.write(text); });
    }
    return info;
}

// The events' distributions are constants in most trees: then the values are
// computed as ConstantExpo, which gives the same numbers and warnings.
Exponomial ftbdd_evaluate(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, bdd f) {
    BddManager* m = info.m;
    if (f == bdd_zero(m)) return Exponomial::constant(0.0);
    if (f == bdd_one(m)) return Exponomial::constant(1.0);
    const Tolerances& tol = in.settings.tol;
    auto dist_at = [&](long position) -> const Exponomial& {
        return sys.nodes[static_cast<size_t>(info.listvar[static_cast<size_t>(position)])].dist;
    };
    const long vars = static_cast<long>(info.listvar.size());
    bool constants = tol.epsilon >= 0.0;
    for (long p = 0; constants && p < vars; ++p) constants = ConstantExpo::fits(dist_at(p));
    if (constants) {
        std::vector<ConstantExpo> c(static_cast<size_t>(vars));
        for (long p = 0; p < vars; ++p) c[static_cast<size_t>(p)] = ConstantExpo::of(dist_at(p));
        auto value = evaluate_diagram<ConstantExpo>(
            m, f, [&](long position) -> const ConstantExpo& { return c[static_cast<size_t>(position)]; }, tol);
        if (value) return value->to_exponomial();
    }
    return *evaluate_diagram<Exponomial>(m, f, dist_at, tol);
}

Exponomial ftbdd_form_gate_exponomial(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, int node) {
    const int rec = resolve_transfer(sys, node);
    if (rec < 0) in.err.error(212, kFatal, format_string("node %s", sys.names[node].c_str()), true);
    const bdd f = info.v_bdd[static_cast<size_t>(rec)];
    // A record that is not part of the tree never occurs.
    if (f == kBddNull) return Exponomial::constant(0.0);
    return ftbdd_evaluate(in, sys, info, f);
}

namespace {

double first_coefficient(const Exponomial& F) { return F.empty() ? 0.0 : F[0].e_a; }

}  // namespace

double ftbdd_importance(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, int comp, Kw kind) {
    BddManager* m = info.m;
    bdd x = info.v_bdd[static_cast<size_t>(comp)];
    if (x == kBddNull || !is_event(sys.nodes[static_cast<size_t>(comp)].entry)) {
        // A component that never got a variable does not affect the top event.
        return 0.0;
    }
    bdd f1 = ftbdd_checked(in, m, bdd_cofactor(m, info.root, x));
    bdd nx = bdd_not(m, x);
    bdd f0 = ftbdd_checked(in, m, bdd_cofactor(m, info.root, nx));
    double result = 0.0;
    if (kind == Kw::Simpt) {
        result = (bdd_satisfying_fraction(m, f1) - bdd_satisfying_fraction(m, f0)) / 2.0;
    } else {
        const double q1 = first_coefficient(ftbdd_evaluate(in, sys, info, f1));
        const double q0 = first_coefficient(ftbdd_evaluate(in, sys, info, f0));
        result = q1 - q0;
        if (kind == Kw::Cimpt) {
            const double top = first_coefficient(ftbdd_evaluate(in, sys, info, info.root));
            const double p = first_coefficient(sys.nodes[static_cast<size_t>(comp)].dist);
            if (top == 0.0) {
                in.out.write("Warning: no criticality importance measurs at this time point\n");
                result = 0.0;
            } else {
                result = result * p / top;
            }
        }
    }
    bdd_free(m, f1);
    bdd_free(m, f0);
    bdd_free(m, nx);
    bdd_gc(m);
    return result;
}

CofactorProbabilities ftbdd_cofactor_probabilities(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, int comp) {
    BddManager* m = info.m;
    CofactorProbabilities c;
    c.q = first_coefficient(ftbdd_evaluate(in, sys, info, info.root));
    c.p = first_coefficient(sys.nodes[static_cast<size_t>(comp)].dist);
    const bdd x = info.v_bdd[static_cast<size_t>(comp)];
    if (x == kBddNull || !is_event(sys.nodes[static_cast<size_t>(comp)].entry)) {
        c.q1 = c.q0 = c.q;
        return c;
    }
    bdd f1 = ftbdd_checked(in, m, bdd_cofactor(m, info.root, x));
    bdd nx = bdd_not(m, x);
    bdd f0 = ftbdd_checked(in, m, bdd_cofactor(m, info.root, nx));
    c.q1 = first_coefficient(ftbdd_evaluate(in, sys, info, f1));
    c.q0 = first_coefficient(ftbdd_evaluate(in, sys, info, f0));
    bdd_free(m, f1);
    bdd_free(m, f0);
    bdd_free(m, nx);
    bdd_gc(m);
    return c;
}

// ------------------------------------------------------------------ listings

namespace {

// Walks f depth first, else-branch first, with the state of each component
// on the path (1 then-branch, −1 else-branch) and the complement parity;
// `reach(terminal_is_one, via_then)` runs at every terminal.
void walk_paths(FtBddInfo& info, bdd f, std::vector<int>& state,
                const std::function<void(bool, bool)>& reach) {
    BddManager* m = info.m;
    struct Frame {
        bdd node;
        int stage;  // 0: go else, 1: go then, 2: done
    };
    if (bdd_is_constant(m, f)) return;
    std::vector<Frame> stack{{f, 0}};
    while (!stack.empty()) {
        Frame& fr = stack.back();
        const int rec = info.listvar[static_cast<size_t>(bdd_if_index(m, fr.node))];
        if (fr.stage == 2) {
            state[static_cast<size_t>(rec)] = 0;
            stack.pop_back();
            continue;
        }
        const bool then_side = fr.stage == 1;
        ++fr.stage;
        state[static_cast<size_t>(rec)] = then_side ? 1 : -1;
        bdd child = then_side ? bdd_then(m, fr.node) : bdd_else(m, fr.node);
        if (bdd_is_constant(m, child)) {
            reach(child == bdd_one(m), then_side);
            continue;
        }
        stack.push_back({child, 0});
    }
}

std::vector<int> components_in_order(const SystemRecord& sys, const FtBddInfo& info) {
    std::vector<int> comps;
    for (size_t r = 0; r < sys.nodes.size(); ++r)
        if (info.v_bdd[r] != kBddNull && is_event(sys.nodes[r].entry)) comps.push_back(static_cast<int>(r));
    return comps;
}

void print_sets(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, int mode) {
    bdd s = ftbdd_checked(in, info.m, bdd_minsol(info.m, info.root, mode));
    std::vector<int> state(sys.nodes.size(), 0);
    const std::vector<int> comps = components_in_order(sys, info);
    bool first = true;
    std::string line;
    walk_paths(info, s, state, [&](bool one, bool via_then) {
        const bool hit = mode == 1 ? (one && via_then) : (!one && !via_then);
        if (!hit) return;
        line = first ? "[" : ",\n[";
        first = false;
        const int want = mode == 1 ? 1 : -1;
        for (int c : comps)
            if (state[static_cast<size_t>(c)] == want) line += "(" + real_name(sys, c) + ")";
        line += "]";
        in.out.write(line);
    });
    in.out.write("\n\n");
    bdd_free(info.m, s);
}

}  // namespace

void ftbdd_print_mincuts(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info) { print_sets(in, sys, info, 1); }
void ftbdd_print_minpaths(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info) { print_sets(in, sys, info, 0); }

void ftbdd_print_p_q_form(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info) {
    std::vector<int> state(sys.nodes.size(), 0);
    const std::vector<int> comps = components_in_order(sys, info);
    bool first = true;
    walk_paths(info, info.root, state, [&](bool one, bool) {
        if (!one) return;
        std::string line = first ? "[" : "+\n[";
        first = false;
        bool first_factor = true;
        for (int c : comps) {
            const int st = state[static_cast<size_t>(c)];
            if (st == 0) continue;
            if (!first_factor) line += "*";
            first_factor = false;
            line += format_string("%c(%s)", st == 1 ? 'Q' : 'P', real_name(sys, c).c_str());
        }
        line += "]";
        in.out.write(line);
    });
    in.out.write("\n\n");
}

}  // namespace corvel
