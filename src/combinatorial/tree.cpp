// The component tree: building it from the node table, binding and rewriting
// its k-of-n gates, and the bottom-up analysis of trees whose events occur
// once. All walks use explicit stacks.

#include "combinatorial/tree.h"
#include "symbols/counts.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "expo/results.h"
#include "model/context.h"

namespace corvel {

namespace {

// Work limits beyond which a request is refused instead of running for hours
// or exhausting memory.
constexpr double kMaxKofNProducts = 1e8;     // products of one k-out-of-n combination
constexpr double kMaxFormulaBytes = 2e8;     // text held while a p-q formula is built

}  // namespace

int kofn_count(AnalysisContext& in, double value, const char* which, const std::string& node, int level) {
    return static_cast<int>(checked_count(in.err, value, CountRounding::Truncate,
                                          std::string(which) + " of node " + node, level));
}

namespace {

bool tracing(const AnalysisContext& in, int ttype) {
    const int* d = in.settings.debug;
    return ((ttype == kSysFtreeRepeated || ttype == kSysFtreeNoRepeat) && d[kDebugFtree]) ||
           (ttype == kSysGraph && d[kDebugGraph]) || (ttype == kSysBlock && d[kDebugBlock]);
}

void trace_header(AnalysisContext& in, const SystemRecord& sys, const TreeNode& node) {
    in.out.write("-------------------\n");
    in.out.printf("node %s, type %s\n", real_name(sys, node.first_node).c_str(), tree_node_type_label(node.type));
}

// The k that the exponomial k-of-n combination counts: failures in trees and
// completions in graphs, working components in a block diagram's kofn.
int failure_k(const TreeNode& node, int ttype) {
    if (node.type == NT_KOFN && ttype == kSysBlock) return node.n - node.k + 1;
    return node.k;
}

void check_kofn_work(double k, double n, const char* where) {
    if (k <= 0 || k > n) return;
    if (k * (n - k + 1) > kMaxKofNProducts) throw ExpoError(150, where);
}

// Visits the tree below root in post-order; `visit(t)` runs once every child
// of t has been visited. A node shared by several parents (a gate of a fault
// tree used more than once) is visited once, at its first occurrence.
template <class Visit>
void post_order(const TreeModel& tm, int root, Visit visit) {
    std::vector<char> seen(tm.tree.size(), 0);
    std::vector<std::pair<int, bool>> stack{{root, false}};
    while (!stack.empty()) {
        auto& top = stack.back();
        int t = top.first;
        if (!top.second) {
            if (seen[static_cast<size_t>(t)]) {
                stack.pop_back();
                continue;
            }
            seen[static_cast<size_t>(t)] = 1;
            top.second = true;
            const std::vector<int>& kids = tm.tree[static_cast<size_t>(t)].kids;
            for (auto it = kids.rbegin(); it != kids.rend(); ++it)
                if (!seen[static_cast<size_t>(*it)]) stack.emplace_back(*it, false);
            continue;
        }
        stack.pop_back();
        visit(t);
    }
}

// Number of parents of every node below root (a node of a plain tree has
// one; the root counts none).
std::vector<int> parent_counts(const TreeModel& tm, int root) {
    std::vector<int> count(tm.tree.size(), 0);
    post_order(tm, root, [&](int t) {
        for (int kid : tm.tree[static_cast<size_t>(t)].kids) ++count[static_cast<size_t>(kid)];
    });
    return count;
}

}  // namespace

const char* tree_node_type_label(int type) {
    switch (type) {
        case NT_SERIAL: return "SERIAL";
        case NT_PROB: return "PROB";
        case NT_MIN: return "MIN";
        case NT_MAX: return "MAX";
        case NT_KOFN: return "KOFN";
        case NT_LEAF: return "LEAF";
        case NT_TRANSFER: return "TRANSFER";
        case NT_REPEAT: return "REPEAT";
        default: return "unknown";
    }
}

// ------------------------------------------------------------------ arena

int TreeModel::new_node(AnalysisContext& in, int type, int first_node) {
    int index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
        tree[static_cast<size_t>(index)] = TreeNode{};
    } else {
        if (static_cast<int>(tree.size()) >= kMaxTreeNodes) in.err.error(7, kInternal, "tree nodes", false);
        tree.emplace_back();
        index = static_cast<int>(tree.size()) - 1;
    }
    TreeNode& node = tree[static_cast<size_t>(index)];
    node.type = type;
    node.first_node = first_node;
    return index;
}

