// The order-free route of fault trees with repeated events: simplification
// of the structure graph, modules found from the visit dates of one
// depth-first walk, a diagram per module under a structural variable order,
// and the bottom-up evaluation of the modules.

#include "combinatorial/ftree_modules.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <cstdlib>
#include <limits>
#include <new>
#include <numeric>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "combinatorial/ftree_bounds.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "expo/constant_expo.h"
#include "model/context.h"

namespace corvel {

FtPlan ft_plan(BddManager* m, bdd f) {
    FtPlan plan;
    if (f == bdd_one(m) || f == bdd_zero(m)) {
        plan.root = f == bdd_one(m) ? BddPostorder::kRefOne : BddPostorder::kRefZero;
        return plan;
    }
    BddPostorder order(m, f);
    plan.root = order.ref(f);
    plan.kids = std::move(order.kids);
    return plan;
}

// Each node from its children's pairs weighted by its variable's pair: no
// subtraction anywhere.
FtPair evaluate_pairs(const FtPlan& plan, const std::vector<FtPair>& var) {
    std::vector<FtPair> value(plan.kids.size());
    auto of = [&](std::uint32_t ref) -> FtPair {
        if (ref == BddPostorder::kRefOne) return {1.0, 0.0};
        if (ref == BddPostorder::kRefZero) return {0.0, 1.0};
        const FtPair v = value[ref >> 1];
        return (ref & 1u) ? FtPair{v.q, v.p} : v;
    };
    for (size_t k = 0; k < plan.kids.size(); ++k) {
        const BddPostorder::Kids& kid = plan.kids[k];
        const FtPair x = var[kid.position], r = of(kid.then_ref), l = of(kid.else_ref);
        value[k] = FtPair{x.p * r.p + x.q * l.p, x.p * r.q + x.q * l.q};
    }
    return of(plan.root);
}

FtPair evaluate_pairs(BddManager* m, bdd f, const std::vector<FtPair>& var) { return evaluate_pairs(ft_plan(m, f), var); }

FtFastTree::FtFastTree() : m(bdd_init()) {}
FtFastTree::~FtFastTree() { bdd_quit(m); }

namespace {

// A literal: an event record or a gate of the simplified graph, possibly
// complemented; bit 0 the complement, bit 1 set for a gate. The two
// constants complement each other in bit 0 as well.
using Lit = std::uint32_t;
constexpr Lit kTrue = 0xFFFFFFFCu, kFalse = 0xFFFFFFFDu;
bool is_const(Lit l) { return l >= kTrue; }
bool is_gate(Lit l) { return !is_const(l) && (l & 2u) != 0; }
std::uint32_t index_of(Lit l) { return l >> 2; }
Lit event_lit(int rec) { return static_cast<Lit>(rec) << 2; }
Lit gate_lit(std::uint32_t g) { return (g << 2) | 2u; }

struct Gate {
    bool is_and = false;
    std::vector<Lit> kids;
};

bool is_event_type(int type) { return type == NT_LEAF || type == NT_REPEAT; }

// The simplified graph: gates after the gates they use.
struct Graph {
    std::vector<Gate> gates;
    Lit top = kFalse;
};

Graph simplify(const FtBddInfo& info) {
    Graph g;
    const size_t n = info.st.size();
    std::vector<int> users(n, 0);
    for (const StructureNode& s : info.st)
        for (int k : s.kids) ++users[static_cast<size_t>(k)];
    std::vector<Lit> lit(n, kFalse);
    std::vector<Lit> kids;
    for (size_t i = 0; i < n; ++i) {
        const StructureNode& s = info.st[i];
        const Lit flip = s.inverse ? 1u : 0u;
        if (is_event_type(s.type)) {
            lit[i] = event_lit(s.n_id) ^ flip;
            continue;
        }
        const bool is_and = s.type == NT_MAX;
        const Lit unit = is_and ? kTrue : kFalse, absorb = unit ^ 1u;
        kids.clear();
        bool absorbed = false;
        for (int k : s.kids) {
            const Lit l = lit[static_cast<size_t>(k)];
            if (l == unit) continue;
            if (l == absorb) {
                absorbed = true;
                break;
            }
            // An input of the same kind used by this gate alone is merged.
            if (is_gate(l) && (l & 1u) == 0 && users[static_cast<size_t>(k)] == 1 &&
                g.gates[index_of(l)].is_and == is_and) {
                const std::vector<Lit>& sub = g.gates[index_of(l)].kids;
                kids.insert(kids.end(), sub.begin(), sub.end());
            } else {
                kids.push_back(l);
            }
        }
        Lit result;
        if (!absorbed) {
            std::sort(kids.begin(), kids.end());
            kids.erase(std::unique(kids.begin(), kids.end()), kids.end());
            // x and not x are neighbours once sorted.
            for (size_t j = 1; j < kids.size() && !absorbed; ++j) absorbed = kids[j] == (kids[j - 1] ^ 1u);
        }
        if (absorbed)
            result = absorb;
        else if (kids.empty())
            result = unit;
        else if (kids.size() == 1)
            result = kids[0];
        else {
            g.gates.push_back(Gate{is_and, kids});
            result = gate_lit(static_cast<std::uint32_t>(g.gates.size() - 1));
        }
        lit[i] = result ^ flip;
    }
    g.top = lit[static_cast<size_t>(info.st_root)];
    return g;
}

// Gates whose sub-graph is reached only through them. One depth-first walk
// dates every arrival at a node; a gate is a module when everything below
// it is first reached after the gate and last reached before the walk
// leaves it.
std::vector<char> find_modules(const Graph& g, size_t records) {
    const size_t ng = g.gates.size();
    std::vector<std::uint64_t> g_first(ng, 0), g_exit(ng, 0), g_last(ng, 0);
    std::vector<std::uint64_t> e_first(records, 0), e_last(records, 0);
    std::vector<char> module(ng, 0);
    if (!is_gate(g.top)) return module;
    std::uint64_t date = 0;
    struct Frame {
        std::uint32_t gate;
        size_t next;
    };
    std::vector<Frame> stack;
    const std::uint32_t root = index_of(g.top);
    g_first[root] = g_last[root] = ++date;
    stack.push_back({root, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        const Gate& gate = g.gates[f.gate];
        if (f.next == gate.kids.size()) {
            g_exit[f.gate] = ++date;
            g_last[f.gate] = std::max(g_last[f.gate], date);
            stack.pop_back();
            continue;
        }
        const Lit l = gate.kids[f.next++];
        ++date;
        const std::uint32_t c = index_of(l);
        if (!is_gate(l)) {
            if (e_first[c] == 0) e_first[c] = date;
            e_last[c] = date;
        } else if (g_first[c] == 0) {
            g_first[c] = g_last[c] = date;
            stack.push_back({c, 0});
        } else {
            g_last[c] = date;
        }
    }
    // The earliest and latest dates below every gate; inputs come first.
    std::vector<std::uint64_t> lo(ng, std::numeric_limits<std::uint64_t>::max()), hi(ng, 0);
    for (std::uint32_t i = 0; i < ng; ++i) {
        if (g_first[i] == 0) continue;
        for (Lit l : g.gates[i].kids) {
            const std::uint32_t c = index_of(l);
            if (is_gate(l)) {
                lo[i] = std::min({lo[i], g_first[c], lo[c]});
                hi[i] = std::max({hi[i], g_last[c], hi[c]});
            } else {
                lo[i] = std::min(lo[i], e_first[c]);
                hi[i] = std::max(hi[i], e_last[c]);
            }
        }
        module[i] = lo[i] > g_first[i] && hi[i] < g_exit[i];
    }
    module[root] = 1;
    return module;
}

// The orders an adaptive build tries, and the modules that get trials.
constexpr FtOrder kTrialOrders[] = {FtOrder::DepthFirst, FtOrder::Weight, FtOrder::RepeatedFirst, FtOrder::Force};
constexpr size_t kTrialGates = 32;
// The new nodes of the second trials, when no order completed within the
// first budget, as multiples of it: the best walk order's, and the
// force-directed order's (640 Ki and 1 Mi nodes by default).
constexpr long kWalkTrialFactor = 20;
constexpr long kForceTrialFactor = 32;

using Pair = FtPair;

// A building operation ran out of nodes.
struct OutOfNodes {};

// How the diagrams of a bounds pass are pruned, and what the pass found.
struct Pruning {
    FtBound way = FtBound::Lower;
    double threshold = 0.0;
    const std::vector<double>* event_p = nullptr;  // event record -> probability
    double cut = 0.0;                              // reach cut away, summed
    std::vector<Pair> module_value;                // per module: its (pruned) probability pair
};

// Diagrams this small are never pruned: they cost nothing to keep.
constexpr long kPruneFrom = 16;

// Builds the diagram of every module, the modules below first. With a
// pruning every intermediate diagram is pruned as it is made and every
// module is evaluated (and its diagram dropped) as soon as it is complete.
class ModuleBuilder {
public:
    ModuleBuilder(AnalysisContext& in, const Graph& g, const std::vector<char>& module, FtFastTree& t, FtOrder order,
                  long trial_nodes, size_t records, Pruning* prune = nullptr)
        : in_(in), g_(g), module_(module), t_(t), order_(order), current_(order),
          trial_nodes_(std::max(1L, trial_nodes)), prune_(prune), module_of_(g.gates.size(), -1),
          var_of_event_(records, kBddNull), seen_(g.gates.size(), 0), users_(g.gates.size(), 0),
          value_(g.gates.size(), kBddNull), occurrences_(records, 0), gate_occurrences_(g.gates.size(), 0),
          weight_(g.gates.size(), 0) {}

    // Only gates the walk from the top reached are marked, and a module's
    // gates come before it.
    void build_all() {
        for (std::uint32_t i = 0; i < g_.gates.size(); ++i)
            if (module_[i]) build(i);
    }

private:
    AnalysisContext& in_;
    const Graph& g_;
    const std::vector<char>& module_;
    FtFastTree& t_;
    FtOrder order_;
    FtOrder current_;                // the order of the module being built
    long trial_nodes_;               // new nodes an attempt of the adaptive order may make
    Pruning* prune_;
    std::vector<double> var_p_;      // pruning: order position -> probability of the variable
    std::vector<Pair> var_pair_;     // pruning: the same as a pair
    long kept_size_ = 0;             // pruning: size of the partial result last pruned
    std::vector<int> module_of_;     // gate -> module number
    std::vector<bdd> var_of_event_;  // event record -> its variable
    std::vector<std::uint32_t> seen_;  // gate -> stamp of the module walk that met it
    std::uint32_t stamp_ = 0;
    std::vector<int> users_;           // own gates: parents within the module still to use them
    std::vector<bdd> value_;           // own gates: diagram while needed
    std::vector<std::uint32_t> occurrences_, gate_occurrences_;  // inputs' uses within the module
    std::vector<std::uint64_t> weight_;  // own gates: event occurrences below
    std::vector<std::uint32_t> own_;     // own gates of the module being built, inputs first
    std::vector<std::uint32_t> module_root_;  // module number -> its gate
    std::vector<std::pair<long, bdd>> sized_;  // a gate's input diagrams with their sizes

    bool own(Lit l) const { return is_gate(l) && !module_[index_of(l)]; }

    // The gates of module root reached without passing another module, each
    // after its inputs.
    void collect_own(std::uint32_t root) {
        own_.clear();
        ++stamp_;
        struct Frame {
            std::uint32_t gate;
            size_t next;
        };
        std::vector<Frame> stack{{root, 0}};
        seen_[root] = stamp_;
        while (!stack.empty()) {
            Frame& f = stack.back();
            const Gate& gate = g_.gates[f.gate];
            if (f.next == gate.kids.size()) {
                own_.push_back(f.gate);
                stack.pop_back();
                continue;
            }
            const Lit l = gate.kids[f.next++];
            if (!own(l)) continue;
            const std::uint32_t c = index_of(l);
            if (seen_[c] == stamp_) continue;
            seen_[c] = stamp_;
            stack.push_back({c, 0});
        }
    }

    // The inputs of a gate in the order the variable heuristic visits them.
    std::vector<Lit> visit_order(std::uint32_t gi) {
        std::vector<Lit> kids = g_.gates[gi].kids;
        auto uses = [&](Lit l) -> std::uint32_t {
            if (!is_gate(l)) return occurrences_[index_of(l)];
            return module_[index_of(l)] ? 1 : gate_occurrences_[index_of(l)];
        };
        auto weight = [&](Lit l) -> std::uint64_t { return own(l) ? weight_[index_of(l)] : 1; };
        switch (current_) {
            case FtOrder::DepthFirst:
            case FtOrder::Leftmost:
            case FtOrder::Force:
            case FtOrder::Adaptive:
                break;
            case FtOrder::Weight:
            case FtOrder::LeftmostWeight:
                std::stable_sort(kids.begin(), kids.end(), [&](Lit a, Lit b) { return weight(a) < weight(b); });
                break;
            case FtOrder::RepeatedFirst:
                std::stable_sort(kids.begin(), kids.end(), [&](Lit a, Lit b) {
                    auto rank = [&](Lit l) { return own(l) ? 2 : uses(l) > 1 ? 0 : 1; };
                    if (rank(a) != rank(b)) return rank(a) < rank(b);
                    if (rank(a) == 0) return uses(a) > uses(b);
                    return false;
                });
                break;
        }
        return kids;
    }

    void new_var(FtModule& mod, Lit l) {
        const std::uint32_t c = index_of(l);
        bdd v = bdd_new_var_last(t_.m);
        if (prune_) {
            const double x = is_gate(l) ? 0.0 : (*prune_->event_p)[c];
            var_pair_.push_back(is_gate(l) ? prune_->module_value[static_cast<size_t>(module_of_[c])] : Pair{x, 1.0 - x});
            var_p_.push_back(var_pair_.back().p);
        }
        if (is_gate(l)) {
            mod.vars.push_back(~module_of_[c]);
            value_[c] = v;  // a module below: its variable
        } else {
            mod.vars.push_back(static_cast<int>(c));
            var_of_event_[c] = v;
        }
    }

    bdd leaf(Lit l) const {
        const std::uint32_t c = index_of(l);
        const bdd v = is_gate(l) ? value_[c] : var_of_event_[c];
        return v ^ (l & 1u);
    }

    bool has_variable(Lit l) const {
        const std::uint32_t c = index_of(l);
        return is_gate(l) ? value_[c] != kBddNull : var_of_event_[c] != kBddNull;
    }

    // Events and modules below get their variables depth first from the
    // root, inputs in the heuristic's order: either a gate's own inputs
    // before those of the gates below it, or (the leftmost orders) each
    // input as the walk meets it, a gate's sub-graph before its next input.
    void assign_variables(std::uint32_t root, FtModule& mod) {
        if (current_ == FtOrder::Leftmost || current_ == FtOrder::LeftmostWeight) {
            assign_leftmost(root, mod);
            return;
        }
        if (current_ == FtOrder::Force) {
            assign_force(root, mod);
            return;
        }
        for (Lit l : ordered_inputs(root))
            if (!has_variable(l)) new_var(mod, l);
    }

    // The inputs of the module depth first from the root, a gate's own
    // inputs (in the heuristic's order) before those of the gates below it.
    std::vector<Lit> ordered_inputs(std::uint32_t root) {
        std::vector<Lit> inputs;
        std::unordered_set<Lit> met;
        ++stamp_;
        std::vector<std::uint32_t> stack{root};
        std::vector<Lit> kids;
        while (!stack.empty()) {
            const std::uint32_t gi = stack.back();
            stack.pop_back();
            if (seen_[gi] == stamp_) continue;
            seen_[gi] = stamp_;
            kids = visit_order(gi);
            for (Lit l : kids)
                if (!own(l) && met.insert(l & ~1u).second) inputs.push_back(l & ~1u);
            for (auto k = kids.rbegin(); k != kids.rend(); ++k)
                if (own(*k) && seen_[index_of(*k)] != stamp_) stack.push_back(index_of(*k));
        }
        return inputs;
    }

    // The depth-first order improved by moving every input and gate to the mean
    // of the centres of the gates it belongs to (a gate with its inputs),
    // ranking, and repeating while the summed spans of the gates shrink:
    // inputs used together end up close in the order.
    void assign_force(std::uint32_t root, FtModule& mod) {
        const std::vector<Lit> inputs = ordered_inputs(root);
        const size_t ni = inputs.size(), ng = own_.size(), nv = ni + ng;
        std::unordered_map<Lit, std::uint32_t> vertex;
        vertex.reserve(nv);
        for (size_t k = 0; k < ni; ++k) vertex.emplace(inputs[k], static_cast<std::uint32_t>(k));
        for (size_t k = 0; k < ng; ++k) vertex.emplace(gate_lit(own_[k]), static_cast<std::uint32_t>(ni + k));
        // Edge k: own gate k and its inputs.
        std::vector<std::uint32_t> edge_start{0}, members;
        std::vector<std::vector<std::uint32_t>> edges_of(nv);
        for (size_t k = 0; k < ng; ++k) {
            const std::uint32_t e = static_cast<std::uint32_t>(k);
            members.push_back(static_cast<std::uint32_t>(ni + k));
            edges_of[ni + k].push_back(e);
            for (Lit l : g_.gates[own_[k]].kids) {
                const std::uint32_t v = vertex.at(l & ~1u);
                members.push_back(v);
                edges_of[v].push_back(e);
            }
            edge_start.push_back(static_cast<std::uint32_t>(members.size()));
        }
        std::vector<double> pos(nv, 0.0), next(nv), cog(ng);
        for (size_t k = 0; k < ni; ++k) pos[k] = static_cast<double>(k);
        for (size_t k = 0; k < ng; ++k) {
            double s = 0.0;
            for (std::uint32_t j = edge_start[k] + 1; j < edge_start[k + 1]; ++j) s += pos[members[j]];
            pos[ni + k] = s / (edge_start[k + 1] - edge_start[k] - 1);
        }
        std::vector<std::uint32_t> rank(nv);
        auto rerank = [&](const std::vector<double>& key) {
            std::iota(rank.begin(), rank.end(), 0u);
            std::stable_sort(rank.begin(), rank.end(), [&](std::uint32_t a, std::uint32_t b) { return key[a] < key[b]; });
            for (size_t r = 0; r < nv; ++r) pos[rank[r]] = static_cast<double>(r);
        };
        auto span = [&]() {
            double total = 0.0;
            for (size_t k = 0; k < ng; ++k) {
                double lo = INFINITY, hi = -INFINITY;
                for (std::uint32_t j = edge_start[k]; j < edge_start[k + 1]; ++j) {
                    lo = std::min(lo, pos[members[j]]);
                    hi = std::max(hi, pos[members[j]]);
                }
                total += hi - lo;
            }
            return total;
        };
        rerank(pos);
        std::vector<double> best = pos;
        double best_span = span();
        int stale = 0;
        for (int it = 0; it < 200 && stale < 5; ++it) {
            for (size_t k = 0; k < ng; ++k) {
                double s = 0.0;
                for (std::uint32_t j = edge_start[k]; j < edge_start[k + 1]; ++j) s += pos[members[j]];
                cog[k] = s / (edge_start[k + 1] - edge_start[k]);
            }
            for (size_t v = 0; v < nv; ++v) {
                double s = 0.0;
                for (std::uint32_t e : edges_of[v]) s += cog[e];
                next[v] = edges_of[v].empty() ? pos[v] : s / static_cast<double>(edges_of[v].size());
            }
            rerank(next);
            const double now = span();
            if (now < best_span * (1.0 - 1e-9)) {
                best_span = now;
                best = pos;
                stale = 0;
            } else {
                ++stale;
            }
        }
        std::vector<std::uint32_t> order(ni);
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return best[a] < best[b]; });
        for (std::uint32_t k : order)
            if (!has_variable(inputs[k])) new_var(mod, inputs[k]);
    }

