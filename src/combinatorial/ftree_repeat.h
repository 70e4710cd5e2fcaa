#pragma once
// Fault trees with repeated events (type 146): the decision-diagram solver,
// minimal cut sets with disjoint products, and factoring on the repeated
// components, with the listings each of them prints.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bdd/bdd.h"
#include "combinatorial/ftree_modules.h"
#include "combinatorial/importance.h"
#include "expo/exponomial.h"
#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// ------------------------------------------------------------------ decision diagrams

// Structure node: one per gate and event occurrence of the (rewritten) tree;
// a NOT gate contributes none, it complements its input instead. A gate the
// tree shares among several parents is one node (one per polarity), so the
// structure is a graph; `paths` counts the occurrences it stands for in the
// fully expanded tree. Children have smaller indices than their parents.
struct StructureNode {
    int type = 0;                // NT_MIN (or), NT_MAX (and), or the event's type
    int n_id = -1;               // node-table index; -1 for the AND gates of a rewritten k-of-n
    std::uint64_t weight = 0;    // event occurrences below (saturating)
    std::uint64_t paths = 0;     // occurrences in the expanded tree (saturating)
    std::vector<int> kids;
    bool inverse = false;        // output complemented
    bool through_transfer = false;  // an event reached by following a transfer
    bdd b = kBddNull;
};

struct FtBddInfo {
    BddManager* m = nullptr;
    bdd root = kBddNull;
    std::vector<int> listvar;            // order position -> node-table index
    std::vector<bdd> v_bdd;              // per record: its variable, or the gate's function
    std::vector<std::uint64_t> fanout;   // per record: occurrences in the tree (saturating)
    int nvar = 0;                        // components (leaves and repeats, copies included)
    std::vector<StructureNode> st;
    int st_root = -1;
    Exponomial b_cdf;

    FtBddInfo();
    ~FtBddInfo();
    FtBddInfo(const FtBddInfo&) = delete;
    FtBddInfo& operator=(const FtBddInfo&) = delete;
};

// Builds the structure tree, the variable order and the BDD of the top event
// (and of every named gate) into a new FtBddInfo.
// With an unlucky variable order (a repeated event placed early and used
// again far down the order) the diagram grows exponentially with the number
// of such events: a diagram that reaches `node_limit` live nodes (0: none)
// or the nodes the available memory holds stops the analysis with error 150
// instead of exhausting the memory.
std::unique_ptr<FtBddInfo> analyze_ftree_with_bdd(AnalysisContext& in, SystemRecord& sys, long node_limit = 0);
// A null result of a building operation ends the run with error 150, after
// a line naming the size reached when it was the memory that ran out.
bdd ftbdd_checked(AnalysisContext& in, BddManager* m, bdd f);
// The structure graph of the rewritten tree (`st`, `st_root`, `fanout`),
// without variables or diagrams.
std::unique_ptr<FtBddInfo> ftbdd_structure(AnalysisContext& in, SystemRecord& sys);
// `f` evaluated by the expansion F·(R − L) + L, the variable at order
// position p having the distribution dist(p).
Exponomial ftbdd_evaluate_with(BddManager* m, bdd f, const std::function<const Exponomial&(long)>& dist,
                               const Tolerances& tol);
// The failure-time distribution of `f` by the expansion F·(R − L) + L.
Exponomial ftbdd_evaluate(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, bdd f);
// The distribution of gate or event `node` (transfers followed; a loop is
// error 212): its own diagram evaluated.
Exponomial ftbdd_form_gate_exponomial(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, int node);
// Structural, Birnbaum or criticality importance of component `comp`.
double ftbdd_importance(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, int comp, Kw kind);
// Probabilities of the top event, of its two cofactors on component `comp`
// (failed, working) and of the component, from the bound distributions. A
// component without a variable leaves both cofactors equal to the top.
CofactorProbabilities ftbdd_cofactor_probabilities(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info, int comp);
void ftbdd_print_mincuts(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info);
void ftbdd_print_minpaths(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info);
void ftbdd_print_p_q_form(AnalysisContext& in, SystemRecord& sys, FtBddInfo& info);

// ------------------------------------------------------------------ cut sets and disjoint products

// One minimal cut set: node-table indices, strictly ascending.
using CutTerm = std::vector<int>;
using TermList = std::vector<CutTerm>;