void TreeModel::release(int node) {
    std::vector<int> stack{node};
    while (!stack.empty()) {
        int t = stack.back();
        stack.pop_back();
        TreeNode& tn = tree[static_cast<size_t>(t)];
        for (int kid : tn.kids) stack.push_back(kid);
        // The declared children of a rewritten gate are its real children.
        if (tn.has_bak && tn.kids != tn.kids_bak)
            for (int kid : tn.kids_bak) stack.push_back(kid);
        tn = TreeNode{};
        free_.push_back(t);
    }
}

void TreeModel::release_one(int node) {
    tree[static_cast<size_t>(node)] = TreeNode{};
    free_.push_back(node);
}

TreeModel& tree_model(SystemRecord& sys) {
    if (auto* tm = dynamic_cast<TreeModel*>(sys.model.get())) return *tm;
    sys.model = std::make_unique<TreeModel>();
    return static_cast<TreeModel&>(*sys.model);
}

const TreeModel* find_tree_model(const SystemRecord& sys) { return dynamic_cast<const TreeModel*>(sys.model.get()); }

// ------------------------------------------------------------------ names

std::string real_name(const SystemRecord& sys, int node) {
    if (node < 0 || node >= sys.names.size()) return "";
    const std::string& name = sys.names[node];
    auto shown = [&](int i) -> const std::string& {
        const std::string& d = i < static_cast<int>(sys.nodes.size()) ? sys.nodes[static_cast<size_t>(i)].display_name
                                                                     : name;
        return d.empty() ? sys.names[i] : d;
    };
    if (name.empty() || name[0] != ';') return shown(node);
    // ";<index of the original>;<copy number>"
    size_t second = name.find(';', 1);
    size_t last = name.rfind(';');
    if (second == std::string::npos || last == 0) return name;
    int original = std::atoi(name.substr(1, second - 1).c_str());
    std::string base =
        (original >= 0 && original < sys.names.size() && original != node) ? shown(original) : std::string("?");
    return base + "(" + name.substr(last + 1) + ")";
}

int resolve_transfer(const SystemRecord& sys, int node) {
    int steps = 0;
    const int limit = static_cast<int>(sys.nodes.size());
    while (node >= 0 && node < limit && sys.nodes[static_cast<size_t>(node)].entry == NT_TRANSFER) {
        if (++steps > limit) return -1;
        node = sys.nodes[static_cast<size_t>(node)].transfer_index;
    }
    return (node >= 0 && node < limit) ? node : -1;
}

namespace {

// The record a leaf of the tree stands for, following transfers; a transfer
// cycle is error 212.
int leaf_record(AnalysisContext& in, const SystemRecord& sys, int first_node) {
    int rec = resolve_transfer(sys, first_node);
    if (rec < 0) in.err.error(212, kFatal, sys.names[first_node], true);
    return rec;
}

}  // namespace

// ------------------------------------------------------------------ building

