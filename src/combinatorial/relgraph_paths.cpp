// The paths of a reliability graph for the solution without decision
// diagrams, and the failure CDF of their disjoint products.

#include <algorithm>

#include "combinatorial/relgraph_blocks.h"
#include "combinatorial/relgraph_solve.h"
#include "model/context.h"
#include "symbols/progress.h"

namespace corvel {

std::vector<RgPath> find_all_paths(const SystemRecord& sys, const RelgraphModel& g) {
    // A node's paths list the successor entries from the last to the first,
    // each entry's block in the order of the paths below it; a depth-first
    // walk over the entries in reverse order meets them in that order.
    std::vector<RgPath> all;
    std::vector<char> on_path(g.succ.size(), 0);
    struct Frame {
        int node;
        size_t left;  // entries not yet tried, taken from the back
        int edge;     // the edge into this node (-1 at the source)
        bool back;
    };
    std::vector<Frame> stack;
    auto emit = [&](int last_edge, bool last_back) {
        RgPath p;
        std::vector<std::pair<int, char>> items;
        for (const Frame& f : stack)
            if (f.edge >= 0) items.emplace_back(f.edge, f.back ? 1 : 0);
        items.emplace_back(last_edge, last_back ? 1 : 0);
        std::sort(items.begin(), items.end());
        for (auto [e, b] : items) {
            p.edges.push_back(e);
            p.back.push_back(b);
        }
        all.push_back(std::move(p));
        progress::update("path enumeration", "paths", all.size());
    };
    for (size_t v = 0; v < g.pred.size(); ++v) {
        if (!g.pred[v].empty()) continue;
        stack.push_back({static_cast<int>(v), g.succ[v].size(), -1, false});
        on_path[v] = 1;
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.left == 0) {
                on_path[static_cast<size_t>(f.node)] = 0;
                stack.pop_back();
                continue;
            }
            const RelgraphLink& link = g.succ[static_cast<size_t>(f.node)][--f.left];
            const EdgeRecord& e = sys.edges[static_cast<size_t>(link.edge)];
            const int w = link.back ? e.from : e.to;
            if (on_path[static_cast<size_t>(w)]) continue;
            if (g.succ[static_cast<size_t>(w)].empty()) {
                emit(link.edge, link.back);
            } else {
                on_path[static_cast<size_t>(w)] = 1;
                stack.push_back({w, g.succ[static_cast<size_t>(w)].size(), link.edge, link.back});
            }
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const RgPath& a, const RgPath& b) { return a.edges.size() < b.edges.size(); });
    return all;
}

Exponomial relgraph_paths_exponomial(AnalysisContext& in, const SystemRecord& sys, const std::vector<Cube>& cubes) {
    const Tolerances& tol = in.settings.tol;
    // A path's coordinate is in state while its edge works.
    std::vector<Exponomial> works;
    works.reserve(sys.edges.size());
    for (const EdgeRecord& e : sys.edges) {
        Exponomial r = e.dist;
        negate_and_add_scalar(r, 1.0, tol);
        works.push_back(std::move(r));
    }
    Exponomial up = disjoint_sum(works, cubes, tol);
    negate_and_add_scalar(up, 1.0, tol);
    return up;
}

}  // namespace corvel
