// Transient probabilities by uniformization: π(t) = Σ_k w_k·π_0·P^k with
// P = I + Q/Λ and Poisson weights w_k = e^(−Λt)(Λt)^k/k!. The truncation
// points come from the precision alone (the discarded Poisson mass is at
// most precision/2 on each side); the weights are computed in the log domain
// so that large Λt neither underflows nor overflows. One pass over the arcs
// per step; five vectors of the number of states.

#include <algorithm>
#include <cmath>

#include "interp/interpreter.h"
#include "statespace/markov_solve.h"

namespace corvel {

namespace {

int reset_interval(long k) {
    if (k <= 99) return 5;
    if (k <= 499) return 10;
    if (k <= 999) return 20;
    return 50;
}

// Steady when every entry that matters changed by less than eps, relatively.
bool check_sstate(const std::vector<double>& a, const std::vector<double>& b, double eps) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] >= eps || b[i] > eps) {
            if (a[i] <= 0.0 || std::fabs(a[i] - b[i]) / a[i] >= eps) return false;
        }
    }
    return true;
}

}  // namespace

UniformStats uniform(Interpreter& in, const ChainModel& m, std::vector<double>& prob, std::vector<double>* cum,
                     double precision, double time) {
    UniformStats st;
    const size_t n = static_cast<size_t>(m.num_states());
    const bool verbose = in.settings.verbose;
    if (cum) cum->assign(n, 0.0);
    if (std::fabs(time) < in.settings.tol.epsilon) return st;
    // Outflow of each state over the arcs (zero-rate arcs do nothing).
    std::vector<double> d(n, 0.0);
    for (const ChainArc& a : m.arcs)
        if (a.rate > 0.0) d[static_cast<size_t>(a.from)] += a.rate;
    double dmax = 0.0;
    for (double x : d) dmax = std::max(dmax, x);
    if (dmax == 0.0) {
        if (cum)
            for (size_t i = 0; i < n; ++i) (*cum)[i] = time * prob[i];
        return st;
    }
    const double Lambda = 1.05 * dmax;
    const double lt = Lambda * time;
    const double log_lt = std::log(lt);
    for (double& x : d) x = 1.0 - x / Lambda;  // diagonal of P

    std::vector<double> pi = prob, next(n), result(n, 0.0), check = prob, acc;
    if (cum) acc.assign(n, 0.0);
    auto step = [&]() {
        for (size_t j = 0; j < n; ++j) {
            double s = pi[j] * d[j];
            for (std::uint32_t e : m.in_arcs(static_cast<int>(j))) {
                const ChainArc& a = m.arcs[e];
                if (a.rate > 0.0) s += pi[static_cast<size_t>(a.from)] * (a.rate / Lambda);
            }
            next[j] = s;
        }
        pi.swap(next);
    };
    auto weight = [&](long k) { return std::exp(-lt + static_cast<double>(k) * log_lt - std::lgamma(static_cast<double>(k) + 1.0)); };

    // Left truncation point: Poisson mass below L at most precision/2.
    // The search starts where the mass below is far under the precision (a
    // normal bound with a margin), so that huge Λt costs O(√(Λt)) here.
    double left_mass = 0.0;
    const double z = std::sqrt(2.0 * std::log(2.0 / precision)) + 4.0;
    long L = lt > 100.0 ? static_cast<long>(std::max(0.0, lt - z * std::sqrt(lt) - 10.0)) : 0;
    for (;; ++L) {
        double w = weight(L);
        if (left_mass + w >= precision / 2) break;
        left_mass += w;
    }
    // Right truncation point: mass above R at most precision/2 (or the whole
    // precision when L = 0).
    const double eps_r = L == 0 ? precision : precision / 2;
    double used = left_mass;
    long R = L;
    const long guard = static_cast<long>(lt + 40.0 * std::sqrt(lt) + 100.0);
    for (; R < guard; ++R) {
        used += weight(R);
        if (1.0 - used <= eps_r) break;
    }
    if (verbose) in.out.printf("uniformization: l = %ld, k = %ld\n", L, R);

    // Cumulative: ∫π = (1/Λ)·Σ_k π_k·P(N > k); extend while the remaining
    // part (Λt − Σ tail)/Λ is above the precision.
    double tail = 1.0, total = 0.0;
    const double cum_target = precision * std::max(1.0, time);
    bool prob_done = false, cum_done = cum == nullptr;
    double mass = 0.0;  // weights summed into result
    long interval = 50, since_check = 0;
    for (long k = 0;; ++k) {
        double w = weight(k);
        if (!prob_done && k >= L) {
            for (size_t i = 0; i < n; ++i) result[i] += w * pi[i];
            mass += w;
            if (k >= R) prob_done = true;
        }
        if (!cum_done) {
            tail -= w;
            if (tail < 0.0) tail = 0.0;
            for (size_t i = 0; i < n; ++i) acc[i] += tail * pi[i];
            total += tail;
            if ((lt - total) / Lambda <= cum_target || (k > guard)) cum_done = true;
        }
        if (prob_done && cum_done) {
            st.steps = k;
            break;
        }
        step();
        if (++since_check >= interval) {
            since_check = 0;
            interval = reset_interval(k);
            if (check_sstate(pi, check, precision / 4)) {
                st.steady = true;
                st.steps = k + 1;
                if (!prob_done) {
                    if (k + 1 < L) {
                        if (verbose) in.out.printf("uniformization: steady state reached before left truncation at l = %ld\n", k + 1);
                        result = pi;
                    } else {
                        if (verbose) in.out.printf("uniformization: steady state reached before right truncation at k = %ld\n", k + 1);
                        for (size_t i = 0; i < n; ++i) result[i] += (1.0 - mass - left_mass) * pi[i];
                    }
                    prob_done = true;
                }
                if (!cum_done) {
                    if (verbose) in.out.printf("SS reached before RTP in Cumulative Unif.  %ld\n", k + 1);
                    double rest = time - total / Lambda;
                    for (size_t i = 0; i < n; ++i) (*cum)[i] = acc[i] / Lambda + rest * pi[i];
                    cum_done = true;
                    cum = nullptr;  // already stored
                }
                break;
            }
            check = pi;
        }
    }
    if (cum) {
        double rest = std::max(0.0, time - total / Lambda);
        for (size_t i = 0; i < n; ++i) (*cum)[i] = acc[i] / Lambda + rest * pi[i];
    }
    st.left = L;
    st.right = R;
    prob.swap(result);
    return st;
}

void m_transient(Interpreter& in, SystemRecord& sys, double time) {
    ChainModel& m = chain_of(sys);
    if (time < 0.0) in.err.error(211, kFatal, sys.name, true);
    m.tprob = m.start_prob;
    uniform(in, m, m.tprob, &m.tcumprob, in.settings.tol.u_epsilon, time);
}

}  // namespace corvel