namespace {

bool is_gate_record(int type) { return type != NT_LEAF && type != NT_TRANSFER && type != NT_REPEAT; }

// The gates below `top` that can be built once and shared by all their
// parents: in a fault tree with repeated events, a further occurrence of a
// basic event is an independent copy, so only gates with no basic event
// anywhere below them stand for the same function at every occurrence.
std::vector<char> shareable_gates(const SystemRecord& sys, int top) {
    enum : char { kUnseen = 0, kOpen = 1, kShared = 2, kExpanded = 3 };
    std::vector<char> state(sys.nodes.size(), kUnseen);
    std::vector<std::pair<int, size_t>> stack{{top, 0}};
    state[static_cast<size_t>(top)] = kOpen;
    while (!stack.empty()) {
        auto& [rec, next] = stack.back();
        const NodeInfo& info = sys.nodes[static_cast<size_t>(rec)];
        if (is_gate_record(info.entry) && next < info.succ.size()) {
            int child = info.succ[next++];
            char& cs = state[static_cast<size_t>(child)];
            if (cs == kUnseen) {
                cs = kOpen;
                stack.emplace_back(child, 0);
            }
            continue;
        }
        bool pure = info.entry != NT_LEAF;
        if (is_gate_record(info.entry))
            for (int child : info.succ)
                if (state[static_cast<size_t>(child)] != kShared) pure = false;  // open: a cycle, never shared
        state[static_cast<size_t>(rec)] = pure ? kShared : kExpanded;
        stack.pop_back();
    }
    std::vector<char> shared(sys.nodes.size(), 0);
    for (size_t r = 0; r < shared.size(); ++r)
        shared[r] = state[r] == kShared && is_gate_record(sys.nodes[r].entry);
    return shared;
}

}  // namespace

int make_btree(AnalysisContext& in, SystemRecord& sys, int top) {
    TreeModel& tm = tree_model(sys);
    // A shareable gate is one tree node however many gates name it, so the
    // tree is a graph whose size is that of the model, not of its expansion.
    std::vector<char> shared;
    if (sys.type == kSysFtreeRepeated) shared = shareable_gates(sys, top);
    std::vector<int> built(shared.size(), -1);
    int root = tm.new_node(in, sys.nodes[static_cast<size_t>(top)].entry, top);
    if (!shared.empty() && shared[static_cast<size_t>(top)]) built[static_cast<size_t>(top)] = root;
    std::vector<int> stack{root};
    std::vector<int> fresh;
    while (!stack.empty()) {
        int t = stack.back();
        stack.pop_back();
        int rec = tm.tree[static_cast<size_t>(t)].first_node;
        int type = sys.nodes[static_cast<size_t>(rec)].entry;
        if (type == NT_TRANSFER) continue;
        if (type != NT_LEAF) {
            const size_t count = sys.nodes[static_cast<size_t>(rec)].succ.size();
            fresh.clear();
            for (size_t i = 0; i < count; ++i) {
                int child = sys.nodes[static_cast<size_t>(rec)].succ[i];
                const bool share = static_cast<size_t>(child) < shared.size() && shared[static_cast<size_t>(child)];
                int kid = share ? built[static_cast<size_t>(child)] : -1;
                if (kid < 0) {
                    kid = tm.new_node(in, sys.nodes[static_cast<size_t>(child)].entry, child);
                    if (share) built[static_cast<size_t>(child)] = kid;
                    fresh.push_back(kid);
                }
                tm.tree[static_cast<size_t>(t)].kids.push_back(kid);
            }
            for (auto it = fresh.rbegin(); it != fresh.rend(); ++it) stack.push_back(*it);
            continue;
        }
        int copies = sys.nodes[static_cast<size_t>(rec)].num_copies;
        if (sys.type == kSysFtreeRepeated && copies > 0) {
            // A further occurrence of a basic event is an independent copy.
            if (sys.nodes[static_cast<size_t>(rec)].transferred_to)
                in.err.error(153, kFatal,
                             format_string("system %s, component %s", sys.name.c_str(), sys.names[rec].c_str()), true);
            std::string copy_name = format_string(";%d;%d", rec, copies);
            int idx = sys.node(copy_name, NameTable::kAdd);
            if (idx < 0) in.err.error(27, kInternal, copy_name, false);
            NodeInfo& copy = sys.nodes[static_cast<size_t>(idx)];
            const NodeInfo& orig = sys.nodes[static_cast<size_t>(rec)];
            copy.udist = orig.udist;
            copy.dist = orig.dist;
            copy.rudist = orig.rudist;
            copy.rdist = orig.rdist;
            copy.failure_rate = orig.failure_rate;
            copy.repair_rate = orig.repair_rate;
            copy.entry = NT_LEAF;
            copy.defined = true;
            tm.tree[static_cast<size_t>(t)].first_node = idx;
            tm.map.push_back(idx);
        }
        sys.nodes[static_cast<size_t>(rec)].num_copies++;
    }
    return root;
}

