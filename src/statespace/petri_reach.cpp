// Reachability-graph generation: enabling, rates, the packed marking store.

#include "statespace/petri_reach.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include <sys/resource.h>
#include <unistd.h>

#include "statespace/petri_blocks.h"
#include "symbols/counts.h"
#include "symbols/errors.h"
#include "symbols/output.h"
#include "symbols/progress.h"

namespace corvel {

std::int32_t ReachGraph::tokens(std::uint32_t marking, int place) const {
    const std::uint8_t* p = packed.data() + (static_cast<std::size_t>(marking) * num_places + place) * width;
    switch (width) {
        case 1: return *p;
        case 2: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        default: {
            std::int32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

void ReachGraph::decode(std::uint32_t marking, std::int32_t* out) const {
    for (int p = 0; p < num_places; ++p) out[p] = tokens(marking, p);
}

std::vector<int> priority_order(const BoundNet& net) {
    std::vector<int> order(net.transitions.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&net](int a, int b) {
        return net.transitions[static_cast<std::size_t>(a)].priority >
               net.transitions[static_cast<std::size_t>(b)].priority;
    });
    return order;
}

namespace {

int arc_multiplicity(const BoundArc& a, MarkingEvaluator* eval, ErrorReporter& err) {
    if (!a.expr || !eval) return a.multiplicity;
    int v = checked_multiplicity(err, eval->value(*a.expr), true, "arc multiplicity");
    if (v < 0) err.error(178, kFatal, "", true);
    return v;
}

// The packed marking store with hashed lookup.
class MarkingStore {
public:
    MarkingStore(ReachGraph& g) : g_(g) { slots_.assign(1u << 12, 0); }

    // Index of the marking, appending it when new; `added` tells which.
    std::uint32_t find_or_add(const std::int32_t* m, bool& added) {
        std::int32_t top = 0;
        for (int p = 0; p < g_.num_places; ++p) top = std::max(top, m[p]);
        if (top > limit()) widen(top);
        pack(m, scratch_);
        std::uint64_t h = hash(scratch_.data(), scratch_.size());
        std::uint32_t tag = static_cast<std::uint32_t>(h >> 32);
        std::size_t mask = slots_.size() - 1;
        for (std::size_t s = h & mask;; s = (s + 1) & mask) {
            std::uint64_t slot = slots_[s];
            if (slot == 0) break;
            if (static_cast<std::uint32_t>(slot >> 32) == tag) {
                std::uint32_t idx = static_cast<std::uint32_t>(slot) - 1;
                if (std::memcmp(at(idx), scratch_.data(), scratch_.size()) == 0) {
                    added = false;
                    return idx;
                }
            }
        }
        std::uint32_t idx = g_.size();
        if (idx == std::numeric_limits<std::uint32_t>::max() - 1) throw std::bad_alloc();
        g_.packed.insert(g_.packed.end(), scratch_.begin(), scratch_.end());
        g_.type.push_back(kMarkAbsorbing);
        insert(h, idx);
        if (static_cast<std::size_t>(g_.size()) * 2 > slots_.size()) grow();
        added = true;
        return idx;
    }

    std::size_t bytes() const { return slots_.capacity() * sizeof(slots_[0]) + scratch_.capacity(); }

private:
    std::int32_t limit() const { return g_.width == 1 ? 0xff : g_.width == 2 ? 0xffff : 0x7fffffff; }
    const std::uint8_t* at(std::uint32_t idx) const {
        return g_.packed.data() + static_cast<std::size_t>(idx) * g_.num_places * g_.width;
    }

    void pack(const std::int32_t* m, std::vector<std::uint8_t>& out) const {
        out.resize(static_cast<std::size_t>(g_.num_places) * g_.width);
        std::uint8_t* q = out.data();
        for (int p = 0; p < g_.num_places; ++p) {
            if (g_.width == 1) {
                *q++ = static_cast<std::uint8_t>(m[p]);
            } else if (g_.width == 2) {
                std::uint16_t v = static_cast<std::uint16_t>(m[p]);
                std::memcpy(q, &v, 2);
                q += 2;
            } else {
                std::memcpy(q, &m[p], 4);
                q += 4;
            }
        }
    }

    static std::uint64_t hash(const std::uint8_t* p, std::size_t n) {
        std::uint64_t h = 0x9e3779b97f4a7c15ull ^ n;
        while (n >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            h = (h ^ w) * 0xff51afd7ed558ccdull;
            h ^= h >> 29;
            p += 8;
            n -= 8;
        }
        std::uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = (h ^ w) * 0xc4ceb9fe1a85ec53ull;
        h ^= h >> 32;
        h *= 0x9e3779b97f4a7c15ull;
        h ^= h >> 29;
        return h;
    }

    void insert(std::uint64_t h, std::uint32_t idx) {
        std::size_t mask = slots_.size() - 1;
        std::size_t s = h & mask;
        while (slots_[s] != 0) s = (s + 1) & mask;
        slots_[s] = (h & 0xffffffff00000000ull) | (static_cast<std::uint64_t>(idx) + 1);
    }

    void rehash_all(std::size_t size) {
        slots_.assign(size, 0);
        std::size_t len = static_cast<std::size_t>(g_.num_places) * g_.width;
        for (std::uint32_t i = 0; i < g_.size(); ++i) insert(hash(at(i), len), i);
    }

    void grow() { rehash_all(slots_.size() * 2); }

    // Re-encodes every stored marking with more bytes per place.
    void widen(std::int32_t top) {
        int width = top <= 0xffff ? 2 : 4;
        std::vector<std::int32_t> m(static_cast<std::size_t>(g_.num_places));
        std::vector<std::uint8_t> repacked;
        repacked.reserve(static_cast<std::size_t>(g_.size()) * g_.num_places * width);
        ReachGraph wide;
        wide.num_places = g_.num_places;
        wide.width = width;
        for (std::uint32_t i = 0; i < g_.size(); ++i) {
            g_.decode(i, m.data());
            for (int p = 0; p < g_.num_places; ++p) {
                std::uint8_t b[4];
                if (width == 2) {
                    std::uint16_t v = static_cast<std::uint16_t>(m[p]);
                    std::memcpy(b, &v, 2);
                } else {
                    std::memcpy(b, &m[p], 4);
                }
                repacked.insert(repacked.end(), b, b + width);
            }
        }
        g_.packed.swap(repacked);
        g_.width = width;
        rehash_all(slots_.size());
    }

    ReachGraph& g_;
    std::vector<std::uint64_t> slots_;  // 0 empty, else hash tag << 32 | index + 1
    std::vector<std::uint8_t> scratch_;
};

// Bytes the system reports available now, or 0 when it does not say.
std::size_t available_memory() {
    std::size_t avail = 0;
    if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned long long kb = 0;
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                avail = static_cast<std::size_t>(kb) * 1024;
                break;
            }
        }
        std::fclose(f);
    }
#if defined(_SC_AVPHYS_PAGES) && defined(_SC_PAGESIZE)
    if (avail == 0) {
        long pages = sysconf(_SC_AVPHYS_PAGES), size = sysconf(_SC_PAGESIZE);
        if (pages > 0 && size > 0) avail = static_cast<std::size_t>(pages) * static_cast<std::size_t>(size);
    }
#endif
    struct rlimit lim;
    if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        std::size_t cap = static_cast<std::size_t>(lim.rlim_cur);
        avail = avail == 0 ? cap : std::min(avail, cap);
    }
    return avail;
}

