// Per-node value slots and parent counters, sizes, and the text reports.

#include <cstdio>
#include <string>
#include <vector>

#include "bdd/bdd_internal.h"

namespace corvel {

namespace {

std::string fmt(const char* format, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

// Visits every internal node below f once (node indices), parents before
// children.
template <class Visit>
void each_node(BddManager* m, bdd f, Visit visit) {
    if (f == kBddNull || m->is_const(f)) return;
    m->begin_walk();
    std::vector<std::uint32_t> stack{f >> 1};
    m->first_visit(f >> 1);
    while (!stack.empty()) {
        std::uint32_t i = stack.back();
        stack.pop_back();
        visit(i);
        for (bdd c : {m->nodes[i].then_, m->nodes[i].else_}) {
            if ((c >> 1) == 0) continue;
            if (m->first_visit(c >> 1)) stack.push_back(c >> 1);
        }
    }
}

}  // namespace

// ------------------------------------------------------------------ value slots

void bdd_set_value(BddManager* m, bdd f, void* p) {
    if (f == kBddNull || m->is_const(f)) return;
    m->value_slot(f >> 1) = p;
}

void* bdd_get_value(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return nullptr;
    return m->value_at(f >> 1);
}

void bdd_clear_value(BddManager* m, bdd f, void (*free_fn)(void*)) {
    if (f == kBddNull || m->is_const(f) || m->values.empty()) return;
    std::vector<std::uint32_t> stack{f >> 1};
    while (!stack.empty()) {
        std::uint32_t i = stack.back();
        stack.pop_back();
        if (m->value_at(i) == nullptr) continue;
        void*& slot = m->values[i];
        if (free_fn) free_fn(slot);
        slot = nullptr;
        for (bdd c : {m->nodes[i].then_, m->nodes[i].else_})
            if ((c >> 1) != 0) stack.push_back(c >> 1);
    }
}

// ------------------------------------------------------------------ parent counters

void bdd_set_prefs(BddManager* m, bdd f, unsigned n) {
    if (f == kBddNull || m->is_const(f)) return;
    m->prefs_slot(f >> 1) = static_cast<std::uint16_t>(n > kBddPrefsMax ? kBddPrefsMax : n);
}

unsigned bdd_get_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return kBddPrefsMax;
    return m->prefs_at(f >> 1);
}

void bdd_inc_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return;
    std::uint16_t& p = m->prefs_slot(f >> 1);
    if (p != kBddPrefsMax) ++p;
}

void bdd_dec_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return;
    if (m->prefs_at(f >> 1) == 0) return;
    std::uint16_t& p = m->prefs[f >> 1];
    if (p != kBddPrefsMax) --p;
}

void bdd_clear_prefs(BddManager* m, bdd f) {
    if (m->prefs.empty()) return;
    each_node(m, f, [&](std::uint32_t i) {
        if (i < m->prefs.size()) m->prefs[i] = 0;
    });
}

void bdd_set_all_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return;
    m->prefs_slot(f >> 1);  // sizes the counters to the node array
    std::vector<std::uint32_t> stack{f >> 1};
    while (!stack.empty()) {
        std::uint32_t i = stack.back();
        stack.pop_back();
        std::uint16_t& p = m->prefs[i];
        const bool first = p == 0;
        if (p != kBddPrefsMax) ++p;
        if (!first) continue;
        for (bdd c : {m->nodes[i].then_, m->nodes[i].else_})
            if ((c >> 1) != 0) stack.push_back(c >> 1);
    }
}

// ------------------------------------------------------------------ walks

void bdd_postorder(BddManager* m, bdd root, std::vector<bdd>& out) {
    out.clear();
    if (root == kBddNull || m->is_const(root)) return;
    m->begin_walk();
    // A node is emitted (and stamped done) when popped the second time,
    // after its children. A node may be pushed by several parents before it
    // is done; the later frames find it done and are dropped.
    struct Frame {
        std::uint32_t index;
        bool expanded;
    };
    auto done = [&](std::uint32_t i) { return m->stamps[i] == m->stamp; };
    std::vector<Frame> stack{{root >> 1, false}};
    while (!stack.empty()) {
        Frame& fr = stack.back();
        const std::uint32_t i = fr.index;
        if (fr.expanded) {
            stack.pop_back();
            if (m->first_visit(i)) out.push_back(i << 1);
            continue;
        }
        if (done(i)) {
            stack.pop_back();
            continue;
        }
        fr.expanded = true;
        const BddNode& n = m->nodes[i];
        const std::uint32_t hi = n.then_ >> 1, lo = n.else_ >> 1;
        // The else-child is pushed last so that it is finished first.
        if (hi != 0 && !done(hi)) stack.push_back({hi, false});
        if (lo != 0 && !done(lo)) stack.push_back({lo, false});
    }
}

