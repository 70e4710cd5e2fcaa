#include "combinatorial/graph_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>

#include "combinatorial/tree.h"

namespace corvel {

namespace {

constexpr double u = kUnitRoundoff;
// Start masses are sums of branch probabilities: this far from 1 they are
// taken as 1.
constexpr double kMassSlack = 1e-12;

struct Arc {
    int to;
    double rate;
};

// The chain of one part of the graph, in its own state numbering: the rates
// between its states, the rate of finishing from each, the starting
// probabilities and the probability of being finished at once.
struct SubChain {
    std::vector<std::vector<Arc>> next;
    std::vector<double> done, start;
    double instant = 0.0;

    int size() const { return static_cast<int>(done.size()); }
    double mass() const {
        double m = instant;
        for (double p : start) m += p;
        return m;
    }
    int add_state() {
        next.emplace_back();
        done.push_back(0.0);
        start.push_back(0.0);
        return size() - 1;
    }
    // Appends `other`'s states; returns the offset of the first.
    int append(const SubChain& other, double start_scale) {
        const int off = size();
        for (int j = 0; j < other.size(); ++j) {
            std::vector<Arc> moved = other.next[static_cast<size_t>(j)];
            for (Arc& a : moved) a.to += off;
            next.push_back(std::move(moved));
            done.push_back(other.done[static_cast<size_t>(j)]);
            start.push_back(start_scale * other.start[static_cast<size_t>(j)]);
        }
        return off;
    }
};

// The most branch-state entries the tuples of one fork may hold in all
// (states times branches): beyond it the fork has no chain.
constexpr double kMaxTupleEntries = 1 << 24;

// The most work spent on the starting combinations of identical copies.
constexpr double kMaxStartWork = 1e6;

using Tuple = std::vector<std::int32_t>;

std::string tuple_key(const Tuple& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof(std::int32_t));
}

// The states of a chain built over tuples, numbered as they are found, with
// a ceiling on their count.
struct TupleStates {
    SubChain& c;
    int most;
    std::unordered_map<std::string, int> index;
    std::vector<Tuple> states;
    bool too_big = false;

    int find(const Tuple& s) {
        auto [it, fresh] = index.emplace(tuple_key(s), c.size());
        if (fresh) {
            if (c.size() >= most) too_big = true;
            states.push_back(s);
            c.add_state();
        }
        return it->second;
    }
};

class Composer {
public:
    Composer(const TreeModel& tm, const LeafPhases& leaf, int max_states)
        : tm_(tm), leaf_(leaf), max_states_(max_states) {}

    std::optional<SubChain> build(int t) {
        const TreeNode& tn = tm_.tree[static_cast<size_t>(t)];
        switch (tn.type) {
            case NT_LEAF:
            case NT_TRANSFER:
            case NT_REPEAT: {
                std::vector<double> rates;
                double scale = 1.0;
                if (!leaf_(t, rates, scale)) return std::nullopt;
                return phases(rates, scale);
            }
            case NT_SERIAL: {
                std::optional<SubChain> whole;
                for (int kid : tn.kids) {
                    std::optional<SubChain> part = build(kid);
                    if (!part) return std::nullopt;
                    whole = whole ? sequence(*whole, *part) : std::move(part);
                    if (!whole) return std::nullopt;
                }
                return whole;
            }
            case NT_PROB: {
                SubChain mix;
                for (int kid : tn.kids) {
                    std::optional<SubChain> branch = build(kid);
                    if (!branch) return std::nullopt;
                    mix.append(*branch, 1.0);
                    mix.instant += branch->instant;
                    if (mix.size() > max_states_) return std::nullopt;
                }
                return mix;
            }
            case NT_MAX:
            case NT_MIN:
            case NT_KOFN: {
                std::vector<SubChain> branches;
                for (int kid : tn.kids) {
                    std::optional<SubChain> branch = build(kid);
                    if (!branch) return std::nullopt;
                    branches.push_back(std::move(*branch));
                }
                // A k-of-n over one activity stands for n identical copies.
                if (tn.type == NT_KOFN && branches.size() == 1) return copies(branches[0], tn.n, tn.k);
                const int n = static_cast<int>(branches.size());
                const int needed = tn.type == NT_MAX ? n : tn.type == NT_MIN ? 1 : tn.k;
                return side_by_side(branches, needed);
            }
            default:
                return std::nullopt;
        }
    }

private:
    static SubChain phases(const std::vector<double>& rates, double scale) {
        SubChain c;
        if (rates.empty()) {
            c.instant = scale;
            return c;
        }
        for (size_t i = 0; i < rates.size(); ++i) {
            const int s = c.add_state();
            if (i + 1 < rates.size())
                c.next[static_cast<size_t>(s)].push_back({s + 1, rates[i]});
            else
                c.done[static_cast<size_t>(s)] = rates[i];
        }
        c.start[0] = scale;
        return c;
    }

