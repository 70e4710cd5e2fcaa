#pragma once
// State-space chains (markov, semimark and mrgp blocks, and the chains that
// queueing networks and Petri nets load): the record a chain keeps in its
// system, the expansion of its loop groups, initial probabilities and
// rewards, and its classification.
//
// Layout (shared by every chain-based kind). A chain is kept flat so that
// millions of arcs fit in a few dozen bytes each:
//   - `names`: every state name stored once (one character buffer, offsets,
//     and an open-addressing hash index);
//   - `arcs`: one 16-byte record per arc (from, to, rate);
//   - `succ_off`/`succ` and `pred_off`/`pred`: the outgoing and incoming arcs
//     of each state as offset arrays holding arc indices (made by the
//     classification; succ of state i is succ[succ_off[i] .. succ_off[i+1]));
//   - per-state vectors (start probability, reward, total outflow, results).
// While arcs are added, `from`/`to` are positions in `names`. The
// classification (`mtopsort`) numbers the states and reorders `names` so
// that name position and state index agree from then on; the arcs keep
// their order and are renumbered.
//
// Arcs written directly in a block come first (`num_direct_arcs`); for a
// markov block their rate expressions are kept in `direct_rates` (null for a
// constant rate), for semimark and mrgp blocks the distributions are in the
// system's `edges`, index for index with `arcs`. Arcs made by loop groups
// have only their bound rate.
//
// Duplicate arcs (the same ordered pair twice) are kept; they count once
// toward a state's in-degree in the classification.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "expo/distribution.h"
#include "expo/exponomial.h"
#include "model/system_store.h"
#include "symbols/expression.h"

namespace corvel {

class AnalysisContext;

// State names: stored once, found by hashing.
class ChainNames {
public:
    int find(std::string_view name) const;  // position or -1
    int add(std::string_view name);         // position of the name, added when new
    std::string_view operator[](int i) const {
        return {chars_.data() + offset_[static_cast<size_t>(i)],
                offset_[static_cast<size_t>(i) + 1] - offset_[static_cast<size_t>(i)]};
    }
    int size() const { return static_cast<int>(offset_.size()) - 1; }
    void clear();
    // Reorders the names: the name at old position p moves to new_pos[p].
    void permute(const std::vector<std::int32_t>& new_pos);
    std::size_t bytes() const;
    void reserve(std::size_t names, std::size_t chars);

private:
    void rehash(std::size_t slots);
    std::string chars_;
    std::vector<std::uint32_t> offset_{0};
    std::vector<std::int32_t> slots_;  // name positions, -1 empty
};

struct ChainArc {
    std::int32_t from = -1, to = -1;
    double rate = 0.0;
};
static_assert(sizeof(ChainArc) == 16);

// A state name as written in a loop group: literal pieces and index
// substitutions, joined into one name when the group is expanded.
struct ChainWord {
    struct Piece {
        std::string text;               // literal piece (when subst is null)
        std::shared_ptr<Expr> subst;    // "$" expression: contributes its integer value
    };
    std::vector<Piece> pieces;
};

struct ChainLoop;

// One line of a loop group: an arc (from, to, rate) or a state value (state,
// probability or reward; `to` unused), or a nested group.
struct ChainLoopLine {
    ChainWord from, to;
    std::shared_ptr<Expr> value;
    std::unique_ptr<ChainLoop> loop;
};

// "loop index, low, high[, step]" and its lines. The index is owned here:
// the expressions of the lines refer to it.
struct ChainLoop {
    std::unique_ptr<Param> index;
    std::unique_ptr<Expr> low, high, step;
    std::vector<ChainLoopLine> lines;
};

// An initial probability or a reward written directly.
struct StateValue {
    std::string state;
    std::shared_ptr<Expr> value;
};

// Closed-form results of one state (made only by the symbolic solvers).
struct StateDists {
    Exponomial dist;      // probability of being in the state at t, or CDF of reaching it
    Exponomial ldist;     // CDF of having entered and left the state (acyclic chains)
    Exponomial own_dist;  // sojourn distribution (semi-Markov)
    bool has_dist = false;
};

struct ChainModel : ModelData {
    // ---- Declarations, as read.
    int num_direct_arcs = 0;
    std::vector<std::shared_ptr<Expr>> direct_rates;  // markov: per direct arc, null when constant
    std::vector<std::unique_ptr<ChainLoop>> loop_arcs, loop_probs, loop_rewards;
    std::vector<StateValue> start_probs, rewards;
    std::shared_ptr<Expr> default_reward;             // null: rewards default to 0
    std::vector<std::string> set_a, set_f;            // the fastmttf sets, in the order written
    // Endpoints of the direct arcs by name, kept for rebuilding a chain
    // with loop groups (filled at the first rebuild).
    ChainNames direct_names;
    std::vector<std::int32_t> direct_ends;            // from, to, from, to, ...

    // ---- The chain as last built.
    ChainNames names;
    std::vector<ChainArc> arcs;
    bool numbered = false;                            // classified: names in state order, CSR valid
    std::vector<std::uint32_t> succ_off, succ, pred_off, pred;
    std::vector<double> start_prob, reward;           // per state
    std::vector<int> set_a_states, set_f_states;      // the fastmttf sets as state indices

