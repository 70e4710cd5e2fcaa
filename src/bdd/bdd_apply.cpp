// Conjunction (and through complement edges disjunction) computed level by
// level instead of depth first.
//
// A depth-first apply waits for one memory access after another: the next
// unique-table probe is known only once both recursive calls have returned.
// Here the pairs of operands ("requests") are expanded top-down, one variable
// level at a time, and the results are reduced bottom-up, one level at a time.
// Within a level every request is independent of the others, so the memory
// each will touch (its cache entry, its children's node records, its
// unique-table slot) is prefetched several requests ahead, and the waits
// overlap. The diagram built is the same canonical one.
//
// Every pair of one operation is entered in the operation cache under the
// operation's own tag, naming the request that computes it; the slot depends
// on the pair alone, so a later operation finds the entry too. The results
// of the last few operations are kept by request number, and a later
// operation that meets a pair of theirs takes its result instead of
// expanding the pair again (fault trees combine shared functions in many
// gates, and the same pairs come up again and again).

#include <algorithm>
#include <new>
#include <utility>

#include "bdd/bdd_internal.h"

namespace corvel {

namespace {

constexpr size_t kAhead = 8;              // requests between a prefetch and its use
constexpr size_t kSmallOperation = 256;   // results of smaller operations are not kept

inline void order_pair(bdd& a, bdd& b) {
    if (a > b) std::swap(a, b);
}

// Word roles of a request (see BddRequest).
constexpr int kF1 = 0, kF0 = 1, kG1 = 2, kG0 = 3;
constexpr int kThen = 0, kElse = 1, kResult = 2;

class LevelApply {
public:
    explicit LevelApply(BddManager* m) : m_(m), s_(m->apply), tag_(m->new_temp_tag()) { reset(); }
    ~LevelApply() { reset(); }
    LevelApply(const LevelApply&) = delete;
    LevelApply& operator=(const LevelApply&) = delete;

    bdd run(bdd f, bdd g) {
        order_pair(f, g);
        bdd r;
        if (bdd_terminal_rule(f, g, false, r)) return r;
        const std::uint32_t root = child(f, g);
        if (!(root & kBddPending)) return root;  // known from an earlier operation
        expand();
        m_->scratch_nodes = scratch_nodes(s_.requests.size());
        reduce();
        keep_results();
        return s_.requests[root & ~kBddPending].w[kResult];
    }

private:
    BddManager* m_;
    BddApplyScratch& s_;

    // The memory of `pairs` pairs (or of the most an operation had: their
    // memory is kept) and of the kept results, in nodes.
    long scratch_nodes(std::size_t pairs) const {
        const std::size_t held = std::max(pairs, s_.pairs_held);
        return static_cast<long>((held * kBytesPerPair + s_.kept_bytes) / kBytesPerLiveNode);
    }
    const std::uint32_t tag_;  // the operation's own tag in the cache

    // Empties the levels and the requests; memory is kept for the next
    // operation.
    void reset() {
        for (std::uint32_t lev = s_.low; lev <= s_.high && lev < s_.levels.size(); ++lev) s_.levels[lev].clear();
        s_.low = 0xFFFFFFFFu;
        s_.high = 0;
        s_.pairs_held = std::max(s_.pairs_held, s_.requests.size());
        s_.requests.clear();
        m_->scratch_nodes = scratch_nodes(0);
        if (s_.levels.size() < m_->id_at.size()) s_.levels.resize(m_->id_at.size());
    }

    void prefetch_pair(bdd a, bdd b) const {
        order_pair(a, b);
        if (m_->is_const(a)) return;  // a terminal pair (or one that is decided at once)
        __builtin_prefetch(&m_->cache_entry(kTagAnd, a, b));
        __builtin_prefetch(&m_->nodes[a >> 1]);
        __builtin_prefetch(&m_->nodes[b >> 1]);
    }

    // A new request for the non-terminal pair a < b, filed under its level.
    std::uint32_t add_request(bdd a, bdd b) {
        const BddNode& na = m_->nodes[a >> 1];
        const BddNode& nb = m_->nodes[b >> 1];
        const std::uint32_t pa = m_->position[na.id], pb = m_->position[nb.id];
        BddRequest q;
        q.w[kF1] = q.w[kF0] = a;
        q.w[kG1] = q.w[kG0] = b;
        if (pa <= pb) {
            q.w[kF1] = na.then_ ^ (a & 1u);
            q.w[kF0] = na.else_ ^ (a & 1u);
        }
        if (pb <= pa) {
            q.w[kG1] = nb.then_ ^ (b & 1u);
            q.w[kG0] = nb.else_ ^ (b & 1u);
        }
        const std::uint32_t level = std::min(pa, pb);
        if (s_.requests.size() >= kBddPending) throw std::bad_alloc{};
        // The pairs of the operation and the kept results share the memory
        // ceiling with the nodes.
        if (m_->memory_nodes > 0 && m_->entries + scratch_nodes(s_.requests.size() + 1) >= m_->memory_nodes)
            throw BddOverflowAbort{};
        const auto index = static_cast<std::uint32_t>(s_.requests.size());
        s_.requests.push_back(q);
        s_.levels[level].push_back(index);
        s_.low = std::min(s_.low, level);
        s_.high = std::max(s_.high, level);
        return index;
    }

