#pragma once
// Manager internals shared by the package's source files: the node array,
// the per-variable open-addressing unique tables and the operation cache.
//
// Layout is chosen for memory traffic, which is what the operations spend
// their time on once a diagram outgrows the processor caches:
// - a node is 12 bytes (children, variable, references); the caller's value
//   slots and parent counters live in side arrays that exist only once used;
// - a unique-table slot holds the node's children next to its index, so a
//   lookup compares keys without touching the node array;
// - collection marks into a bit vector and rebuilds each variable's table
//   from its own slots.

#include <cstdint>
#include <new>
#include <vector>

#include "bdd/bdd.h"
#include "symbols/large_pages.h"

namespace corvel {

constexpr std::uint16_t kBddFreeId = 0xFFFF;     // id of a node record on the free list
constexpr std::uint8_t kBddPermanent = 255;      // refs value of a permanent node
constexpr std::uint16_t kBddPrefsMax = 0xFFFF;
constexpr std::uint32_t kBddTerminalPosition = 0xFFFFFFFFu;  // sorts below every variable
constexpr long kBddMaxVars = 65534;

// Fixed operation tags of the cache.
enum BddTag : std::uint32_t {
    kTagCofactor = 100,
    kTagAnd = 200,  // hashes the pairs of every conjunction (each keeps its own tag)
    kTagWithoutP1 = 700,
    kTagWithoutP0 = 800,
    kTagMsOr = 10001,
    kTagMsAnd = 20001,
};

struct BddNode {
    bdd then_ = 0;
    bdd else_ = 0;
    std::uint16_t id = 0;       // variable identifier; 0 terminal; kBddFreeId free
    std::uint8_t refs = 0;      // external references (255 permanent)
};

// One unique-table slot: the key (then, else) and the node index (0 = empty).
struct BddSlot {
    bdd t = 0, e = 0;
    std::uint32_t index = 0;
};

// One variable's unique table: linear probing over a power-of-two array,
// kept at most half full.
struct BddVarTable {
    LargeVector<BddSlot> slots;
    std::uint32_t entries = 0;
    unsigned bits = 0;
};

struct BddCacheEntry {
    std::uint32_t tag = 0xFFFFFFFEu;  // no operation uses this tag
    bdd a = 0, b = 0, result = 0;
};
constexpr std::uint32_t kBddNoTag = 0xFFFFFFFEu;
constexpr std::uint32_t kBddFirstTempTag = 0x80000000u;  // temporary tags lie in [this, kBddNoTag)

// One pair of operands of a level-wise conjunction. Its four words hold the
// operands' cofactors at the request's variable (f1, f0, g1, g0) until the
// request is expanded; then words 0 and 1 hold its two parts: a result
// handle, or with kBddPending set the number of the request computing it;
// once reduced, word 2 holds its result. 16 bytes, since there are millions.
struct BddRequest {
    std::uint32_t w[4] = {0, 0, 0, 0};
};
// Handles stay below this bit (node records are fewer than 2^30), and so do
// request numbers.
constexpr std::uint32_t kBddPending = 1u << 31;
constexpr std::size_t kBddMaxNodes = std::size_t{1} << 30;
// Bytes one live node costs at the peak of an analysis: its record (12), its
// unique-table slots (12 each, tables between a quarter and a half full), a
// share of the operation cache, and the flat arrays of an evaluation over
// it. The pairs of a conjunction cost their record (16), their place in a
// level's list (4, up to twice that as the lists grow) and, kept after the
// operation, their result (4); they share the memory ceiling with the nodes.
constexpr long kBytesPerLiveNode = 100;
constexpr long kBytesPerPair = 32;

// The results of one finished conjunction by request number: its cache
// entries, which name request numbers under its tag, lead here.
struct BddKeptResults {
    std::uint32_t tag = kBddNoTag;
    LargeVector<bdd> results;  // kBddNull once the node was collected
};
constexpr size_t kBddKeptOperations = 8;

// Scratch space of the level-wise conjunction, kept between operations so
// that no operation allocates or clears more than it uses; and the results
// of the last few operations.
struct BddApplyScratch {
    ChunkedArray<BddRequest, 17> requests;   // 2 MiB chunks
    std::vector<std::vector<std::uint32_t>> levels;   // request indices per order position
    std::uint32_t low = 0xFFFFFFFFu, high = 0;         // levels in use
    BddKeptResults kept[kBddKeptOperations];
    size_t next_kept = 0;
    std::size_t kept_bytes = 0;  // held by the kept results
    std::size_t pairs_held = 0;  // the most pairs of one operation so far: their memory is kept for reuse