    // a then b: finishing a starts b. A b that may never start (mass lost
    // inside a sequence) has no chain here.
    std::optional<SubChain> sequence(const SubChain& a, const SubChain& b) const {
        if (std::fabs(b.mass() - 1.0) > kMassSlack) return std::nullopt;
        if (a.size() + b.size() > max_states_) return std::nullopt;
        SubChain c = a;
        const int off = c.append(b, a.instant);
        for (int i = 0; i < a.size(); ++i) {
            const double d = a.done[static_cast<size_t>(i)];
            if (d == 0.0) continue;
            for (int j = 0; j < b.size(); ++j)
                if (b.start[static_cast<size_t>(j)] > 0.0)
                    c.next[static_cast<size_t>(i)].push_back({off + j, d * b.start[static_cast<size_t>(j)]});
            c.done[static_cast<size_t>(i)] = d * b.instant;
        }
        c.instant = a.instant * b.instant;
        return c;
    }

    // The branches side by side, finished once `needed` of them are done. A
    // state is a tuple of branch states, a branch's size meaning done.
    std::optional<SubChain> side_by_side(const std::vector<SubChain>& kids, int needed) const {
        const size_t n = kids.size();
        SubChain c;
        if (needed <= 0) {
            c.instant = 1.0;
            return c;
        }
        if (needed > static_cast<int>(n)) return std::nullopt;
        for (const SubChain& k : kids)
            if (std::fabs(k.mass() - 1.0) > kMassSlack) return std::nullopt;
        // Every state is a tuple of n entries.
        const int most = static_cast<int>(std::min<double>(max_states_, kMaxTupleEntries / static_cast<double>(n)));
        TupleStates found{c, most, {}, {}};
        auto find = [&found](const Tuple& s) { return found.find(s); };
        const std::vector<Tuple>& states = found.states;
        auto done_count = [&](const Tuple& s) {
            int d = 0;
            for (size_t b = 0; b < n; ++b) d += s[b] == kids[b].size();
            return d;
        };
        // Starting tuples: every combination of the branches' starting
        // states (done for a branch finished at once).
        std::vector<std::pair<Tuple, double>> starts{{Tuple{}, 1.0}};
        for (const SubChain& k : kids) {
            std::vector<std::pair<Tuple, double>> grown;
            for (const auto& [t, p] : starts) {
                for (int j = 0; j <= k.size(); ++j) {
                    const double q = j < k.size() ? k.start[static_cast<size_t>(j)] : k.instant;
                    if (q <= 0.0) continue;
                    Tuple x = t;
                    x.push_back(j);
                    grown.emplace_back(std::move(x), p * q);
                }
            }
            starts = std::move(grown);
            if (starts.size() > static_cast<size_t>(most)) return std::nullopt;
        }
        for (const auto& [t, p] : starts) {
            if (done_count(t) >= needed)
                c.instant += p;
            else
                c.start[static_cast<size_t>(find(t))] += p;
        }
        for (size_t at = 0; at < states.size() && !found.too_big; ++at) {
            const Tuple s = states[at];
            for (size_t b = 0; b < n; ++b) {
                const int j = s[b];
                const SubChain& k = kids[b];
                if (j == k.size()) continue;
                for (const Arc& a : k.next[static_cast<size_t>(j)]) {
                    Tuple x = s;
                    x[b] = a.to;
                    const int to = find(x);
                    c.next[at].push_back({to, a.rate});
                }
                const double d = k.done[static_cast<size_t>(j)];
                if (d == 0.0) continue;
                Tuple x = s;
                x[b] = k.size();
                if (done_count(x) >= needed) {
                    c.done[at] += d;
                } else {
                    const int to = find(x);
                    c.next[at].push_back({to, d});
                }
            }
        }
        if (found.too_big) return std::nullopt;
        return c;
    }