    void assign_leftmost(std::uint32_t root, FtModule& mod) {
        ++stamp_;
        struct Frame {
            std::vector<Lit> kids;
            size_t next;
        };
        std::vector<Frame> stack;
        seen_[root] = stamp_;
        stack.push_back({visit_order(root), 0});
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.next == f.kids.size()) {
                stack.pop_back();
                continue;
            }
            const Lit l = f.kids[f.next++];
            if (!own(l)) {
                if (!has_variable(l)) new_var(mod, l);
            } else if (seen_[index_of(l)] != stamp_) {
                seen_[index_of(l)] = stamp_;
                stack.push_back({visit_order(index_of(l)), 0});
            }
        }
    }

    // Diagrams of the own gates, inputs first; a gate's diagram is dropped
    // once its last parent has used it. Returns the number of gates built.
    // A diagram that does not fit ends the run, unless this is a trial:
    // then every diagram of the module is dropped and the gates built so
    // far are the result.
    size_t build_diagrams(bool trial) {
        BddManager* m = t_.m;
        for (std::uint32_t gi : own_)
            for (Lit l : g_.gates[gi].kids)
                if (own(l)) ++users_[index_of(l)];
        std::vector<bdd> parts;
        for (size_t at = 0; at < own_.size(); ++at) {
            const std::uint32_t gi = own_[at];
            const Gate& gate = g_.gates[gi];
            parts.clear();
            for (Lit l : gate.kids) parts.push_back(own(l) ? value_[index_of(l)] ^ (l & 1u) : leaf(l));
            // Deepest tops first keeps the intermediate results low in the
            // order; with more than two inputs the smallest diagrams go first,
            // so that the large ones meet a result that is still small.
            std::sort(parts.begin(), parts.end(), [&](bdd a, bdd b) { return bdd_if_index(m, a) > bdd_if_index(m, b); });
            if (parts.size() > 2) {
                sized_.clear();
                for (bdd p : parts) sized_.push_back({bdd_size(m, p, 0), p});
                std::stable_sort(sized_.begin(), sized_.end(),
                                 [](const auto& a, const auto& b) { return a.first < b.first; });
                for (size_t k = 0; k < parts.size(); ++k) parts[k] = sized_[k].second;
            }
            bdd f = bdd_identity(m, parts[0]);
            kept_size_ = 0;
            for (size_t k = 1; k < parts.size() && f != kBddNull; ++k) {
                bdd next = gate.is_and ? bdd_and(m, f, parts[k]) : bdd_or(m, f, parts[k]);
                if (next == kBddNull && !trial) throw OutOfNodes{};
                bdd_free(m, f);
                f = pruned(next, k + 1 == parts.size());
            }
            if (f == kBddNull) {
                drop_diagrams();
                return at;
            }
            for (Lit l : gate.kids) {
                if (!own(l)) continue;
                const std::uint32_t c = index_of(l);
                if (--users_[c] == 0) {
                    bdd_free(m, value_[c]);
                    value_[c] = kBddNull;
                }
            }
            value_[gi] = f;
            t_.peak_nodes = std::max(t_.peak_nodes, bdd_total_nodes(m));
        }
        return own_.size();
    }

    void drop_diagrams() {
        for (std::uint32_t gi : own_) {
            users_[gi] = 0;
            if (value_[gi] != kBddNull) bdd_free(t_.m, value_[gi]);
            value_[gi] = kBddNull;
        }
    }

    // Forgets the variables of a module's inputs (the next attempt makes
    // its own).
    void forget_variables(const FtModule& mod) {
        for (int v : mod.vars) {
            if (v >= 0)
                var_of_event_[static_cast<size_t>(v)] = kBddNull;
            else
                value_[module_root_[static_cast<size_t>(~v)]] = kBddNull;
        }
    }

    // One attempt at the module under the order `order`; the gates built.
    size_t attempt(std::uint32_t root, FtOrder order, FtModule& mod, bool trial) {
        current_ = order;
        mod.first = bdd_vars(t_.m);
        assign_variables(root, mod);
        const size_t done = build_diagrams(trial);
        if (done == own_.size()) {
            mod.root = value_[root];
            value_[root] = kBddNull;
        }
        return done;
    }

    // Large modules are tried under each order within a small budget of
    // new nodes. When some attempts complete, the smallest diagram is the
    // module's; otherwise the second trials (race_force) run, and when
    // neither completes the walk order that built the most gates is used
    // without a budget. The gates are built in the same sequence under every
    // order, so the counts compare how far each got on the same work.
    void build_adaptive(std::uint32_t root, FtModule& mod) {
        BddManager* m = t_.m;
        const long limit = bdd_node_limit(m, 0);
        bdd_node_limit(m, limit);
        FtOrder best = kTrialOrders[0];
        size_t best_done = 0, force_done = 0;
        long best_size = std::numeric_limits<long>::max();
        for (FtOrder order : kTrialOrders) {
            FtModule trial;
            const size_t done = bounded_attempt(root, order, trial_nodes_, limit, trial);
            if (done == own_.size()) {
                const long size = bdd_size(m, trial.root, 0);
                if (best_done < own_.size() || size < best_size) {
                    if (mod.root != kBddNull) bdd_free(m, mod.root);
                    mod = std::move(trial);
                    best_size = size;
                    best = order;
                } else {
                    bdd_free(m, trial.root);
                }
            } else if (order == FtOrder::Force) {
                force_done = done;
            } else if (done > best_done && best_done < own_.size()) {
                best = order;
            }
            if (order != FtOrder::Force) best_done = std::max(best_done, done);
        }
        // On the benchmark trees the force-directed order is worth its larger
        // trial where its small one got about as far as the walk orders;
        // where it got much further (cea9601: 188 gates against 100) it had
        // only put off the growth to the last gates.
        const bool force_kept_up = force_done >= best_done && 4 * force_done <= 5 * best_done;
        if (mod.root == kBddNull && force_kept_up) race_force(root, best, limit, mod);
        bdd_node_limit(m, limit);
        if (mod.root != kBddNull) {
            // The kept attempt's variables again name its inputs.
            for (size_t k = 0; k < mod.vars.size(); ++k) {
                const int v = mod.vars[k];
                const bdd var = bdd_var_with_index(m, mod.first + static_cast<long>(k));
                if (v >= 0)
                    var_of_event_[static_cast<size_t>(v)] = var;
                else
                    value_[module_root_[static_cast<size_t>(~v)]] = var;
            }
            return;
        }
        bdd_gc(m);
        mod = FtModule{};
        attempt(root, best, mod, false);
    }

    // An attempt within `allowance` new nodes (and the caller's `limit`);
    // the gates built. Only a complete attempt is kept in `out`. The node
    // limit is left at the attempt's budget.
    size_t bounded_attempt(std::uint32_t root, FtOrder order, long allowance, long limit, FtModule& out) {
        BddManager* m = t_.m;
        bdd_gc(m);
        // The node limit stops an operation 1000 nodes short of itself.
        long budget = bdd_total_nodes(m) + 1000 + allowance;
        if (limit > 0) budget = std::min(budget, limit);
        bdd_node_limit(m, budget);
        FtModule trial;
        const size_t done = attempt(root, order, trial, true);
        forget_variables(trial);
        if (done == own_.size()) out = std::move(trial);
        return done;
    }

    // No order completed within the small budget, and the force-directed
    // order kept up with the walk orders. The best walk order is tried
    // within kWalkTrialFactor times the first budget, then the
    // force-directed order within kForceTrialFactor times; the first to
    // complete is the module's. The force-directed order keeps the diagrams
    // of some large modules several times smaller than every walk order (the
    // edf trees of the benchmark) and of others far larger; the walk order's
    // larger trial keeps those whose diagrams are moderate.
    void race_force(std::uint32_t root, FtOrder best, long limit, FtModule& mod) {
        FtModule won;
        if (bounded_attempt(root, best, kWalkTrialFactor * trial_nodes_, limit, won) == own_.size() ||
            bounded_attempt(root, FtOrder::Force, kForceTrialFactor * trial_nodes_, limit, won) == own_.size())
            mod = std::move(won);
    }

    // f pruned at the pass's threshold (f itself outside a bounds pass); the
    // reference on f passes to the result. Within a gate a partial result is
    // pruned again only once it has doubled since the last pruning: each
    // pruning walks the whole diagram. A gate's result is always pruned.
    bdd pruned(bdd f, bool last) {
        if (!prune_ || f == kBddNull) return f;
        const long size = bdd_size(t_.m, f, 0);
        if (size < kPruneFrom || (!last && size < 2 * kept_size_)) return f;
        const bdd g = ft_prune(t_.m, f, var_p_, prune_->threshold, prune_->way, &prune_->cut);
        if (g == kBddNull) throw OutOfNodes{};
        bdd_free(t_.m, f);
        kept_size_ = bdd_size(t_.m, g, 0);
        return g;
    }

    void build(std::uint32_t root) {
        BddManager* m = t_.m;
        collect_own(root);
        // Uses of every input within the module, and the weights.
        for (std::uint32_t gi : own_) {
            std::uint64_t w = 0;
            for (Lit l : g_.gates[gi].kids) {
                if (own(l)) {
                    ++gate_occurrences_[index_of(l)];
                    w += weight_[index_of(l)];
                } else {
                    if (!is_gate(l)) ++occurrences_[index_of(l)];
                    ++w;
                }
            }
            weight_[gi] = w;
        }
        FtModule mod;
        // Every attempt makes its own variables, of which there are at most
        // 65534.
        const long inputs = static_cast<long>(var_of_event_.size() + module_root_.size());
        const bool room = bdd_vars(m) + static_cast<long>(std::size(kTrialOrders) + 3) * inputs < 60000;
        if (order_ == FtOrder::Adaptive && !prune_ && own_.size() >= kTrialGates && room)
            build_adaptive(root, mod);
        else
            attempt(root, order_ == FtOrder::Adaptive ? kTrialOrders[0] : order_, mod, false);
        for (std::uint32_t gi : own_)
            for (Lit l : g_.gates[gi].kids) {
                if (own(l)) {
                    gate_occurrences_[index_of(l)] = 0;
                } else if (!is_gate(l)) {
                    occurrences_[index_of(l)] = 0;
                }
            }
        // From now on the module is a variable of its parent.
        module_of_[root] = static_cast<int>(t_.modules.size());
        module_root_.push_back(root);
        if (prune_) {
            prune_->module_value.push_back(evaluate_pairs(m, mod.root, var_pair_));
            bdd_free(m, mod.root);
            mod.root = kBddNull;
        }
        t_.modules.push_back(std::move(mod));
        bdd_gc(m);
    }
};

