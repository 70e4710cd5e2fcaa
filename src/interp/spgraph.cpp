// Series-parallel task graphs: the graph block's reader and the reduction of
// the graph to the component tree (the per-path analysis of "multpath" is in
// combinatorial/spgraph_paths.cpp).
//
// Node 0 of a graph is a dummy entrance ("E." and the system name) whose
// successors are the graph's sources; the user's nodes follow in topological
// order. A node's `entry` says how it is entered from its predecessor's exit:
// in sequence (NT_SERIAL), as one of all / the first / a random one / k of n
// of the successors (NT_MAX, NT_MIN, NT_PROB, NT_KOFN).

#include <algorithm>
#include <bit>
#include <cstdint>
#include <unordered_set>

#include "combinatorial/tree.h"
#include "symbols/counts.h"
#include "interp/blocks.h"
#include "interp/interpreter.h"
#include "interp/parser.h"

namespace corvel {

namespace {

// The largest graph whose reachable sets are built (one bit per node pair).
constexpr long long kMaxGraphNodes = 30000;

// ------------------------------------------------------------------ bit sets

using Bits = std::vector<std::uint64_t>;

struct BitRows {
    explicit BitRows(int n) : words(static_cast<size_t>((n + 63) / 64)), data(static_cast<size_t>(n) * words, 0) {}
    std::uint64_t* row(int v) { return data.data() + static_cast<size_t>(v) * words; }
    const std::uint64_t* row(int v) const { return data.data() + static_cast<size_t>(v) * words; }
    size_t words;
    std::vector<std::uint64_t> data;
};

bool test(const std::uint64_t* b, int v) { return (b[v >> 6] >> (v & 63)) & 1U; }
void set_bit(std::uint64_t* b, int v) { b[v >> 6] |= std::uint64_t{1} << (v & 63); }
void reset_bit(std::uint64_t* b, int v) { b[v >> 6] &= ~(std::uint64_t{1} << (v & 63)); }
bool any(const Bits& b) {
    for (std::uint64_t w : b)
        if (w) return true;
    return false;
}
int lowest(const Bits& b) {
    for (size_t i = 0; i < b.size(); ++i)
        if (b[i]) return static_cast<int>(i * 64 + static_cast<size_t>(std::countr_zero(b[i])));
    return -1;
}
int count_bits(const Bits& b) {
    int c = 0;
    for (std::uint64_t w : b) c += std::popcount(w);
    return c;
}
bool intersects(const std::uint64_t* a, const Bits& b) {
    for (size_t i = 0; i < b.size(); ++i)
        if (a[i] & b[i]) return true;
    return false;
}
bool subset(const Bits& a, const std::uint64_t* b) {
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] & ~b[i]) return false;
    return true;
}
// Keeps the bits below m (below = true) or from m on.
void cut_at(Bits& b, int m, bool below) {
    for (size_t i = 0; i < b.size(); ++i) {
        const int base = static_cast<int>(i * 64);
        std::uint64_t mask;
        if (m <= base)
            mask = 0;
        else if (m >= base + 64)
            mask = ~std::uint64_t{0};
        else
            mask = (std::uint64_t{1} << (m - base)) - 1;
        b[i] &= below ? mask : ~mask;
    }
}
template <class F>
void for_each_bit(const Bits& b, F f) {
    for (size_t i = 0; i < b.size(); ++i)
        for (std::uint64_t w = b[i]; w; w &= w - 1) f(static_cast<int>(i * 64 + static_cast<size_t>(std::countr_zero(w))));
}

// ------------------------------------------------------------------ reduction

struct Work {
    int node = -1;             // the tree node being given its structure
    std::vector<int> entries;  // the sub-graph's entry nodes
    Bits elems;                // its nodes (empty when `single` is set)
    int single = -1;           // the one node of a one-node sub-graph
};

void compact(Work& w) {
    if (w.single < 0 && count_bits(w.elems) == 1) {
        w.single = lowest(w.elems);
        w.elems.clear();
    }
}

class Reducer {
public:
    Reducer(Interpreter& in, SystemRecord& sys) : in_(in), sys_(sys), tm_(tree_model(sys)), n_(static_cast<int>(sys.nodes.size())), reach_(n_) {}

