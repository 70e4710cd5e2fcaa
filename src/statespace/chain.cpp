// The chain record: compact names, flat arcs, the expansion of loop groups,
// initial probabilities and rewards, and the classification.

#include "statespace/chain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "model/context.h"
#include "symbols/counts.h"

namespace corvel {

// ---------------------------------------------------------------------------
// Names

namespace {

std::size_t hash_name(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return static_cast<std::size_t>(h ^ (h >> 29));
}

}  // namespace

int ChainNames::find(std::string_view name) const {
    if (slots_.empty()) return -1;
    std::size_t mask = slots_.size() - 1;
    for (std::size_t k = hash_name(name) & mask;; k = (k + 1) & mask) {
        std::int32_t p = slots_[k];
        if (p < 0) return -1;
        if ((*this)[p] == name) return p;
    }
}

void ChainNames::rehash(std::size_t slots) {
    slots_.assign(slots, -1);
    std::size_t mask = slots - 1;
    for (int p = 0; p < size(); ++p) {
        std::size_t k = hash_name((*this)[p]) & mask;
        while (slots_[k] >= 0) k = (k + 1) & mask;
        slots_[k] = p;
    }
}

int ChainNames::add(std::string_view name) {
    int p = find(name);
    if (p >= 0) return p;
    p = size();
    chars_.append(name);
    offset_.push_back(static_cast<std::uint32_t>(chars_.size()));
    if (2 * static_cast<std::size_t>(size()) > slots_.size()) {
        rehash(std::max<std::size_t>(16, slots_.size() * 2));
    } else {
        std::size_t mask = slots_.size() - 1;
        std::size_t k = hash_name(name) & mask;
        while (slots_[k] >= 0) k = (k + 1) & mask;
        slots_[k] = p;
    }
    return p;
}

void ChainNames::clear() {
    chars_.clear();
    offset_.assign(1, 0);
    slots_.clear();
}

void ChainNames::reserve(std::size_t names, std::size_t chars) {
    chars_.reserve(chars);
    offset_.reserve(names + 1);
}

void ChainNames::permute(const std::vector<std::int32_t>& new_pos) {
    int n = size();
    std::vector<std::int32_t> old_of(static_cast<size_t>(n));
    for (int p = 0; p < n; ++p) old_of[static_cast<size_t>(new_pos[static_cast<size_t>(p)])] = p;
    std::string chars;
    chars.reserve(chars_.size());
    std::vector<std::uint32_t> offset;
    offset.reserve(offset_.size());
    offset.push_back(0);
    for (int q = 0; q < n; ++q) {
        chars.append((*this)[old_of[static_cast<size_t>(q)]]);
        offset.push_back(static_cast<std::uint32_t>(chars.size()));
    }
    chars_ = std::move(chars);
    offset_ = std::move(offset);
    for (std::int32_t& s : slots_)
        if (s >= 0) s = new_pos[static_cast<size_t>(s)];
}

std::size_t ChainNames::bytes() const {
    return chars_.capacity() + offset_.capacity() * sizeof(std::uint32_t) + slots_.capacity() * sizeof(std::int32_t);
}

std::size_t ChainModel::bytes() const {
    auto v = [](const auto& x) { return x.capacity() * sizeof(x[0]); };
    return names.bytes() + v(arcs) + v(succ_off) + v(succ) + v(pred_off) + v(pred) + v(start_prob) + v(reward) +
           v(rate_out) + v(prob) + v(tprob) + v(tcumprob) + v(mean_time) + v(dists) + v(need_node) +
           v(direct_rates);
}

// ---------------------------------------------------------------------------
// Records and arcs

ChainModel& chain_of(SystemRecord& sys) {
    if (ChainModel* m = find_chain(sys)) return *m;
    auto m = std::make_unique<ChainModel>();
    ChainModel& ref = *m;
    sys.model = std::move(m);
    return ref;
}

ChainModel* find_chain(SystemRecord& sys) { return dynamic_cast<ChainModel*>(sys.model.get()); }

const ChainModel* find_chain(const SystemRecord& sys) { return dynamic_cast<const ChainModel*>(sys.model.get()); }

namespace {

int add_arc_names(AnalysisContext& in, SystemRecord& sys, ChainModel& m, std::string_view from, std::string_view to,
                  double rate) {
    std::string_view a = from.size() > kNameLimit ? from.substr(0, kNameLimit) : from;
    std::string_view b = to.size() > kNameLimit ? to.substr(0, kNameLimit) : to;
    if (a == b) {
        in.err.error(79, kInputError, sys.name, true);
        return -1;
    }
    int i = m.names.add(a);
    int j = m.names.add(b);
    m.arcs.push_back({i, j, rate});
    m.numbered = false;
    return static_cast<int>(m.arcs.size()) - 1;
}

}  // namespace

int add_chain_arc(AnalysisContext& in, SystemRecord& sys, std::string_view from, std::string_view to, double rate) {
    return add_arc_names(in, sys, chain_of(sys), from, to, rate);
}

int add_chain_arc(AnalysisContext& in, SystemRecord& sys, std::string_view from, std::string_view to, EdgeRecord arc) {
    ChainModel& m = chain_of(sys);
    int e = add_arc_names(in, sys, m, from, to, arc.rate);
    if (e < 0) return e;
    arc.from = m.arcs.back().from;
    arc.to = m.arcs.back().to;
    if (sys.edges.size() < static_cast<size_t>(e)) sys.edges.resize(static_cast<size_t>(e));
    sys.edges.push_back(std::move(arc));
    return e;
}

void clear_chain(ChainModel& m) {
    m.names.clear();
    m.arcs.clear();
    m.numbered = false;
    for (auto* v : {&m.succ_off, &m.succ, &m.pred_off, &m.pred}) v->clear();
    for (auto* v : {&m.start_prob, &m.reward, &m.rate_out, &m.prob, &m.tprob, &m.tcumprob, &m.mean_time}) v->clear();
    m.dists.clear();
    m.need_node.clear();
}

int find_chain_state(const SystemRecord& sys, std::string_view name) {
    const ChainModel* m = find_chain(sys);
    if (m == nullptr || !m->numbered) return -1;
    return m->names.find(name.size() > kNameLimit ? name.substr(0, kNameLimit) : name);
}

std::string spell_chain_word(AnalysisContext& in, const ChainWord& word) {
    if (word.pieces.size() == 1 && !word.pieces[0].subst) return word.pieces[0].text;
    std::string name;
    for (const ChainWord::Piece& p : word.pieces)
        name += p.subst ? substitution_text(in.err, in.eval.bind_expression(*p.subst)) : p.text;
    if (word.pieces.size() > 1 && name.size() > kNameLimit) {
        in.err.error(220, kWarning, name, true);
        name.resize(kNameLimit);
    }
    return name;
}

// ---------------------------------------------------------------------------
// Classification

namespace {

// Offset arrays of the arcs by from-state and by to-state.
void build_offsets(ChainModel& m) {
    size_t n = static_cast<size_t>(m.num_states());
    m.succ_off.assign(n + 1, 0);
    m.pred_off.assign(n + 1, 0);
    for (const ChainArc& a : m.arcs) {
        ++m.succ_off[static_cast<size_t>(a.from) + 1];
        ++m.pred_off[static_cast<size_t>(a.to) + 1];
    }
    for (size_t i = 0; i < n; ++i) {
        m.succ_off[i + 1] += m.succ_off[i];
        m.pred_off[i + 1] += m.pred_off[i];
    }
    m.succ.resize(m.arcs.size());
    m.pred.resize(m.arcs.size());
    std::vector<std::uint32_t> fs(m.succ_off.begin(), m.succ_off.end() - 1);
    std::vector<std::uint32_t> fp(m.pred_off.begin(), m.pred_off.end() - 1);
    for (std::uint32_t e = 0; e < m.arcs.size(); ++e) {
        m.succ[fs[static_cast<size_t>(m.arcs[e].from)]++] = e;
        m.pred[fp[static_cast<size_t>(m.arcs[e].to)]++] = e;
    }
}

}  // namespace

int mtopsort(AnalysisContext& in, SystemRecord& sys, int kind, const std::string& label) {
    ChainModel& m = chain_of(sys);
    const int n = m.num_states();
    build_offsets(m);  // by name position for now
    // In-degrees over distinct predecessor states.
    std::vector<std::int32_t> indeg(static_cast<size_t>(n), 0), mark(static_cast<size_t>(n), -1);
    for (int s = 0; s < n; ++s)
        for (std::uint32_t e : m.out_arcs(s)) {
            int t = m.arcs[e].to;
            if (mark[static_cast<size_t>(t)] != s) {
                mark[static_cast<size_t>(t)] = s;
                ++indeg[static_cast<size_t>(t)];
            }
        }
    // FIFO of names whose in-degree reached zero, in name order first.
    std::vector<std::int32_t> queue;
    queue.reserve(static_cast<size_t>(n));
    for (int s = 0; s < n; ++s)
        if (indeg[static_cast<size_t>(s)] == 0) queue.push_back(s);
    std::fill(mark.begin(), mark.end(), -1);
    for (size_t head = 0; head < queue.size(); ++head) {
        int s = queue[head];
        for (std::uint32_t e : m.out_arcs(s)) {
            int t = m.arcs[e].to;
            if (mark[static_cast<size_t>(t)] == s) continue;
            mark[static_cast<size_t>(t)] = s;
            if (--indeg[static_cast<size_t>(t)] == 0) queue.push_back(t);
        }
    }
    std::vector<std::int32_t> new_pos(static_cast<size_t>(n));
    int code = kind;
    const std::string& who = label.empty() ? sys.name : label;
    bool acyclic = static_cast<int>(queue.size()) == n;
    std::vector<int> absorbing;
    if (acyclic) {
        for (int k = 0; k < n; ++k) new_pos[static_cast<size_t>(queue[static_cast<size_t>(k)])] = k;
    } else {
        int next = 0, last = n - 1;
        for (int s = 0; s < n; ++s) {
            if (m.has_successors(s)) {
                new_pos[static_cast<size_t>(s)] = next++;
            } else {
                new_pos[static_cast<size_t>(s)] = last--;
                absorbing.push_back(s);
            }
        }
        if (in.settings.verbose || in.settings.debug[kDebugMarkov]) {
            if (absorbing.empty()) {
                in.out.printf("chain %s has no absorbing states\n", sys.name.c_str());
            } else {
                in.out.printf("absorbing states in chain %s:\n", sys.name.c_str());
                for (int s : absorbing) in.out.printf("   %s\n", std::string(m.names[s]).c_str());
            }
        }
    }
    // Renumber: names in state order, arcs to state indices, offsets anew.
    m.names.permute(new_pos);
    for (ChainArc& a : m.arcs) {
        a.from = new_pos[static_cast<size_t>(a.from)];
        a.to = new_pos[static_cast<size_t>(a.to)];
    }
    for (size_t e = 0; e < sys.edges.size() && e < m.arcs.size(); ++e) {
        sys.edges[e].from = m.arcs[e].from;
        sys.edges[e].to = m.arcs[e].to;
    }
    build_offsets(m);
    m.numbered = true;
    m.start_prob.assign(static_cast<size_t>(n), 0.0);
    m.reward.assign(static_cast<size_t>(n), 0.0);

    if (acyclic) {
        switch (kind) {
            case kSysMarkov: code = kSysMarkovAcyclic; break;
            case kSysSemimark: code = kSysSemimarkAcyclic; break;
            case kSysPfqn:
            case kSysMpfqn:
                in.err.error(114, kFatal, who, true);
                code = 0;
                break;
            default: break;
        }
    } else if (!absorbing.empty()) {
        switch (kind) {
            case kSysSemimark: in.err.error(132, kFatal, who, true); break;
            case kSysMarkov: code = kSysMarkovPhase; break;
            default:
                in.err.error(114, kFatal, who, true);
                code = 0;
        }
    } else {
        if (kind == kSysSemimark) code = kSysSemimarkIrreducible;
        if (kind == kSysMarkov) code = kSysMarkovIrreducible;
    }
    return code;
}

void classify_chain(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    if (m.num_states() == 0) return;
    sys.type = mtopsort(in, sys, sys.block_kind);
}

// ---------------------------------------------------------------------------
// Expansion

namespace {

// Runs the lines of a loop group for every index value low, low + step, ...
// up to high (included within a small allowance), nested groups included.
// The lines that the loop groups of one chain section may produce: every line
// becomes an arc, a state or a value held in memory.
constexpr long long kMaxLoopLines = 50'000'000;

template <class Item>
void run_group(AnalysisContext& in, ChainLoop& loop, Item& item, long long& lines_left) {
    double low = in.eval.bind_expression(*loop.low);
    double high = in.eval.bind_expression(*loop.high);
    double step = in.eval.bind_expression(*loop.step);
    const std::string place = "loop " + loop.index->name;
    if (!std::isnan(low) && !std::isnan(high) && !(low <= high)) in.err.error(53, kFatal, "", true);
    if (!std::isnan(step) && !(step >= in.settings.tol.epsilon)) in.err.error(151, kFatal, "", true);
    // Refused before the first pass when the bounds are not numbers or the
    // passes cannot all be held.
    const long long passes = checked_loop_passes(in.err, low, high, step, place, kFatal, lines_left);
    const double allowance = 1e-9 * step;
    for (long k = 0;; ++k) {
        double x = low + static_cast<double>(k) * step;
        if (x > high + allowance) break;
        in.eval.count_pass();
        loop.index->value = x;
        for (ChainLoopLine& line : loop.lines) {
            if (line.loop) {
                run_group(in, *line.loop, item, lines_left);
            } else {
                if (--lines_left < 0)
                    in.err.error(169, kFatal, count_fault_text("passes of " + place, static_cast<double>(passes)), true);
                item(line);
            }
        }
    }
}

template <class Item>
void run_groups(AnalysisContext& in, std::vector<std::unique_ptr<ChainLoop>>& groups, Item& item) {
    long long lines_left = kMaxLoopLines;
    for (auto& loop : groups) run_group(in, *loop, item, lines_left);
}

// Direct arcs first, in the order written, then the arcs of the loop groups.
void rebuild_arcs(AnalysisContext& in, SystemRecord& sys, ChainModel& m) {
    if (m.direct_ends.empty() && m.num_direct_arcs > 0) {
        for (int e = 0; e < m.num_direct_arcs; ++e) {
            m.direct_ends.push_back(m.direct_names.add(m.names[m.arcs[static_cast<size_t>(e)].from]));
            m.direct_ends.push_back(m.direct_names.add(m.names[m.arcs[static_cast<size_t>(e)].to]));
        }
    }
    std::vector<double> direct_rate(static_cast<size_t>(m.num_direct_arcs));
    for (int e = 0; e < m.num_direct_arcs; ++e) direct_rate[static_cast<size_t>(e)] = m.arcs[static_cast<size_t>(e)].rate;
    clear_chain(m);
    for (int e = 0; e < m.num_direct_arcs; ++e) {
        int i = m.names.add(m.direct_names[m.direct_ends[2 * static_cast<size_t>(e)]]);
        int j = m.names.add(m.direct_names[m.direct_ends[2 * static_cast<size_t>(e) + 1]]);
        m.arcs.push_back({i, j, direct_rate[static_cast<size_t>(e)]});
    }
    std::string from, to;
    auto arc = [&](ChainLoopLine& line) {
        from = spell_chain_word(in, line.from);
        to = spell_chain_word(in, line.to);
        add_arc_names(in, sys, m, from, to, in.eval.bind_expression(*line.value));
    };
    run_groups(in, m.loop_arcs, arc);
    if (in.settings.debug[kDebugMarkov]) {
        for (size_t i = 0; i < m.arcs.size(); ++i) {
            const ChainArc& e = m.arcs[i];
            in.out.printf("edge %zu: %s to %s rate %f\n", i, std::string(m.names[e.from]).c_str(),
                          std::string(m.names[e.to]).c_str(), e.rate);
        }
    }
}

int state_or_error(AnalysisContext& in, const SystemRecord& sys, const std::string& name) {
    int k = find_chain_state(sys, name);
    if (k < 0) in.err.error(35, kFatal, name, true);
    return k;
}

void expand_start_probs(AnalysisContext& in, SystemRecord& sys, ChainModel& m) {
    std::fill(m.start_prob.begin(), m.start_prob.end(), 0.0);
    auto set = [&](const std::string& name, const Expr& value) {
        int k = state_or_error(in, sys, name);
        double v = in.eval.bind_expression(value);
        double& p = m.start_prob[static_cast<size_t>(k)];
        if (p != 0.0)
            in.err.error(25, kWarning, format_string("for node %s (system %s)", name.c_str(), sys.name.c_str()), true);
        p = v;
    };
    auto item = [&](ChainLoopLine& line) { set(spell_chain_word(in, line.from), *line.value); };
    run_groups(in, m.loop_probs, item);
    for (const StateValue& p : m.start_probs) set(p.state, *p.value);
}

void expand_rewards(AnalysisContext& in, SystemRecord& sys, ChainModel& m) {
    double fallback = m.default_reward ? in.eval.bind_expression(*m.default_reward) : 0.0;
    std::fill(m.reward.begin(), m.reward.end(), fallback);
    auto set = [&](const std::string& name, const Expr& value) {
        int k = state_or_error(in, sys, name);
        m.reward[static_cast<size_t>(k)] = in.eval.bind_expression(value);
    };
    auto item = [&](ChainLoopLine& line) { set(spell_chain_word(in, line.from), *line.value); };
    run_groups(in, m.loop_rewards, item);
    for (const StateValue& r : m.rewards) set(r.state, *r.value);
}

void resolve_sets(AnalysisContext& in, const SystemRecord& sys, ChainModel& m) {
    m.set_a_states.clear();
    m.set_f_states.clear();
    for (const std::string& n : m.set_a) m.set_a_states.push_back(state_or_error(in, sys, n));
    for (const std::string& n : m.set_f) m.set_f_states.push_back(state_or_error(in, sys, n));
}

}  // namespace

void expand_chain(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    if (!m.loop_arcs.empty()) rebuild_arcs(in, sys, m);
    if (m.num_states() == 0) in.err.error(80, kFatal, sys.name, true);
    if (!m.numbered) sys.type = mtopsort(in, sys, sys.block_kind);
    m.start_prob.assign(static_cast<size_t>(m.num_states()), 0.0);
    m.reward.assign(static_cast<size_t>(m.num_states()), 0.0);
    expand_start_probs(in, sys, m);
    expand_rewards(in, sys, m);
    resolve_sets(in, sys, m);
}

// ---------------------------------------------------------------------------
// Binding and checks

void rebind_markov(AnalysisContext& in, SystemRecord& sys, bool computing_reward) {
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    for (size_t e = 0; e < m.direct_rates.size() && e < m.arcs.size(); ++e)
        if (m.direct_rates[e]) m.arcs[e].rate = in.eval.bind_expression(*m.direct_rates[e]);
    const int n = m.num_states();
    m.rate_out.assign(static_cast<size_t>(n), 0.0);
    bool routing = sys.block_kind == kSysPfqn || sys.block_kind == kSysMpfqn;
    for (int s = 0; s < n; ++s) {
        double sum = 0.0;
        for (std::uint32_t e : m.out_arcs(s)) {
            const ChainArc& a = m.arcs[e];
            if (std::isinf(a.rate)) check_finite(in.err, a.rate, "rate", kFatal, make_msg(m.names[a.from], m.names[a.to]));
            if (!(a.rate >= -eps))
                in.err.ERR(52, kFatal, m.names[a.from], m.names[a.to]);
            sum += a.rate;
        }
        if (routing && sum > 1.0 + eps) in.err.error(50, kFatal, format_string(": state %s", std::string(m.names[s]).c_str()), true);
        if (computing_reward && std::fabs(sum) >= eps) {
            double r = m.reward[static_cast<size_t>(s)];
            if (std::fabs(r) < eps) in.err.error(147, kFatal, std::string(m.names[s]), true);
            sum /= r;
        }
        m.rate_out[static_cast<size_t>(s)] = sum;
    }
}

int check_starting_probs(AnalysisContext& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    const double eps = in.settings.tol.epsilon;
    const int n = m.num_states();
    double sum = 0.0;
    int first = 0;
    bool any = false;
    for (int s = n - 1; s >= 0; --s) {
        double p = m.start_prob[static_cast<size_t>(s)];
        std::string who = format_string(" (%17.15f for node %s)", p, std::string(m.names[s]).c_str());
        check_finite(in.err, p, "initial probability of state " + std::string(m.names[s]), kFatal);
        if (p < -eps) in.err.error(117, kWarning, who, true);
        if (p > 1.0) in.err.error(118, kWarning, who, true);
        sum += p;
        if (std::fabs(p) >= eps) {
            first = s;
            any = true;
        }
    }
    if (std::fabs(sum) >= eps) {
        if (std::fabs(sum - 1.0) >= eps)
            in.err.error(140, kWarning, format_string("(%17.15f for system %s)", sum, sys.name.c_str()), true);
        return any ? first : 0;
    }
    if (n >= 2 && !m.has_predecessors(0) && m.has_predecessors(1)) {
        m.start_prob[0] = 1.0;
        return 0;
    }
    in.err.error(43, kFatal, sys.name, true);
    return 0;
}

bool is_absorbing(const ChainModel& m, int state, double epsilon) {
    if (!m.has_successors(state)) return true;
    return !m.rate_out.empty() && std::fabs(m.rate_out[static_cast<size_t>(state)]) < epsilon;
}

namespace {

// Breadth-first marking from the marked states, over arcs of rate >= epsilon,
// forward (successors) or backward (predecessors).
void spread(const ChainModel& m, std::vector<char>& marked, bool forward, double epsilon, bool all_arcs) {
    std::vector<std::int32_t> list;
    for (int s = 0; s < m.num_states(); ++s)
        if (marked[static_cast<size_t>(s)]) list.push_back(s);
    for (size_t head = 0; head < list.size(); ++head) {
        int s = list[head];
        for (std::uint32_t e : forward ? m.out_arcs(s) : m.in_arcs(s)) {
            const ChainArc& a = m.arcs[e];
            if (!all_arcs && std::fabs(a.rate) < epsilon) continue;
            int t = forward ? a.to : a.from;
            if (!marked[static_cast<size_t>(t)]) {
                marked[static_cast<size_t>(t)] = 1;
                list.push_back(t);
            }
        }
    }
}

}  // namespace

bool has_non_transient_states(const ChainModel& m, double epsilon) {
    const int n = m.num_states();
    std::vector<char> reached(static_cast<size_t>(n), 0), okay(static_cast<size_t>(n), 0);
    for (int s = 0; s < n; ++s) {
        reached[static_cast<size_t>(s)] = std::fabs(m.start_prob[static_cast<size_t>(s)]) >= epsilon;
        okay[static_cast<size_t>(s)] = is_absorbing(m, s, epsilon);
    }
    spread(m, reached, true, epsilon, false);
    spread(m, okay, false, epsilon, false);
    for (int s = 0; s < n; ++s)
        if (reached[static_cast<size_t>(s)] && !okay[static_cast<size_t>(s)]) return true;
    return false;
}

// Every state reachable from state 0 and state 0 reachable from every state:
// two linear searches, forward and backward, give the same answer as the
// state-by-state search.
bool not_irreducible(const ChainModel& m, double epsilon, bool all_arcs) {
    const int n = m.num_states();
    if (n == 0) return true;
    for (bool forward : {true, false}) {
        std::vector<char> marked(static_cast<size_t>(n), 0);
        marked[0] = 1;
        spread(m, marked, forward, epsilon, all_arcs);
        if (std::find(marked.begin(), marked.end(), 0) != marked.end()) return true;
    }
    return false;
}

bool need_a_node(ChainModel& m, bool need_overall, double epsilon) {
    const int n = m.num_states();
    m.need_node.resize(static_cast<size_t>(n), 0);
    m.dists.resize(static_cast<size_t>(n));
    bool any = false;
    for (int s = 0; s < n; ++s) {
        char& need = m.need_node[static_cast<size_t>(s)];
        bool has = m.dists[static_cast<size_t>(s)].has_dist;
        if (!need && need_overall && is_absorbing(m, s, epsilon) && !has) need = 1;
        if (need && has) need = 0;
        if (need) any = true;
    }
    return any;
}

}  // namespace corvel
