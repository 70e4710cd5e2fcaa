#pragma once
// The component tree shared by block diagrams, fault trees and series-parallel
// graphs: one rooted tree of gate nodes over component nodes, how it is built
// from a model's node table, how its k-of-n gates are bound and rewritten, and
// the bottom-up analysis of a tree in which every event occurs once.
//
// Everything is a failure-time (or completion-time) CDF: a component's
// distribution F(t) is the probability that it has failed by t, and a node's
// result the probability that the node's sub-system has failed by t.
//
// Tree nodes live in an arena owned by the system's TreeModel and refer to
// each other by index; every walk over a tree uses an explicit stack, so a
// tree of any depth is safe.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expo/exponomial.h"
#include "expo/sym_pq.h"
#include "model/measure_call.h"
#include "model/system_store.h"

namespace corvel {

class AnalysisContext;

// Node type codes (also the `entry` of a node-table record).
enum TreeNodeType {
    NT_SERIAL = 1,    // sum of the children's times (graph sequence)
    NT_PROB = 2,      // probabilistic choice among the children (graph branching)
    NT_MIN = 3,       // first child to fail: fault-tree OR, block series
    NT_MAX = 4,       // last child to fail: fault-tree AND, block parallel
    NT_KOFN = 5,      // k-of-n gate or block
    NT_LEAF = 6,      // basic event or block component
    NT_TRANSFER = 7,  // reference to another event
    NT_REPEAT = 8,    // repeated (shared) event
    NT_NMIN = 9,      // NOR
    NT_NMAX = 10,     // NAND
    NT_NKOFN = 11,    // complement of a k-of-n gate
    NT_NOT = 12,      // NOT, exactly one input
};

// The label the tree printer uses for a type ("unknown" for codes without one).
const char* tree_node_type_label(int type);

struct TreeNode {
    int type = 0;
    int first_node = -1;          // node-table index this tree node stands for
    std::vector<int> kids;        // children, in order
    std::vector<int> kids_bak;    // declared children of a rewritten k-of-n gate
    bool has_bak = false;
    int k = 0, n = 0;             // as bound by bind_k_n
    Exponomial cdf;               // result of the last analysis (see analyze_tree)
    SymFormula sym_cdf;           // p-q formula while one is being built
    double mttf = 0.0;            // per-node mean time to failure
    double avail = 0.0;           // per-node availability
};

// One execution path of a graph analysed with "multpath".
struct PathResult {
    std::vector<int> nodes;       // node-table indices along the path
    double probability = 1.0;     // product of the branch probabilities on it
    Exponomial dist;              // completion-time CDF given that the path is taken
};

struct RepeatedTreeState;
struct MstreeAnalysis;

struct TreeModel : ModelData {
    std::vector<TreeNode> tree;   // arena
    int root = -1;
    std::vector<int> map;         // component indices, in declaration order
    int symbolic_kn = 0;          // k-of-n gates whose k or n is an expression
    int save_last_in_map = 0;     // size of `map` when the tree was built
    int save_lastnode = 0;        // size of the node table when the tree was built
    bool has_repeat_or_transfer = false;

    // Graphs: the exit type given for each node (0 when none), indexed like
    // the node table.
    std::vector<int> exit_type;
    // Graphs with "multpath": the paths of the last analysis.
    std::vector<PathResult> paths;
    // Fault trees with repeated events: the state of their solvers.
    std::shared_ptr<RepeatedTreeState> repeated;
    // Multi-state trees: the diagrams of their top events and gates.
    std::shared_ptr<MstreeAnalysis> mstree;

    // A new tree node (taken from the released ones when there are any).
    // Beyond kMaxTreeNodes nodes the allocation is refused with internal
    // error 7 through `in`.
    int new_node(AnalysisContext& in, int type, int first_node);
    // Releases a node and everything below it.
    void release(int node);
    // Releases one node; its children stay (they may have other parents).
    void release_one(int node);
    int live_nodes() const { return static_cast<int>(tree.size() - free_.size()); }

