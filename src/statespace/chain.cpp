// The chain record: arcs, per-name successor and predecessor lists, the state
// table, and the expansion of loop groups, initial probabilities and rewards.

#include "statespace/chain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "interp/interpreter.h"

namespace corvel {

namespace {

std::uint64_t pair_key(int from, int to) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(from)) << 32) | static_cast<std::uint32_t>(to);
}

// Runs the lines of a loop group for every index value low, low + step, ...
// up to high (included within a small allowance), nested groups included.
template <class Item>
void run_group(Interpreter& in, ChainLoop& loop, Item& item) {
    double low = in.eval.bind_expression(*loop.low);
    double high = in.eval.bind_expression(*loop.high);
    double step = in.eval.bind_expression(*loop.step);
    if (!(low <= high) || !std::isfinite(low) || !std::isfinite(high)) in.err.error(53, kFatal, "", true);
    if (!(step >= in.settings.tol.epsilon)) in.err.error(151, kFatal, "", true);
    const double allowance = 1e-9 * step;
    for (long k = 0;; ++k) {
        double x = low + static_cast<double>(k) * step;
        if (x > high + allowance) break;
        in.eval.count_pass();
        loop.index->value = x;
        for (ChainLoopLine& line : loop.lines) {
            if (line.loop)
                run_group(in, *line.loop, item);
            else
                item(line);
        }
    }
}

// Direct arcs first, in the order written, then the arcs of the loop groups.
void rebuild_arcs(Interpreter& in, SystemRecord& sys, ChainModel& m) {
    if (in.settings.verbose) in.out.printf("expanding markov chain %s.\n", sys.name.c_str());
    std::vector<std::string> names(sys.names.names().begin(),
                                   sys.names.names().begin() + std::min(m.num_direct_names, sys.names.size()));
    std::vector<EdgeRecord> direct(sys.edges.begin(),
                                   sys.edges.begin() + std::min<size_t>(m.num_direct_arcs, sys.edges.size()));
    sys.names = NameTable();
    sys.nodes.clear();
    sys.edges.clear();
    m.links.clear();
    m.pairs.clear();
    m.numbered = false;
    for (const std::string& n : names) sys.names.find(n, NameTable::kAdd);
    for (EdgeRecord& e : direct) {
        std::string from = names[static_cast<size_t>(e.from)], to = names[static_cast<size_t>(e.to)];
        add_chain_arc(in, sys, from, to, std::move(e));
    }
    auto arc = [&](ChainLoopLine& line) {
        std::string from = spell_chain_word(in, line.from);
        std::string to = spell_chain_word(in, line.to);
        EdgeRecord e;
        e.rate = in.eval.bind_expression(*line.value);
        add_chain_arc(in, sys, from, to, std::move(e));
    };
    for (auto& loop : m.loop_arcs) run_group(in, *loop, arc);
    sys.type = sys.block_kind;
    if (in.settings.debug[kDebugMarkov]) {
        for (size_t i = 0; i < sys.edges.size(); ++i) {
            const EdgeRecord& e = sys.edges[i];
            in.out.printf("edge %zu: %s to %s rate %f\n", i, sys.names[e.from].c_str(), sys.names[e.to].c_str(),
                          e.rate);
        }
    }
}

int state_or_error(Interpreter& in, const SystemRecord& sys, const std::string& name) {
    int k = find_chain_state(sys, name);
    if (k < 0) in.err.error(35, kFatal, name, true);
    return k;
}

void expand_start_probs(Interpreter& in, SystemRecord& sys, ChainModel& m) {
    for (ChainState& s : m.states) s.start_prob = 0.0;
    auto set = [&](const std::string& name, const Expr& value) {
        int k = state_or_error(in, sys, name);
        double v = in.eval.bind_expression(value);
        ChainState& s = m.states[static_cast<size_t>(k)];
        if (s.start_prob != 0.0)
            in.err.error(25, kWarning, format_string("for node %s (system %s)", s.name.c_str(), sys.name.c_str()),
                         true);
        s.start_prob = v;
    };
    auto item = [&](ChainLoopLine& line) { set(spell_chain_word(in, line.from), *line.value); };
    for (auto& loop : m.loop_probs) run_group(in, *loop, item);
    for (const StateValue& p : m.start_probs) set(p.state, *p.value);
}