    // The kept results of the finished operation `tag`, or null.
    const BddKeptResults* kept_for(std::uint32_t tag) const {
        for (const BddKeptResults& k : kept)
            if (k.tag == tag) return &k;
        return nullptr;
    }
    bool is_kept(std::uint32_t tag) const { return kept_for(tag) != nullptr; }
    // The result of request `index` of the finished operation `tag`, or null.
    const bdd* kept_result(std::uint32_t tag, std::uint32_t index) const {
        const BddKeptResults* k = kept_for(tag);
        if (k == nullptr || index >= k->results.size() || k->results[index] == kBddNull) return nullptr;
        return &k->results[index];
    }
    void forget() {
        for (BddKeptResults& k : kept) {
            k.tag = kBddNoTag;
            k.results.clear();
        }
    }
};

// Slot of (t, e) in a table of 2^bits slots, and of an operation's cache
// entry: the top bits of a multiplicative hash, so that doubling a table
// keeps the slots in order.
inline std::uint32_t bdd_hash_pair(bdd t, bdd e, unsigned bits) {
    std::uint64_t k = (static_cast<std::uint64_t>(t) << 32) | e;
    k *= 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint32_t>(k >> (64 - bits));
}

// The operation cache has a prime number of bins: the 32-bit hash is scaled
// to [0, size) by a multiplication instead of a division.
inline std::uint32_t bdd_hash_op(std::uint32_t tag, bdd a, bdd b, std::uint32_t size) {
    std::uint64_t k = (static_cast<std::uint64_t>(a) << 32) | b;
    k ^= static_cast<std::uint64_t>(tag) * 0xC2B2AE3D27D4EB4Full;
    k *= 0x9E3779B97F4A7C15ull;
    k ^= k >> 29;
    k *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::uint32_t>(((k >> 32) * size) >> 32);
}

// Sizes of the operation cache, a list of primes; a new manager starts at
// index 13 (8179 bins).
inline constexpr std::uint32_t kBddPrimes[] = {
    1, 2, 3, 7, 13, 23, 59, 113, 241, 503, 1019, 2039, 4091, 8179, 11587, 16369, 23143,
    32749, 46349, 65521, 92683, 131063, 185363, 262139, 330287, 416147, 524269, 660557,
    832253, 1048571, 1321109, 1664501, 2097143, 2642201, 3328979, 4194287, 5284393,
    6657919, 8388593, 10568797, 13315831, 16777199, 33554393, 67108859, 134217689,
    268435399, 536870879, 1073741789, 2147483629};
constexpr unsigned kBddInitialCacheIndex = 13;

// Terminal rules of OR (is_or) or AND over handles (0 the constant one,
// 1 the constant zero); true when r was decided.
inline bool bdd_terminal_rule(bdd f, bdd g, bool is_or, bdd& r) {
    const bdd absorb = is_or ? 0u : 1u;
    const bdd unit = is_or ? 1u : 0u;
    if (f == absorb || g == absorb) { r = absorb; return true; }
    if (f == unit) { r = g; return true; }
    if (g == unit) { r = f; return true; }
    if (f == g) { r = f; return true; }
    if (f == (g ^ 1u)) { r = absorb; return true; }
    return false;
}

// f AND g computed level by level (the public operations' step).
bdd bdd_and_levels(BddManager* m, bdd f, bdd g);

// Thrown inside an operation when the node limit is reached; the public
// entry turns it into a null result.
struct BddOverflowAbort {};

struct BddManager {
    ReservedArray<BddNode> nodes{kBddMaxNodes};  // node 0: the terminal
    std::vector<std::uint32_t> free_list;
    std::vector<BddVarTable> tables;        // indexed by variable identifier (0 unused)
    std::vector<bdd> variables;             // variable node per identifier
    std::vector<std::uint32_t> position;    // identifier -> order position (entry 0: terminals)
    std::vector<std::uint16_t> id_at;       // order position -> identifier
    long vars = 0;
    long maxvars = 30;

    // The caller's per-node value slots and parent counters, indexed by node;
    // shorter than `nodes` until used (a missing entry reads as null / 0).
    std::vector<void*> values;
    std::vector<std::uint16_t> prefs;

    // Visit stamps for the read-only walks (one walk at a time).
    LargeVector<std::uint32_t> stamps;
    std::uint32_t stamp = 0;

    LargeVector<std::uint32_t> mark_queue;  // scratch of collections
    LargeVector<BddCacheEntry> cache;
    BddApplyScratch apply;
    unsigned cache_index = kBddInitialCacheIndex;  // into kBddPrimes
    std::uint32_t cache_size = kBddPrimes[kBddInitialCacheIndex];
    long cache_entries = 0;
    long lookups = 0, hits = 0, inserts = 0, collisions = 0;

    long entries = 0;                       // live node records (terminal excluded)
    long created = 0;                       // node records ever allocated
    long gc_limit = 10000;
    long node_limit = 0;                    // set by the caller; 0 = none
    long memory_nodes = 0;                  // the most live nodes the available memory holds
    long scratch_nodes = 0;                 // the conjunction's pairs and kept results, in nodes of memory
    long gcs = 0, freed = 0, finds = 0;
    bool overflow = false;
    std::uint32_t temp_op = kBddNoTag - 1;  // next temporary tag (decreasing)

