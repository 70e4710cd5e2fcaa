#pragma once
// Bottom-up walk over a diagram without recursion, so that diagrams deeper
// than the call stack are safe to evaluate.

#include <vector>

#include "bdd/bdd.h"

namespace corvel {

// Calls visit(h) once for every regular, non-constant node below `root`
// (root included), each node after both of its children.
template <class Visit>
void bdd_walk_bottom_up(BddManager* m, bdd root, Visit&& visit) {
    if (bdd_is_constant(m, root)) return;
    std::vector<bdd> order;
    bdd_postorder(m, root, order);
    for (bdd h : order) visit(h);
}

}  // namespace corvel