void expand_rewards(Interpreter& in, SystemRecord& sys, ChainModel& m) {
    double fallback = m.default_reward ? in.eval.bind_expression(*m.default_reward) : 0.0;
    for (ChainState& s : m.states) s.reward = fallback;
    auto set = [&](const std::string& name, const Expr& value) {
        int k = state_or_error(in, sys, name);
        m.states[static_cast<size_t>(k)].reward = in.eval.bind_expression(value);
    };
    auto item = [&](ChainLoopLine& line) { set(spell_chain_word(in, line.from), *line.value); };
    for (auto& loop : m.loop_rewards) run_group(in, *loop, item);
    for (const StateValue& r : m.rewards) set(r.state, *r.value);
}

void resolve_sets(Interpreter& in, const SystemRecord& sys, ChainModel& m) {
    m.set_a_states.clear();
    m.set_f_states.clear();
    for (const std::string& n : m.set_a) m.set_a_states.push_back(state_or_error(in, sys, n));
    for (const std::string& n : m.set_f) m.set_f_states.push_back(state_or_error(in, sys, n));
}

}  // namespace

ChainModel& chain_of(SystemRecord& sys) {
    if (ChainModel* m = find_chain(sys)) return *m;
    auto m = std::make_unique<ChainModel>();
    ChainModel& ref = *m;
    sys.model = std::move(m);
    return ref;
}

ChainModel* find_chain(SystemRecord& sys) { return dynamic_cast<ChainModel*>(sys.model.get()); }

const ChainModel* find_chain(const SystemRecord& sys) { return dynamic_cast<const ChainModel*>(sys.model.get()); }

int add_chain_arc(Interpreter& in, SystemRecord& sys, std::string_view from, std::string_view to, EdgeRecord arc) {
    std::string a = significant_name(from), b = significant_name(to);
    if (a == b) {
        in.err.error(79, kInputError, sys.name, true);
        return -1;
    }
    ChainModel& m = chain_of(sys);
    int i = sys.names.find(a, NameTable::kFindOrAdd);
    int j = sys.names.find(b, NameTable::kFindOrAdd);
    if (m.links.size() < static_cast<size_t>(sys.names.size())) m.links.resize(static_cast<size_t>(sys.names.size()));
    arc.from = i;
    arc.to = j;
    int e = static_cast<int>(sys.edges.size());
    sys.edges.push_back(std::move(arc));
    bool dup = !m.pairs.insert(pair_key(i, j)).second;
    if (!dup) ++m.links[static_cast<size_t>(j)].count_pred;
    m.links[static_cast<size_t>(i)].succ.push_back({e, dup});
    m.links[static_cast<size_t>(j)].pred.push_back({e, dup});
    m.numbered = false;
    return e;
}

void number_chain_states(SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    size_t n = static_cast<size_t>(sys.names.size());
    m.links.resize(n);
    m.states.assign(n, ChainState{});
    m.state_of_name.resize(n);
    for (size_t i = 0; i < n; ++i) {
        ChainState& s = m.states[i];
        s.name = sys.names[static_cast<int>(i)];
        s.succ = m.links[i].succ;
        s.pred = m.links[i].pred;
        m.state_of_name[i] = static_cast<int>(i);
    }
    m.numbered = true;
}

int find_chain_state(const SystemRecord& sys, std::string_view name) {
    const ChainModel* m = find_chain(sys);
    if (m == nullptr) return -1;
    int i = sys.names.find(name);
    if (i < 0 || static_cast<size_t>(i) >= m->state_of_name.size()) return -1;
    return m->state_of_name[static_cast<size_t>(i)];
}

std::string substitution_text(double v) {
    double t = std::trunc(v);
    if (std::isnan(t)) return "0";
    // Within this range the integer conversion is exact and defined.
    if (std::fabs(t) < 9.0e18) return std::to_string(static_cast<long long>(t));
    return format_string("%.0f", t);
}

std::string spell_chain_word(Interpreter& in, const ChainWord& word) {
    std::string name;
    for (const ChainWord::Piece& p : word.pieces)
        name += p.subst ? substitution_text(in.eval.bind_expression(*p.subst)) : p.text;
    if (word.pieces.size() > 1 && name.size() > kNameLimit) {
        in.err.error(220, kWarning, name, true);
        name.resize(kNameLimit);
    }
    return name;
}

void expand_chain(Interpreter& in, SystemRecord& sys) {
    ChainModel& m = chain_of(sys);
    if (!m.loop_arcs.empty()) rebuild_arcs(in, sys, m);
    if (sys.names.size() == 0) in.err.error(80, kFatal, sys.name, true);
    if (!m.numbered) number_chain_states(sys);
    expand_start_probs(in, sys, m);
    expand_rewards(in, sys, m);
    resolve_sets(in, sys, m);
}

}  // namespace corvel
