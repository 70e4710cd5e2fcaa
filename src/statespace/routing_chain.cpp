// Irreducibility and visit ratios of routing chains.

#include "statespace/routing_chain.h"

#include <eigen3/Eigen/SparseCore>
#include <eigen3/Eigen/SparseLU>
#include <cmath>

#include "interp/interpreter.h"

namespace corvel {

namespace {

// Marks every state reachable from state 0 along the arcs (forward) or
// against them.
int reach_count(int n, const std::vector<RoutingArc>& arcs, double epsilon, bool forward) {
    std::vector<int> start(static_cast<size_t>(n) + 1, 0), next(arcs.size());
    for (const RoutingArc& a : arcs)
        if (std::fabs(a.prob) >= epsilon) ++start[static_cast<size_t>(forward ? a.from : a.to) + 1];
    for (int i = 0; i < n; ++i) start[static_cast<size_t>(i) + 1] += start[static_cast<size_t>(i)];
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (const RoutingArc& a : arcs) {
        if (std::fabs(a.prob) < epsilon) continue;
        int s = forward ? a.from : a.to;
        next[static_cast<size_t>(fill[static_cast<size_t>(s)]++)] = forward ? a.to : a.from;
    }
    std::vector<char> seen(static_cast<size_t>(n), 0);
    std::vector<int> stack{0};
    seen[0] = 1;
    int count = 1;
    while (!stack.empty()) {
        int s = stack.back();
        stack.pop_back();
        for (int e = start[static_cast<size_t>(s)]; e < start[static_cast<size_t>(s) + 1]; ++e) {
            int t = next[static_cast<size_t>(e)];
            if (seen[static_cast<size_t>(t)]) continue;
            seen[static_cast<size_t>(t)] = 1;
            ++count;
            stack.push_back(t);
        }
    }
    return count;
}

}  // namespace

bool routing_irreducible(int n, const std::vector<RoutingArc>& arcs, double epsilon) {
    if (n < 2) return false;
    return reach_count(n, arcs, epsilon, true) == n && reach_count(n, arcs, epsilon, false) == n;
}

std::vector<double> routing_visit_ratios(Interpreter& in, int n, const std::vector<RoutingArc>& arcs) {
    // Temporary direct solve of Q^T x = 0 with the last balance equation
    // replaced by the normalisation; to be replaced by the shared iterative
    // steady-state solver.
    using Triplet = Eigen::Triplet<double>;
    std::vector<Triplet> entries;
    std::vector<double> out(static_cast<size_t>(n), 0.0);
    const double eps = in.settings.tol.epsilon;
    for (const RoutingArc& a : arcs) {
        if (std::fabs(a.prob) < eps) continue;
        if (a.to != n - 1) entries.emplace_back(a.to, a.from, a.prob);
        if (a.from != n - 1) entries.emplace_back(a.from, a.from, -a.prob);
    }
    for (int j = 0; j < n; ++j) entries.emplace_back(n - 1, j, 1.0);
    Eigen::SparseMatrix<double> A(n, n);
    A.setFromTriplets(entries.begin(), entries.end());
    Eigen::SparseLU<Eigen::SparseMatrix<double>> lu;
    lu.compute(A);
    Eigen::VectorXd b = Eigen::VectorXd::Zero(n);
    b(n - 1) = 1.0;
    Eigen::VectorXd x = lu.info() == Eigen::Success ? Eigen::VectorXd(lu.solve(b)) : Eigen::VectorXd::Constant(n, 1.0 / n);
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        out[static_cast<size_t>(i)] = std::max(0.0, x(i));
        sum += out[static_cast<size_t>(i)];
    }
    for (double& v : out) v /= sum;
    return out;
}

}  // namespace corvel
