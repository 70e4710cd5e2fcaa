#pragma once
// Symbolic solution of Markov chains with absorbing states: the probability
// of every state as an exponomial in t, from the eigenvalues of the block of
// transient states.
//
// The probabilities p(t) = p0·e^(A·t) have Laplace transforms
// x(s) = p0·(sI − A)^(-1), rational in s with poles at the eigenvalues of the
// transient block and at 0 (absorbing states). Both variants find, for each
// state, the partial-fraction expansion of x_j(s) over the merged eigenvalues
//     x_j(s) = Σ_k Σ_{r=1..m_k} c_{j,k,r} / (s − λ_k)^r,
// which is the closed form Σ c·t^(r−1)/(r−1)!·e^(λ_k·t). A block without
// absorbing positions (a closed, irreducible chain) has no pole appended:
// its own eigenvalue of least modulus is exactly 0, the pole of the
// steady-state probabilities. The expansions are found:
//   - the old variant, once per start state, by Cramer's rule (the matrix
//     sI − A with the state's row replaced by the start vector) evaluated at
//     each eigenvalue, and for repeated eigenvalues by contour integrals of
//     the same ratio around the eigenvalue;
//   - the new variant, once for the whole start vector, by evaluating x(s)
//     at as many points as there are poles (solves with the Hessenberg form)
//     and solving the interpolation system.
// Every expansion is checked a posteriori against the transient solution at
// a few times spread over the chain's time scales; the discrepancy is the
// coefficients' relative error estimate, so that a nearly singular case is
// reported instead of printed as if exact.

#include <complex>
#include <functional>
#include <memory>
#include <vector>

#include <Eigen/Dense>

#include "expo/exponomial.h"
#include "statespace/chain.h"
#include "statespace/ph_eigen.h"
#include "symbols/output.h"
#include "symbols/settings.h"

namespace corvel {

class AnalysisContext;
struct SystemRecord;

// The generator over the reached states: positions 0..nt−1 transient, the
// rest absorbing (rows zero). Rows are from-states.
struct PhBlock {
    Eigen::MatrixXd a;
    int nt = 0;
    std::vector<int> state;  // chain state of each position
    int size() const { return static_cast<int>(a.rows()); }
};

// Entry e of an expansion: the term c/(s − λ_k)^r.
struct PhEntry {
    int eig = 0;
    int order = 1;
};

struct PhExpansion {
    std::vector<MergedEigen> eig;  // the transient block's eigenvalues and 0, merged
    std::vector<PhEntry> entries;  // one per pole counted with multiplicity
    // positions × entries, stored by rows: each position's closed form is
    // read out entry by entry.
    Eigen::Matrix<cplx, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> coef;
    std::vector<double> error;     // per position: relative error estimate of its coefficients
    double value_error = 0.0;      // the largest discrepancy of a probability at the check times
    double rcond = 1.0;            // new variant: reciprocal condition of the interpolation matrix
    bool ok = false;
    bool eigen_failed = false;
};

// Where the NOTE lines and traces go.
struct PhTrace {
    Output* out = nullptr;
    bool verbose = false;
    bool debug = false;
};

// p(t) = p0·e^(A·t) by uniformization of a short step and repeated
// squaring: every matrix involved is non-negative, so nothing cancels and
// each entry keeps its relative accuracy. The number of squarings goes to
// *squarings when asked.
Eigen::VectorXd ph_transient(const PhBlock& b, const Eigen::VectorXd& p0, double t, int* squarings = nullptr);

// x(s) = p0·(sI − A)^(-1) for every position, by a dense complex solve.
Eigen::VectorXcd ph_laplace(const PhBlock& b, const Eigen::VectorXd& p0, cplx s);

// The old variant for the unit start vector at position `start` (transient).
PhExpansion ph_old_expansion(const PhBlock& b, int start, EigenRoutine routine, const Tolerances& tol,
                             const PhTrace& trace);
// The new variant for the start vector p0 (by position).
PhExpansion ph_new_expansion(const PhBlock& b, const Eigen::VectorXd& p0, bool voronoi, const Tolerances& tol,
                             const PhTrace& trace);

// The dense eigen-decomposition route, for blocks too large for the two
// variants: A_TT = V·Λ·V^(-1) from the real Schur form, so that the closed
// form of transient position j is Σ_k (p0·V)_k·(V^(-1))_kj·e^(λ_k·t), and
// that of absorbing position a adds the integral of the flow into it, with
// its limit from the fundamental matrix. The cost is that of the
// decomposition; the check uses the transient solution by uniformization
// at the times within reach and the fundamental matrix for the integrals.
PhExpansion ph_dense_expansion(const PhBlock& b, const Eigen::VectorXd& p0, const PhTrace& trace);

// Chains of more states than this take the dense route whatever variant
// the settings select.
inline constexpr int kMaxVariantPositions = 50;

// A power of 2 near the block's fastest total rate (1 for an empty block):
// the time unit in which its rates are of order 1.
double ph_rate_scale(const PhBlock& b);
// Takes an expansion found for the block divided by sigma back to the time
// unit of the block: poles times sigma, coefficients of t^k times sigma^k.
void ph_unscale(PhExpansion& x, double sigma);

// The check of an expansion: its values at t = 0 and at times spread over
// the chain's time scales against a reference transient solution
// (`reference(times, p)` fills p[i] = p0·e^(A·times[i]), left empty for a
// time beyond its reach: the times come together so that one pass can serve
// them all). The largest discrepancy, relative to the largest magnitude the
// terms reach, becomes each position's error estimate.
using PhReference = std::function<void(const std::vector<double>&, std::vector<Eigen::VectorXd>&)>;
void ph_check_expansion(const PhBlock& b, const Eigen::VectorXd& p0, PhExpansion& x, const PhReference& reference);

// Adds `scale` times the closed form of position `pos` to dst and returns
// scale times its limit for t → ∞. Coefficient parts below `zero` become 0.
double ph_add_terms(const PhExpansion& x, int pos, double scale, Exponomial& dst, const Tolerances& tol,
                    double zero);

// ---- On a chain

// Reached states from the given start states over arcs of rate >= epsilon:
// transient positions in search order, then the absorbing ones in discovery
// order; rates divided by the from-state's reward when computing rewards.
PhBlock ph_block(const ChainModel& m, const std::vector<int>& starts, bool computing_reward, double epsilon);

// The symbolic solution into dists/prob of the states marked in need_node,
// by the variant the settings select. Error 115 when the eigenvalues cannot
// all be found.
void analyze_ph_markov(AnalysisContext& in, SystemRecord& sys, bool computing_reward);

// The whole symbolic request of a phase-type chain (rates bound, start
// probabilities checked): solves the states that still need a closed form
// and makes s_dist the sum of the absorbing states' closed forms when
// `need_overall`.
void solve_ph_chain(AnalysisContext& in, SystemRecord& sys, bool computing_reward, bool need_overall);

}  // namespace corvel