std::size_t graph_bytes(const ReachGraph& g) {
    auto bytes = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
    return bytes(g.packed) + bytes(g.type) + bytes(g.arc_start) + bytes(g.arc_to) + bytes(g.arc_trans) +
           bytes(g.arc_rate);
}

constexpr std::uint32_t kNoParent = std::numeric_limits<std::uint32_t>::max();

}  // namespace

std::size_t reach_memory_budget(const ReachLimits& limits) {
    if (limits.max_bytes != 0) return limits.max_bytes;
    std::size_t avail = available_memory();
    // The chain, the elimination and the solvers need the other half.
    return avail == 0 ? std::numeric_limits<std::size_t>::max() : avail / 2;
}

bool net_is_monotone(const BoundNet& net) {
    if (net.transitions.empty()) return true;
    const int priority = net.transitions.front().priority;
    for (const BoundTransition& t : net.transitions) {
        if (t.priority != priority || t.guard) return false;
        for (const BoundArc& a : t.inhibitor)
            if (a.expr || a.multiplicity > 0) return false;
        for (const BoundArc& a : t.input)
            if (a.expr) return false;
        for (const BoundArc& a : t.output)
            if (a.expr) return false;
    }
    return true;
}

bool transition_enabled(const BoundTransition& t, const std::int32_t* m, MarkingEvaluator* eval,
                        ErrorReporter& err) {
    for (const BoundArc& a : t.input)
        if (arc_multiplicity(a, eval, err) > m[a.place]) return false;
    for (const BoundArc& a : t.inhibitor) {
        int k = arc_multiplicity(a, eval, err);
        if (k > 0 && m[a.place] >= k) return false;
    }
    if (t.guard && eval) {
        const double g = eval->value(*t.guard);
        // An undefined guard neither enables nor disables the transition.
        if (std::isnan(g)) check_finite(err, g, "guard of transition " + t.name, kFatal);
        if (g == 0.0) return false;
    }
    return true;
}