int copy_tree(AnalysisContext& in, TreeModel& tm, int node) {
    int root = tm.new_node(in, 0, -1);
    std::vector<std::pair<int, int>> stack{{node, root}};  // (original, copy)
    while (!stack.empty()) {
        auto [from, to] = stack.back();
        stack.pop_back();
        TreeNode& dst = tm.tree[static_cast<size_t>(to)];
        const TreeNode& src = tm.tree[static_cast<size_t>(from)];
        dst.type = src.type;
        dst.first_node = src.first_node;
        dst.k = src.k;
        dst.n = src.n;
        const std::vector<int> kids = src.kids;
        for (int kid : kids) {
            int c = tm.new_node(in, 0, -1);
            tm.tree[static_cast<size_t>(to)].kids.push_back(c);
            stack.emplace_back(kid, c);
        }
    }
    return root;
}

// ------------------------------------------------------------------ k and n

void bind_k_n(AnalysisContext& in, SystemRecord& sys, int root, int level) {
    TreeModel& tm = tree_model(sys);
    if (root < 0) return;
    std::vector<char> seen(tm.tree.size(), 0);
    std::vector<int> stack{root};
    seen[static_cast<size_t>(root)] = 1;
    while (!stack.empty()) {
        int t = stack.back();
        stack.pop_back();
        TreeNode* node = &tm.tree[static_cast<size_t>(t)];
        if (node->has_bak) {
            if (node->kids != node->kids_bak) {
                // The AND gates of the rewrite; the declared children below
                // them are the gate's own and stay.
                std::vector<int> rewritten = std::move(node->kids);
                for (int kid : rewritten) tm.release_one(kid);
                node = &tm.tree[static_cast<size_t>(t)];
            }
            node->kids = std::move(node->kids_bak);
            node->kids_bak.clear();
            node->has_bak = false;
            node->type = NT_KOFN;
        }
        for (int kid : node->kids)
            if (!seen[static_cast<size_t>(kid)]) {
                seen[static_cast<size_t>(kid)] = 1;
                stack.push_back(kid);
            }
        const int count = static_cast<int>(node->kids.size());
        switch (node->type) {
            case NT_KOFN:
            case NT_NKOFN: {
                NodeInfo& rec = sys.nodes[static_cast<size_t>(node->first_node)];
                bool symbolic = false;
                if (rec.k_sym) {
                    rec.k = kofn_count(in, in.eval.bind_expression(*rec.k_sym), "k", sys.names[node->first_node], level);
                    symbolic = true;
                }
                if (rec.n_sym) {
                    rec.n = kofn_count(in, in.eval.bind_expression(*rec.n_sym), "n", sys.names[node->first_node], level);
                    symbolic = true;
                }
                const std::string& name = sys.names[node->first_node];
                if (symbolic) {
                    if (rec.k < 1) in.err.ERR(46, level, name, "");
                    if (rec.k > rec.n) in.err.ERR(47, level, name, "");
                }
                if (count > 1 && count != rec.n) in.err.ERR(49, kFatal, name, "");
                node->k = rec.k;
                node->n = rec.n;
                break;
            }
            case NT_MIN:
            case NT_NMIN:
                node->k = 1;
                node->n = count;
                break;
            case NT_MAX:
            case NT_NMAX:
                node->k = node->n = count;
                break;
            default:
                break;
        }
    }
}