// Coordinate of a cube: value 0, 1 or 2 ('0', '1', 'x'; 3 and 4 'y', 'z'
// only inside the coordinate sharp), the group of a '0' and whether it is the
// only member of its group.
struct Coordinate {
    std::uint8_t value = 2;
    bool unique = false;
    int zero_step = 0;
};
using Cube = std::vector<Coordinate>;

// Term operations, exposed for tests: the ascending merge, the comparison
// codes 1 (r ⊇ p), 2 (r ⊂ p), 4 (r shorter) and 3, and the minimal insert.
CutTerm combine_terms(const CutTerm& a, const CutTerm& b);
int compare_ln(const CutTerm& r, const CutTerm& p);
void insert_ln_term(TermList& list, CutTerm t);

// The minimal cut sets of the tree, ordered by size (ties in arrival order).
TermList compute_minsum(AnalysisContext& in, SystemRecord& sys);
// The minimal path sets of a coherent tree (the cut sets of its dual).
TermList compute_minpaths(AnalysisContext& in, SystemRecord& sys);
// Disjoint cubes of the terms over the component list `map` (by position).
std::vector<Cube> gkg_algorithm(AnalysisContext& in, const SystemRecord& sys, const std::vector<int>& map,
                                const TermList& terms);
// The same over terms given as coordinate positions of a cube of `width`;
// `name` titles the verbose listing of the term cubes.
std::vector<Cube> gkg_cubes(AnalysisContext& in, const std::string& name, size_t width, const TermList& terms);
// Σ over the cubes of the product of their factors, where in_state[p] is the
// probability that component p is in the terms' state.
Exponomial disjoint_sum(const std::vector<Exponomial>& in_state, const std::vector<Cube>& cubes,
                        const Tolerances& tol);
// Σ over the cubes of the product of their factors (failure CDFs).
Exponomial form_exponomial(AnalysisContext& in, const SystemRecord& sys, const std::vector<int>& map,
                           const std::vector<Cube>& cubes);
// The same sum evaluated at t from the components' own values, each cube a
// product of non-negative factors: the stable route of that closed form.
std::shared_ptr<const NumericDist> disjoint_sum_dist(AnalysisContext& in, const SystemRecord& sys,
                                                     const std::vector<int>& map, std::vector<Cube> cubes);
// An upper estimate of the term count of form_exponomial (capped at 1e300).
double predicted_cube_terms(const SystemRecord& sys, const std::vector<int>& map, const std::vector<Cube>& cubes);
void print_mincuts(AnalysisContext& in, const SystemRecord& sys, const TermList& terms);
void print_p_q_form(AnalysisContext& in, const SystemRecord& sys, const std::vector<int>& map,
                    const std::vector<Cube>& cubes);
// The cubes in p-q form: in_letter for a coordinate in state and for group
// members, out_letter for a unique zero; cubes separated by "+\n".
void write_p_q_cubes(AnalysisContext& in, const std::vector<Cube>& cubes, const std::function<std::string(size_t)>& name,
                     char in_letter, char out_letter);

// ------------------------------------------------------------------ factoring

int count_repeated_components(const SystemRecord& sys);
Exponomial analyze_ftree_with_factoring(AnalysisContext& in, SystemRecord& sys);

// ------------------------------------------------------------------ the solver of type 146

struct RepeatedTreeState {
    // Shared with the stable route of the distribution they gave.
    std::shared_ptr<FtBddInfo> bdd;
    // The order-free diagrams, for requests that print nothing that depends
    // on the variable order.
    std::shared_ptr<FtFastTree> fast;
    bool has_minsum = false;
    TermList minsum;
    bool has_cubes = false;
    std::vector<Cube> cubes;
};
RepeatedTreeState& repeated_state(SystemRecord& sys);

// The dispatcher's route for type 146: BDD, factoring or cut sets; leaves
// the distribution in the record.
void analyze_repeated_ftree(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req);
// The listings after their headers (mincuts, minpaths, pqcdf) and the
// importance measures, from whichever analysis ran.
void print_repeated_listing(AnalysisContext& in, SystemRecord& sys, Kw kind);
double repeated_importance(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call);
// The events of the tree that an importance ranking lists, in declaration
// order (copies of basic events included).
std::vector<int> repeated_ranked_components(const SystemRecord& sys);
// One importance value of event record `rec`, without warnings; `undefined`
// is set when the measure has no value at this time point.
double repeated_importance_value(AnalysisContext& in, SystemRecord& sys, int rec, Kw kind, bool& undefined);

}  // namespace corvel
