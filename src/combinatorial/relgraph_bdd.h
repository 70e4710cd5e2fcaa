#pragma once
// Reliability graphs by decision diagrams: the BDD of "some working path
// leads from a source to a sink" (a variable 1 means the edge works), its
// evaluation into the failure-time CDF, edge importance, and the cut-set,
// path-set and p-q listings. The paths are enumerated with an explicit stack,
// so long graphs never exhaust the call stack.

#include <memory>
#include <string>
#include <vector>

#include "bdd/bdd.h"
#include "combinatorial/importance.h"
#include "expo/exponomial.h"
#include "model/keywords.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;
struct RelgraphModel;

// At most this many edges (repeats not counted) get a variable of their own.
constexpr long kMaxRelgraphVariables = 65534;

struct RgBddInfo {
    BddManager* m = nullptr;
    bdd root = kBddNull;              // the graph works
    std::vector<bdd> edge;            // per edge: its variable (a repeat shares its owner's)
    std::vector<int> id_edge;         // variable identifier - 1 -> owning edge
    long paths = 0;                   // simple source-sink paths enumerated
    Exponomial b_cdf;                 // last evaluation of root

    RgBddInfo();
    ~RgBddInfo();
    RgBddInfo(const RgBddInfo&) = delete;
    RgBddInfo& operator=(const RgBddInfo&) = delete;

    // The owning edge of a node's top variable.
    int edge_of(bdd f) const;
};

// The edge whose variable edge `e` uses (itself unless it repeats another).
int owner_edge(const SystemRecord& sys, int e);

// Builds the diagram; a graph with more distinct edges than the package has
// variables is refused with a clear error.
std::unique_ptr<RgBddInfo> rgbdd_generate(AnalysisContext& in, SystemRecord& sys, const RelgraphModel& g);
// P(graph down) for function f (f = info.root gives the unreliability), from
// the edges' bound failure CDFs.
Exponomial rgbdd_evaluate(AnalysisContext& in, const SystemRecord& sys, const RgBddInfo& info, bdd f);
// Structural (simpt), Birnbaum (bimpt) or criticality (cimpt) importance of edge `e`.
double rgbdd_importance(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info, int e, Kw kind);
// Unreliability of the graph, of its cofactors on edge `e` (edge failed,
// edge working) and the edge's failure probability, from the bound CDFs.
CofactorProbabilities rgbdd_cofactor_probabilities(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info, int e);
void rgbdd_print_mincuts(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info);
void rgbdd_print_minpaths(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info);
void rgbdd_print_p_q_form(AnalysisContext& in, const SystemRecord& sys, RgBddInfo& info);

// "(%d:%s->%s)": an edge as the diagram printer names its variable.
std::string rg_edge_label(const SystemRecord& sys, int e);

}  // namespace corvel