namespace {

// An AND node over the given children. The children are shared with the
// gate's other subsets rather than copied: a copy would stand for the same
// records, hence the same events, so the function is the same.
int and_of(AnalysisContext& in, TreeModel& tm, int first_node, std::vector<int> parts) {
    int a = tm.new_node(in, NT_MAX, first_node);
    TreeNode& node = tm.tree[static_cast<size_t>(a)];
    node.kids = std::move(parts);
    node.k = node.n = static_cast<int>(node.kids.size());
    return a;
}

void rewrite_one(AnalysisContext& in, SystemRecord& sys, TreeModel& tm, int t) {
    {
        TreeNode& node = tm.tree[static_cast<size_t>(t)];
        if (!node.has_bak) {
            node.kids_bak = node.kids;
            node.has_bak = true;
        }
        if (node.kids.size() == 1) {
            in.out.write("shorthand kofn allowed only when computing cdf without bdd and\n");
            in.out.write("either factoring is used or");
            in.out.write(" the fault tree has no repeated events.\n");
            in.err.error(205, kFatal, sys.name, true);
        }
    }
    const std::vector<int> x = tm.tree[static_cast<size_t>(t)].kids;
    const int n = static_cast<int>(x.size());
    const int k = failure_k(tm.tree[static_cast<size_t>(t)], sys.type);
    const int first = tm.tree[static_cast<size_t>(t)].first_node;
    if (k <= 1) {
        TreeNode& node = tm.tree[static_cast<size_t>(t)];
        node.type = NT_MIN;
        node.k = 1;
        node.n = n;
        return;
    }
    if (k >= n) {
        TreeNode& node = tm.tree[static_cast<size_t>(t)];
        node.type = NT_MAX;
        node.k = node.n = n;
        return;
    }
    // A[j] holds the AND nodes of the (j+1)-subsets of the children seen so
    // far; only the sizes that can still grow into k-subsets are kept.
    std::vector<std::vector<int>> A(static_cast<size_t>(k));
    int hi = 1, lo = 1;
    for (int i = 1; i <= n - 1; ++i) {
        const int next = x[static_cast<size_t>(i)];
        for (int j = hi; j >= lo; --j) {
            std::vector<int>& Aj = A[static_cast<size_t>(j)];
            if (j == i) {
                Aj.assign(1, and_of(in, tm, first, std::vector<int>(x.begin(), x.begin() + i + 1)));
            } else if (j == 1) {
                for (int m = 0; m < i; ++m)
                    Aj.insert(Aj.begin(), and_of(in, tm, first, {x[static_cast<size_t>(m)], next}));
            } else {
                const std::vector<int> smaller = A[static_cast<size_t>(j - 1)];
                for (int s : smaller) {
                    std::vector<int> parts = tm.tree[static_cast<size_t>(s)].kids;
                    parts.push_back(next);
                    Aj.insert(Aj.begin(), and_of(in, tm, first, std::move(parts)));
                }
            }
        }
        if (i < k - 1) ++hi;
        if (i > n - k) ++lo;
    }
    for (int j = 1; j <= k - 2; ++j)
        for (int s : A[static_cast<size_t>(j)]) tm.release_one(s);
    TreeNode& node = tm.tree[static_cast<size_t>(t)];
    node.type = NT_MIN;
    node.kids = std::move(A[static_cast<size_t>(k - 1)]);
    node.k = 1;
    node.n = static_cast<int>(node.kids.size());
}

}  // namespace