    // n identical copies of one chain side by side, finished once `needed`
    // of them are done. The copies are interchangeable, so a state counts the
    // copies in each of the chain's states, the last count being the copies
    // done: a fork over thousands of copies stays small.
    std::optional<SubChain> copies(const SubChain& kid, int n, int needed) const {
        SubChain c;
        if (needed <= 0) {
            c.instant = 1.0;
            return c;
        }
        if (needed > n || std::fabs(kid.mass() - 1.0) > kMassSlack) return std::nullopt;
        const int m = kid.size();
        const int most = static_cast<int>(std::min<double>(max_states_, kMaxTupleEntries / (m + 1.0)));
        // Starting counts. A chain with one starting state starts every copy
        // there; otherwise the combinations are grown one copy at a time, a
        // combination with `needed` copies done being finished at once.
        std::unordered_map<std::string, std::pair<Tuple, double>> starts;
        int only = -1;
        for (int j = 0; j < m; ++j)
            if (kid.start[static_cast<size_t>(j)] > 0.0) only = only == -1 ? j : -2;
        if (only >= 0 && kid.instant <= 0.0) {
            Tuple x(static_cast<size_t>(m) + 1, 0);
            x[static_cast<size_t>(only)] = n;
            starts.emplace(tuple_key(x), std::make_pair(x, 1.0));
        } else {
            starts.emplace(tuple_key(Tuple(static_cast<size_t>(m) + 1, 0)), std::make_pair(Tuple(static_cast<size_t>(m) + 1, 0), 1.0));
            double work = 0.0;
            for (int copy = 0; copy < n && !starts.empty(); ++copy) {
                std::unordered_map<std::string, std::pair<Tuple, double>> grown;
                for (const auto& [key, entry] : starts) {
                    for (int j = 0; j <= m; ++j) {
                        const double q = j < m ? kid.start[static_cast<size_t>(j)] : kid.instant;
                        if (q <= 0.0) continue;
                        Tuple x = entry.first;
                        ++x[static_cast<size_t>(j)];
                        const double p = entry.second * q;
                        if (x[static_cast<size_t>(m)] >= needed) {
                            c.instant += p;
                            continue;
                        }
                        auto [it, fresh] = grown.try_emplace(tuple_key(x), x, 0.0);
                        it->second.second += p;
                    }
                }
                starts = std::move(grown);
                work += (static_cast<double>(starts.size()) + 1.0) * (m + 1.0);
                if (starts.size() > static_cast<size_t>(most) || work > kMaxStartWork) return std::nullopt;
            }
        }
        TupleStates found{c, most, {}, {}};
        auto find = [&found](const Tuple& s) { return found.find(s); };
        const std::vector<Tuple>& states = found.states;
        for (const auto& [key, entry] : starts) c.start[static_cast<size_t>(find(entry.first))] += entry.second;
        for (size_t at = 0; at < states.size() && !found.too_big; ++at) {
            const Tuple s = states[at];
            for (int j = 0; j < m; ++j) {
                const int count = s[static_cast<size_t>(j)];
                if (count == 0) continue;
                for (const Arc& a : kid.next[static_cast<size_t>(j)]) {
                    Tuple x = s;
                    --x[static_cast<size_t>(j)];
                    ++x[static_cast<size_t>(a.to)];
                    const int to = find(x);
                    c.next[at].push_back({to, count * a.rate});
                }
                const double d = kid.done[static_cast<size_t>(j)];
                if (d == 0.0) continue;
                if (s[static_cast<size_t>(m)] + 1 >= needed) {
                    c.done[at] += count * d;
                } else {
                    Tuple x = s;
                    --x[static_cast<size_t>(j)];
                    ++x[static_cast<size_t>(m)];
                    const int to = find(x);
                    c.next[at].push_back({to, count * d});
                }
            }
        }
        if (found.too_big) return std::nullopt;
        return c;
    }

