#include "statespace/sor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_map>

#include <Eigen/Core>

#include "model/context.h"
#include "statespace/sweep_matrix.h"
#include "symbols/errors.h"
#include "symbols/output.h"
#include "symbols/progress.h"

namespace corvel {

SolverIo solver_io(AnalysisContext& in) {
    SolverIo io;
    io.err = &in.err;
    io.out = &in.out;
    io.verbose = in.settings.verbose;
    io.debug = in.settings.debug[kDebugSor] != 0;
    io.epsilon = in.settings.tol.epsilon;
    io.method = in.settings.steady_method;
    io.policy = trust_policy(in.settings);
    return io;
}

namespace sor_detail {
void report_bad_index(ErrorReporter* err, int n, std::int64_t index) {
    if (err == nullptr) return;
    long long max = static_cast<long long>(n) * n - 1;
    err->error(186, kInternal, format_string("array colind, max %lld, index %lld", max, static_cast<long long>(index)),
               false);
}
}  // namespace sor_detail

namespace {

// The adaptive relaxation schedule every member of the family shares. The
// error sums of the last three windows are kept in d1 (oldest), d2, d3; at
// each adaptation the window just ended is shifted in. Every third adaptation
// lowers omega according to the trend, the other two raise it by `step`.
struct Relaxation {
    double omega = 1.0;
    double step = 0.1;  // sor_epsilon
    double d1 = 1e5, d2 = 1e4, d3 = 1e3;
    double acc = 0.0;
    int counter = 0;

    void reset_history() {
        d1 = 1e5;
        d2 = 1e4;
        d3 = 1e3;
        acc = 0.0;
        counter = 0;
    }

    // One adaptation; returns true when this one raised omega.
    bool adapt() {
        d1 = d2;
        d2 = d3;
        d3 = acc;
        acc = 0.0;
        if (++counter < 3) {
            omega += step;
            return true;
        }
        counter = 0;
        if (d1 <= d2 && d2 <= d3) {
            omega -= 4.0 * step;
            step *= 0.97;
        } else if (d2 < d3 || d2 < d1) {
            if (d2 <= d3 && d2 <= d1) {
                step *= 0.5;
                omega -= 3.0 * step;
            } else if (d1 >= d2 && d2 >= d3) {
                omega -= step;
                step *= 0.97;
            }
        } else {
            omega -= (d1 < d3) ? 3.0 * step : step;
            step *= 0.89;
        }
        return false;
    }

    // Keeps omega inside [low, 2): below `low` it restarts at 1.0, at 2 or
    // above it becomes `top`.
    void clamp(double low, double top) {
        if (omega < low) omega = 1.0;
        if (omega >= 2.0) omega = top;
    }