// The limits of a manager of this route: the work cap of fuzzing runs, and
// the node budget that tests set through CORVEL_FTREE_NODE_BUDGET to reach
// the bounds with small trees (it only ever lowers the memory ceiling).
void limit_nodes(AnalysisContext& in, BddManager* m) {
    if (in.settings.work_limit >= 0) bdd_node_limit(m, std::max(1L, in.settings.work_limit));
    if (const char* budget = std::getenv("CORVEL_FTREE_NODE_BUDGET")) {
        const long n = std::strtol(budget, nullptr, 10);
        const long ceiling = bdd_memory_limit(m);
        if (n > 0 && (ceiling <= 0 || n < ceiling)) bdd_set_memory_limit(m, n);
    }
}

// Only and/or gates over uncomplemented inputs below the top: the function
// is monotone in every event and every module.
bool coherent(const Graph& g) {
    if (!is_gate(g.top) || (g.top & 1u) != 0) return false;
    std::vector<char> seen(g.gates.size(), 0);
    std::vector<std::uint32_t> stack{index_of(g.top)};
    seen[index_of(g.top)] = 1;
    while (!stack.empty()) {
        const std::uint32_t gi = stack.back();
        stack.pop_back();
        for (Lit l : g.gates[gi].kids) {
            if ((l & 1u) != 0) return false;
            if (is_gate(l) && !seen[index_of(l)]) {
                seen[index_of(l)] = 1;
                stack.push_back(index_of(l));
            }
        }
    }
    return true;
}

}  // namespace