// Children before parents by levels rather than depth first: the nodes
// reachable from root are found breadth first (each record prefetched when
// found and read when its turn comes), put in order from the deepest level
// up (a child's level is below its parent's), numbered, and their children's
// references filled in with the records and numbers prefetched ahead.
BddPostorder::BddPostorder(BddManager* m, bdd root) {
    number_.assign(static_cast<size_t>(bdd_node_capacity(m)), 0);
    if (root == kBddNull || m->is_const(root)) return;
    std::vector<std::uint32_t> found{root >> 1};
    std::vector<std::uint32_t> level{m->pos_of(root)};
    number_[root >> 1] = 1;  // seen; the numbers proper come later
    for (size_t head = 0; head < found.size(); ++head) {
        const BddNode& n = m->nodes[found[head]];
        for (bdd child : {n.then_, n.else_}) {
            const std::uint32_t c = child >> 1;
            if (c == 0 || number_[c] != 0) continue;
            number_[c] = 1;
            __builtin_prefetch(&m->nodes[c]);
            found.push_back(c);
            level.push_back(m->position[m->nodes[c].id]);
        }
    }
    // Counting sort by level, deepest first.
    const size_t levels = static_cast<size_t>(m->vars) + 1;
    std::vector<std::uint32_t> start(levels + 1, 0);
    for (std::uint32_t l : level) ++start[levels - 1 - l];
    for (size_t l = 0, sum = 0; l <= levels; ++l) {
        const size_t c = start[l];
        start[l] = static_cast<std::uint32_t>(sum);
        sum += c;
    }
    nodes.assign(found.size(), 0);
    for (size_t k = 0; k < found.size(); ++k) nodes[start[levels - 1 - level[k]]++] = found[k] << 1;
    for (size_t k = 0; k < nodes.size(); ++k) number_[nodes[k] >> 1] = static_cast<std::uint32_t>(k + 1);
    constexpr size_t kFar = 16, kNear = 8;
    kids.resize(nodes.size());
    for (size_t k = 0; k < nodes.size(); ++k) {
        if (k + kFar < nodes.size()) __builtin_prefetch(&m->nodes[nodes[k + kFar] >> 1]);
        if (k + kNear < nodes.size()) {
            const BddNode& ahead = m->nodes[nodes[k + kNear] >> 1];
            __builtin_prefetch(&number_[ahead.then_ >> 1]);
            __builtin_prefetch(&number_[ahead.else_ >> 1]);
        }
        const BddNode& n = m->nodes[nodes[k] >> 1];
        kids[k] = {ref(n.then_), ref(n.else_), m->position[n.id]};
    }
}

long bdd_node_capacity(BddManager* m) { return static_cast<long>(m->nodes.size()); }

// ------------------------------------------------------------------ size

long bdd_size(BddManager* m, bdd f, int negout) {
    if (f == kBddNull) return 0;
    if (!negout) {
        long count = 1;  // the terminal
        each_node(m, f, [&](std::uint32_t) { ++count; });
        return count;
    }
    // Functions rather than nodes: a node reached with both polarities is two.
    // Stamps mark the regular polarity; a second array the complemented one.
    m->begin_walk();
    std::vector<bool> negative_seen(m->nodes.size(), false);
    auto first = [&](bdd g) {
        if ((g & 1u) == 0) return m->first_visit(g >> 1);
        if (negative_seen[g >> 1]) return false;
        negative_seen[g >> 1] = true;
        return true;
    };
    first(f);
    std::vector<bdd> stack{f};
    long count = 0;
    while (!stack.empty()) {
        bdd g = stack.back();
        stack.pop_back();
        ++count;
        if (m->is_const(g)) continue;
        for (bdd c : {m->then_of(g), m->else_of(g)})
            if (first(c)) stack.push_back(c);
    }
    return count;
}

// ------------------------------------------------------------------ reports