    std::uint32_t pos_of(bdd f) const { return position[nodes[f >> 1].id]; }
    const BddNode& node(bdd f) const { return nodes[f >> 1]; }
    bool is_const(bdd f) const { return (f >> 1) == 0; }
    bdd then_of(bdd f) const { return nodes[f >> 1].then_ ^ (f & 1u); }
    bdd else_of(bdd f) const { return nodes[f >> 1].else_ ^ (f & 1u); }

    // The node (id, t, e), reduced and canonical (then-edge regular).
    bdd find(std::uint16_t id, bdd t, bdd e) {
        ++finds;
        if (t == e) return t;
        const bdd neg = t & 1u;
        t ^= neg;
        e ^= neg;
        BddVarTable& table = tables[id];
        const std::uint32_t mask = (std::uint32_t{1} << table.bits) - 1;
        std::uint32_t h = bdd_hash_pair(t, e, table.bits);
        for (;;) {
            const BddSlot& s = table.slots[h];
            if (s.index == 0) break;
            if (s.t == t && s.e == e) return (s.index << 1) | neg;
            h = (h + 1) & mask;
        }
        return (create(table, h, id, t, e) << 1) | neg;
    }
    // Starts loading the unique-table slot where find(id, t, e) will look.
    void prefetch_find(std::uint16_t id, bdd t, bdd e) const {
        const bdd neg = t & 1u;
        const BddVarTable& table = tables[id];
        __builtin_prefetch(&table.slots[bdd_hash_pair(t ^ neg, e ^ neg, table.bits)]);
    }
    // A new node in the empty slot h of its variable's table; its index.
    std::uint32_t create(BddVarTable& table, std::uint32_t h, std::uint16_t id, bdd t, bdd e);

    std::uint32_t cache_slot(std::uint32_t tag, bdd a, bdd b) const { return bdd_hash_op(tag, a, b, cache_size); }
    const BddCacheEntry& cache_entry(std::uint32_t tag, bdd a, bdd b) const {
        return cache[cache_slot(tag, a, b)];
    }
    bool cache_lookup(std::uint32_t tag, bdd a, bdd b, bdd& result) {
        ++lookups;
        const BddCacheEntry& c = cache_entry(tag, a, b);
        if (c.tag == tag && c.a == a && c.b == b) {
            ++hits;
            result = c.result;
            return true;
        }
        return false;
    }
    void cache_insert(std::uint32_t tag, bdd a, bdd b, bdd result) {
        BddCacheEntry& c = cache[bdd_hash_op(tag, a, b, cache_size)];
        if (c.tag == kBddNoTag)
            ++cache_entries;
        else
            ++collisions;
        c = BddCacheEntry{tag, a, b, result};
        ++inserts;
    }
    void cache_clear();
    void maybe_grow_cache();

    // Temporary tags run down from just below the empty-entry marker and stay
    // above every fixed tag (all below 2^31); once used up, the cache is
    // emptied so that no stale entry can answer for a reused tag.
    std::uint32_t new_temp_tag() {
        if (temp_op < kBddFirstTempTag) {
            cache_clear();
            temp_op = kBddNoTag - 1;
        }
        return temp_op--;
    }
    void collect();

    // Starts a walk: afterwards `first_visit(i)` is true once per node index.
    void begin_walk();
    bool first_visit(std::uint32_t index) {
        std::uint32_t& s = stamps[index];
        if (s == stamp) return false;
        s = stamp;
        return true;
    }
    void* value_at(std::uint32_t index) const { return index < values.size() ? values[index] : nullptr; }
    std::uint16_t prefs_at(std::uint32_t index) const { return index < prefs.size() ? prefs[index] : 0; }
    void*& value_slot(std::uint32_t index);
    std::uint16_t& prefs_slot(std::uint32_t index);
};

[[noreturn]] void bdd_fatal(const char* message);

// Checks the arguments of a building operation: false when one is null (the
// operation returns null); fatal when one has no reference.
bool bdd_check_arguments(BddManager* m, bdd f);

// Runs a recursive step as a public operation: collection when due, the
// overflow abort turned into null, one reference on the result.
template <class Step>
bdd bdd_run(BddManager* m, Step step) {
    if (m->entries > m->gc_limit) m->collect();
    m->maybe_grow_cache();
    bdd r;
    // The limit counts records that are garbage but not yet collected:
    // collect them and try once more before giving up. Memory refused by
    // the system (an address-space limit reached before the ceiling) ends
    // the operation the same way: the manager holds only what it held.
    bool again = false;
    try {
        r = step();
    } catch (const BddOverflowAbort&) {
        again = true;
    } catch (const std::bad_alloc&) {
        again = true;
    }
    if (again) {
        m->collect();
        try {
            r = step();
        } catch (const BddOverflowAbort&) {
            m->overflow = true;
            return kBddNull;
        } catch (const std::bad_alloc&) {
            m->overflow = true;
            return kBddNull;
        }
    }
    BddNode& n = m->nodes[r >> 1];
    if (n.refs != kBddPermanent) ++n.refs;
    return r;
}

}  // namespace corvel
