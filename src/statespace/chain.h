#pragma once
// State-space chains (markov, semimark and mrgp blocks): the record a block
// leaves in its system, and the expansion that turns the block's loop groups,
// initial probabilities and rewards into concrete arcs and state values for
// the current parameter values.
//
// Layout. The arcs are the system's `edges`; while the chain is being built
// `from`/`to` are positions in the system's name table. Arcs written directly
// in the block come first (`num_direct_arcs` of them) and keep their rate
// expression (`symrate`) or distribution (`udist`) unevaluated; arcs made by
// loop groups follow, each with its rate computed at expansion (`rate`, no
// `symrate`, since the loop index has no value afterwards). Per name the
// model keeps its successor and predecessor lists and its in-degree; the
// state table `states` is made from them, one state per name, in name order
// until the chain is classified (the classification may renumber it and the
// arcs, and records that in `state_of_name`).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "expo/distribution.h"
#include "expo/exponomial.h"
#include "interp/system_store.h"
#include "symbols/expression.h"

namespace corvel {

class Interpreter;

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

// An initial probability or a reward written directly: the state's name and
// the value expression.
struct StateValue {
    std::string state;
    std::shared_ptr<Expr> value;
};

// Entry of a successor or predecessor list. `dup` marks the second and later
// arcs between the same ordered pair of states; such entries do not count
// toward in-degrees.
struct ArcRef {
    int edge = -1;
    bool dup = false;
};

struct NameLinks {
    std::vector<ArcRef> succ, pred;
    int count_pred = 0;  // in-degree over the unflagged entries
};

// One state of the chain.
struct ChainState {
    std::string name;
    std::vector<ArcRef> succ, pred;  // outgoing and incoming arcs (edge indices)
    double start_prob = 0.0;         // initial probability
    double reward = 0.0;             // reward rate

    // Filled by the solvers.
    double prob = 0.0;               // visit, steady-state or absorption probability
    double rate_out = 0.0;           // total rate out of the state
    double mean_time = 0.0;          // mean time spent in the state
    double tprob = 0.0, tcumprob = 0.0;  // transient and cumulative probability at the last time
    Exponomial own_dist;             // sojourn distribution (semi-Markov)
    Exponomial dist;                 // probability in the state at t, or CDF of reaching it
    Exponomial ldist;                // CDF of having entered and left the state
    bool gen = false;                // has a general transition (regenerative processes)
    Exponomial gen_dist;             // ... and its distribution
    bool need_node = false;
    bool reached = false, node_okay = false;  // work flags of the reachability searches
};

struct ChainModel : ModelData {
    // Declarations, as read.
    int num_direct_arcs = 0;                 // leading arcs of `edges` written directly
    int num_direct_names = 0;                // names seen by the direct arcs
    std::vector<std::unique_ptr<ChainLoop>> loop_arcs, loop_probs, loop_rewards;
    std::vector<StateValue> start_probs, rewards;
    std::shared_ptr<Expr> default_reward;    // null: rewards default to 0
    std::vector<std::string> set_a, set_f;   // the fastmttf sets, in the order written

    // The chain as last built.
    std::vector<NameLinks> links;            // indexed like the name table
    std::unordered_set<std::uint64_t> pairs; // (from, to) name pairs with an arc
    std::vector<ChainState> states;
    std::vector<int> state_of_name;          // name position -> state index
    bool numbered = false;                   // `states` matches the arcs
    std::vector<int> set_a_states, set_f_states;  // the sets as state indices (after expansion)
};

// The chain record of a system, made on first use; null from find_chain for a
// system that has none.
ChainModel& chain_of(SystemRecord& sys);
ChainModel* find_chain(SystemRecord& sys);
const ChainModel* find_chain(const SystemRecord& sys);

// Adds an arc from state `from` to state `to` (names are added when new),
// taking the rest of the record from `arc`; returns its edge index. An arc from
// a state to itself is error 79 (level 3), and nothing is added.
int add_chain_arc(Interpreter& in, SystemRecord& sys, std::string_view from, std::string_view to,
                  EdgeRecord arc);

// Makes the state table from the arcs: one state per name, in name order.
void number_chain_states(SystemRecord& sys);

// The state named `name`, or -1.
int find_chain_state(const SystemRecord& sys, std::string_view name);

// The name a chain word stands for with the current index values; names
// longer than 29 characters are cut with warning 220.
std::string spell_chain_word(Interpreter& in, const ChainWord& word);

// The text of an index substitution of value v: its integer part.
std::string substitution_text(double v);

// Before analysis: rebuilds the arcs of a chain with loop groups for the
// current parameter values (direct arcs first, then the groups in the order
// written), numbers the states, and sets every state's initial probability
// and reward (the default reward, then the loop groups, then the direct
// lines), and resolves the fastmttf sets. Errors: 80 for a chain without
// states, 53 and 151 for a loop range that is decreasing or has a step that
// is not positive, 35 for a probability, reward or set naming no state (all
// level 2), 79 for a self-loop; warning 25 when a state's initial probability
// is given twice.
void expand_chain(Interpreter& in, SystemRecord& sys);

}  // namespace corvel
