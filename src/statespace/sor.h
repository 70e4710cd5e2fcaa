#pragma once
// Steady-state and linear-system solvers by successive over-relaxation, shared
// by every model kind that needs them: irreducible Markov chains, the embedded
// chains of semi-Markov chains and regenerative processes, the routing chains
// of queueing networks, the reachability graphs of Petri nets and the mean
// time to absorption of reward nets.
//
// Interface in brief (all indices 0-based):
//
//   SparseChain m = setupsp(n, arcs, count, arc_at);   // once per analysis
//   std::vector<double> x;                              // receives pi
//   SorResult r = sor(m, 1e-7, x, io);                  // Q^T pi = 0, sum 1
//
//   rpci a;  (row- or column-compressed matrix, explicit diagonal)
//   double omega = GenSor(a, x, b, r, iter, prec, method, normethod, 1.0, io);
//
// `setupsp` stores the transposed generator without its diagonal: row i holds
// the arcs entering state i (column = from-state, value = rate or branch
// probability), each row sorted by column. `sor` derives the diagonal as the
// negative column sums (total outflow of each state). A state without outflow
// makes the system singular for this method; callers check with
// `state_without_outflow` first (chains report error 114) — `sor` leaves such
// a state's value unchanged rather than dividing by zero.
//
// Storage is contiguous: one pass over the arcs per sweep, no allocation in
// the sweep, no per-element records.

#include <cstdint>
#include <optional>
#include <utility>
#include <span>
#include <string>
#include <vector>

#include "expo/guarded.h"
#include "symbols/settings.h"

namespace corvel {

class ErrorReporter;
class Output;
class AnalysisContext;

// ---------------------------------------------------------------------------
// Where the solvers' reports go. Every pointer may be null (unit tests): the
// report is then dropped (warnings with a null `warn` go to standard error).

struct SolverIo {
    ErrorReporter* err = nullptr;  // numbered messages (139 from sor)
    Output* out = nullptr;         // verbose and debug traces, GenSor's summary lines
    std::string* warn = nullptr;   // GenSor's WARNING/INFORMATION lines; null: standard error
    bool verbose = false;
    bool debug = false;            // the "sor" debug switch
    double epsilon = 1e-11;        // the basic tolerance (clamp of omega in sor)
    SteadyMethod method = SteadyMethod::Sor;  // the method of steady_iterate
    TrustPolicy policy;            // when steady_state takes the stable route or flags the result
};

// The interpreter's reporter, output, verbose flag, sor debug switch, basic
// tolerance and steady-state method.
SolverIo solver_io(AnalysisContext& in);

// ---------------------------------------------------------------------------
// The compressed chain of `sor`.

struct SparseChain {
    int n = 0;
    std::vector<std::int64_t> rowptr;  // n + 1 entries
    std::vector<int> colind;           // from-state of each stored arc
    std::vector<double> q;             // its rate (or branch probability)

