// Per-node value slots and parent counters, sizes, and the text reports.

#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bdd/bdd_internal.h"

namespace corvel {

namespace {

std::string fmt(const char* format, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

// Visits every internal node below f once (regular indices).
template <class Visit>
void each_node(const BddManager* m, bdd f, Visit visit) {
    if (f == kBddNull || m->is_const(f)) return;
    std::unordered_set<std::uint32_t> seen;
    std::vector<std::uint32_t> stack{f >> 1};
    seen.insert(f >> 1);
    while (!stack.empty()) {
        std::uint32_t i = stack.back();
        stack.pop_back();
        visit(i);
        for (bdd c : {m->nodes[i].then_, m->nodes[i].else_}) {
            if ((c >> 1) == 0) continue;
            if (seen.insert(c >> 1).second) stack.push_back(c >> 1);
        }
    }
}

}  // namespace

// ------------------------------------------------------------------ value slots

void bdd_set_value(BddManager* m, bdd f, void* p) {
    if (f == kBddNull || m->is_const(f)) return;
    m->nodes[f >> 1].value = p;
}

void* bdd_get_value(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return nullptr;
    return m->nodes[f >> 1].value;
}

void bdd_clear_value(BddManager* m, bdd f, void (*free_fn)(void*)) {
    if (f == kBddNull || m->is_const(f)) return;
    std::vector<std::uint32_t> stack{f >> 1};
    while (!stack.empty()) {
        std::uint32_t i = stack.back();
        stack.pop_back();
        BddNode& n = m->nodes[i];
        if (n.value == nullptr) continue;
        if (free_fn) free_fn(n.value);
        n.value = nullptr;
        for (bdd c : {n.then_, n.else_})
            if ((c >> 1) != 0) stack.push_back(c >> 1);
    }
}

// ------------------------------------------------------------------ parent counters

void bdd_set_prefs(BddManager* m, bdd f, unsigned n) {
    if (f == kBddNull || m->is_const(f)) return;
    m->nodes[f >> 1].prefs = static_cast<std::uint16_t>(n > kBddPrefsMax ? kBddPrefsMax : n);
}

unsigned bdd_get_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return kBddPrefsMax;
    return m->nodes[f >> 1].prefs;
}

void bdd_inc_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return;
    std::uint16_t& p = m->nodes[f >> 1].prefs;
    if (p != kBddPrefsMax) ++p;
}

void bdd_dec_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return;
    std::uint16_t& p = m->nodes[f >> 1].prefs;
    if (p != 0 && p != kBddPrefsMax) --p;
}

void bdd_clear_prefs(BddManager* m, bdd f) {
    each_node(m, f, [&](std::uint32_t i) { m->nodes[i].prefs = 0; });
}

void bdd_set_all_prefs(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return;
    std::vector<std::uint32_t> stack{f >> 1};
    while (!stack.empty()) {
        std::uint32_t i = stack.back();
        stack.pop_back();
        BddNode& n = m->nodes[i];
        const bool first = n.prefs == 0;
        if (n.prefs != kBddPrefsMax) ++n.prefs;
        if (!first) continue;
        for (bdd c : {n.then_, n.else_})
            if ((c >> 1) != 0) stack.push_back(c >> 1);
    }
}

// ------------------------------------------------------------------ size

long bdd_size(BddManager* m, bdd f, int negout) {
    if (f == kBddNull) return 0;
    if (!negout) {
        long count = 1;  // the terminal
        each_node(m, f, [&](std::uint32_t) { ++count; });
        return count;
    }
    // Functions rather than nodes: a node reached with both polarities is two.
    std::unordered_set<bdd> seen{f};
    std::vector<bdd> stack{f};
    long count = 0;
    while (!stack.empty()) {
        bdd g = stack.back();
        stack.pop_back();
        ++count;
        if (m->is_const(g)) continue;
        for (bdd c : {m->then_of(g), m->else_of(g)})
            if (seen.insert(c).second) stack.push_back(c);
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

struct Printer {
    const BddManager* m;
    const BddNamingFn& names;
    std::unordered_map<std::uint32_t, int> parents;                // regular node -> times reached
    std::unordered_map<std::uint32_t, std::pair<int, bdd>> numbers;  // printed shared node -> (number, polarity)
    int next_number = 1;
    std::string out;

    std::string name_of(bdd f) const {
        const long pos = static_cast<long>(m->pos_of(f));
        if (names) return names(pos);
        return fmt("var.%d", static_cast<int>(m->node(f).id));
    }

    void count(bdd root) {
        std::vector<bdd> stack{root};
        while (!stack.empty()) {
            bdd f = stack.back();
            stack.pop_back();
            if (m->is_const(f)) continue;
            if (parents[f >> 1]++ > 0) continue;
            stack.push_back(m->nodes[f >> 1].then_);
            stack.push_back(m->nodes[f >> 1].else_);
        }
    }

    void print(bdd f, int indent) {
        const std::string pad(static_cast<size_t>(indent), ' ');
        if (m->is_const(f)) {
            out += pad + (f == 0 ? "1\n" : "0\n");
            return;
        }
        const std::uint32_t index = f >> 1;
        auto seen = numbers.find(index);
        if (seen != numbers.end()) {
            const bool flipped = (f & 1u) != seen->second.second;
            out += pad + (flipped ? "!" : "") + fmt("subformula %d\n", seen->second.first);
            return;
        }
        std::string prefix;
        if (parents[index] > 1) {
            numbers.emplace(index, std::make_pair(next_number, f & 1u));
            prefix = fmt("%d: ", next_number++);
        }
        const std::string name = name_of(f);
        out += pad + prefix + "if " + name + "\n";
        print(m->then_of(f), indent + 2);
        out += pad + "else if !" + name + "\n";
        print(m->else_of(f), indent + 2);
        out += pad + "endif " + name + "\n";
    }
};

}  // namespace

std::string bdd_print_bdd(BddManager* m, bdd f, const BddNamingFn& names) {
    if (f == kBddNull) return "overflow\n";
    Printer p{m, names, {}, {}, 1, {}};
    p.count(f);
    p.print(f, 0);
    return p.out;
}

}  // namespace corvel
