#pragma once
// Fault trees with repeated events solved for numbers only: probabilities,
// distributions and everything computed from them do not depend on the
// variable order, so this route is free to choose it.
//
// The structure graph is simplified (constants folded, one-input gates
// removed, an and below an and or an or below an or merged into its only
// parent, repeated inputs and complementary pairs resolved), split into
// modules (gates whose sub-graph shares no event or gate with the rest of
// the tree), and each module gets a diagram of its own over its events and
// the modules directly below it, each of those standing for one variable.
// A module's variables are ordered by a structural heuristic.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bdd/bdd.h"
#include "combinatorial/ftree_bounds.h"
#include "expo/exponomial.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// Variable orders within a module.
enum class FtOrder {
    DepthFirst,    // events and modules as a depth-first walk meets them, inputs in the tree's order
    Weight,        // at each gate the inputs by ascending number of event occurrences below
    RepeatedFirst,  // at each gate the repeated inputs first, then the other events, then the gates
    Leftmost,       // every input as the walk meets it, descending into a gate at once, in the tree's order
    LeftmostWeight, // the same walk, at each gate the inputs by ascending number of event occurrences below
    Force,          // depth first, then each input moved to the centres of the gates that use it while the spans shrink
    Adaptive        // per module the one of DepthFirst, Weight, RepeatedFirst, Force that does best within small budgets
};

struct FtModule {
    bdd root = kBddNull;    // the module's function over its own variables
    std::vector<int> vars;  // by order position from `first`: event record (>= 0) or ~module (< 0)
    long first = 0;         // order position of its first variable
};

// The probability of a function and of its complement, each summed from
// non-negative products, so neither is got by cancelling the other.
struct FtPair {
    double p, q;
};

// What evaluating a diagram with pairs reads: its nodes in post-order
// (children first) and the reference to its root.
struct FtPlan {
    std::vector<BddPostorder::Kids> kids;
    std::uint32_t root = BddPostorder::kRefOne;
};
FtPlan ft_plan(BddManager* m, bdd f);
// (p, q) of the root, `var` by order position.
FtPair evaluate_pairs(const FtPlan& plan, const std::vector<FtPair>& var);
FtPair evaluate_pairs(BddManager* m, bdd f, const std::vector<FtPair>& var);

// The simplified graph and its modules, kept when the exact diagrams do not
// fit in memory (ftree_modules.cpp).
struct FtStructure;

struct FtFastTree {
    BddManager* m = nullptr;
    std::vector<FtModule> modules;  // every module after those below it; the last is the top
    int constant = -1;              // 0 or 1 when the tree reduces to a constant, else -1
    bool top_negated = false;       // the top event is the complement of the last module
    long gates = 0;                 // gates of the simplified graph
    long peak_nodes = 0;            // largest number of live nodes while building
    // Set when the exact diagrams did not fit in memory and the tree is
    // coherent: every request then gets bounds instead of the probability.
    std::shared_ptr<const FtStructure> out_of_reach;

    FtFastTree();
    ~FtFastTree();
    FtFastTree(const FtFastTree&) = delete;
    FtFastTree& operator=(const FtFastTree&) = delete;
};

// Builds the modules and their diagrams of the (k-of-n rewritten) tree.
// A diagram that reaches the nodes the available memory holds ends the run
// with error 150 when the tree is not coherent; a coherent tree keeps its
// structure for the bounds instead (`out_of_reach`).
// Under the adaptive order, every module of at least 32 gates is first
// built under each order with at most `trial_nodes` new nodes (and, when
// none completes, under two of them with 20 and 32 times as many).
constexpr long kFtTrialNodes = 1L << 15;
std::unique_ptr<FtFastTree> build_fast_ftree(AnalysisContext& in, SystemRecord& sys,
                                             FtOrder order = FtOrder::Adaptive, long trial_nodes = kFtTrialNodes);
// The failure-time distribution of the top event under the current
// component distributions: the modules bottom-up, each a variable of its
// parent. With constant probabilities every node carries the pair (p, 1 − p)
// computed from sums of non-negative products, so no digit is lost to
// cancellation, however close to 0 or 1 the values are.
// A tree out of reach prints the warning and the bounds on the probability
// at `time` (the constant probabilities when the events have them; a time
// is needed otherwise) and yields the undefined value, never one of them as
// if it were the answer; without a time, or when no pruned diagram fits
// either, it ends with error 150.
Exponomial fast_ftree_evaluate(AnalysisContext& in, const SystemRecord& sys, const FtFastTree& t,
                               std::optional<double> time = std::nullopt);
// The bounds on the probability of a tree out of reach at `time` (see
// fast_ftree_evaluate), without printing; nullopt when the tree is within
// reach, needs a time it was not given, or fits no pruned diagram either.
std::optional<FtBoundPair> fast_ftree_bounds(AnalysisContext& in, const SystemRecord& sys, const FtFastTree& t,
                                             std::optional<double> time = std::nullopt);
// Nodes of all module diagrams together.
long fast_ftree_size(const FtFastTree& t);

}  // namespace corvel