struct FtStructure {
    Graph g;
    std::vector<char> module;
    size_t records = 0;
    long reached = 0;     // live nodes when the exact diagrams ran out of memory
    long node_limit = 0;  // the caller's node limit (the work cap), 0 when none
};

std::unique_ptr<FtFastTree> build_fast_ftree(AnalysisContext& in, SystemRecord& sys, FtOrder order, long trial_nodes) {
    std::unique_ptr<FtBddInfo> info = ftbdd_structure(in, sys);
    Graph g = simplify(*info);
    info.reset();
    auto t = std::make_unique<FtFastTree>();
    limit_nodes(in, t->m);
    t->gates = static_cast<long>(g.gates.size());
    if (is_const(g.top)) {
        t->constant = g.top == kTrue ? 1 : 0;
        return t;
    }
    const size_t records = sys.nodes.size();
    if (!is_gate(g.top)) {
        // The tree is one event (or its complement).
        FtModule mod;
        bdd v = bdd_new_var_last(t->m);
        mod.vars.push_back(static_cast<int>(index_of(g.top)));
        mod.root = bdd_identity(t->m, v);
        t->modules.push_back(std::move(mod));
        t->top_negated = (g.top & 1u) != 0;
        return t;
    }
    std::vector<char> module = find_modules(g, records);
    try {
        ModuleBuilder builder(in, g, module, *t, order, trial_nodes, records);
        builder.build_all();
    } catch (const OutOfNodes&) {
        // Without monotonicity a pruned diagram bounds nothing.
        if (!coherent(g)) ftbdd_checked(in, t->m, kBddNull);
        auto kept = std::make_shared<FtStructure>();
        kept->reached = bdd_total_nodes(t->m);
        kept->node_limit = bdd_node_limit(t->m, 0);
        kept->g = std::move(g);
        kept->module = std::move(module);
        kept->records = records;
        t->out_of_reach = std::move(kept);
        t->modules.clear();
        // The memory goes back before the bounds need it.
        bdd_quit(t->m);
        t->m = bdd_init();
        return t;
    }
    t->top_negated = (g.top & 1u) != 0;
    return t;
}

