// Vanishing regions and their elimination.
//
// The vanishing markings are searched for strongly connected components
// (Tarjan's low-link method, iterative, over the arcs between vanishing
// markings). Components complete in reverse topological order, so when one
// completes every vanishing marking it can reach outside itself is already
// resolved into its first-passage distribution over the tangible and
// absorbing markings. A single marking is resolved by one sparse
// accumulation; a loop of several markings by sparse Gaussian elimination on
// its own rows. Nothing is ever dense over the whole graph.

#include "statespace/petri_elim.h"

#include <algorithm>
#include <limits>

#include "symbols/errors.h"
#include "symbols/progress.h"

namespace corvel {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

using Row = std::vector<std::pair<std::uint32_t, double>>;

// dst = dst + a * src, both sorted by key.
void add_scaled(Row& dst, const Row& src, double a, Row& tmp) {
    tmp.clear();
    std::size_t i = 0, j = 0;
    while (i < dst.size() || j < src.size()) {
        if (j == src.size() || (i < dst.size() && dst[i].first < src[j].first)) {
            tmp.push_back(dst[i++]);
        } else if (i == dst.size() || src[j].first < dst[i].first) {
            tmp.emplace_back(src[j].first, a * src[j].second);
            ++j;
        } else {
            tmp.emplace_back(dst[i].first, dst[i].second + a * src[j].second);
            ++i;
            ++j;
        }
    }
    dst.swap(tmp);
}

void sort_and_merge(Row& r) {
    std::sort(r.begin(), r.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t out = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (out > 0 && r[out - 1].first == r[i].first)
            r[out - 1].second += r[i].second;
        else
            r[out++] = r[i];
    }
    r.resize(out);
}

class Eliminator {
public:
    Eliminator(const ReachGraph& g, ErrorReporter& err) : g_(g), err_(err) {}

    TangibleChain run() {
        const std::uint32_t n = g_.size();
        pos_.assign(n, kNone);
        // Tangible markings first, then absorbing, each in discovery order.
        for (std::uint32_t m = 0; m < n; ++m)
            if (g_.type[m] == kMarkTangible) pos_[m] = c_.num_tangible++;
        for (std::uint32_t m = 0; m < n; ++m)
            if (g_.type[m] == kMarkAbsorbing) pos_[m] = c_.num_tangible + c_.num_absorbing++;
        c_.marking_of_state.resize(c_.num_states());
        for (std::uint32_t m = 0; m < n; ++m)
            if (g_.type[m] != kMarkVanishing) c_.marking_of_state[pos_[m]] = m;
        acc_.assign(c_.num_states(), 0.0);
        seen_.assign(c_.num_states(), 0);
        dist_start_.push_back(0);
        search_vanishing();
        build_rows();
        absorb_self_returns();
        c_.index_of_marking.resize(n);
        for (std::uint32_t m = 0; m < n; ++m)
            c_.index_of_marking[m] = g_.type[m] == kMarkVanishing ? -static_cast<std::int32_t>(pos_[m]) - 1
                                                                 : static_cast<std::int32_t>(pos_[m]) + 1;
        c_.num_vanishing = g_.num_vanishing;
        if (n > 0) {
            if (g_.type[0] == kMarkVanishing) {
                c_.initial_vanishing = true;
                std::uint32_t k = pos_[0];
                for (std::uint64_t e = dist_start_[k]; e < dist_start_[k + 1]; ++e)
                    c_.initial.emplace_back(dist_state_[e], dist_prob_[e]);
            } else {
                c_.initial.emplace_back(pos_[0], 1.0);
            }
        }
        return std::move(c_);
    }

private:
    bool vanishing(std::uint32_t m) const { return g_.type[m] == kMarkVanishing; }

