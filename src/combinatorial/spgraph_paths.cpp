// Series-parallel task graphs: the per-path analysis of "multpath". The
// graph's spine of sequences and probabilistic branches is walked from the
// root; every other gate is analysed as one unit.

#include <algorithm>
#include <vector>

#include "combinatorial/tree.h"
#include "model/context.h"

namespace corvel {

namespace {

// The most execution paths "multpath" keeps.
constexpr size_t kMaxPaths = 100000;

// ------------------------------------------------------------------ paths

// The graph nodes below a tree node, in tree order.
std::vector<int> nodes_below(const TreeModel& tm, int t) {
    std::vector<int> out;
    std::vector<int> stack{t};
    while (!stack.empty()) {
        int x = stack.back();
        stack.pop_back();
        const TreeNode& tn = tm.tree[static_cast<size_t>(x)];
        if (tn.type == NT_LEAF) out.push_back(tn.first_node);
        for (auto it = tn.kids.rbegin(); it != tn.kids.rend(); ++it) stack.push_back(*it);
    }
    return out;
}

}  // namespace

Exponomial mult_path_cdf(AnalysisContext& in, SystemRecord& sys) {
    TreeModel& tm = tree_model(sys);
    tm.paths.clear();
    const Tolerances& tol = in.settings.tol;
    // Under a work limit every path (its nodes, its closed form, its printed
    // lines) counts as twenty units of work.
    const size_t most_paths = in.settings.work_limit >= 0
                                  ? std::min(kMaxPaths, static_cast<size_t>(std::max(1L, in.settings.work_limit / 20)))
                                  : kMaxPaths;
    std::vector<std::vector<PathResult>> paths(tm.tree.size());
    // Post-order over the sequence/branching spine; every other gate is a unit.
    std::vector<std::pair<int, bool>> stack{{tm.root, false}};
    try {
        while (!stack.empty()) {
            auto [t, expanded] = stack.back();
            const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
            const bool spine = tn.type == NT_SERIAL || tn.type == NT_PROB;
            if (!expanded && spine) {
                stack.back().second = true;
                for (auto it = tn.kids.rbegin(); it != tn.kids.rend(); ++it) stack.emplace_back(*it, false);
                continue;
            }
            stack.pop_back();
            std::vector<PathResult>& mine = paths[static_cast<size_t>(t)];
            if (tn.type == NT_LEAF) {
                const NodeInfo& info = sys.nodes[static_cast<size_t>(tn.first_node)];
                PathResult p;
                p.nodes.assign(1, tn.first_node);
                p.probability = info.has_prob ? info.prob : 1.0;
                p.dist = info.dist;  // conditional: the branch probability is the path's weight
                mine.push_back(std::move(p));
            } else if (tn.type == NT_PROB) {
                for (int kid : tn.kids) {
                    for (PathResult& p : paths[static_cast<size_t>(kid)]) mine.push_back(std::move(p));
                    paths[static_cast<size_t>(kid)].clear();
                }
            } else if (tn.type == NT_SERIAL) {
                bool first = true;
                for (int kid : tn.kids) {
                    std::vector<PathResult>& next = paths[static_cast<size_t>(kid)];
                    if (first) {
                        mine = std::move(next);
                        first = false;
                        continue;
                    }
                    if (static_cast<double>(mine.size()) * static_cast<double>(next.size()) > static_cast<double>(most_paths))
                        throw ExpoError(150, "path list");
                    std::vector<PathResult> joined;
                    joined.reserve(mine.size() * next.size());
                    for (const PathResult& a : mine)
                        for (const PathResult& b : next) {
                            PathResult p;
                            p.nodes = a.nodes;
                            p.nodes.insert(p.nodes.end(), b.nodes.begin(), b.nodes.end());
                            p.probability = a.probability * b.probability;
                            convolution_dists(a.dist, b.dist, p.dist, tol);
                            joined.push_back(std::move(p));
                        }
                    mine = std::move(joined);
                    next.clear();
                }
            } else {
                // MIN, MAX, KOFN: analysed as one unit, probabilities inside it.
                analyze_tree(in, sys, t, sys.type);
                PathResult p;
                p.nodes = nodes_below(tm, t);
                p.dist = std::move(tm.tree[static_cast<size_t>(t)].cdf);
                tm.tree[static_cast<size_t>(t)].cdf.clear();
                mine.push_back(std::move(p));
            }
            if (mine.size() > most_paths) throw ExpoError(150, "path list");
        }
    } catch (const ExpoError& e) {
        in.err.error(e.number, kInternal, e.text, false);
    }
    tm.paths = std::move(paths[static_cast<size_t>(tm.root)]);
    Exponomial overall;
    for (const PathResult& p : tm.paths) scalar_mult_and_add(p.dist, p.probability, overall, tol);
    return overall;
}

}  // namespace corvel