    // ---- Solver results, per state (sized by the solvers).
    std::vector<double> rate_out;                     // total rate out (per reward unit with rewards)
    std::vector<double> prob;                         // visit, steady-state or absorption probability
    double form_error = 0.0;                          // relative error estimate of the closed forms' coefficients
    std::vector<double> tprob, tcumprob;              // transient and cumulative probability at s_time
    double terror = 0.0, tcumerror = 0.0;             // their absolute error bounds
    double trelerror = 0.0;                           // and the part relative to each entry
    std::vector<double> mean_time;                    // mean sojourn (semi-Markov)
    std::vector<StateDists> dists;                    // closed forms (symbolic solutions)
    double closed_form_error = 0.0;                   // relative error of their coefficients, when checked
    std::vector<char> need_node;                      // the state's closed form is asked for

    int num_states() const { return names.size(); }
    std::string_view state_name(int i) const { return names[i]; }
    // Arc indices out of / into state i (after classification).
    std::span<const std::uint32_t> out_arcs(int i) const {
        return {succ.data() + succ_off[static_cast<size_t>(i)], succ_off[static_cast<size_t>(i) + 1] - succ_off[static_cast<size_t>(i)]};
    }
    std::span<const std::uint32_t> in_arcs(int i) const {
        return {pred.data() + pred_off[static_cast<size_t>(i)], pred_off[static_cast<size_t>(i) + 1] - pred_off[static_cast<size_t>(i)]};
    }
    bool has_successors(int i) const { return succ_off[static_cast<size_t>(i) + 1] > succ_off[static_cast<size_t>(i)]; }
    bool has_predecessors(int i) const { return pred_off[static_cast<size_t>(i) + 1] > pred_off[static_cast<size_t>(i)]; }
    // Bytes held by the built chain (names, arcs, offset arrays, per-state vectors).
    std::size_t bytes() const;
};

// The chain record of a system, made on first use; null from find_chain for a
// system that has none.
ChainModel& chain_of(SystemRecord& sys);
ChainModel* find_chain(SystemRecord& sys);
const ChainModel* find_chain(const SystemRecord& sys);

// Adds an arc (names are added when new) and returns its index, or -1 after
// error 79 (a state to itself, level 3; nothing is added).
int add_chain_arc(AnalysisContext& in, SystemRecord& sys, std::string_view from, std::string_view to, double rate);
// The same with a full edge record (semimark and mrgp arcs: the record goes to
// the system's `edges`, index for index with the arcs).
int add_chain_arc(AnalysisContext& in, SystemRecord& sys, std::string_view from, std::string_view to,
                  EdgeRecord arc);
// Empties the built chain (names, arcs, per-state data) before it is loaded
// anew; the declarations stay.
void clear_chain(ChainModel& m);

// The state named `name`, or -1 (the chain must be numbered).
int find_chain_state(const SystemRecord& sys, std::string_view name);

// The name a chain word stands for with the current index values; names
// longer than 29 characters are cut with warning 220.
std::string spell_chain_word(AnalysisContext& in, const ChainWord& word);

// Classification. Numbers the states topologically (acyclic chains) or with
// the absorbing states at the end (cyclic chains), renumbers the arcs and
// builds the offset arrays; returns the class code for `kind` (the block
// code: markov 2, semimark 3, pfqn 7, mpfqn 8, mrgp 3001; others are treated
// as their own code): 140/141/142 for markov, 143/144 for semimark, 0 after
// error 114 for a rejected routing chain. A cyclic semimark chain with
// absorbing states is error 132 (level 2). `label` names the chain in error
// 114 (the system name by default).
int mtopsort(AnalysisContext& in, SystemRecord& sys, int kind, const std::string& label = "");

// Classifies a chain that has states and stores the class in s_type.
void classify_chain(AnalysisContext& in, SystemRecord& sys);

// Before analysis: rebuilds the arcs of a chain with loop groups for the
// current parameter values (direct arcs first, then the groups in the order
// written) and classifies it; sets every state's initial probability and
// reward (the default reward, then the loop groups, then the direct lines),
// and resolves the fastmttf sets. Errors: 80 for a chain without states, 53
// and 151 for a loop range that is decreasing or has a step that is not
// positive, 35 for a probability, reward or set naming no state (all level
// 2), 79 for a self-loop; warning 25 when a state's initial probability is
// given twice.
void expand_chain(AnalysisContext& in, SystemRecord& sys);

// Binds the rates of the arcs written directly and computes every state's
// total outflow (each rate divided by the state's reward when computing
// rewards). Errors (level 2): 52 for a negative rate, 147 for a state with
// outflow and reward 0 when computing rewards; for routing chains (pfqn,
// mpfqn) 50 when a state's branch probabilities add up to more than 1.
void rebind_markov(AnalysisContext& in, SystemRecord& sys, bool computing_reward);

// Validates the starting probabilities (warnings 117, 118, 140), gives state 0
// probability 1 when none is given and state 0 has no incoming arc while
// state 1 has one (else error 43), and returns the first state with a
// non-zero starting probability.
int check_starting_probs(AnalysisContext& in, SystemRecord& sys);

// A state with outflow below epsilon (or no arcs out) is absorbing.
bool is_absorbing(const ChainModel& m, int state, double epsilon);
// Some state reachable from the start cannot reach an absorbing state.
bool has_non_transient_states(const ChainModel& m, double epsilon);
// The chain is not irreducible over its arcs of rate >= epsilon (all arcs when
// `all_arcs`).
bool not_irreducible(const ChainModel& m, double epsilon, bool all_arcs = false);
// Bookkeeping of the closed forms asked for: marks the absorbing states
// without a closed form when `need_overall`, clears the marks of states that
// have one; true when some state still needs its closed form.
bool need_a_node(ChainModel& m, bool need_overall, double epsilon);

}  // namespace corvel