std::string bdd_stats(BddManager* m) {
    const long node_bytes = static_cast<long>(m->nodes.capacity() * sizeof(BddNode));
    long table_bytes = 0;
    for (const BddVarTable& t : m->tables) table_bytes += static_cast<long>(t.slots.capacity() * sizeof(std::uint32_t));
    const long cache_bytes = static_cast<long>(m->cache.capacity() * sizeof(BddCacheEntry));
    const long allocated = node_bytes + table_bytes + cache_bytes;
    const long used = static_cast<long>((m->entries + 1) * static_cast<long>(sizeof(BddNode))) + table_bytes + cache_bytes;
    const long nodes = m->entries + 1;
    std::string s;
    s += fmt("Memory manager bytes allocated: %ld\n", allocated);
    s += fmt("Approximate bytes used: %ld\n", used);
    s += fmt("Number of nodes: %ld\n", nodes);
    if (m->node_limit > 0)
        s += fmt("Node limit: %ld\n", m->node_limit);
    else
        s += "Node limit: ---\n";
    s += fmt("Overflow: %s\n", m->overflow ? "yes" : "no");
    s += fmt("Approximate bytes per node: %-.2f\n", static_cast<double>(used) / static_cast<double>(nodes));
    s += fmt("Cache entries: %ld\n", m->cache_entries);
    s += fmt("Cache size: %ld\n", static_cast<long>(m->cache.size()));
    s += fmt("Cache load factor: %-.2f\n", static_cast<double>(m->cache_entries) / static_cast<double>(m->cache.size()));
    s += fmt("Cache look ups: %ld\n", m->lookups);
    s += fmt("Cache hits: %ld\n", m->hits);
    if (m->lookups > 0)
        s += fmt("Cache hit rate: %-.2f\n", static_cast<double>(m->hits) / static_cast<double>(m->lookups));
    else
        s += "Cache hit rate: ---\n";
    s += fmt("Cache insertions: %ld\n", m->inserts);
    s += fmt("Cache collisions: %ld\n", m->collisions);
    s += fmt("Number of variables: %ld\n", m->vars);
    s += fmt("Number of variable associations: %d\n", 0);
    s += fmt("Number of garbage collections: %ld\n", m->gcs);
    s += fmt("Number of nodes garbage collected: %ld\n", m->freed);
    s += fmt("Number of find operations: %ld\n", m->finds);
    return s;
}

namespace {

// The graph as nested if/else text, one line at a time. A node reached more
// than once is numbered the first time it prints and named by its number
// afterwards. Iterative, so that deep diagrams print as well as wide ones.
struct Printer {
    BddManager* m;
    const BddNamingFn& names;
    const BddTextSink& sink;
    std::vector<std::uint8_t> reached;   // per node index: 0, 1 or 2 (= more than once)
    std::vector<int> number;             // per node index: printed number, 0 when none yet
    std::vector<std::uint8_t> polarity;  // complement bit of the numbered print
    int next_number = 1;

    std::string name_of(bdd f) const {
        const long pos = static_cast<long>(m->pos_of(f));
        if (names) return names(pos);
        return fmt("var.%d", static_cast<int>(m->node(f).id));
    }

    void count(bdd root) {
        reached.assign(m->nodes.size(), 0);
        std::vector<std::uint32_t> stack{root >> 1};
        while (!stack.empty()) {
            const std::uint32_t i = stack.back();
            stack.pop_back();
            if (i == 0) continue;
            if (reached[i]++ > 0) {
                reached[i] = 2;
                continue;
            }
            stack.push_back(m->nodes[i].then_ >> 1);
            stack.push_back(m->nodes[i].else_ >> 1);
        }
    }

    void line(int indent, const std::string& text) {
        std::string s(static_cast<size_t>(indent), ' ');
        s += text;
        s += '\n';
        sink(s);
    }

    void print(bdd root) {
        number.assign(m->nodes.size(), 0);
        polarity.assign(m->nodes.size(), 0);
        struct Frame {
            bdd f;
            int indent;
            int stage;  // 0 header, 1 else part, 2 closing line
            std::string name;
        };
        std::vector<Frame> stack;
        auto open = [&](bdd f, int indent) {
            if (m->is_const(f)) {
                line(indent, f == 0 ? "1" : "0");
                return;
            }
            const std::uint32_t index = f >> 1;
            if (number[index] != 0) {
                const bool flipped = (f & 1u) != polarity[index];
                line(indent, (flipped ? "!" : "") + fmt("subformula %d", number[index]));
                return;
            }
            std::string prefix;
            if (reached[index] > 1) {
                number[index] = next_number;
                polarity[index] = static_cast<std::uint8_t>(f & 1u);
                prefix = fmt("%d: ", next_number++);
            }
            std::string name = name_of(f);
            line(indent, prefix + "if " + name);
            stack.push_back(Frame{f, indent, 0, std::move(name)});
        };
        open(root, 0);
        while (!stack.empty()) {
            Frame& fr = stack.back();
            const bdd f = fr.f;
            const int indent = fr.indent;
            if (fr.stage == 0) {
                fr.stage = 1;
                open(m->then_of(f), indent + 2);
            } else if (fr.stage == 1) {
                fr.stage = 2;
                line(indent, "else if !" + fr.name);
                open(m->else_of(f), indent + 2);
            } else {
                line(indent, "endif " + fr.name);
                stack.pop_back();
            }
        }
    }
};

}  // namespace

void bdd_print_bdd(BddManager* m, bdd f, const BddNamingFn& names, const BddTextSink& sink) {
    if (f == kBddNull) {
        sink("overflow\n");
        return;
    }
    Printer p{m, names, sink, {}, {}, {}, 1};
    p.count(f);
    p.print(f);
}

std::string bdd_print_bdd(BddManager* m, bdd f, const BddNamingFn& names) {
    std::string out;
    bdd_print_bdd(m, f, names, [&](const std::string& s) { out += s; });
    return out;
}

}  // namespace corvel
