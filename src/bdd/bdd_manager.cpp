// The manager: node records, per-variable unique tables, the operation
// cache, variables and garbage collection.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <new>

#include "bdd/bdd_internal.h"
#include "symbols/errors.h"
#include "symbols/progress.h"

namespace corvel {

namespace {

constexpr unsigned kInitialTableBits = 3;   // 8 slots per new variable
constexpr unsigned kMaxCacheIndex = 41;  // 16777199 bins

// Places a slot whose key is known to be absent.
inline void insert_slot(BddVarTable& t, const BddSlot& s) {
    const std::uint32_t mask = (std::uint32_t{1} << t.bits) - 1;
    std::uint32_t h = bdd_hash_pair(s.t, s.e, t.bits);
    while (t.slots[h].index != 0) h = (h + 1) & mask;
    t.slots[h] = s;
}

void grow_table(BddVarTable& t) {
    LargeVector<BddSlot> old(size_t{2} << t.bits);
    old.swap(t.slots);
    ++t.bits;
    for (const BddSlot& s : old)
        if (s.index != 0) insert_slot(t, s);
}

[[noreturn]] void allocation_failed() {
    std::fputs("Memory management library: error: mem_get_block: allocation failed\n", stderr);
    throw ProgramExit{kExitBddFailure};
}

// Mark bits of a collection, one per node record.
struct MarkBits {
    std::vector<std::uint64_t> words;
    explicit MarkBits(size_t n) : words((n + 63) / 64, 0) {}
    bool test(std::uint32_t i) const { return (words[i >> 6] >> (i & 63)) & 1u; }
    void set(std::uint32_t i) { words[i >> 6] |= std::uint64_t{1} << (i & 63); }
};

// The smallest positive of a and b (0 when neither is).
std::uint64_t smaller_limit(std::uint64_t a, std::uint64_t b) {
    if (a == 0) return b;
    if (b == 0) return a;
    return std::min(a, b);
}

// MemAvailable of /proc/meminfo in bytes, 0 when it cannot be read.
std::uint64_t available_memory() {
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (f == nullptr) return 0;
    char line[256];
    std::uint64_t kb = 0;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::sscanf(line, "MemAvailable: %" SCNu64 " kB", &kb) == 1) break;
    std::fclose(f);
    return kb * 1024;
}

// A memory limit of the process's control group in bytes, 0 when none.
std::uint64_t group_memory_limit() {
    std::uint64_t bytes = 0;
    if (std::FILE* f = std::fopen("/sys/fs/cgroup/memory.max", "r")) {
        if (std::fscanf(f, "%" SCNu64, &bytes) != 1) bytes = 0;
        std::fclose(f);
    }
    return bytes;
}

std::uint64_t resource_limit(int resource) {
    rlimit r{};
    if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<std::uint64_t>(r.rlim_cur);
}

}  // namespace

long bdd_memory_node_ceiling() {
    std::uint64_t bytes = 0;
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0) bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
    bytes = smaller_limit(bytes, available_memory());
    bytes = smaller_limit(bytes, group_memory_limit());
    bytes = smaller_limit(bytes, resource_limit(RLIMIT_AS));
    bytes = smaller_limit(bytes, resource_limit(RLIMIT_DATA));
    if (bytes == 0) return static_cast<long>(kBddMaxNodes) - 1;
    // A quarter is left to what the ceiling does not count: the walks and
    // evaluations over a diagram, the pruning's tables, the rest of the
    // program and the other processes' growth.
    const std::uint64_t nodes = bytes / 4 * 3 / kBytesPerLiveNode;
    return static_cast<long>(std::min<std::uint64_t>(nodes, kBddMaxNodes - 1));
}

long bdd_memory_limit(BddManager* m) { return m->memory_nodes; }

long bdd_set_memory_limit(BddManager* m, long nodes) {
    const long old = m->memory_nodes;
    m->memory_nodes = nodes < 0 ? 0 : nodes;
    return old;
}

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