long fast_ftree_size(const FtFastTree& t) {
    long n = 0;
    for (const FtModule& mod : t.modules) n += bdd_size(t.m, mod.root, 0);
    return n;
}

namespace {

// The tree stops as it does when no bounds can be given, with the message
// of the limit the exact diagrams reached.
[[noreturn]] void refuse(AnalysisContext& in, const FtStructure& s) {
    if (s.node_limit > 0 && s.reached >= s.node_limit - 1000)
        in.err.error(150, kInternal, format_string("s_ftbdd for BDD (more than %ld nodes)", s.node_limit), false);
    in.out.printf("decision diagram stopped at %ld live nodes, the most the available memory holds\n", s.reached);
    in.err.error(150, kInternal, "s_ftbdd for BDD", false);
    throw ProgramExit{kExitFailure};  // not reached: error 150 ends the run
}

}  // namespace

std::optional<FtBoundPair> fast_ftree_bounds(AnalysisContext& in, const SystemRecord& sys, const FtFastTree& t,
                                             std::optional<double> time) {
    if (!t.out_of_reach) return std::nullopt;
    const FtStructure& s = *t.out_of_reach;
    // The probability of every event of the tree at the request's time.
    std::vector<char> used(s.records, 0);
    for (const Gate& gate : s.g.gates)
        for (Lit l : gate.kids)
            if (!is_gate(l)) used[index_of(l)] = 1;
    std::vector<double> p(s.records, 0.0);
    for (size_t rec = 0; rec < s.records; ++rec) {
        if (!used[rec]) continue;
        const Exponomial& F = sys.nodes[rec].dist;
        double x;
        if (ConstantExpo::fits(F)) {
            x = F.empty() ? 0.0 : F[0].e_a;
        } else {
            if (!time) return std::nullopt;
            x = evaluate_expo(F, *time, in.settings.tol);
        }
        if (!std::isfinite(x)) return std::nullopt;
        p[rec] = std::clamp(x, 0.0, 1.0);
    }
    const FtBoundPass pass = [&](double threshold, FtBound way, FtPassInfo& info) -> std::optional<double> {
        FtFastTree tree;
        limit_nodes(in, tree.m);
        Pruning prune;
        prune.way = way;
        prune.threshold = threshold;
        prune.event_p = &p;
        try {
            ModuleBuilder builder(in, s.g, s.module, tree, FtOrder::DepthFirst, kFtTrialNodes, s.records, &prune);
            builder.build_all();
        } catch (const std::bad_alloc&) {
            // Memory the system refused to the pruning's own tables counts
            // as not fitting, like nodes the manager could not hold.
            if (in.settings.verbose) in.out.printf("  pruned below %.0e: out of memory\n", threshold);
            return std::nullopt;
        } catch (const OutOfNodes&) {
            if (in.settings.verbose)
                in.out.printf("  pruned below %.0e: out of memory at %ld live nodes\n", threshold, bdd_total_nodes(tree.m));
            return std::nullopt;
        }
        info.cut = prune.cut > 0.0;
        // Each step down takes up to ten times the nodes of the one before
        // (nus9601: 0.8 and 7.7 million): past a tenth of what the memory
        // holds the next one would only run until it fails.
        const long room = bdd_memory_limit(tree.m);
        info.crowded = room > 0 && tree.peak_nodes > room / 10;
        if (in.settings.verbose)
            in.out.printf("  pruned below %.0e: %s %.10e, reach cut %.3e, peak %ld live nodes\n", threshold,
                          way == FtBound::Lower ? "lower" : "upper", prune.module_value.back().p, prune.cut,
                          tree.peak_nodes);
        // Rounding: at most two units in the last place per level passed,
        // over every variable of every module.
        const double slack = 4.0 * static_cast<double>(bdd_vars(tree.m) + 2) * std::ldexp(1.0, -53);
        const double v = prune.module_value.back().p;
        if (!info.cut) return v;
        return way == FtBound::Lower ? v * (1.0 - slack) : v * (1.0 + slack);
    };
    return ft_bound_search(pass);
}