    void search_vanishing() {
        const std::uint32_t n = g_.size();
        std::vector<std::uint32_t> index(n, kNone), low(n, 0);
        std::vector<std::uint8_t> on_stack(n, 0);
        std::vector<std::uint32_t> stack;
        struct Frame {
            std::uint32_t m;
            std::uint64_t arc;
        };
        std::vector<Frame> calls;
        std::uint32_t counter = 0;
        for (std::uint32_t root = 0; root < n; ++root) {
            progress::update("vanishing elimination", "markings", root + 1, n);
            if (!vanishing(root) || index[root] != kNone) continue;
            calls.push_back({root, g_.arc_start[root]});
            index[root] = low[root] = counter++;
            stack.push_back(root);
            on_stack[root] = 1;
            while (!calls.empty()) {
                Frame& f = calls.back();
                std::uint32_t m = f.m;
                if (f.arc < g_.arc_start[m + 1]) {
                    std::uint32_t t = g_.arc_to[f.arc++];
                    if (!vanishing(t)) continue;
                    if (index[t] == kNone) {
                        index[t] = low[t] = counter++;
                        stack.push_back(t);
                        on_stack[t] = 1;
                        calls.push_back({t, g_.arc_start[t]});
                    } else if (on_stack[t]) {
                        low[m] = std::min(low[m], index[t]);
                    }
                    continue;
                }
                calls.pop_back();
                if (!calls.empty()) low[calls.back().m] = std::min(low[calls.back().m], low[m]);
                if (low[m] != index[m]) continue;
                // m is the root of a completed component.
                members_.clear();
                std::uint32_t v;
                do {
                    v = stack.back();
                    stack.pop_back();
                    on_stack[v] = 0;
                    members_.push_back(v);
                } while (v != m);
                resolve_component();
            }
        }
    }

    // Numbers the members of the component just completed and computes
    // their first-passage distributions.
    void resolve_component() {
        const std::uint32_t first = next_pos_;
        const std::uint32_t s = static_cast<std::uint32_t>(members_.size());
        for (std::uint32_t v : members_) pos_[v] = next_pos_++;
        auto inside = [&](std::uint32_t t) { return vanishing(t) && pos_[t] >= first && pos_[t] < first + s; };
        bool leaves = false;
        for (std::uint32_t v : members_)
            for (std::uint64_t e = g_.arc_start[v]; e < g_.arc_start[v + 1] && !leaves; ++e)
                if (!inside(g_.arc_to[e])) leaves = true;
        if (!leaves) err_.error(173, kFatal, "", true);
        if (s == 1) {
            resolve_single(members_[0]);
            return;
        }
        ++c_.num_vanishing_loops;
        // Rows over keys: member local index (< s) or s + chain state.
        std::vector<Row> rows(s);
        for (std::uint32_t v : members_) {
            Row& r = rows[pos_[v] - first];
            double total = 0.0;
            for (std::uint64_t e = g_.arc_start[v]; e < g_.arc_start[v + 1]; ++e)
                if (g_.arc_to[e] != v) total += g_.arc_rate[e];
            if (!(total > 0.0)) err_.error(173, kFatal, "", true);
            for (std::uint64_t e = g_.arc_start[v]; e < g_.arc_start[v + 1]; ++e) {
                std::uint32_t t = g_.arc_to[e];
                if (t == v) continue;  // a return to the same marking only repeats the choice
                double p = g_.arc_rate[e] / total;
                if (!vanishing(t)) {
                    r.emplace_back(s + pos_[t], p);
                } else if (inside(t)) {
                    r.emplace_back(pos_[t] - first, p);
                } else {
                    std::uint32_t k = pos_[t];
                    for (std::uint64_t d = dist_start_[k]; d < dist_start_[k + 1]; ++d)
                        r.emplace_back(s + dist_state_[d], p * dist_prob_[d]);
                }
            }
            sort_and_merge(r);
        }
        Row tmp;
        // Forward: each row keeps only members after itself, its own entry
        // removed and the rest renormalised. All entries are non-negative and
        // each row sums to one, so 1 - p(diagonal) is taken as the sum of the
        // other entries, which cannot cancel.
        for (std::uint32_t i = 0; i < s; ++i) {
            Row& r = rows[i];
            while (!r.empty() && r.front().first < i) {
                auto [j, a] = r.front();
                r.erase(r.begin());
                add_scaled(r, rows[j], a, tmp);
            }
            if (!r.empty() && r.front().first == i) r.erase(r.begin());
            double rest = 0.0;
            for (const auto& x : r) rest += x.second;
            if (!(rest > 0.0)) err_.error(173, kFatal, "", true);
            for (auto& x : r) x.second /= rest;
        }
        // Backward: substitute the later members, already resolved.
        for (std::uint32_t i = s; i-- > 0;) {
            Row& r = rows[i];
            Row locals;
            std::size_t cut = 0;
            while (cut < r.size() && r[cut].first < s) ++cut;
            locals.assign(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(cut));
            r.erase(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(cut));
            for (const auto& [j, a] : locals) add_scaled(r, rows[j], a, tmp);
        }
        for (std::uint32_t i = 0; i < s; ++i) {
            for (const auto& [key, p] : rows[i])
                if (p != 0.0) {
                    dist_state_.push_back(key - s);
                    dist_prob_.push_back(p);
                }
            dist_start_.push_back(dist_state_.size());
        }
    }

