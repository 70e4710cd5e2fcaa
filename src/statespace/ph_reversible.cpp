// The closed forms of reversible transient blocks by symmetrisation (see
// ph_diagonal.h).

#include <algorithm>
#include <cmath>
#include <vector>

#include <Eigen/Eigenvalues>

#include "statespace/ph_diagonal.h"

namespace corvel {

namespace {

// Detailed balance may fail by rounding of the rates (and of the weights
// summed along the search tree), never by more than this in log(a_ij·π_i /
// (a_ji·π_j)); a chain off by more is not reversible and takes the general
// route.
constexpr double kBalanceSlack = 1e-10;
// e^(h) with h the half log-weight stays far inside the double range.
constexpr double kMaxLogScale = 600.0;

// The two-way arcs as an undirected graph; false when an arc has no
// partner (or a rate is negative or not finite).
bool two_way_graph(const Eigen::MatrixXd& att, std::vector<std::vector<int>>& adj) {
    const int n = static_cast<int>(att.rows());
    adj.assign(static_cast<size_t>(n), {});
    for (int j = 0; j < n; ++j)
        for (int i = j + 1; i < n; ++i) {
            const double aij = att(i, j), aji = att(j, i);
            if (!std::isfinite(aij) || !std::isfinite(aji) || aij < 0.0 || aji < 0.0) return false;
            if ((aij > 0.0) != (aji > 0.0)) return false;
            if (aij > 0.0) {
                adj[static_cast<size_t>(i)].push_back(j);
                adj[static_cast<size_t>(j)].push_back(i);
            }
        }
    return true;
}

double half_log_ratio(const Eigen::MatrixXd& att, int i, int j) { return 0.5 * (std::log(att(i, j)) - std::log(att(j, i))); }

}  // namespace

bool ph_reversible_diagonal(const Eigen::MatrixXd& att, const Eigen::VectorXd& p0t, PhDiagonal& d) {
    const int n = static_cast<int>(att.rows());
    std::vector<std::vector<int>> adj;
    if (n == 0 || !two_way_graph(att, adj)) return false;
    // h = log √π over a search forest of the two-way graph; each component
    // is shifted so that its start positions have h <= 0 at least once
    // (any constant per component balances as well), which keeps
    // p0_i·e^(−h_i) at most p0_i.
    std::vector<double> h(static_cast<size_t>(n), 0.0);
    std::vector<int> comp(static_cast<size_t>(n), -1);
    std::vector<int> order;  // positions along the tridiagonal when every component is a path
    order.reserve(static_cast<size_t>(n));
    bool paths = true;
    std::vector<int> members;
    for (int root = 0; root < n; ++root) {
        if (comp[static_cast<size_t>(root)] >= 0) continue;
        members.assign(1, root);
        comp[static_cast<size_t>(root)] = root;
        size_t degrees = 0;
        for (size_t head = 0; head < members.size(); ++head) {
            const int u = members[head];
            degrees += adj[static_cast<size_t>(u)].size();
            if (adj[static_cast<size_t>(u)].size() > 2) paths = false;
            for (int v : adj[static_cast<size_t>(u)])
                if (comp[static_cast<size_t>(v)] < 0) {
                    comp[static_cast<size_t>(v)] = root;
                    h[static_cast<size_t>(v)] = h[static_cast<size_t>(u)] + half_log_ratio(att, u, v);
                    members.push_back(v);
                }
        }
        if (degrees / 2 + 1 != members.size()) paths = false;  // a cycle
        double shift = INFINITY, lowest = INFINITY;
        for (int u : members) {
            lowest = std::min(lowest, h[static_cast<size_t>(u)]);
            if (p0t(u) != 0.0) shift = std::min(shift, h[static_cast<size_t>(u)]);
        }
        if (!std::isfinite(shift)) shift = lowest;
        for (int u : members) h[static_cast<size_t>(u)] -= shift;
        if (paths) {
            // Walk the path from an end.
            int at = root;
            for (int u : members)
                if (adj[static_cast<size_t>(u)].size() < 2) at = u;
            int from = -1;
            for (size_t k = 0; k < members.size(); ++k) {
                order.push_back(at);
                int next = -1;
                for (int v : adj[static_cast<size_t>(at)])
                    if (v != from) next = v;
                from = at;
                at = next;
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        if (!(std::fabs(h[static_cast<size_t>(i)]) <= kMaxLogScale)) return false;
        for (int j : adj[static_cast<size_t>(i)])
            if (j > i && !(std::fabs(h[static_cast<size_t>(i)] - h[static_cast<size_t>(j)] + half_log_ratio(att, i, j)) <=
                           kBalanceSlack))
                return false;
    }
    auto sym = [&](int i, int j) { return std::sqrt(att(i, j)) * std::sqrt(att(j, i)); };
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es;
    Eigen::MatrixXd u;  // eigenvectors by position
    if (paths) {
        Eigen::VectorXd diag(n), sub(std::max(n - 1, 0));
        for (int r = 0; r < n; ++r) diag(r) = att(order[static_cast<size_t>(r)], order[static_cast<size_t>(r)]);
        for (int r = 0; r + 1 < n; ++r) {
            const int i = order[static_cast<size_t>(r)], j = order[static_cast<size_t>(r + 1)];
            sub(r) = att(i, j) > 0.0 ? sym(i, j) : 0.0;
        }
        es.computeFromTridiagonal(diag, sub, Eigen::ComputeEigenvectors);
        if (es.info() != Eigen::Success) return false;
        u.resize(n, n);
        for (int r = 0; r < n; ++r) u.row(order[static_cast<size_t>(r)]) = es.eigenvectors().row(r);
    } else {
        Eigen::MatrixXd t = Eigen::MatrixXd::Zero(n, n);
        for (int i = 0; i < n; ++i) {
            t(i, i) = att(i, i);
            for (int j : adj[static_cast<size_t>(i)]) t(i, j) = sym(i, j);
        }
        es.compute(t, Eigen::ComputeEigenvectors);
        if (es.info() != Eigen::Success) return false;
        u = es.eigenvectors();
    }
    Eigen::VectorXd up(n), down(n);  // e^(h), e^(−h)
    for (int i = 0; i < n; ++i) {
        up(i) = std::exp(h[static_cast<size_t>(i)]);
        down(i) = 1.0 / up(i);
    }
    d.lam = es.eigenvalues().cast<cplx>();
    d.a = (u.transpose() * p0t.cwiseProduct(down)).cast<cplx>();
    d.w = (up.asDiagonal() * u).transpose().cast<cplx>();
    return true;
}

}  // namespace corvel