double transition_rate(const BoundTransition& t, const std::int32_t* m, MarkingEvaluator* eval) {
    double r = (t.rate_expr && eval) ? eval->value(*t.rate_expr) : t.rate;
    if (t.dependent == 3 && t.place_index >= 0) r *= m[t.place_index];
    return r;
}

namespace {

// Unboundedness of a monotone net, found during exploration: when a new
// marking reached from `from` covers one of the markings on its discovery
// path strictly, the firings between them can be repeated for ever and the
// places where it is larger grow without limit. The path is walked when a
// place reaches a new largest count (the first few times, then at each
// doubling), which keeps the walks few in bounded nets.
class CoverCheck {
public:
    CoverCheck(const ReachGraph& g, const std::vector<std::int32_t>& initial)
        : g_(g), largest_(initial), checked_(initial.size(), 0), anc_(initial.size()) {
        parent_.push_back(kNoParent);
    }

    // Records marking `m` (just added, reached from `from`) and returns a
    // place that grows, or -1.
    int added(const std::vector<std::int32_t>& m, std::uint32_t from) {
        parent_.push_back(from);
        bool walk = false;
        for (std::size_t p = 0; p < m.size(); ++p) {
            if (m[p] <= largest_[p]) continue;
            largest_[p] = m[p];
            if (m[p] <= 16 || m[p] >= 2 * static_cast<std::int64_t>(checked_[p])) {
                checked_[p] = m[p];
                walk = true;
            }
        }
        if (!walk) return -1;
        for (std::uint32_t a = from; a != kNoParent; a = parent_[a]) {
            g_.decode(a, anc_.data());
            bool covers = true;
            int grows = -1;
            for (std::size_t p = 0; p < m.size() && covers; ++p) {
                if (m[p] < anc_[p]) covers = false;
                else if (m[p] > anc_[p] && grows < 0) grows = static_cast<int>(p);
            }
            if (covers && grows >= 0) return grows;
        }
        return -1;
    }

    std::size_t bytes() const { return parent_.capacity() * sizeof(parent_[0]); }

private:
    const ReachGraph& g_;
    std::vector<std::uint32_t> parent_;  // discovery parent of each marking
    std::vector<std::int32_t> largest_, checked_, anc_;
};

}  // namespace