    int run() {
        // The node and everything reachable from it.
        for (int v = n_ - 1; v >= 0; --v) {
            std::uint64_t* r = reach_.row(v);
            set_bit(r, v);
            for (int s : sys_.nodes[static_cast<size_t>(v)].succ) {
                const std::uint64_t* rs = reach_.row(s);
                for (size_t i = 0; i < reach_.words; ++i) r[i] |= rs[i];
            }
        }
        const std::vector<int>& sources = sys_.nodes[0].succ;
        Work root;
        root.node = tm_.new_node(in_, 0, sources.empty() ? 0 : sources[0]);
        root.entries = sources;
        root.elems.assign(reach_.words, 0);
        for (int v = 1; v < n_; ++v) set_bit(root.elems.data(), v);
        compact(root);
        const int root_node = root.node;
        std::vector<Work> stack;
        stack.push_back(std::move(root));
        while (!stack.empty()) {
            Work w = std::move(stack.back());
            stack.pop_back();
            std::vector<Work> children = split(w);
            for (Work& c : children) {
                c.node = tm_.new_node(in_, 0, c.entries.empty() ? -1 : c.entries[0]);
                tm_.tree[static_cast<size_t>(w.node)].kids.push_back(c.node);
            }
            for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(std::move(*it));
        }
        return root_node;
    }

private:
    [[noreturn]] void not_series_parallel() {
        in_.err.error(100, kFatal, sys_.name, true);
        throw ProgramExit{kExitFailure};  // not reached
    }

    const std::uint64_t* reach(int v) const { return reach_.row(v); }

    // Gives w's tree node its type and returns the sub-graphs below it.
    std::vector<Work> split(Work& w) {
        TreeNode* tn = &tm_.tree[static_cast<size_t>(w.node)];
        std::vector<int> L = w.entries;
        if (L.empty()) not_series_parallel();
        if (w.single >= 0) {
            const int v = w.single;
            if (L[0] != v) not_series_parallel();
            tn->first_node = v;
            if (sys_.nodes[static_cast<size_t>(v)].entry == NT_KOFN) {
                // k of n identical copies of the one node.
                tn->type = NT_KOFN;
                int leaf = tm_.new_node(in_, NT_LEAF, v);
                tm_.tree[static_cast<size_t>(w.node)].kids.push_back(leaf);
            } else {
                tn->type = NT_LEAF;
            }
            return {};
        }

        // Series split: the sub-graph as a sequence of pieces.
        Bits W = std::move(w.elems);
        std::vector<Work> children;
        while (any(W)) {
            if (L.size() > 1) {
                Bits M = W;
                for (int x : L)
                    for (size_t i = 0; i < M.size(); ++i) M[i] &= reach(x)[i];
                if (!any(M)) break;
                const int m = lowest(M);
                Work c;
                c.entries = L;
                c.elems = W;
                cut_at(c.elems, m, true);
                cut_at(W, m, false);
                if (!subset(W, reach(m))) not_series_parallel();
                bool joins = true;
                for_each_bit(c.elems, [&](int x) { joins = joins && test(reach(x), m); });
                if (!joins) not_series_parallel();
                compact(c);
                children.push_back(std::move(c));
                L.assign(1, m);
            } else {
                const int v = L[0];
                if (!test(W.data(), v)) not_series_parallel();
                Work c;
                c.entries.assign(1, v);
                c.single = v;
                children.push_back(std::move(c));
                reset_bit(W.data(), v);
                L = sys_.nodes[static_cast<size_t>(v)].succ;
                if (L.empty() && any(W)) not_series_parallel();
            }
        }
        if (!children.empty()) {
            if (any(W)) {
                Work c;
                c.entries = L;
                c.elems = std::move(W);
                compact(c);
                children.push_back(std::move(c));
            }
            tn = &tm_.tree[static_cast<size_t>(w.node)];
            tn->type = NT_SERIAL;
            tn->first_node = w.entries[0];
            return children;
        }

        // Parallel split: one child per group of entry nodes whose reachable
        // parts meet.
        const int first = L[0];
        const int type = sys_.nodes[static_cast<size_t>(first)].entry;
        if (type != NT_MIN && type != NT_MAX && type != NT_PROB && type != NT_KOFN) not_series_parallel();
        if (type == NT_KOFN) sys_.nodes[static_cast<size_t>(first)].entry = NT_SERIAL;
        std::vector<bool> placed(L.size(), false);
        for (size_t i = 0; i < L.size(); ++i) {
            if (placed[i]) continue;
            const int x = L[i];
            if (!test(W.data(), x)) not_series_parallel();
            Work c;
            c.entries.assign(1, x);
            c.elems = W;
            for (size_t b = 0; b < W.size(); ++b) c.elems[b] &= reach(x)[b];
            placed[i] = true;
            for (size_t j = i + 1; j < L.size(); ++j) {
                if (placed[j] || !intersects(reach(L[j]), c.elems)) continue;
                c.entries.push_back(L[j]);
                for (size_t b = 0; b < W.size(); ++b) c.elems[b] |= W[b] & reach(L[j])[b];
                placed[j] = true;
            }
            for (size_t b = 0; b < W.size(); ++b) W[b] &= ~c.elems[b];
            compact(c);
            children.push_back(std::move(c));
        }
        if (any(W) || children.size() < 2) not_series_parallel();
        if (type == NT_KOFN)
            for (const Work& c : children)
                if (c.entries.size() > 1) in_.err.error(48, kFatal, "", true);
        tn = &tm_.tree[static_cast<size_t>(w.node)];
        tn->type = type;
        tn->first_node = first;
        return children;
    }

