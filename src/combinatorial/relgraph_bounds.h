#pragma once
// Bounds on the unreliability of a reliability graph at a time point, for
// graphs whose paths are too many for the exact solution. The upper bound
// selects paths (each adds P(it works and no selected path works) to the
// reliability), the lower bound selects cut sets (each adds P(it fails and no
// selected cut has failed) to the unreliability). Candidates come first from
// a heuristic phase (disjoint shortest paths by −ln(1 − p), successive
// minimum cuts by −ln p) and then from an exhaustive one; a candidate whose
// contribution is below alpha (beta) times the remaining (accumulated) mass
// waits in a max-heap, and alpha is halved while the user left it unset. A
// wall-clock limit stops the search. Several sources or sinks are joined to
// one virtual source and sink by edges that never fail.

#include <chrono>
#include <cstddef>
#include <queue>
#include <vector>

#include "model/keywords.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// A candidate path or cut waiting for a later look, by its last known value.
struct BoundCandidate {
    double value = 0.0;
    std::vector<int> arcs;  // arcs of the search graph
};

// Max-heap of candidates by value.
class CandidateHeap {
public:
    void push(BoundCandidate c) { heap_.push(std::move(c)); }
    bool empty() const { return heap_.empty(); }
    double max_value() const { return heap_.top().value; }
    BoundCandidate pop() {
        BoundCandidate c = heap_.top();
        heap_.pop();
        return c;
    }
    size_t size() const { return heap_.size(); }

private:
    struct Less {
        bool operator()(const BoundCandidate& a, const BoundCandidate& b) const { return a.value < b.value; }
    };
    std::priority_queue<BoundCandidate, std::vector<BoundCandidate>, Less> heap_;
};

// Parameters of one bound computation, after the defaults are applied.
struct BoundParams {
    long limit = 1000;      // candidates per phase
    double factor = 0.05;   // alpha or beta
    bool user_factor = false;
    double seconds = 60.0;  // time limit
    bool check_time = false;  // the user set a positive runtime
};
BoundParams bound_params(const AnalysisContext& in, Kw kind);

// Summary of the last bound computation, for tests and reports.
struct BoundReport {
    int heuristic = 0, exhaustive = 0, selected = 0;
    double factor = 0.0;
    double value = 0.0;  // the bound on the unreliability
};

// Runs the bound (Kw::Lbound or Kw::Ubound) on the edges as bound for time
// t, leaves it in sys.s_dist and returns its value.
double relgraph_bound(AnalysisContext& in, SystemRecord& sys, Kw kind, double t, BoundReport* report = nullptr);

// Opaque per-graph state of the bound solvers (kept between queries).
struct RgBoundInfo {
    BoundReport last;
};

}  // namespace corvel
