// The closed forms of reversible transient blocks by symmetrisation (see
// ph_diagonal.h).

#include <algorithm>
#include <cmath>
#include <utility>
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

// Largest cluster of close eigenvalues whose vectors are orthogonalised
// against each other; a larger one is left to the QL iterations.
constexpr int kMaxCluster = 200;

// T − λI = P·L·U by elimination with row interchanges (U has two
// superdiagonals), and solves with it. A zero pivot becomes `tiny`: the
// shift is an eigenvalue, and the solve then grows the wanted vector.
class ShiftedTridiagonal {
public:
    ShiftedTridiagonal(const Eigen::VectorXd& d, const Eigen::VectorXd& e, double lam, double tiny)
        : m_(d.size()), d_(d.array() - lam), dl_(e), du_(e), du2_(Eigen::VectorXd::Zero(d.size())),
          swap_(static_cast<size_t>(d.size()), 0) {
        for (Eigen::Index i = 0; i + 1 < m_; ++i) {
            if (std::fabs(d_(i)) >= std::fabs(dl_(i))) {
                if (d_(i) == 0.0) d_(i) = tiny;
                const double f = dl_(i) / d_(i);
                dl_(i) = f;
                d_(i + 1) -= f * du_(i);
            } else {
                const double f = d_(i) / dl_(i);
                d_(i) = dl_(i);
                dl_(i) = f;
                const double t = du_(i);
                du_(i) = d_(i + 1);
                d_(i + 1) = t - f * d_(i + 1);
                if (i + 2 < m_) {
                    du2_(i) = du_(i + 1);
                    du_(i + 1) = -f * du_(i + 1);
                }
                swap_[static_cast<size_t>(i)] = 1;
            }
        }
        for (Eigen::Index i = 0; i < m_; ++i)
            if (std::fabs(d_(i)) < tiny) d_(i) = d_(i) < 0.0 ? -tiny : tiny;
    }
    void solve(Eigen::VectorXd& b) const {
        for (Eigen::Index i = 0; i + 1 < m_; ++i) {
            if (swap_[static_cast<size_t>(i)]) std::swap(b(i), b(i + 1));
            b(i + 1) -= dl_(i) * b(i);
        }
        for (Eigen::Index i = m_ - 1; i >= 0; --i) {
            double v = b(i);
            if (i + 1 < m_) v -= du_(i) * b(i + 1);
            if (i + 2 < m_) v -= du2_(i) * b(i + 2);
            b(i) = v / d_(i);
        }
    }

private:
    Eigen::Index m_;
    Eigen::VectorXd d_, dl_, du_, du2_;
    std::vector<char> swap_;
};

// The eigenvectors of an unreduced symmetric tridiagonal block (diagonal d,
// off-diagonal e, all e_i ≠ 0) for its eigenvalues lam (ascending, from the
// QL iterations without vectors): three steps of inverse iteration each,
// O(m) per vector, orthogonalised within clusters of close eigenvalues.
// False when the vectors are not orthonormal eigenvectors to 1e-10 (the
// caller then accumulates the QL rotations instead).
bool inverse_iteration(const Eigen::VectorXd& d, const Eigen::VectorXd& e, const Eigen::VectorXd& lam, Eigen::MatrixXd& z) {
    const Eigen::Index m = d.size();
    z.resize(m, m);
    if (m == 1) {
        z(0, 0) = 1.0;
        return true;
    }
    double norm = 0.0;
    for (Eigen::Index i = 0; i < m; ++i)
        norm = std::max(norm, std::fabs(d(i)) + (i > 0 ? std::fabs(e(i - 1)) : 0.0) + (i + 1 < m ? std::fabs(e(i)) : 0.0));
    const double tiny = 1e-16 * norm, close = 1e-5 * norm;
    // One start vector for all: no eigenvector is orthogonal to it in
    // practice, and the shifts tell the vectors apart.
    Eigen::VectorXd start(m), x(m);
    for (Eigen::Index i = 0; i < m; ++i) start(i) = 1.0 + 0.5 * std::fmod(0.6180339887 * static_cast<double>(i), 1.0);
    Eigen::Index first = 0;  // of the current cluster
    for (Eigen::Index k = 0; k < m; ++k) {
        if (k > 0 && lam(k) - lam(k - 1) >= close) first = k;
        if (k - first >= kMaxCluster) return false;
        // Equal shifts would give equal vectors: spread them by a few ulps
        // of the norm.
        const double shift = lam(k) + static_cast<double>(k - first) * 4.0 * tiny;
        const ShiftedTridiagonal f(d, e, shift, tiny);
        x = start;
        for (int step = 0; step < 3; ++step) {
            f.solve(x);
            for (Eigen::Index j = first; j < k; ++j) x -= z.col(j).dot(x) * z.col(j);
            const double len = x.norm();
            if (!(len > 0.0) || !std::isfinite(len)) return false;
            x /= len;
        }
        z.col(k) = x;
    }
    // Residuals ‖T·z_k − λ_k·z_k‖ and Z·Z^T = I tried on one vector.
    for (Eigen::Index k = 0; k < m; ++k) {
        double r = 0.0;
        for (Eigen::Index i = 0; i < m; ++i) {
            double v = (d(i) - lam(k)) * z(i, k);
            if (i > 0) v += e(i - 1) * z(i - 1, k);
            if (i + 1 < m) v += e(i) * z(i + 1, k);
            r = std::max(r, std::fabs(v));
        }
        if (!(r <= 1e-11 * norm)) return false;
    }
    for (Eigen::Index i = 0; i < m; ++i) x(i) = std::fmod(0.7548776662 * static_cast<double>(i + 1), 1.0) - 0.5;
    const Eigen::VectorXd back = z * (z.transpose() * x);
    return (back - x).cwiseAbs().maxCoeff() <= 1e-10 * x.cwiseAbs().maxCoeff();
}