std::uint32_t BddManager::create(BddVarTable& table, std::uint32_t h, std::uint16_t id, bdd t, bdd e) {
    if ((node_limit > 0 && entries >= node_limit - 1000) || (memory_nodes > 0 && entries + scratch_nodes >= memory_nodes))
        throw BddOverflowAbort{};
    std::uint32_t index;
    try {
        if (!free_list.empty()) {
            index = free_list.back();
            free_list.pop_back();
        } else {
            if (nodes.size() >= kBddMaxNodes) allocation_failed();
            nodes.emplace_back();
            index = static_cast<std::uint32_t>(nodes.size() - 1);
        }
        BddNode& n = nodes[index];
        n.then_ = t;
        n.else_ = e;
        n.id = id;
        n.refs = 0;
        table.slots[h] = BddSlot{t, e, index};
        ++table.entries;
        ++entries;
        ++created;
        progress::update("BDD construction", "nodes", static_cast<std::uint64_t>(entries));
        if (table.entries * 2 > table.slots.size()) grow_table(table);
    } catch (const std::bad_alloc&) {
        // The system refused memory before the ceiling was reached: an
        // overflow like the ceiling itself. The node, when it was made, is
        // complete and in its table (a table that could not grow stays as
        // it was).
        throw BddOverflowAbort{};
    }
    return index;
}

void*& BddManager::value_slot(std::uint32_t index) {
    if (index >= values.size()) values.resize(nodes.size(), nullptr);
    return values[index];
}

std::uint16_t& BddManager::prefs_slot(std::uint32_t index) {
    if (index >= prefs.size()) prefs.resize(nodes.size(), 0);
    return prefs[index];
}

void BddManager::begin_walk() {
    if (stamps.size() < nodes.size()) stamps.resize(nodes.size(), 0);
    if (++stamp == 0) {
        std::fill(stamps.begin(), stamps.end(), 0u);
        stamp = 1;
    }
}

// ------------------------------------------------------------------ cache

void BddManager::cache_clear() {
    for (BddCacheEntry& c : cache) c = BddCacheEntry{};
    cache_entries = 0;
    apply.forget();
}

// The cache follows the diagram: it doubles while the live nodes outnumber
// its entries, and the entries it holds move into the larger table.
void BddManager::maybe_grow_cache() {
    if (cache_index >= kMaxCacheIndex || entries <= static_cast<long>(cache.size())) return;
    unsigned index = cache_index;
    while (index < kMaxCacheIndex && static_cast<long>(kBddPrimes[index]) < entries) ++index;
    const std::uint32_t size = kBddPrimes[index];
    LargeVector<BddCacheEntry> bigger;
    try {
        bigger.resize(size);
    } catch (const std::bad_alloc&) {
        return;  // keep the current cache
    }
    long kept = 0;
    for (const BddCacheEntry& c : cache) {
        if (c.tag == kBddNoTag) continue;
        // Entries of kept conjunctions are placed by their pair alone; other
        // temporary entries belong to finished operations and are dropped.
        std::uint32_t tag = c.tag;
        if (tag >= kBddFirstTempTag) {
            if (!apply.is_kept(tag)) continue;
            tag = kTagAnd;
        }
        BddCacheEntry& d = bigger[bdd_hash_op(tag, c.a, c.b, size)];
        if (d.tag == kBddNoTag) ++kept;
        d = c;
    }
    cache.swap(bigger);
    cache_index = index;
    cache_size = size;
    cache_entries = kept;
}

// ------------------------------------------------------------------ collection