    double adjust() const {
        if (d3 == d2) return 1.0;
        double a = (d1 - d2) / (d3 - d2);
        return std::min(1.0, a * a);
    }
};

void print_matrix(Output& out, const SparseChain& m) {
    out.printf("  row  col  value\n");
    for (int i = 0; i < m.n; ++i)
        for (std::int64_t k = m.rowptr[i]; k < m.rowptr[i + 1]; ++k)
            out.printf("   %2d   %2d   %9.4f\n", i, m.colind[k], m.q[k]);
}

void print_vector(Output& out, const char* name, const std::vector<double>& x) {
    out.printf("  i   %s[i]\n", name);
    for (size_t i = 0; i < x.size(); ++i) out.printf("%2d     %9.3e\n", static_cast<int>(i), x[i]);
}

void divide_by_sum(std::vector<double>& x) {
    double sum = 0.0;
    for (double v : x) sum += v;
    if (sum > 0.0 && std::isfinite(sum))
        for (double& v : x) v /= sum;
}

void warn_line(const SolverIo& io, const std::string& text) {
    if (io.warn != nullptr)
        io.warn->append(text);
    else
        std::fputs(text.c_str(), stderr);
}

}  // namespace

int state_without_outflow(const SparseChain& m) {
    std::vector<double> out(static_cast<size_t>(m.n), 0.0);
    for (std::int64_t k = 0; k < m.nonzeros(); ++k) out[m.colind[k]] += m.q[k];
    for (int j = 0; j < m.n; ++j)
        if (out[j] == 0.0) return j;
    return -1;
}

namespace {

// The sweeps shared by `sor` (adaptive relaxation with its fallbacks) and
// `gauss_seidel` (omega 1 throughout, one phase of 12000 sweeps).
SorResult relax(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io, bool plain) {
    const int n = m.n;
    SorResult res;
    x.assign(static_cast<size_t>(n), n > 0 ? 1.0 / n : 0.0);
    if (n == 0) return res;
    if (n == 1) {
        x[0] = 1.0;
        res.converged = true;
        return res;
    }
    const SweepMatrix a = compact_chain(m);
    if (a.n != n) {  // more arcs than 32-bit offsets address
        if (io.err) io.err->error(169, kFatal, ": sweep matrix beyond 2^32 arcs", true);
        return res;
    }
    res.bytes_per_arc = a.bytes_per_arc();
    std::vector<double> x_old = x;

    Relaxation rel;
    int next_adapt = plain ? 0 : 10;
    int limit = plain ? 12000 : 3000;
    int fallbacks = plain ? 2 : 0;  // Gauss-Seidel has no fallback left
    if (io.verbose && io.out && n > kGthLimit)
        io.out->printf("  sweep matrix: %zu distinct values, %.0f bytes per arc\n",
                       a.code_bytes == 8 ? static_cast<std::size_t>(a.nonzeros()) : a.table.size(), a.bytes_per_arc());
    if (io.verbose && io.out) io.out->printf("max iterations: %d\n", limit);
    if (io.debug && io.out) {
        print_matrix(*io.out, m);
        print_vector(*io.out, "x", x);
    }
    const std::uint32_t* rowptr = a.rowptr.data();
    const std::uint32_t* colind = a.col.data();
    const double* d = a.diag.data();
    double* xv = x.data();
    double* xo = x_old.data();
    const char* name = plain ? "Gauss-Seidel" : "SOR";

    return with_values(a, [&](auto value) -> SorResult {
        for (int iter = 1;; ++iter) {
            progress::update(name, "sweeps", static_cast<std::uint64_t>(iter));
            // One sweep in state order, updated values used at once; the
            // change and the largest value are gathered on the way (x_old
            // holds the previous iterate).
            const double omega = rel.omega;
            double delta_norm = 0.0, largest = 0.0;
            std::uint32_t k = rowptr[0];
            for (int i = 0; i < n; ++i) {
                double sum = 0.0;
                for (const std::uint32_t end = rowptr[i + 1]; k < end; ++k) sum += value(k) * xv[colind[k]];
                double xi = xv[i];
                xo[i] = xi;
                if (d[i] != 0.0) {
                    double s = -sum - d[i] * xi;
                    if (std::fabs(s) < 1e-30) s = 0.0;
                    xi += omega * s / d[i];
                    if (xi < 1e-30) xi = 0.0;  // also clears negative values
                    xv[i] = xi;
                }
                delta_norm = std::max(delta_norm, std::fabs(xi - xo[i]));
                largest = std::max(largest, xi);
            }
            res.products += static_cast<std::int64_t>(a.nonzeros());

            // Scale guard: keeps the iterate between 1e-10 and 1e25.
            double mx = std::max(1e-25, largest);
            if (mx > 1e25 || mx < 1e-10) {
                divide_by_sum(x);
                delta_norm = 0.0;
                largest = 0.0;
                for (int i = 0; i < n; ++i) {
                    delta_norm = std::max(delta_norm, std::fabs(xv[i] - xo[i]));
                    largest = std::max(largest, xv[i]);
                }
            }

            if (iter == next_adapt) {
                rel.adapt();
                next_adapt += 10;
                if (rel.counter != 0 && rel.step < 1e-7) next_adapt = 3000;
                rel.clamp(0.9, 2.0 - io.epsilon);
                if (io.verbose && io.out && iter % 10 == 0)
                    io.out->printf("at %d iterations, setting omega = %f\n", iter, rel.omega);
            }

            const double vec_norm = std::max(1e-25, largest);
            const double change = delta_norm / vec_norm;
            res.last_change = change;
            if (io.debug && io.out) {
                Output& o = *io.out;
                o.printf("=============================\n");
                o.printf("Iteration = %d \n", iter);
                o.printf("Omega = %f\n", rel.omega);
                o.printf("sor_epsilon = %f\n", rel.step);
                o.printf("delta_1 = %f\n", rel.d1);
                o.printf("delta_2 = %f\n", rel.d2);
                o.printf("delta_3 = %f\n", rel.d3);
                o.printf("adjust = %f\n", rel.adjust());
                o.printf("convergence factor= %f \n", change);
            }
            if (change <= tolerance) {
                divide_by_sum(x);
                res.iterations = iter;
                res.converged = true;
                res.omega = rel.omega;
                if (io.verbose && io.out) io.out->printf("%s converged after %d iterations\n", name, iter);
                return res;
            }
            if (iter > limit) {
                ++fallbacks;
                if (fallbacks == 1) {
                    rel.omega = 1.0;  // plain Gauss-Seidel, no adaptation
                    next_adapt = 0;
                    limit *= 2;
                    if (io.verbose && io.out)
                        io.out->printf("SOR switching to omega = %f after %d iterations\n", rel.omega, iter);
                } else if (fallbacks == 2) {
                    rel.omega = 0.98;  // under-relaxation
                    if (io.verbose && io.out)
                        io.out->printf("SOR switching to omega = %f after %d iterations\n", rel.omega, iter);
                    limit *= 2;
                    next_adapt = iter + 10;
                    rel.reset_history();
                    rel.acc += 1.0 / vec_norm;
                } else {
                    if (io.err)
                        io.err->error(139, kConsistency,
                                      format_string(", iterations: %d, relaxation %.7f, tolerance: %.20f", iter,
                                                    rel.omega, change),
                                      true);
                    divide_by_sum(x);
                    res.iterations = iter;
                    res.omega = rel.omega;
                    return res;
                }
            } else {
                rel.acc += change;
            }
        }
    });
}

}  // namespace

SorResult sor(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io) {
    return relax(m, tolerance, x, io, false);
}

SorResult gauss_seidel(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io) {
    return relax(m, tolerance, x, io, true);
}

SorResult steady_iterate(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io) {
    switch (io.method) {
        case SteadyMethod::GaussSeidel: return gauss_seidel(m, tolerance, x, io);
        case SteadyMethod::Bicgstab: return bicgstab_steady_state(m, tolerance, x, io);
        default: return sor(m, tolerance, x, io);
    }
}


double balance_error(const SparseChain& m, const std::vector<double>& x, double floor) {
    const int n = m.n;
    std::vector<double> out(static_cast<size_t>(n), 0.0);
    for (std::int64_t k = 0; k < m.nonzeros(); ++k) out[m.colind[k]] += m.q[k];
    // Flows this small are products of values that have lost digits to
    // gradual underflow: their relative balance says nothing.
    constexpr double kUnderflow = std::numeric_limits<double>::min() / kUnitRoundoff;
    double worst = 0.0;
    for (int i = 0; i < n; ++i) {
        double in = 0.0;
        for (std::int64_t k = m.rowptr[i]; k < m.rowptr[i + 1]; ++k) in += m.q[k] * x[m.colind[k]];
        double leave = out[i] * x[i];
        double scale = std::max(in, leave);
        if (scale < kUnderflow) continue;
        // The value the state would take to balance its inflow.
        const double balancing = out[i] > 0.0 ? in / out[i] : 0.0;
        if (x[i] < floor && balancing < floor) continue;
        worst = std::max(worst, std::fabs(in - leave) / scale);
    }
    return worst;
}

void gth_steady_state(const SparseChain& m, std::vector<double>& x) {
    const int n = m.n;
    x.assign(static_cast<size_t>(n), 0.0);
    if (n == 0) return;
    // a[i*n + j]: rate from i to j.
    std::vector<double> a(static_cast<size_t>(n) * n, 0.0);
    for (int to = 0; to < n; ++to)
        for (std::int64_t k = m.rowptr[to]; k < m.rowptr[to + 1]; ++k)
            a[static_cast<size_t>(m.colind[k]) * n + to] += m.q[k];
    std::vector<double> s(static_cast<size_t>(n), 0.0);
    for (int k = n - 1; k > 0; --k) {
        double sum = 0.0;
        const double* rowk = &a[static_cast<size_t>(k) * n];
        for (int j = 0; j < k; ++j) sum += rowk[j];
        s[k] = sum;
        if (sum <= 0.0) continue;
        for (int i = 0; i < k; ++i) {
            double f = a[static_cast<size_t>(i) * n + k];
            if (f == 0.0) continue;
            f /= sum;
            double* rowi = &a[static_cast<size_t>(i) * n];
            for (int j = 0; j < k; ++j) rowi[j] += f * rowk[j];
        }
    }
    x[0] = 1.0;
    double total = 1.0;
    for (int k = 1; k < n; ++k) {
        double v = 0.0;
        for (int i = 0; i < k; ++i) v += x[i] * a[static_cast<size_t>(i) * n + k];
        x[k] = s[k] > 0.0 ? v / s[k] : 0.0;
        total += x[k];
    }
    for (double& v : x) v /= total;
}

bool sparse_gth_steady_state(const SparseChain& m, std::vector<double>& x, std::int64_t budget) {
    const int n = m.n;
    x.assign(static_cast<size_t>(n), 0.0);
    if (n == 0) return true;
    // The stored arcs count toward the budget; at least half of it is left
    // for the fill.
    if (2 * m.nonzeros() > budget) return false;
    // Row i holds the rates out of state i (a[i][j], j != i); col[j] lists
    // the rows that have an entry in column j (entries may have been folded
    // away, which the row map tells).
    std::vector<std::unordered_map<int, double>> row(static_cast<size_t>(n));
    std::vector<std::vector<int>> col(static_cast<size_t>(n));
    std::int64_t entries = 0;
    for (int to = 0; to < n; ++to)
        for (std::int64_t k = m.rowptr[to]; k < m.rowptr[to + 1]; ++k) {
            const int from = m.colind[k];
            if (from == to) continue;
            auto [it, fresh] = row[from].try_emplace(to, 0.0);
            it->second += m.q[k];
            if (fresh) {
                col[to].push_back(from);
                ++entries;
            }
        }
    // Elimination from the last state down; the entries of column k above
    // k at its elimination are kept for the back substitution.
    std::vector<double> s(static_cast<size_t>(n), 0.0);
    std::vector<std::vector<std::pair<int, double>>> kept(static_cast<size_t>(n));
    std::vector<std::pair<int, double>> rowk;
    for (int k = n - 1; k > 0; --k) {
        rowk.clear();
        double sum = 0.0;
        for (auto [j, v] : row[k])
            if (j < k) {
                rowk.emplace_back(j, v);
                sum += v;
            }
        s[k] = sum;
        std::vector<std::pair<int, double>>& above = kept[k];
        for (int i : col[k]) {
            if (i >= k) continue;
            auto it = row[i].find(k);
            if (it == row[i].end()) continue;
            above.emplace_back(i, it->second);
        }
        if (sum > 0.0) {
            for (auto [i, f] : above) {
                f /= sum;
                for (auto [j, v] : rowk) {
                    if (j == i) continue;  // the diagonal is implicit
                    auto [it, fresh] = row[i].try_emplace(j, 0.0);
                    it->second += f * v;
                    if (fresh) {
                        col[j].push_back(i);
                        if (++entries > budget) return false;
                    }
                }
            }
        }
        // Row and column k are done with.
        std::unordered_map<int, double>().swap(row[k]);
        std::vector<int>().swap(col[k]);
    }
    x[0] = 1.0;
    double total = 1.0;
    for (int k = 1; k < n; ++k) {
        double v = 0.0;
        for (auto [i, a] : kept[k]) v += x[i] * a;
        x[k] = s[k] > 0.0 ? v / s[k] : 0.0;
        total += x[k];
    }
    for (double& v : x) v /= total;
    return true;
}

SteadyStateResult steady_state(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io) {
    SteadyStateResult res;
    static_cast<SorResult&>(res) = steady_iterate(m, tolerance, x, io);
    // Every state is judged however small (a measure may scale a tiny
    // probability up); only gradual underflow is beyond judging.
    const double floor = 0.0;
    res.balance = balance_error(m, x, floor);
    Guarded closed{1.0, res.balance, Route::Iteration};
    std::vector<double> exact;
    StableRoute stable;
    if (m.n <= kGthLimit)
        stable = [&]() -> std::optional<Guarded> {
            gth_steady_state(m, exact);
            return Guarded{1.0, std::max(balance_error(m, exact, floor), kUnitRoundoff * m.n), Route::Exact};
        };
    else
        stable = [&]() -> std::optional<Guarded> {
            // Larger chains are eliminated sparsely while the fill stays
            // within a budget (banded and ring-like chains).
            if (!sparse_gth_steady_state(m, exact, kSparseGthFill)) {
                exact.clear();
                return std::nullopt;
            }
            return Guarded{1.0, std::max(balance_error(m, exact, floor), kUnitRoundoff * m.n), Route::Exact};
        };
    bool warned = false;
    res.estimate = settle(closed, stable, io.policy, [&](const Guarded&) { warned = true; });
    if (!exact.empty() && res.estimate.route == Route::Exact) {
        x = std::move(exact);
        res.stable_route = true;
        res.balance = balance_error(m, x, floor);
    }
    res.inaccurate = warned;
    return res;
}

// ---------------------------------------------------------------------------
// GenSor

namespace {

// The matrix in row form with masked rows and columns removed; built once per
// call (a copy only when the caller's storage is by columns or masked).
struct RowForm {
    const std::int64_t* ip = nullptr;
    const int* ja = nullptr;
    const double* a = nullptr;
    std::vector<std::int64_t> own_ip;
    std::vector<int> own_ja;
    std::vector<double> own_a;
    std::vector<double> diag;
};

RowForm row_form(const rpci& m, const std::vector<double>* mask) {
    RowForm f;
    const int size = m.last + 1;
    f.diag.assign(static_cast<size_t>(size), 0.0);
    for (int i = m.first; i <= m.last && i < static_cast<int>(m.diag.size()); ++i) f.diag[i] = m.diag[i];
    auto live = [&](int i) { return i >= m.first && i <= m.last && (mask == nullptr || (*mask)[i] != 0.0); };

    // Count entries per row, folding stored diagonal entries into diag.
    f.own_ip.assign(static_cast<size_t>(size) + 1, 0);
    bool copy_needed = m.order == MAT_COL2ROW || mask != nullptr;
    for (int c = m.first; c <= m.last; ++c) {
        for (std::int64_t k = m.IP[c]; k < m.IP[c + 1]; ++k) {
            int row = m.order == MAT_ROW2COL ? c : m.JA[k];
            int col = m.order == MAT_ROW2COL ? m.JA[k] : c;
            if (row == col) {
                if (live(row)) f.diag[row] += m.A[k];
                copy_needed = true;
                continue;
            }
            if (!live(row) || !live(col)) {
                copy_needed = true;
                continue;
            }
            ++f.own_ip[row + 1];
        }
    }
    if (!copy_needed) {
        f.ip = m.IP.data();
        f.ja = m.JA.data();
        f.a = m.A.data();
        f.own_ip.clear();
        return f;
    }
    for (int i = 0; i < size; ++i) f.own_ip[i + 1] += f.own_ip[i];
    f.own_ja.resize(static_cast<size_t>(f.own_ip[size]));
    f.own_a.resize(f.own_ja.size());
    std::vector<std::int64_t> fill(f.own_ip.begin(), f.own_ip.end() - 1);
    for (int c = m.first; c <= m.last; ++c) {
        for (std::int64_t k = m.IP[c]; k < m.IP[c + 1]; ++k) {
            int row = m.order == MAT_ROW2COL ? c : m.JA[k];
            int col = m.order == MAT_ROW2COL ? m.JA[k] : c;
            if (row == col || !live(row) || !live(col)) continue;
            std::int64_t at = fill[row]++;
            f.own_ja[at] = col;
            f.own_a[at] = m.A[k];
        }
    }
    f.ip = f.own_ip.data();
    f.ja = f.own_ja.data();
    f.a = f.own_a.data();
    return f;
}

}  // namespace

double GenSor(const rpci& m, std::vector<double>& x, const std::vector<double>* b,
              const std::vector<double>* r, int& iter, double& prec, int& method, norm_type normethod,
              double omega, const SolverIo& io) {
    ErrorReporter* err = io.err;
    if (normethod == SumToZero && r == nullptr) {
        const char* text = "SumToZero normalization cannot be used with NULL weight vector.";
        if (err) err->InternalAssert(false, text);
        return omega;
    }
    const int first = m.first, last = m.last;
    const int size = last + 1;
    if (size <= 0 || first > last) {
        iter = 0;
        prec = 0.0;
        return omega;
    }
    if (static_cast<int>(x.size()) < size) {
        if (x.empty())
            InitVector(INITIAL_UNIF, x, first, last);
        else
            x.resize(static_cast<size_t>(size), 0.0);
    }
    const std::vector<double>* mask = normethod == DoNotNormalize ? r : nullptr;
    RowForm f = row_form(m, mask);
    std::span<const double> weight;
    if (normethod == SumToZero) weight = std::span<const double>(*r);
    auto skipped = [&](int i) { return mask != nullptr && (*mask)[i] == 0.0; };

    const int limit = std::max(1, iter);
    const double target = prec;
    Relaxation rel;
    rel.omega = omega;
    bool adaptive = method == VAL_SSSOR && omega == 1.0;
    const int window = normethod == DoNotNormalize ? 1 : 10;
    std::vector<double> x_prev(x);
    double error = 1.0;
    long long operations = 0;
    int total = 0, k = 0;
    bool done = false;

    auto normalize = [&]() {
        if (normethod == SumToOne) return Normalize(x, first, last, 1.0);
        if (normethod == SumToZero) return Normalize(x, first, last, 0.0, weight);
        return true;
    };

    while (!done) {
        progress::update("SOR", "sweeps", static_cast<std::uint64_t>(total) + 1);
        const double w = rel.omega;
        for (int i = first; i <= last; ++i) {
            if (skipped(i) || f.diag[i] == 0.0) continue;
            double s = b != nullptr ? (*b)[i] : 0.0;
            for (std::int64_t e = f.ip[i]; e < f.ip[i + 1]; ++e) s -= f.a[e] * x[f.ja[e]];
            operations += f.ip[i + 1] - f.ip[i];
            s -= f.diag[i] * x[i];
            if (std::fabs(s) >= 1e-30) x[i] += w * s / f.diag[i];
            if (std::fabs(x[i]) < 1e-100) x[i] = 0.0;
        }
        ++k;
        ++total;
        if (total % 100000 == 0) warn_line(io, format_string("INFORMATION: iterations: %d\n", total));

        if (normethod == DoNotNormalize || k % window == 0) {
            if (!normalize()) {
                warn_line(io, format_string("WARNING: Solution divergent in %d iterations.\n", total));
                if (method == VAL_SSSOR) {
                    k = limit;  // forces the switch below
                    if (normethod == SumToOne) InitVector(INITIAL_UNIF, x, first, last);
                } else {
                    break;
                }
            } else {
                error = VectorRelativeError(x, x_prev, first, last);
                VectorCopy(x, x_prev, first, last);
                if (error <= target) break;
                if (adaptive) {
                    rel.acc += error;
                    rel.adapt();
                    rel.clamp(1.0, 2.0 - rel.step);
                    if (rel.step < 1e-7) adaptive = false;
                }
            }
        }
        if (k >= limit) {
            if (method == VAL_SSSOR) {
                method = VAL_GASEI;
                rel.omega = 1.0;
                adaptive = false;
                warn_line(io, "WARNING: switching from SOR to Gauss-Seidel!\n");
            } else if (rel.omega == 1.0) {
                rel.omega = 0.98;
                warn_line(io, "WARNING: switching from Gauss-Seidel to Under Relaxation!\n");
            } else {
                done = true;
                continue;
            }
            k = 0;
            if (normethod == SumToZero) InitVector(INITIAL_ZERO, x, first, last);
        }
    }
    if (!normalize()) warn_line(io, format_string("WARNING: Solution divergent in %d iterations.", total));
    if (io.out) {
        io.out->printf("iterations: \t%d  \n", total);
        io.out->printf("max error:  \t%e  \n", error);
        io.out->printf("final omega:\t%lf  \n", rel.omega);
        io.out->printf("SOR operations: %d\n", static_cast<int>(operations));
    }
    prec = error;
    iter = total;
    return rel.omega;
}

// ---------------------------------------------------------------------------
// Transient blocks

BlockSolution solve_transient_block(const SparseChain& t, int nt, std::span<const double> outflow,
                                    std::span<const double> b, bool backward, const SolverIo& io, double prec,
                                    int iter) {
    BlockSolution r;
    if (nt <= 0) return r;
    // Rows of the block, entries from outside it left out. Read by rows the
    // stored matrix is Q_TT transposed (x A = b); read by columns it is Q_TT
    // itself (A x = b).
    rpci m;
    m.order = backward ? MAT_COL2ROW : MAT_ROW2COL;
    m.first = 0;
    m.last = nt - 1;
    m.IP.assign(static_cast<size_t>(nt) + 1, 0);
    for (int j = 0; j < nt; ++j) {
        for (std::int64_t k = t.rowptr[j]; k < t.rowptr[j + 1]; ++k)
            if (t.colind[k] < nt) {
                m.JA.push_back(t.colind[k]);
                m.A.push_back(t.q[k]);
            }
        m.IP[j + 1] = static_cast<std::int64_t>(m.JA.size());
    }
    m.entries = m.IP[nt];
    m.diag.resize(static_cast<size_t>(nt));
    std::vector<double> rhs(static_cast<size_t>(nt));
    for (int i = 0; i < nt; ++i) {
        m.diag[i] = -outflow[i];
        rhs[i] = -b[i];  // GenSor solves Q_TT x = -b
    }
    int method = VAL_SSSOR;
    r.change = prec;
    r.iterations = iter;
    GenSor(m, r.x, &rhs, nullptr, r.iterations, r.change, method, DoNotNormalize, 1.0, io);
    r.x.resize(static_cast<size_t>(nt));

    // The residual b - A x, with the rounding of each product term.
    std::vector<double> y(static_cast<size_t>(nt)), mag(static_cast<size_t>(nt));
    std::vector<int> terms(static_cast<size_t>(nt), 2);
    for (int i = 0; i < nt; ++i) {
        y[i] = outflow[i] * r.x[i];
        mag[i] = std::fabs(y[i]) + std::fabs(b[i]);
    }
    for (int j = 0; j < nt; ++j)
        for (std::int64_t k = m.IP[j]; k < m.IP[j + 1]; ++k) {
            // Entry q from state i = JA[k] into state j.
            const int i = m.JA[k];
            const int row = backward ? i : j, col = backward ? j : i;
            const double p = m.A[k] * r.x[col];
            y[row] -= p;
            mag[row] += std::fabs(p);
            ++terms[row];
        }
    for (int i = 0; i < nt; ++i)
        r.residual = std::max(r.residual, std::fabs(b[i] - y[i]) + kUnitRoundoff * terms[i] * mag[i]);
    return r;
}

namespace {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// The elimination of a dense n×n block held by rows in g (rates between
// block states; the diagonal is not read) with leave[i] the rate of leaving
// the block from i. Each pivot is leave[k] plus the rates left in row k;
// the rows below take f·(row k) with f = g(i, k)/pivot, which then stays in
// g(i, k). A pivot that is not positive (a state that cannot leave) leaves
// its column as it is. Blocked: a panel of rows is eliminated among itself,
// the rows below get the panel's multipliers, and the rest of the block
// takes the panel at once as a matrix product. Every term added is a
// product of non-negative numbers, as in the plain elimination.
void eliminate_dense(double* data, Eigen::Index n, double* leave, double* pivot) {
    Eigen::Map<RowMatrix> g(data, n, n);
    constexpr Eigen::Index kPanel = 64;
    RowMatrix f;
    for (Eigen::Index k0 = 0; k0 < n; k0 += kPanel) {
        const Eigen::Index k1 = std::min(n, k0 + kPanel), b = k1 - k0, rest = n - k1;
        // The panel's own rows, each brought up to date in full.
        for (Eigen::Index p = k0; p < k1; ++p) {
            double d = leave[p];
            for (Eigen::Index j = p + 1; j < n; ++j) d += g(p, j);
            pivot[p] = d;
            if (!(d > 0.0)) continue;
            for (Eigen::Index i = p + 1; i < k1; ++i) {
                if (g(i, p) == 0.0) continue;
                const double m = g(i, p) / d;
                g(i, p) = m;
                g.row(i).tail(n - p - 1) += m * g.row(p).tail(n - p - 1);
                leave[i] += m * leave[p];
            }
        }
        if (rest == 0) break;
        // The rows below: their multipliers of the panel's columns, in order.
        for (Eigen::Index i = k1; i < n; ++i)
            for (Eigen::Index p = k0; p < k1; ++p) {
                if (!(pivot[p] > 0.0) || g(i, p) == 0.0) continue;
                const double m = g(i, p) / pivot[p];
                g(i, p) = m;
                for (Eigen::Index q = p + 1; q < k1; ++q) g(i, q) += m * g(p, q);
                leave[i] += m * leave[p];
            }
        // The rest of the block: += multipliers · the panel's rows. A column
        // whose pivot was not positive takes no part.
        f = g.block(k1, k0, rest, b);
        for (Eigen::Index p = k0; p < k1; ++p)
            if (!(pivot[p] > 0.0)) f.col(p - k0).setZero();
        g.block(k1, k1, rest, rest).noalias() += f * g.block(k0, k1, b, rest);
    }
}

// Solves of the dense factors: forward with the multipliers, then upwards
// through the pivots and the rates left.
void solve_dense(const double* g, size_t n, const double* pivot, double* b) {
    for (size_t i = 1; i < n; ++i)
        for (size_t k = 0; k < i; ++k) b[i] += g[i * n + k] * b[k];
    for (size_t k = n; k-- > 0;) {
        double s = b[k];
        for (size_t j = k + 1; j < n; ++j) s += g[k * n + j] * b[j];
        b[k] = pivot[k] > 0.0 ? s / pivot[k] : 0.0;
    }
}

// A = L U with L_ik = -multiplier, U_kk = pivot, U_kj = -rate: U^T w = b
// downwards, then L^T x = w upwards.
void solve_dense_transposed_upper(const double* g, size_t n, const double* pivot, double* b) {
    for (size_t k = 0; k < n; ++k) {
        b[k] = pivot[k] > 0.0 ? b[k] / pivot[k] : 0.0;
        for (size_t j = k + 1; j < n; ++j) b[j] += g[k * n + j] * b[k];
    }
}

void solve_dense_transposed_lower(const double* g, size_t n, double* b) {
    for (size_t k = n; k-- > 0;)
        for (size_t i = k + 1; i < n; ++i) b[k] += g[i * n + k] * b[i];
}

}  // namespace

BlockElimination::BlockElimination(const SparseChain& t, int nt)
    : nt_(nt), g_(static_cast<size_t>(nt) * static_cast<size_t>(nt), 0.0), pivot_(static_cast<size_t>(nt), 0.0) {
    const auto n = static_cast<size_t>(nt);
    std::vector<double> leave(n, 0.0);
    for (int j = 0; j < t.n; ++j)
        for (std::int64_t k = t.rowptr[j]; k < t.rowptr[j + 1]; ++k) {
            const int i = t.colind[k];
            if (i >= nt) continue;
            if (j < nt) g_[static_cast<size_t>(i) * n + static_cast<size_t>(j)] += t.q[k];
            else leave[static_cast<size_t>(i)] += t.q[k];
        }
    eliminate_dense(g_.data(), static_cast<Eigen::Index>(n), leave.data(), pivot_.data());
}

std::vector<double> BlockElimination::solve(std::vector<double> b) const {
    b.resize(static_cast<size_t>(nt_), 0.0);
    solve_dense(g_.data(), static_cast<size_t>(nt_), pivot_.data(), b.data());
    return b;
}

std::vector<double> BlockElimination::solve_transposed(std::vector<double> b) const {
    const auto n = static_cast<size_t>(nt_);
    b.resize(n, 0.0);
    solve_dense_transposed_upper(g_.data(), n, pivot_.data(), b.data());
    solve_dense_transposed_lower(g_.data(), n, b.data());
    return b;
}

std::optional<SparseBlockElimination> SparseBlockElimination::build(const SparseChain& t, int nt,
                                                                    std::int64_t budget) {
    SparseBlockElimination e;
    e.nt_ = nt;
    e.dense_from_ = nt;
    const auto n = static_cast<size_t>(std::max(nt, 0));
    e.lower_.resize(n);
    e.upper_.resize(n);
    e.pivot_.assign(n, 0.0);
    // row[i]: rates from block state i to block states j != i; col[j]: the
    // rows that have (or had) an entry in column j.
    std::vector<std::unordered_map<int, double>> row(n);
    std::vector<std::vector<int>> col(n);
    std::vector<double> leave(n, 0.0);
    std::int64_t entries = 0, active = 0;  // ever held; held by the rows not yet eliminated
    for (int j = 0; j < t.n; ++j)
        for (std::int64_t k = t.rowptr[j]; k < t.rowptr[j + 1]; ++k) {
            const int i = t.colind[k];
            if (i >= nt || i == j) continue;
            if (j >= nt) {
                leave[static_cast<size_t>(i)] += t.q[k];
                continue;
            }
            auto [it, fresh] = row[static_cast<size_t>(i)].try_emplace(j, 0.0);
            it->second += t.q[k];
            if (fresh) {
                col[static_cast<size_t>(j)].push_back(i);
                ++active;
                if (++entries > budget) return std::nullopt;
            }
        }
    for (int k = 0; k < nt; ++k) {
        const auto ks = static_cast<size_t>(k);
        // Once the rows left are filled to a fifth, they are finished as a
        // dense block: hashing every entry costs more than the zeros.
        const std::int64_t left = nt - k;
        if (left >= kDenseFinish && active * 5 >= left * left) {
            e.dense_from_ = k;
            e.dense_.assign(static_cast<size_t>(left * left), 0.0);
            // Entries left of k are in the columns of states that could not
            // leave, which the sparse elimination leaves out.
            for (int i = k; i < nt; ++i)
                for (auto [j, v] : row[static_cast<size_t>(i)])
                    if (j >= k) e.dense_[static_cast<size_t>((i - k) * left + (j - k))] = v;
            eliminate_dense(e.dense_.data(), left, leave.data() + k, e.pivot_.data() + k);
            break;
        }
        std::vector<std::pair<int, double>>& up = e.upper_[ks];
        double d = leave[ks];
        for (auto [j, v] : row[ks])
            if (j > k) {
                up.emplace_back(j, v);
                d += v;
            }
        e.pivot_[ks] = d;
        if (d > 0.0) {  // a state that cannot leave keeps its value 0
            for (int i : col[ks]) {
                if (i <= k) continue;
                auto& ri = row[static_cast<size_t>(i)];
                auto at = ri.find(k);
                if (at == ri.end()) continue;
                const double f = at->second / d;
                ri.erase(at);
                --active;
                e.lower_[ks].emplace_back(i, f);
                leave[static_cast<size_t>(i)] += f * leave[ks];
                for (auto [j, v] : up) {
                    if (j == i) continue;  // a return to i itself: the pivot leaves it out
                    auto [it, fresh] = ri.try_emplace(j, 0.0);
                    it->second += f * v;
                    if (fresh) {
                        col[static_cast<size_t>(j)].push_back(i);
                        ++active;
                        if (++entries > budget) return std::nullopt;
                    }
                }
            }
        }
        active -= static_cast<std::int64_t>(row[ks].size());
        std::unordered_map<int, double>().swap(row[ks]);
        std::vector<int>().swap(col[ks]);
    }
    return e;
}

std::vector<double> SparseBlockElimination::solve(std::vector<double> b) const {
    const auto n = static_cast<size_t>(nt_), k0 = static_cast<size_t>(dense_from_);
    b.resize(n, 0.0);
    for (size_t k = 0; k < k0; ++k)
        for (auto [i, f] : lower_[k]) b[static_cast<size_t>(i)] += f * b[k];
    solve_dense(dense_.data(), n - k0, pivot_.data() + k0, b.data() + k0);
    for (size_t k = k0; k-- > 0;) {
        double s = b[k];
        for (auto [j, v] : upper_[k]) s += v * b[static_cast<size_t>(j)];
        b[k] = pivot_[k] > 0.0 ? s / pivot_[k] : 0.0;
    }
    return b;
}

std::vector<double> SparseBlockElimination::solve_transposed(std::vector<double> b) const {
    const auto n = static_cast<size_t>(nt_), k0 = static_cast<size_t>(dense_from_);
    b.resize(n, 0.0);
    for (size_t k = 0; k < k0; ++k) {
        b[k] = pivot_[k] > 0.0 ? b[k] / pivot_[k] : 0.0;
        for (auto [j, v] : upper_[k]) b[static_cast<size_t>(j)] += v * b[k];
    }
    solve_dense_transposed_upper(dense_.data(), n - k0, pivot_.data() + k0, b.data() + k0);
    solve_dense_transposed_lower(dense_.data(), n - k0, b.data() + k0);
    for (size_t k = k0; k-- > 0;)
        for (auto [i, f] : lower_[k]) b[k] += f * b[static_cast<size_t>(i)];
    return b;
}

// ---------------------------------------------------------------------------
// mttfsor, mttfygauss

int mttfsor(std::span<const std::int64_t> ip, std::span<const int> ja, std::span<const double> a,
            std::span<const int> setC, int nstates, std::vector<double>& sol, std::span<const double> rhs,
            double precision, bool /*verbose*/, bool NewMeth) {
    sol.resize(static_cast<size_t>(nstates), 0.0);
    std::vector<double> d(static_cast<size_t>(nstates), NewMeth ? -1.0 : 0.0);
    if (!NewMeth)
        for (int i = 0; i < nstates; ++i)
            for (std::int64_t k = ip[i]; k < ip[i + 1]; ++k) d[ja[k]] -= a[k];
    std::vector<double> old(sol);
    Relaxation rel;
    rel.d2 = 1e4;
    rel.d3 = 1e3;
    int next_adapt = 10;
    const int limit = 3000000;
    int iter = 0;
    while (iter < limit) {
        ++iter;
        double delta = 0.0, largest = 0.0;
        for (int i = 0; i < nstates; ++i) {
            if (setC[i] != 1 || d[i] == 0.0) continue;
            double s = -rhs[i];
            for (std::int64_t k = ip[i]; k < ip[i + 1]; ++k)
                if (setC[ja[k]] == 1) s -= a[k] * sol[ja[k]];
            s -= d[i] * sol[i];
            old[i] = sol[i];
            if (std::fabs(s) >= 1e-30) sol[i] += rel.omega * s / d[i];
            if (std::fabs(sol[i]) < 1e-30) sol[i] = 0.0;
            delta = std::max(delta, std::fabs(sol[i] - old[i]));
            largest = std::max(largest, std::fabs(sol[i]));
        }
        double change = delta / std::max(1e-25, largest);
        if (change <= precision) break;
        rel.acc += change;
        if (iter == next_adapt) {
            rel.adapt();
            next_adapt += 10;
            if (rel.step < 1e-7) next_adapt = 3000000;
        }
        rel.clamp(0.9, 2.0 - rel.step);
    }
    return iter;
}

void mttfygauss(std::span<const double> h, int nstates, std::vector<double>& sol, std::span<const double> rhs,
                bool /*verbose*/) {
    const int n = nstates;
    std::vector<double> m(static_cast<size_t>(n) * n);
    std::vector<double> y(rhs.begin(), rhs.begin() + n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) m[i * n + j] = (i == j ? 1.0 : 0.0) - h[i * n + j];
    for (int p = 0; p < n; ++p) {
        double pivot = m[p * n + p];
        if (pivot == 0.0) continue;
        for (int i = p + 1; i < n; ++i) {
            double f = m[i * n + p];
            if (f == 0.0) continue;
            f /= pivot;
            for (int j = p; j < n; ++j) m[i * n + j] -= f * m[p * n + j];
            y[i] -= f * y[p];
        }
    }
    sol.assign(static_cast<size_t>(n), 0.0);
    for (int i = n - 1; i >= 0; --i) {
        double s = y[i];
        for (int j = i + 1; j < n; ++j) s -= m[i * n + j] * sol[j];
        sol[i] = m[i * n + i] != 0.0 ? s / m[i * n + i] : 0.0;
    }
}

// ---------------------------------------------------------------------------
// Vector helpers

bool Normalize(std::span<double> v, int first, int last, double sum, std::span<const double> w) {
    double s = 0.0;
    for (int i = first; i <= last; ++i) s += v[i];
    double factor;
    if (sum != 0.0) {
        if (s <= 0.0 || s > 1e20 || !std::isfinite(s)) return false;
        factor = sum / s;
    } else {
        factor = s;
    }
    if (!w.empty())
        for (int i = first; i <= last; ++i) v[i] -= factor * w[i];
    else
        for (int i = first; i <= last; ++i) v[i] *= factor;
    return true;
}

double VectorNormInfinity(std::span<const double> v, int first, int last) {
    double m = 0.0;
    for (int i = first; i <= last; ++i) m = std::max(m, std::fabs(v[i]));
    return m;
}

double VectorNormOne(std::span<const double> v, int first, int last) {
    double s = 0.0;
    for (int i = first; i <= last; ++i) s += std::fabs(v[i]);
    return s;
}

double VectorAbsoluteError(std::span<const double> a, std::span<const double> b, int first, int last) {
    double m = 0.0;
    for (int i = first; i <= last; ++i) m = std::max(m, std::fabs(a[i] - b[i]));
    return m;
}

double VectorRelativeError(std::span<const double> a, std::span<const double> b, int first, int last) {
    double m = 0.0;
    for (int i = first; i <= last; ++i) {
        double scale = std::max(std::fabs(a[i]), std::fabs(b[i]));
        if (scale > 0.0) m = std::max(m, std::fabs(a[i] - b[i]) / scale);
    }
    return m;
}

namespace {
void multiply(const rpci& m, std::span<const double> x, std::span<double> y, bool add) {
    if (!add)
        for (int i = m.first; i <= m.last; ++i) y[i] = 0.0;
    for (int i = m.first; i <= m.last; ++i)
        if (i < static_cast<int>(m.diag.size())) y[i] += m.diag[i] * x[i];
    for (int c = m.first; c <= m.last; ++c)
        for (std::int64_t k = m.IP[c]; k < m.IP[c + 1]; ++k) {
            int row = m.order == MAT_ROW2COL ? c : m.JA[k];
            int col = m.order == MAT_ROW2COL ? m.JA[k] : c;
            if (row < m.first || row > m.last || col < m.first || col > m.last) continue;
            y[row] += m.A[k] * x[col];
        }
}
}  // namespace

void MatrixVectorMultiply(const rpci& m, std::span<const double> x, std::span<double> y) { multiply(m, x, y, false); }
void AddMatrixVectorMultiply(const rpci& m, std::span<const double> x, std::span<double> y) {
    multiply(m, x, y, true);
}

double VectorVectorMultiply(std::span<const double> a, std::span<const double> b, int first, int last) {
    double s = 0.0;
    for (int i = first; i <= last; ++i) s += a[i] * b[i];
    return s;
}

void VectorCopy(std::span<const double> from, std::span<double> to, int first, int last) {
    for (int i = first; i <= last; ++i) to[i] = from[i];
}

void VectorAdd(std::span<double> a, std::span<const double> b, int first, int last) {
    for (int i = first; i <= last; ++i) a[i] += b[i];
}

void InitVector(initial_type how, std::vector<double>& v, int first, int last) {
    if (static_cast<int>(v.size()) < last + 1) v.resize(static_cast<size_t>(last) + 1, 0.0);
    if (first > last) return;
    double value = how == INITIAL_UNIF ? 1.0 / (last - first + 1) : 0.0;
    for (int i = first; i <= last; ++i) v[i] = value;
    if (how == INITIAL_ONE) v[first] = 1.0;
}

}  // namespace corvel
