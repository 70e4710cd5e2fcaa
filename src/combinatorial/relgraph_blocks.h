#pragma once
// The record of a reliability graph, as its block fills it.
//
// Nodes are the system's names and edges the system's edge records (from/to
// are name-table positions). An edge named after "transfer" on another
// edge's line is a repetition of that edge: `is_repeat` is set, `repeat` is
// the first edge's index and it shares the first edge's distributions. Edges
// after "bidirect" have `bidirect` set.

#include <memory>
#include <vector>

#include "model/system_store.h"

namespace corvel {

// One entry of a node's successor or predecessor list.
struct RelgraphLink {
    int edge = -1;      // index into the system's edges
    bool back = false;  // the edge is crossed against its declared direction (bidirect)
};

struct RelgraphState;

struct RelgraphModel : ModelData {
    // Per node: its successor and predecessor lists. Each edge is entered at
    // the front, so a list runs from the last declared edge to the first; a
    // two-way edge is also entered as a successor of its to-node and a
    // predecessor of its from-node, flagged `back`.
    std::vector<std::vector<RelgraphLink>> succ, pred;
    // What the solvers keep between requests (see relgraph_solve.h).
    std::shared_ptr<RelgraphState> state;
};

// The model record of a reliability graph (null for other kinds).
RelgraphModel* relgraph_model(SystemRecord& sys);

}  // namespace corvel