    static constexpr int kMaxTreeNodes = 1 << 21;

private:
    std::vector<int> free_;
};

// The tree data of a system, created on first use (null for the const form
// when there is none).
TreeModel& tree_model(SystemRecord& sys);
const TreeModel* find_tree_model(const SystemRecord& sys);

// Display name of a node: a copy record ";i;c" made for a further occurrence
// of event i shows as "name(c)"; any other name unchanged.
std::string real_name(const SystemRecord& sys, int node);

// Follows transfers from `node` to the record they finally refer to; -1 for
// a transfer loop.
int resolve_transfer(const SystemRecord& sys, int node);

// Builds the tree below node-table record `node` and returns its root. In a
// fault tree with repeated events (type 146) every further occurrence of a
// basic event becomes a separate copy record, and a gate with no basic event
// below it is built once and shared by all the gates that name it (so the
// tree is then a directed acyclic graph; every walk visits a node once).
int make_btree(AnalysisContext& in, SystemRecord& sys, int node);

// Deep copy of a sub-tree; returns the new root.
int copy_tree(AnalysisContext& in, TreeModel& tm, int node);

// Before each analysis: restores rewritten k-of-n gates, evaluates symbolic k
// and n (errors 46 and 47 at `level`, 49 at level 2) and sets k and n of the
// AND/OR-type gates from their child counts.
void bind_k_n(AnalysisContext& in, SystemRecord& sys, int root, int level);

// k or n of the k-of-n gate or exit `node` as an integer (truncated), refused
// at `level` when it is not finite or too large to count; `which` is "k" or "n".
int kofn_count(AnalysisContext& in, double value, const char* which, const std::string& node, int level);

// Rewrites every k-of-n gate below `root` into OR/AND structure (nkofn
// becomes not over the rewritten gate). Shorthand gates are refused (205).
void rewrite_kofn(AnalysisContext& in, SystemRecord& sys, int root);

// Computes the CDF of every node below and including `root`, for a system of
// type `ttype`. Children's results are released once their parent has used
// them; the root keeps its result, and so does every tree node that stands for
// node-table record `keep` (when keep >= 0). Exponomial errors are reported
// as internal errors.
void analyze_tree(AnalysisContext& in, SystemRecord& sys, int root, int ttype, int keep = -1);

// Graphs with "multpath": one distribution per execution path, kept in the
// model's `paths`; returns the overall distribution Σ probability × CDF.
Exponomial mult_path_cdf(AnalysisContext& in, SystemRecord& sys);

// The paths of the last "multpath" analysis, or null when the system has none.
const std::vector<PathResult>* tree_paths(const SystemRecord& sys);
// The display names of a path's nodes.
std::vector<std::string> path_node_names(const SystemRecord& sys, const PathResult& path);

// The CDF the last analysis kept for node-table record `node`, or null.
const Exponomial* tree_node_cdf(const SystemRecord& sys, int node);

// Builds the p-q formula of the tree (after the system was analysed, so that
// k and n are bound) and returns the root's formula.
SymFormula analyze_tree_pqcdf(AnalysisContext& in, SystemRecord& sys, int root, int ttype);
// The pqcdf statement's output after its header: the root's formula.
void print_tree_pqcdf(AnalysisContext& in, SystemRecord& sys);

// Binds every component distribution for the request: repair distributions
// combined with the failure rates, Weibull components at the call's time, and
// for tvalue every component replaced by its value at the time.
void bind_tree_components(AnalysisContext& in, SystemRecord& sys, const AnalysisRequest& req);

// The branch probabilities of a graph: bound, in [0, 1], present for every
// branch of a "prob" exit and adding up to one.
void check_probabilities(AnalysisContext& in, SystemRecord& sys);

// Solves graphs, block diagrams and fault trees without repeated events,
// leaving the results in the record.
void analyze_tree_system(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req);

}  // namespace corvel