    // The then or else part of a request: a decided handle, or with
    // kBddPending set the number of the request, old or new, that will
    // compute it. A pair whose entry was overwritten is requested again,
    // which costs time but never changes the result.
    [[gnu::always_inline]] std::uint32_t child(bdd a, bdd b) {
        order_pair(a, b);
        bdd r;
        if (bdd_terminal_rule(a, b, false, r)) return r;
        BddCacheEntry& c = m_->cache[m_->cache_slot(kTagAnd, a, b)];
        ++m_->lookups;
        if (c.a == a && c.b == b) {
            if (c.tag == tag_) {
                ++m_->hits;
                return c.result | kBddPending;
            }
            if (const bdd* known = s_.kept_result(c.tag, c.result)) {
                ++m_->hits;
                return *known;
            }
        }
        const std::uint32_t index = add_request(a, b);
        if (c.tag == kBddNoTag)
            ++m_->cache_entries;
        else
            ++m_->collisions;
        ++m_->inserts;
        c = BddCacheEntry{tag_, a, b, index};
        return index | kBddPending;
    }

    // Runs step(index) on every request of a level in order. Each request's
    // record is prefetched 2·kAhead places before its step, ahead(request)
    // runs kAhead places before and near(request) kAhead/2 places before, so
    // that what they prefetch has arrived when the step needs it.
    template <class Ahead, class Near, class Step>
    void sweep(std::uint32_t lev, Ahead&& ahead, Near&& near, Step&& step) {
        const std::vector<std::uint32_t>& bucket = s_.levels[lev];
        const size_t n = bucket.size();
        for (size_t k = 0; k < n; ++k) {
            if (k + 2 * kAhead < n) __builtin_prefetch(&s_.requests[bucket[k + 2 * kAhead]]);
            if (k + kAhead < n) ahead(s_.requests[bucket[k + kAhead]]);
            if (k + kAhead / 2 < n) near(s_.requests[bucket[k + kAhead / 2]]);
            step(bucket[k]);
        }
    }

    // Top-down: every request of a level names its two parts, creating the
    // requests of deeper levels; a level is complete once those above it are.
    void expand() {
        auto ahead = [&](const BddRequest& q) {
            prefetch_pair(q.w[kF1], q.w[kG1]);
            prefetch_pair(q.w[kF0], q.w[kG0]);
        };
        auto step = [&](std::uint32_t i) {
            const BddRequest q = s_.requests[i];
            const std::uint32_t t = child(q.w[kF1], q.w[kG1]);
            const std::uint32_t e = child(q.w[kF0], q.w[kG0]);
            BddRequest& done = s_.requests[i];
            done.w[kThen] = t;
            done.w[kElse] = e;
        };
        for (std::uint32_t lev = s_.low; lev <= s_.high; ++lev) sweep(lev, ahead, [](const BddRequest&) {}, step);
    }

    bdd part(const BddRequest& q, int which) const {
        const std::uint32_t ref = q.w[which];
        return (ref & kBddPending) ? s_.requests[ref & ~kBddPending].w[kResult] : ref;
    }

    void prefetch_part(const BddRequest& q, int which) const {
        const std::uint32_t ref = q.w[which];
        if (ref & kBddPending) __builtin_prefetch(&s_.requests[ref & ~kBddPending]);
    }

    // Bottom-up: a request's parts are results of deeper levels by now.
    void reduce() {
        std::uint16_t id = 0;  // the variable of the level being reduced
        auto ahead = [&](const BddRequest& q) {
            prefetch_part(q, kThen);
            prefetch_part(q, kElse);
        };
        auto near = [&](const BddRequest& q) {
            m_->prefetch_find(id, part(q, kThen), part(q, kElse));
        };
        auto step = [&](std::uint32_t i) {
            BddRequest& q = s_.requests[i];
            const bdd t = part(q, kThen), e = part(q, kElse);
            q.w[kResult] = m_->find(id, t, e);
        };
        for (std::uint32_t lev = s_.high + 1; lev-- > s_.low;) {
            id = m_->id_at[lev];
            sweep(lev, ahead, near, step);
        }
    }

    // The results by request number, replacing those of the oldest kept
    // operation.
    void keep_results() {
        if (s_.requests.size() < kSmallOperation) return;
        BddKeptResults& k = s_.kept[s_.next_kept];
        s_.next_kept = (s_.next_kept + 1) % kBddKeptOperations;
        k.tag = tag_;
        s_.kept_bytes -= k.results.capacity() * sizeof(bdd);
        k.results.resize(s_.requests.size());
        s_.kept_bytes += k.results.capacity() * sizeof(bdd);
        for (size_t i = 0; i < s_.requests.size(); ++i) k.results[i] = s_.requests[i].w[kResult];
    }
};

}  // namespace

bdd bdd_and_levels(BddManager* m, bdd f, bdd g) {
    LevelApply apply(m);
    return apply.run(f, g);
}

}  // namespace corvel