void rewrite_kofn(AnalysisContext& in, SystemRecord& sys, int root) {
    TreeModel& tm = tree_model(sys);
    if (root < 0) return;
    // Pre-order: nkofn becomes not over a k-of-n gate that takes its place.
    std::vector<int> order;
    std::vector<char> seen(tm.tree.size(), 0);
    std::vector<int> stack{root};
    while (!stack.empty()) {
        int t = stack.back();
        stack.pop_back();
        if (static_cast<size_t>(t) < seen.size()) {
            if (seen[static_cast<size_t>(t)]) continue;
            seen[static_cast<size_t>(t)] = 1;
        }
        if (tm.tree[static_cast<size_t>(t)].type == NT_NKOFN) {
            int g = tm.new_node(in, NT_KOFN, tm.tree[static_cast<size_t>(t)].first_node);
            TreeNode& gate = tm.tree[static_cast<size_t>(g)];
            TreeNode& node = tm.tree[static_cast<size_t>(t)];
            gate.kids = std::move(node.kids);
            gate.kids_bak = std::move(node.kids_bak);
            gate.has_bak = node.has_bak;
            gate.k = node.k;
            gate.n = node.n;
            node.kids.assign(1, g);
            node.kids_bak.clear();
            node.has_bak = false;
            node.type = NT_NOT;
        }
        order.push_back(t);
        for (int kid : tm.tree[static_cast<size_t>(t)].kids) stack.push_back(kid);
    }
    // Post-order: children before their gates.
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        if (tm.tree[static_cast<size_t>(*it)].type == NT_KOFN) rewrite_one(in, sys, tm, *it);
}

// ------------------------------------------------------------------ analysis

void analyze_tree(AnalysisContext& in, SystemRecord& sys, int root, int ttype, int keep) {
    TreeModel& tm = tree_model(sys);
    if (root < 0) return;
    const Tolerances& tol = in.settings.tol;
    const bool trace = tracing(in, ttype);
    ExpoDiagnostics diag;
    diag.out = &in.out;
    diag.verbose = in.settings.verbose;
    diag.debug = in.settings.debug[kDebugExpo] != 0;
    diag.print = expo_printer(in.settings);
    std::vector<const Exponomial*> list;
    std::vector<int> parents = parent_counts(tm, root);
    try {
        post_order(tm, root, [&](int t) {
            TreeNode& node = tm.tree[static_cast<size_t>(t)];
            Exponomial result;
            list.clear();
            for (int kid : node.kids) list.push_back(&tm.tree[static_cast<size_t>(kid)].cdf);
            const int count = static_cast<int>(list.size());
            switch (node.type) {
                case NT_SERIAL:
                    convolution_list(std::span<const Exponomial* const>(list), result, tol, &diag);
                    break;
                case NT_PROB:
                    for (const Exponomial* F : list) add_expos(*F, result, tol);
                    break;
                case NT_MIN:
                    check_kofn_work(1, count, "kn_gen");
                    k_of_n_gen(std::span<const Exponomial* const>(list), result, 1, count, tol);
                    break;
                case NT_MAX:
                    check_kofn_work(count, count, "kn_gen");
                    k_of_n_gen(std::span<const Exponomial* const>(list), result, count, count, tol);
                    break;
                case NT_KOFN: {
                    int k = failure_k(node, ttype);
                    if (count >= 2) {
                        check_kofn_work(k, std::min(node.n, count), "kn_gen");
                        k_of_n_gen(std::span<const Exponomial* const>(list), result, k, node.n, tol);
                    } else if (count == 1) {
                        check_kofn_work(k, node.n, "kn_iid");
                        k_of_n_iid(*list[0], result, k, node.n, tol);
                    }
                    break;
                }
                case NT_LEAF:
                case NT_TRANSFER:
                case NT_REPEAT: {
                    int rec = leaf_record(in, sys, node.first_node);
                    const NodeInfo& info = sys.nodes[static_cast<size_t>(rec)];
                    if (info.has_prob)
                        scalar_mult_and_add(info.dist, info.prob, result, tol);
                    else
                        copy_expo(info.dist, result);
                    break;
                }
                default:
                    in.err.error(2, kInternal, "", false);
            }
            node.cdf = std::move(result);
            for (int kid : node.kids) {
                TreeNode& child = tm.tree[static_cast<size_t>(kid)];
                // A shared gate's result stays until its last parent has used it.
                if (--parents[static_cast<size_t>(kid)] > 0) continue;
                if (keep < 0 || child.first_node != keep) free_expo(child.cdf);
            }
            if (trace) {
                trace_header(in, sys, node);
                expo_print(in.out, in.settings, node.cdf, 't');
            }
        });
    } catch (const ExpoError& e) {
        in.err.error(e.number, kInternal, e.text, false);
    }
}

