#pragma once
// Bottom-up walk over a diagram without recursion, so that diagrams deeper
// than the call stack are safe to evaluate.

#include <unordered_set>
#include <utility>
#include <vector>

#include "bdd/bdd.h"

namespace corvel {

// Calls visit(h) once for every regular, non-constant node below `root`
// (root included), each node after both of its children.
template <class Visit>
void bdd_walk_bottom_up(BddManager* m, bdd root, Visit&& visit) {
    if (bdd_is_constant(m, root)) return;
    std::unordered_set<bdd> done;
    std::vector<std::pair<bdd, bool>> stack{{bdd_regular(root), false}};
    while (!stack.empty()) {
        auto [h, expanded] = stack.back();
        stack.pop_back();
        if (done.count(h)) continue;
        if (!expanded) {
            stack.push_back({h, true});
            const bdd hi = bdd_then(m, h), lo = bdd_else(m, h);
            if (!bdd_is_constant(m, hi) && !done.count(bdd_regular(hi))) stack.push_back({bdd_regular(hi), false});
            if (!bdd_is_constant(m, lo) && !done.count(bdd_regular(lo))) stack.push_back({bdd_regular(lo), false});
            continue;
        }
        done.insert(h);
        visit(h);
    }
}

}  // namespace corvel