    void accumulate(std::uint32_t state, double x) {
        if (!seen_[state]) {
            seen_[state] = 1;
            touched_.push_back(state);
        }
        acc_[state] += x;
    }

    // Adds x times the target's first-passage distribution (or x into the
    // target's own state).
    void accumulate_target(std::uint32_t t, double x) {
        if (!vanishing(t)) {
            accumulate(pos_[t], x);
            return;
        }
        std::uint32_t k = pos_[t];
        for (std::uint64_t d = dist_start_[k]; d < dist_start_[k + 1]; ++d)
            accumulate(dist_state_[d], x * dist_prob_[d]);
    }

    // Takes the accumulated entries out, ordered by state.
    void drain(std::vector<std::uint32_t>& cols, std::vector<double>& vals, std::uint32_t skip) {
        std::sort(touched_.begin(), touched_.end());
        for (std::uint32_t st : touched_) {
            if (st != skip && acc_[st] != 0.0) {
                cols.push_back(st);
                vals.push_back(acc_[st]);
            }
            acc_[st] = 0.0;
            seen_[st] = 0;
        }
        touched_.clear();
    }

    void resolve_single(std::uint32_t v) {
        double total = 0.0;
        for (std::uint64_t e = g_.arc_start[v]; e < g_.arc_start[v + 1]; ++e)
            if (g_.arc_to[e] != v) total += g_.arc_rate[e];
        if (!(total > 0.0)) err_.error(173, kFatal, "", true);
        for (std::uint64_t e = g_.arc_start[v]; e < g_.arc_start[v + 1]; ++e)
            if (g_.arc_to[e] != v) accumulate_target(g_.arc_to[e], g_.arc_rate[e] / total);
        drain(dist_state_, dist_prob_, kNone);
        dist_start_.push_back(dist_state_.size());
    }

    void build_rows() {
        c_.row_start.reserve(c_.num_states() + 1);
        c_.row_start.push_back(0);
        c_.col.reserve(g_.num_arcs());
        c_.rate.reserve(g_.num_arcs());
        for (std::uint32_t st = 0; st < c_.num_states(); ++st) {
            std::uint32_t m = c_.marking_of_state[st];
            for (std::uint64_t e = g_.arc_start[m]; e < g_.arc_start[m + 1]; ++e)
                accumulate_target(g_.arc_to[e], g_.arc_rate[e]);
            drain(c_.col, c_.rate, st);
            c_.row_start.push_back(c_.col.size());
        }
    }