const Exponomial* tree_node_cdf(const SystemRecord& sys, int node) {
    const TreeModel* tm = find_tree_model(sys);
    if (!tm || tm->root < 0) return nullptr;
    std::vector<char> seen(tm->tree.size(), 0);
    std::vector<int> stack{tm->root};
    while (!stack.empty()) {
        int t = stack.back();
        stack.pop_back();
        if (seen[static_cast<size_t>(t)]) continue;
        seen[static_cast<size_t>(t)] = 1;
        const TreeNode& tn = tm->tree[static_cast<size_t>(t)];
        if (tn.first_node == node) return &tn.cdf;
        for (auto it = tn.kids.rbegin(); it != tn.kids.rend(); ++it) stack.push_back(*it);
    }
    return nullptr;
}

const std::vector<PathResult>* tree_paths(const SystemRecord& sys) {
    const TreeModel* tm = find_tree_model(sys);
    if (!tm || !sys.multpath || sys.numpaths <= 0) return nullptr;
    return &tm->paths;
}

std::vector<std::string> path_node_names(const SystemRecord& sys, const PathResult& path) {
    std::vector<std::string> names;
    names.reserve(path.nodes.size());
    for (int v : path.nodes) names.push_back(real_name(sys, v));
    return names;
}

// ------------------------------------------------------------------ p-q form

namespace {

// "at least all n" of the children as the symbolic k-of-n combination writes
// it, (c[n-1]) * ((c[n-2]) * (... c[0])), built in linear time.
std::string nested_product(const std::vector<std::string>& children, bool complemented) {
    auto piece = [&](size_t i) { return complemented ? "1 - (" + children[i] + ")" : children[i]; };
    std::string text;
    const size_t n = children.size();
    for (size_t i = n - 1; i >= 1; --i) text.append("(").append(piece(i)).append(") * (");
    text.append(piece(0));
    text.append(n - 1, ')');
    return text;
}

// Bytes the symbolic k-of-n combination holds while it builds "at least kk of
// the n children" (children of the given lengths, complemented when asked).
double kofn_formula_bytes(const std::vector<std::string>& children, int kk, bool complemented) {
    const int n = static_cast<int>(children.size());
    std::vector<double> len(static_cast<size_t>(n), 0.0);
    auto L = [&](int i) { return static_cast<double>(children[static_cast<size_t>(i)].size()) + (complemented ? 6 : 0); };
    double total = len[0] = L(0);
    for (int i = 1; i < n; ++i) {
        len[static_cast<size_t>(i)] = L(i) + len[static_cast<size_t>(i - 1)] + 8;
        total += len[static_cast<size_t>(i)];
        for (int j = i - 1; j >= std::max(0, i - (n - kk)); --j) {
            double add = j == 0 ? 3 + L(i) : 11 + L(i) + len[static_cast<size_t>(j - 1)];
            len[static_cast<size_t>(j)] += add;
            total += add;
        }
        if (total > kMaxFormulaBytes) return total;
    }
    return total;
}

void sym_kofn(std::vector<std::string>& children, SymFormula& d, int k, int n) {
    n = std::min<int>(n, static_cast<int>(children.size()));
    if (k >= 1 && k <= n && (k == n || k == 1) && n > 1) {
        // The AND and OR combinations: the product form without its quadratic
        // intermediate texts.
        if (k == n)
            add_sym_pqcdf(nested_product(children, false), d);
        else
            add_sym_pqcdf("1 - (" + nested_product(children, true) + ")", d);
        return;
    }
    if (k >= 1 && k <= n) {
        bool complemented = k != n;
        int kk = complemented ? n - k + 1 : n;
        children.resize(static_cast<size_t>(n));
        if (kofn_formula_bytes(children, kk, complemented) > kMaxFormulaBytes)
            throw ExpoError(150, "pqcdf");
    }
    sym_k_of_n_gen(std::span<const std::string>(children), d, k, n);
}

}  // namespace