// The eigen-decomposition of a symmetric tridiagonal matrix, split where
// an off-diagonal entry is 0 (the components of the chain): eigenvalues by
// QL without vectors and vectors by inverse iteration per block, the QL
// rotations accumulated only for a block where that fails.
bool tridiagonal_eigen(const Eigen::VectorXd& diag, const Eigen::VectorXd& sub, Eigen::VectorXd& lam, Eigen::MatrixXd& u) {
    const Eigen::Index n = diag.size();
    lam.resize(n);
    u = Eigen::MatrixXd::Zero(n, n);
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es;
    for (Eigen::Index lo = 0; lo < n;) {
        Eigen::Index hi = lo + 1;
        while (hi < n && sub(hi - 1) != 0.0) ++hi;
        const Eigen::Index m = hi - lo;
        const Eigen::VectorXd d = diag.segment(lo, m);
        const Eigen::VectorXd e = sub.segment(lo, m - 1);
        es.computeFromTridiagonal(d, e, Eigen::EigenvaluesOnly);
        if (es.info() != Eigen::Success) return false;
        Eigen::MatrixXd z;
        if (!inverse_iteration(d, e, es.eigenvalues(), z)) {
            es.computeFromTridiagonal(d, e, Eigen::ComputeEigenvectors);
            if (es.info() != Eigen::Success) return false;
            z = es.eigenvectors();
        }
        lam.segment(lo, m) = es.eigenvalues();
        u.block(lo, lo, m, m) = z;
        lo = hi;
    }
    return true;
}

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
    Eigen::VectorXd lam;
    Eigen::MatrixXd u;  // eigenvectors by position
    if (paths) {
        Eigen::VectorXd diag(n), sub(std::max(n - 1, 0));
        for (int r = 0; r < n; ++r) diag(r) = att(order[static_cast<size_t>(r)], order[static_cast<size_t>(r)]);
        for (int r = 0; r + 1 < n; ++r) {
            const int i = order[static_cast<size_t>(r)], j = order[static_cast<size_t>(r + 1)];
            sub(r) = att(i, j) > 0.0 ? sym(i, j) : 0.0;
        }
        Eigen::MatrixXd z;
        if (!tridiagonal_eigen(diag, sub, lam, z)) return false;
        u.resize(n, n);
        for (int r = 0; r < n; ++r) u.row(order[static_cast<size_t>(r)]) = z.row(r);
    } else {
        Eigen::MatrixXd t = Eigen::MatrixXd::Zero(n, n);
        for (int i = 0; i < n; ++i) {
            t(i, i) = att(i, i);
            for (int j : adj[static_cast<size_t>(i)]) t(i, j) = sym(i, j);
        }
        Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(t, Eigen::ComputeEigenvectors);
        if (es.info() != Eigen::Success) return false;
        lam = es.eigenvalues();
        u = es.eigenvectors();
    }
    Eigen::VectorXd up(n), down(n);  // e^(h), e^(−h)
    for (int i = 0; i < n; ++i) {
        up(i) = std::exp(h[static_cast<size_t>(i)]);
        down(i) = 1.0 / up(i);
    }
    d.lam = lam.cast<cplx>();
    d.a = (u.transpose() * p0t.cwiseProduct(down)).cast<cplx>();
    d.w = (up.asDiagonal() * u).transpose().cast<cplx>();
    return true;
}

}  // namespace corvel