    const TreeModel& tm_;
    const LeafPhases& leaf_;
    int max_states_;
};

class PhaseChainDist final : public NumericDist {
public:
    PhaseChainDist(SubChain c, long work_limit)
        : instant_(c.instant), moments_(first_step_moments(c)), work_limit_(work_limit) {
        start_ = std::move(c.start);
        done_ = std::move(c.done);
        const size_t n = done_.size();
        off_.assign(n + 1, 0);
        for (size_t i = 0; i < n; ++i) off_[i + 1] = off_[i] + c.next[i].size();
        arcs_.reserve(off_[n]);
        out_.assign(n, 0.0);
        double most = 0.0;
        for (size_t i = 0; i < n; ++i) {
            out_[i] = done_[i];
            for (const Arc& a : c.next[i]) {
                arcs_.push_back(a);
                out_[i] += a.rate;
            }
            most = std::max(most, out_[i]);
        }
        lambda_ = 1.02 * most;
        scale_ = moments_ ? std::max(moments_->mean.value, 1e-300) : 1.0;
    }

    GuardedProb at(double t) const override {
        if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
        if (!std::isfinite(t)) return {Guarded::exact(1.0), Guarded::exact(0.0)};
        const size_t n = done_.size();
        const double x = lambda_ * t;
        if (x == 0.0 || n == 0) {
            double waiting = 0.0;
            for (double p : start_) waiting += p;
            return {Guarded{instant_, u * instant_, Route::Uniformization}, Guarded{waiting, u * n * waiting, Route::Uniformization}};
        }
        // F(t) = Σ_k w_k·a_k and 1 − F(t) = Σ_k w_k·s_k, w_k the Poisson(Λt)
        // weights, a_k the finished and s_k the waiting mass after k steps of
        // the uniformized chain: every term positive.
        std::vector<double> v = start_, w(n);
        const double log_x = std::log(x);
        double finished = instant_, F = 0.0, R = 0.0, tail = 0.0;
        long k = 0;
        const double visits = static_cast<double>(n + arcs_.size());
        const long budget = work_limit_ >= 0 ? std::max(1L, static_cast<long>(50.0 * static_cast<double>(work_limit_) / visits))
                                             : std::max<long>(1000000, static_cast<long>(4e9 / visits));
        for (;; ++k) {
            double waiting = 0.0;
            for (double p : v) waiting += p;
            const double weight = std::exp(-x + static_cast<double>(k) * log_x - std::lgamma(static_cast<double>(k) + 1.0));
            F += weight * finished;
            R += weight * waiting;
            if (static_cast<double>(k) + 1.0 > x) {
                // Σ_{j>k} w_j ≤ w_k·q/(1 − q), q = x/(k + 1) < 1; a_j ≤ 1 and s_j ≤ s_k.
                const double q = x / (static_cast<double>(k) + 1.0);
                tail = weight * q / (1.0 - q);
                if ((tail <= 1e-17 * F || tail < 1e-300) && tail * waiting <= 1e-17 * R) break;
            }
            if (k >= budget) {
                tail = INFINITY;
                break;
            }
            std::fill(w.begin(), w.end(), 0.0);
            for (size_t i = 0; i < n; ++i) {
                const double p = v[i];
                if (p == 0.0) continue;
                finished += p * (done_[i] / lambda_);
                for (size_t e = off_[i]; e < off_[i + 1]; ++e) w[static_cast<size_t>(arcs_[e].to)] += p * (arcs_[e].rate / lambda_);
                w[i] += p * (1.0 - out_[i] / lambda_);
            }
            v.swap(w);
        }
        // Positive sums: the rounding is relative, a few units per step.
        const double rel = u * (4.0 * static_cast<double>(k + 2) + 8.0);
        return {Guarded{F, rel * F + tail, Route::Uniformization}, Guarded{R, rel * R + tail, Route::Uniformization}};
    }
    double mass_at_zero() const override { return instant_; }
    double mass_at_infinity() const override { return 0.0; }
    double time_scale() const override { return scale_; }
    std::optional<GuardedMoments> known_moments() const override { return moments_; }

private:
    // Mean and variance of the continuous part. Backwards over the acyclic
    // states: h = mean time left, v = its variance; with X the sojourn and J
    // the next state, Var = Var X + E[Var_J] + Var(h_J), the last as squares
    // around the mean (finishing counts as h = v = 0).
    static std::optional<GuardedMoments> first_step_moments(const SubChain& c) {
        const size_t n = static_cast<size_t>(c.size());
        std::vector<int> indeg(n, 0), order;
        order.reserve(n);
        for (size_t i = 0; i < n; ++i)
            for (const Arc& a : c.next[i]) ++indeg[static_cast<size_t>(a.to)];
        for (size_t i = 0; i < n; ++i)
            if (indeg[i] == 0) order.push_back(static_cast<int>(i));
        for (size_t k = 0; k < order.size(); ++k)
            for (const Arc& a : c.next[static_cast<size_t>(order[k])])
                if (--indeg[static_cast<size_t>(a.to)] == 0) order.push_back(a.to);
        if (order.size() != n) return std::nullopt;
        std::vector<double> h(n, 0.0), v(n, 0.0);
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            const size_t s = static_cast<size_t>(*it);
            double out = c.done[s];
            for (const Arc& a : c.next[s]) out += a.rate;
            if (!(out > 0.0)) return std::nullopt;
            double hbar = 0.0, vbar = 0.0, spread = 0.0;
            for (const Arc& a : c.next[s]) {
                hbar += a.rate / out * h[static_cast<size_t>(a.to)];
                vbar += a.rate / out * v[static_cast<size_t>(a.to)];
            }
            for (const Arc& a : c.next[s]) {
                const double d = h[static_cast<size_t>(a.to)] - hbar;
                spread += a.rate / out * d * d;
            }
            spread += c.done[s] / out * hbar * hbar;
            h[s] = 1.0 / out + hbar;
            v[s] = 1.0 / (out * out) + vbar + spread;
        }
        double pc = 0.0, mean = 0.0, var = 0.0;
        for (size_t s = 0; s < n; ++s) {
            pc += c.start[s];
            mean += c.start[s] * h[s];
        }
        GuardedMoments m;
        if (!(pc > 0.0)) {
            m.mean = m.variance = Guarded::exact(0.0);
            return m;
        }
        mean /= pc;
        for (size_t s = 0; s < n; ++s) {
            const double d = h[s] - mean;
            var += c.start[s] * (v[s] + d * d);
        }
        var /= pc;
        // Sums of positive terms along paths of at most n states.
        const double rel = u * (6.0 * static_cast<double>(order.size()) + 8.0);
        m.mean = {mean, rel * mean, Route::Structure};
        m.variance = {var, rel * var, Route::Structure};
        return m;
    }

    double instant_;
    std::optional<GuardedMoments> moments_;
    std::vector<double> start_, done_, out_;
    std::vector<size_t> off_;
    std::vector<Arc> arcs_;
    double lambda_ = 0.0, scale_ = 1.0;
    long work_limit_;
};

}  // namespace

std::shared_ptr<const NumericDist> graph_phase_chain(const SystemRecord& sys, int root, const LeafPhases& leaf,
                                                     long work_limit) {
    const TreeModel* tm = find_tree_model(sys);
    if (tm == nullptr || root < 0) return nullptr;
    const long most = work_limit >= 0 ? std::min<long>(kMaxGraphChainStates, std::max(1L, work_limit)) : kMaxGraphChainStates;
    Composer composer(*tm, leaf, static_cast<int>(most));
    std::optional<SubChain> c = composer.build(root);
    if (!c || std::fabs(c->mass() - 1.0) > kMassSlack) return nullptr;
    return std::make_shared<PhaseChainDist>(std::move(*c), work_limit);
}

}  // namespace corvel