SymFormula analyze_tree_pqcdf(AnalysisContext& in, SystemRecord& sys, int root, int ttype) {
    TreeModel& tm = tree_model(sys);
    if (root < 0) return std::nullopt;
    const bool trace = tracing(in, ttype);
    std::vector<int> parents = parent_counts(tm, root);
    try {
        post_order(tm, root, [&](int t) {
            TreeNode& node = tm.tree[static_cast<size_t>(t)];
            SymFormula d;
            std::vector<std::string> children;
            double bytes = 0;
            for (int kid : node.kids) {
                SymFormula& f = tm.tree[static_cast<size_t>(kid)].sym_cdf;
                bytes += f ? static_cast<double>(f->size()) : 0.0;
                if (--parents[static_cast<size_t>(kid)] > 0) {
                    children.push_back(f ? *f : std::string());
                    continue;
                }
                children.push_back(f ? std::move(*f) : std::string());
                f.reset();
            }
            switch (node.type) {
                case NT_SERIAL:
                    break;  // a sequence has no p-q form
                case NT_PROB:
                    for (const std::string& c : children) add_sym_pqcdf(c, d);
                    break;
                case NT_MIN:
                case NT_MAX:
                case NT_KOFN: {
                    int count = static_cast<int>(children.size());
                    int k = node.type == NT_MIN ? 1 : node.type == NT_MAX ? count : failure_k(node, ttype);
                    int n = node.type == NT_KOFN ? node.n : count;
                    if (count == 1 && node.type == NT_KOFN && n > 1) {
                        // n independent copies of the one child.
                        if (bytes * n > kMaxFormulaBytes) throw ExpoError(150, "pqcdf");
                        children.assign(static_cast<size_t>(n), children[0]);
                    }
                    sym_kofn(children, d, k, n);
                    break;
                }
                case NT_LEAF:
                case NT_TRANSFER:
                case NT_REPEAT: {
                    int rec = leaf_record(in, sys, node.first_node);
                    const NodeInfo& info = sys.nodes[static_cast<size_t>(rec)];
                    std::string leaf = sym_leaf(real_name(sys, rec));
                    if (info.has_prob)
                        sym_scalar_mult_and_add(leaf, info.prob, d);
                    else
                        d = std::move(leaf);
                    break;
                }
                default:
                    in.err.error(2, kInternal, "", false);
            }
            if (d && static_cast<double>(d->size()) > kMaxFormulaBytes) throw ExpoError(150, "pqcdf");
            node.sym_cdf = std::move(d);
            if (trace) {
                trace_header(in, sys, node);
                print_sym_p_q_form(in.out, node.sym_cdf);
            }
        });
    } catch (const ExpoError& e) {
        in.err.error(e.number, kInternal, e.text, false);
    }
    SymFormula result = std::move(tm.tree[static_cast<size_t>(root)].sym_cdf);
    tm.tree[static_cast<size_t>(root)].sym_cdf.reset();
    return result;
}

void print_tree_pqcdf(AnalysisContext& in, SystemRecord& sys) {
    const TreeModel* tm = find_tree_model(sys);
    int root = tm ? tm->root : -1;
    SymFormula f = analyze_tree_pqcdf(in, sys, root, sys.type);
    print_sym_p_q_form(in.out, f);
}

}  // namespace corvel