    Interpreter& in_;
    SystemRecord& sys_;
    TreeModel& tm_;
    int n_;
    BitRows reach_;
};

// ------------------------------------------------------------------ reader

class GraphReader {
public:
    GraphReader(Parser& p, SystemRecord& sys) : p_(p), in_(p.interp()), sys_(sys), tm_(tree_model(sys)) {}

    void run() {
        p_.expect_eol();
        read_arcs();
        if (seen_.size() == 0) {
            in_.err.error(80, kWarning, sys_.name, true);
            skip_section();
            sys_.discarded = true;  // the store drops it when the block ends
            return;
        }
        number_nodes();
        read_attributes();
        check_exits();
        if (static_cast<long long>(sys_.nodes.size()) > kMaxGraphNodes)
            in_.err.error(150, kInternal, "reachable sets", false);
        tm_.root = Reducer(in_, sys_).run();
        tm_.save_lastnode = static_cast<int>(sys_.nodes.size());
    }

private:
    bool interactive() const { return in_.err.interactive; }

    // The arc section: lines "a b" (an arc) or "a" (a node).
    void read_arcs() {
        if (interactive()) {
            in_.out.write("Enter the ordering of the nodes in the graph.\n");
            in_.out.write("Enter one or two nodes on each line.\n");
            in_.out.write("End with a null line.\n");
        }
        for (;;) {
            const Tok kind = p_.peek().kind;
            if (kind == Tok::EndOfInput) p_.syntax_error();
            if (kind == Tok::Eol || kind == Tok::Comment) {
                p_.take();
                if (interactive() && kind == Tok::Eol) return;
                continue;
            }
            if (p_.accept_kw(Kw::End)) {
                p_.expect_eol();
                return;
            }
            p_.block_line([&] {
                if (!p_.at_word()) p_.syntax_error();
                std::string a = p_.word();
                std::string b;
                if (!p_.at_eol()) {
                    if (!p_.at_word()) p_.syntax_error();
                    b = p_.word();
                }
                p_.expect_eol();
                int ia = add(a);
                if (!b.empty()) arc(ia, add(b));
            });
        }
    }

    int add(const std::string& name) {
        int i = seen_.find(name, NameTable::kFindOrAdd);
        if (i >= static_cast<int>(succ_.size())) {
            succ_.resize(static_cast<size_t>(i) + 1);
            npred_.resize(static_cast<size_t>(i) + 1, 0);
        }
        return i;
    }