    // A tangible marking whose every firing leads back to itself (directly
    // or through vanishing markings) has no arc left once returns are
    // dropped: the chain stays there for ever, so it is absorbing. Such
    // states join the absorbing block, which stays in discovery order.
    void absorb_self_returns() {
        const std::uint32_t n = c_.num_states();
        std::vector<std::uint8_t> stuck(n, 0);
        std::uint32_t count = 0;
        for (std::uint32_t st = 0; st < c_.num_tangible; ++st)
            if (c_.row_start[st + 1] == c_.row_start[st]) {
                stuck[st] = 1;
                ++count;
            }
        if (count == 0) return;
        std::vector<std::uint32_t> order;  // old states in their new order
        order.reserve(n);
        for (std::uint32_t st = 0; st < c_.num_tangible; ++st)
            if (!stuck[st]) order.push_back(st);
        const std::size_t first_absorbing = order.size();
        for (std::uint32_t st = 0; st < n; ++st)
            if (st >= c_.num_tangible || stuck[st]) order.push_back(st);
        std::sort(order.begin() + static_cast<std::ptrdiff_t>(first_absorbing), order.end(),
                  [this](std::uint32_t a, std::uint32_t b) { return c_.marking_of_state[a] < c_.marking_of_state[b]; });
        std::vector<std::uint32_t> renamed(n);
        for (std::uint32_t k = 0; k < n; ++k) renamed[order[k]] = k;

        TangibleChain& c = c_;
        std::vector<std::uint64_t> row_start{0};
        std::vector<std::uint32_t> col, marking(n);
        std::vector<double> rate;
        row_start.reserve(n + 1);
        col.reserve(c.col.size());
        rate.reserve(c.rate.size());
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t old = order[k];
            marking[k] = c.marking_of_state[old];
            const std::size_t begin = col.size();
            for (std::uint64_t e = c.row_start[old]; e < c.row_start[old + 1]; ++e) {
                col.push_back(renamed[c.col[e]]);
                rate.push_back(c.rate[e]);
            }
            // Rows stay ordered by target.
            std::vector<std::size_t> idx(col.size() - begin);
            for (std::size_t i = 0; i < idx.size(); ++i) idx[i] = begin + i;
            std::sort(idx.begin(), idx.end(), [&col](std::size_t a, std::size_t b) { return col[a] < col[b]; });
            std::vector<std::uint32_t> sc;
            std::vector<double> sr;
            for (std::size_t i : idx) {
                sc.push_back(col[i]);
                sr.push_back(rate[i]);
            }
            std::copy(sc.begin(), sc.end(), col.begin() + static_cast<std::ptrdiff_t>(begin));
            std::copy(sr.begin(), sr.end(), rate.begin() + static_cast<std::ptrdiff_t>(begin));
            row_start.push_back(col.size());
        }
        c.row_start.swap(row_start);
        c.col.swap(col);
        c.rate.swap(rate);
        c.marking_of_state.swap(marking);
        c.num_tangible -= count;
        c.num_absorbing += count;
        for (std::uint32_t m = 0; m < g_.size(); ++m)
            if (!vanishing(m)) pos_[m] = renamed[pos_[m]];
        for (std::uint32_t& st : dist_state_) st = renamed[st];
    }

    const ReachGraph& g_;
    ErrorReporter& err_;
    TangibleChain c_;
    std::vector<std::uint32_t> pos_;  // chain state, or position among the vanishing markings
    std::uint32_t next_pos_ = 0;
    std::vector<std::uint32_t> members_;
    std::vector<std::uint64_t> dist_start_;
    std::vector<std::uint32_t> dist_state_;
    std::vector<double> dist_prob_;
    std::vector<double> acc_;
    std::vector<std::uint8_t> seen_;
    std::vector<std::uint32_t> touched_;
};

}  // namespace

TangibleChain eliminate_vanishing(const ReachGraph& g, ErrorReporter& err) { return Eliminator(g, err).run(); }

}  // namespace corvel