namespace {

Exponomial bounded_evaluate(AnalysisContext& in, const SystemRecord& sys, const FtFastTree& t,
                            std::optional<double> time) {
    const std::optional<FtBoundPair> b = fast_ftree_bounds(in, sys, t, time);
    if (!b) refuse(in, *t.out_of_reach);
    if (b->exact) return Exponomial::constant(b->lower);
    print_ft_bounds(in, sys.name, *b);
    return Exponomial::constant(std::numeric_limits<double>::quiet_NaN());
}

}  // namespace

Exponomial fast_ftree_evaluate(AnalysisContext& in, const SystemRecord& sys, const FtFastTree& t,
                               std::optional<double> time) {
    if (t.out_of_reach) return bounded_evaluate(in, sys, t, time);
    if (t.constant >= 0) return Exponomial::constant(static_cast<double>(t.constant));
    const long vars = bdd_vars(t.m);
    auto dist = [&](int rec) -> const Exponomial& { return sys.nodes[static_cast<size_t>(rec)].dist; };
    bool constants = true;
    for (const FtModule& mod : t.modules)
        for (int v : mod.vars)
            if (v >= 0 && !ConstantExpo::fits(dist(v))) constants = false;
    if (constants) {
        std::vector<Pair> var(static_cast<size_t>(vars));
        std::vector<Pair> module_value;
        module_value.reserve(t.modules.size());
        for (const FtModule& mod : t.modules) {
            for (size_t k = 0; k < mod.vars.size(); ++k) {
                const int v = mod.vars[k];
                Pair& x = var[static_cast<size_t>(mod.first) + k];
                if (v >= 0) {
                    const Exponomial& F = dist(v);
                    const double p = F.empty() ? 0.0 : F[0].e_a;
                    x = Pair{p, 1.0 - p};
                } else {
                    x = module_value[static_cast<size_t>(~v)];
                }
            }
            module_value.push_back(evaluate_pairs(t.m, mod.root, var));
        }
        const Pair top = module_value.back();
        const double p = t.top_negated ? top.q : top.p;
        return Exponomial::constant(p);
    }
    const Tolerances& tol = in.settings.tol;
    std::vector<const Exponomial*> var(static_cast<size_t>(vars), nullptr);
    std::vector<Exponomial> module_value;
    module_value.reserve(t.modules.size());
    for (const FtModule& mod : t.modules) {
        for (size_t k = 0; k < mod.vars.size(); ++k) {
            const int v = mod.vars[k];
            var[static_cast<size_t>(mod.first) + k] = v >= 0 ? &dist(v) : &module_value[static_cast<size_t>(~v)];
        }
        module_value.push_back(ftbdd_evaluate_with(
            t.m, mod.root, [&](long position) -> const Exponomial& { return *var[static_cast<size_t>(position)]; },
            tol));
    }
    Exponomial top = std::move(module_value.back());
    if (t.top_negated) negate_and_add_scalar(top, 1.0, tol);
    return top;
}

}  // namespace corvel