ReachGraph generate_reach_graph(const BoundNet& net, MarkingEvaluator* eval, ErrorReporter& err,
                                Output* progress, const ReachLimits& limits) {
    ReachGraph g;
    g.num_places = static_cast<int>(net.place_names.size());
    const std::vector<int> order = priority_order(net);
    const std::size_t np = net.place_names.size();
    std::vector<std::int32_t> cur(np), next(np);
    auto start = std::chrono::steady_clock::now();
    const std::size_t budget = reach_memory_budget(limits);
    const std::string of_system = limits.system.empty() ? "" : " in system " + limits.system;
    std::unique_ptr<CoverCheck> cover;
    std::uint32_t since_check = 0;
    try {
        MarkingStore store(g);
        for (std::size_t p = 0; p < np; ++p) {
            long k = net.init_tokens[p];
            if (k < 0) err.error(177, kFatal, ": place " + net.place_names[p], true);
            cur[p] = static_cast<std::int32_t>(std::min<long>(k, std::numeric_limits<std::int32_t>::max()));
        }
        bool added;
        store.find_or_add(cur.data(), added);
        if (net_is_monotone(net)) cover = std::make_unique<CoverCheck>(g, cur);
        g.arc_start.push_back(0);
        for (std::uint32_t i = 0; i < g.size(); ++i) {
            g.decode(i, cur.data());
            if (eval) eval->enter(cur.data());
            std::uint8_t type = kMarkAbsorbing;
            bool level_set = false;
            int level = 0;
            for (int ti : order) {
                const BoundTransition& t = net.transitions[static_cast<std::size_t>(ti)];
                if (level_set && t.priority < level) break;
                if (!transition_enabled(t, cur.data(), eval, err)) continue;
                if (!level_set) {
                    level_set = true;
                    level = t.priority;
                    type = t.kind == 1 ? kMarkVanishing : kMarkTangible;
                } else if (type == kMarkVanishing && t.kind != 1) {
                    err.error(170, kFatal, "", true);
                } else if (type == kMarkTangible && t.kind == 1) {
                    err.error(171, kFatal, "", true);
                }
                double r = transition_rate(t, cur.data(), eval);
                if (!(r > 0.0) || !std::isfinite(r)) err.error(172, kFatal, "", true);
                next = cur;
                for (const BoundArc& a : t.input) next[a.place] -= arc_multiplicity(a, eval, err);
                for (const BoundArc& a : t.output) {
                    long v = static_cast<long>(next[a.place]) + arc_multiplicity(a, eval, err);
                    if (v > std::numeric_limits<std::int32_t>::max())
                        err.error(200, kFatal, net.place_names[static_cast<std::size_t>(a.place)], true);
                    next[a.place] = static_cast<std::int32_t>(v);
                }
                for (std::size_t p = 0; p < np; ++p)
                    if (next[p] < 0) err.error(177, kFatal, ": place " + net.place_names[p], true);
                std::uint32_t j = store.find_or_add(next.data(), added);
                if (added && cover) {
                    int p = cover->added(next, i);
                    if (p >= 0)
                        err.error(224, kFatal,
                                  "place " + net.place_names[static_cast<std::size_t>(p)] + of_system +
                                      " grows without limit",
                                  true);
                }
                if (added && (++since_check >= 4096 || limits.max_markings >= 0)) {
                    since_check = 0;
                    std::size_t held = graph_bytes(g) + store.bytes() + (cover ? cover->bytes() : 0);
                    const bool over_cap = limits.max_markings >= 0 &&
                                          g.size() > static_cast<std::uint64_t>(limits.max_markings);
                    if (held > budget || over_cap) {
                        if (limits.allocation_report) limits.allocation_report();
                        err.error(169, kFatal,
                                  ": reachability graph" + of_system + " stopped at " + std::to_string(g.size()) +
                                      " markings",
                                  true);
                    }
                }
                g.arc_to.push_back(j);
                g.arc_trans.push_back(static_cast<std::uint32_t>(ti));
                g.arc_rate.push_back(r);
            }
            g.type[i] = type;
            g.arc_start.push_back(g.arc_to.size());
            progress::update("reachability graph", "markings explored", i + 1, g.size());
            if (progress && ((i + 1) & 0xfffff) == 0) {
                double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                progress->printf("  explored %u of %u markings, %llu arcs, %.0f markings/s\n", i + 1, g.size(),
                                 static_cast<unsigned long long>(g.arc_to.size()),
                                 secs > 0 ? (i + 1) / secs : 0.0);
            }
        }
    } catch (const std::bad_alloc&) {
        if (limits.allocation_report) limits.allocation_report();
        err.error(7, kInternal, "markings", false);
    }
    for (std::uint8_t t : g.type) {
        if (t == kMarkTangible) ++g.num_tangible;
        else if (t == kMarkAbsorbing) ++g.num_absorbing;
        else ++g.num_vanishing;
    }
    return g;
}

}  // namespace corvel