void BddManager::collect() {
    const size_t n = nodes.size();
    MarkBits marks(n);
    marks.set(0);
    // Mark everything reachable from a referenced node, breadth first: a
    // node's record is prefetched when it joins the queue and read when it
    // leaves, by which time it has arrived.
    LargeVector<std::uint32_t>& queue = mark_queue;
    queue.clear();
    for (std::uint32_t i = 1; i < n; ++i) {
        const BddNode& r = nodes[i];
        if (r.id == kBddFreeId || r.refs == 0 || marks.test(i)) continue;
        marks.set(i);
        queue.push_back(i);
    }
    for (size_t head = 0; head < queue.size(); ++head) {
        const BddNode& nd = nodes[queue[head]];
        for (bdd child : {nd.then_, nd.else_}) {
            const std::uint32_t c = child >> 1;
            if (marks.test(c)) continue;
            marks.set(c);
            __builtin_prefetch(&nodes[c]);
            queue.push_back(c);
        }
    }
    // Entries of the cache whose operands and result all survive stay valid
    // (nodes are freed only here, so no entry can name a reused record).
    // Entries of a kept conjunction name request numbers: they stay while
    // their pair survives, and results of collected nodes are forgotten.
    // Other entries under temporary tags belong to finished operations and
    // are never looked up again.
    auto alive = [&](bdd h) { return (h >> 1) < n && marks.test(h >> 1); };
    for (BddKeptResults& k : apply.kept)
        for (bdd& r : k.results)
            if (r != kBddNull && !alive(r)) r = kBddNull;
    for (BddCacheEntry& c : cache) {
        if (c.tag == kBddNoTag) continue;
        if (c.tag >= kBddFirstTempTag) {
            if (apply.is_kept(c.tag) && alive(c.a) && alive(c.b)) continue;
        } else if (alive(c.a) && alive(c.b) && alive(c.result)) {
            continue;
        }
        c = BddCacheEntry{};
        --cache_entries;
    }
    // Each variable's table keeps the slots of its surviving nodes.
    std::vector<BddSlot> kept;
    for (size_t v = 1; v < tables.size(); ++v) {
        BddVarTable& t = tables[v];
        kept.clear();
        for (const BddSlot& s : t.slots)
            if (s.index != 0 && marks.test(s.index)) kept.push_back(s);
        if (kept.size() == t.entries) continue;
        std::fill(t.slots.begin(), t.slots.end(), BddSlot{});
        for (const BddSlot& s : kept) insert_slot(t, s);
        t.entries = static_cast<std::uint32_t>(kept.size());
    }
    // Sweep: the dead records go to the free list with empty slots.
    long swept = 0;
    for (std::uint32_t i = 1; i < n; ++i) {
        BddNode& nd = nodes[i];
        if (nd.id == kBddFreeId || marks.test(i)) continue;
        nd = BddNode{};
        nd.id = kBddFreeId;
        if (i < values.size()) values[i] = nullptr;
        if (i < prefs.size()) prefs[i] = 0;
        free_list.push_back(i);
        ++swept;
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
    m->cache.assign(kBddPrimes[kBddInitialCacheIndex], BddCacheEntry{});
    m->cache_index = kBddInitialCacheIndex;
    m->cache_size = kBddPrimes[kBddInitialCacheIndex];
    m->memory_nodes = bdd_memory_node_ceiling();
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
    t.slots.assign(size_t{1} << kInitialTableBits, BddSlot{});
    t.bits = kInitialTableBits;
    m->tables.push_back(std::move(t));
    if (first) {
        for (long i = 1; i < id; ++i) ++m->position[static_cast<size_t>(i)];
        m->position.push_back(0);
        m->id_at.insert(m->id_at.begin(), id);
    } else {
        m->position.push_back(static_cast<std::uint32_t>(id - 1));
        m->id_at.push_back(id);
    }
    // The variable's own record is outside the node limit and the memory
    // ceiling: they end operations, which can report it, and a variable is
    // made outside them.
    const long limit = m->node_limit;
    const auto ceiling = m->memory_nodes;
    m->node_limit = 0;
    m->memory_nodes = 0;
    bdd v = m->find(id, bdd_one(m), bdd_zero(m));
    m->node_limit = limit;
    m->memory_nodes = ceiling;
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
