// The manager: node records, per-variable unique tables, the operation
// cache, variables and garbage collection.

#include <cstdio>
#include <new>

#include "bdd/bdd_internal.h"
#include "symbols/errors.h"
#include "symbols/progress.h"

namespace corvel {

namespace {

constexpr unsigned kInitialTableBits = 3;   // 8 slots per new variable
constexpr unsigned kInitialCacheBits = 13;  // 8192 entries
constexpr unsigned kMaxCacheBits = 24;

inline std::uint32_t hash_pair(bdd t, bdd e, unsigned bits) {
    std::uint64_t k = (static_cast<std::uint64_t>(t) << 32) | e;
    k *= 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint32_t>(k >> (64 - bits));
}

inline std::uint32_t hash_op(std::uint32_t tag, bdd a, bdd b, unsigned bits) {
    std::uint64_t k = (static_cast<std::uint64_t>(a) << 32) | b;
    k ^= static_cast<std::uint64_t>(tag) * 0xC2B2AE3D27D4EB4Full;
    k *= 0x9E3779B97F4A7C15ull;
    k ^= k >> 29;
    k *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::uint32_t>(k >> (64 - bits));
}

unsigned bits_of(size_t size) {
    unsigned b = 0;
    while ((size_t{1} << b) < size) ++b;
    return b;
}

void insert_slot(BddVarTable& t, const std::vector<BddNode>& nodes, std::uint32_t index) {
    const unsigned bits = bits_of(t.slots.size());
    const std::uint32_t mask = static_cast<std::uint32_t>(t.slots.size() - 1);
    std::uint32_t h = hash_pair(nodes[index].then_, nodes[index].else_, bits);
    while (t.slots[h] != 0) h = (h + 1) & mask;
    t.slots[h] = index;
}

void grow_table(BddVarTable& t, const std::vector<BddNode>& nodes) {
    std::vector<std::uint32_t> old = std::move(t.slots);
    t.slots.assign(old.size() * 2, 0);
    for (std::uint32_t index : old)
        if (index != 0) insert_slot(t, nodes, index);
}

[[noreturn]] void allocation_failed() {
    std::fputs("Memory management library: error: mem_get_block: allocation failed\n", stderr);
    throw ProgramExit{kExitBddFailure};
}

}  // namespace

[[noreturn]] void bdd_fatal(const char* message) {
    std::fprintf(stderr, "BDD library: error: %s\n", message);
    throw ProgramExit{kExitBddFailure};
}

bool bdd_check_arguments(BddManager* m, bdd f) {
    if (f == kBddNull) return false;
    if ((f >> 1) >= m->nodes.size() || m->nodes[f >> 1].id == kBddFreeId || m->nodes[f >> 1].refs == 0)
        bdd_fatal("bdd_check_arguments: argument has zero references");
    return true;
}

// ------------------------------------------------------------------ nodes

bdd BddManager::find(std::uint16_t id, bdd t, bdd e) {
    ++finds;
    if (t == e) return t;
    bdd neg = t & 1u;
    t ^= neg;
    e ^= neg;
    BddVarTable& table = tables[id];
    const unsigned bits = bits_of(table.slots.size());
    const std::uint32_t mask = static_cast<std::uint32_t>(table.slots.size() - 1);
    std::uint32_t h = hash_pair(t, e, bits);
    for (;;) {
        std::uint32_t index = table.slots[h];
        if (index == 0) break;
        const BddNode& n = nodes[index];
        if (n.then_ == t && n.else_ == e) return (index << 1) | neg;
        h = (h + 1) & mask;
    }
    if (node_limit > 0 && entries >= node_limit - 1000) throw BddOverflowAbort{};
    std::uint32_t index;
    try {
        if (!free_list.empty()) {
            index = free_list.back();
            free_list.pop_back();
        } else {
            if (nodes.size() >= 0x7FFFFFFFu) allocation_failed();
            nodes.emplace_back();
            index = static_cast<std::uint32_t>(nodes.size() - 1);
        }
        BddNode& n = nodes[index];
        n = BddNode{};
        n.then_ = t;
        n.else_ = e;
        n.id = id;
        table.slots[h] = index;
        ++table.entries;
        ++entries;
        ++created;
        progress::update("BDD construction", "nodes", static_cast<std::uint64_t>(entries));
        if (table.entries * 2 > table.slots.size()) grow_table(table, nodes);
    } catch (const std::bad_alloc&) {
        allocation_failed();
    }
    return (index << 1) | neg;
}

// ------------------------------------------------------------------ cache

bool BddManager::cache_lookup(std::uint32_t tag, bdd a, bdd b, bdd& result) {
    ++lookups;
    const BddCacheEntry& c = cache[hash_op(tag, a, b, cache_bits)];
    if (c.tag == tag && c.a == a && c.b == b) {
        ++hits;
        result = c.result;
        return true;
    }
    return false;
}

void BddManager::cache_insert(std::uint32_t tag, bdd a, bdd b, bdd result) {
    BddCacheEntry& c = cache[hash_op(tag, a, b, cache_bits)];
    if (c.tag == 0xFFFFFFFEu)
        ++cache_entries;
    else
        ++collisions;
    c.tag = tag;
    c.a = a;
    c.b = b;
    c.result = result;
    ++inserts;
}

void BddManager::cache_clear() {
    for (BddCacheEntry& c : cache) c = BddCacheEntry{};
    cache_entries = 0;
}

// The cache follows the diagram: it doubles (and is emptied) while the live
// nodes outnumber its entries.
void BddManager::maybe_grow_cache() {
    if (cache_bits >= kMaxCacheBits || entries <= static_cast<long>(cache.size())) return;
    unsigned bits = cache_bits;
    while (bits < kMaxCacheBits && (1L << bits) < entries) ++bits;
    try {
        std::vector<BddCacheEntry> bigger(size_t{1} << bits);
        cache.swap(bigger);
    } catch (const std::bad_alloc&) {
        return;  // keep the current cache
    }
    cache_bits = bits;
    cache_entries = 0;
}

// ------------------------------------------------------------------ collection

void BddManager::collect() {
    // Mark everything reachable from a referenced node.
    std::vector<std::uint32_t> stack;
    for (std::uint32_t i = 1; i < nodes.size(); ++i) {
        BddNode& n = nodes[i];
        if (n.id == kBddFreeId || n.refs == 0 || n.mark) continue;
        n.mark = 1;
        stack.push_back(i);
        while (!stack.empty()) {
            std::uint32_t j = stack.back();
            stack.pop_back();
            for (bdd child : {nodes[j].then_, nodes[j].else_}) {
                std::uint32_t c = child >> 1;
                if (c == 0 || nodes[c].mark) continue;
                nodes[c].mark = 1;
                stack.push_back(c);
            }
        }
    }
    // Entries of the cache whose operands and result all survive stay valid
    // (nodes are freed only here, so no entry can name a reused record).
    auto alive = [&](bdd h) {
        const std::uint32_t i = h >> 1;
        return i == 0 || (i < nodes.size() && nodes[i].id != kBddFreeId && nodes[i].mark);
    };
    for (BddCacheEntry& c : cache) {
        if (c.tag == 0xFFFFFFFEu) continue;
        if (alive(c.a) && alive(c.b) && alive(c.result)) continue;
        c = BddCacheEntry{};
        --cache_entries;
    }
    // Sweep, and rebuild the unique tables from the survivors.
    for (size_t v = 1; v < tables.size(); ++v) {
        BddVarTable& t = tables[v];
        t.entries = 0;
        std::fill(t.slots.begin(), t.slots.end(), 0u);
    }
    long swept = 0;
    for (std::uint32_t i = 1; i < nodes.size(); ++i) {
        BddNode& n = nodes[i];
        if (n.id == kBddFreeId) continue;
        if (!n.mark) {
            n = BddNode{};
            n.id = kBddFreeId;
            free_list.push_back(i);
            ++swept;
            continue;
        }
        n.mark = 0;
        BddVarTable& t = tables[n.id];
        ++t.entries;
        insert_slot(t, nodes, i);
    }
    entries -= swept;
    freed += swept;
    ++gcs;
    long limit = 2 * entries;
    if (limit < 10000) limit = 10000;
    if (node_limit > 0 && limit > node_limit) limit = node_limit;
    gc_limit = limit;
}

// ------------------------------------------------------------------ public: manager

BddManager* bdd_init() {
    if (static_cast<double>(0.5) * 2.0 != 1.0) bdd_fatal("bdd_init: portability problem for bdd_satisfying_fraction");
    auto* m = new BddManager;
    m->nodes.emplace_back();  // the terminal
    m->nodes[0].refs = kBddPermanent;
    m->tables.emplace_back();
    m->variables.push_back(0);
    m->position.push_back(kBddTerminalPosition);
    m->cache.assign(size_t{1} << kInitialCacheBits, BddCacheEntry{});
    m->cache_bits = kInitialCacheBits;
    return m;
}

void bdd_quit(BddManager* m) { delete m; }

bdd bdd_one(BddManager*) { return 0; }
bdd bdd_zero(BddManager*) { return 1; }

bool bdd_is_constant(BddManager*, bdd f) { return f != kBddNull && (f >> 1) == 0; }

// ------------------------------------------------------------------ public: variables

namespace {

bdd new_var(BddManager* m, bool first) {
    if (m->vars >= kBddMaxVars) bdd_fatal("bdd_new_var: no more indexes");
    if (m->vars >= m->maxvars) m->maxvars = std::min(2 * m->maxvars, kBddMaxVars);
    const auto id = static_cast<std::uint16_t>(++m->vars);
    BddVarTable t;
    t.slots.assign(size_t{1} << kInitialTableBits, 0);
    m->tables.push_back(std::move(t));
    if (first) {
        for (long i = 1; i < id; ++i) ++m->position[static_cast<size_t>(i)];
        m->position.push_back(0);
        m->id_at.insert(m->id_at.begin(), id);
    } else {
        m->position.push_back(static_cast<std::uint32_t>(id - 1));
        m->id_at.push_back(id);
    }
    bdd v = m->find(id, bdd_one(m), bdd_zero(m));
    m->nodes[v >> 1].refs = kBddPermanent;
    m->variables.push_back(v);
    return v;
}

}  // namespace

bdd bdd_new_var_first(BddManager* m) { return new_var(m, true); }
bdd bdd_new_var_last(BddManager* m) { return new_var(m, false); }

bdd bdd_var_with_index(BddManager* m, long position) {
    if (position < 0 || position >= m->vars) return kBddNull;
    return m->variables[m->id_at[static_cast<size_t>(position)]];
}

long bdd_vars(BddManager* m) { return m->vars; }

long bdd_if_index(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return -1;
    return static_cast<long>(m->pos_of(f));
}

long bdd_if_id(BddManager* m, bdd f) {
    if (f == kBddNull || m->is_const(f)) return -1;
    return m->node(f).id;
}

bdd bdd_then(BddManager* m, bdd f) {
    if (f == kBddNull) return kBddNull;
    if (m->is_const(f)) bdd_fatal("bdd_then: argument is a constant");
    return m->then_of(f);
}

bdd bdd_else(BddManager* m, bdd f) {
    if (f == kBddNull) return kBddNull;
    if (m->is_const(f)) bdd_fatal("bdd_else: argument is a constant");
    return m->else_of(f);
}

// ------------------------------------------------------------------ public: references

void bdd_free(BddManager* m, bdd f) {
    if (f == kBddNull) return;
    BddNode& n = m->nodes[f >> 1];
    if (n.id == kBddFreeId || n.refs == 0) bdd_fatal("bdd_free: attempt to free node with zero references");
    if (n.refs != kBddPermanent) --n.refs;
}

bdd bdd_identity(BddManager* m, bdd f) {
    if (f == kBddNull) return kBddNull;
    if ((f >> 1) >= m->nodes.size() || m->nodes[f >> 1].id == kBddFreeId)
        bdd_fatal("bdd_check_arguments: argument has zero references");
    BddNode& n = m->nodes[f >> 1];
    if (n.refs != kBddPermanent) ++n.refs;
    return f;
}

void bdd_gc(BddManager* m) { m->collect(); }

long bdd_node_limit(BddManager* m, long limit) {
    long old = m->node_limit;
    m->node_limit = limit < 0 ? 0 : limit;
    if (m->node_limit > 0 && m->gc_limit > m->node_limit) m->gc_limit = m->node_limit;
    return old;
}

bool bdd_overflow(BddManager* m) { return m->overflow; }
long bdd_total_nodes(BddManager* m) { return m->entries + 1; }
long bdd_nodes_created(BddManager* m) { return m->created; }

}  // namespace corvel