    void arc(int from, int to) {
        if (from == to) return;
        std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(from)) << 32) |
                            static_cast<std::uint32_t>(to);
        if (!arcs_.insert(key).second) return;
        succ_[static_cast<size_t>(from)].push_back(to);
        npred_[static_cast<size_t>(to)]++;
    }

    // Lines up to the next "end" (what follows an empty arc section).
    void skip_section() {
        for (;;) {
            const Token& t = p_.peek();
            if (t.kind == Tok::EndOfInput) p_.syntax_error();
            if (p_.accept_kw(Kw::End)) {
                p_.expect_eol();
                return;
            }
            p_.skip_to_eol();
        }
    }

    // Topological numbering behind the entrance, and the node table in that order.
    void number_nodes() {
        const int count = seen_.size();
        std::vector<int> remaining = npred_;
        std::vector<int> order;
        order.reserve(static_cast<size_t>(count));
        for (int v = 0; v < count; ++v)
            if (remaining[static_cast<size_t>(v)] == 0) order.push_back(v);
        const size_t num_sources = order.size();
        for (size_t head = 0; head < order.size(); ++head)
            for (int s : succ_[static_cast<size_t>(order[head])])
                if (--remaining[static_cast<size_t>(s)] == 0) order.push_back(s);
        if (static_cast<int>(order.size()) < count) in_.err.error(78, kFatal, sys_.name, true);

        std::vector<int> number(static_cast<size_t>(count));
        for (size_t i = 0; i < order.size(); ++i) number[static_cast<size_t>(order[i])] = static_cast<int>(i) + 1;
        sys_.names = NameTable();
        sys_.nodes.clear();
        sys_.node("E." + sys_.name.substr(0, 27), NameTable::kAdd);
        for (int v : order)
            if (sys_.node(seen_[v], NameTable::kAdd) < 0) in_.err.error(27, kFatal, seen_[v], true);
        NodeInfo& entrance = sys_.nodes[0];
        entrance.entry = NT_SERIAL;
        entrance.dist = Exponomial::constant(1.0);
        entrance.defined = true;
        for (size_t i = 0; i < num_sources; ++i) entrance.succ.push_back(number[static_cast<size_t>(order[i])]);
        for (int v : order) {
            NodeInfo& info = sys_.nodes[static_cast<size_t>(number[static_cast<size_t>(v)])];
            info.entry = NT_SERIAL;
            info.defined = true;
            for (int s : succ_[static_cast<size_t>(v)]) info.succ.push_back(number[static_cast<size_t>(s)]);
        }
        tm_.exit_type.assign(sys_.nodes.size(), 0);
        if (num_sources > 1) {
            // Several sources all start at once; the graph needs all of them.
            tm_.exit_type[0] = NT_MAX;
            for (int s : entrance.succ) sys_.nodes[static_cast<size_t>(s)].entry = NT_MAX;
        }
    }

    // A node name of an attribute line (errors 13 and 35 at level 2).
    int node_name() {
        if (!p_.at_word()) in_.err.error(13, kFatal, "", true);
        std::string name = p_.word();
        int i = sys_.names.find(name);
        if (i < 0) in_.err.error(35, kFatal, name, true);
        return i;
    }

    void read_attributes() {
        for (;;) {
            const Token& t = p_.peek();
            if (t.kind == Tok::EndOfInput) p_.syntax_error();
            if (t.kind == Tok::Eol || t.kind == Tok::Comment) {
                p_.take();
                continue;
            }
            if (p_.accept_kw(Kw::End)) {
                p_.expect_eol();
                return;
            }
            p_.block_line([&] { attribute_line(); });
        }
    }

    void attribute_line() {
        if (p_.accept_kw(Kw::Dist)) {
            int v = node_name();
            auto spec = p_.dist();
            p_.expect_eol();
            if (v == 0) {
                in_.err.error(31, kWarning, "", true);
                return;
            }
            sys_.nodes[static_cast<size_t>(v)].udist = std::move(spec);
            return;
        }
        if (p_.accept_kw(Kw::Exit)) {
            exit_line();
            return;
        }
        if (p_.accept_kw(Kw::Prob)) {
            prob_line();
            return;
        }
        if (p_.accept_kw(Kw::Multpath)) {
            p_.expect_eol();
            sys_.multpath = true;
            return;
        }
        if (p_.at(Tok::Keyword) || p_.at_word()) in_.err.error(88, kFatal, "", true);
        p_.syntax_error();
    }

    void exit_line() {
        int v = node_name();
        int type = 0;
        if (p_.accept_kw(Kw::Max))
            type = NT_MAX;
        else if (p_.accept_kw(Kw::Min))
            type = NT_MIN;
        else if (p_.accept_kw(Kw::Prob))
            type = NT_PROB;
        else if (p_.accept_kw(Kw::Kofn))
            type = NT_KOFN;
        else
            in_.err.error(87, kFatal, "", true);
        std::unique_ptr<Expr> k, n;
        if (type == NT_KOFN) {
            k = p_.expr();
            if (!p_.accept(Tok::Comma)) p_.syntax_error();
            n = p_.expr();
        }
        p_.expect_eol();
        NodeInfo& node = sys_.nodes[static_cast<size_t>(v)];
        const size_t count = node.succ.size();
        if (count == 0 || (count == 1 && type != NT_KOFN)) {
            in_.err.error(32, kWarning, "", true);
            return;
        }
        tm_.exit_type[static_cast<size_t>(v)] = type;
        if (type != NT_KOFN) {
            for (int s : node.succ) sys_.nodes[static_cast<size_t>(s)].entry = type;
            return;
        }
        NodeInfo& target = sys_.nodes[static_cast<size_t>(node.succ[0])];
        target.entry = NT_KOFN;
        assign_kofn(target, sys_.names[node.succ[0]], std::move(k), std::move(n));
    }

    // k and n of a k-of-n exit: constants are checked at once.
    void assign_kofn(NodeInfo& target, const std::string& name, std::unique_ptr<Expr> k, std::unique_ptr<Expr> n) {
        target.k_sym.reset();
        target.n_sym.reset();
        bool symbolic = false;
        if (k->is_constant()) {
            target.k = kofn_count(in_, in_.eval.bind_expression(*k), "k", name, kFatal);
        } else {
            target.k_sym = std::move(k);
            symbolic = true;
        }
        if (n->is_constant()) {
            target.n = kofn_count(in_, in_.eval.bind_expression(*n), "n", name, kFatal);
        } else {
            target.n_sym = std::move(n);
            symbolic = true;
        }
        if (symbolic) {
            tm_.symbolic_kn++;
            return;
        }
        if (target.k < 1) in_.err.ERR(46, kFatal, name, "");
        if (target.k > target.n) in_.err.ERR(47, kFatal, name, "");
    }

    void prob_line() {
        int from = node_name();
        int to = node_name();
        const std::string& a = sys_.names[from];
        const std::string& b = sys_.names[to];
        const std::vector<int>& succ = sys_.nodes[static_cast<size_t>(from)].succ;
        if (std::find(succ.begin(), succ.end(), to) == succ.end())
            in_.err.error(34, kFatal, format_string("(%s of %s)", b.c_str(), a.c_str()), true);
        if (p_.at_eol()) in_.err.error(18, kFatal, "", true);
        auto e = p_.expr();
        p_.expect_eol();
        NodeInfo& node = sys_.nodes[static_cast<size_t>(to)];
        if (node.has_prob) {
            in_.err.error(25, kWarning, format_string("(%s to %s)", a.c_str(), b.c_str()), true);
            return;
        }
        if (e->is_constant()) {
            double value = in_.eval.bind_expression(*e);
            check_finite(in_.err, value, format_string("probability (%s to %s)", a.c_str(), b.c_str()), kFatal);
            if (value < 0.0) in_.err.error(117, kFatal, "", true);
            if (value > 1.0) in_.err.error(118, kFatal, "", true);
            node.prob = value;
        } else {
            node.prob_sym = std::move(e);
        }
        node.has_prob = true;
    }

    // Every fork needs an exit type; a branch probability needs a "prob" exit.
    void check_exits() {
        std::vector<bool> branch(sys_.nodes.size(), false);
        for (size_t v = 0; v < sys_.nodes.size(); ++v) {
            if (sys_.nodes[v].succ.size() > 1 && tm_.exit_type[v] == 0)
                in_.err.error(41, kFatal, "for node " + sys_.names[static_cast<int>(v)], true);
            if (tm_.exit_type[v] == NT_PROB)
                for (int s : sys_.nodes[v].succ) branch[static_cast<size_t>(s)] = true;
        }
        for (size_t v = 0; v < sys_.nodes.size(); ++v) {
            NodeInfo& node = sys_.nodes[v];
            if (node.has_prob && !branch[v]) {
                in_.err.ERR(33, kWarning, sys_.names[static_cast<int>(v)], "");
                node.has_prob = false;
                node.prob_sym.reset();
                node.prob = 1.0;
            }
        }
    }

    Parser& p_;
    Interpreter& in_;
    SystemRecord& sys_;
    TreeModel& tm_;
    NameTable seen_;                      // node names in first-seen order
    std::vector<std::vector<int>> succ_;  // arcs by first-seen index
    std::vector<int> npred_;
    std::unordered_set<std::uint64_t> arcs_;
};

}  // namespace

void read_graph_block(Parser& parser, SystemRecord& sys) { GraphReader(parser, sys).run(); }

}  // namespace corvel
