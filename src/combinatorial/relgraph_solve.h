#pragma once
// Solving a reliability graph: binding the edge distributions for the
// request, then the exact solution by decision diagram (bdd on, or a graph
// with repeated edges) or by its paths turned into disjoint products (bdd
// off). The bound solvers (lbound, ubound) run from the measure layer after
// the edges are bound. What the solvers build is kept in the graph's
// RelgraphState and reused by later requests.

#include <memory>
#include <vector>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/relgraph_bdd.h"
#include "model/measure_call.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;
struct RelgraphModel;
struct RgBoundInfo;

// One source-sink path: its edges ascending, and for each whether it is
// crossed against its declared direction.
struct RgPath {
    std::vector<int> edges;
    std::vector<char> back;
};

struct RelgraphState {
    std::unique_ptr<RgBddInfo> rgbdd;           // exact diagram
    std::shared_ptr<RgBoundInfo> ubdd, lbdd;    // managers of the bounds
    bool has_paths = false;
    std::vector<RgPath> paths;
    bool has_cubes = false;
    std::vector<Cube> cubes;
};

RelgraphState& relgraph_state(SystemRecord& sys);
RelgraphModel& relgraph_graph(AnalysisContext& in, SystemRecord& sys);

// Binds the edge distributions for the request and leaves the graph's
// unreliability in sys.s_dist (not for the bounds, which compute their own).
void analyze_relgraph_system(AnalysisContext& in, SystemRecord& sys, AnalysisRequest& req);

// The exact diagram, built on first use.
RgBddInfo& relgraph_bdd(AnalysisContext& in, SystemRecord& sys);

// Every simple path from a source to a sink, by sources in node order, each
// source's paths in enumeration order, then stably ordered by length.
// Enumerated with an explicit stack.
std::vector<RgPath> find_all_paths(const SystemRecord& sys, const RelgraphModel& g);
// The failure CDF from the paths' disjoint products: 1 − Σ over the cubes.
Exponomial relgraph_paths_exponomial(AnalysisContext& in, const SystemRecord& sys, const std::vector<Cube>& cubes);

// The listings after their headers: mincuts, minpaths, pqcdf.
void print_relgraph_listing(AnalysisContext& in, SystemRecord& sys, Kw kind);
// bimpt, cimpt, simpt of the edge named by its number.
double relgraph_importance(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call);
// The edges an importance ranking lists: each edge that owns its variable.
std::vector<int> relgraph_ranked_components(const SystemRecord& sys);
// One importance value of edge `e`, without warnings (see cofactor_importance).
double relgraph_importance_value(AnalysisContext& in, SystemRecord& sys, int e, Kw kind, bool& undefined);

}  // namespace corvel