    std::int64_t nonzeros() const { return rowptr.empty() ? 0 : rowptr.back(); }
};

// One arc handed to setupsp.
struct SparseArc {
    int from = -1, to = -1;
    double value = 0.0;
};

// Builds the compressed rows from `count` arcs; `arc_at(k)` yields arc k as a
// SparseArc. Arcs of value 0 are left out (an arc with rate 0 is ignored by
// every solver). An index outside 0..n-1 is internal error 186 ("array colind,
// max %d, index %d") through `err` when given, else the arc is dropped.
// Two counting passes and one scatter: O(n + arcs), rows come out sorted by
// column without a sort.
template <class ArcAt>
SparseChain setupsp(int n, std::int64_t count, ArcAt&& arc_at, ErrorReporter* err = nullptr);

// First state whose column sum (total outflow) is zero, or -1.
int state_without_outflow(const SparseChain& m);

struct SorResult {
    int iterations = 0;        // sweeps done
    bool converged = false;    // false: message 139 was reported
    double omega = 1.0;        // final relaxation factor
    double last_change = 0.0;  // last relative change (max |dx| / max x): the error estimate
    std::int64_t products = 0; // off-diagonal multiplications done (sweeps x nonzeros)
    double bytes_per_arc = 0;  // matrix bytes streamed per arc in one sweep (0: no sweeps)
};

// Solves Q^T x = 0, sum x = 1 with the adaptive relaxation schedule, the
// fallbacks to Gauss-Seidel (omega 1.0) and under-relaxation (0.98) after 3000
// and 6000 sweeps, and message 139 after 12000. x is resized to n and always
// returns normalized. Verbose and debug traces go to io.out.
// Each sweep runs over the states in index order; the sweeps read the
// compact copy of the chain (sweep_matrix.h).
SorResult sor(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io);

// Plain Gauss-Seidel: the sweeps, the convergence test and the zero clamps of
// `sor` with omega 1 throughout, at most 12000 sweeps, then message 139.
// Verbose: "max iterations: 12000", "Gauss-Seidel converged after %d iterations".
SorResult gauss_seidel(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io);

// Preconditioned BiCGSTAB (krylov.cpp) on Q^T x = 0 with the last equation
// replaced by sum x = 1; incomplete LU without fill as the preconditioner,
// the diagonal (Jacobi) when a pivot vanishes. It stops when the relative
// residual reaches `tolerance`, then checks the answer by the test of `sor`:
// one Gauss-Seidel step from it may change no component by more than
// `tolerance` times the largest. A failed check tightens the residual
// target (twice); when it still fails, `sor` solves the chain instead.
// `iterations` counts BiCGSTAB iterations. Verbose: "BiCGSTAB with %s
// converged after %d iterations" (the preconditioner's name).
SorResult bicgstab_steady_state(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io);

// The method io.method names: sor, gauss_seidel or bicgstab_steady_state.
SorResult steady_iterate(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io);

// Largest relative imbalance of a state: |inflow - outflow| / max(inflow,
// outflow) over the states, with inflow = sum of q x over the state's row and
// outflow = its total outflow times its value. Both sides are sums of
// non-negative terms, so a converged answer gives roundoff-level values; a
// large one marks components whose digits the relative-change test of `sor`
// did not control (stiff chains whose probabilities span many decades).
// States whose value and whose balancing value (inflow / total outflow) are
// both below `floor` are left out, and so are states whose flows lie in the
// range of gradual underflow, where doubles no longer carry relative digits.
double balance_error(const SparseChain& m, const std::vector<double>& x, double floor = 0.0);

// Steady state by the Grassmann-Taksar-Heyman elimination on a dense copy:
// no subtractions, so every component keeps its relative accuracy whatever
// the spread of the rates. O(n^3): only for small chains.
void gth_steady_state(const SparseChain& m, std::vector<double>& x);

// Chains up to this size have GTH as their stable route.
constexpr int kGthLimit = 1000;

// The same elimination on the sparse rows, in state order from the last
// state down: exact for any chain, cheap while the fill-in stays small
// (banded, ring-like chains). Gives up (false, x unspecified) at once when
// the arcs take more than half of `budget` entries, and once more than
// `budget` entries would be held.
bool sparse_gth_steady_state(const SparseChain& m, std::vector<double>& x, std::int64_t budget);
// The budget of the stable route of chains beyond kGthLimit: about 60 bytes
// an entry, so the elimination never holds more than a few hundred MB.
constexpr std::int64_t kSparseGthFill = 4'000'000;

struct SteadyStateResult : SorResult {
    double balance = 0.0;      // balance_error of the returned vector
    bool stable_route = false; // the vector came from gth_steady_state
    bool inaccurate = false;   // the estimate could change a printed digit (see `estimate`)
    Guarded estimate;          // value 1 (the probability scale), error = relative balance error
};

// The entry every steady-state caller uses: `steady_iterate`, then the balance check,
// settled with the shared guard (io.policy): the balance error is the
// relative error estimate of the probabilities; beyond the recompute bound a
// chain of at most kGthLimit states is re-solved by GTH, a larger one by the
// sparse elimination when its fill stays within budget; when the estimate is
// still beyond the warning bound `inaccurate` is set and the caller reports
// it (print_trust_warning).
SteadyStateResult steady_state(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io);

// `sor` under the name the regenerative-process solver uses.
inline SorResult MRGP_sor(const SparseChain& m, double tolerance, std::vector<double>& x, const SolverIo& io) {
    return sor(m, tolerance, x, io);
}

// ---------------------------------------------------------------------------
// General sparse solver.

enum MAT_TYPE { MAT_ROW2COL = 0, MAT_COL2ROW = 1 };
enum norm_type { DoNotNormalize = 0, SumToZero = 1, SumToOne = 2 };
enum initial_type { INITIAL_ZERO = 0, INITIAL_ONE = 1, INITIAL_UNIF = 2 };
enum VAL_TYPE { VAL_GASEI = 8, VAL_SSSOR = 9 };

// The matrix m of GenSor, off-diagonal part compressed plus the diagonal.
// MAT_ROW2COL: IP indexes rows and JA holds column indices (A[k] = m[i][JA[k]]
// for IP[i] <= k < IP[i+1]); MAT_COL2ROW: IP indexes columns and JA holds row
// indices (the same matrix stored by columns). Vectors are indexed by the
// absolute index; only first..last (inclusive) take part. IP has last + 2
// entries, diag last + 1. A stored entry on the diagonal is added to diag.
struct rpci {
    MAT_TYPE order = MAT_ROW2COL;
    std::int64_t entries = 0;
    int first = 0, last = -1;
    std::vector<std::int64_t> IP;
    std::vector<int> JA;
    std::vector<double> A;
    std::vector<double> diag;
};

// Solves m x = b over first..last by Gauss-Seidel (VAL_GASEI) or SOR
// (VAL_SSSOR); b null means a zero right-hand side. With DoNotNormalize a
// non-null r is a mask (rows and columns i with r[i] == 0 are left out); with
// SumToZero r is the weight vector (required: InternalAssert otherwise).
// x holds the initial iterate (sized to last + 1; an empty x starts uniform).
// iter: in the sweep limit per phase, out the sweeps done; prec: in the
// tolerance on the relative change, out the error reached; method: in/out,
// the solver falls back SOR -> Gauss-Seidel -> under-relaxation. The relaxation
// factor adapts only for SOR started with omega == 1.0. Returns the final
// relaxation factor. Warnings go to io.warn, the four closing lines to io.out.
double GenSor(const rpci& m, std::vector<double>& x, const std::vector<double>* b,
              const std::vector<double>* r, int& iter, double& prec, int& method, norm_type normethod,
              double omega, const SolverIo& io);

// ---------------------------------------------------------------------------
// Linear systems of a generator's transient block.
//
// States 0..nt-1 of `t` (a setupsp chain: row = target state, column =
// from-state) form the block; arcs into states nt and beyond leave it, and
// stored entries whose from-state lies outside the block are ignored.
// `outflow[i]` is the total rate out of block state i, the arcs that leave
// the block included. With A = -Q_TT (nonsingular when every block state can
// leave the block) the solver finds
//   backward:  A x = b   (b = 1: x_i is the mean time to leave the block from i)
//   forward:   x A = b   (b = a starting vector: x_i is the mean time spent in i)
// by GenSor, SOR with its fallbacks, to relative change `prec`. Warnings and
// the closing summary go where `io` sends them. `residual` is the largest
// component of |b - A x| (or |b - x A|) plus the rounding of that product:
// with ||A^-1|| it bounds the error of x.

struct BlockSolution {
    std::vector<double> x;  // nt values
    double change = 0.0;    // the relative change GenSor reached
    double residual = 0.0;
    int iterations = 0;
};
BlockSolution solve_transient_block(const SparseChain& t, int nt, std::span<const double> outflow,
                                    std::span<const double> b, bool backward, const SolverIo& io,
                                    double prec = 1e-9, int iter = 3000000);

// The backward systems A x = b of the same block by elimination on a dense
// copy, without subtractions: each pivot is the rate of leaving the block
// plus the remaining off-diagonal rates of its row, as in GTH, so with b >= 0
// every component keeps its relative accuracy whatever the spread of the
// rates. The factors are kept, so a sequence of right-hand sides costs
// O(nt^2) each after the O(nt^3) elimination: blocks up to kGthLimit states.
class BlockElimination {
public:
    BlockElimination(const SparseChain& t, int nt);
    std::vector<double> solve(std::vector<double> b) const;
    // The forward system x A = b from the same factors; with b >= 0 it adds
    // non-negative terms only, as `solve` does.
    std::vector<double> solve_transposed(std::vector<double> b) const;

private:
    int nt_;
    std::vector<double> g_;  // row-major: below the diagonal the multipliers, above it the rates
    std::vector<double> pivot_;
};

// The same elimination on sparse rows, for blocks beyond kGthLimit whose
// fill stays small (banded, path-like chains: O(nt · bandwidth²)), the rows
// left finished densely once they fill up. `build` gives up (nullopt) once
// more than `budget` entries would be held.
class SparseBlockElimination {
public:
    static std::optional<SparseBlockElimination> build(const SparseChain& t, int nt, std::int64_t budget);
    std::vector<double> solve(std::vector<double> b) const;
    std::vector<double> solve_transposed(std::vector<double> b) const;  // x A = b

private:
    // The rows left are finished densely from this many on (when full enough).
    static constexpr int kDenseFinish = 64;
    int nt_ = 0;
    // lower_[k]: the multipliers (i, f) of the rows i > k that state k was
    // eliminated from; upper_[k]: the rates (j, v), j > k, left in row k;
    // both for k < dense_from_. The states from dense_from_ on were
    // eliminated as a dense block, dense_ (by rows, as BlockElimination).
    std::vector<std::vector<std::pair<int, double>>> lower_, upper_;
    std::vector<double> pivot_;
    int dense_from_ = 0;
    std::vector<double> dense_;
};

// ---------------------------------------------------------------------------
// Linear systems of the fast mean-time-to-failure computation.

// Solves sum_j a_ij sol_j + d_i sol_i = -rhs_i over the states with setC[i]
// == 1 (others are left out, rows and columns), row-compressed a (ip has
// nstates + 1 entries), d_i = -(sum of column i of a), or -1 with NewMeth.
// At most 3,000,000 sweeps, tolerance `precision` on the relative change.
// Returns the sweeps done.
int mttfsor(std::span<const std::int64_t> ip, std::span<const int> ja, std::span<const double> a,
            std::span<const int> setC, int nstates, std::vector<double>& sol, std::span<const double> rhs,
            double precision, bool verbose, bool NewMeth);

// Solves (I - h) sol = rhs for a small dense h (row-major, nstates x nstates)
// by elimination without pivoting; rows whose entry in the pivot column is
// exactly 0 are skipped.
void mttfygauss(std::span<const double> h, int nstates, std::vector<double>& sol, std::span<const double> rhs,
                bool verbose);

// ---------------------------------------------------------------------------
// Vector helpers; index ranges are inclusive.

// Scales v[first..last] to sum `sum` (fails when the sum is <= 0 or > 1e20),
// or with sum 0 uses the sum itself as the factor; with w, subtracts factor*w
// instead of scaling.
bool Normalize(std::span<double> v, int first, int last, double sum, std::span<const double> w = {});
double VectorNormInfinity(std::span<const double> v, int first, int last);
double VectorNormOne(std::span<const double> v, int first, int last);
double VectorAbsoluteError(std::span<const double> a, std::span<const double> b, int first, int last);
double VectorRelativeError(std::span<const double> a, std::span<const double> b, int first, int last);
// y = m x and y += m x (off-diagonal part plus diagonal), over first..last.
void MatrixVectorMultiply(const rpci& m, std::span<const double> x, std::span<double> y);
void AddMatrixVectorMultiply(const rpci& m, std::span<const double> x, std::span<double> y);
double VectorVectorMultiply(std::span<const double> a, std::span<const double> b, int first, int last);
void VectorCopy(std::span<const double> from, std::span<double> to, int first, int last);
// a += b
void VectorAdd(std::span<double> a, std::span<const double> b, int first, int last);
// Sizes v to last + 1 when it is smaller, then fills first..last.
void InitVector(initial_type how, std::vector<double>& v, int first, int last);

// ---------------------------------------------------------------------------

namespace sor_detail {
// Error 186 for an arc index outside the chain (internal error: ends the run).
void report_bad_index(ErrorReporter* err, int n, std::int64_t index);
}  // namespace sor_detail

template <class ArcAt>
SparseChain setupsp(int n, std::int64_t count, ArcAt&& arc_at, ErrorReporter* err) {
    using sor_detail::report_bad_index;
    SparseChain m;
    m.n = n;
    m.rowptr.assign(static_cast<size_t>(n) + 1, 0);
    // First pass: arcs per from-state (to scatter them by from-state order),
    // and per to-state (the row lengths).
    std::vector<std::int64_t> by_from(static_cast<size_t>(n) + 1, 0);
    std::int64_t kept = 0;
    for (std::int64_t k = 0; k < count; ++k) {
        SparseArc a = arc_at(k);
        if (a.value == 0.0) continue;
        if (a.from < 0 || a.from >= n || a.to < 0 || a.to >= n) {
            report_bad_index(err, n, static_cast<std::int64_t>(a.to) * n + a.from);
            continue;
        }
        ++by_from[static_cast<size_t>(a.from) + 1];
        ++m.rowptr[static_cast<size_t>(a.to) + 1];
        ++kept;
    }
    for (int i = 0; i < n; ++i) {
        by_from[i + 1] += by_from[i];
        m.rowptr[i + 1] += m.rowptr[i];
    }
    // Arcs grouped by from-state (stable), then scattered into their to-rows
    // in from-state order, which leaves every row sorted by column.
    std::vector<int> gto(static_cast<size_t>(kept));
    std::vector<double> gval(static_cast<size_t>(kept));
    {
        std::vector<std::int64_t> fill(by_from.begin(), by_from.end() - 1);
        for (std::int64_t k = 0; k < count; ++k) {
            SparseArc a = arc_at(k);
            if (a.value == 0.0 || a.from < 0 || a.from >= n || a.to < 0 || a.to >= n) continue;
            std::int64_t at = fill[a.from]++;
            gto[at] = a.to;
            gval[at] = a.value;
        }
    }
    m.colind.resize(static_cast<size_t>(kept));
    m.q.resize(static_cast<size_t>(kept));
    std::vector<std::int64_t> fill(m.rowptr.begin(), m.rowptr.end() - 1);
    for (int from = 0; from < n; ++from) {
        for (std::int64_t g = by_from[from]; g < by_from[from + 1]; ++g) {
            std::int64_t at = fill[gto[g]]++;
            m.colind[at] = from;
            m.q[at] = gval[g];
        }
    }
    return m;
}

}  // namespace corvel
